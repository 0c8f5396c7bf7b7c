#pragma once
// The rules of the scan in the order they judge a message.

#include "scan/rules/rule.h"

#include <memory>
#include <vector>

class ScanForm;

namespace Scan {

using Rules = std::vector<std::unique_ptr<Rule>>;

// The list rules read their lists from the form.
Rules ruleBook(ScanForm &form);

} // namespace Scan
