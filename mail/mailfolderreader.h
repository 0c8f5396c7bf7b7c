#pragma once
// The messages of a mail folder the user already has, one at a time: an
// mbox file (messages begin at a "From " line after a blank line; quoted
// ">From " lines are unquoted) or a Maildir folder (files of cur/ and new/).
// Messages larger than MaxMessageBytes are skipped and counted.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

namespace Scan {

class MailFolderReader final
{
    Q_DISABLE_COPY_MOVE(MailFolderReader)

public:
    enum class Format { Unknown, Mbox, Maildir };
    static constexpr qint64 MaxMessageBytes = 32 * 1024 * 1024;

    explicit MailFolderReader(const QString &path);

    static Format detect(const QString &path);

    bool open();
    Format format() const { return m_format; }
    // The next message; false at the end (or when a read failed: errorText()).
    bool next(QByteArray *message);
    int skipped() const { return m_skipped; }
    QString errorText() const { return m_error; }

private:
    bool nextFromMbox(QByteArray *message);
    bool nextFromMaildir(QByteArray *message);

    QString m_path;
    Format m_format = Format::Unknown;
    QFile m_file;
    QStringList m_files;
    qsizetype m_nextFile = 0;
    bool m_atMessageStart = false; // the last line read was a From_ line
    int m_skipped = 0;
    QString m_error;
};

} // namespace Scan
