#include "state/judgedmessages.h"

#include "state/statedatabase.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

using namespace Qt::StringLiterals;

JudgedMessages::JudgedMessages(StateDatabase &database)
    : m_database(database)
{}

std::optional<JudgedMessages::Account> JudgedMessages::account(const QString &server, const QString &login,
                                                               const QString &rules) const
{
    Account found;
    {
        // Sized once: growing a table of ten thousand ids costs more than counting them.
        QSqlQuery count(m_database.connection());
        count.prepare(u"SELECT count(*) FROM judged_messages WHERE server = ? AND login = ?"_s);
        count.addBindValue(server);
        count.addBindValue(login);
        if (count.exec() && count.next())
            found.reserve(count.value(0).toLongLong());
    }
    QSqlQuery query(m_database.connection());
    query.setForwardOnly(true);
    // A mailbox of ten thousand messages is read at every scan: the rules'
    // text is compared here rather than copied out for each row.
    query.prepare(u"SELECT uid, rules = ?, fingerprint, fetched_size FROM judged_messages"
                  " WHERE server = ? AND login = ?"_s);
    query.addBindValue(rules);
    query.addBindValue(server);
    query.addBindValue(login);
    if (!query.exec()) {
        m_error = query.lastError().text();
        return std::nullopt;
    }
    while (query.next()) {
        Memory &memory = found[query.value(0).toString()];
        if (query.value(1).toInt() == 1)
            memory = {query.value(2).toString(), query.value(3).toLongLong(), rules};
    }
    if (query.lastError().isValid()) {
        m_error = query.lastError().text();
        return std::nullopt;
    }
    return found;
}

bool JudgedMessages::update(const QString &server, const QString &login, const Account &judged,
                            const QStringList &forget)
{
    if (judged.isEmpty() && forget.isEmpty())
        return true;
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const bool done = m_database.transaction([&](QSqlDatabase &db) {
        QSqlQuery remember(db);
        remember.prepare(u"INSERT OR REPLACE INTO judged_messages (server, login, uid, fingerprint, fetched_size,"
                         " rules, judged) VALUES (?, ?, ?, ?, ?, ?, ?)"_s);
        for (auto it = judged.cbegin(); it != judged.cend(); ++it) {
            remember.addBindValue(server);
            remember.addBindValue(login);
            remember.addBindValue(it.key());
            remember.addBindValue(it->fingerprint);
            remember.addBindValue(it->fetchedSize);
            remember.addBindValue(it->rules);
            remember.addBindValue(now);
            if (!remember.exec())
                return false;
        }
        QSqlQuery drop(db);
        drop.prepare(u"DELETE FROM judged_messages WHERE server = ? AND login = ? AND uid = ?"_s);
        for (const QString &uid : forget) {
            drop.addBindValue(server);
            drop.addBindValue(login);
            drop.addBindValue(uid);
            if (!drop.exec())
                return false;
        }
        return true;
    });
    if (!done)
        m_error = m_database.errorText();
    return done;
}

bool JudgedMessages::forgetAll()
{
    const bool done = m_database.transaction([](QSqlDatabase &db) {
        QSqlQuery query(db);
        return query.exec(u"DELETE FROM judged_messages"_s);
    });
    if (!done)
        m_error = m_database.errorText();
    return done;
}
