#pragma once
// A sender that contains an entry of the blacklist is spam.

#include "scan/rules/senderlistrule.h"

namespace Scan {

class BlacklistRule final : public SenderListRule
{
public:
    using SenderListRule::SenderListRule;

    QString name() const override;
    RuleSwitch switchedBy() const override;
    Judgement judge(RuleContext &scan) override;
};

} // namespace Scan
