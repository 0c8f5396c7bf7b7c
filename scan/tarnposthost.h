#pragma once
// The one POP3 control a form hosts: created from the library in the program
// folder and loaded with the properties saved with the main window, for the
// window and the command-line scan alike.

#include "platform/automation/tarnpostproxy.h"

#include <QPointer>
#include <QString>

#include <memory>

class QWidget;

namespace Automation {
class ControlHost;
}

class TarnpostHost final
{
public:
    TarnpostHost();
    // The control goes first; its own destruction closes an open session.
    ~TarnpostHost();
    Q_DISABLE_COPY_MOVE(TarnpostHost)

    // Returns false, with errorString(), when the control cannot be created.
    bool create(const QString &programFolder, QWidget *parent);
    Automation::TarnpostProxy &proxy() { return m_proxy; }
    QString errorString() const { return m_error; }

private:
    std::unique_ptr<Automation::ControlHost> m_host;
    QPointer<QObject> m_created;  // a test may point the proxy at an object of its own
    Automation::TarnpostProxy m_proxy;
    QString m_error;
};
