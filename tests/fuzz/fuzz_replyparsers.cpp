// STAT, UIDL and LIST replies: any text parses without a fault, and numbers
// the parser is given plainly come back unchanged.

#include "pop3/replyparsing.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QString>

using namespace Tarnpostctl;
using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString reply = QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    const ReplyParsing::StatFields stat = ReplyParsing::parseStat(reply);
    const QString field = ReplyParsing::cutReplyField(reply);
    (void)ReplyParsing::leadingNumber(field);
    Fuzz::check(field.size() <= reply.size(), "a field longer than its reply");

    // A well-formed reply built from the parsed numbers reads back the same.
    const QString rebuilt = u"+OK "_s + QString::number(stat.count) + u' ' + QString::number(stat.size) + u"\r\n"_s;
    const ReplyParsing::StatFields again = ReplyParsing::parseStat(rebuilt);
    Fuzz::check(again.count == stat.count && again.size == stat.size, "STAT numbers do not round-trip");
    const QString uidl = u"+OK 1 "_s + field + u"\r\n"_s;
    Fuzz::check(field.contains(u' ') || ReplyParsing::cutReplyField(uidl) == field, "UIDL id does not round-trip");
    return 0;
}
