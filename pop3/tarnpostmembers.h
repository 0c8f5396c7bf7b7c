#pragma once
// The control's automation surface as one table: a row per member with its
// id, name, kind, type and help, how it is read and written, and whether the
// host saves it. Dispatch, the type information, GetStringValueOfProperty,
// the property page and persistence all walk these rows; the order of the
// rows is the order of the interface's slots.

#include "platform/automation/dispatch.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <utility>

namespace Tarnpostctl {

class Tarnpost;

struct TarnpostMember
{
    using Getter = QVariant (*)(Tarnpost &control);
    // Converts the value and stores it; a value that does not convert is
    // refused and the property keeps its value.
    using Setter = Automation::InvokeResult (*)(Tarnpost &control, const QVariant &value);
    using Caller = Automation::InvokeResult (*)(Tarnpost &control, QVariantList &args, QVariant *result);

    TarnpostMember(qint32 memberId, QString memberName, Automation::MemberKind memberKind, QMetaType::Type memberType,
                   QString memberHelp, Getter get = nullptr, Setter set = nullptr, QVariant saved = {}, int cell = -1,
                   bool readByName = true, QList<Automation::ParamInfo> parameters = {}, Caller call = nullptr)
        : id(memberId)
        , name(std::move(memberName))
        , kind(memberKind)
        , type(memberType)
        , help(std::move(memberHelp))
        , getter(get)
        , setter(set)
        , persisted(std::move(saved))
        , pageCell(cell)
        , byName(readByName)
        , params(std::move(parameters))
        , caller(call)
    {}

    qint32 id = 0;
    QString name;
    Automation::MemberKind kind = Automation::MemberKind::Method;
    QMetaType::Type type = QMetaType::Void; // property type, or the method's result type
    QString help;
    Getter getter = nullptr; // properties
    Setter setter = nullptr; // read/write properties
    // Saved with the host's window when valid; then also the value a new
    // instance starts with.
    QVariant persisted;
    // Place of its field on the property page, -1 when it has none.
    int pageCell = -1;
    // GetStringValueOfProperty answers for it.
    bool byName = true;
    // Methods only.
    QList<Automation::ParamInfo> params;
    Caller caller = nullptr;
};

// Fields of the property page stand in columns of this many.
inline constexpr int PageRows = 5;

const QList<TarnpostMember> &tarnpostMembers();
// The row with that id, nullptr for an unknown one.
const TarnpostMember *findTarnpostMember(qint32 id);
// The interface's slots: a read/write property gives a get and a let slot.
const QList<Automation::MemberInfo> &tarnpostTypeInfo();

} // namespace Tarnpostctl
