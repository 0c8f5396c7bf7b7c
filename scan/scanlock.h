#pragma once
// One scan of a program folder at a time, across processes: the window's
// scans and the command-line scan take the same lock file in the folder. It
// holds the owner's process id, and the owner keeps a native lock on it for
// as long as it runs. A lock file nobody holds that way (its owner is gone,
// or it is empty, damaged or was never made by a scan) is taken over; one
// that is a symbolic link or not a plain file is refused.

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
    // cannot be created or is not one this program may replace
    // (errorString() says why).
    Result tryLock();
    // The holder's process id after Busy (0 when it could not be read).
    qint64 ownerPid() const;
    // How long the holder has held the lock, after Busy.
    qint64 heldForSeconds() const;
    QString errorString() const;
    QString path() const { return m_path; }

    static constexpr char FileName[] = "scan.lock";

private:
    QString m_path;
    QLockFile m_file;
    QString m_refusal;
};

} // namespace Scan
