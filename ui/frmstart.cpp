#include "ui/frmstart.h"

#include "platform/messagebox/messagebox.h"
#include "ui/addressbookimport.h"
#include "ui/appicon.h"
#include "ui/frmmain.h"
#include "ui/restrictsizing.h"
#include "ui/setmenuiconmodule.h"
#include "ui/systraymodule.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

using namespace Qt::StringLiterals;

frmStart::frmStart(const QString &programFolder, QWidget *parent)
    : QWidget(parent)
    , m_programFolder(programFolder)
{
    setObjectName(u"frmStart"_s);
    setWindowTitle(u"Quellmail Engine starting ..."_s);

    m_menuBar = new QMenuBar(this);
    m_mnuFile = m_menuBar->addMenu(u"&File"_s);
    m_mnuFile->setObjectName(u"mnuFile"_s);
    m_mnuSep0 = m_mnuFile->addSeparator();
    m_mnuSep0->setObjectName(u"mnuSep0"_s);
    m_mnuFileExit = m_mnuFile->addAction(u"E&xit"_s);
    m_mnuFileExit->setObjectName(u"mnuFileExit"_s);
    // This form is never shown, so neither is its File menu; the tray pop-up
    // is the one drop-down menu of the bar that is ever seen, and the menu
    // picture lands on it.
    m_mnuFile->menuAction()->setVisible(false);

    m_mnuSysTray = m_menuBar->addMenu(u"SysTray"_s);
    m_mnuSysTray->setObjectName(u"mnuSysTray"_s);
    m_mnuSysTrayScanNow = m_mnuSysTray->addAction(u"Scan Now"_s);
    m_mnuSysTrayScanNow->setObjectName(u"mnuSysTrayScanNow"_s);
    m_mnuHideSysTrayConfg = m_mnuSysTray->addAction(u"Hide Application"_s);
    m_mnuHideSysTrayConfg->setObjectName(u"mnuHideSysTrayConfg"_s);
    m_mnuSysTrayConfg = m_mnuSysTray->addAction(u"Show Application"_s);
    m_mnuSysTrayConfg->setObjectName(u"mnuSysTrayConfg"_s);
    m_mnuSysTrayExit = m_mnuSysTray->addAction(u"Exit"_s);
    m_mnuSysTrayExit->setObjectName(u"mnuSysTrayExit"_s);

    connect(m_mnuFileExit, &QAction::triggered, this, &frmStart::mnuFileExit_Click);
    connect(m_mnuSysTrayScanNow, &QAction::triggered, this, &frmStart::mnuSysTrayScanNow_Click);
    connect(m_mnuHideSysTrayConfg, &QAction::triggered, this, &frmStart::mnuHideSysTrayConfg_Click);
    connect(m_mnuSysTrayConfg, &QAction::triggered, this, &frmStart::mnuSysTrayConfg_Click);
    connect(m_mnuSysTrayExit, &QAction::triggered, this, &frmStart::mnuSysTrayExit_Click);
    // Also when the tray host opens the menu itself (right click, AppIndicator hosts).
    connect(m_mnuSysTray, &QMenu::aboutToShow, this, &frmStart::offerHideOrShow);

    m_menuDelay = new QTimer(this);
    m_menuDelay->setObjectName(u"trayMenuDelay"_s);
    m_menuDelay->setSingleShot(true);
    connect(m_menuDelay, &QTimer::timeout, this, [this] { m_mnuSysTray->exec(m_menuAt); });
}

frmStart::~frmStart() { SysTrayModule::RemoveSysTrayIcon(); }

QString frmStart::trayTip() { return u"Left click for menu."_s; }

frmMain &frmStart::mainWindow()
{
    if (!m_main) {
        m_main = std::make_unique<frmMain>(m_programFolder);
        frmMain &form = *m_main;
        form.setTrayIconRemover(&SysTrayModule::RemoveSysTrayIcon);
        form.setImportProcedure([&form] { ImportAddressBook(form, addressBookLibraryPath(form.programFolder())); });
    }
    return *m_main;
}

void frmStart::Form_Load()
{
    hide();
    frmMain &form = mainWindow();
    if (!m_mainLoaded) {
        m_mainLoaded = true;
        form.runLoadSequence();
    }
    setWindowIcon(form.windowIcon());
    // The user may have ended the program while the window was loading.
    if (form.isEnding())
        return;
    SysTrayModule::AddSysTrayIcon(this, trayTip(), windowIcon(), m_mnuSysTray);
    if (QSystemTrayIcon *icon = SysTrayModule::TrayIconData()) {
        connect(icon, &QSystemTrayIcon::activated, this, &frmStart::trayActivated, Qt::UniqueConnection);
        connect(icon, &QSystemTrayIcon::messageClicked, &form, &frmMain::openFromNotice, Qt::UniqueConnection);
    }
    connect(&form, &frmMain::trayStatusChanged, this, &frmStart::showTrayStatus, Qt::UniqueConnection);
    form.updateTrayStatus();
    const QPixmap picture = AppIcon::menuPicture();
    SetMenuIconModule::SetMenuItemIcon(this, 0, 2, 0, picture, picture);
    QCoreApplication::processEvents();
}

void frmStart::showTrayStatus() { SysTrayModule::ShowStatus(mainWindow().trayStatus(), windowIcon(), trayTip()); }

void frmStart::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    QCoreApplication::processEvents();
    // A left click opens the menu wherever the notification area sits; the
    // right button gets the same menu as the icon's context menu. A menu
    // opened at once would take the second click of a double click.
    if (reason == QSystemTrayIcon::Trigger) {
        m_menuAt = QPoint(QCursor::pos().x(), RestrictSizing::GetCursorY());
        m_menuDelay->start(QApplication::doubleClickInterval());
    } else if (reason == QSystemTrayIcon::DoubleClick) {
        m_menuDelay->stop();
        if (!mainWindow().isEnding())
            mainWindow().showInFront();
    }
}

void frmStart::offerHideOrShow()
{
    const frmMain &form = mainWindow();
    const bool shown = form.isVisible() && !form.isMinimized();
    m_mnuHideSysTrayConfg->setVisible(shown);
    m_mnuSysTrayConfg->setVisible(!shown);
}

void frmStart::mnuFileExit_Click() { confirmExit(); }

void frmStart::mnuSysTrayScanNow_Click() { mainWindow().runScan(); }

void frmStart::mnuHideSysTrayConfg_Click() { mainWindow().hideToTray(); }

void frmStart::mnuSysTrayConfg_Click() { mainWindow().setVisible(true); }

void frmStart::mnuSysTrayExit_Click() { confirmExit(); }

void frmStart::confirmExit()
{
    frmMain &form = mainWindow();
    if (form.isEnding())
        return;
    const MessageBox::Button answer = MessageBox::show(
        nullptr, u"Click OK to exit this application.\r\nClick CANCEL to keep it running in the system tray."_s,
        u"Exit application?"_s, MessageBox::OkCancel);
    if (answer == MessageBox::Ok) {
        if (form.settleUnsavedChanges())
            form.endProgram(); // removes the icon; the window's own close question is not asked
    } else
        form.hideToTray();
}
