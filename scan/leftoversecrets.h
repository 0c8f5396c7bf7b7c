#pragma once
// What an account leaves behind once it is gone from accounts.dat (deleted,
// or renamed by Edit): its sign-in (the token_accounts row, the tokens in the
// keyring) and its keyring password (the keyring_accounts row, the entry).
// Run after Save Settings has written the file, and read from the file as
// saved, so a save that failed loses nothing: the account is still listed.

#include "secrets/keyring.h"

#include <QString>
#include <QStringList>

namespace Scan {

class LeftoverSecrets final
{
public:
    // Forgets the secrets of every recorded account the file does not list;
    // what could not be forgotten is named in the result (it is tried again
    // at the next save). A file the accounts loader would not read to its
    // end leaves everything as it is.
    static QStringList forgetUnlisted(const QString &programFolder,
                                      const Secrets::Keyring &keyring = Secrets::Keyring());
};

} // namespace Scan
