#include "scan/rules/blacklistrule.h"

using namespace Qt::StringLiterals;

namespace Scan {

QString BlacklistRule::name() const { return u"blacklist"_s; }

RuleSwitch BlacklistRule::switchedBy() const { return {RuleSwitch::Kept::OnForm, u"checkblacklist"_s}; }

Rule::Judgement BlacklistRule::judge(RuleContext &scan)
{
    bool decoded = false;
    int at = -1;
    if (!listedRawOrDecoded(scan, &decoded, &at))
        return pass();
    return condemn({name(), entry(at), decoded ? u"decoded sender"_s : u"sender"_s});
}

} // namespace Scan
