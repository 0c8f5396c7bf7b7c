#include "dovecot/dovecotserver.h"
#include "tests/support/oauth2testprovider.h"
#include "tests/support/scriptedpop3server.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct HttpReply
{
    int status = 0;
    QUrl location;
    QJsonObject body;
};

// One request to the test provider; redirects are reported, not followed.
HttpReply http(QNetworkAccessManager &manager, const QUrl &url, const QList<QPair<QString, QString>> &form = {},
               bool post = true)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = nullptr;
    if (post) {
        QUrlQuery query;
        for (const auto &[key, value] : form)
            query.addQueryItem(key, QString::fromLatin1(QUrl::toPercentEncoding(value)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/x-www-form-urlencoded"_s);
        reply = manager.post(request, query.toString(QUrl::FullyEncoded).toLatin1());
    } else {
        reply = manager.get(request);
    }
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(10000);
    HttpReply result{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                     reply->header(QNetworkRequest::LocationHeader).toUrl(),
                     QJsonDocument::fromJson(reply->readAll()).object()};
    reply->deleteLater();
    return result;
}

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
    void oauth2Provider_data();
    void oauth2Provider();
    void dovecotChecksTokensWithTheProvider_data();
    void dovecotChecksTokensWithTheProvider();
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

enum class Flow { Approved, NotLoopback, PlainChallenge, WrongVerifier, WrongClient, CodeTwice, Refresh, Revoked };
Q_DECLARE_METATYPE(Flow)

void TestSupport::oauth2Provider_data()
{
    QTest::addColumn<Flow>("flow");
    QTest::addColumn<int>("lifetime");     // of access tokens, in seconds
    QTest::addColumn<QString>("error");    // of the token request, empty when it succeeds
    QTest::addColumn<bool>("activeAfter"); // what introspection says of the access token in the end

    QTest::newRow("code for tokens") << Flow::Approved << 3600 << QString() << true;
    QTest::newRow("token with no lifetime is inactive") << Flow::Approved << 0 << QString() << false;
    QTest::newRow("redirect off loopback refused") << Flow::NotLoopback << 3600 << QString() << false;
    QTest::newRow("plain PKCE refused") << Flow::PlainChallenge << 3600 << QString() << false;
    QTest::newRow("wrong verifier") << Flow::WrongVerifier << 3600 << u"invalid_grant"_s << false;
    QTest::newRow("wrong client") << Flow::WrongClient << 3600 << u"invalid_client"_s << false;
    QTest::newRow("code used twice") << Flow::CodeTwice << 3600 << u"invalid_grant"_s << true;
    QTest::newRow("refresh gives a new access token") << Flow::Refresh << 3600 << QString() << true;
    QTest::newRow("revoked refresh token") << Flow::Revoked << 3600 << u"invalid_grant"_s << false;
}

void TestSupport::oauth2Provider()
{
    QFETCH(Flow, flow);
    QFETCH(int, lifetime);
    QFETCH(QString, error);
    QFETCH(bool, activeAfter);

    OAuth2TestProvider provider;
    provider.setAccessTokenLifetime(lifetime);
    QVERIFY(provider.start());
    QNetworkAccessManager manager;
    const QString verifier = u"verifier-0123456789-0123456789-0123456789-abc"_s;
    const QString challenge =
        QString::fromLatin1(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    const QString redirect = flow == Flow::NotLoopback ? u"http://mail.example.test/cb"_s : u"http://127.0.0.1:9/cb"_s;

    QUrl authorize = provider.url(u"/authorize"_s);
    authorize.setQuery(QUrlQuery{{u"response_type"_s, u"code"_s},
                                 {u"client_id"_s, u"quellmail-test"_s},
                                 {u"redirect_uri"_s, redirect},
                                 {u"scope"_s, u"mail offline"_s},
                                 {u"state"_s, u"st8"_s},
                                 {u"code_challenge"_s, flow == Flow::PlainChallenge ? verifier : challenge},
                                 {u"code_challenge_method"_s, flow == Flow::PlainChallenge ? u"plain"_s : u"S256"_s}});
    const HttpReply approved = http(manager, authorize, {}, false);
    if (flow == Flow::NotLoopback) {
        QCOMPARE(approved.status, 400);
        QVERIFY(approved.location.isEmpty());
        return;
    }
    QCOMPARE(approved.status, 302);
    QCOMPARE(approved.location.adjusted(QUrl::RemoveQuery).toString(), redirect);
    const QUrlQuery back(approved.location);
    QCOMPARE(back.queryItemValue(u"state"_s), u"st8"_s);
    if (flow == Flow::PlainChallenge) {
        QCOMPARE(back.queryItemValue(u"error"_s), u"invalid_request"_s);
        QVERIFY(!back.hasQueryItem(u"code"_s));
        return;
    }
    const QList<QPair<QString, QString>> exchange{
        {u"grant_type"_s, u"authorization_code"_s},
        {u"code"_s, back.queryItemValue(u"code"_s, QUrl::FullyDecoded)},
        {u"redirect_uri"_s, redirect},
        {u"client_id"_s, flow == Flow::WrongClient ? u"someone-else"_s : u"quellmail-test"_s},
        {u"code_verifier"_s, flow == Flow::WrongVerifier ? verifier + u'x' : verifier}};
    HttpReply tokens = http(manager, provider.url(u"/token"_s), exchange);
    QString access = tokens.body.value(u"access_token"_s).toString();
    const QString refresh = tokens.body.value(u"refresh_token"_s).toString();
    if (flow == Flow::CodeTwice) {
        QCOMPARE(tokens.status, 200);
        tokens = http(manager, provider.url(u"/token"_s), exchange);
    } else if (flow == Flow::Refresh || flow == Flow::Revoked) {
        if (flow == Flow::Revoked) {
            QCOMPARE(http(manager, provider.url(u"/revoke"_s),
                          {{u"token"_s, refresh}, {u"client_id"_s, u"quellmail-test"_s}})
                         .status,
                     200);
        }
        tokens = http(manager, provider.url(u"/token"_s),
                      {{u"grant_type"_s, u"refresh_token"_s},
                       {u"refresh_token"_s, refresh},
                       {u"client_id"_s, u"quellmail-test"_s}});
        if (flow == Flow::Refresh) {
            QVERIFY(tokens.body.value(u"access_token"_s).toString() != access);
            access = tokens.body.value(u"access_token"_s).toString();
        }
    }
    QCOMPARE(tokens.status, error.isEmpty() ? 200 : 400);
    QCOMPARE(tokens.body.value(u"error"_s).toString(), error);
    if (error.isEmpty()) {
        QCOMPARE(tokens.body.value(u"token_type"_s).toString(), u"Bearer"_s);
        QCOMPARE(tokens.body.value(u"expires_in"_s).toInt(), lifetime);
        QVERIFY(!tokens.body.value(u"refresh_token"_s).toString().isEmpty());
    }
    const HttpReply state = http(manager, provider.url(u"/introspect"_s), {{u"token"_s, access}});
    QCOMPARE(state.status, 200);
    QCOMPARE(state.body.value(u"active"_s).toBool(), activeAfter);
    QCOMPARE(state.body.value(u"username"_s).toString(), activeAfter ? u"alice"_s : QString());
    QCOMPARE(provider.requestCount(u"/authorize"_s), 1);
}

// Dovecot's oauth2 passdb asks the provider; passwords still go to the passwd file.
void TestSupport::dovecotChecksTokensWithTheProvider_data()
{
    QTest::addColumn<QByteArray>("mechanism");
    QTest::addColumn<QString>("tokenOf"); // whose token is sent for alice; "revoked", "expired"
    QTest::addColumn<bool>("accepted");

    QTest::newRow("XOAUTH2") << QByteArray("XOAUTH2") << u"alice"_s << true;
    QTest::newRow("OAUTHBEARER") << QByteArray("OAUTHBEARER") << u"alice"_s << true;
    QTest::newRow("another user's token") << QByteArray("XOAUTH2") << u"bob"_s << false;
    QTest::newRow("revoked token") << QByteArray("OAUTHBEARER") << u"revoked"_s << false;
    QTest::newRow("expired token") << QByteArray("XOAUTH2") << u"expired"_s << false;
}

void TestSupport::dovecotChecksTokensWithTheProvider()
{
    QFETCH(QByteArray, mechanism);
    QFETCH(QString, tokenOf);
    QFETCH(bool, accepted);
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (Debian package dovecot-pop3d)");
    OAuth2TestProvider provider;
    QVERIFY(provider.start());
    if (tokenOf == "expired"_L1)
        provider.setAccessTokenLifetime(0);
    QString token = provider.issueAccessToken(tokenOf == "bob"_L1 ? u"bob"_s : u"alice"_s);
    if (tokenOf == "revoked"_L1)
        provider.revoke(token);
    DovecotServer dovecot;
    dovecot.addUser(u"alice"_s, u"alicepw"_s);
    dovecot.enableOAuth2(provider.url(u"/introspect"_s).toString());
    QVERIFY2(dovecot.start(), qPrintable(dovecot.errorString()));

    RawClient client;
    QVERIFY(client.connectTo(dovecot.address(), dovecot.port()));
    QVERIFY(client.readUntil("\r\n").startsWith("+OK"));
    QVERIFY(client.command("CAPA", "\r\n.\r\n").contains("\r\nSASL PLAIN LOGIN XOAUTH2 OAUTHBEARER\r\n"));
    const QByteArray response = mechanism == "XOAUTH2" ? "user=alice\x01"
                                                         "auth=Bearer "
                                                             + token.toLatin1() + "\x01\x01"
                                                       : "n,a=alice,\x01"
                                                         "auth=Bearer "
                                                             + token.toLatin1() + "\x01\x01";
    const QByteArray reply = client.command("AUTH " + mechanism + ' ' + response.toBase64());
    QCOMPARE(provider.requestCount(u"/introspect"_s), 1);
    if (accepted) {
        QVERIFY2(reply.startsWith("+OK"), reply.constData());
    } else {
        QVERIFY2(reply.startsWith("+ "), reply.constData()); // the error challenge
        QCOMPARE(client.command(mechanism == "XOAUTH2" ? "" : "AQ=="), "-ERR [AUTH] Authentication failed.\r\n");
    }
    // The password login is as before, and never asks the provider.
    RawClient plain;
    QVERIFY(plain.connectTo(dovecot.address(), dovecot.port()));
    QVERIFY(plain.readUntil("\r\n").startsWith("+OK"));
    QVERIFY(plain.command("USER alice").startsWith("+OK"));
    QCOMPARE(plain.command("PASS wrong"), "-ERR [AUTH] Authentication failed.\r\n");
    QVERIFY(plain.command("USER alice").startsWith("+OK"));
    QVERIFY(plain.command("PASS alicepw").startsWith("+OK"));
    QCOMPARE(provider.requestCount(u"/introspect"_s), 1);
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
