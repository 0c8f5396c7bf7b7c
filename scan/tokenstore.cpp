#include "scan/tokenstore.h"

#include "config/statedatabase.h"

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
};

quint32 clamped(qint64 value)
{
    return quint32(qBound<qint64>(0, value, std::numeric_limits<quint32>::max()));
}

} // namespace

TokenStore::TokenStore(StateDatabase &database)
    : m_database(database)
{
}

TokenStore::Counts TokenStore::learnedMessages(StateDatabase &database)
{
    Counts counts;
    QSqlQuery query(database.connection());
    if (!query.exec(u"SELECT label, COUNT(*) FROM learned_messages GROUP BY label"_s))
        return counts;
    while (query.next())
        (query.value(0).toInt() == int(Label::Spam) ? counts.spam : counts.ham) = clamped(query.value(1).toLongLong());
    return counts;
}

bool TokenStore::load()
{
    m_counts.clear();
    m_messages.clear();
    m_spamMessages = m_hamMessages = 0;
    m_loaded = false;
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    if (!query.exec(u"SELECT id, spam, ham FROM learned_tokens"_s)) {
        m_error = query.lastError().text();
        return false;
    }
    while (query.next()) {
        m_counts.insert(quint64(query.value(0).toLongLong()),
                        Counts{clamped(query.value(1).toLongLong()), clamped(query.value(2).toLongLong())});
    }
    if (!query.exec(u"SELECT digest, label FROM learned_messages"_s)) {
        m_error = query.lastError().text();
        return false;
    }
    while (query.next()) {
        const Label label = query.value(1).toInt() == int(Label::Spam) ? Label::Spam : Label::Ham;
        m_messages.insert(query.value(0).toByteArray(), label);
        ++(label == Label::Spam ? m_spamMessages : m_hamMessages);
    }
    m_loaded = true;
    return true;
}

std::optional<TokenStore::Label> TokenStore::labelOf(const QByteArray &digest) const
{
    const auto it = m_messages.constFind(digest);
    if (it == m_messages.cend())
        return std::nullopt;
    return it.value();
}

bool TokenStore::apply(const QList<Change> &changes)
{
    if (!m_loaded && !load())
        return false;
    // One write per token however many messages of the batch hold it.
    QHash<quint64, Delta> deltas;
    qint64 spamMessages = m_spamMessages;
    qint64 hamMessages = m_hamMessages;
    for (const Change &change : changes) {
        const bool spam = change.label == Label::Spam;
        (spam ? spamMessages : hamMessages) += change.direction;
        for (const QString &token : change.tokens) {
            Delta &d = deltas[tokenId(token)];
            if (d.token.isEmpty())
                d.token = token;
            (spam ? d.spam : d.ham) += change.direction;
        }
    }

    QHash<quint64, Counts> after;
    after.reserve(deltas.size());
    const bool committed = m_database.transaction([&](QSqlDatabase &db) {
        QSqlQuery addMessage(db);
        QSqlQuery removeMessage(db);
        QSqlQuery insert(db);
        QSqlQuery update(db);
        QSqlQuery remove(db);
        if (!addMessage.prepare(u"INSERT OR REPLACE INTO learned_messages (digest, label) VALUES (?, ?)"_s)
            || !removeMessage.prepare(u"DELETE FROM learned_messages WHERE digest = ?"_s)
            || !insert.prepare(u"INSERT INTO learned_tokens (id, token, spam, ham) VALUES (?, ?, ?, ?)"_s)
            || !update.prepare(u"UPDATE learned_tokens SET spam = ?, ham = ? WHERE id = ?"_s)
            || !remove.prepare(u"DELETE FROM learned_tokens WHERE id = ?"_s)) {
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
        for (auto it = deltas.cbegin(); it != deltas.cend(); ++it) {
            const auto known = m_counts.constFind(it.key());
            const Counts before = known == m_counts.cend() ? Counts{} : known.value();
            const Counts now{clamped(qint64(before.spam) + it->spam), clamped(qint64(before.ham) + it->ham)};
            const qint64 id = qint64(it.key());
            QSqlQuery *q;
            if (now.spam == 0 && now.ham == 0) {
                if (known == m_counts.cend())
                    continue;
                q = &remove;
                q->addBindValue(id);
            } else if (known == m_counts.cend()) {
                q = &insert;
                q->addBindValue(id);
                q->addBindValue(it->token);
                q->addBindValue(qint64(now.spam));
                q->addBindValue(qint64(now.ham));
            } else {
                q = &update;
                q->addBindValue(qint64(now.spam));
                q->addBindValue(qint64(now.ham));
                q->addBindValue(id);
            }
            if (!q->exec()) {
                m_database.setError(q->lastError().text());
                return false;
            }
            after.insert(it.key(), now);
        }
        return true;
    });
    if (!committed) {
        m_error = m_database.errorText();
        return false;
    }

    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (it->spam == 0 && it->ham == 0)
            m_counts.remove(it.key());
        else
            m_counts.insert(it.key(), it.value());
    }
    for (const Change &change : changes) {
        if (change.direction > 0)
            m_messages.insert(change.digest, change.label);
        else
            m_messages.remove(change.digest);
    }
    m_spamMessages = clamped(spamMessages);
    m_hamMessages = clamped(hamMessages);
    return true;
}

} // namespace Scan
