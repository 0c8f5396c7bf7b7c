#include "config/datafile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace {

// Stateless, so a sequence cut off at the end counts as invalid too. A byte
// order mark is dropped only at the start of the file.
std::optional<QString> decodeUtf8(QByteArrayView bytes, bool startOfFile)
{
    QStringDecoder::Flags flags = QStringDecoder::Flag::Stateless;
    if (!startOfFile)
        flags |= QStringDecoder::Flag::ConvertInitialBom;
    QStringDecoder utf8(QStringDecoder::Utf8, flags);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

void setReason(QString *reason, const QFileDevice &file)
{
    if (!reason)
        return;
    // A short write without an error from the system still lost data.
    *reason = file.error() == QFileDevice::NoError ? u"The file could not be written completely"_s : file.errorString();
}

} // namespace

std::optional<QStringList> DataFile::readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    file.close();
    return splitLines(decode(bytes));
}

QString DataFile::decode(const QByteArray &bytes)
{
    if (std::optional<QString> whole = decodeUtf8(bytes, true))
        return *whole;
    // Line by line: one bad byte must not turn every other line to Latin-1.
    QString text;
    text.reserve(bytes.size());
    const qsizetype size = bytes.size();
    qsizetype at = 0;
    while (at < size) {
        qsizetype end = at;
        while (end < size && !isLineEnd(bytes.at(end)))
            ++end;
        const QByteArrayView line = QByteArrayView(bytes).sliced(at, end - at);
        const std::optional<QString> utf8 = decodeUtf8(line, at == 0);
        text += utf8 ? *utf8 : QString::fromLatin1(line);
        for (; end < size && isLineEnd(bytes.at(end)); ++end)
            text += QLatin1Char(bytes.at(end));
        at = end;
    }
    return text;
}

QStringList DataFile::splitLines(const QString &text)
{
    QStringList lines;
    const qsizetype length = text.size();
    qsizetype start = 0;
    qsizetype at = 0;
    while (at < length) {
        const QChar c = text.at(at);
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, at - start));
            if (c == u'\r' && at + 1 < length && text.at(at + 1) == u'\n')
                ++at;
            start = at + 1;
        }
        ++at;
    }
    // A last line without a line end is still a line.
    if (start < length)
        lines.append(text.mid(start));
    return lines;
}

QByteArray DataFile::encodeLine(const QString &line)
{
    QByteArray bytes = line.toUtf8();
    bytes.append("\r\n", 2);
    return bytes;
}

QString DataFile::plantedLink(const QString &path)
{
    if (!QFileInfo(path).isSymLink())
        return {};
    return u"%1 is a symbolic link and was not written through it; remove the link to save the file"_s.arg(
        QDir::toNativeSeparators(path));
}

bool DataFile::openForSave(QSaveFile &file, bool ownerOnly, QString *reason)
{
    // QSaveFile writes to the target of a link in the file's place, which may
    // be anywhere: a link there was put by someone else and is refused.
    if (const QString link = plantedLink(file.fileName()); !link.isEmpty()) {
        if (reason)
            *reason = link;
        return false;
    }
    if (!file.open(QIODevice::WriteOnly)) {
        setReason(reason, file);
        return false;
    }
    if (const QString link = plantedLink(file.fileName()); !link.isEmpty()) {
        if (reason)
            *reason = link;
        file.cancelWriting();
        return false;
    }
    if (ownerOnly && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        // Never leave a password file readable by others.
        setReason(reason, file);
        file.cancelWriting();
        return false;
    }
    return true;
}

bool DataFile::writeAll(QSaveFile &file, const QByteArray &bytes) { return file.write(bytes) == bytes.size(); }

bool DataFile::finishSave(QSaveFile &file, bool written, QString *reason)
{
    if (!written) {
        setReason(reason, file);
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setReason(reason, file);
        return false;
    }
    return true;
}
