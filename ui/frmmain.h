#pragma once
// The program's settings window: the four lists, the settings, the totals,
// the command buttons, the status line, the scan timer and the hosted POP3
// control. It lives until the program ends; closing it hides it or ends the
// program.

#include "scan/scanform.h"
#include "scan/tarnposthost.h"

#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class ClickableLabel;
class ListGridView;
class QLabel;
class QPushButton;
class QTabWidget;
class QTextBrowser;
class QTimer;
class frmAddAccount;
class frmAddWhitelist;
class frmAddblacklist;
class frmAddkeywords;
class frmSplash;

class frmMain final : public QWidget, public ScanForm
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmMain)

public:
    explicit frmMain(const QString &programFolder, QWidget *parent = nullptr);
    ~frmMain() override;

    // The load sequence: start-up, and again on Reload.
    void runLoadSequence();

    QString programFolder() const override { return m_programFolder; }
    QWidget *formWidget() override { return this; }

    ListTable *gridAccounts() const override { return m_gridAccounts; }
    ListTable *gridwhitelist() const override { return m_gridwhitelist; }
    ListTable *gridblacklist() const override { return m_gridblacklist; }
    ListTable *gridkeywords() const override { return m_gridkeywords; }
    QTableView *gridAccountsView() const override;
    QTableView *gridwhitelistView() const override;
    QTableView *gridblacklistView() const override;
    QTableView *gridkeywordsView() const override;

    QLineEdit *txtAccountsCount() const override { return m_txtAccountsCount; }
    QLineEdit *txtwhitelistCount() const override { return m_txtwhitelistCount; }
    QLineEdit *txtblacklistCount() const override { return m_txtblacklistCount; }
    QLineEdit *txtkeywordsCount() const override { return m_txtkeywordsCount; }
    QLineEdit *txtEmailsBlockedCount() const override { return m_txtEmailsBlockedCount; }
    QLineEdit *txttotalemailsever() const override { return m_txttotalemailsever; }
    QLineEdit *txtTimer() const { return m_txtTimer; }
    QLineEdit *txtEmailsAllowedCount() const { return m_txtEmailsAllowedCount; }

    // Tristate boxes: 0 off, 1 on, 2 greyed (see RuleSwitch); a rule is on
    // only when checkState() is Qt::Checked.
    QCheckBox *checkautoscan() const override { return m_checkautoscan; }
    QCheckBox *checkwhitelist() const override { return m_checkwhitelist; }
    QCheckBox *checkblacklist() const override { return m_checkblacklist; }
    QCheckBox *checkspamcop() const override { return m_checkspamcop; }
    QCheckBox *checkkeywords() const override { return m_checkkeywords; }
    QComboBox *combominutes() const override { return m_combominutes; }

    QLabel *Label17() const override { return m_Label17; }
    QTimer *Timer1() const { return m_Timer1; }
    QTabWidget *SSTab1() const { return m_SSTab1; }
    QTextBrowser *webhelpbrowser() const { return m_webhelpbrowser; }
    frmSplash *splash() const { return m_frmSplash; }
    Automation::TarnpostProxy &Tarnpost1() override { return m_Tarnpost1.proxy(); }
    // Why the control could not be created, when it could not.
    QString tarnpostError() const { return m_Tarnpost1.errorString(); }

    // The add dialogs, created on first use and hidden between uses.
    frmAddAccount *accountDialog();
    frmAddWhitelist *whitelistDialog();
    frmAddblacklist *blacklistDialog();
    frmAddkeywords *keywordsDialog();

    // Writes stats.dat from the window (end of every scan, and Save Settings);
    // a failure is told in a message box.
    void writeStatistics() override;
    // A modal box; the scan waits until it is dismissed.
    void announceSpam(const QString &text) override;

    // What a scan runs: ScanMailboxes on this window unless a test says otherwise.
    void setScanProcedure(std::function<void()> scan);
    bool isScanning() const { return m_scanning; }
    // Runs the scan unless one is already running here or on the same folder
    // elsewhere (a command-line scan): the trigger is then ignored.
    void runScan();
    // The scan timer's tick.
    void timerTick();

    void setImportProcedure(std::function<void()> import);
    void setTrayIconRemover(std::function<void()> remover);
    // Whether hiding leaves a way back (a notification area); defaults to
    // QSystemTrayIcon::isSystemTrayAvailable().
    void setTrayAvailabilityCheck(std::function<bool()> check);
    // Opens folders and web addresses; defaults to QDesktopServices::openUrl.
    void setUrlOpener(std::function<void(const QUrl &)> opener);

    // Hides the window, or minimizes it where the desktop has no tray.
    void hideToTray();
    // Removes the tray icon, hides the window and ends the program. A running
    // scan stops at its next step; one that has not stopped after
    // ScanStopGraceMs (a server can hold the control in a wait) ends the
    // process through the hard exit.
    void endProgram();
    bool isEnding() const override { return m_ending; }
    static constexpr int ScanStopGraceMs = 2000;
    // Defaults to std::_Exit(0).
    void setHardExit(std::function<void()> hardExit);

    QUrl spamFolderUrl() const;
    static QUrl homePageUrl();

    // ConfigForm
    void showAccountsTab() override;
    void showSplash() override;
    void setSplashMessage(const QString &message) override;
    void hideSplash() override;

public Q_SLOTS:
    void cmdupdateconfig_Click();
    void cmdreloadconfig_Click();
    void cmdsystemtray_Click();
    void cmdExitApplication_Click();
    void cmdscannow_Click();
    void cmdAddAccount_Click();
    void cmdDeleteAccount_Click();
    void cmdAddWhitelist_Click();
    void cmdeletewhitelist_Click();
    void cmdAddBlacklist_Click();
    void cmddeleteblacklist_Click();
    void cmdAddkeywords_Click();
    void cmddeletekeyword_Click();
    void Command1_Click();
    void SpamFolder_Click();
    void Label25_Click();
    void Image1_Click();
    void checkautoscan_Click();
    void Timer1_Timer();

Q_SIGNALS:
    void programEnding();
    void scanStarted();
    void scanFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildListTab(ListGridView *&view, ListTable *table, const QString &gridName,
                          QLineEdit *&countBox, const QString &countName, const QString &countLabel,
                          const QList<QPushButton *> &buttons);
    QWidget *buildSettingsTab();
    QWidget *buildHelpTab();
    QWidget *buildStatistics();
    QPushButton *makeButton(const QString &name, const QString &caption);
    void loadHelpPage();
    void openUrl(const QUrl &url);

    QString m_programFolder;
    QTabWidget *m_SSTab1 = nullptr;
    ListTable *m_gridAccounts = nullptr;
    ListTable *m_gridwhitelist = nullptr;
    ListTable *m_gridblacklist = nullptr;
    ListTable *m_gridkeywords = nullptr;
    ListGridView *m_gridAccountsView = nullptr;
    ListGridView *m_gridwhitelistView = nullptr;
    ListGridView *m_gridblacklistView = nullptr;
    ListGridView *m_gridkeywordsView = nullptr;
    QLineEdit *m_txtAccountsCount = nullptr;
    QLineEdit *m_txtwhitelistCount = nullptr;
    QLineEdit *m_txtblacklistCount = nullptr;
    QLineEdit *m_txtkeywordsCount = nullptr;
    QLineEdit *m_txtEmailsBlockedCount = nullptr;
    QLineEdit *m_txttotalemailsever = nullptr;
    QLineEdit *m_txtTimer = nullptr;
    QLineEdit *m_txtEmailsAllowedCount = nullptr;
    QCheckBox *m_checkautoscan = nullptr;
    QCheckBox *m_checkwhitelist = nullptr;
    QCheckBox *m_checkblacklist = nullptr;
    QCheckBox *m_checkspamcop = nullptr;
    QCheckBox *m_checkkeywords = nullptr;
    QComboBox *m_combominutes = nullptr;
    QTextBrowser *m_webhelpbrowser = nullptr;
    QLabel *m_Label17 = nullptr;
    ClickableLabel *m_Label25 = nullptr;
    ClickableLabel *m_Image1 = nullptr;
    QTimer *m_Timer1 = nullptr;
    frmSplash *m_frmSplash = nullptr;
    frmAddAccount *m_frmAddAccount = nullptr;
    frmAddWhitelist *m_frmAddWhitelist = nullptr;
    frmAddblacklist *m_frmAddblacklist = nullptr;
    frmAddkeywords *m_frmAddkeywords = nullptr;

    TarnpostHost m_Tarnpost1;

    std::function<void()> m_scanProcedure;
    std::function<void()> m_importProcedure;
    std::function<void()> m_trayIconRemover;
    std::function<bool()> m_trayAvailable;
    std::function<void(const QUrl &)> m_urlOpener;
    std::function<void()> m_hardExit;
    bool m_scanning = false;
    bool m_ending = false;
    bool m_minutesFilled = false;
};
