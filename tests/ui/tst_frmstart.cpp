// The start-up form: how the program starts, its menus and menu picture, the
// tray icon's clicks, the tray menu's commands and the exit confirmations.

#include "config/listtable.h"
#include "platform/messagebox/messagebox.h"
#include "state/reviewlist.h"
#include "state/scanlog.h"
#include "state/statedatabase.h"
#include "tests/ui/uitestsupport.h"
#include "ui/appicon.h"
#include "ui/frmmain.h"
#include "ui/frmstart.h"
#include "ui/setmenuiconmodule.h"
#include "ui/spamreviewtab.h"
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

// The items the menu shows as it opens.
QStringList shownTexts(QMenu *menu)
{
    Q_EMIT menu->aboutToShow();
    QStringList result;
    for (const QAction *action : menu->actions()) {
        if (action->isVisible())
            result.append(action->text());
    }
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
    void menuChoiceRuns();
    void trayStatus_data();
    void trayStatus();
    void trayFollowsScansAndNotices();
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
    QTest::addColumn<QList<int>>("reasons"); // as the tray host reports them
    QTest::addColumn<bool>("opens");
    QTest::addColumn<bool>("showsWindow");
    QTest::newRow("left click") << QList<int>{QSystemTrayIcon::Trigger} << true << false;
    QTest::newRow("right click") << QList<int>{QSystemTrayIcon::Context} << false << false;
    // A host reports the first press of a double click as a click of its own.
    QTest::newRow("double click") << QList<int>{QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick} << false
                                  << true;
    QTest::newRow("double click alone") << QList<int>{QSystemTrayIcon::DoubleClick} << false << true;
    QTest::newRow("middle click") << QList<int>{QSystemTrayIcon::MiddleClick} << false << false;
    QTest::newRow("unknown") << QList<int>{QSystemTrayIcon::Unknown} << false << false;
}

void tst_FrmStart::trayActivation()
{
    QFETCH(QList<int>, reasons);
    QFETCH(bool, opens);
    QFETCH(bool, showsWindow);
    auto form = start();
    QSystemTrayIcon *icon = SysTrayModule::TrayIconData();
    QVERIFY(icon);
    form->mnuHideSysTrayConfg()->trigger();
    QVERIFY(!form->mainWindow().isVisible());

    auto seen = closeWhenShown(form->mnuSysTray());
    // What the tray host reports reaches the form through the icon's signal.
    for (const int reason : reasons)
        Q_EMIT icon->activated(QSystemTrayIcon::ActivationReason(reason));
    // The menu waits out the double-click interval; nothing else is pending then.
    auto *delay = form->findChild<QTimer *>(u"trayMenuDelay"_s);
    QVERIFY(delay);
    QCOMPARE(delay->isActive(), opens);
    QTRY_COMPARE(*seen, opens);
    // Opened or not, nothing stays open and nothing else happened.
    QVERIFY(!form->mnuSysTray()->isVisible());
    QCOMPARE(form->mainWindow().isVisible(), showsWindow);
    QCOMPARE(m_scans, 0);
    QVERIFY(MessageBox::records().isEmpty());
}

void tst_FrmStart::menuChoiceRuns()
{
    auto form = start();
    frmMain &main = form->mainWindow();
    form->mnuHideSysTrayConfg()->trigger();
    QVERIFY(!main.isVisible());
    auto seen = closeWhenShown(form->mnuSysTray(), form->mnuSysTrayConfg());
    form->trayActivated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(*seen);
    QVERIFY(main.isVisible());

    seen = closeWhenShown(form->mnuSysTray(), form->mnuSysTrayScanNow());
    form->trayActivated(QSystemTrayIcon::Trigger);
    QTRY_VERIFY(*seen);
    QCOMPARE(m_scans, 1);
}

void tst_FrmStart::trayStatus_data()
{
    QTest::addColumn<bool>("scanning");
    QTest::addColumn<int>("held");
    QTest::addColumn<int>("unsure");
    QTest::addColumn<int>("scannedDaysAgo"); // -1: no scan yet
    QTest::addColumn<int>("ok");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<bool>("problem");
    QTest::addColumn<int>("look");
    QTest::addColumn<QString>("tip"); // %1: the last scan's time; the hint follows on its own line

    using Look = SysTrayModule::Look;
    const QStringList none;
    QTest::newRow("nothing to tell: the tip as it always was")
        << false << 0 << 0 << -1 << 0 << none << false << int(Look::Idle) << QString();
    QTest::newRow("held before the first scan")
        << false << 12 << 0 << -1 << 0 << none << false << int(Look::Held) << u"12 held for review"_s;
    QTest::newRow("held, every account ok") << false << 12 << 0 << 0 << 2 << none << false << int(Look::Held)
                                            << u"12 held for review \u00b7 last scan %1, 2 accounts ok"_s;
    QTest::newRow("nothing held, one account ok") << false << 0 << 0 << 0 << 1 << none << false << int(Look::Idle)
                                                  << u"Nothing held for review \u00b7 last scan %1, 1 account ok"_s;
    QTest::newRow("scanning outranks the rest")
        << true << 3 << 0 << 0 << 1 << QStringList{u"bob@pop.test"_s} << false << int(Look::Scanning)
        << u"Scanning\u2026 \u00b7 3 held for review \u00b7 last scan %1, 1 account ok, 1 account failed: "
           "bob@pop.test"_s;
    QTest::newRow("a failing account outranks held ones")
        << false << 12 << 0 << 0 << 1 << QStringList{u"bob@pop.test"_s} << false << int(Look::Failing)
        << u"12 held for review \u00b7 last scan %1, 1 account ok, 1 account failed: bob@pop.test"_s;
    QTest::newRow("every account failing, each named")
        << false << 0 << 0 << 0 << 0 << QStringList{u"anna@mail.example"_s, u"bob@pop.test"_s} << false
        << int(Look::Failing)
        << u"Nothing held for review \u00b7 last scan %1, 2 accounts failed: anna@mail.example, bob@pop.test"_s;
    QTest::newRow("a problem beyond the accounts")
        << false << 0 << 0 << 0 << 2 << none << true << int(Look::Failing)
        << u"Nothing held for review \u00b7 last scan %1, 2 accounts ok, with a problem (see the status line)"_s;
    QTest::newRow("unsure alone wait for the user too") << false << 0 << 3 << 0 << 1 << none << false << int(Look::Held)
                                                        << u"3 unsure for review \u00b7 last scan %1, 1 account ok"_s;
    QTest::newRow("held and unsure: both counted")
        << false << 12 << 3 << -1 << 0 << none << false << int(Look::Held) << u"12 held, 3 unsure for review"_s;
    QTest::newRow("a scan of another day gives its date")
        << false << 1 << 0 << 2 << 1 << none << false << int(Look::Held)
        << u"1 held for review \u00b7 last scan %1, 1 account ok"_s;
}

void tst_FrmStart::trayStatus()
{
    QFETCH(bool, scanning);
    QFETCH(int, held);
    QFETCH(int, unsure);
    QFETCH(int, scannedDaysAgo);
    QFETCH(int, ok);
    QFETCH(QStringList, failing);
    QFETCH(bool, problem);
    QFETCH(int, look);
    QFETCH(QString, tip);

    const QDateTime now(QDate(2026, 12, 8), QTime(18, 5));
    SysTrayModule::Status status;
    status.scanning = scanning;
    status.held = held;
    status.unsure = unsure;
    if (scannedDaysAgo >= 0)
        status.lastScan = QDateTime(now.date().addDays(-scannedDaysAgo), QTime(10, 42));
    status.accountsOk = ok;
    status.failing = failing;
    status.problem = problem;
    const QLocale locale;
    const QString when = scannedDaysAgo == 0 ? locale.toString(QTime(10, 42), QLocale::ShortFormat)
                                             : locale.toString(status.lastScan, QLocale::ShortFormat);
    const QString hint = frmStart::trayTip();
    QCOMPARE(int(SysTrayModule::lookOf(status)), look);
    QCOMPARE(SysTrayModule::statusTip(status, hint, now),
             tip.isEmpty() ? hint : (tip.contains(u"%1"_s) ? tip.arg(when) : tip) + u'\n' + hint);

    // The icon carries the look: the program's own when idle, a badge otherwise, the count in it.
    const QIcon base = AppIcon::icon();
    const QIcon shown = SysTrayModule::statusIcon(base, status);
    if (SysTrayModule::Look(look) == SysTrayModule::Look::Idle) {
        QCOMPARE(shown.cacheKey(), base.cacheKey());
        return;
    }
    for (const int size : {16, 22, 24})
        QCOMPARE(shown.actualSize(QSize(size, size)), QSize(size, size));
    const QImage image = shown.pixmap(32).toImage();
    QVERIFY(image != base.pixmap(32).toImage());
    SysTrayModule::Status more = status;
    more.held += 1;
    QCOMPARE(SysTrayModule::statusIcon(base, more).pixmap(32).toImage() != image,
             SysTrayModule::Look(look) == SysTrayModule::Look::Held);
}

void tst_FrmStart::trayFollowsScansAndNotices()
{
    {
        // Held from an earlier run: told from the start.
        StateDatabase db(m_dir->path());
        QVERIFY(db.open());
        ReviewList::Message m;
        m.server = u"mail.example.org"_s;
        m.login = u"alice"_s;
        m.judged = QDateTime::currentDateTimeUtc();
        m.rule = u"keyword"_s;
        for (const QString &uid : {u"a"_s, u"b"_s}) {
            m.uid = uid;
            QVERIFY(ReviewList(db).add(m) > 0);
        }
        m.uid = u"c"_s;
        m.rule = u"learned"_s;
        QVERIFY(ReviewList(db).addUnsure(m, {QByteArray(32, 'x'), {u"word"_s}}) > 0);
    }
    auto form = start();
    frmMain &main = form->mainWindow();
    QSystemTrayIcon *icon = SysTrayModule::TrayIconData();
    QVERIFY(icon);
    const QString hint = u"\nLeft click for menu."_s;
    QCOMPARE(icon->toolTip(), u"2 held, 1 unsure for review"_s + hint);
    QVERIFY(icon->icon().cacheKey() != main.windowIcon().cacheKey());

    QString during;
    m_duringScan = [&] {
        during = icon->toolTip();
        // What a scan of two accounts records: one ok, one failed and told.
        StateDatabase db(m_dir->path());
        QVERIFY(db.open());
        ScanLog log(db);
        const qint64 ok = log.begin(u"mail.example.org"_s, u"alice"_s, QDateTime::currentDateTimeUtc());
        QVERIFY(log.finish({ok, {}, {}, {}, 3, 0, 0, {}}));
        const qint64 bad = log.begin(u"pop.test"_s, u"bob"_s, QDateTime::currentDateTimeUtc());
        QVERIFY(log.finish({bad, {}, {}, {}, 0, 0, 0, u"Authentication failed."_s}));
        main.notifyFailure(u"pop.test: Authentication failed."_s);
    };
    form->mnuSysTrayScanNow()->trigger();
    QCOMPARE(m_scans, 1);
    QVERIFY2(during.startsWith(u"Scanning\u2026 \u00b7 2 held, 1 unsure for review"_s), qPrintable(during));
    const QString after = icon->toolTip();
    QVERIFY2(after.startsWith(u"2 held, 1 unsure for review \u00b7 last scan "_s), qPrintable(after));
    QVERIFY2(after.endsWith(u", 1 account ok, 1 account failed: bob@pop.test"_s + hint), qPrintable(after));

    // A click on the failure's notice leads to the log, one on a spam notice to the Spam tab.
    auto *tabs = UiTest::SSTab1(main);
    form->mnuHideSysTrayConfg()->trigger();
    Q_EMIT icon->messageClicked();
    QVERIFY(main.isVisible());
    QCOMPARE(tabs->currentWidget()->objectName(), u"tabLog"_s);
    main.notify(u"Spam found in this scan: 1"_s);
    main.showMinimized();
    Q_EMIT icon->messageClicked();
    QVERIFY(!main.isMinimized());
    QCOMPARE(tabs->currentWidget()->objectName(), u"tabSpam"_s);

    // A clean scan clears the failure; keeping a message lowers the count.
    m_duringScan = nullptr;
    form->mnuSysTrayScanNow()->trigger();
    QVERIFY2(icon->toolTip().endsWith(u", 0 accounts ok"_s + hint), qPrintable(icon->toolTip()));
    {
        StateDatabase db(m_dir->path());
        QVERIFY(db.open());
        const QList<ReviewList::Message> rows = ReviewList(db).all();
        const auto held = std::find_if(rows.cbegin(), rows.cend(),
                                       [](const ReviewList::Message &m) { return m.state == ReviewList::State::Held; });
        QVERIFY(held != rows.cend());
        QVERIFY(ReviewList(db).markNotSpam({held->id}));
    }
    auto *spam = main.findChild<SpamReviewTab *>(u"tabSpam"_s);
    QVERIFY(spam);
    spam->refresh();
    QVERIFY2(icon->toolTip().startsWith(u"1 held, 1 unsure for review"_s), qPrintable(icon->toolTip()));
}

void tst_FrmStart::exitPaths_data()
{
    QTest::addColumn<int>("path");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("trayAvailable");
    QTest::addColumn<int>("saveAnswer"); // to "Save changes?" after an unsaved change; -1: no change

    const struct
    {
        const char *name;
        ExitPath path;
    } paths[] = {{"tray Exit", ExitPath::TrayExit},
                 {"File Exit", ExitPath::FileExit},
                 {"closing the window", ExitPath::WindowClose}};
    for (const auto &p : paths) {
        QTest::addRow("%s, OK", p.name) << int(p.path) << int(MessageBox::Ok) << true << -1;
        QTest::addRow("%s, Cancel", p.name) << int(p.path) << int(MessageBox::Cancel) << true << -1;
        QTest::addRow("%s, Cancel, no tray", p.name) << int(p.path) << int(MessageBox::Cancel) << false << -1;
        QTest::addRow("%s, OK, unsaved: Discard", p.name)
            << int(p.path) << int(MessageBox::Ok) << true << int(MessageBox::Discard);
        QTest::addRow("%s, OK, unsaved: Cancel keeps running", p.name)
            << int(p.path) << int(MessageBox::Ok) << true << int(MessageBox::Cancel);
    }
}

void tst_FrmStart::exitPaths()
{
    QFETCH(int, path);
    QFETCH(int, answer);
    QFETCH(bool, trayAvailable);
    QFETCH(int, saveAnswer);
    auto form = start(trayAvailable);
    frmMain &main = form->mainWindow();
    QSignalSpy ending(&main, &frmMain::programEnding);

    if (saveAnswer >= 0)
        main.gridblacklist()->appendRow({u"unsaved.example"_s});
    MessageBox::queueAnswer(MessageBox::Button(answer));
    if (saveAnswer >= 0)
        MessageBox::queueAnswer(MessageBox::Button(saveAnswer));
    switch (ExitPath(path)) {
    case ExitPath::TrayExit: form->mnuSysTrayExit()->trigger(); break;
    case ExitPath::FileExit: form->mnuFileExit()->trigger(); break;
    case ExitPath::WindowClose: main.close(); break;
    }

    const qsizetype boxes = saveAnswer >= 0 ? 2 : 1;
    QCOMPARE(MessageBox::records().size(), boxes);
    if (saveAnswer >= 0) {
        QCOMPARE(MessageBox::records().at(1).title, u"Save changes?"_s);
        QCOMPARE(MessageBox::records().at(1).buttons, MessageBox::SaveDiscardCancel);
    }
    if (saveAnswer == MessageBox::Cancel) {
        QVERIFY(SysTrayModule::TrayIconData());
        QCOMPARE(ending.size(), 0);
        QVERIFY(!main.isEnding());
        QVERIFY(main.hasUnsavedChanges());
        return;
    }
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
        QCOMPARE(MessageBox::records().size(), boxes);
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

    // The menu offers Hide or Show, whichever applies.
    const QStringList whileShown{u"Scan Now"_s, u"Hide Application"_s, u"Exit"_s};
    const QStringList whileHidden{u"Scan Now"_s, u"Show Application"_s, u"Exit"_s};
    QCOMPARE(shownTexts(form->mnuSysTray()), whileShown);
    form->mnuHideSysTrayConfg()->trigger();
    QCOMPARE(main.isVisible(), !trayAvailable);
    QCOMPARE(main.isMinimized(), !trayAvailable);
    QCOMPARE(shownTexts(form->mnuSysTray()), whileHidden);
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
