#include "platform/addressbook/kwab.h"

#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace Qt::StringLiterals;

namespace {

using OpenFn = int32_t (*)(KWabHandle *);
using NumEntriesFn = int32_t (*)(KWabHandle *);
using GetEntriesFn = int32_t (*)(KWabHandle *, uint64_t *, int32_t);
using GetPropFn = int16_t (*)(KWabHandle *, uint64_t *, uint32_t, char *, int32_t, int32_t);
using FreeEntriesFn = void (*)(KWabHandle *, uint64_t *, int32_t);
using CloseFn = void (*)(KWabHandle *);

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

QByteArray card(const QByteArray &name, const QByteArray &email = {})
{
    QByteArray text = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\n";
    if (!email.isEmpty())
        text += "EMAIL;TYPE=INTERNET:" + email + "\r\n";
    return text + "END:VCARD\r\n";
}

} // namespace

class TestKWab final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void missingFolderDoesNotOpen();
    void emptyFolder();
    void entriesInFileAndCardOrder();
    void entryWithoutAddress();
    void truncation_data();
    void truncation();
    void badArgumentsAreRefused();
    void fewerSlotsThanEntries();
    void eachOpenIsASnapshotOfItsOwn();

private:
    QString property(KWabHandle *h, uint64_t *slot, uint32_t tag, bool *ok = nullptr);

    QLibrary m_library;
    OpenFn m_open = nullptr;
    NumEntriesFn m_numEntries = nullptr;
    GetEntriesFn m_getEntries = nullptr;
    GetPropFn m_getProp = nullptr;
    FreeEntriesFn m_freeEntries = nullptr;
    CloseFn m_close = nullptr;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestKWab::initTestCase()
{
    m_library.setFileName(QStringLiteral(QUELLMAIL_BIN_DIR "/libkwab.so"));
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    m_open = reinterpret_cast<OpenFn>(m_library.resolve("kWabOpen"));
    m_numEntries = reinterpret_cast<NumEntriesFn>(m_library.resolve("kWabGetNumEntries"));
    m_getEntries = reinterpret_cast<GetEntriesFn>(m_library.resolve("kWabGetEntries"));
    m_getProp = reinterpret_cast<GetPropFn>(m_library.resolve("kWabGetProp_String"));
    m_freeEntries = reinterpret_cast<FreeEntriesFn>(m_library.resolve("kWabFreeEntries"));
    m_close = reinterpret_cast<CloseFn>(m_library.resolve("kWabClose"));
    QVERIFY(m_open && m_numEntries && m_getEntries && m_getProp && m_freeEntries && m_close);
}

void TestKWab::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("KWAB_CONTACTS_DIR", QFile::encodeName(m_dir->path()));
}

void TestKWab::cleanup()
{
    qunsetenv("KWAB_CONTACTS_DIR");
    m_dir.reset();
}

QString TestKWab::property(KWabHandle *h, uint64_t *slot, uint32_t tag, bool *ok)
{
    char buffer[256];
    std::memset(buffer, 0, sizeof buffer);
    const int16_t result = m_getProp(h, slot, tag, buffer, 256, 0);
    if (ok)
        *ok = result != 0;
    return QString::fromUtf8(buffer);
}

void TestKWab::missingFolderDoesNotOpen()
{
    qputenv("KWAB_CONTACTS_DIR", QFile::encodeName(m_dir->path() + u"/missing"_s));
    KWabHandle h{};
    QCOMPARE(m_open(&h), 0);
    QCOMPARE(m_numEntries(&h), 0);
    m_close(&h); // harmless on a book that never opened
}

void TestKWab::emptyFolder()
{
    writeFile(m_dir->filePath(u"notes.txt"_s), card("Not in a vcf file", "x@example.org"));
    KWabHandle h{};
    QVERIFY(m_open(&h) != 0);
    QCOMPARE(m_numEntries(&h), 0);
    uint64_t slot = 0;
    QCOMPARE(m_getEntries(&h, &slot, 1), 0);
    m_close(&h);
}

void TestKWab::entriesInFileAndCardOrder()
{
    writeFile(m_dir->filePath(u"b.vcf"_s), card("Carla Dorn", "carla@example.org"));
    writeFile(m_dir->filePath(u"a.vcf"_s),
              card("Anna Berg", "anna@example.org") + card("Bert Ulm", "bert@example.org"));
    writeFile(m_dir->filePath(u"junk.vcf"_s), QByteArray("\x7F"
                                                         "ELF\x02\x01\x01\0\0\0",
                                                         10));

    KWabHandle h{};
    QVERIFY(m_open(&h) != 0);
    QCOMPARE(m_numEntries(&h), 3);
    uint64_t slots[3] = {};
    QCOMPARE(m_getEntries(&h, slots, 3), 3);

    const QStringList names{u"Anna Berg"_s, u"Bert Ulm"_s, u"Carla Dorn"_s};
    const QStringList emails{u"anna@example.org"_s, u"bert@example.org"_s, u"carla@example.org"_s};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        QCOMPARE(property(&h, &slots[i], KWAB_PR_DISPLAY_NAME, &ok), names.at(i));
        QVERIFY(ok);
        QCOMPARE(property(&h, &slots[i], KWAB_PR_EMAIL_ADDRESS, &ok), emails.at(i));
        QVERIFY(ok);
    }
    m_freeEntries(&h, slots, 3);
    m_close(&h);
    const KWabHandle zero{};
    QCOMPARE(std::memcmp(&h, &zero, sizeof h), 0);
}

void TestKWab::entryWithoutAddress()
{
    writeFile(m_dir->filePath(u"c.vcf"_s), card("Phone Only"));
    KWabHandle h{};
    QVERIFY(m_open(&h) != 0);
    uint64_t slot = 0;
    QCOMPARE(m_getEntries(&h, &slot, 1), 1);
    bool ok = false;
    QCOMPARE(property(&h, &slot, KWAB_PR_DISPLAY_NAME, &ok), u"Phone Only"_s);
    QVERIFY(ok);
    QCOMPARE(property(&h, &slot, KWAB_PR_EMAIL_ADDRESS, &ok), QString());
    QVERIFY(!ok);
    QCOMPARE(property(&h, &slot, 0x3002001Eu, &ok), QString()); // a tag the book does not hold
    QVERIFY(!ok);
    m_close(&h);
}

void TestKWab::truncation_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("bufferLength");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("fits exactly") << QByteArray("Alexander") << 10 << QByteArray("Alexander");
    QTest::newRow("one short") << QByteArray("Alexander") << 9 << QByteArray("Alexande");
    QTest::newRow("cut") << QByteArray("Alexander") << 5 << QByteArray("Alex");
    QTest::newRow("room for the NUL only") << QByteArray("Alexander") << 1 << QByteArray();
    QTest::newRow("not inside a UTF-8 sequence") << QByteArray("J\xC3\xBCrgen") << 3 << QByteArray("J");
    QTest::newRow("after a UTF-8 sequence") << QByteArray("J\xC3\xBCrgen") << 4 << QByteArray("J\xC3\xBC");
}

void TestKWab::truncation()
{
    QFETCH(QByteArray, name);
    QFETCH(int, bufferLength);
    QFETCH(QByteArray, written);
    writeFile(m_dir->filePath(u"t.vcf"_s), card(name, "t@example.org"));

    KWabHandle h{};
    QVERIFY(m_open(&h) != 0);
    uint64_t slot = 0;
    QCOMPARE(m_getEntries(&h, &slot, 1), 1);
    QByteArray buffer(64, 'x');
    QVERIFY(m_getProp(&h, &slot, KWAB_PR_DISPLAY_NAME, buffer.data(), bufferLength, 0) != 0);
    QCOMPARE(QByteArray(buffer.constData()), written);
    // Nothing beyond the given length is touched.
    QCOMPARE(buffer.mid(bufferLength), QByteArray(64 - bufferLength, 'x'));
    m_close(&h);
}

void TestKWab::badArgumentsAreRefused()
{
    writeFile(m_dir->filePath(u"a.vcf"_s), card("Anna", "anna@example.org"));
    KWabHandle h{};
    QVERIFY(m_open(&h) != 0);
    uint64_t slot = 0;
    QCOMPARE(m_getEntries(&h, &slot, 1), 1);
    char buffer[16] = {};

    QCOMPARE(m_open(nullptr), 0);
    QCOMPARE(m_numEntries(nullptr), 0);
    KWabHandle zero{};
    QCOMPARE(m_numEntries(&zero), 0);
    KWabHandle forged = h;
    forged.cookie ^= 0x5A5A;
    QCOMPARE(m_numEntries(&forged), 0);
    KWabHandle outOfRange = h;
    outOfRange.session = 1000000;
    QCOMPARE(m_numEntries(&outOfRange), 0);

    QCOMPARE(m_getEntries(&h, nullptr, 1), 0);
    QCOMPARE(m_getEntries(&h, &slot, 0), 0);
    QCOMPARE(m_getEntries(&h, &slot, -5), 0);

    uint64_t bogus = 0;
    QCOMPARE(m_getProp(&h, &bogus, KWAB_PR_DISPLAY_NAME, buffer, 16, 0), 0);
    bogus = slot + 1; // one past the last entry
    QCOMPARE(m_getProp(&h, &bogus, KWAB_PR_DISPLAY_NAME, buffer, 16, 0), 0);
    bogus = ~slot;
    QCOMPARE(m_getProp(&h, &bogus, KWAB_PR_DISPLAY_NAME, buffer, 16, 0), 0);
    QCOMPARE(m_getProp(&h, nullptr, KWAB_PR_DISPLAY_NAME, buffer, 16, 0), 0);
    QCOMPARE(m_getProp(&h, &slot, KWAB_PR_DISPLAY_NAME, nullptr, 16, 0), 0);
    QCOMPARE(m_getProp(&h, &slot, KWAB_PR_DISPLAY_NAME, buffer, 0, 0), 0);
    QCOMPARE(m_getProp(&h, &slot, KWAB_PR_DISPLAY_NAME, buffer, -1, 0), 0);
    QCOMPARE(m_getProp(&zero, &slot, KWAB_PR_DISPLAY_NAME, buffer, 16, 0), 0);
    QCOMPARE(QByteArray(buffer), QByteArray());

    // After close, the handle and its entry ids are dead.
    const KWabHandle before = h;
    m_close(&h);
    KWabHandle stale = before;
    QCOMPARE(m_numEntries(&stale), 0);
    QCOMPARE(m_getProp(&stale, &slot, KWAB_PR_DISPLAY_NAME, buffer, 16, 0), 0);
    // A new book in the same table place refuses the old ids.
    KWabHandle again{};
    QVERIFY(m_open(&again) != 0);
    QCOMPARE(again.session, before.session);
    QCOMPARE(m_getProp(&again, &slot, KWAB_PR_DISPLAY_NAME, buffer, 16, 0), 0);
    m_close(&again);

    m_freeEntries(nullptr, nullptr, 3);
    m_close(nullptr);
    m_close(&stale);
}

void TestKWab::fewerSlotsThanEntries()
{
    writeFile(m_dir->filePath(u"a.vcf"_s),
              card("One", "1@example.org") + card("Two", "2@example.org") + card("Three", "3@example.org"));
    KWabHandle h{};
    QVERIFY(m_open(&h) != 0);
    uint64_t slots[4] = {0, 0, 0xDEADBEEF, 0xDEADBEEF};
    QCOMPARE(m_getEntries(&h, slots, 2), 2);
    QCOMPARE(slots[2], uint64_t(0xDEADBEEF));
    QCOMPARE(property(&h, &slots[1], KWAB_PR_DISPLAY_NAME), u"Two"_s);

    uint64_t more[5] = {0, 0, 0, 0, 0xDEADBEEF};
    QCOMPARE(m_getEntries(&h, more, 4), 3);
    QCOMPARE(more[3], uint64_t(0));
    QCOMPARE(more[4], uint64_t(0xDEADBEEF));
    QCOMPARE(property(&h, &more[2], KWAB_PR_EMAIL_ADDRESS), u"3@example.org"_s);
    m_freeEntries(&h, more, 4);
    m_close(&h);
}

void TestKWab::eachOpenIsASnapshotOfItsOwn()
{
    writeFile(m_dir->filePath(u"a.vcf"_s), card("First", "first@example.org"));
    KWabHandle one{};
    QVERIFY(m_open(&one) != 0);
    writeFile(m_dir->filePath(u"b.vcf"_s), card("Second", "second@example.org"));
    KWabHandle two{};
    QVERIFY(m_open(&two) != 0);
    QVERIFY(one.session != two.session);
    QCOMPARE(m_numEntries(&one), 1);
    QCOMPARE(m_numEntries(&two), 2);

    uint64_t slotOfOne = 0;
    QCOMPARE(m_getEntries(&one, &slotOfOne, 1), 1);
    bool ok = true;
    property(&two, &slotOfOne, KWAB_PR_DISPLAY_NAME, &ok);
    QVERIFY(!ok); // ids belong to the book that handed them out
    m_close(&one);
    QCOMPARE(m_numEntries(&two), 2);
    m_close(&two);
}

QTEST_GUILESS_MAIN(TestKWab)
#include "tst_kwab.moc"
