#pragma once
// The message the rules judge, read from the control as the rules ask for
// it: the sender, the subject and body as their bytes decode, the message
// decoded as a reader sees it, and other headers.

#include "scan/decodedmessage.h"
#include "scan/servertext.h"

#include <QString>

namespace Automation {
class TarnpostProxy;
}

namespace Scan {

class MessageUnderScan final
{
public:
    explicit MessageUnderScan(Automation::TarnpostProxy &control);

    // The control moves on to another message: nothing read so far is kept.
    void reset();
    // Reads the sender once the message is retrieved.
    void readSender();

    const QString &from() const { return m_from; }
    const QString &fromUpper() const { return m_fromUpper; }
    // The raw subject and body, decoded from their bytes and upper-cased,
    // each fetched the first time a rule asks.
    const QString &subjectUpper();
    const ServerBody &body();
    // The subject as the server's bytes decode, not its encoded words.
    QString subject();
    // The value of another header, decoded from its bytes.
    QString header(const QString &name);
    DecodedMessage &decoded() { return m_decoded; }

private:
    Automation::TarnpostProxy &m_control;
    QString m_from;
    QString m_fromUpper;
    QString m_subjectUpper;
    ServerBody m_body;
    DecodedMessage m_decoded;
    bool m_haveSubject = false;
    bool m_haveBody = false;
};

} // namespace Scan
