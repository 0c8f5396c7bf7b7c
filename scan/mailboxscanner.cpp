#include "mailboxscanner.h"

#include "accountaddress.h"
#include "listtable.h"
#include "scanform.h"
#include "servertext.h"
#include "tarnpostproxy.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Painting and event processing are coalesced to this interval so a long
// list of keywords does not pay for a repaint per caption.
constexpr qint64 YieldIntervalMs = 20;

bool ruleOn(const QCheckBox *box)
{
    return box && box->checkState() == Qt::Checked;
}

int capped(qint64 count)
{
    return int(qBound<qint64>(0, count, qint64(MailboxScanner::MaxCount)));
}

} // namespace

MailboxScanner::MailboxScanner(ScanForm &form, QObject *parent)
    : QObject(parent)
    , m_form(form)
    , m_scanned(form.txttotalemailsever())
    , m_whitelist(form.gridwhitelist(), MaxCount)
    , m_blacklist(form.gridblacklist(), MaxCount)
    , m_keywords(form.gridkeywords(), MaxCount)
{
}

void MailboxScanner::run()
{
    m_sinceYield.start();
    m_results.clear();
    const int accounts = capped(m_form.gridAccounts()->rows());
    if (accounts == 0)
        return;

    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    m_savedPort = control.POPPort();
    for (int row = 1; row <= accounts; ++row)
        scanAccount(row);
    // The window keeps its own settings, whatever the last account asked for.
    control.setPOPPort(m_savedPort);
    control.setPOPSecurity(int(AccountAddress::Security::None));

    setCaption(u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s);
    flushCaption();
    m_form.writeStatistics();
}

void MailboxScanner::scanAccount(int row)
{
    ListTable *table = m_form.gridAccounts();
    if (row > table->rows())  // the list changed while the scan was yielding
        return;
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    m_results.append(AccountResult());
    m_results.last().server = table->cell(row, 1);
    m_results.last().login = table->cell(row, 2);
    m_markedForDeletion = 0;
    const AccountAddress address = AccountAddress::parse(table->cell(row, 1));
    if (!address.isValid()) {
        noteFailure(address.error());
        return;  // passed over like an account whose login fails
    }
    control.setPOPHostname(address.host());
    control.setPOPPort(address.portOr(m_savedPort));
    control.setPOPSecurity(int(address.security()));
    control.setPOPUsername(table->cell(row, 2));
    control.setPOPPassword(table->cell(row, 3));
    control.Connect();
    if (control.Error() != 0) {
        noteFailure(control.ErrorText());
        return;
    }

    const qint32 count = control.MsgCount();
    const int messages = capped(count);
    for (int n = 1; n <= messages; ++n)
        scanMessage(qint16(n));

    if (count > MaxCount) {
        setCaption(u"Only the first %1 of %2 messages in this mailbox were scanned."_s.arg(MaxCount).arg(count));
        flushCaption();
    }
    // Marked messages go only when the session ends with QUIT.
    const bool quitting = control.Status() == 1;
    control.Disconnect();
    noteSessionEnd(quitting);
}

void MailboxScanner::scanMessage(qint16 number)
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    m_haveSubject = false;
    m_haveBody = false;

    yield();
    qint16 selected = number;
    control.SetCurrentMsg(selected);
    if (control.Error() == 0) {
        control.RetrieveCurrentMsg();
        yield();
        if (control.Error() == 0) {
            m_from = decodeServerText(control.MsgFrom());
            m_fromUpper = upperCased(m_from);
            if (!whitelisted(m_fromUpper) && !blacklisted(m_fromUpper)) {
                showSenderIp();
                if (keywordMatched())
                    spamAction();
            }
        }
    }
    m_scanned.count();
    noteScanned();
}

void MailboxScanner::noteScanned()
{
    AccountResult &result = m_results.last();
    ++result.scanned;
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    if (control.Status() != 1)
        noteFailure(control.ErrorText());
}

void MailboxScanner::noteSessionEnd(bool quitting)
{
    AccountResult &result = m_results.last();
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    if (quitting && control.Error() == 0)
        result.deleted = m_markedForDeletion;
    else if (control.Error() != 0)
        noteFailure(control.ErrorText());
    else if (m_markedForDeletion > 0)
        noteFailure(u"The session ended before QUIT: the messages marked for deletion stay on the server."_s);
}

void MailboxScanner::noteFailure(const QString &why)
{
    // The first failure is the one that cost the account; a reply keeps its line end.
    AccountResult &result = m_results.last();
    if (result.error.isEmpty())
        result.error = why.trimmed();
}

bool MailboxScanner::whitelisted(const QString &from)
{
    if (!ruleOn(m_form.checkwhitelist()) || !listed(m_whitelist, from))
        return false;
    setCaption(u"WHITELIST ADDRESS DETECTED"_s);
    return true;
}

bool MailboxScanner::blacklisted(const QString &from)
{
    if (!ruleOn(m_form.checkblacklist()) || !listed(m_blacklist, from))
        return false;
    spamAction();
    return true;
}

bool MailboxScanner::listed(ListEntries &list, const QString &from)
{
    // The list is read again at every entry: a yield may have changed it.
    for (int k = 0; k < list.upper().size(); ++k) {
        const QString entry = list.upper().at(k);
        setFromCaption(from, entry);
        yield();
        if (containsEntry(from, entry))
            return true;
    }
    return false;
}

void MailboxScanner::showSenderIp()
{
    if (!ruleOn(m_form.checkspamcop()))
        return;
    const QString received = upperCased(decodeServerText(m_form.Tarnpost1().GetOtherHeader(u"Received:"_s)));
    if (!received.contains(u"FROM ["_s))
        return;
    // Without a closing bracket the address is the rest of the line.
    const qsizetype close = received.indexOf(u']');
    const QString head = close < 0 ? received : received.left(close);
    const qsizetype open = head.indexOf(u'[');
    const QString address = open < 0 ? head : head.mid(open + 1);
    setCaption(u"CHECKING IP ADDRESS "_s + address);
}

bool MailboxScanner::keywordMatched()
{
    if (!ruleOn(m_form.checkkeywords()))
        return false;
    const quint64 generation = m_keywords.generation();
    const QStringList entries = m_keywords.upper();
    if (entries.isEmpty())
        return false;
    if (m_matcherGeneration != generation) {
        m_matcher.build(entries);
        m_matcherGeneration = generation;
    }
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    if (!m_haveSubject) {
        m_subjectUpper = upperCased(decodeServerText(control.MsgSubject()));
        m_haveSubject = true;
    }
    // Entries are tried in order, each on the subject and then on the body;
    // the matcher finds the first hit of each text in one pass, and the
    // captions of the entries tried before it are still written in order.
    const int inSubject = m_matcher.firstMatch(m_subjectUpper);
    int inBody = KeywordMatcher::NoMatch;
    if (inSubject != 0) {
        if (!m_haveBody) {
            m_bodyUpper = upperCased(decodeServerText(control.MsgContents()));
            m_haveBody = true;
        }
        inBody = m_matcher.firstMatch(m_bodyUpper);
    }
    // Without a listener only the caption standing at a flush is ever seen, so
    // most are skipped: a long list then costs next to nothing per entry.
    bool listening = isSignalConnected(QMetaMethod::fromSignal(&MailboxScanner::captionWritten));
    const int last = int(entries.size()) - 1;
    for (int k = 0; k <= last; ++k) {
        if (k > 0 && m_keywords.generation() != generation)
            return keywordMatchedFrom(k);  // edited during a yield: go on entry by entry
        const bool show = listening || k % 16 == 0 || k == inSubject || k == inBody || k == last;
        if (show) {
            setKeywordCaption(entries.at(k), false);
            if (yield())
                listening = isSignalConnected(QMetaMethod::fromSignal(&MailboxScanner::captionWritten));
        }
        if (k == inSubject)
            return true;
        if (show) {
            setKeywordCaption(entries.at(k), true);
            if (yield())
                listening = isSignalConnected(QMetaMethod::fromSignal(&MailboxScanner::captionWritten));
        }
        if (k == inBody)
            return true;
    }
    if (m_keywords.generation() != generation)
        return keywordMatchedFrom(int(entries.size()));
    return false;
}

bool MailboxScanner::keywordMatchedFrom(int index)
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    for (int k = index; k < m_keywords.upper().size(); ++k) {
        const QString entry = m_keywords.upper().at(k);
        if (!m_haveSubject) {
            m_subjectUpper = upperCased(decodeServerText(control.MsgSubject()));
            m_haveSubject = true;
        }
        setKeywordCaption(entry, false);
        yield();
        if (containsEntry(m_subjectUpper, entry))
            return true;

        if (!m_haveBody) {
            m_bodyUpper = upperCased(decodeServerText(control.MsgContents()));
            m_haveBody = true;
        }
        setKeywordCaption(entry, true);
        yield();
        if (containsEntry(m_bodyUpper, entry))
            return true;
    }
    return false;
}

void MailboxScanner::spamAction()
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    ++m_results.last().condemned;
    setCaption(u"SPAM DETECTED"_s);
    flushCaption();

    QString path = SpamArchive::filePath(m_form.programFolder(), decodeServerText(control.MsgSubject()));
    control.WriteCurrentMsgToFile(path);

    m_form.announceSpam(u"Spam from"_s + decodeServerText(control.MsgFrom()));

    control.DeleteCurrentMsg();
    if (control.Error() == 0)
        ++m_markedForDeletion;
    raiseTotal(m_form.txtEmailsBlockedCount());
}

void MailboxScanner::setCaption(const QString &caption)
{
    m_caption = caption;
    m_captionKind = CaptionKind::Text;
    m_captionPending = true;
    if (isSignalConnected(QMetaMethod::fromSignal(&MailboxScanner::captionWritten)))
        Q_EMIT captionWritten(caption);
}

void MailboxScanner::setFromCaption(const QString &from, const QString &entry)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&MailboxScanner::captionWritten))) {
        setCaption(u"FROM is "_s + from + u" CHECKING FOR "_s + entry);
        return;
    }
    m_captionKind = CaptionKind::From;
    m_captionSubject = from;
    m_captionEntry = entry;
    m_captionPending = true;
}

void MailboxScanner::setKeywordCaption(const QString &entry, bool body)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&MailboxScanner::captionWritten))) {
        setCaption(u"KEYWORD CHECK = "_s + entry + (body ? u" CHECKING BODY"_s : u" CHECKING SUBJECT"_s));
        return;
    }
    m_captionKind = CaptionKind::Keyword;
    m_captionEntry = entry;
    m_captionBody = body;
    m_captionPending = true;
}

void MailboxScanner::flushCaption()
{
    m_scanned.flush();
    if (!m_captionPending)
        return;
    switch (m_captionKind) {
    case CaptionKind::Text:
        break;
    case CaptionKind::From:
        m_caption = u"FROM is "_s + m_captionSubject + u" CHECKING FOR "_s + m_captionEntry;
        break;
    case CaptionKind::Keyword:
        m_caption = u"KEYWORD CHECK = "_s + m_captionEntry + (m_captionBody ? u" CHECKING BODY"_s : u" CHECKING SUBJECT"_s);
        break;
    }
    m_captionKind = CaptionKind::Text;
    m_form.Label17()->setText(m_caption);
    m_captionPending = false;
}

bool MailboxScanner::yield()
{
    if (m_sinceYield.isValid() && m_sinceYield.elapsed() < YieldIntervalMs)
        return false;
    flushCaption();
    QCoreApplication::processEvents();
    m_sinceYield.restart();
    return true;
}

} // namespace Scan
