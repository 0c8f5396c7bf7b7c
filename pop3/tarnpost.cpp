#include "pop3/tarnpost.h"

#include "pop3/debuglog.h"
#include "pop3/include/tarnpostctl.h"
#include "pop3/replyparsing.h"
#include "pop3/socketadapter.h"

#include <QFile>
#include <QLabel>

#include <cmath>

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
    if (intpropertystatus != StatusDisconnected) {
        if (m_DebugMode)
            subdebuglog(u"intpropertystatus <> 0, is ="_s + QString::number(intpropertystatus));
        Disconnect();
    }
    subdebuglog(u"end usercontrol_terminate"_s);
    closeStreamFile();
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

// Only a log that is written pays for the line.
Tarnpost::DebugTrace::DebugTrace(Tarnpost &control, QLatin1StringView name)
    : m_control(control)
    , m_name(name)
{
    if (m_control.m_DebugMode)
        m_control.subdebuglog("start "_L1 + m_name);
}

Tarnpost::DebugTrace::~DebugTrace()
{
    if (m_control.m_DebugMode)
        m_control.subdebuglog("end "_L1 + m_name);
}

QString Tarnpost::fungetsocketstate() const
{
    return DebugLog::timestamp() + " State:"_L1 + QString::number(wsk1->state()) + " RemHost:"_L1 + wsk1->remoteHost()
           + " RemIP:"_L1 + wsk1->remoteHostIP() + " RemPort:"_L1 + QString::number(wsk1->remotePort());
}

// ---- Session ----

bool Tarnpost::isBlank(const QString &text) { return QString::compare(text, " "_L1, Qt::CaseSensitive) <= 0; }

int Tarnpost::SocketState() const { return wsk1 ? wsk1->state() : SocketAdapter::StateClosed; }

QString Tarnpost::StatusText() const
{
    switch (intpropertystatus) {
    case StatusDisconnected: return u"Disconnected"_s;
    case StatusConnected: return u"Connected"_s;
    default: return {};
    }
}

QString Tarnpost::ErrorText() const
{
    switch (intpropertyerror) {
    case ErrorNone: return {};
    case ErrorGreetingTimeout:
        return u"Connection was accepted but no data received before timeout. Connection closed"_s;
    case ErrorConnectTimeout: return u"Timeout waiting on connect request"_s;
    case ErrorAlreadyConnected: return u"Already connected"_s;
    case ErrorUserRefused: return "Error received from USER command: "_L1 + strLastErrorReply;
    case ErrorPassRefused: return "Error received from PASS command: "_L1 + strLastErrorReply;
    case ErrorBlankHostname: return u"Hostname cannot be blank"_s;
    case ErrorBlankUsername: return u"Username cannot be blank"_s;
    case ErrorStatRefused: return "Error received from STAT command: "_L1 + strLastErrorReply;
    case ErrorSetMsgDisconnected: return u"Cannot set message number when disconnected"_s;
    case ErrorMsgNumberOutOfRange:
        return u"Cannot set message number less than or equal to 0 or greater than the message count"_s;
    case ErrorUidlRefused: return "Error using the UIDL command: "_L1 + strLastErrorReply;
    case ErrorTopRefused: return "Error using the TOP command: "_L1 + strLastErrorReply;
    case ErrorRetrieveDisconnected: return u"Cannot retrieve message when disconnected"_s;
    case ErrorRetrieveNoMessage: return u"Cannot retrieve message number 0, use the SetCurrentMsg method"_s;
    case ErrorRetrRefused: return "Error retrieving the message: "_L1 + strLastErrorReply;
    case ErrorDeleRefused: return "Error using the DELE (delete) command: "_L1 + strLastErrorReply;
    case ErrorDeleteDisconnected: return u"Cannot delete message when disconnected"_s;
    case ErrorRsetRefused: return "Error using the RSET (reset) command: "_L1 + strLastErrorReply;
    case ErrorResetDisconnected: return u"Cannot reset deleted messages when disconnected"_s;
    case ErrorListRefused: return "Error using the LIST command: "_L1 + strLastErrorReply;
    case ErrorFile: return "File error: "_L1 + strLastErrorReply;
    case ErrorTlsHandshake: return "TLS handshake failed: "_L1 + strTlsErrorText;
    case ErrorNoStls: return u"Server does not offer STLS"_s;
    case ErrorTlsUnavailable: return u"TLS is not available on this system"_s;
    case ErrorReplyTooLong:
        return u"The server sent a reply line longer than %1 bytes. Connection closed"_s.arg(MaxReplyLine);
    case ErrorMessageTooLarge:
        return u"Message is larger than the limit of %1 bytes; it was left on the server"_s.arg(m_refusedLimit);
    case ErrorSizeMismatch:
        return (m_unasked ? "The server sent a reply that nothing asked for"_L1
                          : "The message does not match the size the server listed for it"_L1)
               + "; the connection was closed without QUIT, so nothing marked for deletion in this session was deleted"_L1;
    case ErrorAuthRefused:
        return "Sign-in with the access token failed ("_L1 + m_saslStep + "): "_L1 + strLastErrorReply;
    case ErrorNoOAuthMechanism:
        return "The server offers no OAuth2 sign-in (XOAUTH2 or OAUTHBEARER): "_L1 + strLastErrorReply;
    default: return strSocketErrorText;
    }
}

void Tarnpost::setError(ErrorCode code, const QString &detail)
{
    intpropertyerror = code;
    if (code == ErrorTlsHandshake)
        strTlsErrorText = detail;
    else
        strLastErrorReply = detail;
}

void Tarnpost::Connect()
{
    const DebugTrace trace(*this, "connect"_L1);
    if (m_peerClosed)
        applyClose();
    intpropertyerror = ErrorNone;
    m_quitConfirmed = false;
    if (checkConnectSettings()) {
        openConnection();
        if (waitForConnection() && (m_POPSecurity != SecurityStls || startTls()))
            login();
    }
    if (intpropertyerror != ErrorNone)
        subcloseconnection(*wsk1);
}

bool Tarnpost::checkConnectSettings()
{
    if (wsk1->state() == SocketAdapter::StateConnected)
        setError(ErrorAlreadyConnected);
    else if (isBlank(m_POPHostname))
        setError(ErrorBlankHostname);
    else if (isBlank(m_POPUsername))
        setError(ErrorBlankUsername);
    else if (m_POPSecurity != SecurityNone && !SocketAdapter::tlsAvailable())
        setError(ErrorTlsUnavailable);
    return intpropertyerror == ErrorNone;
}

void Tarnpost::openConnection()
{
    blnInDataArrival = false;
    blnStreamToFile = false;
    closeStreamFile();
    dtmLastActivity.start();
    beginReply(false); // the greeting's overall limit counts the connect time too
    m_replySize = -1;
    intpropertyerror = ErrorNone;
    subflushdata();
    if (m_DebugMode && m_POPSecurity != SecurityNone) // a clear session logs as it always did
        subdebuglog(u"connect: security="_s + QString::number(m_POPSecurity));
    if (m_POPSecurity == SecurityTls)
        wsk1->connectToHostEncrypted(m_POPHostname, m_POPPort);
    else
        wsk1->connectToHost(m_POPHostname, m_POPPort, m_POPSecurity == SecurityStls);
    m_ConnectResponse.clear();
}

bool Tarnpost::waitForConnection()
{
    // A state is acted on one wake after it was seen, once the socket's own
    // signals for it (an error number, say) have been handled.
    int state = wsk1->state();
    int seen = state;
    const bool settled = waitUntil(
        [this, &state, &seen] {
            state = seen;
            seen = wsk1->state();
            return state == SocketAdapter::StateError || state == SocketAdapter::StateConnected;
        },
        [this] { return timeoutPassed(m_POPTimeout); }, WaitStart::Block);
    if (!settled) {
        subdebuglog(u"timeout(2) in Connect"_s);
        if (wsk1->isHandshaking()) {
            // The server took the connection but never finished TLS.
            setError(ErrorTlsHandshake, kTlsTimeoutText);
        } else {
            setError(ErrorConnectTimeout);
        }
        subcloseconnection(*wsk1);
    } else if (state == SocketAdapter::StateError) {
        subdebuglog(u"connect:sckError"_s);
        subcloseconnection(*wsk1);
    } else {
        subdebuglog(u"connect:sckConnected"_s);
        readGreeting();
    }
    return intpropertyerror == ErrorNone;
}

void Tarnpost::readGreeting()
{
    const bool greeted = waitUntil(
        [this] {
            return strDataBuffer.endsWith("\r\n"_L1) || intpropertyerror != ErrorNone
                   || m_replyOverflow != ReplyOverflow::None;
        },
        [this] { return timeoutPassed(m_POPTimeout); });
    if (!greeted) {
        subdebuglog(u"timeout(1) in Connect"_s);
        setError(ErrorGreetingTimeout);
        subcloseconnection(*wsk1);
        subdebuglog(u"timeout(1) in connect, blnDone=True"_s);
    }
    if (m_replyOverflow != ReplyOverflow::None && intpropertyerror == ErrorNone)
        refuseReply(u"Connect"_s);
    if (intpropertyerror == ErrorNone)
        m_ConnectResponse = strDataBuffer.chopped(2);
    else
        m_ConnectResponse.clear();
    if (m_DebugMode)
        subdebuglog(u"connectreponse="_s + m_ConnectResponse);
    subflushdata();
}

void Tarnpost::login()
{
    QString reply;
    if (!m_AccessToken.isEmpty()) {
        if (!saslLogin())
            return;
    } else {
        if (!loginStep("USER "_L1 + wireText(m_POPUsername), ErrorUserRefused, reply))
            return;
        if (m_POPPassword.isEmpty())
            m_POPPassword = u" "_s;
        if (!loginStep("PASS "_L1 + wireText(m_POPPassword), ErrorPassRefused, reply))
            return;
    }
    if (!loginStep(u"STAT"_s, ErrorStatRefused, reply))
        return;
    // "+OK count size": a reply without the size gives size 0.
    const ReplyParsing::StatFields stat = ReplyParsing::parseStat(reply);
    m_MsgCount = stat.count;
    lngSizeInOctets = stat.size;
    intpropertystatus = StatusConnected;
}

bool Tarnpost::loginStep(const QString &command, ErrorCode refusedError, QString &reply)
{
    reply = funSendDataForSingleLineResponse(*wsk1, command, m_POPTimeout);
    if (m_replyRefused)
        return false; // over a cap: Error says so and the session is closed
    if (reply.startsWith("+OK"_L1))
        return true;
    subcloseconnection(*wsk1);
    setError(refusedError, reply);
    return false;
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

bool Tarnpost::startTls()
{
    const DebugTrace trace(*this, "funstarttls"_L1);
    const QString reply = funSendDataForSingleLineResponse(*wsk1, u"STLS"_s, m_POPTimeout);
    if (m_replyRefused)
        return false;
    if (!reply.startsWith("+OK"_L1)) {
        setError(ErrorNoStls, reply);
        return false;
    }
    // Bytes after the reply were sent in clear before the handshake and would
    // be taken as protected replies later: refuse them.
    if (reply.indexOf("\r\n"_L1) != reply.size() - 2 || wsk1->bytesAvailable() > 0) {
        setError(ErrorTlsHandshake, u"The server sent data after its STLS reply"_s);
        return false;
    }
    if (!wsk1->startClientEncryption()) {
        setError(ErrorTlsHandshake, u"TLS cannot start on this connection"_s);
        return false;
    }
    dtmLastActivity.start();
    const bool settled = waitUntil(
        [this] {
            return wsk1->isEncrypted() || intpropertyerror != ErrorNone
                   || wsk1->state() != SocketAdapter::StateConnected;
        },
        [this] { return timeoutPassed(m_POPTimeout); });
    if (!settled) {
        subdebuglog(u"timeout in funstarttls"_s);
        setError(ErrorTlsHandshake, kTlsTimeoutText);
    } else if (!wsk1->isEncrypted() && intpropertyerror == ErrorNone) {
        setError(ErrorTlsHandshake, u"The server closed the connection"_s);
    }
    return intpropertyerror == ErrorNone;
}

void Tarnpost::wsk1_TlsFailed(const QString &reason)
{
    if (m_DebugMode)
        subdebuglog(u"TLS handshake failed: "_s + reason);
    setError(ErrorTlsHandshake, reason);
}

void Tarnpost::wsk1_Encrypted()
{
    if (m_DebugMode)
        subdebuglog(u"TLS started: "_s + wsk1->tlsDescription());
}

void Tarnpost::Disconnect()
{
    const DebugTrace trace(*this, "disconnect"_L1);
    intpropertyerror = ErrorNone;
    m_quitConfirmed = false;
    // A session whose server has gone while prefetched replies were held
    // ends here: its QUIT cannot be answered.
    if (m_peerClosed)
        applyClose();
    stopPrefetching();
    if (wsk1->state() == SocketAdapter::StateConnected) {
        const QString reply = funSendDataForSingleLineResponse(*wsk1, u"QUIT"_s, m_POPTimeout);
        // The reply is not examined for Error; only whether the deletions
        // were made is kept for the caller.
        m_quitConfirmed = !m_replyRefused && reply.startsWith("+OK"_L1);
        QElapsedTimer noted;
        noted.start();
        const auto closed = [this] {
            return wsk1->state() == SocketAdapter::StateError || wsk1->state() == SocketAdapter::StateClosed;
        };
        if (!waitUntil(closed, [this, &noted] { return noted.elapsed() / 1000 > m_POPTimeout; })) {
            subdebuglog(u"timeout(1) in Disconnect"_s);
            subcloseconnection(*wsk1);
        }
    }
    subresetvaluesondisconnect();
}

void Tarnpost::subcloseconnection(SocketAdapter &socket)
{
    const DebugTrace trace(*this, "subcloseconnection"_L1);
    const qint16 saved = intpropertyerror;
    if (socket.state() == SocketAdapter::StateConnected)
        sendHeldCommands(socket); // as they would have gone out before
    if (socket.state() != SocketAdapter::StateClosed)
        socket.close();
    waitUntil([&socket] {
        return socket.state() == SocketAdapter::StateError || socket.state() == SocketAdapter::StateClosed;
    });
    subresetvaluesondisconnect();
    intpropertyerror = saved;
}

void Tarnpost::subresetvaluesondisconnect()
{
    const DebugTrace trace(*this, "subresetvaluesondisconnect"_L1);
    resetPipeline();
    intpropertystatus = StatusDisconnected;
    m_ConnectResponse.clear();
    subresetmsgvalues();
    wsk1->setRemoteHost(QString());
    if (wsk1->state() != SocketAdapter::StateError)
        wsk1->setRemotePort(0);
}

} // namespace Tarnpostctl
