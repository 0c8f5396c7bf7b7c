#pragma once
// Writes one spam message into the archive folder. The control downloads it
// into a temporary file there; the file is then published under the first
// free name ("Subject.html", "Subject (2).html", ...) behind a fixed inert
// prefix, readable by its owner only. Nothing is ever replaced, no symbolic
// link is followed, and no half-written file ever carries a final name.

#include <QByteArray>
#include <QString>

#include <functional>

namespace Scan {

class ArchiveWriter final
{
public:
    // Fills the file at path with the message; on failure returns false and
    // sets *error.
    using Download = std::function<bool(const QString &path, QString *error)>;

    explicit ArchiveWriter(const QString &programFolder);

    // Makes a browser show the rest of the file as plain text and fetch nothing.
    static QByteArray inertPrefix();

    // False, with errorString(), when anything failed; nothing is then left behind.
    bool write(const QString &subject, const Download &download);
    // Puts the names of the files written so far on the disk, so that a power
    // cut cannot take a copy whose message the server then deletes.
    static bool syncFolder(const QString &programFolder, QString *error);
    QString fileName() const { return m_fileName; }
    QString errorString() const { return m_error; }

private:
    bool fail(const QString &error);

    QString m_programFolder;
    QString m_fileName;
    QString m_error;
};

} // namespace Scan
