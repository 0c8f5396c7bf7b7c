#include "secrets/keyring.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <qt6keychain/keychain.h>

#include <optional>
#include <type_traits>

using namespace Qt::StringLiterals;

namespace Secrets {

namespace {

// The bus names a keyring answers under: the Secret Service, and KWallet,
// which QtKeychain uses on KDE desktops.
const QStringList &keyringBusNames()
{
    static const QStringList names = {u"org.freedesktop.secrets"_s, u"org.kde.kwalletd6"_s, u"org.kde.kwalletd5"_s,
                                      u"org.kde.kwalletd"_s};
    return names;
}

// Runs `start`, then the event loop until the answer it started calls
// `answered` or the timeout passes. Returns whether the answer came.
template <typename Start> bool waitForAnswer(int timeoutMs, Start start)
{
    QEventLoop loop;
    bool answered = false;
    start(loop, [&answered, &loop] {
        answered = true;
        loop.quit();
    });
    if (answered)
        return true;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    loop.exec();
    return answered;
}

// One call to the bus itself; nothing when it did not answer in time.
std::optional<QVariant> busCall(QDBusConnection &bus, const QString &method, const QVariantList &arguments,
                                int timeoutMs, QString *error)
{
    QDBusMessage message = QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                                          u"org.freedesktop.DBus"_s, method);
    message.setArguments(arguments);
    QDBusMessage reply;
    const bool answered = waitForAnswer(timeoutMs, [&](QEventLoop &loop, auto done) {
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, timeoutMs), &loop);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &loop,
                         [watcher, &reply, done](QDBusPendingCallWatcher *) {
                             reply = watcher->reply();
                             done();
                         });
    });
    if (!answered || reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *error = answered ? reply.errorMessage() : u"the session bus did not answer"_s;
        return std::nullopt;
    }
    return reply.arguments().constFirst();
}

QString timedOutText(int timeoutMs) { return u"The keyring did not answer within %1 seconds."_s.arg(timeoutMs / 1000); }

Keyring::Result resultOf(const QKeychain::Job &job)
{
    Keyring::Result result;
    // Callers write more after it.
    QString why = job.errorString().trimmed();
    if (!why.isEmpty() && !why.endsWith(u'.'))
        why += u'.';
    switch (job.error()) {
    case QKeychain::NoError: result.status = Keyring::Status::Ok; break;
    case QKeychain::EntryNotFound:
        result.status = Keyring::Status::NotFound;
        result.errorText = u"The keyring holds no entry %1."_s.arg(job.key());
        break;
    case QKeychain::NoBackendAvailable:
        result.status = Keyring::Status::NoKeyring;
        result.errorText = u"No keyring is running: %1"_s.arg(why);
        break;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        result.status = Keyring::Status::Failed;
        result.errorText = u"The keyring refused access: %1"_s.arg(why);
        break;
    default:
        result.status = Keyring::Status::Failed;
        result.errorText = u"The keyring failed: %1"_s.arg(why);
        break;
    }
    return result;
}

// Starts the job and waits for its answer; `read` takes what a read
// returned before the job goes away.
template <typename Job> Keyring::Result runJob(Job *job, const QString &key, int timeoutMs)
{
    job->setAutoDelete(true); // it outlives a wait that timed out
    job->setInsecureFallback(false);
    job->setKey(key);
    Keyring::Result result;
    const bool answered = waitForAnswer(timeoutMs, [&](QEventLoop &loop, auto done) {
        QObject::connect(job, &QKeychain::Job::finished, &loop, [&result, done](QKeychain::Job *finished) {
            result = resultOf(*finished);
            if constexpr (std::is_same_v<Job, QKeychain::ReadPasswordJob>) {
                if (result.ok())
                    result.secret = static_cast<QKeychain::ReadPasswordJob *>(finished)->textData();
            }
            done();
        });
        job->start();
    });
    if (!answered) {
        result.status = Keyring::Status::TimedOut;
        result.errorText = timedOutText(timeoutMs);
    }
    return result;
}

} // namespace

QString Keyring::serviceName() { return u"Quellmail"_s; }

Keyring::Keyring(int timeoutMs)
    : m_timeoutMs(timeoutMs)
{}

QString Keyring::key(const Account &account, Kind kind)
{
    const QString what = kind == Kind::Password       ? u"password"_s
                         : kind == Kind::RefreshToken ? u"refresh-token"_s
                                                      : u"access-token"_s;
    // Percent-encoded, ':' and '@' included, so neither part can imitate the separators.
    return what + u':' + QString::fromLatin1(QUrl::toPercentEncoding(account.login)) + u'@'
           + QString::fromLatin1(QUrl::toPercentEncoding(account.server));
}

Keyring::Result Keyring::probe() const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        const QString why = bus.lastError().message();
        return {Status::NoKeyring,
                {},
                u"No keyring is running: there is no D-Bus session bus to reach one%1."_s.arg(
                    why.isEmpty() ? QString() : u" ("_s + why + u')')};
    }
    QString error;
    for (const QString &name : keyringBusNames()) {
        const std::optional<QVariant> owned = busCall(bus, u"NameHasOwner"_s, {name}, m_timeoutMs, &error);
        if (!owned)
            return {
                Status::NoKeyring, {}, u"No keyring is running: the session bus does not answer (%1)."_s.arg(error)};
        if (owned->toBool())
            return {Status::Ok, {}, {}};
    }
    // One that is not running yet starts when it is first asked.
    const std::optional<QVariant> startable = busCall(bus, u"ListActivatableNames"_s, {}, m_timeoutMs, &error);
    if (!startable)
        return {Status::NoKeyring, {}, u"No keyring is running: the session bus does not answer (%1)."_s.arg(error)};
    const QStringList names = startable->toStringList();
    for (const QString &name : keyringBusNames()) {
        if (names.contains(name))
            return {Status::Ok, {}, {}};
    }
    return {Status::NoKeyring,
            {},
            u"No keyring is running: nothing answers as the Secret Service (such as GNOME Keyring) or KWallet on"
            " the session bus."_s};
}

Keyring::Result Keyring::read(const Account &account, Kind kind) const
{
    if (Result running = probe(); !running.ok())
        return running;
    return runJob(new QKeychain::ReadPasswordJob(serviceName()), key(account, kind), m_timeoutMs);
}

Keyring::Result Keyring::write(const Account &account, Kind kind, const QString &secret) const
{
    if (Result running = probe(); !running.ok())
        return running;
    auto *job = new QKeychain::WritePasswordJob(serviceName());
    job->setTextData(secret);
    return runJob(job, key(account, kind), m_timeoutMs);
}

Keyring::Result Keyring::remove(const Account &account, Kind kind) const
{
    if (Result running = probe(); !running.ok())
        return running;
    Result result = runJob(new QKeychain::DeletePasswordJob(serviceName()), key(account, kind), m_timeoutMs);
    if (result.status == Status::NotFound)
        result = {Status::Ok, {}, {}};
    return result;
}

} // namespace Secrets
