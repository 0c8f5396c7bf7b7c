#include "datafile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

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
    // Stateless, so a sequence cut off at the end counts as invalid too.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
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

bool DataFile::openForSave(QSaveFile &file, bool ownerOnly)
{
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (ownerOnly && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        // Never leave a password file readable by others.
        file.cancelWriting();
        return false;
    }
    return true;
}

bool DataFile::writeAll(QSaveFile &file, const QByteArray &bytes)
{
    return file.write(bytes) == bytes.size();
}
