#pragma once
// Frames a reply streamed into a file: finds the status line and the closing
// CR LF "." CR LF wherever packet boundaries fall, and hands on the content
// between them. The content ends without the CR LF of its last line (the same
// ending as a reply assembled in memory), whatever the split.

#include <QByteArray>

#include <functional>

namespace Tarnpostctl {

class StreamFramer final
{
public:
    // Called once, when the status line (without its CR LF) is complete,
    // before any content is handed on.
    std::function<void(const QByteArray &statusLine)> onStatusLine;
    // Content bytes, in order. Content pieces point into the packet given to
    // feed() whenever they can: a large reply is not copied on its way through.
    std::function<void(const char *data, qsizetype size)> onContent;

    void start();
    void feed(const char *data, qsizetype size);
    void feed(const QByteArray &packet) { feed(packet.constData(), packet.size()); }

    bool inStatusLine() const { return m_inStatusLine; }
    // Bytes of the status line held so far, without a CR that may start its CR LF.
    qsizetype pendingStatusLine() const { return m_head.size() - (m_head.endsWith('\r') ? 1 : 0); }
    // The terminator was seen, or the status line was a refusal.
    bool finished() const { return m_finished; }
    bool refused() const { return m_refused; }
    // Where the last search found the terminator among the held-back bytes
    // and the packet, -1 if not.
    qsizetype lastTerminatorPosition() const { return m_lastPosition; }

private:
    static constexpr qsizetype kHeld = 4; // a terminator's length less one

    void feedContent(const char *data, qsizetype size);
    void emitContent(const char *data, qsizetype size);
    void holdBack(const char *data, qsizetype size);

    QByteArray m_head;
    char m_tail[kHeld] = {};
    qsizetype m_tailSize = 0;
    qsizetype m_skip = 0; // leading held-back bytes that are the status line's CR LF
    qsizetype m_lastPosition = -1;
    bool m_inStatusLine = true;
    bool m_finished = false;
    bool m_refused = false;
};

} // namespace Tarnpostctl
