#pragma once
// A message whose learned-filter score is above the threshold is spam; one
// in the band below it (from the unsure threshold up) is unsure. It judges
// only once the filter has learned both kinds of mail.

#include "scan/rules/rule.h"

namespace Scan {

class LearnedFilter;

class LearnedFilterRule final : public Rule
{
public:
    QString name() const override;
    RuleSwitch switchedBy() const override;
    Judgement judge(RuleContext &scan) override;
    // The thresholds, once the filter judges at all.
    std::optional<QStringList> verdictInputs(RuleContext &scan) override;

private:
    // Null while the filter is off, cannot be read or has not learned both kinds of mail.
    static const LearnedFilter *judgingFilter(RuleContext &scan);
};

} // namespace Scan
