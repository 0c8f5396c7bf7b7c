#pragma once
// Logs a worker's own control in to the mailbox its options name.

#include "bench/benchsupport.h"
#include "pop3/tarnpost.h"

#include <cstdio>

namespace Bench {

inline bool connectControl(Tarnpostctl::Tarnpost &control, const QCommandLineParser &parser,
                           const AccountOptions &account, int port)
{
    control.setPOPHostname(parser.value(account.host));
    control.setPOPPort(port);
    control.setPOPUsername(parser.value(account.user));
    control.setPOPPassword(parser.value(account.password));
    control.setPOPTimeout(30);
    control.Connect();
    if (control.Error() == 0)
        return true;
    std::fprintf(stderr, "connect failed: %s\n", qPrintable(control.ErrorText()));
    return false;
}

} // namespace Bench
