#pragma once
// What one scan did with one account, for callers that report it (the
// command-line scan). The window shows the totals instead.

#include <QString>

namespace Scan {

struct AccountResult
{
    QString server; // the mail server cell as the accounts list holds it
    QString login;
    int scanned = 0;   // message numbers walked
    int condemned = 0; // spam verdicts
    int deleted = 0;   // deletions the server accepted in a session that ended with QUIT
    QString error;     // why the account failed; empty when it was scanned

    bool failed() const { return !error.isEmpty(); }
};

} // namespace Scan
