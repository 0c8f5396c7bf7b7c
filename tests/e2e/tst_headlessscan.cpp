// The command-line scan end to end: the real program, with no display at all,
// scanning a program folder against a throw-away Dovecot.

#include "dovecot/dovecotserver.h"
#include "learn/learnedfilter.h"
#include "scan/archivewriter.h"
#include "state/reviewlist.h"
#include "state/statedatabase.h"
#include "tests/support/learningexamples.h"
#include "tests/support/programfolder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QSqlQuery>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace ProgramTest;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// No DISPLAY, no WAYLAND_DISPLAY and no platform chosen for it: the program
// must get by on its own.
Run runProgram(const QStringList &args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUELLMAIL_PROGRAM), args);
    Run run;
    if (!program.waitForFinished(60000) || program.exitStatus() != QProcess::NormalExit) {
        program.kill();
        program.waitForFinished();
        run.err = u"did not end normally: "_s + QString::fromLocal8Bit(program.readAllStandardError());
        return run;
    }
    run.exitCode = program.exitCode();
    run.out = QString::fromUtf8(program.readAllStandardOutput());
    run.err = QString::fromUtf8(program.readAllStandardError());
    return run;
}

// stats.dat: 4 list sizes, blocked 3, scanned 10, auto-scan on, 5 minutes,
// whitelist off, blacklist on, IP off, keywords on.
const QByteArray Stats = "1\r\n0\r\n1\r\n1\r\n3\r\n10\r\n 1 \r\n5\r\n 0 \r\n 1 \r\n 0 \r\n 1 \r\n";

QByteArray statsTotals(const ProgramFolder &folder)
{
    const QList<QByteArray> lines = folder.read(u"stats.dat"_s).split('\n');
    return lines.size() < 6 ? QByteArray("<short>") : lines.at(4).trimmed() + '/' + lines.at(5).trimmed();
}

} // namespace

class tst_HeadlessScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void scan_data();
    void scan();
    void decodedTextAndLearnedFilter();
    void training_data();
    void training();

private:
    DovecotServer m_server;
    QString m_cell; // the mail server cell that reaches it
};

void tst_HeadlessScan::initTestCase()
{
    m_server.addUser(u"alice"_s, u"alicepw"_s);
    m_server.addUser(u"bob"_s, u"bobpw"_s);
}

void tst_HeadlessScan::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("setup"); // what the program folder lacks or holds instead
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // the start of standard output
    QTest::addColumn<QString>("err"); // the start of standard error

    const QStringList scan{u"--scan"_s, u"--folder"_s, u"<folder>"_s};
    QTest::newRow("help") << QStringList{u"--help"_s} << QString() << 0
                          << u"Usage: quellmail [--scan [--json] | --train spam|ham PATH... | --learn-archive |\n"_s
                          << QString();
    QTest::newRow("version") << QStringList{u"-v"_s} << QString() << 0 << u"quellmail " QUELLMAIL_VERSION "\n"_s
                             << QString();
    QTest::newRow("unknown option") << QStringList{u"--scna"_s} << QString() << 1 << QString()
                                    << u"Unknown option 'scna'.\nTry 'quellmail --help'."_s;
    QTest::newRow("json alone") << QStringList{u"--json"_s} << QString() << 1 << QString()
                                << u"--json and --folder go with --scan."_s;
    QTest::newRow("stray argument") << (scan + QStringList{u"extra"_s}) << QString() << 1 << QString()
                                    << u"Unexpected argument: extra"_s;
    QTest::newRow("no folder") << QStringList{u"--scan"_s, u"--folder=<folder>/none"_s} << QString() << 1 << QString()
                               << u"No program folder at "_s;
    QTest::newRow("no accounts") << scan << u"no accounts.dat"_s << 1 << QString() << u"No accounts.dat in "_s;
    QTest::newRow("unreadable list") << scan << u"keywords.dat is a folder"_s << 1 << QString() << u"Cannot read "_s;
    QTest::newRow("lock is a symbolic link")
        << scan << u"scan.lock is a symbolic link"_s << 1 << QString()
        << u"Cannot lock <folder>/scan.lock: it is a symbolic link; remove it.\n"_s;
    QTest::newRow("lock is a folder") << scan << u"scan.lock is a folder"_s << 1 << QString()
                                      << u"Cannot lock <folder>/scan.lock: it is not a plain file; remove it.\n"_s;
}

void tst_HeadlessScan::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, setup);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    ProgramFolder folder;
    if (setup != u"no accounts.dat"_s)
        QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,nobody,pw\r\n"));
    if (setup == u"keywords.dat is a folder"_s)
        QVERIFY(QDir(folder.path()).mkdir(u"keywords.dat"_s));
    if (setup == u"scan.lock is a symbolic link"_s) {
        QVERIFY(folder.write(u"elsewhere"_s, "kept\n"));
        QVERIFY(QFile::link(folder.file(u"elsewhere"_s), folder.file(u"scan.lock"_s)));
    }
    if (setup == u"scan.lock is a folder"_s)
        QVERIFY(QDir(folder.path()).mkdir(u"scan.lock"_s));
    for (QString &arg : args)
        arg.replace(u"<folder>"_s, folder.path());
    err.replace(u"<folder>"_s, folder.path());

    const Run run = runProgram(args);
    QVERIFY2(run.out.startsWith(out), qPrintable(run.out));
    QVERIFY2(run.err.startsWith(err), qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);
    // Nothing was scanned, so nothing was written, and a link stays as it was.
    QVERIFY(!QFile::exists(folder.file(u"stats.dat"_s)));
    if (setup == u"scan.lock is a symbolic link"_s) {
        QVERIFY(QFileInfo(folder.file(u"scan.lock"_s)).isSymLink());
        QCOMPARE(folder.read(u"elsewhere"_s), QByteArray("kept\n"));
    }
}

void tst_HeadlessScan::training_data()
{
    QTest::addColumn<QString>("before"); // a command run first, " | " between several
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");  // standard output
    QTest::addColumn<QString>("err");        // the start of standard error
    QTest::addColumn<QList<int>>("learned"); // spam and ham messages after

    const QString spam = u"--train spam <F>/spam.mbox --folder <F>"_s;
    const QString ham = u"--train ham <F>/Ham --folder <F>"_s;
    QTest::newRow("spam from an mbox") << QString() << spam << 0
                                       << QStringList{u"<F>/spam.mbox: 2 new, 0 already known as spam"_s,
                                                      u"Learned 2 new message(s) as spam; 0 were known already. "
                                                      "The filter knows 2 spam and 0 ham messages."_s}
                                       << QString() << QList<int>{2, 0};
    QTest::newRow("the same again is known") << spam << spam << 0
                                             << QStringList{u"<F>/spam.mbox: 0 new, 2 already known as spam"_s,
                                                            u"Learned 0 new message(s) as spam; 2 were known already. "
                                                            "The filter knows 2 spam and 0 ham messages."_s}
                                             << QString() << QList<int>{2, 0};
    QTest::newRow("ham from a Maildir and an mbox, the spam moved")
        << spam << u"--train ham <F>/Ham <F>/spam.mbox --folder=<F>"_s << 0
        << QStringList{u"<F>/Ham: 2 new, 0 already known as ham"_s,
                       u"<F>/spam.mbox: 2 new, 0 already known as ham (2 of the new moved from spam)"_s,
                       u"Learned 4 new message(s) as ham; 0 were known already. "
                       "The filter knows 0 spam and 4 ham messages."_s}
        << QString() << QList<int>{0, 4};
    // The damaged message is named and learns nothing; the others are learned.
    QTest::newRow("damaged mbox")
        << QString() << u"--train spam <F>/damaged.mbox --folder <F>"_s << 3
        << QStringList{u"<F>/damaged.mbox: 2 new, 0 already known as spam, 1 passed over"_s,
                       u"Learned 2 new message(s) as spam; 0 were known already. "
                       "The filter knows 2 spam and 0 ham messages."_s}
        << u"<F>/damaged.mbox: 1 damaged message(s) passed over, the first being message 2 (at byte 66).\n"_s
        << QList<int>{2, 0};
    QTest::newRow("a path that is no mail folder: nothing learned")
        << QString() << u"--train spam <F>/spam.mbox <F>/notes.txt --folder <F>"_s << 1 << QStringList()
        << u"<F>/notes.txt is neither an mbox file nor a Maildir folder; nothing was learned.\n"_s << QList<int>{0, 0};
    QTest::newRow("forget what was learned, with its label")
        << (spam + u" | "_s + ham) << u"--forget <F>/spam.mbox <F>/Ham <F>/damaged.mbox --folder <F>"_s << 3
        << QStringList{u"<F>/spam.mbox: 2 forgotten, 0 never learned"_s, u"<F>/Ham: 2 forgotten, 0 never learned"_s,
                       u"<F>/damaged.mbox: 0 forgotten, 2 never learned, 1 passed over"_s,
                       u"Forgot 4 message(s); 2 had never been learned. The filter knows 0 spam and 0 ham messages."_s}
        << u"<F>/damaged.mbox: 1 damaged message(s) passed over"_s << QList<int>{0, 0};
    QTest::newRow("learn the spam archive") << QString() << u"--learn-archive --folder <F>"_s << 0
                                            << QStringList{u"the spam archive: 1 new, 0 already known as spam"_s,
                                                           u"Learned 1 new message(s) as spam; 0 were known already. "
                                                           "The filter knows 1 spam and 0 ham messages."_s}
                                            << QString() << QList<int>{1, 0};
    QTest::newRow("kind neither spam nor ham")
        << QString() << u"--train junk <F>/spam.mbox --folder <F>"_s << 1 << QStringList()
        << u"--train takes spam or ham, not 'junk'."_s << QList<int>{0, 0};
    QTest::newRow("no path") << QString() << u"--forget --folder <F>"_s << 1 << QStringList()
                             << u"--forget needs at least one mbox file or Maildir folder."_s << QList<int>{0, 0};
    QTest::newRow("two actions") << QString() << u"--learn-archive --scan --folder <F>"_s << 1 << QStringList()
                                 << u"Choose one of --scan, --train, --learn-archive and --forget."_s
                                 << QList<int>{0, 0};
    QTest::newRow("no program folder") << QString() << u"--train spam <F>/spam.mbox --folder <F>/none"_s << 1
                                       << QStringList() << u"No program folder at <F>/none."_s << QList<int>{0, 0};
}

void tst_HeadlessScan::training()
{
    QFETCH(QString, before);
    QFETCH(QString, command);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QString, err);
    QFETCH(QList<int>, learned);

    ProgramFolder folder;
    QVERIFY(folder.write(u"spam.mbox"_s, "From a@b Mon Jan  1 00:00:00 2024\nSubject: pills\n\ncheap pills\n\n"
                                         "From a@b Mon Jan  1 00:00:00 2024\nSubject: casino\n\ncasino bonus\n"));
    // The second message was overwritten in the middle; its neighbours are whole.
    QVERIFY(folder.write(u"damaged.mbox"_s, "From a@b Mon Jan  1 00:00:00 2024\nSubject: one\n\nlottery\n\n"
                                            "From c@d\n\x00\x00\x00\x00\nSubject: zebrafish\n\nzebrafish\n\n"
                                            "From e@f\nSubject: three\n\nwinner\n"_ba));
    QVERIFY(folder.write(u"notes.txt"_s, "Dear diary\n"));
    QVERIFY(QDir(folder.path()).mkpath(u"Ham/cur"_s) && QDir(folder.path()).mkpath(u"Ham/new"_s));
    QVERIFY(folder.write(u"Ham/cur/1.host:2,S"_s, "Subject: minutes\n\nminutes of the meeting\n"));
    QVERIFY(folder.write(u"Ham/new/2.host"_s, "Subject: lunch\n\nlunch on tuesday\n"));
    QVERIFY(folder.write(u"SpamDeleted/offer.html"_s,
                         Scan::ArchiveWriter::inertPrefix() + "Subject: offer\r\n\r\nwin\r\n"));
    const auto args = [&](const QString &text) {
        QStringList list = text.split(u' ');
        for (QString &arg : list)
            arg.replace(u"<F>"_s, folder.path());
        return list;
    };
    if (!before.isEmpty()) {
        for (const QString &first : before.split(u" | "_s)) {
            const Run run = runProgram(args(first));
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        }
    }
    const Run run = runProgram(args(command));
    QStringList expected = lines;
    for (QString &line : expected)
        line.replace(u"<F>"_s, folder.path());
    err.replace(u"<F>"_s, folder.path());
    QCOMPARE(run.out.split(u'\n', Qt::SkipEmptyParts), expected);
    QVERIFY2(run.err.startsWith(err), qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);

    StateDatabase db(folder.path());
    QVERIFY(db.open());
    const Scan::TokenStore::Counts counts = Scan::TokenStore::learnedMessages(db);
    QCOMPARE((QList<int>{int(counts.spam), int(counts.ham)}), learned);
    // Nothing of the damaged message was learned.
    QSqlQuery query(db.connection());
    QVERIFY(query.exec(u"SELECT COUNT(*) FROM learned_tokens WHERE token LIKE '%zebrafish%'"_s) && query.next());
    QCOMPARE(query.value(0).toInt(), 0);
}

void tst_HeadlessScan::scan_data()
{
    QTest::addColumn<bool>("json");
    QTest::addColumn<bool>("failingAccount"); // bob with a wrong password after alice
    QTest::addColumn<QString>("setup");       // the lock, settings.ini or a planted library
    QTest::addColumn<int>("exitCode");
    // Standard output and error; <S> is the server cell, <H> its host, <F>
    // the folder, <P> this test's process id.
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("errLines");
    QTest::addColumn<int>("left");          // alice's messages after the run
    QTest::addColumn<QByteArray>("totals"); // stats.dat: blocked/scanned

    const QString spam = u"Spam fromSpammer <x@spam.example>"_s;
    const QString alice = u"<S> alice: 2 scanned, 1 condemned, 1 deleted"_s;
    const QString bob = u"<S> bob: failed: Error received from PASS command: -ERR [AUTH] Authentication failed."_s;
    const QString bobProblem = u"<H> (bob): Error received from PASS command: -ERR [AUTH] Authentication failed."_s;
    const QString one = u"1 account, 0 failed: 2 scanned, 1 condemned, 1 deleted"_s;
    const QStringList scanned{spam, alice, one};
    const QString busy = u"Another scan of <F> is running (process <P>)."_s;
    QTest::newRow("scanned") << false << false << QString() << 0 << scanned << QStringList() << 1 << QByteArray("4/12");
    QTest::newRow("an account fails") << false << true << QString() << 2
                                      << QStringList{spam, alice, bob,
                                                     u"2 accounts, 1 failed: 2 scanned, 1 condemned, 1 deleted"_s}
                                      << QStringList{bobProblem} << 1 << QByteArray("4/12");
    QTest::newRow("json") << true << true << QString() << 2 << QStringList() << QStringList{bobProblem} << 1
                          << QByteArray("4/12");
    // Spam is listed however the window would announce it.
    QTest::newRow("announced in the tray")
        << false << false << u"[Scan]\nannounce=tray\n"_s << 0 << scanned << QStringList() << 1 << QByteArray("4/12");
    QTest::newRow("held for review, yes") << false << false << u"[Scan]\nholdForReview=Yes\n"_s << 0
                                          << QStringList{u"Held for review: Spammer <x@spam.example>"_s,
                                                         u"<S> alice: 2 scanned, 1 condemned, 0 deleted"_s,
                                                         u"1 account, 0 failed: 2 scanned, 1 condemned, 0 deleted"_s}
                                          << QStringList() << 2 << QByteArray("3/12");
    QTest::newRow("hold unreadable: held and said")
        << false << false << u"[Scan]\nholdForReview=maybe\n"_s << 3
        << QStringList{u"Held for review: Spammer <x@spam.example>"_s,
                       u"<S> alice: 2 scanned, 1 condemned, 0 deleted"_s,
                       u"1 account, 0 failed: 2 scanned, 1 condemned, 0 deleted"_s}
        << QStringList{u"<F>/settings.ini: Scan/holdForReview is not one of yes, no, true, false, on, off, 1, 0: "
                       "spam is held for review"_s}
        << 2 << QByteArray("3/12");
    // The second scan of the folder: the kept message was judged by the first
    // (which deleted the spam) and is neither fetched nor counted again.
    QTest::newRow("check each message once, second scan")
        << false << false << u"judged once before"_s << 0
        << QStringList{u"<S> alice: 0 scanned, 0 condemned, 0 deleted"_s,
                       u"1 account, 0 failed: 0 scanned, 0 condemned, 0 deleted"_s}
        << QStringList() << 1 << QByteArray("4/12");
    // Every line of a list counts, past the 16-bit row numbers too.
    QTest::newRow("blacklist of 40,000 lines, the last one matching")
        << false << false << u"long blacklist"_s << 0 << scanned << QStringList() << 1 << QByteArray("4/12");
    // The program's own control, not whatever the folder holds under its name.
    QTest::newRow("library planted in the folder")
        << false << false << u"planted library"_s << 0 << scanned << QStringList() << 1 << QByteArray("4/12");

    // The lock: held by a live process, for too long, or left in any state
    // by one that is gone.
    QTest::newRow("lock held") << false << false << u"held"_s << 75 << QStringList() << QStringList{busy} << 2
                               << QByteArray("3/10");
    QTest::newRow("lock held for two hours")
        << false << false << u"held two hours"_s << 4 << QStringList()
        << QStringList{u"Another scan of <F> has been running for 120 minutes (process <P>); it may be stuck, "
                       "for instance the window waiting for an answer to a box."_s}
        << 2 << QByteArray("3/10");
    // A scan that is starting has made the file and not yet written its id.
    QTest::newRow("lock being made") << false << false << u"empty, just made"_s << 75 << QStringList()
                                     << QStringList{u"Another scan of <F> is starting."_s} << 2 << QByteArray("3/10");
    for (const char *lock : {"of a dead process", "empty", "garbage", "of a live process elsewhere"}) {
        QTest::addRow("lock %s taken over", lock)
            << false << false << QString::fromLatin1(lock) << 0 << scanned << QStringList() << 1 << QByteArray("4/12");
    }
}

void tst_HeadlessScan::scan()
{
    QFETCH(bool, json);
    QFETCH(bool, failingAccount);
    QFETCH(QString, setup);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, errLines);
    QFETCH(int, left);
    QFETCH(QByteArray, totals);

    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (scripts/install-deps.sh installs it)");
    if (!m_server.isRunning()) {
        // As root on port 110 of an address of its own, reached the way the
        // window reaches it: a plain host name and the port saved with the window.
        QVERIFY2(isRoot() ? m_server.start(u"127.83.6.1"_s, 110) : m_server.start(u"127.0.0.1"_s, 0),
                 qPrintable(m_server.errorString()));
        m_cell = isRoot() ? m_server.address() : u"pop3://127.0.0.1:%1"_s.arg(m_server.port());
    }
    // Each row starts from the same mailbox: one spam message, one clean.
    const QByteArray held = m_server.messages(u"alice"_s).join();
    if (!held.contains("Subject: Offer"))
        m_server.addMessage(u"alice"_s, "From: Spammer <x@spam.example>\nSubject: Offer\n\nBuy.\n");
    if (!held.contains("Subject: Lunch"))
        m_server.addMessage(u"alice"_s, "From: friend@example.org\nSubject: Lunch\n\nNoon?\n");
    QCOMPARE(m_server.messageCount(u"alice"_s), 2);

    ProgramFolder folder;
    QByteArray accounts = m_cell.toUtf8() + ",alice,alicepw\r\n";
    if (failingAccount)
        accounts += m_cell.toUtf8() + ",bob,wrong\r\n";
    QVERIFY(folder.write(u"accounts.dat"_s, accounts));
    QByteArray blacklist;
    for (int line = 1; setup == u"long blacklist"_s && line < 40000; ++line)
        blacklist += "offers" + QByteArray::number(line) + "@black.example\r\n";
    QVERIFY(folder.write(u"blacklist.dat"_s, blacklist + "spam.example\r\n"));
    QVERIFY(folder.write(u"stats.dat"_s, Stats));
    if (setup.startsWith(u'['))
        QVERIFY(folder.write(u"settings.ini"_s, setup.toUtf8()));
    if (setup == u"planted library"_s) {
        QVERIFY(QFile::remove(folder.file(u"libtarnpostctl.so"_s)));
        QVERIFY(folder.write(u"libtarnpostctl.so"_s, "not a library"));
    }

    const QString lockPath = folder.file(u"scan.lock"_s);
    QLockFile holder(lockPath);
    if (setup.startsWith(u"held"_s)) {
        QVERIFY(holder.tryLock(0));
        if (setup == u"held two hours"_s) {
            QFile file(lockPath);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(
                file.setFileTime(QDateTime::currentDateTime().addSecs(-2 * 3600), QFileDevice::FileModificationTime));
        }
    } else if (setup == u"of a dead process"_s) {
        QProcess gone;
        gone.start(u"true"_s, QStringList());
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QVERIFY(folder.write(u"scan.lock"_s, QByteArray::number(pid) + "\nquellmail\n\n"));
    } else if (setup.startsWith(u"empty"_s)) {
        QVERIFY(folder.write(u"scan.lock"_s, QByteArray()));
    } else if (setup == u"garbage"_s) {
        QVERIFY(folder.write(u"scan.lock"_s, QByteArray("\xff\x00 not a lock\n", 15)));
    }
    if (setup == u"empty"_s || setup == u"garbage"_s) {
        // Left behind an hour ago.
        QFile file(lockPath);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    } else if (setup == u"of a live process elsewhere"_s) {
        // This test's own process, recorded by another host.
        QVERIFY(folder.write(u"scan.lock"_s,
                             QByteArray::number(QCoreApplication::applicationPid()) + "\nquellmail\nsomewhere-else\n"));
    }

    QStringList args{u"--scan"_s, u"--folder"_s, folder.path()};
    if (setup == u"judged once before"_s) {
        QVERIFY(folder.write(u"settings.ini"_s, "[Scan]\njudgeOnce=yes\n"));
        const Run first = runProgram(args);
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(m_server.messageCount(u"alice"_s), 1);
    }
    if (json)
        args.append(u"--json"_s);
    const Run run = runProgram(args);
    QCOMPARE(run.exitCode, exitCode);

    const auto expand = [&](QStringList texts) {
        for (QString &line : texts) {
            line.replace(u"<S>"_s, m_cell)
                .replace(u"<H>"_s, m_server.address())
                .replace(u"<F>"_s, folder.path())
                .replace(u"<P>"_s, QString::number(QCoreApplication::applicationPid()));
        }
        return texts.isEmpty() ? QString() : texts.join(u'\n') + u'\n';
    };
    QCOMPARE(run.err, expand(errLines));
    if (exitCode == 75 || exitCode == 4)
        QVERIFY(run.out.isEmpty());
    else
        QVERIFY(!QFile::exists(lockPath));
    if (json) {
        QJsonParseError error;
        const QJsonObject root = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + u'\n' + run.out));
        QCOMPARE(root.value(u"folder"_s).toString(), folder.path());
        const QJsonObject summary = root.value(u"summary"_s).toObject();
        QCOMPARE(summary,
                 (QJsonObject{
                     {u"accounts"_s, 2}, {u"failed"_s, 1}, {u"scanned"_s, 2}, {u"condemned"_s, 1}, {u"deleted"_s, 1}}));
        QCOMPARE(root.value(u"problems"_s).toArray(), QJsonArray{expand(errLines).trimmed()});
        const QJsonArray results = root.value(u"accounts"_s).toArray();
        QCOMPARE(results.size(), 2);
        const QJsonObject verdict{{u"from"_s, u"Spammer <x@spam.example>"_s},
                                  {u"subject"_s, u"Offer"_s},
                                  {u"rule"_s, u"blacklist"_s},
                                  {u"entry"_s, u"spam.example"_s},
                                  {u"held"_s, false}};
        QCOMPARE(results.at(0).toObject(), (QJsonObject{{u"server"_s, m_cell},
                                                        {u"login"_s, u"alice"_s},
                                                        {u"ok"_s, true},
                                                        {u"error"_s, QJsonValue()},
                                                        {u"scanned"_s, 2},
                                                        {u"condemned"_s, 1},
                                                        {u"deleted"_s, 1},
                                                        {u"spam"_s, QJsonArray{u"Spam fromSpammer <x@spam.example>"_s}},
                                                        {u"verdicts"_s, QJsonArray{verdict}},
                                                        {u"problems"_s, QJsonArray()}}));
        const QJsonObject failed = results.at(1).toObject();
        QCOMPARE(failed.value(u"ok"_s), QJsonValue(false));
        QCOMPARE(failed.value(u"error"_s).toString(),
                 u"Error received from PASS command: -ERR [AUTH] Authentication failed."_s);
        QCOMPARE(failed.value(u"spam"_s).toArray(), QJsonArray());
    } else {
        QCOMPARE(run.out, expand(lines));
    }

    QCOMPARE(m_server.messageCount(u"alice"_s), left);
    QCOMPARE(statsTotals(folder), totals);
    // The archive holds the condemned message as the server sent it.
    if (left < 2)
        QVERIFY(folder.read(u"SpamDeleted/Offer.html"_s).contains("Subject: Offer\r\n\r\nBuy."));
}

// The rules on decoded text and the learned filter, through the real
// control's header block and body as a real server sends them.
void tst_HeadlessScan::decodedTextAndLearnedFilter()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (scripts/install-deps.sh installs it)");
    DovecotServer server;
    server.addUser(u"carol"_s, u"carolpw"_s);
    QVERIFY2(server.start(u"127.0.0.1"_s, 0), qPrintable(server.errorString()));
    server.addMessage(u"carol"_s, "From: a@example.net\nSubject: News\nContent-Type: text/plain; charset=utf-8\n"
                                  "Content-Transfer-Encoding: quoted-printable\n\nYour on=\nline cas=\nino awaits.\n");
    server.addMessage(u"carol"_s, "From: b@example.net\nSubject: =?utf-8?B?Q2hlYXAgVmlhZ3JhIGhlcmU=?=\n\nHello.\n");
    server.addMessage(u"carol"_s, "From: c@example.net\nSubject: Offer\n\nbuy cheap pills online, discount pharmacy\n");
    server.addMessage(u"carol"_s, "From: d@example.net\nSubject: Team\n\nagenda for the project meeting on tuesday\n");
    // Half offer, half meeting: a score the filter is unsure of.
    server.addMessage(u"carol"_s, "From: e@example.net\nSubject: offer\n\ncheap pills for the project meeting\n");

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, u"pop3://127.0.0.1:%1,carol,carolpw\r\n"_s.arg(server.port()).toUtf8()));
    QVERIFY(folder.write(u"keywords.dat"_s, "casino\r\nviagra\r\n"));
    QVERIFY(folder.write(u"stats.dat"_s, Stats));
    // Six messages learned score under the default threshold: a lower one.
    QVERIFY(folder.write(u"settings.ini"_s, "[LearnedFilter]\nenabled=true\nthreshold=0.9\nunsureThreshold=0.5\n"));
    {
        StateDatabase db(folder.path());
        QVERIFY(db.open());
        Scan::LearnedFilter filter(db);
        QVERIFY(filter.open());
        QVERIFY(filter.learn(LearningExamples::small()));
    }

    const Run run = runProgram({u"--scan"_s, u"--folder"_s, folder.path()});
    QCOMPARE(run.exitCode, 0);
    // The filter's own verdict is a guess: held for review, not deleted.
    QVERIFY2(run.out.contains(u"Held for review: c@example.net\n"_s), qPrintable(run.out));
    // Unsure is no verdict: neither announced nor counted, and left on the server.
    QVERIFY2(run.out.contains(u"5 scanned, 3 condemned, 2 deleted"_s), qPrintable(run.out));
    QVERIFY2(!run.out.contains(u"e@example.net"_s), qPrintable(run.out));
    QCOMPARE(server.messageCount(u"carol"_s), 3);
    // The next scan leaves it there and lists it no second time.
    QCOMPARE(runProgram({u"--scan"_s, u"--folder"_s, folder.path()}).exitCode, 0);
    QCOMPARE(server.messageCount(u"carol"_s), 3);

    StateDatabase db(folder.path());
    QVERIFY(db.open());
    QStringList verdicts;
    for (const ReviewList::Message &m : ReviewList(db).all())
        verdicts.prepend(m.rule + u'/' + (m.rule == u"keyword"_s ? m.matchedIn : m.subject) + u'/'
                         + ReviewList::stateText(m.state) + u' ' + m.entry);
    QCOMPARE(verdicts.size(), 4);
    QCOMPARE(verdicts.mid(0, 2),
             (QStringList{u"keyword/decoded body/deleted casino"_s, u"keyword/decoded subject/deleted viagra"_s}));
    QVERIFY2(verdicts.at(2).startsWith(u"learned filter/Offer/held "_s), qPrintable(verdicts.join(u", "_s)));
    QVERIFY2(verdicts.at(3).startsWith(u"learned filter/offer/unsure "_s), qPrintable(verdicts.join(u", "_s)));
    // The keyword rule's spam was learned; the filter's own verdict was not.
    Scan::LearnedFilter filter(db);
    QVERIFY(filter.open());
    QCOMPARE(filter.spamMessages(), 5u);
}

QTEST_MAIN(tst_HeadlessScan)
#include "tst_headlessscan.moc"
