// Secure connections of the control: TLS from the first byte and STLS against
// a real Dovecot with certificates made here, certificate and host name
// checks, servers without STLS, and peers that misbehave around the upgrade.
// The trust store is this process's own (the test CA only), never the machine's.

#include "tests/support/dovecotserver.h"
#include "tests/pop3/pop3testutil.h"
#include "pop3/socketadapter.h"
#include "pop3/tarnpost.h"
#include "pop3/include/tarnpostctl.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Pop3Test;
using Tarnpostctl::Tarnpost;

namespace {

const QByteArray kSpam = "From: Pharma <deals@spam.example>\nSubject: Best prices\n\nBuy now.\n";
const QByteArray kHam = "From: boss@example.org\nSubject: Plan\n\nNumbers.\n";

enum Security : qint16 { None = 0, Tls = 1, Stls = 2 };

} // namespace

class TestTarnpostTls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void walkAndDeleteOverTls_data();
    void walkAndDeleteOverTls();
    void certificateRefused_data();
    void certificateRefused();
    void tlsAgainstClearListener();
    void serverWithoutStls();
    void stlsRefusedByScriptedServer();
    void dataInjectedAfterStlsReply();
    void handshakeNeverAnswered();
    void peerFailsTlsHandshake_data();
    void peerFailsTlsHandshake();
    void securityProperty_data();
    void securityProperty();

private:
    QString certPath(const QString &name) const { return m_dir.filePath(name + u".pem"_s); }
    QString keyPath(const QString &name) const { return m_dir.filePath(name + u".key"_s); }
    bool startTlsServer(DovecotServer &server, const QString &cert);
    void configureFor(Tarnpost &t, const DovecotServer &server, qint16 security, const QString &host = {});

    QTemporaryDir m_dir;
    QSslConfiguration m_savedDefault;
    DovecotServer *m_trusted = nullptr;
};

void TestTarnpostTls::initTestCase()
{
    if (!Tarnpostctl::SocketAdapter::tlsAvailable())
        QSKIP("no TLS library");
    QVERIFY(m_dir.isValid());
    QString error;
    // "trusted" and "othername" are in this process's trust store; "stranger" is not.
    QVERIFY2(DovecotServer::createCertificate(certPath(u"trusted"_s), keyPath(u"trusted"_s), {u"127.0.0.1"_s}, &error),
             qPrintable(error));
    QVERIFY2(DovecotServer::createCertificate(certPath(u"stranger"_s), keyPath(u"stranger"_s), {u"127.0.0.1"_s},
                                              &error),
             qPrintable(error));
    QVERIFY2(DovecotServer::createCertificate(certPath(u"othername"_s), keyPath(u"othername"_s), {u"127.9.9.9"_s},
                                              &error),
             qPrintable(error));

    m_savedDefault = QSslConfiguration::defaultConfiguration();
    QSslConfiguration config = m_savedDefault;
    QList<QSslCertificate> cas = QSslCertificate::fromPath(certPath(u"trusted"_s));
    cas += QSslCertificate::fromPath(certPath(u"othername"_s));
    QCOMPARE(cas.size(), 2);
    config.setCaCertificates(cas);
    QSslConfiguration::setDefaultConfiguration(config);

    if (DovecotServer::isAvailable()) {
        m_trusted = new DovecotServer;
        QVERIFY2(startTlsServer(*m_trusted, u"trusted"_s), qPrintable(m_trusted->errorString()));
    }
}

void TestTarnpostTls::cleanupTestCase()
{
    delete m_trusted;
    m_trusted = nullptr;
    QSslConfiguration::setDefaultConfiguration(m_savedDefault);
}

bool TestTarnpostTls::startTlsServer(DovecotServer &server, const QString &cert)
{
    server.addUser(u"alice"_s, u"alicepw"_s);
    server.enableTls(certPath(cert), keyPath(cert));
    return server.start(u"127.0.0.1"_s, 0);
}

void TestTarnpostTls::configureFor(Tarnpost &t, const DovecotServer &server, qint16 security, const QString &host)
{
    t.setPOPHostname(host.isEmpty() ? server.address() : host);
    t.setPOPPort(security == Tls ? server.tlsPort() : server.port());
    t.setPOPUsername(u"alice"_s);
    t.setPOPPassword(u"alicepw"_s);
    t.setPOPTimeout(5);
    QVERIFY(t.setPOPSecurity(security));
}

void TestTarnpostTls::walkAndDeleteOverTls_data()
{
    QTest::addColumn<qint16>("security");
    QTest::addColumn<QString>("announce");  // the debug line before the handshake
    QTest::newRow("tls from the first byte") << qint16(Tls) << u"connect: security=1"_s;
    QTest::newRow("stls") << qint16(Stls) << u"Sending command:STLS"_s;
}

void TestTarnpostTls::walkAndDeleteOverTls()
{
    QFETCH(qint16, security);
    QFETCH(QString, announce);
    if (!m_trusted)
        QSKIP("dovecot is not installed");
    m_trusted->addMessage(u"alice"_s, kHam);
    m_trusted->addMessage(u"alice"_s, kSpam);

    QTemporaryDir logDir;
    Tarnpost t;
    configureFor(t, *m_trusted, security);
    t.setDebugFile(logDir.filePath(u"debug.log"_s));
    t.setDebugMode(true);
    t.Connect();
    QVERIFY2(t.Error() == 0, qPrintable(t.ErrorText() + u"\n"_s + m_trusted->logTail()));
    QCOMPARE(t.Status(), qint16(1));
    QVERIFY(t.ConnectResponse().startsWith(u"+OK"_s));
    QCOMPARE(t.MsgCount(), 2);

    qint16 n = 2;
    t.SetCurrentMsg(n);
    QCOMPARE(t.Error(), qint16(0));
    t.RetrieveCurrentMsg();
    QCOMPARE(t.Error(), qint16(0));
    QVERIFY(t.MsgSubject().startsWith(u"Best prices"_s));
    QVERIFY(t.MsgContents().contains(u"Buy now."_s));
    QString file = logDir.filePath(u"msg.eml"_s);
    t.WriteCurrentMsgToFile(file);
    QCOMPARE(t.Error(), qint16(0));
    QVERIFY(readFile(file).contains("Buy now."));
    t.DeleteCurrentMsg();
    QCOMPARE(t.Error(), qint16(0));
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.Status(), qint16(0));

    const QList<QByteArray> left = m_trusted->messages(u"alice"_s);
    QCOMPARE(left.size(), 1);
    QVERIFY(left.first().contains("Numbers."));
    // Empty the box for the next row.
    t.Connect();
    QCOMPARE(t.Error(), qint16(0));
    n = 1;
    t.SetCurrentMsg(n);
    t.DeleteCurrentMsg();
    t.Disconnect();
    QCOMPARE(m_trusted->messageCount(u"alice"_s), 0);

    // The log says when TLS started, with which protocol and cipher, and it
    // started before the user name went out.
    const QString log = QString::fromLatin1(readFile(t.DebugFile()));
    const qsizetype announced = log.indexOf(announce);
    const qsizetype started = log.indexOf(u"TLS started: TLSv1."_s);
    const qsizetype user = log.indexOf(u"Sending command:USER alice"_s);
    QVERIFY2(announced >= 0 && started > announced && user > started, qPrintable(log.left(3000)));
    QVERIFY(log.mid(started, 200).section(u'\n', 0, 0).contains(u", "_s));
}

void TestTarnpostTls::certificateRefused_data()
{
    QTest::addColumn<QString>("cert");
    QTest::addColumn<qint16>("security");
    QTest::addColumn<QString>("reason");  // part of the text after "TLS handshake failed: "
    QTest::newRow("untrusted, tls") << u"stranger"_s << qint16(Tls) << u"self-signed"_s;
    QTest::newRow("untrusted, stls") << u"stranger"_s << qint16(Stls) << u"self-signed"_s;
    QTest::newRow("other host name, tls") << u"othername"_s << qint16(Tls) << u"host name"_s;
    QTest::newRow("other host name, stls") << u"othername"_s << qint16(Stls) << u"host name"_s;
}

void TestTarnpostTls::certificateRefused()
{
    QFETCH(QString, cert);
    QFETCH(qint16, security);
    QFETCH(QString, reason);
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed");
    DovecotServer server;
    QVERIFY2(startTlsServer(server, cert), qPrintable(server.errorString()));
    server.addMessage(u"alice"_s, kSpam);

    Tarnpost t;
    configureFor(t, server, security);
    t.Connect();
    QCOMPARE(t.Error(), qint16(Tarnpostctl::ErrorTlsHandshake));
    QVERIFY2(t.ErrorText().startsWith(u"TLS handshake failed: "_s), qPrintable(t.ErrorText()));
    QVERIFY2(t.ErrorText().contains(reason, Qt::CaseInsensitive), qPrintable(t.ErrorText()));
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(t.MsgCount(), 0);

    // The server saw no login attempt at all, in clear or otherwise.
    QVERIFY(waitUntil([&] { return server.logTail(200).contains(u"pop3-login: "_s); }));
    const QString log = server.logTail(200);
    QVERIFY2(log.contains(u"no auth attempts"_s), qPrintable(log));
    QVERIFY2(!log.contains(u"user=<alice>"_s), qPrintable(log));
    QCOMPARE(server.messageCount(u"alice"_s), 1);
}

void TestTarnpostTls::tlsAgainstClearListener()
{
    if (!m_trusted)
        QSKIP("dovecot is not installed");
    Tarnpost t;
    configureFor(t, *m_trusted, Tls);
    t.setPOPPort(m_trusted->port());  // greets in clear text
    t.Connect();
    QCOMPARE(t.Error(), qint16(Tarnpostctl::ErrorTlsHandshake));
    QVERIFY(t.ErrorText().startsWith(u"TLS handshake failed: "_s));
    QVERIFY(t.ErrorText().size() > QStringLiteral("TLS handshake failed: ").size());
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.ConnectResponse(), QString());
}

void TestTarnpostTls::serverWithoutStls()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed");
    DovecotServer server;  // ssl = no
    server.addUser(u"alice"_s, u"alicepw"_s);
    QVERIFY2(server.start(u"127.0.0.1"_s, 0), qPrintable(server.errorString()));

    Tarnpost t;
    configureFor(t, server, Stls);
    t.Connect();
    QCOMPARE(t.Error(), qint16(Tarnpostctl::ErrorNoStls));
    QCOMPARE(t.ErrorText(), u"Server does not offer STLS"_s);
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);

    // Clear text, asked for, still works against the same server.
    QVERIFY(t.setPOPSecurity(None));
    t.Connect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.Status(), qint16(1));
    t.Disconnect();
}

void TestTarnpostTls::stlsRefusedByScriptedServer()
{
    ScriptedPop3Server server;
    server.expect("STLS", {"-ERR Unknown command\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    QVERIFY(t.setPOPSecurity(Stls));
    t.Connect();
    QCOMPARE(t.Error(), qint16(Tarnpostctl::ErrorNoStls));
    QCOMPARE(t.ErrorText(), u"Server does not offer STLS"_s);
    QVERIFY(waitUntil([&] { return server.connectionCount() == 1 && t.SocketState() == 0; }));
    QTest::qWait(200);  // a USER sent by mistake would have arrived by now
    QCOMPARE(server.receivedLines(), (QList<QByteArray>{"STLS"}));
    QVERIFY(server.mismatches().isEmpty());
}

void TestTarnpostTls::dataInjectedAfterStlsReply()
{
    // Clear bytes queued behind the "+OK" would pass for protected replies.
    ScriptedPop3Server server;
    server.expect("STLS", {"+OK Begin TLS\r\n+OK fake\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    QVERIFY(t.setPOPSecurity(Stls));
    t.Connect();
    QCOMPARE(t.Error(), qint16(Tarnpostctl::ErrorTlsHandshake));
    QCOMPARE(t.ErrorText(), u"TLS handshake failed: The server sent data after its STLS reply"_s);
    QCOMPARE(t.Status(), qint16(0));
    QTest::qWait(200);
    QCOMPARE(server.receivedLines(), (QList<QByteArray>{"STLS"}));
}

void TestTarnpostTls::handshakeNeverAnswered()
{
    // The server says yes to STLS and then stays silent: the wait ends with
    // the timeout, as a TLS failure, and nothing else was sent.
    ScriptedPop3Server server;
    server.expect("STLS", {"+OK Begin TLS\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port(), 1);
    QVERIFY(t.setPOPSecurity(Stls));
    t.Connect();
    QCOMPARE(t.Error(), qint16(Tarnpostctl::ErrorTlsHandshake));
    QVERIFY2(t.ErrorText().startsWith(u"TLS handshake failed: "_s), qPrintable(t.ErrorText()));
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
    const QList<QByteArray> lines = server.receivedLines();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.first(), QByteArray("STLS"));
    for (const QByteArray &line : lines) {
        QVERIFY(!line.contains("USER"));
        QVERIFY(!line.contains("PASS"));
    }
}

void TestTarnpostTls::peerFailsTlsHandshake_data()
{
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("reason");  // empty: any reason will do
    // A listener that reads the client hello and closes at once.
    QTest::newRow("closes") << true << QString();
    // One that never answers: a TLS failure, not a connect timeout.
    QTest::newRow("silent") << false << u"No answer from the server within the timeout"_s;
}

void TestTarnpostTls::peerFailsTlsHandshake()
{
    QFETCH(bool, closes);
    QFETCH(QString, reason);
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    QByteArray received;
    connect(&listener, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *peer = listener.nextPendingConnection();
        connect(peer, &QTcpSocket::readyRead, peer, [&received, peer, closes] {
            received += peer->readAll();
            if (closes)
                peer->close();
        });
    });
    Tarnpost t;
    configure(t, listener.serverPort(), closes ? 3 : 1);
    QVERIFY(t.setPOPSecurity(Tls));
    t.Connect();
    QCOMPARE(t.Error(), qint16(Tarnpostctl::ErrorTlsHandshake));
    QVERIFY(t.ErrorText().startsWith(u"TLS handshake failed: "_s));
    if (!reason.isEmpty())
        QCOMPARE(t.ErrorText(), u"TLS handshake failed: "_s + reason);
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
    QVERIFY(!received.isEmpty());  // the client hello, and nothing in clear
    QVERIFY(!received.contains("USER"));
}

void TestTarnpostTls::securityProperty_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qint16>("expected");
    QTest::newRow("none") << QVariant(0) << true << qint16(0);
    QTest::newRow("tls") << QVariant(1) << true << qint16(1);
    QTest::newRow("stls as text") << QVariant(u" 2 "_s) << true << qint16(2);
    QTest::newRow("above the range") << QVariant(3) << false << qint16(1);
    QTest::newRow("negative") << QVariant(-1) << false << qint16(1);
    QTest::newRow("not a number") << QVariant(u"tls"_s) << false << qint16(1);
}

void TestTarnpostTls::securityProperty()
{
    QFETCH(QVariant, value);
    QFETCH(bool, accepted);
    QFETCH(qint16, expected);
    using namespace Tarnpostctl;

    Tarnpost t;
    t.initNew();
    QCOMPARE(t.POPSecurity(), qint16(0));
    QVERIFY(t.setPOPSecurity(1));
    QVariantList args{value};
    const Automation::InvokeResult r = t.invoke(DispIdPOPSecurity, Automation::InvokeKind::PropertyPut, args);
    QCOMPARE(r.ok(), accepted);
    QVariantList none;
    QVariant read;
    QVERIFY(t.invoke(DispIdPOPSecurity, Automation::InvokeKind::PropertyGet, none, &read).ok());
    QCOMPARE(read.value<qint16>(), expected);
    QString key = u" popsecurity"_s;
    QCOMPARE(t.GetStringValueOfProperty(key), QString::number(expected));

    // Listed after the original 41 slots, which keep their places.
    const QList<Automation::MemberInfo> table = t.typeInfo();
    QCOMPARE(table.size(), 47);  // MaxMessageSize and Prefetch follow
    QCOMPARE(table.at(41).id, qint32(DispIdPOPSecurity));
    QCOMPARE(table.at(41).name, u"POPSecurity"_s);
    QCOMPARE(table.at(41).invokeKind, Automation::InvokeKind::PropertyGet);
    QCOMPARE(table.at(42).invokeKind, Automation::InvokeKind::PropertyPut);
    QCOMPARE(table.at(40).id, qint32(DispIdWriteCurrentMsgToFile));

    // Not persisted: a saved window holds the same five keys as before.
    struct Bag final : Automation::PropertyBag {
        QStringList keys;
        QVariant read(const QString &) const override { return {}; }
        void write(const QString &key, const QVariant &) override { keys << key; }
    } bag;
    t.save(bag);
    QCOMPARE(bag.keys, (QStringList{u"POPHostname"_s, u"POPPort"_s, u"POPUsername"_s, u"POPPassword"_s,
                                    u"POPTimeout"_s}));
}

QTEST_MAIN(TestTarnpostTls)
#include "tst_tarnposttls.moc"
