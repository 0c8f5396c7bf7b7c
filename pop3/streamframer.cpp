#include "streamframer.h"

namespace Tarnpostctl {

namespace {

constexpr char Terminator[] = "\r\n.\r\n";
constexpr qsizetype TerminatorSize = 5;

} // namespace

void StreamFramer::start()
{
    m_head.clear();
    m_tail.clear();
    m_skip = 0;
    m_lastPosition = -1;
    m_inStatusLine = true;
    m_finished = false;
    m_refused = false;
}

void StreamFramer::feed(const QByteArray &packet)
{
    if (m_finished)
        return;
    QByteArray content;
    if (m_inStatusLine) {
        // The status line may be split anywhere, even between its CR and LF.
        m_head += packet;
        const qsizetype crlf = m_head.indexOf("\r\n");
        if (crlf < 0)
            return;
        const QByteArray statusLine = m_head.left(crlf);
        content = m_head.mid(crlf + 2);
        m_head.clear();
        m_inStatusLine = false;
        if (statusLine.startsWith("-ERR")) {
            // A refusal carries no content and no terminator.
            m_refused = true;
            m_finished = true;
        }
        if (onStatusLine)
            onStatusLine(statusLine);
        if (m_finished)
            return;
        // The status line's CR LF can be the start of the terminator (an empty
        // message), so it is held back with the content but never written.
        m_tail = "\r\n";
        m_skip = 2;
    } else {
        content = packet;
    }

    QByteArray window = std::move(m_tail);
    window += content;
    m_tail.clear();
    const qsizetype end = window.indexOf(Terminator);
    m_lastPosition = end;
    if (end >= 0) {
        m_finished = true;
        emitContent(window, 0, end - 1);
        return;
    }
    // Keep the last four bytes: they may be the first part of the terminator.
    const qsizetype keep = qMin<qsizetype>(TerminatorSize - 1, window.size());
    emitContent(window, 0, window.size() - keep - 1);
    m_tail = window.right(keep);
}

void StreamFramer::emitContent(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    while (m_skip > 0 && from <= to) {
        ++from;
        --m_skip;
    }
    if (from > to || !onContent)
        return;
    onContent(bytes.constData() + from, to - from + 1);
}

} // namespace Tarnpostctl
