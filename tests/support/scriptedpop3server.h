#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>

class QThread;
class ScriptedPop3Worker;
struct ScriptedPop3State;

// A fake POP3 server on 127.0.0.1 that answers exactly as the test dictates.
// It runs in a thread of its own, so it keeps serving while the test thread is
// blocked. Every method may be called from the test thread at any time.
//
// One connection is served at a time; a second client waits until the first
// has gone. Each new connection gets the greeting again, but the script goes on
// where the previous connection left it. A silence step lasts until that
// connection closes.
class ScriptedPop3Server final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScriptedPop3Server)
public:
    explicit ScriptedPop3Server(QObject *parent = nullptr);
    ~ScriptedPop3Server() override;

    // Each chunk is written on its own, chunkDelay apart. Empty = never greet.
    void setGreeting(const QList<QByteArray> &chunks);
    void setAcceptButNeverGreet();

    // One step per received command line (CR LF ended), in order. A line that
    // does not start with expectPrefix is recorded in mismatches(); the step is
    // consumed all the same.
    void expect(const QByteArray &expectPrefix, const QList<QByteArray> &replyChunks);
    void expectThenClose(const QByteArray &expectPrefix, const QList<QByteArray> &replyChunks = {});
    void expectThenSilence(const QByteArray &expectPrefix);

    // Reply to lines once the script has run out (empty, the default: stay silent).
    // QUIT is answered "+OK bye" and the connection closed, unless the next
    // step expects QUIT itself.
    void setDefaultReply(const QList<QByteArray> &chunks);
    void setChunkDelay(int ms);

    bool start();
    quint16 port() const;

    QList<QByteArray> receivedLines() const;
    QStringList mismatches() const;
    int connectionCount() const;
    int remainingSteps() const;
    // Waits in an event loop until at least count lines have arrived.
    bool waitForLines(int count, int timeoutMs);

    static QList<QByteArray> splitAt(const QByteArray &data, const QList<int> &positions);
    static QList<QByteArray> chunksOf(const QByteArray &data, int n);

private:
    void addStep(const QByteArray &expectPrefix, const QList<QByteArray> &replyChunks, int action);

    std::unique_ptr<ScriptedPop3State> m_state;
    QThread *m_thread = nullptr;
    ScriptedPop3Worker *m_worker = nullptr;
};
