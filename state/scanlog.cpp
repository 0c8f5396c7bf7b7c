#include "state/scanlog.h"

#include "state/statedatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

using namespace Qt::StringLiterals;

ScanLog::ScanLog(StateDatabase &database)
    : m_database(database)
{}

qint64 ScanLog::begin(const QString &server, const QString &login, const QDateTime &started)
{
    const qint64 id = m_database.insert(u"INSERT INTO scan_log (started, server, login) VALUES (?, ?, ?)"_s,
                                        {started.toUTC().toString(Qt::ISODateWithMs), server, login});
    if (id == 0)
        m_error = m_database.errorText();
    return id;
}

bool ScanLog::finish(const Record &record)
{
    const bool done = m_database.transaction([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        query.prepare(u"UPDATE scan_log SET scanned = ?, condemned = ?, deleted = ?, outcome = ? WHERE id = ?"_s);
        query.addBindValue(record.scanned);
        query.addBindValue(record.condemned);
        query.addBindValue(record.deleted);
        query.addBindValue(record.outcome.isEmpty() ? ok() : record.outcome);
        query.addBindValue(record.id);
        return query.exec() && query.numRowsAffected() == 1;
    });
    if (!done)
        m_error = m_database.errorText();
    return done;
}

QList<ScanLog::Record> ScanLog::latest(int limit) const
{
    QList<Record> records;
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    query.prepare(u"SELECT id, started, server, login, scanned, condemned, deleted, outcome FROM scan_log"
                  " ORDER BY id DESC LIMIT ?"_s);
    query.addBindValue(limit);
    if (!query.exec()) {
        m_error = query.lastError().text();
        return records;
    }
    while (query.next()) {
        Record r;
        r.id = query.value(0).toLongLong();
        r.started = QDateTime::fromString(query.value(1).toString(), Qt::ISODateWithMs);
        r.server = query.value(2).toString();
        r.login = query.value(3).toString();
        r.scanned = query.value(4).toInt();
        r.condemned = query.value(5).toInt();
        r.deleted = query.value(6).toInt();
        r.outcome = query.value(7).toString();
        records.append(r);
    }
    return records;
}
