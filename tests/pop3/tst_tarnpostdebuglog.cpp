// The control's debug trace: file layout, the lines of a whole session and of
// methods that give up part way, and that it stays out of the way when off or
// unusable.

#include "pop3/socketadapter.h"
#include "pop3/tarnpost.h"
#include "tests/pop3/pop3testutil.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Pop3Test;
using namespace Tarnpostctl;

namespace {

struct Record
{
    QString state;
    QString text;
};

struct Log
{
    QStringList headers;
    QList<Record> records;
    bool wellFormed = true;
};

// Header lines, then records of three lines (a record's text may itself hold
// CR LF, so records are cut at the "+" lines).
Log parseLog(const QByteArray &bytes)
{
    Log log;
    QString rest = QString::fromLatin1(bytes);
    static const QRegularExpression header(u"^Tarnpost version:[^\r\n]*\r\n"_s);
    for (auto m = header.match(rest); m.hasMatch(); m = header.match(rest)) {
        log.headers.append(m.captured(0).chopped(2));
        rest.remove(0, m.capturedLength());
        // A later instance adds its header before its first record.
        break;
    }
    while (!rest.isEmpty()) {
        const qsizetype stateEnd = rest.indexOf("\r\n"_L1);
        const qsizetype recordEnd = rest.indexOf("\r\n+\r\n"_L1, stateEnd);
        if (stateEnd < 0 || recordEnd < 0) {
            log.wellFormed = false;
            break;
        }
        Record r{rest.left(stateEnd), rest.mid(stateEnd + 2, recordEnd - stateEnd - 2)};
        if (r.state.startsWith("Tarnpost version:"_L1)) {
            log.headers.append(r.state);
            rest.remove(0, stateEnd + 2);
            continue;
        }
        log.records.append(r);
        rest.remove(0, recordEnd + 5);
    }
    return log;
}

// Removes the blocks whose arrival order depends on packet timing, returning them.
QList<QStringList> takeBlocks(QStringList &texts, const QString &start, const QString &end)
{
    QList<QStringList> blocks;
    for (qsizetype i = 0; i < texts.size();) {
        if (texts.at(i) != start) {
            ++i;
            continue;
        }
        const qsizetype j = texts.indexOf(end, i);
        if (j < 0)
            break;
        blocks.append(texts.mid(i, j - i + 1));
        texts.remove(i, j - i + 1);
    }
    return blocks;
}

} // namespace

class TestTarnpostDebugLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void offWritesNothing();
    void headerAndRecordLayout();
    void wholeSession();
    void earlyReturns_data();
    void earlyReturns();
    void passwordMaskedAndFilePrivate_data();
    void passwordMaskedAndFilePrivate();
    void headerOncePerInstance();
    void unusableFileIsHarmless();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_log;
};

void TestTarnpostDebugLog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_log = m_dir->filePath(u"trace.log"_s);
}

void TestTarnpostDebugLog::offWritesNothing()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    QVERIFY(server.start());
    {
        Tarnpost t;
        configure(t, server.port());
        t.setDebugFile(m_log);
        t.Connect();
        QCOMPARE(t.Status(), qint16(StatusConnected));
        t.Disconnect();
    }
    QVERIFY(!QFileInfo::exists(m_log));
}

void TestTarnpostDebugLog::headerAndRecordLayout()
{
    {
        Tarnpost t;
        t.setDebugFile(m_log);
        t.setDebugMode(true);
        t.Disconnect(); // not connected: a few start/end records only
    }
    const QByteArray bytes = readFile(m_log);
    static const QRegularExpression headerLine(
        u"^Tarnpost version:4\\.1\\.1 \\(tarnpostctl\\) at:\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\r\n"_s);
    QVERIFY2(headerLine.match(QString::fromLatin1(bytes)).hasMatch(), bytes.left(120).constData());
    // Every line ends in CR LF.
    QVERIFY(bytes.endsWith("\r\n"));
    QVERIFY(!bytes.contains("\n\n"));
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));

    const Log log = parseLog(bytes);
    QVERIFY(log.wellFormed);
    QCOMPARE(log.headers.size(), 1);
    static const QRegularExpression stateLine(
        u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d State:0 RemHost: RemIP: RemPort:0   $"_s);
    QStringList texts;
    for (const Record &r : log.records) {
        QVERIFY2(stateLine.match(r.state).hasMatch(), qPrintable(r.state));
        texts.append(r.text);
    }
    QCOMPARE(texts,
             (QStringList{u"start disconnect"_s, u"start subresetvaluesondisconnect"_s, u"start subresetmsgvalues"_s,
                          u"end subresetmsgvalues"_s, u"end subresetvaluesondisconnect"_s, u"end disconnect"_s,
                          u"start usercontrol_terminate"_s, u"end usercontrol_terminate"_s}));
}

void TestTarnpostDebugLog::wholeSession()
{
    ScriptedPop3Server server;
    server.setGreeting({"+OK hi there\r\n"});
    scriptLogin(server, "+OK 2 300\r\n");
    QVERIFY(server.start());
    const QString port = QString::number(server.port());
    {
        Tarnpost t;
        configure(t, server.port());
        t.setDebugFile(m_log);
        t.setDebugMode(true);
        t.Connect();
        QCOMPARE(t.Status(), qint16(StatusConnected));
        t.Disconnect();
        QCOMPARE(t.Error(), qint16(ErrorNone));
        t.setDebugMode(false);
    }
    const Log log = parseLog(readFile(m_log));
    QVERIFY(log.wellFormed);
    QCOMPARE(log.headers.size(), 1);

    QStringList texts;
    for (const Record &r : log.records)
        texts.append(r.text);
    // While connected the state line names the peer.
    const qsizetype userAt = texts.indexOf(u"Sending command:USER joe"_s);
    QVERIFY(userAt > 0);
    QVERIFY2(log.records.at(userAt).state.endsWith(" State:7 RemHost:127.0.0.1 RemIP:127.0.0.1 RemPort:"_L1 + port
                                                   + "   "_L1),
             qPrintable(log.records.at(userAt).state));

    const QList<QStringList> arrivals = takeBlocks(texts, u"start wsk1_dataarrival"_s, u"end wsk1_dataarrival"_s);
    const QList<QStringList> closes = takeBlocks(texts, u"start wsk1_close"_s, u"end wsk1_close"_s);
    const QStringList expected{
        u"start connect"_s,
        u"in subflushdata"_s,
        u"connect:sckConnected"_s,
        u"connectreponse=+OK hi there"_s,
        u"in subflushdata"_s,
        u"start funSendDataForSingleLineResponse"_s,
        u"Sending command:USER joe"_s,
        u"in subflushdata"_s,
        u"end funSendDataForSingleLineResponse"_s,
        u"start funSendDataForSingleLineResponse"_s,
        u"Sending command:PASS ********"_s,
        u"in subflushdata"_s,
        u"end funSendDataForSingleLineResponse"_s,
        u"start funSendDataForSingleLineResponse"_s,
        u"Sending command:STAT"_s,
        u"in subflushdata"_s,
        u"end funSendDataForSingleLineResponse"_s,
        u"end connect"_s,
        u"start disconnect"_s,
        u"start funSendDataForSingleLineResponse"_s,
        u"Sending command:QUIT"_s,
        u"in subflushdata"_s,
        u"end funSendDataForSingleLineResponse"_s,
        u"start subresetvaluesondisconnect"_s,
        u"start subresetmsgvalues"_s,
        u"end subresetmsgvalues"_s,
        u"end subresetvaluesondisconnect"_s,
        u"end disconnect"_s,
    };
    QCOMPARE(texts, expected);

    // The server's close after QUIT.
    QCOMPARE(closes.size(), 1);
    QCOMPARE(closes.first(),
             (QStringList{u"start wsk1_close"_s, u"start subresetvaluesondisconnect"_s, u"start subresetmsgvalues"_s,
                          u"end subresetmsgvalues"_s, u"end subresetvaluesondisconnect"_s, u"end wsk1_close"_s}));
    // Greeting and four replies, each read as text with its lengths.
    QStringList got;
    for (const QStringList &block : arrivals) {
        for (const QString &line : block) {
            if (line.startsWith("GetData:"_L1))
                got.append(line.mid(8));
        }
    }
    QCOMPARE(got.join(QString()), u"+OK hi there\r\n+OK\r\n+OK\r\n+OK 2 300\r\n+OK bye\r\n"_s);
    const QStringList &first = arrivals.first();
    QCOMPARE(first.size(), 5);
    QCOMPARE(first.at(2), u"wsk1_dataarrival: len(strDataBuffer)=0"_s);
    QCOMPARE(first.at(3), u"wsk1_dataarrival: len(strReading)=14bytesTotal=14"_s);
}

// Methods that give up part way still write their "end" line, nested as they ran.
void TestTarnpostDebugLog::earlyReturns_data()
{
    QTest::addColumn<bool>("login");
    QTest::addColumn<qint16>("security");
    QTest::addColumn<QByteArrayList>("script"); // command, reply, command, reply, ...
    QTest::addColumn<QString>("actions");       // s select 1, r retrieve, w write to a blank name, m limit 1 byte
    QTest::addColumn<QString>("expected");      // the lines after "end connect" (all when not logged in), '|' between

    const auto single = [](const QString &command) -> QString {
        return "start funSendDataForSingleLineResponse|Sending command:"_L1 + command
               + "|in subflushdata|end funSendDataForSingleLineResponse"_L1;
    };
    const QString close = u"start subcloseconnection|start subresetvaluesondisconnect|start subresetmsgvalues|"
                          u"end subresetmsgvalues|end subresetvaluesondisconnect|end subcloseconnection"_s;
    const QString select = "start setcurrentmsg|"_L1 + single(u"UIDL 1"_s) + "|end setcurrentmsg"_L1;
    const QByteArray top = "+OK\r\nSubject: a\r\n.\r\n";

    QTest::newRow("select while disconnected")
        << false << qint16(SecurityNone) << QByteArrayList() << u"s"_s << u"start setcurrentmsg|end setcurrentmsg"_s;
    QTest::newRow("retrieve a message that is gone")
        << true << qint16(SecurityNone) << QByteArrayList{"UIDL 1", "-ERR no such message\r\n"} << u"sr"_s
        << QString(select + "|start retrievecurrentmsg|end retrievecurrentmsg"_L1);
    QTest::newRow("write to a blank file name")
        << true << qint16(SecurityNone) << QByteArrayList{"UIDL 1", "+OK 1 u1\r\n", "TOP 1 0", top} << u"sw"_s
        << QString(select
                   + "|start WriteCurrentMsgToFile|start subRetrieveHeaders|start funSendDataForMultiLineResponse"
                     "|Sending command:TOP 1 0|funSendDataForMultiLineResponse: (1)|in subflushdata"
                     "|end funSendDataForMultiLineResponse|end subRetrieveHeaders|end WriteCurrentMsgToFile"_L1);
    QTest::newRow("message over the limit")
        << true << qint16(SecurityNone) << QByteArrayList{"UIDL 1", "+OK 1 u1\r\n", "LIST 1", "+OK 1 500\r\n"}
        << u"smr"_s
        << QString(select + "|start retrievecurrentmsg|start subRetrieveSize|"_L1 + single(u"LIST 1"_s)
                   + "|end subRetrieveSize|Message is larger than the limit of 1 bytes; it was left on the server"
                     "|end retrievecurrentmsg"_L1);
    QTest::newRow("unique id line too long")
        << true << qint16(SecurityNone) << QByteArrayList{"UIDL 1", "+OK 1 " + QByteArray(MaxReplyLine, 'x') + "\r\n"}
        << u"s"_s
        << QString("start setcurrentmsg|start funSendDataForSingleLineResponse|Sending command:UIDL 1|reply refused in "
                   "funSendDataForSingleLineResponse: The server sent a reply line longer than 65536 bytes. Connection "
                   "closed|"_L1
                   + close + "|in subflushdata|end funSendDataForSingleLineResponse|end setcurrentmsg"_L1);
    QTest::newRow("STLS refused") << false << qint16(SecurityStls) << QByteArrayList{"STLS", "-ERR no\r\n"} << QString()
                                  << QString("start connect|in subflushdata|connect: security=2|connect:sckConnected"
                                             "|connectreponse=+OK scripted POP3 server ready|in subflushdata"
                                             "|start funstarttls|"_L1
                                             + single(u"STLS"_s) + "|end funstarttls|"_L1 + close + "|end connect"_L1);
}

void TestTarnpostDebugLog::earlyReturns()
{
    QFETCH(bool, login);
    QFETCH(qint16, security);
    QFETCH(QByteArrayList, script);
    QFETCH(QString, actions);
    QFETCH(QString, expected);
    if (security != SecurityNone && !SocketAdapter::tlsAvailable())
        QSKIP("no TLS library");

    ScriptedPop3Server server;
    if (login)
        scriptLogin(server);
    for (qsizetype i = 0; i + 1 < script.size(); i += 2)
        server.expect(script.at(i), {script.at(i + 1)});
    QVERIFY(server.start());
    {
        Tarnpost t;
        configure(t, server.port());
        QVERIFY(t.setPOPSecurity(security));
        t.setDebugFile(m_log);
        t.setDebugMode(true);
        if (login || security != SecurityNone)
            t.Connect();
        QCOMPARE(t.Status(), qint16(login ? StatusConnected : StatusDisconnected));
        for (const QChar action : std::as_const(actions)) {
            qint16 number = 1;
            QString blank = u" "_s;
            switch (action.unicode()) {
            case 's': t.SetCurrentMsg(number); break;
            case 'r': t.RetrieveCurrentMsg(); break;
            case 'w': t.WriteCurrentMsgToFile(blank); break;
            case 'm': QVERIFY(t.setMaxMessageSize(1)); break;
            }
        }
        t.setDebugMode(false);
    }
    const Log log = parseLog(readFile(m_log));
    QVERIFY(log.wellFormed);
    QStringList texts;
    for (const Record &r : log.records)
        texts.append(r.text);
    takeBlocks(texts, u"start wsk1_dataarrival"_s, u"end wsk1_dataarrival"_s);
    takeBlocks(texts, u"start wsk1_close"_s, u"end wsk1_close"_s);
    if (login)
        texts.remove(0, texts.indexOf(u"end connect"_s) + 1);
    QCOMPARE(texts, expected.split(u'|'));
}

void TestTarnpostDebugLog::passwordMaskedAndFilePrivate_data()
{
    QTest::addColumn<QString>("planted"); // what stands at the log's path before the session
    QTest::addColumn<bool>("written");
    // An access token, given on the AUTH line when it fits and after the
    // server's empty challenge when it does not.
    QTest::addColumn<QString>("token");
    QTest::newRow("nothing") << u"nothing"_s << true << QString();
    QTest::newRow("readable file") << u"file"_s << true << QString();
    QTest::newRow("link to a file") << u"symlink"_s << false << QString();
    QTest::newRow("dangling link") << u"dangling"_s << false << QString();
    QTest::newRow("hard link") << u"hardlink"_s << false << QString();
    QTest::newRow("pipe") << u"fifo"_s << false << QString();
    QTest::newRow("token on the AUTH line") << u"nothing"_s << true << u"tok-secret"_s;
    QTest::newRow("token after the challenge") << u"nothing"_s << true << QString(200, u'k');
}

void TestTarnpostDebugLog::passwordMaskedAndFilePrivate()
{
    QFETCH(QString, planted);
    QFETCH(bool, written);
    QFETCH(QString, token);
    const QString target = m_dir->filePath(u"target.txt"_s);
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (planted != "dangling"_L1 && planted != "nothing"_L1) {
        writeFile(planted == "file"_L1 ? m_log : target, "kept\r\n");
        QVERIFY(QFile::setPermissions(planted == "file"_L1 ? m_log : target, readable));
    }
    if (planted == "symlink"_L1 || planted == "dangling"_L1)
        QVERIFY(QFile::link(target, m_log));
    if (planted == "hardlink"_L1)
        QCOMPARE(::link(QFile::encodeName(target).constData(), QFile::encodeName(m_log).constData()), 0);
    if (planted == "fifo"_L1) {
        QFile::remove(target);
        QCOMPARE(::mkfifo(QFile::encodeName(m_log).constData(), 0644), 0);
    }

    const QByteArray encoded = QByteArray("user=joe\x01"
                                          "auth=Bearer "
                                          + token.toLatin1() + "\x01\x01")
                                   .toBase64();
    const bool fits = encoded.size() < 200;
    ScriptedPop3Server server;
    if (token.isEmpty()) {
        scriptLogin(server);
    } else {
        server.expect("CAPA", {"+OK\r\nSASL XOAUTH2\r\n.\r\n"});
        if (!fits)
            server.expect("AUTH XOAUTH2", {"+ \r\n"});
        server.expect(fits ? "AUTH XOAUTH2 " + encoded : encoded, {"+OK\r\n"});
        server.expect("STAT", {"+OK 0 0\r\n"});
    }
    QVERIFY(server.start());
    {
        Tarnpost t;
        configure(t, server.port());
        t.setAccessToken(token);
        t.setDebugFile(m_log);
        t.setDebugMode(true);
        t.Connect();
        QCOMPARE(t.Status(), qint16(StatusConnected));
        t.Disconnect();
    }
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
    if (token.isEmpty())
        QCOMPARE(server.receivedLines().value(1), QByteArray("PASS secret"));
    if (written) {
        const QByteArray log = readFile(m_log);
        if (token.isEmpty())
            QVERIFY(log.contains("\r\nSending command:PASS ********\r\n+\r\n"));
        else if (fits)
            QVERIFY(log.contains("\r\nSending command:AUTH XOAUTH2 ********\r\n+\r\n"));
        else
            QVERIFY(log.contains("\r\nSending command:AUTH XOAUTH2\r\n+\r\n")
                    && log.contains("\r\nSending command:********\r\n+\r\n"));
        QVERIFY(!log.contains("secret"));
        if (!token.isEmpty()) {
            QVERIFY(!log.contains(token.toLatin1()));
            QVERIFY(!log.contains(encoded.left(16)));
        }
        QVERIFY(log.startsWith(planted == "file"_L1 ? "kept\r\nTarnpost version:" : "Tarnpost version:"));
        QCOMPARE(QFileInfo(m_log).permissions()
                     & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
    } else {
        // Whatever the link points at is left as it was, and nothing is created there.
        QCOMPARE(readFile(target), planted == "symlink"_L1 || planted == "hardlink"_L1 ? QByteArray("kept\r\n")
                                                                                       : QByteArray("<missing>"));
        if (QFileInfo::exists(target))
            QCOMPARE(QFileInfo(target).permissions() & readable, readable);
    }
}

void TestTarnpostDebugLog::headerOncePerInstance()
{
    writeFile(m_log, "kept\r\n");
    {
        Tarnpost t;
        t.setDebugFile(m_log);
        t.setDebugMode(true);
        t.Disconnect();
        t.setDebugMode(false);
        t.setDebugMode(true); // no second header for the same instance
        t.Disconnect();
    }
    {
        Tarnpost t;
        t.setDebugFile(m_log);
        t.setDebugMode(true);
        t.Disconnect();
    }
    const QByteArray bytes = readFile(m_log);
    QVERIFY(bytes.startsWith("kept\r\nTarnpost version:")); // appended, never truncated
    QCOMPARE(bytes.count("Tarnpost version:"), 2);
    QCOMPARE(bytes.count("\r\nstart disconnect\r\n"), 3);
}

void TestTarnpostDebugLog::unusableFileIsHarmless()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    scriptLogin(server);
    QVERIFY(server.start());
    const QString missing = m_dir->filePath(u"no/such/folder/trace.log"_s);
    Tarnpost t;
    configure(t, server.port());
    t.setDebugFile(missing);
    t.setDebugMode(true);
    t.Connect();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.Status(), qint16(StatusConnected));
    t.setDebugFile(m_dir->path()); // a folder
    t.Disconnect();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QVERIFY(!QFileInfo::exists(missing));
    t.setDebugFile(QString());
    t.Connect();
    QCOMPARE(t.Status(), qint16(StatusConnected));
    t.setDebugMode(false);
}

QTEST_MAIN(TestTarnpostDebugLog)
#include "tst_tarnpostdebuglog.moc"
