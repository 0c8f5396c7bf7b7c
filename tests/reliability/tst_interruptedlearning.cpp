// Training killed mid-batch: a child that learns a folder batch after batch
// (batches ended by their bytes) is killed with SIGKILL at random moments,
// and the token store must then hold whole batches only, each one counted
// fully or not at all, within its bound, with an intact file.

#include "learn/learnedfilter.h"
#include "state/statedatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

const QString Driver = QStringLiteral(QUELLMAIL_LEARN_DRIVER);
constexpr int BatchSize = 150;
constexpr qint64 BudgetMs = 60000;
constexpr int Iterations = 25;
constexpr int MinimumIterations = 5;

} // namespace

class tst_InterruptedLearning : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedWhileLearning();
};

void tst_InterruptedLearning::killedWhileLearning()
{
    QTemporaryDir dir;
    QRandomGenerator random(20261208);
    QList<int> started;
    QElapsedTimer budget;
    budget.start();
    int iterations = 0;
    int killedInBatch = 0;
    qint64 batchMs = 200;
    for (int i = 1; i <= Iterations && budget.elapsed() < BudgetMs; ++i) {
        QProcess p;
        p.start(Driver, {dir.path(), QString::number(i * 1000), QString::number(BatchSize)});
        QVERIFY(p.waitForStarted(30000));
        QByteArray out;
        QElapsedTimer batch;
        while (!out.contains("begin")) {
            QVERIFY2(p.waitForReadyRead(30000), "the driver never started learning");
            out += p.readAllStandardOutput();
        }
        batch.start();
        // Somewhere within the first couple of batches, at whatever speed this build runs.
        QTest::qSleep(int(random.bounded(quint32(qMax<qint64>(50, 2 * batchMs)))));
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        out += p.readAllStandardOutput();
        if (out.contains("end"))
            batchMs = qMax<qint64>(20, batch.elapsed() / qMax<qsizetype>(1, out.count("end")));
        killedInBatch += out.lastIndexOf("begin") > out.lastIndexOf("end") ? 1 : 0;
        static const QRegularExpression begin(u"begin (\\d+)"_s);
        for (const QRegularExpressionMatch &m : begin.globalMatch(QString::fromLatin1(out)))
            started << m.captured(1).toInt();
        ++iterations;
        QDir(dir.filePath(u"mail%1"_s.arg(i * 1000))).removeRecursively();

        StateDatabase db(dir.path());
        Scan::LearnedFilter filter(db);
        QVERIFY2(db.open() && filter.open(), qPrintable(db.errorText()));
        QSqlQuery check(db.connection());
        QVERIFY(check.exec(u"PRAGMA integrity_check"_s) && check.next());
        QCOMPARE(check.value(0).toString(), u"ok"_s);
        quint32 wholeSpam = 0, wholeHam = 0;
        for (int b : std::as_const(started)) {
            const Scan::TokenStore::Counts tag = filter.store().counts(QString(u"tag"_s + QString::number(b)));
            const bool ham = (b / 1000) % 2;
            const quint32 count = ham ? tag.ham : tag.spam;
            QVERIFY2(count == 0 || count == quint32(BatchSize),
                     qPrintable(
                         u"iteration %1: batch %2 holds %3 of %4 messages"_s.arg(i).arg(b).arg(count).arg(BatchSize)));
            QCOMPARE(ham ? tag.spam : tag.ham, 0u);
            (ham ? wholeHam : wholeSpam) += count;
        }
        QVERIFY(filter.store().tokenCount() <= filter.store().maxTokens());
        QCOMPARE(filter.spamMessages(), wholeSpam);
        QCOMPARE(filter.hamMessages(), wholeHam);
        const Scan::TokenStore::Counts common = filter.store().counts(u"common"_s);
        QCOMPARE(common.spam, wholeSpam);
        QCOMPARE(common.ham, wholeHam);
    }
    qInfo("%d kills, %d of them during a batch", iterations, killedInBatch);
    QVERIFY(iterations >= MinimumIterations);
    QVERIFY(killedInBatch > 0);
}

QTEST_GUILESS_MAIN(tst_InterruptedLearning)
#include "tst_interruptedlearning.moc"
