#include "pop3/streamframer.h"

#include <QByteArrayView>

#include <cstring>

namespace Tarnpostctl {

namespace {

constexpr char Terminator[] = "\r\n.\r\n";

} // namespace

void StreamFramer::start()
{
    m_head.clear();
    m_tailSize = 0;
    m_skip = 0;
    m_lastPosition = -1;
    m_inStatusLine = true;
    m_finished = false;
    m_refused = false;
}

void StreamFramer::feed(const char *data, qsizetype size)
{
    if (m_finished || size <= 0)
        return;
    if (!m_inStatusLine) {
        feedContent(data, size);
        return;
    }
    // The status line may be split anywhere, even between its CR and LF.
    m_head.append(data, size);
    const qsizetype crlf = m_head.indexOf("\r\n");
    if (crlf < 0)
        return;
    const QByteArray head = std::move(m_head);
    m_head.clear();
    const QByteArray statusLine = head.left(crlf);
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
    m_tail[0] = '\r';
    m_tail[1] = '\n';
    m_tailSize = 2;
    m_skip = 2;
    feedContent(head.constData() + crlf + 2, head.size() - crlf - 2);
}

void StreamFramer::feedContent(const char *data, qsizetype size)
{
    // The held-back bytes and the packet's first four are searched together:
    // a terminator that starts among the held-back bytes ends within them.
    char joint[2 * kHeld];
    const qsizetype head = qMin(size, kHeld);
    std::memcpy(joint, m_tail, size_t(m_tailSize));
    std::memcpy(joint + m_tailSize, data, size_t(head));
    const qsizetype jointSize = m_tailSize + head;
    const qsizetype atJoint = QByteArrayView(joint, jointSize).indexOf(Terminator);
    if (atJoint >= 0 && atJoint < m_tailSize) {
        m_lastPosition = atJoint;
        m_finished = true;
        emitContent(joint, atJoint);
        return;
    }
    if (size < kHeld) {
        // Too short to settle whether the held-back bytes start a terminator.
        const qsizetype keep = qMin(kHeld, jointSize);
        m_lastPosition = atJoint;
        if (atJoint >= 0) {
            m_finished = true;
            emitContent(joint, atJoint);
            return;
        }
        emitContent(joint, jointSize - keep);
        holdBack(joint + jointSize - keep, keep);
        return;
    }
    emitContent(m_tail, m_tailSize);
    const qsizetype held = m_tailSize;
    m_tailSize = 0;
    const qsizetype end = QByteArrayView(data, size).indexOf(Terminator);
    m_lastPosition = end < 0 ? -1 : held + end;
    if (end >= 0) {
        m_finished = true;
        emitContent(data, end);
        return;
    }
    // Keep the last four bytes: they may be the first part of the terminator.
    emitContent(data, size - kHeld);
    holdBack(data + size - kHeld, kHeld);
}

void StreamFramer::holdBack(const char *data, qsizetype size)
{
    std::memmove(m_tail, data, size_t(size));
    m_tailSize = size;
}

void StreamFramer::emitContent(const char *data, qsizetype size)
{
    const qsizetype skipped = qMin(m_skip, size);
    m_skip -= skipped;
    data += skipped;
    size -= skipped;
    if (size <= 0 || !onContent)
        return;
    onContent(data, size);
}

} // namespace Tarnpostctl
