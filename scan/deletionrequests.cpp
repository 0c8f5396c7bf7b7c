#include "scan/deletionrequests.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Scan {

void DeletionRequests::start(const ReviewList::AccountKnowledge &known)
{
    m_requested.clear();
    m_requestedFingerprints.clear();
    m_unsureUids.clear();
    m_unsureFingerprints.clear();
    m_candidates.clear();
    m_uidsSeen.clear();
    m_fingerprintsSeen.clear();
    m_uidsComplete = true;
    m_known = known;
    for (const ReviewList::Message &m : std::as_const(m_known.toDelete)) {
        m_requested[m.uid].append(m);
        if (!m.fingerprint.isEmpty())
            m_requestedFingerprints.insert(m.fingerprint);
    }
    for (const ReviewList::Message &m : std::as_const(m_known.unsure)) {
        m_unsureUids.insert(m.uid);
        if (!m.fingerprint.isEmpty())
            m_unsureFingerprints.insert(m.fingerprint);
    }
}

void DeletionRequests::seen(const QString &uid, const QString &fingerprint)
{
    m_fingerprintsSeen.insert(fingerprint);
    ++m_uidsSeen[uid];
}

QSet<QString> DeletionRequests::decidedUids() const
{
    QSet<QString> decided = m_known.heldUids + m_known.notSpamUids + m_unsureUids;
    for (auto it = m_requested.cbegin(); it != m_requested.cend(); ++it)
        decided.insert(it.key());
    return decided;
}

bool DeletionRequests::decidedBefore(const QString &uid, qint16 number, const QString &fingerprint, qint64 fetchedSize,
                                     const std::function<bool()> &whitelisted)
{
    if (uid.isEmpty())
        return false;
    if (const auto rows = m_requested.constFind(uid); rows != m_requested.cend()) {
        // The user asked for it to go: no second judgement, no second copy;
        // the deletion waits until the walk knows whether the id is unique.
        Candidate found;
        found.number = number;
        found.fingerprint = fingerprint;
        for (const ReviewList::Message &m : *rows) {
            if (m.fingerprint.isEmpty())
                continue;
            found.unnamed = false;
            if (m.fingerprint == fingerprint && m.fetchedSize == fetchedSize)
                found.rows.append(m.id);
        }
        // A row without a fingerprint cannot tell: the message is left alone.
        if (!found.rows.isEmpty() || found.unnamed) {
            found.whitelisted = whitelisted();
            if (!m_candidates.contains(uid))
                m_candidates.insert(uid, found);
            return true;
        }
        // Another message under the same id: judged as any other.
        if (!m_candidates.contains(uid))
            m_candidates.insert(uid, found);
    }
    // A message the user held, kept or asked to delete is known by its
    // headers too, whatever id the server gives it now.
    return m_known.heldUids.contains(uid) || m_known.notSpamUids.contains(uid)
           || m_known.heldFingerprints.contains(fingerprint) || m_known.keptFingerprints.contains(fingerprint)
           || m_requestedFingerprints.contains(fingerprint) || m_unsureUids.contains(uid)
           || m_unsureFingerprints.contains(fingerprint);
}

QList<qint64> DeletionRequests::unsureGone() const
{
    QList<qint64> gone;
    for (const ReviewList::Message &m : m_known.unsure) {
        if (!m_uidsSeen.contains(m.uid) && (m.fingerprint.isEmpty() || !m_fingerprintsSeen.contains(m.fingerprint)))
            gone.append(m.id);
    }
    return gone;
}

DeletionRequests::Sorted DeletionRequests::sort(const QString &host) const
{
    Sorted sorted;
    for (auto it = m_requested.cbegin(); it != m_requested.cend(); ++it) {
        const QString &uid = it.key();
        const int seen = m_uidsSeen.value(uid);
        if (seen == 0) {
            const bool elsewhere =
                std::any_of(it.value().cbegin(), it.value().cend(), [this](const ReviewList::Message &m) {
                    return !m.fingerprint.isEmpty() && m_fingerprintsSeen.contains(m.fingerprint);
                });
            if (elsewhere) {
                sorted.reports.append(
                    u"%1: a message to be deleted is on the server under another unique id; it was left there."_s.arg(
                        host));
            } else {
                for (const ReviewList::Message &m : it.value())
                    sorted.gone.append(m.id);
            }
            continue;
        }
        if (seen > 1) {
            sorted.reports.append(
                u"%1: %2 messages share the unique id of a message to be deleted; none of them was deleted."_s.arg(host)
                    .arg(seen));
            continue;
        }
        const Candidate found = m_candidates.value(uid);
        if (!m_candidates.contains(uid)) {
            sorted.reports.append(
                u"%1: a message to be deleted could not be fetched to check that it is the one judged; it was left on the server."_s
                    .arg(host));
        } else if (found.unnamed) {
            sorted.reports.append(
                u"%1: a message to be deleted was judged by an earlier version, which kept no fingerprint of it;"
                " it is not deleted by its unique id alone."_s.arg(host));
        } else if (found.rows.isEmpty()) {
            sorted.reports.append(
                u"%1: the message now under the unique id of a message to be deleted is another one; it was not deleted."_s
                    .arg(host));
        } else if (found.whitelisted) {
            sorted.whitelisted += found.rows;
            sorted.reports.append(
                u"%1: a message to be deleted is from a sender now on the whitelist; it was kept."_s.arg(host));
        } else {
            sorted.due.append({uid, found.number, found.rows, found.fingerprint});
        }
    }
    return sorted;
}

} // namespace Scan
