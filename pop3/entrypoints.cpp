// The library's exported entry points: class factories, the unload check and
// self-registration in the per-user class registry.
#include "platform/automation/classregistry.h"
#include "platform/automation/dispatch.h"
#include "pop3/include/tarnpostctl.h"
#include "pop3/tarnpost.h"
#include "pop3/tarnpostpropertypage.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

using namespace Qt::StringLiterals;

namespace {

using namespace Tarnpostctl;

class TarnpostFactory final : public Automation::ClassFactory
{
public:
    QString classId() const override { return QString::fromLatin1(ClassIdTarnpost); }
    QObject *createInstance(QWidget *parent) override { return new Tarnpost(parent); }
};

class PropertyPageFactory final : public Automation::ClassFactory
{
public:
    QString classId() const override { return QString::fromLatin1(ClassIdPropertyPage); }
    QObject *createInstance(QWidget *parent) override { return new TarnpostPropertyPage(parent); }
};

TarnpostFactory g_tarnpostFactory;
PropertyPageFactory g_propertyPageFactory;

// Where this library was loaded from, so the registry points hosts at it.
QString ownLibraryPath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void *>(&ownLibraryPath), &info) == 0 || !info.dli_fname)
        return {};
    return QFileInfo(QFile::decodeName(info.dli_fname)).absoluteFilePath();
}

Automation::ClassRegistration registration(const char *classId, const QString &className, const char *progId)
{
    Automation::ClassRegistration entry;
    entry.classId = QString::fromLatin1(classId);
    entry.libraryPath = ownLibraryPath();
    entry.className = className;
    entry.progId = progId ? QString::fromLatin1(progId) : QString();
    entry.typeLibraryName = QString::fromLatin1(LibraryName);
    entry.typeLibraryVersionMajor = LibraryVersionMajor;
    entry.typeLibraryVersionMinor = LibraryVersionMinor;
    entry.typeLibraryHelp = QString::fromLatin1(LibraryHelpString);
    return entry;
}

using MessageBoxHookFunction = void (*)(void *context, const QString &text);

} // namespace

extern "C" {

Q_DECL_EXPORT int DllGetClassObject(const char *classId, Automation::ClassFactory **factory)
{
    if (!factory)
        return 2;
    *factory = nullptr;
    if (!classId)
        return 1;
    if (qstricmp(classId, ClassIdTarnpost) == 0)
        *factory = &g_tarnpostFactory;
    else if (qstricmp(classId, ClassIdPropertyPage) == 0)
        *factory = &g_propertyPageFactory;
    return *factory ? 0 : 1;
}

Q_DECL_EXPORT int DllCanUnloadNow() { return Tarnpost::liveObjects() == 0 ? 0 : 1; }

Q_DECL_EXPORT int DllRegisterServer()
{
    if (ownLibraryPath().isEmpty())
        return 1;
    const bool control = Automation::ClassRegistry::addClass(registration(ClassIdTarnpost, u"Tarnpost"_s, ProgId));
    const bool page =
        Automation::ClassRegistry::addClass(registration(ClassIdPropertyPage, u"Tarnpost_Property_Page"_s, nullptr));
    return control && page ? 0 : 1;
}

Q_DECL_EXPORT int DllUnregisterServer()
{
    const bool control = Automation::ClassRegistry::removeClass(QString::fromLatin1(ClassIdTarnpost));
    const bool page = Automation::ClassRegistry::removeClass(QString::fromLatin1(ClassIdPropertyPage));
    return control && page ? 0 : 1;
}

// Tests of hosts that load this library answer the control's one message box
// here; a null hook restores the real box.
Q_DECL_EXPORT void TarnpostSetMessageBoxHookForTesting(MessageBoxHookFunction hook, void *context)
{
    if (!hook) {
        Tarnpost::setMessageBoxHookForTesting({});
        return;
    }
    Tarnpost::setMessageBoxHookForTesting([hook, context](const QString &text) { hook(context, text); });
}

} // extern "C"
