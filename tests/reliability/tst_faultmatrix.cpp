// A scan against a server that misbehaves once, at every step of the first
// account's session and in every way: closing, falling silent, refusing,
// answering garbage, or answering without end. Each cell runs in a child process of its own (several at
// once, since most of them wait out a timeout), so a crash or a hang shows up
// as that cell's failure and the others still report.

#include "faultpop3server.h"
#include "mailboxscanner.h"
#include "programfolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QtTest>

#include <cstdio>
#include <map>

using namespace Qt::StringLiterals;
using Step = FaultPop3Server::Step;
using Fault = FaultPop3Server::Fault;

namespace {

constexpr int Parallel = 8;
// Far beyond what any cell needs (its waits are 1 s timeouts); a cell still
// running then is hung.
constexpr int HangLimitMs = 150000;

const char CellVariable[] = "QUELLMAIL_FAULT_CELL";

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
    FaultPop3Server server;
    server.addUser(u"victim"_s, u"vpw"_s, {VictimSpam, VictimHello});
    server.addUser(u"good"_s, u"gpw"_s, {GoodSpam, GoodHello});
    server.setFault(u"victim"_s, Step(step), Fault(fault));
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

    QElapsedTimer clock;
    clock.start();
    Scan::MailboxScanner(*form).run();

    const QList<QByteArray> stats = folder.read(u"stats.dat"_s).split('\n');
    const QByteArray archivedSpam = folder.read(u"SpamDeleted/victim spam.html"_s);
    QJsonObject out{
        {u"scanned"_s, form->txttotalemailsever()->text()},
        {u"blocked"_s, form->txtEmailsBlockedCount()->text()},
        {u"victim"_s, subjects(server.mailbox(u"victim"_s))},
        {u"good"_s, subjects(server.mailbox(u"good"_s))},
        {u"archive"_s, QJsonArray::fromStringList(folder.archive())},
        {u"victimSpamArchived"_s, archivedSpam.endsWith(FaultPop3Server::toWire(VictimSpam).chopped(2))},
        {u"statsScanned"_s, QString::fromLatin1(stats.value(5).trimmed())},
        {u"status"_s, int(form->Tarnpost1().Status())},
        {u"caption"_s, form->Label17()->text()},
        {u"fired"_s, server.faultFired()},
        {u"ms"_s, clock.elapsed()},
    };
    const QByteArray json = QJsonDocument(out).toJson(QJsonDocument::Compact);
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    std::fflush(stdout);
    return 0;
}

struct Expected {
    bool connects;      // the first account's session opens (its messages count)
    bool victimBlocked; // its spam is counted as blocked
    bool spamGone;      // and removed from the server
};

// What the rules say for each cell. Only the outcomes that differ from a
// clean run are listed.
Expected expectedFor(Step step, Fault fault)
{
    const Expected clean{true, true, true};
    const Expected refused{false, false, false};
    const Expected skipped{true, false, false};
    const bool harmless = fault == Fault::Nul || fault == Fault::None;
    // A reply line over 64 KB ends the session as a lost connection does; a
    // long line inside a message is only content.
    const bool overlong = fault == Fault::HugeLine || fault == Fault::Endless;
    const bool harmlessContent = harmless || fault == Fault::HugeLine;
    switch (step) {
    case Step::Greeting:
        // The greeting's text is not examined, only that a line arrives.
        if (harmless || fault == Fault::NoOk)
            return clean;
        return refused;
    case Step::User:
    case Step::Pass:
    case Step::Stat:
        return harmless ? clean : refused;
    case Step::Uidl:
        // A failed UIDL downloads the message at once instead; only a lost
        // connection or a silent server ends the mailbox.
        if (fault == Fault::Close || fault == Fault::Silence || overlong)
            return skipped;
        return clean;
    case Step::List:
        if (harmless)
            return clean;
        return skipped;
    case Step::Retr:
        return harmlessContent ? clean : skipped;
    case Step::Top:
        // A refused TOP is tried again without the line count; only a lost
        // connection or a silent server leaves the header block (and so the
        // sender) unknown, and the control closes the session; so does a
        // header block beyond the message size limit.
        if (fault == Fault::Close || fault == Fault::Silence || fault == Fault::Endless)
            return skipped;
        return clean;
    case Step::RetrToFile:
        // The download into the archive fails and the control closes the
        // session: the spam counts as blocked but its deletion cannot be sent.
        if (harmlessContent)
            return clean;
        return {true, true, false};
    case Step::Dele:
        // A refused mark, or a session that never reaches QUIT, keeps the
        // message; a garbled but accepted reply does not.
        if (fault == Fault::Close || fault == Fault::Silence || fault == Fault::Err || overlong)
            return {true, true, false};
        return clean;
    case Step::Quit:
        // Deletions are final only when the server takes the QUIT.
        if (fault == Fault::Close || fault == Fault::Silence || fault == Fault::Err)
            return {true, true, false};
        return clean;
    case Step::StepCount:
        break;
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

private:
    struct Outcome {
        int exitCode = -1;
        bool crashed = false;
        bool hung = false;
        QByteArray out;
        QByteArray err;
    };
    static QString key(Step s, Fault f) { return FaultPop3Server::stepName(s) + u" / "_s + FaultPop3Server::faultName(f); }
    std::map<QString, Outcome> m_outcomes;
};

void tst_FaultMatrix::initTestCase()
{
    struct Cell {
        Step step;
        Fault fault;
    };
    QList<Cell> cells{{Step::Greeting, Fault::None}};
    for (int s = 0; s < int(Step::StepCount); ++s) {
        for (int f = 1; f < int(Fault::FaultCount); ++f)
            cells.append({Step(s), Fault(f)});
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
            p->setProperty("key", key(c.step, c.fault));
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
    QTest::newRow("no fault") << int(Step::Greeting) << int(Fault::None);
    for (int s = 0; s < int(Step::StepCount); ++s) {
        for (int f = 1; f < int(Fault::FaultCount); ++f)
            QTest::newRow(qPrintable(key(Step(s), Fault(f)))) << s << f;
    }
}

void tst_FaultMatrix::cell()
{
    QFETCH(int, step);
    QFETCH(int, fault);
    const Outcome o = m_outcomes[key(Step(step), Fault(fault))];
    QVERIFY2(!o.hung, "the scan did not end");
    QVERIFY2(!o.crashed && o.exitCode == 0, o.err.right(4000).constData());
    const QJsonObject r = QJsonDocument::fromJson(o.out).object();
    QVERIFY2(!r.isEmpty(), o.out.constData());
    if (Fault(fault) != Fault::None)
        QVERIFY2(r.value(u"fired"_s).toBool(), "the fault was never reached");

    const Expected e = expectedFor(Step(step), Fault(fault));
    const int scanned = (e.connects ? 2 : 0) + 2;
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
    QCOMPARE(r.value(u"blocked"_s).toString(), QString::number(blocked));
    // Whatever left the server was archived whole first.
    if (e.spamGone)
        QVERIFY(r.value(u"victimSpamArchived"_s).toBool());
    QCOMPARE(r.value(u"statsScanned"_s).toString(), QString::number(scanned));
    QCOMPARE(r.value(u"status"_s).toInt(), 0);
    QCOMPARE(r.value(u"caption"_s).toString(),
             u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s);
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
