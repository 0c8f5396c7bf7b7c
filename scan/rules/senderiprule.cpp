#include "scan/rules/senderiprule.h"

#include "scan/messageunderscan.h"
#include "scan/rules/rulecontext.h"
#include "scan/scanprogress.h"
#include "scan/servertext.h"

using namespace Qt::StringLiterals;

namespace Scan {

QString SenderIpRule::name() const { return u"sender IP"_s; }

RuleSwitch SenderIpRule::switchedBy() const { return {RuleSwitch::Kept::OnForm, u"checkspamcop"_s}; }

Rule::Judgement SenderIpRule::judge(RuleContext &scan)
{
    const QString received = upperCased(scan.message().header(u"Received:"_s));
    if (!received.contains(u"FROM ["_s))
        return pass();
    // Without a closing bracket the address is the rest of the line.
    const qsizetype close = received.indexOf(u']');
    const QString head = close < 0 ? received : received.left(close);
    const qsizetype open = head.indexOf(u'[');
    const QString address = open < 0 ? head : head.mid(open + 1);
    scan.progress().setCaption(u"CHECKING IP ADDRESS "_s + address);
    return pass();
}

std::optional<QStringList> SenderIpRule::verdictInputs(RuleContext &scan)
{
    Q_UNUSED(scan)
    return std::nullopt; // it only shows the address
}

} // namespace Scan
