#pragma once
// The control's socket: a thin layer over QTcpSocket that reports the numeric
// states and the three events (data arrived, closed by the peer, error) the
// control's transport is written against.

#include <QByteArray>
#include <QObject>
#include <QString>

#include "pop3/tarnpostctl_export.h"

class QTcpSocket;
class QSslSocket;

namespace Tarnpostctl {

class TARNPOSTCTL_EXPORT SocketAdapter : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SocketAdapter)

public:
    enum State : int {
        StateClosed = 0,
        StateConnecting = 6,
        StateConnected = 7,
        StateClosing = 8, // the peer has closed; close() to finish
        StateError = 9,
    };

    static constexpr qint64 kReadBufferSize = 64 * 1024;

    explicit SocketAdapter(QObject *parent = nullptr);
    // Takes ownership of socket (a QSslSocket works as well).
    SocketAdapter(QTcpSocket *socket, QObject *parent);
    ~SocketAdapter() override;

    int state() const { return m_state; }

    QString remoteHost() const { return m_remoteHost; }
    void setRemoteHost(const QString &host) { m_remoteHost = host; }
    qint32 remotePort() const { return m_remotePort; }
    void setRemotePort(qint32 port) { m_remotePort = port; }
    // Numeric address of the peer, kept after the connection ends.
    QString remoteHostIP() const { return m_remoteHostIP; }

    // upgradable: a socket that can start TLS later (STLS).
    void connectToHost(const QString &host, qint32 port, bool upgradable = false);
    // TLS from the first byte: the state stays connecting until the handshake
    // is done, so nothing is read or sent in clear.
    void connectToHostEncrypted(const QString &host, qint32 port);
    // Upgrades an open clear connection (STLS); encrypted() or tlsFailed() follows.
    bool startClientEncryption();
    bool isEncrypted() const;
    // Connected underneath, with the TLS handshake still running.
    bool isHandshaking() const { return m_handshaking; }
    // "protocol, cipher" of the current TLS session; empty in clear text.
    QString tlsDescription() const;
    // False when the system has no usable TLS library.
    static bool tlsAvailable();
    qint64 send(const QByteArray &data);
    qint64 bytesAvailable() const;
    QByteArray readAll();
    QByteArray read(qint64 maxSize);
    // Reads into the caller's buffer: no allocation per packet.
    qint64 read(char *data, qint64 maxSize);
    void close();

    QTcpSocket *socket() const { return m_socket; }

    // Classic socket error number for a Qt socket error; never 0 and never
    // one of the control's own codes.
    static int errorNumber(int qtSocketError);

Q_SIGNALS:
    void dataArrival(qint64 bytesTotal);
    void closed();
    void error(int number, const QString &description);
    void encrypted();
    // The TLS handshake failed (certificate, host name, protocol or a peer
    // that closed during it); the socket is in the error state.
    void tlsFailed(const QString &reason);

private:
    void attach();
    // Replaces the socket when the wanted kind (clear or TLS) differs.
    void useSocket(bool tls);
    void onEncrypted();
    void failHandshake(const QString &reason);
    void onConnected();
    void onDisconnected();
    void onErrorOccurred(int qtSocketError);
    void onReadyRead();

    QTcpSocket *m_socket = nullptr;
    int m_state = StateClosed;
    bool m_closing = false;     // our own close() is running: no events from it
    bool m_handshaking = false; // a TLS handshake is running
    bool m_tlsConnect = false;  // connected state waits for the handshake
    QString m_sslErrorText;     // certificate problems of the running handshake
    QString m_remoteHost;
    qint32 m_remotePort = 0;
    QString m_remoteHostIP;
};

} // namespace Tarnpostctl
