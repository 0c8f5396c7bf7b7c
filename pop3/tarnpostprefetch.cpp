// The prefetching mode. At a session's first message the whole UIDL and LIST
// tables are fetched, and RETR for the messages that follow goes out ahead
// within a byte budget, so that a walk through the mailbox waits for the
// link's bandwidth rather than for a round trip per command. From then on
// every command of the session is sent behind those already out and its reply
// taken from the connection in turn; what a caller gets back (replies, error
// codes, when the session ends) is what the same call gets without the mode.
#include "pop3/tarnpost.h"

#include "pop3/replyparsing.h"
#include "pop3/socketadapter.h"

#include <QFile>
#include <QScopedValueRollback>

#include <limits>

using namespace Qt::StringLiterals;

namespace Tarnpostctl {

namespace {

// Counted against the budget for every RETR beside its size: its status line
// and terminator, and a floor for messages that claim no size.
constexpr qint64 kReplyOverhead = 64;
// A table line is "number id": ids are at most 70 characters.
constexpr qint64 kTableLine = 256;
constexpr qint64 kNoSize = std::numeric_limits<qint64>::min();
constexpr qint32 kHighestNumber = std::numeric_limits<qint16>::max();
// RETRs sent ahead go out once they ask for this part of the budget.
constexpr qint64 kRefillParts = 8;

bool isSuccess(const QString &reply) { return reply.startsWith("+OK"_L1); }

bool socketGone(int state) { return state == SocketAdapter::StateClosed || state == SocketAdapter::StateError; }

qint64 budgetCost(const ReplyPipeline::Reply &reply) { return qMax<qint64>(reply.sizeHint, 0) + kReplyOverhead; }

// A reply's status line with its CR LF, as text.
QString statusLineOf(const QByteArray &reply)
{
    const qsizetype crlf = reply.indexOf("\r\n");
    return QString::fromLatin1(crlf < 0 ? reply : reply.first(crlf + 2));
}

// What a single-message reply's field gives for a table line "number
// field": everything after the first blank. Ten thousand lines are read at
// a scan, so without building the reply first.
QLatin1StringView fieldAfterNumber(const QByteArray &table, qsizetype start, qsizetype end)
{
    const QLatin1StringView line(table.constData() + start, end - start);
    const qsizetype blank = line.indexOf(u' ');
    return blank < 0 ? line : line.sliced(blank + 1);
}

} // namespace

bool Tarnpost::startPipeline()
{
    m_pipeTried = true;
    subdebuglog(u"start funpipelinestart"_s);
    const QString caps = funSendDataForMultiLineResponse(*wsk1, u"CAPA"_s, m_POPTimeout);
    if (m_replyRefused)
        return false;
    if (intpropertystatus != StatusConnected)
        return true;
    if (isSuccess(caps)) {
        const QStringList lines = caps.split("\r\n"_L1);
        for (qsizetype i = 1; i < lines.size() && !m_serverPipelining; ++i)
            m_serverPipelining = lines.at(i).section(u' ', 0, 0).compare("PIPELINING"_L1, Qt::CaseInsensitive) == 0;
    }
    m_pipeStarted = true;
    m_nextPrefetch = 1;

    // The tables hold a line per message, and no more: a longer one is read
    // to its end without being kept, and the messages are then asked for one
    // by one.
    const qint32 count = qBound(0, m_MsgCount, kHighestNumber);
    const qint64 tableCap = (count + 1) * kTableLine + MaxReplyLine;
    const auto send = [this, tableCap](const QString &command) {
        const quint64 id = m_pipe.expect(true, tableCap, 0, -1, -1, true);
        sendCommand(*wsk1, command);
        return id;
    };
    const quint64 uidl = send(u"UIDL"_s);
    const quint64 list = m_serverPipelining ? send(u"LIST"_s) : 0;
    for (const bool uids : {true, false}) {
        if (intpropertystatus != StatusConnected)
            break;
        const quint64 id = uids ? uidl : (list ? list : send(u"LIST"_s));
        QByteArray table;
        const QString reply = pipelineResult(id, true, uids ? u"UIDL table"_s : u"LIST table"_s, 0, &table);
        if (m_replyRefused) {
            subdebuglog(u"end funpipelinestart"_s);
            return false;
        }
        // A refused table is asked for message by message, as without the mode.
        if (isSuccess(reply))
            indexTable(table, uids);
    }
    if (m_DebugMode)
        subdebuglog(u"prefetch: pipelining=%1 uids=%2 sizes=%3"_s.arg(int(m_serverPipelining))
                        .arg(int(!m_uidLine.isEmpty()))
                        .arg(int(!m_listSize.isEmpty())));
    subdebuglog(u"end funpipelinestart"_s);
    return true;
}

void Tarnpost::indexTable(const QByteArray &table, bool uids)
{
    const qint32 count = qBound(0, m_MsgCount, kHighestNumber);
    if (uids) {
        m_uidTable = table;
        m_uidLine = QList<qint32>(count + 1, -1);
    } else {
        m_listSize = QList<qint64>(count + 1, kNoSize);
    }
    // Lines after the status line: "number field"; the first line for a
    // number counts, numbers outside the mailbox are passed over.
    qsizetype start = table.indexOf("\r\n");
    while (start >= 0 && start + 2 <= table.size()) {
        start += 2;
        const qsizetype end = table.indexOf("\r\n", start);
        const qsizetype lineEnd = end < 0 ? table.size() : end;
        qint64 number = 0;
        qsizetype i = start;
        while (i < lineEnd && i - start < 6 && table.at(i) >= '0' && table.at(i) <= '9')
            number = number * 10 + (table.at(i++) - '0');
        if (i > start && i < lineEnd && table.at(i) == ' ' && number >= 1 && number <= count) {
            if (uids && m_uidLine.at(number) < 0) {
                m_uidLine[number] = qint32(start);
            } else if (!uids && m_listSize.at(number) == kNoSize) {
                // Read as the reply to "LIST number" would be: the field after the number.
                m_listSize[number] = ReplyParsing::leadingNumber(QString(fieldAfterNumber(table, start, lineEnd)));
            }
        }
        start = end;
    }
}

bool Tarnpost::uidFromTable(qint32 number, QString &uid) const
{
    const std::optional<QLatin1StringView> field = uidInTable(number);
    if (field)
        uid = *field;
    return field.has_value();
}

std::optional<QLatin1StringView> Tarnpost::uidInTable(qint32 number) const
{
    if (!m_pipeStarted || number < 1 || number >= m_uidLine.size() || m_uidLine.at(number) < 0
        || m_touched.contains(number))
        return std::nullopt;
    const qsizetype start = m_uidLine.at(number);
    qsizetype end = m_uidTable.indexOf("\r\n", start);
    if (end < 0)
        end = m_uidTable.size();
    return fieldAfterNumber(m_uidTable, start, end);
}

bool Tarnpost::sizeFromTable(qint32 number)
{
    if (!m_pipeStarted || number < 1 || number >= m_listSize.size() || m_listSize.at(number) == kNoSize
        || m_touched.contains(number))
        return false;
    lngSizeInOctets = qint32(m_listSize.at(number));
    lngMsgSizeInK = lngSizeInOctets / 1024 + 1;
    m_listedSize = lngSizeInOctets >= 0 ? lngSizeInOctets : -1;
    return true;
}

std::optional<QString> Tarnpost::pipelineCommand(const QString &command, bool multiLine, qint64 sizeHint,
                                                 const QString &where)
{
    const qint64 listed = multiLine ? m_retrListed : -1;
    beginReply(multiLine);
    // Without the server's word that it takes commands ahead, and for a reply
    // that may be large, the replies outstanding are taken first.
    const bool large = multiLine && (sizeHint < 0 || sizeHint > PrefetchBudget);
    if (!m_peerClosed && !m_pipe.broken() && !m_pipe.isEmpty() && (!m_serverPipelining || large)
        && drainPipeline() == PipeEnd::Timeout)
        return timeoutText();
    if (m_pipe.broken() && intpropertystatus == StatusConnected) {
        // A reply before this one went over its cap or out of step: nothing
        // after it can be read.
        m_replyOverflow = overflowOf(m_pipe.brokenOutcome());
        const QString text = refuseReply(where);
        m_replyOverflow = ReplyOverflow::None;
        return text;
    }
    if (m_peerClosed)
        applyClose();
    if (socketGone(wsk1->state()) || intpropertystatus != StatusConnected) {
        // Nothing can be sent: the answer a wait on a closed connection gives.
        if (m_DebugMode)
            subdebuglog(u"no connection for:"_s + command.section(u' ', 0, 0));
        return multiLine || wsk1->state() == SocketAdapter::StateError ? timeoutText() : QString();
    }
    // Nothing outstanding: answered as without the mode, straight from the connection.
    if (m_pipe.isEmpty())
        return std::nullopt;
    const quint64 id = m_pipe.expect(multiLine, m_MaxMessageSize, 0, multiLine ? sizeHint : -1, listed);
    sendCommand(*wsk1, command);
    return pipelineResult(id, multiLine, where);
}

QString Tarnpost::pipelineResult(quint64 id, bool multiLine, const QString &where, qint32 message, QByteArray *raw)
{
    PipeEnd end = PipeEnd::Done;
    ReplyPipeline::Reply reply = waitForPipelined(id, message, end);
    ReplyPipeline::Outcome overflow = reply.outcome;
    switch (end) {
    case PipeEnd::Done:
        if (reply.outcome == ReplyPipeline::Outcome::Complete) {
            if (!raw)
                return QString::fromLatin1(reply.bytes);
            // The caller reads the rest from the bytes: only the status line becomes text.
            QString status = statusLineOf(reply.bytes);
            *raw = std::move(reply.bytes);
            return status;
        }
        if (reply.outcome == ReplyPipeline::Outcome::Discarded) {
            // Over its cap, and read to its end: it failed, and the session goes on.
            if (m_DebugMode)
                subdebuglog("reply over its limit dropped in "_L1 + where);
            return timeoutText();
        }
        break;
    case PipeEnd::Broken: overflow = m_pipe.brokenOutcome(); break;
    case PipeEnd::Timeout:
        if (m_DebugMode)
            subdebuglog("timeout in "_L1 + where);
        if (m_pipe.count() == 1 && m_pipe.front().id == id) {
            // Nothing else is on its way: what came of this reply is dropped
            // and the session goes on, as after any other timeout.
            m_pipe.takeFront();
        } else {
            // Later replies could no longer be told from a late one.
            subcloseconnection(*wsk1);
        }
        return timeoutText();
    case PipeEnd::Closed: {
        const ReplyPipeline::Reply *partial = m_pipe.find(id);
        const QByteArray bytes = partial ? partial->bytes : QByteArray();
        if (m_peerClosed)
            applyClose();
        return multiLine || wsk1->state() == SocketAdapter::StateError ? timeoutText() : QString::fromLatin1(bytes);
    }
    }
    m_replyOverflow = overflowOf(overflow);
    const QString text = refuseReply(where);
    m_replyOverflow = ReplyOverflow::None;
    return text;
}

ReplyPipeline::Reply Tarnpost::waitForPipelined(quint64 id, qint32 message, PipeEnd &end)
{
    const bool wasWaiting = m_pipeWaiting;
    m_pipeWaiting = true;
    dtmLastActivity.start();
    m_replyStarted.start();
    m_replySize = m_pipe.sizeUpTo(id);
    ReplyPipeline::Reply reply;
    const auto finished = [&] {
        if (m_pipeReply && m_pipeReply->id == id) {
            reply = std::move(*m_pipeReply);
            m_pipeReply.reset();
            return true;
        }
        const auto it = message > 0 ? m_prefetched.find(message) : m_prefetched.end();
        if (it != m_prefetched.end() && it->second.id == id) {
            reply = std::move(it->second);
            m_prefetched.erase(it);
            m_prefetchedBytes -= reply.bytes.size();
            m_budgetUsed -= budgetCost(reply);
            return true;
        }
        return false;
    };
    const bool settled = waitUntil(
        [&] {
            readPipelined(true);
            if (finished())
                end = PipeEnd::Done;
            else if (!m_pipe.contains(id) || m_peerClosed || socketGone(wsk1->state()))
                end = PipeEnd::Closed;
            else if (m_pipe.broken())
                end = PipeEnd::Broken;
            else
                return false;
            return true;
        },
        [this] { return timeoutPassed(m_POPTimeout); });
    if (!settled)
        end = PipeEnd::Timeout;
    m_pipeWaiting = wasWaiting;
    m_replySize = -1;
    if (end == PipeEnd::Done)
        checkClose();
    return reply;
}

Tarnpost::PipeEnd Tarnpost::drainPipeline()
{
    // Only RETRs sent ahead can be outstanding here (a caller waits for its
    // own command before it returns): they are kept as they arrive.
    const bool wasWaiting = m_pipeWaiting;
    m_pipeWaiting = true;
    dtmLastActivity.start();
    m_replyStarted.start();
    m_replySize = m_pipe.isEmpty() ? -1 : m_pipe.sizeUpTo(m_pipe.back().id);
    PipeEnd end = PipeEnd::Done;
    const bool settled = waitUntil(
        [&] {
            readPipelined(true);
            if (m_pipe.isEmpty())
                return true;
            if (m_pipe.broken()) {
                end = PipeEnd::Broken;
                return true;
            }
            if (m_peerClosed || socketGone(wsk1->state())) {
                if (m_peerClosed)
                    applyClose();
                end = PipeEnd::Closed;
                return true;
            }
            return false;
        },
        [this] { return timeoutPassed(m_POPTimeout); });
    if (!settled) {
        subdebuglog(u"timeout in funpipelinedrain"_s);
        subcloseconnection(*wsk1);
        end = PipeEnd::Timeout;
    }
    m_pipeWaiting = wasWaiting;
    m_replySize = -1;
    return end;
}

void Tarnpost::readPipelined(bool waiting)
{
    if (!m_pipeStarted || m_pipeDirect || blnStreamToFile)
        return;
    if (blnInDataArrival) {
        // Called back from a read already running: what it framed is sorted.
        collectPipelined();
        return;
    }
    blnInDataArrival = true;
    while (wsk1->state() != SocketAdapter::StateClosed && wsk1->bytesAvailable() > 0 && !m_pipe.broken()) {
        // Outside a wait only as much is read as the budget allows: a server
        // that sends more than it announced is held back by the connection.
        if (!waiting && m_pipe.heldBytes() + m_prefetchedBytes > 2 * PrefetchBudget)
            break;
        if (m_packet.size() != SocketAdapter::kReadBufferSize)
            m_packet.resize(SocketAdapter::kReadBufferSize);
        const qint64 n = wsk1->read(m_packet.data(), m_packet.size());
        if (n <= 0)
            break;
        if (m_DebugMode) {
            const QLatin1StringView strReading(m_packet.constData(), qsizetype(n));
            subdebuglog(u"GetData:"_s + strReading);
        }
        m_pipe.feed(m_packet.constData(), qsizetype(n));
        dtmLastActivity.start();
        collectPipelined();
    }
    blnInDataArrival = false;
    collectPipelined();
}

void Tarnpost::collectPipelined()
{
    while (!m_pipe.isEmpty() && m_pipe.frontDone()) {
        if (m_pipe.front().message == 0) {
            if (m_pipeReply)
                return; // the waiter takes the one before first
            m_pipeReply = m_pipe.takeFront();
            continue;
        }
        ReplyPipeline::Reply reply = m_pipe.takeFront();
        const qint32 message = reply.message;
        const bool wanted = !m_pipeEnding && message >= m_MsgNumber && !m_touched.contains(message)
                            && !m_skipped.contains(message) && m_prefetched.find(message) == m_prefetched.end();
        if (wanted) {
            m_prefetchedBytes += reply.bytes.size();
            m_prefetched.emplace(message, std::move(reply));
        } else {
            m_budgetUsed -= budgetCost(reply);
        }
    }
}

void Tarnpost::sendAhead()
{
    if (!m_pipeStarted || !m_Prefetch || m_pipeEnding || m_peerClosed || intpropertystatus != StatusConnected
        || m_pipe.broken() || m_listSize.isEmpty() || socketGone(wsk1->state()))
        return;
    m_nextPrefetch = qMax<qint32>(m_nextPrefetch, m_MsgNumber);
    const qint32 last = qMin<qint32>(qint32(m_listSize.size()) - 1, m_MsgCount);
    bool stopped = false;
    while (m_nextPrefetch <= last) {
        const qint32 message = m_nextPrefetch;
        if (m_touched.contains(message) || m_skipped.contains(message)
            || m_prefetched.find(message) != m_prefetched.end()) {
            ++m_nextPrefetch;
            continue;
        }
        // A message of unknown size, or one too large to be held, is fetched
        // as without the mode when the caller reaches it; from then on the
        // messages after it are sent for. (kNoSize is negative too.)
        const qint64 size = m_listSize.at(message);
        if (size < 0 || size > m_MaxMessageSize || size + kReplyOverhead > PrefetchBudget) {
            if (message != m_MsgNumber) {
                stopped = true;
                break;
            }
            ++m_nextPrefetch;
            continue;
        }
        if (m_budgetUsed + size + kReplyOverhead > PrefetchBudget)
            break;
        if (!m_serverPipelining && !m_pipe.isEmpty()) {
            stopped = true;
            break;
        }
        m_pipe.expect(true, m_MaxMessageSize, message, size, size);
        m_budgetUsed += size + kReplyOverhead;
        holdCommand("RETR " + QByteArray::number(message), size + kReplyOverhead);
        ++m_nextPrefetch;
    }
    // The window is refilled in batches: a RETR a message is judged would
    // otherwise cost a write of its own. Held back while the replies out
    // and arrived fill most of the budget; the rest go out at once.
    if (stopped || m_nextPrefetch > last || m_heldCost >= PrefetchBudget / kRefillParts)
        sendHeldCommands(*wsk1);
}

void Tarnpost::dropPrefetched(qint32 below, qint32 only)
{
    for (auto it = m_prefetched.begin(); it != m_prefetched.end();) {
        if (it->first < below || it->first == only) {
            m_prefetchedBytes -= it->second.bytes.size();
            m_budgetUsed -= budgetCost(it->second);
            it = m_prefetched.erase(it);
        } else {
            ++it;
        }
    }
    if (only > 0 && m_currentReplyMessage == only)
        dropCurrentReply();
}

void Tarnpost::dropCurrentReply()
{
    m_budgetUsed -= m_currentReplyCost;
    m_currentReplyCost = 0;
    m_currentReply.clear();
    m_currentReplyMessage = 0;
}

bool Tarnpost::takePrefetched(QString &reply, QByteArray &raw)
{
    if (!m_pipeStarted)
        return false;
    const qint32 message = m_MsgNumber;
    m_replyRefused = false;
    if (message <= 0)
        return false;
    if (m_currentReplyMessage == message) {
        raw = m_currentReply;
        reply = statusLineOf(raw);
        return true;
    }
    const auto stored = m_prefetched.find(message);
    const quint64 id = stored != m_prefetched.end() ? stored->second.id : m_pipe.findMessage(message);
    if (id == 0)
        return false;
    QByteArray bytes;
    reply = pipelineResult(id, true, u"prefetched RETR"_s, message, &bytes);
    if (!m_replyRefused && isSuccess(reply) && m_pipeStarted) {
        // Held until the caller moves on, and counted as held.
        dropCurrentReply();
        m_currentReply = bytes;
        m_currentReplyMessage = message;
        m_currentReplyCost = bytes.size() + kReplyOverhead;
        m_budgetUsed += m_currentReplyCost;
    }
    raw = std::move(bytes);
    return true;
}

bool Tarnpost::writePrefetched(const QString &path, QString &status)
{
    QByteArray raw;
    QString reply;
    if (!takePrefetched(reply, raw))
        return false;
    m_streamFileError.clear();
    if (m_replyRefused || !isSuccess(reply)) {
        // As a streamed reply reports it: the status line without its CR LF.
        status = reply.endsWith("\r\n"_L1) ? reply.chopped(2) : reply;
        return true;
    }
    // The file receives what a streamed download writes: the content after
    // the status line, without the CR LF that ends the last line.
    const qsizetype crlf = raw.indexOf("\r\n");
    status = QString::fromLatin1(crlf >= 0 ? raw.left(crlf) : raw);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_streamFileError = u"Error attempting to open file"_s;
        return true;
    }
    if (crlf >= 0) {
        const qint64 size = raw.size() - crlf - 2;
        if (file.write(raw.constData() + crlf + 2, size) != size)
            m_streamFileError = u"Error writing to file"_s;
    }
    file.close();
    if (file.error() != QFileDevice::NoError && m_streamFileError.isEmpty())
        m_streamFileError = u"Error writing to file"_s;
    return true;
}

std::optional<QString> Tarnpost::pipelinedReply(SocketAdapter &socket, const QString &command, qint16 &timeout,
                                                ReplyForm form)
{
    if (!m_pipeStarted || m_pipeDirect)
        return std::nullopt;
    const qint64 sizeHint = m_replySize;
    const qint64 listed = m_retrListed;
    switch (form) {
    case ReplyForm::SingleLine:
        if (std::optional<QString> answer = pipelineCommand(command, false, -1, u"funSendDataForSingleLineResponse"_s))
            return answer;
        break;
    case ReplyForm::MultiLine:
        if (std::optional<QString> answer =
                pipelineCommand(command, true, sizeHint, u"funSendDataForMultiLineResponse"_s)) {
            m_replySize = -1;
            return answer;
        }
        m_replySize = sizeHint;
        m_retrListed = listed;
        break;
    case ReplyForm::StreamToFile: {
        // The stream is read straight from the connection: the replies ahead
        // of it are taken first.
        const PipeEnd drained = m_pipe.isEmpty() ? PipeEnd::Done : drainPipeline();
        if (m_pipe.broken() && intpropertystatus == StatusConnected) {
            m_replyOverflow = overflowOf(m_pipe.brokenOutcome());
            const QString text = refuseReply(u"funSendDataForStreamingToAFile"_s);
            m_replyOverflow = ReplyOverflow::None;
            return text;
        }
        if (m_peerClosed)
            applyClose();
        if (drained != PipeEnd::Done || intpropertystatus != StatusConnected)
            return timeoutText();
        m_replySize = sizeHint;
        m_retrListed = listed;
        break;
    }
    }
    // Answered as without the mode, straight from the connection.
    const QScopedValueRollback direct(m_pipeDirect, true);
    switch (form) {
    case ReplyForm::SingleLine: return funSendDataForSingleLineResponse(socket, command, timeout);
    case ReplyForm::MultiLine: return funSendDataForMultiLineResponse(socket, command, timeout);
    case ReplyForm::StreamToFile: break;
    }
    return funSendDataForStreamingToAFile(socket, command, timeout);
}

bool Tarnpost::pipelineTakesArrival()
{
    if (!m_pipeStarted || m_pipeDirect || blnStreamToFile)
        return false;
    readPipelined(m_pipeWaiting);
    return true;
}

bool Tarnpost::pipelineHoldsClose()
{
    if (!m_pipeStarted || m_pipeDirect || m_pipeEnding || intpropertystatus != StatusConnected)
        return false;
    // Replies that arrived before the close are still the caller's. The
    // session ends once they are taken, or, when a reply was lost with the
    // connection, once the caller needs that reply or the connection.
    readPipelined(true);
    if (m_pipe.isEmpty() && m_prefetched.empty() && !m_pipeReply)
        return false;
    m_peerClosed = true;
    subdebuglog(u"wsk1_close: replies still to be taken"_s);
    return true;
}

bool Tarnpost::readsReplyDirectly() const
{
    return !m_pipeStarted || !m_serverPipelining || m_pipe.isEmpty() || m_listedSize > PrefetchBudget;
}

void Tarnpost::dropRepliesBefore(qint32 message)
{
    if (!m_pipeStarted)
        return;
    dropPrefetched(message);
    dropCurrentReply();
}

void Tarnpost::noteDeleted(qint32 message)
{
    // DELE never starts the mode, so a session prefetching now was before.
    if (!m_pipeStarted)
        return;
    // Whatever the answer, the message may be gone: from now on it is asked
    // for as without the mode, and what came ahead for it is dropped.
    m_touched.insert(message);
    dropPrefetched(0, message);
}

void Tarnpost::noteSkipped(qint32 message)
{
    m_skipped.insert(message);
    if (m_pipeStarted)
        dropPrefetched(0, message);
}

void Tarnpost::forgetDeleted()
{
    if (m_pipeStarted)
        m_touched.clear();
}

void Tarnpost::stopPrefetching()
{
    if (!m_pipeStarted)
        return;
    // Nothing that arrives from now on is kept.
    m_pipeEnding = true;
    dropPrefetched(std::numeric_limits<qint32>::max());
}

void Tarnpost::checkClose()
{
    // A close that lost no reply takes effect once the last reply that
    // arrived before it has been taken.
    if (m_peerClosed && m_pipe.isEmpty() && m_prefetched.empty() && !m_pipeReply)
        applyClose();
}

void Tarnpost::applyClose()
{
    // What the close does when it is seen while the caller waits.
    m_peerClosed = false;
    m_pipeStarted = false;
    wsk1_Close();
}

void Tarnpost::resetPipeline()
{
    m_pipe.clear();
    m_pipeReply.reset();
    m_prefetched.clear();
    m_prefetchedBytes = 0;
    m_budgetUsed = 0;
    m_nextPrefetch = 1;
    m_pipeTried = false;
    m_pipeStarted = false;
    m_pipeEnding = false;
    m_serverPipelining = false;
    m_peerClosed = false;
    m_uidTable.clear();
    m_uidLine.clear();
    m_listSize.clear();
    m_touched.clear();
    m_skipped.clear();
    m_currentReply.clear();
    m_currentReplyMessage = 0;
    m_currentReplyCost = 0;
    m_heldCommands.clear();
    m_heldCost = 0;
}

} // namespace Tarnpostctl
