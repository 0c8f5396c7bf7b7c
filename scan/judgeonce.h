#pragma once
// "Check each message only once": which of an account's messages were judged
// and left on the server under the rules in force now, so that the scan
// neither downloads nor judges them again, and what this scan judged, to be
// remembered when the account ends. Whatever is in doubt is judged again:
// an id the listing names twice, a message the review list knows, memories
// that cannot be read. Nothing here ever leads to a deletion.

#include "state/judgedmessages.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QThread;
class StateDatabase;

namespace Automation {
class TarnpostProxy;
}

namespace Scan {

class JudgeOnce final
{
    Q_DISABLE_COPY_MOVE(JudgeOnce)

public:
    // What a verdict depends on, rule by rule in the order they judge. A
    // change in any of it judges every message again: a rule switched on or
    // off, added or moved, an entry added, removed or edited in a list, the
    // learned filter's threshold, or the filter starting to judge.
    struct RuleInputs
    {
        QString rule;
        // Nothing while the rule is off or can decide nothing (Rule::verdictInputs()).
        std::optional<QStringList> inputs;
    };
    static QString version(const QList<RuleInputs> &rules);

    // A message passed over: its id, and its fingerprint as it was judged.
    struct PassedOver
    {
        QString uid;
        QString fingerprint;
    };

    explicit JudgeOnce(StateDatabase &database);
    ~JudgeOnce();

    // Starts reading an account's memories on a thread with a connection of
    // its own, so that the read overlaps the login; begin() takes them.
    void prepare(const QString &server, const QString &login, const QString &rulesVersion);
    // Starts an account: reads its memories (only from a table SQLite finds
    // whole), takes the unique ids from the
    // control's listing and tells the control which messages it will not
    // retrieve. False when the memories cannot be read: then every message
    // is judged. `decided`: ids whose fate the review list holds.
    bool begin(Automation::TarnpostProxy &control, const QString &server, const QString &login,
               const QString &rulesVersion, const QSet<QString> &decided);
    // The message `number` when it is passed over, else nullptr.
    const PassedOver *passedOver(qint16 number) const;
    // A message retrieved all the same (a server without UIDL names it by
    // its headers only) that was judged before under the same rules.
    bool remembers(const QString &uid, const QString &fingerprint, qint64 fetchedSize) const;
    // A message judged in this scan; only one left on the server is remembered.
    void judged(const QString &uid, const QString &fingerprint, qint64 fetchedSize, bool kept);
    // The rules changed during the walk: what it judged is not remembered.
    void forgetJudged() { m_kept.clear(); }
    // Writes the account's memories; when the walk saw the whole mailbox,
    // ids the server no longer lists are forgotten (without a listing, ids
    // the walk did not see: `seen`).
    bool finish(const QHash<QString, int> &seen, bool complete);

    QString errorText() const { return m_error; }

    // "Check all messages again": forgets every memory in the program folder.
    static bool forgetAll(const QString &folder, QString *error);

private:
    struct Read;
    // A remembered message, and what the server's listing said of it.
    struct Slot
    {
        PassedOver id;
        qint64 fetchedSize = -1;
        bool sameRules = false;
        bool decided = false;
        bool twice = false;
        qint16 listedAs = 0; // its number in the listing, 0 when not listed
    };
    struct ViewHash
    {
        size_t operator()(QStringView view) const noexcept { return qHash(view); }
    };
    // By id, looked up with views into the listing: ten thousand ids need no
    // string of their own. A key views its own slot's id, whose characters
    // stay where they are when the slot moves.
    using Known = std::unordered_map<QStringView, Slot, ViewHash>;
    static Known slotsOf(const JudgedMessages::Account &account, const QString &rules);

    std::optional<Known> readAccount(const QString &server, const QString &login);
    void waitForReader();

    StateDatabase &m_database;
    std::shared_ptr<Read> m_read;
    std::unique_ptr<QThread> m_reader;
    std::unique_ptr<JudgedMessages> m_memory;
    QString m_server;
    QString m_login;
    QString m_rules;
    Known m_known;
    bool m_listed = false;                    // the server gave a listing
    std::vector<const PassedOver *> m_passed; // by message number
    JudgedMessages::Account m_kept;
    QStringList m_condemned;
    bool m_trusted = false; // the account's memories were read
    QString m_error;
};

} // namespace Scan
