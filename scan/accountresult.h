#pragma once
// What one scan did with one account, for callers that report it (the
// command-line scan). The window shows the totals instead.

#include <QList>
#include <QString>
#include <QStringList>

namespace Scan {

struct AccountResult
{
    // One message a rule condemned in this account.
    struct Condemned
    {
        QString from;    // as the server sent it
        QString subject; // decoded
        QString rule;    // "blacklist", "keyword", "learned filter"
        QString entry;
        bool held = false; // left on the server for review rather than marked for deletion
    };

    QString server; // the mail server cell as the accounts list holds it
    QString login;
    int scanned = 0;   // message numbers walked
    int condemned = 0; // spam verdicts
    int deleted = 0;   // deletions the server accepted in a session that ended with QUIT
    QString error;     // why the account failed; empty when it was scanned
    // Problems that did not end the account (a failed archive copy, a
    // record that could not be written, deletions withheld), in order.
    QStringList problems;
    QList<Condemned> spam; // every verdict, whatever the announce setting

    bool failed() const { return !error.isEmpty(); }
};

} // namespace Scan
