#pragma once
// A program folder with the control library beside it, and the main window
// opened on it (offscreen, message boxes answered by the seam).

#include "frmmain.h"
#include "messagebox.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

namespace Reliability {

class ProgramFolder
{
public:
    ProgramFolder()
    {
        QDir dir(m_dir.path());
        dir.mkdir(QStringLiteral("SpamDeleted"));
        QFile::link(QStringLiteral(QUELLMAIL_BIN_DIR "/libtarnpostctl.so"), dir.filePath(QStringLiteral("libtarnpostctl.so")));
    }
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

    bool write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(file(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }
    QByteArray read(const QString &name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList archive() const
    {
        return QDir(file(QStringLiteral("SpamDeleted"))).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

private:
    QTemporaryDir m_dir;
};

// The window on the folder after its load sequence, with the schedule off.
// The folder needs at least one account, or the first-account dialog opens.
inline std::unique_ptr<frmMain> openWindow(const ProgramFolder &folder)
{
    MessageBox::setTestMode(true);
    MessageBox::clearRecords();
    auto form = std::make_unique<frmMain>(folder.path());
    form->runLoadSequence();
    form->checkautoscan()->setCheckState(Qt::Unchecked);
    return form;
}

inline void blacklistOnly(frmMain &form)
{
    form.checkwhitelist()->setCheckState(Qt::Unchecked);
    form.checkblacklist()->setCheckState(Qt::Checked);
    form.checkspamcop()->setCheckState(Qt::Unchecked);
    form.checkkeywords()->setCheckState(Qt::Unchecked);
}

} // namespace Reliability
