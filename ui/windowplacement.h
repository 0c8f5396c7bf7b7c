#pragma once
// The main window's size and place, kept in settings.ini ("Window/geometry"
// as x,y,width,height and "Window/maximized") and put back at start on a
// screen that is there now.

#include <QList>
#include <QRect>
#include <QString>

class QWidget;

class WindowPlacement final
{
public:
    explicit WindowPlacement(const QString &folder);

    // Nothing saved, or nothing readable: the window keeps its designed size.
    void restore(QWidget &window) const;
    bool save(const QWidget &window); // errorText() says why not
    QString errorText() const { return m_error; }

    // `saved` moved onto the screen it overlaps most (else `screens`'
    // first), shrunk to fit it. `screens` are available areas.
    static QRect clamped(const QRect &saved, const QList<QRect> &screens);

private:
    QString m_path;
    QString m_error;
};
