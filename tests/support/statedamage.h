#pragma once
// The ways a scan finds the state database unusable: damaged, not a
// database, of a newer or foreign schema, a planted link, locked or
// read-only. Header-only: for tests that link the state library.

#include "state/statedatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <unistd.h>

namespace ProgramTest {

enum class StateDamage {
    Corrupt,
    NotSqlite,
    NewerSchema,
    ForeignTables,
    Link,
    JournalLink,
    ExclusiveLock,
    WriteLock,
    ReadOnly
};

// Applies one damage to the database of a program folder (written and
// closed by an earlier scan) and undoes what it must when it goes: the
// locks it holds, the file it made read-only. While a lock is held, the
// test must not open the file itself: closing any descriptor of it drops
// the process's locks.
class StateDamager
{
public:
    ~StateDamager()
    {
        if (!m_connection.isEmpty()) {
            {
                QSqlDatabase db = QSqlDatabase::database(m_connection, false);
                db.rollback();
                db.close();
            }
            QSqlDatabase::removeDatabase(m_connection);
        }
        if (!m_immutable.isEmpty())
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_immutable});
    }

    // Where a planted link points.
    QString outside(const QString &name) const { return m_outside.filePath(name); }

    bool apply(const QString &folder, StateDamage how)
    {
        const QString path = QDir(folder).filePath(StateDatabase::fileName());
        QFile file(path);
        switch (how) {
        case StateDamage::Corrupt: {
            // The first page (the header) is whole; every page after it is garbage.
            if (!file.open(QIODevice::ReadWrite) || file.size() <= 4096)
                return false;
            const qint64 size = file.size();
            return file.seek(4096) && file.write(QByteArray(size - 4096, '\x5a')) == size - 4096;
        }
        case StateDamage::NotSqlite:
            return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                   && file.write(QByteArray("Notes, not a database.\n").repeated(300)) > 0;
        case StateDamage::NewerSchema:
            return exec(path, {QStringLiteral("PRAGMA user_version=%1").arg(StateDatabase::SchemaVersion + 1)}, false);
        case StateDamage::ForeignTables:
            return QFile::remove(path)
                   && exec(path,
                           {QStringLiteral("CREATE TABLE contacts (name TEXT)"),
                            QStringLiteral("INSERT INTO contacts VALUES ('ann')")},
                           false);
        case StateDamage::Link:
            return QFile::rename(path, outside(StateDatabase::fileName()))
                   && QFile::link(outside(StateDatabase::fileName()), path);
        case StateDamage::JournalLink: {
            QFile victim(outside(QStringLiteral("victim")));
            return victim.open(QIODevice::WriteOnly) && victim.write("keep me") == 7
                   && QFile::link(victim.fileName(), path + QStringLiteral("-wal"));
        }
        case StateDamage::ExclusiveLock:
            // Held until this object goes: no other connection may even read.
            return exec(path,
                        {QStringLiteral("PRAGMA locking_mode=EXCLUSIVE"), QStringLiteral("BEGIN IMMEDIATE"),
                         QStringLiteral("UPDATE scan_log SET outcome = outcome"), QStringLiteral("COMMIT")},
                        true);
        case StateDamage::WriteLock: return exec(path, {QStringLiteral("BEGIN IMMEDIATE")}, true);
        case StateDamage::ReadOnly:
            if (::geteuid() != 0)
                return QFile::setPermissions(path, QFile::ReadOwner);
            // Permissions do not stop root.
            if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) != 0)
                return false;
            m_immutable = path;
            return true;
        }
        return false;
    }

private:
    // Runs the statements on a connection of its own; a held one stays open.
    bool exec(const QString &path, const QStringList &statements, bool hold)
    {
        const QString name = QStringLiteral("state-damage-%1").arg(quintptr(this));
        bool done = true;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            done = db.open();
            for (const QString &statement : statements)
                done = done && QSqlQuery(db).exec(statement);
            if (!hold)
                db.close();
        }
        if (hold)
            m_connection = name;
        else
            QSqlDatabase::removeDatabase(name);
        return done;
    }

    QString m_connection;
    QString m_immutable;
    QTemporaryDir m_outside;
};

} // namespace ProgramTest
