#include "pop3/tarnpostmembers.h"

#include "pop3/include/tarnpostctl.h"
#include "pop3/tarnpost.h"

#include <cmath>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;
using Automation::InvokeResult;
using Automation::InvokeStatus;
using Automation::MemberInfo;
using Automation::MemberKind;
using Automation::ParamInfo;

namespace Tarnpostctl {

namespace {

// ---- Variant conversions of the setters and method arguments ----

struct Converted
{
    InvokeStatus status = InvokeStatus::Ok;
    QString description;
    qint64 number = 0;
    bool ok() const { return status == InvokeStatus::Ok; }
};

Converted mismatch(const QString &description) { return {InvokeStatus::TypeMismatch, description, 0}; }

Converted inRange(double value, qint64 min, qint64 max)
{
    if (!std::isfinite(value))
        return mismatch(u"Type mismatch"_s);
    // Halves round to even, as variant conversions of numbers do.
    const double rounded = std::nearbyint(value);
    if (rounded < static_cast<double>(min) || rounded > static_cast<double>(max))
        return mismatch(u"Overflow"_s);
    return {InvokeStatus::Ok, {}, static_cast<qint64>(rounded)};
}

// A variant as a whole number in [min, max]; an empty variant is 0.
Converted toInteger(const QVariant &value, qint64 min, qint64 max)
{
    if (!value.isValid())
        return {};
    switch (value.metaType().id()) {
    case QMetaType::Bool: return {InvokeStatus::Ok, {}, value.toBool() ? 1 : 0};
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong: {
        const qint64 number = value.toLongLong();
        if (number < min || number > max)
            return mismatch(u"Overflow"_s);
        return {InvokeStatus::Ok, {}, number};
    }
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const quint64 number = value.toULongLong();
        if (number > static_cast<quint64>(max))
            return mismatch(u"Overflow"_s);
        return {InvokeStatus::Ok, {}, static_cast<qint64>(number)};
    }
    case QMetaType::Float:
    case QMetaType::Double: return inRange(value.toDouble(), min, max);
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = value.toString().trimmed();
        bool ok = false;
        const qint64 whole = text.toLongLong(&ok);
        if (ok) {
            if (whole < min || whole > max)
                return mismatch(u"Overflow"_s);
            return {InvokeStatus::Ok, {}, whole};
        }
        const double number = text.toDouble(&ok);
        if (!ok)
            return mismatch(u"Type mismatch"_s);
        return inRange(number, min, max);
    }
    default: return mismatch(u"Type mismatch"_s);
    }
}

std::optional<bool> toBoolean(const QVariant &value)
{
    if (!value.isValid())
        return false;
    switch (value.metaType().id()) {
    case QMetaType::Bool: return value.toBool();
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = value.toString().trimmed();
        if (text.compare("true"_L1, Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare("false"_L1, Qt::CaseInsensitive) == 0)
            return false;
        const Converted number =
            toInteger(text, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
        if (!number.ok())
            return std::nullopt;
        return number.number != 0;
    }
    default: {
        if (value.metaType().id() == QMetaType::Double || value.metaType().id() == QMetaType::Float) {
            const double number = value.toDouble();
            if (std::isnan(number))
                return std::nullopt;
            return number != 0.0;
        }
        const Converted number =
            toInteger(value, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
        if (!number.ok())
            return std::nullopt;
        return number.number != 0;
    }
    }
}

std::optional<QString> toText(const QVariant &value)
{
    if (!value.isValid())
        return QString();
    if (value.metaType().id() == QMetaType::QString)
        return value.toString();
    if (value.metaType().id() == QMetaType::QByteArray)
        return QString::fromLatin1(value.toByteArray()); // one character per byte, like the socket
    if (!value.canConvert<QString>())
        return std::nullopt;
    return value.toString();
}

InvokeResult typeMismatch() { return {InvokeStatus::TypeMismatch, u"Type mismatch"_s}; }

// ---- Getters and setters of the rows ----

template <auto Get> QVariant value(Tarnpost &control) { return QVariant::fromValue((control.*Get)()); }

template <typename> struct SetterArgument;
template <typename Result, typename Argument> struct SetterArgument<Result (Tarnpost::*)(Argument)>
{
    using Type = Argument;
};

template <auto Set> InvokeResult letText(Tarnpost &control, const QVariant &value)
{
    const std::optional<QString> text = toText(value);
    if (!text)
        return typeMismatch();
    (control.*Set)(*text);
    return {};
}

// A whole number in [Min, Max], by default the range of the setter's type.
template <auto Set, qint64 Min = std::numeric_limits<typename SetterArgument<decltype(Set)>::Type>::min(),
          qint64 Max = std::numeric_limits<typename SetterArgument<decltype(Set)>::Type>::max()>
InvokeResult letNumber(Tarnpost &control, const QVariant &value)
{
    const Converted number = toInteger(value, Min, Max);
    if (!number.ok())
        return {number.status, number.description};
    (control.*Set)(static_cast<typename SetterArgument<decltype(Set)>::Type>(number.number));
    return {};
}

template <auto Set> InvokeResult letBoolean(Tarnpost &control, const QVariant &value)
{
    const std::optional<bool> on = toBoolean(value);
    if (!on)
        return typeMismatch();
    (control.*Set)(*on);
    return {};
}

InvokeResult letVersion(Tarnpost &control, const QVariant &value)
{
    control.setVersion(value);
    return {};
}

// ---- Methods ----

template <auto Method> InvokeResult callPlain(Tarnpost &control, QVariantList &, QVariant *)
{
    (control.*Method)();
    return {};
}

InvokeResult callSetCurrentMsg(Tarnpost &control, QVariantList &args, QVariant *)
{
    const Converted number =
        toInteger(args.constFirst(), std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    if (!number.ok())
        return {number.status, number.description};
    qint16 intMsgNumber = static_cast<qint16>(number.number);
    control.SetCurrentMsg(intMsgNumber);
    args[0] = QVariant::fromValue<qint16>(intMsgNumber);
    return {};
}

InvokeResult callSkipMsg(Tarnpost &control, QVariantList &args, QVariant *)
{
    const Converted number =
        toInteger(args.constFirst(), std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    if (!number.ok())
        return {number.status, number.description};
    control.SkipMsg(static_cast<qint16>(number.number));
    return {};
}

InvokeResult callGetUniqueIDList(Tarnpost &control, QVariantList &, QVariant *result)
{
    const QString list = control.GetUniqueIDList();
    if (result)
        *result = list;
    return {};
}

InvokeResult callGetOtherHeader(Tarnpost &control, QVariantList &args, QVariant *result)
{
    const std::optional<QString> text = toText(args.constFirst());
    if (!text)
        return typeMismatch();
    const QString value = control.GetOtherHeader(*text);
    if (result)
        *result = value;
    return {};
}

// By reference: only a changed text goes back, so the caller's variant keeps
// its own type otherwise.
InvokeResult callGetStringValueOfProperty(Tarnpost &control, QVariantList &args, QVariant *result)
{
    const std::optional<QString> text = toText(args.constFirst());
    if (!text)
        return typeMismatch();
    QString argument = *text;
    const QString value = control.GetStringValueOfProperty(argument);
    if (argument != *text)
        args[0] = argument;
    if (result)
        *result = value;
    return {};
}

InvokeResult callWriteCurrentMsgToFile(Tarnpost &control, QVariantList &args, QVariant *)
{
    const std::optional<QString> text = toText(args.constFirst());
    if (!text)
        return typeMismatch();
    QString argument = *text;
    control.WriteCurrentMsgToFile(argument);
    if (argument != *text)
        args[0] = argument;
    return {};
}

constexpr auto Get = MemberKind::PropertyGet;
constexpr auto GetLet = MemberKind::PropertyGetLet;
constexpr auto Method = MemberKind::Method;
constexpr int NoPage = -1;

QList<TarnpostMember> buildMembers()
{
    using T = Tarnpost;
    const auto S = QMetaType::QString;
    const auto V = QMetaType::Void;
    // clang-format off
    return {
        {DispIdStatus, u"Status"_s, Get, QMetaType::Short,
         u"Returns a representation of the current status of the connection with the POP3 server."_s,
         value<&T::Status>},
        {DispIdStatusText, u"StatusText"_s, Get, S,
         u"Returns a text representation of the Status property."_s,
         value<&T::StatusText>},
        {DispIdError, u"Error"_s, Get, QMetaType::Short,
         u"Returns value other than 0 if the last method returned an error."_s,
         value<&T::Error>},
        {DispIdErrorText, u"ErrorText"_s, Get, S,
         u"Returns text representation of the Error property."_s,
         value<&T::ErrorText>},
        {DispIdPOPHostname, u"POPHostname"_s, GetLet, S,
         u"Sets/Returns the hostname or TCPIP address of the POP3 server."_s,
         value<&T::POPHostname>, letText<&T::setPOPHostname>, QString(), 0},
        {DispIdPOPPort, u"POPPort"_s, GetLet, QMetaType::Int,
         u"Sets/Returns the port to be used when connecting to the POP3 server."_s,
         value<&T::POPPort>, letNumber<&T::setPOPPort>, QVariant::fromValue<qint32>(110), 1},
        {DispIdPOPUsername, u"POPUsername"_s, GetLet, S,
         u"Sets/Returns the username to be used when connecting to the POP3 server."_s,
         value<&T::POPUsername>, letText<&T::setPOPUsername>, QString(), 2},
        {DispIdPOPPassword, u"POPPassword"_s, GetLet, S,
         u"Sets/Returns the password to be used when connecting to the POP3 server."_s,
         value<&T::POPPassword>, letText<&T::setPOPPassword>, QString(), 3},
        {DispIdConnectResponse, u"ConnectResponse"_s, Get, S,
         u"Returns the string the POP3 server sent on initial connection."_s,
         value<&T::ConnectResponse>},
        {DispIdPOPTimeout, u"POPTimeout"_s, GetLet, QMetaType::Short,
         u"Sets/Returns the timeout (in seconds) to be used when communicating with the POP3 server."_s,
         value<&T::POPTimeout>, letNumber<&T::setPOPTimeout>, QVariant::fromValue<qint16>(10), 4},
        {DispIdMsgCount, u"MsgCount"_s, Get, QMetaType::Int,
         u"Returns the count of messages in the mailbox accessed."_s,
         value<&T::MsgCount>},
        {DispIdMsgNumber, u"MsgNumber"_s, Get, QMetaType::Short,
         u"Returns the number of the currently selected message."_s,
         value<&T::MsgNumber>},
        {DispIdMsgUniqueID, u"MsgUniqueID"_s, Get, S,
         u"Returns the unique message id of the currently selected message."_s,
         value<&T::MsgUniqueID>},
        {DispIdMsgHeaders, u"MsgHeaders"_s, Get, S,
         u"Returns the headers of the currently selected message."_s,
         value<&T::MsgHeaders>},
        {DispIdMsgSubject, u"MsgSubject"_s, Get, S,
         u"Returns the subject field from the headers of the currently selected message."_s,
         value<&T::MsgSubject>},
        {DispIdMsgFrom, u"MsgFrom"_s, Get, S,
         u"Returns the from field from the headers of the currently selected message."_s,
         value<&T::MsgFrom>},
        {DispIdMsgReturnPath, u"MsgReturnPath"_s, Get, S,
         u"Returns the return-path field from the headers of the currently selected message."_s,
         value<&T::MsgReturnPath>},
        {DispIdMsgReplyTo, u"MsgReplyTo"_s, Get, S,
         u"Returns the reply-to  field from the headers of the currently selected message."_s,
         value<&T::MsgReplyTo>},
        {DispIdMsgDate, u"MsgDate"_s, Get, S,
         u"Returns the date field from the headers of the currently selected message."_s,
         value<&T::MsgDate>},
        {DispIdMsgContents, u"MsgContents"_s, Get, S,
         u"Returns the contents of the currently selected message if the RetrieveCurrentMsg method has been invoked."_s,
         value<&T::MsgContents>},
        {DispIdMsgSizeInK, u"MsgSizeInK"_s, Get, QMetaType::Int,
         u"This is the size of the message in kilobytes."_s,
         value<&T::MsgSizeInK>},
        // Its let only says that it is read-only; the by-name reader does not know it.
        {DispIdVersion, u"Version"_s, GetLet, S,
         u"Returns the version of the Tarnpost control."_s,
         value<&T::Version>, letVersion, {}, PageRows + 2, false},
        {DispIdDebugMode, u"DebugMode"_s, GetLet, QMetaType::Bool,
         u"Used only at run-time. If property is set to true, debug information will be collected. Use only at the request of the author."_s,
         value<&T::DebugMode>, letBoolean<&T::setDebugMode>, {}, PageRows},
        {DispIdDebugFile, u"DebugFile"_s, GetLet, S,
         u"Contains debug information if the DebugMode property is set to True. Use only at the request of the author."_s,
         value<&T::DebugFile>, letText<&T::setDebugFile>, {}, PageRows + 1},
        {DispIdConnect, u"Connect"_s, Method, V,
         u"Establishes a connection to a POP3 server."_s,
         nullptr, nullptr, {}, NoPage, false, {}, callPlain<&T::Connect>},
        {DispIdDisconnect, u"Disconnect"_s, Method, V,
         u"Disconnects from a POP3 server previously Connected to."_s,
         nullptr, nullptr, {}, NoPage, false, {}, callPlain<&T::Disconnect>},
        {DispIdResetDeletedMsgs, u"ResetDeletedMsgs"_s, Method, V,
         u"This resets any messages currently marked for deletion in the current POP3 session."_s,
         nullptr, nullptr, {}, NoPage, false, {}, callPlain<&T::ResetDeletedMsgs>},
        {DispIdDeleteCurrentMsg, u"DeleteCurrentMsg"_s, Method, V,
         u"Marks the currently selected message to be deleted."_s,
         nullptr, nullptr, {}, NoPage, false, {}, callPlain<&T::DeleteCurrentMsg>},
        {DispIdGetOtherHeader, u"GetOtherHeader"_s, Method, S,
         u"Returns other header information that there are not currently properties for."_s,
         nullptr, nullptr, {}, NoPage, false, {ParamInfo{u"strHeaderToSearchFor"_s, S, false}}, callGetOtherHeader},
        {DispIdGetStringValueOfProperty, u"GetStringValueOfProperty"_s, Method, S,
         u"Returns a string variant of the passed property name. It is returned as a \"String\" type, not a \"Variant\""_s,
         nullptr, nullptr, {}, NoPage, false, {ParamInfo{u"strPropertyToReturn"_s, S, true}},
         callGetStringValueOfProperty},
        {DispIdSetCurrentMsg, u"SetCurrentMsg"_s, Method, V,
         u"Sets/Returns the number of the current message selected."_s,
         nullptr, nullptr, {}, NoPage, false, {ParamInfo{u"intMsgNumber"_s, QMetaType::Short, true}}, callSetCurrentMsg},
        {DispIdRetrieveCurrentMsg, u"RetrieveCurrentMsg"_s, Method, V,
         u"Retrieves the body of the currently selected message."_s,
         nullptr, nullptr, {}, NoPage, false, {}, callPlain<&T::RetrieveCurrentMsg>},
        {DispIdWriteCurrentMsgToFile, u"WriteCurrentMsgToFile"_s, Method, V,
         u"This writes the entire contents of the message to the passed filename"_s,
         nullptr, nullptr, {}, NoPage, false, {ParamInfo{u"strFileToWriteTo"_s, S, true}}, callWriteCurrentMsgToFile},
        // Later additions follow the original slots, so those keep their
        // places; the by-name reader answers for the original names only.
        {DispIdPOPSecurity, u"POPSecurity"_s, GetLet, QMetaType::Short,
         u"Sets/Returns the security of the connection: 0 clear text, 1 TLS from the first byte, 2 clear text upgraded with STLS (required)."_s,
         value<&T::POPSecurity>, letNumber<&T::setPOPSecurity, SecurityNone, SecurityStls>, {}, NoPage, false},
        {DispIdMaxMessageSize, u"MaxMessageSize"_s, GetLet, QMetaType::Int,
         u"Sets/Returns the largest message, in bytes, that is held in memory; a larger one is left on the server. Writing to a file takes any size."_s,
         value<&T::MaxMessageSize>, letNumber<&T::setMaxMessageSize, 1>, {}, NoPage, false},
        {DispIdPrefetch, u"Prefetch"_s, GetLet, QMetaType::Bool,
         u"Sets/Returns whether the following messages are fetched ahead while the current one is worked on."_s,
         value<&T::Prefetch>, letBoolean<&T::setPrefetch>, {}, NoPage, false},
        {DispIdQuitConfirmed, u"QuitConfirmed"_s, Get, QMetaType::Bool,
         u"Returns True when the last Disconnect's QUIT was answered +OK, so that the deletions marked in that session were made."_s,
         value<&T::QuitConfirmed>, nullptr, {}, NoPage, false},
        {DispIdAccessToken, u"AccessToken"_s, GetLet, S,
         u"Sets/Returns an OAuth2 access token; with one set, Connect signs in with AUTH OAUTHBEARER or XOAUTH2 instead of USER and PASS."_s,
         value<&T::AccessToken>, letText<&T::setAccessToken>, {}, NoPage, false},
        {DispIdGetUniqueIDList, u"GetUniqueIDList"_s, Method, S,
         u"Returns the unique ids of every message, one \"number id\" line each; empty unless Prefetch is on and the server gives ids."_s,
         nullptr, nullptr, {}, NoPage, false, {}, callGetUniqueIDList},
        {DispIdSkipMsg, u"SkipMsg"_s, Method, V,
         u"Tells the control that the message will not be retrieved in this session, so it is not fetched ahead."_s,
         nullptr, nullptr, {}, NoPage, false, {ParamInfo{u"intMsgNumber"_s, QMetaType::Short, false}}, callSkipMsg},
    };
    // clang-format on
}

QList<MemberInfo> buildTypeInfo()
{
    QList<MemberInfo> table;
    for (const TarnpostMember &member : tarnpostMembers()) {
        switch (member.kind) {
        case MemberKind::PropertyGet:
            table.append({member.id,
                          member.name,
                          member.kind,
                          Automation::InvokeKind::PropertyGet,
                          member.type,
                          {},
                          member.help});
            break;
        case MemberKind::PropertyGetLet:
            table.append({member.id,
                          member.name,
                          member.kind,
                          Automation::InvokeKind::PropertyGet,
                          member.type,
                          {},
                          member.help});
            table.append({member.id,
                          member.name,
                          member.kind,
                          Automation::InvokeKind::PropertyPut,
                          member.type,
                          {ParamInfo{u"value"_s, member.type, false}},
                          member.help});
            break;
        case MemberKind::Method:
            table.append({member.id, member.name, member.kind, Automation::InvokeKind::Method, member.type,
                          member.params, member.help});
            break;
        }
    }
    return table;
}

} // namespace

const QList<TarnpostMember> &tarnpostMembers()
{
    static const QList<TarnpostMember> members = buildMembers();
    return members;
}

const TarnpostMember *findTarnpostMember(qint32 id)
{
    for (const TarnpostMember &member : tarnpostMembers()) {
        if (member.id == id)
            return &member;
    }
    return nullptr;
}

const QList<MemberInfo> &tarnpostTypeInfo()
{
    static const QList<MemberInfo> table = buildTypeInfo();
    return table;
}

} // namespace Tarnpostctl
