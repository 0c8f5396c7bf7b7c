#include "platform/addressbook/contactsource.h"
#include "platform/addressbook/vcardreader.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using Contacts = QList<VCardContact>;

// Found by argument-dependent lookup when QCOMPARE reports a difference.
char *toString(const VCardContact &contact)
{
    return qstrdup(u"[%1 | %2]"_s.arg(contact.displayName, contact.email).toUtf8().constData());
}

namespace {

const QByteArray threeCards = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Lee\r\nEMAIL:ann@example.org\r\nEND:VCARD\r\n"
                              "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bo Chen\r\nEMAIL:bo@example.org\r\nEND:VCARD\r\n"
                              "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cy Diaz\r\nEMAIL:cy@example.org\r\nEND:VCARD\r\n";

} // namespace

class TestVCardReader final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void garbageNeverCrashes_data();
    void garbageNeverCrashes();
    void everyTruncationParses();
    void folderGathersFilesInNameOrder();
    void missingFolderIsNoAddressBook();
};

void TestVCardReader::parse_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Contacts>("expected");

    QTest::newRow("3.0 CR LF") << QByteArray(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Lee\r\nEMAIL:ann@example.org\r\nEND:VCARD\r\n")
                               << Contacts{{u"Ann Lee"_s, u"ann@example.org"_s}};
    QTest::newRow("LF only, no final newline")
        << QByteArray("BEGIN:VCARD\nFN:Ann\nEMAIL:a@x.org\nEND:VCARD") << Contacts{{u"Ann"_s, u"a@x.org"_s}};
    QTest::newRow("several cards in file order") << threeCards
                                                 << Contacts{{u"Ann Lee"_s, u"ann@example.org"_s},
                                                             {u"Bo Chen"_s, u"bo@example.org"_s},
                                                             {u"Cy Diaz"_s, u"cy@example.org"_s}};
    QTest::newRow("folded with space and tab") << QByteArray(
        "BEGIN:VCARD\r\nFN:Maximilian \r\n Oberbauer\r\nEMAIL:max.ober\r\n\tbauer@example.org\r\nEND:VCARD\r\n")
                                               << Contacts{{u"Maximilian Oberbauer"_s, u"max.oberbauer@example.org"_s}};
    QTest::newRow("folded property name")
        << QByteArray("BEGIN:VCARD\nFN:X\nEMA\n IL;TYPE=home:x@y.org\nEND:VCARD\n") << Contacts{{u"X"_s, u"x@y.org"_s}};
    QTest::newRow("parameters and group prefix")
        << QByteArray("BEGIN:VCARD\nVERSION:3.0\nitem1.FN:Dee\nitem1.EMAIL;type=INTERNET;type=pref:dee@example.org\n"
                      "item1.X-ABLabel:_$!<Work>!$_\nEND:VCARD\n")
        << Contacts{{u"Dee"_s, u"dee@example.org"_s}};
    QTest::newRow("quoted parameter with colon")
        << QByteArray("BEGIN:VCARD\nVERSION:4.0\nFN:Eve\nEMAIL;LABEL=\"a:b;c\";PREF=1:eve@example.org\nEND:VCARD\n")
        << Contacts{{u"Eve"_s, u"eve@example.org"_s}};
    QTest::newRow("names in any case") << QByteArray(
        "begin:vcard\nfn:Flo\nEmail;Type=work:flo@example.org\nend:VCard\n")
                                       << Contacts{{u"Flo"_s, u"flo@example.org"_s}};
    QTest::newRow("first non-empty EMAIL wins")
        << QByteArray("BEGIN:VCARD\nFN:Gus\nEMAIL:\nEMAIL;TYPE=work:gus@work.org\nEMAIL:gus@home.org\nEND:VCARD\n")
        << Contacts{{u"Gus"_s, u"gus@work.org"_s}};
    QTest::newRow("4.0 mailto value") << QByteArray(
        "BEGIN:VCARD\nVERSION:4.0\nFN:Hal\nEMAIL;VALUE=uri:mailto:hal@example.org\nEND:VCARD\n")
                                      << Contacts{{u"Hal"_s, u"hal@example.org"_s}};
    QTest::newRow("N when FN is missing")
        << QByteArray("BEGIN:VCARD\nVERSION:2.1\nN:Doe;John;Q.;Dr.;Jr.\nEMAIL:jd@example.org\nEND:VCARD\n")
        << Contacts{{u"Dr. John Q. Doe Jr."_s, u"jd@example.org"_s}};
    QTest::newRow("N with escaped semicolon") << QByteArray("BEGIN:VCARD\nN:Smith\\; Jones;Ann;;;\nEND:VCARD\n")
                                              << Contacts{{u"Ann Smith; Jones"_s, QString()}};
    QTest::newRow("ORG, then address as name")
        << QByteArray("BEGIN:VCARD\nORG:Acme;Sales\nEMAIL:sales@acme.example\nEND:VCARD\n"
                      "BEGIN:VCARD\nEMAIL:nobody@example.org\nEND:VCARD\n")
        << Contacts{{u"Acme"_s, u"sales@acme.example"_s}, {u"nobody@example.org"_s, u"nobody@example.org"_s}};
    QTest::newRow("card without EMAIL kept")
        << QByteArray("BEGIN:VCARD\nFN:Ivy\nTEL:+1 555 0100\nEND:VCARD\n") << Contacts{{u"Ivy"_s, QString()}};
    QTest::newRow("card with nothing to show dropped")
        << QByteArray("BEGIN:VCARD\nTEL:123\nEND:VCARD\nBEGIN:VCARD\nEND:VCARD\n") << Contacts{};
    QTest::newRow("escaped comma in FN") << QByteArray("BEGIN:VCARD\nVERSION:3.0\nFN:Lee\\, Ann\nEND:VCARD\n")
                                         << Contacts{{u"Lee, Ann"_s, QString()}};
    QTest::newRow("UTF-8") << QByteArray(
        "BEGIN:VCARD\nFN:J\xC3\xBCrgen M\xC3\xBCller\nEMAIL:jm@example.de\nEND:VCARD\n")
                           << Contacts{{u"J\u00FCrgen M\u00FCller"_s, u"jm@example.de"_s}};
    QTest::newRow("invalid UTF-8 read as Latin-1")
        << QByteArray("BEGIN:VCARD\nFN:J\xFCrgen\nEND:VCARD\n") << Contacts{{u"J\u00FCrgen"_s, QString()}};
    QTest::newRow("value cut inside a UTF-8 sequence keeps the byte")
        << QByteArray("BEGIN:VCARD\nFN:Caf\xC3\nEND:VCARD\nBEGIN:VCARD\nFN;CHARSET=UTF-8:Bo\xC3\nEND:VCARD\n")
        << Contacts{{u"Caf\u00C3"_s, QString()}, {u"Bo\u00C3"_s, QString()}};
    QTest::newRow("2.1 quoted-printable with soft breaks") << QByteArray(
        "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:J=C3=BCrgen =\r\nM=C3=BC=\r\nller\r\n"
        "EMAIL;INTERNET;QUOTED-PRINTABLE:j=3Dm@example.de\r\nEND:VCARD\r\n")
                                                           << Contacts{
                                                                  {u"J\u00FCrgen M\u00FCller"_s, u"j=m@example.de"_s}};
    QTest::newRow("2.1 base64 value") << QByteArray("BEGIN:VCARD\nVERSION:2.1\nFN;ENCODING=BASE64:S2Fp\nEND:VCARD\n")
                                      << Contacts{{u"Kai"_s, QString()}};
    QTest::newRow("nested agent card does not leak")
        << QByteArray("BEGIN:VCARD\nVERSION:2.1\nFN:Boss\nAGENT:\nBEGIN:VCARD\nFN:Assistant\nEMAIL:asst@example.org\n"
                      "END:VCARD\nEMAIL:boss@example.org\nEND:VCARD\n")
        << Contacts{{u"Boss"_s, u"boss@example.org"_s}};
    QTest::newRow("properties outside cards ignored")
        << QByteArray("FN:Stray\nEMAIL:stray@example.org\nBEGIN:VCARD\nFN:Liv\nEND:VCARD\nFN:After\n")
        << Contacts{{u"Liv"_s, QString()}};
    QTest::newRow("unterminated last card kept")
        << QByteArray("BEGIN:VCARD\nFN:Mo\nEMAIL:mo@example.org\n") << Contacts{{u"Mo"_s, u"mo@example.org"_s}};
    QTest::newRow("BEGIN of something else") << QByteArray("BEGIN:VCALENDAR\nSUMMARY:x\nEND:VCALENDAR\n") << Contacts{};
    QTest::newRow("not a vCard") << QByteArray("Dear diary,\nnothing: here\n") << Contacts{};
    QTest::newRow("empty") << QByteArray() << Contacts{};
}

void TestVCardReader::parse()
{
    QFETCH(QByteArray, input);
    QFETCH(Contacts, expected);
    QCOMPARE(VCardReader::parse(input), expected);
}

void TestVCardReader::garbageNeverCrashes_data()
{
    QTest::addColumn<QByteArray>("input");
    QRandomGenerator random(20240611);
    for (int round = 0; round < 40; ++round) {
        QByteArray bytes(int(random.bounded(1, 4000)), Qt::Uninitialized);
        for (char &c : bytes)
            c = char(random.bounded(256));
        // Salt some rows with the syntax the reader reacts to.
        if (round % 2)
            bytes.insert(int(random.bounded(int(bytes.size()))), "\nBEGIN:VCARD\nFN;QUOTED-PRINTABLE:=\n=4");
        QTest::newRow(qPrintable(u"random %1"_s.arg(round))) << bytes;
    }
    QTest::newRow("png header") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    QTest::newRow("only colons and quotes") << QByteArray("\":\"\n:\n;:\n\"\"\"\n").repeated(50);
    QTest::newRow("lone soft break at end") << QByteArray("BEGIN:VCARD\nFN;QUOTED-PRINTABLE:abc=");
    QTest::newRow("deep nesting") << QByteArray("BEGIN:VCARD\n").repeated(1000);
    QTest::newRow("long folded line") << "BEGIN:VCARD\nFN:" + QByteArray("\n x").repeated(20000) + "\nEND:VCARD\n";
    QTest::newRow("long soft-broken line")
        << "BEGIN:VCARD\nFN;ENCODING=QUOTED-PRINTABLE:" + QByteArray("=41=\n").repeated(20000) + "\nEND:VCARD\n";
}

void TestVCardReader::garbageNeverCrashes()
{
    QFETCH(QByteArray, input);
    const Contacts contacts = VCardReader::parse(input);
    for (const VCardContact &c : contacts)
        QVERIFY(!c.displayName.isEmpty());
}

// A file cut at any byte gives at most the cards it started, in order.
void TestVCardReader::everyTruncationParses()
{
    const Contacts whole = VCardReader::parse(threeCards);
    QCOMPARE(whole.size(), 3);
    for (qsizetype cut = 0; cut <= threeCards.size(); ++cut) {
        const Contacts part = VCardReader::parse(threeCards.left(cut));
        QVERIFY(part.size() <= 3);
        for (qsizetype i = 0; i + 1 < part.size(); ++i)
            QCOMPARE(part.at(i), whole.at(i));
    }
}

void TestVCardReader::folderGathersFilesInNameOrder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto write = [&](const QString &name, const QByteArray &data) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    };
    write(u"b.vcf"_s, "BEGIN:VCARD\nFN:Second\nEND:VCARD\nBEGIN:VCARD\nFN:Third\nEND:VCARD\n");
    write(u"a.VCF"_s, "BEGIN:VCARD\nFN:First\nEND:VCARD\n");
    write(u"c.txt"_s, "BEGIN:VCARD\nFN:Not a contacts file\nEND:VCARD\n");
    write(u"d.vcf"_s, QByteArray("\0\x01\x02garbage\xFF", 11));
    QVERIFY(QDir(dir.path()).mkdir(u"e.vcf"_s)); // a folder named like a file

    QTemporaryDir second;
    QFile other(second.filePath(u"z.vcf"_s));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("BEGIN:VCARD\nFN:Fourth\nEND:VCARD\n");
    other.close();

    const auto contacts = ContactSource::load({dir.path(), dir.path() + u"/absent"_s, second.path()});
    QVERIFY(contacts.has_value());
    QStringList names;
    for (const VCardContact &c : *contacts)
        names.append(c.displayName);
    QCOMPARE(names, (QStringList{u"First"_s, u"Second"_s, u"Third"_s, u"Fourth"_s}));

    qputenv("KWAB_CONTACTS_DIR", QFile::encodeName(dir.path()));
    QCOMPARE(ContactSource::folders(), QStringList{dir.path()});
    qunsetenv("KWAB_CONTACTS_DIR");
    QVERIFY(ContactSource::folders().contains(QDir::homePath() + u"/.contacts"_s));
}

void TestVCardReader::missingFolderIsNoAddressBook()
{
    QTemporaryDir dir;
    QVERIFY(!ContactSource::load({dir.path() + u"/none"_s}).has_value());
    const auto empty = ContactSource::load({dir.path()});
    QVERIFY(empty.has_value());
    QVERIFY(empty->isEmpty());
}

QTEST_GUILESS_MAIN(TestVCardReader)
#include "tst_vcardreader.moc"
