#pragma once
// A POP3 server on a loopback address that keeps real mailboxes (deletions
// become final only when QUIT is answered) and misbehaves once, at one chosen
// step of one user's session, in one chosen way. It runs in a thread of its
// own, so it keeps serving while the test thread is blocked in a scan.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>

class QThread;
class QObject;

class FaultPop3Server final
{
public:
    // UidlAll and ListAll are the forms without a number (this server refuses
    // them, as one without whole-mailbox listings would); Uidl and List the
    // forms for one message. CAPA is refused too.
    enum class Step { Greeting, User, Pass, Stat, Uidl, Top, List, Retr, RetrToFile, Dele, Quit, Capa, UidlAll, ListAll,
                      StepCount };
    // Endless: the reply never ends (a line without CR LF, or a multi-line
    // reply without its terminator), sent as fast as the client takes it.
    enum class Fault { None, Close, Silence, Err, NoOk, NoCrLf, LfOnly, Nul, HugeLine, Endless, FaultCount };

    FaultPop3Server();
    ~FaultPop3Server();
    FaultPop3Server(const FaultPop3Server &) = delete;
    FaultPop3Server &operator=(const FaultPop3Server &) = delete;

    // Messages are given with LF or CR LF line ends; they go out with CR LF,
    // dot-stuffed, and their sizes count CR LF.
    void addUser(const QString &user, const QString &password, const QList<QByteArray> &messages);
    // A mailbox that tells STAT it holds `count` messages, made on demand.
    void addGeneratedUser(const QString &user, const QString &password, int count,
                          std::function<QByteArray(int number)> make);
    // STAT tells `count` messages whatever the mailbox holds; numbers beyond
    // what it holds are answered "no such message".
    void claimCount(const QString &user, qint64 count);
    // The first exchange of `step` in a session of `user` misbehaves. A fault
    // at the greeting hits the first connection; at USER, the USER line that
    // names `user`. The second RETR of a message is RetrToFile.
    void setFault(const QString &user, Step step, Fault fault);

    bool start(const QString &address = QStringLiteral("127.0.0.1"));
    quint16 port() const;

    // The messages still in the mailbox (CR LF form, not dot-stuffed).
    QList<QByteArray> mailbox(const QString &user) const;
    QList<QByteArray> commands(const QString &user) const;
    int highestMessageRequested(const QString &user) const;
    bool faultFired() const;

    static QString stepName(Step step);
    static QString faultName(Fault fault);
    static QByteArray toWire(const QByteArray &message);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
