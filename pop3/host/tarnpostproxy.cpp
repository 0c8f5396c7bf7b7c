#include "pop3/host/tarnpostproxy.h"

#include "pop3/include/tarnpostctl.h"

using namespace Qt::StringLiterals;

namespace Automation {

using namespace Tarnpostctl;

TarnpostProxy::TarnpostProxy(QObject *control) { reset(control); }

void TarnpostProxy::reset(QObject *control)
{
    m_object = control;
    m_lastResult = {};
}

bool TarnpostProxy::isValid() const { return object() != nullptr; }

AutomationObject *TarnpostProxy::object() const { return qobject_cast<AutomationObject *>(m_object.data()); }

QVariant TarnpostProxy::get(qint32 id)
{
    AutomationObject *target = object();
    if (!target) {
        m_lastResult = {InvokeStatus::NotSupported, u"The control is gone"_s};
        return {};
    }
    QVariantList args;
    QVariant result;
    m_lastResult = target->invoke(id, InvokeKind::PropertyGet, args, &result);
    return m_lastResult.ok() ? result : QVariant();
}

bool TarnpostProxy::let(qint32 id, const QVariant &value)
{
    AutomationObject *target = object();
    if (!target) {
        m_lastResult = {InvokeStatus::NotSupported, u"The control is gone"_s};
        return false;
    }
    QVariantList args{value};
    m_lastResult = target->invoke(id, InvokeKind::PropertyPut, args);
    return m_lastResult.ok();
}

QVariant TarnpostProxy::call(qint32 id, QVariantList &args)
{
    AutomationObject *target = object();
    if (!target) {
        m_lastResult = {InvokeStatus::NotSupported, u"The control is gone"_s};
        return {};
    }
    QVariant result;
    m_lastResult = target->invoke(id, InvokeKind::Method, args, &result);
    return m_lastResult.ok() ? result : QVariant();
}

qint16 TarnpostProxy::Status() { return get(DispIdStatus).value<qint16>(); }
QString TarnpostProxy::StatusText() { return get(DispIdStatusText).toString(); }
qint16 TarnpostProxy::Error() { return get(DispIdError).value<qint16>(); }
QString TarnpostProxy::ErrorText() { return get(DispIdErrorText).toString(); }
QString TarnpostProxy::POPHostname() { return get(DispIdPOPHostname).toString(); }
bool TarnpostProxy::setPOPHostname(const QVariant &value) { return let(DispIdPOPHostname, value); }
qint32 TarnpostProxy::POPPort() { return get(DispIdPOPPort).value<qint32>(); }
bool TarnpostProxy::setPOPPort(const QVariant &value) { return let(DispIdPOPPort, value); }
QString TarnpostProxy::POPUsername() { return get(DispIdPOPUsername).toString(); }
bool TarnpostProxy::setPOPUsername(const QVariant &value) { return let(DispIdPOPUsername, value); }
QString TarnpostProxy::POPPassword() { return get(DispIdPOPPassword).toString(); }
bool TarnpostProxy::setPOPPassword(const QVariant &value) { return let(DispIdPOPPassword, value); }
QString TarnpostProxy::AccessToken() { return get(DispIdAccessToken).toString(); }
bool TarnpostProxy::setAccessToken(const QVariant &value) { return let(DispIdAccessToken, value); }
QString TarnpostProxy::ConnectResponse() { return get(DispIdConnectResponse).toString(); }
qint16 TarnpostProxy::POPTimeout() { return get(DispIdPOPTimeout).value<qint16>(); }
bool TarnpostProxy::setPOPTimeout(const QVariant &value) { return let(DispIdPOPTimeout, value); }
qint32 TarnpostProxy::MsgCount() { return get(DispIdMsgCount).value<qint32>(); }
qint16 TarnpostProxy::MsgNumber() { return get(DispIdMsgNumber).value<qint16>(); }
QString TarnpostProxy::MsgUniqueID() { return get(DispIdMsgUniqueID).toString(); }
QString TarnpostProxy::MsgHeaders() { return get(DispIdMsgHeaders).toString(); }
QString TarnpostProxy::MsgSubject() { return get(DispIdMsgSubject).toString(); }
QString TarnpostProxy::MsgFrom() { return get(DispIdMsgFrom).toString(); }
QString TarnpostProxy::MsgReturnPath() { return get(DispIdMsgReturnPath).toString(); }
QString TarnpostProxy::MsgReplyTo() { return get(DispIdMsgReplyTo).toString(); }
QString TarnpostProxy::MsgDate() { return get(DispIdMsgDate).toString(); }
QString TarnpostProxy::MsgContents() { return get(DispIdMsgContents).toString(); }
qint32 TarnpostProxy::MsgSizeInK() { return get(DispIdMsgSizeInK).value<qint32>(); }
QString TarnpostProxy::Version() { return get(DispIdVersion).toString(); }
bool TarnpostProxy::setVersion(const QVariant &value) { return let(DispIdVersion, value); }
bool TarnpostProxy::DebugMode() { return get(DispIdDebugMode).toBool(); }
bool TarnpostProxy::setDebugMode(const QVariant &value) { return let(DispIdDebugMode, value); }
QString TarnpostProxy::DebugFile() { return get(DispIdDebugFile).toString(); }
bool TarnpostProxy::setDebugFile(const QVariant &value) { return let(DispIdDebugFile, value); }
qint16 TarnpostProxy::POPSecurity() { return get(DispIdPOPSecurity).value<qint16>(); }
bool TarnpostProxy::setPOPSecurity(const QVariant &value) { return let(DispIdPOPSecurity, value); }
qint32 TarnpostProxy::MaxMessageSize() { return get(DispIdMaxMessageSize).value<qint32>(); }
bool TarnpostProxy::setMaxMessageSize(const QVariant &value) { return let(DispIdMaxMessageSize, value); }
bool TarnpostProxy::Prefetch() { return get(DispIdPrefetch).toBool(); }
bool TarnpostProxy::setPrefetch(const QVariant &value) { return let(DispIdPrefetch, value); }
bool TarnpostProxy::QuitConfirmed() { return get(DispIdQuitConfirmed).toBool(); }

void TarnpostProxy::Connect()
{
    QVariantList args;
    call(DispIdConnect, args);
}

void TarnpostProxy::Disconnect()
{
    QVariantList args;
    call(DispIdDisconnect, args);
}

void TarnpostProxy::ResetDeletedMsgs()
{
    QVariantList args;
    call(DispIdResetDeletedMsgs, args);
}

void TarnpostProxy::DeleteCurrentMsg()
{
    QVariantList args;
    call(DispIdDeleteCurrentMsg, args);
}

QString TarnpostProxy::GetOtherHeader(const QString &strHeaderToSearchFor)
{
    QVariantList args{strHeaderToSearchFor};
    return call(DispIdGetOtherHeader, args).toString();
}

QString TarnpostProxy::GetStringValueOfProperty(QString &strPropertyToReturn)
{
    QVariantList args{strPropertyToReturn};
    const QVariant result = call(DispIdGetStringValueOfProperty, args);
    if (m_lastResult.ok() && !args.isEmpty())
        strPropertyToReturn = args.constFirst().toString();
    return result.toString();
}

void TarnpostProxy::SetCurrentMsg(qint16 &intMsgNumber)
{
    QVariantList args{QVariant::fromValue<qint16>(intMsgNumber)};
    call(DispIdSetCurrentMsg, args);
    if (m_lastResult.ok() && !args.isEmpty())
        intMsgNumber = args.constFirst().value<qint16>();
}

void TarnpostProxy::RetrieveCurrentMsg()
{
    QVariantList args;
    call(DispIdRetrieveCurrentMsg, args);
}

QString TarnpostProxy::GetUniqueIDList()
{
    QVariantList args;
    return call(DispIdGetUniqueIDList, args).toString();
}

void TarnpostProxy::SkipMsg(qint16 intMsgNumber)
{
    QVariantList args{QVariant::fromValue<qint16>(intMsgNumber)};
    call(DispIdSkipMsg, args);
}

void TarnpostProxy::WriteCurrentMsgToFile(QString &strFileToWriteTo)
{
    QVariantList args{strFileToWriteTo};
    call(DispIdWriteCurrentMsgToFile, args);
    if (m_lastResult.ok() && !args.isEmpty())
        strFileToWriteTo = args.constFirst().toString();
}

} // namespace Automation
