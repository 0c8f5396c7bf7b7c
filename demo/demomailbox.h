#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class DovecotServer;

// The demo's sample mail and the program folder set up to scan it: clean
// messages, a friend's message that the whitelist keeps, and spam caught by
// the blacklist and by keywords in the subject and in the body.
class DemoMailbox final
{
public:
    static const QString User;
    static const QString Password;

    static QList<QByteArray> messages();
    static void fill(DovecotServer &server);

    // Writes accounts.dat (one account on `server`, e.g. "pop3://127.0.0.1:1100"),
    // the three lists and stats.dat with every rule and the schedule on.
    // Returns an error text, empty on success.
    static QString writeProgramFolder(const QString &folder, const QString &server);

private:
    DemoMailbox() = delete;
};
