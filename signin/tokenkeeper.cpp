#include "signin/tokenkeeper.h"

#include "state/statedatabase.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace SignIn {

namespace {

Secrets::Account keyringAccount(const QString &server, const QString &login) { return {server, login}; }

QString formValue(const QString &value)
{
    // A '+' or '&' in a token must not change the form's meaning.
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

} // namespace

TokenKeeper::TokenKeeper(StateDatabase *database, const Secrets::Keyring &keyring)
    : m_database(database)
    , m_keyring(keyring)
{}

bool TokenKeeper::store(TokenAccounts::Account facts, const Tokens &tokens, QString *error)
{
    if (!m_database) {
        *error = u"The state database cannot be used."_s;
        return false;
    }
    const Secrets::Account account = keyringAccount(facts.server, facts.login);
    for (const auto &[kind, secret] : {std::pair{Secrets::Kind::RefreshToken, tokens.refreshToken},
                                       std::pair{Secrets::Kind::AccessToken, tokens.accessToken}}) {
        const Secrets::Keyring::Result written = m_keyring.write(account, kind, secret);
        if (!written.ok()) {
            *error = written.errorText;
            return false;
        }
    }
    facts.expiresAt = tokens.expiresAt;
    facts.signInAgain = false;
    TokenAccounts accounts(*m_database);
    if (!accounts.put(facts)) {
        *error = accounts.errorText();
        return false;
    }
    return true;
}

bool TokenKeeper::forget(const QString &server, const QString &login, QString *error)
{
    if (m_database) {
        TokenAccounts accounts(*m_database);
        if (!accounts.remove(server, login)) {
            *error = accounts.errorText();
            return false;
        }
    }
    // Leftover tokens would only be unused; the provider can revoke them.
    for (const Secrets::Kind kind : {Secrets::Kind::AccessToken, Secrets::Kind::RefreshToken})
        m_keyring.remove(keyringAccount(server, login), kind);
    return true;
}

TokenKeeper::Access TokenKeeper::accessToken(const TokenAccounts::Account &facts)
{
    Access access;
    const Secrets::Account account = keyringAccount(facts.server, facts.login);
    if (facts.signInAgain) {
        access.status = Status::SignInAgain;
        access.error = u"sign in again: the provider refused the last refresh."_s;
        return access;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (facts.expiresAt.isValid() && now.secsTo(facts.expiresAt) > MarginSeconds) {
        const Secrets::Keyring::Result current = m_keyring.read(account, Secrets::Kind::AccessToken);
        if (current.ok() && !current.secret.isEmpty()) {
            access.status = Status::Ok;
            access.token = current.secret;
            return access;
        }
    }

    const Secrets::Keyring::Result stored = m_keyring.read(account, Secrets::Kind::RefreshToken);
    if (stored.status == Secrets::Keyring::Status::NotFound) {
        access.status = Status::SignInAgain;
        access.error = u"sign in again: the keyring holds no refresh token for it."_s;
    } else if (!stored.ok()) {
        access.error = stored.errorText;
    }
    if (!stored.ok()) {
        if (access.status == Status::SignInAgain && m_database)
            TokenAccounts(*m_database).setSignInAgain(facts.server, facts.login, true);
        return access;
    }

    const Refreshed refreshed = refresh(facts, stored.secret);
    if (refreshed.status == RefreshStatus::Refused) {
        access.status = Status::SignInAgain;
        access.error = u"sign in again: "_s + refreshed.error;
        if (m_database)
            TokenAccounts(*m_database).setSignInAgain(facts.server, facts.login, true);
        return access;
    }
    if (refreshed.status == RefreshStatus::Failed) {
        access.error = u"The access token could not be refreshed: "_s + refreshed.error;
        return access;
    }
    // A provider that rotates refresh tokens has just made the old one useless: keep the new one first.
    if (refreshed.tokens.refreshToken != stored.secret) {
        const Secrets::Keyring::Result kept =
            m_keyring.write(account, Secrets::Kind::RefreshToken, refreshed.tokens.refreshToken);
        if (!kept.ok()) {
            access.error = kept.errorText;
            return access;
        }
    }
    // Failing to keep the access token only costs a refresh next time.
    if (m_keyring.write(account, Secrets::Kind::AccessToken, refreshed.tokens.accessToken).ok() && m_database
        && refreshed.tokens.expiresAt.isValid())
        TokenAccounts(*m_database).setExpiry(facts.server, facts.login, refreshed.tokens.expiresAt);
    access.status = Status::Ok;
    access.token = refreshed.tokens.accessToken;
    return access;
}

TokenKeeper::Refreshed TokenKeeper::refresh(const TokenAccounts::Account &facts, const QString &refreshToken,
                                            int timeoutMs)
{
    Refreshed result;
    QStringList form = {u"grant_type=refresh_token"_s, u"refresh_token="_s + formValue(refreshToken),
                        u"client_id="_s + formValue(facts.clientId)};
    if (!facts.clientSecret.isEmpty())
        form.append(u"client_secret="_s + formValue(facts.clientSecret));
    // Microsoft wants the scope again; others accept it.
    if (!facts.scope.isEmpty())
        form.append(u"scope="_s + formValue(facts.scope));

    QNetworkAccessManager network;
    QNetworkRequest request(facts.tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/x-www-form-urlencoded"_s);
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(timeoutMs);
    const QDateTime asked = QDateTime::currentDateTimeUtc();
    QNetworkReply *reply = network.post(request, form.join(u'&').toLatin1());
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    reply->deleteLater();

    if (status == 400 || status == 401) {
        // RFC 6749 5.2: invalid_grant is a refresh token that was revoked or has expired.
        const QString error = json.value(u"error"_s).toString();
        const QString description = json.value(u"error_description"_s).toString();
        result.status = RefreshStatus::Refused;
        result.error = u"the provider refused the refresh token ("_s
                       + (error.isEmpty() ? u"HTTP %1"_s.arg(status) : error)
                       + (description.isEmpty() ? QString() : u": "_s + description) + u")."_s;
        return result;
    }
    if (reply->error() != QNetworkReply::NoError) {
        result.error = reply->errorString();
        return result;
    }
    result.tokens.accessToken = json.value(u"access_token"_s).toString();
    result.tokens.refreshToken = json.value(u"refresh_token"_s).toString(refreshToken);
    const qint64 lifetime = json.value(u"expires_in"_s).toInteger(-1);
    if (lifetime >= 0)
        result.tokens.expiresAt = asked.addSecs(lifetime);
    if (result.tokens.accessToken.isEmpty()) {
        result.error = u"the provider's answer holds no access token."_s;
        return result;
    }
    result.status = RefreshStatus::Ok;
    return result;
}

} // namespace SignIn
