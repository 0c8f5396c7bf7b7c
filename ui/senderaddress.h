#pragma once
// The whitelist entry a From header can give safely: its one address and
// nothing else. The whitelist lets through every sender that contains an
// entry, so a fragment such as "m" from `support@bank.com <m>` would let
// nearly every message through.

#include <QString>

class SenderAddress final
{
public:
    // The address of the header's one mailbox: the text inside the angle
    // brackets when there are any (never an address in the display name),
    // else the whole header with comments left out. Empty when that is not a
    // whole address; *why then says what is wrong.
    static QString whitelistEntry(const QString &from, QString *why = nullptr);

    // local@host.tld, as an unquoted address; the host has a dot.
    static bool isWholeAddress(const QString &text);
    // host.tld: at least two labels of letters, digits and inner hyphens.
    static bool isDomain(const QString &text);

private:
    SenderAddress() = delete;
};
