#include "scan/rules/whitelistrule.h"

#include "scan/rules/rulecontext.h"
#include "scan/scanprogress.h"

using namespace Qt::StringLiterals;

namespace Scan {

QString WhitelistRule::name() const { return u"whitelist"_s; }

RuleSwitch WhitelistRule::switchedBy() const { return {RuleSwitch::Kept::OnForm, u"checkwhitelist"_s}; }

Rule::Judgement WhitelistRule::judge(RuleContext &scan)
{
    bool decoded = false;
    int at = -1;
    if (!listedRawOrDecoded(scan, &decoded, &at))
        return pass();
    scan.progress().setCaption(u"WHITELIST ADDRESS DETECTED"_s);
    return keep();
}

} // namespace Scan
