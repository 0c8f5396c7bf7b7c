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

bool containsEntry(const QString &upperText, const QString &upperEntry)
{
    if (upperText.isEmpty())
        return false;
    if (upperEntry.isEmpty())
        return true;
    return upperText.contains(upperEntry);
}

} // namespace Scan
