#pragma once
// The scan log: one row per account and scan. A row is written when the
// account's scan starts and completed when it ends, each in its own commit,
// so a scan cut short by a crash still shows, without an outcome.

#include <QDateTime>
#include <QList>
#include <QString>

class StateDatabase;

class ScanLog final
{
    Q_DISABLE_COPY_MOVE(ScanLog)

public:
    struct Record
    {
        qint64 id = 0;
        QDateTime started;
        QString server;
        QString login; // never the password
        int scanned = 0;
        int condemned = 0;
        int deleted = 0;
        QString outcome; // "ok", the control's error text, or empty: the scan never ended

        bool interrupted() const { return outcome.isEmpty(); }
        bool failed() const { return !outcome.isEmpty() && outcome != ok(); }
    };

    static QString ok() { return QStringLiteral("ok"); }

    explicit ScanLog(StateDatabase &database);

    // Returns the new row's id, or 0 (errorText() says why).
    qint64 begin(const QString &server, const QString &login, const QDateTime &started);
    // Completes the row record.id; an empty outcome is stored as "ok".
    bool finish(const Record &record);
    QList<Record> latest(int limit) const;

    QString errorText() const { return m_error; }

private:
    StateDatabase &m_database;
    mutable QString m_error;
};
