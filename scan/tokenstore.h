#pragma once
// The learned filter's counts: per token, in how many learned spam and ham
// messages it occurs, and which messages were learned with which label. The
// counts live in the state database and, for classifying at the speed of a
// scan, in memory; memory follows the database only after a commit, so a
// failed or interrupted batch leaves both at the previous batch.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

class StateDatabase;

namespace Scan {

class TokenStore final
{
    Q_DISABLE_COPY_MOVE(TokenStore)

public:
    enum class Label { Ham = 0,
                       Spam = 1 };

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

    explicit TokenStore(StateDatabase &database);

    // How many spam and ham messages are learned, without loading the counts.
    static Counts learnedMessages(StateDatabase &database);

    // Reads the counts into memory (the database must be open).
    bool load();
    bool isLoaded() const { return m_loaded; }

    // All changes in one transaction; nothing of them on failure.
    bool apply(const QList<Change> &changes);

    Counts counts(QStringView token) const { return m_counts.value(tokenId(token)); }
    Counts counts(quint64 id) const { return m_counts.value(id); }
    quint32 spamMessages() const { return m_spamMessages; }
    quint32 hamMessages() const { return m_hamMessages; }
    qsizetype tokenCount() const { return m_counts.size(); }
    std::optional<Label> labelOf(const QByteArray &digest) const;

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
    StateDatabase &m_database;
    QHash<quint64, Counts> m_counts;
    QHash<QByteArray, Label> m_messages;
    quint32 m_spamMessages = 0;
    quint32 m_hamMessages = 0;
    bool m_loaded = false;
    QString m_error;
};

} // namespace Scan
