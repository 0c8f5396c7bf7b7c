#include "scan/rules/rulebook.h"

#include "scan/rules/blacklistrule.h"
#include "scan/rules/keywordrule.h"
#include "scan/rules/learnedfilterrule.h"
#include "scan/rules/senderiprule.h"
#include "scan/rules/whitelistrule.h"
#include "scan/scanform.h"

namespace Scan {

Rules ruleBook(ScanForm &form)
{
    Rules rules;
    rules.push_back(std::make_unique<WhitelistRule>(form.gridwhitelist()));
    rules.push_back(std::make_unique<BlacklistRule>(form.gridblacklist()));
    rules.push_back(std::make_unique<SenderIpRule>());
    rules.push_back(std::make_unique<KeywordRule>(form.gridkeywords()));
    rules.push_back(std::make_unique<LearnedFilterRule>());
    return rules;
}

} // namespace Scan
