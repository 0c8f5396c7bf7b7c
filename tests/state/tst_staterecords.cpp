// settings.ini, the scan log and the review list: what a scan and the user
// write, read back after the program is started again.

#include "state/appsettings.h"
#include "state/judgedmessages.h"
#include "state/keyringaccounts.h"
#include "state/reviewlist.h"
#include "state/scanlog.h"
#include "state/statedatabase.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Announce = AppSettings::Announce;
using State = ReviewList::State;

class tst_StateRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settingsFile_data();
    void settingsFile();
    void scanLogSurvivesAnUnfinishedScan();
    void reviewListFollowsTheUser();
    void olderDatabaseIsBroughtForward_data();
    void olderDatabaseIsBroughtForward();
};

void tst_StateRecords::settingsFile_data()
{
    QTest::addColumn<QByteArray>("ini"); // empty: no file
    QTest::addColumn<int>("announce");
    QTest::addColumn<bool>("hold");
    QTest::addColumn<bool>("learned");
    QTest::addColumn<double>("threshold");
    QTest::addColumn<double>("unsure"); // where the unsure band begins
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<bool>("keyring");
    QTest::addColumn<bool>("once"); // judge each message once

    const int box = int(Announce::BoxPerMessage);
    QTest::newRow("no file: the old behaviour")
        << QByteArray() << box << false << false << AppSettings::DefaultThreshold << AppSettings::DefaultUnsureThreshold
        << QStringList() << false << false;
    QTest::newRow("every setting") << QByteArray(
        "[Scan]\nannounce=tray\nholdForReview=true\njudgeOnce=true\n[LearnedFilter]\nenabled=1\nthreshold=0.97\n"
        "unsureThreshold=0.5\n[Accounts]\nkeyring=true\n")
                                   << int(Announce::TrayOnly) << true << true << 0.97 << 0.5 << QStringList() << true
                                   << true;
    QTest::newRow("spaces and case") << QByteArray("[Scan]\nannounce= Summary \nholdForReview=TRUE\n")
                                     << int(Announce::SummaryAtEnd) << true << false << AppSettings::DefaultThreshold
                                     << AppSettings::DefaultUnsureThreshold << QStringList() << false << false;
    QTest::newRow("yes, on and no, off") << QByteArray("[Scan]\nholdForReview=Yes\n[LearnedFilter]\nenabled=on\n")
                                         << box << true << true << AppSettings::DefaultThreshold
                                         << AppSettings::DefaultUnsureThreshold << QStringList() << false << false;
    QTest::newRow("no and off") << QByteArray("[Scan]\nholdForReview= NO \n[LearnedFilter]\nenabled=OFF\n") << box
                                << false << false << AppSettings::DefaultThreshold
                                << AppSettings::DefaultUnsureThreshold << QStringList() << false << false;
    // An unreadable hold holds: only a clear "no" lets spam be deleted.
    QTest::newRow("unreadable values keep their defaults, the hold holds")
        << QByteArray("[Scan]\nannounce=loud\nholdForReview=maybe\njudgeOnce=perhaps\n[LearnedFilter]\nenabled=sure\n"
                      "threshold=1.5\nunsureThreshold=-0.1\n")
        << box << true << false << AppSettings::DefaultThreshold << AppSettings::DefaultUnsureThreshold
        << QStringList{u"Scan/announce"_s,         u"Scan/holdForReview"_s,      u"Scan/judgeOnce"_s,
                       u"LearnedFilter/enabled"_s, u"LearnedFilter/threshold"_s, u"LearnedFilter/unsureThreshold"_s}
        << false << false;
    QTest::newRow("empty hold holds") << QByteArray("[Scan]\nholdForReview=\n") << box << true << false
                                      << AppSettings::DefaultThreshold << AppSettings::DefaultUnsureThreshold
                                      << QStringList{u"Scan/holdForReview"_s} << false << false;
    // Not read at all (it would cost twice its size in memory): every value
    // unreadable, so the hold holds.
    QTest::newRow("larger than 1 MB") << QByteArray("[Scan]\nholdForReview=false\nannounce=tray\n;")
                                             + QByteArray(AppSettings::MaxFileSize, 'x')
                                      << box << true << false << AppSettings::DefaultThreshold
                                      << AppSettings::DefaultUnsureThreshold << QStringList{u"settings.ini"_s} << false
                                      << false;
    QTest::newRow("threshold not a number")
        << QByteArray("[LearnedFilter]\nthreshold=high\n") << box << false << false << AppSettings::DefaultThreshold
        << AppSettings::DefaultUnsureThreshold << QStringList{u"LearnedFilter/threshold"_s} << false << false;
    // A band that reaches the threshold would list condemned mail.
    QTest::newRow("unsure band not below the threshold")
        << QByteArray("[LearnedFilter]\nthreshold=0.8\nunsureThreshold=0.8\n") << box << false << false << 0.8
        << AppSettings::DefaultUnsureThreshold << QStringList{u"LearnedFilter/unsureThreshold"_s} << false << false;
    QTest::newRow("unsure band from 0") << QByteArray("[LearnedFilter]\nunsureThreshold=0\n") << box << false << false
                                        << AppSettings::DefaultThreshold << 0.0 << QStringList() << false << false;
    // Unclear: new passwords stay where they always went, in accounts.dat.
    QTest::newRow("keyring unreadable") << QByteArray("[Accounts]\nkeyring=maybe\n") << box << false << false
                                        << AppSettings::DefaultThreshold << AppSettings::DefaultUnsureThreshold
                                        << QStringList{u"Accounts/keyring"_s} << false << false;
}

void tst_StateRecords::settingsFile()
{
    QFETCH(QByteArray, ini);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!ini.isEmpty()) {
        QFile file(dir.filePath(AppSettings::fileName()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
    }
    AppSettings settings(dir.path());
    settings.load();
    QTEST(int(settings.announce), "announce");
    QTEST(settings.holdForReview, "hold");
    QTEST(settings.learnedFilter, "learned");
    QTEST(settings.learnedThreshold, "threshold");
    QTEST(settings.unsureThreshold, "unsure");
    QTEST(settings.problems(), "problems");
    QTEST(settings.passwordsInKeyring, "keyring");
    QTEST(settings.judgeOnce, "once");

    // What is saved reads back the same, and nothing is left to complain of.
    QVERIFY2(settings.save(), qPrintable(settings.errorText()));
    AppSettings again(dir.path());
    again.load();
    QCOMPARE(again.announce, settings.announce);
    QCOMPARE(again.holdForReview, settings.holdForReview);
    QCOMPARE(again.learnedFilter, settings.learnedFilter);
    QCOMPARE(again.learnedThreshold, settings.learnedThreshold);
    QCOMPARE(again.unsureThreshold, settings.unsureThreshold);
    QCOMPARE(again.passwordsInKeyring, settings.passwordsInKeyring);
    QCOMPARE(again.judgeOnce, settings.judgeOnce);
    QVERIFY(again.problems().isEmpty());
}

void tst_StateRecords::scanLogSurvivesAnUnfinishedScan()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDateTime start = QDateTime::currentDateTimeUtc();
    qint64 first = 0, second = 0;
    {
        StateDatabase db(dir.path());
        QVERIFY2(db.open(), qPrintable(db.errorText()));
        ScanLog log(db);
        first = log.begin(u"pop.example.org"_s, u"anna"_s, start);
        QVERIFY(first > 0);
        QVERIFY(log.finish({first, {}, {}, {}, 12, 3, 2, {}}));
        second = log.begin(u"mail.example.net"_s, u"bert"_s, start.addSecs(5));
        QVERIFY(second > first);
        // The program dies here: the second account never finishes.
    }
    StateDatabase db(dir.path());
    QVERIFY2(db.open(), qPrintable(db.errorText()));
    ScanLog log(db);
    const QList<ScanLog::Record> records = log.latest(10);
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(0).id, second); // newest first
    QVERIFY(records.at(0).interrupted());
    QCOMPARE(records.at(0).login, u"bert"_s);
    QCOMPARE(records.at(1).outcome, ScanLog::ok());
    QVERIFY(!records.at(1).failed());
    QCOMPARE(records.at(1).scanned, 12);
    QCOMPARE(records.at(1).condemned, 3);
    QCOMPARE(records.at(1).deleted, 2);
    QCOMPARE(records.at(1).started.toSecsSinceEpoch(), start.toSecsSinceEpoch());

    QVERIFY(log.finish({second, {}, {}, {}, 0, 0, 0, u"Error received from PASS command: -ERR denied"_s}));
    QVERIFY(log.latest(1).at(0).failed());
    QCOMPARE(log.latest(1).size(), 1);
    QVERIFY(!log.finish({second + 100, {}, {}, {}, 0, 0, 0, {}})); // no such row
}

void tst_StateRecords::reviewListFollowsTheUser()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    StateDatabase db(dir.path());
    QVERIFY2(db.open(), qPrintable(db.errorText()));
    ReviewList list(db);
    auto message = [](const QString &login, const QString &uid, const QString &rule) {
        ReviewList::Message m;
        m.server = u"pop.example.org"_s;
        m.login = login;
        m.uid = uid;
        m.judged = QDateTime::currentDateTimeUtc();
        m.sender = u"ads@example.com"_s;
        m.subject = u"Win"_s;
        m.size = 2048;
        m.rule = rule;
        m.entry = u"casino"_s;
        m.matchedIn = u"body"_s;
        return m;
    };
    const qint64 a = list.add(message(u"anna"_s, u"uid-a"_s, u"keyword"_s));
    const qint64 b = list.add(message(u"anna"_s, u"uid-b"_s, u"blacklist"_s));
    const qint64 c = list.add(message(u"bert"_s, u"uid-c"_s, u"keyword"_s));
    QVERIFY(a && b && c);

    QVERIFY(list.setState({a, c}, State::DeleteRequested));
    const QList<ReviewList::Message> due = list.toDelete(u"pop.example.org"_s, u"anna"_s);
    QCOMPARE(due.size(), 1); // bert's waits for bert's scan
    QCOMPARE(due.at(0).uid, u"uid-a"_s);
    QCOMPARE(due.at(0).rule, u"keyword"_s);
    QCOMPARE(due.at(0).entry, u"casino"_s);

    QVERIFY(!list.isNotSpam(u"pop.example.org"_s, u"anna"_s, u"uid-b"_s));
    QVERIFY(list.markNotSpam({b}));
    QVERIFY(list.markNotSpam({b})); // twice is harmless
    QVERIFY(list.isNotSpam(u"pop.example.org"_s, u"anna"_s, u"uid-b"_s));
    QVERIFY(!list.isNotSpam(u"pop.example.org"_s, u"bert"_s, u"uid-b"_s)); // same uid, other account
    QCOMPARE(list.byId(b)->state, State::Kept);
    QVERIFY(!list.byId(c + 100).has_value());

    const QList<ReviewList::Message> all = list.all();
    QCOMPARE(all.size(), 3);
    QCOMPARE(all.at(0).id, c);
    QCOMPARE(ReviewList::stateText(all.at(0).state), u"to be deleted"_s);

    // Asked to delete after all: the latest word wins over "not spam".
    QVERIFY(list.setState({b}, State::DeleteRequested));
    QVERIFY(!list.isNotSpam(u"pop.example.org"_s, u"anna"_s, u"uid-b"_s));
    const std::optional<ReviewList::AccountKnowledge> known = list.knowledge(u"pop.example.org"_s, u"anna"_s);
    QVERIFY(known.has_value());
    QCOMPARE(known->toDelete.size(), 2);
    QVERIFY(known->notSpamUids.isEmpty());

    // An unsure message keeps its words, not a copy, until the user answers.
    const ReviewList::UnsureWords words{QByteArray(20, 'd'), {u"casino"_s, u"subject:win"_s, u"two\nlines"_s}};
    const qint64 u = list.addUnsure(message(u"anna"_s, u"uid-u"_s, u"learned filter"_s), words);
    const qint64 v = list.addUnsure(message(u"anna"_s, u"uid-v"_s, u"learned filter"_s), words);
    QVERIFY(u && v);
    QCOMPARE(list.byId(u)->state, State::Unsure);
    QCOMPARE(ReviewList::stateText(State::Unsure), u"unsure"_s);
    QCOMPARE(list.knowledge(u"pop.example.org"_s, u"anna"_s)->unsure.size(), 2);
    QCOMPARE(list.unsureWords(u)->tokens, words.tokens);
    QCOMPARE(list.unsureWords(u)->digest, words.digest);
    // Answered either way, the words stay while the message is on the
    // server (the user may change their mind); they go when it leaves.
    QVERIFY(list.markNotSpam({u}));
    QVERIFY(list.setState({v}, State::Held));
    QCOMPARE(list.unsureWords(u)->tokens, words.tokens);
    QCOMPARE(list.unsureWords(v)->tokens, words.tokens);
    QVERIFY(list.isNotSpam(u"pop.example.org"_s, u"anna"_s, u"uid-u"_s));
    QVERIFY(list.knowledge(u"pop.example.org"_s, u"anna"_s)->unsure.isEmpty());
    QVERIFY(list.setState({v}, State::Deleted));
    QVERIFY(!list.unsureWords(v).has_value());
    // Deleted in the meantime: "Not spam" finds nothing to keep.
    QVERIFY(list.markNotSpam({v}));
    QCOMPARE(list.byId(v)->state, State::Deleted);
    QVERIFY(!list.isNotSpam(u"pop.example.org"_s, u"anna"_s, u"uid-v"_s));
}

void tst_StateRecords::olderDatabaseIsBroughtForward_data()
{
    QTest::addColumn<int>("version");
    QTest::newRow("learned tokens only") << 1;
    QTest::newRow("a review list without fingerprints") << 2;
    QTest::newRow("no keyring accounts yet") << 4;
    QTest::newRow("no unsure messages yet") << 7;
    QTest::newRow("no scan's own deletions told apart yet") << 8;
    QTest::newRow("learned messages without their tokenizer's version") << 9;
}

void tst_StateRecords::olderDatabaseIsBroughtForward()
{
    QFETCH(int, version);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    {
        // A file of an earlier schema, with learned counts and a row to be deleted in it.
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"old"_s);
        db.setDatabaseName(dir.filePath(StateDatabase::fileName()));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QStringList statements{
            u"CREATE TABLE learned_tokens (id INTEGER PRIMARY KEY, token TEXT NOT NULL,"
            " spam INTEGER NOT NULL DEFAULT 0, ham INTEGER NOT NULL DEFAULT 0)"_s,
            u"CREATE TABLE learned_messages (digest BLOB PRIMARY KEY, label INTEGER NOT NULL) WITHOUT ROWID"_s,
            u"INSERT INTO learned_tokens (token, spam, ham) VALUES ('casino', 4, 1)"_s,
            u"INSERT INTO learned_messages (digest, label) VALUES (x'01', 1)"_s,
        };
        if (version >= 2)
            statements += {
                u"CREATE TABLE scan_log (id INTEGER PRIMARY KEY, started TEXT NOT NULL, server TEXT NOT NULL,"
                " login TEXT NOT NULL, scanned INTEGER NOT NULL DEFAULT 0, condemned INTEGER NOT NULL DEFAULT 0,"
                " deleted INTEGER NOT NULL DEFAULT 0, outcome TEXT)"_s,
                u"CREATE TABLE spam_messages (id INTEGER PRIMARY KEY, server TEXT NOT NULL, login TEXT NOT NULL,"
                " uid TEXT NOT NULL, judged TEXT NOT NULL, sent TEXT, sender TEXT, subject TEXT, size INTEGER,"
                " archive_file TEXT, rule TEXT NOT NULL, entry TEXT, matched_in TEXT, state INTEGER NOT NULL)"_s,
                u"CREATE INDEX spam_messages_by_account ON spam_messages (server, login, state)"_s,
                u"CREATE TABLE not_spam (server TEXT NOT NULL, login TEXT NOT NULL, uid TEXT NOT NULL,"
                " PRIMARY KEY (server, login, uid)) WITHOUT ROWID"_s,
                u"INSERT INTO spam_messages (server, login, uid, judged, size, rule, state)"
                " VALUES ('pop.example.org', 'anna', 'uid-a', '2026-01-01T00:00:00.000Z', 900, 'keyword', 3)"_s,
            };
        if (version >= 4)
            statements += {
                u"ALTER TABLE learned_tokens ADD COLUMN seen INTEGER NOT NULL DEFAULT 0"_s,
                u"ALTER TABLE spam_messages ADD COLUMN fingerprint TEXT"_s,
                u"ALTER TABLE spam_messages ADD COLUMN fetched_size INTEGER"_s,
            };
        if (version >= 7)
            statements += {
                u"CREATE TABLE keyring_accounts (server TEXT NOT NULL, login TEXT NOT NULL,"
                " PRIMARY KEY (server, login)) WITHOUT ROWID"_s,
                u"CREATE TABLE judged_messages (server TEXT NOT NULL, login TEXT NOT NULL, uid TEXT NOT NULL,"
                " fingerprint TEXT NOT NULL, fetched_size INTEGER NOT NULL, rules TEXT NOT NULL, judged TEXT NOT NULL,"
                " PRIMARY KEY (server, login, uid)) WITHOUT ROWID"_s,
                u"CREATE TABLE token_accounts (server TEXT NOT NULL, login TEXT NOT NULL, provider TEXT NOT NULL,"
                " client_id TEXT NOT NULL, client_secret TEXT NOT NULL, authorization_url TEXT NOT NULL,"
                " token_url TEXT NOT NULL, scope TEXT NOT NULL, expires_at INTEGER NOT NULL DEFAULT 0,"
                " sign_in_again INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (server, login)) WITHOUT ROWID"_s,
            };
        if (version >= 8)
            statements += {
                u"CREATE TABLE unsure_tokens (id INTEGER PRIMARY KEY, digest BLOB NOT NULL, tokens BLOB NOT NULL)"_s,
            };
        if (version >= 9)
            statements += {
                u"ALTER TABLE spam_messages ADD COLUMN by_scan INTEGER NOT NULL DEFAULT 0"_s,
            };
        statements.append(u"PRAGMA user_version=%1"_s.arg(version));
        for (const QString &statement : std::as_const(statements))
            QVERIFY2(q.exec(statement), qPrintable(statement));
        db.close();
    }
    QSqlDatabase::removeDatabase(u"old"_s);
    StateDatabase db(dir.path());
    QVERIFY2(db.open(), qPrintable(db.errorText()));
    QCOMPARE(db.schemaVersion(), StateDatabase::SchemaVersion);
    QSqlQuery q(db.connection());
    QVERIFY(q.exec(u"SELECT spam, ham FROM learned_tokens WHERE token = 'casino'"_s) && q.next());
    QCOMPARE(q.value(0).toInt(), 4);
    // Learned before versions were kept: with the first, which is what they had.
    QVERIFY(q.exec(u"SELECT label, tokenizer FROM learned_messages"_s) && q.next());
    QCOMPARE(q.value(0).toInt(), 1);
    QCOMPARE(q.value(1).toInt(), 1);
    ScanLog log(db);
    QVERIFY(log.begin(u"pop.example.org"_s, u"anna"_s, QDateTime::currentDateTimeUtc()) > 0);
    // An older row has no fingerprint: the scan never deletes it by its id alone.
    const std::optional<ReviewList::AccountKnowledge> known = ReviewList(db).knowledge(u"pop.example.org"_s, u"anna"_s);
    QVERIFY(known.has_value());
    QCOMPARE(known->toDelete.size(), version >= 2 ? 1 : 0);
    if (version >= 2) {
        QCOMPARE(known->toDelete.at(0).size, 900);
        QVERIFY(known->toDelete.at(0).fingerprint.isEmpty());
        QCOMPARE(known->toDelete.at(0).fetchedSize, -1);
        // Deleted at the user's word, as before, whatever the settings say now.
        QVERIFY(!known->toDelete.at(0).byScan);
    }
    // No account is taken for a keyring account until one was moved there.
    KeyringAccounts keyring(db);
    QCOMPARE(keyring.all(), std::optional<QList<KeyringAccounts::Account>>(QList<KeyringAccounts::Account>()));
    const QList<KeyringAccounts::Account> moved{{u"pop.example.org"_s, u"anna"_s}, {u"pop.example.org"_s, u"bo"_s}};
    QVERIFY2(keyring.add(moved) && keyring.add(moved), qPrintable(keyring.errorText()));
    QVERIFY(keyring.remove({moved.at(1)}));
    QCOMPARE(keyring.all(),
             std::optional<QList<KeyringAccounts::Account>>(QList<KeyringAccounts::Account>{moved.at(0)}));
    // No message was judged once yet: every message is judged.
    const std::optional<JudgedMessages::Account> judged =
        JudgedMessages(db).account(u"pop.example.org"_s, u"anna"_s, u"1:rules"_s);
    QVERIFY(judged.has_value() && judged->isEmpty());
    // The learned filter can list what it is unsure of.
    ReviewList review(db);
    ReviewList::Message unsure;
    unsure.server = u"pop.example.org"_s;
    unsure.login = u"anna"_s;
    unsure.uid = u"uid-u"_s;
    unsure.judged = QDateTime::currentDateTimeUtc();
    unsure.rule = u"learned filter"_s;
    const qint64 id = review.addUnsure(unsure, {QByteArray(20, 'd'), {u"casino"_s}});
    QVERIFY2(id > 0, qPrintable(review.errorText()));
    QCOMPARE(review.unsureWords(id)->tokens, QStringList{u"casino"_s});
}

QTEST_GUILESS_MAIN(tst_StateRecords)
#include "tst_staterecords.moc"
