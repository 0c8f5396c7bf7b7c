#pragma once

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QDeadlineTimer>

class QTcpServer;
class QTcpSocket;
class QThread;

// An OAuth2 identity provider of the tests' own: plain HTTP on 127.0.0.1, in
// a thread of its own so that it answers while the test thread is blocked in
// the control (Dovecot asks it during a login).
//
//   GET  /authorize   approves at once: 302 to the loopback redirect_uri with
//                     a one-time code and the state; PKCE (S256) required
//   POST /token       authorization_code (checks the code_verifier against the
//                     challenge, redirect_uri and client_id) and refresh_token
//                     grants; answers access and refresh tokens as JSON
//   POST /revoke      RFC 7009: a refresh token takes its access tokens along
//   POST /introspect  RFC 7662: {"active":true,"username":...} or {"active":false},
//                     as Dovecot's oauth2 passdb asks with introspection_mode = post
//
// Refused requests are answered as RFC 6749 says (an error in the redirect,
// or 400 with {"error":...}).
class OAuth2TestProvider final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OAuth2TestProvider)
public:
    explicit OAuth2TestProvider(QObject *parent = nullptr);
    ~OAuth2TestProvider() override;

    // The client id the endpoints accept (default "quellmail-test") and the
    // user the authorize endpoint signs in (default "alice"; a login_hint
    // names another).
    void setClientId(const QString &clientId);
    void setUser(const QString &user);
    // Seconds an access token lives (default 3600; 0 gives tokens that have
    // expired already). Refresh tokens live until revoked.
    void setAccessTokenLifetime(int seconds);

    bool start();
    quint16 port() const;
    QUrl url(const QString &path) const; // "/authorize", "/token", "/revoke", "/introspect"

    // Tokens without the browser flow, for tests of their use.
    QString issueAccessToken(const QString &user);
    QString issueRefreshToken(const QString &user);
    void revoke(const QString &token);
    // Requests each endpoint answered, by path.
    int requestCount(const QString &path) const;

private:
    struct Token
    {
        QString user;
        QString clientId;
        QString scope;
        QString refreshToken;   // for an access token: the refresh token it came from
        QDeadlineTimer expires; // forever for a refresh token
    };
    struct Grant
    {
        QString user;
        QString clientId;
        QString redirectUri;
        QString challenge;
        QString scope;
        QDeadlineTimer expires;
    };
    struct Response
    {
        int status = 200;
        QByteArray body;
        QByteArray location;
    };

    // In the provider's thread.
    void listen(bool *ok);
    void accept();
    void readRequest(QTcpSocket *socket);
    Response answer(const QByteArray &method, const QUrl &target, const QByteArray &body);
    Response authorize(const QUrl &target);
    Response token(const QHash<QString, QString> &form);
    Response introspect(const QHash<QString, QString> &form);
    Response revokeRequest(const QHash<QString, QString> &form);

    // Under m_mutex.
    QString newAccessToken(const QString &user, const QString &clientId, const QString &scope,
                           const QString &refreshToken);
    QString newRefreshToken(const QString &user, const QString &clientId, const QString &scope);
    void revokeLocked(const QString &token);

    QThread *m_thread = nullptr;
    QObject *m_context = nullptr; // lives in m_thread; owns the listener and the connections
    QTcpServer *m_server = nullptr;
    quint16 m_port = 0;

    mutable QMutex m_mutex;
    QString m_clientId = QStringLiteral("quellmail-test");
    QString m_user = QStringLiteral("alice");
    int m_lifetime = 3600;
    QHash<QString, Grant> m_codes;
    QHash<QString, Token> m_accessTokens;
    QHash<QString, Token> m_refreshTokens;
    QHash<QString, int> m_requests;
};
