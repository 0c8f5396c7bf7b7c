// The scan over accounts written as pop3s://, pop3+stls:// and pop3:// with
// ports, against a real Dovecot with a certificate made here. The trust store
// is this process's own (the test CA only), never the machine's.

#include "config/listtable.h"
#include "config/widgets/frmaddaccount.h"
#include "dovecot/dovecotserver.h"
#include "scan/mailboxscanner.h"
#include "tests/support/programfolder.h"
#include "ui/accountconnectiontest.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace ProgramTest;

namespace {

QByteArray message(const QByteArray &from, const QByteArray &subject)
{
    return "From: " + from + "\nTo: me@example.org\nSubject: " + subject + "\n\nBody of " + subject + ".\n";
}

// The Dovecot log line of a user's login, or empty.
QString loginLine(const DovecotServer &server, const QString &user)
{
    const QStringList lines = server.logTail(400).split(u'\n');
    for (const QString &line : lines) {
        if (line.contains(u"Login: user=<"_s + user + u'>'))
            return line;
    }
    return {};
}

} // namespace

class tst_ScanSecure : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void secureAccountThenPlainAccount_data();
    void secureAccountThenPlainAccount();
    void untrustedServerIsPassedOver();
    void accountOnItsOwnPort();
    void testConnection_data();
    void testConnection();

private:
    QString certPath(const QString &name) const { return m_dir.filePath(name + u".pem"_s); }
    QString keyPath(const QString &name) const { return m_dir.filePath(name + u".key"_s); }
    // As root: port 110 (the window's) and 995 on an address of this run's
    // own; otherwise free ports on 127.0.0.1.
    bool startServer(DovecotServer &server, const QString &cert);

    QTemporaryDir m_dir;
    QString m_address;
    QSslConfiguration m_savedDefault;
};

void tst_ScanSecure::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Parallel runs of the suite must not meet on the same address.
    m_address = isRoot() ? u"127.84.%1.1"_s.arg(::getpid() % 250 + 1) : u"127.0.0.1"_s;
    QString error;
    QVERIFY2(DovecotServer::createCertificate(certPath(u"trusted"_s), keyPath(u"trusted"_s), {m_address}, &error),
             qPrintable(error));
    QVERIFY2(DovecotServer::createCertificate(certPath(u"stranger"_s), keyPath(u"stranger"_s), {m_address}, &error),
             qPrintable(error));
    m_savedDefault = QSslConfiguration::defaultConfiguration();
    QSslConfiguration config = m_savedDefault;
    config.setCaCertificates(QSslCertificate::fromPath(certPath(u"trusted"_s)));
    QSslConfiguration::setDefaultConfiguration(config);
}

void tst_ScanSecure::cleanupTestCase() { QSslConfiguration::setDefaultConfiguration(m_savedDefault); }

void tst_ScanSecure::init()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (scripts/install-deps.sh installs it)");
    if (!QSslSocket::supportsSsl())
        QSKIP("no TLS library");
}

bool tst_ScanSecure::startServer(DovecotServer &server, const QString &cert)
{
    if (!cert.isEmpty())
        server.enableTls(certPath(cert), keyPath(cert), isRoot() ? 995 : 0);
    return server.start(m_address, isRoot() ? 110 : 0);
}

void tst_ScanSecure::secureAccountThenPlainAccount_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("tlsPort"); // the address names the TLS listener
    QTest::newRow("tls from the first byte") << u"pop3s://"_s << true;
    QTest::newRow("stls") << u"pop3+stls://"_s << false;
}

void tst_ScanSecure::secureAccountThenPlainAccount()
{
    QFETCH(QString, scheme);
    QFETCH(bool, tlsPort);

    DovecotServer server;
    server.addUser(u"alice"_s, u"alicepw"_s);
    server.addUser(u"bob"_s, u"bobpw"_s);
    for (const QString &user : {u"alice"_s, u"bob"_s}) {
        server.addMessage(user, message("Friend <friend@example.org>", "Lunch"));
        server.addMessage(user, message("Pharma <deals@spam.example>", "Best prices"));
    }
    QVERIFY2(startServer(server, u"trusted"_s), qPrintable(server.errorString()));

    // As root the secure account names no port: 995 (pop3s) or 110 (STLS) by default.
    QString secure = scheme + server.address();
    const quint16 port = tlsPort ? server.tlsPort() : server.port();
    if (!isRoot())
        secure += u':' + QString::number(port);

    ProgramFolder folder;
    // The plain account comes second: it must get the window's port back.
    QVERIFY(folder.write(u"accounts.dat"_s,
                         secure.toUtf8() + ",alice,alicepw\r\n" + server.address().toUtf8() + ",bob,bobpw\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    auto form = openWindow(folder);
    if (!isRoot())
        form->Tarnpost1().setPOPPort(server.port()); // the window's saved port
    const qint32 savedPort = form->Tarnpost1().POPPort();
    blacklistOnly(*form);
    form->txttotalemailsever()->setText(u"0"_s);
    form->txtEmailsBlockedCount()->setText(u"0"_s);

    Scan::MailboxScanner(*form).run();

    // The spam is gone from both mailboxes, exactly as over clear text.
    for (const QString &user : {u"alice"_s, u"bob"_s}) {
        const QList<QByteArray> left = server.messages(user);
        QCOMPARE(left.size(), 1);
        QVERIFY(left.first().contains("Subject: Lunch"));
    }
    QCOMPARE(spamBoxes(),
             (QStringList{u"Spam fromPharma <deals@spam.example>"_s, u"Spam fromPharma <deals@spam.example>"_s}));
    QCOMPARE(form->txttotalemailsever()->text(), u"4"_s);
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"2"_s);

    // alice logged in over TLS; bob in clear text on the window's port.
    const QString alice = loginLine(server, u"alice"_s);
    const QString bob = loginLine(server, u"bob"_s);
    QVERIFY2(alice.contains(u", TLS"_s), qPrintable(server.logTail()));
    QVERIFY2(!bob.isEmpty() && !bob.contains(u"TLS"_s), qPrintable(server.logTail()));

    // The window keeps its own settings after the scan.
    QCOMPARE(form->Tarnpost1().POPPort(), savedPort);
    QCOMPARE(form->Tarnpost1().POPSecurity(), qint16(0));
}

void tst_ScanSecure::untrustedServerIsPassedOver()
{
    DovecotServer stranger;
    stranger.addUser(u"carol"_s, u"carolpw"_s);
    stranger.addMessage(u"carol"_s, message("x@spam.example", "Offer"));
    QVERIFY2(startServer(stranger, u"stranger"_s), qPrintable(stranger.errorString()));

    ProgramFolder folder;
    const QByteArray host = stranger.address().toUtf8();
    QVERIFY(folder.write(u"accounts.dat"_s, "pop3s://" + host + ':' + QByteArray::number(stranger.tlsPort())
                                                + ",carol,carolpw\r\npop3+stls://" + host + ':'
                                                + QByteArray::number(stranger.port()) + ",carol,carolpw\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    auto form = openWindow(folder);
    blacklistOnly(*form);
    form->txttotalemailsever()->setText(u"0"_s);

    Scan::MailboxScanner(*form).run();

    QCOMPARE(stranger.messageCount(u"carol"_s), 1);
    QVERIFY(spamBoxes().isEmpty());
    QCOMPARE(form->txttotalemailsever()->text(), u"0"_s);
    // Neither account got as far as a login attempt.
    const QString log = stranger.logTail(400);
    QVERIFY2(loginLine(stranger, u"carol"_s).isEmpty(), qPrintable(log));
    QVERIFY2(!log.contains(u"user=<carol>"_s), qPrintable(log));
    QVERIFY2(log.count(u"no auth attempts"_s) >= 2, qPrintable(log));
}

void tst_ScanSecure::accountOnItsOwnPort()
{
    // No privileged port: a clear-text account on a port of its own, while
    // the window keeps 110. A malformed address before it is passed over.
    DovecotServer server;
    server.addUser(u"dave"_s, u"davepw"_s);
    server.addMessage(u"dave"_s, message("x@spam.example", "Offer"));
    server.addMessage(u"dave"_s, message("y@example.org", "Hello"));
    QVERIFY2(server.start(u"127.0.0.1"_s, 0), qPrintable(server.errorString()));
    QVERIFY(server.port() != 110);

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "pop3s://127.0.0.1:99999,dave,davepw\r\npop3://127.0.0.1:"
                                                + QByteArray::number(server.port()) + ",dave,davepw\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    auto form = openWindow(folder);
    QCOMPARE(form->Tarnpost1().POPPort(), 110);
    blacklistOnly(*form);
    form->txttotalemailsever()->setText(u"0"_s);

    Scan::MailboxScanner(*form).run();

    const QList<QByteArray> left = server.messages(u"dave"_s);
    QCOMPARE(left.size(), 1);
    QVERIFY(left.first().contains("Subject: Hello"));
    QCOMPARE(form->txttotalemailsever()->text(), u"2"_s);
    QCOMPARE(form->Tarnpost1().POPPort(), 110);
}

void tst_ScanSecure::testConnection_data()
{
    QTest::addColumn<QString>("server"); // "silent": a peer that takes the connection and says nothing
    QTest::addColumn<QString>("cert");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("good, TLS") << u"pop3s"_s << u"trusted"_s << u"erinpw"_s << u"2 messages, TLS certificate ok"_s;
    QTest::newRow("good, STLS") << u"pop3+stls"_s << u"trusted"_s << u"erinpw"_s << u"2 messages, TLS certificate ok"_s;
    QTest::newRow("good, clear text") << u"pop3"_s << QString() << u"erinpw"_s
                                      << u"2 messages, no TLS: the password travels in clear text"_s;
    QTest::newRow("wrong password") << u"pop3s"_s << u"trusted"_s << u"wrong"_s
                                    << u"Error received from PASS command: -ERR [AUTH] Authentication failed."_s;
    QTest::newRow("self-signed certificate")
        << u"pop3s"_s << u"stranger"_s << u"erinpw"_s << u"TLS handshake failed: "_s;
    QTest::newRow("stopped while the server is silent")
        << u"silent"_s << QString() << u"erinpw"_s << u"The test was stopped."_s;
}

void tst_ScanSecure::testConnection()
{
    QFETCH(QString, server);
    QFETCH(QString, cert);
    QFETCH(QString, password);
    QFETCH(QString, outcome);

    DovecotServer dovecot;
    QTcpServer silent;
    QString address;
    if (server == u"silent"_s) {
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        address = u"pop3://127.0.0.1:%1"_s.arg(silent.serverPort());
    } else {
        dovecot.addUser(u"erin"_s, u"erinpw"_s);
        dovecot.addMessage(u"erin"_s, message("a@example.org", "One"));
        dovecot.addMessage(u"erin"_s, message("b@example.org", "Two"));
        if (!cert.isEmpty())
            dovecot.enableTls(certPath(cert), keyPath(cert));
        QVERIFY2(dovecot.start(m_address, 0), qPrintable(dovecot.errorString()));
        const quint16 port = server == u"pop3s"_s ? dovecot.tlsPort() : dovecot.port();
        address = server + u"://"_s + dovecot.address() + u':' + QString::number(port);
    }

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "other.example,x,y\r\n"));
    auto form = openWindow(folder);
    frmAddAccount dialog(*form, form.get());
    QVERIFY(dialog.cmdTestConnection()->isHidden()); // no tester, no button
    AccountConnectionTest tester(folder.path(), &dialog);
    dialog.setAccountTester(&tester);
    dialog.txtAddMailServer()->setText(address);
    dialog.txtAddLoginName()->setText(u"erin"_s);
    dialog.txtAddPassword()->setText(password);

    // The dialog answers while the test waits: Stop is clicked from inside the wait.
    bool okDisabledDuringTest = false;
    connect(&silent, &QTcpServer::newConnection, &dialog, [&] {
        okDisabledDuringTest = !dialog.cmdAddAccountInfo()->isEnabled();
        QVERIFY(dialog.isTesting());
        dialog.cmdTestConnection()->click();
    });
    QTest::mouseClick(dialog.cmdTestConnection(), Qt::LeftButton);

    QVERIFY(!dialog.isTesting());
    QVERIFY2(dialog.lblTestResult()->text().startsWith(outcome), qPrintable(dialog.lblTestResult()->text()));
    QVERIFY(dialog.cmdAddAccountInfo()->isEnabled());
    QCOMPARE(dialog.cmdTestConnection()->text(), u"&Test connection"_s);
    if (server == u"silent"_s) {
        QVERIFY(okDisabledDuringTest);
        return;
    }
    // A test reads and deletes nothing, and nothing went into the list.
    QCOMPARE(dovecot.messageCount(u"erin"_s), 2);
    QCOMPARE(form->gridAccounts()->rowCountValue(), 1);
    const QString log = dovecot.logTail(400);
    if (cert == u"stranger"_s)
        QVERIFY2(loginLine(dovecot, u"erin"_s).isEmpty(), qPrintable(log)); // no password reached it
    else if (password == u"erinpw"_s)
        QVERIFY2(!loginLine(dovecot, u"erin"_s).isEmpty(), qPrintable(log));
}

QTEST_MAIN(tst_ScanSecure)
#include "tst_scansecure.moc"
