#include "tests/support/privatekeyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

constexpr int StartTimeoutMs = 15000;

const QString SecretsName = u"org.freedesktop.secrets"_s;

} // namespace

PrivateKeyring::PrivateKeyring() = default;

PrivateKeyring::~PrivateKeyring() { stop(); }

QString PrivateKeyring::missingProgram()
{
    for (const QString &program : {u"dbus-daemon"_s, u"gnome-keyring-daemon"_s}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            return program;
    }
    return {};
}

bool PrivateKeyring::waitForLine(QProcess &process, const QByteArray &start, QByteArray *line)
{
    QSignalSpy output(&process, &QProcess::readyReadStandardOutput);
    QByteArray seen;
    const QDeadlineTimer deadline(StartTimeoutMs);
    for (;;) {
        seen += process.readAllStandardOutput();
        const QList<QByteArray> lines = seen.split('\n');
        // The last piece is a line still being written.
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            if (lines.at(i).startsWith(start)) {
                *line = lines.at(i).trimmed();
                return true;
            }
        }
        if (process.state() == QProcess::NotRunning || deadline.hasExpired())
            break;
        output.wait(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    m_error = u"%1 did not start: %2"_s.arg(process.program(), QString::fromLocal8Bit(process.readAllStandardError()));
    return false;
}

bool PrivateKeyring::startBus()
{
    if (m_bus)
        return true;
    if (!m_dir.isValid()) {
        m_error = u"no temporary folder"_s;
        return false;
    }
    const QDir dir(m_dir.path());
    for (const char *sub : {"home", "data", "config", "run", "services"})
        dir.mkpath(QLatin1StringView(sub));
    QFile::setPermissions(dir.filePath(u"run"_s),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // No standard service folders: a name nobody owns stays unowned.
    QFile config(dir.filePath(u"bus.conf"_s));
    if (!config.open(QIODevice::WriteOnly)) {
        m_error = config.errorString();
        return false;
    }
    config.write(u"<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                 "<busconfig>\n"
                 "  <type>session</type>\n"
                 "  <listen>unix:dir=%1</listen>\n"
                 "  <auth>EXTERNAL</auth>\n"
                 "  <servicedir>%2</servicedir>\n"
                 "  <policy context=\"default\">\n"
                 "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                 "    <allow eavesdrop=\"true\"/>\n"
                 "    <allow own=\"*\"/>\n"
                 "  </policy>\n"
                 "</busconfig>\n"_s.arg(dir.filePath(u"run"_s), dir.filePath(u"services"_s))
                     .toUtf8());
    config.close();

    m_bus = std::make_unique<QProcess>();
    m_bus->setProcessChannelMode(QProcess::SeparateChannels);
    m_bus->start(u"dbus-daemon"_s,
                 {u"--config-file="_s + config.fileName(), u"--nofork"_s, u"--nopidfile"_s, u"--print-address=1"_s});
    QByteArray address;
    if (!waitForLine(*m_bus, "unix:", &address))
        return false;
    // Everything the keyring and the bus client libraries look at.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("HOME", dir.filePath(u"home"_s).toLocal8Bit());
    qputenv("XDG_DATA_HOME", dir.filePath(u"data"_s).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath(u"config"_s).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dir.filePath(u"run"_s).toLocal8Bit());
    // QtKeychain picks its backend by desktop; the Secret Service is what runs here.
    qunsetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("DESKTOP_SESSION");
    qunsetenv("KDE_FULL_SESSION");
    qunsetenv("DISPLAY");
    return true;
}

bool PrivateKeyring::startKeyring()
{
    if (m_keyring)
        return true;
    if (!startBus())
        return false;
    m_keyring = std::make_unique<QProcess>();
    m_keyring->start(u"gnome-keyring-daemon"_s, {u"--foreground"_s, u"--components=secrets"_s, u"--unlock"_s,
                                                 u"--control-directory="_s + m_dir.filePath(u"run/keyring"_s)});
    if (!m_keyring->waitForStarted(StartTimeoutMs)) {
        m_error = m_keyring->errorString();
        return false;
    }
    m_keyring->write(Password);
    m_keyring->closeWriteChannel();
    QByteArray line;
    if (!waitForLine(*m_keyring, "GNOME_KEYRING_CONTROL=", &line))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusServiceWatcher watcher(SecretsName, bus, QDBusServiceWatcher::WatchForRegistration);
    QSignalSpy registered(&watcher, &QDBusServiceWatcher::serviceRegistered);
    if (bus.interface()->isServiceRegistered(SecretsName).value() || registered.wait(StartTimeoutMs))
        return true;
    m_error = u"gnome-keyring-daemon did not register the Secret Service on the bus"_s;
    return false;
}

bool PrivateKeyring::lock()
{
    QDBusMessage call = QDBusMessage::createMethodCall(SecretsName, u"/org/freedesktop/secrets"_s,
                                                       u"org.freedesktop.Secret.Service"_s, u"Lock"_s);
    call.setArguments(
        {QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(u"/org/freedesktop/secrets/collection/login"_s)})});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_error = reply.errorMessage();
        return false;
    }
    return true;
}

void PrivateKeyring::stop()
{
    for (std::unique_ptr<QProcess> *process : {&m_keyring, &m_bus}) {
        if (!*process)
            continue;
        (*process)->terminate();
        if (!(*process)->waitForFinished(5000))
            (*process)->kill();
        (*process)->waitForFinished(5000);
        process->reset();
    }
}
