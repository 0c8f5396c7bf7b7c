// What the command-line scan prints when servers and files put hostile text
// in its way: every text of a result (server, login, error, sender,
// subject, entry, problems) carries it, in the text lines and in the JSON.

#include "scan/scanreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;
using Scan::AccountResult;
using Scan::ScanReport;

namespace {

// A character a terminal acts on, or that reorders or hides what it shows.
bool unsafe(char32_t c)
{
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
        return true;
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Format || category == QChar::Other_Surrogate || category == QChar::Separator_Line
           || category == QChar::Separator_Paragraph;
}

// The first unsafe character of `text` apart from the line ends it is
// allowed, as U+XXXX; empty when there is none.
QString firstUnsafe(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        if (c != u'\n' && unsafe(c))
            return u"U+%1 at %2"_s.arg(QString::number(c, 16)).arg(i);
    }
    return {};
}

QString units(std::initializer_list<char16_t> list)
{
    QString text;
    for (char16_t c : list)
        text += QChar(c);
    return text;
}

} // namespace

class tst_ScanReport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostileText_data();
    void hostileText();
    void spamListedWhateverBecameOfIt();
    void windowSummary_data();
    void windowSummary();
};

void tst_ScanReport::hostileText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");      // as one terminal line shows it
    QTest::addColumn<QString>("jsonEscape"); // found in the raw JSON in its place

    QTest::newRow("title change (OSC 0)")
        << u"\x1b]0;owned\aEve <e@x.example>"_s << u"\\x1b]0;owned\\x07Eve <e@x.example>"_s << u"\\u001b]0;owned"_s;
    QTest::newRow("clipboard write (OSC 52)")
        << u"\x1b]52;c;cm0gLXJmIH4K\x1b\\"_s << u"\\x1b]52;c;cm0gLXJmIH4K\\x1b\\"_s << u"\\u001b]52"_s;
    QTest::newRow("clear screen") << u"\x1b[2J\x1b[Hhi"_s << u"\\x1b[2J\\x1b[Hhi"_s << u"\\u001b[2J"_s;
    // Up a line and back to its start, to write a fake account line over a real one.
    QTest::newRow("cursor up forges a line") << u"x\x1b[1A\rmail.example.com alice: 0 scanned"_s
                                             << u"x\\x1b[1A mail.example.com alice: 0 scanned"_s << u"\\u001b[1A\\r"_s;
    QTest::newRow("C1 CSI and NEL") << u"a\u009b2Jb\u0085c"_s << u"a\\x9b2Jb\\x85c"_s << u"\\u009b2Jb\\u0085c"_s;
    QTest::newRow("NUL, BEL, BS, DEL") << QString::fromUtf16(u"a\0b\ac\bd\u007fe", 9) << u"a\\x00b\\x07c\\x08d\\x7fe"_s
                                       << u"d\\u007fe"_s;
    QTest::newRow("right-to-left override") << u"invoice\u202Efdp.exe"_s << u"invoice\\u202efdp.exe"_s << u"\\u202e"_s;
    QTest::newRow("zero width and isolate")
        << u"pay\u200Bpal\u2066x\u2069"_s << u"pay\\u200bpal\\u2066x\\u2069"_s << u"\\u200b"_s;
    QTest::newRow("line separator") << u"a\u2028b\u2029c"_s << u"a\\u2028b\\u2029c"_s << u"\\u2028"_s;
    QTest::newRow("format character beyond 16 bits")
        << u"tag"_s + QString::fromUcs4(U"\U000E0001") << u"tag\\U000e0001"_s << u"\\udb40\\udc01"_s;
    QTest::newRow("lone surrogate") << u"a"_s + units({0xd800}) + u"b"_s << u"a\\ud800b"_s << QString();
    QTest::newRow("line ends become blanks")
        << u"  -ERR no\r\nway\rout\nhere\tnow\r\n"_s << u"-ERR no way out here now"_s << QString();
    QTest::newRow("letters of any script stay") << u"Grüße, Ωμέγα 😀"_s << u"Grüße, Ωμέγα 😀"_s << QString();

    // Long texts end with "..." at 300 characters, escapes included, and
    // never in the middle of an escape or a character.
    QTest::newRow("a megabyte of sender") << QString(1 << 20, u'A') << QString(297, u'A') + u"..."_s << QString();
    QTest::newRow("escapes count towards the length")
        << QString(1000, u'\x1b') << QString(74 * 4, u'?').replace(u"????"_s, u"\\x1b"_s) + u"..."_s << QString();
    QString pairs;
    for (int i = 0; i < 400; ++i)
        pairs += QString::fromUcs4(U"\U0001F600");
    QTest::newRow("pairs are not split") << u"x"_s + pairs << u"x"_s + pairs.left(296) + u"..."_s << QString();
    QTest::newRow("exactly the length") << QString(300, u'b') << QString(300, u'b') << QString();
}

void tst_ScanReport::hostileText()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QString, jsonEscape);

    QCOMPARE(ScanReport::safeText(text), shown);

    // The same text wherever a result carries text.
    AccountResult ok;
    ok.server = text;
    ok.login = text;
    ok.scanned = 2;
    ok.condemned = 2;
    ok.deleted = 1;
    ok.problems = {text};
    ok.spam = {{text, text, u"keyword"_s, text, false}, {text, text, u"blacklist"_s, text, true}};
    AccountResult failed;
    failed.server = u"pop.example.org"_s;
    failed.login = text;
    failed.error = text;
    const ScanReport report(u"/home/me/qm"_s, {ok, failed}, {text, u"folder: "_s + text});

    const QString lines = report.text();
    QVERIFY2(firstUnsafe(lines).isEmpty(), qPrintable(firstUnsafe(lines)));
    const QStringList rows = lines.split(u'\n');
    QCOMPARE(rows.size(), 6); // two spam lines, two accounts, the summary, and the end of the last line
    for (const QString &row : rows)
        QVERIFY2(row.size() <= 3 * ScanReport::MaxTextLength + 100, qPrintable(row.left(400)));
    QCOMPARE(rows.at(0), ScanReport::safeText(u"Spam from"_s + text));
    QCOMPARE(rows.at(1), ScanReport::safeText(u"Held for review: "_s + text));
    QVERIFY(rows.at(2).endsWith(u": 2 scanned, 2 condemned, 1 deleted, 1 problem"_s));
    QCOMPARE(rows.at(3), u"pop.example.org "_s + shown + u": failed: "_s + shown);
    QCOMPARE(rows.at(4), u"2 accounts, 1 failed: 2 scanned, 2 condemned, 1 deleted"_s);
    QCOMPARE(report.problemsText(), shown + u'\n' + ScanReport::safeText(u"folder: "_s + text) + u'\n');

    const QString json = report.json();
    QVERIFY2(firstUnsafe(json).isEmpty(), qPrintable(firstUnsafe(json)));
    if (!jsonEscape.isEmpty())
        QVERIFY2(json.contains(jsonEscape), qPrintable(json.left(2000)));
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(json.toUtf8(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    // JSON keeps the text itself, only cut to length (and without a broken
    // surrogate, which UTF-8 cannot carry).
    const QString kept = QJsonDocument::fromJson(QJsonDocument(QJsonObject{{u"t"_s, text.trimmed()}}).toJson())
                             .object()
                             .value(u"t"_s)
                             .toString();
    const QJsonObject first = root.value(u"accounts"_s).toArray().at(0).toObject();
    const QString login = first.value(u"login"_s).toString();
    if (kept.size() <= ScanReport::MaxTextLength) {
        QCOMPARE(login, kept);
    } else {
        QVERIFY(login.size() <= ScanReport::MaxTextLength);
        QVERIFY(login.endsWith(u"..."_s));
        QVERIFY(kept.startsWith(login.chopped(3)));
    }
    const QJsonObject verdict = first.value(u"verdicts"_s).toArray().at(1).toObject();
    QCOMPARE(verdict.value(u"from"_s).toString(), login);
    QCOMPARE(verdict.value(u"subject"_s).toString(), login);
    QCOMPARE(verdict.value(u"held"_s).toBool(), true);
    QCOMPARE(first.value(u"problems"_s).toArray(), QJsonArray{login});
    QCOMPARE(root.value(u"accounts"_s).toArray().at(1).toObject().value(u"error"_s).toString(), login);
    QCOMPARE(root.value(u"problems"_s).toArray().size(), 2);

    const QString summary = ScanReport::windowSummary({ok, failed}, {text, u"folder: "_s + text});
    QVERIFY2(firstUnsafe(summary).isEmpty(), qPrintable(firstUnsafe(summary)));
    QVERIFY2(summary.startsWith(u"1 account failed: pop.example.org ("_s), qPrintable(summary.left(400)));
}

// Every verdict is listed, held or not, and a deleted one reads as the
// window's box did.
void tst_ScanReport::spamListedWhateverBecameOfIt()
{
    AccountResult r;
    r.server = u"mail.example.com"_s;
    r.login = u"alice"_s;
    r.scanned = 3;
    r.condemned = 2;
    r.deleted = 1;
    r.spam = {{u"Spammer <x@spam.example>"_s, u"Offer"_s, u"blacklist"_s, u"spam.example"_s, false},
              {u"Bot <b@bulk.example>"_s, u"Win"_s, u"learned filter"_s, u"0.998"_s, true}};
    const ScanReport report(u"/home/me/qm"_s, {r}, {});
    QCOMPARE(report.text(), u"Spam fromSpammer <x@spam.example>\n"
                            "Held for review: Bot <b@bulk.example>\n"
                            "mail.example.com alice: 3 scanned, 2 condemned, 1 deleted\n"
                            "1 account, 0 failed: 3 scanned, 2 condemned, 1 deleted\n"_s);
    QCOMPARE(report.problemsText(), QString());
    const QJsonObject root = QJsonDocument::fromJson(report.json().toUtf8()).object();
    const QJsonObject account = root.value(u"accounts"_s).toArray().at(0).toObject();
    QCOMPARE(account.value(u"spam"_s).toArray(),
             (QJsonArray{u"Spam fromSpammer <x@spam.example>"_s, u"Held for review: Bot <b@bulk.example>"_s}));
    QCOMPARE(account.value(u"verdicts"_s).toArray().at(1).toObject(),
             (QJsonObject{{u"from"_s, u"Bot <b@bulk.example>"_s},
                          {u"subject"_s, u"Win"_s},
                          {u"rule"_s, u"learned filter"_s},
                          {u"entry"_s, u"0.998"_s},
                          {u"held"_s, true}}));
    QCOMPARE(root.value(u"problems"_s).toArray(), QJsonArray());
}

void tst_ScanReport::windowSummary_data()
{
    // Accounts as "server|login|error|problem;problem"; an empty error is an account scanned.
    QTest::addColumn<QStringList>("accounts");
    QTest::addColumn<QStringList>("problems"); // every problem of the run, in order
    QTest::addColumn<QString>("summary");

    QTest::newRow("nothing went wrong") << QStringList{u"mail.example|alice||"_s} << QStringList() << QString();
    QTest::newRow("one account failed")
        << QStringList{u"mail.example|alice|-ERR [AUTH] Authentication failed.|mail.example (alice): x"_s,
                       u"pop.test|bob||"_s}
        << QStringList{u"mail.example (alice): x"_s}
        << u"1 account failed: mail.example (alice): -ERR [AUTH] Authentication failed"_s;
    // The first failures must not be hidden behind the last.
    QTest::newRow("every failed account named")
        << QStringList{u"mail.example|alice|wrong password.|a1"_s, u"ok.example|carol||"_s,
                       u"pop.test|bob|no answer|b1"_s, u"gone.invalid|dave|Host not found|d1"_s}
        << QStringList{u"a1"_s, u"b1"_s, u"d1"_s}
        << u"3 accounts failed: mail.example (alice): wrong password; pop.test (bob): no answer; "
           "gone.invalid (dave): Host not found"_s;
    QTest::newRow("failed accounts and other problems")
        << QStringList{u"mail.example|alice|wrong password|a1"_s, u"ok.example|carol||c1;c2"_s}
        << QStringList{u"settings: unreadable"_s, u"a1"_s, u"c1"_s, u"c2"_s}
        << u"1 account failed: mail.example (alice): wrong password; and 3 other problems, the last: c2"_s;
    QTest::newRow("a failed account and one other problem")
        << QStringList{u"mail.example|alice|wrong password|a1;a2"_s} << QStringList{u"a1"_s, u"a2"_s, u"log: full"_s}
        << u"1 account failed: mail.example (alice): wrong password; and 1 other problem: log: full"_s;
    QTest::newRow("problems without a failed account")
        << QStringList{u"ok.example|carol||c1;c2"_s} << QStringList{u"c1"_s, u"c2"_s}
        << u"2 problems in this scan; the last: c2"_s;
    QTest::newRow("one problem") << QStringList{u"ok.example|carol||c1"_s} << QStringList{u"c1"_s} << u"c1"_s;
    // A server can put anything in its error; the status line gets one safe line.
    QTest::newRow("hostile error") << QStringList{u"mail.example|al\u202Eice|-ERR no\r\nSpam from x\x1b[2J|p"_s}
                                   << QStringList{u"p"_s}
                                   << u"1 account failed: mail.example (al\\u202eice): -ERR no Spam from x\\x1b[2J"_s;
}

void tst_ScanReport::windowSummary()
{
    QFETCH(QStringList, accounts);
    QFETCH(QStringList, problems);
    QFETCH(QString, summary);
    QList<AccountResult> results;
    for (const QString &account : std::as_const(accounts)) {
        const QStringList cells = account.split(u'|');
        AccountResult r;
        r.server = cells.at(0);
        r.login = cells.at(1);
        r.error = cells.at(2);
        r.problems = cells.at(3).split(u';', Qt::SkipEmptyParts);
        results.append(r);
    }
    QCOMPARE(ScanReport::windowSummary(results, problems), summary);
    QCOMPARE(ScanReport::scanningCaption(u"pop.test"_s, u"bob"_s), u"Scanning pop.test (bob)\u2026"_s);
}

QTEST_APPLESS_MAIN(tst_ScanReport)
#include "tst_scanreport.moc"
