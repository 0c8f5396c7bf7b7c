#pragma once
// The tokens of the accounts that sign in with OAuth2. The refresh token and
// the current access token live in the desktop's keyring, nowhere else; the
// state database knows which accounts these are, where their provider is
// and when the access token ends. Before a scan an expired access token is
// refreshed; a provider that refuses the refresh token marks the account
// "sign in again", which only the browser can mend.

#include "secrets/keyring.h"
#include "signin/browsersignin.h"
#include "state/tokenaccounts.h"

#include <QString>

class StateDatabase;

namespace SignIn {

class TokenKeeper final
{
public:
    // A token this close to its end is refreshed first: a scan takes a while.
    static constexpr int MarginSeconds = 120;
    static constexpr int RefreshTimeoutMs = 30 * 1000;

    explicit TokenKeeper(StateDatabase *database, const Secrets::Keyring &keyring = Secrets::Keyring());

    // After a browser sign-in: the tokens into the keyring (each confirmed),
    // then the account's facts into the database.
    bool store(TokenAccounts::Account facts, const Tokens &tokens, QString *error);
    // Forgets the account: facts first, so a half-done removal never leaves
    // an account that believes it has tokens.
    bool forget(const QString &server, const QString &login, QString *error);

    enum class Status {
        Ok,
        SignInAgain, // the provider refused the refresh token
        Failed,      // the provider or the keyring could not be reached; next scan tries again
    };
    struct Access
    {
        Status status = Status::Failed;
        QString token;
        QString error;
    };
    // The access token to log in with, refreshed when it has expired.
    Access accessToken(const TokenAccounts::Account &facts);

    enum class RefreshStatus { Ok, Refused, Failed };
    struct Refreshed
    {
        RefreshStatus status = RefreshStatus::Failed;
        Tokens tokens; // the refresh token stays the old one unless the provider sends a new one
        QString error;
    };
    // RFC 6749 section 6, as a public client (PKCE clients have no secret to send).
    static Refreshed refresh(const TokenAccounts::Account &facts, const QString &refreshToken,
                             int timeoutMs = RefreshTimeoutMs);

private:
    StateDatabase *m_database;
    Secrets::Keyring m_keyring;
};

} // namespace SignIn
