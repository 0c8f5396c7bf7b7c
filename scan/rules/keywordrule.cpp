#include "scan/rules/keywordrule.h"

#include "scan/messageunderscan.h"
#include "scan/rules/rulecontext.h"
#include "scan/scanprogress.h"
#include "scan/servertext.h"

using namespace Qt::StringLiterals;

namespace Scan {

KeywordRule::KeywordRule(ListTable *keywords)
    : m_keywords(keywords)
{}

QString KeywordRule::name() const { return u"keyword"_s; }

RuleSwitch KeywordRule::switchedBy() const { return {RuleSwitch::Kept::OnForm, u"checkkeywords"_s}; }

Rule::Judgement KeywordRule::judge(RuleContext &scan)
{
    if (matchedRaw(scan) || (!scan.stopping() && matchedDecoded(scan)))
        return condemn(m_verdict);
    return pass();
}

std::optional<QStringList> KeywordRule::verdictInputs(RuleContext &scan)
{
    Q_UNUSED(scan)
    return m_keywords.upper();
}

bool KeywordRule::matchedDecoded(RuleContext &scan)
{
    const QStringList entries = m_keywords.upper();
    if (entries.isEmpty())
        return false;
    updateMatcher();
    DecodedMessage &decoded = scan.message().decoded();
    const int inSubject = m_matcher.firstMatch(decoded.subjectUpper());
    const int inBody = m_matcher.firstMatch(decoded.bodyUpper());
    const int k = qMin(inSubject, inBody);
    if (k == KeywordMatcher::NoMatch)
        return false;
    const bool body = k != inSubject;
    scan.progress().setKeywordCaption(entries.at(k), body);
    m_verdict = {name(), m_keywords.entry(k), body ? u"decoded body"_s : u"decoded subject"_s};
    return true;
}

void KeywordRule::updateMatcher()
{
    if (m_matcherGeneration == m_keywords.generation())
        return;
    m_matcher.build(m_keywords.upper());
    m_matcherGeneration = m_keywords.generation();
}

bool KeywordRule::matchedRaw(RuleContext &scan)
{
    const quint64 generation = m_keywords.generation();
    const QStringList entries = m_keywords.upper();
    if (entries.isEmpty())
        return false;
    updateMatcher();
    MessageUnderScan &message = scan.message();
    ScanProgress &progress = scan.progress();
    // Entries are tried in order, each on the subject and then on the body;
    // the matcher finds the first hit of each text in one pass, and the
    // captions of the entries tried before it are still written in order.
    const int inSubject = m_matcher.firstMatch(message.subjectUpper());
    int inBody = KeywordMatcher::NoMatch;
    if (inSubject != 0)
        inBody = message.body().firstMatch(m_matcher, entries);
    // Without a listener only the caption standing at a flush is ever seen, so
    // most are skipped: a long list then costs next to nothing per entry.
    bool listening = progress.listening();
    const int last = int(entries.size()) - 1;
    for (int k = 0; k <= last; ++k) {
        if (k > 0 && m_keywords.generation() != generation)
            return matchedFrom(scan, k); // edited during a yield: go on entry by entry
        const bool show = listening || k % 16 == 0 || k == inSubject || k == inBody || k == last;
        if (show) {
            progress.setKeywordCaption(entries.at(k), false);
            if (progress.yield()) {
                if (scan.stopping())
                    return false;
                listening = progress.listening();
            }
        }
        if (k == inSubject) {
            m_verdict = {name(), m_keywords.entry(k), u"subject"_s};
            return true;
        }
        if (show) {
            progress.setKeywordCaption(entries.at(k), true);
            if (progress.yield()) {
                if (scan.stopping())
                    return false;
                listening = progress.listening();
            }
        }
        if (k == inBody) {
            m_verdict = {name(), m_keywords.entry(k), u"body"_s};
            return true;
        }
    }
    if (m_keywords.generation() != generation)
        return matchedFrom(scan, int(entries.size()));
    return false;
}

bool KeywordRule::matchedFrom(RuleContext &scan, int index)
{
    MessageUnderScan &message = scan.message();
    ScanProgress &progress = scan.progress();
    for (int k = index; k < m_keywords.upper().size(); ++k) {
        const QString entry = m_keywords.upper().at(k);
        const QString &subject = message.subjectUpper();
        progress.setKeywordCaption(entry, false);
        if (progress.yield() && scan.stopping())
            return false;
        if (containsEntry(subject, entry)) {
            m_verdict = {name(), m_keywords.entry(k), u"subject"_s};
            return true;
        }

        const ServerBody &body = message.body();
        progress.setKeywordCaption(entry, true);
        if (progress.yield() && scan.stopping())
            return false;
        if (body.contains(entry)) {
            m_verdict = {name(), m_keywords.entry(k), u"body"_s};
            return true;
        }
    }
    return false;
}

} // namespace Scan
