#pragma once
// The desktop's keyring (the Secret Service: GNOME Keyring, KWallet, ...)
// through QtKeychain, whose calls answer later with a signal. Each call here
// waits for that answer in a local event loop, so it blocks without spinning
// and the window keeps painting; a keyring that wants the user to unlock it
// gets the time of its prompt. A secret is kept in memory only: nothing here
// writes one to a file or to a log, and QtKeychain's plain-file fallback is
// never used.

#include <QString>

namespace Secrets {

// What a secret belongs to: an account (the server as written in the
// account list, and the login) and what it is for.
enum class Kind {
    Password,     // the POP3 password
    RefreshToken, // an OAuth2 refresh token
    AccessToken,  // the OAuth2 access token, kept until it expires
};

struct Account
{
    QString server;
    QString login;
};

class Keyring final
{
public:
    enum class Status {
        Ok,
        NotFound,  // the keyring answers but holds no such secret
        NoKeyring, // no keyring runs on this desktop (or no session bus)
        Failed,    // the keyring refused or failed; errorText says how
        TimedOut,  // no answer within the timeout
    };

    struct Result
    {
        Status status = Status::Failed;
        QString secret; // read() only
        QString errorText;
        bool ok() const { return status == Status::Ok; }
    };

    // A locked keyring asks the user for its password: that prompt must get
    // its time, but a keyring that never answers must not hold a scan forever.
    static constexpr int DefaultTimeoutMs = 120 * 1000;
    // The name the entries are filed under in the keyring.
    static QString serviceName();

    explicit Keyring(int timeoutMs = DefaultTimeoutMs);

    // Whether a keyring answers on the session bus; errorText says why not.
    // Reads, writes and removals ask this first, so "no keyring" is always
    // told as such rather than as a bus error.
    Result probe() const;
    Result read(const Account &account, Kind kind) const;
    // Ok only once the keyring confirmed that it holds the secret.
    Result write(const Account &account, Kind kind, const QString &secret) const;
    // Ok also when there was nothing to remove.
    Result remove(const Account &account, Kind kind) const;

    // The entry's key: readable in a keyring manager, and two accounts can
    // never share one, whatever their server and login hold.
    static QString key(const Account &account, Kind kind);

private:
    int m_timeoutMs;
};

} // namespace Secrets
