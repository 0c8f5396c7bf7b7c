#include "state/keyringaccounts.h"

#include "state/statedatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

using namespace Qt::StringLiterals;

KeyringAccounts::KeyringAccounts(StateDatabase &database)
    : m_database(database)
{}

std::optional<QList<KeyringAccounts::Account>> KeyringAccounts::all() const
{
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    if (!query.exec(u"SELECT server, login FROM keyring_accounts"_s)) {
        m_error = query.lastError().text();
        return std::nullopt;
    }
    QList<Account> accounts;
    while (query.next())
        accounts.append({query.value(0).toString(), query.value(1).toString()});
    if (query.lastError().isValid()) {
        m_error = query.lastError().text();
        return std::nullopt;
    }
    return accounts;
}

bool KeyringAccounts::add(const QList<Account> &accounts)
{
    return change(u"INSERT OR IGNORE INTO keyring_accounts (server, login) VALUES (?, ?)"_s, accounts);
}

bool KeyringAccounts::remove(const QList<Account> &accounts)
{
    return change(u"DELETE FROM keyring_accounts WHERE server = ? AND login = ?"_s, accounts);
}

bool KeyringAccounts::change(const QString &statement, const QList<Account> &accounts)
{
    const bool done = m_database.transaction([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        query.prepare(statement);
        for (const Account &account : accounts) {
            query.addBindValue(account.server);
            query.addBindValue(account.login);
            if (!query.exec())
                return false;
        }
        return true;
    });
    if (!done)
        m_error = m_database.errorText();
    return done;
}
