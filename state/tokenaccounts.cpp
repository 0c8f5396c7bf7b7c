#include "state/tokenaccounts.h"

#include "state/statedatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

using namespace Qt::StringLiterals;

namespace {

const QString Columns =
    u"server, login, provider, client_id, client_secret, authorization_url, token_url, scope, expires_at,"
    " sign_in_again"_s;

TokenAccounts::Account fromRow(const QSqlQuery &query)
{
    TokenAccounts::Account account;
    account.server = query.value(0).toString();
    account.login = query.value(1).toString();
    account.provider = query.value(2).toString();
    account.clientId = query.value(3).toString();
    account.clientSecret = query.value(4).toString();
    account.authorizationUrl = QUrl(query.value(5).toString());
    account.tokenUrl = QUrl(query.value(6).toString());
    account.scope = query.value(7).toString();
    account.expiresAt = QDateTime::fromSecsSinceEpoch(query.value(8).toLongLong(), Qt::UTC);
    account.signInAgain = query.value(9).toBool();
    return account;
}

// A null QString binds as NULL; the columns want text.
QString text(const QString &value) { return value.isNull() ? u""_s : value; }

} // namespace

TokenAccounts::TokenAccounts(StateDatabase &database)
    : m_database(database)
{}

std::optional<QList<TokenAccounts::Account>> TokenAccounts::all() const
{
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    if (!query.exec(u"SELECT "_s + Columns + u" FROM token_accounts"_s)) {
        m_error = query.lastError().text();
        return std::nullopt;
    }
    QList<Account> accounts;
    while (query.next())
        accounts.append(fromRow(query));
    if (query.lastError().isValid()) {
        m_error = query.lastError().text();
        return std::nullopt;
    }
    return accounts;
}

std::optional<TokenAccounts::Account> TokenAccounts::find(const QString &server, const QString &login) const
{
    const std::optional<QList<Account>> accounts = all();
    if (accounts) {
        for (const Account &account : *accounts) {
            if (account.server == server && account.login == login)
                return account;
        }
    }
    return std::nullopt;
}

bool TokenAccounts::put(const Account &account)
{
    return run(u"INSERT OR REPLACE INTO token_accounts ("_s + Columns + u") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s,
               {text(account.server), text(account.login), text(account.provider), text(account.clientId),
                text(account.clientSecret), text(account.authorizationUrl.toString()),
                text(account.tokenUrl.toString()), text(account.scope),
                account.expiresAt.isValid() ? account.expiresAt.toSecsSinceEpoch() : 0, account.signInAgain ? 1 : 0});
}

bool TokenAccounts::setExpiry(const QString &server, const QString &login, const QDateTime &expiresAt)
{
    return run(u"UPDATE token_accounts SET expires_at = ?, sign_in_again = 0 WHERE server = ? AND login = ?"_s,
               {expiresAt.toSecsSinceEpoch(), server, login});
}

bool TokenAccounts::setSignInAgain(const QString &server, const QString &login, bool again)
{
    return run(u"UPDATE token_accounts SET sign_in_again = ? WHERE server = ? AND login = ?"_s,
               {again ? 1 : 0, server, login});
}

bool TokenAccounts::remove(const QString &server, const QString &login)
{
    return run(u"DELETE FROM token_accounts WHERE server = ? AND login = ?"_s, {server, login});
}

bool TokenAccounts::run(const QString &statement, const QVariantList &values)
{
    QString queryError;
    const bool done = m_database.transaction([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        query.prepare(statement);
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (query.exec())
            return true;
        queryError = query.lastError().text();
        return false;
    });
    if (!done)
        m_error = queryError.isEmpty() ? m_database.errorText() : queryError;
    return done;
}
