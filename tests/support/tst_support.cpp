#include "dovecot/dovecotserver.h"
#include "tests/support/scriptedpop3server.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A bare POP3 client that keeps every read separately, to see packet boundaries.
class RawClient
{
public:
    bool connectTo(const QString &address, quint16 port)
    {
        m_socket.connectToHost(QHostAddress(address), port);
        return wait([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 5000);
    }
    // Reads until the data received since the last call ends with terminator.
    QByteArray readUntil(const QByteArray &terminator, int timeoutMs = 5000)
    {
        wait([&] { return pending().endsWith(terminator); }, timeoutMs);
        return take();
    }
    QByteArray command(const QByteArray &line, const QByteArray &terminator = "\r\n")
    {
        m_socket.write(line + "\r\n");
        return readUntil(terminator);
    }
    void send(const QByteArray &line)
    {
        m_socket.write(line + "\r\n");
        m_socket.flush();
    }
    bool waitForClosed(int timeoutMs = 5000)
    {
        return wait([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
    }
    // Lets the event loop run for a while so anything in flight can land.
    void settle(int ms)
    {
        wait([] { return false; }, ms);
    }
    QByteArray take()
    {
        const QByteArray data = pending();
        m_consumed += data.size();
        return data;
    }
    QByteArray pending() const { return m_all.mid(m_consumed); }
    QList<QByteArray> reads() const { return m_reads; }
    void close()
    {
        m_socket.disconnectFromHost();
        waitForClosed();
    }

private:
    template <typename Done> bool wait(Done done, int timeoutMs)
    {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        // Data may have arrived while no wait was listening: take it first.
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QTcpSocket::stateChanged, &loop, &QEventLoop::quit);
        deadline.start(timeoutMs);
        drain();
        bool ok = done();
        while (!ok && deadline.isActive()) {
            loop.exec();
            drain();
            ok = done();
        }
        QObject::disconnect(&m_socket, nullptr, &loop, nullptr);
        return ok;
    }

    void drain()
    {
        const QByteArray data = m_socket.readAll();
        if (!data.isEmpty()) {
            m_reads.append(data);
            m_all += data;
        }
    }

    QTcpSocket m_socket;
    QList<QByteArray> m_reads;
    QByteArray m_all;
    qsizetype m_consumed = 0;
};

} // namespace

class TestSupport final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void splitHelpers_data();
    void splitHelpers();
    void greetingArrivesInSeparateChunks();
    void scriptRepliesAndRecordsMismatches();
    void closeStepThenReconnectContinuesScript();
    void silenceLastsUntilTheConnectionCloses();
    void quitAndDefaultReply();
    void neverGreet();
    void secondClientWaitsForTheFirst();
    void dovecotRoundTrip();
    void dovecotOnPrivilegedPortOfOwnAddress();
};

void TestSupport::splitHelpers_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("expected");
    const QByteArray data = "+OK 12\r\n";
    QTest::newRow("splitAt unsorted") << ScriptedPop3Server::splitAt(data, {6, 2})
                                      << QList<QByteArray>{"+O", "K 12", "\r\n"};
    QTest::newRow("splitAt ignores 0, end, repeats")
        << ScriptedPop3Server::splitAt(data, {0, 3, 3, 8, 42}) << QList<QByteArray>{"+OK", " 12\r\n"};
    QTest::newRow("splitAt no cuts") << ScriptedPop3Server::splitAt(data, {}) << QList<QByteArray>{data};
    QTest::newRow("chunksOf 3") << ScriptedPop3Server::chunksOf(data, 3) << QList<QByteArray>{"+OK", " 12", "\r\n"};
    QTest::newRow("chunksOf 1") << ScriptedPop3Server::chunksOf("ab", 1) << QList<QByteArray>{"a", "b"};
    QTest::newRow("chunksOf larger than data") << ScriptedPop3Server::chunksOf(data, 100) << QList<QByteArray>{data};
    QTest::newRow("empty") << ScriptedPop3Server::chunksOf({}, 4) << QList<QByteArray>{};
}

void TestSupport::splitHelpers()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, expected);
    QCOMPARE(chunks, expected);
}

void TestSupport::greetingArrivesInSeparateChunks()
{
    const QByteArray greeting = "+OK ready for you\r\n";
    const QList<int> cuts{3, 9, 18};
    ScriptedPop3Server server;
    server.setGreeting(ScriptedPop3Server::splitAt(greeting, cuts));
    server.setChunkDelay(250); // wide enough that the client reads each chunk alone
    QVERIFY(server.start());

    RawClient client;
    QVERIFY(client.connectTo(u"127.0.0.1"_s, server.port()));
    QCOMPARE(client.readUntil("\r\n"), greeting);
    QList<int> boundaries;
    int at = 0;
    for (const QByteArray &read : client.reads())
        boundaries.append(at += int(read.size()));
    for (int cut : cuts)
        QVERIFY2(boundaries.contains(cut), qPrintable(u"no read ended at byte %1"_s.arg(cut)));
    QCOMPARE(server.connectionCount(), 1);
}

void TestSupport::scriptRepliesAndRecordsMismatches()
{
    ScriptedPop3Server server;
    server.setChunkDelay(5);
    server.expect("USER alice", {"+OK\r\n"});
    server.expect("PASS", ScriptedPop3Server::chunksOf("+OK logged in\r\n", 4));
    server.expect("STAT", {"+OK 2 320\r\n"});
    server.expect("RETR 1", ScriptedPop3Server::splitAt("+OK\r\nSubject: x\r\n\r\nbody\r\n.\r\n", {3, 20, 26}));
    QVERIFY(server.start());

    RawClient client;
    QVERIFY(client.connectTo(u"127.0.0.1"_s, server.port()));
    QVERIFY(client.readUntil("\r\n").startsWith("+OK"));
    QCOMPARE(client.command("USER alice"), "+OK\r\n");
    QCOMPARE(client.command("PASS secret"), "+OK logged in\r\n");
    QCOMPARE(client.command("LIST"), "+OK 2 320\r\n"); // wrong command, step still used
    QCOMPARE(client.command("RETR 1", "\r\n.\r\n"), "+OK\r\nSubject: x\r\n\r\nbody\r\n.\r\n");

    QCOMPARE(server.receivedLines(), (QList<QByteArray>{"USER alice", "PASS secret", "LIST", "RETR 1"}));
    QCOMPARE(server.mismatches().size(), 1);
    QVERIFY(server.mismatches().first().contains(u"STAT"_s));
    QVERIFY(server.mismatches().first().contains(u"LIST"_s));
    QCOMPARE(server.remainingSteps(), 0);
}

void TestSupport::closeStepThenReconnectContinuesScript()
{
    ScriptedPop3Server server;
    server.setChunkDelay(5);
    server.expectThenClose("RETR 1", {"+OK\r\nhalf a mess", "age"});
    server.expect("NOOP", {"+OK still here\r\n"});
    QVERIFY(server.start());

    RawClient first;
    QVERIFY(first.connectTo(u"127.0.0.1"_s, server.port()));
    first.readUntil("\r\n");
    first.send("RETR 1");
    QVERIFY(first.waitForClosed());
    QCOMPARE(first.take(), "+OK\r\nhalf a message");

    RawClient second;
    QVERIFY(second.connectTo(u"127.0.0.1"_s, server.port()));
    QVERIFY(second.readUntil("\r\n").startsWith("+OK"));
    QCOMPARE(second.command("NOOP"), "+OK still here\r\n");
    QCOMPARE(server.connectionCount(), 2);
    QVERIFY(server.mismatches().isEmpty());
}

void TestSupport::silenceLastsUntilTheConnectionCloses()
{
    ScriptedPop3Server server;
    server.setDefaultReply({"+OK default\r\n"});
    server.expect("USER", {"+OK\r\n"});
    server.expectThenSilence("STAT");
    QVERIFY(server.start());

    RawClient client;
    QVERIFY(client.connectTo(u"127.0.0.1"_s, server.port()));
    client.readUntil("\r\n");
    QCOMPARE(client.command("USER bob"), "+OK\r\n");
    client.send("STAT");
    client.send("NOOP");
    client.send("QUIT");
    QVERIFY(server.waitForLines(4, 5000));
    client.settle(200);
    QCOMPARE(client.pending(), QByteArray());
    client.close();

    // A new connection is greeted and answered again.
    RawClient again;
    QVERIFY(again.connectTo(u"127.0.0.1"_s, server.port()));
    QVERIFY(again.readUntil("\r\n").startsWith("+OK"));
    QCOMPARE(again.command("NOOP"), "+OK default\r\n");
}

void TestSupport::quitAndDefaultReply()
{
    ScriptedPop3Server server;
    server.expect("QUIT", {"-ERR not yet\r\n"});
    server.setDefaultReply({"-ERR nope\r\n"});
    QVERIFY(server.start());

    RawClient client;
    QVERIFY(client.connectTo(u"127.0.0.1"_s, server.port()));
    client.readUntil("\r\n");
    QCOMPARE(client.command("QUIT"), "-ERR not yet\r\n"); // a step may answer QUIT its own way
    QCOMPARE(client.command("NOOP"), "-ERR nope\r\n");
    QCOMPARE(client.command("QUIT"), "+OK bye\r\n");
    QVERIFY(client.waitForClosed());
}

void TestSupport::neverGreet()
{
    ScriptedPop3Server server;
    server.setAcceptButNeverGreet();
    server.setDefaultReply({"+OK capa\r\n"});
    QVERIFY(server.start());

    RawClient client;
    QVERIFY(client.connectTo(u"127.0.0.1"_s, server.port()));
    // The first bytes on the wire are the reply: no greeting went before it.
    QCOMPARE(client.command("CAPA"), "+OK capa\r\n");
    QCOMPARE(server.connectionCount(), 1);
}

void TestSupport::secondClientWaitsForTheFirst()
{
    ScriptedPop3Server server;
    server.setGreeting({"+OK hi\r\n"});
    server.setDefaultReply({"+OK\r\n"});
    QVERIFY(server.start());

    RawClient first;
    QVERIFY(first.connectTo(u"127.0.0.1"_s, server.port()));
    QCOMPARE(first.readUntil("\r\n"), "+OK hi\r\n");
    RawClient second;
    QVERIFY(second.connectTo(u"127.0.0.1"_s, server.port()));
    QCOMPARE(first.command("NOOP"), "+OK\r\n");
    QCOMPARE(server.connectionCount(), 1);
    second.settle(100);
    QCOMPARE(second.pending(), QByteArray());

    QCOMPARE(first.command("QUIT"), "+OK bye\r\n");
    QCOMPARE(second.readUntil("\r\n"), "+OK hi\r\n");
    QCOMPARE(server.connectionCount(), 2);
}

void TestSupport::dovecotRoundTrip()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (Debian package dovecot-pop3d)");
    DovecotServer dovecot;
    dovecot.addUser(u"alice"_s, u"alicepw"_s);
    const QByteArray first = "From: a@example.org\r\nSubject: one\r\n\r\n.leading dot\r\nend\r\n";
    const QByteArray second = "From: b@example.org\nSubject: two\n\nsecond body\n";
    dovecot.addMessage(u"alice"_s, first);
    QVERIFY2(dovecot.start(), qPrintable(dovecot.errorString()));
    dovecot.addMessage(u"alice"_s, second); // after start, still visible to a new session
    QCOMPARE(dovecot.messageCount(u"alice"_s), 2);

    RawClient client;
    QVERIFY(client.connectTo(dovecot.address(), dovecot.port()));
    QVERIFY(client.readUntil("\r\n").startsWith("+OK"));
    QVERIFY(client.command("USER alice").startsWith("+OK"));
    QVERIFY(client.command("PASS alicepw").startsWith("+OK"));
    const QByteArray stat = client.command("STAT");
    const qsizetype total = first.size() + second.size() + 4; // stored with LF, counted with CR LF
    QCOMPARE(stat, "+OK 2 " + QByteArray::number(total) + "\r\n");
    const QByteArray retr = client.command("RETR 1", "\r\n.\r\n");
    QVERIFY2(retr.startsWith("+OK"), retr.constData());
    QVERIFY(retr.endsWith("\r\n\r\n..leading dot\r\nend\r\n.\r\n"));
    QVERIFY(client.command("RETR 2", "\r\n.\r\n").contains("Subject: two\r\n"));
    QVERIFY(client.command("DELE 1").startsWith("+OK"));
    QVERIFY(client.command("QUIT").startsWith("+OK"));
    QVERIFY(client.waitForClosed());

    QCOMPARE(dovecot.messageCount(u"alice"_s), 1);
    QCOMPARE(dovecot.messages(u"alice"_s).first(), "From: b@example.org\nSubject: two\n\nsecond body\n");

    dovecot.stop();
    QVERIFY(!dovecot.isRunning());
}

void TestSupport::dovecotOnPrivilegedPortOfOwnAddress()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (Debian package dovecot-pop3d)");
    if (::geteuid() != 0)
        QSKIP("port 110 needs root");
    DovecotServer dovecot;
    dovecot.addUser(u"carol"_s, u"pw"_s);
    QVERIFY2(dovecot.start(u"127.83.241.7"_s, 110), qPrintable(dovecot.errorString()));
    RawClient client;
    QVERIFY(client.connectTo(u"127.83.241.7"_s, 110));
    QVERIFY(client.readUntil("\r\n").startsWith("+OK"));
    QVERIFY(client.command("USER carol").startsWith("+OK"));
    QCOMPARE(client.command("PASS wrong").left(4), "-ERR");
    QVERIFY(client.command("USER carol").startsWith("+OK"));
    QCOMPARE(client.command("PASS pw").left(3), "+OK");
    QCOMPARE(client.command("STAT"), "+OK 0 0\r\n");
}

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_support.moc"
