#include "scan/rules/learnedfilterrule.h"

#include "learn/learnedfilter.h"
#include "scan/messageunderscan.h"
#include "scan/rules/rulecontext.h"
#include "scan/scanprogress.h"
#include "scan/spamtrainer.h"
#include "state/appsettings.h"

using namespace Qt::StringLiterals;

namespace Scan {

// settings.ini's default is the filter's own.
static_assert(AppSettings::DefaultThreshold == LearnedFilter::DefaultThreshold);

QString LearnedFilterRule::name() const { return SpamTrainer::learnedRule(); }

RuleSwitch LearnedFilterRule::switchedBy() const { return {RuleSwitch::Kept::InSettings, u"LearnedFilter/enabled"_s}; }

const LearnedFilter *LearnedFilterRule::judgingFilter(RuleContext &scan)
{
    SpamTrainer *trainer = scan.trainer();
    if (!trainer)
        return nullptr;
    const LearnedFilter &filter = trainer->filter();
    // Without both kinds of mail learned, every score is a guess.
    if (filter.spamMessages() == 0 || filter.hamMessages() == 0)
        return nullptr;
    return &filter;
}

Rule::Judgement LearnedFilterRule::judge(RuleContext &scan)
{
    const LearnedFilter *filter = judgingFilter(scan);
    if (!filter)
        return pass();
    scan.progress().setCaption(u"LEARNED FILTER CHECK"_s);
    const LearnedFilter::Verdict verdict = filter->classify(scan.message().decoded().message());
    const AppSettings &settings = scan.settings();
    const Verdict why{name(), QString::number(verdict.score, 'f', 3), LearnedFilter::reason(verdict)};
    if (verdict.score > settings.learnedThreshold)
        return condemn(why);
    if (verdict.score >= settings.unsureThreshold)
        return unsure(why);
    return pass();
}

std::optional<QStringList> LearnedFilterRule::verdictInputs(RuleContext &scan)
{
    // A lower band lists messages that were let through before. What it
    // learns from scan to scan does not count, or every scan would judge everything again.
    if (!judgingFilter(scan))
        return std::nullopt;
    return QStringList{QString::number(scan.settings().learnedThreshold, 'g', 17),
                       QString::number(scan.settings().unsureThreshold, 'g', 17)};
}

} // namespace Scan
