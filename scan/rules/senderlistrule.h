#pragma once
// What the whitelist and the blacklist share: whether the sender, raw or
// decoded, contains an entry of their list, with a caption for each entry
// tried in list order.

#include "scan/listentries.h"
#include "scan/rules/rule.h"

class ListTable;

namespace Scan {

class SenderListRule : public Rule
{
public:
    explicit SenderListRule(ListTable *list);

    std::optional<QStringList> verdictInputs(RuleContext &scan) override;

protected:
    // Whether the raw or the decoded From contains an entry; *decoded tells
    // which, *at which entry (an index into the list's entries).
    bool listedRawOrDecoded(RuleContext &scan, bool *decoded, int *at);
    // The same without captions or yields.
    bool holds(const QString &fromUpper, const QString &decodedFromUpper);
    QString entry(int at) { return m_list.entry(at); }

private:
    bool listed(RuleContext &scan, const QString &from, int *at);
    bool listedFrom(RuleContext &scan, const QString &from, int first, int *at);

    ListEntries m_list;
};

} // namespace Scan
