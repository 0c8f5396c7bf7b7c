#pragma once
// The program's one notification-area icon, held for the whole run.

#include <QDateTime>
#include <QIcon>
#include <QString>
#include <QStringList>

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

// What the icon tells at a glance, and its tip in words.
struct Status
{
    bool scanning = false;
    int held = 0;         // messages held for review
    int unsure = 0;       // messages the learned filter was unsure of, for the user to tell
    QDateTime lastScan;   // the end of the last scan of this run; invalid before the first
    int accountsOk = 0;   // in the last scan
    QStringList failing;  // the accounts that failed in it, "login@server"
    bool problem = false; // it reported a failure beyond its accounts (the review list, the log)
};
enum class Look { Idle, Scanning, Held, Failing };

// Scanning over failing over held over idle: what most needs the user.
Look lookOf(const Status &status);
// "12 held for review · last scan 10:42, 2 accounts ok", then the click hint
// on its own line; the hint alone while there is nothing to tell.
QString statusTip(const Status &status, const QString &hint, const QDateTime &now = QDateTime::currentDateTime());
// The base icon with a badge for the look (the count held and unsure); the base itself when idle.
QIcon statusIcon(const QIcon &base, const Status &status);
// Puts both on the icon, when there is one.
void ShowStatus(const Status &status, const QIcon &base, const QString &hint);

} // namespace SysTrayModule
