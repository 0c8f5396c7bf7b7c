#include "scan/keyringpasswords.h"

#include "config/datafile.h"
#include "config/listloaders.h"
#include "state/keyringaccounts.h"
#include "state/statedatabase.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

using Kind = Secrets::Kind;
using Status = Secrets::Keyring::Status;

// One line of accounts.dat, its bytes kept as they are so that a rewrite
// changes nothing but the password fields it means to change.
struct Line
{
    QByteArray bytes; // without its line end
    bool account = false;
    KeyringPasswords::Entry entry;
    qsizetype passwordAt = 0; // where the password field starts in bytes
};

struct AccountsFile
{
    QByteArray raw;
    QList<Line> lines;
};

QList<QByteArray> splitLines(const QByteArray &raw)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype at = 0; at < raw.size(); ++at) {
        const char c = raw.at(at);
        if (c != '\r' && c != '\n')
            continue;
        lines.append(raw.mid(start, at - start));
        if (c == '\r' && at + 1 < raw.size() && raw.at(at + 1) == '\n')
            ++at;
        start = at + 1;
    }
    if (start < raw.size())
        lines.append(raw.mid(start));
    return lines;
}

// Reads the file as the accounts loader does: a line that cannot be split
// ends the accounts (the lines after it are kept but never touched), a
// server that is too short is passed over. A missing file has no accounts.
std::optional<AccountsFile> readAccounts(const QString &path, QString *error)
{
    AccountsFile file;
    QFile in(path);
    if (!in.exists())
        return file;
    if (!in.open(QIODevice::ReadOnly)) {
        *error = u"%1 cannot be read: %2"_s.arg(QDir::toNativeSeparators(path), in.errorString());
        return std::nullopt;
    }
    file.raw = in.readAll();
    bool ended = false;
    for (const QByteArray &bytes : splitLines(file.raw)) {
        Line line;
        line.bytes = bytes;
        const QString text = DataFile::decode(bytes);
        const qsizetype c1 = text.indexOf(u',');
        const qsizetype c2 = c1 < 0 ? -1 : text.indexOf(u',', c1 + 1);
        ended = ended || c2 < 0;
        if (!ended && c1 >= MinimumMailServerLength) {
            line.account = true;
            line.entry = {text.left(c1), text.mid(c1 + 1, c2 - c1 - 1), text.mid(c2 + 1)};
            // A comma is one byte in UTF-8 and in Latin-1, and never part of another character.
            const qsizetype b1 = bytes.indexOf(',');
            line.passwordAt = bytes.indexOf(',', b1 + 1) + 1;
        }
        file.lines.append(line);
    }
    return file;
}

// Replaces the file, unless it changed since `before` was read (the user
// saved meanwhile): then nothing is written.
bool writeAccounts(const QString &path, const AccountsFile &before, const QList<QByteArray> &lines, QString *error)
{
    QFile now(path);
    if (!now.open(QIODevice::ReadOnly) || now.readAll() != before.raw) {
        *error = u"%1 changed while the passwords were being moved; it was left as it is. Try again."_s.arg(
            QDir::toNativeSeparators(path));
        return false;
    }
    now.close();
    QSaveFile file(path);
    QString reason;
    if (!DataFile::openForSave(file, true, &reason)) {
        *error = u"%1 cannot be written: %2"_s.arg(QDir::toNativeSeparators(path), reason);
        return false;
    }
    bool written = true;
    for (const QByteArray &line : lines)
        written = written && DataFile::writeAll(file, line + "\r\n");
    if (!DataFile::finishSave(file, written, &reason)) {
        *error = u"%1 cannot be written: %2"_s.arg(QDir::toNativeSeparators(path), reason);
        return false;
    }
    return true;
}

QString accountName(const KeyringPasswords::Entry &entry) { return u"%1 (%2)"_s.arg(entry.server, entry.login); }

bool sameAccount(const KeyringPasswords::Entry &a, const KeyringPasswords::Entry &b)
{
    return a.server == b.server && a.login == b.login;
}

bool listed(const QList<KeyringPasswords::Entry> &entries, const KeyringPasswords::Entry &entry)
{
    return std::any_of(entries.cbegin(), entries.cend(),
                       [&](const KeyringPasswords::Entry &e) { return sameAccount(e, entry); });
}

QList<KeyringAccounts::Account> recordsOf(const QList<KeyringPasswords::Entry> &entries)
{
    QList<KeyringAccounts::Account> accounts;
    for (const KeyringPasswords::Entry &entry : entries)
        accounts.append({entry.server, entry.login});
    return accounts;
}

// The accounts with a password to store; an account listed twice with two
// passwords has only one keyring entry, so it stays where it is.
QList<KeyringPasswords::Entry> toStore(const QList<KeyringPasswords::Entry> &rows, QStringList *problems)
{
    QList<KeyringPasswords::Entry> entries;
    QList<KeyringPasswords::Entry> twice;
    for (const KeyringPasswords::Entry &row : rows) {
        if (row.password.isEmpty() || listed(twice, row))
            continue;
        const auto same = std::find_if(entries.cbegin(), entries.cend(),
                                       [&](const KeyringPasswords::Entry &e) { return sameAccount(e, row); });
        if (same == entries.cend()) {
            entries.append(row);
        } else if (same->password != row.password) {
            twice.append(row);
            entries.removeAt(same - entries.cbegin());
            problems->append(
                u"%1 is listed more than once with different passwords; its passwords stay in accounts.dat."_s.arg(
                    accountName(row)));
        }
    }
    return entries;
}

std::unique_ptr<StateDatabase> openDatabase(const QString &folder, QStringList *problems)
{
    auto database = std::make_unique<StateDatabase>(folder);
    if (database->open())
        return database;
    problems->append(
        u"Which passwords are in the keyring is recorded in the state database, which cannot be used: %1"_s.arg(
            database->errorText()));
    return nullptr;
}

} // namespace

KeyringPasswords::KeyringPasswords(const QString &programFolder, const Secrets::Keyring &keyring)
    : m_keyring(keyring)
    , m_folder(programFolder)
{}

QString KeyringPasswords::accountsPath(const QString &programFolder)
{
    return QDir(programFolder).filePath(u"accounts.dat"_s);
}

std::optional<QList<KeyringPasswords::Entry>> KeyringPasswords::listedAccounts(const QString &programFolder,
                                                                               QString *error)
{
    // Missing is not empty: a saved list is always there.
    if (!QFile::exists(accountsPath(programFolder)))
        return std::nullopt;
    const std::optional<AccountsFile> file = readAccounts(accountsPath(programFolder), error);
    if (!file)
        return std::nullopt;
    QList<Entry> entries;
    for (const Line &line : file->lines) {
        if (!line.account)
            return std::nullopt;
        entries.append(line.entry);
    }
    return entries;
}

KeyringPasswords::Outcome KeyringPasswords::storeBeforeSave(const QList<Entry> &rows)
{
    Outcome outcome;
    const QList<Entry> entries = toStore(rows, &outcome.problems);
    if (entries.isEmpty())
        return outcome;
    if (const Secrets::Keyring::Result running = m_keyring.probe(); !running.ok()) {
        outcome.noKeyring = true;
        outcome.problems.append(running.errorText + u" The passwords are kept in accounts.dat."_s);
        return outcome;
    }
    const std::unique_ptr<StateDatabase> database = openDatabase(m_folder, &outcome.problems);
    if (!database)
        return outcome;
    QList<Entry> stored;
    for (const Entry &entry : entries) {
        const Secrets::Keyring::Result result =
            m_keyring.write({entry.server, entry.login}, Kind::Password, entry.password);
        if (!result.ok()) {
            // One refusal or silence stands for the rest: no waiting again for each.
            outcome.problems.append(u"%1: %2 Its password and those after it stay in accounts.dat."_s.arg(
                accountName(entry), result.errorText));
            break;
        }
        stored.append(entry);
    }
    if (stored.isEmpty())
        return outcome;
    KeyringAccounts records(*database);
    if (!records.add(recordsOf(stored))) {
        outcome.problems.append(
            u"The state database cannot record the keyring's passwords (%1); they stay in accounts.dat."_s.arg(
                records.errorText()));
        return outcome;
    }
    outcome.moved = stored;
    return outcome;
}

KeyringPasswords::Outcome KeyringPasswords::moveIn()
{
    Outcome outcome;
    // Asked even with no password to move: the setting is about to say that
    // new ones go there.
    if (const Secrets::Keyring::Result running = m_keyring.probe(); !running.ok()) {
        outcome.noKeyring = true;
        outcome.problems.append(running.errorText + u" The passwords stay in accounts.dat."_s);
        return outcome;
    }
    const QString path = accountsPath(m_folder);
    QString error;
    const std::optional<AccountsFile> file = readAccounts(path, &error);
    if (!file) {
        outcome.problems.append(error);
        return outcome;
    }
    QList<Entry> rows;
    for (const Line &line : file->lines) {
        if (line.account)
            rows.append(line.entry);
    }
    Outcome stored = storeBeforeSave(rows);
    outcome.problems = stored.problems;
    outcome.noKeyring = stored.noKeyring;
    if (stored.moved.isEmpty())
        return outcome;

    QList<QByteArray> lines;
    for (const Line &line : file->lines) {
        const bool moved = line.account && !line.entry.password.isEmpty() && listed(stored.moved, line.entry);
        lines.append(moved ? line.bytes.left(line.passwordAt) : line.bytes);
    }
    // The keyring and the record hold them now; if the file cannot lose
    // them, they are in both, and the file's still count.
    if (!writeAccounts(path, *file, lines, &error)) {
        outcome.problems.append(error);
        return outcome;
    }
    outcome.moved = stored.moved;
    return outcome;
}

KeyringPasswords::Outcome KeyringPasswords::moveOut()
{
    Outcome outcome;
    const QString path = accountsPath(m_folder);
    QString error;
    const std::optional<AccountsFile> file = readAccounts(path, &error);
    if (!file) {
        outcome.problems.append(error);
        return outcome;
    }
    const std::unique_ptr<StateDatabase> database = openDatabase(m_folder, &outcome.problems);
    if (!database)
        return outcome;
    KeyringAccounts records(*database);
    const std::optional<QList<KeyringAccounts::Account>> recorded = records.all();
    if (!recorded) {
        outcome.problems.append(
            u"The state database cannot say which passwords are in the keyring: %1"_s.arg(records.errorText()));
        return outcome;
    }
    const auto isRecorded = [&](const Entry &entry) {
        return std::any_of(recorded->cbegin(), recorded->cend(), [&](const KeyringAccounts::Account &a) {
            return a.server == entry.server && a.login == entry.login;
        });
    };
    // Recorded accounts whose line has a password again (the user typed one
    // in) need only lose the record and the entry: the file's password counts.
    QList<Entry> toRead;
    QList<Entry> settled;
    for (const Line &line : file->lines) {
        if (!line.account || !isRecorded(line.entry))
            continue;
        QList<Entry> &list = line.entry.password.isEmpty() ? toRead : settled;
        if (!listed(list, line.entry))
            list.append(line.entry);
    }
    if (toRead.isEmpty() && settled.isEmpty())
        return outcome;
    if (const Secrets::Keyring::Result running = m_keyring.probe(); !running.ok()) {
        outcome.noKeyring = true;
        outcome.problems.append(running.errorText
                                + u" The passwords stay in the keyring; accounts.dat was left as it is."_s);
        return outcome;
    }
    QList<Entry> restored;
    for (const Entry &entry : std::as_const(toRead)) {
        const Secrets::Keyring::Result result = m_keyring.read({entry.server, entry.login}, Kind::Password);
        if (result.status == Status::NotFound) {
            // Nothing to put back; the record stays so the scan keeps saying so.
            outcome.problems.append(
                u"%1: the keyring gives no password for it (it holds none, or it is locked); unlock the keyring and"
                " try again, or enter the password again on the Accounts tab."_s.arg(accountName(entry)));
            continue;
        }
        if (!result.ok()) {
            outcome.problems.append(u"%1: %2 Its password and those after it stay in the keyring."_s.arg(
                accountName(entry), result.errorText));
            break;
        }
        restored.append({entry.server, entry.login, result.secret});
    }
    if (!restored.isEmpty()) {
        QList<QByteArray> lines;
        for (const Line &line : file->lines) {
            const auto back = std::find_if(restored.cbegin(), restored.cend(),
                                           [&](const Entry &e) { return sameAccount(e, line.entry); });
            const bool empty = line.account && line.entry.password.isEmpty();
            lines.append(empty && back != restored.cend() ? line.bytes.left(line.passwordAt) + back->password.toUtf8()
                                                          : line.bytes);
        }
        if (!writeAccounts(path, *file, lines, &error)) {
            outcome.problems.append(error + u" The passwords stay in the keyring."_s);
            return outcome;
        }
    }
    // The file holds them now: the record goes, then the keyring's copies.
    const QList<Entry> done = restored + settled;
    if (!records.remove(recordsOf(done))) {
        outcome.problems.append(
            u"The state database cannot forget the keyring's passwords (%1); accounts.dat holds them again."_s.arg(
                records.errorText()));
        outcome.moved = restored;
        return outcome;
    }
    for (const Entry &entry : done) {
        const Secrets::Keyring::Result removed = m_keyring.remove({entry.server, entry.login}, Kind::Password);
        if (!removed.ok())
            outcome.problems.append(u"%1: its password is back in accounts.dat but stays in the keyring too: %2"_s.arg(
                accountName(entry), removed.errorText));
    }
    outcome.moved = restored;
    return outcome;
}

void KeyringPasswords::loadAccounts(StateDatabase *database)
{
    m_recorded.clear();
    m_recordsKnown = false;
    if (!database)
        return;
    const std::optional<QList<KeyringAccounts::Account>> recorded = KeyringAccounts(*database).all();
    if (!recorded)
        return;
    for (const KeyringAccounts::Account &account : *recorded)
        m_recorded.append({account.server, account.login, {}});
    m_recordsKnown = true;
}

std::optional<QString> KeyringPasswords::loginPassword(const Entry &account, QString *error) const
{
    if (!account.password.isEmpty() || (m_recordsKnown && !listed(m_recorded, account)))
        return account.password;
    const Secrets::Keyring::Result result = m_keyring.read({account.server, account.login}, Kind::Password);
    if (result.ok())
        return result.secret;
    // Without the records an empty password may be just that.
    if (!m_recordsKnown)
        return account.password;
    *error = result.status == Status::NotFound
                 ? u"its password should be in the system keyring, which gives none for it (it holds none, or it is"
                   " locked); unlock the keyring, or enter the password again on the Accounts tab"_s
                 : u"its password is in the system keyring, which cannot give it: %1"_s.arg(result.errorText);
    return std::nullopt;
}

} // namespace Scan
