#include "pop3/listedsizecheck.h"

#include <cstring>

namespace Tarnpostctl {

namespace {

// The terminator's CR LF "." CR LF adds two to the growing count, and an
// empty line may be read as an empty message: room for both.
constexpr qint64 kGrowthAllowance = 2;
// An empty content is an empty message or a single empty line.
constexpr qint64 kEmptyLine = 2;
constexpr qint64 kTerminatorBytes = 5;

qsizetype findLineFeed(const char *data, qsizetype size)
{
    const void *lf = std::memchr(data, '\n', size_t(size));
    return lf ? static_cast<const char *>(lf) - data : -1;
}

qsizetype findLineFeed(const char16_t *data, qsizetype size) { return QStringView(data, size).indexOf(u'\n'); }

} // namespace

void ListedSizeCheck::reset(qint64 listed)
{
    m_listed = listed;
    m_bytes = 0;
    m_lineEnds = 0;
    m_stuffed = 0;
    m_lineStart = true;
    m_lastCr = false;
}

template <typename Char> void ListedSizeCheck::feedChars(const Char *data, qsizetype size)
{
    // Line by line: only a line's first character and its end are looked at,
    // and the search for the end is the library's (vectorised) one.
    qsizetype i = 0;
    while (i < size) {
        if (m_lineStart) {
            m_lineStart = false;
            if (data[i] == Char('.')) {
                ++m_stuffed;
                m_lastCr = false;
                ++i;
                continue;
            }
        }
        const qsizetype lf = findLineFeed(data + i, size - i);
        if (lf < 0) {
            m_lastCr = data[size - 1] == Char('\r');
            break;
        }
        const qsizetype at = i + lf;
        if (at > i ? data[at - 1] == Char('\r') : m_lastCr) {
            ++m_lineEnds;
            m_lineStart = true;
        }
        m_lastCr = false;
        i = at + 1;
    }
    m_bytes += size;
}

void ListedSizeCheck::feed(const char *data, qsizetype size) { feedChars(data, size); }

void ListedSizeCheck::feed(QStringView text) { feedChars(text.utf16(), text.size()); }

bool ListedSizeCheck::outgrown() const
{
    // Counted one octet per line end and without the stuffed dots, the count
    // only grows as bytes arrive; once it is past the listed size, neither
    // way of counting can come back to it.
    return m_listed >= 0 && m_bytes - m_stuffed - m_lineEnds > m_listed + kGrowthAllowance;
}

bool ListedSizeCheck::matches() const
{
    if (m_listed < 0)
        return true;
    if (m_bytes == 0)
        return m_listed <= kEmptyLine;
    // The content lacks the CR LF of its last line.
    const qint64 octets = m_bytes - m_stuffed + 2;
    const qint64 lines = m_lineEnds + 1;
    return m_listed == octets || m_listed == octets - lines;
}

bool ListedSizeCheck::matchesBeforeTerminator() const
{
    if (m_listed < 0)
        return true;
    // The terminator adds its five bytes, two line ends and the dot at the
    // start of a line, whatever the content ended with.
    const qint64 bytes = m_bytes - kTerminatorBytes;
    if (bytes <= 0)
        return m_listed <= kEmptyLine;
    const qint64 octets = bytes - (m_stuffed - 1) + 2;
    const qint64 lines = m_lineEnds - 2 + 1;
    return m_listed == octets || m_listed == octets - lines;
}

bool ListedSizeCheck::contentMatches(qint64 listed, QStringView content)
{
    ListedSizeCheck check(listed);
    check.feed(content);
    return check.matches();
}

bool ListedSizeCheck::contentMatches(qint64 listed, const char *content, qsizetype size)
{
    ListedSizeCheck check(listed);
    check.feed(content, size);
    return check.matches();
}

} // namespace Tarnpostctl
