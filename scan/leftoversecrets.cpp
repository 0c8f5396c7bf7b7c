#include "scan/leftoversecrets.h"

#include "scan/keyringpasswords.h"
#include "signin/tokenkeeper.h"
#include "state/keyringaccounts.h"
#include "state/statedatabase.h"
#include "state/tokenaccounts.h"

#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Scan {

QStringList LeftoverSecrets::forgetUnlisted(const QString &programFolder, const Secrets::Keyring &keyring)
{
    QStringList problems;
    StateDatabase database(programFolder);
    // No database, no records: nothing was ever kept for an account.
    if (!QFileInfo::exists(database.path()))
        return problems;
    QString error;
    const std::optional<QList<KeyringPasswords::Entry>> listed =
        KeyringPasswords::listedAccounts(programFolder, &error);
    if (!listed) {
        if (!error.isEmpty())
            problems.append(error);
        return problems;
    }
    const auto isListed = [&](const QString &server, const QString &login) {
        return std::any_of(listed->cbegin(), listed->cend(), [&](const KeyringPasswords::Entry &entry) {
            return entry.server == server && entry.login == login;
        });
    };
    const auto name = [](const QString &server, const QString &login) { return u"%1 (%2)"_s.arg(server, login); };
    if (!database.open()) {
        problems.append(
            u"The secrets of removed accounts stay: the state database cannot be used: %1"_s.arg(database.errorText()));
        return problems;
    }

    TokenAccounts tokenAccounts(database);
    const std::optional<QList<TokenAccounts::Account>> signedIn = tokenAccounts.all();
    if (!signedIn)
        problems.append(u"The sign-ins of removed accounts stay: %1"_s.arg(tokenAccounts.errorText()));
    SignIn::TokenKeeper keeper(&database, keyring);
    for (const TokenAccounts::Account &account : signedIn.value_or(QList<TokenAccounts::Account>())) {
        if (isListed(account.server, account.login))
            continue;
        if (!keeper.forget(account.server, account.login, &error))
            problems.append(u"%1: its sign-in stays: %2"_s.arg(name(account.server, account.login), error));
    }

    KeyringAccounts records(database);
    const std::optional<QList<KeyringAccounts::Account>> recorded = records.all();
    if (!recorded) {
        problems.append(u"The keyring passwords of removed accounts stay: %1"_s.arg(records.errorText()));
        return problems;
    }
    QList<KeyringAccounts::Account> unlisted;
    std::copy_if(recorded->cbegin(), recorded->cend(), std::back_inserter(unlisted),
                 [&](const KeyringAccounts::Account &account) { return !isListed(account.server, account.login); });
    if (unlisted.isEmpty())
        return problems;
    // The record goes first: an entry without one is only unused.
    if (!records.remove(unlisted)) {
        problems.append(u"The keyring passwords of removed accounts stay: %1"_s.arg(records.errorText()));
        return problems;
    }
    for (const KeyringAccounts::Account &account : unlisted) {
        const Secrets::Keyring::Result removed =
            keyring.remove({account.server, account.login}, Secrets::Kind::Password);
        if (!removed.ok())
            problems.append(u"%1: its password stays in the keyring: %2"_s.arg(name(account.server, account.login),
                                                                               removed.errorText));
    }
    return problems;
}

} // namespace Scan
