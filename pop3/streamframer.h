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
    // Content bytes, in order.
    std::function<void(const char *data, qsizetype size)> onContent;

    void start();
    void feed(const QByteArray &packet);

    bool inStatusLine() const { return m_inStatusLine; }
    // The terminator was seen, or the status line was a refusal.
    bool finished() const { return m_finished; }
    bool refused() const { return m_refused; }
    // Where the last search found the terminator in its window, -1 if not.
    qsizetype lastTerminatorPosition() const { return m_lastPosition; }

private:
    void emitContent(const QByteArray &bytes, qsizetype from, qsizetype to);

    QByteArray m_head;
    QByteArray m_tail;
    qsizetype m_skip = 0;  // leading held-back bytes that are the status line's CR LF
    qsizetype m_lastPosition = -1;
    bool m_inStatusLine = true;
    bool m_finished = false;
    bool m_refused = false;
};

} // namespace Tarnpostctl
