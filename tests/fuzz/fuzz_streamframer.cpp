// The streamed framing: any packetisation of a reply gives the same status
// line and the same file as the reply fed whole, and a complete reply gives
// exactly the content between the status line and the terminator.

#include "pop3/streamframer.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QByteArray>
#include <QList>

namespace {

struct Outcome
{
    QByteArray statusLine;
    QByteArray content;
    bool statusSeen = false;
    bool finished = false;
    bool refused = false;
    bool operator==(const Outcome &) const = default;
};

Outcome frame(const QList<QByteArray> &packets)
{
    Outcome out;
    Tarnpostctl::StreamFramer framer;
    framer.onStatusLine = [&](const QByteArray &line) {
        Fuzz::check(!out.statusSeen, "status line reported twice");
        Fuzz::check(out.content.isEmpty(), "content before the status line");
        out.statusSeen = true;
        out.statusLine = line;
    };
    framer.onContent = [&](const char *data, qsizetype size) {
        Fuzz::check(size > 0, "empty content piece");
        out.content.append(data, size);
    };
    framer.start();
    for (const QByteArray &p : packets)
        framer.feed(p);
    out.finished = framer.finished();
    out.refused = framer.refused();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte seeds the packet sizes; the rest is the reply.
    quint32 seed = data[0] * 2654435761u + 1;
    const QByteArray reply(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    QList<QByteArray> packets;
    for (qsizetype at = 0; at < reply.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype n = qsizetype(1 + (seed >> 16) % 7);
        packets.append(reply.mid(at, n));
        at += n;
    }
    const Outcome whole = frame({reply});
    const Outcome split = frame(packets);
    Fuzz::check(whole == split, "the split changed the outcome");

    const qsizetype crlf = reply.indexOf("\r\n");
    Fuzz::check(whole.statusSeen == (crlf >= 0), "status line found where there is none");
    if (crlf < 0)
        return 0;
    Fuzz::check(whole.statusLine == reply.left(crlf), "wrong status line");
    if (reply.startsWith("-ERR")) {
        Fuzz::check(whole.refused && whole.finished && whole.content.isEmpty(), "a refusal carried content");
        return 0;
    }
    const qsizetype end = reply.indexOf("\r\n.\r\n", crlf);
    Fuzz::check(whole.finished == (end >= 0), "end of stream misjudged");
    if (end >= 0) {
        const QByteArray expected = end > crlf ? reply.mid(crlf + 2, end - crlf - 2) : QByteArray();
        Fuzz::check(whole.content == expected, "content differs from the reply's");
    } else {
        // Unfinished: what was written is a prefix of what follows the status line.
        Fuzz::check(reply.mid(crlf + 2).startsWith(whole.content), "content not a prefix");
    }
    return 0;
}
