#pragma once
// One scan of a program folder at a time, across processes: the window's
// scans and the command-line scan take the same lock file in the folder. It
// holds the owner's process id and program name, and the owner keeps a
// native lock on it for as long as it runs. A lock file whose owner is not
// running on this machine (whatever host name it records) and which nobody
// holds that way, or which is empty or damaged, is taken over; one that is a
// symbolic link or not a plain file is refused. A folder shared by several
// machines at once is not supported.

#include <QLockFile>
#include <QString>

namespace Scan {

class ScanLock final
{
public:
    enum class Result { Locked, Busy, Failed };

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
    enum class Owner {
        Running,    // a process of the program that wrote the file runs here
        Gone,       // no such process runs here
        Unreadable, // no process id in it
    };
    Owner owner() const;
    // A lock file is written a moment after it is made.
    static constexpr qint64 UnreadableGraceSeconds = 10;

    QString m_path;
    QLockFile m_file;
    QString m_refusal;
};

} // namespace Scan
