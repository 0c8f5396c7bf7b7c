// A scan against a server that misbehaves once, at every step of the first
// account's session and in every way: closing, falling silent, refusing,
// answering garbage, or answering without end. Each cell runs in a child process of its own (several at
// once, since most of them wait out a timeout), so a crash or a hang shows up
// as that cell's failure and the others still report.

#include "config/listtable.h"
#include "pop3/include/tarnpostctl.h"
#include "scan/archivewriter.h"
#include "scan/mailboxscanner.h"
#include "tests/support/programfolder.h"
#include "tests/support/scriptedpop3server.h"

#include <QApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <map>
#include <optional>
#include <sys/resource.h>

using namespace Qt::StringLiterals;
using Tarnpostctl::StatusConnected;
using Tarnpostctl::StatusDisconnected;
using Exchange = ScriptedPop3Server::Exchange;
using Fault = ScriptedPop3Server::Fault;

namespace {

constexpr int Parallel = 8;
// Far beyond what any cell needs (its waits are 1 s timeouts); a cell still
// running then is hung.
constexpr int HangLimitMs = 150000;

const char CellVariable[] = "QUELLMAIL_FAULT_CELL";

QString cellName(Exchange exchange, Fault fault)
{
    static const char *const exchanges[] = {"greeting", "USER",         "PASS", "STAT", "UIDL", "TOP",      "LIST",
                                            "RETR",     "RETR-to-file", "DELE", "QUIT", "CAPA", "UIDL-all", "LIST-all"};
    static const char *const faults[] = {"none",     "close",   "silence",  "-ERR",      "no +OK",
                                         "no CR LF", "LF only", "NUL byte", "1 MB line", "endless reply"};
    return QString::fromLatin1(exchanges[int(exchange)]) + u" / "_s + QString::fromLatin1(faults[int(fault)]);
}

// The first account's spam has an empty body, so its header block is fetched
// with TOP: every command of the walk is exercised.
const QByteArray VictimSpam = "From: Pharma <deals@spam.example>\nSubject: victim spam\n\n";
const QByteArray VictimHello = "From: friend@example.org\nSubject: victim hello\n\nHello there.\n";
const QByteArray GoodSpam = "From: x@spam.example\nSubject: good spam\n\nBuy now.\n";
const QByteArray GoodHello = "From: pal@example.org\nSubject: good hello\n\nHi.\n";

QJsonArray subjects(const QList<QByteArray> &messages)
{
    static const QRegularExpression subject(u"Subject: ([^\r\n]*)"_s);
    QJsonArray list;
    for (const QByteArray &m : messages)
        list.append(subject.match(QString::fromLatin1(m)).captured(1));
    return list;
}

// Child side: one scan against a server with the given fault; prints the outcome.
int runCell(int step, int fault)
{
    ScriptedPop3Server server;
    server.addMailbox(u"victim"_s, u"vpw"_s, {VictimSpam, VictimHello});
    server.addMailbox(u"good"_s, u"gpw"_s, {GoodSpam, GoodHello});
    server.failAt(u"victim"_s, Exchange(step), Fault(fault));
    if (!server.start())
        return 3;

    ProgramTest::ProgramFolder folder;
    if (!folder.write(u"accounts.dat"_s, "127.0.0.1,victim,vpw\r\n127.0.0.1,good,gpw\r\n")
        || !folder.write(u"blacklist.dat"_s, "spam.example\r\n"))
        return 3;
    auto form = ProgramTest::openWindow(folder);
    ProgramTest::blacklistOnly(*form);
    form->Tarnpost1().setPOPPort(server.port());
    form->Tarnpost1().setPOPTimeout(1);
    form->txttotalemailsever()->setText(u"0"_s);
    form->txtEmailsBlockedCount()->setText(u"0"_s);

    Scan::MailboxScanner(*form).run();

    const QList<QByteArray> stats = folder.read(u"stats.dat"_s).split('\n');
    const QByteArray archivedSpam = folder.read(u"SpamDeleted/victim spam.html"_s);
    QJsonObject out{
        {u"scanned"_s, form->txttotalemailsever()->text()},
        {u"blocked"_s, form->txtEmailsBlockedCount()->text()},
        {u"victim"_s, subjects(server.mailbox(u"victim"_s))},
        {u"good"_s, subjects(server.mailbox(u"good"_s))},
        {u"archive"_s, QJsonArray::fromStringList(folder.archive())},
        {u"victimSpamArchived"_s, archivedSpam.endsWith(ScriptedPop3Server::toWire(VictimSpam).chopped(2))},
        {u"statsScanned"_s, QString::fromLatin1(stats.value(5).trimmed())},
        {u"status"_s, int(form->Tarnpost1().Status())},
        {u"caption"_s, form->Label17()->text()},
        {u"fired"_s, server.remainingSteps() == 0},
    };
    const QByteArray json = QJsonDocument(out).toJson(QJsonDocument::Compact);
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    std::fflush(stdout);
    return 0;
}

struct Expected
{
    int victimScanned;  // messages of the first account walked
    bool victimBlocked; // its spam is counted as blocked
    bool spamGone;      // and removed from the server
    bool reported;      // the status line ends on a problem, not the closing caption
};

// What the rules say for each cell. Only the outcomes that differ from a
// clean run are listed.
Expected expectedFor(Exchange step, Fault fault)
{
    const Expected clean{2, true, true, false};
    // A failed login is named on the status line with the account.
    const Expected refused{0, false, false, true};
    // The session ends at the first message: the account stops there.
    const Expected lost{1, false, false, true};
    const bool harmless = fault == Fault::Nul || fault == Fault::None;
    // A reply line over 64 KB ends the session as a lost connection does; a
    // long line inside a message is only content.
    const bool overlong = fault == Fault::HugeLine || fault == Fault::Endless;
    const bool harmlessContent = harmless || fault == Fault::HugeLine;
    const bool gone = fault == Fault::Close || fault == Fault::Silence;
    switch (step) {
    case Exchange::Greeting:
        // The greeting's text is not examined, only that a line arrives.
        if (harmless || fault == Fault::NoOk)
            return clean;
        return refused;
    case Exchange::User:
    case Exchange::Pass:
    case Exchange::Stat: return harmless ? clean : refused;
    case Exchange::Uidl:
        // A failed UIDL downloads the message at once instead; only a lost
        // connection, a silent server or an overlong reply ends the mailbox.
        return gone || overlong ? lost : clean;
    case Exchange::List:
        if (harmless)
            return clean;
        // Without its size the message is not examined, and is reported.
        return gone || overlong ? lost : Expected{2, false, false, true};
    case Exchange::Retr: return harmlessContent ? clean : lost;
    case Exchange::Top:
        // A refused TOP is tried again without the line count; only a lost
        // connection or a silent server leaves the header block (and so the
        // sender) unknown, and the control closes the session; so does a
        // header block beyond the message size limit.
        return gone || fault == Fault::Endless ? lost : clean;
    case Exchange::RetrToFile:
        // The download into the archive fails and the control closes the
        // session: without its archive copy the spam stays.
        return harmlessContent ? clean : lost;
    case Exchange::Dele:
        if (harmless)
            return clean;
        if (fault == Fault::Close || overlong)
            return lost;
        // A silent server keeps the session until the next message's
        // commands time out; a refusal keeps the message; a garbled reply
        // counts as a refusal although this server made the mark.
        if (fault == Fault::Silence || fault == Fault::Err)
            return {2, false, false, true};
        return {2, false, true, true};
    case Exchange::Quit:
        // Deletions are final only when the server takes the QUIT, and are
        // counted only when it says so with "+OK": a garbled or overlong
        // answer leaves the user told that the spam may still be there,
        // although this server made the deletion.
        if (fault == Fault::Close || fault == Fault::Silence || fault == Fault::Err)
            return {2, false, false, true};
        return harmless ? clean : Expected{2, false, true, true};
    case Exchange::Capa:
    case Exchange::UidlAll:
    case Exchange::ListAll:
        // Asked for once, at the first message, by the scan's prefetching:
        // without a usable answer the control goes on message by message;
        // only a lost connection, a silent server or an overlong reply ends
        // the mailbox.
        return gone || overlong ? lost : clean;
    case Exchange::Count: break;
    }
    return clean;
}

} // namespace

class tst_FaultMatrix : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cell_data();
    void cell();
    void mailboxOutcome_data();
    void mailboxOutcome();
    void exitDuringScan_data();
    void exitDuringScan();
    void lostQuitThenReusedId_data();
    void lostQuitThenReusedId();

private:
    struct Outcome
    {
        int exitCode = -1;
        bool crashed = false;
        bool hung = false;
        QByteArray out;
        QByteArray err;
    };
    std::map<QString, Outcome> m_outcomes;
};

void tst_FaultMatrix::initTestCase()
{
    struct Cell
    {
        Exchange step;
        Fault fault;
    };
    QList<Cell> cells{{Exchange::Greeting, Fault::None}};
    for (int s = 0; s < int(Exchange::Count); ++s) {
        for (int f = 1; f < int(Fault::Count); ++f)
            cells.append({Exchange(s), Fault(f)});
    }

    QList<QProcess *> running;
    QEventLoop loop;
    qsizetype next = 0;
    auto launch = [&] {
        while (running.size() < Parallel && next < cells.size()) {
            const Cell c = cells.at(next++);
            auto *p = new QProcess;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QLatin1StringView(CellVariable), u"%1,%2"_s.arg(int(c.step)).arg(int(c.fault)));
            p->setProcessEnvironment(env);
            p->setProperty("key", cellName(c.step, c.fault));
            auto *limit = new QTimer(p);
            limit->setSingleShot(true);
            connect(limit, &QTimer::timeout, p, [p] {
                p->setProperty("hung", true);
                p->kill();
            });
            connect(p, &QProcess::finished, &loop, [&, p](int code, QProcess::ExitStatus status) {
                Outcome o;
                o.exitCode = code;
                o.crashed = status == QProcess::CrashExit;
                o.hung = p->property("hung").toBool();
                o.out = p->readAllStandardOutput();
                o.err = p->readAllStandardError();
                m_outcomes[p->property("key").toString()] = o;
                running.removeOne(p);
                p->deleteLater();
                loop.quit();
            });
            p->start(QCoreApplication::applicationFilePath(), {});
            limit->start(HangLimitMs);
            running.append(p);
        }
    };
    launch();
    while (!running.isEmpty()) {
        loop.exec();
        launch();
    }
    QCOMPARE(qsizetype(m_outcomes.size()), cells.size());
    std::printf("fault matrix: %d cells run\n", int(cells.size()));
}

void tst_FaultMatrix::cell_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("fault");
    QTest::newRow("no fault") << int(Exchange::Greeting) << int(Fault::None);
    for (int s = 0; s < int(Exchange::Count); ++s) {
        for (int f = 1; f < int(Fault::Count); ++f)
            QTest::newRow(qPrintable(cellName(Exchange(s), Fault(f)))) << s << f;
    }
}

void tst_FaultMatrix::cell()
{
    QFETCH(int, step);
    QFETCH(int, fault);
    const Outcome o = m_outcomes[cellName(Exchange(step), Fault(fault))];
    QVERIFY2(!o.hung, "the scan did not end");
    QVERIFY2(!o.crashed && o.exitCode == 0, o.err.right(4000).constData());
    const QJsonObject r = QJsonDocument::fromJson(o.out).object();
    QVERIFY2(!r.isEmpty(), o.out.constData());
    if (Fault(fault) != Fault::None)
        QVERIFY2(r.value(u"fired"_s).toBool(), "the fault was never reached");

    const Expected e = expectedFor(Exchange(step), Fault(fault));
    const int scanned = e.victimScanned + 2;
    const int blocked = (e.victimBlocked ? 1 : 0) + 1;
    QStringList victimLeft;
    if (!e.spamGone)
        victimLeft << u"victim spam"_s;
    victimLeft << u"victim hello"_s;

    // The second account is always scanned whole.
    QCOMPARE(r.value(u"good"_s).toVariant().toStringList(), QStringList{u"good hello"_s});
    QVERIFY(r.value(u"archive"_s).toVariant().toStringList().contains(u"good spam.html"_s));
    QCOMPARE(r.value(u"victim"_s).toVariant().toStringList(), victimLeft);
    QCOMPARE(r.value(u"scanned"_s).toString(), QString::number(scanned));
    // Whatever left the server was archived whole first.
    if (e.spamGone)
        QVERIFY(r.value(u"victimSpamArchived"_s).toBool());
    QCOMPARE(r.value(u"statsScanned"_s).toString(), QString::number(scanned));
    QCOMPARE(r.value(u"status"_s).toInt(), int(StatusDisconnected));

    QCOMPARE(r.value(u"blocked"_s).toString(), QString::number(blocked));
    const QString caption = r.value(u"caption"_s).toString();
    const QString closing = u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s;
    if (e.reported)
        QVERIFY2(caption.startsWith(u"127.0.0.1: "_s) || caption.startsWith(u"127.0.0.1 (victim): "_s)
                     || caption.startsWith(u"1 account failed: 127.0.0.1 (victim): "_s)
                     || caption.contains(u" problems in this scan; the last: 127.0.0.1"_s),
                 qPrintable(caption));
    else
        QCOMPARE(caption, closing);
}

// One account, run in this process: a server that lies or fails once, an
// archive folder in a given state, blank list entries.
namespace {

enum class Archive { Plain, FolderMissing, FolderIsLink, DiskFull, NameTaken, LinkAtName };

const QByteArray Spam = "From: Pharma <deals@spam.example>\nSubject: victim spam\n\n" + QByteArray(2000, 's') + "\n";
const QByteArray Hello = "From: friend@example.org\nSubject: victim hello\n\nHello there.\n";
// Without a body its header block is fetched with TOP.
const QByteArray HelloWithoutBody = "From: friend@example.org\nSubject: victim hello\n\n";
const QString Closing = u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s;

} // namespace

void tst_FaultMatrix::mailboxOutcome_data()
{
    QTest::addColumn<QList<QByteArray>>("messages");
    QTest::addColumn<qint64>("claim");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("archive");
    QTest::addColumn<bool>("blanks");
    QTest::addColumn<int>("scanned");
    QTest::addColumn<int>("blocked");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QStringList>("archived");
    QTest::addColumn<QString>("status");

    const int none = int(Fault::None);
    const QList<QByteArray> both{Spam, Hello};
    const QStringList bothLeft{u"victim spam"_s, u"victim hello"_s};
    const QStringList helloLeft{u"victim hello"_s};
    const QStringList archivedOnce{u"victim spam.html"_s};
    QTest::newRow("STAT claims 2147483647 for one message")
        << QList<QByteArray>{Hello} << qint64(2147483647) << 0 << none << int(Archive::Plain) << false << 1 << 0
        << helloLeft << QStringList() << u"127.0.0.1: the server lists messages that do not exist"_s;
    QTest::newRow("STAT claims two more than there are") << both << qint64(4) << 0 << none << int(Archive::Plain)
                                                         << false << 2 << 1 << helloLeft << archivedOnce << Closing;
    QTest::newRow("archive folder missing")
        << both << qint64(-1) << 0 << none << int(Archive::FolderMissing) << false << 2 << 0 << bothLeft
        << QStringList()
        << u"127.0.0.1: spam left on the server, its archive copy failed: SpamDeleted: No such file or directory"_s;
    QTest::newRow("archive folder is a link")
        << both << qint64(-1) << 0 << none << int(Archive::FolderIsLink) << false << 2 << 0 << bothLeft << QStringList()
        << u"127.0.0.1: spam left on the server, its archive copy failed: SpamDeleted is a symbolic link"_s;
    QTest::newRow("disk full")
        << both << qint64(-1) << 0 << none << int(Archive::DiskFull) << false << 2 << 0 << bothLeft << QStringList()
        << u"127.0.0.1: spam left on the server, its archive copy failed: File error: Error writing to file"_s;
    QTest::newRow("same subject archived before")
        << both << qint64(-1) << 0 << none << int(Archive::NameTaken) << false << 2 << 1 << helloLeft
        << QStringList{u"victim spam (2).html"_s, u"victim spam.html"_s} << Closing;
    QTest::newRow("link planted at the archive name")
        << both << qint64(-1) << 0 << none << int(Archive::LinkAtName) << false << 2 << 1 << helloLeft
        << QStringList{u"victim spam (2).html"_s, u"victim spam.html"_s} << Closing;
    QTest::newRow("connection lost after an accepted DELE")
        << QList<QByteArray>{Spam, HelloWithoutBody} << qint64(-1) << int(Exchange::Top) << int(Fault::Close)
        << int(Archive::Plain) << false << 2 << 0 << bothLeft << archivedOnce
        << u"127.0.0.1: 1 spam message was left on the server: the server did not confirm its deletion."_s;
    QTest::newRow("blank entries in every list") << both << qint64(-1) << 0 << none << int(Archive::Plain) << true << 2
                                                 << 1 << helloLeft << archivedOnce << Closing;
}

void tst_FaultMatrix::mailboxOutcome()
{
    QFETCH(QList<QByteArray>, messages);
    QFETCH(qint64, claim);
    QFETCH(int, step);
    QFETCH(int, fault);
    QFETCH(int, archive);
    QFETCH(bool, blanks);
    QFETCH(int, scanned);
    QFETCH(int, blocked);
    QFETCH(QStringList, left);
    QFETCH(QStringList, archived);
    QFETCH(QString, status);

    ScriptedPop3Server server;
    server.addMailbox(u"victim"_s, u"vpw"_s, messages);
    if (claim >= 0)
        server.claimCount(u"victim"_s, claim);
    server.failAt(u"victim"_s, Exchange(step), Fault(fault));
    QVERIFY(server.start());

    ProgramTest::ProgramFolder folder;
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,victim,vpw\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    const QString spamDeleted = folder.file(u"SpamDeleted"_s);
    const QString outsideFile = outside.filePath(u"victim.txt"_s);
    QFile victimFile(outsideFile);
    QVERIFY(victimFile.open(QIODevice::WriteOnly) && victimFile.write("keep me") == 7);
    victimFile.close();
    switch (Archive(archive)) {
    case Archive::FolderMissing: QVERIFY(QDir(spamDeleted).removeRecursively()); break;
    case Archive::FolderIsLink:
        QVERIFY(QDir(spamDeleted).removeRecursively() && QFile::link(outside.path(), spamDeleted));
        break;
    case Archive::NameTaken: QVERIFY(folder.write(u"SpamDeleted/victim spam.html"_s, "earlier")); break;
    case Archive::LinkAtName: QVERIFY(QFile::link(outsideFile, spamDeleted + u"/victim spam.html"_s)); break;
    default: break;
    }

    auto form = ProgramTest::openWindow(folder);
    ProgramTest::blacklistOnly(*form);
    if (blanks) {
        // As a blank line in a list file leaves them.
        form->gridwhitelist()->appendRow({QString()});
        form->gridwhitelist()->appendRow({u" "_s});
        form->gridblacklist()->appendRow({QString()});
        form->gridkeywords()->appendRow({u" "_s});
        ProgramTest::setRules(*form, Qt::Checked, Qt::Checked, Qt::Unchecked, Qt::Checked);
    }
    form->Tarnpost1().setPOPPort(server.port());
    form->Tarnpost1().setPOPTimeout(1);
    form->txttotalemailsever()->setText(u"0"_s);
    form->txtEmailsBlockedCount()->setText(u"0"_s);

    rlimit savedLimit{};
    ::getrlimit(RLIMIT_FSIZE, &savedLimit);
    if (Archive(archive) == Archive::DiskFull) {
        // Room for the program's small files, not for the message.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = savedLimit;
        small.rlim_cur = 1000;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    }
    Scan::MailboxScanner scanner(*form);
    scanner.run();
    ::setrlimit(RLIMIT_FSIZE, &savedLimit);

    QCOMPARE(form->txttotalemailsever()->text(), QString::number(scanned));
    QCOMPARE(form->txtEmailsBlockedCount()->text(), QString::number(blocked));
    QCOMPARE(QVariant(subjects(server.mailbox(u"victim"_s)).toVariantList()).toStringList(), left);
    if (Archive(archive) != Archive::FolderIsLink)
        QCOMPARE(folder.archive(), archived);
    // A new archive file holds the message as sent behind the inert prefix,
    // for its owner only; nothing it found there was replaced.
    const QString fresh =
        archived.contains(u"victim spam (2).html"_s) ? u"victim spam (2).html"_s : u"victim spam.html"_s;
    if (!archived.isEmpty()) {
        QCOMPARE(folder.read(u"SpamDeleted/"_s + fresh),
                 QByteArray(Scan::ArchiveWriter::inertPrefix() + ScriptedPop3Server::toWire(Spam).chopped(2)));
        constexpr QFile::Permissions ownerGroupOther = QFile::Permissions::fromInt(0x7077);
        QCOMPARE(QFile::permissions(spamDeleted + u'/' + fresh) & ownerGroupOther,
                 QFile::ReadOwner | QFile::WriteOwner);
    }
    if (Archive(archive) == Archive::NameTaken)
        QCOMPARE(folder.read(u"SpamDeleted/victim spam.html"_s), QByteArray("earlier"));
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"victim.txt"_s});
    QVERIFY(victimFile.open(QIODevice::ReadOnly));
    QCOMPARE(victimFile.readAll(), QByteArray("keep me"));
    // A count that lies costs a few commands, not one per number it claims.
    QVERIFY2(server.commands(u"victim"_s).size() <= 20,
             qPrintable(QString::number(server.commands(u"victim"_s).size())));
    // What the status line says, the account's result says too. A failed
    // account's line gives its error (without the closing full stop); its
    // other problems are in the line's tool tip.
    const Scan::AccountResult &victim = scanner.results().at(0);
    const QString problems = victim.problems.join(u'\n');
    if (status == Closing) {
        QCOMPARE(form->Label17()->text(), Closing);
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    } else {
        const QString line = form->Label17()->text();
        if (victim.failed()) {
            const QString error = victim.error.endsWith(u'.') ? victim.error.chopped(1) : victim.error;
            QCOMPARE(line, u"1 account failed: 127.0.0.1 (victim): "_s + error);
            QVERIFY2(form->Label17()->toolTip().contains(status), qPrintable(form->Label17()->toolTip()));
        } else {
            QVERIFY2(line.contains(status), qPrintable(line));
        }
        QVERIFY2(problems.contains(status), qPrintable(problems));
    }
    QCOMPARE(form->Tarnpost1().Status(), qint16(StatusDisconnected));
}

void tst_FaultMatrix::exitDuringScan_data()
{
    QTest::addColumn<bool>("silentServer");
    // Exit while the blacklist is tried: the scan stops at its next step.
    QTest::newRow("at a rule") << false;
    // Exit while the control waits on a server that says nothing: the process
    // does not wait for the control's timeout.
    QTest::newRow("while the server is silent") << true;
}

void tst_FaultMatrix::exitDuringScan()
{
    QFETCH(bool, silentServer);
    ScriptedPop3Server server;
    server.addMailbox(u"victim"_s, u"vpw"_s, {Spam, Hello});
    if (silentServer)
        server.failAt(u"victim"_s, Exchange::Retr, Fault::Silence);
    QVERIFY(server.start());

    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,victim,vpw\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    auto form = ProgramTest::openWindow(folder);
    ProgramTest::blacklistOnly(*form);
    form->Tarnpost1().setPOPPort(server.port());
    form->Tarnpost1().setPOPTimeout(silentServer ? 4 : 1);
    form->txtEmailsBlockedCount()->setText(u"0"_s);

    // The session's state when the hard exit came: still open, if the
    // process did not wait for the control's timeout.
    std::optional<qint16> statusAtHardExit;
    form->setHardExit([&] { statusAtHardExit = form->Tarnpost1().Status(); });
    bool exited = false;
    auto exit = [&] {
        exited = true;
        form->endProgram();
    };
    form->setScanProcedure([&] {
        Scan::MailboxScanner scanner(*form);
        connect(&scanner, &Scan::MailboxScanner::captionWritten, form.get(), [&](const QString &caption) {
            if (!silentServer && !exited && caption.startsWith(u"FROM is"_s))
                exit();
        });
        scanner.run();
    });
    // The silent server has the RETR: the control now waits on it.
    connect(&server, &ScriptedPop3Server::lineReceived, form.get(), [&] {
        if (silentServer && !exited && server.commands(u"victim"_s).endsWith("RETR 1"))
            exit();
    });
    QTimer::singleShot(0, form.get(), [&] { form->runScan(); });
    // The main loop ends once the scan has returned into it.
    QCOMPARE(QCoreApplication::exec(), 0);

    QVERIFY(exited);
    QVERIFY(!form->isScanning());
    // Nothing was deleted, nor sent after the step Exit came in: no QUIT.
    const QList<QByteArray> expected{"STAT", "CAPA", "UIDL", "LIST", "UIDL 1", "LIST 1", "RETR 1"};
    QCOMPARE(server.commands(u"victim"_s), expected);
    QCOMPARE(server.mailbox(u"victim"_s).size(), 2);
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"0"_s);
    QCOMPARE(form->Tarnpost1().Status(), qint16(StatusDisconnected));
    QVERIFY(MessageBox::records().isEmpty());
    // Nothing is saved on the way out.
    QCOMPARE(folder.read(u"stats.dat"_s), QByteArray("<missing>"));
    QCOMPARE(statusAtHardExit, silentServer ? std::optional<qint16>(StatusConnected) : std::nullopt);
}

void tst_FaultMatrix::lostQuitThenReusedId_data()
{
    QTest::addColumn<bool>("reused"); // the spam went meanwhile and a new ham has its id
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QString>("status");

    QTest::newRow("the same message: deleted by its id") << false << QStringList{u"victim hello"_s} << Closing;
    QTest::newRow("the id now names a new ham: kept")
        << true << QStringList{u"new hello"_s}
        << u"127.0.0.1: the message now under the unique id of a message to be deleted is another one; it was not deleted."_s;
}

// The hold is off. Scan 1 marks the spam, but its QUIT is lost, so the spam
// stays "to be deleted" by its unique id. Scan 2 deletes it only if the
// message under that id is still the one judged.
void tst_FaultMatrix::lostQuitThenReusedId()
{
    QFETCH(bool, reused);
    QFETCH(QStringList, left);
    QFETCH(QString, status);

    // This server names a message by its number: "uid-1" is whatever comes first.
    ScriptedPop3Server server;
    server.addMailbox(u"victim"_s, u"vpw"_s, {Spam, Hello});
    server.failAt(u"victim"_s, Exchange::Quit, Fault::Close);
    QVERIFY(server.start());
    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,victim,vpw\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    auto form = ProgramTest::openWindow(folder);
    ProgramTest::blacklistOnly(*form);
    form->Tarnpost1().setPOPPort(server.port());
    form->Tarnpost1().setPOPTimeout(1);
    form->txtEmailsBlockedCount()->setText(u"0"_s);
    Scan::MailboxScanner(*form).run();
    QCOMPARE(server.remainingSteps(), 0);
    QCOMPARE(QVariant(subjects(server.mailbox(u"victim"_s)).toVariantList()).toStringList(),
             (QStringList{u"victim spam"_s, u"victim hello"_s}));
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"0"_s);

    // The same account on a server where the spam went and a new ham came.
    ScriptedPop3Server later;
    later.addMailbox(u"victim"_s, u"vpw"_s, {"From: pal@example.org\nSubject: new hello\n\nHi.\n"});
    QVERIFY(later.start());
    if (reused)
        form->Tarnpost1().setPOPPort(later.port());
    Scan::MailboxScanner scanner(*form);
    scanner.run();
    QCOMPARE(QVariant(subjects((reused ? later : server).mailbox(u"victim"_s)).toVariantList()).toStringList(), left);
    QCOMPARE(form->txtEmailsBlockedCount()->text(), reused ? u"0"_s : u"1"_s);
    QCOMPARE(form->Label17()->text(), status);
    QCOMPARE(folder.archive(), QStringList{u"victim spam.html"_s});
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QByteArray cell = qgetenv(CellVariable);
    if (!cell.isEmpty()) {
        const QList<QByteArray> parts = cell.split(',');
        return runCell(parts.value(0).toInt(), parts.value(1).toInt());
    }
    tst_FaultMatrix test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faultmatrix.moc"
