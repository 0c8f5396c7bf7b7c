// The control's automation surface: its member table, dispatch by member id,
// the persisted properties and the lifecycle hooks a host calls.
#include "pop3/tarnpost.h"

#include "pop3/replyparsing.h"
#include "pop3/include/tarnpostctl.h"

#include <QMessageBox>
#include <QResizeEvent>

#include <atomic>
#include <cmath>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;
using Automation::InvokeKind;
using Automation::InvokeResult;
using Automation::InvokeStatus;
using Automation::MemberInfo;
using Automation::MemberKind;
using Automation::ParamInfo;

namespace Tarnpostctl {

namespace {

// The library's version information; Version reads major.minor.revision.
constexpr int VersionMajor = 4;
constexpr int VersionMinor = 1;
constexpr int VersionRevision = 1;

constexpr QSize FaceSize(32, 32);

std::atomic<int> g_liveObjects{0};

std::function<void(const QString &)> &messageBoxHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

QList<MemberInfo> buildMemberTable()
{
    QList<MemberInfo> table;
    const auto readOnly = [&table](qint32 id, const QString &name, QMetaType::Type type, const QString &help) {
        table.append({id, name, MemberKind::PropertyGet, InvokeKind::PropertyGet, type, {}, help});
    };
    const auto readWrite = [&table](qint32 id, const QString &name, QMetaType::Type type, const QString &help) {
        table.append({id, name, MemberKind::PropertyGetLet, InvokeKind::PropertyGet, type, {}, help});
        table.append({id, name, MemberKind::PropertyGetLet, InvokeKind::PropertyPut, type,
                      {ParamInfo{u"value"_s, type, false}}, help});
    };
    const auto method = [&table](qint32 id, const QString &name, QMetaType::Type result,
                                 const QList<ParamInfo> &params, const QString &help) {
        table.append({id, name, MemberKind::Method, InvokeKind::Method, result, params, help});
    };

    readOnly(DispIdStatus, u"Status"_s, QMetaType::Short,
             u"Returns a representation of the current status of the connection with the POP3 server."_s);
    readOnly(DispIdStatusText, u"StatusText"_s, QMetaType::QString,
             u"Returns a text representation of the Status property."_s);
    readOnly(DispIdError, u"Error"_s, QMetaType::Short,
             u"Returns value other than 0 if the last method returned an error."_s);
    readOnly(DispIdErrorText, u"ErrorText"_s, QMetaType::QString,
             u"Returns text representation of the Error property."_s);
    readWrite(DispIdPOPHostname, u"POPHostname"_s, QMetaType::QString,
              u"Sets/Returns the hostname or TCPIP address of the POP3 server."_s);
    readWrite(DispIdPOPPort, u"POPPort"_s, QMetaType::Int,
              u"Sets/Returns the port to be used when connecting to the POP3 server."_s);
    readWrite(DispIdPOPUsername, u"POPUsername"_s, QMetaType::QString,
              u"Sets/Returns the username to be used when connecting to the POP3 server."_s);
    readWrite(DispIdPOPPassword, u"POPPassword"_s, QMetaType::QString,
              u"Sets/Returns the password to be used when connecting to the POP3 server."_s);
    readOnly(DispIdConnectResponse, u"ConnectResponse"_s, QMetaType::QString,
             u"Returns the string the POP3 server sent on initial connection."_s);
    readWrite(DispIdPOPTimeout, u"POPTimeout"_s, QMetaType::Short,
              u"Sets/Returns the timeout (in seconds) to be used when communicating with the POP3 server."_s);
    readOnly(DispIdMsgCount, u"MsgCount"_s, QMetaType::Int,
             u"Returns the count of messages in the mailbox accessed."_s);
    readOnly(DispIdMsgNumber, u"MsgNumber"_s, QMetaType::Short,
             u"Returns the number of the currently selected message."_s);
    readOnly(DispIdMsgUniqueID, u"MsgUniqueID"_s, QMetaType::QString,
             u"Returns the unique message id of the currently selected message."_s);
    readOnly(DispIdMsgHeaders, u"MsgHeaders"_s, QMetaType::QString,
             u"Returns the headers of the currently selected message."_s);
    readOnly(DispIdMsgSubject, u"MsgSubject"_s, QMetaType::QString,
             u"Returns the subject field from the headers of the currently selected message."_s);
    readOnly(DispIdMsgFrom, u"MsgFrom"_s, QMetaType::QString,
             u"Returns the from field from the headers of the currently selected message."_s);
    readOnly(DispIdMsgReturnPath, u"MsgReturnPath"_s, QMetaType::QString,
             u"Returns the return-path field from the headers of the currently selected message."_s);
    readOnly(DispIdMsgReplyTo, u"MsgReplyTo"_s, QMetaType::QString,
             u"Returns the reply-to  field from the headers of the currently selected message."_s);
    readOnly(DispIdMsgDate, u"MsgDate"_s, QMetaType::QString,
             u"Returns the date field from the headers of the currently selected message."_s);
    readOnly(DispIdMsgContents, u"MsgContents"_s, QMetaType::QString,
             u"Returns the contents of the currently selected message if the RetrieveCurrentMsg method has been invoked."_s);
    readOnly(DispIdMsgSizeInK, u"MsgSizeInK"_s, QMetaType::Int,
             u"This is the size of the message in kilobytes."_s);
    readWrite(DispIdVersion, u"Version"_s, QMetaType::QString,
              u"Returns the version of the Tarnpost control."_s);
    readWrite(DispIdDebugMode, u"DebugMode"_s, QMetaType::Bool,
              u"Used only at run-time. If property is set to true, debug information will be collected. Use only at the request of the author."_s);
    readWrite(DispIdDebugFile, u"DebugFile"_s, QMetaType::QString,
              u"Contains debug information if the DebugMode property is set to True. Use only at the request of the author."_s);
    method(DispIdConnect, u"Connect"_s, QMetaType::Void, {},
           u"Establishes a connection to a POP3 server."_s);
    method(DispIdDisconnect, u"Disconnect"_s, QMetaType::Void, {},
           u"Disconnects from a POP3 server previously Connected to."_s);
    method(DispIdResetDeletedMsgs, u"ResetDeletedMsgs"_s, QMetaType::Void, {},
           u"This resets any messages currently marked for deletion in the current POP3 session."_s);
    method(DispIdDeleteCurrentMsg, u"DeleteCurrentMsg"_s, QMetaType::Void, {},
           u"Marks the currently selected message to be deleted."_s);
    method(DispIdGetOtherHeader, u"GetOtherHeader"_s, QMetaType::QString,
           {ParamInfo{u"strHeaderToSearchFor"_s, QMetaType::QString, false}},
           u"Returns other header information that there are not currently properties for."_s);
    method(DispIdGetStringValueOfProperty, u"GetStringValueOfProperty"_s, QMetaType::QString,
           {ParamInfo{u"strPropertyToReturn"_s, QMetaType::QString, true}},
           u"Returns a string variant of the passed property name. It is returned as a \"String\" type, not a \"Variant\""_s);
    method(DispIdSetCurrentMsg, u"SetCurrentMsg"_s, QMetaType::Void,
           {ParamInfo{u"intMsgNumber"_s, QMetaType::Short, true}},
           u"Sets/Returns the number of the current message selected."_s);
    method(DispIdRetrieveCurrentMsg, u"RetrieveCurrentMsg"_s, QMetaType::Void, {},
           u"Retrieves the body of the currently selected message."_s);
    method(DispIdWriteCurrentMsgToFile, u"WriteCurrentMsgToFile"_s, QMetaType::Void,
           {ParamInfo{u"strFileToWriteTo"_s, QMetaType::QString, true}},
           u"This writes the entire contents of the message to the passed filename"_s);
    // Later additions follow the original slots, so those keep their places.
    readWrite(DispIdPOPSecurity, u"POPSecurity"_s, QMetaType::Short,
              u"Sets/Returns the security of the connection: 0 clear text, 1 TLS from the first byte, 2 clear text upgraded with STLS (required)."_s);
    readWrite(DispIdMaxMessageSize, u"MaxMessageSize"_s, QMetaType::Int,
              u"Sets/Returns the largest message, in bytes, that is retrieved; a larger one is left on the server."_s);
    readWrite(DispIdPrefetch, u"Prefetch"_s, QMetaType::Bool,
              u"Sets/Returns whether the following messages are fetched ahead while the current one is worked on."_s);
    return table;
}

const QList<MemberInfo> &memberTable()
{
    static const QList<MemberInfo> table = buildMemberTable();
    return table;
}

// ---- Variant conversions of the setters and method arguments ----

struct Converted {
    InvokeStatus status = InvokeStatus::Ok;
    QString description;
    qint64 number = 0;
    bool ok() const { return status == InvokeStatus::Ok; }
};

Converted mismatch(const QString &description)
{
    return {InvokeStatus::TypeMismatch, description, 0};
}

Converted inRange(double value, qint64 min, qint64 max)
{
    if (!std::isfinite(value))
        return mismatch(u"Type mismatch"_s);
    // Halves round to even, as variant conversions of numbers do.
    const double rounded = std::nearbyint(value);
    if (rounded < double(min) || rounded > double(max))
        return mismatch(u"Overflow"_s);
    return {InvokeStatus::Ok, {}, qint64(rounded)};
}

// A variant as a whole number in [min, max]; an empty variant is 0.
Converted toInteger(const QVariant &value, qint64 min, qint64 max)
{
    if (!value.isValid())
        return {};
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return {InvokeStatus::Ok, {}, value.toBool() ? 1 : 0};
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
        if (number > quint64(max))
            return mismatch(u"Overflow"_s);
        return {InvokeStatus::Ok, {}, qint64(number)};
    }
    case QMetaType::Float:
    case QMetaType::Double:
        return inRange(value.toDouble(), min, max);
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
    default:
        return mismatch(u"Type mismatch"_s);
    }
}

std::optional<bool> toBoolean(const QVariant &value)
{
    if (!value.isValid())
        return false;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = value.toString().trimmed();
        if (text.compare("true"_L1, Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare("false"_L1, Qt::CaseInsensitive) == 0)
            return false;
        const Converted number = toInteger(text, std::numeric_limits<qint64>::min(),
                                           std::numeric_limits<qint64>::max());
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
        const Converted number = toInteger(value, std::numeric_limits<qint64>::min(),
                                           std::numeric_limits<qint64>::max());
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
        return QString::fromLatin1(value.toByteArray());  // one character per byte, like the socket
    if (!value.canConvert<QString>())
        return std::nullopt;
    return value.toString();
}

const MemberInfo *findSlot(qint32 memberId, InvokeKind kind)
{
    for (const MemberInfo &slot : memberTable()) {
        if (slot.id == memberId && slot.invokeKind == kind)
            return &slot;
    }
    return nullptr;
}

bool knownMember(qint32 memberId)
{
    for (const MemberInfo &slot : memberTable()) {
        if (slot.id == memberId)
            return true;
    }
    return false;
}

} // namespace

// ---- Live objects ----

Tarnpost::LiveObject::LiveObject()
{
    ++g_liveObjects;
}

Tarnpost::LiveObject::~LiveObject()
{
    --g_liveObjects;
}

int Tarnpost::liveObjects()
{
    return g_liveObjects.load();
}

// ---- Dispatch ----

QString Tarnpost::classId() const
{
    return QString::fromLatin1(ClassIdTarnpost);
}

QList<MemberInfo> Tarnpost::typeInfo() const
{
    return memberTable();
}

InvokeResult Tarnpost::invoke(qint32 memberId, InvokeKind kind, QVariantList &args, QVariant *result)
{
    if (result)
        *result = QVariant();
    if (!knownMember(memberId))
        return {InvokeStatus::UnknownMember, u"Unknown member id %1"_s.arg(memberId)};
    const MemberInfo *slot = findSlot(memberId, kind);
    if (!slot) {
        if (kind == InvokeKind::PropertyPut && findSlot(memberId, InvokeKind::PropertyGet))
            return {InvokeStatus::NotSupported, u"Property is read-only"_s};
        return {InvokeStatus::NotSupported, u"Member %1 cannot be called that way"_s.arg(memberId)};
    }
    if (args.size() != slot->params.size())
        return {InvokeStatus::BadArgumentCount,
                u"%1 takes %2 argument(s), got %3"_s.arg(slot->name).arg(slot->params.size()).arg(args.size())};
    if (kind == InvokeKind::Method)
        return invokeMethod(memberId, args, result);
    return invokeProperty(memberId, kind, args, result);
}

InvokeResult Tarnpost::invokeProperty(qint32 memberId, InvokeKind kind, QVariantList &args, QVariant *result)
{
    if (kind == InvokeKind::PropertyGet) {
        QVariant value;
        switch (memberId) {
        case DispIdStatus: value = QVariant::fromValue<qint16>(Status()); break;
        case DispIdStatusText: value = StatusText(); break;
        case DispIdError: value = QVariant::fromValue<qint16>(Error()); break;
        case DispIdErrorText: value = ErrorText(); break;
        case DispIdPOPHostname: value = POPHostname(); break;
        case DispIdPOPPort: value = QVariant::fromValue<qint32>(POPPort()); break;
        case DispIdPOPUsername: value = POPUsername(); break;
        case DispIdPOPPassword: value = POPPassword(); break;
        case DispIdConnectResponse: value = ConnectResponse(); break;
        case DispIdPOPTimeout: value = QVariant::fromValue<qint16>(POPTimeout()); break;
        case DispIdMsgCount: value = QVariant::fromValue<qint32>(MsgCount()); break;
        case DispIdMsgNumber: value = QVariant::fromValue<qint16>(MsgNumber()); break;
        case DispIdMsgUniqueID: value = MsgUniqueID(); break;
        case DispIdMsgHeaders: value = MsgHeaders(); break;
        case DispIdMsgSubject: value = MsgSubject(); break;
        case DispIdMsgFrom: value = MsgFrom(); break;
        case DispIdMsgReturnPath: value = MsgReturnPath(); break;
        case DispIdMsgReplyTo: value = MsgReplyTo(); break;
        case DispIdMsgDate: value = MsgDate(); break;
        case DispIdMsgContents: value = MsgContents(); break;
        case DispIdMsgSizeInK: value = QVariant::fromValue<qint32>(MsgSizeInK()); break;
        case DispIdVersion: value = Version(); break;
        case DispIdDebugMode: value = DebugMode(); break;
        case DispIdDebugFile: value = DebugFile(); break;
        case DispIdPOPSecurity: value = QVariant::fromValue<qint16>(POPSecurity()); break;
        case DispIdMaxMessageSize: value = QVariant::fromValue<qint32>(MaxMessageSize()); break;
        case DispIdPrefetch: value = Prefetch(); break;
        default: return {InvokeStatus::UnknownMember, u"Unknown property %1"_s.arg(memberId)};
        }
        if (result)
            *result = value;
        return {};
    }

    const QVariant &value = args.constFirst();
    switch (memberId) {
    case DispIdPOPHostname:
    case DispIdPOPUsername:
    case DispIdPOPPassword:
    case DispIdDebugFile: {
        const std::optional<QString> text = toText(value);
        if (!text)
            return {InvokeStatus::TypeMismatch, u"Type mismatch"_s};
        if (memberId == DispIdPOPHostname)
            setPOPHostname(*text);
        else if (memberId == DispIdPOPUsername)
            setPOPUsername(*text);
        else if (memberId == DispIdPOPPassword)
            setPOPPassword(*text);
        else
            setDebugFile(*text);
        return {};
    }
    case DispIdPOPPort: {
        const Converted port = toInteger(value, std::numeric_limits<qint32>::min(),
                                         std::numeric_limits<qint32>::max());
        if (!port.ok())
            return {port.status, port.description};
        setPOPPort(qint32(port.number));
        return {};
    }
    case DispIdPOPTimeout: {
        const Converted timeout = toInteger(value, std::numeric_limits<qint16>::min(),
                                            std::numeric_limits<qint16>::max());
        if (!timeout.ok())
            return {timeout.status, timeout.description};
        setPOPTimeout(qint16(timeout.number));
        return {};
    }
    case DispIdPOPSecurity: {
        const Converted security = toInteger(value, SecurityNone, SecurityStls);
        if (!security.ok())
            return {security.status, security.description};
        setPOPSecurity(qint16(security.number));
        return {};
    }
    case DispIdMaxMessageSize: {
        const Converted size = toInteger(value, 1, std::numeric_limits<qint32>::max());
        if (!size.ok())
            return {size.status, size.description};
        setMaxMessageSize(qint32(size.number));
        return {};
    }
    case DispIdDebugMode:
    case DispIdPrefetch: {
        const std::optional<bool> on = toBoolean(value);
        if (!on)
            return {InvokeStatus::TypeMismatch, u"Type mismatch"_s};
        if (memberId == DispIdDebugMode)
            setDebugMode(*on);
        else
            setPrefetch(*on);
        return {};
    }
    case DispIdVersion:
        setVersion(value);
        return {};
    default:
        return {InvokeStatus::NotSupported, u"Property is read-only"_s};
    }
}

InvokeResult Tarnpost::invokeMethod(qint32 memberId, QVariantList &args, QVariant *result)
{
    switch (memberId) {
    case DispIdConnect: Connect(); return {};
    case DispIdDisconnect: Disconnect(); return {};
    case DispIdResetDeletedMsgs: ResetDeletedMsgs(); return {};
    case DispIdDeleteCurrentMsg: DeleteCurrentMsg(); return {};
    case DispIdRetrieveCurrentMsg: RetrieveCurrentMsg(); return {};
    case DispIdSetCurrentMsg: {
        const Converted number = toInteger(args.constFirst(), std::numeric_limits<qint16>::min(),
                                           std::numeric_limits<qint16>::max());
        if (!number.ok())
            return {number.status, number.description};
        qint16 intMsgNumber = qint16(number.number);
        SetCurrentMsg(intMsgNumber);
        args[0] = QVariant::fromValue<qint16>(intMsgNumber);
        return {};
    }
    case DispIdGetOtherHeader:
    case DispIdGetStringValueOfProperty:
    case DispIdWriteCurrentMsgToFile: {
        const std::optional<QString> text = toText(args.constFirst());
        if (!text)
            return {InvokeStatus::TypeMismatch, u"Type mismatch"_s};
        QString argument = *text;
        QString value;
        if (memberId == DispIdGetOtherHeader)
            value = GetOtherHeader(argument);
        else if (memberId == DispIdGetStringValueOfProperty)
            value = GetStringValueOfProperty(argument);
        else
            WriteCurrentMsgToFile(argument);
        // By reference: only a changed text goes back, so the caller's variant
        // keeps its own type otherwise.
        if (memberId != DispIdGetOtherHeader && argument != *text)
            args[0] = argument;
        if (result && memberId != DispIdWriteCurrentMsgToFile)
            *result = value;
        return {};
    }
    default:
        return {InvokeStatus::UnknownMember, u"Unknown method %1"_s.arg(memberId)};
    }
}

void Tarnpost::advise(Automation::EventSink *sink)
{
    m_eventSink = sink;
}

// ---- Lifecycle ----

void Tarnpost::initNew()
{
    setFixedSize(FaceSize);
    m_POPHostname.clear();
    m_POPPort = 110;
    m_POPUsername.clear();
    m_POPPassword.clear();
    m_POPTimeout = 10;
}

void Tarnpost::load(const Automation::PropertyBag &bag)
{
    setFixedSize(FaceSize);
    // No defaults: a missing (or unusable) value gives the store's empty value.
    m_POPHostname = toText(bag.read(u"POPHostname"_s)).value_or(QString());
    const Converted port = toInteger(bag.read(u"POPPort"_s), std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max());
    m_POPPort = port.ok() ? qint32(port.number) : 0;
    m_POPUsername = toText(bag.read(u"POPUsername"_s)).value_or(QString());
    m_POPPassword = toText(bag.read(u"POPPassword"_s)).value_or(QString());
    const Converted timeout = toInteger(bag.read(u"POPTimeout"_s), std::numeric_limits<qint16>::min(),
                                        std::numeric_limits<qint16>::max());
    m_POPTimeout = timeout.ok() ? qint16(timeout.number) : 0;
}

void Tarnpost::save(Automation::PropertyBag &bag) const
{
    bag.write(u"POPHostname"_s, m_POPHostname);
    bag.write(u"POPPort"_s, QVariant::fromValue<qint32>(m_POPPort));
    bag.write(u"POPUsername"_s, m_POPUsername);
    bag.write(u"POPPassword"_s, m_POPPassword);
    bag.write(u"POPTimeout"_s, QVariant::fromValue<qint16>(m_POPTimeout));
}

void Tarnpost::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The face is always 32 by 32 pixels, whatever the host asks for.
    if (size() != FaceSize || minimumSize() != FaceSize || maximumSize() != FaceSize)
        setFixedSize(FaceSize);
}

// ---- Version ----

QString Tarnpost::Version() const
{
    return u"%1.%2.%3"_s.arg(VersionMajor).arg(VersionMinor).arg(VersionRevision);
}

void Tarnpost::setVersion(const QVariant &)
{
    showReadOnlyMessage();
}

void Tarnpost::setMessageBoxHookForTesting(std::function<void(const QString &text)> hook)
{
    messageBoxHook() = std::move(hook);
}

void Tarnpost::showReadOnlyMessage()
{
    const QString text = u"Property is Read-only"_s;
    if (messageBoxHook()) {
        messageBoxHook()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(LibraryName), text, QMessageBox::Ok, this);
    box.exec();
}

// ---- By-name property reader ----

QString Tarnpost::GetStringValueOfProperty(QString &strPropertyToReturn)
{
    const QString key = ReplyParsing::trimBlanks(strPropertyToReturn).toUpper();
    QString value;
    if (key == "POPHOSTNAME"_L1)
        value = POPHostname();
    else if (key == "POPPORT"_L1)
        value = QString::number(POPPort());
    else if (key == "POPUSERNAME"_L1)
        value = POPUsername();
    else if (key == "POPPASSWORD"_L1)
        value = POPPassword();
    else if (key == "POPTIMEOUT"_L1)
        value = QString::number(POPTimeout());
    else if (key == "STATUS"_L1)
        value = QString::number(intpropertystatus);
    else if (key == "STATUSTEXT"_L1)
        value = StatusText();
    else if (key == "ERROR"_L1)
        value = QString::number(Error());
    else if (key == "ERRORTEXT"_L1)
        value = ErrorText();
    else if (key == "MSGCOUNT"_L1)
        value = QString::number(MsgCount());
    else if (key == "MSGNUMBER"_L1)
        value = QString::number(MsgNumber());
    else if (key == "MSGUNIQUEID"_L1)
        value = MsgUniqueID();
    else if (key == "MSGHEADERS"_L1)
        value = MsgHeaders();
    else if (key == "MSGSUBJECT"_L1)
        value = MsgSubject();
    else if (key == "MSGFROM"_L1)
        value = MsgFrom();
    else if (key == "MSGRETURNPATH"_L1)
        value = MsgReturnPath();
    else if (key == "MSGREPLYTO"_L1)
        value = MsgReplyTo();
    else if (key == "MSGDATE"_L1)
        value = MsgDate();
    else if (key == "MSGSIZEINK"_L1)
        value = QString::number(MsgSizeInK());
    else if (key == "CONNECTRESPONSE"_L1)
        value = ConnectResponse();
    else if (key == "MSGCONTENTS"_L1)
        value = MsgContents();
    else if (key == "DEBUGMODE"_L1)
        value = DebugMode() ? u"True"_s : u"False"_s;
    else if (key == "DEBUGFILE"_L1)
        value = DebugFile();
    else if (key == "POPSECURITY"_L1)
        value = QString::number(POPSecurity());
    else if (key == "MAXMESSAGESIZE"_L1)
        value = QString::number(MaxMessageSize());
    else if (key == "PREFETCH"_L1)
        value = Prefetch() ? u"True"_s : u"False"_s;

    // Cleared after the read: asking for "Error" returns the code that was current.
    subdebuglog(u"start GetStringValueOfProperty"_s);
    intpropertyerror = 0;
    subdebuglog(u"end GetStringValueOfProperty"_s);
    return value;
}

} // namespace Tarnpostctl
