#pragma once
// Frames the replies to commands that were sent without waiting for the
// previous answer: the bytes of the connection are cut into the expected
// replies, in order, wherever packet boundaries fall. Each reply keeps the
// form a wait for a single command gives it: a one-line reply ends with its
// CR LF; a multi-line reply ends before its closing CR LF "." CR LF, and a
// refusal ("-ERR" status line) is one line.

#include "pop3/listedsizecheck.h"

#include <QByteArray>

#include <deque>

namespace Tarnpostctl {

class ReplyPipeline final
{
public:
    // SizeMismatch: a message that cannot be the one its LIST size describes.
    // Unasked: bytes arrived when no reply was expected. Discarded: a reply
    // over its cap whose content was dropped as it came (the replies after it
    // are still framed).
    enum class Outcome { Pending, Complete, LineTooLong, TooLarge, SizeMismatch, Unasked, Discarded };

    struct Reply
    {
        quint64 id = 0;
        bool multiLine = false;
        qint32 message = 0;   // the message a prefetched RETR is for; 0 for other commands
        qint64 sizeHint = -1; // the size LIST announced, -1 when unknown
        qint64 cap = 0;       // content bytes a multi-line reply may carry
        bool discardOverCap = false;
        bool discarded = false;    // over its cap: content dropped, terminator still looked for
        ListedSizeCheck sizeCheck; // a message checked against its LIST size
        Outcome outcome = Outcome::Pending;
        QByteArray bytes;
        qsizetype statusEnd = -1; // where the status line's CR LF begins, -1 until seen
    };

    // A command was sent: its reply follows those already expected. With
    // listed >= 0 the reply is a message that must match that LIST size; with
    // discardOverCap a reply over its cap is dropped rather than ending the
    // framing.
    quint64 expect(bool multiLine, qint64 cap, qint32 message = 0, qint64 sizeHint = -1, qint64 listed = -1,
                   bool discardOverCap = false);
    void feed(const char *data, qsizetype size);

    bool isEmpty() const { return m_replies.empty(); }
    qsizetype count() const { return qsizetype(m_replies.size()); }
    const Reply &front() const { return m_replies.front(); }
    const Reply &back() const { return m_replies.back(); }
    bool frontDone() const { return m_done > 0; }
    // The oldest reply, finished or not (an unfinished one is given up).
    Reply takeFront();
    const Reply *find(quint64 id) const;
    bool contains(quint64 id) const { return find(id) != nullptr; }
    // The reply of a RETR sent ahead for this message, 0 when none is expected.
    quint64 findMessage(qint32 message) const;
    // Announced sizes of the replies up to and including this one, -1 when
    // one of them is unknown.
    qint64 sizeUpTo(quint64 id) const;
    // A reply went over a cap, did not match its listed size, or bytes came
    // that nothing asked for: the bytes after it can no longer be matched to
    // commands, so nothing more is framed.
    bool broken() const { return m_broken; }
    Outcome brokenOutcome() const { return m_brokenOutcome; }
    qint64 heldBytes() const { return m_held; }
    void clear();

private:
    // Takes what belongs to the reply being received; returns the bytes used.
    qsizetype take(Reply &reply, const char *data, qsizetype size);

    std::deque<Reply> m_replies;
    qsizetype m_done = 0; // finished replies at the front
    quint64 m_nextId = 1;
    qint64 m_held = 0;
    bool m_broken = false;
    Outcome m_brokenOutcome = Outcome::Pending;
};

} // namespace Tarnpostctl
