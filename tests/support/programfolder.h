#pragma once
// A program folder with the control library beside it, the main window
// opened on it (offscreen, message boxes answered by the seam) and the files
// a test writes. Header-only: for tests that link the program's libraries.

#include "platform/messagebox/messagebox.h"
#include "ui/frmmain.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <unistd.h>

namespace ProgramTest {

inline bool isRoot() { return ::geteuid() == 0; }

class ProgramFolder
{
public:
    ProgramFolder()
    {
        QDir dir(m_dir.path());
        dir.mkdir(QStringLiteral("SpamDeleted"));
        QFile::link(QStringLiteral(QUELLMAIL_BIN_DIR "/libtarnpostctl.so"),
                    dir.filePath(QStringLiteral("libtarnpostctl.so")));
    }
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

    [[nodiscard]] bool write(const QString &name, const QByteArray &bytes) const
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

// Creates the window on the folder and runs its load sequence; the lists and
// stats.dat must already be in the folder (at least one account, so the
// first-account dialog stays shut).
inline std::unique_ptr<frmMain> openWindow(const ProgramFolder &folder)
{
    MessageBox::setTestMode(true);
    MessageBox::clearRecords();
    auto form = std::make_unique<frmMain>(folder.path());
    form->runLoadSequence();
    // The schedule is not under test here.
    form->checkautoscan()->setCheckState(Qt::Unchecked);
    return form;
}

inline void setRules(frmMain &form, Qt::CheckState white, Qt::CheckState black, Qt::CheckState ip,
                     Qt::CheckState keywords)
{
    form.checkwhitelist()->setCheckState(white);
    form.checkblacklist()->setCheckState(black);
    form.checkspamcop()->setCheckState(ip);
    form.checkkeywords()->setCheckState(keywords);
}

// Only the blacklist rule on.
inline void blacklistOnly(frmMain &form) { setRules(form, Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Unchecked); }

inline QStringList spamBoxes()
{
    QStringList texts;
    for (const MessageBox::Record &r : MessageBox::records()) {
        if (r.text.startsWith(QStringLiteral("Spam from")))
            texts << r.text;
    }
    return texts;
}

} // namespace ProgramTest
