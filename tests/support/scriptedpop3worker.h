#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QStringList>

class QTcpServer;
class QTcpSocket;
class QTimer;

// What the test thread sets up and reads back; every field is guarded by mutex.
struct ScriptedPop3State {
    enum class Action { Reply, ReplyThenClose, Silence };
    struct Step {
        QByteArray expectPrefix;
        QList<QByteArray> replyChunks;
        Action action = Action::Reply;
    };

    mutable QMutex mutex;
    QList<QByteArray> greeting{QByteArrayLiteral("+OK scripted POP3 server ready\r\n")};
    QList<Step> steps;
    qsizetype nextStep = 0;
    QList<QByteArray> defaultReply;
    int chunkDelayMs = 30;
    QList<QByteArray> received;
    QStringList mismatches;
    int connections = 0;
    quint16 port = 0;
};

// Lives in the server's own thread: accepts one connection at a time, answers
// each command line from the script and paces the reply chunks.
class ScriptedPop3Worker final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScriptedPop3Worker)
public:
    explicit ScriptedPop3Worker(ScriptedPop3State *state);
    ~ScriptedPop3Worker() override;

    Q_INVOKABLE bool listen();
    Q_INVOKABLE void shutdown();

Q_SIGNALS:
    void lineReceived();

private:
    struct Outgoing {
        QByteArray chunk;
        bool closeAfter = false;
    };

    void takeNextConnection();
    void onReadyRead();
    void onDisconnected();
    void handleLine(const QByteArray &line);
    void queue(const QList<QByteArray> &chunks, bool closeAfter);
    void sendNext();
    void dropConnection();

    ScriptedPop3State *m_state;
    QTcpServer *m_server = nullptr;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_pacer = nullptr;
    QByteArray m_buffer;
    QList<Outgoing> m_outgoing;
    bool m_silent = false;
    bool m_closing = false;
};
