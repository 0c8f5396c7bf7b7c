#pragma once
// The data files a save could not write, told to the user in one message box
// that names each file and the reason.

#include <QList>
#include <QString>

class QWidget;

class SaveReport final
{
public:
    void addFailure(const QString &path, const QString &reason);
    bool isEmpty() const { return m_failures.isEmpty(); }
    QString text() const;
    // Shows the box when a file failed; nothing otherwise.
    void show(QWidget *parent) const;

    static QString title();

private:
    struct Failure
    {
        QString path;
        QString reason;
    };
    QList<Failure> m_failures;
};
