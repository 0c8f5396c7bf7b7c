// The main window as a user meets it: first start, a start with saved data,
// Save and Reload, Hide, Exit and the close request, the links and the
// hosted POP3 control.

#include "config/listtable.h"
#include "config/widgets/frmaddaccount.h"
#include "config/widgets/frmaddwhitelist.h"
#include "config/widgets/ruleswitch.h"
#include "platform/messagebox/messagebox.h"
#include "scan/archivewriter.h"
#include "state/appsettings.h"
#include "tests/ui/uitestsupport.h"
#include "ui/firstrundialog.h"
#include "ui/frmmain.h"
#include "ui/frmsplash.h"
#include "ui/learnedtraining.h"
#include "ui/scanlogtab.h"
#include "ui/spamreviewtab.h"
#include "ui/trainfolderdialog.h"
#include "ui/windowplacement.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

const QByteArray savedStats("2\r\n1\r\n1\r\n0\r\n12\r\n345\r\n 0 \r\n10\r\n 1 \r\n 0 \r\n 0 \r\n 1 \r\n");

QStringList countTexts(const frmMain &form)
{
    return {form.txtAccountsCount()->text(), form.txtwhitelistCount()->text(),     form.txtblacklistCount()->text(),
            form.txtkeywordsCount()->text(), form.txtEmailsBlockedCount()->text(), form.txttotalemailsever()->text()};
}

QStringList states(const frmMain &form)
{
    QStringList values;
    for (const QCheckBox *box : {form.checkautoscan(), form.checkwhitelist(), form.checkblacklist(),
                                 form.checkspamcop(), form.checkkeywords()})
        values.append(QString::number(RuleSwitch::value(box)));
    return values;
}

QStringList minuteItems(const frmMain &form)
{
    QStringList items;
    for (int i = 0; i < form.combominutes()->count(); ++i)
        items.append(form.combominutes()->itemText(i));
    return items;
}

QStringList rowsOf(const ListTable *table)
{
    QStringList rows;
    for (int row = 1; row <= table->rowCountValue(); ++row)
        rows.append(table->rowCells(row).join(u','));
    return rows;
}

const QStringList allMinutes{u"1"_s,  u"5"_s,  u"10"_s, u"15"_s, u"20"_s, u"25"_s,
                             u"30"_s, u"35"_s, u"40"_s, u"45"_s, u"50"_s, u"55"_s};

} // namespace

Q_DECLARE_METATYPE(AppSettings::Announce)

class tst_FrmMain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void layout();
    void firstStartWithoutFiles();
    void firstRunChoices_data();
    void firstRunChoices();
    void startWithSavedData();
    void reloadDiscardsUnsavedEdits();
    void saveThenReloadShowsTheSame();
    void failedSaveIsReported_data();
    void failedSaveIsReported();
    void exitAnswered_data();
    void exitAnswered();
    void closeRequest_data();
    void closeRequest();
    void hideButton_data();
    void hideButton();
    void keysAndCaptions_data();
    void keysAndCaptions();
    void windowPlacement_data();
    void windowPlacement();
    void links();
    void importHook();
    void helpPage();
    void tarnpostHosted();
    void reviewSettingsAndTabs();
    void learnedFilterSettingsAndTraining();

private:
    void savedFiles();
    // Starts the window, cancelling the first-account dialog if it opens.
    bool start(frmMain &form);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_FrmMain::init()
{
    MessageBox::setTestMode(true);
    m_dir = std::make_unique<QTemporaryDir>();
}

void tst_FrmMain::savedFiles()
{
    UiTest::writeBytes(m_dir->filePath(u"stats.dat"_s), savedStats);
    UiTest::writeBytes(m_dir->filePath(u"accounts.dat"_s), "mail.example.org,alice,pw1\r\npop.example.net,bob,p,w\r\n");
    UiTest::writeBytes(m_dir->filePath(u"whitelist.dat"_s), "friend@x.example\r\n");
    UiTest::writeBytes(m_dir->filePath(u"blacklist.dat"_s), "spam.example\r\n");
    UiTest::writeBytes(m_dir->filePath(u"keywords.dat"_s), "");
}

bool tst_FrmMain::start(frmMain &form)
{
    auto opened =
        UiTest::whenShown<frmAddAccount>(form, [](frmAddAccount *dialog) { dialog->cmdCancelAccountInfo()->click(); });
    form.runLoadSequence();
    return *opened;
}

void tst_FrmMain::layout()
{
    frmMain form(m_dir->path());
    // What a user relies on, by object name and kind: a window's title, the
    // tabs in order, a button's or label's caption, a count box's text (read-only).
    const struct
    {
        const char *name;
        const char *kind;
        const char *caption;
    } shown[] = {{"frmMain", "QWidget", "Quellmail"},
                 {"frmSplash", "QDialog", " Now Loading"},
                 {"SSTab1", "QTabWidget", "Accounts|Whitelist|Blacklist|Keywords|Settings|Help|Spam|Log"},
                 {"cmdAddAccount", "QPushButton", "Add"},
                 {"cmdDeleteAccount", "QPushButton", "Delete"},
                 {"cmdAddWhitelist", "QPushButton", "Add"},
                 {"cmdeletewhitelist", "QPushButton", "Delete"},
                 {"Command1", "QPushButton", "Import"},
                 {"cmdAddBlacklist", "QPushButton", "Add"},
                 {"cmddeleteblacklist", "QPushButton", "Delete"},
                 {"cmdAddkeywords", "QPushButton", "Add"},
                 {"cmddeletekeyword", "QPushButton", "Delete"},
                 {"cmdscannow", "QPushButton", "Scan now"},
                 {"cmdupdateconfig", "QPushButton", "Save Settings"},
                 {"cmdreloadconfig", "QPushButton", "Reload"},
                 {"cmdsystemtray", "QPushButton", "Hide"},
                 {"cmdExitApplication", "QPushButton", "Exit"},
                 {"SpamFolder", "QPushButton", "Spam Folder"},
                 {"Label25", "QLabel", "Open Deleted Spam folder"},
                 {"txtAccountsCount", "QLineEdit", "0"},
                 {"txtwhitelistCount", "QLineEdit", "0"},
                 {"txtblacklistCount", "QLineEdit", "0"},
                 {"txtkeywordsCount", "QLineEdit", "0"},
                 {"txtEmailsBlockedCount", "QLineEdit", "0"},
                 {"txttotalemailsever", "QLineEdit", "0"}};
    for (const auto &[name, kind, caption] : shown) {
        const QString objectName = QString::fromLatin1(name);
        QWidget *widget = form.objectName() == objectName ? &form : form.findChild<QWidget *>(objectName);
        QVERIFY2(widget && widget->inherits(kind), name);
        QString text = widget->isWindow() ? widget->windowTitle() : widget->property("text").toString();
        if (auto *tabs = qobject_cast<QTabWidget *>(widget)) {
            for (int i = 0; i < tabs->count(); ++i)
                text += (i ? u"|"_s : QString()) + tabs->tabText(i);
        }
        QCOMPARE(text, QString::fromLatin1(caption));
        QVERIFY2(!qobject_cast<QLineEdit *>(widget) || widget->property("readOnly").toBool(), name);
    }
    QVERIFY(UiTest::txtEmailsAllowedCount(form)->isHidden());
    QCOMPARE(form.gridAccountsView()->model(), form.gridAccounts());
}

void tst_FrmMain::firstStartWithoutFiles()
{
    frmMain form(m_dir->path());
    int scans = 0;
    form.setScanProcedure([&] { ++scans; });
    QVERIFY(start(form)); // the account dialog opened on its own
    QCOMPARE(countTexts(form), (QStringList{u"0"_s, u"0"_s, u"0"_s, u"0"_s, u"0"_s, u"0"_s}));
    QCOMPARE(form.combominutes()->currentText(), u"5"_s);
    QCOMPARE(states(form), (QStringList{u"1"_s, u"0"_s, u"1"_s, u"0"_s, u"0"_s}));
    QCOMPARE(minuteItems(form), allMinutes);
    QVERIFY(form.isVisible());
    QVERIFY(!UiTest::splash(form)->isVisible());
    QCOMPARE(UiTest::SSTab1(form)->currentIndex(), 0);
    QCOMPARE(form.Label17()->text(), u"Quellmail protects your inbox from unwanted emails."_s);
    // Auto-scan was switched on: the timer runs and one tick is counted.
    QVERIFY(UiTest::Timer1(form)->isActive());
    QCOMPARE(UiTest::txtTimer(form)->text(), u"1"_s);
    QCOMPARE(scans, 0);
    for (const ListTable *table :
         {form.gridAccounts(), form.gridwhitelist(), form.gridblacklist(), form.gridkeywords()})
        QCOMPARE(table->rowCountValue(), 0);
    QCOMPARE(form.gridAccounts()->headerData(2, Qt::Horizontal).toString(), u" Password "_s);
    QVERIFY(form.gridAccountsView()->updatesEnabled());
    QVERIFY(MessageBox::records().isEmpty());
    // Loading never writes a file.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList());
}

void tst_FrmMain::firstRunChoices_data()
{
    QTest::addColumn<QString>("how");      // "recommended", "own" (some boxes changed), "skip"
    QTest::addColumn<bool>("mailFolders"); // the home holds a mail program's junk and inbox
    QTest::addColumn<bool>("hold");
    QTest::addColumn<AppSettings::Announce>("announce");
    QTest::addColumn<bool>("judgeOnce");
    QTest::addColumn<bool>("learned");
    QTest::addColumn<QStringList>("ruleLines"); // stats.dat's whitelist, blacklist, sender IP, keywords; empty: no file
    QTest::addColumn<QString>("learnedCounts");

    const QString nothingLearned =
        u"Learned from 0 spam and 0 legitimate messages. It judges nothing until it has learned both."_s;
    QTest::newRow("recommended") << u"recommended"_s << false << true << AppSettings::Announce::SummaryAtEnd << true
                                 << false << QStringList{u"1"_s, u"1"_s, u"0"_s, u"1"_s} << nothingLearned;
    QTest::newRow("own choices") << u"own"_s << false << false << AppSettings::Announce::SummaryAtEnd << true << false
                                 << QStringList{u"1"_s, u"1"_s, u"1"_s, u"0"_s} << nothingLearned;
    QTest::newRow("recommended, trains from the mail folders")
        << u"recommended"_s << true << true << AppSettings::Announce::SummaryAtEnd << true << true
        << QStringList{u"1"_s, u"1"_s, u"0"_s, u"1"_s} << u"Learned from 2 spam and 1 legitimate messages."_s;
    // The settings before the step existed, and nothing written.
    QTest::newRow("skip") << u"skip"_s << true << false << AppSettings::Announce::BoxPerMessage << false << false
                          << QStringList() << nothingLearned;
}

void tst_FrmMain::firstRunChoices()
{
    QFETCH(QString, how);
    QFETCH(bool, mailFolders);
    QFETCH(bool, hold);
    QFETCH(AppSettings::Announce, announce);
    QFETCH(bool, judgeOnce);
    QFETCH(bool, learned);
    QFETCH(QStringList, ruleLines);
    QFETCH(QString, learnedCounts);

    QTemporaryDir home;
    if (mailFolders) {
        const QString local = home.filePath(u".thunderbird/p.default/Mail/Local Folders/"_s);
        QVERIFY(QDir().mkpath(local));
        UiTest::writeBytes(home.filePath(u".thunderbird/profiles.ini"_s), "[Profile0]\nPath=p.default\nIsRelative=1\n");
        UiTest::writeBytes(local + u"Junk"_s, "From a@b\nSubject: pills\n\ncheap pills\n\n"
                                              "From a@b\nSubject: casino\n\ncasino bonus\n");
        UiTest::writeBytes(local + u"Inbox"_s, "From g@h\nSubject: minutes\n\nminutes of the meeting\n");
        for (const QString &name : {u"Junk"_s, u"Inbox"_s})
            UiTest::writeBytes(local + name + u".msf"_s, "// summary");
    }
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", realHome); });

    frmMain form(m_dir->path());
    form.setScanProcedure([] {});
    auto added = UiTest::whenShown<frmAddAccount>(form, [](frmAddAccount *dialog) {
        dialog->txtAddMailServer()->setText(u"pop3s://mail.example.org"_s);
        dialog->txtAddLoginName()->setText(u"alice"_s);
        dialog->txtAddPassword()->setText(u"pw"_s);
        dialog->cmdAddAccountInfo()->click();
    });
    bool trainOffered = false;
    QStringList recommended;
    auto asked = UiTest::whenShown<FirstRunDialog>(form, [&](FirstRunDialog *dialog) {
        // The folders are counted on a thread of their own.
        QTRY_VERIFY(!dialog->lookingForFolders());
        trainOffered = !dialog->checkTrain()->isHidden() && dialog->checkTrain()->isChecked();
        for (const QCheckBox *box :
             {dialog->checkHold(), dialog->checkSummary(), dialog->checkJudgeOnce(), dialog->checkWhitelist(),
              dialog->checkBlacklist(), dialog->checkSenderIp(), dialog->checkKeywords(), dialog->checkLearned()})
            recommended.append(box->isChecked() ? u"1"_s : u"0"_s);
        if (how == u"own"_s) {
            dialog->checkHold()->click();
            dialog->checkKeywords()->click();
            dialog->checkSenderIp()->click();
        }
        (how == u"skip"_s ? dialog->cmdSkip() : dialog->cmdApply())->click();
    });
    form.runLoadSequence();
    QVERIFY(*added);
    QVERIFY(*asked);
    QCOMPARE(trainOffered, mailFolders);
    QCOMPARE(recommended.join(QString()), mailFolders ? u"11111011"_s : u"11111010"_s);

    // What the files hold is what the next start reads.
    AppSettings settings(m_dir->path());
    settings.load();
    QCOMPARE(settings.holdForReview, hold);
    QCOMPARE(settings.announce, announce);
    QCOMPARE(settings.judgeOnce, judgeOnce);
    QCOMPARE(settings.learnedFilter, learned);
    QCOMPARE(QFileInfo::exists(settings.path()), how != u"skip"_s);
    // Applied choices save as Save Settings does, the account included.
    QCOMPARE(UiTest::readBytes(m_dir->filePath(u"accounts.dat"_s)).startsWith("pop3s://mail.example.org,alice,pw"),
             how != u"skip"_s);
    const QStringList stats =
        QString::fromLatin1(UiTest::readBytes(m_dir->filePath(u"stats.dat"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    QStringList rules;
    for (int line = 8; line < 12 && line < stats.size(); ++line)
        rules.append(stats.at(line).trimmed());
    QCOMPARE(rules, ruleLines);
    if (!ruleLines.isEmpty()) // the window shows what the file holds
        QCOMPARE(states(form).mid(1),
                 (QStringList{ruleLines.at(0), ruleLines.at(1), ruleLines.at(2), ruleLines.at(3)}));
    QVERIFY2(form.findChild<QLabel *>(u"lblLearnedCounts"_s)->text().startsWith(learnedCounts),
             qPrintable(form.findChild<QLabel *>(u"lblLearnedCounts"_s)->text()));

    // Asked once: a later first account in the same window is only added.
    for (const QString &name : {u"accounts.dat"_s, u"stats.dat"_s, u"settings.ini"_s})
        QFile::remove(m_dir->filePath(name));
    auto readded = UiTest::whenShown<frmAddAccount>(form, [](frmAddAccount *dialog) {
        dialog->txtAddMailServer()->setText(u"pop.example.net"_s);
        dialog->txtAddLoginName()->setText(u"bob"_s);
        dialog->txtAddPassword()->setText(u"pw"_s);
        dialog->cmdAddAccountInfo()->click();
    });
    auto again = UiTest::whenShown<FirstRunDialog>(form, [](FirstRunDialog *dialog) { dialog->reject(); });
    UiTest::click(form, u"cmdreloadconfig"_s);
    QVERIFY(*readded);
    QVERIFY(!*again);
}

void tst_FrmMain::startWithSavedData()
{
    savedFiles();
    frmMain form(m_dir->path());
    QVERIFY(!start(form));
    QCOMPARE(countTexts(form), (QStringList{u"2"_s, u"1"_s, u"1"_s, u"0"_s, u"12"_s, u"345"_s}));
    QCOMPARE(rowsOf(form.gridAccounts()), (QStringList{u"mail.example.org,alice,pw1"_s, u"pop.example.net,bob,p,w"_s}));
    // The grid draws the password masked, the same for every length.
    for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
        QCOMPARE(form.gridAccounts()->index(0, 1).data(role).toString(), u"alice"_s);
        QCOMPARE(form.gridAccounts()->index(0, 2).data(role).toString(), ListTable::maskedText());
        QCOMPARE(form.gridAccounts()->index(1, 2).data(role).toString(), ListTable::maskedText());
    }
    QVERIFY(!ListTable::maskedText().contains(u"pw1"_s));
    QCOMPARE(form.combominutes()->currentText(), u"10"_s);
    // Auto-scan and blacklist are on after every start, whatever the file said.
    QCOMPARE(states(form), (QStringList{u"1"_s, u"1"_s, u"1"_s, u"0"_s, u"1"_s}));
}

void tst_FrmMain::reloadDiscardsUnsavedEdits()
{
    savedFiles();
    frmMain form(m_dir->path());
    QVERIFY(!start(form));
    form.gridAccounts()->removeAll();
    form.txtAccountsCount()->setText(u"0"_s);
    form.gridwhitelist()->appendRow({u"new@x.example"_s});
    form.txtwhitelistCount()->setText(u"2"_s);
    UiTest::txtEmailsAllowedCount(form)->setText(u"9"_s);
    form.txtEmailsBlockedCount()->setText(u"99"_s);
    form.checkwhitelist()->setCheckState(Qt::Unchecked);
    form.checkspamcop()->setCheckState(Qt::Checked);
    form.combominutes()->setEditText(u"3"_s);
    UiTest::SSTab1(form)->setCurrentIndex(4);

    UiTest::click(form, u"cmdreloadconfig"_s);
    QCOMPARE(countTexts(form), (QStringList{u"2"_s, u"1"_s, u"1"_s, u"0"_s, u"12"_s, u"345"_s}));
    QCOMPARE(rowsOf(form.gridAccounts()).size(), 2);
    QCOMPARE(rowsOf(form.gridwhitelist()), QStringList{u"friend@x.example"_s});
    QCOMPARE(UiTest::txtEmailsAllowedCount(form)->text(), u"0"_s);
    QCOMPARE(states(form), (QStringList{u"1"_s, u"1"_s, u"1"_s, u"0"_s, u"1"_s}));
    QCOMPARE(form.combominutes()->currentText(), u"10"_s);
    QCOMPARE(UiTest::SSTab1(form)->currentIndex(), 0);
    QCOMPARE(minuteItems(form), allMinutes);
    UiTest::click(form, u"cmdreloadconfig"_s);
    QCOMPARE(minuteItems(form), allMinutes);
}

void tst_FrmMain::saveThenReloadShowsTheSame()
{
    savedFiles();
    frmMain form(m_dir->path());
    QVERIFY(!start(form));
    auto ran = UiTest::whenShown<frmAddWhitelist>(form, [](frmAddWhitelist *dialog) {
        dialog->entryBox()->setText(u"pal@y.example"_s);
        dialog->addButton()->click();
    });
    UiTest::click(form, u"cmdAddWhitelist"_s);
    QVERIFY(*ran);
    form.gridAccountsView()->selectRow(0);
    MessageBox::queueAnswer(MessageBox::Yes);
    UiTest::click(form, u"cmdDeleteAccount"_s);
    form.combominutes()->setEditText(u"7"_s);
    form.checkspamcop()->setCheckState(Qt::Checked);
    form.txttotalemailsever()->setText(u"400"_s);
    const QStringList countsBefore = countTexts(form);
    const QStringList statesBefore = states(form);

    UiTest::click(form, u"cmdupdateconfig"_s);
    QVERIFY(!UiTest::splash(form)->isVisible());
    QCOMPARE(UiTest::readBytes(m_dir->filePath(u"accounts.dat"_s)), QByteArray("pop.example.net,bob,p,w\r\n"));
    QCOMPARE(UiTest::readBytes(m_dir->filePath(u"whitelist.dat"_s)),
             QByteArray("friend@x.example\r\npal@y.example\r\n"));
    QCOMPARE(UiTest::readBytes(m_dir->filePath(u"keywords.dat"_s)), QByteArray());

    UiTest::click(form, u"cmdreloadconfig"_s);
    QCOMPARE(countTexts(form), countsBefore);
    QCOMPARE(states(form), statesBefore);
    QCOMPARE(rowsOf(form.gridAccounts()), QStringList{u"pop.example.net,bob,p,w"_s});
    QCOMPARE(rowsOf(form.gridwhitelist()), (QStringList{u"friend@x.example"_s, u"pal@y.example"_s}));
    QCOMPARE(form.combominutes()->currentText(), u"7"_s);
    QCOMPARE(minuteItems(form), allMinutes);
}

void tst_FrmMain::failedSaveIsReported_data()
{
    QTest::addColumn<bool>("saveSettings");
    QTest::addColumn<QStringList>("reported");
    // stats.dat and whitelist.dat are folders, so neither file can be replaced.
    QTest::newRow("Save Settings") << true << QStringList{u"stats.dat"_s, u"whitelist.dat"_s};
    QTest::newRow("end of a scan") << false << QStringList{u"stats.dat"_s};
}

void tst_FrmMain::failedSaveIsReported()
{
    QFETCH(bool, saveSettings);
    QFETCH(QStringList, reported);
    savedFiles();
    frmMain form(m_dir->path());
    QVERIFY(!start(form));
    for (const QString &name : {u"stats.dat"_s, u"whitelist.dat"_s}) {
        QVERIFY(QFile::remove(m_dir->filePath(name)));
        QVERIFY(QDir(m_dir->path()).mkdir(name));
    }
    form.gridwhitelist()->appendRow({u"unsaved@x.example"_s});
    MessageBox::clearRecords();
    if (saveSettings)
        UiTest::click(form, u"cmdupdateconfig"_s);
    else
        form.writeStatistics();

    QCOMPARE(MessageBox::records().size(), 1);
    const MessageBox::Record box = MessageBox::records().first();
    QCOMPARE(box.title, u"Save failed."_s);
    QCOMPARE(box.buttons, MessageBox::OkOnly);
    const QStringList lines = box.text.split(u"\r\n"_s);
    QCOMPARE(lines.size(), reported.size() + 2);
    for (qsizetype i = 0; i < reported.size(); ++i) {
        const QString named = QDir::toNativeSeparators(m_dir->filePath(reported.at(i))) + u": "_s;
        QVERIFY2(lines.at(i + 1).startsWith(named) && lines.at(i + 1).size() > named.size(), qPrintable(box.text));
    }
    QVERIFY(!UiTest::splash(form)->isVisible());
    // What failed stays on the window; the files that could be written were.
    QCOMPARE(rowsOf(form.gridwhitelist()), (QStringList{u"friend@x.example"_s, u"unsaved@x.example"_s}));
    QCOMPARE(UiTest::readBytes(m_dir->filePath(u"blacklist.dat"_s)), QByteArray("spam.example\r\n"));
}

void tst_FrmMain::exitAnswered_data()
{
    QTest::addColumn<QString>("change"); // to the whitelist before Exit: "", "added", "added and deleted"
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("saveFails");
    QTest::addColumn<QStringList>("titles"); // of the boxes, in order
    QTest::addColumn<bool>("ends");
    QTest::addColumn<bool>("saved");

    const QString exitTitle = u"Exit application."_s;
    const QString saveTitle = u"Save changes?"_s;
    QTest::newRow("no") << QString() << int(MessageBox::No) << false << QStringList{exitTitle} << false << false;
    QTest::newRow("yes") << QString() << int(MessageBox::Yes) << false << QStringList{exitTitle} << true << false;
    QTest::newRow("an entry added and deleted again is no change")
        << u"added and deleted"_s << int(MessageBox::Yes) << false << QStringList{exitTitle} << true << false;
    // Unsaved changes were lost silently: the question offers to save them.
    QTest::newRow("unsaved, save") << u"added"_s << int(MessageBox::Save) << false << QStringList{saveTitle} << true
                                   << true;
    QTest::newRow("unsaved, discard") << u"added"_s << int(MessageBox::Discard) << false << QStringList{saveTitle}
                                      << true << false;
    QTest::newRow("unsaved, cancel") << u"added"_s << int(MessageBox::Cancel) << false << QStringList{saveTitle}
                                     << false << false;
    QTest::newRow("unsaved, save fails: keeps running")
        << u"added"_s << int(MessageBox::Save) << true << QStringList{saveTitle, u"Save failed."_s} << false << false;
}

void tst_FrmMain::exitAnswered()
{
    QFETCH(QString, change);
    QFETCH(int, answer);
    QFETCH(bool, saveFails);
    QFETCH(QStringList, titles);
    QFETCH(bool, ends);
    QFETCH(bool, saved);
    savedFiles();
    frmMain form(m_dir->path());
    QVERIFY(!start(form));
    int removerCalls = 0;
    form.setTrayIconRemover([&] { ++removerCalls; });
    QSignalSpy ending(&form, &frmMain::programEnding);
    if (!change.isEmpty())
        form.gridwhitelist()->appendRow({u"unsaved@x.example"_s});
    if (change == u"added and deleted"_s)
        QVERIFY(form.gridwhitelist()->removeRow(2));
    if (saveFails) {
        QVERIFY(QFile::remove(m_dir->filePath(u"whitelist.dat"_s)));
        QVERIFY(QDir(m_dir->path()).mkdir(u"whitelist.dat"_s));
    }
    QCOMPARE(form.hasUnsavedChanges(), change == u"added"_s);
    MessageBox::clearRecords();
    MessageBox::queueAnswer(MessageBox::Button(answer));
    UiTest::click(form, u"cmdExitApplication"_s);

    QStringList shownTitles;
    for (const MessageBox::Record &box : MessageBox::records())
        shownTitles.append(box.title);
    QCOMPARE(shownTitles, titles);
    const MessageBox::Record first = MessageBox::records().first();
    if (change == u"added"_s) {
        QCOMPARE(first.text,
                 u"Your accounts or lists have changes that are not saved.\r\nSave them before Quellmail ends?"_s);
        QCOMPARE(first.buttons, MessageBox::SaveDiscardCancel);
    } else {
        QCOMPARE(first.text, u"Are you sure you want to exit the application?"_s);
        QCOMPARE(first.buttons, MessageBox::YesNo);
    }
    QCOMPARE(ending.size(), ends ? 1 : 0);
    QCOMPARE(removerCalls, ends ? 1 : 0);
    QCOMPARE(form.isVisible(), !ends);
    QCOMPARE(UiTest::Timer1(form)->isActive(), !ends);
    if (!saveFails) {
        QCOMPARE(UiTest::readBytes(m_dir->filePath(u"whitelist.dat"_s)),
                 saved ? QByteArray("friend@x.example\r\nunsaved@x.example\r\n") : QByteArray("friend@x.example\r\n"));
    }
    QCOMPARE(form.hasUnsavedChanges(), change == u"added"_s && !saved);
}

void tst_FrmMain::closeRequest_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("trayAvailable");
    QTest::addColumn<int>("saveAnswer"); // -1: nothing unsaved, no second box
    QTest::newRow("ok") << int(MessageBox::Ok) << true << -1;
    QTest::newRow("cancel with a tray") << int(MessageBox::Cancel) << true << -1;
    QTest::newRow("cancel without a tray") << int(MessageBox::Cancel) << false << -1;
    // Hidden in the tray nothing is lost; ending asks first.
    QTest::newRow("cancel with unsaved changes") << int(MessageBox::Cancel) << true << int(MessageBox::Save);
    QTest::newRow("ok with unsaved changes, save") << int(MessageBox::Ok) << true << int(MessageBox::Save);
    QTest::newRow("ok with unsaved changes, discard") << int(MessageBox::Ok) << true << int(MessageBox::Discard);
    QTest::newRow("ok with unsaved changes, cancel keeps it open")
        << int(MessageBox::Ok) << true << int(MessageBox::Cancel);
}

void tst_FrmMain::closeRequest()
{
    QFETCH(int, answer);
    QFETCH(bool, trayAvailable);
    QFETCH(int, saveAnswer);
    savedFiles();
    frmMain form(m_dir->path());
    form.setTrayAvailabilityCheck([trayAvailable] { return trayAvailable; });
    QVERIFY(!start(form));
    int removerCalls = 0;
    form.setTrayIconRemover([&] { ++removerCalls; });
    QSignalSpy ending(&form, &frmMain::programEnding);
    if (saveAnswer >= 0)
        form.gridkeywords()->appendRow({u"unsaved"_s});
    MessageBox::clearRecords();
    MessageBox::queueAnswer(MessageBox::Button(answer));
    if (saveAnswer >= 0)
        MessageBox::queueAnswer(MessageBox::Button(saveAnswer));
    const bool closed = form.close();

    const bool asked = saveAnswer >= 0 && answer == MessageBox::Ok;
    QCOMPARE(MessageBox::records().size(), asked ? 2 : 1);
    if (asked) {
        QCOMPARE(MessageBox::records().at(1).title, u"Save changes?"_s);
        QCOMPARE(MessageBox::records().at(1).buttons, MessageBox::SaveDiscardCancel);
        QCOMPARE(UiTest::readBytes(m_dir->filePath(u"keywords.dat"_s)),
                 saveAnswer == MessageBox::Save ? QByteArray("unsaved\r\n") : QByteArray());
    }
    QCOMPARE(MessageBox::records().first().text,
             u"Click OK to exit this application.\r\nClick CANCEL to keep it running in the system tray."_s);
    QCOMPARE(MessageBox::records().first().title, u"Exit application?"_s);
    QCOMPARE(MessageBox::records().first().buttons, MessageBox::OkCancel);
    if (asked && saveAnswer == MessageBox::Cancel) {
        QVERIFY(!closed);
        QCOMPARE(ending.size(), 0);
        QVERIFY(form.isVisible());
        QVERIFY(form.hasUnsavedChanges());
    } else if (answer == MessageBox::Ok) {
        QVERIFY(closed);
        QCOMPARE(ending.size(), 1);
        QCOMPARE(removerCalls, 1);
        QVERIFY(!form.isVisible());
    } else {
        QVERIFY(!closed);
        QCOMPARE(ending.size(), 0);
        QCOMPARE(removerCalls, 0);
        QVERIFY(UiTest::Timer1(form)->isActive());
        if (trayAvailable) {
            QVERIFY(!form.isVisible());
        } else {
            // No notification area to come back from: minimized, not hidden.
            QVERIFY(form.isVisible());
            QVERIFY(form.isMinimized());
        }
    }
}

void tst_FrmMain::hideButton_data()
{
    QTest::addColumn<bool>("trayAvailable");
    QTest::newRow("tray") << true;
    QTest::newRow("no tray") << false;
}

void tst_FrmMain::hideButton()
{
    QFETCH(bool, trayAvailable);
    savedFiles();
    frmMain form(m_dir->path());
    form.setTrayAvailabilityCheck([trayAvailable] { return trayAvailable; });
    QVERIFY(!start(form));
    QTest::mouseClick(form.findChild<QPushButton *>(u"cmdsystemtray"_s), Qt::LeftButton);
    QCOMPARE(form.isVisible(), !trayAvailable);
    QCOMPARE(form.isMinimized(), !trayAvailable);
    QVERIFY(UiTest::Timer1(form)->isActive());
    QVERIFY(MessageBox::records().isEmpty());
}

void tst_FrmMain::keysAndCaptions_data()
{
    QTest::addColumn<QString>("focus"); // the widget with the focus, by object name
    QTest::addColumn<int>("fromTab");
    QTest::addColumn<QString>("input"); // a key sequence, or "click " and a caption's object name
    QTest::addColumn<int>("toTab");
    QTest::addColumn<QString>("box"); // a rule box the input switches on; empty for none

    // The tab widget alone knows these keys only while the focus is inside it.
    QTest::newRow("Ctrl+Tab on a command button") << u"cmdExitApplication"_s << 0 << u"Ctrl+Tab"_s << 1 << QString();
    QTest::newRow("Ctrl+PgDown on Scan now") << u"cmdscannow"_s << 2 << u"Ctrl+PgDown"_s << 3 << QString();
    QTest::newRow("Ctrl+Shift+Tab wraps round") << u"cmdupdateconfig"_s << 0 << u"Ctrl+Shift+Tab"_s << 7 << QString();
    QTest::newRow("Ctrl+PgUp in a grid") << u"gridwhitelistView"_s << 1 << u"Ctrl+PgUp"_s << 0 << QString();
    QTest::newRow("Alt+K: Keywords tab") << u"cmdscannow"_s << 0 << u"Alt+K"_s << 3 << QString();
    QTest::newRow("Alt+L: Log tab") << u"gridAccountsView"_s << 0 << u"Alt+L"_s << 7 << QString();
    // Clicking a rule's words ticks its box, as clicking the box does.
    QTest::newRow("whitelist caption") << u"cmdscannow"_s << 4 << u"click lblwhitelist"_s << 4 << u"checkwhitelist"_s;
    QTest::newRow("keyword caption") << u"cmdscannow"_s << 4 << u"click lblkeywords"_s << 4 << u"checkkeywords"_s;
    QTest::newRow("hold caption") << u"cmdscannow"_s << 4 << u"click lblHoldForReview"_s << 4
                                  << u"checkHoldForReview"_s;
}

void tst_FrmMain::keysAndCaptions()
{
    QFETCH(QString, focus);
    QFETCH(int, fromTab);
    QFETCH(QString, input);
    QFETCH(int, toTab);
    QFETCH(QString, box);
    savedFiles();
    frmMain form(m_dir->path());
    QVERIFY(!start(form));
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTabWidget *tabs = UiTest::SSTab1(form);
    tabs->setCurrentIndex(fromTab);
    auto *focused = form.findChild<QWidget *>(focus);
    QVERIFY(focused);
    focused->setFocus();
    QCheckBox *rule = box.isEmpty() ? nullptr : form.findChild<QCheckBox *>(box);
    QVERIFY(box.isEmpty() || rule);
    const Qt::CheckState before = rule ? rule->checkState() : Qt::Unchecked;
    const Qt::CheckState flipped = before == Qt::Checked ? Qt::Unchecked : Qt::Checked;

    if (input.startsWith(u"click "_s)) {
        auto *caption = form.findChild<QLabel *>(input.mid(6));
        QVERIFY(caption);
        QTest::mouseClick(caption, Qt::LeftButton);
    } else {
        const QKeySequence keys(input);
        QTest::keySequence(focused, keys);
    }
    QCOMPARE(tabs->currentIndex(), toTab);
    if (rule) {
        QCOMPARE(rule->checkState(), flipped);
        QTest::mouseClick(form.findChild<QLabel *>(input.mid(6)), Qt::LeftButton);
        QCOMPARE(rule->checkState(), flipped == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

void tst_FrmMain::windowPlacement_data()
{
    QTest::addColumn<QRect>("saved");
    QTest::addColumn<QList<QRect>>("screens"); // available areas
    QTest::addColumn<QRect>("restored");

    const QRect left(0, 0, 1280, 1000);
    const QRect right(1280, 0, 1920, 1050);
    QTest::newRow("where it was") << QRect(40, 30, 900, 600) << QList<QRect>{left} << QRect(40, 30, 900, 600);
    QTest::newRow("on the second screen")
        << QRect(1500, 100, 900, 600) << QList<QRect>{left, right} << QRect(1500, 100, 900, 600);
    // The screen it was on is unplugged: back on the first, whole.
    QTest::newRow("screen gone") << QRect(1500, 100, 900, 600) << QList<QRect>{left} << QRect(380, 100, 900, 600);
    QTest::newRow("above and left of the screen")
        << QRect(-400, -50, 900, 600) << QList<QRect>{left} << QRect(0, 0, 900, 600);
    QTest::newRow("across two screens: the larger part wins")
        << QRect(1000, 10, 900, 600) << QList<QRect>{left, right} << QRect(1280, 10, 900, 600);
    QTest::newRow("larger than the screen") << QRect(10, 10, 3000, 2000) << QList<QRect>{left} << left;
    QTest::newRow("a panel at the top") << QRect(0, 0, 900, 600) << QList<QRect>{QRect(0, 32, 1280, 968)}
                                        << QRect(0, 32, 900, 600);
}

void tst_FrmMain::windowPlacement()
{
    QFETCH(QRect, saved);
    QFETCH(QList<QRect>, screens);
    QFETCH(QRect, restored);
    QCOMPARE(WindowPlacement::clamped(saved, screens), restored);
    if (QTest::currentDataTag() != "where it was"_ba)
        return;

    // Through settings.ini: kept when the program ends, beside the other settings, and put back at the next start.
    savedFiles();
    UiTest::writeBytes(m_dir->filePath(u"settings.ini"_s), "[Scan]\nholdForReview=true\n");
    QRect left;
    {
        frmMain form(m_dir->path());
        QVERIFY(!start(form));
        form.move(0, 40);
        form.resize(100, 100); // the layout's minimum size wins
        left = QRect(form.pos(), form.size());
        form.endProgram();
    }
    const QByteArray ini = UiTest::readBytes(m_dir->filePath(u"settings.ini"_s));
    QVERIFY2(ini.contains("geometry=\"0,40,"), ini.constData());
    QVERIFY2(ini.contains("holdForReview=true"), ini.constData());
    {
        frmMain again(m_dir->path());
        QVERIFY(!start(again));
        QCOMPARE(QRect(again.pos(), again.size()), left);
    }
    // Unreadable: the designed size, no failure.
    UiTest::writeBytes(m_dir->filePath(u"settings.ini"_s), "[Window]\ngeometry=\"0,forty,600,420\"\n");
    frmMain third(m_dir->path());
    QVERIFY(!start(third));
    QVERIFY(third.isVisible());
    QVERIFY(!third.isMaximized());
}

void tst_FrmMain::links()
{
    frmMain form(m_dir->path());
    QList<QUrl> opened;
    form.setUrlOpener([&](const QUrl &url) { opened.append(url); });
    form.show();
    QTest::mouseClick(form.findChild<QLabel *>(u"Label25"_s), Qt::LeftButton);
    QTest::mouseClick(form.findChild<QPushButton *>(u"SpamFolder"_s), Qt::LeftButton);
    QTest::mouseClick(form.findChild<QLabel *>(u"Image1"_s), Qt::LeftButton);
    const QUrl folder = QUrl::fromLocalFile(m_dir->path() + u"/SpamDeleted/"_s);
    QCOMPARE(opened, (QList<QUrl>{folder, folder, QUrl(u"https://quellmail.example.org/"_s)}));
}

void tst_FrmMain::importHook()
{
    frmMain form(m_dir->path());
    UiTest::click(form, u"Command1"_s); // no import yet: nothing happens
    int imports = 0;
    form.setImportProcedure([&] { ++imports; });
    QTest::mouseClick(form.findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);
    QCOMPARE(imports, 1);
}

void tst_FrmMain::helpPage()
{
    UiTest::writeBytes(m_dir->filePath(u"index.html"_s),
                       "<html><body><h1>Quellmail help</h1><p>How to add an account.</p></body></html>");
    savedFiles();
    frmMain form(m_dir->path());
    QVERIFY(!start(form));
    QVERIFY(UiTest::webhelpbrowser(form)->toPlainText().contains(u"How to add an account."_s));
    QCOMPARE(UiTest::webhelpbrowser(form)->source(), QUrl::fromLocalFile(m_dir->filePath(u"index.html"_s)));
}

void tst_FrmMain::tarnpostHosted()
{
    {
        // Without the control library the window still works.
        frmMain form(m_dir->path());
        QVERIFY(!form.Tarnpost1().isValid());
        QVERIFY(!form.tarnpostError().isEmpty());
        QCOMPARE(form.Tarnpost1().POPPort(), 0);
    }
    const QString library = QStringLiteral(QUELLMAIL_BIN_DIR "/libtarnpostctl.so");
    if (!QFileInfo::exists(library))
        QSKIP("The control library is not built in this tree.");
    QVERIFY(QFile::link(library, m_dir->filePath(u"libtarnpostctl.so"_s)));
    frmMain form(m_dir->path());
    QVERIFY2(form.Tarnpost1().isValid(), qPrintable(form.tarnpostError()));
    QCOMPARE(form.Tarnpost1().POPPort(), 110);
    QCOMPARE(form.Tarnpost1().POPTimeout(), qint16(120));
    QCOMPARE(form.Tarnpost1().POPHostname(), QString());
    QCOMPARE(form.Tarnpost1().POPUsername(), QString());
    QCOMPARE(form.Tarnpost1().Error(), qint16(0));
    QVERIFY(form.findChild<QWidget *>(u"Tarnpost1"_s) == nullptr
            || form.findChild<QWidget *>(u"Tarnpost1"_s)->isHidden());
}

void tst_FrmMain::reviewSettingsAndTabs()
{
    savedFiles();
    {
        frmMain form(m_dir->path());
        QVERIFY(!start(form));
        auto *hold = form.findChild<QCheckBox *>(u"checkHoldForReview"_s);
        auto *announce = form.findChild<QComboBox *>(u"comboAnnounce"_s);
        QVERIFY(hold && announce);
        QVERIFY(!hold->isChecked());
        QCOMPARE(announce->currentText(), u"a box for each message"_s);
        QVERIFY(!QFileInfo::exists(m_dir->filePath(u"settings.ini"_s)));
        hold->click();
        auto *once = form.findChild<QCheckBox *>(u"checkJudgeOnce"_s);
        QVERIFY(once && !once->isChecked());
        once->click();
        announce->setCurrentIndex(2);
        QCOMPARE(announce->currentText(), u"a tray notification only"_s);

        // "Not spam" with the whitelist box adds the sender, unsaved like any added entry.
        auto *spam = form.findChild<SpamReviewTab *>(u"tabSpam"_s);
        QVERIFY(spam && form.findChild<ScanLogTab *>(u"tabLog"_s));
        Q_EMIT spam->whitelistRequested(u"x@spam.example"_s);
        QCOMPARE(rowsOf(form.gridwhitelist()), (QStringList{u"friend@x.example"_s, u"x@spam.example"_s}));
        QVERIFY(form.Label17()->text().startsWith(u"x@spam.example was added to the whitelist."_s));
        // Never a fragment that most senders contain, never the same entry twice.
        for (const QString &entry : {u"m"_s, u"localhost"_s, u"X@Spam.Example"_s})
            Q_EMIT spam->whitelistRequested(entry);
        QCOMPARE(rowsOf(form.gridwhitelist()), (QStringList{u"friend@x.example"_s, u"x@spam.example"_s}));
        QCOMPARE(form.txtwhitelistCount()->text(), u"2"_s);
    }
    const QByteArray ini = UiTest::readBytes(m_dir->filePath(u"settings.ini"_s));
    QVERIFY2(ini.contains("holdForReview=true") && ini.contains("announce=tray") && ini.contains("judgeOnce=true"),
             ini.constData());
    QCOMPARE(UiTest::readBytes(m_dir->filePath(u"stats.dat"_s)), savedStats); // untouched
    frmMain again(m_dir->path());
    QVERIFY(!start(again));
    QVERIFY(again.findChild<QCheckBox *>(u"checkHoldForReview"_s)->isChecked());
    QVERIFY(again.findChild<QCheckBox *>(u"checkJudgeOnce"_s)->isChecked());
    QCOMPARE(again.findChild<QComboBox *>(u"comboAnnounce"_s)->currentIndex(), 2);
}

void tst_FrmMain::learnedFilterSettingsAndTraining()
{
    savedFiles();
    const QString mbox = m_dir->filePath(u"old-spam.mbox"_s);
    UiTest::writeBytes(mbox, "From a@b Mon Jan  1 00:00:00 2024\nSubject: pills\n\ncheap pills\n\n"
                             "From a@b Mon Jan  1 00:00:00 2024\nSubject: casino\n\ncasino bonus\n");
    QDir(m_dir->path()).mkdir(u"SpamDeleted"_s);
    UiTest::writeBytes(m_dir->filePath(u"SpamDeleted/offer.html"_s),
                       Scan::ArchiveWriter::inertPrefix() + "Subject: offer\r\n\r\nlottery winner\r\n");
    // A home with a mail program's folders: its junk holds the two spam of
    // the mbox again, a damaged message and a new one.
    const QString home = m_dir->filePath(u"home"_s);
    const QString local = home + u"/.thunderbird/p.default/Mail/Local Folders/"_s;
    QVERIFY(QDir().mkpath(local));
    UiTest::writeBytes(home + u"/.thunderbird/profiles.ini"_s, "[Profile0]\nPath=p.default\nIsRelative=1\n");
    UiTest::writeBytes(local + u"Junk"_s, "From a@b Mon Jan  1 00:00:00 2024\nSubject: pills\n\ncheap pills\n\n"
                                          "From a@b Mon Jan  1 00:00:00 2024\nSubject: casino\n\ncasino bonus\n\n"
                                          "From c@d\n\x01\x02 overwritten\n\nFrom e@f\nSubject: win\n\nyou won\n");
    UiTest::writeBytes(local + u"Inbox"_s, "From g@h\nSubject: minutes\n\nminutes of the meeting\n");
    UiTest::writeBytes(local + u"Trash"_s, "From g@h\nSubject: old\n\nnot offered\n");
    for (const QString &name : {u"Junk"_s, u"Inbox"_s, u"Trash"_s})
        UiTest::writeBytes(local + name + u".msf"_s, "// summary");
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", realHome); });
    {
        frmMain form(m_dir->path());
        QVERIFY(!start(form));
        auto *on = form.findChild<QCheckBox *>(u"checkLearnedFilter"_s);
        auto *threshold = form.findChild<QDoubleSpinBox *>(u"spinLearnedThreshold"_s);
        auto *counts = form.findChild<QLabel *>(u"lblLearnedCounts"_s);
        auto *unsure = form.findChild<QDoubleSpinBox *>(u"spinLearnedUnsure"_s);
        QVERIFY(on && threshold && counts && unsure);
        QVERIFY(!on->isChecked()); // off until switched on
        QCOMPARE(threshold->value(), AppSettings::DefaultThreshold);
        QCOMPARE(unsure->value(), AppSettings::DefaultUnsureThreshold);
        QCOMPARE(counts->text(),
                 u"Learned from 0 spam and 0 legitimate messages. It judges nothing until it has learned both."_s);
        on->click();
        threshold->setValue(0.9);
        // The unsure band ends below the threshold.
        unsure->setValue(0.95);
        QCOMPARE(unsure->value(), 0.899);
        unsure->setValue(0.6);

        // A path that is no mail folder keeps the dialog open and says why.
        UiTest::click(form, u"cmdTrainFromFolder"_s);
        TrainFolderDialog *dialog = form.findChild<TrainFolderDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        QTRY_VERIFY(!dialog->lookingForFolders());
        // The mail program's junk and inbox are offered with their counts, not ticked; its trash is not.
        auto *found = dialog->findChild<QTreeWidget *>(u"treeClientFolders"_s);
        QVERIFY(found && found->isVisible());
        QStringList offered;
        for (int i = 0; i < found->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = found->topLevelItem(i);
            offered << item->text(0) + u' ' + item->text(1) + u' ' + item->text(2);
            QCOMPARE(item->checkState(0), Qt::Unchecked);
        }
        QCOMPARE(offered, (QStringList{u"Thunderbird: Local Folders/Inbox 1 Not spam"_s,
                                       u"Thunderbird: Local Folders/Junk 4 Spam"_s}));
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(dialog->findChild<QLabel *>(u"lblTrainProblem"_s)->text(),
                 u"Tick a folder, or choose an mbox file or a Maildir folder."_s);
        dialog->findChild<QLineEdit *>(u"txtTrainPath"_s)->setText(m_dir->filePath(u"nothing-here"_s));
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->findChild<QLabel *>(u"lblTrainProblem"_s)
                    ->text()
                    .endsWith(u"is neither an mbox file nor a Maildir folder."_s));

        dialog->findChild<QLineEdit *>(u"txtTrainPath"_s)->setText(mbox);
        dialog->findChild<QComboBox *>(u"comboTrainLabel"_s)->setCurrentIndex(0);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(form.Label17()->text(), u"Learned from "_s + mbox + u" as spam: 2 new, 0 already known."_s);
        QVERIFY(counts->text().startsWith(u"Learned from 2 spam and 0 legitimate messages."_s));

        UiTest::click(form, u"cmdLearnFromArchive"_s);
        QCOMPARE(form.Label17()->text(), u"Learned from the spam archive as spam: 1 new, 0 already known."_s);
        QVERIFY(counts->text().startsWith(u"Learned from 3 spam and 0 legitimate messages."_s));

        // The ticked folders, each with its own label; what was learned already counts once, and
        // the damaged message not at all.
        UiTest::click(form, u"cmdTrainFromFolder"_s);
        QTRY_VERIFY(!dialog->lookingForFolders());
        dialog->findChild<QLineEdit *>(u"txtTrainPath"_s)->clear();
        for (int i = 0; i < found->topLevelItemCount(); ++i)
            found->topLevelItem(i)->setCheckState(0, Qt::Checked);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QVERIFY(!dialog->isVisible());
        QVERIFY2(form.Label17()->text().startsWith(
                     u"Learned from 2 folders: 2 new, 2 already known. 1 could not be read, were damaged or too "
                     "large, and were passed over. "_s
                     + local + u"Junk: 1 damaged message(s) passed over, the first being message 3 (at byte "_s),
                 qPrintable(form.Label17()->text()));
        QVERIFY(counts->text().startsWith(u"Learned from 4 spam and 1 legitimate messages."_s));

        // A scheduled scan that comes due during a training waits for it.
        QByteArray many;
        for (int k = 0; k < 600; ++k)
            many += "From a@b Mon Jan  1 00:00:00 2024\nSubject: note " + QByteArray::number(k) + "\n\nminutes\n\n";
        UiTest::writeBytes(mbox, many);
        int scans = 0;
        form.setScanProcedure([&] { ++scans; });
        QTimer::singleShot(0, &form, [&] { form.runScan(); });
        UiTest::click(form, u"cmdTrainFromFolder"_s);
        dialog->findChild<QLineEdit *>(u"txtTrainPath"_s)->setText(mbox);
        dialog->findChild<QComboBox *>(u"comboTrainLabel"_s)->setCurrentIndex(1);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(form.Label17()->text(), u"Learned from "_s + mbox + u" as not spam: 600 new, 0 already known."_s);
        QCOMPARE(scans, 0);

        // Not while a scan holds a session open.
        bool offDuringScan = false;
        form.setScanProcedure([&] {
            offDuringScan = !form.findChild<QPushButton *>(u"cmdTrainFromFolder"_s)->isEnabled()
                            && !form.findChild<QPushButton *>(u"cmdLearnFromArchive"_s)->isEnabled();
        });
        form.runScan();
        QVERIFY(offDuringScan);
        QVERIFY(form.findChild<QPushButton *>(u"cmdTrainFromFolder"_s)->isEnabled());
        QCOMPARE(counts->text(), u"Learned from 4 spam and 601 legitimate messages."_s);
    }
    const QByteArray ini = UiTest::readBytes(m_dir->filePath(u"settings.ini"_s));
    QVERIFY2(ini.contains("[LearnedFilter]\ndeleteCondemned=false\nenabled=true\nthreshold=0.9\nunsureThreshold=0.6\n"),
             ini.constData());
    QCOMPARE(UiTest::readBytes(m_dir->filePath(u"stats.dat"_s)), savedStats); // untouched
    frmMain again(m_dir->path());
    QVERIFY(!start(again));
    QVERIFY(again.findChild<QCheckBox *>(u"checkLearnedFilter"_s)->isChecked());
    QCOMPARE(again.findChild<QDoubleSpinBox *>(u"spinLearnedThreshold"_s)->value(), 0.9);
    QCOMPARE(again.findChild<QDoubleSpinBox *>(u"spinLearnedUnsure"_s)->value(), 0.6);
}

QTEST_MAIN(tst_FrmMain)
#include "tst_frmmain.moc"
