#pragma once
// Where spam is archived, and the two running totals of the statistics frame.

#include <QString>

class ConfigForm;
enum class FormBox;

namespace Scan {

class SpamArchive final
{
public:
    // The archive folder: programFolder + "/SpamDeleted/".
    static QString folder(const QString &programFolder);

    // The archive file for a message subject. Path separators, NUL and other
    // control and format characters become "_", and the name is shortened to
    // what the file system accepts (keeping ".html"), so it never lands
    // outside the archive folder. An empty subject gives ".html". Copies
    // after the first are "Subject (2).html", "Subject (3).html", ...
    static QString filePath(const QString &programFolder, const QString &subject);
    static QString fileName(const QString &subject, int copy = 1);

    // Asks the desktop to show the archive folder; the outcome is not examined.
    static void openFolder(const QString &programFolder);
};

// Raises a total held as decimal text in a box of the form. A text that is
// not a number is left as it is (returns false).
bool raiseTotal(ConfigForm &form, FormBox box);

// The scanned total of one run: when the box does not hold a number, the run
// goes on from the last value it wrote itself.
class ScannedTotal final
{
public:
    ScannedTotal(ConfigForm &form, FormBox box)
        : m_form(form)
        , m_box(box)
    {}
    void raise();
    // count() notes a message; flush() shows what was noted since the last
    // flush, so a long scan does not repaint the box for every message.
    void count() { ++m_pending; }
    void flush();

private:
    ConfigForm &m_form;
    FormBox m_box;
    qint64 m_last = 0;
    qint64 m_pending = 0;
};

} // namespace Scan
