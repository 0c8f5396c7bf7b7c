#include "scan/decodedmessage.h"

#include "scan/servertext.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Charsets whose text the raw reading (UTF-8 where valid, else Latin-1)
// already shows as the decoder would.
bool readsAsRaw(QStringView charset)
{
    static const QStringList same = {u"us-ascii"_s, u"ascii"_s, u"utf-8"_s, u"utf8"_s, u"iso-8859-1"_s, u"latin1"_s};
    for (const QString &name : same) {
        if (charset.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return charset.isEmpty();
}

// A character as a case-insensitive search compares it with an ASCII
// needle: folded, where the fold is an ASCII letter (the Kelvin sign folds to
// "k", the long s to "s"); other characters match only themselves.
char16_t foldedForAscii(char16_t c)
{
    if (c >= u'A' && c <= u'Z')
        return char16_t(c + (u'a' - u'A'));
    if (c == u'\u212A')
        return u'k';
    if (c == u'\u017F')
        return u's';
    return c;
}

// mark (lower-case ASCII) starts at `at`, compared case-insensitively.
bool markAt(QStringView text, qsizetype at, QLatin1StringView mark)
{
    if (text.size() - at < mark.size())
        return false;
    for (qsizetype i = 0; i < mark.size(); ++i) {
        if (foldedForAscii(text.at(at + i).unicode()) != char16_t(mark.at(i).unicode()))
            return false;
    }
    return true;
}

// After a "charset" at `at`: a value that decoding reads differently.
bool charsetReadsDifferently(QStringView text, qsizetype at)
{
    qsizetype i = at + qsizetype(sizeof("charset") - 1);
    while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t'))
        ++i;
    if (i >= text.size() || text.at(i) != u'=')
        return false;
    ++i;
    while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t' || text.at(i) == u'"'))
        ++i;
    qsizetype end = i;
    while (end < text.size()
           && (text.at(end).isLetterOrNumber() || text.at(end) == u'-' || text.at(end) == u'_' || text.at(end) == u'.'
               || text.at(end) == u':'))
        ++end;
    return !readsAsRaw(text.mid(i, end - i));
}

// Whether any of Block characters may start a mark, tested eight at a time
// where the processor has SSE2. Folding by setting bit 5 maps the capitals
// onto the small letters (and lets a control character through as "=",
// which the exact test then turns away).
constexpr qsizetype Block = 32;
bool mayStartMark(const char16_t *data)
{
#if defined(__SSE2__)
    const __m128i fold = _mm_set1_epi16(0x20);
    __m128i any = _mm_setzero_si128();
    for (qsizetype i = 0; i < Block; i += 8) {
        const __m128i c = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i)), fold);
        any = _mm_or_si128(any, _mm_cmpeq_epi16(c, _mm_set1_epi16(u'=')));
        any = _mm_or_si128(any, _mm_cmpeq_epi16(c, _mm_set1_epi16(u'b')));
        any = _mm_or_si128(any, _mm_cmpeq_epi16(c, _mm_set1_epi16(u'c')));
        any = _mm_or_si128(any, _mm_cmpeq_epi16(c, _mm_set1_epi16(u'q')));
        any = _mm_or_si128(any, _mm_cmpeq_epi16(c, _mm_set1_epi16(u't')));
    }
    return _mm_movemask_epi8(any) != 0;
#else
    bool any = false;
    for (qsizetype i = 0; i < Block; ++i) {
        const char16_t c = data[i] | 0x20;
        any |= (c == u'=') | (c == u'b') | (c == u'c') | (c == u'q') | (c == u't');
    }
    return any;
#endif
}

} // namespace

void DecodedMessage::reset(Source headers, Source body)
{
    *this = DecodedMessage();
    m_headerSource = std::move(headers);
    m_bodySource = std::move(body);
}

const QString &DecodedMessage::headers()
{
    if (!m_headers)
        m_headers = m_headerSource ? m_headerSource() : QString();
    return *m_headers;
}

const QString &DecodedMessage::body()
{
    if (!m_body)
        m_body = m_bodySource ? m_bodySource() : QString();
    return *m_body;
}

QByteArray DecodedMessage::bytes()
{
    const QString &text = body();
    if (text.size() <= MimeText::MaxInputBytes)
        return MimeText::joinControlText(headers(), text);
    return MimeText::joinControlText(headers(), text.left(MimeText::MaxInputBytes));
}

bool DecodedMessage::mayReadDifferently(QStringView text)
{
    // One pass: each position is tested for the marks that can start with
    // its character, so a large body is read once rather than once a mark.
    static constexpr auto starts = [] {
        std::array<bool, 128> table{};
        for (const char c : {'=', 'q', 'Q', 'b', 'B', 't', 'T', 'c', 'C'})
            table[size_t(c)] = true;
        return table;
    }();
    const char16_t *data = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype at = 0; at < n; ++at) {
        if ((at & (Block - 1)) == 0 && at + Block <= n && !mayStartMark(data + at)) {
            at += Block - 1;
            continue;
        }
        const char16_t c = data[at];
        // No mark starts with a letter that a non-ASCII character folds to.
        if (c >= 0x80 || !starts[c])
            continue;
        switch (foldedForAscii(c)) {
        case u'=':
            if (at + 1 < n && data[at + 1] == u'?')
                return true;
            break;
        case u'q':
            if (markAt(text, at, "quoted-printable"_L1))
                return true;
            break;
        case u'b':
            if (markAt(text, at, "base64"_L1))
                return true;
            break;
        case u't':
            if (markAt(text, at, "text/html"_L1))
                return true;
            break;
        case u'c':
            if (markAt(text, at, "charset"_L1) && charsetReadsDifferently(text, at))
                return true;
            break;
        default: break;
        }
    }
    return false;
}

const MimeText &DecodedMessage::headerText()
{
    if (m_whole)
        return *m_whole;
    if (!m_headersOnly)
        m_headersOnly = MimeText::decodeControlText(headers(), QString());
    return *m_headersOnly;
}

QString DecodedMessage::fromUpper()
{
    if (!headers().contains(u"=?"_s))
        return {};
    return upperCased(headerText().from());
}

QString DecodedMessage::subject() { return headerText().subject(); }

void DecodedMessage::decodeForRules()
{
    if (m_decodedForRules)
        return;
    m_decodedForRules = true;
    if (!mayReadDifferently(headers()) && !mayReadDifferently(QStringView(body()).left(MimeText::MaxInputBytes)))
        return;
    const MimeText &text = message();
    m_subjectUpper = upperCased(text.subject());
    m_bodyUpper = upperCased(text.bodyText());
}

const QString &DecodedMessage::subjectUpper()
{
    decodeForRules();
    return m_subjectUpper;
}

const QString &DecodedMessage::bodyUpper()
{
    decodeForRules();
    return m_bodyUpper;
}

const MimeText &DecodedMessage::message()
{
    if (!m_whole)
        m_whole = MimeText::decode(bytes());
    return *m_whole;
}

} // namespace Scan
