#include "state/reviewlist.h"

#include "state/statedatabase.h"

#include <QDataStream>
#include <QIODevice>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

using namespace Qt::StringLiterals;

namespace {

const QString columns = u"id, server, login, uid, judged, sent, sender, subject, size, archive_file, rule, entry,"
                        " matched_in, state, fingerprint, fetched_size, by_scan"_s;

// The stream format of the kept tokens, fixed so that a newer Qt reads them.
constexpr QDataStream::Version WordsVersion = QDataStream::Qt_6_0;

const QString insertStatement =
    u"INSERT INTO spam_messages (server, login, uid, judged, sent, sender, subject, size, archive_file, rule,"
    " entry, matched_in, state, fingerprint, fetched_size, by_scan)"
    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s;

QVariantList rowValues(const ReviewList::Message &m)
{
    // A null text binds as NULL, which the key columns refuse; a server
    // without UIDL gives no uid.
    const auto text = [](const QString &s) { return s.isNull() ? QString(u""_s) : s; };
    return {text(m.server),
            text(m.login),
            text(m.uid),
            m.judged.toUTC().toString(Qt::ISODateWithMs),
            m.sent,
            m.sender,
            m.subject,
            m.size,
            m.archiveFile,
            m.rule,
            m.entry,
            m.matchedIn,
            int(m.state),
            m.fingerprint.isEmpty() ? QVariant() : QVariant(m.fingerprint),
            m.fetchedSize < 0 ? QVariant() : QVariant(m.fetchedSize),
            int(m.byScan)};
}

} // namespace

ReviewList::ReviewList(StateDatabase &database)
    : m_database(database)
{}

qint64 ReviewList::add(const Message &m)
{
    const qint64 id = m_database.insert(insertStatement, rowValues(m));
    if (id == 0)
        m_error = m_database.errorText();
    return id;
}

qint64 ReviewList::addUnsure(const Message &m, const UnsureWords &words)
{
    QByteArray tokens;
    {
        QDataStream out(&tokens, QIODevice::WriteOnly);
        out.setVersion(WordsVersion);
        out << words.tokens;
    }
    Message unsure = m;
    unsure.state = State::Unsure;
    qint64 id = 0;
    const bool done = m_database.transaction([&](QSqlDatabase &db) {
        QSqlQuery row(db);
        row.prepare(insertStatement);
        for (const QVariant &v : rowValues(unsure))
            row.addBindValue(v);
        if (!row.exec()) {
            m_database.setError(row.lastError().text());
            return false;
        }
        id = row.lastInsertId().toLongLong();
        QSqlQuery keep(db);
        keep.prepare(u"INSERT INTO unsure_tokens (id, digest, tokens) VALUES (?, ?, ?)"_s);
        keep.addBindValue(id);
        keep.addBindValue(words.digest);
        keep.addBindValue(tokens);
        if (keep.exec())
            return true;
        m_database.setError(keep.lastError().text());
        return false;
    });
    if (!done) {
        m_error = m_database.errorText();
        return 0;
    }
    return id;
}

std::optional<ReviewList::UnsureWords> ReviewList::unsureWords(qint64 id) const
{
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    query.prepare(u"SELECT digest, tokens FROM unsure_tokens WHERE id = ?"_s);
    query.addBindValue(id);
    if (!query.exec() || !query.next()) {
        m_error = query.lastError().isValid() ? query.lastError().text() : u"No words were kept of the message."_s;
        return std::nullopt;
    }
    UnsureWords words;
    words.digest = query.value(0).toByteArray();
    const QByteArray tokens = query.value(1).toByteArray();
    QDataStream in(tokens);
    in.setVersion(WordsVersion);
    in >> words.tokens;
    if (in.status() != QDataStream::Ok || words.digest.isEmpty()) {
        m_error = u"The words kept of an unsure message are damaged."_s;
        return std::nullopt;
    }
    return words;
}

bool ReviewList::setState(const QList<qint64> &ids, State state)
{
    const bool done = m_database.transaction([&](QSqlDatabase &db) {
        const auto failed = [this](const QSqlQuery &q) {
            m_database.setError(q.lastError().text());
            return false;
        };
        QSqlQuery query(db);
        query.prepare(state == State::DeleteRequested
                          ? u"UPDATE spam_messages SET state = ?, by_scan = 0 WHERE id = ?"_s
                          : u"UPDATE spam_messages SET state = ? WHERE id = ?"_s);
        QSqlQuery forget(db);
        forget.prepare(u"DELETE FROM not_spam WHERE (server, login, uid) IN"
                       " (SELECT server, login, uid FROM spam_messages WHERE id = ?)"_s);
        QSqlQuery dropWords(db);
        dropWords.prepare(u"DELETE FROM unsure_tokens WHERE id = ?"_s);
        // The words of a message with no archive copy are all there is to
        // learn it from, whatever the user says of it next: kept until the
        // message has left the server.
        const bool left = state == State::Deleted || state == State::Gone;
        for (const qint64 id : ids) {
            query.addBindValue(int(state));
            query.addBindValue(id);
            if (!query.exec())
                return failed(query);
            if (state == State::DeleteRequested) {
                forget.addBindValue(id);
                if (!forget.exec())
                    return failed(forget);
            }
            if (left) {
                dropWords.addBindValue(id);
                if (!dropWords.exec())
                    return failed(dropWords);
            }
        }
        return true;
    });
    if (!done)
        m_error = m_database.errorText();
    return done;
}

bool ReviewList::markNotSpam(const QList<qint64> &ids)
{
    const bool done = m_database.transaction([&](QSqlDatabase &db) {
        // A message a scan deleted (or found gone) in the meantime is not
        // made "kept": nothing is left on the server to keep.
        QSqlQuery keep(db);
        keep.prepare(u"UPDATE spam_messages SET state = ? WHERE id = ? AND state NOT IN (?, ?)"_s);
        QSqlQuery remember(db);
        remember.prepare(u"INSERT OR IGNORE INTO not_spam (server, login, uid)"
                         " SELECT server, login, uid FROM spam_messages WHERE id = ? AND state = ?"_s);
        for (const qint64 id : ids) {
            keep.addBindValue(int(State::Kept));
            keep.addBindValue(id);
            keep.addBindValue(int(State::Deleted));
            keep.addBindValue(int(State::Gone));
            if (!keep.exec()) {
                m_database.setError(keep.lastError().text());
                return false;
            }
            remember.addBindValue(id);
            remember.addBindValue(int(State::Kept));
            if (!remember.exec()) {
                m_database.setError(remember.lastError().text());
                return false;
            }
        }
        return true;
    });
    if (!done)
        m_error = m_database.errorText();
    return done;
}

bool ReviewList::isNotSpam(const QString &server, const QString &login, const QString &uid) const
{
    return notSpamUids(server, login).contains(uid);
}

QList<ReviewList::Message> ReviewList::all() const { return select({}, {}); }

qint64 ReviewList::count(State state) const
{
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    query.prepare(u"SELECT count(*) FROM spam_messages WHERE state = ?"_s);
    query.addBindValue(int(state));
    if (!query.exec() || !query.next()) {
        m_error = query.lastError().text();
        return -1;
    }
    return query.value(0).toLongLong();
}

QList<ReviewList::Message> ReviewList::toDelete(const QString &server, const QString &login) const
{
    return select(u"WHERE server = ? AND login = ? AND state = ?"_s, {server, login, int(State::DeleteRequested)});
}

QSet<QString> ReviewList::uids(const QString &server, const QString &login, State state) const
{
    QSet<QString> found;
    for (const Message &m : select(u"WHERE server = ? AND login = ? AND state = ?"_s, {server, login, int(state)}))
        found.insert(m.uid);
    return found;
}

QSet<QString> ReviewList::notSpamUids(const QString &server, const QString &login) const
{
    QSet<QString> found;
    readNotSpamUids(server, login, &found);
    return found;
}

bool ReviewList::readNotSpamUids(const QString &server, const QString &login, QSet<QString> *found) const
{
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    query.prepare(u"SELECT uid FROM not_spam WHERE server = ? AND login = ?"_s);
    query.addBindValue(server);
    query.addBindValue(login);
    if (!query.exec()) {
        m_error = query.lastError().text();
        return false;
    }
    while (query.next())
        found->insert(query.value(0).toString());
    if (query.lastError().isValid()) {
        m_error = query.lastError().text();
        return false;
    }
    return true;
}

std::optional<ReviewList::Message> ReviewList::byId(qint64 id) const
{
    const QList<Message> found = select(u"WHERE id = ?"_s, {id});
    if (found.isEmpty())
        return std::nullopt;
    return found.constFirst();
}

std::optional<ReviewList::AccountKnowledge> ReviewList::knowledge(const QString &server, const QString &login) const
{
    AccountKnowledge known;
    bool ok = true;
    for (const Message &m :
         select(u"WHERE server = ? AND login = ? AND state IN (?, ?, ?, ?)"_s,
                {server, login, int(State::Held), int(State::Kept), int(State::DeleteRequested), int(State::Unsure)},
                &ok)) {
        switch (m.state) {
        case State::Held:
            known.heldUids.insert(m.uid);
            if (!m.fingerprint.isEmpty())
                known.heldFingerprints.insert(m.fingerprint);
            break;
        case State::Kept:
            if (!m.fingerprint.isEmpty())
                known.keptFingerprints.insert(m.fingerprint);
            break;
        case State::DeleteRequested: known.toDelete.append(m); break;
        case State::Unsure: known.unsure.append(m); break;
        default: break;
        }
    }
    if (!ok || !readNotSpamUids(server, login, &known.notSpamUids))
        return std::nullopt;
    return known;
}

QList<ReviewList::Message> ReviewList::select(const QString &where, const QVariantList &values, bool *ok) const
{
    QList<Message> messages;
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    query.prepare(u"SELECT "_s + columns + u" FROM spam_messages "_s + where + u" ORDER BY id DESC"_s);
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec()) {
        m_error = query.lastError().text();
        if (ok)
            *ok = false;
        return messages;
    }
    while (query.next()) {
        Message m;
        m.id = query.value(0).toLongLong();
        m.server = query.value(1).toString();
        m.login = query.value(2).toString();
        m.uid = query.value(3).toString();
        m.judged = QDateTime::fromString(query.value(4).toString(), Qt::ISODateWithMs);
        m.sent = query.value(5).toString();
        m.sender = query.value(6).toString();
        m.subject = query.value(7).toString();
        m.size = query.value(8).toLongLong();
        m.archiveFile = query.value(9).toString();
        m.rule = query.value(10).toString();
        m.entry = query.value(11).toString();
        m.matchedIn = query.value(12).toString();
        m.state = State(query.value(13).toInt());
        m.fingerprint = query.value(14).toString();
        m.fetchedSize = query.value(15).isNull() ? -1 : query.value(15).toLongLong();
        m.byScan = query.value(16).toBool();
        messages.append(m);
    }
    // A read that stops at a damaged page ends like a short result.
    if (query.lastError().isValid()) {
        m_error = query.lastError().text();
        if (ok)
            *ok = false;
    }
    return messages;
}

QString ReviewList::stateText(State state)
{
    switch (state) {
    case State::Held: return u"held"_s;
    case State::Deleted: return u"deleted"_s;
    case State::Kept: return u"kept"_s;
    case State::DeleteRequested: return u"to be deleted"_s;
    case State::Gone: return u"no longer on the server"_s;
    case State::Unsure: return u"unsure"_s;
    }
    return {};
}
