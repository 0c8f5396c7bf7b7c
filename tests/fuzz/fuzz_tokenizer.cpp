// The text tokenizer and the HTML reducer on any text: bounded output, no
// token longer than a word may be, links bounded, and the visible text never
// longer than the HTML it came from.

#include "learn/tokenizer.h"
#include "mail/htmltext.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QSet>

using namespace Scan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    QStringList links;
    const QString visible = HtmlText::visibleText(input, &links);
    Fuzz::check(visible.size() <= input.size(), "visible text longer than the html");
    Fuzz::check(links.size() <= HtmlText::MaxLinks, "too many links");
    Fuzz::check(!visible.startsWith(QLatin1Char(' ')) && !visible.endsWith(QLatin1Char(' ')), "edges not trimmed");

    for (const QString &text : {input, visible}) {
        const QStringList tokens = Tokenizer::textTokens(text);
        Fuzz::check(tokens.size() <= Tokenizer::MaxTokens, "too many tokens");
        Fuzz::check(QSet<QString>(tokens.cbegin(), tokens.cend()).size() == tokens.size(), "tokens repeat");
        for (const QString &t : tokens) {
            Fuzz::check(t == t.toLower(), "token not lower-case");
            // Words are bounded; links and addresses carry their own caps.
            Fuzz::check(t.size() <= 200, "token too long");
        }
    }
    return 0;
}
