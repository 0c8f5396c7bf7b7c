#pragma once
// A sender that contains an entry of the whitelist is never spam.

#include "scan/rules/senderlistrule.h"

namespace Scan {

class WhitelistRule final : public SenderListRule
{
public:
    using SenderListRule::SenderListRule;

    QString name() const override;
    RuleSwitch switchedBy() const override;
    Judgement judge(RuleContext &scan) override;
    // Whether the list holds the sender, without captions: a message the
    // user asked to delete is kept when its sender is whitelisted by then.
    using SenderListRule::holds;
};

} // namespace Scan
