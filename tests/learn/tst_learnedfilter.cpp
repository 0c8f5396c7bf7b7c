// The learned filter on small fixed data: what it learns raises or lowers
// scores as it should, its reasons are words a user reads and tokens of how
// mail was gathered condemn nothing alone, unlearning takes exactly that back, the counts
// survive a reopen, the store stays within its bounds, training ends its
// batches by count and by bytes, and the state database refuses what it
// must not touch.

#include "learn/learnedfilter.h"
#include "learn/tokenizer.h"
#include "scan/spamtrainer.h"
#include "state/statedatabase.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;
using Scan::LearnedFilter;
using Scan::TokenStore;
using Label = Scan::LearnedFilter::Label;

namespace {

QByteArray mail(const QByteArray &subject, const QByteArray &body, int n = 0)
{
    return "From: sender" + QByteArray::number(n) + "@example.org\r\nSubject: " + subject + "\r\n\r\n" + body + "\r\n";
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
    {}
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

Q_DECLARE_METATYPE(QList<Scan::LearnedFilter::Example>)

class tst_LearnedFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void learnedScores_data();
    void learnedScores();
    void reasonsInWords_data();
    void reasonsInWords();
    void unlearnAndMove();
    void survivesReopen();
    void storeBounds_data();
    void storeBounds();
    void trainerBatches_data();
    void trainerBatches();
    void folderAgainAndForget_data();
    void folderAgainAndForget();
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
    QTest::newRow("new spam over unknown words")
        << mail("Free money", "claim your casino bonus") << mail("Zyx", "qwerty uiop asdf");
    QTest::newRow("unknown words over new ham")
        << mail("Zyx", "qwerty uiop asdf") << mail("Build notes", "nightly build notes for the team");
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
            QVERIFY(std::fabs(v.strongest.at(i - 1).probability - 0.5)
                    >= std::fabs(v.strongest.at(i).probability - 0.5));
    }
}

void tst_LearnedFilter::reasonsInWords_data()
{
    QTest::addColumn<QList<LearnedFilter::Example>>("training");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("spam");           // scores above 0.5
    QTest::addColumn<QStringList>("reasons"); // among the verdict's reasons
    QTest::addColumn<QStringList>("absent");  // not among them

    QList<LearnedFilter::Example> loans = Training;
    loans.append({"From: Deals <deals@cheap-loans.example>\r\nSubject: 100% free mortgage quote\r\n\r\n"
                  "Get a 100% free mortgage quote today: http://loans.example/apply\r\n",
                  Label::Spam});
    loans.append({"From: Offers <offers@cheap-loans.example>\r\nSubject: Refinance\r\n\r\n"
                  "Low mortgage rates, 100% free. See http://loans.example/rates\r\n",
                  Label::Spam});
    QTest::newRow("words, a phrase and the sender")
        << loans
        << QByteArray("From: Deals <deals@cheap-loans.example>\r\nSubject: Your quote\r\n\r\n"
                      "A 100% free offer: mortgage, today\r\n")
        << true << QStringList{u"\"100% free\""_s, u"\"mortgage\""_s, u"sender never seen in legitimate mail"_s}
        << QStringList{u"\"100\""_s, u"\"free\""_s};
    QTest::newRow("a link") << loans << mail("Hello", "see http://loans.example/apply") << true
                            << QStringList{u"link to loans.example"_s, u"\"apply\" in a link"_s} << QStringList();
    QList<LearnedFilter::Example> hops = Training;
    for (int i = 0; i < 2; ++i)
        hops.append({"Received: from [192.0.2.7] (unknown [192.0.2.7]) by mx.example\r\n"
                         + mail("Cheap pills", "pills online", 7 + i),
                     Label::Spam});
    QTest::newRow("the sender's machine")
        << hops
        << "Received: from [198.51.100.4] (unknown [198.51.100.4]) by mx.example\r\n" + mail("Zyx", "qwerty uiop")
        << true << QStringList{u"sender's machine named by its address"_s, u"sender's address without a name"_s}
        << QStringList();
    QTest::newRow("a phrase inside a longer one")
        << Training << mail("Cheap pills", "buy cheap pills online") << true << QStringList{u"\"buy cheap pills\""_s}
        << QStringList{u"\"cheap pills\""_s, u"\"cheap\""_s};

    // Spam and ham that say the same and differ only in how they were
    // gathered: the recipient, the ids, the headers present and their order.
    QList<LearnedFilter::Example> gathered;
    for (int i = 0; i < 3; ++i) {
        const QByteArray n = QByteArray::number(i);
        gathered.append({"To: trap@collect.example\r\nMessage-ID: <AB" + n
                             + "CD@mx.collect.example>\r\n"
                               "X-Collected: yes\r\nSubject: weather\r\n\r\nthe weather report for tuesday\r\n",
                         Label::Spam});
        gathered.append({"Subject: weather\r\nMessage-ID: <" + n
                             + ".x.y@home.example>\r\nTo: me@home.example"
                               "\r\n\r\nthe weather report for tuesday\r\n",
                         Label::Ham});
    }
    QTest::newRow("gathering alone condemns nothing")
        << gathered
        << QByteArray("To: trap@collect.example\r\nMessage-ID: <AB9CD@mx.collect.example>\r\nX-Collected: yes\r\n"
                      "Subject: weather\r\n\r\nthe weather report for tuesday\r\n")
        << false << QStringList() << QStringList();
}

void tst_LearnedFilter::reasonsInWords()
{
    QFETCH(QList<LearnedFilter::Example>, training);
    QFETCH(QByteArray, message);
    QFETCH(bool, spam);
    QFETCH(QStringList, reasons);
    QFETCH(QStringList, absent);
    QTemporaryDir dir;
    Store s(dir.path());
    QVERIFY(s.open());
    QVERIFY(s.filter.learn(training));
    const LearnedFilter::Verdict v = s.filter.classify(message);
    const QString reason = LearnedFilter::reason(v);
    QCOMPARE(v.score > 0.5, spam);
    QVERIFY(v.reasons.size() <= LearnedFilter::StrongestShown);
    for (const QString &r : reasons)
        QVERIFY2(v.reasons.contains(r), qPrintable(r + u" not in: "_s + reason));
    for (const QString &r : absent)
        QVERIFY2(!v.reasons.contains(r), qPrintable(r + u" in: "_s + reason));
    // Words, never the names of tokens ("shape:links-1", "from:@x").
    static const QRegularExpression tokenName(u"(^|, )[a-z-]+:"_s);
    QVERIFY2(!reason.contains(tokenName), qPrintable(reason));
    QVERIFY(!reason.isEmpty());
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

    // Two programs that decided on the same message before either stored
    // it (a terminal's --train beside the window): its tokens count once.
    using Change = Scan::TokenStore::Change;
    const QStringList shared{u"viagra"_s, u"solo-token"_s};
    for (const QList<Change> &decided :
         QList<QList<Change>>{{{"racer", shared, Label::Spam, 1}},                                    // learned
                              {{"racer", shared, Label::Spam, -1}, {"racer", shared, Label::Ham, 1}}, // moved
                              {{"racer", shared, Label::Ham, -1}}}) {                                 // forgotten
        for (int twice = 0; twice < 2; ++twice)
            QVERIFY(s.filter.store().apply(decided));
        const Scan::TokenStore::Counts solo = s.filter.store().counts(u"solo-token"_s);
        const bool learned = decided.constLast().direction > 0;
        QCOMPARE(solo.spam, learned && decided.constLast().label == Label::Spam ? 1u : 0u);
        QCOMPARE(solo.ham, learned && decided.constLast().label == Label::Ham ? 1u : 0u);
    }
    QCOMPARE(s.filter.hamMessages(), 3u);
    QCOMPARE(s.filter.store().tokenCount(), tokensBefore);

    QVERIFY(
        s.filter.unlearn(QList<QByteArray>{Training.at(3).message, Training.at(4).message, Training.at(5).message}));
    QCOMPARE(s.filter.store().tokenCount(), qsizetype(0));
    QCOMPARE(rowCount(s.db, u"learned_tokens"_s), qint64(0));
    QCOMPARE(rowCount(s.db, u"learned_messages"_s), qint64(0));

    // Learned with the tokens of an older version: forgotten by its count
    // alone, as today's tokens are not what it added.
    QVERIFY(s.filter.store().apply({{"older", shared, Label::Ham, 1}}));
    QSqlQuery older(s.db.connection());
    QVERIFY(older.exec(u"UPDATE learned_messages SET tokenizer = %1 WHERE digest = x'6f6c646572'"_s.arg(
        Scan::Tokenizer::Version - 1)));
    QVERIFY(s.filter.store().apply({{"older", shared, Label::Ham, -1}}));
    QCOMPARE(s.filter.hamMessages(), 0u);
    QCOMPARE(s.filter.store().counts(u"solo-token"_s).ham, 1u);
    QCOMPARE(rowCount(s.db, u"learned_tokens"_s), qint64(shared.size()));
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

    // What another connection learns is read by the next look-up, and the
    // same store reads on after its connection was closed and opened again.
    Store other(dir.path());
    QVERIFY(other.open());
    QVERIFY(other.filter.learn({{mail("Quarterly report", "the quarterly figures", 7), Label::Ham}}));
    QCOMPARE(s.filter.store().counts(u"quarterly"_s).ham, 1u);
    // Nor does a look-up keep a read open that the log waits for.
    QSqlQuery checkpoint(other.db.connection());
    QVERIFY(checkpoint.exec(u"PRAGMA wal_checkpoint(TRUNCATE)"_s) && checkpoint.next());
    QCOMPARE(checkpoint.value(0).toInt(), 0);
    s.db.close();
    QVERIFY(s.db.open());
    QCOMPARE(s.filter.store().counts(u"tuesday"_s).ham, 2u);
    QCOMPARE(s.filter.store().counts(u"figures"_s).ham, 1u);
}

void tst_LearnedFilter::storeBounds_data()
{
    QTest::addColumn<int>("distinctWords"); // per message
    QTest::addColumn<int>("messages");      // learned one batch each
    QTest::addColumn<qint64>("maxTokens");
    QTest::addColumn<bool>("firstKept"); // the last word of the first message still counts

    QTest::newRow("a message teaches at most its first tokens")
        << 3 * LearnedFilter::MaxLearnedTokens / 2 << 1 << TokenStore::DefaultMaxTokens << false;
    QTest::newRow("within the bound nothing is pruned") << 40 << 6 << qint64(400) << true;
    QTest::newRow("past the bound the rarest and oldest go") << 40 << 6 << qint64(150) << false;
}

void tst_LearnedFilter::storeBounds()
{
    QFETCH(int, distinctWords);
    QFETCH(int, messages);
    QFETCH(qint64, maxTokens);
    QFETCH(bool, firstKept);
    QTemporaryDir dir;
    Store s(dir.path());
    QVERIFY(s.open());
    s.filter.store().setMaxTokens(maxTokens);
    // Every message holds the shared words and words of its own; the
    // shared ones are learned with each, the own ones once.
    const auto message = [&](int n) {
        QByteArray body = "shared often";
        for (int w = 0; w < distinctWords; ++w)
            body += " m" + QByteArray::number(n) + "w" + QByteArray::number(w);
        return mail("Batch", body, n);
    };
    for (int n = 0; n < messages; ++n) {
        QVERIFY2(s.filter.learn({{message(n), n % 2 ? Label::Ham : Label::Spam}}), qPrintable(s.filter.errorText()));
        QVERIFY(s.filter.store().tokenCount() <= qMax<qint64>(maxTokens, LearnedFilter::MaxLearnedTokens));
    }
    const qint64 rows = s.filter.store().tokenCount();
    QCOMPARE(rows, rowCount(s.db, u"learned_tokens"_s));
    QVERIFY(rows <= qMin<qint64>(maxTokens, qint64(messages) * LearnedFilter::MaxLearnedTokens));
    QCOMPARE(s.filter.spamMessages() + s.filter.hamMessages(), quint32(messages));
    const auto counts = [&](const QString &token) { return s.filter.store().counts(token); };
    QCOMPARE(counts(u"often"_s).spam + counts(u"often"_s).ham, quint32(messages));
    const QString newest = u"m%1w0"_s.arg(messages - 1);
    const QString oldest = u"m0w%1"_s.arg(distinctWords - 1);
    QCOMPARE(counts(newest).spam + counts(newest).ham, 1u);
    QCOMPARE(counts(oldest).spam + counts(oldest).ham, firstKept ? 1u : 0u);
    QVERIFY(rows <= maxTokens);

    // Unlearning takes back what is left and no more.
    QList<QByteArray> all;
    for (int n = 0; n < messages; ++n)
        all << message(n);
    QVERIFY(s.filter.unlearn(all));
    QCOMPARE(s.filter.store().tokenCount(), qint64(0));
    QCOMPARE(s.filter.spamMessages() + s.filter.hamMessages(), 0u);
}

void tst_LearnedFilter::trainerBatches_data()
{
    QTest::addColumn<QList<int>>("sizes"); // of the messages, in bytes
    QTest::addColumn<int>("batchSize");
    QTest::addColumn<qint64>("batchBytes");
    QTest::addColumn<int>("stopAfter"); // progress calls answered "go on"; -1 for all
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<int>("learned");

    QTest::newRow("by count") << QList<int>{200, 200, 200, 200, 200} << 2 << qint64(1 << 20) << -1 << QList<int>{2, 4}
                              << 5;
    QTest::newRow("by bytes") << QList<int>{300, 300, 300, 300, 300} << 500 << qint64(700) << -1 << QList<int>{2, 4}
                              << 5;
    QTest::newRow("a message over the budget is a batch alone")
        << QList<int>{200, 2000, 200, 200} << 500 << qint64(1000) << -1 << QList<int>{1, 2} << 4;
    QTest::newRow("stop keeps the stored batches only")
        << QList<int>{300, 300, 300, 300, 300} << 500 << qint64(700) << 1 << QList<int>{2, 4} << 4;
}

void tst_LearnedFilter::trainerBatches()
{
    QFETCH(QList<int>, sizes);
    QFETCH(int, batchSize);
    QFETCH(qint64, batchBytes);
    QFETCH(int, stopAfter);
    QFETCH(QList<int>, progress);
    QFETCH(int, learned);
    QTemporaryDir dir;
    QDir root(dir.path());
    QVERIFY(root.mkpath(u"Mail/cur"_s));
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        QByteArray bytes =
            mail("Message " + QByteArray::number(i), "words of message " + QByteArray::number(i), int(i));
        QVERIFY(bytes.size() <= sizes.at(i));
        bytes += QByteArray(sizes.at(i) - bytes.size(), ' ');
        QFile f(root.filePath(u"Mail/cur/%1.host"_s.arg(i, 3, 10, QChar(u'0'))));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    StateDatabase db(dir.path());
    QVERIFY(db.open());
    Scan::SpamTrainer trainer(dir.path(), db);
    QVERIFY(trainer.open());
    trainer.setBatchLimits(batchSize, batchBytes);
    QList<int> calls;
    QList<qint64> stored; // learned messages in the database at each call
    const int done = trainer.learnFolder(root.filePath(u"Mail"_s), Label::Spam, [&](int n) {
        calls << n;
        stored << rowCount(db, u"learned_messages"_s);
        return stopAfter < 0 || calls.size() <= stopAfter;
    });
    QVERIFY2(trainer.errorText().isEmpty(), qPrintable(trainer.errorText()));
    QCOMPARE(calls, stopAfter < 0 ? progress : progress.mid(0, stopAfter + 1));
    for (qsizetype i = 0; i < calls.size(); ++i)
        QCOMPARE(stored.at(i), qint64(calls.at(i))); // each batch committed before it is reported
    QCOMPARE(done, learned);
    QCOMPARE(rowCount(db, u"learned_messages"_s), qint64(learned));
}

void tst_LearnedFilter::folderAgainAndForget_data()
{
    QTest::addColumn<QList<int>>("first");  // messages learned first, as spam
    QTest::addColumn<QList<int>>("second"); // then this folder
    QTest::addColumn<QString>("action");    // "spam", "ham" or "forget"
    QTest::addColumn<int>("done");          // learned, or forgotten
    QTest::addColumn<int>("known");         // already learned so (or never learned, for forget)
    QTest::addColumn<int>("moved");
    QTest::addColumn<QList<int>>("after"); // spam and ham messages learned at the end

    QTest::newRow("the same folder again is all known")
        << QList<int>{0, 1, 2} << QList<int>{0, 1, 2} << u"spam"_s << 0 << 3 << 0 << QList<int>{3, 0};
    QTest::newRow("half new") << QList<int>{0, 1} << QList<int>{0, 1, 2, 3} << u"spam"_s << 2 << 2 << 0
                              << QList<int>{4, 0};
    QTest::newRow("a message twice in a folder counts once")
        << QList<int>{} << QList<int>{0, 0, 1} << u"spam"_s << 2 << 1 << 0 << QList<int>{2, 0};
    QTest::newRow("the other label moves them")
        << QList<int>{0, 1} << QList<int>{0, 1, 2} << u"ham"_s << 3 << 0 << 2 << QList<int>{0, 3};
    QTest::newRow("forget takes back what was learned, nothing else")
        << QList<int>{0, 1, 4} << QList<int>{0, 1, 2, 3} << u"forget"_s << 2 << 2 << 0 << QList<int>{1, 0};
}

void tst_LearnedFilter::folderAgainAndForget()
{
    QFETCH(QList<int>, first);
    QFETCH(QList<int>, second);
    QFETCH(QString, action);
    QFETCH(int, done);
    QFETCH(int, known);
    QFETCH(int, moved);
    QFETCH(QList<int>, after);
    QTemporaryDir dir;
    QDir root(dir.path());
    const auto folder = [&](const QString &name, const QList<int> &messages) {
        root.mkpath(name + u"/cur"_s);
        for (qsizetype i = 0; i < messages.size(); ++i) {
            const int n = messages.at(i);
            QFile f(root.filePath(u"%1/cur/%2.host"_s.arg(name).arg(i)));
            if (!f.open(QIODevice::WriteOnly) || f.write(mail("Message " + QByteArray::number(n), "words", n)) <= 0)
                return QString();
        }
        return root.filePath(name);
    };
    StateDatabase db(dir.path());
    QVERIFY(db.open());
    Scan::SpamTrainer trainer(dir.path(), db);
    QVERIFY(trainer.open());
    trainer.setBatchLimits(2, 1 << 20); // known messages span batches
    const QString firstPath = folder(u"First"_s, first);
    const QString secondPath = folder(u"Second"_s, second);
    QVERIFY(!firstPath.isEmpty() && !secondPath.isEmpty());
    QCOMPARE(trainer.learnFolder(firstPath, Label::Spam), int(first.size()));

    Scan::SpamTrainer again(dir.path(), db);
    QVERIFY(again.open());
    again.setBatchLimits(2, 1 << 20);
    const int result = action == u"forget"_s
                           ? again.forgetFolder(secondPath)
                           : again.learnFolder(secondPath, action == u"spam"_s ? Label::Spam : Label::Ham);
    QVERIFY2(again.errorText().isEmpty(), qPrintable(again.errorText()));
    QCOMPARE(result, done);
    QCOMPARE(action == u"forget"_s ? again.neverLearned() : again.alreadyKnown(), known);
    QCOMPARE(again.moved(), moved);
    const TokenStore::Counts counts = TokenStore::learnedMessages(db);
    QCOMPARE((QList<int>{int(counts.spam), int(counts.ham)}), after);
    if (action == u"forget"_s && after == QList<int>{0, 0})
        QCOMPARE(rowCount(db, u"learned_tokens"_s), qint64(0));
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
