#pragma once
// The scan over every account and message of a form, driving the hosted
// control only through its automation interface.

#include "scan/accountresult.h"
#include "scan/deletionrequests.h"
#include "scan/keyringpasswords.h"
#include "scan/messageunderscan.h"
#include "scan/rules/rulebook.h"
#include "scan/rules/rulecontext.h"
#include "scan/scanprogress.h"
#include "scan/spamarchive.h"
#include "state/appsettings.h"
#include "state/reviewlist.h"
#include "state/tokenaccounts.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class ScanForm;
class ScanLog;
class StateDatabase;

namespace Scan {

class JudgeOnce;
class SpamTrainer;
class WhitelistRule;

class MailboxScanner final : public QObject, private RuleContext
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailboxScanner)

public:
    explicit MailboxScanner(ScanForm &form, QObject *parent = nullptr);
    // With the caller's rules in place of ruleBook()'s.
    MailboxScanner(ScanForm &form, Rules rules, QObject *parent = nullptr);
    ~MailboxScanner() override;

    // Runs one whole scan; returns when it has ended.
    void run();
    // One entry per account row the last run reached, in row order.
    const QList<AccountResult> &results() const { return m_results; }
    // Every problem of the last run, in order: those of its accounts and
    // those of no account (settings, the state database).
    const QStringList &problems() const { return m_problems; }

    // The design limit of message numbers (16-bit).
    static constexpr int MaxCount = 32767;
    // An account ends after this many numbers in a row the server does not know.
    static constexpr int MaxMissingInRow = 3;
    // Senders named in one summary box; the rest are counted.
    static constexpr int MaxSummaryLines = 20;

Q_SIGNALS:
    // Every status caption, in the order the scan writes it.
    void captionWritten(const QString &caption);

private:
    enum class MessageEnd {
        Scanned,     // the message exists and was dealt with
        Missing,     // the server does not know its number
        SessionLost, // the session is gone: the rest of the mailbox cannot be scanned
        Exit,        // the program is ending
    };

    // Opens settings.ini and the state database (the log and the review list).
    void openRecords();
    void scanAccount(int row);
    void walkAccount(int row);
    // The server's unique id of the current message; empty when the server has
    // none (the control then makes one up from the number, which is no name).
    QString serverUid(qint16 number);
    // The id the control makes up for a message the server gives none.
    QString madeUpUid(qint16 number);
    // The SHA-1 (hex) of the current message's header block.
    QString fingerprint();
    // The current message's size in bytes, as the control fetched it.
    qint64 fetchedSize();
    // Deletes the messages the user asked to delete, once the walk knows
    // every unique id of the mailbox: only a message whose id is given once,
    // whose fingerprint and size are those judged, that the user still wants
    // deleted and whose sender is not on the whitelist.
    void deleteRequested();
    // Whether the whitelist holds the current sender, without the rule's captions.
    bool onWhitelist();
    // The state database can no longer be trusted or written: nothing more
    // is deleted in this run, and it is not written to again.
    void stateFailed(const QString &why);
    // `judged`: whether the message counts as scanned.
    MessageEnd messageDone(bool judged = true);
    // Check each message only once: the account's memories, and what the rules are now.
    void beginJudgeOnce();
    QString rulesVersion();
    void announceAtEnd();
    MessageEnd scanMessage(qint16 number);
    // The rules in their order, until one keeps, condemns or is unsure of
    // the message; Pass when none did.
    Rule::Outcome judge();
    // For a failed selection or retrieval: reports it, tells whether the session survived.
    MessageEnd operationFailed(qint16 number);
    bool messageMissing(qint16 number);
    // Ends the account's session with QUIT and counts the deletions it made final.
    void endSession();
    // Why the marked messages must not be deleted now; empty when they may.
    QString deletionDoubt();
    // Whether the settings hold a verdict of this rule for review rather than delete it.
    bool holds(const QString &rule) const;
    static bool holds(const AppSettings &settings, const QString &rule);
    // Closes the connection without QUIT, so nothing marked is deleted.
    void dropSession();
    // Teaches the learned filter the spam the other rules condemned in this account.
    void learnCondemned();
    void spamAction(const Verdict &verdict);
    // The current message's review row as far as every verdict fills it.
    ReviewList::Message reviewRow(const Verdict &verdict);
    // Lists a message the learned filter is unsure of; it stays on the server.
    void unsureAction(const Verdict &verdict);
    // Unsure rows whose message has left the server let their words go.
    void dropGoneUnsure();
    // A problem the user must hear of: shown at once and again when the run ends.
    void report(const QString &text);
    // Sets the account's OAuth2 access token on the control, refreshed when
    // it has expired; false (reported) when there is none to use.
    bool useAccessToken(const TokenAccounts::Account &account);
    // The current account's result: a message walked, and the first failure
    // that cost the account.
    void noteScanned();
    void noteFailure(const QString &why);
    void setCaption(const QString &caption);

    // What the rules ask of the scan.
    MessageUnderScan &message() override { return m_message; }
    ScanProgress &progress() override { return m_progress; }
    bool stopping() override;
    const AppSettings &settings() const override { return m_settings; }
    SpamTrainer *trainer() override { return m_trainer.get(); }

    ScanForm &m_form;
    ScannedTotal m_scanned;
    ScanProgress m_progress;
    // The control's port as saved with the window, read at the start of a
    // scan: accounts without a port of their own get it back.
    qint32 m_savedPort = 110;
    bool m_ending = false;
    QStringList m_problems;
    // Why the state database cannot be used; while set, nothing is deleted.
    QString m_stateProblem;
    bool m_accountUnderWay = false;
    int m_withheld = 0; // the account's deletions not made for m_stateProblem
    // The current account's server, and its spam marked for deletion.
    QString m_host;
    int m_marked = 0;
    QList<AccountResult> m_results;

    std::unique_ptr<StateDatabase> m_database;
    std::unique_ptr<ScanLog> m_log;
    std::unique_ptr<ReviewList> m_review;
    std::unique_ptr<SpamTrainer> m_trainer; // while the learned filter is on
    std::unique_ptr<JudgeOnce> m_judgeOnce; // while the setting is on
    QString m_accountRules;                 // the rules' version the account is judged by
    QStringList m_toLearn;                  // archive files of this account's spam
    bool m_deletionsTaken = false;          // the server took this account's QUIT after DELEs
    qint64 m_logId = 0;
    DeletionRequests m_requests;
    QList<qint64> m_markedRows; // review rows of the messages marked for deletion
    QStringList m_announced;    // "Spam from" texts kept for the end of the scan
    int m_failedAccounts = 0;

    MessageUnderScan m_message;
    QString m_uid; // the server's, or one made from the fingerprint when it gives none
    QString m_fingerprint;
    qint64 m_fetchedSize = -1;

    AppSettings m_settings;
    KeyringPasswords m_passwords;                  // of the accounts that keep theirs in the keyring
    QList<TokenAccounts::Account> m_tokenAccounts; // the accounts that sign in with OAuth2
    bool m_accessTokenSet = false;                 // the control holds the current account's token
    Rules m_rules;
    WhitelistRule *m_whitelist = nullptr; // one of m_rules
};

} // namespace Scan
