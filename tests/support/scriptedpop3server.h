#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QThread;
class ScriptedPop3Worker;
struct ScriptedPop3State;

// A fake POP3 server on 127.0.0.1 that answers as the test dictates. It runs
// in a thread of its own, so it keeps serving while the test thread is blocked
// in the control or a scan. Every method may be called from the test thread at
// any time.
//
// Script mode (no mailbox added): one step per command line received, in
// order. One connection is served at a time; a second client waits until the
// first has gone. Each new connection gets the greeting again, but the script
// goes on where the previous connection left it. A silence step lasts until
// that connection closes.
//
//     ScriptedPop3Server server;                               // S: +OK scripted POP3 server ready
//     server.expect("USER joe", {"+OK\r\n"});                  // C: USER joe     S: +OK
//     server.expect("PASS secret", {"+OK\r\n"});               // C: PASS secret  S: +OK
//     server.expect("STAT", {"+OK 1 120\r\n"});                // C: STAT         S: +OK 1 120
//     server.expect("RETR 1", {"+OK\r\nSubject: a\r", "\n\r\n.\r\n"});  // two chunks, chunkDelay apart
//     server.expectThenClose("DELE 1");                        // C: DELE 1       S: (hangs up)
//     QVERIFY(server.start());
//     ... point the control at server.port() and drive it ...
//     QVERIFY(server.mismatches().isEmpty());                  // every line began as expected
//
// Mailbox mode (addMailbox called): the server keeps real mailboxes, answers
// every command from them (deletions become final only when QUIT is answered;
// CAPA and the whole-mailbox UIDL and LIST are refused unless
// setCapabilities() was called), and serves any number of connections at
// once. Its steps are fault steps, added with failAt() or twistAt(): the
// first exchange of that kind in a session of that user misbehaves once, in
// the given way. One row of the fault matrix is:
//
//     server.addMailbox(u"victim"_s, u"vpw"_s, {spam, hello});
//     server.failAt(u"victim"_s, Exchange::Dele, Fault::Err);  // C: DELE 1  S: -ERR injected failure
//     ... scan ...
//     QCOMPARE(server.remainingSteps(), 0);                    // the fault was reached
//     QCOMPARE(server.mailbox(u"victim"_s).size(), 2);         // the refused message stays
class ScriptedPop3Server final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScriptedPop3Server)
public:
    // UidlAll and ListAll are the forms without a number; the second RETR of
    // a message is RetrToFile. A fault at the greeting hits the first
    // connection, whoever logs in.
    enum class Exchange {
        Greeting,
        User,
        Pass,
        Stat,
        Uidl,
        Top,
        List,
        Retr,
        RetrToFile,
        Dele,
        Quit,
        Capa,
        UidlAll,
        ListAll,
        Count
    };
    // Endless: the reply never ends (a line without CR LF, or a multi-line
    // reply without its terminator), sent as fast as the client takes it.
    // (The twists below are not faults of a reply's form and are kept out of
    // this list, which the fault matrix walks.)
    enum class Fault { None, Close, Silence, Err, NoOk, NoCrLf, LfOnly, Nul, HugeLine, Endless, Count };

    // A server out of step with its client. ExtraReply: the whole reply goes
    // out twice. Crosswise: the replies for message n and n + 1 of that
    // command are swapped (UIDL, LIST, TOP, RETR; the n + 1 one is given
    // first, then n's when n + 1 is asked for).
    enum class Twist { None, ExtraReply, Crosswise };

    explicit ScriptedPop3Server(QObject *parent = nullptr);
    ~ScriptedPop3Server() override;

    // Each chunk is written on its own, chunkDelay apart. Empty = never greet.
    void setGreeting(const QList<QByteArray> &chunks);
    void setAcceptButNeverGreet();

    // A line that does not start with expectPrefix is recorded in
    // mismatches(); the step is consumed all the same.
    void expect(const QByteArray &expectPrefix, const QList<QByteArray> &replyChunks);
    void expectThenClose(const QByteArray &expectPrefix, const QList<QByteArray> &replyChunks = {});
    void expectThenSilence(const QByteArray &expectPrefix);

    // Reply to lines once the script has run out (empty, the default: stay silent).
    // QUIT is answered "+OK bye" and the connection closed, unless the next
    // step expects QUIT itself.
    void setDefaultReply(const QList<QByteArray> &chunks);
    void setChunkDelay(int ms);

    // Messages are given with LF or CR LF line ends; they go out with CR LF,
    // dot-stuffed, and their sizes count CR LF.
    void addMailbox(const QString &user, const QString &password, const QList<QByteArray> &messages);
    void addGeneratedMailbox(const QString &user, const QString &password, int count,
                             const std::function<QByteArray(int number)> &make);
    // STAT tells `count` messages whatever the mailbox holds; numbers beyond
    // what it holds are answered "no such message".
    void claimCount(const QString &user, qint64 count);
    void failAt(const QString &user, Exchange exchange, Fault fault);
    void twistAt(const QString &user, Exchange exchange, Twist twist);
    // The unique ids of the user's messages as they are now, in order (the
    // same id twice, or one a deleted message had, as a test needs); a
    // message without one is "uid-" and its number. Ids go with their
    // messages when others are deleted.
    void setUniqueIds(const QString &user, const QList<QByteArray> &uids);
    // Lines CAPA answers with (PIPELINING, UIDL, ...); then the whole-mailbox
    // UIDL and LIST are answered too. Empty (the default): all three refused.
    void setCapabilities(const QList<QByteArray> &capabilities);

    bool start();
    quint16 port() const;

    QList<QByteArray> receivedLines() const;
    // Lines that arrived before the reply to the line before them had gone
    // out in full: commands sent ahead. A client that waits for each reply
    // never has any here, provided that the replies are sent in pieces
    // (setChunkDelay) or that it sends nothing ahead at once.
    QList<QByteArray> linesSentAhead() const;
    QStringList mismatches() const;
    int connectionCount() const;
    // Connections either side has closed: once all have ended, every line
    // sent on them is in receivedLines().
    int endedConnectionCount() const;
    int remainingSteps() const;
    // Every step taken and its reply (or close) written out.
    bool playedAll() const;
    // Waits in an event loop until at least count lines have arrived.
    bool waitForLines(int count, int timeoutMs);

    // Mailbox mode: the messages still there (CR LF form, not dot-stuffed),
    // the commands of its logged-in sessions, the highest number asked for.
    QList<QByteArray> mailbox(const QString &user) const;
    QList<QByteArray> commands(const QString &user) const;
    int highestMessageRequested(const QString &user) const;

    static QList<QByteArray> splitAt(const QByteArray &data, const QList<int> &positions);
    static QList<QByteArray> chunksOf(const QByteArray &data, int n);
    static QByteArray toWire(const QByteArray &message);

Q_SIGNALS:
    // A line came in (delivered in the test thread's event loop).
    void lineReceived();

private:
    void addStep(const QByteArray &expectPrefix, const QList<QByteArray> &replyChunks, int action);

    std::unique_ptr<ScriptedPop3State> m_state;
    QThread *m_thread = nullptr;
    ScriptedPop3Worker *m_worker = nullptr;
};
