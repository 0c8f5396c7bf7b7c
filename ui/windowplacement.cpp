#include "ui/windowplacement.h"

#include "state/appsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

const QString GeometryKey = u"Window/geometry"_s;
const QString MaximizedKey = u"Window/maximized"_s;

qint64 overlap(const QRect &a, const QRect &b)
{
    const QRect both = a.intersected(b);
    return both.isValid() ? qint64(both.width()) * both.height() : 0;
}

} // namespace

WindowPlacement::WindowPlacement(const QString &folder)
    : m_path(QDir(folder).filePath(AppSettings::fileName()))
{}

QRect WindowPlacement::clamped(const QRect &saved, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return saved;
    QRect screen = screens.constFirst();
    for (const QRect &s : screens) {
        if (overlap(saved, s) > overlap(saved, screen))
            screen = s;
    }
    QRect r(saved.topLeft(), saved.size().boundedTo(screen.size()));
    r.moveLeft(qBound(screen.left(), r.left(), screen.right() - r.width() + 1));
    r.moveTop(qBound(screen.top(), r.top(), screen.bottom() - r.height() + 1));
    return r;
}

void WindowPlacement::restore(QWidget &window) const
{
    const QFileInfo file(m_path);
    if (!file.exists() || file.size() > AppSettings::MaxFileSize)
        return;
    const QSettings ini(m_path, QSettings::IniFormat);
    const QStringList parts = ini.value(GeometryKey).toString().split(u',');
    if (parts.size() != 4)
        return;
    int numbers[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts.at(i).trimmed().toInt(&ok);
        if (!ok)
            return;
    }
    if (numbers[2] <= 0 || numbers[3] <= 0)
        return;
    const QSize size = QSize(numbers[2], numbers[3]).expandedTo(window.minimumSize());
    QList<QRect> screens;
    if (QScreen *primary = QGuiApplication::primaryScreen())
        screens.append(primary->availableGeometry());
    for (QScreen *screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    // Position with its frame, size without, as pos() and size() give them.
    const QRect r = clamped(QRect(QPoint(numbers[0], numbers[1]), size), screens);
    window.move(r.topLeft());
    window.resize(r.size());
    if (ini.value(MaximizedKey).toBool())
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

bool WindowPlacement::save(const QWidget &window)
{
    m_error.clear();
    // QSettings writes to the target of a link in the file's place.
    if (QFileInfo(m_path).isSymLink()) {
        m_error = u"%1 is a symbolic link; the window's size was not saved"_s.arg(QDir::toNativeSeparators(m_path));
        return false;
    }
    const bool maximized = window.isMaximized();
    const QRect r = maximized ? window.normalGeometry() : QRect(window.pos(), window.size());
    QSettings ini(m_path, QSettings::IniFormat);
    // A window maximized from the start has no size of its own: the saved one stays.
    if (r.isValid())
        ini.setValue(GeometryKey, u"%1,%2,%3,%4"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()));
    ini.setValue(MaximizedKey, maximized);
    ini.sync();
    if (ini.status() == QSettings::NoError)
        return true;
    m_error = u"Cannot save "_s + QDir::toNativeSeparators(m_path);
    return false;
}
