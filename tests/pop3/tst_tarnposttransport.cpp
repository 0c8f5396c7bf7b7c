// Reply assembly of the control: one-line, multi-line and streamed replies at
// every packet split, timeouts, and the progress event.

#include "pop3/include/tarnpostctl.h"
#include "pop3/tarnpost.h"
#include "tests/pop3/pop3testutil.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;
using namespace Pop3Test;
using namespace Tarnpostctl;

namespace {

const QByteArray kStatus = "+OK 61 octets";
const QByteArray kContent = "Subject: hi\r\nFrom: a@b\r\n\r\nline one\r\n..dotted\r\n\r\nlast line\r\n";
// What RETR leaves: everything after the status line without the CR LF of the last line.
const QByteArray kExpectedFile = "Subject: hi\r\nFrom: a@b\r\n\r\nline one\r\n..dotted\r\n\r\nlast line";
const QByteArray kExpectedBody = "line one\r\n..dotted\r\n\r\nlast line";

QByteArray retrReply(const QByteArray &status = kStatus, const QByteArray &content = kContent)
{
    return status + "\r\n" + content + ".\r\n";
}

struct Split
{
    QString name;
    QList<QByteArray> chunks;
};

// Two chunks at every position, a few three-chunk splits and one byte at a time.
QList<Split> everySplit(const QByteArray &reply)
{
    QList<Split> splits;
    for (int i = 1; i < reply.size(); ++i)
        splits.append({u"at %1"_s.arg(i), ScriptedPop3Server::splitAt(reply, {i})});
    const int n = int(reply.size());
    const QList<QList<int>> triples{{1, n - 1}, {n - 5, n - 3}, {n - 4, n - 2}, {n - 3, n - 1}, {14, 15}, {15, n - 5}};
    for (const QList<int> &cuts : triples)
        splits.append({u"at %1 and %2"_s.arg(cuts.at(0)).arg(cuts.at(1)), ScriptedPop3Server::splitAt(reply, cuts)});
    splits.append({u"single bytes"_s, ScriptedPop3Server::chunksOf(reply, 1)});
    splits.append({u"whole"_s, {reply}});
    return splits;
}

// Connects, selects message 1 and fetches headers and size, so that every later
// retrieval sends RETR only.
void scriptReady(ScriptedPop3Server &server, const QByteArray &listReply = "+OK 1 58\r\n")
{
    scriptLogin(server, "+OK 1 61\r\n");
    scriptSelect(server, 1);
    server.expect("TOP 1 0", {"+OK\r\nSubject: hi\r\nFrom: a@b\r\n\r\n.\r\n"});
    server.expect("LIST 1", {listReply});
}

bool makeReady(Tarnpost &t, quint16 port, qint16 timeout = 2)
{
    configure(t, port, timeout);
    t.Connect();
    if (t.Status() != StatusConnected)
        return false;
    qint16 n = 1;
    t.SetCurrentMsg(n);
    t.MsgHeaders();
    t.MsgSizeInK();
    return t.Error() == ErrorNone && t.Status() == StatusConnected;
}

struct ProgressEvent
{
    qint32 read;
    qint32 total;
    qint16 percent;
    bool operator==(const ProgressEvent &o) const = default;
};

class RecordingSink final : public Automation::EventSink
{
public:
    void invokeEvent(qint32 memberId, QVariantList &args) override
    {
        ids.append(memberId);
        calls.append(args);
        if (newTotal >= 0 && args.size() > 1)
            args[1] = QVariant::fromValue<qint32>(newTotal);
    }
    QList<qint32> ids;
    QList<QVariantList> calls;
    qint32 newTotal = -1;
};

} // namespace

Q_DECLARE_METATYPE(ProgressEvent)

class TestTarnpostTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void streamedReplyAtEverySplit();
    void multiLineReplyAtEverySplit();
    void emptyMessageAtEverySplit();
    void streamRefusedEndsAtOnce_data();
    void streamRefusedEndsAtOnce();
    void multiLineRefused();
    void silenceGivesTimeoutText_data();
    void silenceGivesTimeoutText();
    void slowButSteadyReplyStaysAlive();
    void hostileReplies_data();
    void hostileReplies();
    void streamBytesAreExact();
    void fileThatFillsUpIsAnError();
    void progressEvents_data();
    void progressEvents();
    void progressWithoutSize();
    void handlerChangesSizeThroughReference();
    void eventSinkGetsProgressAndWritesBack();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestTarnpostTransport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestTarnpostTransport::streamedReplyAtEverySplit()
{
    const QByteArray reply = retrReply();
    const QList<Split> splits = everySplit(reply);
    ScriptedPop3Server server;
    server.setChunkDelay(2);
    scriptReady(server);
    for (const Split &split : splits)
        server.expect("RETR 1", split.chunks);
    QVERIFY(server.start());

    Tarnpost t;
    QVERIFY(makeReady(t, server.port()));
    QString path = m_dir->filePath(u"msg.eml"_s);
    for (const Split &split : splits) {
        writeFile(path, "old content that must go");
        t.WriteCurrentMsgToFile(path);
        QVERIFY2(t.Error() == ErrorNone, qPrintable(split.name + u": "_s + t.ErrorText()));
        QVERIFY2(readFile(path) == kExpectedFile, qPrintable(split.name + u": "_s + latin1(readFile(path))));
        QCOMPARE(t.MsgContents(), u"Contents written to file: "_s + path);
        QCOMPARE(t.Status(), qint16(StatusConnected));
    }
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
}

void TestTarnpostTransport::multiLineReplyAtEverySplit()
{
    const QByteArray reply = retrReply();
    const QList<Split> splits = everySplit(reply);
    ScriptedPop3Server server;
    server.setChunkDelay(2);
    scriptReady(server);
    for (const Split &split : splits)
        server.expect("RETR 1", split.chunks);
    QVERIFY(server.start());

    Tarnpost t;
    QVERIFY(makeReady(t, server.port()));
    const QString headers = t.MsgHeaders();
    QCOMPARE(headers, u"Subject: hi\r\nFrom: a@b\r\n"_s);
    for (const Split &split : splits) {
        t.RetrieveCurrentMsg();
        QVERIFY2(t.Error() == ErrorNone, qPrintable(split.name + u": "_s + t.ErrorText()));
        QVERIFY2(t.MsgContents() == latin1(kExpectedBody), qPrintable(split.name + u": "_s + t.MsgContents()));
        QCOMPARE(t.MsgHeaders(), headers); // already fetched: RETR does not replace it
    }
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
}

void TestTarnpostTransport::emptyMessageAtEverySplit()
{
    const QByteArray reply = "+OK 0 octets\r\n.\r\n";
    const QList<Split> splits = everySplit(reply);
    ScriptedPop3Server server;
    server.setChunkDelay(2);
    scriptReady(server, "+OK 1 0\r\n");
    for (const Split &split : splits) {
        server.expect("RETR 1", split.chunks);
        server.expect("RETR 1", split.chunks);
    }
    QVERIFY(server.start());

    Tarnpost t;
    QVERIFY(makeReady(t, server.port()));
    QString path = m_dir->filePath(u"empty.eml"_s);
    for (const Split &split : splits) {
        writeFile(path, "old");
        t.WriteCurrentMsgToFile(path);
        QVERIFY2(t.Error() == ErrorNone, qPrintable(split.name + u": "_s + t.ErrorText()));
        QVERIFY2(readFile(path).isEmpty(), qPrintable(split.name + u": "_s + latin1(readFile(path))));
        t.RetrieveCurrentMsg();
        QVERIFY2(t.Error() == ErrorNone, qPrintable(split.name + u": "_s + t.ErrorText()));
        QCOMPARE(t.MsgContents(), QString());
    }
}

void TestTarnpostTransport::streamRefusedEndsAtOnce_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    const QByteArray reply = "-ERR message gone\r\n";
    QTest::newRow("whole") << QList<QByteArray>{reply};
    QTest::newRow("CR and LF apart") << ScriptedPop3Server::splitAt(reply, {int(reply.size()) - 1});
    QTest::newRow("single bytes") << ScriptedPop3Server::chunksOf(reply, 1);
}

void TestTarnpostTransport::streamRefusedEndsAtOnce()
{
    QFETCH(QList<QByteArray>, chunks);
    ScriptedPop3Server server;
    server.setChunkDelay(2);
    scriptReady(server);
    server.expect("RETR 1", chunks);
    QVERIFY(server.start());

    Tarnpost t;
    // A long timeout: only the early end of the wait gives the refusal text.
    QVERIFY(makeReady(t, server.port(), 30));
    QString path = m_dir->filePath(u"refused.eml"_s);
    t.WriteCurrentMsgToFile(path);
    QCOMPARE(t.Error(), qint16(ErrorRetrRefused));
    QCOMPARE(t.ErrorText(), u"Error retrieving the message: -ERR message gone"_s);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(t.Status(), qint16(StatusDisconnected));
    QCOMPARE(t.SocketState(), 0);
}

void TestTarnpostTransport::multiLineRefused()
{
    const QByteArray reply = "-ERR no such thing\r\n";
    ScriptedPop3Server server;
    server.setChunkDelay(2);
    scriptReady(server);
    server.expect("RETR 1", ScriptedPop3Server::chunksOf(reply, 1));
    QVERIFY(server.start());
    Tarnpost t;
    QVERIFY(makeReady(t, server.port(), 30));
    t.RetrieveCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorRetrRefused));
    QCOMPARE(t.ErrorText(), u"Error retrieving the message: -ERR no such thing\r\n"_s);
    QCOMPARE(t.Status(), qint16(StatusDisconnected));
}

void TestTarnpostTransport::silenceGivesTimeoutText_data()
{
    QTest::addColumn<bool>("toFile");
    QTest::addColumn<QList<QByteArray>>("chunks"); // what arrives before the silence
    QTest::newRow("memory, nothing") << false << QList<QByteArray>{};
    QTest::newRow("memory, half a reply") << false << QList<QByteArray>{"+OK\r\nSubject: x\r\n"};
    QTest::newRow("file, nothing") << true << QList<QByteArray>{};
    QTest::newRow("file, half a reply") << true << QList<QByteArray>{"+OK\r\nSubject: x\r\n"};
}

void TestTarnpostTransport::silenceGivesTimeoutText()
{
    QFETCH(bool, toFile);
    QFETCH(QList<QByteArray>, chunks);
    ScriptedPop3Server server;
    scriptReady(server);
    if (chunks.isEmpty())
        server.expectThenSilence("RETR 1");
    else
        server.expect("RETR 1", chunks); // and then nothing more
    QVERIFY(server.start());
    Tarnpost t;
    QVERIFY(makeReady(t, server.port(), 1));
    if (toFile) {
        QString path = m_dir->filePath(u"silent.eml"_s);
        t.WriteCurrentMsgToFile(path);
    } else {
        t.RetrieveCurrentMsg();
    }
    QCOMPARE(t.Error(), qint16(ErrorRetrRefused));
    QCOMPARE(t.ErrorText(), u"Error retrieving the message: Program determining timeout error"_s);
    QCOMPARE(t.Status(), qint16(StatusDisconnected));
    QCOMPARE(t.SocketState(), 0);
}

void TestTarnpostTransport::slowButSteadyReplyStaysAlive()
{
    // Each gap is shorter than the allowed silence; the whole reply is longer.
    ScriptedPop3Server server;
    scriptReady(server);
    server.expect("RETR 1", ScriptedPop3Server::splitAt(retrReply(), {10, 40}));
    QVERIFY(server.start());
    Tarnpost t;
    QVERIFY(makeReady(t, server.port(), 1));
    server.setChunkDelay(900);
    t.RetrieveCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgContents(), latin1(kExpectedBody));
}

namespace {

// A message of exactly `size` bytes on the wire, CR LF line ends included.
QByteArray messageOf(qsizetype size)
{
    const QByteArray head = "Subject: x\r\n\r\n";
    return head + QByteArray(size - head.size() - 2, 'b') + "\r\n";
}

} // namespace

void TestTarnpostTransport::hostileReplies_data()
{
    // action: what the control does, and whose reply is hostile (connect:
    // the greeting; user, stat, select, size, headers, retrieve, file, delete).
    QTest::addColumn<QString>("action");
    QTest::addColumn<QList<QByteArray>>("reply"); // none: the command must never be sent
    QTest::addColumn<QByteArray>("listReply");
    QTest::addColumn<int>("chunkDelay");
    QTest::addColumn<qint32>("maxSize");
    QTest::addColumn<qint16>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("open");

    using L = QList<QByteArray>;
    const QByteArray mb(1 << 20, 'x');
    const QByteArray list = "+OK 1 100\r\n";
    const qint32 cap = Tarnpostctl::DefaultMaxMessageSize;
    const QString tooLong = u"The server sent a reply line longer than 65536 bytes. Connection closed"_s;
    const QString tooLarge = u"Message is larger than the limit of 1000 bytes; it was left on the server"_s;
    const QString mismatch = u"The message does not match the size the server listed for it; the connection was closed "
                             "without QUIT, so nothing marked for deletion in this session was deleted"_s;
    const auto retr = [](const QByteArray &message) -> QByteArray { return "+OK\r\n" + message + ".\r\n"; };

    // A reply line is capped at 64 KB.
    QTest::newRow("greeting without CR LF")
        << u"connect"_s << L{"+OK " + mb} << QByteArray() << 1 << cap << qint16(ErrorReplyTooLong) << tooLong << false;
    QTest::newRow("greeting of 65536 bytes") << u"connect"_s << L{"+OK " + QByteArray(65532, 'g') + "\r\n"}
                                             << QByteArray() << 1 << cap << qint16(ErrorNone) << QString() << true;
    QTest::newRow("greeting of 65536 bytes, CR LF split")
        << u"connect"_s << L{"+OK " + QByteArray(65532, 'g') + "\r", "\n"} << QByteArray() << 1 << cap
        << qint16(ErrorNone) << QString() << true;
    QTest::newRow("greeting of 65537 bytes")
        << u"connect"_s << L{"+OK " + QByteArray(65533, 'g') + "\r\n"} << QByteArray() << 1 << cap
        << qint16(ErrorReplyTooLong) << tooLong << false;
    QTest::newRow("USER reply of 1 MB") << u"user"_s << L{"+OK " + mb + "\r\n"} << QByteArray() << 1 << cap
                                        << qint16(ErrorReplyTooLong) << tooLong << false;
    QTest::newRow("STAT reply without CR LF")
        << u"stat"_s << L{"+OK 1 " + mb} << QByteArray() << 1 << cap << qint16(ErrorReplyTooLong) << tooLong << false;
    QTest::newRow("UIDL reply of 1 MB") << u"select"_s << L{"+OK 1 " + mb + "\r\n"} << QByteArray() << 1 << cap
                                        << qint16(ErrorReplyTooLong) << tooLong << false;
    QTest::newRow("LIST reply without CR LF")
        << u"size"_s << L{"+OK 1 " + mb} << QByteArray() << 1 << cap << qint16(ErrorReplyTooLong) << tooLong << false;
    // Bare LFs never end the reply, wherever the reads fall.
    QTest::newRow("LIST reply and a flood of LFs")
        << u"size"_s << L{"+OK 1 100\r\n" + QByteArray(1 << 20, '\n')} << QByteArray() << 1 << cap
        << qint16(ErrorReplyTooLong) << tooLong << false;
    QTest::newRow("DELE reply of 1 MB") << u"delete"_s << L{"+OK " + mb + "\r\n"} << QByteArray() << 1 << cap
                                        << qint16(ErrorReplyTooLong) << tooLong << false;
    QTest::newRow("TOP status line") << u"headers"_s << L{"+OK " + mb} << QByteArray() << 1 << cap
                                     << qint16(ErrorReplyTooLong) << tooLong << false;
    QTest::newRow("RETR status line") << u"retrieve"_s << L{"+OK " + mb} << list << 1 << cap
                                      << qint16(ErrorReplyTooLong) << tooLong << false;
    QTest::newRow("RETR status line, to a file")
        << u"file"_s << L{"+OK " + mb} << list << 1 << cap << qint16(ErrorReplyTooLong) << tooLong << false;

    // A message held in memory is capped at MaxMessageSize: refused before
    // RETR when LIST shows it, the session closed when it outgrows the cap
    // while arriving. One streamed into a file is not held, and not capped.
    QTest::newRow("LIST over the limit") << u"retrieve"_s << L{} << QByteArray("+OK 1 1001\r\n") << 1 << 1000
                                         << qint16(ErrorMessageTooLarge) << tooLarge << true;
    QTest::newRow("LIST over the limit, to a file")
        << u"file"_s << L{retr(messageOf(1001))} << QByteArray("+OK 1 1001\r\n") << 1 << 1000 << qint16(ErrorNone)
        << QString() << true;
    QTest::newRow("message at the limit") << u"retrieve"_s << L{retr(messageOf(1000))} << QByteArray("+OK 1 1000\r\n")
                                          << 1 << 1000 << qint16(ErrorNone) << QString() << true;
    QTest::newRow("message at the limit, to a file")
        << u"file"_s << L{retr(messageOf(1000))} << QByteArray("+OK 1 1000\r\n") << 1 << 1000 << qint16(ErrorNone)
        << QString() << true;
    // A message that outgrows its listed size is cut off as soon as it does:
    // the session ends without QUIT.
    QTest::newRow("message past a LIST that lied")
        << u"retrieve"_s << L{retr(messageOf(1001))} << QByteArray("+OK 1 500\r\n") << 1 << 1000
        << qint16(ErrorSizeMismatch) << mismatch << false;
    QTest::newRow("message past a LIST that lied, to a file")
        << u"file"_s << L{retr(messageOf(1001))} << QByteArray("+OK 1 500\r\n") << 1 << 1000
        << qint16(ErrorSizeMismatch) << mismatch << false;
    QTest::newRow("60 MB past a LIST of 2000 bytes")
        << u"retrieve"_s << L{retr(messageOf(60 << 20))} << QByteArray("+OK 1 2000\r\n") << 1 << cap
        << qint16(ErrorSizeMismatch) << mismatch << false;
    QTest::newRow("RETR that never ends")
        << u"retrieve"_s << L{"+OK\r\n" + QByteArray(1 << 20, '\n').replace("\n", "z\r\n")}
        << QByteArray("-ERR no size today\r\n") << 1 << 1000 << qint16(ErrorMessageTooLarge) << tooLarge << false;
    QTest::newRow("header block over the limit") << u"headers"_s << L{retr(messageOf(2000))} << QByteArray() << 1
                                                 << 1000 << qint16(ErrorMessageTooLarge) << tooLarge << false;

    // A reply that trickles in ends at POPTimeout plus its LIST size at 1 KB/s,
    // or at six times POPTimeout without a size (POPTimeout is 1 here).
    const auto trickle = [](const QByteArray &bytes, int n) { return ScriptedPop3Server::chunksOf(bytes, n); };
    QTest::newRow("greeting trickles")
        << u"connect"_s << trickle("+OK " + QByteArray(60, 't') + "\r\n", 1) << QByteArray() << 300 << cap
        << qint16(ErrorGreetingTimeout)
        << u"Connection was accepted but no data received before timeout. Connection closed"_s << false;
    QTest::newRow("LIST reply trickles") << u"size"_s << trickle("+OK 1 100" + QByteArray(60, ' ') + "\r\n", 1)
                                         << QByteArray() << 300 << cap << qint16(ErrorListRefused)
                                         << u"Error using the LIST command: Program determining timeout error"_s
                                         << true;
    QTest::newRow("RETR trickles") << u"retrieve"_s << trickle(retr(messageOf(2048)), 16)
                                   << QByteArray("+OK 1 2048\r\n") << 300 << cap << qint16(ErrorRetrRefused)
                                   << u"Error retrieving the message: Program determining timeout error"_s << false;
    QTest::newRow("RETR trickles, to a file")
        << u"file"_s << trickle(retr(messageOf(2048)), 16) << QByteArray("+OK 1 2048\r\n") << 300 << cap
        << qint16(ErrorRetrRefused) << u"Error retrieving the message: Program determining timeout error"_s << false;
}

void TestTarnpostTransport::hostileReplies()
{
    QFETCH(QString, action);
    QFETCH(QList<QByteArray>, reply);
    QFETCH(QByteArray, listReply);
    QFETCH(int, chunkDelay);
    QFETCH(qint32, maxSize);
    QFETCH(qint16, code);
    QFETCH(QString, text);
    QFETCH(bool, open);

    // The usual session; the hostile reply takes the place of its command's.
    static const QHash<QString, QByteArray> command{
        {u"user"_s, "USER joe"},   {u"stat"_s, "STAT"},       {u"select"_s, "UIDL 1"}, {u"size"_s, "LIST 1"},
        {u"headers"_s, "TOP 1 0"}, {u"retrieve"_s, "RETR 1"}, {u"file"_s, "RETR 1"},   {u"delete"_s, "DELE 1"}};
    using Step = std::pair<QByteArray, QList<QByteArray>>;
    QList<Step> steps{{"USER joe", {"+OK\r\n"}},
                      {"PASS secret", {"+OK\r\n"}},
                      {"STAT", {"+OK 1 100\r\n"}},
                      {"UIDL 1", {"+OK 1 u\r\n"}}};
    if (action == "file"_L1)
        steps.append(Step{"TOP 1 0", {"+OK\r\nSubject: x\r\n\r\n.\r\n"}});
    if (!listReply.isEmpty())
        steps.append(Step{"LIST 1", {listReply}});
    const auto own =
        std::find_if(steps.begin(), steps.end(), [&](const auto &step) { return step.first == command.value(action); });
    if (own != steps.end())
        own->second = reply;
    else if (!reply.isEmpty())
        steps.append(Step{command.value(action), reply});

    ScriptedPop3Server server;
    server.setChunkDelay(chunkDelay);
    if (action == "connect"_L1)
        server.setGreeting(reply);
    for (const auto &step : std::as_const(steps))
        server.expect(step.first, step.second);
    QVERIFY(server.start());

    Tarnpost t;
    configure(t, server.port(), 1);
    QVERIFY(t.setMaxMessageSize(maxSize));
    t.Connect();
    if (t.Status() == StatusConnected && command.contains(action) && action != "user"_L1 && action != "stat"_L1) {
        qint16 n = 1;
        t.SetCurrentMsg(n);
        QString path = m_dir->filePath(u"m.eml"_s);
        if (action == "size"_L1)
            t.MsgSizeInK();
        else if (action == "headers"_L1)
            t.MsgHeaders();
        else if (action == "retrieve"_L1)
            t.RetrieveCurrentMsg();
        else if (action == "file"_L1)
            t.WriteCurrentMsgToFile(path);
        else if (action == "delete"_L1)
            t.DeleteCurrentMsg();
    }
    QCOMPARE(t.ErrorText(), text);
    QCOMPARE(t.Error(), code);
    QCOMPARE(t.Status(), qint16(open ? 1 : 0));
    QCOMPARE(t.SocketState(), open ? 7 : 0);
    if (reply.isEmpty())
        QVERIFY(!server.receivedLines().contains(command.value(action)));
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
}

void TestTarnpostTransport::streamBytesAreExact()
{
    // Every byte value, NUL and 8-bit ones included, goes to the file unchanged.
    QByteArray content;
    for (int i = 0; i < 256; ++i) {
        if (i != '\r' && i != '\n')
            content.append(char(i));
    }
    content = "X-Bin: " + content + "\r\n\r\n" + content + "\r\n";
    const QByteArray reply = "+OK\r\n" + content + ".\r\n";
    ScriptedPop3Server server;
    scriptReady(server, "+OK 1 " + QByteArray::number(listedSize(content)) + "\r\n");
    server.expect("RETR 1", ScriptedPop3Server::chunksOf(reply, 97));
    server.expect("RETR 1", {reply});
    QVERIFY(server.start());
    Tarnpost t;
    QVERIFY(makeReady(t, server.port()));
    QString path = m_dir->filePath(u"bin.eml"_s);
    t.WriteCurrentMsgToFile(path);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(readFile(path), content.chopped(2));
    t.RetrieveCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgContents().toLatin1(), content.mid(content.indexOf("\r\n\r\n") + 4).chopped(2));
}

void TestTarnpostTransport::fileThatFillsUpIsAnError()
{
    // A file size limit stands in for a full disk: the check's one byte fits,
    // the message does not.
    const QByteArray content = "Subject: big\r\n\r\n" + QByteArray(20000, 'q') + "\r\n";
    ScriptedPop3Server server;
    scriptReady(server, "+OK 1 " + QByteArray::number(content.size()) + "\r\n");
    server.expect("RETR 1", {"+OK\r\n" + content + ".\r\n"});
    server.expect("RETR 1", {"+OK\r\n" + content + ".\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    QVERIFY(makeReady(t, server.port()));
    QString path = m_dir->filePath(u"full.eml"_s);

    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    t.WriteCurrentMsgToFile(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(t.Error(), qint16(ErrorFile));
    QCOMPARE(t.ErrorText(), u"File error: Error writing to file"_s);
    QVERIFY(!t.MsgContents().startsWith("Contents written to file"_L1));
    QCOMPARE(t.Status(), qint16(StatusConnected)); // the reply was consumed: the session goes on
    t.WriteCurrentMsgToFile(path);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(readFile(path), content.chopped(2));
}

void TestTarnpostTransport::progressEvents_data()
{
    QTest::addColumn<bool>("toFile");
    QTest::addColumn<bool>("lfCounted"); // LIST counts one octet per line end
    QTest::newRow("memory, 3 K message") << false << false;
    QTest::newRow("file, 3 K message") << true << false;
    QTest::newRow("memory, more than announced: LF line ends counted") << false << true;
    QTest::newRow("file, more than announced: LF line ends counted") << true << true;
}

void TestTarnpostTransport::progressEvents()
{
    QFETCH(bool, toFile);
    QFETCH(bool, lfCounted);
    // A 3000-octet message: 3 K. The first packet brings 1100 bytes.
    QByteArray reply = "+OK\r\n" + QByteArray(2998, 'a') + "\r\n.\r\n";
    for (qsizetype i = 70; i < reply.size() - 10; i += 72)
        reply[i] = '\r', reply[i + 1] = '\n';
    const qint64 lines = reply.count("\r\n") - 2;
    ScriptedPop3Server server;
    server.setChunkDelay(100);
    scriptReady(server, "+OK 1 " + QByteArray::number(lfCounted ? 3000 - lines : 3000) + "\r\n");
    server.expect("RETR 1", ScriptedPop3Server::splitAt(reply, {1100, 2000}));
    QVERIFY(server.start());
    Tarnpost t;
    QVERIFY(makeReady(t, server.port()));
    QCOMPARE(t.MsgSizeInK(), 3);

    QList<ProgressEvent> events;
    connect(&t, &Tarnpost::MsgReadStatus, &t, [&events](qint32 &read, qint32 &total, qint16 &percent) {
        events.append({read, total, percent});
    });
    if (toFile) {
        QString path = m_dir->filePath(u"progress.eml"_s);
        t.WriteCurrentMsgToFile(path);
    } else {
        t.RetrieveCurrentMsg();
    }
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QVERIFY(events.size() >= 3);
    QCOMPARE(events.first(), (ProgressEvent{2, 3, 67})); // 1100 bytes of 3 K
    QCOMPARE(events.last(), (ProgressEvent{3, 3, 100})); // the closing report
    for (const ProgressEvent &e : std::as_const(events)) {
        QVERIFY(e.read <= 3);
        QCOMPARE(e.total, 3);
        QVERIFY(e.percent >= 0 && e.percent <= 100);
    }
}

void TestTarnpostTransport::progressWithoutSize()
{
    // LIST refused: no size is known, and the reports say 0 of 0.
    ScriptedPop3Server server;
    server.setChunkDelay(50);
    scriptLogin(server, "+OK 1 61\r\n");
    scriptSelect(server, 1);
    server.expect("LIST 1", {"-ERR not today\r\n"});
    server.expect("RETR 1", ScriptedPop3Server::splitAt(retrReply(), {20}));
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 1);
    QList<ProgressEvent> events;
    connect(&t, &Tarnpost::MsgReadStatus, &t, [&events](qint32 &read, qint32 &total, qint16 &percent) {
        events.append({read, total, percent});
    });
    t.RetrieveCurrentMsg();
    QCOMPARE(t.MsgContents(), latin1(kExpectedBody));
    QVERIFY(events.size() >= 2);
    for (qsizetype i = 0; i + 1 < events.size(); ++i)
        QCOMPARE(events.at(i), (ProgressEvent{0, 0, 0}));
    QCOMPARE(events.last(), (ProgressEvent{0, 0, 100}));
    QCOMPARE(t.Status(), qint16(StatusConnected)); // a refused LIST leaves the session open
}

void TestTarnpostTransport::handlerChangesSizeThroughReference()
{
    ScriptedPop3Server server;
    scriptReady(server);
    server.expect("RETR 1", {retrReply()});
    QVERIFY(server.start());
    Tarnpost t;
    QVERIFY(makeReady(t, server.port()));
    connect(&t, &Tarnpost::MsgReadStatus, &t, [](qint32 &, qint32 &total, qint16 &percent) {
        if (percent == 100)
            total = 77;
    });
    t.RetrieveCurrentMsg();
    QCOMPARE(t.MsgSizeInK(), 77);
}

void TestTarnpostTransport::eventSinkGetsProgressAndWritesBack()
{
    ScriptedPop3Server server;
    server.setChunkDelay(100);
    scriptReady(server, "+OK 1 3000\r\n");
    const QByteArray reply = "+OK\r\n" + QByteArray(2998, 'b') + "\r\n.\r\n";
    server.expect("RETR 1", ScriptedPop3Server::splitAt(reply, {1100}));
    QVERIFY(server.start());
    Tarnpost t;
    QVERIFY(makeReady(t, server.port()));
    RecordingSink sink;
    sink.newTotal = 9;
    t.advise(&sink);
    t.RetrieveCurrentMsg();
    t.advise(nullptr);
    QVERIFY(sink.calls.size() >= 2);
    for (qint32 id : std::as_const(sink.ids))
        QCOMPARE(id, qint32(Tarnpostctl::DispIdMsgReadStatus));
    const QVariantList first = sink.calls.first();
    QCOMPARE(first.size(), 3);
    QCOMPARE(first.at(0).metaType(), QMetaType::fromType<qint32>());
    QCOMPARE(first.at(1).metaType(), QMetaType::fromType<qint32>());
    QCOMPARE(first.at(2).metaType(), QMetaType::fromType<qint16>());
    QCOMPARE(first.at(0).toInt(), 2);
    QCOMPARE(first.at(1).toInt(), 3);
    QCOMPARE(first.at(2).toInt(), 67);
    // The sink's assignment went into the control's own size.
    QCOMPARE(t.MsgSizeInK(), 9);
}

QTEST_MAIN(TestTarnpostTransport)
#include "tst_tarnposttransport.moc"
