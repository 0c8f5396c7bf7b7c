// What the scan keeps between messages: the lists upper-cased (read again
// after any edit) and the scanned total (shown in batches, never lost).

#include "scan/listentries.h"
#include "config/listtable.h"
#include "scan/spamarchive.h"

#include <QLineEdit>
#include <QtTest>

using namespace Qt::StringLiterals;

class tst_ListEntries : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsEveryKindOfEdit_data();
    void followsEveryKindOfEdit();
    void blankEntriesTakeNoPart();
    void takesEveryRow();
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
    QCOMPARE(entries.upper().last(), u"LAST@EXAMPLE.ORG"_s);
    QCOMPARE(entries.entry(39999), u"last@example.org"_s);
}

void tst_ListEntries::scannedTotalShowsBatches()
{
    QLineEdit box(u"10"_s);
    Scan::ScannedTotal total(&box);
    total.count();
    total.count();
    QCOMPARE(box.text(), u"10"_s); // nothing shown before the flush
    total.flush();
    QCOMPARE(box.text(), u"12"_s);
    total.flush();
    QCOMPARE(box.text(), u"12"_s); // an empty batch changes nothing
    // A hand edit between batches is the new base.
    box.setText(u"100"_s);
    total.count();
    total.flush();
    QCOMPARE(box.text(), u"101"_s);
    // Not a number: the batch goes on from the last value written.
    box.setText(u"lots"_s);
    total.count();
    total.count();
    total.count();
    total.flush();
    QCOMPARE(box.text(), u"104"_s);
}

QTEST_MAIN(tst_ListEntries)
#include "tst_listentries.moc"
