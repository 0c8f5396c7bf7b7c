// One program folder in use by everyone at once: the window scanning, the
// command-line scan run again and again, and another program holding the
// state database open and reading it, against one Dovecot mailbox that
// keeps receiving spam. No scan may report a problem and the totals in
// stats.dat must add up to what every scan counted.
//
// About a minute; QUELLMAIL_STRESS_SECONDS runs it longer (or shorter).

#include "dovecot/dovecotserver.h"
#include "scan/mailboxscanner.h"
#include "tests/support/programfolder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <functional>
#include <utility>

using namespace Qt::StringLiterals;
using namespace ProgramTest;

namespace {

constexpr int DefaultSeconds = 60;

// Another program reading the database the whole time: its own connection,
// kept open, reading every row of every table a few times a second.
class DatabaseReader final : public QObject
{
public:
    explicit DatabaseReader(const QString &path)
        : m_path(path)
    {}

    void start()
    {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &DatabaseReader::readAll);
        m_timer->start(20);
    }
    void finish()
    {
        delete m_timer;
        if (QSqlDatabase::contains(m_connection)) {
            QSqlDatabase::database(m_connection, false).close();
            QSqlDatabase::removeDatabase(m_connection);
        }
    }

    std::atomic<int> reads = 0;
    std::atomic<int> busy = 0;
    QStringList errors; // read after the thread has ended

private:
    void readAll()
    {
        if (!QSqlDatabase::contains(m_connection)) {
            if (!QFileInfo::exists(m_path))
                return; // the first scan has not made it yet
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
            db.setDatabaseName(m_path);
            if (!db.open()) {
                errors.append(db.lastError().text());
                return;
            }
        }
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        QSqlQuery tables(db);
        if (!tables.exec(u"SELECT name FROM sqlite_master WHERE type = 'table'"_s)) {
            note(tables.lastError());
            return;
        }
        QStringList names;
        while (tables.next())
            names.append(tables.value(0).toString());
        for (const QString &name : std::as_const(names)) {
            QSqlQuery rows(db);
            if (!rows.exec(u"SELECT * FROM \"%1\""_s.arg(name))) {
                note(rows.lastError());
                continue;
            }
            while (rows.next()) {
            }
        }
        ++reads;
    }
    void note(const QSqlError &error)
    {
        // Busy is what a reader of a database in use must expect.
        if (error.nativeErrorCode() == u"5"_s || error.nativeErrorCode() == u"6"_s)
            ++busy;
        else
            errors.append(error.text());
    }

    QString m_path;
    QString m_connection = u"stress-reader"_s;
    QTimer *m_timer = nullptr;
};

QPair<qint64, qint64> statsTotals(const ProgramFolder &folder)
{
    const QList<QByteArray> lines = folder.read(u"stats.dat"_s).split('\n');
    if (lines.size() < 6)
        return {-1, -1};
    return {lines.at(4).trimmed().toLongLong(), lines.at(5).trimmed().toLongLong()};
}

} // namespace

class tst_ConcurrentScans : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowCommandLineAndReader();
};

void tst_ConcurrentScans::windowCommandLineAndReader()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (scripts/install-deps.sh installs it)");
    const int seconds = qEnvironmentVariableIsSet("QUELLMAIL_STRESS_SECONDS")
                            ? qEnvironmentVariableIntValue("QUELLMAIL_STRESS_SECONDS")
                            : DefaultSeconds;

    DovecotServer server;
    server.addUser(u"stress"_s, u"stresspw"_s);
    for (int i = 0; i < 5; ++i)
        server.addMessage(u"stress"_s,
                          "From: friend@example.org\nSubject: Note " + QByteArray::number(i) + "\n\nHi.\n");
    QVERIFY2(server.start(u"127.0.0.1"_s, 0), qPrintable(server.errorString()));

    ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, u"pop3://127.0.0.1:%1,stress,stresspw\r\n"_s.arg(server.port()).toUtf8()));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    QVERIFY(
        folder.write(u"stats.dat"_s, "1\r\n0\r\n1\r\n0\r\n100\r\n1000\r\n 1 \r\n5\r\n 0 \r\n 1 \r\n 0 \r\n 0 \r\n"));
    QVERIFY(folder.write(u"settings.ini"_s, "[Scan]\nannounce=tray\n"));
    const QPair<qint64, qint64> start = statsTotals(folder);

    // The window, its scans counted as they end.
    auto window = openWindow(folder);
    qint64 windowScans = 0, windowBusy = 0, deleted = 0, scanned = 0;
    QStringList problems;
    window->setScanProcedure([&] {
        Scan::MailboxScanner scanner(*window);
        scanner.run();
        ++windowScans;
        problems += scanner.problems();
        for (const Scan::AccountResult &r : scanner.results()) {
            scanned += r.scanned;
            deleted += r.deleted;
        }
    });

    DatabaseReader reader(folder.file(u"quellmail.sqlite"_s));
    QThread readerThread;
    reader.moveToThread(&readerThread);
    readerThread.start();
    QMetaObject::invokeMethod(&reader, &DatabaseReader::start, Qt::BlockingQueuedConnection);
    bool readerStopped = false;
    const auto stopReader = [&] {
        if (std::exchange(readerStopped, true))
            return;
        QMetaObject::invokeMethod(&reader, &DatabaseReader::finish, Qt::BlockingQueuedConnection);
        readerThread.quit();
        readerThread.wait();
    };
    const auto stopReaderOnFailure = qScopeGuard(stopReader);

    qint64 commandScans = 0, commandBusy = 0;
    int spamSent = 0;
    QProcess command;
    command.setProgram(QStringLiteral(QUELLMAIL_PROGRAM));
    command.setArguments({u"--scan"_s, u"--json"_s, u"--folder"_s, folder.path()});
    // What one command-line run did: its counts, or why it is a failure.
    const auto collect = [&] {
        const QString err = QString::fromUtf8(command.readAllStandardError());
        const QByteArray out = command.readAllStandardOutput();
        if (command.exitStatus() != QProcess::NormalExit) {
            problems.append(u"the command line crashed: "_s + err);
        } else if (command.exitCode() == 75) {
            ++commandBusy;
        } else if (command.exitCode() != 0 || !err.isEmpty()) {
            problems.append(u"the command line ended with %1: %2"_s.arg(command.exitCode()).arg(err));
        } else {
            ++commandScans;
            const QJsonObject summary = QJsonDocument::fromJson(out).object().value(u"summary"_s).toObject();
            scanned += summary.value(u"scanned"_s).toInt();
            deleted += summary.value(u"deleted"_s).toInt();
        }
    };

    // Waits in the event loop (the reader and the command line go on) until
    // `done` holds, the command line ends, or `ms` have passed.
    const auto pause = [&](int ms, const std::function<bool()> &done) {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        QTimer check;
        connect(&check, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        connect(&command, &QProcess::finished, &loop, &QEventLoop::quit);
        deadline.start(ms);
        check.start(5);
        if (command.state() != QProcess::NotRunning && !done())
            loop.exec();
    };
    const auto windowScan = [&] {
        const qint64 before = windowScans;
        window->runScan();
        if (windowScans == before)
            ++windowBusy;
    };

    // Rounds of: a spam arrives, the command line starts, the window tries
    // while it holds the folder, then again after pauses of every length,
    // so that each finds the other at every stage of its scan.
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; clock.elapsed() < seconds * 1000LL && problems.isEmpty(); ++round) {
        server.addMessage(u"stress"_s, "From: Spammer <x@spam.example>\nSubject: Offer "
                                           + QByteArray::number(++spamSent) + "\n\nBuy.\n");
        command.start();
        QVERIFY(command.waitForStarted());
        pause(10000, [&] { return QFileInfo::exists(folder.file(u"scan.lock"_s)); });
        windowScan();
        pause((round % 5) * 80, [] { return false; });
        windowScan();
        if (command.state() != QProcess::NotRunning)
            QVERIFY(command.waitForFinished(120000));
        collect();
    }
    // One more of each alone, so both have surely scanned and every spam is gone.
    command.start();
    QVERIFY(command.waitForFinished(120000));
    collect();
    window->runScan();
    stopReader();

    std::printf("%d s: %lld window scans (%lld busy), %lld command-line scans (%lld busy), %d spam, %d reads "
                "(%d busy)\n",
                seconds, windowScans, windowBusy, commandScans, commandBusy, spamSent, reader.reads.load(),
                reader.busy.load());
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    QVERIFY2(reader.errors.isEmpty(), qPrintable(reader.errors.join(u'\n')));
    QVERIFY(window->Label17()->text().startsWith(u"Quellmail strikes"_s));
    QCOMPARE(server.messageCount(u"stress"_s), 5);
    QCOMPARE(deleted, qint64(spamSent));
    QCOMPARE(statsTotals(folder), qMakePair(start.first + deleted, start.second + scanned));
}

QTEST_MAIN(tst_ConcurrentScans)
#include "tst_concurrentscans.moc"
