// The control end to end against a real Dovecot POP3 server on 127.0.0.1:
// login, a mailbox walk, deletions, and large downloads into files and memory,
// each in clear text, over TLS from the first byte and upgraded with STLS.
// Then the ways a secure connection is refused: certificate and host name
// checks, servers without STLS, and peers that misbehave around the upgrade.
// The trust store is this process's own (the test CA only), never the machine's.
// And signing in with an access token that Dovecot checks with the tests' own
// OAuth2 provider.

#include "dovecot/dovecotserver.h"
#include "pop3/include/tarnpostctl.h"
#include "pop3/socketadapter.h"
#include "pop3/tarnpost.h"
#include "tests/pop3/pop3testutil.h"
#include "tests/support/oauth2testprovider.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Pop3Test;
using namespace Tarnpostctl;

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
const QByteArray kSpam = "From: Pharma <deals@spam.example>\nSubject: Best prices\n\nBuy now.\n";

// The peer of a refused secure connection.
enum class Peer { Dovecot, DovecotClearPort, DovecotWithoutSsl, Scripted, ClosingListener, SilentListener };

// The column every walk runs under.
void addSecurityColumn()
{
    QTest::addColumn<qint16>("security");
    QTest::newRow("none") << qint16(SecurityNone);
    QTest::newRow("tls") << qint16(SecurityTls);
    QTest::newRow("stls") << qint16(SecurityStls);
}

QByteArray crlf(QByteArray text) { return text.replace("\n", "\r\n"); }

// A message whose whole RETR reply ("+OK n octets" CR LF, content, "." CR LF)
// has exactly replySize bytes.
QByteArray messageForReplySize(int replySize, int tag)
{
    const QByteArray head = "Subject: big " + QByteArray::number(tag) + "\n\n";
    for (int digits = 1; digits < 10; ++digits) {
        const int content = replySize - 3 - (13 + digits); // CR LF form
        if (QByteArray::number(content).size() != digits)
            continue;
        QByteArray msg = head;
        int size = int(head.size()) * 1 + 2; // CR LF form: each LF counts two
        const QByteArray line = QByteArray(70, 'x') + "\n";
        while (content - size > 200) {
            msg += line;
            size += 72;
        }
        const int last = content - size - 2; // final line with its CR LF
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
    void init();
    void loginAndStat_data() { addSecurityColumn(); }
    void loginAndStat();
    void wrongPassword_data() { addSecurityColumn(); }
    void wrongPassword();
    void closedPort();
    void mailboxWalk_data() { addSecurityColumn(); }
    void mailboxWalk();
    void headersFromRetrieve_data() { addSecurityColumn(); }
    void headersFromRetrieve();
    void deleteBecomesFinalAtQuit_data() { addSecurityColumn(); }
    void deleteBecomesFinalAtQuit();
    void droppedSessionKeepsMessage_data() { addSecurityColumn(); }
    void droppedSessionKeepsMessage();
    void resetUndoesDeletion_data() { addSecurityColumn(); }
    void resetUndoesDeletion();
    void splitTerminatorSizes_data() { addSecurityColumn(); }
    void splitTerminatorSizes();
    void largeMessage_data() { addSecurityColumn(); }
    void largeMessage();
    void secureConnectionRefused_data();
    void secureConnectionRefused();
    void securityProperty_data();
    void securityProperty();
    void tokenSignIn_data();
    void tokenSignIn();

private:
    void connect(Tarnpost &t, const QString &user, const QString &password);
    QString certPath(const QString &name) const { return m_dir.filePath(name + u".pem"_s); }
    QString keyPath(const QString &name) const { return m_dir.filePath(name + u".key"_s); }
    // Each row of a walk that deletes has a mailbox of its own.
    static QString bob() { return u"bob"_s + QString::fromLatin1(QTest::currentDataTag()); }

    OAuth2TestProvider m_provider;
    DovecotServer m_server;
    QTemporaryDir m_dir;
    QList<int> m_splitSizes;
    QSslConfiguration m_savedDefault;
    bool m_dovecot = false;
    bool m_tls = false;
};

void TestTarnpostDovecot::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_tls = SocketAdapter::tlsAvailable();
    if (m_tls) {
        QString error;
        // "trusted" and "othername" are in this process's trust store; "stranger" is not.
        const QList<std::pair<QString, QString>> certs{
            {u"trusted"_s, u"127.0.0.1"_s}, {u"stranger"_s, u"127.0.0.1"_s}, {u"othername"_s, u"127.9.9.9"_s}};
        for (const auto &[name, ip] : certs)
            QVERIFY2(DovecotServer::createCertificate(certPath(name), keyPath(name), {ip}, &error), qPrintable(error));
        m_savedDefault = QSslConfiguration::defaultConfiguration();
        QSslConfiguration config = m_savedDefault;
        QList<QSslCertificate> cas = QSslCertificate::fromPath(certPath(u"trusted"_s));
        cas += QSslCertificate::fromPath(certPath(u"othername"_s));
        QCOMPARE(cas.size(), 2);
        config.setCaCertificates(cas);
        QSslConfiguration::setDefaultConfiguration(config);
    }
    m_dovecot = DovecotServer::isAvailable();
    if (!m_dovecot)
        return;
    m_server.addUser(u"alice"_s, u"alicepw"_s);
    m_server.addMessage(u"alice"_s, kFirst);
    m_server.addMessage(u"alice"_s, kSecond);
    m_server.addMessage(u"alice"_s, kThird);

    for (const QString &box : {u"bobnone"_s, u"bobtls"_s, u"bobstls"_s}) {
        m_server.addUser(box, u"bobpw"_s);
        for (const char *name : {"one", "two", "three"})
            m_server.addMessage(box, QByteArray("Subject: ") + name + "\n\nbody " + name + "\n");
    }

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

    if (m_tls)
        m_server.enableTls(certPath(u"trusted"_s), keyPath(u"trusted"_s));
    QVERIFY(m_provider.start());
    m_server.enableOAuth2(m_provider.url(u"/introspect"_s).toString());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestTarnpostDovecot::cleanupTestCase()
{
    m_server.stop();
    if (m_tls)
        QSslConfiguration::setDefaultConfiguration(m_savedDefault);
}

void TestTarnpostDovecot::init()
{
    const QByteArray function = QTest::currentTestFunction();
    const bool tlsOnly = function == "secureConnectionRefused" || function == "securityProperty";
    if (!m_tls && (tlsOnly || QByteArray(QTest::currentDataTag()).contains("tls")))
        QSKIP("no TLS library");
    if (!m_dovecot && !tlsOnly)
        QSKIP("dovecot is not installed");
}

// Connects with the security of the current row.
void TestTarnpostDovecot::connect(Tarnpost &t, const QString &user, const QString &password)
{
    QFETCH(qint16, security);
    t.setPOPHostname(m_server.address());
    t.setPOPPort(security == SecurityTls ? m_server.tlsPort() : m_server.port());
    t.setPOPUsername(user);
    t.setPOPPassword(password);
    t.setPOPTimeout(10);
    QVERIFY(t.setPOPSecurity(security));
    t.Connect();
}

void TestTarnpostDovecot::loginAndStat()
{
    QFETCH(qint16, security);
    QTemporaryDir logDir;
    Tarnpost t;
    t.setDebugFile(logDir.filePath(u"debug.log"_s));
    t.setDebugMode(true);
    connect(t, u"alice"_s, u"alicepw"_s);
    QVERIFY2(t.Error() == ErrorNone, qPrintable(t.ErrorText() + u"\n"_s + m_server.logTail()));
    QVERIFY2(t.ConnectResponse().startsWith("+OK"_L1), qPrintable(t.ConnectResponse()));
    QVERIFY(!t.ConnectResponse().endsWith(u'\n'));
    QCOMPARE(t.Status(), qint16(StatusConnected));
    QCOMPARE(t.StatusText(), u"Connected"_s);
    QCOMPARE(t.MsgCount(), 3);
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.Status(), qint16(StatusDisconnected));
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(t.MsgCount(), 0);

    // The log says when TLS started, with which protocol and cipher, and it
    // started before the user name went out.
    if (security == SecurityNone)
        return;
    const QString log = QString::fromLatin1(readFile(t.DebugFile()));
    const qsizetype announced =
        log.indexOf(security == SecurityTls ? u"connect: security=1"_s : u"Sending command:STLS"_s);
    const qsizetype started = log.indexOf(u"TLS started: TLSv1."_s);
    const qsizetype user = log.indexOf(u"Sending command:USER alice"_s);
    QVERIFY2(announced >= 0 && started > announced && user > started, qPrintable(log.left(3000)));
    QVERIFY(log.mid(started, 200).section(u'\n', 0, 0).contains(u", "_s));
}

void TestTarnpostDovecot::wrongPassword()
{
    Tarnpost t;
    connect(t, u"alice"_s, u"wrong"_s);
    QCOMPARE(t.Error(), qint16(ErrorPassRefused));
    QVERIFY2(t.ErrorText().startsWith("Error received from PASS command: -ERR"_L1), qPrintable(t.ErrorText()));
    QVERIFY(t.ErrorText().endsWith("\r\n"_L1));
    QCOMPARE(t.Status(), qint16(StatusDisconnected));
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
    QCOMPARE(t.Status(), qint16(StatusDisconnected));
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
        QCOMPARE(t.Error(), qint16(ErrorNone));
        QCOMPARE(t.MsgNumber(), i);
        ids.append(t.MsgUniqueID());
        const QByteArray source = crlf(sources.at(i - 1));
        const qsizetype blank = source.indexOf("\r\n\r\n");
        QCOMPARE(t.MsgHeaders(), latin1(source.left(blank + 2))); // TOP: every line with its CR LF
        QCOMPARE(t.MsgSizeInK(), qint32(source.size() / 1024 + 1));
        t.RetrieveCurrentMsg();
        QCOMPARE(t.Error(), qint16(ErrorNone));
        QCOMPARE(t.Status(), qint16(StatusConnected));
    }
    QCOMPARE(ids.size(), 3);
    QVERIFY(!ids.at(0).isEmpty());
    QVERIFY(ids.at(0) != ids.at(1) && ids.at(1) != ids.at(2) && ids.at(0) != ids.at(2));
    QVERIFY(!ids.at(0).contains(u'\r') && !ids.at(0).contains(u' '));

    qint16 n = 1;
    t.SetCurrentMsg(n);
    QCOMPARE(t.MsgUniqueID(), ids.at(0)); // stable within the session
    QCOMPARE(t.MsgSubject(), u"First message"_s);
    QCOMPARE(t.MsgFrom(), u"Sender <s@example.org>"_s);
    QCOMPARE(t.MsgReturnPath(), u"<r@example.org>"_s);
    QCOMPARE(t.MsgDate(), u"Mon, 1 Jan 2024 10:00:00 +0000"_s);
    QCOMPARE(t.MsgReplyTo(), QString());
    QCOMPARE(t.GetOtherHeader(u"Received:"_s), u"from a.example by b.example"_s);
    QCOMPARE(t.GetOtherHeader(u"reply-to"_s), u"<not found>"_s);
    t.RetrieveCurrentMsg();
    QCOMPARE(t.MsgContents(), u"Hello body\r\n..leading dot\r\nend"_s); // no dot-unstuffing

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
    QCOMPARE(t.MsgContents(), u"Subject: only headers\r\n"_s); // the blank line went with the terminator

    t.Disconnect();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(m_server.messageCount(u"alice"_s), 3);
}

void TestTarnpostDovecot::headersFromRetrieve()
{
    Tarnpost t;
    connect(t, u"alice"_s, u"alicepw"_s);
    qint16 n = 1;
    t.SetCurrentMsg(n);
    t.RetrieveCurrentMsg(); // headers not fetched yet: they come from RETR
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
    connect(t, bob(), u"bobpw"_s);
    QCOMPARE(t.MsgCount(), 3);
    qint16 n = 2;
    t.SetCurrentMsg(n);
    QCOMPARE(t.MsgSubject(), u"two"_s);
    t.DeleteCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(m_server.messageCount(bob()), 3); // only marked so far
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(ErrorNone));

    Tarnpost fresh;
    connect(fresh, bob(), u"bobpw"_s);
    QCOMPARE(fresh.MsgCount(), 2);
    for (qint16 i = 1; i <= 2; ++i) {
        qint16 m = i;
        fresh.SetCurrentMsg(m);
        QVERIFY(fresh.MsgSubject() != u"two"_s);
    }
    fresh.Disconnect();
    QCOMPARE(m_server.messageCount(bob()), 2);
}

void TestTarnpostDovecot::droppedSessionKeepsMessage()
{
    const int before = m_server.messageCount(bob());
    Tarnpost t;
    connect(t, bob(), u"bobpw"_s);
    qint16 n = 1;
    t.SetCurrentMsg(n);
    t.DeleteCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    n = 99;
    t.SetCurrentMsg(n); // out of range: the session is dropped without QUIT
    QCOMPARE(t.Error(), qint16(ErrorMsgNumberOutOfRange));
    QCOMPARE(t.Status(), qint16(StatusDisconnected));

    Tarnpost fresh;
    connect(fresh, bob(), u"bobpw"_s);
    QCOMPARE(fresh.MsgCount(), before);
    fresh.Disconnect();
    QCOMPARE(m_server.messageCount(bob()), before);
}

void TestTarnpostDovecot::resetUndoesDeletion()
{
    const int before = m_server.messageCount(bob());
    Tarnpost t;
    connect(t, bob(), u"bobpw"_s);
    qint16 n = 1;
    t.SetCurrentMsg(n);
    t.DeleteCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    t.ResetDeletedMsgs();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(m_server.messageCount(bob()), before);
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
        QCOMPARE(t.Error(), qint16(ErrorNone));
        writeFile(path, QByteArray(300000, '#')); // longer than the message: must be replaced
        t.WriteCurrentMsgToFile(path);
        QVERIFY2(t.Error() == ErrorNone, qPrintable(u"reply size %1: "_s.arg(m_splitSizes.at(i - 1)) + t.ErrorText()));
        QCOMPARE(t.MsgContents(), u"Contents written to file: "_s + path);
        const QByteArray got = readFile(path);
        QVERIFY2(got == expected,
                 qPrintable(u"reply size %1: file has %2 bytes, expected %3"_s.arg(m_splitSizes.at(i - 1))
                                .arg(got.size())
                                .arg(expected.size())));
        // The same message into memory ends the same way.
        t.RetrieveCurrentMsg();
        QCOMPARE(t.Error(), qint16(ErrorNone));
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
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgContents(), u"Contents written to file: "_s + path);
    QVERIFY(readFile(path) == expected);
    QVERIFY(events > 1);
    QCOMPARE(lastRead, t.MsgSizeInK());

    t.RetrieveCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    const QByteArray body = expected.mid(expected.indexOf("\r\n\r\n") + 4);
    QCOMPARE(t.MsgContents().size(), body.size());
    QVERIFY(t.MsgContents().toLatin1() == body);
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(ErrorNone));
}

void TestTarnpostDovecot::secureConnectionRefused_data()
{
    QTest::addColumn<int>("peer");
    QTest::addColumn<QString>("cert");         // Peer::Dovecot only
    QTest::addColumn<QByteArray>("stlsReply"); // Peer::Scripted only
    QTest::addColumn<qint16>("security");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<qint16>("error");
    QTest::addColumn<QString>("text"); // the whole error text, or part of the reason
    QTest::addColumn<bool>("exact");
    QTest::addColumn<bool>("helloSent"); // the peer got a client hello, nothing in clear

    const auto handshake = qint16(ErrorTlsHandshake);
    const auto noStls = qint16(ErrorNoStls);
    const QString withoutStls = u"Server does not offer STLS"_s;
    const int dovecot = int(Peer::Dovecot);
    QTest::newRow("untrusted, tls") << dovecot << u"stranger"_s << QByteArray() << qint16(SecurityTls) << 5 << handshake
                                    << u"self-signed"_s << false << true;
    QTest::newRow("untrusted, stls") << dovecot << u"stranger"_s << QByteArray() << qint16(SecurityStls) << 5
                                     << handshake << u"self-signed"_s << false << true;
    QTest::newRow("other host name, tls") << dovecot << u"othername"_s << QByteArray() << qint16(SecurityTls) << 5
                                          << handshake << u"host name"_s << false << true;
    QTest::newRow("other host name, stls") << dovecot << u"othername"_s << QByteArray() << qint16(SecurityStls) << 5
                                           << handshake << u"host name"_s << false << true;
    // A listener that greets in clear text.
    QTest::newRow("tls against a clear listener")
        << int(Peer::DovecotClearPort) << QString() << QByteArray() << qint16(SecurityTls) << 5 << handshake
        << QString() << false << true;
    QTest::newRow("stls not offered") << int(Peer::DovecotWithoutSsl) << QString() << QByteArray()
                                      << qint16(SecurityStls) << 5 << noStls << withoutStls << true << false;
    QTest::newRow("stls refused") << int(Peer::Scripted) << QString() << QByteArray("-ERR Unknown command\r\n")
                                  << qint16(SecurityStls) << 2 << noStls << withoutStls << true << false;
    // Clear bytes queued behind the "+OK" would pass for protected replies.
    QTest::newRow("data after the stls reply")
        << int(Peer::Scripted) << QString() << QByteArray("+OK Begin TLS\r\n+OK fake\r\n") << qint16(SecurityStls) << 2
        << handshake << u"TLS handshake failed: The server sent data after its STLS reply"_s << true << false;
    // Yes to STLS, then silence: the wait ends with the timeout, as a TLS failure.
    QTest::newRow("stls handshake never answered")
        << int(Peer::Scripted) << QString() << QByteArray("+OK Begin TLS\r\n") << qint16(SecurityStls) << 1 << handshake
        << QString() << false << true;
    // A listener that reads the client hello and closes at once.
    QTest::newRow("peer closes at the hello") << int(Peer::ClosingListener) << QString() << QByteArray()
                                              << qint16(SecurityTls) << 3 << handshake << QString() << false << true;
    // One that never answers: a TLS failure, not a connect timeout.
    QTest::newRow("peer silent at the hello")
        << int(Peer::SilentListener) << QString() << QByteArray() << qint16(SecurityTls) << 1 << handshake
        << u"TLS handshake failed: No answer from the server within the timeout"_s << true << true;
}

void TestTarnpostDovecot::secureConnectionRefused()
{
    QFETCH(int, peer);
    QFETCH(QString, cert);
    QFETCH(QByteArray, stlsReply);
    QFETCH(qint16, security);
    QFETCH(int, timeout);
    QFETCH(qint16, error);
    QFETCH(QString, text);
    QFETCH(bool, exact);
    QFETCH(bool, helloSent);
    if (peer <= int(Peer::DovecotWithoutSsl) && !m_dovecot)
        QSKIP("dovecot is not installed");

    DovecotServer dovecot;
    ScriptedPop3Server scripted;
    QTcpServer listener;
    QByteArray received;
    quint16 port = 0;
    switch (Peer(peer)) {
    case Peer::Dovecot:
    case Peer::DovecotWithoutSsl:
        dovecot.addUser(u"alice"_s, u"alicepw"_s);
        if (!cert.isEmpty())
            dovecot.enableTls(certPath(cert), keyPath(cert));
        QVERIFY2(dovecot.start(u"127.0.0.1"_s, 0), qPrintable(dovecot.errorString()));
        dovecot.addMessage(u"alice"_s, kSpam);
        port = security == SecurityTls ? dovecot.tlsPort() : dovecot.port();
        break;
    case Peer::DovecotClearPort: port = m_server.port(); break;
    case Peer::Scripted:
        scripted.expect("STLS", {stlsReply});
        QVERIFY(scripted.start());
        port = scripted.port();
        break;
    case Peer::ClosingListener:
    case Peer::SilentListener:
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&listener, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *client = listener.nextPendingConnection();
            QObject::connect(client, &QTcpSocket::readyRead, client, [&received, client, peer] {
                received += client->readAll();
                if (Peer(peer) == Peer::ClosingListener)
                    client->close();
            });
        });
        port = listener.serverPort();
        break;
    }

    Tarnpost t;
    configure(t, port, qint16(timeout));
    t.setPOPUsername(u"alice"_s);
    t.setPOPPassword(u"alicepw"_s);
    QVERIFY(t.setPOPSecurity(security));
    t.Connect();
    QCOMPARE(t.Error(), error);
    const QString reasonPrefix = u"TLS handshake failed: "_s;
    if (exact) {
        QCOMPARE(t.ErrorText(), text);
    } else {
        QVERIFY2(t.ErrorText().startsWith(reasonPrefix) && t.ErrorText().size() > reasonPrefix.size(),
                 qPrintable(t.ErrorText()));
        QVERIFY2(t.ErrorText().contains(text, Qt::CaseInsensitive), qPrintable(t.ErrorText()));
    }
    QCOMPARE(t.Status(), qint16(StatusDisconnected));
    QTRY_COMPARE_WITH_TIMEOUT(t.SocketState(), 0, 10000);
    QCOMPARE(t.ConnectResponse(), QString());
    QCOMPARE(t.MsgCount(), 0);

    switch (Peer(peer)) {
    case Peer::Dovecot: {
        // The server saw no login attempt at all, in clear or otherwise.
        QTRY_VERIFY_WITH_TIMEOUT(dovecot.logTail(200).contains(u"pop3-login: "_s), 10000);
        const QString log = dovecot.logTail(200);
        QVERIFY2(log.contains(u"no auth attempts"_s), qPrintable(log));
        QVERIFY2(!log.contains(u"user=<alice>"_s), qPrintable(log));
        QCOMPARE(dovecot.messageCount(u"alice"_s), 1);
        break;
    }
    case Peer::DovecotWithoutSsl:
        // Clear text, asked for, still works against the same server.
        QVERIFY(t.setPOPSecurity(SecurityNone));
        t.Connect();
        QCOMPARE(t.Error(), qint16(ErrorNone));
        QCOMPARE(t.Status(), qint16(StatusConnected));
        t.Disconnect();
        break;
    case Peer::DovecotClearPort: break;
    case Peer::Scripted: {
        QCOMPARE(scripted.connectionCount(), 1);
        // The control has closed: once the server sees the end, it has read all it was sent.
        QTRY_COMPARE_WITH_TIMEOUT(scripted.endedConnectionCount(), 1, 10000);
        const QList<QByteArray> lines = scripted.receivedLines();
        if (!helloSent)
            QCOMPARE(lines, (QList<QByteArray>{"STLS"}));
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.first(), QByteArray("STLS"));
        for (const QByteArray &line : lines)
            QVERIFY(!line.contains("USER") && !line.contains("PASS"));
        QVERIFY(scripted.mismatches().isEmpty());
        break;
    }
    case Peer::ClosingListener:
    case Peer::SilentListener:
        QVERIFY(!received.isEmpty()); // the client hello, and nothing in clear
        QVERIFY(!received.contains("USER"));
        break;
    }
}

void TestTarnpostDovecot::securityProperty_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qint16>("expected");
    QTest::newRow("none") << QVariant(0) << true << qint16(SecurityNone);
    QTest::newRow("tls") << QVariant(1) << true << qint16(SecurityTls);
    QTest::newRow("stls as text") << QVariant(u" 2 "_s) << true << qint16(SecurityStls);
    QTest::newRow("above the range") << QVariant(3) << false << qint16(SecurityTls);
    QTest::newRow("negative") << QVariant(-1) << false << qint16(SecurityTls);
    QTest::newRow("not a number") << QVariant(u"tls"_s) << false << qint16(SecurityTls);
}

void TestTarnpostDovecot::securityProperty()
{
    QFETCH(QVariant, value);
    QFETCH(bool, accepted);
    QFETCH(qint16, expected);

    Tarnpost t;
    t.initNew();
    QCOMPARE(t.POPSecurity(), qint16(SecurityNone));
    QVERIFY(t.setPOPSecurity(SecurityTls));
    QVariantList args{value};
    const Automation::InvokeResult r = t.invoke(DispIdPOPSecurity, Automation::InvokeKind::PropertyPut, args);
    QCOMPARE(r.ok(), accepted);
    QVariantList none;
    QVariant read;
    QVERIFY(t.invoke(DispIdPOPSecurity, Automation::InvokeKind::PropertyGet, none, &read).ok());
    QCOMPARE(read.value<qint16>(), expected);
    QString key = u" popsecurity"_s;
    QCOMPARE(t.GetStringValueOfProperty(key), QString()); // not a name the interface first had

    // Not persisted: a saved window holds the same five keys as before.
    struct Bag final : Automation::PropertyBag
    {
        QStringList keys;
        QVariant read(const QString &) const override { return {}; }
        void write(const QString &key, const QVariant &) override { keys << key; }
    } bag;
    t.save(bag);
    QCOMPARE(bag.keys,
             (QStringList{u"POPHostname"_s, u"POPPort"_s, u"POPUsername"_s, u"POPPassword"_s, u"POPTimeout"_s}));
}

QTEST_MAIN(TestTarnpostDovecot)
#include "tst_tarnpostdovecot.moc"

void TestTarnpostDovecot::tokenSignIn_data()
{
    QTest::addColumn<qint16>("security");
    QTest::addColumn<bool>("xoauth2Only"); // a server that offers no OAUTHBEARER
    QTest::addColumn<QString>("token");    // "alice", or whose token stands in for hers: "bob", "expired"
    QTest::addColumn<qint16>("error");
    QTest::addColumn<QString>("text");

    const QString refused = u"Sign-in with the access token failed (AUTH %1, the server's reason: %2): "
                            u"-ERR [AUTH] Authentication failed."_s;
    QTest::newRow("oauthbearer") << qint16(SecurityNone) << false << u"alice"_s << qint16(ErrorNone) << QString();
    QTest::newRow("oauthbearer after stls")
        << qint16(SecurityStls) << false << u"alice"_s << qint16(ErrorNone) << QString();
    QTest::newRow("xoauth2") << qint16(SecurityNone) << true << u"alice"_s << qint16(ErrorNone) << QString();
    QTest::newRow("oauthbearer, another user's token")
        << qint16(SecurityNone) << false << u"bob"_s << qint16(ErrorAuthRefused)
        << refused.arg(u"OAUTHBEARER"_s, u"{\"status\":\"invalid_token\"}"_s);
    QTest::newRow("xoauth2, expired token")
        << qint16(SecurityNone) << true << u"expired"_s << qint16(ErrorAuthRefused)
        << refused.arg(u"XOAUTH2"_s, u"{\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"mail\"}"_s);
}

void TestTarnpostDovecot::tokenSignIn()
{
    QFETCH(qint16, security);
    QFETCH(bool, xoauth2Only);
    QFETCH(QString, token);
    QFETCH(qint16, error);
    QFETCH(QString, text);

    DovecotServer xoauth2Server;
    DovecotServer *server = &m_server;
    if (xoauth2Only) {
        xoauth2Server.addUser(u"alice"_s, u"alicepw"_s);
        xoauth2Server.addMessage(u"alice"_s, kFirst);
        xoauth2Server.enableOAuth2(m_provider.url(u"/introspect"_s).toString(), {u"xoauth2"_s});
        QVERIFY2(xoauth2Server.start(), qPrintable(xoauth2Server.errorString()));
        server = &xoauth2Server;
    }
    m_provider.setAccessTokenLifetime(token == "expired"_L1 ? 0 : 3600);
    const QString accessToken = m_provider.issueAccessToken(token == "bob"_L1 ? u"bob"_s : u"alice"_s);
    m_provider.setAccessTokenLifetime(3600);
    const int asked = m_provider.requestCount(u"/introspect"_s);

    QTemporaryDir logDir;
    Tarnpost t;
    t.setDebugFile(logDir.filePath(u"debug.log"_s));
    t.setDebugMode(true);
    t.setPOPHostname(server->address());
    t.setPOPPort(server->port());
    t.setPOPUsername(u"alice"_s);
    t.setPOPPassword(u"not sent"_s);
    t.setAccessToken(accessToken);
    t.setPOPTimeout(10);
    QVERIFY(t.setPOPSecurity(security));
    t.Connect();
    QVERIFY2(t.Error() == error, qPrintable(t.ErrorText() + u"\n"_s + server->logTail()));
    QCOMPARE(t.ErrorText(), text);
    QCOMPARE(t.Status(), qint16(error == ErrorNone ? StatusConnected : StatusDisconnected));
    QCOMPARE(t.MsgCount(), error == ErrorNone ? (xoauth2Only ? 1 : 3) : 0);
    t.Disconnect();
    QCOMPARE(m_provider.requestCount(u"/introspect"_s), asked + 1);

    const QByteArray log = readFile(t.DebugFile());
    QVERIFY(log.contains(xoauth2Only ? "Sending command:AUTH XOAUTH2 ********"
                                     : "Sending command:AUTH OAUTHBEARER ********"));
    QVERIFY(!log.contains(accessToken.toLatin1()));
    // The password is never sent with a token, nor shown.
    QVERIFY(!log.contains("Sending command:USER") && !log.contains("Sending command:PASS")
            && !log.contains("not sent"));
}
