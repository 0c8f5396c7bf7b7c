#pragma once
// A message whose learned-filter score is above the threshold is spam. It
// judges only once the filter has learned both kinds of mail.

#include "scan/rules/rule.h"

namespace Scan {

class LearnedFilterRule final : public Rule
{
public:
    QString name() const override;
    RuleSwitch switchedBy() const override;
    Judgement judge(RuleContext &scan) override;
};

} // namespace Scan
