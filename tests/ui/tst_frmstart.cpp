// The start-up form: how the program starts, its menus and menu picture, the
// tray icon's clicks, the tray menu's commands and the exit confirmations.

#include "config/listtable.h"
#include "platform/messagebox/messagebox.h"
#include "tests/ui/uitestsupport.h"
#include "ui/frmmain.h"
#include "ui/frmstart.h"
#include "ui/setmenuiconmodule.h"
#include "ui/systraymodule.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString exitText = u"Click OK to exit this application.\r\nClick CANCEL to keep it running in the system tray."_s;

QStringList texts(const QMenu *menu)
{
    QStringList result;
    for (const QAction *action : menu->actions())
        result.append(action->isSeparator() ? u"-"_s : action->text());
    return result;
}

// The names of the actions of `start` that carry a picture.
QStringList withPicture(const frmStart &start)
{
    QStringList names;
    for (const QMenu *menu : {start.mnuFile(), start.mnuSysTray()}) {
        for (const QAction *action : menu->actions()) {
            if (!action->icon().isNull())
                names.append(action->objectName());
        }
    }
    return names;
}

// Watches `menu` while it is open: notes that it was seen and closes it, or
// lets `choose` pick an item.
std::shared_ptr<bool> closeWhenShown(QMenu *menu, QAction *choose = nullptr)
{
    auto seen = std::make_shared<bool>(false);
    auto *timer = new QTimer(menu);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, menu, [menu, timer, seen, choose] {
        if (!menu->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        *seen = true;
        if (choose)
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(choose).center());
        else
            menu->hide();
    });
    timer->start();
    return seen;
}

enum class ExitPath { TrayExit, FileExit, WindowClose };

} // namespace

class tst_FrmStart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void startUp();
    void menuPicture_data();
    void menuPicture();
    void trayActivation_data();
    void trayActivation();
    void menuChoiceRunsBeforeTheClickReturns();
    void exitPaths_data();
    void exitPaths();
    void hideAndShow_data();
    void hideAndShow();
    void scanNow();

private:
    // A started program whose main window answers the tray question with `trayAvailable`.
    std::unique_ptr<frmStart> start(bool trayAvailable = true);

    std::unique_ptr<QTemporaryDir> m_dir;
    int m_scans = 0;
    std::function<void()> m_duringScan;
};

void tst_FrmStart::initTestCase() { MessageBox::setTestMode(true); }

void tst_FrmStart::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    UiTest::writeBytes(m_dir->filePath(u"accounts.dat"_s), "mail.example.org,alice,pw\r\n");
    m_scans = 0;
    m_duringScan = nullptr;
    MessageBox::clearRecords();
}

void tst_FrmStart::cleanup()
{
    // Every program of a test is gone, and its icon with it.
    QCOMPARE(SysTrayModule::TrayIconData(), nullptr);
}

std::unique_ptr<frmStart> tst_FrmStart::start(bool trayAvailable)
{
    auto form = std::make_unique<frmStart>(m_dir->path());
    frmMain &main = form->mainWindow();
    main.setTrayAvailabilityCheck([trayAvailable] { return trayAvailable; });
    main.setScanProcedure([this] {
        ++m_scans;
        if (m_duringScan)
            m_duringScan();
    });
    form->Form_Load();
    MessageBox::clearRecords();
    return form;
}

void tst_FrmStart::startUp()
{
    {
        frmStart form(m_dir->path());
        frmMain &main = form.mainWindow();
        // Created, not yet loaded: a test can set it up before the load
        // sequence ticks the timer.
        QVERIFY(!main.isVisible());
        QCOMPARE(main.gridAccounts()->rowCountValue(), 0);
        QCOMPARE(SysTrayModule::TrayIconData(), nullptr);
        form.Form_Load();

        QCOMPARE(form.windowTitle(), u"Quellmail Engine starting ..."_s);
        QVERIFY(!form.isVisible());
        QVERIFY(main.isVisible());
        QCOMPARE(main.gridAccounts()->rowCountValue(), 1);
        QCOMPARE(&form.mainWindow(), &main); // created once
        QVERIFY(!main.windowIcon().isNull());
        QCOMPARE(form.windowIcon().cacheKey(), main.windowIcon().cacheKey());

        QSystemTrayIcon *icon = SysTrayModule::TrayIconData();
        QVERIFY(icon);
        QCOMPARE(icon->toolTip(), u"Left click for menu."_s);
        QCOMPARE(icon->icon().cacheKey(), main.windowIcon().cacheKey());
        QCOMPARE(icon->contextMenu(), form.mnuSysTray());
        // The icon reads at tray sizes.
        for (int size : {16, 22, 24})
            QCOMPARE(icon->icon().actualSize(QSize(size, size)), QSize(size, size));

        QStringList bar;
        for (const QAction *action : form.menuBar()->actions())
            bar.append(action->text());
        QCOMPARE(bar, (QStringList{u"&File"_s, u"SysTray"_s}));
        QCOMPARE(texts(form.mnuFile()), (QStringList{u"-"_s, u"E&xit"_s}));
        QCOMPARE(texts(form.mnuSysTray()),
                 (QStringList{u"Scan Now"_s, u"Hide Application"_s, u"Show Application"_s, u"Exit"_s}));
        // The picture lands on the third item of the first menu the bar shows.
        QCOMPARE(withPicture(form), QStringList{u"mnuSysTrayConfg"_s});
        const QIcon picture = form.mnuSysTrayConfg()->icon();
        QVERIFY(picture.availableSizes().contains(QSize(17, 15)));
        QVERIFY(form.mnuSysTrayConfg()->isIconVisibleInMenu());
        QVERIFY(MessageBox::records().isEmpty());
    }
    // The form's end takes the icon with it.
    QCOMPARE(SysTrayModule::TrayIconData(), nullptr);
}

void tst_FrmStart::menuPicture_data()
{
    QTest::addColumn<bool>("fileMenuShown");
    QTest::addColumn<int>("menu");
    QTest::addColumn<int>("item");
    QTest::addColumn<QStringList>("pictured");

    QTest::newRow("tray menu, third item") << false << 0 << 2 << QStringList{u"mnuSysTrayConfg"_s};
    QTest::newRow("tray menu, first item") << false << 0 << 0 << QStringList{u"mnuSysTrayScanNow"_s};
    QTest::newRow("File menu shown: it has no third item") << true << 0 << 2 << QStringList();
    QTest::newRow("File menu shown: its Exit") << true << 0 << 1 << QStringList{u"mnuFileExit"_s};
    QTest::newRow("File menu shown: tray menu is the second") << true << 1 << 3 << QStringList{u"mnuSysTrayExit"_s};
    QTest::newRow("no such menu") << false << 1 << 0 << QStringList();
    QTest::newRow("no such item") << false << 0 << 4 << QStringList();
    QTest::newRow("negative menu") << false << -1 << 0 << QStringList();
    QTest::newRow("negative item") << false << 0 << -1 << QStringList();
}

void tst_FrmStart::menuPicture()
{
    QFETCH(bool, fileMenuShown);
    QFETCH(int, menu);
    QFETCH(int, item);
    QFETCH(QStringList, pictured);

    frmStart form(m_dir->path()); // not loaded: only its menus are needed
    form.mnuFile()->menuAction()->setVisible(fileMenuShown);
    QPixmap unchecked(17, 15);
    unchecked.fill(Qt::red);
    QPixmap checked(17, 15);
    checked.fill(Qt::blue);
    const int result = SetMenuIconModule::SetMenuItemIcon(&form, menu, item, 0, unchecked, checked);
    QCOMPARE(result != 0, !pictured.isEmpty());
    QCOMPARE(withPicture(form), pictured);
    if (!pictured.isEmpty()) {
        const QIcon icon = form.findChild<QAction *>(pictured.first())->icon();
        QCOMPARE(icon.pixmap(QSize(17, 15), QIcon::Normal, QIcon::Off).toImage().pixelColor(8, 7), QColor(Qt::red));
        QCOMPARE(icon.pixmap(QSize(17, 15), QIcon::Normal, QIcon::On).toImage().pixelColor(8, 7), QColor(Qt::blue));
    }

    // A window without a menu bar, or none at all, changes nothing.
    QWidget bare;
    QCOMPARE(SetMenuIconModule::SetMenuItemIcon(&bare, 0, 0, 0, unchecked, checked), 0);
    QCOMPARE(SetMenuIconModule::SetMenuItemIcon(nullptr, 0, 0, 0, unchecked, checked), 0);
}

void tst_FrmStart::trayActivation_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("opens");
    QTest::newRow("left click") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("right click") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
}

void tst_FrmStart::trayActivation()
{
    QFETCH(int, reason);
    QFETCH(bool, opens);
    auto form = start();
    QSystemTrayIcon *icon = SysTrayModule::TrayIconData();
    QVERIFY(icon);
    const bool wasVisible = form->mainWindow().isVisible();

    auto seen = closeWhenShown(form->mnuSysTray());
    // What the tray host reports reaches the form through the icon's signal.
    Q_EMIT icon->activated(QSystemTrayIcon::ActivationReason(reason));
    QCOMPARE(*seen, opens);
    // Opened or not, nothing stays open and nothing else happened.
    QVERIFY(!form->mnuSysTray()->isVisible());
    QCOMPARE(form->mainWindow().isVisible(), wasVisible);
    QCOMPARE(m_scans, 0);
    QVERIFY(MessageBox::records().isEmpty());
}

void tst_FrmStart::menuChoiceRunsBeforeTheClickReturns()
{
    auto form = start();
    frmMain &main = form->mainWindow();
    form->mnuHideSysTrayConfg()->trigger();
    QVERIFY(!main.isVisible());
    auto seen = closeWhenShown(form->mnuSysTray(), form->mnuSysTrayConfg());
    form->trayActivated(QSystemTrayIcon::Trigger);
    QVERIFY(*seen);
    QVERIFY(main.isVisible());

    seen = closeWhenShown(form->mnuSysTray(), form->mnuSysTrayScanNow());
    form->trayActivated(QSystemTrayIcon::Trigger);
    QVERIFY(*seen);
    QCOMPARE(m_scans, 1);
}

void tst_FrmStart::exitPaths_data()
{
    QTest::addColumn<int>("path");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("trayAvailable");

    const struct
    {
        const char *name;
        ExitPath path;
    } paths[] = {{"tray Exit", ExitPath::TrayExit},
                 {"File Exit", ExitPath::FileExit},
                 {"closing the window", ExitPath::WindowClose}};
    for (const auto &p : paths) {
        QTest::addRow("%s, OK", p.name) << int(p.path) << int(MessageBox::Ok) << true;
        QTest::addRow("%s, Cancel", p.name) << int(p.path) << int(MessageBox::Cancel) << true;
        QTest::addRow("%s, Cancel, no tray", p.name) << int(p.path) << int(MessageBox::Cancel) << false;
    }
}

void tst_FrmStart::exitPaths()
{
    QFETCH(int, path);
    QFETCH(int, answer);
    QFETCH(bool, trayAvailable);
    auto form = start(trayAvailable);
    frmMain &main = form->mainWindow();
    QSignalSpy ending(&main, &frmMain::programEnding);

    MessageBox::queueAnswer(MessageBox::Button(answer));
    switch (ExitPath(path)) {
    case ExitPath::TrayExit: form->mnuSysTrayExit()->trigger(); break;
    case ExitPath::FileExit: form->mnuFileExit()->trigger(); break;
    case ExitPath::WindowClose: main.close(); break;
    }

    QCOMPARE(MessageBox::records().size(), 1);
    QCOMPARE(MessageBox::records().first().text, exitText);
    QCOMPARE(MessageBox::records().first().title, u"Exit application?"_s);
    QCOMPARE(MessageBox::records().first().buttons, MessageBox::OkCancel);

    if (answer == MessageBox::Ok) {
        QCOMPARE(SysTrayModule::TrayIconData(), nullptr);
        QCOMPARE(ending.size(), 1);
        QVERIFY(main.isEnding());
        QVERIFY(!main.isVisible());
        QVERIFY(!UiTest::Timer1(main)->isActive());
        // No second question on the way out, from any exit.
        main.close();
        form->mnuSysTrayExit()->trigger();
        QCOMPARE(MessageBox::records().size(), 1);
        QCOMPARE(ending.size(), 1);
    } else {
        QVERIFY(SysTrayModule::TrayIconData());
        QCOMPARE(ending.size(), 0);
        QVERIFY(!main.isEnding());
        QVERIFY(UiTest::Timer1(main)->isActive()); // scans go on
        if (trayAvailable) {
            QVERIFY(!main.isVisible());
        } else {
            // Nothing to come back from: minimized instead of hidden.
            QVERIFY(main.isVisible());
            QVERIFY(main.isMinimized());
        }
    }
}

void tst_FrmStart::hideAndShow_data()
{
    QTest::addColumn<bool>("trayAvailable");
    QTest::newRow("tray") << true;
    QTest::newRow("no tray") << false;
}

void tst_FrmStart::hideAndShow()
{
    QFETCH(bool, trayAvailable);
    auto form = start(trayAvailable);
    frmMain &main = form->mainWindow();
    QVERIFY(main.isVisible());

    // Shown already: Show changes nothing.
    form->mnuSysTrayConfg()->trigger();
    QVERIFY(main.isVisible());
    QVERIFY(!main.isMinimized());

    form->mnuHideSysTrayConfg()->trigger();
    QCOMPARE(main.isVisible(), !trayAvailable);
    QCOMPARE(main.isMinimized(), !trayAvailable);
    QVERIFY(SysTrayModule::TrayIconData());
    QVERIFY(UiTest::Timer1(main)->isActive());

    if (trayAvailable) {
        form->mnuSysTrayConfg()->trigger();
        QVERIFY(main.isVisible());
        form->mnuHideSysTrayConfg()->trigger();
        form->mnuSysTrayConfg()->trigger();
        QVERIFY(main.isVisible());
    }
    QVERIFY(SysTrayModule::TrayIconData());
    QVERIFY(MessageBox::records().isEmpty());
    QCOMPARE(m_scans, 0);
}

void tst_FrmStart::scanNow()
{
    auto form = start();
    frmMain &main = form->mainWindow();
    QSignalSpy started(&main, &frmMain::scanStarted);
    // "Scan Now" chosen again while the scan is running is ignored.
    m_duringScan = [&] {
        QVERIFY(main.isScanning());
        form->mnuSysTrayScanNow()->trigger();
    };
    form->mnuSysTrayScanNow()->trigger();
    QCOMPARE(m_scans, 1);
    QCOMPARE(started.size(), 1);
    QVERIFY(!main.isScanning());

    m_duringScan = nullptr;
    form->mnuSysTrayScanNow()->trigger();
    QCOMPARE(m_scans, 2);
    QCOMPARE(started.size(), 2);
}

QTEST_MAIN(tst_FrmStart)
#include "tst_frmstart.moc"
