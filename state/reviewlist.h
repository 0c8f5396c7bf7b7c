#pragma once
// The condemned messages and what became of them, for the Spam tab: why each
// was condemned, whether it is held on the server, deleted, kept, or waiting
// to be deleted at its account's next scan. Messages are named by account and
// unique id (UIDL), never by number, which changes between sessions. Also the
// messages the user said were not spam, which are never condemned again, and
// those the learned filter was unsure of, left on the server for the user.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

class StateDatabase;

class ReviewList final
{
    Q_DISABLE_COPY_MOVE(ReviewList)

public:
    enum class State {
        Held = 0,            // archived and left on the server
        Deleted = 1,         // the server confirmed the deletion
        Kept = 2,            // the user said it was not spam
        DeleteRequested = 3, // to be deleted at the account's next scan
        Gone = 4,            // no longer on the server when it was to be deleted
        // The learned filter was unsure: left on the server, not archived,
        // until the user says spam or not spam.
        Unsure = 5,
    };

    struct Message
    {
        qint64 id = 0;
        QString server;
        QString login;
        QString uid;
        QDateTime judged;
        QString sent; // the Date header as the message has it
        QString sender;
        QString subject;
        qint64 size = 0;
        QString archiveFile; // name of the archive copy in SpamDeleted
        QString rule;        // "whitelist", "blacklist", "sender IP", "keyword", "learned filter"
        QString entry;       // the list entry or score that matched
        QString matchedIn;   // "sender", "subject", "body"
        State state = State::Held;
        // What names the message besides its uid, which a server may reuse
        // or give twice: the SHA-1 (hex) of its header block and its size as
        // fetched. Empty and -1 in rows judged before they were kept.
        QString fingerprint;
        qint64 fetchedSize = -1;
        // To be deleted on the scan's own verdict, not at the user's word: a
        // later scan deletes it only while the settings still delete such verdicts.
        bool byScan = false;
    };

    // What a scan must know of an account before it deletes anything.
    struct AccountKnowledge
    {
        QList<Message> toDelete;
        QSet<QString> heldUids;
        QSet<QString> heldFingerprints;
        QSet<QString> notSpamUids;
        QSet<QString> keptFingerprints; // of the messages the user said were not spam
        QList<Message> unsure;
    };
    // What the learned filter is taught of an unsure message: no copy of it
    // is kept, only what learning reads.
    struct UnsureWords
    {
        QByteArray digest;
        QStringList tokens;
    };

    explicit ReviewList(StateDatabase &database);

    qint64 add(const Message &message); // the new id, or 0
    // An unsure message and its words, in one commit; the new id, or 0.
    qint64 addUnsure(const Message &message, const UnsureWords &words);
    // The words kept of a message listed as unsure: kept while it is on the
    // server, whatever the user said of it since, as it has no archive copy.
    std::optional<UnsureWords> unsureWords(qint64 id) const;
    // A deletion asked for is the user's latest word: the message is no
    // longer remembered as not spam, nor its deletion the scan's own. A row
    // whose message left the server (deleted, gone) lets its words go.
    bool setState(const QList<qint64> &ids, State state);
    // Kept, and remembered by account and uid so that it is never condemned
    // again; rows already deleted or gone stay as they are.
    bool markNotSpam(const QList<qint64> &ids);
    bool isNotSpam(const QString &server, const QString &login, const QString &uid) const;

    QList<Message> all() const;      // newest first
    qint64 count(State state) const; // -1 when the list cannot be read
    QList<Message> toDelete(const QString &server, const QString &login) const;
    // The account's messages in a state, and those it must never condemn.
    QSet<QString> uids(const QString &server, const QString &login, State state) const;
    QSet<QString> notSpamUids(const QString &server, const QString &login) const;
    std::optional<Message> byId(qint64 id) const;
    // All of it in one read; nothing when the database could not be read.
    std::optional<AccountKnowledge> knowledge(const QString &server, const QString &login) const;

    static QString stateText(State state);
    QString errorText() const { return m_error; }

private:
    // Sets *ok to false (and errorText()) when the query fails.
    QList<Message> select(const QString &where, const QVariantList &values, bool *ok = nullptr) const;

    // False, with errorText() set, when the list cannot be read.
    bool readNotSpamUids(const QString &server, const QString &login, QSet<QString> *found) const;

    StateDatabase &m_database;
    mutable QString m_error;
};
