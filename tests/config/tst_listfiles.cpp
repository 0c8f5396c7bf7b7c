// The list files: how they are read, what a save writes, and that a save
// never loses or corrupts what was there before.

#include "config/datafile.h"
#include "config/listloaders.h"
#include "config/listtable.h"
#include "config/statsfile.h"
#include "config/widgets/listgridview.h"
#include "config/widgets/module_update_config.h"
#include "platform/messagebox/messagebox.h"
#include "state/appsettings.h"
#include "tests/config/testform.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

QStringList tableRows(const ListTable *table)
{
    QStringList rows;
    for (int row = 1; row <= table->rowCountValue(); ++row)
        rows.append(table->rowCells(row).join(u'|'));
    return rows;
}

// The one box a failed save shows: each failed file named with a reason.
void expectSaveReport(const QStringList &paths)
{
    const QList<MessageBox::Record> records = MessageBox::records();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().title, u"Save failed."_s);
    QCOMPARE(records.first().format, Qt::PlainText);
    const QStringList lines = records.first().text.split(u"\r\n"_s);
    QCOMPARE(lines.size(), paths.size() + 2);
    QCOMPARE(lines.first(),
             paths.size() == 1 ? u"This file could not be saved:"_s : u"These files could not be saved:"_s);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString named = QDir::toNativeSeparators(paths.at(i)) + u": "_s;
        QVERIFY2(lines.at(i + 1).startsWith(named) && lines.at(i + 1).size() > named.size(),
                 qPrintable(lines.at(i + 1)));
    }
}

} // namespace

class tst_ListFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MessageBox::setTestMode(true); }
    void init() { MessageBox::clearRecords(); }
    void splitLines_data();
    void splitLines();
    void decodeFallsBackToLatin1_data();
    void decodeFallsBackToLatin1();
    void tableRowsFromOne();
    void loadAccounts_data();
    void loadAccounts();
    void loadSingleColumnLists_data();
    void loadSingleColumnLists();
    void missingFilesLeaveCountBoxes();
    void roundTripIsByteIdentical();
    void latin1FileKeepsEveryCharacter();
    void mixedLinesLoadAndSave_data();
    void mixedLinesLoadAndSave();
    void emptyListSavesZeroByteFile();
    void saveProgressMessages();
    void saveWritesOwnerOnlyAccounts();
    void failedFileKeepsOthersAndPrevious();
    void saveIntoMissingFolderIsReported();
    void editDuringSaveDoesNotMixRows();
    void plantedLinksAreNotWrittenThrough_data();
    void plantedLinksAreNotWrittenThrough();
};

void tst_ListFiles::splitLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("crlf") << u"a\r\nb\r\n"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("lone cr") << u"a\rb\r"_s << QStringList{u"a"_s, u"b"_s};
    // A lone LF ends a line too: a list written by another tool with LF
    // line ends must not become one entry that matches nothing (a whitelist
    // that silently stops protecting anyone).
    QTest::newRow("lf") << u"a\nb"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("lf, cr lf and cr mixed") << u"a\nb\r\nc\rd\n"_s << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s};
    QTest::newRow("lf cr is two line ends") << u"a\n\rb"_s << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("last line without end") << u"a\r\nb"_s << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("blank lines") << u"\r\n\r\nx\r\n"_s << QStringList{QString(), QString(), u"x"_s};
    QTest::newRow("cr cr lf") << u"a\r\r\nb"_s << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("only crlf") << u"\r\n"_s << QStringList{QString()};
}

void tst_ListFiles::splitLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(DataFile::splitLines(text), lines);
}

void tst_ListFiles::decodeFallsBackToLatin1_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QByteArray("plain") << u"plain"_s;
    QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9") << u"caf\u00e9"_s;
    QTest::newRow("latin-1") << QByteArray("caf\xe9") << u"caf\u00e9"_s;
    QTest::newRow("broken utf-8 keeps every byte") << QByteArray("\xc3\xa9\xff\x80") << u"\u00c3\u00a9\u00ff\u0080"_s;
    QTest::newRow("bad byte spoils only its line")
        << QByteArray("caf\xc3\xa9\r\n\xff\nna\xc3\xafve\r") << u"caf\u00e9\r\n\u00ff\nna\u00efve\r"_s;
    QTest::newRow("sequence cut by a line end") << QByteArray("\xc3\r\n\xc3\xa9") << u"\u00c3\r\n\u00e9"_s;
    QTest::newRow("byte order mark dropped at the start only") << QByteArray("\xef\xbb\xbf"
                                                                             "a\r\n\xef\xbb\xbf"
                                                                             "b\r\n\x80")
                                                               << u"a\r\n\ufeffb\r\n\u0080"_s;
}

void tst_ListFiles::decodeFallsBackToLatin1()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(DataFile::decode(bytes), text);
}

void tst_ListFiles::tableRowsFromOne()
{
    ListTable table;
    table.setColumnCount(3);
    table.setCaption(u" Mail Server | User Login | Password "_s);
    QCOMPARE(table.headerData(1, Qt::Horizontal).toString(), u" User Login "_s);
    table.appendRow();
    QCOMPARE(table.rowCountValue(), 1);
    QCOMPARE(table.cell(1, 1), QString());
    table.appendRow({u"a"_s, u"b"_s, u"c"_s});
    table.setCell(1, 2, u"x"_s);
    QCOMPARE(table.cell(1, 2), u"x"_s);
    QCOMPARE(table.cell(2, 3), u"c"_s);
    QCOMPARE(table.cell(3, 1), QString());
    QCOMPARE(table.cell(0, 1), QString());
    QVERIFY(!table.removeRow(0));
    QVERIFY(!table.removeRow(3));
    QCOMPARE(table.rowCountValue(), 2);
    QVERIFY(table.removeRow(1));
    QCOMPARE(table.cell(1, 1), u"a"_s);
    table.removeAll();
    QCOMPARE(table.rowCountValue(), 0);
}

void tst_ListFiles::loadAccounts_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("count");

    QTest::newRow("two accounts") << QByteArray("mail.example.org,alice,pw1\r\npop.example.net,bob,pw2\r\n")
                                  << QStringList{u"mail.example.org|alice|pw1"_s, u"pop.example.net|bob|pw2"_s}
                                  << u"2"_s;
    QTest::newRow("password with commas")
        << QByteArray("host.example,carol,a,b,,c\r\n") << QStringList{u"host.example|carol|a,b,,c"_s} << u"1"_s;
    QTest::newRow("3-character server dropped, 4 kept")
        << QByteArray("abc,u1,p1\r\nabcd,u2,p2\r\n") << QStringList{u"abcd|u2|p2"_s} << u"1"_s;
    QTest::newRow("empty line stops the load") << QByteArray("host1.example,u1,p1\r\n\r\nhost2.example,u2,p2\r\n")
                                               << QStringList{u"host1.example|u1|p1"_s} << u"1"_s;
    QTest::newRow("one comma stops the load")
        << QByteArray("host1.example,u1,p1\r\nhost2.example,u2\r\nhost3.example,u3,p3\r\n")
        << QStringList{u"host1.example|u1|p1"_s} << u"1"_s;
    QTest::newRow("empty fields kept") << QByteArray("host.example,,\r\n") << QStringList{u"host.example||"_s}
                                       << u"1"_s;
    QTest::newRow("last line without end, lone CR")
        << QByteArray("host1.example,u1,p1\rhost2.example,u2,p2")
        << QStringList{u"host1.example|u1|p1"_s, u"host2.example|u2|p2"_s} << u"2"_s;
    QTest::newRow("0-byte file keeps the count") << QByteArray() << QStringList() << u"7"_s;
    QTest::newRow("first line bad keeps the count")
        << QByteArray("\r\nhost.example,u,p\r\n") << QStringList() << u"7"_s;
}

void tst_ListFiles::loadAccounts()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, rows);
    QFETCH(QString, count);
    QTemporaryDir dir;
    writeBytes(dir.filePath(u"accounts.dat"_s), file);
    TestForm form(dir.path());
    form.gridAccounts()->appendRow({u"old.example"_s, u"x"_s, u"y"_s});
    form.txtAccountsCount()->setText(u"7"_s);
    module_accountsgrid(form);
    QCOMPARE(tableRows(form.gridAccounts()), rows);
    QCOMPARE(form.txtAccountsCount()->text(), count);
    QCOMPARE(form.gridAccounts()->columns(), 3);
    QCOMPARE(form.accountsTabShown, 1);
    QCOMPARE(form.gridAccounts()->caption(), u" Mail Server | User Login | Password "_s);
}

void tst_ListFiles::loadSingleColumnLists_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("count");
    QTest::newRow("empty line becomes a row") << QByteArray("a@x.example\r\n\r\nb@y.example\r\n")
                                              << QStringList{u"a@x.example"_s, QString(), u"b@y.example"_s} << u"3"_s;
    QTest::newRow("commas and blanks as they stand")
        << QByteArray(" spaced , text \r\n") << QStringList{u" spaced , text "_s} << u"1"_s;
    QTest::newRow("0-byte file keeps the count") << QByteArray() << QStringList() << u"7"_s;
    QTest::newRow("written with LF line ends")
        << QByteArray("a@x.example\nb@y.example\n") << QStringList{u"a@x.example"_s, u"b@y.example"_s} << u"2"_s;
    // Past the 16-bit row numbers: every line is a row, the box shows the true count.
    QByteArray longFile;
    QStringList longRows;
    for (int i = 1; i <= 40000; ++i) {
        longRows.append(u"n%1@example.net"_s.arg(i));
        longFile += longRows.last().toLatin1() + "\r\n";
    }
    QTest::newRow("40,000 lines") << longFile << longRows << u"40000"_s;
}

void tst_ListFiles::loadSingleColumnLists()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, rows);
    QFETCH(QString, count);
    const struct
    {
        const char *name;
        void (*load)(ConfigForm &);
        ListTable *(TestForm::*table)() const;
        QLineEdit *(TestForm::*box)() const;
    } lists[] = {
        {"whitelist.dat", module_whitelist, &TestForm::gridwhitelist, &TestForm::txtwhitelistCount},
        {"blacklist.dat", module_blacklist, &TestForm::gridblacklist, &TestForm::txtblacklistCount},
        {"keywords.dat", module_keywords, &TestForm::gridkeywords, &TestForm::txtkeywordsCount},
    };
    for (const auto &list : lists) {
        QTemporaryDir dir;
        writeBytes(dir.filePath(QString::fromLatin1(list.name)), file);
        TestForm form(dir.path());
        (form.*list.table)()->appendRow({u"stale"_s});
        (form.*list.box)()->setText(u"7"_s);
        list.load(form);
        QCOMPARE(tableRows((form.*list.table)()), rows);
        QCOMPARE((form.*list.box)()->text(), count);
        QCOMPARE((form.*list.table)()->columns(), 1);
    }
}

void tst_ListFiles::missingFilesLeaveCountBoxes()
{
    QTemporaryDir dir;
    TestForm form(dir.path());
    form.gridAccounts()->setColumnCount(3);
    form.gridAccounts()->appendRow({u"host.example"_s, u"u"_s, u"p"_s});
    form.gridwhitelist()->appendRow({u"w@x.example"_s});
    for (QLineEdit *box :
         {form.txtAccountsCount(), form.txtwhitelistCount(), form.txtblacklistCount(), form.txtkeywordsCount()})
        box->setText(u"4"_s);
    loadAllLists(form);
    for (const ListTable *table :
         {form.gridAccounts(), form.gridwhitelist(), form.gridblacklist(), form.gridkeywords()})
        QCOMPARE(table->rowCountValue(), 0);
    for (QLineEdit *box :
         {form.txtAccountsCount(), form.txtwhitelistCount(), form.txtblacklistCount(), form.txtkeywordsCount()})
        QCOMPARE(box->text(), u"4"_s);
    // The grids show their rows again after a load.
    QVERIFY(form.gridAccountsView()->updatesEnabled());
    QVERIFY(form.gridwhitelistView()->updatesEnabled());
}

void tst_ListFiles::roundTripIsByteIdentical()
{
    const QByteArray accounts("mail.example.org,alice,s3cr,et,\r\n"
                              "pop.b\xc3\xa4r.example,b\xc3\xb6"
                              "b,\r\n"
                              "host.example,carol,pw\r\n");
    const QByteArray whitelist("a@x.example\r\n\r\n \xe2\x82\xac-friend@y.example \r\n");
    const QByteArray blacklist("spammer.example\r\n");
    const QByteArray keywords("free money\r\nV\r\n");
    QTemporaryDir dir;
    writeBytes(dir.filePath(u"accounts.dat"_s), accounts);
    writeBytes(dir.filePath(u"whitelist.dat"_s), whitelist);
    writeBytes(dir.filePath(u"blacklist.dat"_s), blacklist);
    writeBytes(dir.filePath(u"keywords.dat"_s), keywords);
    {
        TestForm form(dir.path());
        loadAllLists(form);
        QCOMPARE(form.gridAccounts()->cell(1, 3), u"s3cr,et,"_s);
        QCOMPARE(form.gridAccounts()->cell(2, 3), QString());
        QVERIFY(module_update_config(form));
    }
    QCOMPARE(readBytes(dir.filePath(u"accounts.dat"_s)), accounts);
    QCOMPARE(readBytes(dir.filePath(u"whitelist.dat"_s)), whitelist);
    QCOMPARE(readBytes(dir.filePath(u"blacklist.dat"_s)), blacklist);
    QCOMPARE(readBytes(dir.filePath(u"keywords.dat"_s)), keywords);
    // And a second generation stays the same.
    const QByteArray stats = readBytes(dir.filePath(u"stats.dat"_s));
    {
        TestForm form(dir.path());
        loadAllLists(form);
        form.txtAccountsCount()->setText(u"3"_s);
        form.txtwhitelistCount()->setText(u"3"_s);
        form.txtblacklistCount()->setText(u"1"_s);
        form.txtkeywordsCount()->setText(u"2"_s);
        QVERIFY(module_update_config(form));
    }
    QCOMPARE(readBytes(dir.filePath(u"accounts.dat"_s)), accounts);
    QCOMPARE(readBytes(dir.filePath(u"keywords.dat"_s)), keywords);
    QCOMPARE(readBytes(dir.filePath(u"stats.dat"_s)), stats);
}

void tst_ListFiles::latin1FileKeepsEveryCharacter()
{
    QTemporaryDir dir;
    writeBytes(dir.filePath(u"keywords.dat"_s), QByteArray("gr\xfc\xdf"
                                                           "e\r\nna\xefve\r\n"));
    writeBytes(dir.filePath(u"accounts.dat"_s), QByteArray("m\xe4il.example,j\xfcrgen,p\xe4ss\r\n"));
    TestForm form(dir.path());
    loadAllLists(form);
    QCOMPARE(form.gridkeywords()->cell(1, 1), u"gr\u00fc\u00dfe"_s);
    QCOMPARE(form.gridkeywords()->cell(2, 1), u"na\u00efve"_s);
    QCOMPARE(form.gridAccounts()->rowCells(1), (QStringList{u"m\u00e4il.example"_s, u"j\u00fcrgen"_s, u"p\u00e4ss"_s}));
    QVERIFY(module_update_config(form));
    // Written back as UTF-8: the same characters, readable again.
    QCOMPARE(readBytes(dir.filePath(u"keywords.dat"_s)), QByteArray("gr\xc3\xbc\xc3\x9f"
                                                                    "e\r\nna\xc3\xafve\r\n"));
    TestForm again(dir.path());
    loadAllLists(again);
    QCOMPARE(again.gridAccounts()->rowCells(1), form.gridAccounts()->rowCells(1));
}

void tst_ListFiles::mixedLinesLoadAndSave_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("keywords, one Latin-1 line among UTF-8")
        << u"keywords.dat"_s
        << QByteArray("gr\xc3\xbc\xc3\x9f"
                      "e\r\ncaf\xe9\r\n\xe2\x82\xac-deal\r\n")
        << QStringList{u"gr\u00fc\u00dfe"_s, u"caf\u00e9"_s, u"\u20ac-deal"_s}
        << QByteArray("gr\xc3\xbc\xc3\x9f"
                      "e\r\ncaf\xc3\xa9\r\n\xe2\x82\xac-deal\r\n");
    QTest::newRow("keywords, stray continuation byte")
        << u"keywords.dat"_s << QByteArray("na\xc3\xafve\n\x80oops\n") << QStringList{u"na\u00efve"_s, u"\u0080oops"_s}
        << QByteArray("na\xc3\xafve\r\n\xc2\x80oops\r\n");
    QTest::newRow("accounts, Latin-1 password on one line")
        << u"accounts.dat"_s << QByteArray("m\xc3\xa4il.example,j\xc3\xbcrgen,pw\r\nhost.example,ann,p\xe4ss\r\n")
        << QStringList{u"m\u00e4il.example|j\u00fcrgen|pw"_s, u"host.example|ann|p\u00e4ss"_s}
        << QByteArray("m\xc3\xa4il.example,j\xc3\xbcrgen,pw\r\nhost.example,ann,p\xc3\xa4ss\r\n");
}

void tst_ListFiles::mixedLinesLoadAndSave()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, rows);
    QFETCH(QByteArray, saved);
    QTemporaryDir dir;
    writeBytes(dir.filePath(file), bytes);
    const auto tableOf = [&](const TestForm &form) {
        return file == u"keywords.dat"_s ? form.gridkeywords() : form.gridAccounts();
    };
    TestForm form(dir.path());
    loadAllLists(form);
    QCOMPARE(tableRows(tableOf(form)), rows);
    // Saved as the user sees it, and loaded back the same.
    QVERIFY(module_update_config(form));
    QCOMPARE(readBytes(dir.filePath(file)), saved);
    TestForm again(dir.path());
    loadAllLists(again);
    QCOMPARE(tableRows(tableOf(again)), rows);
}

void tst_ListFiles::emptyListSavesZeroByteFile()
{
    QTemporaryDir dir;
    writeBytes(dir.filePath(u"blacklist.dat"_s), QByteArray("old@x.example\r\n"));
    TestForm form(dir.path());
    loadAllLists(form);
    form.gridblacklist()->removeAll();
    QVERIFY(module_update_config(form));
    for (const char *name : {"accounts.dat", "whitelist.dat", "blacklist.dat", "keywords.dat"}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QVERIFY2(QFileInfo::exists(path), name);
        QCOMPARE(QFileInfo(path).size(), 0);
    }
}

void tst_ListFiles::saveProgressMessages()
{
    QTemporaryDir dir;
    TestForm form(dir.path());
    loadAllLists(form);
    form.gridAccounts()->appendRow({u"a.example"_s, u"u"_s, u"p"_s});
    form.gridAccounts()->appendRow({u"b.example"_s, u"u"_s, u"p"_s});
    form.gridwhitelist()->appendRow({u"w@x.example"_s});
    form.gridkeywords()->appendRow({u"k"_s});
    form.splashMessages.clear();
    QVERIFY(module_update_config(form));
    QCOMPARE(form.splashMessages,
             (QStringList{u"Updating configuration data."_s, u"Updating 1 accounts."_s, u"Updating 2 accounts."_s,
                          u"Updating 1 whitelist addresses."_s, u"Updating 1 keywords."_s}));
    QVERIFY(!form.splashVisible);
    QCOMPARE(readBytes(dir.filePath(u"accounts.dat"_s)), QByteArray("a.example,u,p\r\nb.example,u,p\r\n"));
}

void tst_ListFiles::saveWritesOwnerOnlyAccounts()
{
    QTemporaryDir dir;
    const QString accounts = dir.filePath(u"accounts.dat"_s);
    writeBytes(accounts, QByteArray("old.example,u,p\r\n"));
    QVERIFY(
        QFile::setPermissions(accounts, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    TestForm form(dir.path());
    loadAllLists(form);
    QVERIFY(module_update_config(form));
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QVERIFY(QFile::permissions(accounts) & ownerOnly);
    QCOMPARE(QFile::permissions(accounts) & others, QFileDevice::Permissions());
    const QString stats = dir.filePath(u"stats.dat"_s);
    QVERIFY(QFile::permissions(stats) & ownerOnly);
    QCOMPARE(QFile::permissions(stats) & others, QFileDevice::Permissions());
}

void tst_ListFiles::failedFileKeepsOthersAndPrevious()
{
    QTemporaryDir dir;
    writeBytes(dir.filePath(u"accounts.dat"_s), QByteArray("host.example,u,p\r\n"));
    writeBytes(dir.filePath(u"keywords.dat"_s), QByteArray("old\r\n"));
    // A folder where the whitelist file should be: that file cannot be replaced.
    QVERIFY(QDir(dir.path()).mkpath(u"whitelist.dat/inside"_s));
    TestForm form(dir.path());
    loadAllLists(form);
    QCOMPARE(form.gridAccounts()->rowCountValue(), 1);
    QCOMPARE(form.gridwhitelist()->rowCountValue(), 0);
    form.gridwhitelist()->appendRow({u"w@x.example"_s});
    form.gridkeywords()->appendRow({u"new"_s});
    QVERIFY(!module_update_config(form));
    expectSaveReport({dir.filePath(u"whitelist.dat"_s)});
    // The step that failed is skipped; the others still ran.
    QVERIFY(QFileInfo(dir.filePath(u"whitelist.dat"_s)).isDir());
    QVERIFY(QFileInfo::exists(dir.filePath(u"whitelist.dat/inside"_s)));
    QCOMPARE(readBytes(dir.filePath(u"keywords.dat"_s)), QByteArray("old\r\nnew\r\n"));
    QCOMPARE(readBytes(dir.filePath(u"accounts.dat"_s)), QByteArray("host.example,u,p\r\n"));
    QVERIFY(QFileInfo::exists(dir.filePath(u"stats.dat"_s)));
    // The tables are as they were, so nothing the user typed is lost.
    QCOMPARE(form.gridwhitelist()->cell(1, 1), u"w@x.example"_s);
    // No temporary files left behind.
    const QStringList entries = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(entries, (QStringList{u"accounts.dat"_s, u"blacklist.dat"_s, u"keywords.dat"_s, u"stats.dat"_s}));
}

void tst_ListFiles::saveIntoMissingFolderIsReported()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(u"gone"_s);
    TestForm form(folder);
    form.gridAccounts()->setColumnCount(3);
    form.gridAccounts()->appendRow({u"host.example"_s, u"u"_s, u"p"_s});
    QVERIFY(!module_update_config(form));
    // The box comes after the progress window is gone.
    QVERIFY(!form.splashVisible);
    QStringList paths;
    for (const char *name : {"stats.dat", "accounts.dat", "whitelist.dat", "blacklist.dat", "keywords.dat"})
        paths.append(folder + u'/' + QString::fromLatin1(name));
    expectSaveReport(paths);
    QCOMPARE(form.gridAccounts()->rowCountValue(), 1);
    QVERIFY(!QFileInfo::exists(folder));
}

void tst_ListFiles::editDuringSaveDoesNotMixRows()
{
    QTemporaryDir dir;
    TestForm form(dir.path());
    loadAllLists(form);
    for (int i = 1; i <= 5; ++i)
        form.gridwhitelist()->appendRow({u"w%1@x.example"_s.arg(i)});
    // An edit that lands while the save yields between rows.
    bool removed = false;
    QTimer timer;
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, &form, [&] {
        if (!removed && form.splashMessages.contains(u"Updating 2 whitelist addresses."_s)) {
            removed = form.gridwhitelist()->removeRow(1);
            form.gridwhitelist()->removeRow(1);
        }
    });
    timer.start();
    QVERIFY(module_update_config(form));
    timer.stop();
    QVERIFY(removed);
    QCOMPARE(readBytes(dir.filePath(u"whitelist.dat"_s)),
             QByteArray("w1@x.example\r\nw2@x.example\r\nw3@x.example\r\nw4@x.example\r\nw5@x.example\r\n"));
}

QTEST_MAIN(tst_ListFiles)
#include "tst_listfiles.moc"

// Every file the program writes in its folder, with a symbolic link planted
// in its place: the save fails naming the file, the link stays a link, and
// what it points at is untouched.
void tst_ListFiles::plantedLinksAreNotWrittenThrough_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("target"); // "file", "dangling" or "folder"
    for (const char *file : {"stats.dat", "accounts.dat", "whitelist.dat", "blacklist.dat", "keywords.dat",
                             "settings.ini", "stats.dat by the command line"}) {
        for (const char *target : {"file", "dangling", "folder"})
            QTest::addRow("%s to a %s", file, target) << QString::fromLatin1(file) << QString::fromLatin1(target);
    }
}

void tst_ListFiles::plantedLinksAreNotWrittenThrough()
{
    QFETCH(QString, file);
    QFETCH(QString, target);
    const QString name = file.section(u' ', 0, 0);
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString folder = dir.filePath(u"program"_s);
    QVERIFY(QDir().mkdir(folder));
    const QString victim = elsewhere.filePath(u"victim"_s);
    if (target == u"file"_s)
        writeBytes(victim, "precious\n");
    else if (target == u"folder"_s)
        QVERIFY(QDir().mkdir(victim));
    const QString link = folder + u'/' + name;
    QVERIFY(QFile::link(victim, link));

    TestForm form(folder);
    form.gridAccounts()->setColumnCount(3);
    form.gridAccounts()->appendRow({u"host.example"_s, u"u"_s, u"secret"_s});
    for (ListTable *table : {form.gridwhitelist(), form.gridblacklist(), form.gridkeywords()})
        table->appendRow({u"entry"_s});
    QString reason;
    if (name == u"settings.ini"_s) {
        AppSettings settings(folder);
        settings.holdForReview = true;
        QVERIFY(!settings.save());
        reason = settings.errorText();
    } else if (file.endsWith(u"command line"_s)) {
        QVERIFY(!StatsFile::writeTotals(form, &reason));
    } else {
        QVERIFY(!module_update_config(form));
        expectSaveReport({link});
        reason = MessageBox::records().first().text;
        // The other files were written all the same.
        for (const char *other : {"stats.dat", "accounts.dat", "whitelist.dat", "blacklist.dat", "keywords.dat"}) {
            const QString path = folder + u'/' + QString::fromLatin1(other);
            if (path != link)
                QVERIFY2(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink(), other);
        }
    }
    QVERIFY2(reason.contains(QDir::toNativeSeparators(link) + u" is a symbolic link"_s), qPrintable(reason));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), victim);
    if (target == u"file"_s)
        QCOMPARE(readBytes(victim), QByteArray("precious\n"));
    else if (target == u"folder"_s)
        QVERIFY(QDir(victim).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    else
        QVERIFY(!QFileInfo::exists(victim));
    QVERIFY(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size()
            == (target == u"dangling"_s ? 0 : 1));
}
