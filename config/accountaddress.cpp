#include "config/accountaddress.h"

#include <QHostAddress>

using namespace Qt::StringLiterals;

namespace {

AccountAddress::Security securityOf(const QString &scheme, int *defaultPort)
{
    if (scheme == "pop3s"_L1) {
        *defaultPort = AccountAddress::TlsPort;
        return Tarnpostctl::SecurityTls;
    }
    *defaultPort = AccountAddress::ClearPort;
    return scheme == "pop3+stls"_L1 ? Tarnpostctl::SecurityStls : Tarnpostctl::SecurityNone;
}

} // namespace

AccountAddress AccountAddress::parse(const QString &cell)
{
    AccountAddress a;
    const qsizetype separator = cell.indexOf("://"_L1);
    if (separator < 0) {
        // Whatever the cell holds goes to the control as it always did.
        a.m_host = cell;
        return a;
    }
    a.m_plain = false;
    const QString text = cell.trimmed();
    const qsizetype schemeEnd = text.indexOf("://"_L1);
    const QString scheme = text.left(schemeEnd).toLower();
    if (scheme != "pop3"_L1 && scheme != "pop3s"_L1 && scheme != "pop3+stls"_L1) {
        a.m_error = u"unknown scheme \"%1\" (use pop3://, pop3s:// or pop3+stls://)"_s.arg(text.left(schemeEnd));
        return a;
    }
    int defaultPort = ClearPort;
    a.m_security = securityOf(scheme, &defaultPort);

    QString rest = text.mid(schemeEnd + 3);
    if (rest.endsWith(u'/'))
        rest.chop(1);
    for (const QChar c : std::as_const(rest)) {
        if (c == u'/' || c == u'?' || c == u'#' || c == u'@' || c == u',' || c.isSpace()
            || c.category() == QChar::Other_Control) {
            a.m_error = u"only a host name and a port may follow the scheme"_s;
            return a;
        }
    }

    QString portText;
    bool hasPort = false;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0) {
            a.m_error = u"the IPv6 address has no closing bracket"_s;
            return a;
        }
        a.m_host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':')) {
                a.m_error = u"only a port may follow the IPv6 address"_s;
                return a;
            }
            hasPort = true;
            portText = after.mid(1);
        }
        if (QHostAddress(a.m_host).protocol() != QAbstractSocket::IPv6Protocol) {
            a.m_error = u"brackets must hold an IPv6 address"_s;
            return a;
        }
    } else {
        const qsizetype colon = rest.indexOf(u':');
        a.m_host = colon < 0 ? rest : rest.left(colon);
        if (colon >= 0) {
            hasPort = true;
            portText = rest.mid(colon + 1);
        }
        if (a.m_host.contains(u'[') || a.m_host.contains(u']') || portText.contains(u':')) {
            a.m_error = u"an IPv6 address must be written in brackets, as in pop3s://[2001:db8::1]:995"_s;
            return a;
        }
    }
    if (a.m_host.isEmpty()) {
        a.m_error = u"the host name is missing"_s;
        return a;
    }
    if (hasPort) {
        bool digits = !portText.isEmpty() && portText.size() <= 5;
        for (const QChar c : std::as_const(portText))
            digits = digits && c >= u'0' && c <= u'9';
        const int port = digits ? portText.toInt() : 0;
        if (port < 1 || port > 65535) {
            a.m_error = u"the port must be a number from 1 to 65535"_s;
            return a;
        }
        a.m_port = port;
    } else {
        a.m_port = defaultPort;
    }
    return a;
}
