#pragma once
// The mail server cell of an account: a plain host name (reached in clear
// text on the port saved with the window, as accounts always were), or
// pop3://host[:port] (clear text, 110), pop3s://host[:port] (TLS from the
// first byte, 995) or pop3+stls://host[:port] (clear text upgraded with STLS,
// which is then required, 110). IPv6 literals go in brackets.

#include "pop3/include/tarnpostctl.h"

#include <QString>

class AccountAddress final
{
public:
    // The control's POPSecurity, handed to it as it is.
    using Security = Tarnpostctl::Security;

    static constexpr int ClearPort = 110;
    static constexpr int TlsPort = 995;

    static AccountAddress parse(const QString &cell);

    bool isValid() const { return m_error.isEmpty(); }
    // Why the cell is not a valid address (empty when it is).
    QString error() const { return m_error; }
    // A plain host name: no scheme, so port and security come from the window.
    bool isPlain() const { return m_plain; }
    QString host() const { return m_host; }
    // The port written in the cell, else the scheme's default; 0 for a plain host.
    int port() const { return m_port; }
    Security security() const { return m_security; }
    // The port to connect to, given the one saved with the window.
    int portOr(int savedPort) const { return m_plain ? savedPort : m_port; }

private:
    QString m_error;
    bool m_plain = true;
    QString m_host;
    int m_port = 0;
    Security m_security = Tarnpostctl::SecurityNone;
};
