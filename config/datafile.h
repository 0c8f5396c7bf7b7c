#pragma once
// Reading and writing the program's text files: UTF-8 (a line that is not
// valid UTF-8 is read as Latin-1, so no byte is lost), CR LF line ends on
// write, CR LF, lone CR or LF accepted on read, atomic replacement on write.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class QSaveFile;

class DataFile final
{
public:
    // The file's lines, or nothing when it cannot be opened.
    static std::optional<QStringList> readLines(const QString &path);
    // Each line on its own: UTF-8 where it is valid, else Latin-1. Line ends
    // are kept as they are.
    static QString decode(const QByteArray &bytes);
    static QStringList splitLines(const QString &text);
    // One line as written: UTF-8 followed by CR LF.
    static QByteArray encodeLine(const QString &line);

    // Opens a save of `path` that replaces the file only on commit. Files that
    // hold secrets are made readable by their owner only before the commit.
    // A symbolic link in the file's place is refused, never written through.
    // On failure `reason` says why.
    static bool openForSave(QSaveFile &file, bool ownerOnly, QString *reason);
    // Writes all of `bytes`; false on a short or failed write.
    static bool writeAll(QSaveFile &file, const QByteArray &bytes);
    // Commits the save when everything was written, else cancels it; either
    // way a failure leaves the previous file whole and `reason` says why.
    static bool finishSave(QSaveFile &file, bool written, QString *reason);
    // Why `path` must not be written: it is a symbolic link (however it
    // points, or if it points nowhere). Empty when it is not one.
    static QString plantedLink(const QString &path);

private:
    DataFile() = delete;
};
