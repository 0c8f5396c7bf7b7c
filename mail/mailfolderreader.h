#pragma once
// The messages of a mail folder the user already has, one at a time: an
// mbox file (messages begin at a "From " line after a blank line; quoted
// ">From " lines are unquoted), a Maildir folder (files of cur/ and new/)
// or an MH folder (files named by numbers, in their order).
// Messages larger than MaxMessageBytes are skipped and counted; so are
// damaged ones (no header field first, NUL bytes, a file cut off inside
// the header), which would otherwise teach whatever garbage an overwritten
// file holds. Messages the mail program deleted but has not yet removed
// (Thunderbird's expunged or partly fetched ones, Maildir files marked
// trashed) are not the user's mail: passed over and counted apart.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

namespace Scan {

class MailFolderReader final
{
    Q_DISABLE_COPY_MOVE(MailFolderReader)

public:
    enum class Format { Unknown, Mbox, Maildir, Mh };
    static constexpr qint64 MaxMessageBytes = 32 * 1024 * 1024;

    explicit MailFolderReader(const QString &path);

    static Format detect(const QString &path);

    bool open();
    Format format() const { return m_format; }
    // The next message; false at the end (or when a read failed: errorText()).
    bool next(QByteArray *message);
    int skipped() const { return m_skipped; }
    // Damaged messages passed over (also counted in skipped()), and where
    // the first of them was: "message 3 (at byte 120)" in an mbox, the
    // file in a Maildir.
    int damaged() const { return m_damaged; }
    // Messages the mail program deleted, passed over (not in skipped()).
    int gone() const { return m_gone; }
    QString firstDamage() const { return m_firstDamage; }
    // Whether a message looks like one: a header field first, no NUL, a
    // header that ends or a last line that does.
    static bool looksLikeMessage(QByteArrayView message);
    // Whether its header carries Thunderbird's mark of a deleted or partly
    // fetched message.
    static bool markedGone(QByteArrayView message);
    // How many messages the folder holds (those deleted left out), without
    // reading them whole; -1 when it cannot be read.
    static qint64 countMessages(const QString &path);
    QString errorText() const { return m_error; }

private:
    bool nextFromMbox(QByteArray *message);
    bool nextFromMaildir(QByteArray *message);
    // Passes a damaged message over, noting where it was.
    bool damaged(const QByteArray &message, qint64 at);

    QString m_path;
    Format m_format = Format::Unknown;
    QFile m_file;
    QStringList m_files;
    qsizetype m_nextFile = 0;
    bool m_atMessageStart = false; // the last line read was a From_ line
    int m_skipped = 0;
    int m_damaged = 0;
    int m_gone = 0;
    int m_read = 0; // messages met, damaged or not
    QString m_firstDamage;
    QString m_error;
};

} // namespace Scan
