// Decoded text: what the rules see besides the raw text. Encoded words in
// several charsets, transfer encodings (a quoted-printable soft line break
// inside a keyword), nested parts, HTML reduced to its visible text, and
// broken input that must neither crash nor lose text the raw form shows.

#include "mail/htmltext.h"
#include "mail/mimetext.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using Scan::HtmlText;
using Scan::MimeText;

namespace {

QByteArray message(const QByteArray &headers, const QByteArray &body)
{
    return "From: a@example.org\r\nTo: b@example.org\r\n" + headers + "\r\n" + body;
}

QByteArray b64(const QByteArray &text) { return text.toBase64(); }

} // namespace

class tst_MimeText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void headers_data();
    void headers();
    void body_data();
    void body();
    void visibleText_data();
    void visibleText();
    void controlText();
    void hostileInputIsBounded_data();
    void hostileInputIsBounded();
};

void tst_MimeText::headers_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("from");

    QTest::newRow("plain") << "Subject: Hello there\r\nFrom: Ann <ann@example.org>\r\n"_ba << u"Hello there"_s
                           << u"Ann <ann@example.org>"_s;
    QTest::newRow("utf-8 base64") << "Subject: =?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=\r\n"_ba << u"Grüße aus Köln"_s
                                  << QString();
    QTest::newRow("latin-1 q, underscore is a space")
        << "Subject: =?iso-8859-1?Q?Gr=FC=DFe_und_Rabatt?=\r\n"_ba << u"Grüße und Rabatt"_s << QString();
    QTest::newRow("windows-1252 euro") << "Subject: =?windows-1252?Q?Nur_5_=80?=\r\n"_ba << u"Nur 5 €"_s << QString();
    QTest::newRow("koi8-r") << "Subject: =?koi8-r?B?8NLJ18XU?=\r\n"_ba << u"Привет"_s << QString();
    QTest::newRow("iso-2022-jp") << "Subject: =?ISO-2022-JP?B?GyRCJEYkOSRIGyhC?=\r\n"_ba << u"てすと"_s << QString();
    QTest::newRow("gb2312") << "Subject: =?gb2312?B?1tDOxA==?=\r\n"_ba << u"中文"_s << QString();
    // White space between two encoded words is not text: "Vi" "agra" is one word.
    QTest::newRow("adjacent words join") << "Subject: Buy =?utf-8?Q?Vi?= =?utf-8?Q?agra?= now\r\n"_ba
                                         << u"Buy Viagra now"_s << QString();
    QTest::newRow("folded") << "Subject: cheap\r\n  pills\r\n"_ba << u"cheap pills"_s << QString();
    QTest::newRow("encoded display name") << "From: =?utf-8?Q?J=C3=B6rg_M=C3=BCller?= <joerg@example.org>\r\n"_ba
                                          << QString() << u"Jörg Müller <joerg@example.org>"_s;
    // Broken forms: a word that decodes to nothing is dropped (the rules
    // still read the raw subject); the others stay as written.
    QTest::newRow("broken base64 word") << "Subject: =?utf-8?B?###?= win\r\n"_ba << u"win"_s << QString();
    QTest::newRow("unknown charset") << "Subject: =?x-nonsense?Q?abc?= def\r\n"_ba << u"abc def"_s << QString();
    QTest::newRow("unterminated word") << "Subject: =?utf-8?Q?free_money\r\n"_ba << u"=?utf-8?Q?free_money"_s
                                       << QString();
    QTest::newRow("raw utf-8") << "Subject: Grüße\r\n"_ba << u"Grüße"_s << QString();
    QTest::newRow("raw latin-1") << "Subject: Gr\xfc\xdf"
                                    "e\r\n"_ba
                                 << u"Grüße"_s << QString();
    QTest::newRow("zero-width splitter") << "Subject: =?utf-8?Q?Vi=E2=80=8Bagra?=\r\n"_ba << u"Viagra"_s << QString();
}

void tst_MimeText::headers()
{
    QFETCH(QByteArray, headers);
    QFETCH(QString, subject);
    QFETCH(QString, from);
    const QByteArray raw = headers.contains("From:") ? headers + "\r\nbody\r\n" : message(headers, "body\r\n");
    const MimeText text = MimeText::decode(raw);
    QCOMPARE(text.subject(), subject);
    if (!from.isEmpty())
        QCOMPARE(text.from(), from);
    QVERIFY(!text.truncated());
}

void tst_MimeText::body_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    QTest::newRow("qp soft break inside a keyword")
        << message("Content-Transfer-Encoding: quoted-printable\r\n", "Buy vi=\r\nagra today, caf=C3=A9 =3D ok\r\n")
        << QStringList{u"Buy viagra today"_s, u"café = ok"_s} << QStringList{u"=\r\n"_s, u"=C3"_s};
    QTest::newRow("qp with LF line ends")
        << "Subject: x\nContent-Transfer-Encoding: quoted-printable\n\nlo=\nttery win=\nner\n"_ba
        << QStringList{u"lottery winner"_s} << QStringList{};
    QTest::newRow("base64 body") << message(
        "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n",
        b64("Cheap watches, günstig") + "\r\n")
                                 << QStringList{u"Cheap watches, günstig"_s} << QStringList{};
    QTest::newRow("base64 koi8-r") << message(
        "Content-Type: text/plain; charset=koi8-r\r\nContent-Transfer-Encoding: base64\r\n",
        b64("\xf0\xd2\xc9\xd7\xc5\xd4") + "\r\n")
                                   << QStringList{u"Привет"_s} << QStringList{};
    QTest::newRow("8bit windows-1251") << message("Content-Type: text/plain; charset=\"windows-1251\"\r\n",
                                                  "\xcf\xf0\xe8\xe2\xe5\xf2\r\n")
                                       << QStringList{u"Привет"_s} << QStringList{};
    const QByteArray nested =
        "--outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n"
        "--inner\r\nContent-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "plain fr=\r\nee offer\r\n"
        "--inner\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        + b64("<p>html <b>pa</b>rt &euro;</p>")
        + "\r\n--inner--\r\n"
          "--outer\r\nContent-Type: message/rfc822\r\n\r\n"
          "Subject: =?utf-8?Q?forwarded_=C3=BC?=\r\n\r\ninner message text\r\n"
          "--outer\r\nContent-Type: application/octet-stream; name=x.exe\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        + b64("MZ binary secret") + "\r\n--outer--\r\n";
    QTest::newRow("nested multiparts") << message(
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"outer\"\r\n",
        nested) << QStringList{u"plain free offer"_s, u"html part €"_s, u"forwarded ü"_s, u"inner message text"_s}
                                       << QStringList{u"binary secret"_s, u"<b>"_s};
    QTest::newRow("html part") << message("Content-Type: text/html\r\n",
                                          "<html><head><title>T</title><style>p{color:red}</style></head><body>"
                                          "<p>Fr<!-- x -->ee &amp; cheap</p><script>var hidden=1;</script>"
                                          "V<b></b>ia&#103;&#x72;a<br>n&eacute;xt</body></html>\r\n")
                               << QStringList{u"Free & cheap"_s, u"Viagra\nnéxt"_s}
                               << QStringList{u"hidden"_s, u"color"_s, u"<p>"_s};
    QTest::newRow("html labelled plain") << message(
        "", "<HTML><BODY><FONT size=3>Make <B>money</B> fast</FONT></BODY></HTML>\r\n")
                                         << QStringList{u"Make money fast"_s} << QStringList{u"FONT"_s};
    QTest::newRow("no content type is plain text")
        << message("", "a < b and <tag> stays\r\n") << QStringList{u"a < b and <tag> stays"_s} << QStringList{};
    // Broken input: never a crash, and what can be read is kept.
    QTest::newRow("broken base64") << message("Content-Transfer-Encoding: base64\r\n",
                                              "!!!*** not base64 ***@@@\r\n" + b64("tail text"))
                                   << QStringList{} << QStringList{};
    QTest::newRow("broken qp escapes") << message("Content-Transfer-Encoding: quoted-printable\r\n",
                                                  "price =ZZ 100% =4\r\n")
                                       << QStringList{u"price =ZZ 100% =4"_s} << QStringList{};
    QTest::newRow("unknown body charset") << message("Content-Type: text/plain; charset=x-nonsense\r\n", "gr\xfc\xdf"
                                                                                                         "e\r\n")
                                          << QStringList{u"grüße"_s} << QStringList{};
    QTest::newRow("unclosed multipart") << message("Content-Type: multipart/mixed; boundary=b\r\n",
                                                   "--b\r\nContent-Type: text/plain\r\n\r\nlast words")
                                        << QStringList{u"last words"_s} << QStringList{};
    QTest::newRow("boundary never seen") << message("Content-Type: multipart/mixed; boundary=zzz\r\n",
                                                    "just some text\r\n")
                                         << QStringList{} << QStringList{};
    QTest::newRow("no header block") << "just text, no headers\r\n"_ba << QStringList{} << QStringList{};
    QTest::newRow("empty") << QByteArray() << QStringList{} << QStringList{};
    QTest::newRow("nul and controls") << message("", QByteArray("be\0fore\x01\x7f after\r\n", 17))
                                      << QStringList{u"before"_s} << QStringList{};
}

void tst_MimeText::body()
{
    QFETCH(QByteArray, raw);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    const MimeText text = MimeText::decode(raw);
    const QString body = text.bodyText();
    for (const QString &s : present)
        QVERIFY2(body.contains(s), qPrintable(u"missing \""_s + s + u"\" in: "_s + body));
    for (const QString &s : absent)
        QVERIFY2(!body.contains(s), qPrintable(u"unexpected \""_s + s + u"\" in: "_s + body));
}

void tst_MimeText::visibleText_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("links");

    QTest::newRow("tags and blocks") << u"<p>one</p><p>two <i>three</i></p><table><tr><td>a</td><td>b</td></tr>"_s
                                     << u"one\ntwo three\na b"_s << QStringList{};
    QTest::newRow("white space collapses")
        << u"  many \r\n\t spaces&nbsp;here  "_s << u"many spaces here"_s << QStringList{};
    QTest::newRow("references") << u"&lt;b&gt; &quot;&amp;&quot; &#65;&#x42;&#X43; &euro;&copy;&hellip; &#150;"_s
                                << u"<b> \"&\" ABC €©… –"_s << QStringList{};
    QTest::newRow("unknown and bare ampersands")
        << u"AT&T &bogus; & &#; &#xZZ;"_s << u"AT&T &bogus; & &#; &#xZZ;"_s << QStringList{};
    QTest::newRow("invalid code points") << u"a&#0;b&#xD800;c&#99999999;d"_s << u"a\uFFFDb\uFFFDc\uFFFDd"_s
                                         << QStringList{};
    QTest::newRow("comment splits nothing") << u"Vi<!-- junk -->ag<!---->ra"_s << u"Viagra"_s << QStringList{};
    QTest::newRow("unterminated comment hides the rest") << u"seen<!-- never closed"_s << u"seen"_s << QStringList{};
    QTest::newRow("script and style dropped")
        << u"a<script type=x>if (a<b) x='</p>';</SCRIPT>b<style>p{}</style>c"_s << u"a b c"_s << QStringList{};
    QTest::newRow("quoted > inside an attribute") << u"<a title=\"x>y\" href='http://e.example/?a=1&amp;b=2'>go</a>"_s
                                                  << u"go"_s << QStringList{u"http://e.example/?a=1&b=2"_s};
    QTest::newRow("links") << u"<img src=http://img.example/x.gif><A HREF = \"http://spam.example\">x</A>"_s << u"x"_s
                           << QStringList{u"http://img.example/x.gif"_s, u"http://spam.example"_s};
    QTest::newRow("not a tag") << u"1 < 2 and 3 <> 4, <3"_s << u"1 < 2 and 3 <> 4, <3"_s << QStringList{};
    QTest::newRow("doctype and processing") << u"<!DOCTYPE html><?xml x?>text"_s << u"text"_s << QStringList{};
    QTest::newRow("unterminated tag") << u"before<a href=\"x"_s << u"before"_s << QStringList{u"x"_s};
    QTest::newRow("soft hyphen and zero width") << u"Vi&shy;ag&#8203;ra"_s << u"Viagra"_s << QStringList{};
}

void tst_MimeText::visibleText()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    QFETCH(QStringList, links);
    QStringList found;
    QCOMPARE(HtmlText::visibleText(html, &found), text);
    QCOMPARE(found, links);
}

void tst_MimeText::controlText()
{
    // The control's header block ends in a lone CR and the body is apart;
    // both are one character per byte.
    const QString headers = u"Subject: =?utf-8?Q?F=C3=BCr_dich?=\r\nContent-Type: text/plain; charset=utf-8\r\n"
                            "Content-Transfer-Encoding: quoted-printable\r"_s;
    const QString body = u"gr=C3=BC=\r\nn \u00c3\u00a9\r\nline 2\r\n"_s;
    const MimeText text = MimeText::decodeControlText(headers, body);
    QCOMPARE(text.subject(), u"Für dich"_s);
    QCOMPARE(text.bodyText(), u"grün é\nline 2\n"_s);
}

void tst_MimeText::hostileInputIsBounded_data()
{
    QTest::addColumn<QByteArray>("raw");

    QByteArray deep = "Subject: deep\r\n";
    for (int i = 0; i < 2000; ++i)
        deep += "Content-Type: multipart/mixed; boundary=b" + QByteArray::number(i) + "\r\n\r\n--b"
                + QByteArray::number(i) + "\r\n";
    deep += "Content-Type: text/plain\r\n\r\nbottom\r\n";
    QTest::newRow("2000 nested multiparts") << deep;

    QByteArray wide = "Content-Type: multipart/mixed; boundary=w\r\n\r\n";
    for (int i = 0; i < 5000; ++i)
        wide += "--w\r\nContent-Type: text/plain\r\n\r\npart " + QByteArray::number(i) + "\r\n";
    QTest::newRow("5000 parts") << wide;

    QByteArray headers;
    for (int i = 0; i < 5000; ++i)
        headers += "X-H" + QByteArray::number(i) + ": " + QByteArray(3000, 'v') + "\r\n";
    QTest::newRow("5000 long headers") << headers + "\r\nbody";

    QByteArray forwarded = "Subject: fw\r\n";
    for (int i = 0; i < 1000; ++i)
        forwarded += "Content-Type: message/rfc822\r\n\r\nSubject: level " + QByteArray::number(i) + "\r\n";
    QTest::newRow("1000 forwarded messages") << forwarded + "\r\ninnermost";

    QTest::newRow("20 MB of text") << message("", QByteArray(20 * 1024 * 1024, 'x'));
}

void tst_MimeText::hostileInputIsBounded()
{
    QFETCH(QByteArray, raw);
    const MimeText text = MimeText::decode(raw);
    QVERIFY(text.truncated());
    QVERIFY(text.parts().size() <= MimeText::MaxParts);
    QVERIFY(text.headers().size() <= MimeText::MaxHeaders);
    qsizetype chars = 0;
    for (const QString &t : text.texts())
        chars += t.size();
    QVERIFY(chars <= MimeText::MaxTextChars);
    for (const MimeText::Header &h : text.headers())
        QVERIFY(h.value.size() <= MimeText::MaxHeaderChars);
}

QTEST_GUILESS_MAIN(tst_MimeText)
#include "tst_mimetext.moc"
