#include "ui/keyringsetting.h"

#include "config/listloaders.h"
#include "config/listtable.h"
#include "platform/messagebox/messagebox.h"
#include "scan/keyringpasswords.h"

#include <QCheckBox>
#include <QScopeGuard>
#include <QSignalBlocker>

using namespace Qt::StringLiterals;
using Scan::KeyringPasswords;

namespace {

// accounts.dat: server, login, password.
constexpr int ServerColumn = 1;
constexpr int LoginColumn = 2;
constexpr int PasswordColumn = 3;

QList<int> rowsOf(const ListTable &table, const KeyringPasswords::Entry &entry)
{
    QList<int> rows;
    for (int row = 1; row <= table.rowCountValue(); ++row) {
        if (table.cell(row, ServerColumn) == entry.server && table.cell(row, LoginColumn) == entry.login)
            rows.append(row);
    }
    return rows;
}

// Forgets in the grid the passwords that left the file, where the grid still
// holds the same one (an edit made since stays).
void forget(ListTable &table, const QList<KeyringPasswords::Entry> &moved)
{
    for (const KeyringPasswords::Entry &entry : moved) {
        for (int row : rowsOf(table, entry)) {
            if (table.cell(row, PasswordColumn) == entry.password)
                table.setCell(row, PasswordColumn, QString());
        }
    }
}

} // namespace

KeyringSetting::KeyringSetting(const QString &programFolder, QCheckBox *box, ListTable *accounts, QWidget *window)
    : QObject(window)
    , m_folder(programFolder)
    , m_box(box)
    , m_accounts(accounts)
    , m_window(window)
{}

void KeyringSetting::setBox(bool on)
{
    const QSignalBlocker blocker(m_box);
    m_box->setChecked(on);
}

void KeyringSetting::toggled(bool on)
{
    if (m_busy || (m_scanning && m_scanning())) {
        setBox(!on);
        Q_EMIT message(u"Passwords are not moved while a scan runs or a move is under way; try again when it has"
                       " finished."_s);
        return;
    }
    m_busy = true;
    m_box->setEnabled(false);
    const auto done = qScopeGuard([this] {
        m_box->setEnabled(true);
        m_busy = false;
    });
    Q_EMIT message(on ? u"Moving the passwords into the system keyring…"_s
                      : u"Moving the passwords back into accounts.dat…"_s);
    KeyringPasswords passwords(m_folder);
    const KeyringPasswords::Outcome outcome = on ? passwords.moveIn() : passwords.moveOut();
    if (on) {
        forget(*m_accounts, outcome.moved);
    } else {
        for (const KeyringPasswords::Entry &entry : outcome.moved) {
            for (int row : rowsOf(*m_accounts, entry)) {
                if (m_accounts->cell(row, PasswordColumn).isEmpty())
                    m_accounts->setCell(row, PasswordColumn, entry.password);
            }
        }
    }
    if (outcome.noKeyring) {
        // Nothing moved either way: the setting stays as it was.
        setBox(!on);
        Q_EMIT message(outcome.problems.join(u' '));
        MessageBox::show(m_window, outcome.problems.join(u'\n'), u"System keyring"_s);
        return;
    }
    QString text = on ? u"%1 password(s) moved into the system keyring."_s.arg(outcome.moved.size())
                      : u"%1 password(s) moved back into accounts.dat."_s.arg(outcome.moved.size());
    if (!outcome.problems.isEmpty())
        text += u' ' + outcome.problems.join(u' ');
    Q_EMIT message(text);
}

void KeyringSetting::beforeSave()
{
    if (!m_box->isChecked() || m_busy)
        return;
    QList<KeyringPasswords::Entry> rows;
    for (int row = 1; row <= m_accounts->rowCountValue(); ++row) {
        const KeyringPasswords::Entry entry{m_accounts->cell(row, ServerColumn), m_accounts->cell(row, LoginColumn),
                                            m_accounts->cell(row, PasswordColumn)};
        // Rows the loader would not read back as this account keep their password in the file.
        if (entry.server.size() >= MinimumMailServerLength && !entry.server.contains(u',')
            && !entry.login.contains(u','))
            rows.append(entry);
    }
    m_busy = true;
    m_box->setEnabled(false);
    const KeyringPasswords::Outcome outcome = KeyringPasswords(m_folder).storeBeforeSave(rows);
    m_box->setEnabled(true);
    m_busy = false;
    forget(*m_accounts, outcome.moved);
    if (!outcome.problems.isEmpty())
        Q_EMIT message(outcome.problems.join(u' '));
    if (outcome.noKeyring)
        MessageBox::show(m_window, outcome.problems.join(u'\n'), u"System keyring"_s);
}
