#include "scan/rules/ruleswitches.h"

#include "scan/scanform.h"
#include "state/appsettings.h"

namespace Scan {

bool RuleSwitches::isOn(const Rule &rule) const
{
    const RuleSwitch which = rule.switchedBy();
    switch (which.kept) {
    case RuleSwitch::Kept::OnForm: return m_form.ruleOn(which.key);
    case RuleSwitch::Kept::InSettings: return m_settings.switchedOn(which.key);
    }
    return false;
}

} // namespace Scan
