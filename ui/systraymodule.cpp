#include "ui/systraymodule.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QLocale>
#include <QPainter>
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

Look lookOf(const Status &status)
{
    if (status.scanning)
        return Look::Scanning;
    if (!status.failing.isEmpty() || status.problem)
        return Look::Failing;
    // Unsure messages wait for the user's word as held ones do.
    if (status.held > 0 || status.unsure > 0)
        return Look::Held;
    return Look::Idle;
}

QString statusTip(const Status &status, const QString &hint, const QDateTime &now)
{
    QStringList parts;
    if (status.scanning)
        parts.append(u"Scanning\u2026"_s);
    if (status.held > 0 && status.unsure > 0)
        parts.append(u"%1 held, %2 unsure for review"_s.arg(status.held).arg(status.unsure));
    else if (status.held > 0)
        parts.append(u"%1 held for review"_s.arg(status.held));
    else if (status.unsure > 0)
        parts.append(u"%1 unsure for review"_s.arg(status.unsure));
    else if (status.lastScan.isValid())
        parts.append(u"nothing held for review"_s);
    if (status.lastScan.isValid()) {
        const QLocale locale;
        const QDateTime at = status.lastScan.toLocalTime();
        const QString when = at.date() == now.toLocalTime().date() ? locale.toString(at.time(), QLocale::ShortFormat)
                                                                   : locale.toString(at, QLocale::ShortFormat);
        const auto accounts = [](qsizetype n) { return n == 1 ? u"1 account"_s : u"%1 accounts"_s.arg(n); };
        QString scan = u"last scan "_s + when;
        if (status.accountsOk > 0 || status.failing.isEmpty())
            scan += u", %1 ok"_s.arg(accounts(status.accountsOk));
        if (!status.failing.isEmpty())
            scan += u", %1 failed: %2"_s.arg(accounts(status.failing.size()), status.failing.join(u", "_s));
        else if (status.problem)
            scan += u", with a problem (see the status line)"_s;
        parts.append(scan);
    }
    if (parts.isEmpty())
        return hint;
    QString line = parts.join(u" \u00b7 "_s);
    line[0] = line[0].toUpper();
    return line + u'\n' + hint;
}

QIcon statusIcon(const QIcon &base, const Status &status)
{
    const Look look = lookOf(status);
    if (look == Look::Idle)
        return base;
    QString text;
    QColor fill;
    switch (look) {
    case Look::Scanning:
        fill = QColor(0x1e, 0x6f, 0xd9);
        text = u"\u2026"_s;
        break;
    case Look::Failing:
        fill = QColor(0xc6, 0x28, 0x28);
        text = u"!"_s;
        break;
    case Look::Held: {
        fill = QColor(0xe6, 0x8a, 0x00);
        const int waiting = status.held + status.unsure;
        text = waiting > 99 ? u"99+"_s : QString::number(waiting);
        break;
    }
    case Look::Idle: break;
    }
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap = base.pixmap(QSize(size, size));
        if (pixmap.isNull())
            continue;
        pixmap = pixmap.scaled(size, size);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        // A badge in the lower right corner, large enough to read at tray sizes.
        const qreal badge = size * (text.size() > 2 ? 0.75 : 0.6);
        const QRectF rect(size - badge, size - size * 0.6, badge, size * 0.6);
        painter.setPen(QPen(Qt::white, qMax(1.0, size / 16.0)));
        painter.setBrush(fill);
        painter.drawRoundedRect(rect, rect.height() / 2, rect.height() / 2);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(qMax(6, int(rect.height() * (text.size() > 1 ? 0.62 : 0.8))));
        painter.setFont(font);
        painter.drawText(rect, Qt::AlignCenter, text);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void ShowStatus(const Status &status, const QIcon &base, const QString &hint)
{
    if (!s_icon)
        return;
    const QString tip = statusTip(status, hint);
    if (s_icon->toolTip() != tip)
        s_icon->setToolTip(tip);
    // A new icon only when the look or the count changes: hosts redraw on every change.
    const QString key =
        u"%1/%2"_s.arg(int(lookOf(status))).arg(lookOf(status) == Look::Held ? status.held + status.unsure : 0);
    if (s_icon->property("statusKey").toString() != key) {
        s_icon->setProperty("statusKey", key);
        s_icon->setIcon(statusIcon(base, status));
    }
}

} // namespace SysTrayModule
