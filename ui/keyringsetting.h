#pragma once
// "Keep passwords in the system keyring" on the Settings tab. Ticking it
// moves accounts.dat's passwords into the desktop's keyring, unticking moves
// them back (KeyringPasswords); where no keyring runs a box says so, the file
// stays as it is and the box goes back. While it is ticked, Save Settings
// stores the passwords of the Accounts grid in the keyring first, so they
// never reach the file. The grid follows each move, so a later Save Settings
// writes what the file now holds.

#include <QObject>

#include <functional>

class ListTable;
class QCheckBox;
class QWidget;

class KeyringSetting final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KeyringSetting)

public:
    KeyringSetting(const QString &programFolder, QCheckBox *box, ListTable *accounts, QWidget *window);

    // Whether a scan runs: nothing is moved under it.
    void setScanningCheck(std::function<bool()> scanning) { m_scanning = std::move(scanning); }
    // The box was changed by the user: moves the passwords, or puts the box
    // back when they could not move.
    void toggled(bool on);
    // Save Settings, before accounts.dat is written.
    void beforeSave();

Q_SIGNALS:
    // For the status line.
    void message(const QString &text);

private:
    void setBox(bool on);

    QString m_folder;
    QCheckBox *m_box;
    ListTable *m_accounts;
    QWidget *m_window;
    std::function<bool()> m_scanning;
    bool m_busy = false;
};
