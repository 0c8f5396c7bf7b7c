#include "ui/frmmain.h"

#include "ui/appicon.h"
#include "ui/clickablelabel.h"
#include "config/frmaddaccount.h"
#include "config/frmaddblacklist.h"
#include "config/frmaddkeywords.h"
#include "config/frmaddwhitelist.h"
#include "ui/frmsplash.h"
#include "config/listediting.h"
#include "config/listgridview.h"
#include "config/listloaders.h"
#include "config/listtable.h"
#include "platform/messagebox/messagebox.h"
#include "config/module_griddisplay.h"
#include "scan/module_scan.h"
#include "config/module_update_config.h"
#include "config/modules_settings.h"
#include "ui/rulecheckbox.h"
#include "config/ruleswitch.h"
#include "config/savereport.h"
#include "scan/scanlock.h"
#include "config/statsfile.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstdlib>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

QLineEdit *makeCountBox(QWidget *parent, const QString &name)
{
    auto *box = new QLineEdit(u"0"_s, parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    box->setFixedWidth(72);
    box->setFocusPolicy(Qt::ClickFocus);
    return box;
}

QCheckBox *makeRuleBox(QWidget *parent, const QString &name)
{
    auto *box = new RuleCheckBox(parent);
    box->setObjectName(name);
    return box;
}

void processEvents()
{
    QCoreApplication::processEvents();
}

} // namespace

frmMain::frmMain(const QString &programFolder, QWidget *parent)
    : QWidget(parent)
    , m_programFolder(programFolder)
    , m_scanProcedure([this] { ScanMailboxes(*this); })
    , m_trayAvailable([] { return QSystemTrayIcon::isSystemTrayAvailable(); })
    , m_urlOpener([](const QUrl &url) { QDesktopServices::openUrl(url); })
{
    while (m_programFolder.size() > 1 && m_programFolder.endsWith(u'/'))
        m_programFolder.chop(1);

    setObjectName(u"frmMain"_s);
    setWindowTitle(u"Quellmail"_s);
    setWindowIcon(AppIcon::icon());

    m_gridAccounts = new ListTable(this);
    m_gridAccounts->setObjectName(u"gridAccounts"_s);
    m_gridwhitelist = new ListTable(this);
    m_gridwhitelist->setObjectName(u"gridwhitelist"_s);
    m_gridblacklist = new ListTable(this);
    m_gridblacklist->setObjectName(u"gridblacklist"_s);
    m_gridkeywords = new ListTable(this);
    m_gridkeywords->setObjectName(u"gridkeywords"_s);

    m_SSTab1 = new QTabWidget(this);
    m_SSTab1->setObjectName(u"SSTab1"_s);
    m_SSTab1->setUsesScrollButtons(false);
    m_SSTab1->setDocumentMode(false);

    QPushButton *cmdAddAccount = makeButton(u"cmdAddAccount"_s, u"Add"_s);
    QPushButton *cmdDeleteAccount = makeButton(u"cmdDeleteAccount"_s, u"Delete"_s);
    m_SSTab1->addTab(buildListTab(m_gridAccountsView, m_gridAccounts, u"gridAccounts"_s, m_txtAccountsCount,
                                  u"txtAccountsCount"_s, u"Accounts protected"_s,
                                  {cmdAddAccount, cmdDeleteAccount}),
                     u"Accounts"_s);
    QPushButton *cmdAddWhitelist = makeButton(u"cmdAddWhitelist"_s, u"Add"_s);
    QPushButton *cmdeletewhitelist = makeButton(u"cmdeletewhitelist"_s, u"Delete"_s);
    QPushButton *Command1 = makeButton(u"Command1"_s, u"Import"_s);
    m_SSTab1->addTab(buildListTab(m_gridwhitelistView, m_gridwhitelist, u"gridwhitelist"_s, m_txtwhitelistCount,
                                  u"txtwhitelistCount"_s, u"Whitelist addresses"_s,
                                  {cmdAddWhitelist, cmdeletewhitelist, Command1}),
                     u"Whitelist"_s);
    QPushButton *cmdAddBlacklist = makeButton(u"cmdAddBlacklist"_s, u"Add"_s);
    QPushButton *cmddeleteblacklist = makeButton(u"cmddeleteblacklist"_s, u"Delete"_s);
    m_SSTab1->addTab(buildListTab(m_gridblacklistView, m_gridblacklist, u"gridblacklist"_s, m_txtblacklistCount,
                                  u"txtblacklistCount"_s, u"Blacklist addresses"_s,
                                  {cmdAddBlacklist, cmddeleteblacklist}),
                     u"Blacklist"_s);
    QPushButton *cmdAddkeywords = makeButton(u"cmdAddkeywords"_s, u"Add"_s);
    QPushButton *cmddeletekeyword = makeButton(u"cmddeletekeyword"_s, u"Delete"_s);
    m_SSTab1->addTab(buildListTab(m_gridkeywordsView, m_gridkeywords, u"gridkeywords"_s, m_txtkeywordsCount,
                                  u"txtkeywordsCount"_s, u"Keywords filtered"_s,
                                  {cmdAddkeywords, cmddeletekeyword}),
                     u"Keywords"_s);
    m_SSTab1->addTab(buildSettingsTab(), u"Settings"_s);
    m_SSTab1->addTab(buildHelpTab(), u"Help"_s);

    // Statistics, logo and command buttons below the tabs.
    m_Image1 = new ClickableLabel(this);
    m_Image1->setObjectName(u"Image1"_s);
    m_Image1->setPixmap(QPixmap(u":/quellmail/logo.png"_s)
                            .scaled(72, 72, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_Image1->setAlignment(Qt::AlignCenter);
    m_Image1->setFixedSize(88, 88);
    m_Image1->setToolTip(homePageUrl().toString());

    auto *middle = new QHBoxLayout;
    middle->setSpacing(10);
    middle->addWidget(buildStatistics(), 1);
    middle->addWidget(m_Image1, 0, Qt::AlignVCenter);

    QPushButton *cmdscannow = makeButton(u"cmdscannow"_s, u"Scan now"_s);
    QPushButton *cmdupdateconfig = makeButton(u"cmdupdateconfig"_s, u"Save Settings"_s);
    QPushButton *cmdreloadconfig = makeButton(u"cmdreloadconfig"_s, u"Reload"_s);
    QPushButton *cmdsystemtray = makeButton(u"cmdsystemtray"_s, u"Hide"_s);
    QPushButton *cmdExitApplication = makeButton(u"cmdExitApplication"_s, u"Exit"_s);
    auto *commands = new QHBoxLayout;
    commands->setSpacing(6);
    for (QPushButton *button : {cmdscannow, cmdupdateconfig, cmdreloadconfig, cmdsystemtray, cmdExitApplication})
        commands->addWidget(button, 1);

    m_Label17 = new QLabel(this);
    m_Label17->setObjectName(u"Label17"_s);
    m_Label17->setFrameShape(QFrame::StyledPanel);
    m_Label17->setFrameShadow(QFrame::Sunken);
    m_Label17->setMinimumHeight(24);
    m_Label17->setMargin(3);
    m_Label17->setTextFormat(Qt::PlainText);
    // Long captions (sender, keyword) must not widen the window.
    m_Label17->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    // For the program's own use; never shown.
    m_txtTimer = new QLineEdit(u"0"_s, this);
    m_txtTimer->setObjectName(u"txtTimer"_s);
    m_txtTimer->hide();
    m_txtEmailsAllowedCount = new QLineEdit(u"0"_s, this);
    m_txtEmailsAllowedCount->setObjectName(u"txtEmailsAllowedCount"_s);
    m_txtEmailsAllowedCount->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(m_SSTab1, 1);
    layout->addLayout(middle);
    layout->addLayout(commands);
    layout->addWidget(m_Label17);

    m_frmSplash = new frmSplash(this);

    m_Timer1 = new QTimer(this);
    m_Timer1->setObjectName(u"Timer1"_s);
    m_Timer1->setInterval(60000);

    connect(cmdAddAccount, &QPushButton::clicked, this, &frmMain::cmdAddAccount_Click);
    connect(cmdDeleteAccount, &QPushButton::clicked, this, &frmMain::cmdDeleteAccount_Click);
    connect(cmdAddWhitelist, &QPushButton::clicked, this, &frmMain::cmdAddWhitelist_Click);
    connect(cmdeletewhitelist, &QPushButton::clicked, this, &frmMain::cmdeletewhitelist_Click);
    connect(Command1, &QPushButton::clicked, this, &frmMain::Command1_Click);
    connect(cmdAddBlacklist, &QPushButton::clicked, this, &frmMain::cmdAddBlacklist_Click);
    connect(cmddeleteblacklist, &QPushButton::clicked, this, &frmMain::cmddeleteblacklist_Click);
    connect(cmdAddkeywords, &QPushButton::clicked, this, &frmMain::cmdAddkeywords_Click);
    connect(cmddeletekeyword, &QPushButton::clicked, this, &frmMain::cmddeletekeyword_Click);
    connect(cmdscannow, &QPushButton::clicked, this, &frmMain::cmdscannow_Click);
    connect(cmdupdateconfig, &QPushButton::clicked, this, &frmMain::cmdupdateconfig_Click);
    connect(cmdreloadconfig, &QPushButton::clicked, this, &frmMain::cmdreloadconfig_Click);
    connect(cmdsystemtray, &QPushButton::clicked, this, &frmMain::cmdsystemtray_Click);
    connect(cmdExitApplication, &QPushButton::clicked, this, &frmMain::cmdExitApplication_Click);
    connect(m_Image1, &ClickableLabel::clicked, this, &frmMain::Image1_Click);
    connect(m_Label25, &ClickableLabel::clicked, this, &frmMain::Label25_Click);
    connect(m_checkautoscan, &QCheckBox::stateChanged, this, &frmMain::checkautoscan_Click);
    connect(m_Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);

    // Without the control the window still works; scans then fail quietly.
    m_Tarnpost1.create(m_programFolder, this);
    resize(530, 450);
}

// The control goes first (m_Tarnpost1), while the window it reports to is still whole.
frmMain::~frmMain() = default;

QWidget *frmMain::buildListTab(ListGridView *&view, ListTable *table, const QString &gridName,
                               QLineEdit *&countBox, const QString &countName, const QString &countLabel,
                               const QList<QPushButton *> &buttons)
{
    auto *page = new QWidget;
    view = new ListGridView(page);
    view->setObjectName(gridName + u"View"_s);
    view->setListTable(table);
    countBox = makeCountBox(page, countName);
    auto *label = new QLabel(countLabel, page);
    label->setBuddy(countBox);

    auto *row = new QHBoxLayout;
    row->setSpacing(6);
    for (QPushButton *button : buttons) {
        button->setParent(page);
        row->addWidget(button);
    }
    row->addStretch(1);
    row->addWidget(label);
    row->addWidget(countBox);

    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(view, 1);
    layout->addLayout(row);
    return page;
}

QWidget *frmMain::buildSettingsTab()
{
    auto *page = new QWidget;
    m_checkautoscan = makeRuleBox(page, u"checkautoscan"_s);
    m_checkwhitelist = makeRuleBox(page, u"checkwhitelist"_s);
    m_checkblacklist = makeRuleBox(page, u"checkblacklist"_s);
    m_checkspamcop = makeRuleBox(page, u"checkspamcop"_s);
    m_checkkeywords = makeRuleBox(page, u"checkkeywords"_s);

    m_combominutes = new QComboBox(page);
    m_combominutes->setObjectName(u"combominutes"_s);
    m_combominutes->setEditable(true);
    m_combominutes->setInsertPolicy(QComboBox::NoInsert);
    m_combominutes->setCompleter(nullptr);
    m_combominutes->setFixedWidth(72);
    m_combominutes->addItem(u"1"_s);
    m_combominutes->setEditText(u"5"_s);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(12);
    grid->setColumnStretch(4, 1);
    auto addRow = [&](int row, QCheckBox *box, const QString &caption) {
        auto *label = new QLabel(caption, page);
        label->setBuddy(box);
        grid->addWidget(box, row, 0);
        grid->addWidget(label, row, 1);
    };
    addRow(0, m_checkautoscan, u"Automatically check email accounts every"_s);
    grid->addWidget(m_combominutes, 0, 2);
    grid->addWidget(new QLabel(u"Minutes."_s, page), 0, 3);
    addRow(1, m_checkwhitelist, u"Enable whitelist filtering"_s);
    addRow(2, m_checkblacklist, u"Enable blacklist filtering"_s);
    addRow(3, m_checkspamcop, u"Block IP addresses of known spammers"_s);
    addRow(4, m_checkkeywords, u"Enable keyword and phrase filtering"_s);

    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addLayout(grid);
    layout->addStretch(1);
    return page;
}

QWidget *frmMain::buildHelpTab()
{
    auto *page = new QWidget;
    m_webhelpbrowser = new QTextBrowser(page);
    m_webhelpbrowser->setObjectName(u"webhelpbrowser"_s);
    m_webhelpbrowser->setOpenExternalLinks(true);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_webhelpbrowser);
    return page;
}

QWidget *frmMain::buildStatistics()
{
    auto *frame = new QGroupBox(u" Statistics "_s, this);
    frame->setObjectName(u"frameStatistics"_s);
    m_txttotalemailsever = makeCountBox(frame, u"txttotalemailsever"_s);
    m_txtEmailsBlockedCount = makeCountBox(frame, u"txtEmailsBlockedCount"_s);

    m_Label25 = new ClickableLabel(frame);
    m_Label25->setObjectName(u"Label25"_s);
    m_Label25->setText(u"Open Deleted Spam folder"_s);
    QFont linkFont = m_Label25->font();
    linkFont.setUnderline(true);
    m_Label25->setFont(linkFont);
    QPalette linkPalette = m_Label25->palette();
    linkPalette.setColor(QPalette::WindowText, linkPalette.color(QPalette::Link));
    m_Label25->setPalette(linkPalette);

    QPushButton *spamFolder = makeButton(u"SpamFolder"_s, u"Spam Folder"_s);
    spamFolder->setParent(frame);
    connect(spamFolder, &QPushButton::clicked, this, &frmMain::SpamFolder_Click);

    auto *grid = new QGridLayout(frame);
    grid->setContentsMargins(10, 6, 10, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->addWidget(new QLabel(u"Total scanned"_s, frame), 0, 0);
    grid->addWidget(m_txttotalemailsever, 0, 1);
    grid->addWidget(m_Label25, 0, 3, Qt::AlignRight);
    grid->addWidget(new QLabel(u"Spam blocked"_s, frame), 1, 0);
    grid->addWidget(m_txtEmailsBlockedCount, 1, 1);
    grid->addWidget(spamFolder, 1, 3, Qt::AlignRight);
    grid->setColumnStretch(2, 1);
    return frame;
}

QPushButton *frmMain::makeButton(const QString &name, const QString &caption)
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QTableView *frmMain::gridAccountsView() const { return m_gridAccountsView; }
QTableView *frmMain::gridwhitelistView() const { return m_gridwhitelistView; }
QTableView *frmMain::gridblacklistView() const { return m_gridblacklistView; }
QTableView *frmMain::gridkeywordsView() const { return m_gridkeywordsView; }

frmAddAccount *frmMain::accountDialog()
{
    if (!m_frmAddAccount)
        m_frmAddAccount = new frmAddAccount(*this, this);
    return m_frmAddAccount;
}

frmAddWhitelist *frmMain::whitelistDialog()
{
    if (!m_frmAddWhitelist)
        m_frmAddWhitelist = new frmAddWhitelist(*this, this);
    return m_frmAddWhitelist;
}

frmAddblacklist *frmMain::blacklistDialog()
{
    if (!m_frmAddblacklist)
        m_frmAddblacklist = new frmAddblacklist(*this, this);
    return m_frmAddblacklist;
}

frmAddkeywords *frmMain::keywordsDialog()
{
    if (!m_frmAddkeywords)
        m_frmAddkeywords = new frmAddkeywords(*this, this);
    return m_frmAddkeywords;
}

void frmMain::runLoadSequence()
{
    showAccountsTab();
    m_Label17->setText(u"Quellmail protects your inbox from unwanted emails."_s);
    processEvents();
    m_frmSplash->setMessage(u"Now Loading. Please wait."_s);
    StatsFile::read(*this);
    show();
    m_frmSplash->show();
    processEvents();
    loadHelpPage();
    loadAllLists(*this);
    m_frmSplash->hide();
    module_griddisplay(*this);
    if (!m_minutesFilled) {
        modules_settings(*this);
        m_minutesFilled = true;
    }
    if (m_txtAccountsCount->text() == u"0"_s) {
        accountDialog()->openForNewAccount();
        module_griddisplay(*this);
    }
    processEvents();
}

void frmMain::loadHelpPage()
{
    const QString page = m_programFolder + u"/index.html"_s;
    if (QFileInfo::exists(page))
        m_webhelpbrowser->setSource(QUrl::fromLocalFile(page));
    else
        m_webhelpbrowser->clear();
}

void frmMain::writeStatistics()
{
    QString reason;
    if (StatsFile::write(*this, &reason))
        return;
    SaveReport report;
    report.addFailure(StatsFile::path(*this), reason);
    report.show(this);
}

void frmMain::announceSpam(const QString &text)
{
    MessageBox::show(this, text, u"Quellmail"_s, MessageBox::OkOnly);
}

void frmMain::setScanProcedure(std::function<void()> scan)
{
    m_scanProcedure = std::move(scan);
}

void frmMain::runScan()
{
    if (m_scanning || m_ending || !m_scanProcedure)
        return;
    // A folder that cannot hold the lock file is scanned all the same; only a
    // scan running elsewhere on this folder stops this one.
    Scan::ScanLock lock(m_programFolder);
    if (lock.tryLock() == Scan::ScanLock::Result::Busy) {
        m_Label17->setText(u"Another scan of this folder is running."_s);
        return;
    }
    m_scanning = true;
    const auto done = qScopeGuard([this] {
        m_scanning = false;
        Q_EMIT scanFinished();
    });
    Q_EMIT scanStarted();
    m_scanProcedure();
}

void frmMain::timerTick()
{
    if (m_ending)
        return;
    processEvents();
    bool counterOk = false;
    const int counter = m_txtTimer->text().toInt(&counterOk);
    const int n = (counterOk ? counter : 0) + 1;
    if (n > std::numeric_limits<qint16>::max()) {
        m_Label17->setText(u"The scan interval is too long for automatic scans."_s);
        return;
    }
    bool minutesOk = false;
    // "2,5" must not be read as 25 through the C locale's group separator.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    const double m = c.toDouble(m_combominutes->currentText().trimmed(), &minutesOk);
    if (!minutesOk || !std::isfinite(m)) {
        m_Label17->setText(u"The scan interval is not a number of minutes."_s);
        return;
    }
    if (m >= n) {
        processEvents();
        m_txtTimer->setText(QString::number(n));
    } else {
        m_txtTimer->setText(u"0"_s);
        processEvents();
        runScan();
    }
}

void frmMain::setImportProcedure(std::function<void()> import)
{
    m_importProcedure = std::move(import);
}

void frmMain::setTrayIconRemover(std::function<void()> remover)
{
    m_trayIconRemover = std::move(remover);
}

void frmMain::setTrayAvailabilityCheck(std::function<bool()> check)
{
    m_trayAvailable = std::move(check);
}

void frmMain::setUrlOpener(std::function<void(const QUrl &)> opener)
{
    m_urlOpener = std::move(opener);
}

void frmMain::hideToTray()
{
    // Without a notification area a hidden window could never be shown again.
    if (m_trayAvailable && m_trayAvailable())
        hide();
    else
        showMinimized();
}

void frmMain::endProgram()
{
    if (m_ending)
        return;
    m_ending = true;
    m_Timer1->stop();
    if (m_trayIconRemover)
        m_trayIconRemover();
    hide();
    m_frmSplash->hide();
    Q_EMIT programEnding();
    // Leaves the main loop once the scan has returned into it.
    QCoreApplication::exit(0);
    if (m_scanning) {
        QTimer::singleShot(ScanStopGraceMs, this, [this] {
            if (!m_scanning)
                return;
            // The connection goes with the process, without QUIT: nothing
            // marked in the open session is deleted.
            if (m_hardExit)
                m_hardExit();
            else
                std::_Exit(0);
        });
    }
}

void frmMain::setHardExit(std::function<void()> hardExit)
{
    m_hardExit = std::move(hardExit);
}

QUrl frmMain::spamFolderUrl() const
{
    return QUrl::fromLocalFile(m_programFolder + u"/SpamDeleted/"_s);
}

QUrl frmMain::homePageUrl()
{
    return QUrl(u"https://quellmail.example.org/"_s);
}

void frmMain::openUrl(const QUrl &url)
{
    if (m_urlOpener)
        m_urlOpener(url);
}

void frmMain::showAccountsTab()
{
    m_SSTab1->setCurrentIndex(0);
}

void frmMain::showSplash()
{
    m_frmSplash->show();
}

void frmMain::setSplashMessage(const QString &message)
{
    m_frmSplash->setMessage(message);
}

void frmMain::hideSplash()
{
    m_frmSplash->hide();
}

void frmMain::cmdupdateconfig_Click()
{
    module_update_config(*this);
    module_griddisplay(*this);
}

void frmMain::cmdreloadconfig_Click()
{
    for (QLineEdit *box : {m_txtAccountsCount, m_txtblacklistCount, m_txtEmailsAllowedCount,
                           m_txtEmailsBlockedCount, m_txtkeywordsCount, m_txtwhitelistCount})
        box->setText(u"0"_s);
    for (ListTable *table : {m_gridAccounts, m_gridblacklist, m_gridkeywords, m_gridwhitelist})
        table->removeAll();
    module_griddisplay(*this);
    runLoadSequence();
    module_griddisplay(*this);
}

void frmMain::cmdsystemtray_Click()
{
    hideToTray();
}

void frmMain::cmdExitApplication_Click()
{
    if (MessageBox::show(this, u"Are you sure you want to exit the application?"_s, u"Exit application."_s,
                         MessageBox::YesNo)
        == MessageBox::Yes)
        endProgram();
}

void frmMain::cmdscannow_Click()
{
    runScan();
}

void frmMain::cmdAddAccount_Click()
{
    accountDialog()->openForNewAccount();
    module_griddisplay(*this);
}

void frmMain::cmdDeleteAccount_Click()
{
    deleteSelectedRow(*this, ListKind::Accounts);
}

void frmMain::cmdAddWhitelist_Click()
{
    whitelistDialog()->openDialog();
}

void frmMain::cmdeletewhitelist_Click()
{
    deleteSelectedRow(*this, ListKind::Whitelist);
}

void frmMain::cmdAddBlacklist_Click()
{
    blacklistDialog()->openDialog();
}

void frmMain::cmddeleteblacklist_Click()
{
    deleteSelectedRow(*this, ListKind::Blacklist);
}

void frmMain::cmdAddkeywords_Click()
{
    keywordsDialog()->openDialog();
}

void frmMain::cmddeletekeyword_Click()
{
    deleteSelectedRow(*this, ListKind::Keywords);
}

void frmMain::Command1_Click()
{
    if (m_importProcedure)
        m_importProcedure();
}

void frmMain::SpamFolder_Click()
{
    openUrl(spamFolderUrl());
}

void frmMain::Label25_Click()
{
    openUrl(spamFolderUrl());
}

void frmMain::Image1_Click()
{
    openUrl(homePageUrl());
}

void frmMain::checkautoscan_Click()
{
    if (RuleSwitch::value(m_checkautoscan) == 1) {
        m_Timer1->start();
        timerTick();
    } else {
        m_Timer1->stop();
    }
}

void frmMain::Timer1_Timer()
{
    timerTick();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_ending) {
        event->accept();
        return;
    }
    const MessageBox::Button answer = MessageBox::show(
        this, u"Click OK to exit this application.\r\nClick CANCEL to keep it running in the system tray."_s,
        u"Exit application?"_s, MessageBox::OkCancel);
    if (answer == MessageBox::Ok) {
        endProgram();
        event->accept();
    } else {
        event->ignore();
        hideToTray();
    }
}
