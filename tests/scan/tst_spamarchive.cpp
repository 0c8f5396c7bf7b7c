// Archive file names, the totals, and how server text is compared.

#include "servertext.h"
#include "spamarchive.h"

#include <QLineEdit>
#include <QtTest>

using namespace Qt::StringLiterals;

class tst_SpamArchive : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fileNames_data();
    void fileNames();
    void raiseTotal_data();
    void raiseTotal();
    void scannedTotalGoesOnFromItsOwnValue();
    void comparison_data();
    void comparison();
};

void tst_SpamArchive::fileNames_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << u"Hello World"_s << u"Hello World.html"_s;
    QTest::newRow("empty") << QString() << u".html"_s;
    QTest::newRow("climber") << u"../../etc/passwd"_s << u".._.._etc_passwd.html"_s;
    QTest::newRow("backslash") << u"a\\b"_s << u"a_b.html"_s;
    QTest::newRow("controls") << u"a\tb\u0000c\rd\u007f"_s << u"a_b_c_d_.html"_s;
    QTest::newRow("dots only") << u".."_s << u"...html"_s;
    QTest::newRow("line end of a downloaded header") << u"Offer\r"_s << u"Offer.html"_s;
    QTest::newRow("unicode kept") << u"Gro\u00dfe \u00dcberweisung"_s << u"Gro\u00dfe \u00dcberweisung.html"_s;
}

void tst_SpamArchive::fileNames()
{
    QFETCH(QString, subject);
    QFETCH(QString, name);
    QCOMPARE(Scan::SpamArchive::fileName(subject), name);
    QCOMPARE(Scan::SpamArchive::filePath(u"/prog"_s, subject), u"/prog/SpamDeleted/"_s + name);
}

void tst_SpamArchive::raiseTotal_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("raised");
    QTest::newRow("zero") << u"0"_s << u"1"_s << true;
    QTest::newRow("blanks") << u" 41 "_s << u"42"_s << true;
    QTest::newRow("beyond 32 bits") << u"4294967296"_s << u"4294967297"_s << true;
    QTest::newRow("fraction") << u"2.6"_s << u"4"_s << true;
    QTest::newRow("text") << u"many"_s << u"many"_s << false;
    QTest::newRow("empty") << QString() << QString() << false;
}

void tst_SpamArchive::raiseTotal()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, raised);
    QLineEdit box(before);
    QCOMPARE(Scan::raiseTotal(&box), raised);
    QCOMPARE(box.text(), after);
}

void tst_SpamArchive::scannedTotalGoesOnFromItsOwnValue()
{
    QLineEdit box(u"lots"_s);
    Scan::ScannedTotal total(&box);
    total.raise();
    QCOMPARE(box.text(), u"1"_s);
    total.raise();
    QCOMPARE(box.text(), u"2"_s);
    box.setText(u"100"_s);
    total.raise();
    QCOMPARE(box.text(), u"101"_s);
}

void tst_SpamArchive::comparison_data()
{
    QTest::addColumn<QByteArray>("serverBytes");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("contains");
    QTest::newRow("ascii any case") << QByteArray("Cheap Viagra") << u"vIAGRA"_s << true;
    QTest::newRow("utf-8 word") << QByteArray("gro\xc3\x9f\xc3\xa9 \xc3\xbc" "berweisung") << u"\u00dcBERWEISUNG"_s << true;
    QTest::newRow("latin-1 bytes") << QByteArray("caf\xe9") << u"CAF\u00c9"_s << true;
    QTest::newRow("cyrillic") << QByteArray("\xd0\xbb\xd0\xbe\xd1\x82\xd0\xb5\xd1\x80\xd0\xb5\xd1\x8f") << u"\u041b\u041e\u0422\u0415\u0420\u0415\u042f"_s << true;
    QTest::newRow("empty entry, text") << QByteArray("x") << QString() << true;
    QTest::newRow("empty entry, empty text") << QByteArray() << QString() << false;
    QTest::newRow("absent") << QByteArray("hello") << u"world"_s << false;
}

void tst_SpamArchive::comparison()
{
    QFETCH(QByteArray, serverBytes);
    QFETCH(QString, entry);
    QFETCH(bool, contains);
    const QString text = Scan::decodeServerText(QString::fromLatin1(serverBytes)).toUpper();
    QCOMPARE(Scan::containsEntry(text, entry.toUpper()), contains);
}

QTEST_MAIN(tst_SpamArchive)
#include "tst_spamarchive.moc"
