#pragma once

#include "platform/addressbook/vcardreader.h"

#include <QList>
#include <QStringList>

#include <optional>

// Where the user's contacts live and how they are gathered from there.
class ContactSource final
{
public:
    // KWAB_CONTACTS_DIR alone when it is set; else the contacts folder under
    // the generic data location and ~/.contacts, those that exist.
    static QStringList folders();
    // The cards of every .vcf file in the folders, files in name order. Empty
    // when no folder exists.
    static std::optional<QList<VCardContact>> load(const QStringList &folders);
    static std::optional<QList<VCardContact>> load() { return load(folders()); }

    // Larger files are not address books; skipping them bounds memory use.
    static constexpr qint64 MaxFileSize = 256LL * 1024 * 1024;
};
