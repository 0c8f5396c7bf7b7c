#include "servertext.h"

#include <QStringDecoder>

namespace Scan {

QString decodeServerText(const QString &latin1Bytes)
{
    // Pure ASCII is the common case and needs no decoding.
    bool ascii = true;
    for (QChar c : latin1Bytes) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return latin1Bytes;

    const QByteArray bytes = latin1Bytes.toLatin1();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(bytes);
    if (utf8.hasError())
        return latin1Bytes;
    return decoded;
}

QString upperCased(const QString &text)
{
    QString upper(text.size(), Qt::Uninitialized);
    const char16_t *in = reinterpret_cast<const char16_t *>(text.utf16());
    char16_t *out = reinterpret_cast<char16_t *>(upper.data());
    for (qsizetype i = 0, n = text.size(); i < n; ++i) {
        const char16_t c = in[i];
        if (c >= 0x80)
            return text.toUpper();  // Unicode's own rules, which may change the length
        out[i] = c >= u'a' && c <= u'z' ? char16_t(c - (u'a' - u'A')) : c;
    }
    return upper;
}

bool containsEntry(const QString &upperText, const QString &upperEntry)
{
    if (upperText.isEmpty())
        return false;
    if (upperEntry.isEmpty())
        return true;
    return upperText.contains(upperEntry);
}

} // namespace Scan
