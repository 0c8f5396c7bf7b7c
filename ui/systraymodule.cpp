#include "ui/systraymodule.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace SysTrayModule {

namespace {

QPointer<QSystemTrayIcon> s_icon;

// Qt's X11 tray icon is a private top-level widget with no title, so its
// window would carry the application's name like every other untitled
// window. It is created when the icon is shown and again whenever a tray
// host appears, so it is named each time it is shown.
class TrayWindowNamer final : public QObject
{
public:
    using QObject::QObject;

    static void name(QWidget *widget)
    {
        if (widget->isWindow() && widget->objectName() == "QSystemTrayIconSys"_L1
            && widget->windowTitle() != trayWindowTitle())
            widget->setWindowTitle(trayWindowTitle());
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType())
            name(static_cast<QWidget *>(watched));
        return false;
    }
};

QPointer<TrayWindowNamer> s_namer;

} // namespace

QString trayWindowTitle() { return u"Quellmail tray icon"_s; }

void AddSysTrayIcon(QWidget *form, const QString &tip, const QIcon &icon, QMenu *contextMenu)
{
    if (s_icon)
        return;
    if (!s_namer && qApp) {
        s_namer = new TrayWindowNamer(form);
        qApp->installEventFilter(s_namer);
    }
    s_icon = new QSystemTrayIcon(icon, form);
    s_icon->setToolTip(tip);
    if (contextMenu)
        s_icon->setContextMenu(contextMenu);
    // Without a tray host this only waits for one to appear; nothing to report.
    s_icon->show();
    for (QWidget *widget : QApplication::topLevelWidgets())
        TrayWindowNamer::name(widget);
}

void RemoveSysTrayIcon()
{
    delete s_namer.data();
    if (!s_icon)
        return;
    s_icon->hide();
    delete s_icon.data();
}

QSystemTrayIcon *TrayIconData() { return s_icon.data(); }

} // namespace SysTrayModule
