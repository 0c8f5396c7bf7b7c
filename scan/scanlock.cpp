#include "scan/scanlock.h"

#include <QDateTime>
#include <QFileInfo>

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
    // A scan holds a native lock on the file for as long as it runs, and the
    // system drops it when the process ends however it ends. The file goes
    // only when nobody holds that lock, whatever process or host it names
    // and whether or not it can be read at all; of two scans taking it over
    // at once, one gets it and the other finds it held.
    if (!m_file.removeStaleLockFile())
        return Result::Busy;
    if (m_file.tryLock(0))
        return Result::Locked;
    return m_file.error() == QLockFile::LockFailedError ? Result::Busy : Result::Failed;
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
    case QLockFile::NoError:
        return {};
    case QLockFile::LockFailedError:
        return u"another scan holds it"_s;
    case QLockFile::PermissionError:
        return u"the folder cannot be written"_s;
    case QLockFile::UnknownError:
        break;
    }
    return u"the lock file cannot be written"_s;
}

} // namespace Scan
