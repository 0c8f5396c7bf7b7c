// The framing of pipelined replies: any packetisation of the connection gives
// the same replies as the bytes fed whole (with messages held to a listed
// size, or replies over their cap dropped, too), and those are the replies a
// reading from the start finds, one command after another.

#include "pop3/include/tarnpostctl.h"
#include "pop3/replypipeline.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QByteArray>
#include <QList>

namespace {

using Tarnpostctl::ReplyPipeline;

struct Seen
{
    ReplyPipeline::Outcome outcome;
    QByteArray bytes;
    bool operator==(const Seen &) const = default;
};

QList<Seen> frame(const QList<QByteArray> &packets, quint8 kinds, qint64 cap, qint64 listed = -1, bool discard = false)
{
    ReplyPipeline pipe;
    for (int i = 0; i < 8; ++i)
        pipe.expect((kinds >> i) & 1, cap, 0, -1, listed, discard);
    QList<Seen> seen;
    for (const QByteArray &p : packets) {
        pipe.feed(p.constData(), p.size());
        while (!pipe.isEmpty() && pipe.frontDone()) {
            ReplyPipeline::Reply r = pipe.takeFront();
            seen.append({r.outcome, r.bytes});
        }
    }
    while (!pipe.isEmpty()) {
        ReplyPipeline::Reply r = pipe.takeFront();
        seen.append({r.outcome, r.bytes});
    }
    Fuzz::check(pipe.heldBytes() == 0, "held bytes miscounted");
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte seeds the packet sizes, the second says which of eight
    // commands expect a multi-line reply; the rest is the connection.
    quint32 seed = data[0] * 2654435761u + 1;
    const quint8 kinds = data[1];
    const QByteArray stream(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2));
    QList<QByteArray> packets;
    for (qsizetype at = 0; at < stream.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype n = qsizetype(1 + (seed >> 16) % 9);
        packets.append(stream.mid(at, n));
        at += n;
    }

    // Held to a listed size taken from the seed, or dropped over a small cap.
    const qint64 listed = qint64(data[0] % 64);
    Fuzz::check(frame({stream}, kinds, qint64(1) << 30, listed) == frame(packets, kinds, qint64(1) << 30, listed),
                "the split changed a size check");
    Fuzz::check(frame({stream}, kinds, 16, -1, true) == frame(packets, kinds, 16, -1, true),
                "the split changed a dropped reply");

    for (const qint64 cap : {qint64(1) << 30, qint64(16)}) {
        const QList<Seen> whole = frame({stream}, kinds, cap);
        Fuzz::check(whole == frame(packets, kinds, cap), "the split changed the replies");
        // Replies within the caps: the reading from the start below.
        if (cap < stream.size() || stream.size() > Tarnpostctl::MaxReplyLine)
            continue;
        // Read from the start, one reply after another.
        qsizetype at = 0;
        for (int i = 0; i < 8; ++i) {
            const Seen &got = whole.at(i);
            const qsizetype crlf = stream.indexOf("\r\n", at);
            if (crlf < 0) {
                Fuzz::check(got.outcome == ReplyPipeline::Outcome::Pending && got.bytes == stream.mid(at),
                            "an unfinished status line");
                at = stream.size();
                continue;
            }
            const bool multi = (kinds >> i) & 1;
            if (!multi || stream.mid(at).startsWith("-ERR")) {
                Fuzz::check(got.outcome == ReplyPipeline::Outcome::Complete
                                && got.bytes == stream.mid(at, crlf + 2 - at),
                            "a one-line reply");
                at = crlf + 2;
                continue;
            }
            const qsizetype end = stream.indexOf("\r\n.\r\n", crlf);
            if (end < 0) {
                Fuzz::check(got.outcome == ReplyPipeline::Outcome::Pending && got.bytes == stream.mid(at),
                            "an unfinished multi-line reply");
                at = stream.size();
                continue;
            }
            Fuzz::check(got.outcome == ReplyPipeline::Outcome::Complete && got.bytes == stream.mid(at, end - at),
                        "a multi-line reply");
            at = end + 5;
        }
    }
    return 0;
}
