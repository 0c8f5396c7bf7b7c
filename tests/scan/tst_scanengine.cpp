// The scan end to end: the real control in the real window (offscreen)
// against a throw-away Dovecot, and against a scripted server for failures.

#include "archivewriter.h"
#include "dovecotserver.h"
#include "listtable.h"
#include "mailboxscanner.h"
#include "programfolder.h"
#include "scriptedpop3server.h"

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
    void rulesDecideInOrder();
    void switchedOffRulesDecideNothing_data();
    void switchedOffRulesDecideNothing();
    void archiveNamesStayInsideTheFolder();
    void emptyAccountsListTouchesNothing();
    void emptyMailboxStillWritesStatistics();
    void failedLoginPassesToNextAccount();
    void failedRetrievalEndsTheAccount();
    void nonNumericTotals();

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

void tst_ScanEngine::rulesDecideInOrder()
{
    DovecotServer server;
    server.addUser(u"alice"_s, u"alicepw"_s);
    // 1: in both lists (whitelist wins); 2: blacklisted; 3: keyword in the
    // subject; 4: keyword in the body only; 5: clean, with a bracketed sender IP;
    // 6: UTF-8 subject caught by a keyword typed in another case.
    server.addMessage(u"alice"_s, message("Boss <boss@spam.example>", "Quarterly plan", "Numbers attached."));
    server.addMessage(u"alice"_s, message("Pharma <deals@spam.example>", "Best prices", "Buy now."));
    server.addMessage(u"alice"_s, message("a@clean.example", "Cheap VIAGRA now", "Hello."));
    server.addMessage(u"alice"_s, message("b@clean.example", "Hello", "You are a lottery winner!"));
    server.addMessage(u"alice"_s, message("c@clean.example", "Meeting", "See you.", "from [10.1.2.3] by mx.example"));
    server.addMessage(u"alice"_s, message("d@clean.example", "Gro\xc3\x9f" "e \xc3\xbc" "berweisung", "Text."));
    QVERIFY2(startServer(server, u"127.83.5.1"_s), qPrintable(server.errorString()));
    QCOMPARE(server.messageCount(u"alice"_s), 6);

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, server.address().toUtf8() + ",alice,alicepw\r\n"));
    QVERIFY(folder.write(u"whitelist.dat"_s, "boss@\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    QVERIFY(folder.write(u"keywords.dat"_s, "viagra\r\nLottery\r\n\xc3\x9c" "BERWEISUNG\r\n"));
    auto form = openWindow(folder);
    pointControlAt(*form, server);
    setRules(*form, Qt::Checked, Qt::Checked, Qt::Checked, Qt::Checked);
    form->txttotalemailsever()->setText(u"10"_s);
    form->txtEmailsBlockedCount()->setText(u"4"_s);

    Scan::MailboxScanner scanner(*form);
    QStringList captions;
    connect(&scanner, &Scan::MailboxScanner::captionWritten, this, [&](const QString &c) { captions << c; });
    scanner.run();

    const QString wl = u" CHECKING FOR BOSS@"_s;
    const QString bl = u" CHECKING FOR SPAM.EXAMPLE"_s;
    auto kw = [](const QString &entry, const char *where) -> QString {
        return u"KEYWORD CHECK = "_s + entry + QLatin1StringView(where);
    };
    const QString umlaut = u"\u00dcBERWEISUNG"_s;
    const QStringList expected = {
        u"FROM is BOSS <BOSS@SPAM.EXAMPLE>"_s + wl, u"WHITELIST ADDRESS DETECTED"_s,
        u"FROM is PHARMA <DEALS@SPAM.EXAMPLE>"_s + wl, u"FROM is PHARMA <DEALS@SPAM.EXAMPLE>"_s + bl, u"SPAM DETECTED"_s,
        u"FROM is A@CLEAN.EXAMPLE"_s + wl, u"FROM is A@CLEAN.EXAMPLE"_s + bl,
        kw(u"VIAGRA"_s, " CHECKING SUBJECT"), u"SPAM DETECTED"_s,
        u"FROM is B@CLEAN.EXAMPLE"_s + wl, u"FROM is B@CLEAN.EXAMPLE"_s + bl,
        kw(u"VIAGRA"_s, " CHECKING SUBJECT"), kw(u"VIAGRA"_s, " CHECKING BODY"),
        kw(u"LOTTERY"_s, " CHECKING SUBJECT"), kw(u"LOTTERY"_s, " CHECKING BODY"), u"SPAM DETECTED"_s,
        u"FROM is C@CLEAN.EXAMPLE"_s + wl, u"FROM is C@CLEAN.EXAMPLE"_s + bl, u"CHECKING IP ADDRESS 10.1.2.3"_s,
        kw(u"VIAGRA"_s, " CHECKING SUBJECT"), kw(u"VIAGRA"_s, " CHECKING BODY"),
        kw(u"LOTTERY"_s, " CHECKING SUBJECT"), kw(u"LOTTERY"_s, " CHECKING BODY"),
        kw(umlaut, " CHECKING SUBJECT"), kw(umlaut, " CHECKING BODY"),
        u"FROM is D@CLEAN.EXAMPLE"_s + wl, u"FROM is D@CLEAN.EXAMPLE"_s + bl,
        kw(u"VIAGRA"_s, " CHECKING SUBJECT"), kw(u"VIAGRA"_s, " CHECKING BODY"),
        kw(u"LOTTERY"_s, " CHECKING SUBJECT"), kw(u"LOTTERY"_s, " CHECKING BODY"),
        kw(umlaut, " CHECKING SUBJECT"), u"SPAM DETECTED"_s,
        u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s,
    };
    QCOMPARE(captions.join(u'\n'), expected.join(u'\n'));
    QCOMPARE(form->Label17()->text(), expected.last());

    // Exactly the spam is gone, once the session ended with QUIT.
    const QList<QByteArray> left = server.messages(u"alice"_s);
    QCOMPARE(left.size(), 2);
    QVERIFY(left.at(0).contains("Quarterly plan"));
    QVERIFY(left.at(1).contains("Meeting"));

    QCOMPARE(spamBoxes(), (QStringList{u"Spam fromPharma <deals@spam.example>"_s, u"Spam froma@clean.example"_s,
                                       u"Spam fromb@clean.example"_s, u"Spam fromd@clean.example"_s}));
    QCOMPARE(form->txttotalemailsever()->text(), u"16"_s);
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"8"_s);

    // The archive holds each message as the server sent it.
    QCOMPARE(folder.archive(), (QStringList{u"Best prices.html"_s, u"Cheap VIAGRA now.html"_s,
                                            u"Gro\u00dfe \u00fcberweisung.html"_s, u"Hello.html"_s}));
    const QByteArray archived = folder.read(u"SpamDeleted/Cheap VIAGRA now.html"_s);
    QVERIFY(archived.startsWith(QByteArray(Scan::ArchiveWriter::inertPrefix() + "Received: from mail.example")));
    QVERIFY(archived.contains("\r\nSubject: Cheap VIAGRA now\r\n\r\nHello."));

    const QList<QByteArray> stats = folder.read(u"stats.dat"_s).split('\n');
    QVERIFY(stats.size() >= 6);
    QCOMPARE(stats.at(4), QByteArray("8\r"));
    QCOMPARE(stats.at(5), QByteArray("16\r"));
}

void tst_ScanEngine::switchedOffRulesDecideNothing_data()
{
    QTest::addColumn<Qt::CheckState>("state");
    QTest::newRow("off") << Qt::Unchecked;
    QTest::newRow("greyed") << Qt::PartiallyChecked;
}

void tst_ScanEngine::switchedOffRulesDecideNothing()
{
    QFETCH(Qt::CheckState, state);
    DovecotServer server;
    server.addUser(u"bob"_s, u"bobpw"_s);
    server.addMessage(u"bob"_s, message("x@spam.example", "viagra", "viagra"));
    QVERIFY2(startServer(server, u"127.83.5.2"_s), qPrintable(server.errorString()));

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, server.address().toUtf8() + ",bob,bobpw\r\n"));
    QVERIFY(folder.write(u"whitelist.dat"_s, "x@\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    QVERIFY(folder.write(u"keywords.dat"_s, "viagra\r\n"));
    auto form = openWindow(folder);
    pointControlAt(*form, server);
    setRules(*form, state, state, state, state);

    Scan::MailboxScanner scanner(*form);
    QStringList captions;
    connect(&scanner, &Scan::MailboxScanner::captionWritten, this, [&](const QString &c) { captions << c; });
    scanner.run();

    QCOMPARE(captions, QStringList{u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s});
    QCOMPARE(server.messageCount(u"bob"_s), 1);
    QCOMPARE(form->txttotalemailsever()->text(), u"1"_s);
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"0"_s);
}

void tst_ScanEngine::archiveNamesStayInsideTheFolder()
{
    DovecotServer server;
    server.addUser(u"carol"_s, u"carolpw"_s);
    server.addMessage(u"carol"_s, message("x@spam.example", "Same subject", "first"));
    server.addMessage(u"carol"_s, message("x@spam.example", "Same subject", "second"));
    server.addMessage(u"carol"_s, message("x@spam.example", "", "empty subject"));
    server.addMessage(u"carol"_s, message("x@spam.example", "../../escape", "climber"));
    server.addMessage(u"carol"_s, message("x@spam.example", QByteArray(300, 'L'), "long"));
    QVERIFY2(startServer(server, u"127.83.5.3"_s), qPrintable(server.errorString()));

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, server.address().toUtf8() + ",carol,carolpw\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    auto form = openWindow(folder);
    pointControlAt(*form, server);
    blacklistOnly(*form);

    Scan::MailboxScanner(*form).run();

    QCOMPARE(server.messageCount(u"carol"_s), 0);
    const QString longName = QString(250, u'L') + u".html"_s;
    QCOMPARE(folder.archive(), (QStringList{u".._.._escape.html"_s, u".html"_s, longName, u"Same subject (2).html"_s,
                                            u"Same subject.html"_s}));
    // A later message of the same subject never replaces an earlier one.
    QVERIFY(folder.read(u"SpamDeleted/Same subject.html"_s).endsWith("first"));
    QVERIFY(folder.read(u"SpamDeleted/Same subject (2).html"_s).endsWith("second"));
    QVERIFY(folder.read(u"SpamDeleted/.html"_s).endsWith("empty subject"));
    // Nothing was written beside the archive folder.
    QVERIFY(!QFile::exists(folder.file(u"escape.html"_s)));
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"5"_s);
}

void tst_ScanEngine::emptyAccountsListTouchesNothing()
{
    ProgramFolder folder;
    MessageBox::setTestMode(true);
    frmMain form(folder.path());
    form.Label17()->setText(u"before"_s);

    Scan::MailboxScanner scanner(form);
    QStringList captions;
    connect(&scanner, &Scan::MailboxScanner::captionWritten, this, [&](const QString &c) { captions << c; });
    scanner.run();

    QVERIFY(captions.isEmpty());
    QCOMPARE(form.Label17()->text(), u"before"_s);
    QVERIFY(!QFile::exists(folder.file(u"stats.dat"_s)));
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
    QCOMPARE(form->Tarnpost1().Status(), qint16(0));
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
    QCOMPARE(form->Tarnpost1().Status(), qint16(0));
}

void tst_ScanEngine::nonNumericTotals()
{
    DovecotServer server;
    server.addUser(u"gina"_s, u"ginapw"_s);
    server.addMessage(u"gina"_s, message("x@spam.example", "a", "1"));
    server.addMessage(u"gina"_s, message("ok@example.org", "b", "2"));
    QVERIFY2(startServer(server, u"127.83.5.6"_s), qPrintable(server.errorString()));

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, server.address().toUtf8() + ",gina,ginapw\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    auto form = openWindow(folder);
    pointControlAt(*form, server);
    blacklistOnly(*form);
    form->txttotalemailsever()->setText(u"lots"_s);
    form->txtEmailsBlockedCount()->setText(u"many"_s);

    Scan::MailboxScanner(*form).run();

    // A hand-edited total: the blocked total stays as it was, the scanned
    // total counts this run's messages.
    QCOMPARE(form->txttotalemailsever()->text(), u"2"_s);
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"many"_s);
    QCOMPARE(server.messageCount(u"gina"_s), 1);
}

QTEST_MAIN(tst_ScanEngine)
#include "tst_scanengine.moc"
