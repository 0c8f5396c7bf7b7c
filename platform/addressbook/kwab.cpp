#include "platform/addressbook/kwab.h"

#include "platform/addressbook/contactsource.h"

#include <QByteArray>
#include <QList>
#include <QMutex>

#include <cstring>
#include <vector>

namespace {

struct Session
{
    bool open = false;
    quint32 cookie = 0;
    QList<QByteArray> names;  // UTF-8
    QList<QByteArray> emails; // UTF-8, empty when the card has none
};

// Open address books, indexed by KWabHandle::session - 1.
struct Table
{
    QMutex mutex;
    std::vector<Session> sessions;
    quint32 lastCookie = 0;
};

Table &table()
{
    static Table instance;
    return instance;
}

// The caller holds the table's mutex.
Session *lookup(Table &t, const KWabHandle *handle)
{
    if (!handle || handle->magic != KWAB_HANDLE_MAGIC || handle->session <= 0
        || size_t(handle->session) > t.sessions.size())
        return nullptr;
    Session &session = t.sessions[size_t(handle->session) - 1];
    if (!session.open || session.cookie != quint32(handle->cookie))
        return nullptr;
    return &session;
}

// An entry id carries its session's cookie, so ids of a closed book or of
// another book are refused rather than read.
quint64 entryId(const Session &session, qsizetype index)
{
    return (quint64(session.cookie) << 32) | quint64(index + 1);
}

qsizetype entryIndex(const Session &session, quint64 id)
{
    if (quint32(id >> 32) != session.cookie)
        return -1;
    const qint64 index = qint64(id & 0xFFFFFFFFu) - 1;
    return index >= 0 && index < session.names.size() ? qsizetype(index) : -1;
}

void closeLocked(Table &t, KWabHandle *handle)
{
    if (Session *session = lookup(t, handle))
        *session = Session();
    std::memset(handle, 0, sizeof *handle);
}

} // namespace

extern "C" {

int32_t kWabOpen(KWabHandle *handle)
{
    if (!handle)
        return 0;
    std::optional<QList<VCardContact>> contacts;
    try {
        contacts = ContactSource::load();
    } catch (...) { // nothing may escape into a C caller
        contacts.reset();
    }

    Table &t = table();
    QMutexLocker lock(&t.mutex);
    closeLocked(t, handle); // reopening an open handle must not leak its book
    if (!contacts)
        return 0;

    size_t slot = 0;
    while (slot < t.sessions.size() && t.sessions[slot].open)
        ++slot;
    if (slot == t.sessions.size()) {
        if (t.sessions.size() >= size_t(INT32_MAX))
            return 0;
        t.sessions.emplace_back();
    }
    Session &session = t.sessions[slot];
    session.open = true;
    if (++t.lastCookie == 0)
        ++t.lastCookie;
    session.cookie = t.lastCookie;
    for (const VCardContact &contact : std::as_const(*contacts)) {
        session.names.append(contact.displayName.toUtf8());
        session.emails.append(contact.email.toUtf8());
    }
    handle->session = int32_t(slot + 1);
    handle->cookie = int32_t(session.cookie);
    handle->magic = KWAB_HANDLE_MAGIC;
    return 1;
}

int32_t kWabGetNumEntries(KWabHandle *handle)
{
    Table &t = table();
    QMutexLocker lock(&t.mutex);
    const Session *session = lookup(t, handle);
    return session ? int32_t(qMin<qsizetype>(session->names.size(), INT32_MAX)) : 0;
}

int32_t kWabGetEntries(KWabHandle *handle, uint64_t *firstSlot, int32_t n)
{
    if (!firstSlot || n <= 0)
        return 0;
    Table &t = table();
    QMutexLocker lock(&t.mutex);
    const Session *session = lookup(t, handle);
    if (!session)
        return 0;
    const qsizetype count = qMin<qsizetype>(n, session->names.size());
    for (qsizetype i = 0; i < count; ++i)
        firstSlot[i] = entryId(*session, i);
    return int32_t(count);
}

int16_t kWabGetProp_String(KWabHandle *handle, uint64_t *slot, uint32_t tag, char *buffer, int32_t bufferLength,
                           int32_t reserved)
{
    Q_UNUSED(reserved)
    if (!slot || !buffer || bufferLength <= 0)
        return 0;
    Table &t = table();
    QMutexLocker lock(&t.mutex);
    const Session *session = lookup(t, handle);
    if (!session)
        return 0;
    const qsizetype index = entryIndex(*session, *slot);
    if (index < 0)
        return 0;
    QByteArray value;
    if (tag == KWAB_PR_DISPLAY_NAME)
        value = session->names.at(index);
    else if (tag == KWAB_PR_EMAIL_ADDRESS)
        value = session->emails.at(index);
    if (value.isEmpty())
        return 0;

    // Cut to fit with its NUL, never inside a UTF-8 sequence.
    qsizetype length = qMin<qsizetype>(value.size(), bufferLength - 1);
    if (length < value.size()) {
        while (length > 0 && (uchar(value.at(length)) & 0xC0) == 0x80)
            --length;
    }
    std::memcpy(buffer, value.constData(), size_t(length));
    buffer[length] = '\0';
    return 1;
}

void kWabFreeEntries(KWabHandle *handle, uint64_t *firstSlot, int32_t n)
{
    // Entry ids own nothing; they lose their meaning when the book closes.
    Q_UNUSED(handle)
    Q_UNUSED(firstSlot)
    Q_UNUSED(n)
}

void kWabClose(KWabHandle *handle)
{
    if (!handle)
        return;
    Table &t = table();
    QMutexLocker lock(&t.mutex);
    closeLocked(t, handle);
}

} // extern "C"
