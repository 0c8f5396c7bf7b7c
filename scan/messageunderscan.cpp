#include "scan/messageunderscan.h"

#include "pop3/host/tarnpostproxy.h"

namespace Scan {

MessageUnderScan::MessageUnderScan(Automation::TarnpostProxy &control)
    : m_control(control)
{}

void MessageUnderScan::reset()
{
    m_haveSubject = false;
    m_haveBody = false;
    m_body = {}; // not kept while the next message arrives
    Automation::TarnpostProxy &control = m_control;
    m_decoded.reset([&control] { return control.MsgHeaders(); }, [&control] { return control.MsgContents(); });
}

void MessageUnderScan::readSender()
{
    m_from = decodeServerText(m_control.MsgFrom());
    m_fromUpper = upperCased(m_from);
}

const QString &MessageUnderScan::subjectUpper()
{
    if (!m_haveSubject) {
        m_subjectUpper = upperCased(subject());
        m_haveSubject = true;
    }
    return m_subjectUpper;
}

const ServerBody &MessageUnderScan::body()
{
    if (!m_haveBody) {
        m_body = ServerBody(m_control.MsgContents());
        m_haveBody = true;
    }
    return m_body;
}

QString MessageUnderScan::subject() { return decodeServerText(m_control.MsgSubject()); }

QString MessageUnderScan::header(const QString &name) { return decodeServerText(m_control.GetOtherHeader(name)); }

} // namespace Scan
