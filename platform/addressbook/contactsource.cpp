#include "platform/addressbook/contactsource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

QStringList ContactSource::folders()
{
    const QString overridden = qEnvironmentVariable("KWAB_CONTACTS_DIR");
    if (!overridden.isEmpty())
        return {overridden};
    QStringList result;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty())
        result.append(data + u"/contacts"_s);
    result.append(QDir::homePath() + u"/.contacts"_s);
    return result;
}

std::optional<QList<VCardContact>> ContactSource::load(const QStringList &folders)
{
    bool anyFolder = false;
    QList<VCardContact> contacts;
    for (const QString &path : folders) {
        const QDir dir(path);
        if (!dir.exists())
            continue;
        anyFolder = true;
        const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
        for (const QFileInfo &info : files) {
            if (info.suffix().compare(u"vcf"_s, Qt::CaseInsensitive) != 0 || info.size() > MaxFileSize)
                continue;
            QFile file(info.filePath());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            contacts += VCardReader::parse(file.readAll());
        }
    }
    if (!anyFolder)
        return std::nullopt;
    return contacts;
}
