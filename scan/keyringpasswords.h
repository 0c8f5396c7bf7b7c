#pragma once
// The POP3 passwords that live in the desktop's keyring instead of
// accounts.dat. The file keeps its format: a keyring account's line holds
// its server, its login and an empty password, and KeyringAccounts (in the
// state database) tells it from an account whose password is empty.
//
// Moving is one action that loses nothing if it stops half way:
// into the keyring, each password is written there and confirmed, then its
// account is recorded as a keyring account, and only then does the file
// (replaced atomically) lose it; out of the keyring, the file gets the
// passwords back first, then the record goes, then the keyring entries. At
// any point a password is in the file or in the keyring and recorded there;
// where both hold one, the file's wins. Passwords from the keyring go to the
// file only when moving out, and never to a log.

#include "secrets/keyring.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class StateDatabase;

namespace Scan {

class KeyringPasswords final
{
public:
    // One account's password, as the account list holds it.
    struct Entry
    {
        QString server;
        QString login;
        QString password;
    };

    struct Outcome
    {
        // Into the keyring: the passwords that left the file (so the grid can
        // forget them). Out of it: those put back in the file.
        QList<Entry> moved;
        QStringList problems;
        bool noKeyring = false; // nothing was moved because no keyring runs
    };

    explicit KeyringPasswords(const QString &programFolder, const Secrets::Keyring &keyring = Secrets::Keyring());

    Outcome moveIn();
    Outcome moveOut();
    // Save Settings while the setting is on: stores the passwords of the
    // grid's rows; `moved` gets those the keyring confirmed and that are
    // recorded, so the file can be written without them.
    Outcome storeBeforeSave(const QList<Entry> &rows);

    // For the scan: reads which accounts are keyring accounts from `database`
    // (nullptr: the database cannot be used).
    void loadAccounts(StateDatabase *database);
    // The password to log in with: the file's, or for a keyring account with
    // an empty one the keyring's. Nothing, with `error`, when the keyring
    // cannot give it.
    std::optional<QString> loginPassword(const Entry &account, QString *error) const;

    static QString accountsPath(const QString &programFolder);
    // The accounts accounts.dat lists, passwords as written. Nothing when it
    // cannot be read (`error` says why) or holds a line the accounts loader
    // would stop at or pass over: then which accounts it means is in doubt.
    static std::optional<QList<Entry>> listedAccounts(const QString &programFolder, QString *error);

private:
    Secrets::Keyring m_keyring;
    QString m_folder;
    QList<Entry> m_recorded; // keyring accounts, passwords empty
    bool m_recordsKnown = false;
};

} // namespace Scan
