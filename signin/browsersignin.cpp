#include "signin/browsersignin.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace SignIn {

namespace {

BrowserSignIn::Opener &openerSlot()
{
    static BrowserSignIn::Opener opener = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    return opener;
}

// What a provider's error answer says: "error: description".
QString errorFromReply(QNetworkReply *reply, const QByteArray &body)
{
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    const QString error = json.value(u"error"_s).toString();
    if (error.isEmpty())
        return reply->errorString();
    const QString description = json.value(u"error_description"_s).toString();
    return description.isEmpty() ? error : error + u": "_s + description;
}

} // namespace

void BrowserSignIn::cancel()
{
    if (!m_loop)
        return;
    m_cancelled = true;
    m_loop->quit();
}

void BrowserSignIn::setOpener(Opener opener) { openerSlot() = std::move(opener); }

BrowserSignIn::Opener BrowserSignIn::opener() { return openerSlot(); }

QByteArray BrowserSignIn::newVerifier()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray BrowserSignIn::challengeFor(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

BrowserSignIn::Result BrowserSignIn::run(const Provider &provider, const QString &loginHint, int timeoutMs)
{
    Result result;
    m_cancelled = false;
    if (provider.clientId.isEmpty()) {
        result.error = u"No client id: register one with the provider and enter it."_s;
        return result;
    }
    if (!provider.authorizationUrl.isValid() || !provider.tokenUrl.isValid()) {
        result.error = u"The provider's authorization and token addresses are needed."_s;
        return result;
    }

    QNetworkAccessManager network;
    QOAuth2AuthorizationCodeFlow flow(&network);
    // Loopback only: the answer must not be reachable from the network.
    auto *listener = new QOAuthHttpServerReplyHandler(QHostAddress(QHostAddress::LocalHost), 0, &flow);
    if (!listener->isListening()) {
        result.error = u"Cannot listen on 127.0.0.1 for the provider's answer."_s;
        return result;
    }
    listener->setCallbackText(u"Quellmail: you are signed in. You can close this page."_s);
    flow.setReplyHandler(listener);
    flow.setAuthorizationUrl(provider.authorizationUrl);
    flow.setAccessTokenUrl(provider.tokenUrl);
    flow.setClientIdentifier(provider.clientId);
    if (!provider.clientSecret.isEmpty())
        flow.setClientIdentifierSharedKey(provider.clientSecret);
    flow.setScope(provider.scope);

    // This Qt's flow knows no PKCE: the challenge and verifier go in through its parameter hook.
    const QByteArray verifier = newVerifier();
    const QByteArray challenge = challengeFor(verifier);
    flow.setModifyParametersFunction([&](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant> *parameters) {
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
            parameters->insert(u"code_challenge"_s, QString::fromLatin1(challenge));
            parameters->insert(u"code_challenge_method"_s, u"S256"_s);
            if (!loginHint.isEmpty())
                parameters->insert(u"login_hint"_s, loginHint);
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
            parameters->insert(u"code_verifier"_s, QString::fromLatin1(verifier));
        }
    });

    QEventLoop loop;
    m_loop = &loop;
    const auto fail = [&](const QString &why) {
        if (result.error.isEmpty())
            result.error = why;
        loop.quit();
    };
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, &loop, [&](const QUrl &url) {
        if (!opener()(url))
            fail(u"No browser could be opened for the sign-in page."_s);
    });
    QObject::connect(&flow, &QAbstractOAuth::granted, &loop, [&] {
        result.ok = true;
        loop.quit();
    });
    QObject::connect(
        &flow, &QAbstractOAuth2::error, &loop, [&](const QString &error, const QString &description, const QUrl &) {
            fail(u"The provider refused: "_s + (description.isEmpty() ? error : error + u": "_s + description));
        });
    // This Qt's flow drops a failed token request without a signal; the reply itself tells.
    QObject::connect(&network, &QNetworkAccessManager::finished, &loop, [&](QNetworkReply *reply) {
        if (reply->url() == provider.tokenUrl && reply->error() != QNetworkReply::NoError)
            fail(u"The provider refused the sign-in: "_s + errorFromReply(reply, reply->peek(64 * 1024)));
    });
    QTimer::singleShot(timeoutMs, &loop, [&] { fail(u"The sign-in was not finished in time."_s); });

    flow.grant();
    if (result.error.isEmpty() && !result.ok && !m_cancelled)
        loop.exec();
    m_loop = nullptr;
    // Closed before anything else runs: a redirect arriving now finds no one listening.
    listener->close();

    if (m_cancelled) {
        result.ok = false;
        result.error = CancelledText;
    } else if (result.ok) {
        result.tokens = {flow.token(), flow.refreshToken(), flow.expirationAt()};
        if (result.tokens.accessToken.isEmpty()) {
            result.ok = false;
            result.error = u"The provider gave no access token."_s;
        } else if (result.tokens.refreshToken.isEmpty()) {
            // Without one, the next scan after the hour would need the browser again.
            result.ok = false;
            result.error = u"The provider gave no refresh token (is offline access in the scope?)."_s;
        }
    } else {
        result.ok = false;
    }
    return result;
}

} // namespace SignIn
