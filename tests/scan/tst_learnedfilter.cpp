// The learned filter on small fixed data: what it learns raises or lowers
// scores as it should, unlearning takes exactly that back, the counts
// survive a reopen, and the state database refuses what it must not touch.

#include "scan/learnedfilter.h"
#include "config/statedatabase.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;
using Scan::LearnedFilter;
using Label = Scan::LearnedFilter::Label;

namespace {

QByteArray mail(const QByteArray &subject, const QByteArray &body, int n = 0)
{
    return "From: sender" + QByteArray::number(n) + "@example.org\r\nSubject: " + subject + "\r\n\r\n" + body
           + "\r\n";
}

const QList<LearnedFilter::Example> Training = {
    {mail("Cheap pills", "buy cheap pills online, viagra discount pharmacy", 1), Label::Spam},
    {mail("Casino bonus", "casino bonus, free money, click here to claim", 2), Label::Spam},
    {mail("Lose weight", "lose weight fast with our discount pills, click here", 3), Label::Spam},
    {mail("Meeting notes", "notes from the project meeting, agenda for tuesday", 4), Label::Ham},
    {mail("Build broken", "the nightly build fails in the parser tests, patch attached", 5), Label::Ham},
    {mail("Lunch", "lunch on tuesday with the project team?", 6), Label::Ham},
};

struct Store
{
    explicit Store(const QString &folder)
        : db(folder)
        , filter(db)
    {
    }
    bool open() { return db.open() && filter.open(); }
    StateDatabase db;
    LearnedFilter filter;
};

qint64 rowCount(StateDatabase &db, const QString &table)
{
    QSqlQuery q(db.connection());
    return q.exec(u"SELECT COUNT(*) FROM "_s + table) && q.next() ? q.value(0).toLongLong() : -1;
}

} // namespace

class tst_LearnedFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void learnedScores_data();
    void learnedScores();
    void unlearnAndMove();
    void survivesReopen();
    void chi2Q_data();
    void chi2Q();
    void databaseOpen_data();
    void databaseOpen();
};

void tst_LearnedFilter::learnedScores_data()
{
    QTest::addColumn<QByteArray>("higher");
    QTest::addColumn<QByteArray>("lower");

    QTest::newRow("learned spam over learned ham") << Training.at(0).message << Training.at(3).message;
    QTest::newRow("new spam over new ham") << mail("Discount viagra", "cheap casino pills, click here")
                                           << mail("Project agenda", "the parser patch for tuesday's meeting");
    QTest::newRow("new spam over unknown words") << mail("Free money", "claim your casino bonus")
                                                 << mail("Zyx", "qwerty uiop asdf");
    QTest::newRow("unknown words over new ham") << mail("Zyx", "qwerty uiop asdf")
                                                << mail("Build notes", "nightly build notes for the team");
}

void tst_LearnedFilter::learnedScores()
{
    QFETCH(QByteArray, higher);
    QFETCH(QByteArray, lower);
    QTemporaryDir dir;
    Store s(dir.path());
    QVERIFY2(s.open(), qPrintable(s.db.errorText()));
    QCOMPARE(s.filter.classify(higher).score, 0.5); // nothing learned: no opinion
    QVERIFY(s.filter.learn(Training));
    const LearnedFilter::Verdict high = s.filter.classify(higher);
    const LearnedFilter::Verdict low = s.filter.classify(lower);
    QVERIFY2(high.score > low.score, qPrintable(u"%1 <= %2"_s.arg(high.score).arg(low.score)));
    for (const LearnedFilter::Verdict &v : {high, low}) {
        QVERIFY(v.score >= 0.0 && v.score <= 1.0);
        QVERIFY(v.strongest.size() <= LearnedFilter::StrongestShown);
        for (qsizetype i = 1; i < v.strongest.size(); ++i)
            QVERIFY(std::fabs(v.strongest.at(i - 1).probability - 0.5) >= std::fabs(v.strongest.at(i).probability - 0.5));
    }
    QVERIFY(LearnedFilter::reason(high).startsWith(u"learned filter 0."_s));
}

void tst_LearnedFilter::unlearnAndMove()
{
    QTemporaryDir dir;
    Store s(dir.path());
    QVERIFY(s.open());
    QVERIFY(s.filter.learn(Training.mid(3)));
    const double before = s.filter.classify(Training.at(0).message).score;
    const qsizetype tokensBefore = s.filter.store().tokenCount();

    // Learning the spam, twice and with other line ends, counts it once.
    QByteArray lf = Training.at(0).message;
    lf.replace("\r\n", "\n");
    QVERIFY(s.filter.learn({Training.at(0), {lf, Label::Spam}}));
    QVERIFY(s.filter.learn({Training.at(0)}));
    QCOMPARE(s.filter.spamMessages(), 1u);
    QCOMPARE(s.filter.store().counts(u"viagra"_s).spam, 1u);
    QVERIFY(s.filter.classify(Training.at(0).message).score > before);

    // The user says it was not spam: it moves to ham.
    QVERIFY(s.filter.learn({{Training.at(0).message, Label::Ham}}));
    QCOMPARE(s.filter.spamMessages(), 0u);
    QCOMPARE(s.filter.hamMessages(), 4u);
    QCOMPARE(s.filter.store().counts(u"viagra"_s).spam, 0u);
    QCOMPARE(s.filter.store().counts(u"viagra"_s).ham, 1u);

    // Unlearning takes it out entirely; unknown messages change nothing.
    QVERIFY(s.filter.unlearn({Training.at(0).message, mail("never", "seen")}));
    QCOMPARE(s.filter.hamMessages(), 3u);
    QCOMPARE(s.filter.store().tokenCount(), tokensBefore);
    QCOMPARE(s.filter.store().counts(u"viagra"_s).ham, 0u);
    QCOMPARE(rowCount(s.db, u"learned_tokens"_s), qint64(tokensBefore));

    QVERIFY(s.filter.unlearn(QList<QByteArray>{Training.at(3).message, Training.at(4).message, Training.at(5).message}));
    QCOMPARE(s.filter.store().tokenCount(), qsizetype(0));
    QCOMPARE(rowCount(s.db, u"learned_tokens"_s), qint64(0));
    QCOMPARE(rowCount(s.db, u"learned_messages"_s), qint64(0));
}

void tst_LearnedFilter::survivesReopen()
{
    QTemporaryDir dir;
    double score = 0;
    {
        Store s(dir.path());
        QVERIFY(s.open());
        QVERIFY(s.filter.learn(Training));
        score = s.filter.classify(mail("Discount viagra", "cheap casino pills")).score;
    }
    Store s(dir.path());
    QVERIFY(s.open());
    QCOMPARE(s.filter.spamMessages(), 3u);
    QCOMPARE(s.filter.hamMessages(), 3u);
    QCOMPARE(s.filter.classify(mail("Discount viagra", "cheap casino pills")).score, score);
    QVERIFY(s.filter.learn({Training.at(0)})); // already known: no change
    QCOMPARE(s.filter.spamMessages(), 3u);
}

void tst_LearnedFilter::chi2Q_data()
{
    QTest::addColumn<double>("x2");
    QTest::addColumn<int>("degrees");
    QTest::addColumn<double>("expected");

    // With 2 degrees of freedom the tail is exp(-x2 / 2).
    QTest::newRow("zero") << 0.0 << 2 << 1.0;
    QTest::newRow("2 dof") << 3.0 << 2 << std::exp(-1.5);
    QTest::newRow("4 dof") << 4.0 << 4 << std::exp(-2.0) * 3.0;
    QTest::newRow("median of 10 dof") << 9.342 << 10 << 0.5;
    // Far out, with many tokens: no underflow to 0 where the tail is 1.
    QTest::newRow("many degrees") << 2000.0 << 6000 << 1.0;
    QTest::newRow("far tail") << 5000.0 << 20 << 0.0;
}

void tst_LearnedFilter::chi2Q()
{
    QFETCH(double, x2);
    QFETCH(int, degrees);
    QFETCH(double, expected);
    QVERIFY(std::fabs(LearnedFilter::chi2Q(x2, degrees) - expected) < 1e-3);
}

void tst_LearnedFilter::databaseOpen_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("opens");

    QTest::newRow("new file") << u"none"_s << true;
    QTest::newRow("current schema") << u"current"_s << true;
    QTest::newRow("newer schema") << u"newer"_s << false;
    QTest::newRow("not a database") << u"text"_s << false;
    QTest::newRow("planted link") << u"link"_s << false;
}

void tst_LearnedFilter::databaseOpen()
{
    QFETCH(QString, setup);
    QFETCH(bool, opens);
    QTemporaryDir dir;
    const QString path = dir.filePath(StateDatabase::fileName());
    const QByteArray text = "my notes, not a database\n";
    if (setup == u"current"_s || setup == u"newer"_s) {
        StateDatabase db(dir.path());
        QVERIFY(db.open());
        if (setup == u"newer"_s)
            QVERIFY(QSqlQuery(db.connection()).exec(u"PRAGMA user_version=%1"_s.arg(StateDatabase::SchemaVersion + 1)));
    } else if (setup == u"text"_s) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    } else if (setup == u"link"_s) {
        QVERIFY(QFile::link(dir.filePath(u"elsewhere.sqlite"_s), path));
    }

    StateDatabase db(dir.path());
    QCOMPARE(db.open(), opens);
    if (!opens) {
        QVERIFY(!db.errorText().isEmpty());
        QVERIFY(!QFile::exists(dir.filePath(u"elsewhere.sqlite"_s)));
        if (setup == u"text"_s) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), text); // the user's file is left alone
        }
        return;
    }
    QCOMPARE(db.schemaVersion(), StateDatabase::SchemaVersion);
    QSqlQuery q(db.connection());
    QVERIFY(q.exec(u"PRAGMA journal_mode"_s) && q.next());
    QCOMPARE(q.value(0).toString(), u"wal"_s);
    q.finish();
    QCOMPARE(QFile::permissions(path) & 0x0077, QFileDevice::Permissions()); // owner only
    QVERIFY(db.transaction([](QSqlDatabase &) { return true; }));
    QVERIFY(!db.transaction([](QSqlDatabase &) { return false; }));
}

QTEST_GUILESS_MAIN(tst_LearnedFilter)
#include "tst_learnedfilter.moc"
