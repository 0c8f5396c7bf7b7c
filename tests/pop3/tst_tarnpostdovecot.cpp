// The control end to end against a real Dovecot POP3 server on 127.0.0.1:
// login, a mailbox walk, deletions, and large downloads into files and memory.

#include "tests/support/dovecotserver.h"
#include "tests/pop3/pop3testutil.h"
#include "pop3/tarnpost.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTcpServer>

using namespace Qt::StringLiterals;
using namespace Pop3Test;
using Tarnpostctl::Tarnpost;

namespace {

const QByteArray kFirst = "Return-Path: <r@example.org>\n"
                          "Received: from a.example by b.example\n"
                          "\tfolded part\n"
                          "Received: from c.example by d.example\n"
                          "From: Sender <s@example.org>\n"
                          "Subject: First message\n"
                          "Date: Mon, 1 Jan 2024 10:00:00 +0000\n"
                          "\n"
                          "Hello body\n"
                          ".leading dot\n"
                          "end\n";
const QByteArray kSecond = "From: x@example.org\n"
                           "X-Sender-From: y@example.org\n"
                           "\n"
                           "no subject here\n"
                           "Subject: not a header\n";
const QByteArray kThird = "Subject: only headers\n\n";

QByteArray crlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

// A message whose whole RETR reply ("+OK n octets" CR LF, content, "." CR LF)
// has exactly replySize bytes.
QByteArray messageForReplySize(int replySize, int tag)
{
    const QByteArray head = "Subject: big " + QByteArray::number(tag) + "\n\n";
    for (int digits = 1; digits < 10; ++digits) {
        const int content = replySize - 3 - (13 + digits);  // CR LF form
        if (QByteArray::number(content).size() != digits)
            continue;
        QByteArray msg = head;
        int size = int(head.size()) * 1 + 2;  // CR LF form: each LF counts two
        const QByteArray line = QByteArray(70, 'x') + "\n";
        while (content - size > 200) {
            msg += line;
            size += 72;
        }
        const int last = content - size - 2;  // final line with its CR LF
        msg += QByteArray(qMax(0, last), 'z') + "\n";
        return msg;
    }
    return {};
}

} // namespace

class TestTarnpostDovecot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void loginAndStat();
    void wrongPassword();
    void closedPort();
    void mailboxWalk();
    void headersFromRetrieve();
    void deleteBecomesFinalAtQuit();
    void droppedSessionKeepsMessage();
    void resetUndoesDeletion();
    void splitTerminatorSizes();
    void largeMessage();

private:
    void connect(Tarnpost &t, const QString &user, const QString &password);

    DovecotServer m_server;
    QTemporaryDir m_dir;
    QList<int> m_splitSizes;
};

void TestTarnpostDovecot::initTestCase()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed");
    QVERIFY(m_dir.isValid());
    m_server.addUser(u"alice"_s, u"alicepw"_s);
    m_server.addMessage(u"alice"_s, kFirst);
    m_server.addMessage(u"alice"_s, kSecond);
    m_server.addMessage(u"alice"_s, kThird);

    m_server.addUser(u"bob"_s, u"bobpw"_s);
    for (const char *name : {"one", "two", "three"})
        m_server.addMessage(u"bob"_s, QByteArray("Subject: ") + name + "\n\nbody " + name + "\n");

    // Reply sizes just past the server's writes (65,483 bytes, then 64 KB
    // steps) and past multiples of 64 KB reads, so that the terminator arrives
    // split across reads.
    m_server.addUser(u"carol"_s, u"carolpw"_s);
    int tag = 0;
    for (int base : {65483, 65536, 130966, 2 * 65536}) {
        for (int offset : {1, 2, 3, 4}) {
            m_splitSizes.append(base + offset);
            m_server.addMessage(u"carol"_s, messageForReplySize(base + offset, ++tag));
        }
    }
    QByteArray big = "Subject: twenty megabytes\n\n";
    const QByteArray line = QByteArray(76, 'y') + "\n";
    while (big.size() < 20 * 1024 * 1024)
        big += line;
    big += ".starts with a dot\n";
    m_server.addMessage(u"carol"_s, big);

    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestTarnpostDovecot::cleanupTestCase()
{
    m_server.stop();
}

void TestTarnpostDovecot::connect(Tarnpost &t, const QString &user, const QString &password)
{
    t.setPOPHostname(m_server.address());
    t.setPOPPort(m_server.port());
    t.setPOPUsername(user);
    t.setPOPPassword(password);
    t.setPOPTimeout(10);
    t.Connect();
}

void TestTarnpostDovecot::loginAndStat()
{
    Tarnpost t;
    connect(t, u"alice"_s, u"alicepw"_s);
    QCOMPARE(t.Error(), qint16(0));
    QVERIFY2(t.ConnectResponse().startsWith("+OK"_L1), qPrintable(t.ConnectResponse()));
    QVERIFY(!t.ConnectResponse().endsWith(u'\n'));
    QCOMPARE(t.Status(), qint16(1));
    QCOMPARE(t.StatusText(), u"Connected"_s);
    QCOMPARE(t.MsgCount(), 3);
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(t.MsgCount(), 0);
}

void TestTarnpostDovecot::wrongPassword()
{
    Tarnpost t;
    connect(t, u"alice"_s, u"wrong"_s);
    QCOMPARE(t.Error(), qint16(15));
    QVERIFY2(t.ErrorText().startsWith("Error received from PASS command: -ERR"_L1), qPrintable(t.ErrorText()));
    QVERIFY(t.ErrorText().endsWith("\r\n"_L1));
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(t.ConnectResponse(), QString());
}

void TestTarnpostDovecot::closedPort()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress(m_server.address()), 0));
        port = probe.serverPort();
    }
    Tarnpost t;
    t.setPOPHostname(m_server.address());
    t.setPOPPort(port);
    t.setPOPUsername(u"alice"_s);
    t.Connect();
    QCOMPARE(t.Error(), qint16(10061));
    QVERIFY(!t.ErrorText().isEmpty());
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
}

void TestTarnpostDovecot::mailboxWalk()
{
    Tarnpost t;
    connect(t, u"alice"_s, u"alicepw"_s);
    QCOMPARE(t.MsgCount(), 3);
    const QList<QByteArray> sources{kFirst, kSecond, kThird};
    QStringList ids;
    for (qint16 i = 1; i <= 3; ++i) {
        qint16 n = i;
        t.SetCurrentMsg(n);
        QCOMPARE(t.Error(), qint16(0));
        QCOMPARE(t.MsgNumber(), i);
        ids.append(t.MsgUniqueID());
        const QByteArray source = crlf(sources.at(i - 1));
        const qsizetype blank = source.indexOf("\r\n\r\n");
        QCOMPARE(t.MsgHeaders(), latin1(source.left(blank + 2)));  // TOP: every line with its CR LF
        QCOMPARE(t.MsgSizeInK(), qint32(source.size() / 1024 + 1));
        t.RetrieveCurrentMsg();
        QCOMPARE(t.Error(), qint16(0));
        QCOMPARE(t.Status(), qint16(1));
    }
    QCOMPARE(ids.size(), 3);
    QVERIFY(!ids.at(0).isEmpty());
    QVERIFY(ids.at(0) != ids.at(1) && ids.at(1) != ids.at(2) && ids.at(0) != ids.at(2));
    QVERIFY(!ids.at(0).contains(u'\r') && !ids.at(0).contains(u' '));

    qint16 n = 1;
    t.SetCurrentMsg(n);
    QCOMPARE(t.MsgUniqueID(), ids.at(0));  // stable within the session
    QCOMPARE(t.MsgSubject(), u"First message"_s);
    QCOMPARE(t.MsgFrom(), u"Sender <s@example.org>"_s);
    QCOMPARE(t.MsgReturnPath(), u"<r@example.org>"_s);
    QCOMPARE(t.MsgDate(), u"Mon, 1 Jan 2024 10:00:00 +0000"_s);
    QCOMPARE(t.MsgReplyTo(), QString());
    QCOMPARE(t.GetOtherHeader(u"Received:"_s), u"from a.example by b.example"_s);
    QCOMPARE(t.GetOtherHeader(u"reply-to"_s), u"<not found>"_s);
    t.RetrieveCurrentMsg();
    QCOMPARE(t.MsgContents(), u"Hello body\r\n..leading dot\r\nend"_s);  // no dot-unstuffing

    n = 2;
    t.SetCurrentMsg(n);
    QCOMPARE(t.MsgSubject(), QString());
    QCOMPARE(t.GetOtherHeader(u"subject"_s), u"<not found>"_s);
    QCOMPARE(t.MsgFrom(), u"x@example.org"_s);
    t.RetrieveCurrentMsg();
    QCOMPARE(t.MsgContents(), u"no subject here\r\nSubject: not a header"_s);

    n = 3;
    t.SetCurrentMsg(n);
    t.RetrieveCurrentMsg();
    QCOMPARE(t.MsgContents(), u"Subject: only headers\r\n"_s);  // the blank line went with the terminator

    t.Disconnect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(m_server.messageCount(u"alice"_s), 3);
}

void TestTarnpostDovecot::headersFromRetrieve()
{
    Tarnpost t;
    connect(t, u"alice"_s, u"alicepw"_s);
    qint16 n = 1;
    t.SetCurrentMsg(n);
    t.RetrieveCurrentMsg();  // headers not fetched yet: they come from RETR
    const QByteArray source = crlf(kFirst);
    QCOMPARE(t.MsgHeaders(), latin1(source.left(source.indexOf("\r\n\r\n") + 1)));
    QVERIFY(t.MsgHeaders().endsWith("+0000\r"_L1));
    QCOMPARE(t.MsgDate(), u"Mon, 1 Jan 2024 10:00:00 +0000\r"_s);
    QCOMPARE(t.GetOtherHeader(u"received"_s), u"from a.example by b.example"_s);
    t.Disconnect();
}

void TestTarnpostDovecot::deleteBecomesFinalAtQuit()
{
    Tarnpost t;
    connect(t, u"bob"_s, u"bobpw"_s);
    QCOMPARE(t.MsgCount(), 3);
    qint16 n = 2;
    t.SetCurrentMsg(n);
    QCOMPARE(t.MsgSubject(), u"two"_s);
    t.DeleteCurrentMsg();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(m_server.messageCount(u"bob"_s), 3);  // only marked so far
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(0));

    Tarnpost fresh;
    connect(fresh, u"bob"_s, u"bobpw"_s);
    QCOMPARE(fresh.MsgCount(), 2);
    for (qint16 i = 1; i <= 2; ++i) {
        qint16 m = i;
        fresh.SetCurrentMsg(m);
        QVERIFY(fresh.MsgSubject() != u"two"_s);
    }
    fresh.Disconnect();
    QCOMPARE(m_server.messageCount(u"bob"_s), 2);
}

void TestTarnpostDovecot::droppedSessionKeepsMessage()
{
    const int before = m_server.messageCount(u"bob"_s);
    Tarnpost t;
    connect(t, u"bob"_s, u"bobpw"_s);
    qint16 n = 1;
    t.SetCurrentMsg(n);
    t.DeleteCurrentMsg();
    QCOMPARE(t.Error(), qint16(0));
    n = 99;
    t.SetCurrentMsg(n);  // out of range: the session is dropped without QUIT
    QCOMPARE(t.Error(), qint16(20));
    QCOMPARE(t.Status(), qint16(0));

    Tarnpost fresh;
    connect(fresh, u"bob"_s, u"bobpw"_s);
    QCOMPARE(fresh.MsgCount(), before);
    fresh.Disconnect();
    QCOMPARE(m_server.messageCount(u"bob"_s), before);
}

void TestTarnpostDovecot::resetUndoesDeletion()
{
    const int before = m_server.messageCount(u"bob"_s);
    Tarnpost t;
    connect(t, u"bob"_s, u"bobpw"_s);
    qint16 n = 1;
    t.SetCurrentMsg(n);
    t.DeleteCurrentMsg();
    QCOMPARE(t.Error(), qint16(0));
    t.ResetDeletedMsgs();
    QCOMPARE(t.Error(), qint16(0));
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(m_server.messageCount(u"bob"_s), before);
}

void TestTarnpostDovecot::splitTerminatorSizes()
{
    Tarnpost t;
    connect(t, u"carol"_s, u"carolpw"_s);
    QCOMPARE(t.MsgCount(), m_splitSizes.size() + 1);
    const QList<QByteArray> stored = m_server.messages(u"carol"_s);
    QString path = m_dir.filePath(u"split.eml"_s);
    for (qint16 i = 1; i <= qint16(m_splitSizes.size()); ++i) {
        const QByteArray expected = crlf(stored.at(i - 1)).chopped(2);
        qint16 n = i;
        t.SetCurrentMsg(n);
        QCOMPARE(t.Error(), qint16(0));
        writeFile(path, QByteArray(300000, '#'));  // longer than the message: must be replaced
        t.WriteCurrentMsgToFile(path);
        QVERIFY2(t.Error() == 0, qPrintable(u"reply size %1: "_s.arg(m_splitSizes.at(i - 1)) + t.ErrorText()));
        QCOMPARE(t.MsgContents(), u"Contents written to file: "_s + path);
        const QByteArray got = readFile(path);
        QVERIFY2(got == expected, qPrintable(u"reply size %1: file has %2 bytes, expected %3"_s
                                                 .arg(m_splitSizes.at(i - 1))
                                                 .arg(got.size())
                                                 .arg(expected.size())));
        // The same message into memory ends the same way.
        t.RetrieveCurrentMsg();
        QCOMPARE(t.Error(), qint16(0));
        QVERIFY(t.MsgContents().toLatin1() == expected.mid(expected.indexOf("\r\n\r\n") + 4));
    }
    t.Disconnect();
}

void TestTarnpostDovecot::largeMessage()
{
    Tarnpost t;
    connect(t, u"carol"_s, u"carolpw"_s);
    const qint16 last = qint16(t.MsgCount());
    const QByteArray source = crlf(m_server.messages(u"carol"_s).at(last - 1));
    // Dot-stuffed on the wire, kept as received.
    QByteArray expected = source.chopped(2);
    expected.replace("\r\n.starts", "\r\n..starts");

    qint16 n = last;
    t.SetCurrentMsg(n);
    QCOMPARE(t.MsgSubject(), u"twenty megabytes"_s);
    QCOMPARE(t.MsgSizeInK(), qint32(source.size() / 1024 + 1));
    QString path = m_dir.filePath(u"big.eml"_s);
    writeFile(path, "old");
    qint32 lastRead = -1;
    int events = 0;
    bool ordered = true;
    const auto progress = QObject::connect(&t, &Tarnpost::MsgReadStatus, &t, [&](qint32 &read, qint32 &, qint16 &) {
        ordered = ordered && read >= lastRead;
        lastRead = read;
        ++events;
    });
    t.WriteCurrentMsgToFile(path);
    QObject::disconnect(progress);
    QVERIFY(ordered);
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.MsgContents(), u"Contents written to file: "_s + path);
    QVERIFY(readFile(path) == expected);
    QVERIFY(events > 1);
    QCOMPARE(lastRead, t.MsgSizeInK());

    t.RetrieveCurrentMsg();
    QCOMPARE(t.Error(), qint16(0));
    const QByteArray body = expected.mid(expected.indexOf("\r\n\r\n") + 4);
    QCOMPARE(t.MsgContents().size(), body.size());
    QVERIFY(t.MsgContents().toLatin1() == body);
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(0));
}

QTEST_MAIN(TestTarnpostDovecot)
#include "tst_tarnpostdovecot.moc"
