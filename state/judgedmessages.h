#pragma once
// The messages a scan judged and left on the server, by account and unique
// id, with the rules they were judged by: with "Check each message only once"
// on, a later scan neither downloads nor judges them again while the rules
// stay the same. Losing a row only costs a second judgement, so rows are
// written once per account and a crash between loses nothing that matters.

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

class StateDatabase;

class JudgedMessages final
{
    Q_DISABLE_COPY_MOVE(JudgedMessages)

public:
    struct Memory
    {
        // What names the message besides its id, as the review list keeps it.
        QString fingerprint;
        qint64 fetchedSize = -1;
        QString rules; // the rules' version it was judged by
    };
    using Account = QHash<QString, Memory>; // by unique id

    explicit JudgedMessages(StateDatabase &database);

    // The account's memories; nothing when they cannot be read. Those judged
    // by other rules than `rules` come without fingerprint and rules: they
    // only name ids to forget.
    std::optional<Account> account(const QString &server, const QString &login, const QString &rules) const;
    // Remembers `judged` (in place of earlier memories of the same ids) and
    // forgets `forget`, in one commit.
    bool update(const QString &server, const QString &login, const Account &judged, const QStringList &forget);
    // Every account's memories go: every message is judged again.
    bool forgetAll();

    QString errorText() const { return m_error; }

private:
    StateDatabase &m_database;
    mutable QString m_error;
};
