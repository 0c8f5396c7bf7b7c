// The control's prefetching mode: against Dovecot the same results as without
// it for whole mailbox walks; against the scripted server the order the
// commands go out in, and what a caller sees when the server has no
// PIPELINING or no UIDL, refuses or outgrows a reply in the middle of a
// pipeline, closes with replies outstanding, or cuts replies anywhere.

#include "dovecot/dovecotserver.h"
#include "pop3/include/tarnpostctl.h"
#include "pop3/socketadapter.h"
#include "pop3/tarnpost.h"
#include "tests/pop3/pop3testutil.h"

#include <QCryptographicHash>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <sys/ioctl.h>

using namespace Qt::StringLiterals;
using namespace Pop3Test;
using namespace Tarnpostctl;

namespace {

struct Step
{
    QByteArray expect;
    QList<QByteArray> reply;
    enum Action { Reply, Close, Silence } action = Reply;
};
using Script = QList<Step>;

// Short texts as they are, long ones by size and a hash.
QString shown(const QByteArray &bytes)
{
    if (bytes.size() <= 40)
        return QString::fromLatin1(bytes);
    return u"%1 bytes %2"_s.arg(bytes.size())
        .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().left(10)));
}

// Runs the calls named in ops and writes down what a caller sees after each:
// sN select, r retrieve, w write to a file, h subject and headers, z size,
// d delete, x reset, q disconnect (and whether QUIT was confirmed), p let
// events run until settled() holds.
QString walk(Tarnpost &t, const QString &ops, const QString &file, const std::function<bool()> &settled = {})
{
    QStringList seen;
    for (const QString &op : ops.split(u' ', Qt::SkipEmptyParts)) {
        QString what;
        switch (op.at(0).unicode()) {
        case 's': {
            qint16 n = op.mid(1).toShort();
            t.SetCurrentMsg(n);
            what = t.MsgUniqueID();
            break;
        }
        case 'r':
            t.RetrieveCurrentMsg();
            what = shown(t.MsgContents().toLatin1());
            break;
        case 'w': {
            writeFile(file, "old");
            QString path = file;
            t.WriteCurrentMsgToFile(path);
            what = shown(readFile(file));
            break;
        }
        case 'h': what = t.MsgSubject() + u" | "_s + shown(t.MsgHeaders().toLatin1()); break;
        case 'z': what = QString::number(t.MsgSizeInK()); break;
        case 'd': t.DeleteCurrentMsg(); break;
        case 'x': t.ResetDeletedMsgs(); break;
        case 'q':
            t.Disconnect();
            what = t.QuitConfirmed() ? u"confirmed"_s : QString();
            break;
        case 'p': what = QTest::qWaitFor(settled, 10000) ? QString() : u"unsettled"_s; break;
        }
        seen << u"%1=%2 %3/%4"_s.arg(op).arg(t.Error()).arg(t.Error() ? t.ErrorText() : what).arg(t.Status());
    }
    return seen.join(u'\n');
}

QByteArray retr(const QByteArray &message)
{
    return "+OK " + QByteArray::number(message.size()) + " octets\r\n" + message + ".\r\n";
}

// Messages as sent (CR LF, dot-stuffed).
const QList<QByteArray> kMail{"Subject: one\r\n\r\nfirst\r\n", "Subject: two\r\n\r\n..second\r\n",
                              "Subject: three\r\n\r\nthird\r\n"};

QByteArray table(const QList<QByteArray> &lines)
{
    QByteArray out = "+OK\r\n";
    for (qsizetype i = 0; i < lines.size(); ++i)
        out += QByteArray::number(i + 1) + ' ' + lines.at(i) + "\r\n";
    return out + ".\r\n";
}

QByteArray sizes(const QList<QByteArray> &mail)
{
    QList<QByteArray> lines;
    for (const QByteArray &m : mail)
        lines << QByteArray::number(listedSize(m));
    return table(lines);
}

// A message as sent of about the given size, its body lines all alike.
QByteArray bulky(const QByteArray &subject, qint64 size)
{
    QByteArray m = "Subject: " + subject + "\r\n\r\n";
    const QByteArray line = QByteArray(78, 'b') + "\r\n";
    m.reserve(size + line.size());
    while (m.size() < size)
        m += line;
    return m;
}

// MsgContents for a message as sent: the body, without its last CR LF.
QString body(const QByteArray &wire) { return shown(wire.mid(wire.indexOf("\r\n\r\n") + 4).chopped(2)); }

const QByteArray kUids = table({"u1", "u2", "u3"});
const QByteArray kPipelining = "+OK\r\nUIDL\r\nPIPELINING\r\n.\r\n";

// CAPA and the two tables, then the given steps.
Script opening(const QByteArray &capa, const Script &rest, const QByteArray &uids = kUids,
               const QByteArray &list = sizes(kMail))
{
    Script script{{"CAPA", {capa}}, {"UIDL", {uids}}, {"LIST", {list}}};
    return script + rest;
}

Script retrs(const QList<QByteArray> &mail = kMail)
{
    Script script;
    for (qsizetype i = 0; i < mail.size(); ++i)
        script.append({"RETR " + QByteArray::number(i + 1), {retr(mail.at(i))}});
    return script;
}

const QString kWalk =
    u"s1=0 u1/1\nr=0 first/1\nd=0 /1\ns2=0 u2/1\nr=0 ..second/1\ns3=0 u3/1\nr=0 third/1\nd=0 /1\nq=0 confirmed/0"_s;

// Dovecot mailboxes: each case is walked in two mailboxes with the same
// messages, one without the mode and one with it.
struct WalkCase
{
    const char *name;
    QList<QByteArray> messages;
    qint32 maxSize;
    const char *ops;
};

QByteArray smallMessage(int n, int lines = 20)
{
    QByteArray m = "From: sender" + QByteArray::number(n) + "@example.org\nSubject: message " + QByteArray::number(n)
                   + "\nReceived: from a.example ([192.0.2." + QByteArray::number(n) + "]) by b.example\n\n";
    for (int i = 0; i < lines; ++i)
        m += (i % 7 == 3 ? "." : "") + QByteArray("line ") + QByteArray::number(i) + " of message "
             + QByteArray::number(n) + "\n";
    return m;
}

QByteArray largeMessage(qint64 size)
{
    QByteArray m = "From: big@example.org\nSubject: beyond the budget\n\n";
    const QByteArray line = QByteArray(77, 'b') + '\n';
    while (m.size() < size)
        m += line;
    return m;
}

const QList<WalkCase> &walkCases()
{
    static const QList<WalkCase> cases = [] {
        QList<WalkCase> list;
        QList<QByteArray> nine;
        for (int n = 1; n <= 9; ++n)
            nine << smallMessage(n);
        list.append({"a walk with deletes", nine, Tarnpostctl::DefaultMaxMessageSize,
                     "s1 r h d s2 r s3 r w d s4 h r s5 r d s6 z r s7 r s8 r w d s9 r q"});
        list.append({"a message beyond the budget is streamed",
                     {smallMessage(1), largeMessage(10 << 20), smallMessage(3), smallMessage(4)},
                     Tarnpostctl::DefaultMaxMessageSize,
                     "s1 r s2 r w d s3 r d s4 r q"});
        list.append({"a message over MaxMessageSize, deletes reset",
                     {smallMessage(1), smallMessage(2, 200), smallMessage(3)},
                     3000,
                     "s1 r d x s2 r s3 r w d q"});
        list.append({"out of order, twice, and after its deletion",
                     {smallMessage(1), smallMessage(2), smallMessage(3), smallMessage(4), smallMessage(5)},
                     Tarnpostctl::DefaultMaxMessageSize,
                     "s3 r s1 r w r s5 h r s4 s2 d r s2 r s4 r q"});
        return list;
    }();
    return cases;
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestTarnpostPrefetch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void sameAsWithoutTheMode_data();
    void sameAsWithoutTheMode();
    void scriptedServer_data();
    void scriptedServer();
    void outOfStep_data();
    void outOfStep();
    void mailboxOutOfStep_data();
    void mailboxOutOfStep();

private:
    DovecotServer m_server;
    QTemporaryDir m_dir;
};

void TestTarnpostPrefetch::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!DovecotServer::isAvailable())
        return;
    for (qsizetype i = 0; i < walkCases().size(); ++i) {
        for (const char *mode : {"off", "on"}) {
            const QString user = QString::fromLatin1(mode) + QString::number(i);
            m_server.addUser(user, u"pw"_s);
            for (const QByteArray &m : walkCases().at(i).messages)
                m_server.addMessage(user, m);
        }
    }
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestTarnpostPrefetch::cleanupTestCase() { m_server.stop(); }

void TestTarnpostPrefetch::sameAsWithoutTheMode_data()
{
    QTest::addColumn<int>("index");
    for (qsizetype i = 0; i < walkCases().size(); ++i)
        QTest::newRow(walkCases().at(i).name) << int(i);
}

void TestTarnpostPrefetch::sameAsWithoutTheMode()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed");
    QFETCH(int, index);
    const WalkCase &c = walkCases().at(index);
    QString seen[2];
    for (const bool prefetch : {false, true}) {
        Tarnpost t;
        t.setPOPHostname(m_server.address());
        t.setPOPPort(m_server.port());
        t.setPOPUsername((prefetch ? u"on"_s : u"off"_s) + QString::number(index));
        t.setPOPPassword(u"pw"_s);
        t.setPOPTimeout(10);
        QVERIFY(t.setMaxMessageSize(c.maxSize));
        t.setPrefetch(prefetch);
        t.Connect();
        QCOMPARE(t.Error(), qint16(ErrorNone));
        seen[prefetch] = walk(t, QString::fromLatin1(c.ops), m_dir.filePath(u"walk.eml"_s));
    }
    QCOMPARE(seen[1], seen[0]);
    // Deletions were made at QUIT, and only those.
    QCOMPARE(m_server.messages(u"on"_s + QString::number(index)), m_server.messages(u"off"_s + QString::number(index)));
}

void TestTarnpostPrefetch::scriptedServer_data()
{
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<Script>("script");
    QTest::addColumn<int>("maxSize");
    QTest::addColumn<int>("pace"); // ms between reply pieces
    QTest::addColumn<QString>("ops");
    QTest::addColumn<QString>("wire"); // after STAT
    QTest::addColumn<QString>("seen");

    const int max = Tarnpostctl::DefaultMaxMessageSize;
    const QByteArray three = "+OK 3 100\r\n";
    const Script deletes{{"DELE 1", {"+OK marked\r\n"}}, {"DELE 3", {"+OK marked\r\n"}}};
    const Script noPipelining = opening("+OK\r\nUIDL\r\nTOP\r\n.\r\n", Script{{"RETR 1", {retr(kMail[0])}},
                                                                              {"RETR 2", {retr(kMail[1])}},
                                                                              {"DELE 1", {"+OK marked\r\n"}},
                                                                              {"RETR 3", {retr(kMail[2])}},
                                                                              {"DELE 3", {"+OK marked\r\n"}}});
    QTest::newRow("no PIPELINING: one command at a time")
        << three << noPipelining << max << 30 << u"s1 r d s2 r s3 r d q"_s
        << u"CAPA|UIDL|LIST|RETR 1|RETR 2|DELE 1|RETR 3|DELE 3|QUIT"_s << kWalk;
    QTest::newRow("CAPA refused: one command at a time")
        << three << Script{{"CAPA", {"-ERR no\r\n"}}} + noPipelining.mid(1) << max << 30 << u"s1 r d s2 r s3 r d q"_s
        << u"CAPA|UIDL|LIST|RETR 1|RETR 2|DELE 1|RETR 3|DELE 3|QUIT"_s << kWalk;
    QTest::newRow("PIPELINING: RETRs ahead, DELE behind them, committed by QUIT")
        << three << opening(kPipelining, retrs() + deletes) << max << 30 << u"s1 r d s2 r s3 r d q"_s
        << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3|DELE 1|DELE 3|QUIT"_s << kWalk;

    const QByteArray refused = "-ERR unknown command\r\n";
    QTest::newRow("no UIDL: ids made up, as without the mode")
        << three
        << opening(kPipelining,
                   Script{{"UIDL 1", {refused}}} + retrs() + Script{{"UIDL 2", {refused}}, {"UIDL 3", {refused}}},
                   refused)
        << max << 30 << u"s1 r s2 r s3 r q"_s << u"CAPA|UIDL|LIST|UIDL 1|RETR 1|RETR 2|RETR 3|UIDL 2|UIDL 3|QUIT"_s
        << u"s1=0 joe:127.0.0.1:1/1\nr=0 first/1\ns2=0 joe:127.0.0.1:2/1\nr=0 ..second/1\ns3=0 joe:127.0.0.1:3/1\n"
           "r=0 third/1\nq=0 confirmed/0"_s;
    QTest::newRow("no UIDL, no LIST: the exchanges without the mode")
        << three
        << opening("+OK\r\n.\r\n",
                   Script{{"UIDL 1", {refused}},
                          {"LIST 1", {"+OK 1 " + QByteArray::number(listedSize(kMail[0])) + "\r\n"}},
                          {"RETR 1", {retr(kMail[0])}},
                          {"UIDL 2", {refused}},
                          {"LIST 2", {"+OK 2 " + QByteArray::number(listedSize(kMail[1])) + "\r\n"}},
                          {"RETR 2", {retr(kMail[1])}}},
                   refused, refused)
        << max << 30 << u"s1 h s2 h q"_s << u"CAPA|UIDL|LIST|UIDL 1|LIST 1|RETR 1|UIDL 2|LIST 2|RETR 2|QUIT"_s
        << u"s1=0 joe:127.0.0.1:1/1\nh=0 one\r | Subject: one\r/1\ns2=0 joe:127.0.0.1:2/1\nh=0 two\r | Subject: "
           u"two\r/1\n"
           "q=0 confirmed/0"_s;

    QTest::newRow("-ERR to one RETR in the middle of the pipeline")
        << three
        << opening(kPipelining,
                   Script{{"RETR 1", {retr(kMail[0])}}, {"RETR 2", {"-ERR locked\r\n"}}, {"RETR 3", {retr(kMail[2])}}})
        << max << 30 << u"s1 r s2 r s3 q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3"_s
        << u"s1=0 u1/1\nr=0 first/1\ns2=0 u2/1\nr=25 Error retrieving the message: -ERR locked\r\n/0\n"
           "s3=19 Cannot set message number when disconnected/0\nq=0 /0"_s;
    QTest::newRow("closed with RETRs outstanding")
        << three << opening(kPipelining, Script{{"RETR 1", {retr(kMail[0])}}, {"RETR 2", {}, Step::Close}}) << max << 30
        << u"s1 r s2 r s3 q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2"_s
        << u"s1=0 u1/1\nr=0 first/1\ns2=0 u2/1\nr=25 Error retrieving the message: Program determining timeout "
           u"error/0\n"
           "s3=19 Cannot set message number when disconnected/0\nq=0 /0"_s;
    QTest::newRow("closed after the last reply: seen once that is taken")
        << three
        << opening(kPipelining, Script{{"RETR 1", {retr(kMail[0])}},
                                       {"RETR 2", {retr(kMail[1])}},
                                       {"RETR 3", {retr(kMail[2])}, Step::Close}})
        << max << 30 << u"s1 r s2 r p s3 r d q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3"_s
        << u"s1=0 u1/1\nr=0 first/1\ns2=0 u2/1\nr=0 ..second/1\np=0 /1\ns3=0 u3/1\nr=0 third/0\n"
           "d=27 Cannot delete message when disconnected/0\nq=0 /0"_s;
    QTest::newRow("closed while replies were held: QUIT not confirmed")
        << three
        << opening(kPipelining, Script{{"RETR 1", {retr(kMail[0])}},
                                       {"RETR 2", {retr(kMail[1])}},
                                       {"RETR 3", {retr(kMail[2])}, Step::Close}})
        << max << 30 << u"s1 p q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3"_s << u"s1=0 u1/1\np=0 /1\nq=0 /0"_s;

    // Sizes from LIST decide how much goes out ahead.
    const QList<QByteArray> twoLarge{bulky("one", 6000000), bulky("two", 6000000), kMail[2]};
    QTest::newRow("the budget holds RETRs back")
        << three
        << opening(kPipelining,
                   Script{{"RETR 1", {retr(twoLarge[0])}},
                          {"TOP 1 0", {"+OK\r\nSubject: one\r\n\r\n.\r\n"}},
                          {"RETR 2", {retr(twoLarge[1])}},
                          {"RETR 3", {retr(kMail[2])}}},
                   kUids, sizes(twoLarge))
        << max << 30 << u"s1 h r s2 r s3 r q"_s << u"CAPA|UIDL|LIST|RETR 1|TOP 1 0|RETR 2|RETR 3|QUIT"_s
        << u"s1=0 u1/1\nh=0 one | Subject: one\r\n/1\nr=0 %1/1\ns2=0 u2/1\nr=0 %2/1\ns3=0 u3/1\nr=0 third/1\nq=0 confirmed/0"_s
               .arg(body(twoLarge[0]), body(twoLarge[1]));
    const QList<QByteArray> oneLarge{kMail[0], bulky("two", 10000000), kMail[2]};
    QTest::newRow("a message beyond the budget is fetched and streamed as without the mode")
        << three
        << opening(kPipelining,
                   Script{{"RETR 1", {retr(kMail[0])}},
                          {"RETR 3", {retr(kMail[2])}},
                          {"RETR 2", {retr(oneLarge[1])}},
                          {"RETR 2", {retr(oneLarge[1])}}},
                   kUids, sizes(oneLarge))
        << max << 30 << u"s1 r s2 r w s3 r q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 3|RETR 2|RETR 2|QUIT"_s
        << u"s1=0 u1/1\nr=0 first/1\ns2=0 u2/1\nr=0 %1/1\nw=0 %2/1\ns3=0 u3/1\n"
           "r=0 third/1\nq=0 confirmed/0"_s.arg(body(oneLarge[1]), shown(oneLarge[1].chopped(2)));
    QTest::newRow("a reply over MaxMessageSize in the pipeline")
        << three
        << opening(kPipelining, Script{{"RETR 1", {retr(kMail[0])}},
                                       {"RETR 2", {retr(kMail[1] + QByteArray(500, 'x') + "\r\n")}},
                                       {"RETR 3", {retr(kMail[2])}}})
        << 200 << 30 << u"s1 r s2 r s3 q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3"_s
        << u"s1=0 u1/1\nr=0 first/1\ns2=0 u2/1\nr=36 Message is larger than the limit of 200 bytes; it was left on the "
           u"server/0\n"
           "s3=19 Cannot set message number when disconnected/0\nq=0 /0"_s;
    QTest::newRow("a reply line over 64 KB in the pipeline")
        << three
        << opening(kPipelining,
                   Script{{"RETR 1", {retr(kMail[0])}}, {"RETR 2", {"+OK " + QByteArray(70000, 'x') + "\r\n"}}})
        << max << 30 << u"s1 r s2 r q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3"_s
        << u"s1=0 u1/1\nr=0 first/1\ns2=0 u2/1\nr=35 The server sent a reply line longer than 65536 bytes. "
           "Connection closed/0\nq=0 /0"_s;
    QTest::newRow("a reply that trickles past the overall limit")
        << three
        << opening(kPipelining,
                   Script{{"RETR 1", {retr(kMail[0])}}, {"RETR 2", ScriptedPop3Server::chunksOf(retr(kMail[1]), 1)}})
        << max << 300 << u"s1 r s2 r q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3"_s
        << u"s1=0 u1/1\nr=0 first/1\ns2=0 u2/1\nr=25 Error retrieving the message: Program determining timeout error/0\nq=0 /0"_s;

    // Four replies in flight (an empty message among them, and DELE's), cut
    // in two at every position.
    const QList<QByteArray> cutMail{kMail[0], QByteArray(), kMail[2]};
    const QByteArray stream = retr(cutMail[0]) + "+OK\r\n.\r\n" + retr(cutMail[2]) + "+OK marked\r\n";
    for (int at = 1; at < stream.size(); ++at) {
        QTest::addRow("replies cut at %d", at)
            << three
            << opening(kPipelining,
                       Script{{"RETR 1", {}},
                              {"RETR 2", {}},
                              {"RETR 3", {}},
                              {"DELE 1", ScriptedPop3Server::splitAt(stream, {at})}},
                       kUids, sizes(cutMail))
            << max << 2 << u"s1 d s2 r s3 r q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3|DELE 1|QUIT"_s
            << u"s1=0 u1/1\nd=0 /1\ns2=0 u2/1\nr=0 /1\ns3=0 u3/1\nr=0 third/1\nq=0 confirmed/0"_s;
    }
}

namespace {

struct Session
{
    QString seen;
    QString wire; // after STAT
    QList<QByteArray> ahead;
    QStringList mismatches;
};

// Plays the script after the login and walks ops through the control.
Session playScript(const QByteArray &stat, const Script &script, int maxSize, int pace, bool prefetch,
                   const QString &ops, const QString &file)
{
    ScriptedPop3Server server;
    server.setChunkDelay(pace);
    scriptLogin(server, stat);
    for (const Step &step : std::as_const(script)) {
        if (step.action == Step::Close)
            server.expectThenClose(step.expect, step.reply);
        else if (step.action == Step::Silence)
            server.expectThenSilence(step.expect);
        else
            server.expect(step.expect, step.reply);
    }
    Session session;
    if (!server.start()) {
        session.mismatches << u"the server did not start"_s;
        return session;
    }
    Tarnpost t;
    configure(t, server.port(), 1);
    t.setMaxMessageSize(maxSize);
    t.setPrefetch(prefetch);
    t.Connect();
    if (t.Status() != StatusConnected) {
        session.mismatches << u"no session: "_s + t.ErrorText();
        return session;
    }
    // The server has played its script, and the control has read all of it
    // (nothing in Qt's buffer or the kernel's) and seen its close, if any.
    const auto settled = [&] {
        if (!server.playedAll())
            return false;
        for (const QTcpSocket *socket : t.findChildren<QTcpSocket *>()) {
            int queued = 0;
            if (socket->bytesAvailable() > 0
                || (::ioctl(int(socket->socketDescriptor()), FIONREAD, &queued) == 0 && queued > 0))
                return false;
        }
        return server.endedConnectionCount() < server.connectionCount()
               || t.SocketState() != SocketAdapter::StateConnected;
    };
    session.seen = walk(t, ops, file, settled);
    // Every walk ends disconnected: once the server has seen the end, it has every line.
    const bool ended =
        QTest::qWaitFor([&] { return server.endedConnectionCount() == server.connectionCount(); }, 10000);
    session.wire = QString::fromLatin1(server.receivedLines().mid(3).join('|'));
    session.ahead = server.linesSentAhead();
    session.mismatches = server.mismatches();
    if (!ended)
        session.mismatches << u"the connection did not end"_s;
    return session;
}

bool offersPipelining(const Script &script)
{
    return std::any_of(script.cbegin(), script.cend(), [](const Step &step) {
        return step.expect == "CAPA" && step.reply.join().contains("PIPELINING");
    });
}

} // namespace

void TestTarnpostPrefetch::scriptedServer()
{
    QFETCH(QByteArray, stat);
    QFETCH(Script, script);
    QFETCH(int, maxSize);
    QFETCH(int, pace);
    QFETCH(QString, ops);
    QFETCH(QString, wire);
    QFETCH(QString, seen);

    const Session session = playScript(stat, script, maxSize, pace, true, ops, m_dir.filePath(u"scripted.eml"_s));
    QCOMPARE(session.seen, seen);
    QCOMPARE(session.wire, wire);
    QVERIFY2(session.mismatches.isEmpty(), qPrintable(session.mismatches.join(u'\n')));
    // Without the server's word, never a command before the last reply is in.
    if (!offersPipelining(script))
        QCOMPARE(session.ahead, QList<QByteArray>());
}

void TestTarnpostPrefetch::outOfStep_data()
{
    QTest::addColumn<bool>("prefetch");
    QTest::addColumn<Script>("script"); // after STAT
    QTest::addColumn<QString>("ops");
    QTest::addColumn<QString>("wire");
    QTest::addColumn<QString>("seen");

    // Message 1 and 2 differ in size, so that each shows up in the other's place.
    QVERIFY(listedSize(kMail[0]) != listedSize(kMail[1]));
    const QByteArray plain = "+OK\r\nUIDL\r\nTOP\r\n.\r\n";
    const QString mismatch = u"38 The message does not match the size the server listed for it; the connection was "
                             "closed without QUIT, so nothing marked for deletion in this session was deleted/0"_s;
    const QString unasked = u"38 The server sent a reply that nothing asked for; the connection was closed without "
                            "QUIT, so nothing marked for deletion in this session was deleted/0"_s;
    const QString after = u"\ns2=19 Cannot set message number when disconnected/0\nr=23 Cannot retrieve message when "
                          "disconnected/0\nq=0 /0"_s;
    const QString walk = u"s1 r d s2 r q"_s;

    // One complete reply too many after RETR 1: the next message would be
    // judged by those bytes, and its own DELE would follow.
    const QByteArray twice = retr(kMail[0]) + retr(kMail[0]);
    QTest::newRow("extra reply after RETR 1, PIPELINING")
        << true
        << opening(kPipelining, Script{{"RETR 1", {twice}}, {"RETR 2", {retr(kMail[1])}}, {"RETR 3", {retr(kMail[2])}}})
        << walk << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3"_s << u"s1=0 u1/1\nr=0 first/1\nd="_s + mismatch + after;
    QTest::newRow("extra reply after RETR 1, one command at a time")
        << true << opening(plain, Script{{"RETR 1", {twice}}}) << walk << u"CAPA|UIDL|LIST|RETR 1"_s
        << u"s1=0 u1/1\nr=0 first/1\nd="_s + unasked + after;
    QTest::newRow("extra reply after RETR 1, without prefetching")
        << false << Script{{"UIDL 1", {"+OK 1 u1\r\n"}}, {"LIST 1", {"+OK 1 23\r\n"}}, {"RETR 1", {twice}}} << walk
        << u"UIDL 1|LIST 1|RETR 1"_s
        << u"s1=0 u1/1\nr="_s + mismatch + u"\nd=27 Cannot delete message when disconnected/0"_s + after;
    QTest::newRow("extra reply after RETR 1 comes late, without prefetching")
        << false
        << Script{{"UIDL 1", {"+OK 1 u1\r\n"}},
                  {"LIST 1", {"+OK 1 23\r\n"}},
                  {"RETR 1", {retr(kMail[0]), retr(kMail[0])}}}
        << u"s1 r p d q"_s << u"UIDL 1|LIST 1|RETR 1"_s
        << u"s1=0 u1/1\nr=0 first/1\np=0 /1\nd="_s + unasked + u"\nq=0 /0"_s;

    // Replies answered crosswise: message 2's for RETR 1.
    const Script crossed{{"RETR 1", {retr(kMail[1])}}, {"RETR 2", {retr(kMail[0])}}, {"RETR 3", {retr(kMail[2])}}};
    const QString crossedSeen =
        u"s1=0 u1/1\nr="_s + mismatch + u"\nd=27 Cannot delete message when disconnected/0"_s + after;
    QTest::newRow("crosswise replies, PIPELINING")
        << true << opening(kPipelining, crossed) << walk << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3"_s << crossedSeen;
    QTest::newRow("crosswise replies, one command at a time")
        << true << opening(plain, crossed.mid(0, 1)) << walk << u"CAPA|UIDL|LIST|RETR 1"_s << crossedSeen;
    QTest::newRow("crosswise replies, without prefetching")
        << false << Script{{"UIDL 1", {"+OK 1 u1\r\n"}}, {"LIST 1", {"+OK 1 23\r\n"}}, {"RETR 1", {retr(kMail[1])}}}
        << walk << u"UIDL 1|LIST 1|RETR 1"_s << crossedSeen;

    // A LIST that lies: 25 octets announced, 8 MB sent. The reply is cut off
    // as soon as it outgrows the size, far below the prefetch budget.
    QTest::newRow("8 MB behind a LIST of 25 octets, PIPELINING")
        << true
        << opening(kPipelining, Script{{"RETR 1", {retr(kMail[0])}},
                                       {"RETR 2", {retr(bulky("two", 8 << 20))}},
                                       {"RETR 3", {retr(kMail[2])}}})
        << u"s1 r s2 r q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3"_s
        << u"s1=0 u1/1\nr=0 first/1\ns2=0 u2/1\nr="_s + mismatch + u"\nq=0 /0"_s;
    QTest::newRow("8 MB behind a LIST of 25 octets, one command at a time")
        << true << opening(plain, Script{{"RETR 1", {retr(kMail[0])}}, {"RETR 2", {retr(bulky("two", 8 << 20))}}})
        << u"s1 r s2 r q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2"_s
        << u"s1=0 u1/1\nr=0 first/1\ns2=0 u2/1\nr="_s + mismatch + u"\nq=0 /0"_s;
    // Counted with LF line ends (one octet less per line), the sizes still fit.
    QList<QByteArray> lfSizes;
    for (const QByteArray &m : kMail)
        lfSizes << QByteArray::number(listedSize(m) - m.count("\r\n"));
    QTest::newRow("sizes counted with LF line ends, PIPELINING")
        << true
        << opening(kPipelining, retrs() + Script{{"DELE 1", {"+OK marked\r\n"}}, {"DELE 3", {"+OK marked\r\n"}}}, kUids,
                   table(lfSizes))
        << u"s1 r d s2 r s3 r d q"_s << u"CAPA|UIDL|LIST|RETR 1|RETR 2|RETR 3|DELE 1|DELE 3|QUIT"_s << kWalk;

    // The UIDL listing of a one-message mailbox may hold a line per message,
    // and little more: a 1 MB listing is read to its end, not kept, and the
    // id is asked for on its own.
    QByteArray hugeListing = "+OK\r\n1 u1\r\n";
    while (hugeListing.size() < (1 << 20))
        hugeListing += "2 " + QByteArray(70, 'i') + "\r\n";
    hugeListing += ".\r\n";
    QTest::newRow("a 1 MB UIDL listing for one message")
        << true
        << Script{{"CAPA", {kPipelining}},
                  {"UIDL", {hugeListing}},
                  {"LIST", {sizes(kMail.mid(0, 1))}},
                  {"UIDL 1", {"+OK 1 u1\r\n"}},
                  {"RETR 1", {retr(kMail[0])}}}
        << u"s1 r q"_s << u"CAPA|UIDL|LIST|UIDL 1|RETR 1|QUIT"_s << u"s1=0 u1/1\nr=0 first/1\nq=0 confirmed/0"_s;
}

void TestTarnpostPrefetch::outOfStep()
{
    QFETCH(bool, prefetch);
    QFETCH(Script, script);
    QFETCH(QString, ops);
    QFETCH(QString, wire);
    QFETCH(QString, seen);

    // Replies go out in two pieces, so that a command sent before the last
    // reply was in is seen by the server.
    Script paced = script;
    for (Step &step : paced) {
        if (step.reply.size() == 1 && step.reply.first().size() > 1 && step.reply.first().count("\r\n.\r\n") <= 1)
            step.reply = ScriptedPop3Server::splitAt(step.reply.first(), {int(step.reply.first().size() / 2)});
    }
    // The mailbox of kMail, or of its first message alone when that is all the script serves.
    const bool one =
        std::none_of(script.cbegin(), script.cend(), [](const Step &step) { return step.expect == "RETR 2"; })
        && !ops.contains(u"s2"_s);
    const QByteArray stat = one ? "+OK 1 23\r\n" : "+OK 3 73\r\n";
    const Session session =
        playScript(stat, paced, DefaultMaxMessageSize, 20, prefetch, ops, m_dir.filePath(u"out.eml"_s));
    QCOMPARE(session.seen, seen);
    QCOMPARE(session.wire, wire);
    QVERIFY2(session.mismatches.isEmpty(), qPrintable(session.mismatches.join(u'\n')));
    if (!prefetch || !offersPipelining(script))
        QCOMPARE(session.ahead, QList<QByteArray>());
}

void TestTarnpostPrefetch::mailboxOutOfStep_data()
{
    using Exchange = ScriptedPop3Server::Exchange;
    using Twist = ScriptedPop3Server::Twist;
    QTest::addColumn<bool>("prefetch");
    QTest::addColumn<bool>("pipelining");
    QTest::addColumn<int>("exchange");
    QTest::addColumn<int>("twist");
    QTest::addColumn<QList<QByteArray>>("uids");
    QTest::addColumn<QString>("ids");   // what MsgUniqueID read
    QTest::addColumn<int>("error");     // the first Error of the walk
    QTest::addColumn<int>("remaining"); // messages left on the server

    const int none = int(Twist::None);
    const int extra = int(Twist::ExtraReply);
    const int crosswise = int(Twist::Crosswise);
    const int retr = int(Exchange::Retr);
    for (const bool prefetch : {false, true}) {
        for (const bool pipelining : {false, true}) {
            if (!prefetch && pipelining)
                continue;
            const QByteArray mode = !prefetch ? "without prefetching" : pipelining ? "PIPELINING" : "one at a time";
            QTest::addRow("in step, %s", mode.constData())
                << prefetch << pipelining << retr << none << QList<QByteArray>() << u"uid-1 uid-2 uid-3"_s << 0 << 1;
            QTest::addRow("extra reply after RETR 1, %s", mode.constData())
                << prefetch << pipelining << retr << extra << QList<QByteArray>() << u"uid-1 uid-2 uid-3"_s
                << int(ErrorSizeMismatch) << 3;
            QTest::addRow("RETR 1 and 2 crosswise, %s", mode.constData())
                << prefetch << pipelining << retr << crosswise << QList<QByteArray>() << u"uid-1 uid-2 uid-3"_s
                << int(ErrorSizeMismatch) << 3;
        }
    }
    // The control reports ids as the server gives them, twice the same too;
    // what is deleted by id is the scan's affair.
    QTest::newRow("one id for two messages, PIPELINING")
        << true << true << retr << none << QList<QByteArray>{"same", "same", "other"} << u"same same other"_s << 0 << 1;
}

void TestTarnpostPrefetch::mailboxOutOfStep()
{
    QFETCH(bool, prefetch);
    QFETCH(bool, pipelining);
    QFETCH(int, exchange);
    QFETCH(int, twist);
    QFETCH(QList<QByteArray>, uids);
    QFETCH(QString, ids);
    QFETCH(int, error);
    QFETCH(int, remaining);

    // Three messages of different sizes; the walk deletes the first two.
    ScriptedPop3Server server;
    server.addMailbox(u"joe"_s, u"secret"_s, {bulky("one", 500), bulky("two", 900), bulky("three", 1300)});
    if (!uids.isEmpty())
        server.setUniqueIds(u"joe"_s, uids);
    if (pipelining)
        server.setCapabilities({"UIDL", "PIPELINING"});
    if (twist != int(ScriptedPop3Server::Twist::None))
        server.twistAt(u"joe"_s, ScriptedPop3Server::Exchange(exchange), ScriptedPop3Server::Twist(twist));
    QVERIFY(server.start());

    Tarnpost t;
    configure(t, server.port(), 2);
    t.setPrefetch(prefetch);
    t.Connect();
    QCOMPARE(t.Status(), qint16(StatusConnected));
    QStringList seenIds;
    int firstError = 0;
    for (qint16 n = 1; n <= 3; ++n) {
        qint16 number = n;
        t.SetCurrentMsg(number);
        seenIds << t.MsgUniqueID();
        t.RetrieveCurrentMsg();
        if (!firstError)
            firstError = t.Error();
        if (n < 3)
            t.DeleteCurrentMsg();
        if (!firstError)
            firstError = t.Error();
    }
    t.Disconnect();
    if (error == 0)
        QCOMPARE(seenIds.join(u' '), ids);
    QCOMPARE(firstError, error);
    QCOMPARE(t.QuitConfirmed(), error == 0);
    QCOMPARE(server.mailbox(u"joe"_s).size(), remaining);
    QCOMPARE(server.remainingSteps(), 0);
    if (!pipelining)
        QCOMPARE(server.linesSentAhead(), QList<QByteArray>());
}

QTEST_MAIN(TestTarnpostPrefetch)
#include "tst_tarnpostprefetch.moc"
