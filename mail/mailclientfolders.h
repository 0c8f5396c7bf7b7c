#pragma once
// The local mail folders of the desktop mail clients under a home folder,
// for training from the mail a user already has: Thunderbird profiles'
// mbox folders (Mail/ and ImapMail/), Evolution's local Maildirs, KMail's,
// and Claws Mail's MH folders. Junk and spam folders are proposed as spam; the inbox, sent and
// archive folders as legitimate; drafts, trash and the rest as neither.

#include <QList>
#include <QString>

namespace Scan {

class MailClientFolders final
{
public:
    enum class Kind { Other, Spam, Legitimate };

    struct Folder
    {
        QString client; // "Thunderbird", "Evolution", "KMail", "Claws Mail"
        QString name;   // as the client shows it: "Local Folders/Junk"
        QString path;
        Kind kind = Kind::Other;
        qint64 messages = 0;
    };

    // The spam and legitimate folders; those that hold no message and those
    // of neither kind (drafts, trash, the rest) are left out.
    static QList<Folder> discover(const QString &home);
    // What a folder of this name is (the last part of the name counts).
    static Kind kindOf(const QString &name);

private:
    MailClientFolders() = delete;
};

} // namespace Scan
