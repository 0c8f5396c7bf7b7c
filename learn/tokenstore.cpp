#include "learn/tokenstore.h"

#include "learn/tokenizer.h"
#include "state/statedatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

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

bool TokenStore::fetch(const QList<quint64> &ids, QList<Counts> *counts) const
{
    if (counts)
        *counts = QList<Counts>(ids.size());
    // Each id is looked up in the cache once; the others, by their place.
    QList<qsizetype> missing;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const auto it = m_cache.constFind(ids.at(i));
        if (it == m_cache.cend())
            missing.append(i);
        else if (counts)
            (*counts)[i] = it.value();
    }
    if (missing.isEmpty())
        return true;
    // The counts at hand were copied out: making room loses nothing.
    if (m_cache.size() + missing.size() > MaxCachedTokens)
        m_cache.clear();
    // The statement is prepared once per connection: preparing it cost more
    // than the look-ups of a message. The ids go in as one JSON array and
    // the rows come back as one text, as Qt's work per row outweighs
    // SQLite's.
    const QSqlDatabase db = m_database.connection();
    const auto prepareLookup = [&] {
        m_lookup = std::make_unique<QSqlQuery>(db);
        m_lookup->setForwardOnly(true);
        return m_lookup->prepare(u"SELECT group_concat(t.id || ' ' || t.spam || ' ' || t.ham, ' ')"
                                 " FROM json_each(?) AS j JOIN learned_tokens AS t ON t.id = j.value"_s);
    };
    bool fresh = false;
    if (!m_lookup || m_lookup->driver() != db.driver()) {
        if (!prepareLookup()) {
            m_error = m_lookup->lastError().text();
            m_lookup.reset();
            return false;
        }
        fresh = true;
    }
    QString list;
    list.reserve(missing.size() * 21 + 2);
    list += u'[';
    for (qsizetype i = 0; i < missing.size(); ++i) {
        if (i > 0)
            list += u',';
        list += QString::number(qint64(ids.at(missing.at(i))));
    }
    list += u']';
    const auto run = [&] {
        m_lookup->addBindValue(list);
        return m_lookup->exec() && m_lookup->next();
    };
    // A statement kept from before the connection was closed and opened
    // again is prepared anew.
    if (!run() && (fresh || !prepareLookup() || !run())) {
        m_error = m_lookup->lastError().text();
        m_lookup.reset();
        return false;
    }
    const QString rows = m_lookup->value(0).toString();
    // Done with it: a statement left open keeps a read that stops the log
    // from being written back into the database.
    m_lookup->finish();
    QHash<quint64, Counts> found;
    const QList<QStringView> fields = QStringView(rows).split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 2 < fields.size(); i += 3) {
        found.insert(quint64(fields.at(i).toLongLong()),
                     Counts{clamped(fields.at(i + 1).toLongLong()), clamped(fields.at(i + 2).toLongLong())});
    }
    for (qsizetype i : std::as_const(missing)) {
        const Counts c = found.value(ids.at(i));
        m_cache.insert(ids.at(i), c);
        if (counts)
            (*counts)[i] = c;
    }
    return true;
}

TokenStore::Counts TokenStore::counts(quint64 id) const
{
    QList<Counts> counts;
    fetch({id}, &counts);
    return counts.constFirst();
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
    QHash<quint64, Delta> deltas;
    Counts messages;
    const bool committed = m_database.transaction([&](QSqlDatabase &db) {
        deltas.clear();
        QSqlQuery addMessage(db);
        QSqlQuery removeMessage(db);
        QSqlQuery upsert(db);
        QSqlQuery update(db);
        QSqlQuery removeEmpty(db);
        // Writes come first: a read would take a snapshot that another
        // process's commit could make too old to write from.
        // Each change takes effect only if the message is still as the
        // caller found it: another process may have learned, moved or
        // forgotten it since, and its tokens must not count twice.
        if (!addMessage.prepare(u"INSERT INTO learned_messages (digest, label, tokenizer) VALUES (?, ?, ?)"
                                " ON CONFLICT (digest) DO UPDATE SET label = excluded.label,"
                                " tokenizer = excluded.tokenizer WHERE label <> excluded.label"_s)
            || !removeMessage.prepare(
                u"DELETE FROM learned_messages WHERE digest = ? AND label = ? RETURNING tokenizer"_s)
            || !upsert.prepare(u"INSERT INTO learned_tokens (id, token, spam, ham, seen) VALUES (?, ?, ?, ?, ?)"
                               " ON CONFLICT (id) DO UPDATE SET spam = spam + excluded.spam,"
                               " ham = ham + excluded.ham, seen = max(seen, excluded.seen)"_s)
            || !update.prepare(u"UPDATE learned_tokens SET spam = max(0, spam + ?), ham = max(0, ham + ?),"
                               " seen = max(seen, ?) WHERE id = ?"_s)
            || !removeEmpty.prepare(u"DELETE FROM learned_tokens WHERE id = ? AND spam = 0 AND ham = 0"_s)) {
            m_database.setError(db.lastError().text());
            return false;
        }
        // One write per token however many messages of the batch hold it.
        // The clock of `seen` is the number of messages learned.
        qint64 clock = qint64(m_spamMessages) + qint64(m_hamMessages);
        for (const Change &change : changes) {
            const bool adding = change.direction > 0;
            QSqlQuery &q = adding ? addMessage : removeMessage;
            q.addBindValue(change.digest);
            q.addBindValue(int(change.label));
            if (adding)
                q.addBindValue(Tokenizer::Version);
            if (!q.exec()) {
                m_database.setError(q.lastError().text());
                return false;
            }
            // What is taken back must be what was added: tokens of another
            // version of the tokenizer would take other messages' counts.
            const bool applies =
                adding ? q.numRowsAffected() > 0 : q.next() && q.value(0).toInt() == Tokenizer::Version;
            q.finish();
            if (!applies)
                continue;
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
