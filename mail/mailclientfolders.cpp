#include "mail/mailclientfolders.h"

#include "mail/mailfolderreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

using Folder = MailClientFolders::Folder;

// Nested folders are rare past a few levels; a link loop must end.
constexpr int MaxDepth = 8;

QString joined(const QString &parent, const QString &name) { return parent.isEmpty() ? name : parent + u'/' + name; }

// Only folders whose name tells their kind are worth counting: counting
// reads an mbox whole, and a Trash or "All Mail" may hold gigabytes.
void add(QList<Folder> *found, const QString &client, const QString &name, const QString &path)
{
    const MailClientFolders::Kind kind = MailClientFolders::kindOf(name);
    if (kind == MailClientFolders::Kind::Other)
        return;
    const qint64 messages = MailFolderReader::countMessages(path);
    if (messages > 0)
        found->append({client, name, path, kind, messages});
}

// An mbox folder is a file with its summary (.msf) beside it; its
// subfolders are in "Name.sbd".
void thunderbirdFolders(QList<Folder> *found, const QDir &dir, const QString &parent, int depth)
{
    if (depth > MaxDepth)
        return;
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files, QDir::Name)) {
        if (info.suffix() != u"msf"_s)
            continue;
        const QString mbox = dir.filePath(info.completeBaseName());
        if (QFileInfo(mbox).isFile())
            add(found, u"Thunderbird"_s, joined(parent, info.completeBaseName()), mbox);
    }
    for (const QFileInfo &info : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (info.suffix() == u"sbd"_s)
            thunderbirdFolders(found, QDir(info.filePath()), joined(parent, info.completeBaseName()), depth + 1);
    }
}

// The profiles that profiles.ini names, relative ones to its folder.
QStringList thunderbirdProfiles(const QString &root)
{
    QFile ini(QDir(root).filePath(u"profiles.ini"_s));
    if (!ini.open(QIODevice::ReadOnly))
        return {};
    QStringList profiles;
    QString path;
    bool relative = true;
    const auto flush = [&] {
        if (!path.isEmpty())
            profiles.append(relative ? QDir(root).filePath(path) : path);
        path.clear();
        relative = true;
    };
    while (!ini.atEnd()) {
        const QString line = QString::fromUtf8(ini.readLine(4096)).trimmed();
        if (line.startsWith(u'[')) {
            flush();
        } else if (line.startsWith(u"Path="_s)) {
            path = line.mid(5);
        } else if (line.startsWith(u"IsRelative="_s)) {
            relative = line.mid(11) != u"0"_s;
        }
    }
    flush();
    profiles.removeDuplicates();
    return profiles;
}

void thunderbird(QList<Folder> *found, const QString &home)
{
    // The usual place, and those of the sandboxed packages.
    const QStringList roots{u".thunderbird"_s, u"snap/thunderbird/common/.thunderbird"_s,
                            u".var/app/org.mozilla.Thunderbird/.thunderbird"_s};
    for (const QString &root : roots) {
        for (const QString &profile : thunderbirdProfiles(QDir(home).filePath(root))) {
            for (const QString &kind : {u"Mail"_s, u"ImapMail"_s}) {
                const QDir accounts(QDir(profile).filePath(kind));
                for (const QFileInfo &account : accounts.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                    thunderbirdFolders(found, QDir(account.filePath()), account.fileName(), 0);
            }
        }
    }
}

bool isMaildir(const QDir &dir) { return dir.exists(u"cur"_s) && dir.exists(u"new"_s); }

// A Maildir tree: a folder that is a Maildir counts; its subfolders are
// either ".Name" Maildirs beside cur/ (Maildir++, dots nesting them), or
// plain folders, or ".Name.directory" folders that hold those of Name.
void maildirs(QList<Folder> *found, const QString &client, const QDir &dir, const QString &parent, int depth)
{
    if (depth > MaxDepth)
        return;
    if (isMaildir(dir))
        add(found, client, parent.isEmpty() ? u"Inbox"_s : parent, dir.path());
    const QDir::Filters filters = QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks;
    for (const QFileInfo &info : dir.entryInfoList(filters, QDir::Name)) {
        const QString name = info.fileName();
        if (name == u"cur"_s || name == u"new"_s || name == u"tmp"_s)
            continue;
        if (name.startsWith(u'.') && name.endsWith(u".directory"_s)) {
            const QString owner = name.mid(1, name.size() - 11);
            maildirs(found, client, QDir(info.filePath()), joined(parent, owner), depth + 1);
        } else if (name.startsWith(u'.')) {
            if (isMaildir(QDir(info.filePath())))
                add(found, client, joined(parent, name.mid(1).replace(u'.', u'/')), info.filePath());
        } else {
            maildirs(found, client, QDir(info.filePath()), joined(parent, name), depth + 1);
        }
    }
}

// Claws Mail's MH mailboxes, as its folder list names them (relative to
// the home folder unless absolute); every folder and subfolder of one.
void mhFolders(QList<Folder> *found, const QDir &dir, const QString &parent, int depth)
{
    if (depth > MaxDepth)
        return;
    for (const QFileInfo &info : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name)) {
        const QString name = joined(parent, info.fileName());
        if (MailFolderReader::detect(info.filePath()) == MailFolderReader::Format::Mh)
            add(found, u"Claws Mail"_s, name, info.filePath());
        mhFolders(found, QDir(info.filePath()), name, depth + 1);
    }
}

void clawsMail(QList<Folder> *found, const QString &home)
{
    QFile list(QDir(home).filePath(u".claws-mail/folderlist.xml"_s));
    if (!list.open(QIODevice::ReadOnly))
        return;
    // The attributes in any order.
    static const QRegularExpression folder(u"<folder\\b[^>]*>"_s);
    static const QRegularExpression mhPath(uR"re(\bpath="([^"]+)")re"_s);
    const QString text = QString::fromUtf8(list.read(1024 * 1024));
    for (auto it = folder.globalMatch(text); it.hasNext();) {
        const QString element = it.next().captured();
        const QRegularExpressionMatch path = mhPath.match(element);
        if (!element.contains(u"type=\"mh\""_s) || !path.hasMatch())
            continue;
        mhFolders(found, QDir(QDir(home).filePath(path.captured(1))), QString(), 0);
    }
}

} // namespace

MailClientFolders::Kind MailClientFolders::kindOf(const QString &name)
{
    const QString last = name.section(u'/', -1).toLower();
    const QString parent = name.section(u'/', -2, -2).toLower();
    static const QStringList spam{u"junk"_s, u"spam"_s, u"junk e-mail"_s, u"junk email"_s, u"bulk mail"_s};
    static const QStringList legitimate{u"inbox"_s,     u"sent"_s,          u"sent items"_s, u"sent mail"_s,
                                        u"sent-mail"_s, u"sent messages"_s, u"archive"_s,    u"archives"_s};
    if (spam.contains(last))
        return Kind::Spam;
    // The folders of an archive (Archives/2024) are archive folders too.
    if (legitimate.contains(last) || parent.startsWith(u"archive"_s))
        return Kind::Legitimate;
    return Kind::Other;
}

QList<MailClientFolders::Folder> MailClientFolders::discover(const QString &home)
{
    QList<Folder> found;
    thunderbird(&found, home);
    const QDir root(home);
    maildirs(&found, u"Evolution"_s, QDir(root.filePath(u".local/share/evolution/mail/local"_s)), QString(), 0);
    maildirs(&found, u"KMail"_s, QDir(root.filePath(u".local/share/local-mail"_s)), QString(), 0);
    clawsMail(&found, home);
    return found;
}

} // namespace Scan
