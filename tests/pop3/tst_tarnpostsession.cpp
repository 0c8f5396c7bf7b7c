// Connection session of the control against the scripted POP3 server:
// login, the error codes of Connect, disconnecting and peers that misbehave.

#include "tests/pop3/pop3testutil.h"
#include "pop3/tarnpost.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Pop3Test;
using Tarnpostctl::Tarnpost;

class TestTarnpostSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaults();
    void connectAndLogin_data();
    void connectAndLogin();
    void loginRefused_data();
    void loginRefused();
    void credentialsGoOutAsUtf8_data();
    void credentialsGoOutAsUtf8();
    void blankNames_data();
    void blankNames();
    void hostWithLeadingBlankIsNotBlank();
    void emptyPasswordSendsSingleBlank();
    void alreadyConnectedClosesSession();
    void serverNeverGreets();
    void refusedPort();
    void disconnectSendsQuit();
    void quitAnsweredButNeverClosed();
    void quitNotConfirmed_data();
    void quitNotConfirmed();
    void disconnectWhenNotConnected();
    void peerClosesDuringOneLineWait();
    void peerClosesIdleSession();
    void peerClosesDuringGreeting();
};

void TestTarnpostSession::defaults()
{
    Tarnpost t;
    QCOMPARE(t.POPPort(), 110);
    QCOMPARE(t.POPTimeout(), qint16(10));
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.StatusText(), u"Disconnected"_s);
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.ErrorText(), QString());
    QCOMPARE(t.MsgCount(), 0);
    QCOMPARE(t.MsgNumber(), qint16(0));
    QCOMPARE(t.DebugMode(), false);
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(t.size(), QSize(32, 32));
}

void TestTarnpostSession::connectAndLogin_data()
{
    QTest::addColumn<QList<QByteArray>>("greeting");
    QTest::addColumn<QList<QByteArray>>("statReply");
    QTest::addColumn<QString>("connectResponse");
    QTest::addColumn<int>("count");

    QTest::newRow("plain") << QList<QByteArray>{"+OK ready\r\n"} << QList<QByteArray>{"+OK 3 3120\r\n"}
                           << u"+OK ready"_s << 3;
    QTest::newRow("greeting split between CR and LF")
        << QList<QByteArray>{"+OK hel", "lo\r", "\n"} << QList<QByteArray>{"+OK 3 3120\r\n"} << u"+OK hello"_s << 3;
    QTest::newRow("stat reply in two packets")
        << QList<QByteArray>{"+OK ready\r\n"} << QList<QByteArray>{"+OK 12 31", "20\r\n"} << u"+OK ready"_s << 12;
    QTest::newRow("stat without size") << QList<QByteArray>{"+OK ready\r\n"} << QList<QByteArray>{"+OK 3\r\n"}
                                       << u"+OK ready"_s << 3;
    QTest::newRow("empty mailbox") << QList<QByteArray>{"+OK ready\r\n"} << QList<QByteArray>{"+OK 0 0\r\n"}
                                   << u"+OK ready"_s << 0;
    // The greeting is not judged: a strange one is kept and the login goes on.
    QTest::newRow("greeting not +OK") << QList<QByteArray>{"* hello there\r\n"}
                                      << QList<QByteArray>{"+OK 1 10\r\n"} << u"* hello there"_s << 1;
}

void TestTarnpostSession::connectAndLogin()
{
    QFETCH(QList<QByteArray>, greeting);
    QFETCH(QList<QByteArray>, statReply);
    QFETCH(QString, connectResponse);
    QFETCH(int, count);

    ScriptedPop3Server server;
    server.setChunkDelay(20);
    server.setGreeting(greeting);
    server.expect("USER joe", {"+OK\r\n"});
    server.expect("PASS secret", {"+OK\r\n"});
    server.expect("STAT", statReply);
    QVERIFY(server.start());

    Tarnpost t;
    configure(t, server.port());
    t.Connect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.ErrorText(), QString());
    QCOMPARE(t.Status(), qint16(1));
    QCOMPARE(t.StatusText(), u"Connected"_s);
    QCOMPARE(t.ConnectResponse(), connectResponse);
    QCOMPARE(t.MsgCount(), count);
    QCOMPARE(t.SocketState(), 7);
    QCOMPARE(server.receivedLines(), (QList<QByteArray>{"USER joe", "PASS secret", "STAT"}));
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
}

void TestTarnpostSession::loginRefused_data()
{
    QTest::addColumn<int>("failingStep");  // 0 USER, 1 PASS, 2 STAT
    QTest::addColumn<bool>("silent");
    QTest::addColumn<qint16>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("USER refused") << 0 << false << qint16(14)
                                  << u"Error received from USER command: -ERR who?\r\n"_s;
    QTest::newRow("PASS refused") << 1 << false << qint16(15)
                                  << u"Error received from PASS command: -ERR who?\r\n"_s;
    QTest::newRow("STAT refused") << 2 << false << qint16(18)
                                  << u"Error received from STAT command: -ERR who?\r\n"_s;
    QTest::newRow("USER silent") << 0 << true << qint16(14)
                                 << u"Error received from USER command: Program determining timeout error"_s;
    QTest::newRow("STAT silent") << 2 << true << qint16(18)
                                 << u"Error received from STAT command: Program determining timeout error"_s;
}

void TestTarnpostSession::loginRefused()
{
    QFETCH(int, failingStep);
    QFETCH(bool, silent);
    QFETCH(qint16, code);
    QFETCH(QString, text);

    const QList<QByteArray> commands{"USER joe", "PASS secret", "STAT"};
    ScriptedPop3Server server;
    for (int i = 0; i < failingStep; ++i)
        server.expect(commands.at(i), {"+OK\r\n"});
    if (silent)
        server.expectThenSilence(commands.at(failingStep));
    else
        server.expect(commands.at(failingStep), {"-ERR who?\r\n"});
    QVERIFY(server.start());

    Tarnpost t;
    configure(t, server.port(), 1);
    t.Connect();
    QCOMPARE(t.Error(), code);
    QCOMPARE(t.ErrorText(), text);
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.ConnectResponse(), QString());
    QCOMPARE(t.MsgCount(), 0);
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(server.receivedLines(), commands.mid(0, failingStep + 1));
}

void TestTarnpostSession::credentialsGoOutAsUtf8_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("userBytes");
    QTest::addColumn<QByteArray>("passwordBytes");

    QTest::newRow("ASCII") << u"joe"_s << u"secret"_s << QByteArray("joe") << QByteArray("secret");
    QTest::newRow("Latin-1 range") << u"jos\u00e9"_s << u"caf\u00e9"_s << QByteArray("jos\xc3\xa9")
                                   << QByteArray("caf\xc3\xa9");
    QTest::newRow("euro sign") << u"joe"_s << u"5\u20ac"_s << QByteArray("joe") << QByteArray("5\xe2\x82\xac");
    QTest::newRow("Polish") << u"\u0142ukasz"_s << u"z\u00f3\u0142w"_s << QByteArray("\xc5\x82ukasz")
                            << QByteArray("z\xc3\xb3\xc5\x82w");
    QTest::newRow("Cyrillic") << u"\u0438\u0432\u0430\u043d"_s << u"\u043f\u0430\u0440\u043e\u043b\u044c"_s
                              << QByteArray("\xd0\xb8\xd0\xb2\xd0\xb0\xd0\xbd")
                              << QByteArray("\xd0\xbf\xd0\xb0\xd1\x80\xd0\xbe\xd0\xbb\xd1\x8c");
    QTest::newRow("beyond 16 bits") << u"joe"_s << u"pw\U0001F600"_s << QByteArray("joe")
                                    << QByteArray("pw\xf0\x9f\x98\x80");
}

void TestTarnpostSession::credentialsGoOutAsUtf8()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QByteArray, userBytes);
    QFETCH(QByteArray, passwordBytes);

    ScriptedPop3Server server;
    server.expect("USER " + userBytes, {"+OK\r\n"});
    server.expect("PASS " + passwordBytes, {"+OK\r\n"});
    server.expect("STAT", {"+OK 0 0\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    t.setPOPUsername(user);
    t.setPOPPassword(password);
    t.Connect();
    QCOMPARE(t.Status(), qint16(1));
    QCOMPARE(server.receivedLines(), (QList<QByteArray>{"USER " + userBytes, "PASS " + passwordBytes, "STAT"}));
    QCOMPARE(t.POPPassword(), password);
}

void TestTarnpostSession::blankNames_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::addColumn<qint16>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty host") << QString() << u"joe"_s << qint16(16) << u"Hostname cannot be blank"_s;
    QTest::newRow("blank host") << u" "_s << u"joe"_s << qint16(16) << u"Hostname cannot be blank"_s;
    QTest::newRow("host below blank") << u"\tmail"_s << u"joe"_s << qint16(16) << u"Hostname cannot be blank"_s;
    QTest::newRow("empty user") << u"127.0.0.1"_s << QString() << qint16(17) << u"Username cannot be blank"_s;
    QTest::newRow("blank user") << u"127.0.0.1"_s << u" "_s << qint16(17) << u"Username cannot be blank"_s;
    QTest::newRow("both blank") << QString() << QString() << qint16(16) << u"Hostname cannot be blank"_s;
}

void TestTarnpostSession::blankNames()
{
    QFETCH(QString, host);
    QFETCH(QString, user);
    QFETCH(qint16, code);
    QFETCH(QString, text);

    ScriptedPop3Server server;
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    t.setPOPHostname(host);
    t.setPOPUsername(user);
    t.Connect();
    QCOMPARE(t.Error(), code);
    QCOMPARE(t.ErrorText(), text);
    QCOMPARE(t.Status(), qint16(0));
    QTest::qWait(50);
    QCOMPARE(server.connectionCount(), 0);
}

void TestTarnpostSession::hostWithLeadingBlankIsNotBlank()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    t.setPOPHostname(u" 127.0.0.1"_s);
    t.Connect();
    QVERIFY(t.Error() != 16);
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.Status(), qint16(1));
    QCOMPARE(server.connectionCount(), 1);
}

void TestTarnpostSession::emptyPasswordSendsSingleBlank()
{
    ScriptedPop3Server server;
    server.expect("USER joe", {"+OK\r\n"});
    server.expect("PASS", {"+OK\r\n"});
    server.expect("STAT", {"+OK 0 0\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    t.setPOPPassword(QString());
    t.Connect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(server.receivedLines().value(1), QByteArray("PASS  "));
    QCOMPARE(t.POPPassword(), u" "_s);
}

void TestTarnpostSession::alreadyConnectedClosesSession()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    t.Connect();
    QCOMPARE(t.Status(), qint16(1));
    t.Connect();
    QCOMPARE(t.Error(), qint16(13));
    QCOMPARE(t.ErrorText(), u"Already connected"_s);
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.MsgCount(), 0);
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(server.receivedLines().size(), 3);  // no QUIT, no second login
}

void TestTarnpostSession::serverNeverGreets()
{
    ScriptedPop3Server server;
    server.setAcceptButNeverGreet();
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port(), 1);
    t.Connect();
    QCOMPARE(t.Error(), qint16(11));
    QCOMPARE(t.ErrorText(), u"Connection was accepted but no data received before timeout. Connection closed"_s);
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.ConnectResponse(), QString());
    QCOMPARE(t.SocketState(), 0);
    QVERIFY(server.receivedLines().isEmpty());
}

void TestTarnpostSession::refusedPort()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    Tarnpost t;
    configure(t, port);
    t.Connect();
    QCOMPARE(t.Error(), qint16(10061));
    QVERIFY(!t.ErrorText().isEmpty());
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(t.ConnectResponse(), QString());
}

void TestTarnpostSession::disconnectSendsQuit()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    t.Connect();
    QCOMPARE(t.Status(), qint16(1));
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.StatusText(), u"Disconnected"_s);
    QCOMPARE(t.MsgCount(), 0);
    QCOMPARE(t.ConnectResponse(), QString());
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(server.receivedLines().value(3), QByteArray("QUIT"));
}

void TestTarnpostSession::quitAnsweredButNeverClosed()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    server.expect("QUIT", {"+OK see you\r\n"});  // answered, connection left open
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port(), 1);
    t.Connect();
    QCOMPARE(t.Status(), qint16(1));
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(server.receivedLines().value(3), QByteArray("QUIT"));
}

void TestTarnpostSession::quitNotConfirmed_data()
{
    QTest::addColumn<int>("action");  // 0 reply, 1 reply then close, 2 silence
    QTest::addColumn<QList<QByteArray>>("reply");
    QTest::addColumn<QString>("text");

    QTest::newRow("refused") << 1 << QList<QByteArray>{"-ERR cannot commit\r\n"}
                             << u"The server did not confirm QUIT: -ERR cannot commit\r\n"_s;
    QTest::newRow("garbled") << 0 << QList<QByteArray>{"ok bye\r\n"} << u"The server did not confirm QUIT: ok bye\r\n"_s;
    QTest::newRow("closed") << 1 << QList<QByteArray>{} << u"The server closed the connection without answering QUIT"_s;
    QTest::newRow("silent") << 2 << QList<QByteArray>{} << u"The server did not answer QUIT within the timeout"_s;
}

// Deletions are final only once QUIT is answered: Disconnect tells when it was not.
void TestTarnpostSession::quitNotConfirmed()
{
    QFETCH(int, action);
    QFETCH(QList<QByteArray>, reply);
    QFETCH(QString, text);

    ScriptedPop3Server server;
    scriptLogin(server);
    if (action == 0)
        server.expect("QUIT", reply);
    else if (action == 1)
        server.expectThenClose("QUIT", reply);
    else
        server.expectThenSilence("QUIT");
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port(), 1);
    t.Connect();
    QCOMPARE(t.Status(), qint16(1));
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(Tarnpostctl::ErrorQuitUnanswered));
    QCOMPARE(t.ErrorText(), text);
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(t.MsgCount(), 0);
}

void TestTarnpostSession::disconnectWhenNotConnected()
{
    ScriptedPop3Server server;
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(server.connectionCount(), 0);
}

void TestTarnpostSession::peerClosesDuringOneLineWait()
{
    ScriptedPop3Server server;
    server.expect("USER joe", {"+OK\r\n"});
    server.expect("PASS secret", {"+OK\r\n"});
    server.expectThenClose("STAT");
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port(), 30);
    t.Connect();
    // The wait ended with the close, not by the (long) timeout.
    QCOMPARE(t.Error(), qint16(18));
    QCOMPARE(t.ErrorText(), u"Error received from STAT command: "_s);
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
}

void TestTarnpostSession::peerClosesIdleSession()
{
    ScriptedPop3Server server;
    server.expect("USER joe", {"+OK\r\n"});
    server.expect("PASS secret", {"+OK\r\n"});
    server.expectThenClose("STAT", {"+OK 2 200\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    configure(t, server.port());
    t.Connect();
    QVERIFY(waitUntil([&] { return t.Status() == 0; }));
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.ConnectResponse(), QString());
    QCOMPARE(t.MsgCount(), 0);
    QCOMPARE(t.SocketState(), 0);
    // A fresh Connect works after the peer went away.
    ScriptedPop3Server second;
    scriptLogin(second);
    QVERIFY(second.start());
    t.setPOPPort(second.port());
    t.Connect();
    QCOMPARE(t.Error(), qint16(0));
    QCOMPARE(t.Status(), qint16(1));
}

void TestTarnpostSession::peerClosesDuringGreeting()
{
    // A peer that hangs up half way through its greeting: the close clears
    // Error, so the greeting wait ends by its timeout.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    connect(&listener, &QTcpServer::newConnection, &listener, [&listener] {
        QTcpSocket *peer = listener.nextPendingConnection();
        peer->write("+OK hal");
        peer->disconnectFromHost();
    });
    Tarnpost t;
    configure(t, listener.serverPort(), 1);
    t.Connect();
    QCOMPARE(t.Error(), qint16(11));
    QCOMPARE(t.Status(), qint16(0));
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(t.ConnectResponse(), QString());
}

QTEST_MAIN(TestTarnpostSession)
#include "tst_tarnpostsession.moc"
