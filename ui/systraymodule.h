#pragma once
// The program's one notification-area icon, held for the whole run.

#include <QIcon>
#include <QString>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace SysTrayModule {

// The name of the icon's own window where the tray embeds one (X11), so
// tools and tests can find it in the tray host's window tree.
QString trayWindowTitle();

// Adds the icon with its tip, owned by `form`. The menu, when given, is also
// the icon's context menu: tray hosts that open menus themselves never
// report a left click. Adding while an icon exists changes nothing.
void AddSysTrayIcon(QWidget *form, const QString &tip, const QIcon &icon, QMenu *contextMenu = nullptr);
// Removes the icon; nothing happens when there is none.
void RemoveSysTrayIcon();

// The icon, or nullptr before it was added and after it was removed.
QSystemTrayIcon *TrayIconData();

} // namespace SysTrayModule
