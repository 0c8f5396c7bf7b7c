#pragma once
// Which accounts keep their password in the desktop's keyring, by server
// and login as the account list writes them. accounts.dat keeps its own
// format (such an account has an empty password there), so this is the one
// place that tells a keyring account from one whose password is empty. It is
// committed before a password leaves the file and removed only after the
// password is back in it, so a move cut short leaves a password findable.

#include <QList>
#include <QString>

#include <optional>

class StateDatabase;

class KeyringAccounts final
{
    Q_DISABLE_COPY_MOVE(KeyringAccounts)

public:
    struct Account
    {
        QString server;
        QString login;
        bool operator==(const Account &) const = default;
    };

    explicit KeyringAccounts(StateDatabase &database);

    // Nothing when the table cannot be read (errorText() says why).
    std::optional<QList<Account>> all() const;
    // Each in one transaction: all of them or none.
    bool add(const QList<Account> &accounts);
    bool remove(const QList<Account> &accounts);

    QString errorText() const { return m_error; }

private:
    bool change(const QString &statement, const QList<Account> &accounts);

    StateDatabase &m_database;
    mutable QString m_error;
};
