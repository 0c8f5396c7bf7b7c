// The Spam and Log tabs over a program folder's state database, driven
// through their named widgets.

#include "config/reviewlist.h"
#include "config/scanlog.h"
#include "config/statedatabase.h"
#include "scan/archivewriter.h"
#include "scan/spamtrainer.h"
#include "ui/scanlogtab.h"
#include "ui/spamreviewtab.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using State = ReviewList::State;

namespace {

const QByteArray Mail = "From: =?UTF-8?B?U3DDpG1tZXI=?= <x@spam.example>\r\n"
                        "Subject: =?ISO-8859-1?Q?Gl=FCck?=\r\n"
                        "Content-Type: text/html; charset=utf-8\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                        "<html><script>alert(1)</script><p>Win a cas=\r\nino trip &amp; more</p>"
                        "<img src=3D\"http://tracker.example/p.gif\"></html>\r\n";

struct Folder
{
    QTemporaryDir dir;
    std::unique_ptr<StateDatabase> db;

    Folder()
    {
        QDir(dir.path()).mkdir(u"SpamDeleted"_s);
        db = std::make_unique<StateDatabase>(dir.path());
        db->open();
    }
    qint64 add(State state)
    {
        const QString name = u"Gl\u00fcck (%1).html"_s.arg(ReviewList(*db).all().size() + 1);
        QFile file(dir.filePath(u"SpamDeleted/"_s + name));
        file.open(QIODevice::WriteOnly);
        file.write(Scan::ArchiveWriter::inertPrefix() + Mail);
        ReviewList::Message m;
        m.server = u"mail.example"_s;
        m.login = u"u"_s;
        m.uid = u"uid"_s + name;
        m.judged = QDateTime::currentDateTimeUtc();
        m.sender = u"Sp\u00e4mmer <x@spam.example>"_s;
        m.subject = u"Gl\u00fcck"_s;
        m.size = Mail.size();
        m.archiveFile = name;
        m.rule = u"keyword"_s;
        m.entry = u"casino"_s;
        m.matchedIn = u"body"_s;
        m.state = state;
        return ReviewList(*db).add(m);
    }
};

template <typename T>
T *named(QWidget &w, const QString &name)
{
    T *child = w.findChild<T *>(name);
    if (!child)
        qFatal("no %s", qPrintable(name));
    return child;
}

} // namespace

Q_DECLARE_METATYPE(State)

class tst_TrustTabs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void spamTabActions_data();
    void spamTabActions();
    void savedEmailHasNoPrefixAndPreviewIsText();
    void logTabShowsFailuresFirstAndLoud();
};

void tst_TrustTabs::spamTabActions_data()
{
    QTest::addColumn<State>("before");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("alsoWhitelist");
    QTest::addColumn<State>("after");
    QTest::addColumn<bool>("whitelisted");
    QTest::addColumn<QList<int>>("learned"); // spam, ham the learned filter knows after

    const QList<int> none{0, 0};
    const QList<int> ham{0, 1};
    QTest::newRow("held, deleted at the next scan") << State::Held << u"cmdDeleteFromServer"_s << false
                                                    << State::DeleteRequested << false << none;
    QTest::newRow("already deleted stays so") << State::Deleted << u"cmdDeleteFromServer"_s << false
                                              << State::Deleted << false << none;
    QTest::newRow("held, not spam") << State::Held << u"cmdNotSpam"_s << false << State::Kept << false << ham;
    QTest::newRow("to be deleted, not spam after all, whitelisted")
        << State::DeleteRequested << u"cmdNotSpam"_s << true << State::Kept << true << ham;
    QTest::newRow("deleted: the whitelist entry, and learned as not spam")
        << State::Deleted << u"cmdNotSpam"_s << true << State::Deleted << true << ham;
    QTest::newRow("held, confirmed as spam: learned, still held")
        << State::Held << u"cmdSpam"_s << false << State::Held << false << QList<int>{1, 0};
}

void tst_TrustTabs::spamTabActions()
{
    QFETCH(State, before);
    QFETCH(QString, button);
    QFETCH(bool, alsoWhitelist);
    QFETCH(State, after);
    QFETCH(bool, whitelisted);
    QFETCH(QList<int>, learned);

    Folder f;
    const qint64 other = f.add(State::Held);
    const qint64 id = f.add(before);
    SpamReviewTab tab(f.dir.path());
    tab.refresh();
    QCOMPARE(tab.view()->model()->rowCount(), 2);
    QCOMPARE(tab.view()->model()->index(0, SpamReviewTab::Rule).data().toString(), u"keyword"_s);
    QCOMPARE(tab.view()->model()->index(0, SpamReviewTab::Entry).data().toString(), u"casino"_s);
    QCOMPARE(tab.view()->model()->index(0, SpamReviewTab::State).data().toString(), ReviewList::stateText(before));
    QSignalSpy whitelist(&tab, &SpamReviewTab::whitelistRequested);

    tab.view()->selectRow(0); // newest first: the row under test
    named<QCheckBox>(tab, u"checkAlsoWhitelist"_s)->setChecked(alsoWhitelist);
    named<QPushButton>(tab, button)->click();

    ReviewList list(*f.db);
    QCOMPARE(list.byId(id)->state, after);
    QCOMPARE(list.byId(other)->state, State::Held);
    QCOMPARE(list.isNotSpam(u"mail.example"_s, u"u"_s, list.byId(id)->uid), after == State::Kept);
    QCOMPARE(whitelist.size(), whitelisted ? 1 : 0);
    if (whitelisted)
        QCOMPARE(whitelist.at(0).at(0).toString(), u"x@spam.example"_s);
    QCOMPARE(tab.view()->model()->index(0, SpamReviewTab::State).data().toString(), ReviewList::stateText(after));
    const Scan::TokenStore::Counts known = Scan::TokenStore::learnedMessages(*f.db);
    QCOMPARE((QList<int>{int(known.spam), int(known.ham)}), learned);

    // Learning the archive later never overrides the user's "Not spam".
    Scan::SpamTrainer trainer(f.dir.path(), *f.db);
    QVERIFY(trainer.open());
    trainer.learnArchive();
    const Scan::TokenStore::Counts later = Scan::TokenStore::learnedMessages(*f.db);
    const QList<int> afterArchive = learned == QList<int>{0, 1} ? learned : QList<int>{1, 0};
    QCOMPARE((QList<int>{int(later.spam), int(later.ham)}), afterArchive);
}

void tst_TrustTabs::savedEmailHasNoPrefixAndPreviewIsText()
{
    Folder f;
    f.add(State::Held);
    SpamReviewTab tab(f.dir.path());
    tab.refresh();
    tab.view()->selectRow(0);
    const QString target = f.dir.filePath(u"saved.eml"_s);
    tab.setSaveFileChooser([&](const QString &) { return target; });
    named<QPushButton>(tab, u"cmdSaveAsEmail"_s)->click();
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), Mail);

    named<QPushButton>(tab, u"cmdPreview"_s)->click();
    auto *text = tab.findChild<QPlainTextEdit *>(u"txtPreview"_s);
    QVERIFY(text);
    QVERIFY(text->isReadOnly());
    const QString shown = text->toPlainText();
    QVERIFY2(shown.contains(u"Subject: Gl\u00fcck"_s), qPrintable(shown));
    QVERIFY2(shown.contains(u"Win a casino trip & more"_s), qPrintable(shown));
    QVERIFY2(!shown.contains(u"<p>"_s) && !shown.contains(u"alert"_s), qPrintable(shown));

    // A copy that is gone is reported, not shown as an empty message.
    QSignalSpy problems(&tab, &SpamReviewTab::problem);
    QVERIFY(QDir(f.dir.filePath(u"SpamDeleted"_s)).removeRecursively());
    named<QPushButton>(tab, u"cmdSaveAsEmail"_s)->click();
    QCOMPARE(problems.size(), 1);
}

void tst_TrustTabs::logTabShowsFailuresFirstAndLoud()
{
    Folder f;
    ScanLog log(*f.db);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 ok = log.begin(u"mail.example"_s, u"anna"_s, now);
    QVERIFY(log.finish({ok, {}, {}, {}, 10, 2, 2, {}}));
    const qint64 bad = log.begin(u"mail.example"_s, u"bert"_s, now);
    QVERIFY(log.finish({bad, {}, {}, {}, 0, 0, 0, u"Host not found"_s}));
    log.begin(u"mail.example"_s, u"cleo"_s, now); // never finished

    ScanLogTab tab(f.dir.path());
    tab.refresh();
    const QAbstractItemModel *model = tab.view()->model();
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->index(0, ScanLogTab::Account).data().toString(), u"cleo@mail.example"_s);
    QCOMPARE(model->index(0, ScanLogTab::Outcome).data().toString(), u"interrupted"_s);
    QCOMPARE(model->index(1, ScanLogTab::Outcome).data().toString(), u"Host not found"_s);
    QCOMPARE(model->index(2, ScanLogTab::Outcome).data().toString(), u"ok"_s);
    QCOMPARE(model->index(2, ScanLogTab::Scanned).data().toString(), u"10"_s);
    QVERIFY(model->index(1, ScanLogTab::Outcome).data(Qt::FontRole).value<QFont>().bold());
    QVERIFY(!model->index(2, ScanLogTab::Outcome).data(Qt::FontRole).value<QFont>().bold());
}

QTEST_MAIN(tst_TrustTabs)
#include "tst_trusttabs.moc"
