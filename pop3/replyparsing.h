#pragma once
// The text work on server replies, free of the socket: the fields of STAT,
// UIDL and LIST replies, and the search for one header in a header block.

#include <QString>
#include <QStringView>

namespace Tarnpostctl::ReplyParsing {

// Blanks are spaces only; tabs, CR and LF stay.
QString trimBlanks(QStringView text);

// The leading number of a text: digits with an optional sign, fraction and
// exponent, blanks skipped anywhere, rounded half to even and clamped to
// 32 bits; 0 when there is none.
qint32 leadingNumber(QStringView text);

// "+OK 3 3120\r\n": the message count and the mailbox size.
struct StatFields
{
    qint32 count = 0;
    qint32 size = 0;
};
StatFields parseStat(const QString &reply);

// "+OK 2 QhGwZ8kq\r\n" -> "QhGwZ8kq": drop "+OK ", then up to the first
// blank, then the CR LF (UIDL's id, LIST's size).
QString cutReplyField(const QString &reply);

// The first line of the header `name` (case-insensitive, whole names at the
// start of a line only) in a header block, its value trimmed of blanks.
struct HeaderMatch
{
    bool found = false;
    QString value;
    qsizetype lineEnd = -1;   // where the matched line's CR LF begins, from the name; -1 at the block's end
    qsizetype nameStart = -1; // where the matched header name begins in the block
};
HeaderMatch findHeader(const QString &headers, const QString &name);

} // namespace Tarnpostctl::ReplyParsing
