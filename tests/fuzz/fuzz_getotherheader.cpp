// The search for one header in a header block: the first line of the input
// is the name asked for, the rest the block. A value is one physical line,
// trimmed of blanks, from a line that starts with the whole name.

#include "pop3/replyparsing.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QString>

using namespace Tarnpostctl;
using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = input.indexOf(u'\n');
    const QString name = split < 0 ? input : input.left(split);
    const QString headers = split < 0 ? QString() : input.mid(split + 1);

    const ReplyParsing::HeaderMatch match = ReplyParsing::findHeader(headers, name);
    if (!match.found)
        return 0;
    Fuzz::check(!match.value.contains(u"\r\n"_s), "value spans lines");
    Fuzz::check(!match.value.startsWith(u' ') && !match.value.endsWith(u' '), "value not trimmed");
    const QString block = u"\r\n"_s + headers;
    Fuzz::check(match.nameStart >= 2 && block.mid(match.nameStart - 2, 2) == u"\r\n"_s, "match not at a line start");
    Fuzz::check(block.indexOf(match.value, match.nameStart) >= 0, "value not in its line");
    return 0;
}
