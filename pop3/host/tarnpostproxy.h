#pragma once
// Typed host-side reference to a Tarnpost control: each call is an invoke of
// the member's fixed id through the automation interface, nothing more.

#include "platform/automation/dispatch.h"

#include <QPointer>
#include <QString>
#include <QVariant>

namespace Automation {

class TarnpostProxy final
{
public:
    TarnpostProxy() = default;
    explicit TarnpostProxy(QObject *control);

    void reset(QObject *control);
    bool isValid() const;
    AutomationObject *object() const;
    QObject *qobject() const { return m_object.data(); }
    // Status of the last invoke (interface failures only, never POP3 ones).
    InvokeResult lastResult() const { return m_lastResult; }

    qint16 Status();
    QString StatusText();
    qint16 Error();
    QString ErrorText();
    QString POPHostname();
    bool setPOPHostname(const QVariant &value);
    qint32 POPPort();
    bool setPOPPort(const QVariant &value);
    QString POPUsername();
    bool setPOPUsername(const QVariant &value);
    QString POPPassword();
    bool setPOPPassword(const QVariant &value);
    QString ConnectResponse();
    qint16 POPTimeout();
    bool setPOPTimeout(const QVariant &value);
    qint32 MsgCount();
    qint16 MsgNumber();
    QString MsgUniqueID();
    QString MsgHeaders();
    QString MsgSubject();
    QString MsgFrom();
    QString MsgReturnPath();
    QString MsgReplyTo();
    QString MsgDate();
    QString MsgContents();
    qint32 MsgSizeInK();
    QString Version();
    bool setVersion(const QVariant &value);
    bool DebugMode();
    bool setDebugMode(const QVariant &value);
    QString DebugFile();
    bool setDebugFile(const QVariant &value);
    qint16 POPSecurity();
    bool setPOPSecurity(const QVariant &value);
    qint32 MaxMessageSize();
    bool setMaxMessageSize(const QVariant &value);
    bool Prefetch();
    bool setPrefetch(const QVariant &value);
    bool QuitConfirmed();
    // OAuth2 sign-in: set before Connect; empty for a password login.
    QString AccessToken();
    bool setAccessToken(const QVariant &value);

    void Connect();
    void Disconnect();
    void ResetDeletedMsgs();
    void DeleteCurrentMsg();
    QString GetOtherHeader(const QString &strHeaderToSearchFor);
    QString GetStringValueOfProperty(QString &strPropertyToReturn);
    void SetCurrentMsg(qint16 &intMsgNumber);
    void RetrieveCurrentMsg();
    void WriteCurrentMsgToFile(QString &strFileToWriteTo);
    QString GetUniqueIDList();
    void SkipMsg(qint16 intMsgNumber);

private:
    QVariant get(qint32 id);
    bool let(qint32 id, const QVariant &value);
    QVariant call(qint32 id, QVariantList &args);

    QPointer<QObject> m_object;
    InvokeResult m_lastResult;
};

} // namespace Automation
