#pragma once
// A subject or body that contains an entry of the keyword list is spam.
// Entries are tried in list order, each on the subject and then on the
// body, the raw text first: decoding only ever adds matches.

#include "scan/keywordmatcher.h"
#include "scan/listentries.h"
#include "scan/rules/rule.h"

class ListTable;

namespace Scan {

class KeywordRule final : public Rule
{
public:
    explicit KeywordRule(ListTable *keywords);

    QString name() const override;
    RuleSwitch switchedBy() const override;
    Judgement judge(RuleContext &scan) override;
    std::optional<QStringList> verdictInputs(RuleContext &scan) override;

private:
    bool matchedRaw(RuleContext &scan);
    bool matchedFrom(RuleContext &scan, int index);
    bool matchedDecoded(RuleContext &scan);
    // The matcher follows the keyword list, which a yield may have changed.
    void updateMatcher();

    ListEntries m_keywords;
    KeywordMatcher m_matcher;
    quint64 m_matcherGeneration = 0;
    Verdict m_verdict;
};

} // namespace Scan
