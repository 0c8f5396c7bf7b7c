// The window on a real X display, hosting the real control against Dovecot:
// a scan in "one summary" mode and one holding spam for review, then the
// Spam and Log tabs read and used through their widgets.

#include "config/listtable.h"
#include "dovecot/dovecotserver.h"
#include "platform/messagebox/messagebox.h"
#include "ui/frmmain.h"
#include "ui/spamreviewtab.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray mail(const char *from, const char *subject, const char *body = "Hello.\r\n")
{
    return QByteArray("From: ") + from + "\r\nTo: me@example.org\r\nSubject: " + subject + "\r\nMessage-ID: <" + subject
           + "@example.org>\r\n\r\n" + body;
}

QStringList column(QTableView *view, int col)
{
    QStringList cells;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        cells.append(view->model()->index(row, col).data().toString());
    return cells;
}

QTableView *showTab(frmMain &form, const QString &tab, const QString &grid)
{
    auto *tabs = form.findChild<QTabWidget *>(u"SSTab1"_s);
    tabs->setCurrentWidget(tabs->findChild<QWidget *>(tab));
    QCoreApplication::processEvents();
    return form.findChild<QTableView *>(grid);
}

} // namespace

class tst_ReviewXvfb : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scanThenReview_data();
    void scanThenReview();
};

void tst_ReviewXvfb::scanThenReview_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("hold");
    QTest::newRow("one summary when the scan ends") << QByteArray("[Scan]\nannounce=summary\n") << false;
    QTest::newRow("hold for review") << QByteArray("[Scan]\nholdForReview=true\n") << true;
}

void tst_ReviewXvfb::scanThenReview()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, hold);
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed");
    const QString library = QStringLiteral(QUELLMAIL_BIN_DIR "/libtarnpostctl.so");
    if (!QFileInfo::exists(library))
        QSKIP("the control library is not built in this tree");

    DovecotServer server;
    server.addUser(u"anna"_s, u"pw"_s);
    // A line that begins with a dot reaches the client dot-stuffed.
    const QByteArray offerOne = mail("ads@spam.example", "Offer-one", "Hello.\r\n.hidden line\r\n\r\n");
    server.addMessage(u"anna"_s, offerOne);
    server.addMessage(u"anna"_s, mail("friend@example.org", "Minutes"));
    server.addMessage(u"anna"_s, mail("deals@spam.example", "Offer-two"));
    QVERIFY2(server.start(), qPrintable(server.errorString()));

    QTemporaryDir folder;
    QVERIFY(QFile::link(library, folder.filePath(u"libtarnpostctl.so"_s)));
    QVERIFY(QDir(folder.path()).mkdir(u"SpamDeleted"_s));
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile f(folder.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    };
    write(u"accounts.dat"_s,
          "pop3://" + server.address().toLatin1() + ':' + QByteArray::number(server.port()) + ",anna,pw\r\n");
    write(u"blacklist.dat"_s, "spam.example\r\n");
    write(u"settings.ini"_s, settings);

    MessageBox::setTestMode(true);
    MessageBox::clearRecords();
    frmMain form(folder.path());
    form.setTrayAvailabilityCheck([] { return true; });
    form.runLoadSequence();
    QVERIFY(form.Tarnpost1().isValid());
    form.findChild<QPushButton *>(u"cmdscannow"_s)->click();

    QStringList boxes;
    for (const MessageBox::Record &r : MessageBox::records())
        boxes.append(r.text);
    if (hold)
        QCOMPARE(boxes.size(), 2); // a box for each message, as by default
    else
        QCOMPARE(boxes,
                 QStringList{u"Spam found in this scan: 2\nSpam fromads@spam.example\nSpam fromdeals@spam.example"_s});
    QCOMPARE(server.messageCount(u"anna"_s), hold ? 3 : 1);

    QTableView *spam = showTab(form, u"tabSpam"_s, u"gridSpam"_s);
    QVERIFY(spam);
    QCOMPARE(column(spam, SpamReviewTab::Sender), (QStringList{u"deals@spam.example"_s, u"ads@spam.example"_s}));
    QCOMPARE(column(spam, SpamReviewTab::Rule), (QStringList{u"blacklist"_s, u"blacklist"_s}));
    QCOMPARE(column(spam, SpamReviewTab::Entry), (QStringList{u"spam.example"_s, u"spam.example"_s}));
    const QString first = hold ? u"held"_s : u"deleted"_s;
    QCOMPARE(column(spam, SpamReviewTab::State), (QStringList{first, first}));

    // The archive copy holds the message as the server sent it, without the
    // last line end; "Save as email" writes the message itself.
    QFile archived(folder.filePath(u"SpamDeleted/Offer-one.html"_s));
    QVERIFY(archived.open(QIODevice::ReadOnly));
    QVERIFY(archived.readAll().endsWith("Hello.\r\n..hidden line\r\n"));
    const QString saved = folder.filePath(u"saved.eml"_s);
    form.findChild<SpamReviewTab *>(u"tabSpam"_s)->setSaveFileChooser([&](const QString &) { return saved; });
    spam->selectRow(1);
    form.findChild<QPushButton *>(u"cmdSaveAsEmail"_s)->click();
    spam->clearSelection();
    QFile eml(saved);
    QVERIFY(eml.open(QIODevice::ReadOnly));
    QCOMPARE(eml.readAll(), offerOne);

    if (hold) {
        // The user lets one go at the next scan, found by its unique id.
        spam->selectRow(1);
        form.findChild<QPushButton *>(u"cmdDeleteFromServer"_s)->click();
        QCOMPARE(column(spam, SpamReviewTab::State), (QStringList{u"held"_s, u"to be deleted"_s}));
        form.findChild<QPushButton *>(u"cmdscannow"_s)->click();
        QCOMPARE(server.messageCount(u"anna"_s), 2);
        spam = showTab(form, u"tabSpam"_s, u"gridSpam"_s);
        QCOMPARE(column(spam, SpamReviewTab::State), (QStringList{u"held"_s, u"deleted"_s}));
        QCOMPARE(form.txtEmailsBlockedCount()->text(), u"1"_s);
    }

    QTableView *log = showTab(form, u"tabLog"_s, u"gridLog"_s);
    QVERIFY(log);
    const int scans = hold ? 2 : 1;
    QCOMPARE(log->model()->rowCount(), scans);
    QCOMPARE(column(log, 1).constFirst(), u"anna@pop3://"_s + server.address() + u':' + QString::number(server.port()));
    QCOMPARE(column(log, 5), QStringList(scans, u"ok"_s));
    QCOMPARE(column(log, 3).constLast(), u"2"_s);                 // condemned in the first scan
    QCOMPARE(column(log, 4).constLast(), hold ? u"0"_s : u"2"_s); // deleted in it
    QCOMPARE(form.Label17()->text(),
             u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s);
}

QTEST_MAIN(tst_ReviewXvfb)
#include "tst_reviewxvfb.moc"
