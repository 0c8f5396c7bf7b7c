// Saves that do not finish: a child that saves in a loop is killed with
// SIGKILL at random moments, and every data file must then be one whole
// save, old or new, never cut short or mixed. A save onto a read-only folder
// or a full disk must leave the files as they were and name each file it
// could not write.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString Driver = QStringLiteral(QUELLMAIL_SAVE_DRIVER);
const QStringList ListFiles = {u"accounts.dat"_s, u"whitelist.dat"_s, u"blacklist.dat"_s, u"keywords.dat"_s};
constexpr int Rows = 5000;
constexpr int Iterations = 150;
// Bounds the test; the iterations done in it are reported, and a minimum is required.
constexpr qint64 BudgetMs = 120000;
constexpr int MinimumIterations = 15;

QByteArray readAll(const QString &path, bool *exists = nullptr)
{
    QFile f(path);
    const bool ok = f.open(QIODevice::ReadOnly);
    if (exists)
        *exists = ok;
    return ok ? f.readAll() : QByteArray();
}

// The generation a list file holds, or -1 (with why) if it is not one whole save.
int listGeneration(const QByteArray &bytes, int kind, QString *why)
{
    const int expectedRows = kind == 0 ? Rows / 10 : Rows;
    if (!bytes.endsWith("\r\n")) {
        *why = u"does not end with CR LF (%1 bytes)"_s.arg(bytes.size());
        return -1;
    }
    const QList<QByteArray> lines = bytes.chopped(2).split('\n');
    if (lines.size() != expectedRows) {
        *why = u"%1 rows instead of %2"_s.arg(lines.size()).arg(expectedRows);
        return -1;
    }
    static const QRegularExpression tag(u"^gen(\\d+)-(\\d)-(\\d+)$"_s);
    int generation = -1;
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (i + 1 < lines.size()) {
            if (!line.endsWith('\r')) {
                *why = u"line %1 has no CR"_s.arg(i);
                return -1;
            }
            line.chop(1);
        }
        QString cell = QString::fromUtf8(line);
        if (kind == 0) {
            const QStringList parts = cell.split(u',');
            if (parts.size() != 3 || parts.at(0) != parts.at(2) + u".example.org"_s || parts.at(1) != u"user"_s) {
                *why = u"bad account line %1"_s.arg(i);
                return -1;
            }
            cell = parts.at(2);
        }
        const QRegularExpressionMatch m = tag.match(cell);
        if (!m.hasMatch() || m.captured(2).toInt() != kind || m.captured(3).toInt() != i) {
            *why = u"bad line %1: %2"_s.arg(i).arg(cell.left(60));
            return -1;
        }
        const int g = m.captured(1).toInt();
        if (generation >= 0 && g != generation) {
            *why = u"generations %1 and %2 mixed"_s.arg(generation).arg(g);
            return -1;
        }
        generation = g;
    }
    return generation;
}

int statsGeneration(const QByteArray &bytes, QString *why)
{
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() != 13 || !lines.last().isEmpty()) {
        *why = u"%1 lines"_s.arg(lines.size() - 1);
        return -1;
    }
    const QList<QByteArray> expected = {QByteArray::number(Rows / 10) + '\r', QByteArray::number(Rows) + '\r',
                                        QByteArray::number(Rows) + '\r', QByteArray::number(Rows) + '\r'};
    for (int i = 0; i < 4; ++i) {
        if (lines.at(i) != expected.at(i)) {
            *why = u"count line %1 reads %2"_s.arg(i + 1).arg(QString::fromLatin1(lines.at(i)));
            return -1;
        }
    }
    if (lines.at(4) != lines.at(5) || !lines.at(4).endsWith('\r')) {
        *why = u"totals differ"_s;
        return -1;
    }
    for (int i = 6; i < 12; ++i) {
        if (!lines.at(i).endsWith('\r')) {
            *why = u"line %1 has no CR"_s.arg(i + 1);
            return -1;
        }
    }
    return lines.at(4).chopped(1).toInt();
}

// The driver's report: one line per box ("<title> <text>", line ends as
// "|"). Each box must be a save report naming exactly `files` (each with a reason).
QString checkBoxes(const QByteArray &output, const QString &folder, const QList<QStringList> &files)
{
    QStringList lines = QString::fromUtf8(output).trimmed().split(u'\n');
    if (lines.takeFirst() != u"boxes=%1"_s.arg(files.size()))
        return u"wrong box count in: "_s + QString::fromUtf8(output);
    for (qsizetype b = 0; b < files.size(); ++b) {
        const QString prefix = u"Save failed. "_s;
        if (b >= lines.size() || !lines.at(b).startsWith(prefix))
            return u"not a save report: "_s + lines.value(b);
        const QStringList parts = lines.at(b).mid(prefix.size()).split(u'|');
        if (parts.size() != files.at(b).size() + 2)
            return u"wrong file count: "_s + lines.at(b);
        for (qsizetype i = 0; i < files.at(b).size(); ++i) {
            const QString named = folder + u'/' + files.at(b).at(i) + u": "_s;
            if (!parts.at(i + 1).startsWith(named) || parts.at(i + 1).size() == named.size())
                return u"file %1 not named with a reason: "_s.arg(files.at(b).at(i)) + lines.at(b);
        }
    }
    return {};
}

// Temporary files a save left behind (none where the system has unnamed ones).
int leftoverTemporaries(const QString &folder)
{
    int n = 0;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (!name.endsWith(u".dat"_s) && name.contains(u".dat."_s))
            ++n;
    }
    return n;
}

} // namespace

class tst_InterruptedSaves : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedWhileSaving();
    void readOnlyFolder();
    void fullDisk();

private:
    // Two generations saved whole; returns how long that took.
    qint64 seed(const QString &folder);
};

qint64 tst_InterruptedSaves::seed(const QString &folder)
{
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.start(Driver, {u"loop"_s, folder, QString::number(Rows), u"1"_s, u"2"_s});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return -1;
    return clock.elapsed();
}

void tst_InterruptedSaves::killedWhileSaving()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    const qint64 seedMs = seed(folder);
    QVERIFY(seedMs > 0);

    QHash<QString, int> last;
    QString why;
    for (int k = 0; k < ListFiles.size(); ++k)
        last[ListFiles.at(k)] = listGeneration(readAll(folder + u'/' + ListFiles.at(k)), k, &why);
    last[u"stats.dat"_s] = statsGeneration(readAll(folder + u"/stats.dat"_s), &why);
    for (auto it = last.cbegin(); it != last.cend(); ++it)
        QVERIFY2(it.value() >= 1, qPrintable(it.key() + u": "_s + why));

    QRandomGenerator random(20261207);
    QElapsedTimer budget;
    budget.start();
    int iterations = 0;
    int changed = 0;
    int interruptedWrites = 0;
    for (int i = 1; i <= Iterations && budget.elapsed() < BudgetMs; ++i) {
        const int base = i * 100000;
        QProcess p;
        p.start(Driver, {u"loop"_s, folder, QString::number(Rows), QString::number(base)});
        QVERIFY(p.waitForStarted(30000));
        // Killed somewhere in its first saves, never before the first began;
        // the spread covers a couple of saves at whatever speed this build runs.
        QByteArray out;
        while (!out.contains("begin")) {
            QVERIFY2(p.waitForReadyRead(30000), "the driver never started saving");
            out += p.readAllStandardOutput();
        }
        QTest::qSleep(int(random.bounded(quint32(qMax<qint64>(200, seedMs)))));
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        ++iterations;
        out += p.readAllStandardOutput();
        interruptedWrites += out.lastIndexOf("begin") > out.lastIndexOf("end") ? 1 : 0;

        auto judge = [&](const QString &name, int generation, const QString &reason) {
            const int before = last.value(name);
            // Whole-old: the same generation as before; whole-new: one of this run's.
            QVERIFY2(generation >= 0, qPrintable(u"iteration %1, %2: %3"_s.arg(i).arg(name, reason)));
            QVERIFY2(
                generation == before || generation >= base,
                qPrintable(u"iteration %1, %2: generation %3 after %4"_s.arg(i).arg(name).arg(generation).arg(before)));
            changed += generation != before ? 1 : 0;
            last[name] = generation;
        };
        for (int k = 0; k < ListFiles.size(); ++k) {
            QString reason;
            const int g = listGeneration(readAll(folder + u'/' + ListFiles.at(k)), k, &reason);
            judge(ListFiles.at(k), g, reason);
        }
        QString reason;
        judge(u"stats.dat"_s, statsGeneration(readAll(folder + u"/stats.dat"_s), &reason), reason);
    }
    QVERIFY2(iterations >= MinimumIterations, qPrintable(u"only %1 iterations"_s.arg(iterations)));
    // The kills must have landed while files were being written.
    QVERIFY(changed > 0);
    QVERIFY(interruptedWrites > 0);
    std::printf(
        "save interruptions survived: %d (files replaced %d times, %d kills inside a save, %d temporary files left)\n",
        iterations, changed, interruptedWrites, leftoverTemporaries(folder));
}

void tst_InterruptedSaves::readOnlyFolder()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    QVERIFY(seed(folder) > 0);
    QHash<QString, QByteArray> before;
    for (const QString &name : ListFiles + QStringList{u"stats.dat"_s}) {
        before[name] = readAll(folder + u'/' + name);
        // Readable by the ordinary user the driver becomes; accounts.dat is saved owner-only.
        QVERIFY(QFile::setPermissions(folder + u'/' + name,
                                      QFileDevice::ReadOwner | QFileDevice::ReadOther | QFileDevice::ReadGroup));
    }
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);

    QProcess p;
    p.start(Driver, {u"once"_s, folder, u"nobody"_s});
    QVERIFY(p.waitForFinished(120000));
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    // Save Settings names all five files; the end-of-scan write names stats.dat.
    const QString boxes =
        checkBoxes(p.readAllStandardOutput(), folder, {QStringList{u"stats.dat"_s} + ListFiles, {u"stats.dat"_s}});
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes));
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY2(readAll(folder + u'/' + it.key()) == it.value(), qPrintable(it.key()));
    QCOMPARE(leftoverTemporaries(folder), 0);
}

void tst_InterruptedSaves::fullDisk()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    QVERIFY(seed(folder) > 0);
    QHash<QString, QByteArray> before;
    for (const QString &name : ListFiles + QStringList{u"stats.dat"_s})
        before[name] = readAll(folder + u'/' + name);

    // Every list file is larger than this; stats.dat is not.
    QProcess p;
    p.start(Driver, {u"once"_s, folder, u"fsize=8192"_s});
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QString boxes = checkBoxes(p.readAllStandardOutput(), folder, {ListFiles});
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes));
    for (const QString &name : ListFiles)
        QVERIFY2(readAll(folder + u'/' + name) == before.value(name), qPrintable(name));
    // The small file went through whole.
    const QList<QByteArray> stats = readAll(folder + u"/stats.dat"_s).split('\n');
    QCOMPARE(stats.size(), 13);
    QCOMPARE(stats.at(5), QByteArray("999\r"));
    QCOMPARE(leftoverTemporaries(folder), 0);
}

QTEST_GUILESS_MAIN(tst_InterruptedSaves)
#include "tst_interruptedsaves.moc"
