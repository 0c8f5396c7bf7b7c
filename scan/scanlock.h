#pragma once
// One scan of a program folder at a time, across processes: the window's
// scans and the command-line scan take the same lock file in the folder. It
// holds the owner's process id; a lock left by a process that is gone is
// taken over.

#include <QLockFile>
#include <QString>

namespace Scan {

class ScanLock final
{
public:
    enum class Result { Locked,
                        Busy,
                        Failed };

    explicit ScanLock(const QString &programFolder);
    Q_DISABLE_COPY_MOVE(ScanLock)

    // Does not wait. Busy: a live process holds it; Failed: the lock file
    // cannot be created (errorString() says why).
    Result tryLock();
    // The holder's process id after Busy (0 when it could not be read).
    qint64 ownerPid() const;
    QString errorString() const;

    static constexpr char FileName[] = "scan.lock";

private:
    QLockFile m_file;
};

} // namespace Scan
