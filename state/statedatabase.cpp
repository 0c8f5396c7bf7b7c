#include "state/statedatabase.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Step n takes the schema from version n - 1 to n. Steps are never edited
// once released: a later feature appends its own step (and raises
// SchemaVersion), so every older file is brought forward the same way.
const QList<QStringList> &migrationSteps()
{
    static const QList<QStringList> steps = {
        // 1: the learned filter's token counts and the messages it learned
        // (by digest, so a message is counted once and can be unlearned).
        {
            u"CREATE TABLE learned_tokens (id INTEGER PRIMARY KEY, token TEXT NOT NULL,"
            " spam INTEGER NOT NULL DEFAULT 0, ham INTEGER NOT NULL DEFAULT 0)"_s,
            u"CREATE TABLE learned_messages (digest BLOB PRIMARY KEY, label INTEGER NOT NULL) WITHOUT ROWID"_s,
        },
        // 2: the scan log (one row per account and scan, written when the
        // account starts so that a crash leaves a row without an outcome),
        // the condemned messages with why and what became of them, and the
        // messages the user said were not spam.
        {
            u"CREATE TABLE scan_log (id INTEGER PRIMARY KEY, started TEXT NOT NULL, server TEXT NOT NULL,"
            " login TEXT NOT NULL, scanned INTEGER NOT NULL DEFAULT 0, condemned INTEGER NOT NULL DEFAULT 0,"
            " deleted INTEGER NOT NULL DEFAULT 0, outcome TEXT)"_s,
            u"CREATE TABLE spam_messages (id INTEGER PRIMARY KEY, server TEXT NOT NULL, login TEXT NOT NULL,"
            " uid TEXT NOT NULL, judged TEXT NOT NULL, sent TEXT, sender TEXT, subject TEXT, size INTEGER,"
            " archive_file TEXT, rule TEXT NOT NULL, entry TEXT, matched_in TEXT, state INTEGER NOT NULL)"_s,
            u"CREATE INDEX spam_messages_by_account ON spam_messages (server, login, state)"_s,
            u"CREATE TABLE not_spam (server TEXT NOT NULL, login TEXT NOT NULL, uid TEXT NOT NULL,"
            " PRIMARY KEY (server, login, uid)) WITHOUT ROWID"_s,
        },
        // 3: when each token was last learned (the number of messages
        // learned by then), so the rarest and oldest are pruned first.
        {
            u"ALTER TABLE learned_tokens ADD COLUMN seen INTEGER NOT NULL DEFAULT 0"_s,
        },
        // 4: what names a condemned message besides its unique id, which a
        // server may reuse or give twice: the SHA-1 of its header block and its
        // size as fetched. Rows judged before have neither.
        {
            u"ALTER TABLE spam_messages ADD COLUMN fingerprint TEXT"_s,
            u"ALTER TABLE spam_messages ADD COLUMN fetched_size INTEGER"_s,
        },
        // 5: the accounts whose password is in the desktop's keyring (their
        // password field in accounts.dat is empty).
        {
            u"CREATE TABLE keyring_accounts (server TEXT NOT NULL, login TEXT NOT NULL,"
            " PRIMARY KEY (server, login)) WITHOUT ROWID"_s,
        },
        // 6: the messages judged and left on the server, so that a scan with
        // "Check each message only once" passes over them (state/judgedmessages.h).
        {
            u"CREATE TABLE judged_messages (server TEXT NOT NULL, login TEXT NOT NULL, uid TEXT NOT NULL,"
            " fingerprint TEXT NOT NULL, fetched_size INTEGER NOT NULL, rules TEXT NOT NULL, judged TEXT NOT NULL,"
            " PRIMARY KEY (server, login, uid)) WITHOUT ROWID"_s,
        },
        // 7: the accounts that sign in with OAuth2: where their tokens come
        // from and when the access token ends. The tokens are in the keyring.
        {
            u"CREATE TABLE token_accounts (server TEXT NOT NULL, login TEXT NOT NULL,"
            " provider TEXT NOT NULL, client_id TEXT NOT NULL, client_secret TEXT NOT NULL, authorization_url TEXT NOT "
            "NULL,"
            " token_url TEXT NOT NULL, scope TEXT NOT NULL, expires_at INTEGER NOT NULL DEFAULT 0,"
            " sign_in_again INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (server, login)) WITHOUT ROWID"_s,
        },
        // 8: what the learned filter needs of a message it was unsure of,
        // which stays on the server and has no archive copy: its digest and
        // tokens, kept until the user teaches it or it leaves the server.
        {
            u"CREATE TABLE unsure_tokens (id INTEGER PRIMARY KEY, digest BLOB NOT NULL, tokens BLOB NOT NULL)"_s,
        },
        // 9: whether a deletion was the scan's own (its verdict under the
        // settings then) or the user's word. Older rows count as the user's,
        // as they were treated.
        {
            u"ALTER TABLE spam_messages ADD COLUMN by_scan INTEGER NOT NULL DEFAULT 0"_s,
        },
        // 10: the version of the tokenizer a message was learned with, so
        // that one learned with other tokens is never taken back by the
        // tokens of today. Older messages were learned with the first.
        {
            u"ALTER TABLE learned_messages ADD COLUMN tokenizer INTEGER NOT NULL DEFAULT 1"_s,
        },
    };
    return steps;
}

QString nextConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return u"quellmail-state-%1"_s.arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

QString StateDatabase::fileName() { return u"quellmail.sqlite"_s; }

StateDatabase::StateDatabase(const QString &folder)
    : m_path(QDir(folder).filePath(fileName()))
    , m_connectionName(nextConnectionName())
{
    static_assert(SchemaVersion >= 1);
    Q_ASSERT(migrationSteps().size() == SchemaVersion);
}

StateDatabase::~StateDatabase() { close(); }

bool StateDatabase::open()
{
    if (isOpen())
        return true;
    const QFileInfo info(m_path);
    if (info.isSymLink()) {
        m_error = m_path + u" is a link; the state database is not opened through it."_s;
        return false;
    }
    // SQLite would write through a link planted at a journal's name.
    for (const char *suffix : {"-wal", "-shm", "-journal"}) {
        const QFileInfo journal(m_path + QLatin1StringView(suffix));
        if (journal.isSymLink() || (journal.exists() && !journal.isFile())) {
            m_error = journal.filePath() + u" is not a plain file; the state database is not opened."_s;
            return false;
        }
    }
    if (info.exists() && !info.isFile()) {
        m_error = m_path + u" is not a plain file."_s;
        return false;
    }
    if (!info.exists()) {
        // Owner-only from the start: learned tokens are words of the user's mail.
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)
            || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            m_error = u"Cannot create "_s + m_path + u": "_s + file.errorString();
            return false;
        }
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connectionName);
        db.setDatabaseName(m_path);
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=%1"_s.arg(BusyTimeoutMs));
        if (!db.open()) {
            m_error = u"Cannot open "_s + m_path + u": "_s + db.lastError().text();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
            return false;
        }
    }
    // Nothing is changed in a file this version cannot vouch for.
    const int version = schemaVersion();
    if (version < 0) {
        close();
        return false;
    }
    if (version > SchemaVersion) {
        m_error =
            m_path
            + u" was written by a newer version of Quellmail (schema %1, this version knows %2)."_s.arg(version).arg(
                SchemaVersion);
        close();
        return false;
    }
    if (version == 0 && !isEmpty()) {
        close();
        return false;
    }
    // WAL with NORMAL sync: a commit survives a crash of the program; a
    // power cut may drop the last commits but never tears one.
    if (!exec(u"PRAGMA journal_mode=WAL"_s) || !exec(u"PRAGMA synchronous=NORMAL"_s)) {
        close();
        return false;
    }
    if (version < SchemaVersion && !migrate(version)) {
        close();
        return false;
    }
    return true;
}

bool StateDatabase::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && QSqlDatabase::database(m_connectionName, false).isOpen();
}

void StateDatabase::close()
{
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

int StateDatabase::schemaVersion()
{
    QSqlQuery query(connection());
    if (!query.exec(u"PRAGMA user_version"_s) || !query.next()) {
        m_error = m_path + u" is not a readable database: "_s + query.lastError().text();
        return -1;
    }
    return query.value(0).toInt();
}

bool StateDatabase::isEmpty()
{
    QSqlQuery query(connection());
    if (!query.exec(u"SELECT count(*) FROM sqlite_master"_s) || !query.next()) {
        m_error = m_path + u" is not a readable database: "_s + query.lastError().text();
        return false;
    }
    if (query.value(0).toInt() == 0)
        return true;
    m_error = m_path + u" holds another program's tables; it is not used."_s;
    return false;
}

bool StateDatabase::checkTables(const QStringList &tables)
{
    for (const QString &table : tables) {
        QSqlQuery query(connection());
        query.setForwardOnly(true);
        if (!query.exec(u"PRAGMA integrity_check(%1)"_s.arg(table))) {
            m_error = m_path + u" cannot be read: "_s + query.lastError().text();
            return false;
        }
        if (!query.next() || query.value(0).toString() != u"ok"_s) {
            m_error = m_path + u" is damaged (table %1: %2)."_s.arg(table, query.value(0).toString());
            return false;
        }
    }
    return true;
}

bool StateDatabase::syncToDisk()
{
    for (const QString &path : {QString(m_path + u"-wal"_s), m_path}) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        // No log: everything is in the file, synced at its last checkpoint.
        if (fd < 0 && errno == ENOENT && path != m_path)
            continue;
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        if (!synced) {
            m_error = path + u": "_s + qt_error_string(error);
            return false;
        }
    }
    return true;
}

QSqlDatabase StateDatabase::connection() const { return QSqlDatabase::database(m_connectionName, false); }

bool StateDatabase::transaction(const std::function<bool(QSqlDatabase &)> &work)
{
    m_error.clear();
    QSqlDatabase db = connection();
    if (!db.isOpen()) {
        m_error = u"The state database is not open."_s;
        return false;
    }
    if (!db.transaction()) {
        m_error = db.lastError().text();
        return false;
    }
    if (!work(db)) {
        if (m_error.isEmpty())
            m_error = db.lastError().text();
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        m_error = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

qint64 StateDatabase::insert(const QString &statement, const QVariantList &values)
{
    qint64 id = 0;
    const bool done = transaction([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        query.prepare(statement);
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (!query.exec()) {
            m_error = query.lastError().text();
            return false;
        }
        id = query.lastInsertId().toLongLong();
        return true;
    });
    return done ? id : 0;
}

bool StateDatabase::exec(const QString &statement)
{
    QSqlQuery query(connection());
    if (query.exec(statement))
        return true;
    m_error = statement + u": "_s + query.lastError().text();
    return false;
}

bool StateDatabase::migrate(int from)
{
    const QList<QStringList> &steps = migrationSteps();
    for (int version = from + 1; version <= SchemaVersion; ++version) {
        const bool done = transaction([&](QSqlDatabase &) {
            for (const QString &statement : steps.at(version - 1)) {
                if (!exec(statement))
                    return false;
            }
            return exec(u"PRAGMA user_version=%1"_s.arg(version));
        });
        if (!done)
            return false;
    }
    return true;
}
