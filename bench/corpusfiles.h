#pragma once
// Reading the labelled corpus the learned-filter benchmarks share: its sets
// are folders of one message a file, each beginning with an mbox envelope.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

namespace Corpus {

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The corpus files begin with the mbox envelope line; a mailbox never shows it.
inline QByteArray withoutEnvelope(QByteArray bytes)
{
    if (bytes.startsWith("From ")) {
        const qsizetype eol = bytes.indexOf('\n');
        bytes.remove(0, eol < 0 ? bytes.size() : eol + 1);
    }
    return bytes;
}

// The message files of one set (`spam-1`, `easy-ham-2`, …), in name order.
inline QStringList setFiles(const QString &data, const QString &set)
{
    QStringList files;
    const QDir dir(QDir(data).filePath(set));
    for (const QString &name : dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

} // namespace Corpus
