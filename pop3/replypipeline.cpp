#include "pop3/replypipeline.h"

#include "pop3/include/tarnpostctl.h"

#include <QByteArrayView>

#include <cstring>

namespace Tarnpostctl {

namespace {

constexpr char Terminator[] = "\r\n.\r\n";
constexpr qsizetype TerminatorSize = 5;
constexpr qsizetype Held = TerminatorSize - 1;

// Where "\r\n.\r\n" first starts in data, -1 when nowhere: from line end to
// line end, so that a long reply is searched at the speed of memchr.
qsizetype findTerminator(const char *data, qsizetype size)
{
    for (qsizetype from = 1; from < size;) {
        const void *found = std::memchr(data + from, '\n', size_t(size - from));
        if (!found)
            return -1;
        const qsizetype lf = static_cast<const char *>(found) - data;
        if (lf + 3 < size && data[lf - 1] == '\r' && data[lf + 1] == '.' && data[lf + 2] == '\r'
            && data[lf + 3] == '\n')
            return lf - 1;
        from = lf + 1;
    }
    return -1;
}

} // namespace

quint64 ReplyPipeline::expect(bool multiLine, qint64 cap, qint32 message, qint64 sizeHint, qint64 listed,
                              bool discardOverCap)
{
    Reply reply;
    reply.id = m_nextId++;
    reply.multiLine = multiLine;
    reply.message = message;
    reply.sizeHint = sizeHint;
    reply.cap = cap;
    reply.discardOverCap = discardOverCap;
    reply.sizeCheck.reset(multiLine ? listed : -1);
    m_replies.push_back(std::move(reply));
    return m_replies.back().id;
}

void ReplyPipeline::feed(const char *data, qsizetype size)
{
    while (size > 0 && !m_broken && m_done < count()) {
        Reply &reply = m_replies[size_t(m_done)];
        const qsizetype before = reply.bytes.size();
        const qsizetype used = take(reply, data, size);
        m_held += reply.bytes.size() - before;
        data += used;
        size -= used;
        if (reply.outcome == Outcome::Pending)
            return;
        ++m_done;
        if (reply.outcome != Outcome::Complete && reply.outcome != Outcome::Discarded) {
            // Nothing in an overflowing reply is of use, and what follows it
            // cannot be told apart from it.
            m_held -= reply.bytes.size();
            reply.bytes = QByteArray();
            m_broken = true;
            m_brokenOutcome = reply.outcome;
        }
    }
    if (size > 0 && !m_broken) {
        // A reply that nothing asked for: the server is out of step with the
        // commands, and every reply from here on would be taken for another.
        m_broken = true;
        m_brokenOutcome = Outcome::Unasked;
    }
}

qsizetype ReplyPipeline::take(Reply &reply, const char *data, qsizetype size)
{
    qsizetype used = 0;
    if (reply.statusEnd < 0) {
        // The status line may be split anywhere, even between its CR and LF.
        qsizetype end = -1;
        if (reply.bytes.endsWith('\r') && data[0] == '\n') {
            end = 1;
        } else {
            const qsizetype crlf = QByteArrayView(data, size).indexOf("\r\n");
            if (crlf >= 0)
                end = crlf + 2;
        }
        if (end < 0) {
            reply.bytes.append(data, size);
            const qsizetype line = reply.bytes.size() - (reply.bytes.endsWith('\r') ? 1 : 0);
            if (line > MaxReplyLine)
                reply.outcome = Outcome::LineTooLong;
            return size;
        }
        if (reply.multiLine && reply.sizeHint > 0 && reply.bytes.isEmpty())
            reply.bytes.reserve(qsizetype(qMin<qint64>(reply.sizeHint, reply.cap)) + end + TerminatorSize);
        reply.bytes.append(data, end);
        reply.statusEnd = reply.bytes.size() - 2;
        if (reply.statusEnd > MaxReplyLine) {
            reply.outcome = Outcome::LineTooLong;
            return end;
        }
        if (!reply.multiLine || reply.bytes.startsWith("-ERR")) {
            reply.outcome = Outcome::Complete;
            return end;
        }
        used = end;
        data += end;
        size -= end;
    }
    const qsizetype consumedBefore = used;

    // The terminator may start among the bytes already held (the status
    // line's CR LF included: an empty message) and end in this packet.
    const qsizetype heldTail = qMin<qsizetype>(Held, reply.bytes.size() - reply.statusEnd);
    char joint[2 * Held];
    const qsizetype head = qMin(size, Held);
    std::memcpy(joint, reply.bytes.constData() + reply.bytes.size() - heldTail, size_t(heldTail));
    std::memcpy(joint + heldTail, data, size_t(head));
    const qsizetype atJoint = QByteArrayView(joint, heldTail + head).indexOf(Terminator);
    qsizetype terminator = -1;
    if (atJoint >= 0 && atJoint < heldTail) {
        terminator = reply.bytes.size() - heldTail + atJoint;
        used += atJoint + TerminatorSize - heldTail;
        reply.bytes.truncate(terminator);
    } else {
        const qsizetype at = findTerminator(data, size);
        if (at >= 0) {
            reply.bytes.append(data, at);
            terminator = reply.bytes.size();
            used += at + TerminatorSize;
        } else {
            reply.bytes.append(data, size);
            used += size;
        }
    }
    if (reply.sizeCheck.active()) {
        // What came after the status line, the terminator's bytes included.
        reply.sizeCheck.feed(data, used - consumedBefore);
        if (terminator < 0 && reply.sizeCheck.outgrown()) {
            reply.outcome = Outcome::SizeMismatch;
            return used;
        }
    }
    const qsizetype contentStart = reply.statusEnd + 2;
    if (terminator >= 0) {
        // The message counts the CR LF of its last line, as a single wait does.
        const qint64 content = qint64(terminator) - contentStart + 2;
        if (reply.discarded || (reply.discardOverCap && content > reply.cap)) {
            // Only the status line is kept, wherever the reply was cut.
            reply.bytes.truncate(contentStart);
            reply.outcome = Outcome::Discarded;
        } else if (content > reply.cap)
            reply.outcome = Outcome::TooLarge;
        else if (!reply.sizeCheck.matchesBeforeTerminator())
            reply.outcome = Outcome::SizeMismatch;
        else
            reply.outcome = Outcome::Complete;
    } else if (reply.discarded || qint64(reply.bytes.size()) - contentStart - (TerminatorSize - 2) > reply.cap) {
        if (reply.discardOverCap) {
            // Only what may start the terminator is kept.
            const qsizetype drop = reply.bytes.size() - contentStart - Held;
            if (drop > 0)
                reply.bytes.remove(contentStart, drop);
            reply.discarded = true;
        } else {
            reply.outcome = Outcome::TooLarge;
        }
    }
    return used;
}

ReplyPipeline::Reply ReplyPipeline::takeFront()
{
    Reply reply = std::move(m_replies.front());
    m_replies.pop_front();
    if (m_done > 0)
        --m_done;
    m_held -= reply.bytes.size();
    return reply;
}

const ReplyPipeline::Reply *ReplyPipeline::find(quint64 id) const
{
    // Replies leave from the front only, so the ids held are consecutive.
    if (m_replies.empty() || id < m_replies.front().id || id > m_replies.back().id)
        return nullptr;
    return &m_replies[size_t(id - m_replies.front().id)];
}

quint64 ReplyPipeline::findMessage(qint32 message) const
{
    for (const Reply &reply : m_replies) {
        if (reply.message == message)
            return reply.id;
    }
    return 0;
}

qint64 ReplyPipeline::sizeUpTo(quint64 id) const
{
    qint64 total = 0;
    bool known = false;
    for (const Reply &reply : m_replies) {
        if (reply.multiLine) {
            if (reply.sizeHint < 0)
                return -1;
            total += reply.sizeHint;
            known = true;
        }
        if (reply.id == id)
            break;
    }
    return known ? total : -1;
}

void ReplyPipeline::clear()
{
    m_replies.clear();
    m_done = 0;
    m_held = 0;
    m_broken = false;
    m_brokenOutcome = Outcome::Pending;
}

} // namespace Tarnpostctl
