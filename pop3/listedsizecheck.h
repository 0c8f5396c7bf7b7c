#pragma once
// Checks a retrieved message against the size LIST gave for it. A server
// whose replies have fallen out of step with the commands hands over another
// message's bytes (or another command's reply) as the one asked for; its
// listed size is what gives that away. Fed the bytes that follow the reply's
// status line as they arrive (dot-stuffed, CR LF line ends), it counts what
// the message measures once unstuffed. Two counts are accepted: the exact
// octets with CR LF line ends, and the octets of a server that counts each
// line end as one (LF) octet.

#include <QString>
#include <QStringView>

namespace Tarnpostctl {

class ListedSizeCheck final
{
public:
    // listed < 0: the size is not known and nothing is checked.
    explicit ListedSizeCheck(qint64 listed = -1) { reset(listed); }
    void reset(qint64 listed);
    bool active() const { return m_listed >= 0; }
    qint64 listed() const { return m_listed; }

    void feed(const char *data, qsizetype size);
    void feed(QStringView text); // one character per byte

    // More has arrived than a message of the listed size can take, whatever
    // follows (the terminator's bytes may be among those fed).
    bool outgrown() const;
    // What was fed is the whole content, as a reply gives it: without the
    // CR LF of its last line and without the terminator.
    bool matches() const;
    // The same, when what was fed is the content and then the terminator's
    // CR LF "." CR LF (or, for an empty message whose terminator began with
    // the status line's CR LF, its "." CR LF).
    bool matchesBeforeTerminator() const;
    static bool contentMatches(qint64 listed, QStringView content);
    static bool contentMatches(qint64 listed, const char *content, qsizetype size);

private:
    template <typename Char> void feedChars(const Char *data, qsizetype size);

    qint64 m_listed = -1;
    qint64 m_bytes = 0;
    qint64 m_lineEnds = 0; // CR LF pairs
    qint64 m_stuffed = 0;  // lines that start with a dot, which the server doubled
    bool m_lineStart = true;
    bool m_lastCr = false;
};

} // namespace Tarnpostctl
