// The decoder and the tokenizer on a whole message: any bytes at all must
// decode within the bounds and give bounded, distinct, lower-case tokens.

#include "learn/tokenizer.h"
#include "learn/tokenstore.h"
#include "mail/mimetext.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QSet>

using namespace Scan;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));
    const MimeText text = MimeText::decode(raw);
    Fuzz::check(text.parts().size() <= MimeText::MaxParts, "too many parts");
    Fuzz::check(text.headers().size() <= MimeText::MaxHeaders, "too many headers");
    qsizetype chars = 0;
    for (const QString &t : text.texts())
        chars += t.size();
    Fuzz::check(chars <= MimeText::MaxTextChars, "too much text");
    Fuzz::check(text.subject().size() <= MimeText::MaxHeaderChars, "subject not bounded");

    const QStringList tokens = Tokenizer::tokens(text);
    Fuzz::check(tokens.size() <= Tokenizer::MaxTokens, "too many tokens");
    Fuzz::check(QSet<QString>(tokens.cbegin(), tokens.cend()).size() == tokens.size(), "tokens repeat");
    for (const QString &t : tokens)
        Fuzz::check(!t.isEmpty() && t == t.toLower(), "token empty or not lower-case");
    // Classifying hashes tokens without building them: the same keys.
    const Tokenizer hashed(text);
    Fuzz::check(hashed.ids().size() == tokens.size(), "ids and tokens differ in number");
    for (qsizetype i = 0; i < tokens.size() && i < hashed.ids().size(); ++i)
        Fuzz::check(hashed.ids().at(i) == TokenStore::tokenId(tokens.at(i)), "id is not the token's key");
    return 0;
}
