#include "scan/mailfolderreader.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Lines are read in pieces of at most this size, so one endless line
// cannot take all memory.
constexpr qint64 MaxPiece = 64 * 1024;

bool isBlank(const QByteArray &line)
{
    return line == "\n" || line == "\r\n";
}

bool isQuotedFrom(const QByteArray &line)
{
    qsizetype i = 0;
    while (i < line.size() && line.at(i) == '>')
        ++i;
    return i > 0 && line.mid(i).startsWith("From ");
}

} // namespace

MailFolderReader::MailFolderReader(const QString &path)
    : m_path(path)
{
}

MailFolderReader::Format MailFolderReader::detect(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        const QDir dir(path);
        return dir.exists(u"cur"_s) || dir.exists(u"new"_s) ? Format::Maildir : Format::Unknown;
    }
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return Format::Unknown;
    const QByteArray start = file.read(5);
    return start.isEmpty() || start == "From " ? Format::Mbox : Format::Unknown;
}

bool MailFolderReader::open()
{
    m_format = detect(m_path);
    m_skipped = 0;
    m_error.clear();
    switch (m_format) {
    case Format::Unknown:
        m_error = m_path + u" is neither an mbox file nor a Maildir folder."_s;
        return false;
    case Format::Maildir:
        m_files.clear();
        m_nextFile = 0;
        for (const QString &sub : {u"cur"_s, u"new"_s}) {
            const QDir dir(QDir(m_path).filePath(sub));
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                m_files.append(dir.filePath(name));
        }
        return true;
    case Format::Mbox:
        m_file.close();
        m_file.setFileName(m_path);
        if (!m_file.open(QIODevice::ReadOnly)) {
            m_error = u"Cannot read "_s + m_path + u": "_s + m_file.errorString();
            return false;
        }
        // The first line is the first message's From_ line (or the file is empty).
        m_atMessageStart = false;
        while (!m_file.atEnd()) {
            const QByteArray piece = m_file.readLine(MaxPiece);
            if (piece.endsWith('\n') || m_file.atEnd()) {
                m_atMessageStart = true;
                break;
            }
        }
        return true;
    }
    return false;
}

bool MailFolderReader::next(QByteArray *message)
{
    message->clear();
    switch (m_format) {
    case Format::Mbox:
        return nextFromMbox(message);
    case Format::Maildir:
        return nextFromMaildir(message);
    case Format::Unknown:
        break;
    }
    return false;
}

bool MailFolderReader::nextFromMbox(QByteArray *message)
{
    while (m_atMessageStart) {
        m_atMessageStart = false;
        QByteArray body;
        bool oversize = false;
        bool lineStart = true;
        bool previousBlank = false;
        while (!m_file.atEnd()) {
            QByteArray piece = m_file.readLine(MaxPiece);
            if (piece.isEmpty() && m_file.error() != QFileDevice::NoError) {
                m_error = u"Cannot read "_s + m_path + u": "_s + m_file.errorString();
                return false;
            }
            if (lineStart && previousBlank && piece.startsWith("From ")) {
                // The blank line before a From_ line separates messages.
                body.chop(body.endsWith("\r\n") ? 2 : 1);
                // Skip the rest of a long From_ line.
                while (!piece.endsWith('\n') && !m_file.atEnd())
                    piece = m_file.readLine(MaxPiece);
                m_atMessageStart = true;
                break;
            }
            if (lineStart && isQuotedFrom(piece))
                piece.remove(0, 1);
            previousBlank = lineStart && isBlank(piece);
            lineStart = piece.endsWith('\n');
            if (oversize || body.size() + piece.size() > MaxMessageBytes) {
                oversize = true;
                body.clear();
                continue;
            }
            body += piece;
        }
        if (oversize) {
            ++m_skipped;
            continue;
        }
        if (!m_atMessageStart)
            body.chop(body.endsWith("\r\n\r\n") ? 2 : body.endsWith("\n\n") ? 1
                                                                            : 0);
        *message = std::move(body);
        return true;
    }
    return false;
}

bool MailFolderReader::nextFromMaildir(QByteArray *message)
{
    while (m_nextFile < m_files.size()) {
        QFile file(m_files.at(m_nextFile++));
        if (!file.open(QIODevice::ReadOnly) || file.size() > MaxMessageBytes) {
            ++m_skipped;
            continue;
        }
        *message = file.read(MaxMessageBytes + 1);
        if (message->size() > MaxMessageBytes || file.error() != QFileDevice::NoError) {
            message->clear();
            ++m_skipped;
            continue;
        }
        return true;
    }
    return false;
}

} // namespace Scan
