// Connection session of the control against the scripted POP3 server:
// login, the error codes of Connect, disconnecting and peers that misbehave.

#include "pop3/tarnpost.h"
#include "tests/pop3/pop3testutil.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using namespace Pop3Test;
using namespace Tarnpostctl;

namespace {

// How the peer behaves and what the test does with the control.
enum class Peer { Scripted, ClosedPort, HangsUpInGreeting };
enum class Steps { Connect, ConnectTwice, ConnectDisconnect, Disconnect };
using Script = std::function<void(ScriptedPop3Server &)>;
using Prepare = std::function<void(Tarnpost &)>;

// Expected ErrorText when it comes from the system and only has to be there.
const QString kAnyText = u"<any text>"_s;
const QList<QByteArray> kLogin{"USER joe", "PASS secret", "STAT"};

} // namespace

Q_DECLARE_METATYPE(Peer)
Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(Prepare)

class TestTarnpostSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaults();
    void connectAndLogin_data();
    void connectAndLogin();
    void credentialsGoOutAsUtf8_data();
    void credentialsGoOutAsUtf8();
    void hostWithLeadingBlankIsNotBlank();
    void emptyPasswordSendsSingleBlank();
    // Every way a session fails or ends: the codes, the texts, what the
    // server heard, and a control left closed.
    void sessionEnds_data();
    void sessionEnds();
    void peerClosesIdleSession();
};

void TestTarnpostSession::defaults()
{
    Tarnpost t;
    QCOMPARE(t.POPPort(), 110);
    QCOMPARE(t.POPTimeout(), qint16(10));
    QCOMPARE(t.Status(), qint16(StatusDisconnected));
    QCOMPARE(t.StatusText(), u"Disconnected"_s);
    QCOMPARE(t.Error(), qint16(ErrorNone));
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
    QTest::newRow("greeting not +OK") << QList<QByteArray>{"* hello there\r\n"} << QList<QByteArray>{"+OK 1 10\r\n"}
                                      << u"* hello there"_s << 1;
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
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.ErrorText(), QString());
    QCOMPARE(t.Status(), qint16(StatusConnected));
    QCOMPARE(t.StatusText(), u"Connected"_s);
    QCOMPARE(t.ConnectResponse(), connectResponse);
    QCOMPARE(t.MsgCount(), count);
    QCOMPARE(t.SocketState(), 7);
    QCOMPARE(server.receivedLines(), (QList<QByteArray>{"USER joe", "PASS secret", "STAT"}));
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
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
    QCOMPARE(t.Status(), qint16(StatusConnected));
    QCOMPARE(server.receivedLines(), (QList<QByteArray>{"USER " + userBytes, "PASS " + passwordBytes, "STAT"}));
    QCOMPARE(t.POPPassword(), password);
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
    QVERIFY(t.Error() != ErrorBlankHostname);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.Status(), qint16(StatusConnected));
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
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(server.receivedLines().value(1), QByteArray("PASS  "));
    QCOMPARE(t.POPPassword(), u" "_s);
}

void TestTarnpostSession::sessionEnds_data()
{
    QTest::addColumn<Peer>("peer");
    QTest::addColumn<Script>("script");
    QTest::addColumn<Prepare>("prepare");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<qint16>("timeout");
    QTest::addColumn<qint16>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<QByteArray>>("heard"); // what a scripted server received
    QTest::addColumn<bool>("neverConnects");
    QTest::addColumn<bool>("confirmed"); // QuitConfirmed at the end

    const auto row = [](const char *name, Peer peer, const Script &script, const Prepare &prepare, Steps steps,
                        qint16 timeout, qint16 code, const QString &text, const QList<QByteArray> &heard,
                        bool neverConnects = false, bool confirmed = false) {
        QTest::newRow(name) << peer << script << prepare << steps << timeout << code << text << heard << neverConnects
                            << confirmed;
    };
    // The login up to the command at step (0 USER, 1 PASS, 2 STAT), which gets reply, or silence.
    const auto loginUntil = [](int step, const QByteArray &reply) -> Script {
        return [step, reply](ScriptedPop3Server &server) {
            for (int i = 0; i < step; ++i)
                server.expect(kLogin.at(i), {"+OK\r\n"});
            if (reply.isEmpty())
                server.expectThenSilence(kLogin.at(step));
            else
                server.expect(kLogin.at(step), {reply});
        };
    };
    const auto names = [](const QString &host, const QString &user) -> Prepare {
        return [host, user](Tarnpost &t) {
            t.setPOPHostname(host);
            t.setPOPUsername(user);
        };
    };
    const auto quitWith = [](const Script &quit) -> Script {
        return [quit](ScriptedPop3Server &server) {
            scriptLogin(server);
            if (quit)
                quit(server);
        };
    };
    const Script login = quitWith({});
    const QList<QByteArray> quit = kLogin + QList<QByteArray>{"QUIT"};
    const QString timedOut = u"Program determining timeout error"_s;
    const QString noGreeting = u"Connection was accepted but no data received before timeout. Connection closed"_s;
    const auto P = Peer::Scripted;
    const auto C = Steps::Connect;
    const auto CD = Steps::ConnectDisconnect;

    row("USER refused", P, loginUntil(0, "-ERR who?\r\n"), {}, C, 1, ErrorUserRefused,
        u"Error received from USER command: -ERR who?\r\n"_s, kLogin.mid(0, 1));
    row("PASS refused", P, loginUntil(1, "-ERR who?\r\n"), {}, C, 1, ErrorPassRefused,
        u"Error received from PASS command: -ERR who?\r\n"_s, kLogin.mid(0, 2));
    row("STAT refused", P, loginUntil(2, "-ERR who?\r\n"), {}, C, 1, ErrorStatRefused,
        u"Error received from STAT command: -ERR who?\r\n"_s, kLogin);
    row("USER silent", P, loginUntil(0, {}), {}, C, 1, ErrorUserRefused,
        "Error received from USER command: "_L1 + timedOut, kLogin.mid(0, 1));
    row("STAT silent", P, loginUntil(2, {}), {}, C, 1, ErrorStatRefused,
        "Error received from STAT command: "_L1 + timedOut, kLogin);
    // The wait ends with the close, not by the (long) timeout.
    row(
        "peer closes during the STAT wait", P,
        [](ScriptedPop3Server &server) {
            server.expect("USER joe", {"+OK\r\n"});
            server.expect("PASS secret", {"+OK\r\n"});
            server.expectThenClose("STAT");
        },
        {}, C, 30, ErrorStatRefused, u"Error received from STAT command: "_s, kLogin);

    const QString blankHost = u"Hostname cannot be blank"_s;
    const QString blankUser = u"Username cannot be blank"_s;
    row("empty host", P, {}, names({}, u"joe"_s), C, 2, ErrorBlankHostname, blankHost, {}, true);
    row("blank host", P, {}, names(u" "_s, u"joe"_s), C, 2, ErrorBlankHostname, blankHost, {}, true);
    row("host below blank", P, {}, names(u"\tmail"_s, u"joe"_s), C, 2, ErrorBlankHostname, blankHost, {}, true);
    row("empty user", P, {}, names(u"127.0.0.1"_s, {}), C, 2, ErrorBlankUsername, blankUser, {}, true);
    row("blank user", P, {}, names(u"127.0.0.1"_s, u" "_s), C, 2, ErrorBlankUsername, blankUser, {}, true);
    row("both blank", P, {}, names({}, {}), C, 2, ErrorBlankHostname, blankHost, {}, true);

    // A second Connect closes the session: no QUIT, no second login.
    row("already connected", P, login, {}, Steps::ConnectTwice, 2, ErrorAlreadyConnected, u"Already connected"_s,
        kLogin);
    row("server never greets", P, [](ScriptedPop3Server &server) { server.setAcceptButNeverGreet(); }, {}, C, 1,
        ErrorGreetingTimeout, noGreeting, {});
    // The close clears Error, so the greeting wait ends by its timeout.
    row("peer hangs up in its greeting", Peer::HangsUpInGreeting, {}, {}, C, 1, ErrorGreetingTimeout, noGreeting, {});
    row("refused port", Peer::ClosedPort, {}, {}, C, 2, 10061, kAnyText, {});

    row("disconnect sends QUIT", P, login, {}, CD, 2, ErrorNone, QString(), quit, false, true);
    row("QUIT answered, connection left open", P,
        quitWith([](ScriptedPop3Server &server) { server.expect("QUIT", {"+OK see you\r\n"}); }), {}, CD, 1, ErrorNone,
        QString(), quit, false, true);
    // Deletions are final only once QUIT is answered: QuitConfirmed tells,
    // while Error leaves the reply unexamined.
    row("QUIT refused", P,
        quitWith([](ScriptedPop3Server &server) { server.expectThenClose("QUIT", {"-ERR cannot commit\r\n"}); }), {},
        CD, 1, ErrorNone, QString(), quit);
    row("QUIT garbled", P, quitWith([](ScriptedPop3Server &server) { server.expect("QUIT", {"ok bye\r\n"}); }), {}, CD,
        1, ErrorNone, QString(), quit);
    row("QUIT closed", P, quitWith([](ScriptedPop3Server &server) { server.expectThenClose("QUIT"); }), {}, CD, 1,
        ErrorNone, QString(), quit);
    row("QUIT silent", P, quitWith([](ScriptedPop3Server &server) { server.expectThenSilence("QUIT"); }), {}, CD, 1,
        ErrorNone, QString(), quit);
    row("disconnect when not connected", P, {}, {}, Steps::Disconnect, 2, ErrorNone, QString(), {}, true);

    // Signing in with an access token: CAPA's SASL list picks the mechanism.
    const auto token = [](const QString &value, const QString &user = u"joe"_s) -> Prepare {
        return [value, user](Tarnpost &t) {
            t.setPOPUsername(user);
            t.setAccessToken(value);
        };
    };
    const auto b64 = [](const QByteArray &plain) { return plain.toBase64(); };
    const QByteArray bearer = b64("n,a=joe,\x01host=127.0.0.1\x01"
                                  "auth=Bearer tok\x01\x01");
    const QByteArray xoauth = b64("user=joe\x01"
                                  "auth=Bearer tok\x01\x01");
    const QByteArray offersBoth = "+OK\r\nUSER\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.\r\n";
    // CAPA answered with capa, then each command of exchange gets the reply after it; the rest accepted.
    const auto signIn = [](const QByteArray &capa, const QByteArrayList &exchange, bool thenStat = true) -> Script {
        return [capa, exchange, thenStat](ScriptedPop3Server &server) {
            server.expect("CAPA", {capa});
            for (qsizetype i = 0; i + 1 < exchange.size(); i += 2)
                server.expect(exchange.at(i), {exchange.at(i + 1)});
            if (thenStat)
                server.expect("STAT", {"+OK 3 3120\r\n"});
        };
    };
    const auto signedIn = [](const QByteArrayList &lines) {
        return QByteArrayList{"CAPA"} + lines + QByteArrayList{"STAT", "QUIT"};
    };
    const QByteArray refusal = "-ERR [AUTH] Authentication failed.\r\n";
    const QString failed = u"Sign-in with the access token failed (AUTH %1): -ERR [AUTH] Authentication failed."_s;
    const QByteArray why = "{\"status\":\"invalid_token\",\"schemes\":\"bearer\",\"scope\":\"mail\"}";
    const QByteArray errorChallenge = "+ " + b64(why) + "\r\n";

    row("token: OAUTHBEARER where CAPA offers it", P, signIn(offersBoth, {"AUTH OAUTHBEARER " + bearer, "+OK in\r\n"}),
        token(u"tok"_s), CD, 2, ErrorNone, QString(), signedIn({"AUTH OAUTHBEARER " + bearer}), false, true);
    row("token: XOAUTH2 where only it is offered", P,
        signIn("+OK\r\nSASL PLAIN xoauth2\r\n.\r\n", {"AUTH XOAUTH2 " + xoauth, "+OK\r\n"}), token(u"tok"_s), CD, 2,
        ErrorNone, QString(), signedIn({"AUTH XOAUTH2 " + xoauth}), false, true);
    row("token: XOAUTH2 where CAPA lists no SASL", P,
        signIn("+OK\r\nUIDL\r\nUSER\r\n.\r\n", {"AUTH XOAUTH2 " + xoauth, "+OK\r\n"}), token(u"tok"_s), CD, 2,
        ErrorNone, QString(), signedIn({"AUTH XOAUTH2 " + xoauth}), false, true);
    row("token: XOAUTH2 where CAPA is refused", P, signIn("-ERR what?\r\n", {"AUTH XOAUTH2 " + xoauth, "+OK\r\n"}),
        token(u"tok"_s), CD, 2, ErrorNone, QString(), signedIn({"AUTH XOAUTH2 " + xoauth}), false, true);
    // The saslname escapes "," and "=" (RFC 7628); XOAUTH2 has no such rule.
    const QByteArray odd = b64("n,a=a=3Db=2Cc,\x01host=127.0.0.1\x01"
                               "auth=Bearer tok\x01\x01");
    row("token: OAUTHBEARER escapes the user", P, signIn(offersBoth, {"AUTH OAUTHBEARER " + odd, "+OK\r\n"}),
        token(u"tok"_s, u"a=b,c"_s), CD, 2, ErrorNone, QString(), signedIn({"AUTH OAUTHBEARER " + odd}), false, true);
    // RFC 5034: an AUTH line over 255 octets sends its response after the empty challenge.
    const QString longToken(300, u't');
    const QByteArray longXoauth = b64("user=joe\x01"
                                      "auth=Bearer "
                                      + longToken.toLatin1() + "\x01\x01");
    row("token: a long response follows the empty challenge", P,
        signIn("-ERR\r\n", {"AUTH XOAUTH2", "+ \r\n", longXoauth, "+OK\r\n"}), token(longToken), CD, 2, ErrorNone,
        QString(), signedIn({"AUTH XOAUTH2", longXoauth}), false, true);

    row("token: no OAuth2 mechanism offered", P, signIn("+OK\r\nSASL PLAIN LOGIN\r\n.\r\n", {}, false), token(u"tok"_s),
        C, 2, ErrorNoOAuthMechanism,
        u"The server offers no OAuth2 sign-in (XOAUTH2 or OAUTHBEARER): SASL PLAIN LOGIN"_s, {"CAPA"});
    // An error challenge is answered (a lone ^A for OAUTHBEARER, an empty line for XOAUTH2)
    // and its JSON kept as the server's reason.
    row("token: OAUTHBEARER error challenge", P,
        signIn(offersBoth, {"AUTH OAUTHBEARER", errorChallenge, "AQ==", refusal}, false), token(u"tok"_s), C, 2,
        ErrorAuthRefused, failed.arg("OAUTHBEARER, the server's reason: "_L1 + latin1(why)),
        {"CAPA", "AUTH OAUTHBEARER " + bearer, "AQ=="});
    row("token: XOAUTH2 error challenge", P, signIn("-ERR\r\n", {"AUTH XOAUTH2", errorChallenge, "", refusal}, false),
        token(u"tok"_s), C, 2, ErrorAuthRefused, failed.arg("XOAUTH2, the server's reason: "_L1 + latin1(why)),
        {"CAPA", "AUTH XOAUTH2 " + xoauth, ""});
    row("token: refused at once", P, signIn(offersBoth, {"AUTH OAUTHBEARER", refusal}, false), token(u"tok"_s), C, 2,
        ErrorAuthRefused, failed.arg(u"OAUTHBEARER"_s), {"CAPA", "AUTH OAUTHBEARER " + bearer});
    // A server that keeps challenging is cancelled with "*".
    row("token: a second error challenge", P,
        signIn(offersBoth, {"AUTH OAUTHBEARER", errorChallenge, "AQ==", errorChallenge, "*", "-ERR cancelled\r\n"},
               false),
        token(u"tok"_s), C, 2, ErrorAuthRefused,
        "Sign-in with the access token failed (AUTH OAUTHBEARER, the server's reason: "_L1 + latin1(why)
            + "): -ERR cancelled"_L1,
        {"CAPA", "AUTH OAUTHBEARER " + bearer, "AQ==", "*"});
    row("token: CAPA silent", P, [](ScriptedPop3Server &server) { server.expectThenSilence("CAPA"); }, token(u"tok"_s),
        C, 1, ErrorAuthRefused, "Sign-in with the access token failed (CAPA): "_L1 + timedOut, {"CAPA"});
    // Without a token the login is USER and PASS, byte for byte, as before.
    row(
        "token cleared: USER and PASS as always", P, login,
        [](Tarnpost &t) {
            t.setAccessToken(u"tok"_s);
            t.setAccessToken(QString());
        },
        CD, 2, ErrorNone, QString(), quit, false, true);
}

void TestTarnpostSession::sessionEnds()
{
    QFETCH(Peer, peer);
    QFETCH(Script, script);
    QFETCH(Prepare, prepare);
    QFETCH(Steps, steps);
    QFETCH(qint16, timeout);
    QFETCH(qint16, code);
    QFETCH(QString, text);
    QFETCH(QList<QByteArray>, heard);
    QFETCH(bool, neverConnects);
    QFETCH(bool, confirmed);

    ScriptedPop3Server server;
    QTcpServer listener;
    quint16 port = 0;
    if (peer == Peer::Scripted) {
        if (script)
            script(server);
        QVERIFY(server.start());
        port = server.port();
    } else if (peer == Peer::ClosedPort) {
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        port = listener.serverPort();
        listener.close();
    } else {
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        connect(&listener, &QTcpServer::newConnection, &listener, [&listener] {
            QTcpSocket *hangingUp = listener.nextPendingConnection();
            hangingUp->write("+OK hal");
            hangingUp->disconnectFromHost();
        });
        port = listener.serverPort();
    }

    Tarnpost t;
    configure(t, port, timeout);
    if (prepare)
        prepare(t);
    if (steps != Steps::Disconnect)
        t.Connect();
    if (steps == Steps::ConnectTwice || steps == Steps::ConnectDisconnect)
        QCOMPARE(t.Status(), qint16(StatusConnected));
    if (steps == Steps::ConnectTwice)
        t.Connect();
    if (steps == Steps::ConnectDisconnect || steps == Steps::Disconnect)
        t.Disconnect();

    QCOMPARE(t.Error(), code);
    if (text == kAnyText)
        QVERIFY(!t.ErrorText().isEmpty());
    else
        QCOMPARE(t.ErrorText(), text);
    QCOMPARE(t.Status(), qint16(StatusDisconnected));
    QCOMPARE(t.StatusText(), u"Disconnected"_s);
    QCOMPARE(t.ConnectResponse(), QString());
    QCOMPARE(t.MsgCount(), 0);
    QCOMPARE(t.SocketState(), 0);
    QCOMPARE(t.QuitConfirmed(), confirmed);
    if (confirmed) {
        // Any Connect starts without it, even one that fails at once.
        t.setPOPHostname(QString());
        t.Connect();
        QCOMPARE(t.QuitConfirmed(), false);
    }
    if (peer != Peer::Scripted)
        return;
    if (neverConnects) {
        // A connection the control made would have been queued before this one.
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(probe.waitForReadyRead(10000)); // the greeting
        QCOMPARE(server.connectionCount(), 1);
    }
    QCOMPARE(server.receivedLines(), heard);
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
    QTRY_COMPARE_WITH_TIMEOUT(t.Status(), qint16(StatusDisconnected), 10000);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.ConnectResponse(), QString());
    QCOMPARE(t.MsgCount(), 0);
    QCOMPARE(t.SocketState(), 0);
    // A fresh Connect works after the peer went away.
    ScriptedPop3Server second;
    scriptLogin(second);
    QVERIFY(second.start());
    t.setPOPPort(second.port());
    t.Connect();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.Status(), qint16(StatusConnected));
}

QTEST_MAIN(TestTarnpostSession)
#include "tst_tarnpostsession.moc"
