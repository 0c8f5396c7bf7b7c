#include "pop3/tarnpost.h"

#include "pop3/replyparsing.h"
#include "pop3/socketadapter.h"

#include <QStringDecoder>

#include <charconv>
#include <limits>

using namespace Qt::StringLiterals;

namespace Tarnpostctl {

namespace {

const QString kUnableToRetrieve = UnableToRetrieve;
const QString kNotFound = u"<not found>"_s;

bool isSuccess(const QString &reply) { return reply.startsWith("+OK"_L1); }

bool isNoSuchMessage(const QString &reply) { return reply.contains("NO SUCH"_L1, Qt::CaseInsensitive); }

using ReplyParsing::cutReplyField;
using ReplyParsing::trimBlanks;

} // namespace

void Tarnpost::SetCurrentMsg(qint16 &intMsgNumber)
{
    blnNoSuchMsg = false;
    blnSizeRetrieved = false;
    blnHeadersRetrieved = false;
    m_listedSize = -1;
    const DebugTrace trace(*this, "setcurrentmsg"_L1);
    keepContentsBuffer();
    intpropertyerror = ErrorNone;
    if (m_peerClosed) {
        // The server has gone: once nothing that arrived is wanted any more,
        // the session is seen to be over.
        dropPrefetched(intMsgNumber == 0 ? m_MsgNumber : intMsgNumber);
        checkClose();
    }
    const qint16 previous = m_MsgNumber;

    if (intpropertystatus != StatusConnected) {
        setError(ErrorSetMsgDisconnected);
        return;
    }

    if (intMsgNumber == 0)
        intMsgNumber = m_MsgNumber;
    else
        m_MsgNumber = intMsgNumber;

    const qint32 n = intMsgNumber;
    if (!(0 < n && n <= m_MsgCount)) {
        setError(ErrorMsgNumberOutOfRange);
        m_MsgNumber = previous;
    } else {
        // A prefetching session fetches its tables at its first message.
        if (m_Prefetch && !m_pipeTried && !startPipeline())
            return;
        QString uid;
        dropRepliesBefore(n);
        if (uidFromTable(n, uid)) {
            m_MsgUniqueID = uid;
        } else {
            const QString reply =
                funSendDataForSingleLineResponse(*wsk1, "UIDL "_L1 + QString::number(n), m_POPTimeout);
            if (m_replyRefused) {
                // Over a cap: Error tells why and the session is closed.
                return;
            }
            if (isSuccess(reply)) {
                m_MsgUniqueID = cutReplyField(reply);
            } else {
                setError(ErrorUidlRefused, reply);
            }
        }
        sendAhead();
    }

    switch (intpropertyerror) {
    case ErrorNone: break;
    case ErrorUidlRefused:
    case ErrorTopRefused:
        intpropertyerror = ErrorNone;
        m_MsgUniqueID = kUnableToRetrieve;
        m_MsgHeaders = kUnableToRetrieve;
        m_MsgContents = kUnableToRetrieve;
        if (isNoSuchMessage(strLastErrorReply))
            blnNoSuchMsg = true;
        else
            RetrieveCurrentMsg(); // no UIDL on this server: fetch the message now
        break;
    default: subcloseconnection(*wsk1); break;
    }
}

QString Tarnpost::GetUniqueIDList()
{
    const DebugTrace trace(*this, "getuniqueidlist"_L1);
    intpropertyerror = ErrorNone;
    if (intpropertystatus != StatusConnected)
        return {};
    // The tables a prefetching session fetches at its first message.
    if (m_Prefetch && !m_pipeTried && !startPipeline())
        return {};
    // Ten thousand ids: no string of its own for each.
    QString list;
    list.reserve(m_uidTable.size());
    const qint32 count = m_MsgCount;
    char digits[12];
    for (qint32 n = 1; n <= count && n <= std::numeric_limits<qint16>::max(); ++n) {
        if (const std::optional<QLatin1StringView> uid = uidInTable(n)) {
            const char *const end = std::to_chars(digits, digits + sizeof digits, n).ptr;
            list += QLatin1StringView(digits, end - digits);
            list += u' ';
            list += *uid;
            list += "\r\n"_L1;
        }
    }
    return list;
}

void Tarnpost::SkipMsg(qint16 intMsgNumber)
{
    const DebugTrace trace(*this, "skipmsg"_L1);
    intpropertyerror = ErrorNone;
    if (intpropertystatus != StatusConnected) {
        setError(ErrorSetMsgDisconnected);
        return;
    }
    if (!(0 < intMsgNumber && intMsgNumber <= m_MsgCount)) {
        setError(ErrorMsgNumberOutOfRange);
        return;
    }
    noteSkipped(intMsgNumber);
}

QString Tarnpost::MsgUniqueID() const
{
    if (m_MsgUniqueID == kUnableToRetrieve)
        return madeUpUniqueId(m_POPUsername, m_POPHostname, m_MsgNumber);
    return m_MsgUniqueID;
}

void Tarnpost::subRetrieveHeaders()
{
    const DebugTrace trace(*this, "subRetrieveHeaders"_L1);
    const QString number = QString::number(m_MsgNumber);
    m_replySize = m_listedSize;
    QString reply = funSendDataForMultiLineResponse(*wsk1, "TOP "_L1 + number + " 0"_L1, m_POPTimeout);
    if (!m_replyRefused && !isSuccess(reply)) {
        m_replySize = m_listedSize;
        reply = funSendDataForMultiLineResponse(*wsk1, "TOP "_L1 + number, m_POPTimeout);
    }
    if (m_replyRefused) {
        blnHeadersRetrieved = true;
        return;
    }
    if (!isSuccess(reply)) {
        setError(ErrorTopRefused, reply);
    } else {
        const qsizetype crlf = reply.indexOf("\r\n"_L1);
        m_MsgHeaders = trimBlanks(crlf >= 0 ? reply.mid(crlf + 2) : QString());
    }
    if (intpropertyerror == ErrorUidlRefused || intpropertyerror == ErrorTopRefused) {
        if (isNoSuchMessage(strLastErrorReply)) {
            blnNoSuchMsg = true;
            intpropertyerror = ErrorNone;
            m_MsgUniqueID = kUnableToRetrieve;
            m_MsgHeaders = kUnableToRetrieve;
            m_MsgContents = kUnableToRetrieve;
        } else {
            subcloseconnection(*wsk1);
        }
    }
    blnHeadersRetrieved = true;
}

QString Tarnpost::MsgHeaders()
{
    if (!blnHeadersRetrieved)
        subRetrieveHeaders();
    return m_MsgHeaders;
}

void Tarnpost::subRetrieveSize()
{
    const DebugTrace trace(*this, "subRetrieveSize"_L1);
    if (sizeFromTable(m_MsgNumber)) {
        blnSizeRetrieved = true;
        return;
    }
    const QString reply =
        funSendDataForSingleLineResponse(*wsk1, "LIST "_L1 + QString::number(m_MsgNumber), m_POPTimeout);
    if (isSuccess(reply)) {
        lngSizeInOctets = ReplyParsing::leadingNumber(cutReplyField(reply));
        lngMsgSizeInK = lngSizeInOctets / 1024 + 1;
        m_listedSize = lngSizeInOctets >= 0 ? lngSizeInOctets : -1;
    } else if (!m_replyRefused) {
        setError(ErrorListRefused, reply);
    }
    blnSizeRetrieved = true;
}

qint32 Tarnpost::MsgSizeInK()
{
    if (!blnSizeRetrieved)
        subRetrieveSize();
    return lngMsgSizeInK;
}

QString Tarnpost::GetOtherHeader(const QString &strHeaderToSearchFor)
{
    if (!blnHeadersRetrieved)
        subRetrieveHeaders();
    const DebugTrace trace(*this, "getotherheader"_L1);
    intpropertyerror = ErrorNone;

    const ReplyParsing::HeaderMatch match = ReplyParsing::findHeader(m_MsgHeaders, strHeaderToSearchFor);
    if (match.found && m_DebugMode) {
        subdebuglog("intposition:"_L1 + QString::number(match.lineEnd + 1));
        subdebuglog("strtemp:"_L1 + QStringView(m_MsgHeaders).mid(match.nameStart - 2));
    }
    const QString result = match.found ? match.value : kNotFound;
    return result;
}

QString Tarnpost::fungetheader(const QString &name)
{
    if (m_DebugMode)
        subdebuglog("start fungetheader:"_L1 + name);
    QString text = GetOtherHeader(name);
    if (text == kNotFound)
        text.clear();
    subdebuglog(u"end fungetheader"_s);
    return text;
}

QString Tarnpost::MsgSubject() { return fungetheader(u"subject:"_s); }
QString Tarnpost::MsgFrom() { return fungetheader(u"from:"_s); }
QString Tarnpost::MsgReturnPath() { return fungetheader(u"return-path:"_s); }
QString Tarnpost::MsgReplyTo() { return fungetheader(u"reply-to:"_s); }
QString Tarnpost::MsgDate() { return fungetheader(u"date:"_s); }

void Tarnpost::RetrieveCurrentMsg()
{
    const DebugTrace trace(*this, "retrievecurrentmsg"_L1);
    if (blnNoSuchMsg)
        return;
    intpropertyerror = ErrorNone;
    if (intpropertystatus != StatusConnected) {
        setError(ErrorRetrieveDisconnected);
    } else if (m_MsgNumber == 0) {
        setError(ErrorRetrieveNoMessage);
    } else {
        if (!blnSizeRetrieved) {
            subRetrieveSize(); // the progress events need the size
            if (m_replyRefused)
                return;
        }
        if (refuseListedSize())
            return;
        blnReportReadStatus = true;
        QString reply;
        QByteArray raw; // a reply that came ahead; reply is then its status line
        const bool prefetched = takePrefetched(reply, raw);
        if (!prefetched) {
            m_spareContents = QString(); // the reply is read into a buffer of its own
            m_replySize = m_listedSize;
            m_retrListed = m_listedSize;
            // Room for the whole reply at once: a large message is not copied while it grows.
            if (m_listedSize > 0 && readsReplyDirectly())
                strDataBuffer.reserve(strDataBuffer.size() + m_listedSize + MaxReplyLine);
            reply = funSendDataForMultiLineResponse(*wsk1, "RETR "_L1 + QString::number(m_MsgNumber), m_POPTimeout);
        }
        const qsizetype statusEnd = prefetched ? raw.indexOf("\r\n") : reply.indexOf("\r\n"_L1);
        const qsizetype contentStart = statusEnd >= 0 ? statusEnd + 2 : (prefetched ? raw.size() : reply.size());
        const auto contentMatches = [&] {
            return prefetched ? ListedSizeCheck::contentMatches(m_listedSize, raw.constData() + contentStart,
                                                                raw.size() - contentStart)
                              : ListedSizeCheck::contentMatches(m_listedSize, QStringView(reply).sliced(contentStart));
        };
        if (!m_replyRefused && isSuccess(reply) && !contentMatches()) {
            // Another message's bytes, or another command's reply: the
            // session is out of step and ends before anything is judged.
            m_replyOverflow = ReplyOverflow::SizeMismatch;
            refuseReply(u"RetrieveCurrentMsg"_s);
            m_replyOverflow = ReplyOverflow::None;
        }
        if (m_replyRefused) {
            blnReportReadStatus = false;
            return;
        }
        if (isSuccess(reply) && prefetched) {
            takeMessageText(raw, contentStart);
        } else if (isSuccess(reply)) {
            // The body stays in the reply's own buffer: only the header block is copied.
            const qsizetype blankLine = reply.indexOf("\r\n\r\n"_L1, contentStart);
            if (blankLine >= 0) {
                if (m_MsgHeaders == kUnableToRetrieve || !blnHeadersRetrieved) {
                    blnHeadersRetrieved = true;
                    m_MsgHeaders = reply.sliced(contentStart, blankLine + 1 - contentStart); // ends in a lone CR
                }
                reply.remove(0, blankLine + 4);
            } else {
                reply.remove(0, contentStart);
            }
            m_MsgContents = std::move(reply);
        } else {
            setError(ErrorRetrRefused, reply);
            strLastErrorReply.squeeze(); // not the room kept for the whole message
        }
        blnReportReadStatus = false;
        fireMsgReadStatus(lngMsgSizeInK, 100, true);
    }
    if (intpropertyerror == ErrorRetrieveDisconnected || intpropertyerror == ErrorRetrieveNoMessage
        || intpropertyerror == ErrorRetrRefused)
        subcloseconnection(*wsk1);
    sendAhead();
}

void Tarnpost::takeMessageText(const QByteArray &raw, qsizetype contentStart)
{
    // The message's one conversion into text: the header block, unless it
    // is known already, and the body, into the buffer the last message left
    // when no one else holds it (a fresh one costs a page fault a page).
    const qsizetype blankLine = raw.indexOf("\r\n\r\n", contentStart);
    qsizetype bodyStart = contentStart;
    if (blankLine >= 0) {
        if (m_MsgHeaders == kUnableToRetrieve || !blnHeadersRetrieved) {
            blnHeadersRetrieved = true;
            m_MsgHeaders = QString::fromLatin1(raw.constData() + contentStart, blankLine + 1 - contentStart);
        }
        bodyStart = blankLine + 4;
    }
    const QByteArrayView body = QByteArrayView(raw).sliced(bodyStart);
    QString text = std::move(m_spareContents);
    if (!text.isDetached() || text.capacity() < body.size()) {
        // Room for a somewhat larger message next time.
        text = QString();
        text.reserve(body.size() + body.size() / 4);
    }
    text.resize(body.size());
    QStringDecoder latin1(QStringDecoder::Latin1, QStringDecoder::Flag::Stateless);
    latin1.appendToBuffer(text.data(), body);
    m_MsgContents = std::move(text);
}

void Tarnpost::keepContentsBuffer()
{
    // Kept only in a prefetching session, whose messages are no larger than
    // the budget and are converted here, not read into a buffer of their own.
    if (m_pipeStarted && m_MsgContents.isDetached() && m_MsgContents.capacity() <= 2 * PrefetchBudget)
        m_spareContents = std::move(m_MsgContents);
    m_MsgContents.clear();
}

QString Tarnpost::funcheckfilename(const QString &path)
{
    if (QString::compare(path, " "_L1, Qt::CaseSensitive) > 0) {
        const QString result = funappendtofile(path, u"x"_s);
        subdeletefile(path);
        return result;
    }
    return u"Filename cannot be empty"_s;
}

void Tarnpost::WriteCurrentMsgToFile(QString &strFileToWriteTo)
{
    const DebugTrace trace(*this, "WriteCurrentMsgToFile"_L1);
    lngBytesRead = 0;
    if (!blnHeadersRetrieved) {
        subRetrieveHeaders();
        if (m_replyRefused)
            return;
    }

    const QString check = funcheckfilename(strFileToWriteTo);
    if (QString::compare(check, " "_L1, Qt::CaseSensitive) > 0) {
        setError(ErrorFile, check);
        return;
    }
    if (blnNoSuchMsg) {
        funappendtofile(strFileToWriteTo, kUnableToRetrieve);
        return;
    }

    intpropertyerror = ErrorNone;
    if (intpropertystatus != StatusConnected) {
        setError(ErrorRetrieveDisconnected);
    } else if (m_MsgNumber == 0) {
        setError(ErrorRetrieveNoMessage);
    } else {
        if (!blnSizeRetrieved) {
            subRetrieveSize();
            if (m_replyRefused)
                return;
        }
        strStreamFileName = strFileToWriteTo;
        blnReportReadStatus = true;
        QString status;
        // A message that arrived ahead is written as it came.
        if (!writePrefetched(strFileToWriteTo, status)) {
            m_replySize = m_listedSize;
            m_retrListed = m_listedSize;
            status = funSendDataForStreamingToAFile(*wsk1, "RETR "_L1 + QString::number(m_MsgNumber), m_POPTimeout);
        }
        if (m_replyRefused) {
            blnReportReadStatus = false;
            return;
        }
        if (isSuccess(status) && !m_streamFileError.isEmpty()) {
            // The server delivered, the disk did not take it (full, removed, ...).
            setError(ErrorFile, m_streamFileError);
        } else if (isSuccess(status)) {
            m_MsgContents = "Contents written to file: "_L1 + strFileToWriteTo;
        } else {
            setError(ErrorRetrRefused, status);
        }
        blnReportReadStatus = false;
        fireMsgReadStatus(lngMsgSizeInK, 100, true);
    }
    if (intpropertyerror == ErrorRetrieveDisconnected || intpropertyerror == ErrorRetrieveNoMessage
        || intpropertyerror == ErrorRetrRefused)
        subcloseconnection(*wsk1);
}

void Tarnpost::sessionCommand(const QString &command, ErrorCode refusedError, ErrorCode disconnectedError)
{
    intpropertyerror = ErrorNone;
    if (intpropertystatus != StatusConnected) {
        setError(disconnectedError);
        return;
    }
    const QString reply = funSendDataForSingleLineResponse(*wsk1, command, m_POPTimeout);
    if (!m_replyRefused && !isSuccess(reply))
        setError(refusedError, reply);
}

void Tarnpost::DeleteCurrentMsg()
{
    const DebugTrace trace(*this, "deletecurrentmessage"_L1);
    const qint16 number = m_MsgNumber;
    sessionCommand("DELE "_L1 + QString::number(number), ErrorDeleRefused, ErrorDeleteDisconnected);
    noteDeleted(number);
}

void Tarnpost::ResetDeletedMsgs()
{
    const DebugTrace trace(*this, "resetdeletedmessages"_L1);
    sessionCommand(u"RSET"_s, ErrorRsetRefused, ErrorResetDisconnected);
    if (intpropertyerror == ErrorNone)
        forgetDeleted();
}

bool Tarnpost::refuseListedSize()
{
    if (m_listedSize <= qint64(m_MaxMessageSize))
        return false;
    // Nothing was sent yet, so the session stays usable.
    setError(ErrorMessageTooLarge);
    m_refusedLimit = m_MaxMessageSize;
    if (m_DebugMode)
        subdebuglog(ErrorText());
    return true;
}

void Tarnpost::subresetmsgvalues()
{
    const DebugTrace trace(*this, "subresetmsgvalues"_L1);
    m_MsgCount = 0;
    m_MsgNumber = 0;
    m_MsgUniqueID.clear();
    m_MsgHeaders.clear();
    m_MsgContents.clear();
    m_spareContents = QString();
    lngMsgSizeInK = 0;
    blnSizeRetrieved = false;
    blnHeadersRetrieved = false;
    m_listedSize = -1;
}

} // namespace Tarnpostctl
