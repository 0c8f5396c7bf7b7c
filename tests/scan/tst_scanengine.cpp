// The scan with the real control in the real window (offscreen), for what
// needs a server: a throw-away Dovecot, and a scripted server for failures.
// The rules, captions and spam action are tested without either (tst_scanrules).

#include "config/listtable.h"
#include "dovecot/dovecotserver.h"
#include "pop3/include/tarnpostctl.h"
#include "scan/mailboxscanner.h"
#include "state/reviewlist.h"
#include "state/statedatabase.h"
#include "tests/support/programfolder.h"
#include "tests/support/scriptedpop3server.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace ProgramTest;

namespace {

// The commands of a kind among those a server received, e.g. every "RETR".
QList<QByteArray> named(const QList<QByteArray> &commands, const QByteArray &name)
{
    QList<QByteArray> found;
    for (const QByteArray &command : commands) {
        if (command.startsWith(name))
            found.append(command);
    }
    return found;
}

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
    void judgeOnceAcrossScans_data();
    void judgeOnceAcrossScans();

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
    QCOMPARE(form->Label17()->text(), u"1 account failed: 127.0.0.1 (u): Error retrieving the message: -ERR broken"_s);
    QCOMPARE(pop.receivedLines().size(), 7);
    QVERIFY2(pop.mismatches().isEmpty(), qPrintable(pop.mismatches().join(u'\n')));
    QCOMPARE(form->Tarnpost1().Status(), qint16(Tarnpostctl::StatusDisconnected));
}

void tst_ScanEngine::judgeOnceAcrossScans_data()
{
    // Scan 1 holds a spam (id c, message 1) and keeps two hams (ids a, b)
    // after it; the row's change follows; scan 2 runs. The hams come after a
    // message scan 2 fetches, so they would be fetched ahead unless passed over.
    QTest::addColumn<bool>("judgeOnce");
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QList<QByteArray>>("retrieved"); // by scan 2
    QTest::addColumn<QString>("scanned");             // the total after both scans
    QTest::addColumn<QStringList>("remembered");      // ids in the memory after scan 2

    const QStringList both{u"a"_s, u"b"_s};
    QTest::newRow("setting off: every message judged again")
        << false << u"nothing"_s << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3"} << u"6"_s << QStringList();
    QTest::newRow("kept messages are not downloaded again, the held one is")
        << true << u"nothing"_s << QList<QByteArray>{"RETR 1"} << u"4"_s << both;
    QTest::newRow("a new message is judged, the kept ones are not")
        << true << u"new ham"_s << QList<QByteArray>{"RETR 1", "RETR 4"} << u"5"_s
        << QStringList{u"a"_s, u"b"_s, u"d"_s};
    QTest::newRow("a changed list judges every message again")
        << true << u"blacklist entry added"_s << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3"} << u"6"_s << both;
    QTest::newRow("a rule switched on judges every message again")
        << true << u"keywords on"_s << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3"} << u"6"_s << both;
    QTest::newRow("a switched-off list edited: nothing judged again")
        << true << u"keyword added while off"_s << QList<QByteArray>{"RETR 1"} << u"4"_s << both;
    QTest::newRow("a rule that condemns nothing switched on: nothing judged again")
        << true << u"sender IP on"_s << QList<QByteArray>{"RETR 1"} << u"4"_s << both;
    QTest::newRow("asked to check all again")
        << true << u"check all again"_s << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3"} << u"6"_s << both;
    QTest::newRow("a message gone from the server is forgotten")
        << true << u"ham b gone"_s << QList<QByteArray>{"RETR 1"} << u"4"_s << QStringList{u"a"_s};
    QTest::newRow("not spam: downloaded and left as before")
        << true << u"spam marked not spam"_s << QList<QByteArray>{"RETR 1"} << u"4"_s << both;
    // Both are fetched; the one whose headers were judged before is not judged again.
    QTest::newRow("an id given twice names no message: fetched")
        << true << u"ids a, a"_s << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3"} << u"5"_s << QStringList{u"a"_s};
    QTest::newRow("memories that cannot be read: every message judged")
        << true << u"memory damaged"_s << QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3"} << u"6"_s << QStringList();
}

void tst_ScanEngine::judgeOnceAcrossScans()
{
    QFETCH(bool, judgeOnce);
    QFETCH(QString, meanwhile);
    QFETCH(QList<QByteArray>, retrieved);
    QFETCH(QString, scanned);
    QFETCH(QStringList, remembered);

    const QByteArray hamA = message("friend@example.org", "ham a", "Hello.");
    const QByteArray hamB = message("pal@example.org", "ham b", "Lunch?");
    const QByteArray spam = message("x@spam.example", "spam c", "Buy.");
    ScriptedPop3Server server;
    server.addMailbox(u"u"_s, u"p"_s, {spam, hamA, hamB});
    server.setUniqueIds(u"u"_s, {"c", "a", "b"});
    server.setCapabilities({"UIDL", "PIPELINING"});
    QVERIFY(server.start());

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,u,p\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    QVERIFY(folder.write(u"keywords.dat"_s, "never in these messages\r\n"));
    QVERIFY(folder.write(u"settings.ini"_s, "[Scan]\nholdForReview=true\nannounce=tray\njudgeOnce="
                                                + QByteArray(judgeOnce ? "true" : "false") + "\n"));
    auto form = openWindow(folder);
    blacklistOnly(*form);
    form->Tarnpost1().setPOPPort(server.port());
    form->txttotalemailsever()->setText(u"0"_s);
    Scan::MailboxScanner(*form).run();
    QCOMPARE(named(server.commands(u"u"_s), "RETR"), (QList<QByteArray>{"RETR 1", "RETR 2", "RETR 3"}));
    QCOMPARE(form->txttotalemailsever()->text(), u"3"_s);

    // The same account, on a server that no longer has ham b.
    ScriptedPop3Server later;
    later.addMailbox(u"u"_s, u"p"_s, {spam, hamA});
    later.setUniqueIds(u"u"_s, {"c", "a"});
    later.setCapabilities({"UIDL", "PIPELINING"});
    QVERIFY(later.start());
    ScriptedPop3Server *scanned2 = &server;
    StateDatabase state(folder.path());
    QVERIFY(state.open());
    if (meanwhile == u"new ham"_s) {
        server.addMailbox(u"u"_s, u"p"_s, {message("new@example.org", "ham d", "Hi.")});
        server.setUniqueIds(u"u"_s, {"c", "a", "b", "d"});
    } else if (meanwhile == u"blacklist entry added"_s) {
        form->gridblacklist()->appendRow({u"other.example"_s});
    } else if (meanwhile == u"keywords on"_s) {
        form->checkkeywords()->setCheckState(Qt::Checked);
    } else if (meanwhile == u"keyword added while off"_s) {
        form->gridkeywords()->appendRow({u"lunch"_s});
    } else if (meanwhile == u"sender IP on"_s) {
        form->checkspamcop()->setCheckState(Qt::Checked);
    } else if (meanwhile == u"check all again"_s) {
        form->findChild<QPushButton *>(u"cmdJudgeAllAgain"_s)->click();
    } else if (meanwhile == u"ham b gone"_s) {
        scanned2 = &later;
        form->Tarnpost1().setPOPPort(later.port());
    } else if (meanwhile == u"spam marked not spam"_s) {
        ReviewList review(state);
        QCOMPARE(review.all().size(), 1);
        QVERIFY(review.markNotSpam({review.all().at(0).id}));
    } else if (meanwhile == u"ids a, a"_s) {
        server.setUniqueIds(u"u"_s, {"c", "a", "a"});
    } else if (meanwhile == u"memory damaged"_s) {
        QVERIFY(QSqlQuery(state.connection()).exec(u"DROP TABLE judged_messages"_s));
    }
    const qsizetype before = scanned2->commands(u"u"_s).size();
    Scan::MailboxScanner scanner(*form);
    scanner.run();

    QCOMPARE(named(scanned2->commands(u"u"_s).mid(before), "RETR"), retrieved);
    QCOMPARE(form->txttotalemailsever()->text(), scanned);
    // Held and not spam stay as they were: on the server, nothing deleted.
    QCOMPARE(scanned2->mailbox(u"u"_s).size(), meanwhile == u"new ham"_s ? 4 : meanwhile == u"ham b gone"_s ? 2 : 3);
    QVERIFY(named(scanned2->commands(u"u"_s), "DELE").isEmpty());
    ReviewList review(state);
    QCOMPARE(review.all().size(), 1);
    QCOMPARE(review.all().at(0).state,
             meanwhile == u"spam marked not spam"_s ? ReviewList::State::Kept : ReviewList::State::Held);
    if (meanwhile == u"memory damaged"_s) {
        QVERIFY2(scanner.problems().value(0).contains(u"checked before cannot be read"_s),
                 qPrintable(scanner.problems().join(u'\n')));
        return;
    }
    QVERIFY2(scanner.problems().isEmpty(), qPrintable(scanner.problems().join(u'\n')));
    QSqlQuery query(state.connection());
    QVERIFY(query.exec(u"SELECT uid FROM judged_messages ORDER BY uid"_s));
    QStringList ids;
    while (query.next())
        ids.append(query.value(0).toString());
    QCOMPARE(ids, remembered);
}

QTEST_MAIN(tst_ScanEngine)
#include "tst_scanengine.moc"
