#pragma once
// The scan over every account and message of a form, driving the hosted
// control only through its automation interface.

#include "accountresult.h"
#include "keywordmatcher.h"
#include "listentries.h"
#include "spamarchive.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

class ScanForm;

namespace Scan {

class MailboxScanner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailboxScanner)

public:
    explicit MailboxScanner(ScanForm &form, QObject *parent = nullptr);

    // Runs one whole scan; returns when it has ended.
    void run();
    // One entry per account row the last run reached, in row order.
    const QList<AccountResult> &results() const { return m_results; }

    // The design limit of message numbers and list sizes (16-bit).
    static constexpr int MaxCount = 32767;

Q_SIGNALS:
    // Every status caption, in the order the scan writes it.
    void captionWritten(const QString &caption);

private:
    void scanAccount(int row);
    void scanMessage(qint16 number);
    bool whitelisted(const QString &from);
    bool blacklisted(const QString &from);
    // Whether from contains an entry of the list, with a caption for every entry tried.
    bool listed(ListEntries &list, const QString &from);
    void showSenderIp();
    bool keywordMatched();
    bool keywordMatchedFrom(int index);
    void spamAction();
    // The current account's result: a message walked (and whether the session
    // was lost on it), and the end of its session.
    void noteScanned();
    void noteSessionEnd(bool quitting);
    void noteFailure(const QString &why);

    void setCaption(const QString &caption);
    // The rules' captions are built only when someone reads them: a listener,
    // or the status line at the next flush.
    void setFromCaption(const QString &from, const QString &entry);
    void setKeywordCaption(const QString &entry, bool body);
    // Returns whether events were processed (so lists and listeners may have changed).
    bool yield();
    void flushCaption();

    ScanForm &m_form;
    QString m_caption;
    bool m_captionPending = false;
    QElapsedTimer m_sinceYield;
    ScannedTotal m_scanned;
    // The control's port as saved with the window, read at the start of a
    // scan: accounts without a port of their own get it back.
    qint32 m_savedPort = 110;
    QList<AccountResult> m_results;
    int m_markedForDeletion = 0;  // in the current session

    // The current message, upper-cased as the rules compare it.
    QString m_from;
    QString m_fromUpper;
    QString m_subjectUpper;
    QString m_bodyUpper;
    bool m_haveSubject = false;
    bool m_haveBody = false;

    ListEntries m_whitelist;
    ListEntries m_blacklist;
    ListEntries m_keywords;
    KeywordMatcher m_matcher;
    quint64 m_matcherGeneration = 0;

    enum class CaptionKind { Text, From, Keyword };
    CaptionKind m_captionKind = CaptionKind::Text;
    QString m_captionSubject;  // the From text of a From caption
    QString m_captionEntry;
    bool m_captionBody = false;
};

} // namespace Scan
