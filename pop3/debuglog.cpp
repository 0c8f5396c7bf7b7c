#include "pop3/debuglog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Tarnpostctl {

namespace {
void moduleAnchor() {}
} // namespace

QString DebugLog::timestamp() { return QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss"_s); }

QString DebugLog::moduleName()
{
    static const QString name = [] {
        Dl_info info{};
        QString base;
        if (dladdr(reinterpret_cast<void *>(&moduleAnchor), &info) != 0 && info.dli_fname)
            base = QFileInfo(QFile::decodeName(info.dli_fname)).fileName();
        // libtarnpostctl.so.4.1.1 -> tarnpostctl
        if (base.startsWith("lib"_L1))
            base.remove(0, 3);
        const qsizetype dot = base.indexOf(u'.');
        if (dot >= 0)
            base.truncate(dot);
        return base.isEmpty() ? u"tarnpostctl"_s : base;
    }();
    return name;
}

void DebugLog::write(const QString &fileName, const QString &version, const QString &stateLine, const QString &text)
{
    QByteArray out;
    if (!blnDebugHeaderWritten) {
        blnDebugHeaderWritten = true;
        out += ("Tarnpost version:"_L1 + version + " ("_L1 + moduleName() + ") at:"_L1 + timestamp()).toLatin1();
        out += "\r\n";
    }
    out += stateLine.toLatin1();
    out += "   \r\n";
    out += text.toLatin1();
    out += "\r\n+\r\n";

    if (fileName.isEmpty())
        return;
    // The trace shows what a session exchanged: owner-only, also when the file
    // was there before, and never written through a link planted in its place
    // (nor into a pipe or device, which could block the session).
    const QByteArray path = QFile::encodeName(fileName);
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return;
    struct stat st
    {};
    const bool usable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1
                        && ((st.st_mode & 07777) == (S_IRUSR | S_IWUSR) || ::fchmod(fd, S_IRUSR | S_IWUSR) == 0);
    const char *data = out.constData();
    qsizetype left = usable ? out.size() : 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        data += n;
        left -= n;
    }
    ::close(fd);
}

} // namespace Tarnpostctl
