#pragma once
// Per-user registry of automation classes: which library serves a class id,
// and which class id a programmatic id names. Kept in an INI file in the
// user's configuration folder. The automation library is linked statically
// into hosts and controls alike, so every copy finds the same file.

#include <QString>
#include <QStringList>

#include <optional>

namespace Automation {

struct ClassRegistration
{
    QString classId;
    QString libraryPath;
    QString className;
    QString progId; // may be empty (e.g. a property page)
    QString typeLibraryName;
    int typeLibraryVersionMajor = 0;
    int typeLibraryVersionMinor = 0;
    QString typeLibraryHelp;
};

class ClassRegistry final
{
public:
    ClassRegistry() = delete;

    // The file in use: the override when one is set, else the user's file.
    static QString registryPath();
    // Points every copy of this code in the process at path; empty restores
    // the user's file.
    static void setRegistryPathForTesting(const QString &path);

    // Adds or replaces a class (and its programmatic id). False when the entry
    // is unusable or the file cannot be written.
    static bool addClass(const ClassRegistration &registration);
    // Removes the class and any programmatic id that names it. False when the
    // file cannot be written; removing an unknown class succeeds.
    static bool removeClass(const QString &classId);

    static std::optional<ClassRegistration> lookupClass(const QString &classId);
    // The class id registered for progId, or an empty text.
    static QString classIdForProgId(const QString &progId);
    static QStringList classIds();
};

} // namespace Automation
