#include "scan/mailboxscanner.h"

#include "config/accountaddress.h"
#include "config/listtable.h"
#include "pop3/host/tarnpostproxy.h"
#include "scan/archivewriter.h"
#include "scan/judgeonce.h"
#include "scan/rules/ruleswitches.h"
#include "scan/rules/whitelistrule.h"
#include "scan/scanform.h"
#include "scan/scanreport.h"
#include "scan/servertext.h"
#include "scan/spamtrainer.h"
#include "signin/tokenkeeper.h"
#include "state/reviewlist.h"
#include "state/scanlog.h"
#include "state/statedatabase.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QMetaMethod>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

int capped(qint64 count) { return int(qBound<qint64>(0, count, qint64(MailboxScanner::MaxCount))); }

// What the control holds in place of a message it could not fetch.
const QString NotRetrieved = Tarnpostctl::UnableToRetrieve;

// Server and file texts on the one-line status line: no line breaks or other
// controls, and not a megabyte of a hostile reply.
QString statusText(const QString &text)
{
    constexpr qsizetype MaxLength = 300;
    QString line = text.left(MaxLength + 1);
    for (QChar &c : line) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = u' ';
    }
    line = line.simplified();
    if (line.size() > MaxLength)
        line = line.left(MaxLength - 1) + u'\u2026';
    return line;
}

// An error text as a sentence that another can follow.
QString sentence(const QString &text)
{
    const QString trimmed = text.trimmed();
    return trimmed.endsWith(u'.') ? trimmed : trimmed + u'.';
}

} // namespace

MailboxScanner::MailboxScanner(ScanForm &form, QObject *parent)
    : MailboxScanner(form, ruleBook(form), parent)
{}

MailboxScanner::MailboxScanner(ScanForm &form, Rules rules, QObject *parent)
    : QObject(parent)
    , m_form(form)
    , m_scanned(form, FormBox::TotalScanned)
    , m_progress(
          form, m_scanned,
          [this] { return isSignalConnected(QMetaMethod::fromSignal(&MailboxScanner::captionWritten)); },
          [this](const QString &caption) { Q_EMIT captionWritten(caption); })
    , m_message(form.Tarnpost1())
    , m_settings(form.programFolder())
    , m_passwords(form.programFolder())
    , m_rules(std::move(rules))
{
    for (const std::unique_ptr<Rule> &rule : m_rules) {
        if (auto *whitelist = dynamic_cast<WhitelistRule *>(rule.get()))
            m_whitelist = whitelist;
    }
}

MailboxScanner::~MailboxScanner() = default;

void MailboxScanner::run()
{
    m_progress.start();
    m_results.clear();
    m_announced.clear();
    m_failedAccounts = 0;
    m_stateProblem.clear();
    const int accounts = qMax(0, m_form.gridAccounts()->rows());
    if (accounts == 0)
        return;
    openRecords();

    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    m_savedPort = control.POPPort();
    m_form.setStatusToolTip(QString());
    for (int row = 1; row <= accounts && !stopping(); ++row)
        scanAccount(row);
    // The window keeps its own settings, whatever the last account asked for.
    control.setPOPPort(m_savedPort);
    control.setPOPSecurity(Tarnpostctl::SecurityNone);

    if (m_ending) {
        m_scanned.flush();
    } else if (m_problems.isEmpty()) {
        setCaption(u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s);
        m_progress.flush();
    } else {
        // The problems stay in sight rather than the closing caption: the
        // failed accounts first, each with its error, then the rest.
        const QString text = ScanReport::windowSummary(m_results, m_problems);
        setCaption(text);
        m_progress.flush();
        m_form.setStatusToolTip(m_problems.join(u'\n'));
        // A failed account, or spam left for want of records, must not go
        // unseen while the window is hidden.
        if (m_failedAccounts > 0 || !m_stateProblem.isEmpty())
            m_form.notifyFailure(text);
    }
    // Nothing is saved on the way out.
    if (!m_ending) {
        m_form.writeStatistics();
        announceAtEnd();
    }
}

void MailboxScanner::openRecords()
{
    m_settings.load();
    if (!m_settings.problems().isEmpty())
        report(m_settings.problemText());
    m_trainer.reset();
    m_judgeOnce.reset();
    m_review.reset();
    m_log.reset();
    m_database = std::make_unique<StateDatabase>(m_form.programFolder());
    // Which accounts' passwords are in the keyring; read even where the
    // review list then turns out damaged.
    m_passwords.loadAccounts(m_database->open() ? m_database.get() : nullptr);
    m_tokenAccounts.clear();
    QString tokenProblem;
    if (m_database->open()) {
        const TokenAccounts tokens(*m_database);
        if (const std::optional<QList<TokenAccounts::Account>> accounts = tokens.all())
            m_tokenAccounts = *accounts;
        else
            tokenProblem = tokens.errorText();
    }
    // What the user held or kept is known only from the review list: without
    // it, or with a damaged one, nothing may be deleted. The file is left
    // as it is for the user to restore or move aside.
    if (!m_database->open() || !m_database->checkTables({u"spam_messages"_s, u"not_spam"_s})) {
        const QString why = sentence(statusText(m_database->errorText()));
        m_database.reset();
        stateFailed(u"The scan log and the review list cannot be used: %1 Nothing is deleted until they can;"
                    " the file was left as it is."_s.arg(why));
        return;
    }
    // A damaged database is told above; this is for a table alone unreadable.
    if (!tokenProblem.isEmpty())
        report(u"The accounts that sign in with a browser cannot be read: %1"_s.arg(statusText(tokenProblem)));
    m_log = std::make_unique<ScanLog>(*m_database);
    m_review = std::make_unique<ReviewList>(*m_database);
    if (m_settings.learnedFilter) {
        m_trainer = std::make_unique<SpamTrainer>(m_form.programFolder(), *m_database);
        if (!m_trainer->open()) {
            report(u"The learned filter cannot be read: %1"_s.arg(statusText(m_trainer->errorText())));
            m_trainer.reset();
        }
    }
    if (m_settings.judgeOnce)
        m_judgeOnce = std::make_unique<JudgeOnce>(*m_database);
}

void MailboxScanner::announceAtEnd()
{
    if (m_announced.isEmpty())
        return;
    const bool box = m_settings.announce == AppSettings::Announce::SummaryAtEnd;
    const int shown = int(qMin<qsizetype>(m_announced.size(), box ? MaxSummaryLines : 3));
    QString text = u"Spam found in this scan: %1"_s.arg(m_announced.size());
    for (int k = 0; k < shown; ++k)
        text += u'\n' + m_announced.at(k);
    if (m_announced.size() > shown)
        text += u"\n\u2026 and %1 more"_s.arg(m_announced.size() - shown);
    if (box)
        m_form.announceSummary(text);
    else
        m_form.notify(text);
}

void MailboxScanner::scanAccount(int row)
{
    ListTable *table = m_form.gridAccounts();
    if (row > table->rows()) // the list changed while the scan was yielding
        return;
    m_results.append(AccountResult());
    const QString server = m_results.last().server = table->cell(row, 1);
    const QString login = m_results.last().login = table->cell(row, 2);
    m_accountUnderWay = true;
    m_logId = 0;
    if (m_log && m_stateProblem.isEmpty()) {
        m_logId = m_log->begin(server, login, QDateTime::currentDateTimeUtc());
        if (m_logId == 0)
            stateFailed(u"The scan log cannot be written: %1"_s.arg(statusText(m_log->errorText())));
    }
    m_requests.start();
    m_withheld = 0;
    m_markedRows.clear();
    m_toLearn.clear();
    m_deletionsTaken = false;
    if (m_review) {
        // Read even when it cannot be written: held messages are then not archived again.
        if (const std::optional<ReviewList::AccountKnowledge> known = m_review->knowledge(server, login))
            m_requests.start(*known);
        else
            stateFailed(u"The review list cannot be read: %1"_s.arg(statusText(m_review->errorText())));
    }

    // A server that is slow to answer must not leave the last account's words in sight.
    setCaption(ScanReport::scanningCaption(server, login));
    m_progress.flush();
    walkAccount(row);
    if (m_accessTokenSet) {
        // The control keeps the property, also across scans: the next password
        // account must log in with its password, not with this token.
        m_form.Tarnpost1().setAccessToken(QString());
        m_accessTokenSet = false;
    }
    learnCondemned();
    m_accountUnderWay = false;

    const AccountResult &result = m_results.last();
    if (result.failed())
        ++m_failedAccounts;
    if (m_logId != 0) {
        ScanLog::Record record;
        record.id = m_logId;
        record.scanned = result.scanned;
        record.condemned = result.condemned;
        record.deleted = result.deleted;
        record.outcome = m_ending          ? u"Stopped: the program was ending."_s
                         : result.failed() ? result.error
                                           : m_stateProblem;
        if (!m_log->finish(record) && m_stateProblem.isEmpty())
            stateFailed(u"The scan log cannot be written: %1"_s.arg(statusText(m_log->errorText())));
    }
}

void MailboxScanner::walkAccount(int row)
{
    ListTable *table = m_form.gridAccounts();
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    const AccountAddress address = AccountAddress::parse(table->cell(row, 1));
    if (!address.isValid()) {
        noteFailure(address.error());
        report(u"%1 (%2): %3"_s.arg(statusText(m_results.last().server), statusText(m_results.last().login),
                                    address.error()));
        return; // passed over like an account whose login fails
    }
    control.setPOPHostname(address.host());
    control.setPOPPort(address.portOr(m_savedPort));
    control.setPOPSecurity(address.security());
    const QString server = table->cell(row, 1);
    const QString login = table->cell(row, 2);
    const auto signsIn =
        std::find_if(m_tokenAccounts.cbegin(), m_tokenAccounts.cend(),
                     [&](const TokenAccounts::Account &a) { return a.server == server && a.login == login; });
    if (signsIn != m_tokenAccounts.cend() && !useAccessToken(*signsIn))
        return; // passed over like an account whose login fails
    QString keyringError;
    const std::optional<QString> password =
        m_passwords.loginPassword({table->cell(row, 1), table->cell(row, 2), table->cell(row, 3)}, &keyringError);
    if (!password) {
        noteFailure(keyringError);
        report(u"%1 (%2): %3"_s.arg(statusText(m_results.last().server), statusText(m_results.last().login),
                                    keyringError));
        return; // passed over like an account whose login fails
    }
    control.setPOPUsername(table->cell(row, 2));
    control.setPOPPassword(*password);
    control.setPrefetch(true); // the next messages come while one is judged
    if (m_judgeOnce) {
        m_accountRules = rulesVersion();
        m_judgeOnce->prepare(m_results.last().server, m_results.last().login, m_accountRules);
    }
    control.Connect();
    if (stopping()) {
        dropSession();
        return;
    }
    if (control.Error() != 0) {
        noteFailure(control.ErrorText());
        report(
            u"%1 (%2): %3"_s.arg(address.host(), statusText(m_results.last().login), statusText(control.ErrorText())));
        return;
    }

    m_host = address.host();
    m_marked = 0;
    if (m_judgeOnce)
        beginJudgeOnce();
    const qint32 count = control.MsgCount();
    const int messages = capped(count);
    int missingInRow = 0;
    bool stopped = false;
    for (int n = 1; n <= messages && !stopped; ++n) {
        switch (scanMessage(qint16(n))) {
        case MessageEnd::Scanned: missingInRow = 0; break;
        case MessageEnd::Missing:
            // A server whose count is a lie must not make the scan walk
            // every number up to it.
            if (++missingInRow == MaxMissingInRow) {
                noteFailure(u"The server lists messages that do not exist; the rest of the mailbox was skipped."_s);
                report(u"%1: the server lists messages that do not exist; the rest of the mailbox was skipped."_s.arg(
                    m_host));
                stopped = true;
            }
            break;
        case MessageEnd::SessionLost: stopped = true; break;
        case MessageEnd::Exit: dropSession(); return;
        }
    }

    if (count > MaxCount && !stopped) {
        setCaption(u"Only the first %1 of %2 messages in this mailbox were scanned."_s.arg(MaxCount).arg(count));
        m_progress.flush();
    } else if (!stopped && m_requests.uidsComplete() && !stopping()) {
        deleteRequested();
        dropGoneUnsure();
    }
    if (m_judgeOnce && !stopping()) {
        // A rule switched or a list edited while the walk went on: the
        // messages judged may not have been judged by the rules remembered.
        if (rulesVersion() != m_accountRules)
            m_judgeOnce->forgetJudged();
        if (!m_judgeOnce->finish(m_requests.uidsSeen(), count <= MaxCount && !stopped && m_requests.uidsComplete()))
            report(
                u"%1: the messages checked in this scan could not be remembered; they are checked again next time: %2"_s
                    .arg(m_host, statusText(m_judgeOnce->errorText())));
    }
    if (m_withheld > 0)
        report(
            u"%1: %2 condemned message(s) were left on the server: nothing is deleted while the state database cannot be used."_s
                .arg(m_host)
                .arg(m_withheld));
    endSession();
}

MailboxScanner::MessageEnd MailboxScanner::scanMessage(qint16 number)
{
    if (const JudgeOnce::PassedOver *passed = m_judgeOnce ? m_judgeOnce->passedOver(number) : nullptr) {
        m_requests.passedOver(passed->fingerprint);
        return MessageEnd::Scanned;
    }
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    m_message.reset();

    m_progress.yield();
    if (stopping())
        return MessageEnd::Exit;
    qint16 selected = number;
    control.SetCurrentMsg(selected);
    if (control.Error() == 0 && !stopping()) {
        control.RetrieveCurrentMsg();
        m_progress.yield();
    }
    if (stopping())
        return MessageEnd::Exit;
    if (control.Error() != 0) {
        noteScanned();
        return operationFailed(number);
    }
    if (messageMissing(number))
        return MessageEnd::Missing;

    m_fingerprint = fingerprint();
    m_fetchedSize = fetchedSize();
    m_uid = serverUid(number);
    // For a server without unique ids the headers name the message, so its
    // fate is remembered between scans all the same; identical copies
    // share a name and a fate.
    if (m_uid.isEmpty())
        m_uid = u"content:"_s + m_fingerprint;
    m_requests.seen(m_uid, m_fingerprint);
    if (m_requests.decidedBefore(m_uid, number, m_fingerprint, m_fetchedSize, [this] { return onWhitelist(); }))
        return messageDone();
    if (m_judgeOnce && m_judgeOnce->remembers(m_uid, m_fingerprint, m_fetchedSize))
        return messageDone(false);
    m_message.readSender();
    const Rule::Outcome outcome = judge();
    if (stopping())
        return MessageEnd::Exit;
    // An unsure message is known by its review row, not remembered as kept;
    // without the row it is judged again.
    if (m_judgeOnce)
        m_judgeOnce->judged(m_uid, m_fingerprint, m_fetchedSize,
                            outcome == Rule::Outcome::Pass || outcome == Rule::Outcome::Keep);
    return messageDone();
}

Rule::Outcome MailboxScanner::judge()
{
    const RuleSwitches switches(m_form, m_settings);
    for (const std::unique_ptr<Rule> &rule : m_rules) {
        if (!switches.isOn(*rule))
            continue;
        const Rule::Judgement judgement = rule->judge(*this);
        switch (judgement.outcome) {
        case Rule::Outcome::Pass: break;
        case Rule::Outcome::Keep: return judgement.outcome;
        case Rule::Outcome::Condemn: spamAction(judgement.verdict); return judgement.outcome;
        case Rule::Outcome::Unsure: unsureAction(judgement.verdict); return judgement.outcome;
        }
        if (stopping())
            return Rule::Outcome::Pass;
    }
    return Rule::Outcome::Pass;
}

void MailboxScanner::beginJudgeOnce()
{
    const AccountResult &account = m_results.last();
    if (!m_judgeOnce->begin(m_form.Tarnpost1(), account.server, account.login, m_accountRules,
                            m_requests.decidedUids()))
        report(u"%1: the messages checked before cannot be read, so every message is checked: %2"_s.arg(
            m_host, statusText(m_judgeOnce->errorText())));
}

QString MailboxScanner::rulesVersion()
{
    const RuleSwitches switches(m_form, m_settings);
    QList<JudgeOnce::RuleInputs> inputs;
    for (const std::unique_ptr<Rule> &rule : m_rules)
        inputs.append({rule->name(), switches.isOn(*rule) ? rule->verdictInputs(*this) : std::nullopt});
    return JudgeOnce::version(inputs);
}

MailboxScanner::MessageEnd MailboxScanner::messageDone(bool judged)
{
    if (judged)
        noteScanned();
    if (m_form.Tarnpost1().Status() != Tarnpostctl::StatusConnected) {
        noteFailure(u"The connection was closed; the rest of the mailbox was not scanned."_s);
        report(u"%1: the connection was closed; the rest of the mailbox was not scanned."_s.arg(m_host));
        return MessageEnd::SessionLost;
    }
    return MessageEnd::Scanned;
}

MailboxScanner::MessageEnd MailboxScanner::operationFailed(qint16 number)
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    const QString error = statusText(control.ErrorText());
    if (control.Status() != Tarnpostctl::StatusConnected) {
        noteFailure(control.ErrorText());
        report(u"%1: %2"_s.arg(m_host, error));
        return MessageEnd::SessionLost;
    }
    report(u"%1: message %2 was left on the server: %3"_s.arg(m_host).arg(number).arg(error));
    // Deletions by unique id need to know every id of the mailbox. The
    // control asked for it before the failure (Error still tells of that).
    const QString uid = control.MsgUniqueID();
    if (uid.isEmpty() || uid == madeUpUid(number))
        m_requests.uidUnknown();
    else
        m_requests.uidSeen(uid);
    return MessageEnd::Scanned;
}

QString MailboxScanner::serverUid(qint16 number)
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    const QString uid = control.MsgUniqueID();
    if (control.Error() != 0 || uid == madeUpUid(number))
        return {};
    return uid;
}

QString MailboxScanner::madeUpUid(qint16 number)
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    return Tarnpostctl::madeUpUniqueId(control.POPUsername(), control.POPHostname(), number);
}

QString MailboxScanner::fingerprint()
{
    const QByteArray headers = m_message.decoded().headers().toLatin1();
    return QString::fromLatin1(QCryptographicHash::hash(headers, QCryptographicHash::Sha1).toHex());
}

qint64 MailboxScanner::fetchedSize()
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    return control.MsgHeaders().size() + control.MsgContents().size();
}

bool MailboxScanner::onWhitelist()
{
    if (!m_whitelist || !RuleSwitches(m_form, m_settings).isOn(*m_whitelist))
        return false;
    const QString from = upperCased(decodeServerText(m_form.Tarnpost1().MsgFrom()));
    return m_whitelist->holds(from, m_message.decoded().fromUpper());
}

void MailboxScanner::deleteRequested()
{
    if (m_requests.isEmpty())
        return;
    const AccountResult &account = m_results.last();
    const DeletionRequests::Sorted sorted = m_requests.sort(m_host);
    for (const QString &text : sorted.reports)
        report(text);
    const QList<DeletionRequests::Due> &due = sorted.due;
    if (sorted.gone.isEmpty() && sorted.whitelisted.isEmpty() && due.isEmpty())
        return;
    if (!m_stateProblem.isEmpty()) {
        m_withheld += int(due.size());
        return;
    }
    // The user may have changed their mind while the walk went on: only
    // rows still to be deleted are touched.
    const std::optional<ReviewList::AccountKnowledge> now = m_review->knowledge(account.server, account.login);
    if (!now) {
        stateFailed(u"The review list cannot be read: %1"_s.arg(statusText(m_review->errorText())));
        m_withheld += int(due.size());
        return;
    }
    QSet<qint64> stillRequested;
    QSet<qint64> heldNow; // the scan's own verdicts that the settings now hold
    for (const ReviewList::Message &m : now->toDelete) {
        stillRequested.insert(m.id);
        if (m.byScan && holds(m.rule))
            heldNow.insert(m.id);
    }
    const auto requested = [&stillRequested](const QList<qint64> &ids) {
        QList<qint64> kept;
        for (const qint64 id : ids) {
            if (stillRequested.contains(id))
                kept.append(id);
        }
        return kept;
    };
    // An earlier session marked them and ended before QUIT; the user has
    // since asked to hold such verdicts.
    if (const QList<qint64> held = QList<qint64>(heldNow.cbegin(), heldNow.cend()); !held.isEmpty()) {
        if (!m_review->setState(held, ReviewList::State::Held)) {
            stateFailed(u"The review list cannot be written: %1"_s.arg(statusText(m_review->errorText())));
            m_withheld += int(due.size());
            return;
        }
        report(u"%1: %2 message(s) an earlier scan was to delete are held for review now, as the settings ask."_s
                   .arg(m_host)
                   .arg(held.size()));
        for (const qint64 id : held)
            stillRequested.remove(id);
    }
    if (const QList<qint64> gone = requested(sorted.gone); !gone.isEmpty()) {
        if (!m_review->setState(gone, ReviewList::State::Gone))
            stateFailed(u"The review list cannot be written: %1"_s.arg(statusText(m_review->errorText())));
        else
            report(u"%1: %2 message(s) to be deleted were no longer on the server."_s.arg(m_host).arg(gone.size()));
    }
    if (const QList<qint64> whitelisted = requested(sorted.whitelisted);
        m_stateProblem.isEmpty() && !whitelisted.isEmpty() && !m_review->setState(whitelisted, ReviewList::State::Held))
        stateFailed(u"The review list cannot be written: %1"_s.arg(statusText(m_review->errorText())));
    if (due.isEmpty())
        return;
    if (!m_stateProblem.isEmpty()) {
        m_withheld += int(due.size());
        return;
    }
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    for (const DeletionRequests::Due &d : due) {
        const QList<qint64> rows = requested(d.rows);
        if (rows.isEmpty())
            continue;
        if (now->notSpamUids.contains(d.uid) || now->keptFingerprints.contains(d.fingerprint)) {
            report(u"%1: a message to be deleted was marked as not spam meanwhile; it was kept."_s.arg(m_host));
            continue;
        }
        qint16 number = d.number;
        control.SetCurrentMsg(number);
        if (control.Error() != 0 || control.Status() != Tarnpostctl::StatusConnected) {
            report(u"%1: spam left on the server: %2"_s.arg(m_host, statusText(control.ErrorText())));
            return;
        }
        // Numbers hold for the session; the id is asked again all the same.
        const QString uid = serverUid(number);
        if (!d.uid.startsWith(u"content:"_s) && uid != d.uid) {
            report(
                u"%1: the message now under the unique id of a message to be deleted is another one; it was not deleted."_s
                    .arg(m_host));
            continue;
        }
        control.DeleteCurrentMsg();
        if (control.Error() == 0) {
            ++m_marked;
            m_markedRows += rows;
        } else {
            report(u"%1: spam left on the server: %2"_s.arg(m_host, statusText(control.ErrorText())));
        }
    }
}

void MailboxScanner::stateFailed(const QString &why)
{
    if (m_stateProblem.isEmpty()) {
        m_stateProblem = why;
        report(m_database && m_database->isOpen() ? sentence(why) + u" Nothing more is deleted in this scan."_s : why);
    } else {
        report(why);
    }
}

bool MailboxScanner::messageMissing(qint16 number)
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    // For a number the server does not know, the control fetches nothing: it
    // holds its placeholder and a made-up id, and it has not asked for the
    // size, which the server then refuses too. A message the control did
    // download (on a server without UIDL) has its size already.
    if (control.MsgContents() != NotRetrieved)
        return false;
    if (control.MsgUniqueID() != madeUpUid(number))
        return false;
    control.MsgSizeInK();
    return control.Error() != 0;
}

void MailboxScanner::endSession()
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    // A close the server sent right after its last reply is seen before QUIT.
    QCoreApplication::processEvents();
    if (stopping()) {
        dropSession();
        return;
    }
    const bool open = control.Status() == Tarnpostctl::StatusConnected;
    if (open && m_marked > 0) {
        if (const QString doubt = deletionDoubt(); !doubt.isEmpty()) {
            // Without QUIT the server deletes none of them; the rows still
            // "to be deleted" go by their unique id at the next scan.
            report(u"%1: %2 spam message(s) marked for deletion were left on the server: %3"_s.arg(m_host)
                       .arg(m_marked)
                       .arg(doubt));
            m_marked = 0;
            m_markedRows.clear();
            dropSession();
            return;
        }
    }
    control.Disconnect();
    // Marked messages are deleted only when the server takes the QUIT.
    if (m_marked == 0)
        return;
    if (open && control.QuitConfirmed()) {
        m_deletionsTaken = true;
        for (int k = 0; k < m_marked; ++k)
            raiseTotal(m_form, FormBox::EmailsBlocked);
        m_results.last().deleted = m_marked;
        // Rows left "to be deleted" are harmless: their ids are gone.
        if (m_review && m_stateProblem.isEmpty() && !m_markedRows.isEmpty()
            && !m_review->setState(m_markedRows, ReviewList::State::Deleted))
            stateFailed(u"The review list cannot be written: %1"_s.arg(statusText(m_review->errorText())));
    } else {
        noteFailure(
            control.Error() != 0 ? control.ErrorText()
            : open
                ? u"The server did not answer QUIT with +OK: the messages marked for deletion may still be on the server."_s
                : u"The session ended before QUIT: the messages marked for deletion stay on the server."_s);
        report(
            m_marked == 1
                ? u"%1: 1 spam message was left on the server: the server did not confirm its deletion."_s.arg(m_host)
                : u"%1: %2 spam messages were left on the server: the server did not confirm their deletion."_s
                      .arg(m_host)
                      .arg(m_marked));
    }
}

bool MailboxScanner::holds(const QString &rule) const { return holds(m_settings, rule); }

bool MailboxScanner::holds(const AppSettings &settings, const QString &rule)
{
    return settings.holdForReview || (rule == SpamTrainer::learnedRule() && !settings.deleteLearnedVerdicts);
}

QString MailboxScanner::deletionDoubt()
{
    if (!m_stateProblem.isEmpty() || !m_review || !m_database)
        return u"the state database failed during the scan."_s;
    // The Spam tab may have kept one of them, or asked to keep it held,
    // while the walk went on.
    const AccountResult &account = m_results.last();
    const std::optional<ReviewList::AccountKnowledge> now = m_review->knowledge(account.server, account.login);
    if (!now)
        return u"the review list cannot be read: %1"_s.arg(statusText(m_review->errorText()));
    QSet<qint64> stillRequested;
    for (const ReviewList::Message &m : now->toDelete)
        stillRequested.insert(m.id);
    for (const qint64 row : std::as_const(m_markedRows)) {
        if (!stillRequested.contains(row))
            return u"the Spam tab changed what was to be deleted while the scan went on; what is still to be deleted goes at the next scan."_s;
    }
    // Settings saved while the walk went on may hold such verdicts now: the
    // next scan holds their rows for review.
    AppSettings saved(m_form.programFolder());
    saved.load();
    const QSet<qint64> marked(m_markedRows.cbegin(), m_markedRows.cend());
    for (const ReviewList::Message &m : now->toDelete) {
        if (marked.contains(m.id) && m.byScan && holds(saved, m.rule))
            return u"the settings saved while the scan went on hold such verdicts for review; they are held at the next scan."_s;
    }
    // Their rows and archive copies must outlive a power cut once the server has deleted them.
    QString error;
    if (!m_database->syncToDisk())
        error = m_database->errorText();
    else
        ArchiveWriter::syncFolder(m_form.programFolder(), &error);
    if (!error.isEmpty())
        return u"their records cannot be put on the disk: %1"_s.arg(statusText(error));
    return {};
}

void MailboxScanner::dropSession()
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    // Connect with a blank host name closes an open session at once, without
    // QUIT, and opens none.
    control.setPOPHostname(QString());
    control.Connect();
}

bool MailboxScanner::stopping()
{
    if (!m_ending && m_form.isEnding())
        m_ending = true;
    return m_ending;
}

void MailboxScanner::learnCondemned()
{
    // Spam left on the server (no QUIT, or not confirmed) may yet be held
    // or kept by the user: learned only once the server deleted it.
    if (!m_deletionsTaken)
        m_toLearn.clear();
    if (!m_trainer || m_toLearn.isEmpty())
        return;
    m_trainer->learnArchived(m_toLearn, LearnedFilter::Label::Spam, SpamTrainer::JudgedBy::Rules);
    if (!m_trainer->errorText().isEmpty())
        report(u"The learned filter could not learn this scan's spam: %1"_s.arg(statusText(m_trainer->errorText())));
    m_toLearn.clear();
}

void MailboxScanner::spamAction(const Verdict &verdict)
{
    Automation::TarnpostProxy &control = m_form.Tarnpost1();
    if (stopping() || control.Status() != Tarnpostctl::StatusConnected)
        return;
    setCaption(u"SPAM DETECTED"_s);
    m_progress.flush();

    ArchiveWriter archive(m_form.programFolder());
    const QString subject = m_message.subject();
    const bool archived = archive.write(subject, [&control](const QString &path, QString *error) {
        QString target = path;
        control.WriteCurrentMsgToFile(target);
        if (control.Error() == 0)
            return true;
        *error = control.ErrorText();
        return false;
    });
    if (stopping())
        return;
    // Without its copy in the archive a message is not deleted.
    if (!archived)
        report(u"%1: spam left on the server, its archive copy failed: %2"_s.arg(m_host,
                                                                                 statusText(archive.errorString())));

    // As a reader sees it: encoded words decoded.
    const QString decodedSubject = m_message.decoded().subject();
    AccountResult &result = m_results.last();
    ++result.condemned;
    result.spam.append(
        {m_message.from(), decodedSubject.isEmpty() ? subject : decodedSubject, verdict.rule, verdict.entry, true});
    const QString announcement = u"Spam from"_s + m_message.from();
    if (m_settings.announce == AppSettings::Announce::BoxPerMessage)
        m_form.announceSpam(announcement);
    else
        m_announced.append(announcement);
    if (stopping() || !archived)
        return;
    // Held messages stay on the server; the others are deleted at QUIT, or
    // by their unique id at a later scan if this session does not end well.
    // Either way its row is written first: without it, no deletion.
    const bool hold = holds(verdict.rule);
    // A held verdict waits for the user's word before it is learned; the
    // filter never learns from its own verdicts.
    if (m_trainer && !hold && verdict.rule != SpamTrainer::learnedRule())
        m_toLearn.append(archive.fileName());
    qint64 row = 0;
    if (m_review && m_stateProblem.isEmpty()) {
        ReviewList::Message m = reviewRow(verdict);
        m.size = QFileInfo(SpamArchive::folder(m_form.programFolder()) + archive.fileName()).size()
                 - ArchiveWriter::inertPrefix().size();
        m.archiveFile = archive.fileName();
        m.state = hold ? ReviewList::State::Held : ReviewList::State::DeleteRequested;
        m.byScan = !hold;
        row = m_review->add(m);
        if (row == 0)
            stateFailed(u"%1: a condemned message is missing from the Spam tab: %2"_s.arg(
                m_host, statusText(m_review->errorText())));
    }
    if (hold)
        return;
    if (row == 0) {
        ++m_withheld;
        return;
    }

    control.DeleteCurrentMsg();
    if (control.Error() == 0) {
        ++m_marked;
        m_markedRows.append(row);
        result.spam.last().held = false;
    } else
        report(u"%1: spam left on the server: %2"_s.arg(m_host, statusText(control.ErrorText())));
}

ReviewList::Message MailboxScanner::reviewRow(const Verdict &verdict)
{
    const AccountResult &result = m_results.last();
    // As a reader sees it: encoded words decoded.
    const QString decodedSubject = m_message.decoded().subject();
    ReviewList::Message m;
    m.server = result.server;
    m.login = result.login;
    m.uid = m_uid;
    m.judged = QDateTime::currentDateTimeUtc();
    m.sent = decodeServerText(m_form.Tarnpost1().GetOtherHeader(u"Date:"_s)).trimmed();
    m.sender = m_message.from().trimmed();
    m.subject = decodedSubject.isEmpty() ? m_message.subject() : decodedSubject;
    m.rule = verdict.rule;
    m.entry = verdict.entry;
    m.matchedIn = verdict.where;
    m.fingerprint = m_fingerprint;
    m.fetchedSize = m_fetchedSize;
    return m;
}

void MailboxScanner::unsureAction(const Verdict &verdict)
{
    // Without the review list it could not be shown: it stays on the server
    // unlisted and is judged again at the next scan.
    if (stopping() || !m_review || !m_stateProblem.isEmpty())
        return;
    setCaption(u"UNSURE: LEFT ON THE SERVER"_s);
    ReviewList::Message m = reviewRow(verdict);
    m.size = m_fetchedSize;
    // No copy is archived; what the user's answer teaches the filter is kept instead.
    const LearnedFilter::Prepared words =
        LearnedFilter::prepare(m_message.decoded().bytes(), LearnedFilter::Label::Spam);
    if (m_review->addUnsure(m, {words.digest, words.tokens}) == 0)
        stateFailed(u"%1: a message the learned filter was unsure of is missing from the Spam tab: %2"_s.arg(
            m_host, statusText(m_review->errorText())));
}

void MailboxScanner::dropGoneUnsure()
{
    if (!m_review || !m_stateProblem.isEmpty())
        return;
    const QList<qint64> gone = m_requests.unsureGone();
    if (!gone.isEmpty() && !m_review->setState(gone, ReviewList::State::Gone))
        stateFailed(u"The review list cannot be written: %1"_s.arg(statusText(m_review->errorText())));
}

void MailboxScanner::noteScanned()
{
    m_scanned.count();
    ++m_results.last().scanned;
}

bool MailboxScanner::useAccessToken(const TokenAccounts::Account &account)
{
    SignIn::TokenKeeper keeper(m_database.get());
    const SignIn::TokenKeeper::Access access = keeper.accessToken(account);
    if (access.status != SignIn::TokenKeeper::Status::Ok) {
        QString why = access.error;
        if (access.status == SignIn::TokenKeeper::Status::SignInAgain)
            why += u" To mend it: Accounts tab, select the account, Edit\u2026, \"Sign in with the browser\u2026\"."_s;
        const QString text =
            u"%1 (%2): %3"_s.arg(statusText(account.server), statusText(account.login), statusText(why));
        noteFailure(why);
        report(text);
        // The browser is the only cure, and the user may be away from the window.
        if (access.status == SignIn::TokenKeeper::Status::SignInAgain)
            m_form.notify(text);
        return false;
    }
    m_form.Tarnpost1().setAccessToken(access.token);
    m_accessTokenSet = true;
    return true;
}

void MailboxScanner::noteFailure(const QString &why)
{
    // The first failure is the one that cost the account; a reply keeps its line end.
    AccountResult &result = m_results.last();
    if (result.error.isEmpty())
        result.error = why.trimmed();
}

void MailboxScanner::report(const QString &text)
{
    m_problems.append(text);
    if (m_accountUnderWay && !m_results.isEmpty())
        m_results.last().problems.append(text);
    setCaption(text);
    m_progress.flush();
}

void MailboxScanner::setCaption(const QString &caption) { m_progress.setCaption(caption); }

} // namespace Scan
