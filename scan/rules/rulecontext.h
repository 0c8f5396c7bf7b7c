#pragma once
// What a rule may ask of the scan while it judges: the message, the status
// captions, whether the program is ending, and the scan's settings.

class AppSettings;

namespace Scan {

class MessageUnderScan;
class ScanProgress;
class SpamTrainer;

class RuleContext
{
public:
    virtual MessageUnderScan &message() = 0;
    virtual ScanProgress &progress() = 0;
    // Whether the program is ending: a rule then stops at its next step.
    virtual bool stopping() = 0;
    virtual const AppSettings &settings() const = 0;
    // The learned filter's store; null while it is off or cannot be read.
    virtual SpamTrainer *trainer() = 0;

protected:
    ~RuleContext() = default;
};

} // namespace Scan
