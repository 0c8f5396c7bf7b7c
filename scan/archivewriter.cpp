#include "scan/archivewriter.h"

#include "scan/spamarchive.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

constexpr int MaxCopies = 99999;

// Closes the descriptor it holds when it goes.
class Descriptor final
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now; false when the close reports a failed write.
    bool reset()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

// Removes a file of the archive folder when it goes, unless released.
class TemporaryName final
{
public:
    TemporaryName(int dir, const QByteArray &name)
        : m_dir(dir)
        , m_name(name)
    {}
    ~TemporaryName()
    {
        if (!m_name.isEmpty())
            ::unlinkat(m_dir, m_name.constData(), 0);
    }
    TemporaryName(const TemporaryName &) = delete;
    TemporaryName &operator=(const TemporaryName &) = delete;
    const char *get() const { return m_name.constData(); }
    void release() { m_name.clear(); }

private:
    int m_dir;
    QByteArray m_name;
};

QByteArray temporaryName(const char *kind)
{
    return ".quellmail-"_ba + kind + '-' + QByteArray::number(QRandomGenerator::system()->generate64(), 16) + ".tmp";
}

QString systemError(int error) { return qt_error_string(error); }

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Publishes `from` under `to` unless that name is taken (by anything, a
// dangling link included). Returns 0 or an errno value.
int publish(int dir, const char *from, const char *to)
{
    if (::renameat2(dir, from, dir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A file system without the no-replace rename still has hard links.
    if (::linkat(dir, from, dir, to, 0) != 0)
        return errno;
    ::unlinkat(dir, from, 0);
    return 0;
}

} // namespace

ArchiveWriter::ArchiveWriter(const QString &programFolder)
    : m_programFolder(programFolder)
{}

QByteArray ArchiveWriter::inertPrefix()
{
    return "<!DOCTYPE html><meta charset=\"utf-8\"><meta http-equiv=\"Content-Security-Policy\" "
           "content=\"default-src 'none'\"><plaintext>"_ba;
}

bool ArchiveWriter::fail(const QString &error)
{
    m_error = error;
    return false;
}

bool ArchiveWriter::write(const QString &subject, const Download &download)
{
    m_fileName.clear();
    m_error.clear();
    const QString folder = SpamArchive::folder(m_programFolder);
    // A link planted in place of the folder is not followed (a trailing "/"
    // would follow it).
    const QByteArray folderPath = QFile::encodeName(folder.chopped(1));
    const Descriptor dir(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid()) {
        const int error = errno;
        struct stat status
        {};
        if (::lstat(folderPath.constData(), &status) == 0 && S_ISLNK(status.st_mode))
            return fail(u"SpamDeleted is a symbolic link"_s);
        return fail(u"SpamDeleted: "_s + systemError(error));
    }

    // The control creates the download itself: only its owner may read it.
    const QByteArray downloadName = temporaryName("download");
    const TemporaryName downloadFile(dir.get(), downloadName);
    QString error;
    const mode_t savedMask = ::umask(077);
    const bool downloaded = download(folder + QFile::decodeName(downloadName), &error);
    ::umask(savedMask);
    if (!downloaded)
        return fail(error);

    const Descriptor source(::openat(dir.get(), downloadName.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status
    {};
    if (!source.valid() || ::fstat(source.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return fail(u"the download cannot be read back"_s);

    const QByteArray assembledName = temporaryName("archive");
    Descriptor target(::openat(dir.get(), assembledName.constData(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!target.valid())
        return fail(u"SpamDeleted: "_s + systemError(errno));
    TemporaryName assembledFile(dir.get(), assembledName);
    ::fchmod(target.get(), S_IRUSR | S_IWUSR);

    const QByteArray prefix = inertPrefix();
    bool written = writeAll(target.get(), prefix.constData(), prefix.size());
    char buffer[64 * 1024];
    while (written) {
        const ssize_t n = ::read(source.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(u"the download cannot be read back: "_s + systemError(errno));
        if (n == 0)
            break;
        written = writeAll(target.get(), buffer, n);
    }
    // The name is given only to a file that is whole on disk.
    if (!written || ::fsync(target.get()) != 0 || !target.reset())
        return fail(u"SpamDeleted: "_s + systemError(errno));

    for (int copy = 1; copy <= MaxCopies; ++copy) {
        const QString name = SpamArchive::fileName(subject, copy);
        const int result = publish(dir.get(), assembledName.constData(), QFile::encodeName(name).constData());
        if (result == 0) {
            assembledFile.release();
            m_fileName = name;
            return true;
        }
        if (result != EEXIST)
            return fail(u"SpamDeleted: "_s + systemError(result));
    }
    return fail(u"no free file name in SpamDeleted"_s);
}

bool ArchiveWriter::syncFolder(const QString &programFolder, QString *error)
{
    const QByteArray folderPath = QFile::encodeName(SpamArchive::folder(programFolder).chopped(1));
    const Descriptor dir(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.valid() && ::fsync(dir.get()) == 0)
        return true;
    *error = u"SpamDeleted: "_s + systemError(errno);
    return false;
}

} // namespace Scan
