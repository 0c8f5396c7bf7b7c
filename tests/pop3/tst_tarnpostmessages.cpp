// Message operations of the control against the scripted POP3 server:
// selection, unique ids, header fields, sizes, the error codes and when the
// session is closed.

#include "pop3/tarnpost.h"
#include "tests/pop3/pop3testutil.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Pop3Test;
using namespace Tarnpostctl;

namespace {

enum class Action {
    Select1,
    Select4,
    Select0,
    Headers,
    Retrieve,
    WriteEmptyName,
    WriteMissingDir,
    WriteFile,
    Delete,
    Reset,
    Size,
};

struct Step
{
    QByteArray prefix;
    QByteArray reply;
};

} // namespace

Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Step)

class TestTarnpostMessages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void errorCodes_data();
    void errorCodes();
    void reselectWithZero();
    void uniqueIdCut_data();
    void uniqueIdCut();
    void noSuchMessage();
    void serverWithoutUidl();
    void topWithoutLineCount();
    void headerFields_data();
    void headerFields();
    void longHeaderBlock();
    void sizeInK_data();
    void sizeInK();
    void retrieveShapes_data();
    void retrieveShapes();
    void deleteAndReset();
    void lazyFetchesHappenOnce();

private:
    QTemporaryDir m_dir;
};

void TestTarnpostMessages::errorCodes_data()
{
    QTest::addColumn<bool>("connect");
    QTest::addColumn<QList<Step>>("steps"); // after the login
    QTest::addColumn<QList<Action>>("actions");
    QTest::addColumn<qint16>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("stillOpen");

    const Step uidl{"UIDL 1", "+OK 1 abc\r\n"};
    const Step top{"TOP 1 0", "+OK\r\nSubject: x\r\n\r\n.\r\n"};
    const Step list{"LIST 1", "+OK 1 100\r\n"};

    QTest::newRow("19 select while disconnected")
        << false << QList<Step>{} << QList<Action>{Action::Select1} << qint16(ErrorSetMsgDisconnected)
        << u"Cannot set message number when disconnected"_s << false;
    QTest::newRow("20 number above the count")
        << true << QList<Step>{} << QList<Action>{Action::Select4} << qint16(ErrorMsgNumberOutOfRange)
        << u"Cannot set message number less than or equal to 0 or greater than the message count"_s << false;
    QTest::newRow("20 zero without a selection")
        << true << QList<Step>{} << QList<Action>{Action::Select0} << qint16(ErrorMsgNumberOutOfRange)
        << u"Cannot set message number less than or equal to 0 or greater than the message count"_s << false;
    QTest::newRow("22 both TOP forms refused")
        << true << QList<Step>{uidl, {"TOP 1 0", "-ERR bad\r\n"}, {"TOP 1", "-ERR worse\r\n"}}
        << QList<Action>{Action::Select1, Action::Headers} << qint16(ErrorTopRefused)
        << u"Error using the TOP command: -ERR worse\r\n"_s << false;
    QTest::newRow("23 retrieve while disconnected")
        << false << QList<Step>{} << QList<Action>{Action::Retrieve} << qint16(ErrorRetrieveDisconnected)
        << u"Cannot retrieve message when disconnected"_s << false;
    // The header fetch comes first and fails on the closed socket without waiting.
    QTest::newRow("23 write while disconnected")
        << false << QList<Step>{} << QList<Action>{Action::WriteFile} << qint16(ErrorRetrieveDisconnected)
        << u"Cannot retrieve message when disconnected"_s << false;
    QTest::newRow("24 retrieve without a selection")
        << true << QList<Step>{} << QList<Action>{Action::Retrieve} << qint16(ErrorRetrieveNoMessage)
        << u"Cannot retrieve message number 0, use the SetCurrentMsg method"_s << false;
    QTest::newRow("24 write without a selection")
        << true << QList<Step>{{"TOP 0 0", "+OK\r\n.\r\n"}} << QList<Action>{Action::WriteFile}
        << qint16(ErrorRetrieveNoMessage) << u"Cannot retrieve message number 0, use the SetCurrentMsg method"_s
        << false;
    QTest::newRow("25 RETR refused") << true << QList<Step>{uidl, list, {"RETR 1", "-ERR gone\r\n"}}
                                     << QList<Action>{Action::Select1, Action::Retrieve} << qint16(ErrorRetrRefused)
                                     << u"Error retrieving the message: -ERR gone\r\n"_s << false;
    QTest::newRow("26 DELE refused") << true << QList<Step>{uidl, {"DELE 1", "-ERR locked\r\n"}}
                                     << QList<Action>{Action::Select1, Action::Delete} << qint16(ErrorDeleRefused)
                                     << u"Error using the DELE (delete) command: -ERR locked\r\n"_s << true;
    QTest::newRow("26 DELE without a selection")
        << true << QList<Step>{{"DELE 0", "-ERR no message 0\r\n"}} << QList<Action>{Action::Delete}
        << qint16(ErrorDeleRefused) << u"Error using the DELE (delete) command: -ERR no message 0\r\n"_s << true;
    QTest::newRow("27 delete while disconnected")
        << false << QList<Step>{} << QList<Action>{Action::Delete} << qint16(ErrorDeleteDisconnected)
        << u"Cannot delete message when disconnected"_s << false;
    QTest::newRow("28 RSET refused") << true << QList<Step>{{"RSET", "-ERR nope\r\n"}} << QList<Action>{Action::Reset}
                                     << qint16(ErrorRsetRefused)
                                     << u"Error using the RSET (reset) command: -ERR nope\r\n"_s << true;
    QTest::newRow("29 reset while disconnected")
        << false << QList<Step>{} << QList<Action>{Action::Reset} << qint16(ErrorResetDisconnected)
        << u"Cannot reset deleted messages when disconnected"_s << false;
    QTest::newRow("30 LIST refused") << true << QList<Step>{uidl, {"LIST 1", "-ERR what\r\n"}}
                                     << QList<Action>{Action::Select1, Action::Size} << qint16(ErrorListRefused)
                                     << u"Error using the LIST command: -ERR what\r\n"_s << true;
    QTest::newRow("30 LIST silent") << true << QList<Step>{uidl, {"LIST 1", ""}}
                                    << QList<Action>{Action::Select1, Action::Size} << qint16(ErrorListRefused)
                                    << u"Error using the LIST command: Program determining timeout error"_s << true;
    QTest::newRow("31 empty file name") << true << QList<Step>{uidl, top}
                                        << QList<Action>{Action::Select1, Action::WriteEmptyName} << qint16(ErrorFile)
                                        << u"File error: Filename cannot be empty"_s << true;
    QTest::newRow("31 folder missing") << true << QList<Step>{uidl, top}
                                       << QList<Action>{Action::Select1, Action::WriteMissingDir} << qint16(ErrorFile)
                                       << u"File error: Error attempting to open file"_s << true;
}

void TestTarnpostMessages::errorCodes()
{
    QFETCH(bool, connect);
    QFETCH(QList<Step>, steps);
    QFETCH(QList<Action>, actions);
    QFETCH(qint16, code);
    QFETCH(QString, text);
    QFETCH(bool, stillOpen);

    ScriptedPop3Server server;
    scriptLogin(server);
    for (const Step &step : std::as_const(steps))
        server.expect(step.prefix, {step.reply});
    QVERIFY(server.start());

    Tarnpost t;
    configure(t, server.port(), 1);
    if (connect) {
        t.Connect();
        QCOMPARE(t.Status(), qint16(StatusConnected));
    }
    for (Action action : std::as_const(actions)) {
        qint16 n = 0;
        QString path;
        switch (action) {
        case Action::Select1:
            n = 1;
            t.SetCurrentMsg(n);
            break;
        case Action::Select4:
            n = 4;
            t.SetCurrentMsg(n);
            break;
        case Action::Select0:
            n = 0;
            t.SetCurrentMsg(n);
            break;
        case Action::Headers: t.MsgHeaders(); break;
        case Action::Retrieve: t.RetrieveCurrentMsg(); break;
        case Action::WriteEmptyName: t.WriteCurrentMsgToFile(path); break;
        case Action::WriteMissingDir:
            path = m_dir.filePath(u"no/such/folder/m.eml"_s);
            t.WriteCurrentMsgToFile(path);
            break;
        case Action::WriteFile:
            path = m_dir.filePath(u"m.eml"_s);
            t.WriteCurrentMsgToFile(path);
            break;
        case Action::Delete: t.DeleteCurrentMsg(); break;
        case Action::Reset: t.ResetDeletedMsgs(); break;
        case Action::Size: t.MsgSizeInK(); break;
        }
    }
    QCOMPARE(t.Error(), code);
    QCOMPARE(t.ErrorText(), text);
    QCOMPARE(t.Status(), qint16(stillOpen ? 1 : 0));
    QCOMPARE(t.SocketState(), stillOpen ? 7 : 0);
    if (!stillOpen)
        QCOMPARE(t.MsgNumber(), qint16(0));
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
    if (!connect)
        QCOMPARE(server.connectionCount(), 0);
    else
        QCOMPARE(server.receivedLines().size(), 3 + steps.size()); // nothing sent beyond the script
}

void TestTarnpostMessages::reselectWithZero()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    server.expect("UIDL 3", {"+OK 3 third\r\n"});
    server.expect("LIST 3", {"+OK 3 20\r\n"});
    server.expect("RETR 3", {"+OK\r\nSubject: s\r\n\r\nbody\r\n.\r\n"});
    server.expect("UIDL 3", {"+OK 3 third-again\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 3);
    t.RetrieveCurrentMsg();
    QCOMPARE(t.MsgContents(), u"body"_s);
    qint16 n = 0;
    t.SetCurrentMsg(n);
    QCOMPARE(n, qint16(3)); // written back
    QCOMPARE(t.MsgNumber(), qint16(3));
    QCOMPARE(t.MsgUniqueID(), u"third-again"_s);
    QCOMPARE(t.MsgContents(), QString());
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.Status(), qint16(StatusConnected));

    // Out of range keeps the previous number until the session ends.
    Tarnpost other;
    ScriptedPop3Server second;
    scriptLogin(second);
    second.expect("UIDL 2", {"+OK 2 x\r\n"});
    QVERIFY(second.start());
    configure(other, second.port());
    other.Connect();
    n = 2;
    other.SetCurrentMsg(n);
    QCOMPARE(other.MsgNumber(), qint16(2));
    n = -1;
    other.SetCurrentMsg(n);
    QCOMPARE(other.Error(), qint16(ErrorMsgNumberOutOfRange));
    QCOMPARE(other.Status(), qint16(StatusDisconnected));
}

void TestTarnpostMessages::uniqueIdCut_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("id");
    QTest::newRow("usual") << QByteArray("+OK 2 QhGwZ8kq\r\n") << u"QhGwZ8kq"_s;
    QTest::newRow("id with blank inside") << QByteArray("+OK 2 a b\r\n") << u"a b"_s;
    QTest::newRow("no number") << QByteArray("+OK QhGwZ8kq\r\n") << u"QhGwZ8kq"_s;
    QTest::newRow("8-bit id") << QByteArray("+OK 2 \xe9\xff\r\n") << QString::fromLatin1("\xe9\xff");
}

void TestTarnpostMessages::uniqueIdCut()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, id);
    ScriptedPop3Server server;
    scriptLogin(server);
    server.expect("UIDL 2", {reply});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 2);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgUniqueID(), id);
}

void TestTarnpostMessages::noSuchMessage()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    server.expect("UIDL 2", {"-ERR No Such message\r\n"});
    // Writing to a file fetches the headers first; the server refuses them too.
    server.expect("TOP 2 0", {"-ERR no such message\r\n"});
    server.expect("TOP 2", {"-ERR no such message\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 2);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgUniqueID(), u"joe:127.0.0.1:2"_s);
    QCOMPARE(t.MsgContents(), u"Unable to retrieve"_s);

    t.RetrieveCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgContents(), u"Unable to retrieve"_s);

    QString path = m_dir.filePath(u"nosuch.eml"_s);
    writeFile(path, "previous");
    t.WriteCurrentMsgToFile(path);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(readFile(path), QByteArray("Unable to retrieve"));
    QCOMPARE(t.Status(), qint16(StatusConnected));
    for (const QByteArray &line : server.receivedLines())
        QVERIFY2(!line.startsWith("RETR") && !line.startsWith("LIST"), line.constData());
}

void TestTarnpostMessages::serverWithoutUidl()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    server.expect("UIDL 1", {"-ERR unknown command\r\n"});
    server.expect("LIST 1", {"+OK 1 37\r\n"});
    server.expect("RETR 1", {"+OK\r\nSubject: old\r\nFrom: x@y\r\n\r\nthe body\r\n.\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 1);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgHeaders(), u"Subject: old\r\nFrom: x@y\r"_s); // ends in a lone CR
    QCOMPARE(t.MsgContents(), u"the body"_s);
    QCOMPARE(t.MsgSubject(), u"old"_s);
    QCOMPARE(t.MsgFrom(), u"x@y\r"_s); // the lone CR of the last line stays
    QCOMPARE(t.MsgUniqueID(), u"joe:127.0.0.1:1"_s);
    QCOMPARE(t.MsgSizeInK(), 1);
    QCOMPARE(server.receivedLines().size(), 6); // nothing fetched twice
}

void TestTarnpostMessages::topWithoutLineCount()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    scriptSelect(server, 1);
    server.expect("TOP 1 0", {"-ERR syntax\r\n"});
    server.expect("TOP 1", {"+OK\r\n  Subject: hi\r\nTo: me\r\n\r\nbody line\r\n.\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 1);
    QCOMPARE(t.MsgHeaders(), u"Subject: hi\r\nTo: me\r\n\r\nbody line"_s);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.Status(), qint16(StatusConnected));
}

void TestTarnpostMessages::headerFields_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("first received, first line only") << u"received"_s << u"from a.example by b"_s;
    QTest::newRow("subject in blanks") << u"  Subject  "_s << u"Hello"_s;
    QTest::newRow("subject upper case with colon") << u"SUBJECT:"_s << u"Hello"_s;
    QTest::newRow("missing") << u"Reply-To"_s << u"<not found>"_s;
    QTest::newRow("whole name only") << u"Sender-From"_s << u"<not found>"_s;
    QTest::newRow("from, not X-Sender-From") << u"from:"_s << u"joe@example.org"_s;
    QTest::newRow("first header line") << u"return-path"_s << u"<bounce@example.org>"_s;
    QTest::newRow("empty value") << u"X-Empty"_s << QString();
    QTest::newRow("tab stays") << u"X-Tab"_s << u"\tv"_s;
    QTest::newRow("last line without CR LF") << u"date"_s << u"Mon, 1 Jan 2024"_s;
}

void TestTarnpostMessages::headerFields()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    const QByteArray headers = "Return-Path: <bounce@example.org>\r\n"
                               "X-Sender-From: spoof@example.org\r\n"
                               "Received: from a.example by b\r\n"
                               "\tfolded continuation\r\n"
                               "Received: from c.example by d\r\n"
                               "Subject:   Hello  \r\n"
                               "From: joe@example.org\r\n"
                               "X-Empty:\r\n"
                               "X-Tab: \tv\r\n"
                               "Date: Mon, 1 Jan 2024";
    ScriptedPop3Server server;
    scriptLogin(server);
    scriptSelect(server, 1);
    // Blanks at the end of the block are trimmed; the Date line keeps no CR LF.
    server.expect("TOP 1 0", {"+OK\r\n" + headers + "   \r\n.\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 1);
    QCOMPARE(t.GetOtherHeader(name), value);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    // The named properties read a missing header as empty.
    QCOMPARE(t.MsgSubject(), u"Hello"_s);
    QCOMPARE(t.MsgReplyTo(), QString());
    QCOMPARE(t.MsgReturnPath(), u"<bounce@example.org>"_s);
    QCOMPARE(server.receivedLines().size(), 5); // one TOP, whatever was read
}

void TestTarnpostMessages::longHeaderBlock()
{
    // Far beyond 16-bit positions: a 40,000+ character header block.
    QByteArray headers;
    for (int i = 0; i < 800; ++i)
        headers += "X-Filler-" + QByteArray::number(i) + ": " + QByteArray(40, 'f') + "\r\n";
    headers += "Subject: " + QByteArray(33000, 's') + "\r\n";
    headers += "X-Last: end\r\n";
    QVERIFY(headers.size() > 40000 + 33000);
    const QByteArray body = "short body";
    ScriptedPop3Server server;
    scriptLogin(server);
    server.expect("UIDL 1", {"-ERR unknown command\r\n"}); // the message comes by RETR
    const QByteArray retr = "+OK\r\n" + headers + "\r\n" + body + "\r\n.\r\n";
    server.expect("LIST 1", {"+OK 1 " + QByteArray::number(listedSizeOfReply(retr)) + "\r\n"});
    server.expect("RETR 1", {retr});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 1);
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgContents(), latin1(body));
    QCOMPARE(t.MsgHeaders().size(), headers.size() - 1);
    QCOMPARE(t.GetOtherHeader(u"X-Last"_s), u"end\r"_s);
    QCOMPARE(t.MsgSubject(), latin1(QByteArray(33000, 's')));
    QCOMPARE(t.GetOtherHeader(u"x-filler-799"_s), latin1(QByteArray(40, 'f')));
}

void TestTarnpostMessages::sizeInK_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<qint32>("kilobytes");
    QTest::newRow("0 octets") << QByteArray("+OK 1 0\r\n") << 1;
    QTest::newRow("1023 octets") << QByteArray("+OK 1 1023\r\n") << 1;
    QTest::newRow("1024 octets") << QByteArray("+OK 1 1024\r\n") << 2;
    QTest::newRow("2048 octets") << QByteArray("+OK 1 2048\r\n") << 3;
    QTest::newRow("blanks inside") << QByteArray("+OK 1 20 48\r\n") << 3;
    QTest::newRow("no number") << QByteArray("+OK 1 lots\r\n") << 1;
    QTest::newRow("huge") << QByteArray("+OK 1 99999999999\r\n") << 2097152;
}

void TestTarnpostMessages::sizeInK()
{
    QFETCH(QByteArray, reply);
    QFETCH(qint32, kilobytes);
    ScriptedPop3Server server;
    scriptLogin(server);
    scriptSelect(server, 1);
    server.expect("LIST 1", {reply});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 1);
    QCOMPARE(t.MsgSizeInK(), kilobytes);
    QCOMPARE(t.MsgSizeInK(), kilobytes);
    QCOMPARE(server.receivedLines().size(), 5);
}

void TestTarnpostMessages::retrieveShapes_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("headers");
    QTest::addColumn<QString>("contents");

    QTest::newRow("no blank line") << QByteArray("+OK\r\nline a\r\nline b\r\n.\r\n") << u"Subject: t\r\n"_s
                                   << u"line a\r\nline b"_s;
    // The final CR LF goes with the terminator, so the blank line is not seen.
    QTest::newRow("empty body") << QByteArray("+OK\r\nSubject: t\r\nTo: u\r\n\r\n.\r\n") << u"Subject: t\r\n"_s
                                << u"Subject: t\r\nTo: u\r\n"_s;
    QTest::newRow("dot-stuffed kept") << QByteArray("+OK\r\nA: b\r\n\r\n..x\r\n.\r\n") << u"Subject: t\r\n"_s
                                      << u"..x"_s;
}

void TestTarnpostMessages::retrieveShapes()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, headers);
    QFETCH(QString, contents);
    ScriptedPop3Server server;
    scriptLogin(server);
    scriptSelect(server, 1);
    server.expect("TOP 1 0", {"+OK\r\nSubject: t\r\n\r\n.\r\n"});
    server.expect("LIST 1", {"+OK 1 " + QByteArray::number(listedSizeOfReply(reply)) + "\r\n"});
    server.expect("RETR 1", {reply});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 1);
    QCOMPARE(t.MsgSubject(), u"t"_s);
    t.RetrieveCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgHeaders(), headers);
    QCOMPARE(t.MsgContents(), contents);
}

void TestTarnpostMessages::deleteAndReset()
{
    ScriptedPop3Server server;
    scriptLogin(server);
    scriptSelect(server, 2, "two");
    server.expect("DELE 2", {"+OK marked\r\n"});
    server.expect("RSET", {"+OK reset\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 2);
    t.DeleteCurrentMsg();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.MsgNumber(), qint16(2));
    QCOMPARE(t.MsgUniqueID(), u"two"_s);
    t.ResetDeletedMsgs();
    QCOMPARE(t.Error(), qint16(ErrorNone));
    QCOMPARE(t.Status(), qint16(StatusConnected));
    QCOMPARE(server.receivedLines().mid(4), (QList<QByteArray>{"DELE 2", "RSET"}));
}

void TestTarnpostMessages::lazyFetchesHappenOnce()
{
    // A failed fetch is not repeated either, until the next selection.
    ScriptedPop3Server server;
    scriptLogin(server);
    scriptSelect(server, 1);
    server.expect("LIST 1", {"-ERR busy\r\n"});
    server.expect("TOP 1 0", {"+OK\r\nSubject: a\r\n\r\n.\r\n"});
    scriptSelect(server, 1, "again");
    server.expect("LIST 1", {"+OK 1 5000\r\n"});
    QVERIFY(server.start());
    Tarnpost t;
    connectAndSelect(t, server.port(), 1);
    QCOMPARE(t.MsgSizeInK(), 0);
    QCOMPARE(t.Error(), qint16(ErrorListRefused));
    QCOMPARE(t.MsgSizeInK(), 0);
    QCOMPARE(t.MsgSubject(), u"a"_s);
    QCOMPARE(t.MsgFrom(), QString());
    QCOMPARE(t.MsgDate(), QString());
    QCOMPARE(t.Error(), qint16(ErrorNone));
    qint16 n = 1;
    t.SetCurrentMsg(n);
    QCOMPARE(t.MsgSizeInK(), 5);
    QCOMPARE(server.receivedLines().size(), 8);
}

QTEST_MAIN(TestTarnpostMessages)
#include "tst_tarnpostmessages.moc"
