#pragma once
// The learned filter's counts: per token, in how many learned spam and ham
// messages it occurs, and which messages were learned with which label. The
// counts live in the state database only; a scan reads the counts of the
// tokens its messages hold, through a small cache, so opening costs the
// same however much was learned. The store is bounded: past MaxTokens rows
// the rarest tokens are pruned, the least recently learned first, in the
// transaction of the batch that grew it.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>

class StateDatabase;

namespace Scan {

class TokenStore final
{
    Q_DISABLE_COPY_MOVE(TokenStore)

public:
    enum class Label { Ham = 0, Spam = 1 };

    struct Counts
    {
        quint32 spam = 0;
        quint32 ham = 0;
    };

    // One message learned (+1) or unlearned (-1) with a label.
    struct Change
    {
        QByteArray digest;
        QStringList tokens; // distinct
        Label label = Label::Spam;
        int direction = 1;
    };

    // About 16 MB of disk at most (bench/results.md). Pruning takes the
    // store down to three quarters of it, so it runs once in many batches.
    static constexpr qint64 DefaultMaxTokens = 300000;
    // Counts a scan keeps at hand: the common words of the mail it reads.
    static constexpr qsizetype MaxCachedTokens = 65536;

    explicit TokenStore(StateDatabase &database);

    // How many spam and ham messages are learned.
    static Counts learnedMessages(StateDatabase &database);

    // Reads the numbers of learned messages (the database must be open);
    // token counts are read when a message needs them.
    bool open();
    bool isOpen() const { return m_open; }

    // All changes in one transaction, pruning included; nothing of them on
    // failure.
    bool apply(const QList<Change> &changes);

    // The counts of these tokens, in their order (into `counts` when given);
    // those not at hand yet are read in one statement. False (errorText())
    // when the database cannot be read: the tokens then count as never
    // learned, which condemns nothing.
    bool fetch(const QList<quint64> &ids, QList<Counts> *counts = nullptr) const;
    Counts counts(QStringView token) const { return counts(tokenId(token)); }
    Counts counts(quint64 id) const;
    quint32 spamMessages() const { return m_spamMessages; }
    quint32 hamMessages() const { return m_hamMessages; }
    // Rows in the database.
    qint64 tokenCount() const;
    std::optional<Label> labelOf(const QByteArray &digest) const;

    // Past maxTokens rows a batch prunes down to three quarters of it.
    void setMaxTokens(qint64 maxTokens) { m_maxTokens = maxTokens; }
    qint64 maxTokens() const { return m_maxTokens; }
    // Rows the last pruning removed (0 when the last batch did not prune).
    qint64 pruned() const { return m_pruned; }

    QString errorText() const { return m_error; }

    // The key of a token in memory and in the database; never changes, as
    // stored counts depend on it. FNV-1a, so the key of a + b is that of b
    // continued from the key of a; `lowerAscii` hashes b's ASCII letters as
    // lower case without copying it.
    static constexpr quint64 IdBasis = 14695981039346656037ULL;
    static quint64 tokenId(QStringView token, quint64 from = IdBasis, bool lowerAscii = false)
    {
        quint64 hash = from;
        for (QChar c : token) {
            char16_t u = c.unicode();
            if (lowerAscii && u >= u'A' && u <= u'Z')
                u = char16_t(u + (u'a' - u'A'));
            hash = (hash ^ (u & 0xFF)) * 1099511628211ULL;
            hash = (hash ^ (u >> 8)) * 1099511628211ULL;
        }
        return hash;
    }

private:
    bool prune(QSqlDatabase &db, qint64 *rows);

    StateDatabase &m_database;
    mutable QHash<quint64, Counts> m_cache;
    mutable std::unique_ptr<QSqlQuery> m_lookup; // prepared on the first look-up
    quint32 m_spamMessages = 0;
    quint32 m_hamMessages = 0;
    qint64 m_maxTokens = DefaultMaxTokens;
    qint64 m_pruned = 0;
    bool m_open = false;
    mutable QString m_error;
};

} // namespace Scan
