#include "tests/scan/fakemailbox.h"

#include "pop3/include/tarnpostctl.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

using namespace Automation;
using namespace Tarnpostctl;
using namespace Qt::StringLiterals;

void FakeMailbox::addMailbox(const QString &user, const QString &password, const QList<Message> &messages)
{
    m_boxes.insert(user, Mailbox{password, messages});
}

void FakeMailbox::removeMessage(const QString &user, const QByteArray &subject)
{
    QList<Message> &messages = m_boxes[user].messages;
    messages.removeIf([&](const Message &m) { return m.subject == subject; });
}

QList<QByteArray> FakeMailbox::subjectsLeft(const QString &user) const
{
    QList<QByteArray> subjects;
    for (const Message &m : m_boxes.value(user).messages)
        subjects.append(m.subject);
    return subjects;
}

InvokeResult FakeMailbox::invoke(qint32 memberId, InvokeKind kind, QVariantList &args, QVariant *result)
{
    switch (kind) {
    case InvokeKind::PropertyPut: m_properties.insert(memberId, args.value(0)); break;
    case InvokeKind::PropertyGet:
        if (result)
            *result = get(memberId);
        break;
    case InvokeKind::Method: call(memberId, args, result); break;
    }
    return {};
}

const FakeMailbox::Message *FakeMailbox::current() const
{
    const auto box = m_boxes.constFind(m_user);
    if (!m_retrieved || box == m_boxes.cend() || m_current <= 0 || m_current > box->messages.size())
        return nullptr;
    return &box->messages.at(m_current - 1);
}

QVariant FakeMailbox::get(qint32 id) const
{
    const Message *m = current();
    switch (id) {
    case DispIdStatus: return QVariant::fromValue<qint16>(m_user.isEmpty() ? 0 : 1);
    case DispIdError: return QVariant::fromValue<qint16>(m_error);
    case DispIdQuitConfirmed: return m_quitConfirmed;
    case DispIdErrorText: return m_errorText;
    case DispIdMsgCount: return QVariant::fromValue<qint32>(qint32(m_boxes.value(m_user).messages.size()));
    case DispIdMsgFrom: return m ? QString::fromLatin1(m->from) : QString();
    case DispIdMsgSubject: return m ? QString::fromLatin1(m->subject) : QString();
    case DispIdMsgHeaders: // ends in a lone CR, as the control's does
        return m ? QString::fromLatin1("From: " + m->from + "\r\nSubject: " + m->subject + "\r\n" + m->headers + '\r')
                 : QString();
    case DispIdMsgContents: return m ? QString::fromLatin1(m->body) : QString();
    case DispIdMsgUniqueID: {
        // Known from UIDL once the message is selected, before any retrieval.
        const auto box = m_boxes.constFind(m_user);
        if (box != m_boxes.cend() && m_current > 0 && m_current <= box->messages.size()
            && !box->messages.at(m_current - 1).uid.isEmpty())
            return QString::fromLatin1(box->messages.at(m_current - 1).uid);
        return madeUpUniqueId(m_properties.value(DispIdPOPUsername).toString(),
                              m_properties.value(DispIdPOPHostname).toString(), m_current);
    }
    default: return m_properties.value(id);
    }
}

bool FakeMailbox::faultHere(Fault fault) const
{
    return m_fault == fault && m_user == m_faultUser && m_current == m_faultAt;
}

void FakeMailbox::fail(qint16 code, const QString &text)
{
    m_error = code;
    m_errorText = text;
}

void FakeMailbox::drop()
{
    m_user.clear();
    m_marked.clear();
    m_current = 0;
    m_retrieved = false;
}

void FakeMailbox::note(const QString &line)
{
    log.append(line);
    if (afterCommand)
        afterCommand(line);
}

void FakeMailbox::call(qint32 id, QVariantList &args, QVariant *result)
{
    fail(0, QString());
    const int n = m_current;
    switch (id) {
    case DispIdConnect: {
        m_quitConfirmed = false;
        if (m_properties.value(DispIdPOPHostname).toString().isEmpty()) {
            // A blank host closes the session without QUIT: nothing marked is deleted.
            if (!m_user.isEmpty())
                note(u"DROP"_s);
            return drop();
        }
        const QString user = m_properties.value(DispIdPOPUsername).toString();
        note(u"USER "_s + user);
        if (const auto fault = m_connectFaults.constFind(user); fault != m_connectFaults.cend())
            return fail(fault->first, fault->second);
        const auto box = m_boxes.constFind(user);
        if (box == m_boxes.cend() || box->password != m_properties.value(DispIdPOPPassword).toString())
            return fail(15, u"Error received from PASS command: -ERR [AUTH] Authentication failed."_s);
        m_user = user;
        return;
    }
    case DispIdDisconnect:
        m_quitConfirmed = !m_user.isEmpty();
        if (m_user.isEmpty())
            return;
        note(u"QUIT"_s);
        std::sort(m_marked.begin(), m_marked.end(), std::greater<int>());
        for (int marked : std::as_const(m_marked))
            m_boxes[m_user].messages.removeAt(marked - 1);
        return drop();
    case DispIdSetCurrentMsg: {
        m_retrieved = false;
        const int wanted = args.value(0).toInt();
        if (m_user.isEmpty())
            return fail(19, u"Cannot set message number when disconnected"_s);
        if (wanted <= 0 || wanted > m_boxes[m_user].messages.size())
            return fail(20, u"Cannot set message number less than or equal to 0 or greater than the message count"_s);
        m_current = wanted;
        return;
    }
    case DispIdRetrieveCurrentMsg:
        if (m_user.isEmpty())
            return fail(23, u"Cannot retrieve message when disconnected"_s);
        note(u"RETR %1"_s.arg(n));
        if (faultHere(Fault::RetrieveFails)) {
            drop();
            return fail(25, u"Error retrieving the message: -ERR broken"_s);
        }
        if (faultHere(Fault::RetrieveRefused))
            return fail(ErrorMessageTooLarge, u"The message is too large: over 100 MB"_s);
        m_retrieved = true;
        return;
    case DispIdGetOtherHeader:
        if (result)
            *result = current() ? QString::fromLatin1(current()->received) : u"<not found>"_s;
        return;
    case DispIdWriteCurrentMsgToFile: {
        const Message *m = current();
        const QString path = args.value(0).toString();
        note(u"WRITE "_s + QFileInfo(path).fileName());
        QFile file(path);
        if (!m || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(31, u"File error: "_s + file.errorString());
        file.write("From: " + m->from + "\r\nSubject: " + m->subject + "\r\n" + m->headers + "\r\n" + m->body);
        return;
    }
    case DispIdDeleteCurrentMsg:
        if (m_user.isEmpty())
            return fail(27, u"Cannot delete message when disconnected"_s);
        note(u"DELE %1"_s.arg(n));
        if (faultHere(Fault::DeleteRefused))
            return fail(26, u"Error using the DELE (delete) command: -ERR refused"_s);
        m_marked.append(n);
        if (faultHere(Fault::DropAfterDelete))
            drop();
        return;
    default: return;
    }
}
