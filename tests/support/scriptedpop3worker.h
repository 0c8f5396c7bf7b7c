#pragma once

#include "tests/support/scriptedpop3server.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <map>

class QTcpServer;
class QTcpSocket;
class QTimer;

// What the test thread sets up and reads back; every field but ended is guarded by mutex.
struct ScriptedPop3State
{
    using Exchange = ScriptedPop3Server::Exchange;
    using Fault = ScriptedPop3Server::Fault;
    enum class Action { Reply, ReplyThenClose, Silence, Fault };
    struct Step
    {
        QByteArray expectPrefix;
        QList<QByteArray> replyChunks;
        Action action = Action::Reply;
        // Fault steps only.
        QString user;
        Exchange exchange = Exchange::Greeting;
        Fault fault = Fault::None;
        ScriptedPop3Server::Twist twist = ScriptedPop3Server::Twist::None;
    };
    struct Mailbox
    {
        QString password;
        QList<QByteArray> messages; // wire form, CR LF, not dot-stuffed
        QList<QByteArray> uids;     // one per message; empty: "uid-" and its number
        QList<QByteArray> commands;
        int highest = 0;
        qint64 claimed = -1; // what STAT tells, when not the truth
    };

    mutable QMutex mutex;
    QList<QByteArray> greeting{QByteArrayLiteral("+OK scripted POP3 server ready\r\n")};
    QList<Step> steps;
    qsizetype nextStep = 0;
    QList<QByteArray> defaultReply;
    int chunkDelayMs = 30;
    QList<QByteArray> received;
    QList<QByteArray> ahead; // sent before the previous reply had gone out
    QList<QByteArray> capabilities;
    QStringList mismatches;
    int connections = 0;
    std::atomic<int> ended = 0; // not under mutex
    quint16 port = 0;
    QHash<QString, Mailbox> mailboxes;
};

// Lives in the server's own thread: accepts connections, answers each command
// line from the script or the mailboxes and paces the scripted reply chunks.
class ScriptedPop3Worker final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScriptedPop3Worker)
public:
    explicit ScriptedPop3Worker(ScriptedPop3State *state);
    ~ScriptedPop3Worker() override;

    Q_INVOKABLE bool listen();
    Q_INVOKABLE void shutdown();
    // Nothing queued or unwritten on any connection.
    bool sentAll() const;

Q_SIGNALS:
    void lineReceived();

private:
    using Exchange = ScriptedPop3Server::Exchange;
    using Fault = ScriptedPop3Server::Fault;
    struct Outgoing
    {
        QByteArray chunk;
        bool closeAfter = false;
    };
    struct Session
    {
        QTcpSocket *socket = nullptr;
        QTimer *pacer = nullptr;
        QByteArray in;
        QList<Outgoing> outgoing;
        bool silent = false;
        bool closing = false;
        // Mailbox mode.
        QString user;
        bool authed = false;
        int count = 0;
        QSet<int> deleted;
        QHash<int, int> retrieved;
        QByteArray endlessPiece; // empty unless an endless reply is running
        qint64 endlessSent = 0;
        QHash<QByteArray, int> crossed; // by command: n while n and n + 1 are swapped
        // A NUL or 1 MB line a RETR fault puts into a message: the message
        // holds it for the whole session, and LIST counts it.
        int alteredNumber = 0;
        QByteArray alteredLine;
    };

    bool mailboxMode() const;
    void takeNextConnection();
    void onReadyRead(QTcpSocket *socket);
    void drop(QTcpSocket *socket);
    void handleLine(Session &s, const QByteArray &line);
    void queue(Session &s, const QList<QByteArray> &chunks, bool closeAfter);
    void sendNext(QTcpSocket *socket);

    // Mailbox mode, called with the state locked.
    void answer(Session &s, const QByteArray &line);
    Fault faultAt(const Session &s, Exchange exchange, const QString &userHint = QString(),
                  ScriptedPop3Server::Twist *twist = nullptr);
    // The message number a command is answered for, crosswise or not.
    int crossedNumber(Session &s, const QByteArray &verb, int number, ScriptedPop3Server::Twist twist);
    QByteArray uidOf(const QString &user, int number) const;
    // The size LIST gives for message n (which a RETR fault still to come may alter).
    qint64 listedSizeOf(Session &s, int number);
    void reply(Session &s, Fault fault, const QByteArray &status, const QByteArray *body = nullptr);
    void pumpEndless(QTcpSocket *socket);
    void closeAfter(Session &s);
    void commit(Session &s);
    const QByteArray *message(Session &s, int number);

    ScriptedPop3State *m_state;
    QTcpServer *m_server = nullptr;
    std::map<QTcpSocket *, Session> m_sessions;
};
