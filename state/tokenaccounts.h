#pragma once
// The accounts that sign in with OAuth2 instead of a password, by server and
// login as the account list writes them: where their tokens come from and
// when the access token ends. The tokens themselves live in the desktop's
// keyring only; accounts.dat keeps its format, with an empty password.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

class StateDatabase;

class TokenAccounts final
{
    Q_DISABLE_COPY_MOVE(TokenAccounts)

public:
    struct Account
    {
        QString server;
        QString login;
        QString provider; // "microsoft", "google", "generic"
        QString clientId;
        QString clientSecret; // only where a provider wants one from a desktop client
        QUrl authorizationUrl;
        QUrl tokenUrl;
        QString scope;
        QDateTime expiresAt;      // of the access token in the keyring
        bool signInAgain = false; // the provider refused the refresh token
    };

    explicit TokenAccounts(StateDatabase &database);

    // Nothing when the table cannot be read (errorText() says why).
    std::optional<QList<Account>> all() const;
    std::optional<Account> find(const QString &server, const QString &login) const;
    // Adds or replaces the account's row.
    bool put(const Account &account);
    bool setExpiry(const QString &server, const QString &login, const QDateTime &expiresAt);
    bool setSignInAgain(const QString &server, const QString &login, bool again);
    bool remove(const QString &server, const QString &login);

    QString errorText() const { return m_error; }

private:
    bool run(const QString &statement, const QVariantList &values);

    StateDatabase &m_database;
    mutable QString m_error;
};
