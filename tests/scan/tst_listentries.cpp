// What the scan keeps between messages: the lists upper-cased (read again
// after any edit), their matcher, and the scanned total (shown in batches,
// never lost).

#include "config/listtable.h"
#include "scan/headlessform.h"
#include "scan/listentries.h"
#include "scan/servertext.h"
#include "scan/spamarchive.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

struct Listed
{
    QString entry; // as written; null when no entry matched
    bool decoded = false;
    bool operator==(const Listed &o) const { return entry == o.entry && decoded == o.decoded; }
};

struct Row
{
    QString entry;
    QString upper;
};

QList<Row> rowsOf(const ListTable &table)
{
    QList<Row> rows;
    for (int row = 1; row <= table.rows(); ++row)
        rows.append({table.cell(row, 1), table.cell(row, 1).toUpper()});
    return rows;
}

// The sender lists as the scan compared them entry by entry: every row of the
// table in order, blank ones skipped, the raw sender first and then the
// decoded one; the first entry in list order is the one reported.
Listed plainLoop(const QList<Row> &rows, const QString &rawUpper, const QString &decodedUpper)
{
    for (const bool decoded : {false, true}) {
        const QString &from = decoded ? decodedUpper : rawUpper;
        if (decoded && (from.isEmpty() || from == rawUpper))
            break;
        for (const Row &row : rows) {
            if (!row.entry.trimmed().isEmpty() && Scan::containsEntry(from, row.upper))
                return {row.entry, decoded};
        }
    }
    return {};
}

// The same through the matcher, as the scan does it now.
Listed throughMatcher(Scan::ListEntries &entries, const QString &rawUpper, const QString &decodedUpper)
{
    int k = entries.matcher().firstMatch(rawUpper);
    if (k != Scan::KeywordMatcher::NoMatch)
        return {entries.entry(k), false};
    if (decodedUpper.isEmpty() || decodedUpper == rawUpper)
        return {};
    k = entries.matcher().firstMatch(decodedUpper);
    return k == Scan::KeywordMatcher::NoMatch ? Listed{} : Listed{entries.entry(k), true};
}

enum class Lists { Overlapping, Unicode, Blank, Headers };

// Senders as headers show them: display names plain, quoted, in other
// scripts or as encoded words (raw) beside their decoded form.
struct Sender
{
    QString raw;
    QString decoded;
};

Sender headerSender(QRandomGenerator &random)
{
    static const QStringList names{u"John Doe"_s,
                                   u"\"Doe, John\""_s,
                                   u"J\u00fcrgen Gro\u00df"_s,
                                   u"\u0418\u0432\u0430\u043d \u041f\u0435\u0442\u0440\u043e\u0432"_s,
                                   u"\u674e\u96f7"_s,
                                   u"\u0130stanbul \u0131\u015f"_s,
                                   u"Stra\u00dfe \ufb00"_s,
                                   u"Team \U0001F600"_s,
                                   QString()};
    static const QStringList locals{u"info"_s, u"john.doe"_s, u"news-letter"_s, u"noreply"_s, u"x"_s, u"offers2026"_s};
    static const QStringList domains{u"mail.example.org"_s,      u"example.com"_s,      u"b\u00fccher.example"_s,
                                     u"xn--bcher-kva.example"_s, u"spam.example.net"_s, u"ex.ample"_s};
    const QString name = names.at(random.bounded(int(names.size())));
    const QString address =
        locals.at(random.bounded(int(locals.size()))) + u'@' + domains.at(random.bounded(int(domains.size())));
    if (name.isEmpty())
        return {address, QString()};
    const QString decoded = name + u" <"_s + address + u'>';
    if (random.bounded(3) == 0) {
        const QString encoded = u"=?utf-8?B?"_s + QString::fromLatin1(name.toUtf8().toBase64()) + u"?="_s;
        return {encoded + u" <"_s + address + u'>', decoded};
    }
    return {decoded, QString()};
}

QString randomWord(QRandomGenerator &random, const QString &alphabet, int minLength, int maxLength)
{
    QString word;
    for (int n = random.bounded(minLength, maxLength + 1); n > 0; --n)
        word += alphabet.at(random.bounded(int(alphabet.size())));
    return word;
}

QString blank(QRandomGenerator &random)
{
    static const QStringList blanks{QString(), u" "_s, u"\t"_s, u"  \t "_s, u"\u3000"_s, u"\u00a0"_s};
    return blanks.at(random.bounded(int(blanks.size())));
}

} // namespace

Q_DECLARE_METATYPE(Lists)

class tst_ListEntries : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsEveryKindOfEdit_data();
    void followsEveryKindOfEdit();
    void blankEntriesTakeNoPart();
    void takesEveryRow();
    void matcherAgreesWithPlainLoop_data();
    void matcherAgreesWithPlainLoop();
    void matcherFollowsEdits();
    void scannedTotalShowsBatches();
};

void tst_ListEntries::followsEveryKindOfEdit_data()
{
    QTest::addColumn<int>("edit");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("cell changed") << 0 << QStringList{u"FIRST"_s, u"CHANGED \u00dc"_s};
    QTest::newRow("row added") << 1 << QStringList{u"FIRST"_s, u"SECOND"_s, u"ADDED"_s};
    QTest::newRow("row removed") << 2 << QStringList{u"SECOND"_s};
    QTest::newRow("all removed") << 3 << QStringList{};
}

void tst_ListEntries::followsEveryKindOfEdit()
{
    QFETCH(int, edit);
    QFETCH(QStringList, expected);
    ListTable table;
    table.appendRow({u"first"_s});
    table.appendRow({u"Second"_s});
    Scan::ListEntries entries(&table);
    QCOMPARE(entries.upper(), (QStringList{u"FIRST"_s, u"SECOND"_s}));
    const quint64 before = entries.generation();
    QCOMPARE(entries.generation(), before); // reading does not move it

    switch (edit) {
    case 0: table.setCell(2, 1, u"changed \u00fc"_s); break;
    case 1: table.appendRow({u"added"_s}); break;
    case 2: table.removeRow(1); break;
    case 3: table.removeAll(); break;
    }
    QVERIFY(entries.generation() != before);
    QCOMPARE(entries.upper(), expected);
}

void tst_ListEntries::blankEntriesTakeNoPart()
{
    ListTable table;
    const QStringList cells{u""_s, u"viagra"_s, u" "_s, u"\t"_s, u"\r"_s, u" \r\n"_s, u"\u3000"_s, u" a b "_s};
    for (const QString &cell : cells)
        table.appendRow({cell});
    Scan::ListEntries entries(&table);
    QCOMPARE(entries.upper(), (QStringList{u"VIAGRA"_s, u" A B "_s}));
    // The table keeps them as they are.
    QCOMPARE(table.rows(), int(cells.size()));
    QCOMPARE(table.cell(5, 1), u"\r"_s);
}

void tst_ListEntries::takesEveryRow()
{
    // Past 32,767 rows every row is compared.
    ListTable table;
    for (int i = 1; i <= 40000; ++i)
        table.appendRow({i == 40000 ? u"last@example.org"_s : u"n%1@example.net"_s.arg(i)});
    Scan::ListEntries entries(&table);
    QCOMPARE(entries.upper().size(), 40000);
    QCOMPARE(entries.matcher().firstMatch(u"LAST@EXAMPLE.ORG"_s), 39999);
    QCOMPARE(entries.entry(39999), u"last@example.org"_s);
}

void tst_ListEntries::matcherAgreesWithPlainLoop_data()
{
    QTest::addColumn<Lists>("kind");
    QTest::addColumn<int>("entries");
    QTest::addColumn<quint32>("seed");
    // Short entries over a few letters: overlaps, shared prefixes, one entry inside another, duplicates.
    QTest::newRow("overlapping, small lists") << Lists::Overlapping << 12 << 1u;
    QTest::newRow("overlapping, 3,000 entries (no ASCII table)") << Lists::Overlapping << 3000 << 2u;
    // Case mappings that change the length (sharp s, ligatures), dotted and dotless i, surrogate pairs.
    QTest::newRow("Unicode") << Lists::Unicode << 40 << 3u;
    QTest::newRow("Unicode, 2,000 entries") << Lists::Unicode << 2000 << 4u;
    QTest::newRow("mostly blank rows") << Lists::Blank << 60 << 5u;
    // Pieces of generated senders, each cased at random, beside entries that match nothing.
    QTest::newRow("from headers") << Lists::Headers << 50 << 6u;
    QTest::newRow("from headers, 50,000 entries") << Lists::Headers << 50000 << 7u;
}

void tst_ListEntries::matcherAgreesWithPlainLoop()
{
    QFETCH(Lists, kind);
    QFETCH(int, entries);
    QFETCH(quint32, seed);

    QRandomGenerator random(seed);
    const QString overlapping = u"ab.@"_s;
    const QString unicode = u"a\u00df\u0131i\u0130s\u017f\ufb00f\u03c3\u03c2\u00e9e\u0301\U0001F600"_s;
    const auto sender = [&]() -> Sender {
        switch (kind) {
        case Lists::Overlapping:
        case Lists::Blank:
            return {randomWord(random, overlapping, 0, 30),
                    random.bounded(4) ? QString() : randomWord(random, overlapping, 1, 30)};
        case Lists::Unicode:
            return {randomWord(random, unicode, 0, 20),
                    random.bounded(4) ? QString() : randomWord(random, unicode, 1, 20)};
        case Lists::Headers: return headerSender(random);
        }
        return {};
    };

    ListTable table;
    for (int i = 0; i < entries; ++i) {
        QString entry;
        switch (kind) {
        case Lists::Overlapping: entry = randomWord(random, overlapping, 1, 6); break;
        case Lists::Unicode: entry = randomWord(random, unicode, 1, 4); break;
        case Lists::Blank: entry = random.bounded(4) ? blank(random) : randomWord(random, overlapping, 1, 6); break;
        case Lists::Headers: {
            if (random.bounded(3) == 0) {
                entry = randomWord(random, u"qwxz0123-"_s, 6, 12); // matches nothing
                break;
            }
            const Sender s = headerSender(random);
            const QString text = s.decoded.isEmpty() || random.bounded(2) ? s.raw : s.decoded;
            const int length = random.bounded(2, 13);
            entry = text.mid(random.bounded(int(qMax<qsizetype>(1, text.size() - length + 1))), length);
            entry = random.bounded(2) ? entry.toLower() : entry;
            if (entry.trimmed().isEmpty())
                entry = blank(random);
            break;
        }
        }
        table.appendRow({entry});
    }
    Scan::ListEntries list(&table);
    const QList<Row> rows = rowsOf(table);

    QSet<QString> outcomes;
    for (int t = 0; t < 400; ++t) {
        const Sender s = sender();
        const QString raw = Scan::upperCased(s.raw);
        const QString decoded = Scan::upperCased(s.decoded);
        const Listed expected = plainLoop(rows, raw, decoded);
        const Listed got = throughMatcher(list, raw, decoded);
        QVERIFY2(got == expected, qPrintable(u"sender %1 / %2: %3 (decoded %4), not %5 (decoded %6)"_s.arg(
                                      s.raw, s.decoded, got.entry, QString::number(got.decoded), expected.entry,
                                      QString::number(expected.decoded))));
        outcomes.insert(expected.entry + (expected.decoded ? u"/decoded"_s : u"/raw"_s));
    }
    // The rows test something: not every sender comes out the same.
    QVERIFY2(outcomes.size() >= 3, qPrintable(QStringList(outcomes.values()).join(u", "_s)));
}

void tst_ListEntries::matcherFollowsEdits()
{
    ListTable table;
    table.appendRow({u"old.example"_s});
    Scan::ListEntries entries(&table);
    QCOMPARE(entries.matcher().firstMatch(u"A@OLD.EXAMPLE"_s), 0);
    table.setCell(1, 1, u"new.example"_s);
    QCOMPARE(entries.matcher().firstMatch(u"A@OLD.EXAMPLE"_s), Scan::KeywordMatcher::NoMatch);
    table.appendRow({u" "_s});
    table.appendRow({u"a@"_s});
    QCOMPARE(entries.matcher().firstMatch(u"A@OLD.EXAMPLE"_s), 1);
    QCOMPARE(entries.entry(1), u"a@"_s);
}

void tst_ListEntries::scannedTotalShowsBatches()
{
    Scan::HeadlessForm form{QString()};
    form.setBoxText(FormBox::TotalScanned, u"10"_s);
    Scan::ScannedTotal total(form, FormBox::TotalScanned);
    total.count();
    total.count();
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"10"_s); // nothing shown before the flush
    total.flush();
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"12"_s);
    total.flush();
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"12"_s); // an empty batch changes nothing
    // A hand edit between batches is the new base.
    form.setBoxText(FormBox::TotalScanned, u"100"_s);
    total.count();
    total.flush();
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"101"_s);
    // Not a number: the batch goes on from the last value written.
    form.setBoxText(FormBox::TotalScanned, u"lots"_s);
    total.count();
    total.count();
    total.count();
    total.flush();
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"104"_s);
}

QTEST_MAIN(tst_ListEntries)
#include "tst_listentries.moc"
