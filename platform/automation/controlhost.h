#pragma once
// Host side of the automation layer: loads a control library from a folder and
// creates objects by class id or programmatic id.

#include "platform/automation/dispatch.h"

#include <QLibrary>
#include <QObject>
#include <QString>

namespace Automation {

class ControlHost final
{
public:
    ControlHost() = default;
    Q_DISABLE_COPY_MOVE(ControlHost)

    // Loads libraryPath (resolving DllGetClassObject) and creates classId with
    // the given parent. Returns nullptr and sets errorString() on failure.
    QObject *create(const QString &libraryPath, const QString &classId, QWidget *parent = nullptr);
    // For the published ids (Tarnpostctl::ClassIdTarnpost, ...), which are Latin-1 text.
    QObject *create(const QString &libraryPath, const char *classId, QWidget *parent = nullptr)
    {
        return create(libraryPath, QString::fromLatin1(classId), parent);
    }

    // Looks progId up in the per-user class registry, then creates it.
    QObject *createByProgId(const QString &progId, QWidget *parent = nullptr);

    QString errorString() const { return m_errorString; }

private:
    QString m_errorString;
};

} // namespace Automation
