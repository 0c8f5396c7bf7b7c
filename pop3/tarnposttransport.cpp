#include "pop3/tarnpost.h"

#include "pop3/include/tarnpostctl.h"
#include "pop3/socketadapter.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace Tarnpostctl {

namespace {

const QString kTimeoutText = u"Program determining timeout error"_s;
constexpr char kTerminator[] = "\r\n.\r\n";
constexpr qsizetype kTerminatorSize = 5;
// Wakes a blocked wait often enough for its timeout test.
constexpr int kWakeIntervalMs = 250;
// Silence is measured from the last byte, so a reply that trickles in also has
// an overall limit: POPTimeout plus its announced size at this rate, or
// POPTimeout times kUnknownSizeFactor when no size is known.
constexpr qint64 kSlowestBytesPerSecond = 1024;
constexpr qint64 kUnknownSizeFactor = 6;
// ".\r\n" of a terminator that may already sit at the end of a reply's content.
constexpr qsizetype kTerminatorTail = 3;

bool socketGone(int state) { return state == SocketAdapter::StateClosed || state == SocketAdapter::StateError; }

} // namespace

bool Tarnpost::waitUntil(const std::function<bool()> &finished, const std::function<bool()> &timedOut, WaitStart start)
{
    if (start == WaitStart::Test && finished())
        return true;
    // Whatever is awaited may be the reply to a command held back.
    sendHeldCommands(*wsk1);
    for (;;) {
        // Blocks until something happens; the timer bounds the block so that
        // the timeout test runs at least four times a second.
        QTimer wake;
        wake.start(kWakeIntervalMs);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (finished())
            return true;
        if (timedOut && timedOut())
            return false;
    }
}

const QString &Tarnpost::timeoutText() { return kTimeoutText; }

bool Tarnpost::timeoutPassed(qint16 intTimeout) const
{
    if (dtmLastActivity.elapsed() / 1000 > qint64(intTimeout))
        return true;
    const qint64 overall =
        m_replySize >= 0 ? qint64(intTimeout) + (m_replySize + kSlowestBytesPerSecond - 1) / kSlowestBytesPerSecond
                         : qint64(intTimeout) * kUnknownSizeFactor;
    return m_replyStarted.isValid() && m_replyStarted.elapsed() / 1000 > overall;
}

void Tarnpost::beginReply(bool multiLine)
{
    m_multiLineReply = multiLine;
    m_replyRefused = false;
    m_replyStarted.start();
    // Only a message (a multi-line reply) is held to its listed size.
    m_sizeCheck.reset(multiLine ? m_retrListed : -1);
    m_sizeFed = 0;
    m_retrListed = -1;
}

bool Tarnpost::repliesOutOfStep() const
{
    // Between exchanges nothing is due from the server: bytes waiting now
    // would be taken for the next command's reply.
    return intpropertystatus == StatusConnected && !strDataBuffer.isEmpty();
}

Tarnpost::ReplyOverflow Tarnpost::overflowOf(ReplyPipeline::Outcome outcome)
{
    switch (outcome) {
    case ReplyPipeline::Outcome::TooLarge: return ReplyOverflow::MessageTooLarge;
    case ReplyPipeline::Outcome::SizeMismatch: return ReplyOverflow::SizeMismatch;
    case ReplyPipeline::Outcome::Unasked: return ReplyOverflow::Unasked;
    default: return ReplyOverflow::LineTooLong;
    }
}

void Tarnpost::checkReplySize()
{
    if (m_replyOverflow != ReplyOverflow::None)
        return;
    const qsizetype size = strDataBuffer.size();
    if (m_statusLineEnd < 0) {
        // Only the new part is searched: one overlong line costs one pass.
        const qsizetype crlf = strDataBuffer.indexOf("\r\n"_L1, qMax<qsizetype>(0, m_lineScanned - 1));
        m_lineScanned = size;
        m_statusLineEnd = crlf;
        const qsizetype line = crlf >= 0 ? crlf : size - (strDataBuffer.endsWith(u'\r') ? 1 : 0);
        if (line > MaxReplyLine) {
            m_replyOverflow = ReplyOverflow::LineTooLong;
            return;
        }
    }
    if (!m_multiLineReply) {
        // A one-line reply is that one line; nothing more belongs to it.
        if (size > qsizetype(MaxReplyLine) + 2)
            m_replyOverflow = ReplyOverflow::LineTooLong;
        return;
    }
    if (m_sizeCheck.active() && m_statusLineEnd >= 0 && !strDataBuffer.startsWith("-ERR"_L1)) {
        // A message that outgrows its listed size is cut off as soon as it does.
        const qsizetype from = qMax(m_sizeFed, m_statusLineEnd + 2);
        if (size > from)
            m_sizeCheck.feed(QStringView(strDataBuffer).sliced(from, size - from));
        m_sizeFed = size;
        if (m_sizeCheck.outgrown()) {
            m_replyOverflow = ReplyOverflow::SizeMismatch;
            return;
        }
    }
    if (m_statusLineEnd >= 0 && size - (m_statusLineEnd + 2) - kTerminatorTail > qsizetype(m_MaxMessageSize))
        m_replyOverflow = ReplyOverflow::MessageTooLarge;
}

QString Tarnpost::refuseReply(const QString &where)
{
    switch (m_replyOverflow) {
    case ReplyOverflow::MessageTooLarge: setError(ErrorMessageTooLarge); break;
    case ReplyOverflow::SizeMismatch:
    case ReplyOverflow::Unasked:
        setError(ErrorSizeMismatch);
        m_unasked = m_replyOverflow == ReplyOverflow::Unasked;
        break;
    default: setError(ErrorReplyTooLong); break;
    }
    m_refusedLimit = m_MaxMessageSize;
    m_replyRefused = true;
    blnStreamToFile = false;
    const QString text = ErrorText();
    if (m_DebugMode)
        subdebuglog("reply refused in "_L1 + where + ": "_L1 + text);
    // What is still on its way belongs to the refused reply: the session ends,
    // without QUIT, so that none of its deletions is made.
    subcloseconnection(*wsk1);
    return text;
}

QString Tarnpost::funSendDataForSingleLineResponse(SocketAdapter &socket, const QString &strCommand, qint16 &intTimeout)
{
    if (std::optional<QString> reply = pipelinedReply(socket, strCommand, intTimeout, ReplyForm::SingleLine))
        return *reply;
    const DebugTrace trace(*this, "funSendDataForSingleLineResponse"_L1);
    blnStreamToFile = false;
    closeStreamFile();
    beginReply(false);
    if (repliesOutOfStep()) {
        m_replyOverflow = ReplyOverflow::Unasked;
        QString text = refuseReply(u"funSendDataForSingleLineResponse"_s);
        subflushdata();
        return text;
    }
    sendCommand(socket, strCommand);

    const bool answered = waitUntil(
        [this, &socket] {
            return m_replyOverflow != ReplyOverflow::None || strDataBuffer.endsWith("\r\n"_L1)
                   || socketGone(socket.state());
        },
        [this, intTimeout] { return timeoutPassed(intTimeout); }, WaitStart::Block);
    // An errored socket delivers nothing more: give up as a timeout would.
    if (m_replyOverflow == ReplyOverflow::None && (!answered || socket.state() == SocketAdapter::StateError)) {
        subdebuglog(u"timeout in funSendDataForSingleLineResponse"_s);
        strDataBuffer = kTimeoutText;
    }
    // A reply that ended in the same arrival that took it over the cap is refused too.
    QString result = m_replyOverflow != ReplyOverflow::None ? refuseReply(u"funSendDataForSingleLineResponse"_s)
                                                            : std::move(strDataBuffer);
    subflushdata();
    m_replySize = -1;
    return result;
}

QString Tarnpost::funSendDataForMultiLineResponse(SocketAdapter &socket, const QString &strCommand, qint16 &intTimeout)
{
    if (std::optional<QString> reply = pipelinedReply(socket, strCommand, intTimeout, ReplyForm::MultiLine))
        return *reply;
    const DebugTrace trace(*this, "funSendDataForMultiLineResponse"_L1);
    blnStreamToFile = false;
    closeStreamFile();
    beginReply(true);
    if (repliesOutOfStep()) {
        m_replyOverflow = ReplyOverflow::Unasked;
        QString text = refuseReply(u"funSendDataForMultiLineResponse"_s);
        subflushdata();
        return text;
    }
    sendCommand(socket, strCommand);

    QString result;
    bool firstLineCheck = true;
    const auto finished = [&] {
        if (m_replyOverflow != ReplyOverflow::None)
            return true;
        if (firstLineCheck && !isBlank(strDataBuffer) && strDataBuffer.contains("\r\n"_L1)) {
            firstLineCheck = false;
            if (strDataBuffer.startsWith("-ERR"_L1)) {
                result = std::move(strDataBuffer);
                return true;
            }
        }
        if (!firstLineCheck) {
            subdebuglog(u"funSendDataForMultiLineResponse: (1)"_s);
            // Only the tail is looked at, so a long reply costs no rescans.
            if (strDataBuffer.endsWith(QLatin1StringView(kTerminator))) {
                result = std::move(strDataBuffer);
                result.chop(kTerminatorSize);
                return true;
            }
        }
        subdebuglog(u"funSendDataForMultiLineResponse: (2)"_s);
        if (socketGone(socket.state())) {
            // Nothing more can arrive on a closed socket: end as a timeout would.
            subdebuglog(u"timeout in funSendDataForMultiLineResponse"_s);
            result = kTimeoutText;
            return true;
        }
        return false;
    };
    if (!waitUntil(
            finished, [this, intTimeout] { return timeoutPassed(intTimeout); }, WaitStart::Block)) {
        result = kTimeoutText;
        subdebuglog(u"timeout in funSendDataForMultiLineResponse"_s);
    }
    if (m_replyOverflow != ReplyOverflow::None)
        result = refuseReply(u"funSendDataForMultiLineResponse"_s);
    subflushdata();
    m_multiLineReply = false;
    m_replySize = -1;
    return result;
}

QString Tarnpost::funSendDataForStreamingToAFile(SocketAdapter &socket, const QString &strCommand, qint16 &intTimeout)
{
    if (std::optional<QString> reply = pipelinedReply(socket, strCommand, intTimeout, ReplyForm::StreamToFile))
        return *reply;
    const DebugTrace trace(*this, "funSendDataForStreamingToAFile"_L1);
    closeStreamFile();
    blnStreamToFile = true;
    blnStreamFirstPacket = true;
    strStreamFirstLine.clear();
    m_framer.onStatusLine = [this](const QByteArray &statusLine) { openStreamFile(statusLine); };
    // Nothing of a streamed message is held in memory: only its listed size
    // limits it.
    m_framer.onContent = [this](const char *data, qsizetype size) {
        if (m_replyOverflow != ReplyOverflow::None)
            return;
        m_streamContentBytes += size;
        m_sizeCheck.feed(data, size);
        if (m_sizeCheck.outgrown()) {
            m_replyOverflow = ReplyOverflow::SizeMismatch;
            return;
        }
        subwritebytestofile(QByteArray::fromRawData(data, size), 0, size - 1);
    };
    m_framer.start();
    m_streamFileError.clear();
    m_streamContentBytes = 0;
    const qint64 listed = m_retrListed;
    beginReply(false);
    m_sizeCheck.reset(listed);
    if (repliesOutOfStep()) {
        m_replyOverflow = ReplyOverflow::Unasked;
        strStreamFirstLine = refuseReply(u"funSendDataForStreamingToAFile"_s);
        blnStreamToFile = false;
        subflushdata();
        return strStreamFirstLine;
    }
    sendCommand(socket, strCommand);

    const bool ended = waitUntil(
        [this, &socket] {
            return m_replyOverflow != ReplyOverflow::None || !blnStreamToFile || socketGone(socket.state());
        },
        [this, intTimeout] { return timeoutPassed(intTimeout); }, WaitStart::Block);
    // The whole message arrived: it must be the one LIST described.
    if (m_replyOverflow == ReplyOverflow::None && ended && !blnStreamToFile && !m_framer.refused()
        && strStreamFirstLine.startsWith("+OK"_L1) && !m_sizeCheck.matches())
        m_replyOverflow = ReplyOverflow::SizeMismatch;
    if (m_replyOverflow != ReplyOverflow::None) {
        strStreamFirstLine = refuseReply(u"funSendDataForStreamingToAFile"_s);
    } else if (!ended || blnStreamToFile) {
        // Timed out, or the socket closed before the end: nothing more can arrive.
        strStreamFirstLine = kTimeoutText;
        subdebuglog(u"timeout in funSendDataForStreamingToAFile"_s);
    }
    closeStreamFile();
    m_framer.start();
    subflushdata();
    m_replySize = -1;
    return strStreamFirstLine;
}

void Tarnpost::sendCommand(SocketAdapter &socket, const QString &strCommand)
{
    // The timeout counts from here.
    dtmLastActivity.start();
    if (m_DebugMode) {
        // The password and the access token stay out of the trace.
        const bool pass = strCommand.startsWith("PASS "_L1);
        subdebuglog(u"Sending command:"_s
                    + (pass                     ? u"PASS ********"_s
                       : m_traceSecretFrom >= 0 ? strCommand.left(m_traceSecretFrom) + "********"_L1
                                                : strCommand));
    }
    m_traceSecretFrom = -1;
    // Behind the commands held back, in the same write.
    m_heldCommands += (strCommand + "\r\n"_L1).toLatin1();
    sendHeldCommands(socket);
}

void Tarnpost::holdCommand(const QByteArray &command, qint64 replyCost)
{
    if (m_DebugMode)
        subdebuglog(u"Sending command:"_s + QLatin1StringView(command));
    m_heldCommands += command + "\r\n";
    m_heldCost += replyCost;
}

void Tarnpost::sendHeldCommands(SocketAdapter &socket)
{
    if (m_heldCommands.isEmpty())
        return;
    socket.send(m_heldCommands);
    m_heldCommands.clear();
    m_heldCost = 0;
}

QString Tarnpost::wireText(const QString &text) { return QString::fromLatin1(text.toUtf8()); }

void Tarnpost::subflushdata()
{
    subdebuglog(u"in subflushdata"_s);
    strDataBuffer.clear();
    m_statusLineEnd = -1;
    m_lineScanned = 0;
    m_replyOverflow = ReplyOverflow::None;
    m_sizeCheck.reset(-1);
    m_sizeFed = 0;
}

void Tarnpost::wsk1_DataArrival(qint64 bytesTotal)
{
    waitUntil([this] { return wsk1->state() != SocketAdapter::StateConnecting; });
    dtmLastActivity.start();
    if (pipelineTakesArrival())
        return;
    if (blnInDataArrival)
        return;
    // Over a cap: the waiting command closes the session; nothing more is read.
    if (m_replyOverflow != ReplyOverflow::None)
        return;
    blnInDataArrival = true;
    const DebugTrace trace(*this, "wsk1_dataarrival"_L1);

    // Loop until the socket is drained: bytes queued while a progress handler
    // ran would otherwise wait for the next arrival, which may never come.
    while (wsk1->state() != SocketAdapter::StateClosed && wsk1->bytesAvailable() > 0) {
        // One buffer serves every read: a large reply costs no allocation per packet.
        if (m_packet.size() != SocketAdapter::kReadBufferSize)
            m_packet.resize(SocketAdapter::kReadBufferSize);
        const qint64 n = wsk1->read(m_packet.data(), m_packet.size());
        if (n <= 0)
            break;
        if (!blnStreamToFile) {
            const QLatin1StringView strReading(m_packet.constData(), qsizetype(n));
            if (m_DebugMode) {
                subdebuglog(u"GetData:"_s + strReading);
                subdebuglog(u"wsk1_dataarrival: len(strDataBuffer)="_s + QString::number(strDataBuffer.size()));
                subdebuglog(u"wsk1_dataarrival: len(strReading)="_s + QString::number(strReading.size())
                            + "bytesTotal="_L1 + QString::number(bytesTotal));
            }
            strDataBuffer += strReading;
            checkReplySize();
            if (blnReportReadStatus)
                reportReadStatus(
                    qint32(qMin<qsizetype>(strDataBuffer.size() / 1024 + 1, std::numeric_limits<qint32>::max())));
        } else {
            if (blnReportReadStatus) {
                lngBytesRead = qint32(qMin<qint64>(qint64(lngBytesRead) + n, std::numeric_limits<qint32>::max()));
                if (m_DebugMode)
                    subdebuglog("bytes read:"_L1 + QString::number(n) + " total:"_L1 + QString::number(lngBytesRead));
                reportReadStatus(lngBytesRead / 1024 + 1);
            }
            frameStreamPacket(m_packet.constData(), n);
        }
        dtmLastActivity.start();
        if (m_replyOverflow != ReplyOverflow::None)
            break;
    }

    blnInDataArrival = false;
}

void Tarnpost::frameStreamPacket(const char *packet, qsizetype size)
{
    if (!blnStreamToFile)
        return;
    m_framer.feed(packet, size);
    blnStreamFirstPacket = m_framer.inStatusLine();
    if (blnStreamFirstPacket) {
        if (m_framer.pendingStatusLine() > MaxReplyLine)
            m_replyOverflow = ReplyOverflow::LineTooLong;
        return;
    }
    if (m_DebugMode && !m_framer.refused())
        subdebuglog("lngposition="_L1 + QString::number(m_framer.lastTerminatorPosition()));
    if (m_framer.finished()) {
        blnStreamToFile = false;
        if (!m_framer.refused()) {
            subdebuglog(u"found end of stream 1"_s);
            closeStreamFile();
        }
    }
}

void Tarnpost::openStreamFile(const QByteArray &statusLine)
{
    strStreamFirstLine = QString::fromLatin1(statusLine);
    if (m_DebugMode)
        subdebuglog("firstline="_L1 + strStreamFirstLine + "*"_L1);
    if (statusLine.size() > MaxReplyLine) {
        m_replyOverflow = ReplyOverflow::LineTooLong;
        return;
    }
    // A refusal carries no content: no file is opened for it.
    if (m_framer.refused())
        return;
    m_streamFile = std::make_unique<QFile>(strStreamFileName);
    if (!m_streamFile->open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_streamFile.reset();
        m_streamFileError = u"Error attempting to open file"_s;
    }
}

void Tarnpost::subwritebytestofile(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    if (from > to || from < 0 || to >= bytes.size())
        return;
    // The reply is consumed whatever happens to the file; the first failure is
    // kept so that the download is not reported as a success.
    if (m_streamFile) {
        const qint64 size = to - from + 1;
        if (m_streamFile->write(bytes.constData() + from, size) != size && m_streamFileError.isEmpty())
            m_streamFileError = u"Error writing to file"_s;
        return;
    }
    constexpr qsizetype kPiece = 10000;
    for (qsizetype i = from; i <= to; i += kPiece) {
        const QString error = funappendtofile(strStreamFileName, funbytestostring(bytes, i, qMin(to, i + kPiece - 1)));
        if (!error.isEmpty() && m_streamFileError.isEmpty())
            m_streamFileError = error;
    }
}

void Tarnpost::closeStreamFile()
{
    if (m_streamFile) {
        m_streamFile->close();
        if (m_streamFile->error() != QFileDevice::NoError && m_streamFileError.isEmpty())
            m_streamFileError = u"Error writing to file"_s;
        m_streamFile.reset();
    }
}

QString Tarnpost::funbytestostring(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    if (from > to || from < 0 || to >= bytes.size())
        return {};
    return QString::fromLatin1(bytes.constData() + from, to - from + 1);
}

QString Tarnpost::funappendtofile(const QString &fileName, const QString &text)
{
    QFile file(fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadWrite | QIODevice::Append))
        return u"Error attempting to open file"_s;
    const QByteArray bytes = text.toLatin1();
    if (file.write(bytes) != bytes.size()) {
        file.close();
        return u"Error writing to file"_s;
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return u"Error writing to file"_s;
    return {};
}

void Tarnpost::subdeletefile(const QString &fileName, int *errNumber)
{
    int number = 0;
    if (!QFile::remove(fileName))
        number = QFile::exists(fileName) ? 75 : 53; // path/file access error, file not found
    if (errNumber)
        *errNumber = number;
}

void Tarnpost::reportReadStatus(qint32 lngReadInK)
{
    if (lngMsgSizeInK <= 0) {
        // No size known: nothing sensible to divide by.
        fireMsgReadStatus(0, 0);
        return;
    }
    const qint32 read = qMin(lngReadInK, lngMsgSizeInK);
    const double percent = std::nearbyint(double(read) / double(lngMsgSizeInK) * 100.0); // half to even
    fireMsgReadStatus(read, qint16(qBound(0.0, percent, 100.0)));
}

void Tarnpost::fireMsgReadStatus(qint32 lngReadInK, qint16 intPercent, bool readIsSize)
{
    qint16 percent = intPercent;
    if (readIsSize) {
        Q_EMIT MsgReadStatus(lngMsgSizeInK, lngMsgSizeInK, percent);
    } else {
        qint32 read = lngReadInK;
        Q_EMIT MsgReadStatus(read, lngMsgSizeInK, percent);
    }
    if (!m_eventSink)
        return;
    const qint32 sentRead = readIsSize ? lngMsgSizeInK : lngReadInK;
    const qint32 sentTotal = lngMsgSizeInK;
    QVariantList args{QVariant::fromValue<qint32>(sentRead), QVariant::fromValue<qint32>(sentTotal),
                      QVariant::fromValue<qint16>(percent)};
    m_eventSink->invokeEvent(DispIdMsgReadStatus, args);
    // The total (and, at the end of a download, the read count too) is the
    // control's size member passed by reference.
    bool ok = false;
    if (readIsSize && !args.isEmpty()) {
        const qint32 v = args.at(0).toInt(&ok);
        if (ok && v != sentRead)
            lngMsgSizeInK = v;
    }
    if (args.size() > 1) {
        const qint32 v = args.at(1).toInt(&ok);
        if (ok && v != sentTotal)
            lngMsgSizeInK = v;
    }
}

void Tarnpost::wsk1_Close()
{
    if (pipelineHoldsClose())
        return;
    const DebugTrace trace(*this, "wsk1_close"_L1);
    if (wsk1->state() == SocketAdapter::StateClosing)
        wsk1->close();
    subresetvaluesondisconnect();
    intpropertyerror = ErrorNone;
    m_ConnectResponse.clear();
}

void Tarnpost::wsk1_Error(int Number, const QString &Description)
{
    const qint16 number = qint16(Number);
    if (m_DebugMode)
        subdebuglog("start wsk1_error: "_L1 + QString::number(number) + u' ' + Description);
    strSocketErrorText = Description;
    intpropertyerror = number;
    if (m_DebugMode) {
        subdebuglog("error:"_L1 + QString::number(number) + u':' + Description);
        subdebuglog(u"end wsk1_error"_s);
    }
}

} // namespace Tarnpostctl
