#include "platform/automation/classregistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

#include <memory>

using namespace Qt::StringLiterals;

namespace Automation {

namespace {

// Each library that links this code has its own statics; the application
// object is shared by all of them, so the override lives there.
constexpr char OverrideProperty[] = "quellmail.automation.registryPath";

QString &localOverride()
{
    static QString path;
    return path;
}

// Ids are used as settings groups: they must be one non-empty path segment.
bool usableKey(const QString &key) { return !key.trimmed().isEmpty() && !key.contains(u'/') && !key.contains(u'\\'); }

QString normalized(const QString &key) { return key.trimmed().toUpper(); }

QString classGroup(const QString &classId) { return u"Classes/"_s + normalized(classId); }

QString progIdGroup(const QString &progId) { return u"ProgIds/"_s + normalized(progId); }

bool sync(QSettings &settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError;
}

std::unique_ptr<QSettings> openSettings()
{
    const QString path = ClassRegistry::registryPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

} // namespace

QString ClassRegistry::registryPath()
{
    if (const QCoreApplication *app = QCoreApplication::instance()) {
        const QVariant path = app->property(OverrideProperty);
        if (path.isValid() && !path.toString().isEmpty())
            return path.toString();
    } else if (!localOverride().isEmpty()) {
        return localOverride();
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + u"/quellmail/automation-classes.ini"_s;
}

void ClassRegistry::setRegistryPathForTesting(const QString &path)
{
    localOverride() = path;
    if (QCoreApplication *app = QCoreApplication::instance())
        app->setProperty(OverrideProperty, path.isEmpty() ? QVariant() : QVariant(path));
}

bool ClassRegistry::addClass(const ClassRegistration &registration)
{
    if (!usableKey(registration.classId) || registration.libraryPath.isEmpty())
        return false;
    if (!registration.progId.isEmpty() && !usableKey(registration.progId))
        return false;

    auto settings = openSettings();
    // A class registered again may have changed its programmatic id.
    const QString oldProgId = settings->value(classGroup(registration.classId) + u"/ProgId"_s).toString();
    if (!oldProgId.isEmpty()
        && normalized(settings->value(progIdGroup(oldProgId) + u"/ClassId"_s).toString())
               == normalized(registration.classId))
        settings->remove(progIdGroup(oldProgId));

    settings->beginGroup(classGroup(registration.classId));
    settings->setValue(u"ClassId"_s, registration.classId);
    settings->setValue(u"LibraryPath"_s, registration.libraryPath);
    settings->setValue(u"ClassName"_s, registration.className);
    settings->setValue(u"ProgId"_s, registration.progId);
    settings->setValue(u"TypeLibraryName"_s, registration.typeLibraryName);
    settings->setValue(u"TypeLibraryVersion"_s,
                       u"%1.%2"_s.arg(registration.typeLibraryVersionMajor).arg(registration.typeLibraryVersionMinor));
    settings->setValue(u"TypeLibraryHelp"_s, registration.typeLibraryHelp);
    settings->endGroup();
    if (!registration.progId.isEmpty())
        settings->setValue(progIdGroup(registration.progId) + u"/ClassId"_s, registration.classId);
    return sync(*settings);
}

bool ClassRegistry::removeClass(const QString &classId)
{
    if (!usableKey(classId))
        return false;
    auto settings = openSettings();
    settings->remove(classGroup(classId));
    settings->beginGroup(u"ProgIds"_s);
    const QStringList progIds = settings->childGroups();
    for (const QString &progId : progIds) {
        if (normalized(settings->value(progId + u"/ClassId"_s).toString()) == normalized(classId))
            settings->remove(progId);
    }
    settings->endGroup();
    return sync(*settings);
}

std::optional<ClassRegistration> ClassRegistry::lookupClass(const QString &classId)
{
    if (!usableKey(classId))
        return std::nullopt;
    auto settings = openSettings();
    settings->beginGroup(classGroup(classId));
    if (!settings->contains(u"LibraryPath"_s))
        return std::nullopt;
    ClassRegistration registration;
    registration.classId = settings->value(u"ClassId"_s, classId).toString();
    registration.libraryPath = settings->value(u"LibraryPath"_s).toString();
    registration.className = settings->value(u"ClassName"_s).toString();
    registration.progId = settings->value(u"ProgId"_s).toString();
    registration.typeLibraryName = settings->value(u"TypeLibraryName"_s).toString();
    const QStringList version = settings->value(u"TypeLibraryVersion"_s).toString().split(u'.');
    registration.typeLibraryVersionMajor = version.value(0).toInt();
    registration.typeLibraryVersionMinor = version.value(1).toInt();
    registration.typeLibraryHelp = settings->value(u"TypeLibraryHelp"_s).toString();
    return registration;
}

QString ClassRegistry::classIdForProgId(const QString &progId)
{
    if (!usableKey(progId))
        return {};
    auto settings = openSettings();
    return settings->value(progIdGroup(progId) + u"/ClassId"_s).toString();
}

QStringList ClassRegistry::classIds()
{
    auto settings = openSettings();
    settings->beginGroup(u"Classes"_s);
    QStringList ids;
    const QStringList groups = settings->childGroups();
    for (const QString &group : groups)
        ids.append(settings->value(group + u"/ClassId"_s, group).toString());
    return ids;
}

} // namespace Automation
