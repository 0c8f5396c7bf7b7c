#pragma once
// Small helpers shared by the control's tests.

#include "pop3/tarnpost.h"
#include "tests/support/scriptedpop3server.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace Pop3Test {

using namespace Qt::StringLiterals;

inline void configure(Tarnpostctl::Tarnpost &t, quint16 port, qint16 timeout = 2)
{
    t.setPOPHostname(u"127.0.0.1"_s);
    t.setPOPPort(port);
    t.setPOPUsername(u"joe"_s);
    t.setPOPPassword(u"secret"_s);
    t.setPOPTimeout(timeout);
}

// Configured as above, logged in and message n selected.
inline void connectAndSelect(Tarnpostctl::Tarnpost &t, quint16 port, qint16 n)
{
    configure(t, port);
    t.Connect();
    t.SetCurrentMsg(n);
}

// USER, PASS and STAT all accepted.
inline void scriptLogin(ScriptedPop3Server &server, const QByteArray &statReply = "+OK 3 3120\r\n")
{
    server.expect("USER joe", {"+OK\r\n"});
    server.expect("PASS secret", {"+OK\r\n"});
    server.expect("STAT", {statReply});
}

// Login, then select message n with the given unique id.
inline void scriptSelect(ScriptedPop3Server &server, int n = 1, const QByteArray &uid = "uid-1")
{
    server.expect("UIDL " + QByteArray::number(n), {"+OK " + QByteArray::number(n) + ' ' + uid + "\r\n"});
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

inline void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}

// The size a server lists for a message given as sent (CR LF line ends,
// dot-stuffed): its octets once the stuffing dots are taken out.
inline qint64 listedSize(const QByteArray &wire)
{
    qint64 stuffed = wire.startsWith('.') ? 1 : 0;
    for (qsizetype at = wire.indexOf("\r\n."); at >= 0; at = wire.indexOf("\r\n.", at + 3))
        ++stuffed;
    return wire.size() - stuffed;
}

// The same for the message a RETR reply carries (status line, the message,
// the closing "." line).
inline qint64 listedSizeOfReply(const QByteArray &reply)
{
    const qsizetype start = reply.indexOf("\r\n") + 2;
    return listedSize(reply.mid(start, reply.size() - start - 3));
}

inline QString latin1(const QByteArray &bytes) { return QString::fromLatin1(bytes); }

} // namespace Pop3Test
