// Tokens of a decoded message: which headers give words and which give
// nothing, how words, links and addresses become tokens, and the bounds a
// hostile message meets.

#include "learn/tokenizer.h"
#include "learn/tokenstore.h"
#include "mail/mimetext.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using Scan::MimeText;
using Scan::Tokenizer;

class tst_Tokenizer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tokens_data();
    void tokens();
    void bounded();
};

void tst_Tokenizer::tokens_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("subject words, lower-cased, also as text")
        << "Subject: Re: FREE Money!!!\r\n\r\nx"_ba
        << QStringList{u"subject:re"_s, u"subject:free"_s, u"subject:money"_s, u"free"_s, u"money"_s}
        << QStringList{u"subject:FREE"_s, u"subject:money!!!"_s, u"re"_s};
    QTest::newRow("encoded subject is decoded first")
        << "Subject: =?utf-8?B?R3LDvMOfZQ==?=\r\n\r\nx"_ba << QStringList{u"subject:grüße"_s}
        << QStringList{u"subject:=?utf-8?b?r3ldvmofzq==?="_s};
    QTest::newRow("case beyond ASCII")
        << "Subject: \xc4\xb0stanbul\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n\xc3\x89T\xc3\x89 Stra\xc3\x9f"
           "E"_ba
        << QStringList{u"subject:i\u0307stanbul"_s, u"\u00e9t\u00e9"_s, u"stra\u00dfe"_s} << QStringList{};
    QTest::newRow("addresses")
        << "From: Ann Lee <Ann@Example.ORG>\r\nReply-To: x@y.example\r\n\r\nwrite to bob@mail.example.net"_ba
        << QStringList{u"from:ann"_s,
                       u"from:lee"_s,
                       u"from:ann@example.org"_s,
                       u"from:@example.org"_s,
                       u"reply-to:@y.example"_s,
                       u"bob@mail.example.net"_s,
                       u"@mail.example.net"_s}
        << QStringList{};
    QTest::newRow("path and list headers give nothing")
        << "Received: from relay.example ([10.1.2.3])\r\nReturn-Path: <l@lists.example>\r\n"
           "List-Id: <talk.lists.example>\r\nX-BeenThere: talk@lists.example\r\nSubject: s\r\n\r\nx"_ba
        << QStringList{u"header:subject"_s}
        << QStringList{u"header:received"_s, u"received:relay.example"_s, u"header:list-id"_s, u"header:x-beenthere"_s,
                       u"return-path:@lists.example"_s};
    QTest::newRow("of the way only the first hop, as the sender's machine")
        << "Received: from box (unverified [10.0.0.1]) by mx.example\r\n"
           "Received: from [192.0.2.7]\r\n\t(unknown [192.0.2.7]) by box\r\nSubject: s\r\n\r\nx"_ba
        << QStringList{u"sender-shape:helo-ip"_s, u"sender-shape:no-name"_s}
        << QStringList{u"sender-shape:helo-bare"_s, u"sender-shape:forged"_s, u"header:received"_s,
                       u"header-order:received>subject"_s};
    QTest::newRow("a first hop with a name of its own")
        << "Received: from mail.example.org (mail.example.org [192.0.2.8]) by mx.example\r\nSubject: s\r\n\r\n"
           "Received: from [192.0.2.9] (unknown [192.0.2.9]) by box\r\n"_ba
        << QStringList{u"header:subject"_s}
        << QStringList{u"sender-shape:helo-ip"_s, u"sender-shape:helo-bare"_s, u"sender-shape:no-name"_s,
                       u"sender-shape:forged"_s};
    QTest::newRow("list mail: the list's address, footer and pages give nothing")
        << "From: Ann <ann@example.org>\r\nTo: talk@lists.example\r\nCc: bob@example.net\r\n"
           "List-Id: <talk.lists.example>\r\nX-Mailing-List: talk@lists.example\r\nSubject: s\r\n\r\n"
           "cheap pills here\r\n_______________________________________________\r\nTalk mailing list\r\n"
           "talk@lists.example\r\nhttp://lists.example/mailman/listinfo/talk\r\n"_ba
        << QStringList{u"cheap"_s,      u"pills"_s,      u"header:to"_s,
                       u"to:count-1"_s, u"cc:count-1"_s, u"from:ann@example.org"_s}
        << QStringList{u"to:talk@lists.example"_s, u"cc:@example.net"_s,   u"header:x-mailing-list"_s, u"mailing"_s,
                       u"talk@lists.example"_s,    u"url:lists.example"_s, u"url:listinfo"_s};
    QTest::newRow("without a list, rule lines and recipients stay")
        << "To: ann@example.org\r\nSubject: s\r\n\r\nhello there\r\n----------\r\nregards from bob\r\n"_ba
        << QStringList{u"to:ann@example.org"_s, u"regards"_s, u"bob"_s} << QStringList{};
    QTest::newRow("a footer naming a list is cut without list headers")
        << "Subject: s\r\n\r\nhello there\r\n-------------\r\nFoo mailing list\r\nhttp://x.example/listinfo/foo\r\n"_ba
        << QStringList{u"hello"_s} << QStringList{u"mailing"_s, u"url:x.example"_s};
    QTest::newRow("shapes of ids, dates, names, subjects and the build")
        << "Message-ID: <0000776453ec$000024c0@mail.example>\r\nDate: Thu, 25 Jul 2002 06:05:25 -0400\r\n"
           "From: \"BIG DEALS\" <deals@example.com>\r\nTo: a@example.org, b@example.org, c@example.org\r\n"
           "Subject: FREE OFFER NOW!!!     XJQ\r\nContent-Type: text/html\r\n\r\n"
           "<p>Hi <a href=\"http://a.example/\">x</a></p>"_ba
        << QStringList{u"message-id-shape:<9a$9a9"_s,
                       u"date-shape:ua, 9 ua 9 9:9:9 -9"_s,
                       u"from-shape:caps-name"_s,
                       u"to:count-2"_s,
                       u"subject-shape:caps"_s,
                       u"subject-shape:bang"_s,
                       u"shape:html-only"_s,
                       u"shape:links-1"_s,
                       u"shape:chars-0"_s,
                       u"header-order:message-id>date"_s,
                       u"header-order:date>from"_s}
        << QStringList{u"subject-shape:dollar"_s, u"from-shape:bare"_s};
    QTest::newRow("a mailbox full of digits")
        << "From: jane84521@example.com\r\n\r\nx"_ba << QStringList{u"from-shape:digits"_s} << QStringList{};
    QTest::newRow("digits in the name or the domain")
        << "From: Room 101 <ann@mx2002.example>\r\n\r\nx"_ba << QStringList{u"from:ann@mx2002.example"_s}
        << QStringList{u"from-shape:digits"_s};
    QTest::newRow("dates and ids count by presence")
        << "Date: Mon, 1 Jul 2002 10:00:00 +0000\r\nMessage-ID: <abc.123@mx.Example.com>\r\n"
           "X-Campaign: 998877\r\n\r\nx"_ba
        << QStringList{u"header:date"_s, u"message-id:@mx.example.com"_s, u"header:x-campaign"_s}
        << QStringList{u"date:mon"_s, u"x-campaign:998877"_s};
    QTest::newRow("links in text")
        << "Subject: s\r\n\r\nSee http://www.Shop.example.co.uk/buy/cheap-pills.html?id=7 or "
           "www.other.example, and http://192.168.10.1/x"_ba
        << QStringList{u"url:www.shop.example.co.uk"_s,
                       u"url:shop.example.co.uk"_s,
                       u"url:example.co.uk"_s,
                       u"url:buy"_s,
                       u"url:cheap-pills"_s,
                       u"url:html"_s,
                       u"url:www.other.example"_s,
                       u"url:ip"_s}
        << QStringList{u"http"_s, u"url:192.168.10.1"_s};
    QTest::newRow("links of an html part")
        << "Content-Type: text/html\r\n\r\n<a href=\"http://Track.Spam.example/r?u=1\">Click</a>"_ba
        << QStringList{u"url:track.spam.example"_s, u"url:spam.example"_s, u"click"_s, u"part:text/html"_s}
        << QStringList{u"href"_s, u"a"_s};
    QTest::newRow("words") << "Subject: s\r\n\r\nab abc $5.00 e-mail (quoted) don't 100% ...dots... "
                              "supercalifragilisticexpialidocious"_ba
                           << QStringList{u"abc"_s,   u"$5.00"_s, u"e-mail"_s, u"quoted"_s,
                                          u"don't"_s, u"100"_s,   u"dots"_s,   u"skip:s 30"_s}
                           << QStringList{u"ab"_s, u"(quoted)"_s, u"supercalifragilisticexpialidocious"_s};
    QTest::newRow("parts")
        << "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n"
           "hello\r\n--b\r\nContent-Type: application/octet-stream; name=\"Setup.EXE\"\r\n\r\nMZ\r\n--b--\r\n"_ba
        << QStringList{u"part:text/plain"_s, u"charset:utf-8"_s, u"part:application/octet-stream"_s,
                       u"attachment:exe"_s, u"hello"_s}
        << QStringList{u"mz"_s};
}

void tst_Tokenizer::tokens()
{
    QFETCH(QByteArray, raw);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    const MimeText message = MimeText::decode(raw);
    const QStringList tokens = Tokenizer::tokens(message);
    // The ids classifying uses are the keys of the same tokens; all are lower-case.
    const Tokenizer hashed(message);
    QCOMPARE(hashed.ids().size(), tokens.size());
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        QCOMPARE(hashed.ids().at(i), Scan::TokenStore::tokenId(tokens.at(i)));
        QCOMPARE(tokens.at(i), tokens.at(i).toLower());
    }
    for (const QString &t : present)
        QVERIFY2(tokens.contains(t), qPrintable(u"missing "_s + t + u" in "_s + tokens.join(u" | "_s)));
    for (const QString &t : absent)
        QVERIFY2(!tokens.contains(t), qPrintable(u"unexpected "_s + t));
    // Decoding without the values the tokenizer ignores gives the same tokens.
    QCOMPARE(Tokenizer::tokens(MimeText::decode(raw, &Tokenizer::ignoresValue), Tokenizer::lastReceived(raw)), tokens);
}

void tst_Tokenizer::bounded()
{
    // Far more distinct words than a message may give, after the headers.
    QByteArray body;
    for (int i = 0; i < 20000; ++i)
        body += "Word" + QByteArray::number(i) + ' ';
    QByteArray headers = "Subject: Lastly\r\n";
    for (int i = 0; i < 100; ++i)
        headers += "X-Many: " + QByteArray::number(i) + "\r\nTo: " + QByteArray(400, 'a') + "\r\n";
    const QStringList tokens = Tokenizer::tokens(MimeText::decode(headers + "\r\n" + body));
    QCOMPARE(tokens.size(), Tokenizer::MaxTokens);
    QVERIFY(tokens.contains(u"subject:lastly"_s)); // headers come first
    QCOMPARE(QSet<QString>(tokens.cbegin(), tokens.cend()).size(), tokens.size());
    for (const QString &t : tokens) {
        QCOMPARE(t, t.toLower());
        QVERIFY2(t.size() <= 60, qPrintable(t));
    }
}

QTEST_GUILESS_MAIN(tst_Tokenizer)
#include "tst_tokenizer.moc"
