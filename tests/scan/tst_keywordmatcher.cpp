// The multi-entry matcher must give the scan exactly the first entry that
// containsEntry() would have found, entry by entry; the texts it searches are
// upper-cased exactly as QString does it. The one-pass test for text that may
// read differently decoded answers as a search for each mark did.

#include "scan/decodedmessage.h"
#include "scan/keywordmatcher.h"
#include "scan/servertext.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Qt::StringLiterals;
using Scan::KeywordMatcher;

namespace {

int naiveFirst(const QStringList &entries, const QString &text)
{
    for (int k = 0; k < entries.size(); ++k) {
        if (Scan::containsEntry(text, entries.at(k)))
            return k;
    }
    return KeywordMatcher::NoMatch;
}

// The decoded check as a case-insensitive search per mark, then a walk over
// every "charset" value.
bool searchPerMark(QStringView text)
{
    for (const QString &mark : {u"=?"_s, u"quoted-printable"_s, u"base64"_s, u"text/html"_s}) {
        if (text.contains(mark, Qt::CaseInsensitive))
            return true;
    }
    const QStringList raw = {u"us-ascii"_s, u"ascii"_s, u"utf-8"_s, u"utf8"_s, u"iso-8859-1"_s, u"latin1"_s};
    const QString name = u"charset"_s;
    for (qsizetype at = text.indexOf(name, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(name, at + name.size(), Qt::CaseInsensitive)) {
        qsizetype i = at + name.size();
        while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t'))
            ++i;
        if (i >= text.size() || text.at(i) != u'=')
            continue;
        ++i;
        while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t' || text.at(i) == u'"'))
            ++i;
        qsizetype end = i;
        while (end < text.size()
               && (text.at(end).isLetterOrNumber() || text.at(end) == u'-' || text.at(end) == u'_'
                   || text.at(end) == u'.' || text.at(end) == u':'))
            ++end;
        const QStringView value = text.mid(i, end - i);
        if (!value.isEmpty() && std::none_of(raw.cbegin(), raw.cend(), [&](const QString &r) {
                return value.compare(r, Qt::CaseInsensitive) == 0;
            }))
            return true;
    }
    return false;
}

// Text of words, some of them pieces of the marks in random case, with the
// characters that fold onto ASCII letters and a few other non-ASCII ones.
QString generatedText(QRandomGenerator &random, int words)
{
    static const QStringList pieces = {u"=?"_s,
                                       u"="_s,
                                       u"?"_s,
                                       u"quoted-"_s,
                                       u"printable"_s,
                                       u"quoted-printable"_s,
                                       u"base"_s,
                                       u"64"_s,
                                       u"base64"_s,
                                       u"text/"_s,
                                       u"html"_s,
                                       u"text/html"_s,
                                       u"charset"_s,
                                       u"charset="_s,
                                       u"utf-8"_s,
                                       u"koi8-r"_s,
                                       u"\"us-ascii\""_s,
                                       u" \t"_s,
                                       u"iso-8859-1"_s,
                                       u"windows-1252"_s,
                                       u"Latin1"_s,
                                       u"\u212A"_s,
                                       u"\u017F"_s,
                                       u"\u0130\u0131\u00DF"_s,
                                       u"\r\n"_s,
                                       u"mail"_s,
                                       u"\u00E9t\u00E9"_s,
                                       u"utf8:"_s,
                                       u"c"_s,
                                       u"t"_s};
    QString text;
    for (int w = 0; w < words; ++w) {
        QString piece = pieces.at(random.bounded(int(pieces.size())));
        for (QChar &c : piece) {
            if (random.bounded(3) == 0)
                c = c.toUpper();
        }
        text += piece;
        if (random.bounded(4) == 0)
            text += u' ';
    }
    return text;
}

} // namespace

class tst_KeywordMatcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstMatch_data();
    void firstMatch();
    void agreesWithEntryByEntry();
    void largeListAgrees();
    void rebuildForgetsOldEntries();
    void upperCasedIsToUpper();
    void bodyInPiecesAgrees_data();
    void bodyInPiecesAgrees();
    void mayReadDifferentlyAgrees_data();
    void mayReadDifferentlyAgrees();
};

void tst_KeywordMatcher::firstMatch_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    const int none = KeywordMatcher::NoMatch;
    QTest::newRow("no entries") << QStringList{} << u"TEXT"_s << none;
    QTest::newRow("absent") << QStringList{u"VIAGRA"_s} << u"HELLO WORLD"_s << none;
    QTest::newRow("lowest index wins, not first position")
        << QStringList{u"LATE"_s, u"EARLY"_s} << u"EARLY THEN LATE"_s << 0;
    QTest::newRow("second entry only") << QStringList{u"ZZZ"_s, u"WORLD"_s} << u"HELLO WORLD"_s << 1;
    // Found only through a fail link: "ABCE" ends inside the failed "ABCD" path.
    QTest::newRow("suffix of a failed path") << QStringList{u"ABCD"_s, u"BCE"_s} << u"XABCEX"_s << 1;
    QTest::newRow("entry inside another") << QStringList{u"SHE"_s, u"HE"_s, u"HERS"_s} << u"USHERS"_s << 0;
    QTest::newRow("shorter inside longer, lower index") << QStringList{u"LONGWORD"_s, u"WORD"_s} << u"A WORD"_s << 1;
    QTest::newRow("overlapping repeats") << QStringList{u"AAB"_s} << u"AAAAAB"_s << 0;
    QTest::newRow("duplicate entries") << QStringList{u"X"_s, u"DUP"_s, u"DUP"_s} << u"DUP"_s << 1;
    QTest::newRow("whole text") << QStringList{u"ALL"_s} << u"ALL"_s << 0;
    QTest::newRow("longer than text") << QStringList{u"TOOLONG"_s} << u"TOO"_s << none;
    QTest::newRow("empty entry, text") << QStringList{u"ABSENT"_s, QString()} << u"X"_s << 1;
    QTest::newRow("empty entry after a hit") << QStringList{u"X"_s, QString()} << u"X"_s << 0;
    QTest::newRow("empty entry, empty text") << QStringList{QString()} << QString() << none;
    QTest::newRow("non-ASCII") << QStringList{u"\u00dcBER"_s, u"\u041b\u041e\u0422"_s}
                               << u"\u0417\u0410\u041b\u041e\u0422"_s << 1;
    QTest::newRow("surrogate pair") << QStringList{u"\U0001F600"_s} << u"HI \U0001F600!"_s << 0;
    QTest::newRow("half a surrogate pair") << QStringList{QString(QChar(0xDE00))} << u"HI \U0001F600!"_s << 0;
    QTest::newRow("case is not folded here") << QStringList{u"ABC"_s} << u"abc"_s << none;
    // A long text is walked in four runs: an entry across the start of each
    // quarter, or only as long as the run's lead, is still found.
    const qsizetype quarter = 2048;
    for (int q = 1; q < 4; ++q) {
        for (int offset : {-5, -4, -1, 0, 1}) {
            QString text(4 * quarter + 3, u'A');
            text.replace(q * quarter + offset, 5, u"BCDEF"_s);
            QTest::addRow("long text, entry at quarter %d %+d", q, offset)
                << QStringList{u"CDEFG"_s, u"BCDEF"_s, u"ZZ"_s} << text << 1;
        }
    }
    QString tail(4 * quarter, u'A');
    tail.replace(tail.size() - 3, 3, u"XYZ"_s);
    QTest::newRow("long text, entry at its very end") << QStringList{u"XYZ"_s} << tail << 0;
    QTest::newRow("long text, entry longer than a quarter")
        << QStringList{QString(quarter + 10, u'A') + u'B'} << QString(4 * quarter, u'A') + u'B' << 0;
    QTest::newRow("long text, absent") << QStringList{u"AB"_s} << QString(4 * quarter, u'A') << none;
}

void tst_KeywordMatcher::firstMatch()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(naiveFirst(entries, text), expected); // the table itself is right
    const KeywordMatcher matcher(entries);
    QCOMPARE(matcher.firstMatch(text), expected);
}

void tst_KeywordMatcher::agreesWithEntryByEntry()
{
    // Small alphabets make overlaps, shared prefixes and fail chains common;
    // the non-ASCII letters take the path beside the ASCII table.
    QRandomGenerator random(20261207);
    const QString alphabet = u"AB\u00C4C\u0416"_s;
    auto word = [&](int minLength, int maxLength, int letters) {
        QString w;
        const int length = random.bounded(minLength, maxLength + 1);
        for (int i = 0; i < length; ++i)
            w += alphabet.at(random.bounded(letters));
        return w;
    };
    for (int round = 0; round < 400; ++round) {
        const int letters = 2 + round % 4;
        QStringList entries;
        const int count = random.bounded(1, 40);
        for (int i = 0; i < count; ++i)
            entries << word(round % 7 == 0 ? 0 : 1, 6, letters);
        const KeywordMatcher matcher(entries);
        for (int t = 0; t < 10; ++t) {
            // Now and then long enough to be walked in runs.
            const QString text = t == 0 && round % 10 == 0 ? word(4000, 9000, letters) : word(0, 60, letters);
            QCOMPARE_EQ(matcher.firstMatch(text), naiveFirst(entries, text));
        }
    }
}

void tst_KeywordMatcher::largeListAgrees()
{
    // Thousands of trie nodes: too many for the ASCII table, so every
    // character walks the trie and its fail links.
    QRandomGenerator random(7);
    QStringList entries;
    for (int i = 0; i < 1500; ++i) {
        QString w;
        for (int n = random.bounded(4, 9); n > 0; --n)
            w += QChar(u'A' + random.bounded(6));
        entries << w;
    }
    const KeywordMatcher matcher(entries);
    for (int t = 0; t < 200; ++t) {
        QString text;
        for (int n = random.bounded(0, 80); n > 0; --n)
            text += QChar(u'A' + random.bounded(7));
        QCOMPARE_EQ(matcher.firstMatch(text), naiveFirst(entries, text));
    }
}

void tst_KeywordMatcher::rebuildForgetsOldEntries()
{
    KeywordMatcher matcher(QStringList{u"OLD"_s});
    QCOMPARE(matcher.firstMatch(u"AN OLD TEXT"_s), 0);
    matcher.build(QStringList{u"NEW"_s, u"TEXT"_s});
    QCOMPARE(matcher.size(), 2);
    QCOMPARE(matcher.firstMatch(u"AN OLD TEXT"_s), 1);
    matcher.build({});
    QCOMPARE(matcher.firstMatch(u"AN OLD TEXT"_s), KeywordMatcher::NoMatch);
}

void tst_KeywordMatcher::upperCasedIsToUpper()
{
    // The quick ASCII path and Unicode's rules (which may lengthen the text) agree.
    const QStringList texts{u""_s,
                            u"plain ascii, [brackets] {and} `marks` @ z a"_s,
                            u"Stra\u00DFe f\u00FCr \u00FF"_s,
                            u"ends in \u00DF"_s,
                            u"\u00E9t\u00E9"_s,
                            u"\u0131 dotless, \uFB00 ligature, \U0001D41A math"_s};
    for (const QString &text : texts)
        QCOMPARE(Scan::upperCased(text), text.toUpper());
    for (char16_t c = 0; c < 0x80; ++c)
        QCOMPARE(Scan::upperCased(QString(QChar(c))), QString(QChar(c)).toUpper());
}

void tst_KeywordMatcher::bodyInPiecesAgrees_data()
{
    // Server bytes, the entries, the piece size (small, so that pieces are cut
    // inside sequences, entries and case expansions), the expected entry.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<int>("expected");
    const int none = KeywordMatcher::NoMatch;
    QTest::newRow("ASCII, entry across a cut")
        << QByteArray("aaaaaaaxyzbbbbbbbbbbb") << QStringList{u"XYZ"_s} << 8 << 0;
    QTest::newRow("ASCII, absent") << QByteArray("aaaaaaaxyzbbbbbbbbbbb") << QStringList{u"XZY"_s} << 8 << none;
    QTest::newRow("small body held whole") << QByteArray("aaaaaaaxyzbbbb") << QStringList{u"XYZ"_s} << 1024 << 0;
    QTest::newRow("UTF-8 cut inside sequences")
        << QByteArray("\xc3\xa9\xc3\xa9\xc3\xa9\xe2\x82\xac\xe2\x82\xac \xc5\x82\xc3\xb3"
                      "d\xc5\xba \xf0\x9f\x98\x80 end")
        << QStringList{u"\U0001F600 END"_s, u"\u0141\u00d3D\u0179"_s} << 8 << 0;
    QTest::newRow("UTF-8 lower entry wins") << QByteArray("\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 world")
                                            << QStringList{u"WORLD"_s, u"\u041f\u0420\u0418"_s} << 9 << 0;
    QTest::newRow("sharp s expands across a cut") << QByteArray("xxxxxxstra\xc3\x9f"
                                                                "exxxx")
                                                  << QStringList{u"STRASSE"_s} << 8 << 0;
    QTest::newRow("Latin-1 text") << QByteArray("caf\xe9 cr\xe8me br\xfbl\xe9"
                                                "e")
                                  << QStringList{u"CR\u00c8ME"_s} << 8 << 0;
    QTest::newRow("truncated sequence at the end")
        << QByteArray("caf\xc3\xa9 au lait \xc3") << QStringList{u"CAF\u00c9"_s, u"CAF\u00c3\u00a9"_s} << 8 << 1;
    QTest::newRow("surrogate is not UTF-8")
        << QByteArray("xxxxxxxx\xed\xa0\x80yyyyyyyy") << QStringList{u"\u00cd\u00a0"_s} << 8 << 0;
    QTest::newRow("five continuation bytes")
        << QByteArray("abcdefg\xc3\xa9\xa9\xa9\xa9\xa9hij") << QStringList{u"\u00c3\u00a9\u00a9"_s} << 8 << 0;
    QTest::newRow("leading BOM is dropped")
        << QByteArray("\xef\xbb\xbfhello world, h\xc3\xa9llo") << QStringList{u"\uFEFF"_s, u"HELLO"_s} << 8 << 1;
    QTest::newRow("empty entry") << QByteArray("nothing to see here at all") << QStringList{u"ABSENT"_s, QString()} << 8
                                 << 1;
    QTest::newRow("entry longer than a piece") << QByteArray("a long entry is longer than any piece, and here")
                                               << QStringList{u"ENTRY IS LONGER THAN ANY PIECE"_s} << 8 << 0;
}

void tst_KeywordMatcher::bodyInPiecesAgrees()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, entries);
    QFETCH(int, pieceSize);
    QFETCH(int, expected);

    const QString raw = QString::fromLatin1(bytes);
    const QString whole = Scan::upperCased(Scan::decodeServerText(raw));
    const KeywordMatcher matcher(entries);
    const Scan::ServerBody body(raw, pieceSize);
    QCOMPARE(matcher.firstMatch(whole), expected);
    QCOMPARE(body.firstMatch(matcher, entries), expected);
    for (const QString &entry : std::as_const(entries))
        QCOMPARE(body.contains(entry), Scan::containsEntry(whole, entry));
    QVERIFY(!Scan::ServerBody().contains(QString()));
}

void tst_KeywordMatcher::mayReadDifferentlyAgrees_data()
{
    // Texts and what the check says of each (-1: only that it agrees with
    // the search per mark).
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("expected");
    const auto one = [](const char16_t *text, int expected) {
        QTest::newRow(QString::fromUtf16(text).toUtf8().constData())
            << QStringList{QString::fromUtf16(text)} << expected;
    };
    one(u"", 0);
    one(u"Plain text, charset=utf-8 and nothing else.", 0);
    one(u"Subject: =?utf-8?B?SGk=?=", 1);
    one(u"a = ? b ends in =", 0);
    one(u"ends in =?", 1);
    one(u"Content-Transfer-Encoding: QUOTED-Printable", 1);
    one(u"quoted-printabl", 0);
    one(u"BaSe64", 1);
    one(u"Content-Type: TEXT/HTML", 1);
    one(u"text/htm", 0);
    one(u"Content-Type: text/plain; charset=\"KOI8-R\"", 1);
    one(u"charset = \t\"us-ascii\"", 0);
    one(u"CHARSET=ISO-8859-1; charset=windows-1252", 1);
    one(u"charset=", 0);
    one(u"charset", 0);
    one(u"charset:koi8-r", 0);
    one(u"charsetcharset=koi8-r", 1);
    one(u"charset=utf-8x", 1);
    one(u"charset=utf8:", 1);
    one(u"charset=\u00E9", 1);
    one(u"ba\u017Fe64", 1);
    one(u"chars\u0435t=koi8-r", 0); // a Cyrillic e folds to nothing ASCII
    one(u"char\u017Fet=koi8-r", 1);
    one(u"quoted-printable\u212A", 1);

    QRandomGenerator random(20261208);
    for (int round = 0; round < 40; ++round) {
        QStringList texts;
        for (int t = 0; t < 50; ++t)
            texts << generatedText(random, random.bounded(1, 12));
        QTest::addRow("generated, round %d", round) << texts << -1;
    }
    // Every character that folds at all, and all of Latin-1, in place of
    // each letter of each mark.
    QStringList texts;
    for (const QString &mark : {u"=?"_s, u"quoted-printable"_s, u"base64"_s, u"text/html"_s, u"charset=koi8"_s}) {
        for (char32_t c = 0; c <= 0xFFFF; ++c) {
            const QChar ch(char16_t(c), 0);
            if (c >= 0x100 && ch.toCaseFolded() == ch)
                continue;
            for (qsizetype i = 0; i < mark.size(); ++i)
                texts << QString(mark).replace(i, 1, ch);
        }
    }
    QTest::newRow("folding characters inside the marks") << texts << -1;
    // A large body: the answer comes from its last line.
    const QString body = QString(u"plain line of text\r\n"_s).repeated(50000);
    QTest::newRow("large bodies") << QStringList{body, body + u"charset=koi8-r"_s, body + u"BASE64"_s} << -1;
}

void tst_KeywordMatcher::mayReadDifferentlyAgrees()
{
    QFETCH(QStringList, texts);
    QFETCH(int, expected);
    for (const QString &text : std::as_const(texts)) {
        const bool oracle = searchPerMark(text);
        if (expected >= 0)
            QCOMPARE(oracle, bool(expected)); // the row itself is right
        QVERIFY2(Scan::DecodedMessage::mayReadDifferently(text) == oracle,
                 qPrintable(u"%1 on \"%2\""_s.arg(oracle).arg(text)));
    }
}

QTEST_APPLESS_MAIN(tst_KeywordMatcher)
#include "tst_keywordmatcher.moc"
