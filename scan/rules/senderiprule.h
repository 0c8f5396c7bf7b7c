#pragma once
// Shows the sending IP address of the first "Received:" header on the
// status line; it condemns nothing.

#include "scan/rules/rule.h"

namespace Scan {

class SenderIpRule final : public Rule
{
public:
    QString name() const override;
    RuleSwitch switchedBy() const override;
    Judgement judge(RuleContext &scan) override;
    std::optional<QStringList> verdictInputs(RuleContext &scan) override;
};

} // namespace Scan
