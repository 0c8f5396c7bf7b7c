#include "ui/frmmain.h"

#include "ui_frmmain.h"

#include "config/listkind.h"
#include "config/listloaders.h"
#include "config/listtable.h"
#include "config/statsfile.h"
#include "config/widgets/frmaddaccount.h"
#include "config/widgets/frmaddblacklist.h"
#include "config/widgets/frmaddkeywords.h"
#include "config/widgets/frmaddwhitelist.h"
#include "config/widgets/listediting.h"
#include "config/widgets/listgridview.h"
#include "config/widgets/module_griddisplay.h"
#include "config/widgets/module_update_config.h"
#include "config/widgets/modules_settings.h"
#include "config/widgets/ruleswitch.h"
#include "config/widgets/savereport.h"
#include "platform/messagebox/messagebox.h"
#include "scan/judgeonce.h"
#include "scan/leftoversecrets.h"
#include "scan/module_scan.h"
#include "scan/scanlock.h"
#include "state/appsettings.h"
#include "state/reviewlist.h"
#include "state/scanlog.h"
#include "state/statedatabase.h"
#include "ui/accountconnectiontest.h"
#include "ui/appicon.h"
#include "ui/clickablelabel.h"
#include "ui/firstrundialog.h"
#include "ui/frmsplash.h"
#include "ui/keyringsetting.h"
#include "ui/learnedtraining.h"
#include "ui/rulecheckbox.h"
#include "ui/scanlogtab.h"
#include "ui/senderaddress.h"
#include "ui/spamreviewtab.h"
#include "ui/systraymodule.h"
#include "ui/timerstep.h"
#include "ui/windowkeys.h"
#include "ui/windowplacement.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

// accounts.dat: server, login, password.
constexpr int AccountPasswordColumn = 3;

void processEvents() { QCoreApplication::processEvents(); }

} // namespace

frmMain::frmMain(const QString &programFolder, QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::frmMain>())
    , m_programFolder(programFolder)
    , m_scanProcedure([this] { ScanMailboxes(*this); })
    , m_trayAvailable([] { return QSystemTrayIcon::isSystemTrayAvailable(); })
    , m_urlOpener([](const QUrl &url) { QDesktopServices::openUrl(url); })
{
    while (m_programFolder.size() > 1 && m_programFolder.endsWith(u'/'))
        m_programFolder.chop(1);

    m_ui->setupUi(this);
    setWindowIcon(AppIcon::icon());

    m_gridAccounts = new ListTable(this);
    m_gridAccounts->setObjectName(u"gridAccounts"_s);
    m_gridAccounts->setMaskedColumn(AccountPasswordColumn);
    m_gridwhitelist = new ListTable(this);
    m_gridwhitelist->setObjectName(u"gridwhitelist"_s);
    m_gridblacklist = new ListTable(this);
    m_gridblacklist->setObjectName(u"gridblacklist"_s);
    m_gridkeywords = new ListTable(this);
    m_gridkeywords->setObjectName(u"gridkeywords"_s);
    m_ui->gridAccountsView->setListTable(m_gridAccounts);
    m_ui->gridwhitelistView->setListTable(m_gridwhitelist);
    m_ui->gridblacklistView->setListTable(m_gridblacklist);
    m_ui->gridkeywordsView->setListTable(m_gridkeywords);

    m_ui->combominutes->setCompleter(nullptr);
    m_ui->combominutes->setEditText(u"5"_s);

    m_ui->Image1->setPixmap(
        QPixmap(u":/quellmail/logo.png"_s).scaled(72, 72, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_ui->Image1->setToolTip(homePageUrl().toString());
    QFont linkFont = m_ui->Label25->font();
    linkFont.setUnderline(true);
    m_ui->Label25->setFont(linkFont);
    QPalette linkPalette = m_ui->Label25->palette();
    linkPalette.setColor(QPalette::WindowText, linkPalette.color(QPalette::Link));
    m_ui->Label25->setPalette(linkPalette);

    // For the program's own use; never shown.
    m_ui->txtTimer->hide();
    m_ui->txtEmailsAllowedCount->hide();

    m_frmSplash = new frmSplash(this);

    m_Timer1 = new QTimer(this);
    m_Timer1->setObjectName(u"Timer1"_s);
    m_Timer1->setInterval(60000);

    connect(m_ui->cmdAddAccount, &QPushButton::clicked, this, &frmMain::cmdAddAccount_Click);
    connect(m_ui->cmdDeleteAccount, &QPushButton::clicked, this, &frmMain::cmdDeleteAccount_Click);
    m_cmdEditAccount = new QPushButton(u"Edit\u2026"_s, m_ui->tabAccounts);
    m_cmdEditAccount->setObjectName(u"cmdEditAccount"_s);
    m_ui->tabAccountsRow->insertWidget(m_ui->tabAccountsRow->indexOf(m_ui->cmdAddAccount) + 1, m_cmdEditAccount);
    setTabOrder(m_ui->cmdAddAccount, m_cmdEditAccount);
    connect(m_cmdEditAccount, &QPushButton::clicked, this, &frmMain::cmdEditAccount_Click);
    connect(m_ui->gridAccountsView, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { editAccount(index.row() + 1); });
    connect(m_ui->cmdAddWhitelist, &QPushButton::clicked, this, &frmMain::cmdAddWhitelist_Click);
    connect(m_ui->cmdeletewhitelist, &QPushButton::clicked, this, &frmMain::cmdeletewhitelist_Click);
    connect(m_ui->Command1, &QPushButton::clicked, this, &frmMain::Command1_Click);
    connect(m_ui->cmdAddBlacklist, &QPushButton::clicked, this, &frmMain::cmdAddBlacklist_Click);
    connect(m_ui->cmddeleteblacklist, &QPushButton::clicked, this, &frmMain::cmddeleteblacklist_Click);
    connect(m_ui->cmdAddkeywords, &QPushButton::clicked, this, &frmMain::cmdAddkeywords_Click);
    connect(m_ui->cmddeletekeyword, &QPushButton::clicked, this, &frmMain::cmddeletekeyword_Click);
    connect(m_ui->cmdscannow, &QPushButton::clicked, this, &frmMain::cmdscannow_Click);
    connect(m_ui->cmdupdateconfig, &QPushButton::clicked, this, &frmMain::cmdupdateconfig_Click);
    connect(m_ui->cmdreloadconfig, &QPushButton::clicked, this, &frmMain::cmdreloadconfig_Click);
    connect(m_ui->cmdsystemtray, &QPushButton::clicked, this, &frmMain::cmdsystemtray_Click);
    connect(m_ui->cmdExitApplication, &QPushButton::clicked, this, &frmMain::cmdExitApplication_Click);
    connect(m_ui->SpamFolder, &QPushButton::clicked, this, &frmMain::SpamFolder_Click);
    connect(m_ui->Image1, &ClickableLabel::clicked, this, &frmMain::Image1_Click);
    connect(m_ui->Label25, &ClickableLabel::clicked, this, &frmMain::Label25_Click);
    connect(m_ui->checkautoscan, &QCheckBox::stateChanged, this, &frmMain::checkautoscan_Click);
    connect(m_Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);

    // Condemned messages and the scan log, after the original tabs.
    m_spamTab = new SpamReviewTab(m_programFolder, this);
    m_logTab = new ScanLogTab(m_programFolder, this);
    m_ui->SSTab1->addTab(m_spamTab, u"Spam"_s);
    m_ui->SSTab1->addTab(m_logTab, u"Log"_s);
    connect(m_ui->SSTab1, &QTabWidget::currentChanged, this, [this](int index) {
        if (m_ui->SSTab1->widget(index) == m_spamTab)
            m_spamTab->refresh();
        else if (m_ui->SSTab1->widget(index) == m_logTab)
            m_logTab->refresh();
    });
    connect(this, &frmMain::scanFinished, this, [this] {
        m_spamTab->refresh();
        m_logTab->refresh();
    });
    connect(this, &frmMain::scanStarted, this, [this] {
        m_trayStatus.scanning = true;
        m_trayStatus.problem = false;
        m_logMark = 0;
        StateDatabase db(m_programFolder);
        if (QFileInfo::exists(db.path()) && db.open()) {
            const QList<ScanLog::Record> newest = ScanLog(db).latest(1);
            m_logMark = newest.isEmpty() ? 0 : newest.constFirst().id;
        }
        Q_EMIT trayStatusChanged();
    });
    connect(this, &frmMain::scanFinished, this, [this] {
        m_trayStatus.scanning = false;
        m_trayStatus.lastScan = QDateTime::currentDateTime();
        readLastScan();
        updateTrayStatus();
    });
    // Kept or deleted from the tab: the count of held messages changed.
    connect(m_spamTab, &SpamReviewTab::refreshed, this, &frmMain::updateTrayStatus);
    connect(m_spamTab, &SpamReviewTab::problem, m_ui->Label17, &QLabel::setText);
    connect(m_spamTab, &SpamReviewTab::whitelistRequested, this, [this](const QString &address) {
        // A shorter entry would let through every sender that contains it.
        if (!SenderAddress::isWholeAddress(address) && !SenderAddress::isDomain(address)) {
            m_ui->Label17->setText(
                u"Not added to the whitelist: \"%1\" is neither a whole address nor a domain."_s.arg(address));
            return;
        }
        for (int row = 1; row <= m_gridwhitelist->rowCountValue(); ++row) {
            if (m_gridwhitelist->cell(row, 1).trimmed().compare(address, Qt::CaseInsensitive) == 0) {
                m_ui->Label17->setText(address + u" is already on the whitelist."_s);
                return;
            }
        }
        Lists::appendRow(*this, ListKind::Whitelist, {address});
        m_ui->Label17->setText(
            address + u" was added to the whitelist. Be sure to click Save Settings when you are finished."_s);
    });
    connect(m_spamTab, &SpamReviewTab::learned, this,
            [this] { m_ui->lblLearnedCounts->setText(m_training->countsText()); });
    connect(m_ui->checkHoldForReview, &QCheckBox::toggled, this, &frmMain::saveAppSettings);
    connect(m_ui->checkLearnedFilter, &QCheckBox::toggled, this, &frmMain::saveAppSettings);
    connect(m_ui->spinLearnedThreshold, &QDoubleSpinBox::valueChanged, this, &frmMain::saveAppSettings);
    connect(m_ui->spinLearnedUnsure, &QDoubleSpinBox::valueChanged, this, &frmMain::saveAppSettings);
    connect(m_ui->spinLearnedThreshold, &QDoubleSpinBox::valueChanged, this, &frmMain::limitUnsureBand);
    connect(m_ui->checkDeleteLearned, &QCheckBox::toggled, this, &frmMain::saveAppSettings);
    m_training = new LearnedTraining(m_programFolder, this);
    connect(m_ui->cmdTrainFromFolder, &QPushButton::clicked, m_training, &LearnedTraining::trainFromFolder);
    connect(m_ui->cmdLearnFromArchive, &QPushButton::clicked, m_training, &LearnedTraining::learnFromArchive);
    connect(m_training, &LearnedTraining::finished, m_ui->Label17, &QLabel::setText);
    connect(m_training, &LearnedTraining::countsChanged, m_ui->lblLearnedCounts, &QLabel::setText);
    // A long training inside a scan's event processing would hold the
    // server's session open the whole time.
    connect(this, &frmMain::scanStarted, this, [this] {
        m_ui->cmdTrainFromFolder->setEnabled(false);
        m_ui->cmdLearnFromArchive->setEnabled(false);
    });
    connect(this, &frmMain::scanFinished, this, [this] {
        m_ui->cmdTrainFromFolder->setEnabled(true);
        m_ui->cmdLearnFromArchive->setEnabled(true);
        m_ui->lblLearnedCounts->setText(m_training->countsText());
    });
    connect(m_ui->comboAnnounce, &QComboBox::currentIndexChanged, this, &frmMain::saveAppSettings);
    m_keyringSetting = new KeyringSetting(m_programFolder, m_ui->checkKeyring, m_gridAccounts, this);
    m_keyringSetting->setScanningCheck([this] { return m_scanning; });
    connect(m_keyringSetting, &KeyringSetting::message, m_ui->Label17, &QLabel::setText);
    connect(m_ui->checkKeyring, &QCheckBox::toggled, this, [this](bool on) {
        if (m_loadingAppSettings)
            return;
        // The passwords move between the file and the grid together: not an unsaved change.
        const bool wasSaved = !hasUnsavedChanges();
        m_keyringSetting->toggled(on); // may put the box back
        if (wasSaved)
            markListsSaved();
        saveAppSettings();
    });
    connect(m_ui->checkJudgeOnce, &QCheckBox::toggled, this, &frmMain::saveAppSettings);
    connect(m_ui->cmdJudgeAllAgain, &QPushButton::clicked, this, [this] {
        QString error;
        m_ui->Label17->setText(Scan::JudgeOnce::forgetAll(m_programFolder, &error)
                                   ? u"Every message is checked again at the next scan."_s
                                   : error);
    });

    setUpKeys();

    // Without the control the window still works; scans then fail quietly.
    m_Tarnpost1.create(m_programFolder, this);
}

void frmMain::setUpKeys()
{
    auto *keys = new WindowKeys(this);
    const struct
    {
        QAbstractButton *button;
        char key;
    } buttons[] = {
        {m_ui->cmdscannow, 'N'},       {m_ui->cmdupdateconfig, 'S'},    {m_ui->cmdreloadconfig, 'R'},
        {m_ui->cmdsystemtray, 'H'},    {m_ui->cmdExitApplication, 'X'}, {m_ui->SpamFolder, 'F'},
        {m_ui->cmdAddAccount, 'A'},    {m_cmdEditAccount, 'E'},         {m_ui->cmdDeleteAccount, 'D'},
        {m_ui->cmdAddWhitelist, 'A'},  {m_ui->cmdeletewhitelist, 'D'},  {m_ui->Command1, 'I'},
        {m_ui->cmdAddBlacklist, 'A'},  {m_ui->cmddeleteblacklist, 'D'}, {m_ui->cmdAddkeywords, 'A'},
        {m_ui->cmddeletekeyword, 'D'}, {m_ui->cmdTrainFromFolder, 'O'}, {m_ui->cmdLearnFromArchive, 'E'},
        {m_ui->cmdJudgeAllAgain, 'G'},
    };
    for (const auto &b : buttons)
        keys->addButton(b.button, QChar::fromLatin1(b.key));
    const struct
    {
        QWidget *page;
        char key;
    } tabs[] = {
        {m_ui->tabAccounts, 'C'}, {m_ui->tabWhitelist, 'W'}, {m_ui->tabBlacklist, 'B'}, {m_ui->tabKeywords, 'K'},
        {m_ui->tabSettings, 'T'}, {m_ui->tabHelp, 'P'},      {m_spamTab, 'M'},          {m_logTab, 'L'},
    };
    for (const auto &t : tabs)
        keys->addTab(m_ui->SSTab1, t.page, QChar::fromLatin1(t.key));
    keys->addTabSwitching(m_ui->SSTab1);
    keys->addDeleteKey(m_ui->gridAccountsView, m_ui->cmdDeleteAccount);
    keys->addDeleteKey(m_ui->gridwhitelistView, m_ui->cmdeletewhitelist);
    keys->addDeleteKey(m_ui->gridblacklistView, m_ui->cmddeleteblacklist);
    keys->addDeleteKey(m_ui->gridkeywordsView, m_ui->cmddeletekeyword);
    const struct
    {
        QLabel *caption;
        QAbstractButton *box;
    } captions[] = {
        {m_ui->lblautoscan, m_ui->checkautoscan},           {m_ui->lblwhitelist, m_ui->checkwhitelist},
        {m_ui->lblblacklist, m_ui->checkblacklist},         {m_ui->lblspamcop, m_ui->checkspamcop},
        {m_ui->lblkeywords, m_ui->checkkeywords},           {m_ui->lblLearnedFilter, m_ui->checkLearnedFilter},
        {m_ui->lblHoldForReview, m_ui->checkHoldForReview}, {m_ui->lblKeyring, m_ui->checkKeyring},
        {m_ui->lblJudgeOnce, m_ui->checkJudgeOnce},
    };
    for (const auto &c : captions)
        keys->linkCaption(c.caption, c.box);
}

QList<QList<QStringList>> frmMain::listContents() const
{
    QList<QList<QStringList>> lists;
    for (const ListTable *table : {m_gridAccounts, m_gridwhitelist, m_gridblacklist, m_gridkeywords}) {
        QList<QStringList> rows;
        for (int row = 1; row <= table->rowCountValue(); ++row)
            rows.append(table->rowCells(row));
        lists.append(rows);
    }
    return lists;
}

void frmMain::markListsSaved() { m_savedLists = listContents(); }

bool frmMain::hasUnsavedChanges() const { return listContents() != m_savedLists; }

bool frmMain::settleUnsavedChanges()
{
    if (!hasUnsavedChanges())
        return true;
    switch (MessageBox::show(
        this, u"Your accounts or lists have changes that are not saved.\r\nSave them before Quellmail ends?"_s,
        u"Save changes?"_s, MessageBox::SaveDiscardCancel)) {
    case MessageBox::Save:
        cmdupdateconfig_Click();
        // A file that could not be written was named; the program stays so nothing is lost.
        return !hasUnsavedChanges();
    case MessageBox::Discard: return true;
    default: return false;
    }
}

void frmMain::saveWindowPlacement()
{
    // Only a window that was shown has a size worth keeping.
    if (!m_placementRestored)
        return;
    WindowPlacement placement(m_programFolder);
    if (!placement.save(*this))
        m_ui->Label17->setText(placement.errorText());
}

void frmMain::loadAppSettings()
{
    AppSettings settings(m_programFolder);
    settings.load();
    m_loadingAppSettings = true;
    m_ui->checkHoldForReview->setChecked(settings.holdForReview);
    m_ui->comboAnnounce->setCurrentIndex(int(settings.announce));
    m_ui->checkLearnedFilter->setChecked(settings.learnedFilter);
    m_ui->spinLearnedThreshold->setValue(settings.learnedThreshold);
    limitUnsureBand();
    m_ui->spinLearnedUnsure->setValue(settings.unsureThreshold);
    m_ui->checkDeleteLearned->setChecked(settings.deleteLearnedVerdicts);
    m_ui->checkKeyring->setChecked(settings.passwordsInKeyring);
    m_ui->checkJudgeOnce->setChecked(settings.judgeOnce);
    m_loadingAppSettings = false;
    m_ui->lblLearnedCounts->setText(m_training->countsText());
}

void frmMain::limitUnsureBand()
{
    // The band ends below the threshold; the box moves down with it.
    m_ui->spinLearnedUnsure->setMaximum(m_ui->spinLearnedThreshold->value() - UnsureGap);
}

void frmMain::saveAppSettings()
{
    if (m_loadingAppSettings)
        return;
    AppSettings settings(m_programFolder);
    settings.load(); // keeps the settings this window has no control for
    settings.holdForReview = m_ui->checkHoldForReview->isChecked();
    settings.announce = AppSettings::Announce(m_ui->comboAnnounce->currentIndex());
    settings.learnedFilter = m_ui->checkLearnedFilter->isChecked();
    settings.deleteLearnedVerdicts = m_ui->checkDeleteLearned->isChecked();
    settings.passwordsInKeyring = m_ui->checkKeyring->isChecked();
    settings.judgeOnce = m_ui->checkJudgeOnce->isChecked();
    // The box shows three decimals; a finer threshold from the file is kept
    // until the user changes it here.
    if (qAbs(m_ui->spinLearnedThreshold->value() - settings.learnedThreshold) >= 0.0005)
        settings.learnedThreshold = m_ui->spinLearnedThreshold->value();
    if (qAbs(m_ui->spinLearnedUnsure->value() - settings.unsureThreshold) >= 0.0005)
        settings.unsureThreshold = m_ui->spinLearnedUnsure->value();
    if (!settings.save())
        m_ui->Label17->setText(settings.errorText());
}

void frmMain::notify(const QString &text)
{
    m_lastNoticeFailure = false;
    Q_EMIT notified(text);
    if (QSystemTrayIcon *icon = SysTrayModule::TrayIconData())
        icon->showMessage(u"Quellmail"_s, text, QSystemTrayIcon::Information);
}

void frmMain::notifyFailure(const QString &text)
{
    m_lastNoticeFailure = true;
    m_trayStatus.problem = true;
    Q_EMIT notified(text);
    if (QSystemTrayIcon *icon = SysTrayModule::TrayIconData())
        icon->showMessage(u"Quellmail"_s, text, QSystemTrayIcon::Warning);
}

void frmMain::showInFront()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void frmMain::openFromNotice()
{
    if (m_ending)
        return;
    showInFront();
    m_ui->SSTab1->setCurrentWidget(m_lastNoticeFailure ? static_cast<QWidget *>(m_logTab) : m_spamTab);
}

void frmMain::updateTrayStatus()
{
    // A folder without the database yet holds nothing: it is not created here.
    StateDatabase db(m_programFolder);
    if (QFileInfo::exists(db.path()) && db.open()) {
        const ReviewList review(db);
        if (const qint64 held = review.count(ReviewList::State::Held); held >= 0)
            m_trayStatus.held = int(held);
        if (const qint64 unsure = review.count(ReviewList::State::Unsure); unsure >= 0)
            m_trayStatus.unsure = int(unsure);
    }
    Q_EMIT trayStatusChanged();
}

void frmMain::readLastScan()
{
    m_trayStatus.accountsOk = 0;
    m_trayStatus.failing.clear();
    StateDatabase db(m_programFolder);
    if (!QFileInfo::exists(db.path()) || !db.open())
        return;
    // A scan writes one row per account; a few more cover a list that grew meanwhile.
    for (const ScanLog::Record &r : ScanLog(db).latest(m_gridAccounts->rowCountValue() + 16)) {
        if (r.id <= m_logMark)
            break;
        if (r.failed() || r.interrupted())
            m_trayStatus.failing.prepend(r.login + u'@' + r.server);
        else
            ++m_trayStatus.accountsOk;
    }
}

// The control goes first (m_Tarnpost1), while the window it reports to is still whole.
frmMain::~frmMain() = default;

QLabel *frmMain::Label17() const { return m_ui->Label17; }

void frmMain::setStatusLine(const QString &text) { m_ui->Label17->setText(text); }

void frmMain::setStatusToolTip(const QString &text) { m_ui->Label17->setToolTip(text); }

QLineEdit *frmMain::txtAccountsCount() const { return m_ui->txtAccountsCount; }
QLineEdit *frmMain::txtwhitelistCount() const { return m_ui->txtwhitelistCount; }
QLineEdit *frmMain::txtblacklistCount() const { return m_ui->txtblacklistCount; }
QLineEdit *frmMain::txtkeywordsCount() const { return m_ui->txtkeywordsCount; }
QLineEdit *frmMain::txtEmailsBlockedCount() const { return m_ui->txtEmailsBlockedCount; }
QLineEdit *frmMain::txttotalemailsever() const { return m_ui->txttotalemailsever; }
QCheckBox *frmMain::checkautoscan() const { return m_ui->checkautoscan; }
QCheckBox *frmMain::checkwhitelist() const { return m_ui->checkwhitelist; }
QCheckBox *frmMain::checkblacklist() const { return m_ui->checkblacklist; }
QCheckBox *frmMain::checkspamcop() const { return m_ui->checkspamcop; }
QCheckBox *frmMain::checkkeywords() const { return m_ui->checkkeywords; }
QComboBox *frmMain::combominutes() const { return m_ui->combominutes; }

QString frmMain::boxText(FormBox box) const
{
    const QLineEdit *const boxes[] = {txtAccountsCount(), txtwhitelistCount(),     txtblacklistCount(),
                                      txtkeywordsCount(), txtEmailsBlockedCount(), txttotalemailsever()};
    return boxes[int(box)]->text();
}

void frmMain::setBoxText(FormBox box, const QString &text)
{
    QLineEdit *const boxes[] = {txtAccountsCount(), txtwhitelistCount(),     txtblacklistCount(),
                                txtkeywordsCount(), txtEmailsBlockedCount(), txttotalemailsever()};
    boxes[int(box)]->setText(text);
}

int frmMain::switchValue(FormSwitch which) const
{
    const QCheckBox *const boxes[] = {checkautoscan(), checkwhitelist(), checkblacklist(), checkspamcop(),
                                      checkkeywords()};
    return RuleSwitch::value(boxes[int(which)]);
}

void frmMain::setSwitchValue(FormSwitch which, int value)
{
    QCheckBox *const boxes[] = {checkautoscan(), checkwhitelist(), checkblacklist(), checkspamcop(), checkkeywords()};
    RuleSwitch::setValue(boxes[int(which)], value);
}

QString frmMain::minutes() const { return m_ui->combominutes->currentText(); }

void frmMain::setMinutes(const QString &text) { m_ui->combominutes->setEditText(text); }

void frmMain::suspendGrid(ListKind kind)
{
    if (ListGridView *view = gridView(kind))
        view->setUpdatesEnabled(false);
}

void frmMain::showGrids() { module_griddisplay(*this); }

QTableView *frmMain::gridAccountsView() const { return m_ui->gridAccountsView; }
QTableView *frmMain::gridwhitelistView() const { return m_ui->gridwhitelistView; }
QTableView *frmMain::gridblacklistView() const { return m_ui->gridblacklistView; }
QTableView *frmMain::gridkeywordsView() const { return m_ui->gridkeywordsView; }

frmAddAccount *frmMain::accountDialog()
{
    if (!m_frmAddAccount) {
        m_frmAddAccount = new frmAddAccount(*this, this);
        m_accountTest = std::make_unique<AccountConnectionTest>(m_programFolder, m_frmAddAccount);
        m_frmAddAccount->setAccountTester(m_accountTest.get());
    }
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
    // A folder that holds none of the program's files yet: the user chooses
    // what is new, once the first account is there.
    const bool freshFolder = !m_firstRunOffered && !QFileInfo::exists(StatsFile::path(*this))
                             && !QFileInfo::exists(m_programFolder + u'/' + AppSettings::fileName());
    showAccountsTab();
    m_ui->Label17->setText(u"Quellmail protects your inbox from unwanted emails."_s);
    processEvents();
    m_frmSplash->setMessage(u"Now Loading. Please wait."_s);
    StatsFile::read(*this);
    loadAppSettings();
    if (!m_placementRestored) {
        WindowPlacement(m_programFolder).restore(*this);
        m_placementRestored = true;
    }
    show();
    m_frmSplash->show();
    processEvents();
    loadHelpPage();
    loadAllLists(*this);
    markListsSaved();
    m_frmSplash->hide();
    module_griddisplay(*this);
    if (!m_minutesFilled) {
        modules_settings(*this);
        m_minutesFilled = true;
    }
    if (m_ui->txtAccountsCount->text() == u"0"_s) {
        accountDialog()->openForNewAccount();
        module_griddisplay(*this);
        if (freshFolder && m_gridAccounts->rowCountValue() > 0) {
            m_firstRunOffered = true;
            offerFirstRunChoices();
        }
    }
    processEvents();
}

void frmMain::offerFirstRunChoices()
{
    FirstRunDialog dialog(QDir::homePath(), this);
    if (dialog.exec() != QDialog::Accepted)
        return; // Skip: everything stays as it was
    const FirstRunDialog::Choices chosen = dialog.choices();
    // Through the controls, so the files get what a click on each would write.
    m_ui->checkHoldForReview->setChecked(chosen.holdForReview);
    if (chosen.summary)
        m_ui->comboAnnounce->setCurrentIndex(int(AppSettings::Announce::SummaryAtEnd));
    m_ui->checkJudgeOnce->setChecked(chosen.judgeOnce);
    m_ui->checkLearnedFilter->setChecked(chosen.learnedFilter);
    RuleSwitch::setValue(m_ui->checkwhitelist, chosen.whitelist ? 1 : 0);
    RuleSwitch::setValue(m_ui->checkblacklist, chosen.blacklist ? 1 : 0);
    RuleSwitch::setValue(m_ui->checkspamcop, chosen.senderIp ? 1 : 0);
    RuleSwitch::setValue(m_ui->checkkeywords, chosen.keywords ? 1 : 0);
    saveAppSettings();
    // Save Settings, as the user would click it: stats.dat must never count an
    // account that accounts.dat does not hold, or the next start would not
    // ask for one.
    cmdupdateconfig_Click();
    m_ui->Label17->setText(u"Your account and choices are saved; the Settings tab changes them. Add senders and "
                           u"words to the lists, then click Save Settings."_s);
    if (!chosen.training.isEmpty()) {
        QList<TrainFolderDialog::Folder> folders;
        for (const Scan::MailClientFolders::Folder &found : chosen.training) {
            folders.append({found.path, found.client + u": "_s + found.name,
                            found.kind == Scan::MailClientFolders::Kind::Spam ? Scan::LearnedFilter::Label::Spam
                                                                              : Scan::LearnedFilter::Label::Ham});
        }
        m_training->train(folders);
    }
}

void frmMain::loadHelpPage()
{
    const QString page = m_programFolder + u"/index.html"_s;
    if (QFileInfo::exists(page))
        m_ui->webhelpbrowser->setSource(QUrl::fromLocalFile(page));
    else
        m_ui->webhelpbrowser->clear();
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

void frmMain::announceSpam(const QString &text) { MessageBox::show(this, text, u"Quellmail"_s, MessageBox::OkOnly); }

void frmMain::setScanProcedure(std::function<void()> scan) { m_scanProcedure = std::move(scan); }

void frmMain::runScan()
{
    // A scheduled scan waits for a training to end: it would run inside the
    // training's progress box.
    if (m_scanning || m_ending || !m_scanProcedure || (m_training && m_training->isTraining()))
        return;
    // A folder that cannot hold the lock file is scanned all the same; only a
    // scan running elsewhere on this folder stops this one.
    Scan::ScanLock lock(m_programFolder);
    if (lock.tryLock() == Scan::ScanLock::Result::Busy) {
        m_ui->Label17->setText(u"Another scan of this folder is running."_s);
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
    const TimerStep step = nextTimerStep(m_ui->txtTimer->text(), m_ui->combominutes->currentText());
    switch (step.action) {
    case TimerStep::Action::Refuse: m_ui->Label17->setText(step.refusal); break;
    case TimerStep::Action::Count:
        processEvents();
        m_ui->txtTimer->setText(QString::number(step.counter));
        break;
    case TimerStep::Action::Scan:
        m_ui->txtTimer->setText(u"0"_s);
        processEvents();
        runScan();
        break;
    }
}

void frmMain::setImportProcedure(std::function<void()> import) { m_importProcedure = std::move(import); }

void frmMain::setTrayIconRemover(std::function<void()> remover) { m_trayIconRemover = std::move(remover); }

void frmMain::setTrayAvailabilityCheck(std::function<bool()> check) { m_trayAvailable = std::move(check); }

void frmMain::setUrlOpener(std::function<void(const QUrl &)> opener) { m_urlOpener = std::move(opener); }

void frmMain::hideToTray()
{
    saveWindowPlacement();
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
    if (isVisible() && !isMinimized())
        saveWindowPlacement();
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

void frmMain::setHardExit(std::function<void()> hardExit) { m_hardExit = std::move(hardExit); }

QUrl frmMain::spamFolderUrl() const { return QUrl::fromLocalFile(m_programFolder + u"/SpamDeleted/"_s); }

QUrl frmMain::homePageUrl() { return QUrl(u"https://quellmail.example.org/"_s); }

void frmMain::openUrl(const QUrl &url)
{
    if (m_urlOpener)
        m_urlOpener(url);
}

void frmMain::showAccountsTab() { m_ui->SSTab1->setCurrentIndex(0); }

void frmMain::showSplash() { m_frmSplash->show(); }

void frmMain::setSplashMessage(const QString &message) { m_frmSplash->setMessage(message); }

void frmMain::hideSplash() { m_frmSplash->hide(); }

void frmMain::setStatusText(const QString &text) { m_ui->Label17->setText(text); }

void frmMain::cmdupdateconfig_Click()
{
    m_keyringSetting->beforeSave(); // new passwords go to the keyring, not the file
    if (module_update_config(*this)) {
        markListsSaved();
        // Only now that accounts.dat no longer lists them do removed accounts lose their secrets.
        if (const QStringList problems = Scan::LeftoverSecrets::forgetUnlisted(m_programFolder); !problems.isEmpty())
            setStatusText(problems.join(u' '));
    }
    module_griddisplay(*this);
}

void frmMain::cmdreloadconfig_Click()
{
    for (QLineEdit *box : {m_ui->txtAccountsCount, m_ui->txtblacklistCount, m_ui->txtEmailsAllowedCount,
                           m_ui->txtEmailsBlockedCount, m_ui->txtkeywordsCount, m_ui->txtwhitelistCount})
        box->setText(u"0"_s);
    for (ListTable *table : {m_gridAccounts, m_gridblacklist, m_gridkeywords, m_gridwhitelist})
        table->removeAll();
    module_griddisplay(*this);
    runLoadSequence();
    module_griddisplay(*this);
}

void frmMain::cmdsystemtray_Click() { hideToTray(); }

void frmMain::cmdExitApplication_Click()
{
    // With unsaved changes the save question is the exit question.
    if (hasUnsavedChanges()) {
        if (settleUnsavedChanges())
            endProgram();
        return;
    }
    if (MessageBox::show(this, u"Are you sure you want to exit the application?"_s, u"Exit application."_s,
                         MessageBox::YesNo)
        == MessageBox::Yes)
        endProgram();
}

void frmMain::cmdscannow_Click() { runScan(); }

void frmMain::cmdAddAccount_Click()
{
    accountDialog()->openForNewAccount();
    module_griddisplay(*this);
}

void frmMain::cmdEditAccount_Click()
{
    const QModelIndex current = m_ui->gridAccountsView->currentIndex();
    if (!current.isValid()) {
        MessageBox::show(this, u"Select the account to change first."_s, u"Edit account."_s, MessageBox::OkOnly);
        return;
    }
    editAccount(current.row() + 1);
}

void frmMain::editAccount(int row)
{
    accountDialog()->openForAccount(row);
    module_griddisplay(*this);
}

void frmMain::cmdDeleteAccount_Click() { deleteSelectedRow(*this, ListKind::Accounts); }

void frmMain::cmdAddWhitelist_Click() { whitelistDialog()->openDialog(); }

void frmMain::cmdeletewhitelist_Click() { deleteSelectedRow(*this, ListKind::Whitelist); }

void frmMain::cmdAddBlacklist_Click() { blacklistDialog()->openDialog(); }

void frmMain::cmddeleteblacklist_Click() { deleteSelectedRow(*this, ListKind::Blacklist); }

void frmMain::cmdAddkeywords_Click() { keywordsDialog()->openDialog(); }

void frmMain::cmddeletekeyword_Click() { deleteSelectedRow(*this, ListKind::Keywords); }

void frmMain::Command1_Click()
{
    if (m_importProcedure)
        m_importProcedure();
}

void frmMain::SpamFolder_Click() { openUrl(spamFolderUrl()); }

void frmMain::Label25_Click() { openUrl(spamFolderUrl()); }

void frmMain::Image1_Click() { openUrl(homePageUrl()); }

void frmMain::checkautoscan_Click()
{
    if (RuleSwitch::value(m_ui->checkautoscan) == 1) {
        m_Timer1->start();
        timerTick();
    } else {
        m_Timer1->stop();
    }
}

void frmMain::Timer1_Timer() { timerTick(); }

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
        if (!settleUnsavedChanges()) {
            event->ignore();
            return;
        }
        endProgram();
        event->accept();
    } else {
        event->ignore();
        hideToTray();
    }
}
