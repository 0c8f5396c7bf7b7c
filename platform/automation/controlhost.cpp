#include "platform/automation/controlhost.h"

#include "platform/automation/classregistry.h"

#include <QFileInfo>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace Automation {

QObject *ControlHost::create(const QString &libraryPath, const QString &classId, QWidget *parent)
{
    m_errorString.clear();
    if (libraryPath.isEmpty()) {
        m_errorString = u"No library given for class %1"_s.arg(classId);
        return nullptr;
    }
    if (!QFileInfo::exists(libraryPath)) {
        m_errorString = u"Library not found: %1"_s.arg(libraryPath);
        return nullptr;
    }
    // The library stays loaded: objects it created may outlive this host, and
    // an unload under a live object would leave dangling code.
    QLibrary library(libraryPath);
    if (!library.load()) {
        m_errorString = u"Cannot load %1: %2"_s.arg(libraryPath, library.errorString());
        return nullptr;
    }
    const auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(library.resolve("DllGetClassObject"));
    if (!getClassObject) {
        m_errorString = u"%1 has no class factory entry point"_s.arg(libraryPath);
        return nullptr;
    }
    ClassFactory *factory = nullptr;
    const QByteArray id = classId.toLatin1();
    if (getClassObject(id.constData(), &factory) != 0 || !factory) {
        m_errorString = u"Class %1 is not available from %2"_s.arg(classId, libraryPath);
        return nullptr;
    }
    QObject *object = factory->createInstance(parent);
    if (!object) {
        m_errorString = u"Class %1 could not be created"_s.arg(classId);
        return nullptr;
    }
    if (!qobject_cast<AutomationObject *>(object) && !qobject_cast<PropertyPage *>(object)) {
        delete object;
        m_errorString = u"Class %1 is not an automation object"_s.arg(classId);
        return nullptr;
    }
    return object;
}

QObject *ControlHost::createByProgId(const QString &progId, QWidget *parent)
{
    m_errorString.clear();
    const QString classId = ClassRegistry::classIdForProgId(progId);
    if (classId.isEmpty()) {
        m_errorString = u"No class is registered as %1"_s.arg(progId);
        return nullptr;
    }
    const std::optional<ClassRegistration> registration = ClassRegistry::lookupClass(classId);
    if (!registration) {
        m_errorString = u"Class %1 (%2) is not registered"_s.arg(classId, progId);
        return nullptr;
    }
    return create(registration->libraryPath, registration->classId, parent);
}

} // namespace Automation
