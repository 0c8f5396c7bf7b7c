// The Spam and Log tabs over a program folder's state database, driven
// through their named widgets.

#include "platform/messagebox/messagebox.h"
#include "scan/archivewriter.h"
#include "scan/spamtrainer.h"
#include "state/reviewlist.h"
#include "state/scanlog.h"
#include "state/statedatabase.h"
#include "tests/ui/uitestsupport.h"
#include "ui/scanlogtab.h"
#include "ui/spamreviewtab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace Qt::StringLiterals;
using State = ReviewList::State;

namespace {

const QByteArray Mail = "From: =?UTF-8?B?U3DDpG1tZXI=?= <x@spam.example>\r\n"
                        "Subject: =?ISO-8859-1?Q?Gl=FCck?=\r\n"
                        "Content-Type: text/html; charset=utf-8\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                        "<html><script>alert(1)</script><p>Win a cas=\r\nino trip &amp; more</p>"
                        "<img src=3D\"http://tracker.example/p.gif\"></html>\r\n"
                        ".sig line\r\n"
                        "\r\n";
// The archive copy as a scan writes it: the server's dot-stuffed lines, and
// no line end after the last line (the terminator took it).
const QByteArray Archived = QByteArray(Mail).replace("\r\n.sig", "\r\n..sig").chopped(2);

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
    qint64 add(State state, const QString &sender = u"Sp\u00e4mmer <x@spam.example>"_s, const QString &sent = {},
               const QString &subject = u"Gl\u00fcck"_s)
    {
        ReviewList::Message m;
        m.server = u"mail.example"_s;
        m.login = u"u"_s;
        m.judged = QDateTime::currentDateTimeUtc();
        m.sent = sent;
        m.sender = sender;
        m.subject = subject;
        m.size = Archived.size();
        m.rule = u"keyword"_s;
        m.entry = u"casino"_s;
        m.matchedIn = u"body"_s;
        m.state = state;
        return add(m);
    }
    // The message as a scan records it, with its archive copy; an unsure
    // one with its words instead.
    qint64 add(ReviewList::Message m)
    {
        if (m.state == State::Unsure) {
            m.uid = u"unsure%1"_s.arg(ReviewList(*db).all().size() + 1);
            const auto words = Scan::LearnedFilter::prepare(Archived, Scan::LearnedFilter::Label::Spam);
            return ReviewList(*db).addUnsure(m, {words.digest, words.tokens});
        }
        const QString name = u"Gl\u00fcck (%1).html"_s.arg(ReviewList(*db).all().size() + 1);
        QFile file(dir.filePath(u"SpamDeleted/"_s + name));
        file.open(QIODevice::WriteOnly);
        file.write(Scan::ArchiveWriter::inertPrefix() + Archived);
        m.uid = u"uid"_s + name;
        m.archiveFile = name;
        const qint64 id = ReviewList(*db).add(m);
        if (m.state == State::Kept) // as the user marks it
            ReviewList(*db).markNotSpam({id});
        return id;
    }
};

// The row of the list as shown that holds the message.
int rowOf(const SpamReviewTab &tab, qint64 id)
{
    const QAbstractItemModel *model = tab.view()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 0).data(SpamReviewTab::IdRole).toLongLong() == id)
            return row;
    }
    return -1;
}

QStringList shownSubjects(const SpamReviewTab &tab)
{
    QStringList subjects;
    const QAbstractItemModel *model = tab.view()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        subjects.append(model->index(row, SpamReviewTab::Subject).data().toString());
    return subjects;
}

template <typename T> T *named(QWidget &w, const QString &name)
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
    void initTestCase() { MessageBox::setTestMode(true); }
    void init() { MessageBox::clearRecords(); }
    void spamTabActions_data();
    void spamTabActions();
    void whitelistEntryFromSender_data();
    void whitelistEntryFromSender();
    void dateColumns_data();
    void dateColumns();
    void listSortsSearchesAndFilters_data();
    void listSortsSearchesAndFilters();
    void savedEmailHasNoPrefixAndPreviewIsText();
    void restore_data();
    void restore();
    void logTabShowsFailuresFirstAndLoud_data();
    void logTabShowsFailuresFirstAndLoud();
};

void tst_TrustTabs::spamTabActions_data()
{
    QTest::addColumn<State>("before");
    QTest::addColumn<QString>("button"); // or "Delete" for the key on the grid
    QTest::addColumn<bool>("alsoWhitelist");
    QTest::addColumn<bool>("both");   // both rows selected, the other one held
    QTest::addColumn<bool>("answer"); // to the box that asks
    QTest::addColumn<State>("after");
    QTest::addColumn<State>("otherAfter");
    QTest::addColumn<bool>("whitelisted");
    QTest::addColumn<QList<int>>("learned"); // spam, ham the learned filter knows after
    QTest::addColumn<QString>("box");        // a line of a box shown

    const QList<int> none{0, 0};
    const QList<int> ham{0, 1};
    const QList<int> spam{1, 0};
    const QString deleteOne = u"Delete 1 message from the server at the account's next scan?"_s;
    const QString nothing = u"Nothing to delete: the selected messages are marked \"Not spam\", already deleted or "
                            "already to be deleted."_s;
    const QString gone = u"This message is already gone from the server, so nothing is left there to keep."_s;
    QTest::newRow("held, deleted at the next scan: learned as spam")
        << State::Held << u"cmdDeleteFromServer"_s << false << false << true << State::DeleteRequested << State::Held
        << false << spam << deleteOne;
    QTest::newRow("the Delete key asks the same")
        << State::Held << u"Delete"_s << false << false << true << State::DeleteRequested << State::Held << false
        << spam << deleteOne;
    QTest::newRow("both held, No: nothing changes")
        << State::Held << u"cmdDeleteFromServer"_s << false << true << false << State::Held << State::Held << false
        << none << u"Delete 2 messages from the server at the account's next scan?"_s;
    QTest::newRow("kept and held: only the held one, and the count says so")
        << State::Kept << u"cmdDeleteFromServer"_s << false << true << true << State::Kept << State::DeleteRequested
        << false << spam << u"1 message marked \"Not spam\" will stay on the server."_s;
    QTest::newRow("kept alone: nothing to delete") << State::Kept << u"Delete"_s << false << false << true
                                                   << State::Kept << State::Held << false << none << nothing;
    QTest::newRow("already deleted stays so") << State::Deleted << u"cmdDeleteFromServer"_s << false << false << true
                                              << State::Deleted << State::Held << false << none << nothing;
    QTest::newRow("held, not spam") << State::Held << u"cmdNotSpam"_s << false << false << true << State::Kept
                                    << State::Held << false << ham << QString();
    QTest::newRow("to be deleted, not spam after all, whitelisted")
        << State::DeleteRequested << u"cmdNotSpam"_s << true << false << true << State::Kept << State::Held << true
        << ham << QString();
    QTest::newRow("deleted: the whitelist entry, learned as not spam, told it is gone")
        << State::Deleted << u"cmdNotSpam"_s << true << false << true << State::Deleted << State::Held << true << ham
        << gone;
    QTest::newRow("held, confirmed as spam: learned, still held")
        << State::Held << u"cmdSpam"_s << false << false << true << State::Held << State::Held << false << spam
        << QString();
    const QString unsureStays = u"1 message the learned filter was unsure of will stay on the server: press \"Spam\" "
                                "first to hold it for deletion."_s;
    QTest::newRow("unsure, taught spam: learned from its words, then held")
        << State::Unsure << u"cmdSpam"_s << false << false << true << State::Held << State::Held << false << spam
        << QString();
    QTest::newRow("unsure, not spam: learned as legitimate, kept")
        << State::Unsure << u"cmdNotSpam"_s << false << false << true << State::Kept << State::Held << false << ham
        << QString();
    QTest::newRow("unsure, taught spam, then not spam after all: moved to legitimate")
        << State::Unsure << u"cmdSpam,cmdNotSpam"_s << false << false << true << State::Kept << State::Held << false
        << ham << QString();
    QTest::newRow("unsure alone: nothing deleted without a copy")
        << State::Unsure << u"cmdDeleteFromServer"_s << false << false << true << State::Unsure << State::Held << false
        << none << u"Nothing to delete. "_s + unsureStays;
    QTest::newRow("unsure and held: only the held one")
        << State::Unsure << u"Delete"_s << false << true << true << State::Unsure << State::DeleteRequested << false
        << spam << unsureStays;
}

void tst_TrustTabs::spamTabActions()
{
    QFETCH(State, before);
    QFETCH(QString, button);
    QFETCH(bool, alsoWhitelist);
    QFETCH(bool, both);
    QFETCH(bool, answer);
    QFETCH(State, after);
    QFETCH(State, otherAfter);
    QFETCH(bool, whitelisted);
    QFETCH(QList<int>, learned);
    QFETCH(QString, box);

    Folder f;
    const qint64 other = f.add(State::Held);
    const qint64 id = f.add(before);
    SpamReviewTab tab(f.dir.path());
    tab.setSaveFolderChooser([](const QString &) { return QString(); }); // Restore offered, then cancelled
    tab.refresh();
    QCOMPARE(tab.view()->model()->rowCount(), 2);
    const int row = rowOf(tab, id);
    QCOMPARE(tab.view()->model()->index(row, SpamReviewTab::Rule).data().toString(), u"keyword"_s);
    QCOMPARE(tab.view()->model()->index(row, SpamReviewTab::Entry).data().toString(), u"casino"_s);
    QCOMPARE(tab.view()->model()->index(row, SpamReviewTab::State).data().toString(), ReviewList::stateText(before));
    QSignalSpy whitelist(&tab, &SpamReviewTab::whitelistRequested);
    // Each state its own entry of the state box.
    auto *show = named<QComboBox>(tab, u"comboSpamShow"_s);
    show->setCurrentIndex(before == State::Unsure ? 3 : 2);
    QCOMPARE(shownSubjects(tab).size(), before == State::Unsure ? 1 : 0);
    show->setCurrentIndex(0);

    if (both)
        tab.view()->selectAll();
    else
        tab.selectMessages({id});
    named<QCheckBox>(tab, u"checkAlsoWhitelist"_s)->setChecked(alsoWhitelist);
    if (!answer)
        MessageBox::queueAnswer(MessageBox::No);
    for (const QString &b : button.split(u',')) {
        if (b == u"Delete"_s)
            QTest::keyClick(tab.view(), Qt::Key_Delete);
        else
            named<QPushButton>(tab, b)->click();
    }

    QStringList lines;
    for (const MessageBox::Record &r : MessageBox::records())
        lines += r.text.split(u"\n"_s);
    QVERIFY2(box.isEmpty() || lines.contains(box), qPrintable(lines.join(u'\n')));
    ReviewList list(*f.db);
    QCOMPARE(list.byId(id)->state, after);
    QCOMPARE(list.byId(other)->state, otherAfter);
    QCOMPARE(list.isNotSpam(u"mail.example"_s, u"u"_s, list.byId(id)->uid), after == State::Kept);
    // An unsure message's words are all there is to learn it from: kept
    // while it is on the server, whatever the user said of it.
    QCOMPARE(list.unsureWords(id).has_value(),
             before == State::Unsure && after != State::Deleted && after != State::Gone);
    QCOMPARE(named<QLabel>(tab, u"lblSpamCount"_s)->text().endsWith(u", 1 unsure"_s), after == State::Unsure);
    QCOMPARE(whitelist.size(), whitelisted ? 1 : 0);
    if (whitelisted)
        QCOMPARE(whitelist.at(0).at(0).toString(), u"x@spam.example"_s);
    QCOMPARE(tab.view()->model()->index(rowOf(tab, id), SpamReviewTab::State).data().toString(),
             ReviewList::stateText(after));
    const Scan::TokenStore::Counts known = Scan::TokenStore::learnedMessages(*f.db);
    QCOMPARE((QList<int>{int(known.spam), int(known.ham)}), learned);

    // Learning the archive later never overrides the user's word, and passes
    // over what is still held or kept. Every row holds the same message.
    Scan::SpamTrainer trainer(f.dir.path(), *f.db);
    QVERIFY(trainer.open());
    trainer.learnArchive();
    const Scan::TokenStore::Counts later = Scan::TokenStore::learnedMessages(*f.db);
    const auto decided = [](State s) { return s == State::DeleteRequested || s == State::Deleted || s == State::Gone; };
    const QList<int> afterArchive =
        learned != QList<int>{0, 0} || !(decided(after) || decided(otherAfter)) ? learned : QList<int>{1, 0};
    QCOMPARE((QList<int>{int(later.spam), int(later.ham)}), afterArchive);
}

void tst_TrustTabs::whitelistEntryFromSender_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("entry"); // empty: refused, nothing offered

    const QString none;
    QTest::newRow("display name holding an address, a non-address in brackets")
        << u"support@bank.com <m>"_s << true << none;
    QTest::newRow("quoted display name holding an address") << u"\"support@bank.com\" <m>"_s << true << none;
    QTest::newRow("brackets around a non-address") << u"<m>"_s << true << none;
    QTest::newRow("the mark of a missing From") << u"<not found>"_s << true << none;
    QTest::newRow("no brackets, a fragment") << u"m"_s << true << none;
    QTest::newRow("no brackets, a name only") << u"\"Support Team\""_s << true << none;
    QTest::newRow("host without a dot") << u"Admin <root@localhost>"_s << true << none;
    QTest::newRow("unquoted comma: two senders") << u"ceo@bank.example, <x@spam.example>"_s << true << none;
    QTest::newRow("two addresses in brackets") << u"<ceo@bank.example> <x@spam.example>"_s << true << none;
    QTest::newRow("text after the brackets") << u"<x@spam.example> ceo@bank.example"_s << true << none;
    QTest::newRow("brackets not closed") << u"Bank <ceo@bank.example"_s << true << none;
    QTest::newRow("encoded word for the address") << u"=?UTF-8?Q?ceo@bank.example?="_s << true << none;
    QTest::newRow("encoded word in the brackets") << u"Bank <=?UTF-8?Q?ceo=40bank.example?=>"_s << true << none;
    QTest::newRow("quoted commas") << u"\"Doe, John\" <john@x.example>"_s << true << u"john@x.example"_s;
    QTest::newRow("quoted brackets holding another address")
        << u"\"ceo <ceo@bank.example>\" <m@spam.example>"_s << true << u"m@spam.example"_s;
    QTest::newRow("comment holding another address")
        << u"(ceo@bank.example) <m@spam.example>"_s << true << u"m@spam.example"_s;
    QTest::newRow("encoded display name")
        << u"=?UTF-8?B?U3DDpG1tZXI=?= <x@spam.example>"_s << true << u"x@spam.example"_s;
    QTest::newRow("no brackets, a whole address") << u"x@spam.example (Sp\u00e4mmer)"_s << true << u"x@spam.example"_s;
    QTest::newRow("the user declines") << u"Sp\u00e4mmer <x@spam.example>"_s << false << u"x@spam.example"_s;
}

void tst_TrustTabs::whitelistEntryFromSender()
{
    QFETCH(QString, sender);
    QFETCH(bool, confirmed);
    QFETCH(QString, entry);

    Folder f;
    const qint64 id = f.add(State::Held, sender);
    SpamReviewTab tab(f.dir.path());
    tab.refresh();
    QSignalSpy whitelist(&tab, &SpamReviewTab::whitelistRequested);
    tab.view()->selectRow(0);
    named<QCheckBox>(tab, u"checkAlsoWhitelist"_s)->setChecked(true);
    MessageBox::queueAnswer(confirmed ? MessageBox::Yes : MessageBox::No);
    named<QPushButton>(tab, u"cmdNotSpam"_s)->click();

    // The user sees the exact entry before it is added, or why there is none.
    const QList<MessageBox::Record> boxes = MessageBox::records();
    QCOMPARE(boxes.size(), 1);
    if (entry.isEmpty()) {
        QCOMPARE(boxes.at(0).buttons, MessageBox::OkOnly);
        QVERIFY2(boxes.at(0).text.startsWith(u"Nothing was added to the whitelist"_s), qPrintable(boxes.at(0).text));
        QVERIFY(boxes.at(0).text.split(u'\n').contains(sender));
    } else {
        QCOMPARE(boxes.at(0).buttons, MessageBox::YesNo);
        QVERIFY2(boxes.at(0).text.split(u'\n').contains(entry), qPrintable(boxes.at(0).text));
    }
    QCOMPARE(whitelist.size(), !entry.isEmpty() && confirmed ? 1 : 0);
    if (!whitelist.isEmpty())
        QCOMPARE(whitelist.at(0).at(0).toString(), entry);
    // The message is kept whatever becomes of the entry.
    QCOMPARE(ReviewList(*f.db).byId(id)->state, State::Kept);
}

void tst_TrustTabs::dateColumns_data()
{
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QDateTime>("read"); // invalid: shown as the message has it

    QTest::newRow("the message's Date") << u"Tue, 8 Dec 2026 10:00:00 +0000"_s
                                        << QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);
    QTest::newRow("a Date that reads 1980, with a comment")
        << u"Tue, 1 Jan 1980 00:00:00 +0100 (CET)"_s << QDateTime(QDate(1979, 12, 31), QTime(23, 0), Qt::UTC);
    QTest::newRow("an unreadable Date") << u"sometime last week"_s << QDateTime();
    QTest::newRow("no Date header") << u"<not found>"_s << QDateTime();
}

void tst_TrustTabs::dateColumns()
{
    QFETCH(QString, sent);
    QFETCH(QDateTime, read);

    Folder f;
    const qint64 id = f.add(State::Held, u"x@spam.example"_s, sent);
    SpamReviewTab tab(f.dir.path());
    tab.refresh();
    // In the user's format and time zone, the header itself in the tooltip.
    const QModelIndex date = tab.view()->model()->index(0, SpamReviewTab::Sent);
    const QString header = sent == u"<not found>"_s ? QString() : sent;
    QCOMPARE(date.data().toString(),
             read.isValid() ? QLocale().toString(read.toLocalTime(), QLocale::ShortFormat) : header);
    QCOMPARE(date.data(Qt::ToolTipRole).toString(), header);
    // Beside it, when Quellmail caught it, whatever the message claims.
    const QDateTime judged = ReviewList(*f.db).byId(id)->judged;
    QCOMPARE(tab.view()->model()->index(0, SpamReviewTab::Caught).data().toString(),
             QLocale().toString(judged.toLocalTime(), QLocale::ShortFormat));
    QCOMPARE(tab.view()->model()->headerData(SpamReviewTab::Caught, Qt::Horizontal).toString(), u"Caught"_s);
    QCOMPARE(tab.view()->model()->headerData(SpamReviewTab::Sent, Qt::Horizontal).toString(), u"Date"_s);
}

void tst_TrustTabs::listSortsSearchesAndFilters_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<int>("show");   // index of the state box
    QTest::addColumn<int>("column"); // sorted by, as a click on its header; -1: as the tab opens
    QTest::addColumn<int>("order");
    QTest::addColumn<QString>("subjects"); // as shown, top to bottom
    QTest::addColumn<QString>("count");

    const int asOpened = -1;
    const int up = Qt::AscendingOrder;
    const int down = Qt::DescendingOrder;
    const QString all = u"6 messages, 2 held"_s;
    const struct
    {
        const char *name;
        int column, order;
        const char *subjects;
    } sorted[] = {
        {"held first, newest first among equals", asOpened, up,
         "Casino bonus, Lottery winner, Weekly offers, Meeting notes, Cheap watches, Old lottery"},
        {"caught, oldest first", SpamReviewTab::Caught, up,
         "Cheap watches, Lottery winner, Meeting notes, Casino bonus, Weekly offers, Old lottery"},
        {"the message's date: none and unreadable oldest, then 1980, time zones counted", SpamReviewTab::Sent, up,
         "Old lottery, Meeting notes, Cheap watches, Casino bonus, Weekly offers, Lottery winner"},
        {"size as a number, largest first", SpamReviewTab::Size, down,
         "Weekly offers, Lottery winner, Meeting notes, Casino bonus, Cheap watches, Old lottery"},
        {"sender, letter case ignored", SpamReviewTab::Sender, up,
         "Meeting notes, Casino bonus, Old lottery, Lottery winner, Cheap watches, Weekly offers"},
        {"subject, descending", SpamReviewTab::Subject, down,
         "Weekly offers, Old lottery, Meeting notes, Lottery winner, Cheap watches, Casino bonus"},
        {"account, newest first among equals", SpamReviewTab::Account, up,
         "Casino bonus, Lottery winner, Old lottery, Weekly offers, Meeting notes, Cheap watches"},
        {"rule", SpamReviewTab::Rule, up,
         "Lottery winner, Old lottery, Weekly offers, Cheap watches, Casino bonus, Meeting notes"},
        {"state, gone first", SpamReviewTab::State, down,
         "Old lottery, Cheap watches, Meeting notes, Weekly offers, Casino bonus, Lottery winner"},
    };
    for (const auto &r : sorted)
        QTest::newRow(r.name) << QString() << 0 << r.column << r.order << QString::fromLatin1(r.subjects) << all;

    const struct
    {
        const char *name, *search;
        int show;
        const char *subjects;
    } filtered[] = {
        {"search in the sender", "LOTTO", 0, "Lottery winner, Old lottery"},
        {"search in the subject", "offers", 0, "Weekly offers"},
        {"search in the account", "bob@pop", 0, "Casino bonus, Lottery winner"},
        {"every word must occur somewhere", " lotto  mail.example ", 0, "Old lottery"},
        {"nothing found", "rolex casino", 0, ""},
        {"held", "", 1, "Casino bonus, Lottery winner"},
        {"held by the learned filter alone", "", 2, "Casino bonus"},
        {"to be deleted", "", 4, "Weekly offers"},
        {"deleted, with what was gone before", "", 5, "Cheap watches, Old lottery"},
        {"kept", "", 6, "Meeting notes"},
        {"held and searched", "lott", 1, "Lottery winner"},
    };
    for (const auto &r : filtered) {
        const QString subjects = QString::fromLatin1(r.subjects);
        QTest::newRow(r.name) << QString::fromLatin1(r.search) << r.show << asOpened << up << subjects
                              << u"%1 of 6 messages shown, 2 held"_s.arg(subjects.isEmpty() ? 0
                                                                                            : subjects.count(u',') + 1);
    }
}

void tst_TrustTabs::listSortsSearchesAndFilters()
{
    QFETCH(QString, search);
    QFETCH(int, show);
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QString, subjects);
    QFETCH(QString, count);

    Folder f;
    const struct
    {
        const char *subject, *sender, *account, *sent, *judged, *rule;
        State state;
        qint64 size;
    } rows[] = {
        {"Cheap watches", "Rolex <r@watch.example>", "u", "Tue, 1 Jan 1980 00:00:00 +0000", "2026-12-01T10:00:00Z",
         "keyword", State::Deleted, 300},
        {"Lottery winner", "Lotto <l@lotto.example>", "bob", "Tue, 8 Dec 2026 09:00:00 +0100", "2026-12-02T10:00:00Z",
         "blacklist", State::Held, 5000},
        {"Meeting notes", "anna <anna@work.example>", "u", "<not found>", "2026-12-03T10:00:00Z", "learned filter",
         State::Kept, 1200},
        {"Casino bonus", "Casino <c@casino.example>", "bob", "Wed, 2 Dec 2026 12:00:00 +0000 (UTC)",
         "2026-12-04T10:00:00Z", "learned filter", State::Held, 800},
        {"Weekly offers", "Shop <news@shop.example>", "u", "Thu, 3 Dec 2026 08:00:00 +0000", "2026-12-05T10:00:00Z",
         "keyword", State::DeleteRequested, 50000},
        {"Old lottery", "Lotto <l@lotto.example>", "u", "sometime last week", "2026-12-06T10:00:00Z", "keyword",
         State::Gone, 100},
    };
    for (const auto &r : rows) {
        ReviewList::Message m;
        m.subject = QString::fromLatin1(r.subject);
        m.sender = QString::fromLatin1(r.sender);
        m.login = QString::fromLatin1(r.account);
        m.server = m.login == u"bob"_s ? u"pop.test"_s : u"mail.example"_s;
        m.sent = QString::fromLatin1(r.sent);
        m.judged = QDateTime::fromString(QString::fromLatin1(r.judged), Qt::ISODate);
        m.rule = QString::fromLatin1(r.rule);
        m.state = r.state;
        m.size = r.size;
        QVERIFY(f.add(m) > 0);
    }
    SpamReviewTab tab(f.dir.path());
    tab.refresh();
    if (column >= 0)
        tab.view()->sortByColumn(column, Qt::SortOrder(order));
    named<QLineEdit>(tab, u"txtSpamSearch"_s)->setText(search);
    named<QComboBox>(tab, u"comboSpamShow"_s)->setCurrentIndex(show);
    QCOMPARE(shownSubjects(tab).join(u", "_s), subjects);
    QCOMPARE(named<QLabel>(tab, u"lblSpamCount"_s)->text(), count);

    // A new scan's rows keep the order and the filter chosen.
    tab.refresh();
    QCOMPARE(shownSubjects(tab).join(u", "_s), subjects);
    // What is selected and then filtered away is not acted on.
    tab.view()->selectAll();
    named<QLineEdit>(tab, u"txtSpamSearch"_s)->setText(u"no such message"_s);
    QVERIFY(tab.view()->selectionModel()->selectedRows().isEmpty());
    QVERIFY(!named<QPushButton>(tab, u"cmdPreview"_s)->isEnabled());
}

void tst_TrustTabs::savedEmailHasNoPrefixAndPreviewIsText()
{
    Folder f;
    const qint64 first = f.add(State::Held);
    f.add(State::Held, u"x@spam.example"_s, {}, u"../Re: 50% off?"_s);
    SpamReviewTab tab(f.dir.path());
    tab.refresh();
    tab.view()->selectRow(0);
    QString suggested;
    const QString target = f.dir.filePath(u"saved"_s); // typed without ".eml"
    tab.setSaveFileChooser([&](const QString &name) {
        suggested = name;
        return target;
    });
    named<QPushButton>(tab, u"cmdSaveAsEmail"_s)->click();
    QCOMPARE(QFileInfo(suggested).fileName(), u"_Re_ 50% off_.eml"_s);
    QVERIFY2(QFileInfo(suggested).absolutePath() != f.dir.path(), qPrintable(suggested)); // never the program folder
    QVERIFY(!QFile::exists(target));
    QFile saved(target + u".eml"_s);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), Mail);

    // Several rows: a file each, named from the subject, nothing overwritten.
    const QString into = f.dir.filePath(u"out"_s);
    QVERIFY(QDir().mkpath(into));
    QFile old(into + u"/_Re_ 50% off_.eml"_s);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    QString start;
    tab.setSaveFolderChooser([&](const QString &folder) {
        start = folder;
        return into;
    });
    tab.view()->selectAll();
    named<QPushButton>(tab, u"cmdSaveAsEmail"_s)->click();
    QCOMPARE(start, f.dir.path()); // where the last save went
    QStringList files = QDir(into).entryList(QDir::Files);
    files.sort();
    QCOMPARE(files, (QStringList{u"Gl\u00fcck.eml"_s, u"_Re_ 50% off_ (2).eml"_s, u"_Re_ 50% off_.eml"_s}));
    for (const QString &name : files) {
        QFile file(into + u'/' + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), name == u"_Re_ 50% off_.eml"_s ? QByteArray("old") : Mail);
    }
    named<QPushButton>(tab, u"cmdPreview"_s)->click();
    QCOMPARE(tab.findChildren<QDialog *>(u"dlgPreview"_s).size(), 1);
    QCOMPARE(tab.findChild<QDialog *>(u"dlgPreview"_s)->windowTitle(), u"Preview: the first of 2 messages selected"_s);
    tab.view()->clearSelection();
    QVERIFY(!named<QPushButton>(tab, u"cmdSaveAsEmail"_s)->isEnabled());
    QVERIFY(!named<QPushButton>(tab, u"cmdPreview"_s)->isEnabled());
    tab.findChild<QDialog *>(u"dlgPreview"_s)->close();
    QTRY_VERIFY(!tab.findChild<QDialog *>(u"dlgPreview"_s));
    tab.view()->selectRow(0);

    named<QPushButton>(tab, u"cmdPreview"_s)->click();
    auto *text = tab.findChild<QPlainTextEdit *>(u"txtPreview"_s);
    QVERIFY(text);
    QVERIFY(text->isReadOnly());
    const QString shown = text->toPlainText();
    QVERIFY2(shown.contains(u"Subject: Gl\u00fcck"_s), qPrintable(shown));
    QVERIFY2(shown.contains(u"Win a casino trip & more"_s), qPrintable(shown));
    QVERIFY2(!shown.contains(u"<p>"_s) && !shown.contains(u"alert"_s), qPrintable(shown));
    QVERIFY2(shown.contains(u".sig line"_s) && !shown.contains(u"..sig"_s), qPrintable(shown));
    // Enter on the list opens it too.
    text->window()->close();
    QTRY_VERIFY(!tab.findChild<QDialog *>(u"dlgPreview"_s));
    QTest::keyClick(tab.view(), Qt::Key_Return);
    QVERIFY(tab.findChild<QPlainTextEdit *>(u"txtPreview"_s));

    // The copy deleted by the user and its name taken by a later message:
    // neither shown nor learned as this one.
    QSignalSpy problems(&tab, &SpamReviewTab::problem);
    QVERIFY(!tab.messageBytes(first).isEmpty());
    UiTest::writeBytes(f.dir.filePath(u"SpamDeleted/"_s + ReviewList(*f.db).byId(first)->archiveFile),
                       Scan::ArchiveWriter::inertPrefix() + "Subject: another\n\nother");
    QVERIFY(tab.messageBytes(first).isEmpty());
    tab.selectMessages({first});
    named<QPushButton>(tab, u"cmdSpam"_s)->click();
    QCOMPARE(problems.size(), 1);
    QCOMPARE(Scan::TokenStore::learnedMessages(*f.db).spam, 0u);
    problems.clear();

    // A copy that is gone is reported, not shown as an empty message.
    QVERIFY(QDir(f.dir.filePath(u"SpamDeleted"_s)).removeRecursively());
    named<QPushButton>(tab, u"cmdSaveAsEmail"_s)->click();
    QCOMPARE(problems.size(), 1);
}

void tst_TrustTabs::restore_data()
{
    QTest::addColumn<QList<State>>("states"); // all selected
    QTest::addColumn<QString>("via");
    QTest::addColumn<QString>("chosen"); // "out", "program" (the program folder) or empty (cancelled)
    QTest::addColumn<int>("taken");      // names already in the folder: "Glück.eml", "Glück (2).eml", …
    QTest::addColumn<bool>("open");      // the answer to "Open them…?"
    QTest::addColumn<int>("written");
    QTest::addColumn<QString>("opened"); // "files", "folder" or empty
    QTest::addColumn<QString>("box");    // the last box's first line

    const QString restored = u"1 message was restored as an email into {out}."_s;
    QTest::newRow("a deleted message, opened in the mail program")
        << QList<State>{State::Deleted} << u"cmdRestore"_s << u"out"_s << 0 << true << 1 << u"files"_s << restored;
    QTest::newRow("held and gone, the name taken: never replaced")
        << QList<State>{State::Held, State::Gone} << u"cmdRestore"_s << u"out"_s << 2 << false << 2 << QString()
        << u"2 messages were restored as emails into {out}."_s;
    QTest::newRow("more than ten: the folder is opened")
        << QList<State>(11, State::Deleted) << u"cmdRestore"_s << u"out"_s << 0 << true << 11 << u"folder"_s
        << u"11 messages were restored as emails into {out}."_s;
    QTest::newRow("never into the program folder")
        << QList<State>{State::Deleted} << u"cmdRestore"_s << u"program"_s << 0 << true << 0 << QString()
        << u"{program} holds Quellmail's own files; no messages are written there. Pick another folder."_s;
    QTest::newRow("cancelled") << QList<State>{State::Deleted} << u"cmdRestore"_s << QString() << 0 << true << 0
                               << QString() << QString();
    QTest::newRow("not spam on a deleted message offers it")
        << QList<State>{State::Deleted} << u"cmdNotSpam"_s << u"out"_s << 0 << true << 1 << u"files"_s << restored;
}

void tst_TrustTabs::restore()
{
    QFETCH(QList<State>, states);
    QFETCH(QString, via);
    QFETCH(QString, chosen);
    QFETCH(int, taken);
    QFETCH(bool, open);
    QFETCH(int, written);
    QFETCH(QString, opened);
    QFETCH(QString, box);

    Folder f;
    for (const State state : states)
        f.add(state);
    const QString out = f.dir.filePath(u"out"_s);
    QVERIFY(QDir().mkpath(out));
    for (int n = 1; n <= taken; ++n)
        UiTest::writeBytes(QDir(out).filePath(n == 1 ? u"Gl\u00fcck.eml"_s : u"Gl\u00fcck (%1).eml"_s.arg(n)), "old");
    const QString folder = chosen == u"out"_s ? out : chosen == u"program"_s ? f.dir.path() : QString();

    SpamReviewTab tab(f.dir.path());
    QString start;
    tab.setSaveFolderChooser([&](const QString &from) {
        start = from;
        return folder;
    });
    QList<QUrl> urls;
    tab.setUrlOpener([&](const QUrl &url) { urls.append(url); });
    tab.refresh();
    tab.view()->selectAll();
    if (via == u"cmdNotSpam"_s)
        MessageBox::queueAnswer(MessageBox::Yes); // "Restore it…?"
    MessageBox::queueAnswer(open ? MessageBox::Yes : MessageBox::No);
    named<QPushButton>(tab, via)->click();

    // The first folder offered is the user's own, never the program's.
    QVERIFY(!start.isEmpty());
    QVERIFY2(QDir(start).canonicalPath() != QDir(f.dir.path()).canonicalPath(), qPrintable(start));
    const QList<MessageBox::Record> boxes = MessageBox::records();
    if (box.isEmpty())
        QVERIFY(via != u"cmdRestore"_s || boxes.isEmpty());
    else
        QCOMPARE(boxes.constLast().text.split(u'\n').constFirst(),
                 QString(box)
                     .replace(u"{out}"_s, QDir::toNativeSeparators(out))
                     .replace(u"{program}"_s, QDir::toNativeSeparators(f.dir.path())));

    // Each message byte for byte as the server had it, the taken names untouched.
    for (int n = 1; n <= taken; ++n)
        QCOMPARE(UiTest::readBytes(QDir(out).filePath(n == 1 ? u"Gl\u00fcck.eml"_s : u"Gl\u00fcck (%1).eml"_s.arg(n))),
                 QByteArray("old"));
    QStringList fresh;
    for (const QString &name : QDir(out).entryList(QDir::Files)) {
        QVERIFY(name.endsWith(u".eml"_s));
        const QByteArray bytes = UiTest::readBytes(QDir(out).filePath(name));
        if (bytes == "old")
            continue;
        QCOMPARE(bytes, Mail);
        fresh.append(name);
    }
    QCOMPARE(fresh.size(), written);
    QVERIFY(QDir(f.dir.path()).entryList({u"*.eml"_s}, QDir::Files).isEmpty());

    QList<QUrl> expected;
    if (opened == u"folder"_s)
        expected.append(QUrl::fromLocalFile(out));
    for (const QString &name : std::as_const(fresh)) {
        if (opened == u"files"_s)
            expected.append(QUrl::fromLocalFile(QDir(out).filePath(name)));
    }
    QCOMPARE(urls, expected);

    // The folder is remembered for the next run while it is there.
    SpamReviewTab next(f.dir.path());
    next.setSaveFolderChooser([&](const QString &from) {
        start = from;
        return QString();
    });
    next.refresh();
    next.view()->selectAll();
    named<QPushButton>(next, u"cmdRestore"_s)->click();
    QCOMPARE(start == out, written > 0);
    if (written > 0) {
        QVERIFY(QDir(out).removeRecursively());
        SpamReviewTab gone(f.dir.path());
        gone.setSaveFolderChooser([&](const QString &from) {
            start = from;
            return QString();
        });
        gone.refresh();
        gone.view()->selectAll();
        named<QPushButton>(gone, u"cmdRestore"_s)->click();
        QVERIFY(start != out && QDir(start).exists());
    }
}

void tst_TrustTabs::logTabShowsFailuresFirstAndLoud_data()
{
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("base");
    QTest::newRow("light theme") << QColor(Qt::black) << QColor(Qt::white);
    // The fixed dark red of before was unreadable here.
    QTest::newRow("dark theme") << QColor(0xee, 0xee, 0xee) << QColor(0x23, 0x26, 0x29);
    QTest::newRow("grey on grey") << QColor(0x30, 0x30, 0x30) << QColor(0xd8, 0xd8, 0xd8);
}

void tst_TrustTabs::logTabShowsFailuresFirstAndLoud()
{
    QFETCH(QColor, text);
    QFETCH(QColor, base);
    // WCAG's relative luminance and contrast ratio; 4.5 is its floor for text.
    const auto luminance = [](const QColor &c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const auto contrast = [&](const QColor &a, const QColor &b) {
        const double la = luminance(a), lb = luminance(b);
        return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
    };
    Folder f;
    ScanLog log(*f.db);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 ok = log.begin(u"mail.example"_s, u"anna"_s, now);
    QVERIFY(log.finish({ok, {}, {}, {}, 10, 2, 2, {}}));
    const qint64 bad = log.begin(u"mail.example"_s, u"bert"_s, now);
    QVERIFY(log.finish({bad, {}, {}, {}, 0, 0, 0, u"Host not found"_s}));
    log.begin(u"mail.example"_s, u"cleo"_s, now); // never finished

    ScanLogTab tab(f.dir.path());
    QPalette palette = tab.palette();
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Base, base);
    tab.setPalette(palette);
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
    const QColor failed = model->index(1, ScanLogTab::Outcome).data(Qt::ForegroundRole).value<QBrush>().color();
    QVERIFY2(contrast(failed, base) >= 4.5, qPrintable(failed.name()));
    QVERIFY2(failed.red() > failed.green() + 60, qPrintable(failed.name())); // still red
    // A theme changed while the tab is open recolours it.
    palette.setColor(QPalette::Text, base);
    palette.setColor(QPalette::Base, text);
    tab.setPalette(palette);
    const QColor after = model->index(1, ScanLogTab::Outcome).data(Qt::ForegroundRole).value<QBrush>().color();
    QVERIFY2(contrast(after, text) >= 4.5, qPrintable(after.name()));
}

QTEST_MAIN(tst_TrustTabs)
#include "tst_trusttabs.moc"
