#include "learn/tokenstore.h"

#include "state/statedatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Ids looked up per statement: a few statements per message, each short.
constexpr qsizetype LookupChunk = 500;

struct Delta
{
    QString token;
    qint64 spam = 0;
    qint64 ham = 0;
    qint64 seen = 0; // 0 when only unlearned
};

quint32 clamped(qint64 value) { return quint32(qBound<qint64>(0, value, std::numeric_limits<quint32>::max())); }

bool readMessageCounts(QSqlQuery &query, TokenStore::Counts *counts)
{
    if (!query.exec(u"SELECT label, COUNT(*) FROM learned_messages GROUP BY label"_s))
        return false;
    *counts = {};
    while (query.next()) {
        (query.value(0).toInt() == int(TokenStore::Label::Spam) ? counts->spam : counts->ham) =
            clamped(query.value(1).toLongLong());
    }
    query.finish();
    return true;
}

} // namespace

TokenStore::TokenStore(StateDatabase &database)
    : m_database(database)
{}

TokenStore::Counts TokenStore::learnedMessages(StateDatabase &database)
{
    Counts counts;
    QSqlQuery query(database.connection());
    readMessageCounts(query, &counts);
    return counts;
}

bool TokenStore::open()
{
    m_cache.clear();
    m_open = false;
    QSqlQuery query(m_database.connection());
    Counts messages;
    if (!readMessageCounts(query, &messages)) {
        m_error = query.lastError().text();
        return false;
    }
    m_spamMessages = messages.spam;
    m_hamMessages = messages.ham;
    m_open = true;
    return true;
}

bool TokenStore::fetch(const QList<quint64> &ids) const
{
    QList<quint64> missing;
    for (quint64 id : ids) {
        if (!m_cache.contains(id))
            missing.append(id);
    }
    if (missing.isEmpty())
        return true;
    if (m_cache.size() + missing.size() > MaxCachedTokens) {
        m_cache.clear();
        missing = ids;
    }
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    bool complete = true;
    for (qsizetype from = 0; from < missing.size(); from += LookupChunk) {
        const QList<quint64> chunk = missing.mid(from, LookupChunk);
        // The ids are numbers of our own making, written into the statement.
        QString sql = u"SELECT id, spam, ham FROM learned_tokens WHERE id IN ("_s;
        sql.reserve(sql.size() + chunk.size() * 21);
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            if (i > 0)
                sql += u',';
            sql += QString::number(qint64(chunk.at(i)));
        }
        sql += u')';
        if (!query.exec(sql)) {
            m_error = query.lastError().text();
            complete = false;
            continue;
        }
        for (quint64 id : chunk)
            m_cache.insert(id, Counts{});
        while (query.next()) {
            m_cache.insert(quint64(query.value(0).toLongLong()),
                           Counts{clamped(query.value(1).toLongLong()), clamped(query.value(2).toLongLong())});
        }
        query.finish();
    }
    return complete;
}

TokenStore::Counts TokenStore::counts(quint64 id) const
{
    auto it = m_cache.constFind(id);
    if (it == m_cache.cend()) {
        fetch({id});
        it = m_cache.constFind(id);
    }
    return it == m_cache.cend() ? Counts{} : it.value();
}

qint64 TokenStore::tokenCount() const
{
    QSqlQuery query(m_database.connection());
    if (!query.exec(u"SELECT COUNT(*) FROM learned_tokens"_s) || !query.next()) {
        m_error = query.lastError().text();
        return -1;
    }
    return query.value(0).toLongLong();
}

std::optional<TokenStore::Label> TokenStore::labelOf(const QByteArray &digest) const
{
    QSqlQuery query(m_database.connection());
    query.prepare(u"SELECT label FROM learned_messages WHERE digest = ?"_s);
    query.addBindValue(digest);
    if (!query.exec()) {
        m_error = query.lastError().text();
        return std::nullopt;
    }
    if (!query.next())
        return std::nullopt;
    return query.value(0).toInt() == int(Label::Spam) ? Label::Spam : Label::Ham;
}

bool TokenStore::prune(QSqlDatabase &db, qint64 *rows)
{
    QSqlQuery query(db);
    if (!query.exec(u"SELECT COUNT(*) FROM learned_tokens"_s) || !query.next()) {
        m_database.setError(query.lastError().text());
        return false;
    }
    *rows = query.value(0).toLongLong();
    query.finish();
    if (*rows <= m_maxTokens)
        return true;
    // The rarest go first, and of those the least recently learned: a word
    // seen once long ago says least about the next message.
    const qint64 excess = *rows - m_maxTokens * 3 / 4;
    query.prepare(u"DELETE FROM learned_tokens WHERE id IN"
                  " (SELECT id FROM learned_tokens ORDER BY spam + ham, seen, id LIMIT ?)"_s);
    query.addBindValue(excess);
    if (!query.exec()) {
        m_database.setError(query.lastError().text());
        return false;
    }
    m_pruned = query.numRowsAffected();
    *rows -= m_pruned;
    return true;
}

bool TokenStore::apply(const QList<Change> &changes)
{
    if (!m_open && !open())
        return false;
    m_pruned = 0;
    // One write per token however many messages of the batch hold it. The
    // clock of `seen` is the number of messages learned.
    QHash<quint64, Delta> deltas;
    qint64 clock = qint64(m_spamMessages) + qint64(m_hamMessages);
    for (const Change &change : changes) {
        const bool spam = change.label == Label::Spam;
        const qint64 seen = change.direction > 0 ? ++clock : 0;
        for (const QString &token : change.tokens) {
            Delta &d = deltas[tokenId(token)];
            if (d.token.isEmpty())
                d.token = token;
            (spam ? d.spam : d.ham) += change.direction;
            d.seen = qMax(d.seen, seen);
        }
    }

    Counts messages;
    const bool committed = m_database.transaction([&](QSqlDatabase &db) {
        QSqlQuery addMessage(db);
        QSqlQuery removeMessage(db);
        QSqlQuery upsert(db);
        QSqlQuery update(db);
        QSqlQuery removeEmpty(db);
        // Writes come first: a read would take a snapshot that another
        // process's commit could make too old to write from.
        if (!addMessage.prepare(u"INSERT OR REPLACE INTO learned_messages (digest, label) VALUES (?, ?)"_s)
            || !removeMessage.prepare(u"DELETE FROM learned_messages WHERE digest = ?"_s)
            || !upsert.prepare(u"INSERT INTO learned_tokens (id, token, spam, ham, seen) VALUES (?, ?, ?, ?, ?)"
                               " ON CONFLICT (id) DO UPDATE SET spam = spam + excluded.spam,"
                               " ham = ham + excluded.ham, seen = max(seen, excluded.seen)"_s)
            || !update.prepare(u"UPDATE learned_tokens SET spam = max(0, spam + ?), ham = max(0, ham + ?),"
                               " seen = max(seen, ?) WHERE id = ?"_s)
            || !removeEmpty.prepare(u"DELETE FROM learned_tokens WHERE id = ? AND spam = 0 AND ham = 0"_s)) {
            m_database.setError(db.lastError().text());
            return false;
        }
        for (const Change &change : changes) {
            QSqlQuery &q = change.direction > 0 ? addMessage : removeMessage;
            q.addBindValue(change.digest);
            if (change.direction > 0)
                q.addBindValue(int(change.label));
            if (!q.exec()) {
                m_database.setError(q.lastError().text());
                return false;
            }
        }
        const auto run = [&](QSqlQuery &q, const QVariantList &values) {
            for (const QVariant &value : values)
                q.addBindValue(value);
            if (q.exec())
                return true;
            m_database.setError(q.lastError().text());
            return false;
        };
        for (auto it = deltas.cbegin(); it != deltas.cend(); ++it) {
            const qint64 id = qint64(it.key());
            if (it->spam >= 0 && it->ham >= 0) {
                if ((it->spam > 0 || it->ham > 0) && !run(upsert, {id, it->token, it->spam, it->ham, it->seen}))
                    return false;
                continue;
            }
            // Taken back, or moved to the other label. A token pruned since
            // has nothing to take back; a token no learned message holds
            // any more has no row.
            if (!run(update, {it->spam, it->ham, it->seen, id}))
                return false;
            if (update.numRowsAffected() == 0 && (it->spam > 0 || it->ham > 0)
                && !run(upsert, {id, it->token, qMax<qint64>(0, it->spam), qMax<qint64>(0, it->ham), it->seen}))
                return false;
            if (!run(removeEmpty, {id}))
                return false;
        }
        QSqlQuery count(db);
        if (!readMessageCounts(count, &messages)) {
            m_database.setError(count.lastError().text());
            return false;
        }
        qint64 rows = 0;
        return prune(db, &rows);
    });
    if (!committed) {
        m_error = m_database.errorText();
        m_pruned = 0;
        return false;
    }
    if (m_pruned > 0) {
        m_cache.clear();
    } else {
        for (auto it = deltas.cbegin(); it != deltas.cend(); ++it)
            m_cache.remove(it.key());
    }
    m_spamMessages = messages.spam;
    m_hamMessages = messages.ham;
    return true;
}

} // namespace Scan
