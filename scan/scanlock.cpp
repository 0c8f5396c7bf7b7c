#include "scan/scanlock.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <limits>

#include <signal.h>
#include <sys/types.h>

using namespace Qt::StringLiterals;

namespace Scan {

ScanLock::ScanLock(const QString &programFolder)
    : m_path(programFolder + u'/' + QLatin1StringView(FileName))
    , m_file(m_path)
{
    // A scan may take hours: only a lock nobody holds is stale, never an old one.
    m_file.setStaleLockTime(0);
}

ScanLock::Result ScanLock::tryLock()
{
    m_refusal.clear();
    const QFileInfo info(m_path);
    if (info.isSymLink()) {
        // Nothing of this program makes one: someone put it there.
        m_refusal = u"it is a symbolic link; remove it"_s;
        return Result::Failed;
    }
    if (info.exists() && !info.isFile()) {
        m_refusal = u"it is not a plain file; remove it"_s;
        return Result::Failed;
    }
    if (m_file.tryLock(0))
        return Result::Locked;
    if (m_file.error() != QLockFile::LockFailedError)
        return Result::Failed;
    // A scan that is ending lets go of its native lock a moment before it
    // removes the file: a live owner is never overruled. One that is starting
    // has made the file a moment before it locks it and writes its id: an
    // unreadable file is left alone until it is clearly not being written.
    switch (owner()) {
    case Owner::Running: return Result::Busy;
    case Owner::Unreadable:
        if (heldForSeconds() < UnreadableGraceSeconds)
            return Result::Busy;
        break;
    case Owner::Gone: break;
    }
    // A scan holds a native lock on the file for as long as it runs, and the
    // system drops it when the process ends however it ends. The file goes
    // only when nobody holds that lock, whatever host it names and whether or
    // not it can be read at all; of two scans taking it over at once, one
    // gets it and the other finds it held.
    if (!m_file.removeStaleLockFile())
        return Result::Busy;
    if (m_file.tryLock(0))
        return Result::Locked;
    return m_file.error() == QLockFile::LockFailedError ? Result::Busy : Result::Failed;
}

ScanLock::Owner ScanLock::owner() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return Owner::Unreadable;
    // The process id, then the program's name; nothing of a scan's is longer.
    const QList<QByteArray> lines = file.read(4096).split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
    if (!ok || pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return Owner::Unreadable;
    if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return Owner::Gone;
    // A process id used again by another program is not the owner.
    const QString program = QString::fromUtf8(lines.value(1)).trimmed();
    const QString running = QFileInfo(QFile::symLinkTarget(u"/proc/%1/exe"_s.arg(pid))).fileName();
    return program.isEmpty() || running.isEmpty() || running == program ? Owner::Running : Owner::Gone;
}

qint64 ScanLock::ownerPid() const
{
    qint64 pid = 0;
    return m_file.getLockInfo(&pid, nullptr, nullptr) ? pid : 0;
}

qint64 ScanLock::heldForSeconds() const
{
    // The holder writes the file once, when it takes the lock.
    const QDateTime since = QFileInfo(m_path).lastModified();
    return since.isValid() ? qMax<qint64>(0, since.secsTo(QDateTime::currentDateTime())) : 0;
}

QString ScanLock::errorString() const
{
    if (!m_refusal.isEmpty())
        return m_refusal;
    switch (m_file.error()) {
    case QLockFile::NoError: return {};
    case QLockFile::LockFailedError: return u"another scan holds it"_s;
    case QLockFile::PermissionError: return u"the folder cannot be written"_s;
    case QLockFile::UnknownError: break;
    }
    return u"the lock file cannot be written"_s;
}

} // namespace Scan
