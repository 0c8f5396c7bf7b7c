#include "scan/servertext.h"

#include "scan/keywordmatcher.h"

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
            return text.toUpper(); // Unicode's own rules, which may change the length
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

namespace {

bool isAscii(QStringView text)
{
    // Blocks of 64 code units without an early exit, which the compiler
    // vectorises; a large body is mostly ASCII and read to its end anyway.
    const char16_t *data = text.utf16();
    const qsizetype size = text.size();
    qsizetype i = 0;
    for (; i + 64 <= size; i += 64) {
        char16_t high = 0;
        for (qsizetype k = 0; k < 64; ++k)
            high |= data[i + k];
        if (high >= 0x80)
            return false;
    }
    for (; i < size; ++i) {
        if (data[i] >= 0x80)
            return false;
    }
    return true;
}

// Appends text as upperCased() gives it.
void appendUpperCased(QString &out, QStringView text)
{
    if (!isAscii(text)) {
        out += text.toString().toUpper();
        return;
    }
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char16_t *o = reinterpret_cast<char16_t *>(out.data()) + at;
    const char16_t *in = text.utf16();
    // Without a branch, so that it is vectorised.
    for (qsizetype i = 0, n = text.size(); i < n; ++i)
        o[i] = char16_t(in[i] - (char16_t(in[i] - u'a') < 26 ? u'a' - u'A' : 0));
}

bool isContinuation(QChar c) { return (c.unicode() & 0xC0) == 0x80; }

} // namespace

ServerBody::ServerBody(const QString &latin1Bytes, qsizetype pieceSize)
    : m_pieceSize(qMax<qsizetype>(pieceSize, 8))
{
    if (latin1Bytes.size() <= m_pieceSize) {
        m_upper = upperCased(decodeServerText(latin1Bytes));
        return;
    }
    m_raw = latin1Bytes;
    m_inPieces = true;
    // Plain ASCII reads the same either way; otherwise the whole text must be
    // valid UTF-8, checked piece by piece (pieces never split a sequence).
    if (isAscii(m_raw))
        return;
    m_utf8 = true;
    for (qsizetype start = 0; start < m_raw.size() && m_utf8;) {
        const qsizetype end = pieceEnd(start);
        m_utf8 = end > start && QStringView(m_raw).sliced(start, end - start).toLatin1().isValidUtf8();
        start = end;
    }
}

qsizetype ServerBody::pieceEnd(qsizetype start) const
{
    qsizetype end = qMin(start + m_pieceSize, m_raw.size());
    if (!m_utf8)
        return end;
    // Back to the start of a sequence: at most three continuation bytes; a
    // longer run is not UTF-8 at all, and then any cut will do.
    for (int back = 0; back < 3 && end < m_raw.size() && isContinuation(m_raw.at(end)); ++back)
        --end;
    return end;
}

bool ServerBody::anyPiece(qsizetype overlap, const std::function<bool(QStringView)> &visit) const
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString tail;
    QString piece; // one buffer for every piece: the last one's tail, then this one upper-cased
    for (qsizetype start = 0; start < m_raw.size();) {
        const qsizetype end = pieceEnd(start);
        const QStringView raw = QStringView(m_raw).sliced(start, end - start);
        start = end;
        piece.resize(0);
        piece += tail;
        if (m_utf8)
            appendUpperCased(piece, QString(utf8.decode(raw.toLatin1())));
        else
            appendUpperCased(piece, raw);
        if (piece.size() == tail.size())
            continue;
        if (visit(piece))
            return true;
        tail = overlap > 0 ? piece.right(overlap) : QString();
    }
    return false;
}

int ServerBody::firstMatch(const KeywordMatcher &matcher, const QStringList &upperEntries) const
{
    if (!m_inPieces)
        return matcher.firstMatch(m_upper);
    qsizetype longest = 0;
    for (const QString &entry : upperEntries)
        longest = qMax(longest, entry.size());
    int best = KeywordMatcher::NoMatch;
    anyPiece(qMax<qsizetype>(longest - 1, 0), [&](QStringView piece) {
        best = qMin(best, matcher.firstMatch(piece));
        return best == 0;
    });
    return best;
}

bool ServerBody::contains(const QString &upperEntry) const
{
    if (!m_inPieces)
        return containsEntry(m_upper, upperEntry);
    return anyPiece(qMax<qsizetype>(upperEntry.size() - 1, 0),
                    [&](QStringView piece) { return piece.contains(upperEntry); });
}

} // namespace Scan
