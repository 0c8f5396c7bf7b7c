#pragma once
// The program's settings window: the four lists, the settings, the totals,
// the command buttons, the status line, the scan timer and the hosted POP3
// control. It lives until the program ends; closing it hides it or ends the
// program.

#include "config/widgets/configwindow.h"
#include "pop3/host/tarnpostsite.h"
#include "scan/scanform.h"
#include "ui/systraymodule.h"

#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class AccountConnectionTest;
class frmAddAccount;
class frmAddWhitelist;
class frmAddblacklist;
class frmAddkeywords;
class frmSplash;
class ScanLogTab;
class KeyringSetting;
class LearnedTraining;
class SpamReviewTab;

namespace Ui {
class frmMain;
}

class frmMain final : public QWidget, public ScanForm, public ConfigWindow
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

    QLineEdit *txtAccountsCount() const;
    QLineEdit *txtwhitelistCount() const;
    QLineEdit *txtblacklistCount() const;
    QLineEdit *txtkeywordsCount() const;
    QLineEdit *txtEmailsBlockedCount() const;
    QLineEdit *txttotalemailsever() const;
    QString boxText(FormBox box) const override;
    void setBoxText(FormBox box, const QString &text) override;

    // Tristate boxes: 0 off, 1 on, 2 greyed (see RuleSwitch); a rule is on
    // only when checkState() is Qt::Checked.
    QCheckBox *checkautoscan() const;
    QCheckBox *checkwhitelist() const;
    QCheckBox *checkblacklist() const;
    QCheckBox *checkspamcop() const;
    QCheckBox *checkkeywords() const;
    int switchValue(FormSwitch which) const override;
    void setSwitchValue(FormSwitch which, int value) override;
    QComboBox *combominutes() const override;
    QString minutes() const override;
    void setMinutes(const QString &text) override;

    QLabel *Label17() const;
    void setStatusLine(const QString &text) override;
    void setStatusToolTip(const QString &text) override;
    Automation::TarnpostProxy &Tarnpost1() override { return m_Tarnpost1.proxy(); }
    // Why the control could not be created, when it could not.
    QString tarnpostError() const { return m_Tarnpost1.errorString(); }

    // Writes stats.dat from the window (end of every scan, and Save Settings);
    // a failure is told in a message box.
    void writeStatistics() override;
    // A modal box; the scan waits until it is dismissed.
    void announceSpam(const QString &text) override;
    // The tray icon's notification; never waits.
    void notify(const QString &text) override;
    void notifyFailure(const QString &text) override;
    // A click on the last notification: the window in front, on the Log tab
    // after a failure, else on the Spam tab.
    void openFromNotice();
    // Shown, not minimized, in front.
    void showInFront();

    // What the tray icon tells; trayStatusChanged() when it changes.
    SysTrayModule::Status trayStatus() const { return m_trayStatus; }
    // Counts the held messages again (at start, after the Spam tab changed them).
    void updateTrayStatus();

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
    // Whether a list or account differs from what was last loaded or saved.
    bool hasUnsavedChanges() const;
    // Before the program ends: with unsaved changes asks "Save changes?";
    // Save writes what Save Settings writes. Returns whether to end (not
    // after Cancel, nor when the save failed).
    bool settleUnsavedChanges();
    static constexpr int ScanStopGraceMs = 2000;
    // Defaults to std::_Exit(0).
    void setHardExit(std::function<void()> hardExit);

    // ConfigForm
    void showAccountsTab() override;
    void suspendGrid(ListKind kind) override;
    void showGrids() override;
    void showSplash() override;
    void setSplashMessage(const QString &message) override;
    void hideSplash() override;
    void setStatusText(const QString &text) override;

Q_SIGNALS:
    void programEnding();
    void scanStarted();
    void scanFinished();
    void notified(const QString &text);
    void trayStatusChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private Q_SLOTS:
    void cmdupdateconfig_Click();
    void cmdreloadconfig_Click();
    void cmdsystemtray_Click();
    void cmdExitApplication_Click();
    void cmdscannow_Click();
    void cmdAddAccount_Click();
    void cmdDeleteAccount_Click();
    void cmdEditAccount_Click();
    void editAccount(int row); // 1-based row of the accounts grid
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

private:
    void loadHelpPage();
    // What the four lists hold, to tell unsaved changes.
    QList<QList<QStringList>> listContents() const;
    void markListsSaved();
    void saveWindowPlacement();
    void setUpKeys();
    // settings.ini: the settings beyond stats.dat, saved as soon as they change.
    void loadAppSettings();
    void saveAppSettings();
    // The unsure band's box never reaches the threshold's.
    void limitUnsureBand();
    static constexpr double UnsureGap = 0.001; // the boxes' last decimal
    // The last scan's accounts from the scan log: its rows after m_logMark.
    void readLastScan();
    void openUrl(const QUrl &url);
    QUrl spamFolderUrl() const;
    static QUrl homePageUrl();
    // The add dialogs, created on first use and hidden between uses.
    frmAddAccount *accountDialog();
    // After the first account of a fresh folder: how spam is handled.
    void offerFirstRunChoices();
    frmAddWhitelist *whitelistDialog();
    frmAddblacklist *blacklistDialog();
    frmAddkeywords *keywordsDialog();

    std::unique_ptr<Ui::frmMain> m_ui;
    QString m_programFolder;
    ListTable *m_gridAccounts = nullptr;
    ListTable *m_gridwhitelist = nullptr;
    ListTable *m_gridblacklist = nullptr;
    ListTable *m_gridkeywords = nullptr;
    QTimer *m_Timer1 = nullptr;
    frmSplash *m_frmSplash = nullptr;
    frmAddAccount *m_frmAddAccount = nullptr;
    QPushButton *m_cmdEditAccount = nullptr;
    bool m_firstRunOffered = false;
    std::unique_ptr<AccountConnectionTest> m_accountTest;
    frmAddWhitelist *m_frmAddWhitelist = nullptr;
    frmAddblacklist *m_frmAddblacklist = nullptr;
    frmAddkeywords *m_frmAddkeywords = nullptr;
    SpamReviewTab *m_spamTab = nullptr;
    LearnedTraining *m_training = nullptr;
    KeyringSetting *m_keyringSetting = nullptr;
    ScanLogTab *m_logTab = nullptr;
    bool m_loadingAppSettings = false;

    Automation::TarnpostSite m_Tarnpost1;

    std::function<void()> m_scanProcedure;
    std::function<void()> m_importProcedure;
    std::function<void()> m_trayIconRemover;
    std::function<bool()> m_trayAvailable;
    std::function<void(const QUrl &)> m_urlOpener;
    std::function<void()> m_hardExit;
    bool m_scanning = false;
    bool m_ending = false;
    SysTrayModule::Status m_trayStatus;
    qint64 m_logMark = 0; // the newest scan log row before the running scan
    bool m_lastNoticeFailure = false;
    bool m_minutesFilled = false;
    bool m_placementRestored = false;
    QList<QList<QStringList>> m_savedLists;
};
