#pragma once
// A keyring of the test's own: a dbus-daemon on a private address with no
// services it could start by itself (so nothing reaches the user's own
// keyring or a prompter), and gnome-keyring-daemon on it with a login
// keyring unlocked by a known password, under a private HOME and
// XDG_DATA_HOME. start() points this process's session bus there; it must
// run before anything in the process touches D-Bus. Both daemons are
// stopped by their process ids.

#include <QString>
#include <QTemporaryDir>

#include <memory>

class QProcess;

class PrivateKeyring final
{
public:
    PrivateKeyring();
    ~PrivateKeyring();
    PrivateKeyring(const PrivateKeyring &) = delete;
    PrivateKeyring &operator=(const PrivateKeyring &) = delete;

    static constexpr const char *Password = "keyring-test-password";
    // Empty when the daemons can run here; else which program is missing.
    static QString missingProgram();

    // The private bus alone: a session with no keyring on it.
    bool startBus();
    // The keyring on that bus (the bus first, when it is not up yet).
    bool startKeyring();
    // Locks the login keyring: with no prompter to unlock it, every write
    // is refused from then on.
    bool lock();
    void stop();

    QString errorString() const { return m_error; }

private:
    bool waitForLine(QProcess &process, const QByteArray &start, QByteArray *line);

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_keyring;
    QString m_error;
};
