#include "tests/support/oauth2testprovider.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace {

// A request larger than this is not one of ours: the connection is closed.
constexpr qsizetype kMaxRequest = 64 * 1024;
constexpr int kCodeLifetimeMs = 60 * 1000;

QString randomToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// application/x-www-form-urlencoded: "+" is a blank.
QHash<QString, QString> formFields(const QByteArray &body)
{
    QByteArray text = body;
    text.replace('+', "%20");
    QHash<QString, QString> fields;
    const QUrlQuery query(QString::fromLatin1(text));
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded))
        fields.insert(key, value);
    return fields;
}

QByteArray json(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

bool isLoopbackRedirect(const QUrl &uri)
{
    if (!uri.isValid() || uri.scheme() != "http"_L1 || uri.hasFragment())
        return false;
    const QString host = uri.host();
    return host == "127.0.0.1"_L1 || host == "localhost"_L1 || host == "::1"_L1;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    default: return "Method Not Allowed";
    }
}

} // namespace

OAuth2TestProvider::OAuth2TestProvider(QObject *parent)
    : QObject(parent)
    , m_thread(new QThread)
    , m_context(new QObject)
{
    m_thread->setObjectName(u"OAuth2TestProvider"_s);
    m_context->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread->start();
}

OAuth2TestProvider::~OAuth2TestProvider()
{
    // The listener and its connections go with the context, in their thread.
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void OAuth2TestProvider::setClientId(const QString &clientId)
{
    QMutexLocker lock(&m_mutex);
    m_clientId = clientId;
}

void OAuth2TestProvider::setUser(const QString &user)
{
    QMutexLocker lock(&m_mutex);
    m_user = user;
}

void OAuth2TestProvider::setAccessTokenLifetime(int seconds)
{
    QMutexLocker lock(&m_mutex);
    m_lifetime = qMax(0, seconds);
}

bool OAuth2TestProvider::start()
{
    bool ok = false;
    QMetaObject::invokeMethod(
        m_context, [this, &ok] { listen(&ok); }, Qt::BlockingQueuedConnection);
    return ok;
}

void OAuth2TestProvider::listen(bool *ok)
{
    m_server = new QTcpServer(m_context);
    connect(m_server, &QTcpServer::newConnection, m_context, [this] { accept(); });
    *ok = m_server->listen(QHostAddress::LocalHost, 0);
    m_port = *ok ? m_server->serverPort() : 0;
}

quint16 OAuth2TestProvider::port() const { return m_port; }

QUrl OAuth2TestProvider::url(const QString &path) const
{
    return QUrl(u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(path));
}

void OAuth2TestProvider::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, m_context, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void OAuth2TestProvider::readRequest(QTcpSocket *socket)
{
    // One request per connection; what has arrived so far waits in a property.
    QByteArray data = socket->property("request").toByteArray() + socket->readAll();
    const qsizetype headerEnd = data.indexOf("\r\n\r\n");
    if (data.size() > kMaxRequest) {
        socket->abort();
        return;
    }
    if (headerEnd < 0) {
        socket->setProperty("request", data);
        return;
    }
    const QList<QByteArray> lines = data.left(headerEnd).split('\n');
    qsizetype length = 0;
    for (const QByteArray &line : lines) {
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toLongLong();
    }
    if (data.size() < headerEnd + 4 + length) {
        socket->setProperty("request", data);
        return;
    }
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    const QUrl target = QUrl(u"http://127.0.0.1"_s + QString::fromLatin1(requestLine.value(1)));
    const Response response = answer(requestLine.value(0), target, data.mid(headerEnd + 4, length));

    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    if (!response.location.isEmpty())
        out += "Location: " + response.location + "\r\n";
    out += "Content-Type: application/json\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Length: "
           + QByteArray::number(response.body.size()) + "\r\n\r\n" + response.body;
    socket->write(out);
    socket->disconnectFromHost();
}

OAuth2TestProvider::Response OAuth2TestProvider::answer(const QByteArray &method, const QUrl &target,
                                                        const QByteArray &body)
{
    const QString path = target.path();
    {
        QMutexLocker lock(&m_mutex);
        ++m_requests[path];
    }
    if (path == "/authorize"_L1 && method == "GET")
        return authorize(target);
    const bool known =
        path == "/authorize"_L1 || path == "/token"_L1 || path == "/revoke"_L1 || path == "/introspect"_L1;
    if (method != "POST")
        return {known ? 405 : 404, {}, {}};
    const QHash<QString, QString> form = formFields(body);
    if (path == "/token"_L1)
        return token(form);
    if (path == "/introspect"_L1)
        return introspect(form);
    if (path == "/revoke"_L1)
        return revokeRequest(form);
    return {404, {}, {}};
}

OAuth2TestProvider::Response OAuth2TestProvider::authorize(const QUrl &target)
{
    const QUrlQuery query(target);
    const auto field = [&query](const char *key) {
        return query.queryItemValue(QLatin1StringView(key), QUrl::FullyDecoded);
    };
    const QUrl redirect(field("redirect_uri"));
    QMutexLocker lock(&m_mutex);
    // Never redirect to an address the client did not prove is its own.
    if (field("client_id") != m_clientId || !isLoopbackRedirect(redirect))
        return {400, json({{u"error"_s, u"invalid_request"_s}}), {}};
    QUrlQuery back(redirect);
    QString error;
    if (field("response_type") != "code"_L1)
        error = u"unsupported_response_type"_s;
    else if (field("code_challenge").isEmpty() || field("code_challenge_method") != "S256"_L1)
        error = u"invalid_request"_s;
    if (error.isEmpty()) {
        const QString code = randomToken();
        const QString hint = field("login_hint");
        m_codes.insert(code, {hint.isEmpty() ? m_user : hint, m_clientId, field("redirect_uri"),
                              field("code_challenge"), field("scope"), QDeadlineTimer(kCodeLifetimeMs)});
        back.addQueryItem(u"code"_s, code);
    } else {
        back.addQueryItem(u"error"_s, error);
    }
    if (query.hasQueryItem(u"state"_s))
        back.addQueryItem(u"state"_s, field("state"));
    QUrl location = redirect;
    location.setQuery(back);
    return {302, {}, location.toEncoded()};
}

OAuth2TestProvider::Response OAuth2TestProvider::token(const QHash<QString, QString> &form)
{
    const auto refused = [](const QString &error) { return Response{400, json({{u"error"_s, error}}), {}}; };
    QMutexLocker lock(&m_mutex);
    if (form.value(u"client_id"_s) != m_clientId)
        return refused(u"invalid_client"_s);
    const QString grantType = form.value(u"grant_type"_s);
    QString user;
    QString scope;
    QString refresh;
    if (grantType == "authorization_code"_L1) {
        // A code is good for one try, right or wrong.
        const std::optional<Grant> grant = m_codes.contains(form.value(u"code"_s))
                                               ? std::optional<Grant>(m_codes.take(form.value(u"code"_s)))
                                               : std::nullopt;
        const QByteArray verifier = form.value(u"code_verifier"_s).toLatin1();
        const QString challenge =
            QString::fromLatin1(QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                                    .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        if (!grant || grant->expires.hasExpired() || grant->clientId != form.value(u"client_id"_s)
            || grant->redirectUri != form.value(u"redirect_uri"_s) || verifier.isEmpty()
            || grant->challenge != challenge)
            return refused(u"invalid_grant"_s);
        user = grant->user;
        scope = grant->scope;
        refresh = newRefreshToken(user, m_clientId, scope);
    } else if (grantType == "refresh_token"_L1) {
        refresh = form.value(u"refresh_token"_s);
        const auto found = m_refreshTokens.constFind(refresh);
        if (found == m_refreshTokens.cend() || found->clientId != m_clientId)
            return refused(u"invalid_grant"_s);
        user = found->user;
        scope = found->scope;
    } else {
        return refused(u"unsupported_grant_type"_s);
    }
    const QString access = newAccessToken(user, m_clientId, scope, refresh);
    return {200,
            json({{u"access_token"_s, access},
                  {u"token_type"_s, u"Bearer"_s},
                  {u"expires_in"_s, m_lifetime},
                  {u"refresh_token"_s, refresh},
                  {u"scope"_s, scope}}),
            {}};
}

OAuth2TestProvider::Response OAuth2TestProvider::introspect(const QHash<QString, QString> &form)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_accessTokens.constFind(form.value(u"token"_s));
    if (found == m_accessTokens.cend() || found->expires.hasExpired())
        return {200, json({{u"active"_s, false}}), {}};
    return {200,
            json({{u"active"_s, true},
                  {u"username"_s, found->user},
                  {u"client_id"_s, found->clientId},
                  {u"scope"_s, found->scope},
                  {u"token_type"_s, u"Bearer"_s},
                  {u"exp"_s, QDateTime::currentSecsSinceEpoch() + found->expires.remainingTime() / 1000}}),
            {}};
}

OAuth2TestProvider::Response OAuth2TestProvider::revokeRequest(const QHash<QString, QString> &form)
{
    QMutexLocker lock(&m_mutex);
    if (form.value(u"client_id"_s) != m_clientId)
        return {401, json({{u"error"_s, u"invalid_client"_s}}), {}};
    // An unknown token is answered as a revoked one (RFC 7009).
    revokeLocked(form.value(u"token"_s));
    return {200, {}, {}};
}

QString OAuth2TestProvider::newAccessToken(const QString &user, const QString &clientId, const QString &scope,
                                           const QString &refreshToken)
{
    const QString token = randomToken();
    m_accessTokens.insert(token, {user, clientId, scope, refreshToken, QDeadlineTimer(qint64(m_lifetime) * 1000)});
    return token;
}

QString OAuth2TestProvider::newRefreshToken(const QString &user, const QString &clientId, const QString &scope)
{
    const QString token = randomToken();
    m_refreshTokens.insert(token, {user, clientId, scope, {}, QDeadlineTimer(QDeadlineTimer::Forever)});
    return token;
}

void OAuth2TestProvider::revokeLocked(const QString &token)
{
    if (m_refreshTokens.remove(token))
        m_accessTokens.removeIf([&token](const auto &entry) { return entry.value().refreshToken == token; });
    else
        m_accessTokens.remove(token);
}

QString OAuth2TestProvider::issueAccessToken(const QString &user)
{
    QMutexLocker lock(&m_mutex);
    return newAccessToken(user, m_clientId, u"mail"_s, {});
}

QString OAuth2TestProvider::issueRefreshToken(const QString &user)
{
    QMutexLocker lock(&m_mutex);
    return newRefreshToken(user, m_clientId, u"mail"_s);
}

void OAuth2TestProvider::revoke(const QString &token)
{
    QMutexLocker lock(&m_mutex);
    revokeLocked(token);
}

int OAuth2TestProvider::requestCount(const QString &path) const
{
    QMutexLocker lock(&m_mutex);
    return m_requests.value(path);
}
