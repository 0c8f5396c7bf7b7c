#pragma once
// The site of the one POP3 control a form hosts (Tarnpost1): creates it from
// the library in the program folder, loads the properties saved with the main
// window and owns it, for the window and the command-line scan alike.

#include "pop3/host/tarnpostproxy.h"

#include <QPointer>
#include <QString>

#include <memory>

class QWidget;

namespace Automation {

class ControlHost;

class TarnpostSite final
{
public:
    TarnpostSite();
    // The control goes first; its own destruction closes an open session.
    ~TarnpostSite();
    Q_DISABLE_COPY_MOVE(TarnpostSite)

    // Returns false, with errorString(), when the control cannot be created.
    bool create(const QString &programFolder, QWidget *parent);
    TarnpostProxy &proxy() { return m_proxy; }
    QString errorString() const { return m_error; }

private:
    std::unique_ptr<ControlHost> m_host;
    QPointer<QObject> m_created; // a test may point the proxy at an object of its own
    TarnpostProxy m_proxy;
    QString m_error;
};

} // namespace Automation
