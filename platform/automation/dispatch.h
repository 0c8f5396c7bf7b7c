#pragma once
// The automation contract shared by hosts and controls: members are reached by
// fixed ids with variant arguments; by-reference arguments are written back
// into the caller's list. Failures of the interface itself come back as an
// InvokeStatus, never as a crash or an exception.

#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QtPlugin>

class QWidget;

namespace Automation {

enum class InvokeKind {
    Method,
    PropertyGet,
    PropertyPut,
};

enum class InvokeStatus {
    Ok,
    UnknownMember,    // no member with that id
    NotSupported,     // e.g. a let on a read-only property, or a get on a method
    TypeMismatch,     // an argument that does not convert; the member keeps its value
    BadArgumentCount, // too few or too many arguments
};

struct InvokeResult
{
    InvokeStatus status = InvokeStatus::Ok;
    QString description;
    bool ok() const { return status == InvokeStatus::Ok; }
};

enum class MemberKind {
    PropertyGet,    // read-only property
    PropertyGetLet, // read/write property
    Method,
};

struct ParamInfo
{
    QString name;
    QMetaType::Type type = QMetaType::UnknownType;
    bool byReference = false;
};

// One slot of a dispatch interface. A read/write property has two slots with
// the same id: its get (invokeKind PropertyGet) and its let (PropertyPut).
struct MemberInfo
{
    qint32 id = 0;
    QString name;
    MemberKind kind = MemberKind::Method;
    InvokeKind invokeKind = InvokeKind::Method; // how this slot is invoked
    QMetaType::Type type = QMetaType::Void;     // property type, or the method's result type
    QList<ParamInfo> params;
    QString helpString;
};

// Receives the events of an object (a host's event sink). Arguments passed by
// reference are read back by the object after the call returns.
class EventSink
{
public:
    virtual ~EventSink() = default;
    virtual void invokeEvent(qint32 memberId, QVariantList &args) = 0;
};

// Keyed store for persisted properties (the host's saved window data).
class PropertyBag
{
public:
    virtual ~PropertyBag() = default;
    // The stored value, or an invalid QVariant when the key is missing.
    virtual QVariant read(const QString &key) const = 0;
    virtual void write(const QString &key, const QVariant &value) = 0;
};

// What every automation object offers. Implemented by QObject-derived classes
// and reached with qobject_cast, so no object file of the host or the control
// needs the other's headers. The host owns the object and deletes it.
class AutomationObject
{
public:
    virtual ~AutomationObject() = default;

    virtual QString classId() const = 0;
    virtual QList<MemberInfo> typeInfo() const = 0;

    // Calls the member. For a PropertyPut, args holds the one new value.
    // result may be null when the caller does not want it.
    virtual InvokeResult invoke(qint32 memberId, InvokeKind kind, QVariantList &args, QVariant *result = nullptr) = 0;

    // Connects the host's event sink; nullptr disconnects it.
    virtual void advise(EventSink *sink) = 0;

    // Persistence with the host's window.
    virtual void initNew() = 0;                    // a new instance without saved data
    virtual void load(const PropertyBag &bag) = 0; // an instance loaded with saved data
    virtual void save(PropertyBag &bag) const = 0; // the host saves its window

    // The object's face, or nullptr for objects without one.
    virtual QWidget *widget() = 0;
};

// A design-time property page editing the first of the selected objects.
class PropertyPage
{
public:
    virtual ~PropertyPage() = default;
    virtual void setObjects(const QList<AutomationObject *> &objects) = 0;
    virtual bool isChanged() const = 0;
    virtual void apply() = 0;
    virtual QWidget *widget() = 0;
};

// Creates instances of one class; returned by a library's DllGetClassObject.
class ClassFactory
{
public:
    virtual ~ClassFactory() = default;
    virtual QString classId() const = 0;
    // A new QObject that implements AutomationObject or PropertyPage.
    virtual QObject *createInstance(QWidget *parent) = 0;
};

} // namespace Automation

Q_DECLARE_INTERFACE(Automation::AutomationObject, "quellmail.Automation.AutomationObject/1.0")
Q_DECLARE_INTERFACE(Automation::PropertyPage, "quellmail.Automation.PropertyPage/1.0")

// Entry points every control library exports with C linkage.
extern "C" {
// Returns 0 and sets *factory for a known class id (a static object the
// caller must not delete); returns non-zero for an unknown one.
using DllGetClassObjectFunction = int (*)(const char *classId, Automation::ClassFactory **factory);
// Returns 0 when no object of the library is alive (the library may unload).
using DllCanUnloadNowFunction = int (*)();
// Add or remove the library's classes in the per-user class registry; 0 on success.
using DllRegisterServerFunction = int (*)();
using DllUnregisterServerFunction = int (*)();
}
