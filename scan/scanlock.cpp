#include "scan/scanlock.h"

using namespace Qt::StringLiterals;

namespace Scan {

ScanLock::ScanLock(const QString &programFolder)
    : m_file(programFolder + u'/' + QLatin1StringView(FileName))
{
    // A scan may take hours: only a dead owner makes the lock stale, never its age.
    m_file.setStaleLockTime(0);
}

ScanLock::Result ScanLock::tryLock()
{
    if (m_file.tryLock(0))
        return Result::Locked;
    return m_file.error() == QLockFile::LockFailedError ? Result::Busy : Result::Failed;
}

qint64 ScanLock::ownerPid() const
{
    qint64 pid = 0;
    return m_file.getLockInfo(&pid, nullptr, nullptr) ? pid : 0;
}

QString ScanLock::errorString() const
{
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
