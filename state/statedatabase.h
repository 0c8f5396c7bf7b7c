#pragma once
// The program's one SQLite database, quellmail.sqlite in the program folder:
// state that must survive a crash: learned tokens, the scan log, the
// condemned messages kept for review, which accounts keep their password
// in the keyring, which sign in with OAuth2, the messages judged once and
// the words of messages the learned filter was unsure of. The
// schema is versioned with PRAGMA user_version and moved forward one step at a
// time on open.

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <functional>

class StateDatabase final
{
    Q_DISABLE_COPY_MOVE(StateDatabase)

public:
    static constexpr int SchemaVersion = 10;
    // How long a statement waits for another process's lock before it fails:
    // a scan that cannot write its records must say so soon, not hang.
    static constexpr int BusyTimeoutMs = 1500;
    static QString fileName();

    explicit StateDatabase(const QString &folder);
    ~StateDatabase();

    // Creates the file (owner-only) or brings an older schema up to date.
    // Refuses a file written by a newer program, one that is no database, and
    // a planted link in place of the file or of its journal files. A file it
    // refuses is left as it is.
    bool open();
    bool isOpen() const;
    void close();

    QString path() const { return m_path; }
    QString errorText() const { return m_error; }
    int schemaVersion();
    // Whether SQLite finds the tables and their indexes whole: damage it
    // does not stumble on while reading could otherwise hide rows.
    bool checkTables(const QStringList &tables);

    // The connection, for the classes that own a table (same thread only).
    QSqlDatabase connection() const;

    // Runs work in one transaction: committed when it returns true, rolled
    // back otherwise. A crash at any point leaves the previous commit whole.
    // Queries of the caller must be finished first (SQLite will not commit
    // under a statement still reading).
    bool transaction(const std::function<bool(QSqlDatabase &)> &work);
    // Inserts one row in a commit of its own; its id, or 0 (errorText() says why).
    qint64 insert(const QString &statement, const QVariantList &values);

    // Puts every commit so far on the disk: with synchronous=NORMAL a commit
    // reaches the write-ahead log without an fsync, which a power cut may
    // undo. For records a step the server cannot undo relies on.
    bool syncToDisk();

    // For error texts of the callers.
    void setError(const QString &text) { m_error = text; }

private:
    bool exec(const QString &statement);
    // Whether the file holds no tables yet (a new file); errorText() says
    // why not.
    bool isEmpty();
    bool migrate(int from);

    QString m_path;
    QString m_connectionName;
    QString m_error;
};
