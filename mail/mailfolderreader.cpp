#include "mail/mailfolderreader.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Lines are read in pieces of at most this size, so one endless line
// cannot take all memory.
constexpr qint64 MaxPiece = 64 * 1024;

bool isBlank(QByteArrayView line) { return line == "\n" || line == "\r\n"; }

// ">From " at a line start loses one '>', in place.
void unquoteFromLines(QByteArray *body)
{
    char *data = body->data();
    const qsizetype size = body->size();
    qsizetype to = 0;
    bool lineStart = true;
    for (qsizetype from = 0; from < size; ++from) {
        if (lineStart && data[from] == '>') {
            qsizetype i = from;
            while (i < size && data[i] == '>')
                ++i;
            if (QByteArrayView(data + i, size - i).startsWith("From "))
                ++from;
        }
        data[to++] = data[from];
        lineStart = data[from] == '\n';
    }
    body->truncate(to);
}

// An MH folder's messages: the files named by a number, in its order.
QStringList mhFiles(const QString &path)
{
    QList<std::pair<qulonglong, QString>> numbered;
    const QDir dir(path);
    for (const QString &name : dir.entryList(QDir::Files)) {
        bool isNumber = false;
        const qulonglong n = name.toULongLong(&isNumber);
        if (isNumber && name.front().isDigit())
            numbered.append({n, dir.filePath(name)});
    }
    std::sort(numbered.begin(), numbered.end());
    QStringList files;
    for (const auto &file : std::as_const(numbered))
        files.append(file.second);
    return files;
}

// Thunderbird leaves a message it deleted or moved in the mbox until the
// folder is compacted, flagged expunged (0x0008); one it fetched only in part
// is flagged 0x0400 and holds a stub. Neither is the user's mail.
constexpr uint GoneStatus = 0x0008 | 0x0400;

bool goneStatus(QByteArrayView line)
{
    static constexpr char Name[] = "x-mozilla-status:";
    constexpr qsizetype NameSize = sizeof(Name) - 1;
    if (line.size() <= NameSize || qstrnicmp(line.data(), Name, NameSize) != 0)
        return false;
    bool ok = false;
    const uint flags = line.sliced(NameSize).trimmed().toUInt(&ok, 16);
    return ok && (flags & GoneStatus) != 0;
}

// A Maildir file the mail program marked trashed: ":2,<flags>" with T.
bool trashedFile(const QString &path)
{
    const qsizetype info = path.lastIndexOf(u":2,"_s);
    return info > path.lastIndexOf(u'/') && path.indexOf(u'T', info + 3) > 0;
}

} // namespace

bool MailFolderReader::markedGone(QByteArrayView message)
{
    qsizetype i = 0;
    while (i < message.size()) {
        qsizetype end = message.indexOf('\n', i);
        if (end < 0)
            end = message.size();
        const QByteArrayView line = message.sliced(i, end - i);
        if (line.isEmpty() || line == "\r")
            return false;
        if (goneStatus(line))
            return true;
        i = end + 1;
    }
    return false;
}

bool MailFolderReader::looksLikeMessage(QByteArrayView message)
{
    // Some delivery agents keep the mbox From_ line in Maildir files.
    if (message.startsWith("From ")) {
        const qsizetype lineEnd = message.indexOf('\n');
        message = lineEnd < 0 ? QByteArrayView() : message.sliced(lineEnd + 1);
    }
    qsizetype headerEnd = message.indexOf("\n\n");
    if (headerEnd < 0)
        headerEnd = message.indexOf("\r\n\r\n");
    // NUL bytes have no place in mail: what holds them was overwritten. A
    // file that ends inside its header was cut short.
    if (message.contains('\0') || (headerEnd < 0 && !message.endsWith('\n')))
        return false;
    const QByteArrayView header = headerEnd < 0 ? message : message.first(headerEnd);
    // "Name:" with a name of printable characters other than the colon.
    qsizetype i = 0;
    while (i < header.size() && header[i] > ' ' && header[i] < 127 && header[i] != ':')
        ++i;
    return i > 0 && i < header.size() && header[i] == ':';
}

qint64 MailFolderReader::countMessages(const QString &path)
{
    switch (detect(path)) {
    case Format::Unknown: return -1;
    case Format::Maildir: {
        qint64 n = 0;
        for (const QString &sub : {u"cur"_s, u"new"_s}) {
            for (const QString &name : QDir(QDir(path).filePath(sub)).entryList(QDir::Files))
                n += trashedFile(name) ? 0 : 1;
        }
        return n;
    }
    case Format::Mh: return mhFiles(path).size();
    case Format::Mbox: break;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // From_ lines at the start or after a blank line, as next() splits them.
    QByteArray line(MaxPiece + 1, Qt::Uninitialized);
    qint64 n = 0;
    bool lineStart = true;
    bool previousBlank = true;
    bool inHeader = false;
    while (!file.atEnd()) {
        const qint64 size = file.readLine(line.data(), line.size());
        if (size < 0)
            return -1;
        const QByteArrayView piece(line.constData(), size);
        if (lineStart && previousBlank && piece.startsWith("From ")) {
            ++n;
            inHeader = true;
        } else if (lineStart && inHeader) {
            if (isBlank(piece))
                inHeader = false;
            else if (goneStatus(piece)) {
                --n;
                inHeader = false;
            }
        }
        previousBlank = lineStart && isBlank(piece);
        lineStart = piece.endsWith('\n');
    }
    return n;
}

bool MailFolderReader::damaged(const QByteArray &message, qint64 at)
{
    ++m_read;
    if (looksLikeMessage(message))
        return false;
    ++m_skipped;
    if (m_damaged++ == 0) {
        m_firstDamage = at >= 0 ? u"message %1 (at byte %2)"_s.arg(m_read).arg(at) : m_files.value(m_nextFile - 1);
    }
    return true;
}

MailFolderReader::MailFolderReader(const QString &path)
    : m_path(path)
{}

MailFolderReader::Format MailFolderReader::detect(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        const QDir dir(path);
        if (dir.exists(u"cur"_s) || dir.exists(u"new"_s))
            return Format::Maildir;
        return dir.exists(u".mh_sequences"_s) || !mhFiles(path).isEmpty() ? Format::Mh : Format::Unknown;
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
    m_damaged = 0;
    m_gone = 0;
    m_read = 0;
    m_firstDamage.clear();
    m_error.clear();
    switch (m_format) {
    case Format::Unknown: m_error = m_path + u" is neither an mbox file nor a Maildir folder."_s; return false;
    case Format::Maildir:
        m_files.clear();
        m_nextFile = 0;
        for (const QString &sub : {u"cur"_s, u"new"_s}) {
            const QDir dir(QDir(m_path).filePath(sub));
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                m_files.append(dir.filePath(name));
        }
        return true;
    case Format::Mh:
        m_files = mhFiles(m_path);
        m_nextFile = 0;
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
    case Format::Mbox: return nextFromMbox(message);
    case Format::Maildir:
    case Format::Mh: return nextFromMaildir(message);
    case Format::Unknown: break;
    }
    return false;
}

bool MailFolderReader::nextFromMbox(QByteArray *message)
{
    // A first pass over the lines finds where the message ends without
    // keeping them; the message is then read in one piece of its own size,
    // so its bytes are held once, and a message too large is never held.
    QByteArray line(MaxPiece + 1, Qt::Uninitialized);
    while (m_atMessageStart) {
        m_atMessageStart = false;
        const qint64 start = m_file.pos();
        qint64 end = -1;
        qint64 resume = -1;
        qint64 blankAt = -1; // where the blank line just read begins
        bool lineStart = true;
        bool previousBlank = false;
        while (!m_file.atEnd()) {
            const qint64 at = m_file.pos();
            const qint64 n = m_file.readLine(line.data(), line.size());
            if (n < 0) {
                m_error = u"Cannot read "_s + m_path + u": "_s + m_file.errorString();
                return false;
            }
            const QByteArrayView piece(line.constData(), n);
            if (lineStart && previousBlank && piece.startsWith("From ")) {
                // The blank line before a From_ line separates messages;
                // the rest of a long From_ line is skipped.
                end = blankAt;
                bool whole = piece.endsWith('\n');
                while (!whole && !m_file.atEnd()) {
                    const qint64 more = m_file.readLine(line.data(), line.size());
                    whole = more <= 0 || line.at(more - 1) == '\n';
                }
                resume = m_file.pos();
                m_atMessageStart = true;
                break;
            }
            previousBlank = lineStart && isBlank(piece);
            if (previousBlank)
                blankAt = at;
            lineStart = piece.endsWith('\n');
        }
        if (end < 0)
            end = m_file.pos();
        if (end - start > MaxMessageBytes) {
            ++m_read;
            ++m_skipped;
            continue;
        }
        QByteArray body(end - start, Qt::Uninitialized);
        if (!m_file.seek(start) || m_file.read(body.data(), body.size()) != body.size()
            || (resume >= 0 && !m_file.seek(resume))) {
            m_error = u"Cannot read "_s + m_path + u": "_s + m_file.errorString();
            return false;
        }
        unquoteFromLines(&body);
        if (!m_atMessageStart)
            body.chop(body.endsWith("\r\n\r\n") ? 2 : body.endsWith("\n\n") ? 1 : 0);
        if (markedGone(body)) {
            ++m_gone;
            continue;
        }
        if (damaged(body, start))
            continue;
        *message = std::move(body);
        return true;
    }
    return false;
}

bool MailFolderReader::nextFromMaildir(QByteArray *message)
{
    while (m_nextFile < m_files.size()) {
        if (trashedFile(m_files.at(m_nextFile))) {
            ++m_nextFile;
            ++m_gone;
            continue;
        }
        QFile file(m_files.at(m_nextFile++));
        if (!file.open(QIODevice::ReadOnly) || file.size() > MaxMessageBytes) {
            ++m_skipped;
            continue;
        }
        // Read in one piece of the file's size.
        message->resize(file.size());
        if (file.read(message->data(), message->size()) != message->size()) {
            message->clear();
            ++m_skipped;
            continue;
        }
        if (damaged(*message, -1)) {
            message->clear();
            continue;
        }
        return true;
    }
    return false;
}

} // namespace Scan
