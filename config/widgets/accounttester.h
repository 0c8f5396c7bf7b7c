#pragma once
// What the account dialog's "Test connection" needs: a login, STAT and QUIT
// against the account as typed. The window provides it, since only the
// program reaches the POP3 control.

#include <QString>

class AccountTester
{
public:
    virtual ~AccountTester() = default;

    // Waits in the event loop, so the dialog stays live; returns the outcome
    // as one sentence for the user: the message count and the transport, or
    // the server's (or socket's) own error.
    virtual QString test(const QString &server, const QString &login, const QString &password) = 0;
    // Ends a running test within about a second; test() then returns.
    virtual void cancel() = 0;

protected:
    AccountTester() = default;
    Q_DISABLE_COPY_MOVE(AccountTester)
};
