#include "pop3/tarnpost.h"

#include "pop3/debuglog.h"
#include "pop3/replyparsing.h"
#include "pop3/socketadapter.h"
#include "pop3/include/tarnpostctl.h"

#include <QFile>
#include <QLabel>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace Tarnpostctl {

namespace {

const QString kTlsTimeoutText = u"No answer from the server within the timeout"_s;

} // namespace

Tarnpost::Tarnpost(QWidget *parent)
    : QWidget(parent)
    , wsk1(new SocketAdapter(this))
    , m_debugLog(new DebugLog)
{
    connect(wsk1, &SocketAdapter::dataArrival, this, &Tarnpost::wsk1_DataArrival);
    connect(wsk1, &SocketAdapter::closed, this, &Tarnpost::wsk1_Close);
    connect(wsk1, &SocketAdapter::error, this, &Tarnpost::wsk1_Error);
    connect(wsk1, &SocketAdapter::tlsFailed, this, &Tarnpost::wsk1_TlsFailed);
    connect(wsk1, &SocketAdapter::encrypted, this, &Tarnpost::wsk1_Encrypted);

    Label2 = new QLabel(u"Tarnpost"_s, this);
    Label1 = new QLabel(u"POP3 control"_s, this);
    QFont small = font();
    small.setPixelSize(7);
    Label2->setFont(small);
    Label1->setFont(small);
    Label2->setGeometry(0, 4, 32, 10);
    Label1->setGeometry(0, 16, 32, 10);
    resize(32, 32);
}

Tarnpost::~Tarnpost()
{
    subdebuglog(u"start usercontrol_terminate"_s);
    if (intpropertystatus != 0) {
        if (m_DebugMode)
            subdebuglog(u"intpropertystatus <> 0, is ="_s + QString::number(intpropertystatus));
        Disconnect();
    }
    subdebuglog(u"end usercontrol_terminate"_s);
    subclosestreamfile();
    // The socket goes first, so that nothing it signals on the way out reaches
    // a half-destroyed control.
    wsk1->disconnect(this);
    delete wsk1;
    wsk1 = nullptr;
    delete m_debugLog;
    m_debugLog = nullptr;
}

// ---- Debug log ----

void Tarnpost::subdebuglog(const QString &text)
{
    if (!m_DebugMode || !m_debugLog)
        return;
    m_debugLog->write(m_DebugFile, Version(), fungetsocketstate(), text);
}

QString Tarnpost::fungetsocketstate() const
{
    return DebugLog::timestamp() + " State:"_L1 + QString::number(wsk1->state()) + " RemHost:"_L1 + wsk1->remoteHost()
        + " RemIP:"_L1 + wsk1->remoteHostIP() + " RemPort:"_L1 + QString::number(wsk1->remotePort());
}

// ---- Session ----

bool Tarnpost::funisblank(const QString &text)
{
    return QString::compare(text, " "_L1, Qt::CaseSensitive) <= 0;
}

qint32 Tarnpost::funleadingnumber(const QString &text)
{
    return ReplyParsing::leadingNumber(text);
}

int Tarnpost::SocketState() const
{
    return wsk1 ? wsk1->state() : SocketAdapter::StateClosed;
}

QString Tarnpost::StatusText() const
{
    switch (intpropertystatus) {
    case 0: return u"Disconnected"_s;
    case 1: return u"Connected"_s;
    default: return {};
    }
}

QString Tarnpost::ErrorText() const
{
    switch (intpropertyerror) {
    case 0: return {};
    case 11: return u"Connection was accepted but no data received before timeout. Connection closed"_s;
    case 12: return u"Timeout waiting on connect request"_s;
    case 13: return u"Already connected"_s;
    case 14: return "Error received from USER command: "_L1 + strLastErrorReply;
    case 15: return "Error received from PASS command: "_L1 + strLastErrorReply;
    case 16: return u"Hostname cannot be blank"_s;
    case 17: return u"Username cannot be blank"_s;
    case 18: return "Error received from STAT command: "_L1 + strLastErrorReply;
    case 19: return u"Cannot set message number when disconnected"_s;
    case 20: return u"Cannot set message number less than or equal to 0 or greater than the message count"_s;
    case 21: return "Error using the UIDL command: "_L1 + strLastErrorReply;
    case 22: return "Error using the TOP command: "_L1 + strLastErrorReply;
    case 23: return u"Cannot retrieve message when disconnected"_s;
    case 24: return u"Cannot retrieve message number 0, use the SetCurrentMsg method"_s;
    case 25: return "Error retrieving the message: "_L1 + strLastErrorReply;
    case 26: return "Error using the DELE (delete) command: "_L1 + strLastErrorReply;
    case 27: return u"Cannot delete message when disconnected"_s;
    case 28: return "Error using the RSET (reset) command: "_L1 + strLastErrorReply;
    case 29: return u"Cannot reset deleted messages when disconnected"_s;
    case 30: return "Error using the LIST command: "_L1 + strLastErrorReply;
    case 31: return "File error: "_L1 + strLastErrorReply;
    case ErrorTlsHandshake: return "TLS handshake failed: "_L1 + strTlsErrorText;
    case ErrorNoStls: return u"Server does not offer STLS"_s;
    case ErrorTlsUnavailable: return u"TLS is not available on this system"_s;
    case ErrorReplyTooLong:
        return u"The server sent a reply line longer than %1 bytes. Connection closed"_s.arg(MaxReplyLine);
    case ErrorMessageTooLarge:
        return u"Message is larger than the limit of %1 bytes; it was left on the server"_s.arg(m_refusedLimit);
    case ErrorQuitUnanswered: return m_quitErrorText;
    default: return strSocketErrorText;
    }
}

void Tarnpost::Connect()
{
    subdebuglog(u"start connect"_s);
    if (m_peerClosed)
        subapplyclose();
    intpropertyerror = 0;

    if (wsk1->state() == SocketAdapter::StateConnected) {
        intpropertyerror = 13;
    } else if (funisblank(m_POPHostname)) {
        intpropertyerror = 16;
    } else if (funisblank(m_POPUsername)) {
        intpropertyerror = 17;
    } else if (m_POPSecurity != SecurityNone && !SocketAdapter::tlsAvailable()) {
        intpropertyerror = ErrorTlsUnavailable;
    } else {
        blnInDataArrival = false;
        blnStreamToFile = false;
        subclosestreamfile();
        dtmLastActivity.start();
        subbeginreply(false);  // the greeting's overall limit counts the connect time too
        m_replySize = -1;
        intpropertyerror = 0;
        subflushdata();
        if (m_DebugMode && m_POPSecurity != SecurityNone)  // a clear session logs as it always did
            subdebuglog(u"connect: security="_s + QString::number(m_POPSecurity));
        if (m_POPSecurity == SecurityTls)
            wsk1->connectToHostEncrypted(m_POPHostname, m_POPPort);
        else
            wsk1->connectToHost(m_POPHostname, m_POPPort, m_POPSecurity == SecurityStls);
        m_ConnectResponse.clear();

        bool blnDone = false;
        while (!blnDone) {
            const int state = wsk1->state();
            subwaitforevents();
            blnDone = true;
            if (state == SocketAdapter::StateError) {
                subdebuglog(u"connect:sckError"_s);
                subcloseconnection(*wsk1);
            } else if (state == SocketAdapter::StateConnected) {
                subdebuglog(u"connect:sckConnected"_s);
                while (!strDataBuffer.endsWith("\r\n"_L1) && intpropertyerror == 0
                       && m_replyOverflow == ReplyOverflow::None) {
                    subwaitforevents();
                    if (m_replyOverflow == ReplyOverflow::None && funtimedout(m_POPTimeout)) {
                        subdebuglog(u"timeout(1) in Connect"_s);
                        intpropertyerror = 11;
                        subcloseconnection(*wsk1);
                        subdebuglog(u"timeout(1) in connect, blnDone=True"_s);
                    }
                }
                if (m_replyOverflow != ReplyOverflow::None && intpropertyerror == 0)
                    subrefusereply(u"Connect"_s);
                if (intpropertyerror == 0)
                    m_ConnectResponse = strDataBuffer.chopped(2);
                else
                    m_ConnectResponse.clear();
                if (m_DebugMode)
                    subdebuglog(u"connectreponse="_s + m_ConnectResponse);
                subflushdata();
            } else {
                blnDone = false;
            }
            if (!blnDone && funtimedout(m_POPTimeout)) {
                subdebuglog(u"timeout(2) in Connect"_s);
                blnDone = true;
                if (wsk1->isHandshaking()) {
                    // The server took the connection but never finished TLS.
                    strTlsErrorText = kTlsTimeoutText;
                    intpropertyerror = ErrorTlsHandshake;
                } else {
                    intpropertyerror = 12;
                }
                subcloseconnection(*wsk1);
            }
        }

        if (intpropertyerror != 0) {
            subcloseconnection(*wsk1);
            subdebuglog(u"end connect"_s);
            return;
        }
        if (m_POPSecurity == SecurityStls && !funstarttls()) {
            subcloseconnection(*wsk1);
            subdebuglog(u"end connect"_s);
            return;
        }

        // One login step; false once it failed, with Error set and the session
        // closed (a reply over its cap has set its own Error).
        QString reply;
        const auto step = [this, &reply](const QString &command, qint16 refusedError) {
            reply = funSendDataForSingleLineResponse(*wsk1, command, m_POPTimeout);
            if (m_replyRefused)
                return false;
            if (reply.startsWith("+OK"_L1))
                return true;
            strLastErrorReply = reply;
            subcloseconnection(*wsk1);
            intpropertyerror = refusedError;
            return false;
        };
        if (step("USER "_L1 + funwiretext(m_POPUsername), 14)) {
            if (m_POPPassword.isEmpty())
                m_POPPassword = u" "_s;
            if (step("PASS "_L1 + funwiretext(m_POPPassword), 15) && step(u"STAT"_s, 18)) {
                // "+OK count size": a reply without the size gives size 0.
                const ReplyParsing::StatFields stat = ReplyParsing::parseStat(reply);
                m_MsgCount = stat.count;
                lngSizeInOctets = stat.size;
                intpropertystatus = 1;
            }
        }
    }

    if (intpropertyerror != 0)
        subcloseconnection(*wsk1);
    subdebuglog(u"end connect"_s);
}

bool Tarnpost::setMaxMessageSize(qint32 value)
{
    if (value < 1)
        return false;
    m_MaxMessageSize = value;
    return true;
}

bool Tarnpost::setPOPSecurity(qint16 value)
{
    if (value < SecurityNone || value > SecurityStls)
        return false;
    m_POPSecurity = value;
    return true;
}

bool Tarnpost::funstarttls()
{
    subdebuglog(u"start funstarttls"_s);
    const QString reply = funSendDataForSingleLineResponse(*wsk1, u"STLS"_s, m_POPTimeout);
    if (m_replyRefused) {
        subdebuglog(u"end funstarttls"_s);
        return false;
    }
    if (!reply.startsWith("+OK"_L1)) {
        strLastErrorReply = reply;
        intpropertyerror = ErrorNoStls;
        subdebuglog(u"end funstarttls"_s);
        return false;
    }
    // Bytes after the reply were sent in clear before the handshake and would
    // be taken as protected replies later: refuse them.
    if (reply.indexOf("\r\n"_L1) != reply.size() - 2 || wsk1->bytesAvailable() > 0) {
        strTlsErrorText = u"The server sent data after its STLS reply"_s;
        intpropertyerror = ErrorTlsHandshake;
        subdebuglog(u"end funstarttls"_s);
        return false;
    }
    if (!wsk1->startClientEncryption()) {
        strTlsErrorText = u"TLS cannot start on this connection"_s;
        intpropertyerror = ErrorTlsHandshake;
        subdebuglog(u"end funstarttls"_s);
        return false;
    }
    dtmLastActivity.start();
    while (!wsk1->isEncrypted() && intpropertyerror == 0) {
        if (wsk1->state() != SocketAdapter::StateConnected) {
            strTlsErrorText = u"The server closed the connection"_s;
            intpropertyerror = ErrorTlsHandshake;
            break;
        }
        subwaitforevents();
        if (!wsk1->isEncrypted() && intpropertyerror == 0 && funtimedout(m_POPTimeout)) {
            subdebuglog(u"timeout in funstarttls"_s);
            strTlsErrorText = kTlsTimeoutText;
            intpropertyerror = ErrorTlsHandshake;
        }
    }
    subdebuglog(u"end funstarttls"_s);
    return intpropertyerror == 0;
}

void Tarnpost::wsk1_TlsFailed(const QString &reason)
{
    if (m_DebugMode)
        subdebuglog(u"TLS handshake failed: "_s + reason);
    strTlsErrorText = reason;
    intpropertyerror = ErrorTlsHandshake;
}

void Tarnpost::wsk1_Encrypted()
{
    if (m_DebugMode)
        subdebuglog(u"TLS started: "_s + wsk1->tlsDescription());
}

void Tarnpost::Disconnect()
{
    subdebuglog(u"start disconnect"_s);
    intpropertyerror = 0;
    // A session whose server has gone while prefetched replies were held
    // ends here: its QUIT cannot be answered.
    const bool lostUnseen = m_peerClosed && intpropertystatus == 1;
    if (m_peerClosed)
        subapplyclose();
    if (m_pipeStarted) {
        // Nothing that arrives from now on is kept.
        m_pipeEnding = true;
        subdropprefetched(std::numeric_limits<qint32>::max());
    }
    if (wsk1->state() == SocketAdapter::StateConnected) {
        const QString reply = funSendDataForSingleLineResponse(*wsk1, u"QUIT"_s, m_POPTimeout);
        const bool refused = m_replyRefused;  // over a cap: Error says so already
        QElapsedTimer noted;
        noted.start();
        while (wsk1->state() != SocketAdapter::StateError && wsk1->state() != SocketAdapter::StateClosed) {
            subwaitforevents();
            if (noted.elapsed() / 1000 > m_POPTimeout) {
                subdebuglog(u"timeout(1) in Disconnect"_s);
                subcloseconnection(*wsk1);
            }
        }
        // Deletions become final only when the server takes the QUIT: the
        // caller must be able to tell. Set after the wait, which a close clears.
        if (!refused && !reply.startsWith("+OK"_L1))
            subquitunanswered(reply);
    } else if (lostUnseen) {
        subquitunanswered(QString());
    }
    subresetvaluesondisconnect();
    subdebuglog(u"end disconnect"_s);
}

void Tarnpost::subquitunanswered(const QString &reply)
{
    if (reply == funtimeouttext())
        m_quitErrorText = u"The server did not answer QUIT within the timeout"_s;
    else if (reply.isEmpty())
        m_quitErrorText = u"The server closed the connection without answering QUIT"_s;
    else
        m_quitErrorText = "The server did not confirm QUIT: "_L1 + reply;
    intpropertyerror = ErrorQuitUnanswered;
}

void Tarnpost::subcloseconnection(SocketAdapter &socket)
{
    subdebuglog(u"start subcloseconnection"_s);
    const qint16 saved = intpropertyerror;
    if (socket.state() != SocketAdapter::StateClosed)
        socket.close();
    while (socket.state() != SocketAdapter::StateError && socket.state() != SocketAdapter::StateClosed)
        subwaitforevents();
    subresetvaluesondisconnect();
    intpropertyerror = saved;
    subdebuglog(u"end subcloseconnection"_s);
}

void Tarnpost::subresetvaluesondisconnect()
{
    subdebuglog(u"start subresetvaluesondisconnect"_s);
    subpipelinereset();
    intpropertystatus = 0;
    m_ConnectResponse.clear();
    subresetmsgvalues();
    wsk1->setRemoteHost(QString());
    if (wsk1->state() != SocketAdapter::StateError)
        wsk1->setRemotePort(0);
    subdebuglog(u"end subresetvaluesondisconnect"_s);
}

} // namespace Tarnpostctl
