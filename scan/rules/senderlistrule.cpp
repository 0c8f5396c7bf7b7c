#include "scan/rules/senderlistrule.h"

#include "scan/keywordmatcher.h"
#include "scan/messageunderscan.h"
#include "scan/rules/rulecontext.h"
#include "scan/scanprogress.h"
#include "scan/servertext.h"

namespace Scan {

SenderListRule::SenderListRule(ListTable *list)
    : m_list(list)
{}

std::optional<QStringList> SenderListRule::verdictInputs(RuleContext &scan)
{
    Q_UNUSED(scan)
    return m_list.upper();
}

bool SenderListRule::listedRawOrDecoded(RuleContext &scan, bool *decoded, int *at)
{
    *decoded = false;
    const QString from = scan.message().fromUpper();
    if (listed(scan, from, at))
        return true;
    if (scan.stopping())
        return false;
    // An encoded display name hides the entry from the raw text.
    const QString decodedFrom = scan.message().decoded().fromUpper();
    if (decodedFrom.isEmpty() || decodedFrom == from || !listed(scan, decodedFrom, at))
        return false;
    *decoded = true;
    return true;
}

bool SenderListRule::holds(const QString &fromUpper, const QString &decodedFromUpper)
{
    const KeywordMatcher &matcher = m_list.matcher();
    return matcher.firstMatch(fromUpper) != KeywordMatcher::NoMatch
           || matcher.firstMatch(decodedFromUpper) != KeywordMatcher::NoMatch;
}

bool SenderListRule::listed(RuleContext &scan, const QString &from, int *at)
{
    const quint64 generation = m_list.generation();
    const QStringList entries = m_list.upper();
    if (entries.isEmpty())
        return false;
    // One pass over the sender finds the first entry in list order. The
    // captions of the entries before it are still written in order; without
    // a listener only the caption standing at a flush is ever seen, so only
    // the last is.
    const int found = m_list.matcher().firstMatch(from);
    const int last = found == KeywordMatcher::NoMatch ? int(entries.size()) - 1 : found;
    ScanProgress &progress = scan.progress();
    for (int k = progress.listening() ? 0 : last; k <= last; ++k) {
        progress.setFromCaption(from, entries.at(k));
        if (progress.yield() && scan.stopping())
            return false;
        if (m_list.generation() != generation) {
            // Edited meanwhile: this entry as it was, then entry by entry.
            if (containsEntry(from, entries.at(k))) {
                *at = k;
                return true;
            }
            return listedFrom(scan, from, k + 1, at);
        }
    }
    if (found == KeywordMatcher::NoMatch)
        return false;
    *at = found;
    return true;
}

bool SenderListRule::listedFrom(RuleContext &scan, const QString &from, int first, int *at)
{
    // The list is read again at every entry: a yield may have changed it.
    for (int k = first; k < m_list.upper().size(); ++k) {
        const QString entry = m_list.upper().at(k);
        scan.progress().setFromCaption(from, entry);
        if (scan.progress().yield() && scan.stopping())
            return false;
        if (containsEntry(from, entry)) {
            *at = k;
            return true;
        }
    }
    return false;
}

} // namespace Scan
