#pragma once
// An automation object that answers the control's member ids from mailboxes
// held in memory, so the scan can run without a server or a window. It logs
// what a POP3 server would see, and can fail the way a real session does.

#include "platform/automation/dispatch.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>

class FakeMailbox final : public QObject, public Automation::AutomationObject
{
    Q_OBJECT
    Q_INTERFACES(Automation::AutomationObject)

public:
    struct Message
    {
        QByteArray from; // null: no From header
        QByteArray subject;
        QByteArray body;
        QByteArray received = "from mail.example (mail.example [192.0.2.7])";
        QByteArray uid = QByteArray();     // empty: the control's made-up id, as for a server without UIDL
        QByteArray headers = QByteArray(); // more header lines, each ending in CRLF
    };
    enum class Fault {
        None,
        RetrieveFails,   // RETR of the message fails and the session closes
        RetrieveRefused, // the message is too large to fetch; the session goes on
        DeleteRefused,   // DELE of the message is refused; the session goes on
        DropAfterDelete, // the session is lost right after DELE of the message
    };

    void addMailbox(const QString &user, const QString &password, const QList<Message> &messages);
    // The fault hits message `number` of the user's mailbox.
    void setFault(const QString &user, Fault fault, int number)
    {
        m_faultUser = user;
        m_fault = fault;
        m_faultAt = number;
    }
    // Connect fails for the user with this error, the way the control reports it.
    void setConnectFault(const QString &user, qint16 code, const QString &text)
    {
        m_connectFaults.insert(user, {code, text});
    }
    // Another client removed the message with this subject.
    void removeMessage(const QString &user, const QByteArray &subject);
    QList<QByteArray> subjectsLeft(const QString &user) const;

    // "USER u", "RETR n", "WRITE <file name>", "DELE n", "QUIT", "DROP" (closed
    // without QUIT); tests may add their own.
    QStringList log;
    // Called after each line the session logs: what the user does meanwhile.
    std::function<void(const QString &line)> afterCommand;

    QString classId() const override { return QStringLiteral("{fake-mailbox}"); }
    QList<Automation::MemberInfo> typeInfo() const override { return {}; }
    Automation::InvokeResult invoke(qint32 memberId, Automation::InvokeKind kind, QVariantList &args,
                                    QVariant *result) override;
    void advise(Automation::EventSink *) override {}
    void initNew() override {}
    void load(const Automation::PropertyBag &) override {}
    void save(Automation::PropertyBag &) const override {}
    QWidget *widget() override { return nullptr; }

private:
    struct Mailbox
    {
        QString password;
        QList<Message> messages;
    };
    QVariant get(qint32 id) const;
    void call(qint32 id, QVariantList &args, QVariant *result);
    void fail(qint16 code, const QString &text);
    bool faultHere(Fault fault) const;
    void drop();
    void note(const QString &line);
    const Message *current() const;

    QHash<QString, Mailbox> m_boxes;
    QHash<qint32, QVariant> m_properties;
    QHash<QString, QPair<qint16, QString>> m_connectFaults;
    bool m_quitConfirmed = false;
    QString m_faultUser;
    Fault m_fault = Fault::None;
    int m_faultAt = 0;
    QString m_user; // the session's user; empty when disconnected
    QList<int> m_marked;
    int m_current = 0;
    bool m_retrieved = false;
    qint16 m_error = 0;
    QString m_errorText;
};
