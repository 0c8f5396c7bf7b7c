// The whitelist import from the desktop address book: through the real
// address-book library reading vCard folders, through the Import button of a
// started program, and through a scripted library that logs every call.

#include "config/listtable.h"
#include "platform/messagebox/messagebox.h"
#include "tests/ui/uitestsupport.h"
#include "ui/addressbookimport.h"
#include "ui/frmmain.h"
#include "ui/frmstart.h"

#include <QDir>
#include <QLibrary>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using ResetFn = void (*)(int32_t, int32_t, int32_t);
using SetEntryFn = void (*)(int32_t, const char *, int32_t, const char *, int32_t);
using LogFn = const char *(*)();

QStringList rowsOf(const ListTable *table)
{
    QStringList rows;
    for (int row = 1; row <= table->rowCountValue(); ++row)
        rows.append(table->rowCells(row).join(u','));
    return rows;
}

QStringList messageTexts()
{
    QStringList texts;
    for (const MessageBox::Record &record : MessageBox::records()) {
        // Every message of the import is a plain notice with the default title.
        if (record.title != QString() && record.title != MessageBox::defaultTitle())
            texts.append(u"<title "_s + record.title + u'>');
        if (record.buttons != MessageBox::OkOnly)
            texts.append(u"<buttons>"_s);
        texts.append(record.text);
    }
    return texts;
}

QByteArray card(const QByteArray &name, const QByteArray &email)
{
    QByteArray text = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\n";
    if (!email.isEmpty())
        text += "EMAIL;TYPE=INTERNET:" + email + "\r\n";
    return text + "END:VCARD\r\n";
}

// One scripted entry; a null QByteArray means the property cannot be read.
struct FakeEntry
{
    QByteArray name;
    QByteArray email;
};

} // namespace

Q_DECLARE_METATYPE(QList<FakeEntry>)

class tst_AddressBookImport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void realLibrary_data();
    void realLibrary();
    void importButtonFindsTheLibraryBesideTheProgram();
    void missingLibrary();
    void scriptedLibrary_data();
    void scriptedLibrary();

private:
    void startForm(frmMain &form);

    std::unique_ptr<QTemporaryDir> m_dir;
    QLibrary m_fake;
    ResetFn m_reset = nullptr;
    SetEntryFn m_setEntry = nullptr;
    LogFn m_log = nullptr;
};

void tst_AddressBookImport::initTestCase()
{
    MessageBox::setTestMode(true);
    m_fake.setFileName(QStringLiteral(QUELLMAIL_FAKE_KWAB));
    QVERIFY2(m_fake.load(), qPrintable(m_fake.errorString()));
    m_reset = reinterpret_cast<ResetFn>(m_fake.resolve("fakeKWabReset"));
    m_setEntry = reinterpret_cast<SetEntryFn>(m_fake.resolve("fakeKWabSetEntry"));
    m_log = reinterpret_cast<LogFn>(m_fake.resolve("fakeKWabLog"));
    QVERIFY(m_reset && m_setEntry && m_log);
}

void tst_AddressBookImport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // A saved account, so the first-account dialog stays shut.
    UiTest::writeBytes(m_dir->filePath(u"accounts.dat"_s), "mail.example.org,alice,pw\r\n");
    UiTest::writeBytes(m_dir->filePath(u"whitelist.dat"_s), "friend@x.example\r\n");
    MessageBox::clearRecords();
}

void tst_AddressBookImport::cleanup() { qunsetenv("KWAB_CONTACTS_DIR"); }

void tst_AddressBookImport::startForm(frmMain &form)
{
    form.runLoadSequence();
    QCOMPARE(rowsOf(form.gridwhitelist()), QStringList{u"friend@x.example"_s});
    QCOMPARE(form.txtwhitelistCount()->text(), u"1"_s);
    MessageBox::clearRecords();
}

void tst_AddressBookImport::realLibrary_data()
{
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<QByteArray>("cards");
    QTest::addColumn<int>("imports");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("addedRows");

    QTest::newRow("no address book") << false << QByteArray() << 1 << QStringList{u"Unable to open the system wab"_s}
                                     << QStringList();
    QTest::newRow("empty address book") << true << QByteArray() << 1 << QStringList{u"Number of entries: 0"_s}
                                        << QStringList();
    const QByteArray three =
        card("Ann Example", "ann@a.example") + card("Bob", "bob@b.example") + card("Cy", "cy@c.example");
    const QStringList threeRows{u"ann@a.example"_s, u"bob@b.example"_s, u"cy@c.example"_s};
    QTest::newRow("three entries in the book's order")
        << true << three << 1 << QStringList{u"Number of entries: 3"_s} << threeRows;
    QTest::newRow("importing twice doubles the rows")
        << true << three << 2 << QStringList{u"Number of entries: 3"_s, u"Number of entries: 3"_s}
        << threeRows + threeRows;
    QTest::newRow("entry without an address")
        << true << card("Ann", "ann@a.example") + card("No Mail", {}) << 1 << QStringList{u"Number of entries: 2"_s}
        << QStringList{u"ann@a.example"_s, u" <email address not found>"_s};
    QTest::newRow("non-ASCII address") << true
                                       << card("Jos\xc3\xa9", "jos\xc3\xa9@b\xc3\xbc"
                                                              "cher.example")
                                       << 1 << QStringList{u"Number of entries: 1"_s}
                                       << QStringList{u"jos\u00e9@b\u00fccher.example"_s};
}

void tst_AddressBookImport::realLibrary()
{
    QFETCH(bool, folderExists);
    QFETCH(QByteArray, cards);
    QFETCH(int, imports);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, addedRows);

    const QString contacts = m_dir->filePath(u"contacts"_s);
    if (folderExists) {
        QVERIFY(QDir().mkpath(contacts));
        if (!cards.isEmpty())
            UiTest::writeBytes(contacts + u"/people.vcf"_s, cards);
    }
    qputenv("KWAB_CONTACTS_DIR", QFile::encodeName(contacts));

    frmMain form(m_dir->path());
    startForm(form);
    for (int i = 0; i < imports; ++i)
        ImportAddressBook(form, addressBookLibraryPath(QStringLiteral(QUELLMAIL_BIN_DIR)));

    QCOMPARE(messageTexts(), messages);
    QCOMPARE(rowsOf(form.gridwhitelist()), QStringList{u"friend@x.example"_s} + addedRows);
    QCOMPARE(form.txtwhitelistCount()->text(), QString::number(1 + addedRows.size()));
    // In memory only until Save Settings.
    QCOMPARE(UiTest::readBytes(m_dir->filePath(u"whitelist.dat"_s)), QByteArray("friend@x.example\r\n"));
}

void tst_AddressBookImport::importButtonFindsTheLibraryBesideTheProgram()
{
    QVERIFY(QFile::link(QStringLiteral(QUELLMAIL_BIN_DIR "/libkwab.so"), m_dir->filePath(u"libkwab.so"_s)));
    const QString contacts = m_dir->filePath(u"contacts"_s);
    QVERIFY(QDir().mkpath(contacts));
    UiTest::writeBytes(contacts + u"/a.vcf"_s, card("Ann", "ann@a.example"));
    UiTest::writeBytes(contacts + u"/b.vcf"_s, card("Bob", "bob@b.example"));
    qputenv("KWAB_CONTACTS_DIR", QFile::encodeName(contacts));

    frmStart start(m_dir->path());
    start.Form_Load();
    frmMain &form = start.mainWindow();
    MessageBox::clearRecords();
    QTest::mouseClick(form.findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);
    QCOMPARE(messageTexts(), QStringList{u"Number of entries: 2"_s});
    QCOMPARE(rowsOf(form.gridwhitelist()),
             (QStringList{u"friend@x.example"_s, u"ann@a.example"_s, u"bob@b.example"_s}));
    QCOMPARE(form.txtwhitelistCount()->text(), u"3"_s);
}

void tst_AddressBookImport::missingLibrary()
{
    frmMain form(m_dir->path());
    startForm(form);
    // The program's folder has no library: the same answer as no address book.
    ImportAddressBook(form, addressBookLibraryPath(m_dir->path()));
    // A file that is no library is no address book either.
    UiTest::writeBytes(m_dir->filePath(u"libbroken.so"_s), "not a library");
    ImportAddressBook(form, m_dir->filePath(u"libbroken.so"_s));
    QCOMPARE(messageTexts(), (QStringList{u"Unable to open the system wab"_s, u"Unable to open the system wab"_s}));
    QCOMPARE(rowsOf(form.gridwhitelist()), QStringList{u"friend@x.example"_s});
    QCOMPARE(form.txtwhitelistCount()->text(), u"1"_s);
}

void tst_AddressBookImport::scriptedLibrary_data()
{
    QTest::addColumn<int>("openResult");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("filled");
    QTest::addColumn<QList<FakeEntry>>("entries");
    QTest::addColumn<QString>("calls");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("addedRows");

    const QByteArray none; // null: the property cannot be read
    const QList<FakeEntry> abc{{"A", "a@x.example"}, {"B", "b@x.example"}, {"C", "c@x.example"}};

    QTest::newRow("open refused: no further call, not even close")
        << 0 << 3 << 3 << abc << u"open"_s << QStringList{u"Unable to open the system wab"_s} << QStringList();
    QTest::newRow("empty book: close is still called") << 1 << 0 << 0 << QList<FakeEntry>() << u"open;num;close"_s
                                                       << QStringList{u"Number of entries: 0"_s} << QStringList();
    QTest::newRow("a negative count is no entries") << 1 << -4 << 0 << QList<FakeEntry>() << u"open;num;close"_s
                                                    << QStringList{u"Number of entries: -4"_s} << QStringList();
    QTest::newRow("three entries")
        << 1 << 3 << 3 << abc
        << u"open;num;entries(3);name(1001);email(1001);name(1002);email(1002);name(1003);email(1003);"
           "free(1001,3);close"_s
        << QStringList{u"Number of entries: 3"_s} << QStringList{u"a@x.example"_s, u"b@x.example"_s, u"c@x.example"_s};
    QTest::newRow("unreadable name: one message, the import goes on")
        << 1 << 3 << 3 << QList<FakeEntry>{{"A", "a@x.example"}, {none, "b@x.example"}, {"C", "c@x.example"}}
        << u"open;num;entries(3);name(1001);email(1001);name(1002);name(1003);email(1003);free(1001,3);close"_s
        << QStringList{u"Number of entries: 3"_s, u"Error getting entry #2"_s}
        << QStringList{u"a@x.example"_s, u"c@x.example"_s};
    QTest::newRow("every name unreadable")
        << 1 << 2 << 2 << QList<FakeEntry>{{none, "a@x.example"}, {none, none}}
        << u"open;num;entries(2);name(1001);name(1002);free(1001,2);close"_s
        << QStringList{u"Number of entries: 2"_s, u"Error getting entry #1"_s, u"Error getting entry #2"_s}
        << QStringList();
    QTest::newRow("no address") << 1 << 1 << 1 << QList<FakeEntry>{{"A", none}}
                                << u"open;num;entries(1);name(1001);email(1001);free(1001,1);close"_s
                                << QStringList{u"Number of entries: 1"_s}
                                << QStringList{u" <email address not found>"_s};
    QTest::newRow("fewer filled than counted: free gets the count")
        << 1 << 3 << 2 << abc
        << u"open;num;entries(3);name(1001);email(1001);name(1002);email(1002);free(1001,3);close"_s
        << QStringList{u"Number of entries: 3"_s} << QStringList{u"a@x.example"_s, u"b@x.example"_s};
    QTest::newRow("none filled: nothing to free") << 1 << 3 << 0 << abc << u"open;num;entries(3);close"_s
                                                  << QStringList{u"Number of entries: 3"_s} << QStringList();
    QTest::newRow("more filled than room: only the given slots are read")
        << 1 << 2 << 9 << abc
        << u"open;num;entries(2);name(1001);email(1001);name(1002);email(1002);free(1001,2);close"_s
        << QStringList{u"Number of entries: 2"_s} << QStringList{u"a@x.example"_s, u"b@x.example"_s};
    QTest::newRow("odd bytes from the library")
        << 1 << 4 << 4
        << QList<FakeEntry>{{"A", QByteArray("a@x.example\0junk", 16)},
                            {"B", "m\xfcller@x.example"},    // Latin-1, not UTF-8
                            {"C", "c@x.example\r\nFN:evil"}, // a line break would split the row
                            {"D", QByteArray(300, 'd')}}     // longer than the buffer
        << u"open;num;entries(4);name(1001);email(1001);name(1002);email(1002);name(1003);email(1003);"
           "name(1004);email(1004);free(1001,4);close"_s
        << QStringList{u"Number of entries: 4"_s}
        << QStringList{u"a@x.example"_s, u"m\u00fcller@x.example"_s, u"c@x.example  FN:evil"_s, QString(255, u'd')};
}

void tst_AddressBookImport::scriptedLibrary()
{
    QFETCH(int, openResult);
    QFETCH(int, count);
    QFETCH(int, filled);
    QFETCH(QList<FakeEntry>, entries);
    QFETCH(QString, calls);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, addedRows);

    m_reset(openResult, count, filled);
    for (int i = 0; i < entries.size(); ++i) {
        const FakeEntry &entry = entries.at(i);
        m_setEntry(i + 1, entry.name.isNull() ? nullptr : entry.name.constData(), int32_t(entry.name.size()),
                   entry.email.isNull() ? nullptr : entry.email.constData(), int32_t(entry.email.size()));
    }

    frmMain form(m_dir->path());
    startForm(form);
    ImportAddressBook(form, QStringLiteral(QUELLMAIL_FAKE_KWAB));

    // The log also names any wrong handle, buffer length, reserved value or
    // a buffer that was not cleared before a call.
    QCOMPARE(QString::fromLatin1(m_log()), calls);
    QCOMPARE(messageTexts(), messages);
    QCOMPARE(rowsOf(form.gridwhitelist()), QStringList{u"friend@x.example"_s} + addedRows);
    QCOMPARE(form.txtwhitelistCount()->text(), QString::number(1 + addedRows.size()));
}

QTEST_MAIN(tst_AddressBookImport)
#include "tst_addressbookimport.moc"
