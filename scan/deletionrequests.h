#pragma once
// The review bookkeeping of one account's walk: what the user decided
// earlier (held, kept, to be deleted) or has still to decide (unsure), and
// what the walk learns of the mailbox to delete by unique id safely: every
// id it meets and how often, and the message found under each id the user
// asked to delete.

#include "state/reviewlist.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace Scan {

class DeletionRequests final
{
public:
    // A new account: what the review list knows of it (nothing when it cannot be read).
    void start(const ReviewList::AccountKnowledge &known = {});

    // A message walked, under the server's id or one made from its fingerprint.
    void seen(const QString &uid, const QString &fingerprint);
    // A message whose selection failed: its id as the control asked for it
    // before the failure, or nothing when the server gave none.
    void uidSeen(const QString &uid) { ++m_uidsSeen[uid]; }
    void uidUnknown() { m_uidsComplete = false; }
    // Deletions by unique id need to know every id of the mailbox.
    bool uidsComplete() const { return m_uidsComplete; }
    // A message "check each message only once" passed over: its id is in no
    // row to be deleted and the listing named it once; only the deletions by
    // unique id look for its fingerprint.
    void passedOver(const QString &fingerprint)
    {
        if (!m_requested.isEmpty())
            m_fingerprintsSeen.insert(fingerprint);
    }
    // The ids whose fate the review list holds: held, unsure, not spam, to be deleted.
    QSet<QString> decidedUids() const;
    // How often each id came up in the walk.
    const QHash<QString, int> &uidsSeen() const { return m_uidsSeen; }

    // The message's fate was decided earlier: to be deleted (the deletion
    // waits for the end of the walk), held, unsure (listed once, waiting for
    // the user), or not spam. `whitelisted` says whether its sender is on
    // the whitelist now.
    bool decidedBefore(const QString &uid, qint16 number, const QString &fingerprint, qint64 fetchedSize,
                       const std::function<bool()> &whitelisted);

    bool isEmpty() const { return m_requested.isEmpty(); }

    // A message to delete: found once under its id, with the fingerprint
    // and size it was judged with.
    struct Due
    {
        QString uid;
        qint16 number = 0;
        QList<qint64> rows;
        QString fingerprint;
    };
    struct Sorted
    {
        QList<Due> due;
        QList<qint64> gone;        // rows of messages no longer on the server
        QList<qint64> whitelisted; // rows kept because of the whitelist, held again
        QStringList reports;       // why the others were left on the server, in order
    };
    // Once the walk knows every unique id of the mailbox on `host`.
    Sorted sort(const QString &host) const;
    // Once the walk knows every unique id: the unsure rows whose message the
    // server no longer has, under its id or its headers.
    QList<qint64> unsureGone() const;

private:
    // A message found under the uid of a row to be deleted.
    struct Candidate
    {
        qint16 number = 0;
        QList<qint64> rows;  // the rows whose fingerprint and size it matches
        bool unnamed = true; // no row of the uid has a fingerprint
        bool whitelisted = false;
        QString fingerprint;
    };

    // The account's rows to be deleted, by uid.
    QHash<QString, QList<ReviewList::Message>> m_requested;
    QSet<QString> m_requestedFingerprints;
    QSet<QString> m_unsureUids;
    QSet<QString> m_unsureFingerprints;
    QHash<QString, Candidate> m_candidates;
    QHash<QString, int> m_uidsSeen; // how often each uid came up in the walk
    QSet<QString> m_fingerprintsSeen;
    bool m_uidsComplete = true; // every message walked had its uid known
    ReviewList::AccountKnowledge m_known;
};

} // namespace Scan
