#pragma once
// The hidden start-up form: the first form of the program. It creates and
// loads the main window and owns the tray icon and the tray menu for the
// whole run.

#include <QSystemTrayIcon>
#include <QWidget>

#include <memory>

class QAction;
class QMenu;
class QMenuBar;
class QTimer;
class frmMain;

class frmStart final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmStart)

public:
    explicit frmStart(const QString &programFolder, QWidget *parent = nullptr);
    ~frmStart() override;

    // The main window; the first call creates it. Form_Load runs its load
    // sequence (which may already start a scan).
    frmMain &mainWindow();

    // Hides this form, loads the main window, adds the tray icon and the menu
    // picture.
    void Form_Load();

    QMenuBar *menuBar() const { return m_menuBar; }
    QMenu *mnuFile() const { return m_mnuFile; }
    QAction *mnuSep0() const { return m_mnuSep0; }
    QAction *mnuFileExit() const { return m_mnuFileExit; }
    QMenu *mnuSysTray() const { return m_mnuSysTray; }
    QAction *mnuSysTrayScanNow() const { return m_mnuSysTrayScanNow; }
    QAction *mnuHideSysTrayConfg() const { return m_mnuHideSysTrayConfg; }
    QAction *mnuSysTrayConfg() const { return m_mnuSysTrayConfg; }
    QAction *mnuSysTrayExit() const { return m_mnuSysTrayExit; }

    static QString trayTip();

public Q_SLOTS:
    // A tray event: a left click opens the tray menu at the pointer once it
    // is clear that it was no double click; a double click opens the window.
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void mnuFileExit_Click();
    void mnuSysTrayScanNow_Click();
    void mnuHideSysTrayConfg_Click();
    void mnuSysTrayConfg_Click();
    void mnuSysTrayExit_Click();

private:
    // The exit of the tray menu and of the File menu.
    void confirmExit();
    // Hide or Show, whichever applies, as the menu opens.
    void offerHideOrShow();
    void showTrayStatus();

    QString m_programFolder;
    std::unique_ptr<frmMain> m_main;
    bool m_mainLoaded = false;
    QMenuBar *m_menuBar = nullptr;
    QMenu *m_mnuFile = nullptr;
    QAction *m_mnuSep0 = nullptr;
    QAction *m_mnuFileExit = nullptr;
    QMenu *m_mnuSysTray = nullptr;
    QAction *m_mnuSysTrayScanNow = nullptr;
    QAction *m_mnuHideSysTrayConfg = nullptr;
    QAction *m_mnuSysTrayConfg = nullptr;
    QAction *m_mnuSysTrayExit = nullptr;
    // Holds a left click's menu for the double-click interval.
    QTimer *m_menuDelay = nullptr;
    QPoint m_menuAt;
};
