#include "debuglog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

using namespace Qt::StringLiterals;

namespace Tarnpostctl {

namespace {
void moduleAnchor() {}
} // namespace

QString DebugLog::timestamp()
{
    return QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

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
    QFile file(fileName);
    // The trace holds the password in clear: owner-only from the start.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return;
    file.write(out);
    file.close();
}

} // namespace Tarnpostctl
