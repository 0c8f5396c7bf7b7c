#include "ui/accountconnectiontest.h"

#include "config/accountaddress.h"
#include "pop3/host/tarnpostsite.h"

#include <QScopeGuard>
#include <QWidget>

using namespace Qt::StringLiterals;

AccountConnectionTest::AccountConnectionTest(const QString &programFolder, QWidget *parent)
    : m_programFolder(programFolder)
    , m_parent(parent)
{}

QString AccountConnectionTest::test(const QString &server, const QString &login, const QString &password)
{
    if (m_running)
        return QString(); // one test at a time; the dialog never asks for two
    const AccountAddress address = AccountAddress::parse(server);
    if (!address.isValid())
        return u"The mail server is not a valid address: %1."_s.arg(address.error());
    Automation::TarnpostSite site;
    if (!site.create(m_programFolder, m_parent.data()))
        return u"The POP3 control cannot be loaded: %1"_s.arg(site.errorString());
    Automation::TarnpostProxy &control = site.proxy();
    control.setPOPHostname(address.host());
    control.setPOPPort(address.portOr(control.POPPort()));
    control.setPOPSecurity(address.security());
    control.setPOPUsername(login);
    control.setPOPPassword(password);

    m_cancelled = false;
    m_running = &control;
    const auto done = qScopeGuard([this] { m_running = nullptr; });
    control.Connect(); // greeting, login and STAT; waits in the event loop
    if (m_cancelled) {
        control.Disconnect();
        return u"The test was stopped."_s;
    }
    if (control.Error() != 0)
        return control.ErrorText();
    const qint32 count = control.MsgCount();
    control.Disconnect();
    const QString messages = count == 1 ? u"1 message"_s : u"%1 messages"_s.arg(count);
    if (address.security() != Tarnpostctl::SecurityNone)
        return messages + u", TLS certificate ok"_s;
    return messages + u", no TLS: the password travels in clear text"_s;
}

void AccountConnectionTest::cancel()
{
    if (!m_running)
        return;
    m_cancelled = true;
    // The control has no abort; its waits read the timeout at every wake,
    // so none left ends the wait about a second after the last arrival.
    m_running->setPOPTimeout(0);
}
