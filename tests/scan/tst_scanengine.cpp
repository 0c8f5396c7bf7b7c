// The scan with the real control in the real window (offscreen), for what
// needs a server: a throw-away Dovecot, and a scripted server for failures.
// The rules, captions and spam action are tested without either (tst_scanrules).

#include "config/listtable.h"
#include "dovecot/dovecotserver.h"
#include "pop3/include/tarnpostctl.h"
#include "scan/mailboxscanner.h"
#include "tests/support/programfolder.h"
#include "tests/support/scriptedpop3server.h"

#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace ProgramTest;

namespace {

QByteArray message(const QByteArray &from, const QByteArray &subject, const QByteArray &body,
                   const QByteArray &received = "from mail.example (mail.example [192.0.2.7])")
{
    QByteArray m = "Received: " + received + "\nReturn-Path: <bounce@example.net>\n";
    if (!from.isNull())
        m += "From: " + from + "\n";
    m += "To: me@example.org\nSubject: " + subject + "\n\n" + body + "\n";
    return m;
}

} // namespace

class tst_ScanEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void emptyMailboxStillWritesStatistics();
    void failedLoginPassesToNextAccount();
    void failedRetrievalEndsTheAccount();

private:
    // Starts Dovecot where the window's control reaches it: port 110 of an
    // address of this test's own (as root), else a free port handed to the control.
    bool startServer(DovecotServer &server, const QString &address);
    void pointControlAt(frmMain &form, const DovecotServer &server);
};

void tst_ScanEngine::init()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (scripts/install-deps.sh installs it)");
}

bool tst_ScanEngine::startServer(DovecotServer &server, const QString &address)
{
    if (isRoot())
        return server.start(address, 110);
    return server.start(u"127.0.0.1"_s, 0);
}

void tst_ScanEngine::pointControlAt(frmMain &form, const DovecotServer &server)
{
    // Only needed without root: the window's saved port is 110.
    if (server.port() != 110)
        form.Tarnpost1().setPOPPort(server.port());
}

void tst_ScanEngine::emptyMailboxStillWritesStatistics()
{
    DovecotServer server;
    server.addUser(u"dave"_s, u"davepw"_s);
    QVERIFY2(startServer(server, u"127.83.5.4"_s), qPrintable(server.errorString()));

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, server.address().toUtf8() + ",dave,davepw\r\n"));
    auto form = openWindow(folder);
    pointControlAt(*form, server);
    form->txttotalemailsever()->setText(u"7"_s);
    QFile::remove(folder.file(u"stats.dat"_s));

    Scan::MailboxScanner(*form).run();

    QCOMPARE(form->txttotalemailsever()->text(), u"7"_s);
    QCOMPARE(form->Label17()->text(),
             u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s);
    QVERIFY(folder.read(u"stats.dat"_s).contains("\r\n7\r\n"));
    QCOMPARE(form->Tarnpost1().Status(), qint16(Tarnpostctl::StatusDisconnected));
}

void tst_ScanEngine::failedLoginPassesToNextAccount()
{
    DovecotServer server;
    server.addUser(u"erin"_s, u"erinpw"_s);
    server.addUser(u"frank"_s, u"frankpw"_s);
    server.addMessage(u"erin"_s, message("x@spam.example", "one", "1"));
    server.addMessage(u"frank"_s, message("x@spam.example", "two", "2"));
    QVERIFY2(startServer(server, u"127.83.5.5"_s), qPrintable(server.errorString()));

    ProgramFolder folder;
    const QByteArray host = server.address().toUtf8();
    QVERIFY(folder.write(u"accounts.dat"_s, host + ",erin,wrong\r\n" + host + ",frank,frankpw\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    auto form = openWindow(folder);
    pointControlAt(*form, server);
    blacklistOnly(*form);

    Scan::MailboxScanner(*form).run();

    QCOMPARE(server.messageCount(u"erin"_s), 1);
    QCOMPARE(server.messageCount(u"frank"_s), 0);
    QCOMPARE(form->txttotalemailsever()->text(), u"1"_s);
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"1"_s);
}

void tst_ScanEngine::failedRetrievalEndsTheAccount()
{
    ScriptedPop3Server pop;
    pop.setGreeting({"+OK ready\r\n"});
    pop.expect("USER u", {"+OK\r\n"});
    pop.expect("PASS p", {"+OK\r\n"});
    pop.expect("STAT", {"+OK 3 300\r\n"});
    // The scan fetches ahead; this server takes one command at a time.
    pop.expect("CAPA", {"+OK\r\nUIDL\r\n.\r\n"});
    pop.expect("UIDL", {"+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n"});
    pop.expect("LIST", {"+OK\r\n1 100\r\n2 100\r\n3 100\r\n.\r\n"});
    pop.expect("RETR 1", {"-ERR broken\r\n"});
    QVERIFY(pop.start());

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,u,p\r\n"));
    auto form = openWindow(folder);
    form->Tarnpost1().setPOPPort(pop.port());
    form->txttotalemailsever()->setText(u"0"_s);

    Scan::MailboxScanner(*form).run();

    // The control closed the session after the failure: the account ends
    // there, with the server's answer in the status line, and nothing more
    // went to the server. Only the message walked counts.
    QCOMPARE(form->txttotalemailsever()->text(), u"1"_s);
    QCOMPARE(form->Label17()->text(), u"127.0.0.1: Error retrieving the message: -ERR broken"_s);
    QCOMPARE(pop.receivedLines().size(), 7);
    QVERIFY2(pop.mismatches().isEmpty(), qPrintable(pop.mismatches().join(u'\n')));
    QCOMPARE(form->Tarnpost1().Status(), qint16(Tarnpostctl::StatusDisconnected));
}

QTEST_MAIN(tst_ScanEngine)
#include "tst_scanengine.moc"
