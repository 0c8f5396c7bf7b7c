#include "pop3/socketadapter.h"

#include <QHostAddress>
#include <QSslCipher>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>

#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace Tarnpostctl {

SocketAdapter::SocketAdapter(QObject *parent)
    : SocketAdapter(new QTcpSocket, parent)
{}

SocketAdapter::SocketAdapter(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->setParent(this);
    // Bounded reads keep memory flat when the server is faster than the
    // control (a large message streaming into a file).
    m_socket->setReadBufferSize(kReadBufferSize);
    attach();
}

SocketAdapter::~SocketAdapter()
{
    // Destroying the socket aborts it; its signals must not reach us then.
    m_socket->disconnect(this);
}

void SocketAdapter::attach()
{
    connect(m_socket, &QTcpSocket::connected, this, &SocketAdapter::onConnected);
    connect(m_socket, &QTcpSocket::disconnected, this, &SocketAdapter::onDisconnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &SocketAdapter::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError e) { onErrorOccurred(int(e)); });
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket)) {
        connect(ssl, &QSslSocket::encrypted, this, &SocketAdapter::onEncrypted);
        connect(ssl, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            // Not ignored: the handshake fails with these as its reason.
            QStringList texts;
            for (const QSslError &e : errors)
                texts << e.errorString();
            texts.removeDuplicates();
            m_sslErrorText = texts.join("; "_L1);
        });
    }
}

void SocketAdapter::useSocket(bool tls)
{
    // A TLS connection always gets a fresh socket: nothing of an earlier
    // session (keys, peer name, buffered bytes) carries over.
    const bool isTls = qobject_cast<QSslSocket *>(m_socket) != nullptr;
    if (!tls && !isTls)
        return; // a clear connection keeps its plain socket
    QTcpSocket *old = m_socket;
    old->disconnect(this);
    m_closing = true;
    old->abort();
    m_closing = false;
    old->deleteLater(); // we may be running inside one of its signals
    m_socket = tls ? new QSslSocket(this) : new QTcpSocket(this);
    m_socket->setReadBufferSize(kReadBufferSize);
    attach();
}

void SocketAdapter::connectToHost(const QString &host, qint32 port, bool upgradable)
{
    m_remoteHost = host;
    m_remotePort = port;
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        close();
    useSocket(upgradable);
    m_tlsConnect = false;
    m_handshaking = false;
    m_state = StateConnecting;
    m_socket->connectToHost(host, quint16(port));
}

void SocketAdapter::connectToHostEncrypted(const QString &host, qint32 port)
{
    m_remoteHost = host;
    m_remotePort = port;
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        close();
    useSocket(true);
    m_tlsConnect = true;
    m_handshaking = false;
    m_sslErrorText.clear();
    m_state = StateConnecting;
    // The host name given is the name the certificate must carry.
    static_cast<QSslSocket *>(m_socket)->connectToHostEncrypted(host, quint16(port));
}

bool SocketAdapter::startClientEncryption()
{
    auto *ssl = qobject_cast<QSslSocket *>(m_socket);
    if (!ssl || m_state != StateConnected || ssl->isEncrypted())
        return false;
    m_sslErrorText.clear();
    m_handshaking = true;
    ssl->startClientEncryption();
    return true;
}

bool SocketAdapter::isEncrypted() const
{
    const auto *ssl = qobject_cast<const QSslSocket *>(m_socket);
    return ssl && ssl->isEncrypted();
}

QString SocketAdapter::tlsDescription() const
{
    const auto *ssl = qobject_cast<const QSslSocket *>(m_socket);
    if (!ssl || !ssl->isEncrypted())
        return {};
    const QSslCipher cipher = ssl->sessionCipher();
    return cipher.protocolString() + ", "_L1 + cipher.name();
}

bool SocketAdapter::tlsAvailable() { return QSslSocket::supportsSsl(); }

void SocketAdapter::onEncrypted()
{
    m_handshaking = false;
    m_state = StateConnected;
    Q_EMIT encrypted();
}

void SocketAdapter::failHandshake(const QString &reason)
{
    m_handshaking = false;
    m_tlsConnect = false;
    m_state = StateError;
    // Nothing more goes over this connection, in clear or otherwise.
    m_closing = true;
    m_socket->abort();
    m_closing = false;
    m_state = StateError;
    Q_EMIT tlsFailed(reason);
}

qint64 SocketAdapter::send(const QByteArray &data)
{
    if (!m_socket->isOpen())
        return -1; // nothing to send on; the caller's wait sees the closed state
    qint64 sent = 0;
    // A clear socket with nothing queued takes a command straight away. Qt's
    // own write would switch the socket's write notifier on and off again,
    // and each switch wakes the event loop once more: per command that costs
    // more than the command itself.
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor >= 0 && m_socket->state() == QAbstractSocket::ConnectedState && m_socket->bytesToWrite() == 0
        && !qobject_cast<QSslSocket *>(m_socket)) {
        const ssize_t n = ::send(int(descriptor), data.constData(), size_t(data.size()), MSG_NOSIGNAL);
        if (n == data.size())
            return n;
        if (n > 0)
            sent = n; // the rest, and any error, go the usual way
    }
    const qint64 written = m_socket->write(data.constData() + sent, data.size() - sent);
    // Out now rather than on the next pass of the event loop.
    m_socket->flush();
    return written < 0 ? written : sent + written;
}

qint64 SocketAdapter::bytesAvailable() const { return m_socket->bytesAvailable(); }

QByteArray SocketAdapter::readAll() { return m_socket->readAll(); }

QByteArray SocketAdapter::read(qint64 maxSize) { return m_socket->read(maxSize); }

qint64 SocketAdapter::read(char *data, qint64 maxSize) { return m_socket->read(data, maxSize); }

void SocketAdapter::close()
{
    m_closing = true;
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->flush(); // a command written just before must still go out
    m_socket->abort();
    m_closing = false;
    m_handshaking = false;
    m_tlsConnect = false;
    m_state = StateClosed;
}

void SocketAdapter::onConnected()
{
    m_remoteHostIP = m_socket->peerAddress().toString();
    if (m_tlsConnect) {
        // Connected in the control's sense only once the handshake is done.
        m_handshaking = true;
        return;
    }
    m_state = StateConnected;
}

void SocketAdapter::onDisconnected()
{
    if (m_closing)
        return;
    if (m_handshaking) {
        failHandshake(u"The server closed the connection"_s);
        return;
    }
    if (m_state == StateConnected) {
        m_state = StateClosing;
        Q_EMIT closed();
    }
}

void SocketAdapter::onErrorOccurred(int qtSocketError)
{
    if (m_closing)
        return;
    if (m_handshaking) {
        failHandshake(m_sslErrorText.isEmpty() ? m_socket->errorString() : m_sslErrorText);
        return;
    }
    // A peer that closes is the close event (delivered by disconnected), not an error.
    if (qtSocketError == QAbstractSocket::RemoteHostClosedError) {
        if (m_state == StateConnected && m_socket->state() == QAbstractSocket::UnconnectedState) {
            m_state = StateClosing;
            Q_EMIT closed();
        }
        return;
    }
    m_state = StateError;
    Q_EMIT error(errorNumber(qtSocketError), m_socket->errorString());
}

void SocketAdapter::onReadyRead() { Q_EMIT dataArrival(m_socket->bytesAvailable()); }

int SocketAdapter::errorNumber(int qtSocketError)
{
    switch (QAbstractSocket::SocketError(qtSocketError)) {
    case QAbstractSocket::ConnectionRefusedError: return 10061;
    case QAbstractSocket::RemoteHostClosedError: return 10054;
    case QAbstractSocket::HostNotFoundError: return 11001;
    case QAbstractSocket::SocketAccessError: return 10013;
    case QAbstractSocket::SocketResourceError: return 10055;
    case QAbstractSocket::SocketTimeoutError: return 10060;
    case QAbstractSocket::DatagramTooLargeError: return 10040;
    case QAbstractSocket::NetworkError: return 10065;
    case QAbstractSocket::AddressInUseError: return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError: return 10045;
    case QAbstractSocket::UnfinishedSocketOperationError: return 10036;
    case QAbstractSocket::ProxyAuthenticationRequiredError: return 10013;
    case QAbstractSocket::ProxyConnectionRefusedError: return 10061;
    case QAbstractSocket::ProxyConnectionClosedError: return 10053;
    case QAbstractSocket::ProxyConnectionTimeoutError: return 10060;
    case QAbstractSocket::ProxyNotFoundError: return 11001;
    case QAbstractSocket::ProxyProtocolError: return 10054;
    case QAbstractSocket::SslHandshakeFailedError: return 10053;
    case QAbstractSocket::SslInternalError: return 10053;
    case QAbstractSocket::SslInvalidUserDataError: return 10022;
    case QAbstractSocket::TemporaryError: return 10035;
    case QAbstractSocket::OperationError: return 10022;
    case QAbstractSocket::UnknownSocketError: break;
    }
    return 10000;
}

} // namespace Tarnpostctl
