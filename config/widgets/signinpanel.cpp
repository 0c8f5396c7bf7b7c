#include "config/widgets/signinpanel.h"

#include "signin/browsersignin.h"
#include "signin/tokenkeeper.h"
#include "state/statedatabase.h"
#include "state/tokenaccounts.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>

using namespace Qt::StringLiterals;

namespace {

QString signInText() { return u"Sign in with the browser…"_s; }

} // namespace

SignInPanel::SignInPanel(const QString &programFolder, QLineEdit *server, QLineEdit *login, QLineEdit *password,
                         QWidget *parent)
    : QGroupBox(u"Sign in with…"_s, parent)
    , m_folder(programFolder)
    , m_server(server)
    , m_login(login)
    , m_password(password)
{
    auto *fields = new QFormLayout(this);
    fields->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_provider = new QComboBox(this);
    m_provider->setObjectName(u"comboProvider"_s);
    m_provider->addItem(u"No one: log in with the password"_s);
    for (const SignIn::Provider &preset : SignIn::Provider::presets())
        m_provider->addItem(preset.name, preset.id);
    fields->addRow(u"Provider:"_s, m_provider);
    const auto box = [&](const QString &name, const QString &label) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(name);
        fields->addRow(label, edit);
        return edit;
    };
    m_clientId = box(u"txtClientId"_s, u"Client id:"_s);
    m_clientId->setPlaceholderText(u"from your registration with the provider"_s);
    m_clientSecret = box(u"txtClientSecret"_s, u"Client secret:"_s);
    m_clientSecret->setPlaceholderText(u"only if the provider gave one"_s);
    m_authorizationUrl = box(u"txtAuthorizationUrl"_s, u"Authorization URL:"_s);
    m_tokenUrl = box(u"txtTokenUrl"_s, u"Token URL:"_s);
    m_scope = box(u"txtScope"_s, u"Scope:"_s);
    m_signIn = new QPushButton(signInText(), this);
    m_signIn->setObjectName(u"cmdSignIn"_s);
    m_status = new QLabel(this);
    m_status->setObjectName(u"lblSignInStatus"_s);
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    fields->addRow(m_signIn, m_status);

    connect(m_provider, &QComboBox::currentIndexChanged, this, &SignInPanel::providerChosen);
    connect(m_signIn, &QPushButton::clicked, this, &SignInPanel::signIn);
    providerChosen(0);
}

bool SignInPanel::usesSignIn() const { return m_provider->currentIndex() > 0; }

bool SignInPanel::isSignedIn() const
{
    return usesSignIn() && !m_signedServer.isEmpty() && m_signedServer == m_server->text()
           && m_signedLogin == m_login->text();
}

void SignInPanel::reset()
{
    m_provider->setCurrentIndex(0);
    providerChosen(0);
}

void SignInPanel::showAccount(const QString &server, const QString &login)
{
    reset();
    StateDatabase database(m_folder);
    if (!QFileInfo::exists(database.path()) || !database.open())
        return;
    const std::optional<TokenAccounts::Account> facts = TokenAccounts(database).find(server, login);
    if (!facts)
        return;
    int index = m_provider->findData(facts->provider);
    if (index < 1)
        index = m_provider->findData(u"generic"_s);
    m_provider->setCurrentIndex(index);
    m_server->setText(server); // a preset puts its own server in the box
    m_clientId->setText(facts->clientId);
    m_clientSecret->setText(facts->clientSecret);
    m_authorizationUrl->setText(facts->authorizationUrl.toString());
    m_tokenUrl->setText(facts->tokenUrl.toString());
    m_scope->setText(facts->scope);
    m_signedServer = server;
    m_signedLogin = login;
    m_status->setText(facts->signInAgain ? u"The provider refused the last refresh: sign in with the browser again."_s
                                         : u"Signed in."_s);
}

SignIn::Provider SignInPanel::provider() const
{
    SignIn::Provider provider;
    if (const auto preset = SignIn::Provider::preset(m_provider->currentData().toString()))
        provider = *preset;
    provider.clientId = m_clientId->text().trimmed();
    provider.clientSecret = m_clientSecret->text().trimmed();
    provider.authorizationUrl = QUrl(m_authorizationUrl->text().trimmed());
    provider.tokenUrl = QUrl(m_tokenUrl->text().trimmed());
    provider.scope = m_scope->text().simplified();
    return provider;
}

void SignInPanel::providerChosen(int index)
{
    forgetSignIn();
    const bool chosen = index > 0;
    const std::optional<SignIn::Provider> preset = SignIn::Provider::preset(m_provider->currentData().toString());
    for (QLineEdit *edit : {m_clientId, m_clientSecret, m_authorizationUrl, m_tokenUrl, m_scope}) {
        edit->clear();
        edit->setEnabled(chosen);
    }
    m_signIn->setEnabled(chosen);
    m_password->setEnabled(!chosen);
    m_password->setPlaceholderText(chosen ? u"not needed: sign in below"_s : QString());
    if (chosen)
        m_password->clear();
    m_status->clear();
    if (!preset)
        return;
    m_clientId->setText(preset->clientId);
    m_authorizationUrl->setText(preset->authorizationUrl.toString());
    m_tokenUrl->setText(preset->tokenUrl.toString());
    m_scope->setText(preset->scope);
    if (!preset->server.isEmpty())
        m_server->setText(preset->server);
}

void SignInPanel::forgetSignIn()
{
    m_signedServer.clear();
    m_signedLogin.clear();
}

void SignInPanel::cancelSignIn() { m_browser.cancel(); }

void SignInPanel::signIn()
{
    if (m_browser.isRunning()) {
        cancelSignIn();
        return;
    }
    forgetSignIn();
    const QString server = m_server->text();
    const QString login = m_login->text();
    if (server.isEmpty() || login.isEmpty()) {
        m_status->setText(u"Enter the mail server and the login name (your address) first."_s);
        return;
    }
    const SignIn::Provider provider = this->provider();
    m_status->setText(u"Waiting for the browser…"_s);
    m_signIn->setText(u"Cancel sign-in"_s);
    m_provider->setEnabled(false); // the facts kept must be those the browser signed in with
    const SignIn::BrowserSignIn::Result result = m_browser.run(provider, login);
    m_provider->setEnabled(true);
    m_signIn->setText(signInText());
    const auto ended = qScopeGuard([this] { Q_EMIT signInEnded(); });
    if (!result.ok) {
        m_status->setText(result.error);
        return;
    }
    TokenAccounts::Account facts;
    facts.server = server;
    facts.login = login;
    facts.provider = provider.id;
    facts.clientId = provider.clientId;
    facts.clientSecret = provider.clientSecret;
    facts.authorizationUrl = provider.authorizationUrl;
    facts.tokenUrl = provider.tokenUrl;
    facts.scope = provider.scope;
    StateDatabase database(m_folder);
    QString error;
    // store() replaces the tokens of an account signed in before; its old
    // refresh token is overwritten only once the new one is at hand.
    if (!database.open() || !SignIn::TokenKeeper(&database).store(facts, result.tokens, &error)) {
        m_status->setText(u"Signed in, but the tokens cannot be kept: "_s
                          + (error.isEmpty() ? database.errorText() : error));
        return;
    }
    m_signedServer = server;
    m_signedLogin = login;
    m_status->setText(u"Signed in."_s);
}
