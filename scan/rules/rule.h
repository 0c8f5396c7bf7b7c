#pragma once
// One rule of the scan: a name, the switch that turns it on, and a judgement
// of the message under scan. RuleBook lists the rules in the order they
// judge; the first that keeps or condemns a message ends its judgement.

#include <QString>
#include <QStringList>

#include <optional>

namespace Scan {

class RuleContext;

// Why a message was condemned: the rule, the entry that matched and where.
struct Verdict
{
    QString rule;  // "blacklist", "keyword", "learned filter"
    QString entry; // as the user wrote it; the learned filter's score
    // "sender", "subject", "body", the same with "decoded " before them,
    // or the words that weighed most with the learned filter
    QString where;
};

// Where a rule's switch is kept: a check box of the form, read each time the
// rule is about to judge (the user may tick it during a scan), or a key of
// settings.ini, read once when the scan starts.
struct RuleSwitch
{
    enum class Kept { OnForm, InSettings };
    Kept kept;
    QString key; // the box's name on the window ("checkwhitelist"), or the settings.ini key
};

class Rule
{
public:
    enum class Outcome {
        Pass,    // the next rule judges
        Keep,    // not spam: no later rule looks at the message
        Condemn, // spam, for the reason in verdict
        // Perhaps spam (a guess near the line): left on the server and
        // listed for the user to decide; no later rule looks at it.
        Unsure,
    };
    struct Judgement
    {
        Outcome outcome = Outcome::Pass;
        Verdict verdict;
    };

    virtual ~Rule() = default;

    virtual QString name() const = 0;
    virtual RuleSwitch switchedBy() const = 0;
    // Judges the context's current message. A rule that yields returns Pass
    // as soon as the context says the scan is stopping.
    virtual Judgement judge(RuleContext &scan) = 0;
    // What its verdicts depend on besides the message (its entries, a
    // threshold), asked while it is on: "check each message only once"
    // judges every message again when any of it changes. Nothing when it
    // can keep or condemn nothing as things stand.
    virtual std::optional<QStringList> verdictInputs(RuleContext &scan)
    {
        Q_UNUSED(scan)
        return QStringList();
    }

protected:
    static Judgement pass() { return {}; }
    static Judgement keep() { return {Outcome::Keep, {}}; }
    static Judgement condemn(const Verdict &verdict) { return {Outcome::Condemn, verdict}; }
    static Judgement unsure(const Verdict &verdict) { return {Outcome::Unsure, verdict}; }
};

} // namespace Scan
