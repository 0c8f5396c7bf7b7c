#include "scan/rules/ruleswitches.h"

#include "scan/scanform.h"
#include "state/appsettings.h"

#include <QHash>

using namespace Qt::StringLiterals;

namespace Scan {

bool RuleSwitches::isOn(const Rule &rule) const
{
    const RuleSwitch which = rule.switchedBy();
    switch (which.kept) {
    case RuleSwitch::Kept::OnForm: {
        // A rule is on only when its box is ticked (1), never when greyed.
        static const QHash<QString, FormSwitch> boxes{{u"checkwhitelist"_s, FormSwitch::Whitelist},
                                                      {u"checkblacklist"_s, FormSwitch::Blacklist},
                                                      {u"checkspamcop"_s, FormSwitch::SpamCop},
                                                      {u"checkkeywords"_s, FormSwitch::Keywords}};
        const auto box = boxes.constFind(which.key);
        return box != boxes.cend() && m_form.switchValue(*box) == 1;
    }
    case RuleSwitch::Kept::InSettings: return m_settings.switchedOn(which.key);
    }
    return false;
}

} // namespace Scan
