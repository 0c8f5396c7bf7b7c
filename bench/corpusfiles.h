#pragma once
// What the learned-filter benchmarks share: reading the labelled corpus (its
// sets are folders of one message a file, each beginning with an mbox
// envelope) and writing their own sections of the results file.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSaveFile>
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

// Replaces the section that begins with `title` in the results file (up to
// the next "## " heading), or appends it; the rest of the file is kept.
inline bool writeSection(const QString &file, const QString &title, const QString &section)
{
    QString text = QString::fromUtf8(readFile(file));
    const qsizetype start = text.indexOf(title);
    if (start >= 0) {
        const qsizetype next = text.indexOf(QStringLiteral("\n## "), start + title.size());
        text.remove(start, (next < 0 ? text.size() : next + 1) - start);
    }
    while (text.endsWith(QStringLiteral("\n\n")))
        text.chop(1);
    if (!text.isEmpty())
        text += u'\n';
    text += section;
    QSaveFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(text.toUtf8()) >= 0 && out.commit();
}

} // namespace Corpus
