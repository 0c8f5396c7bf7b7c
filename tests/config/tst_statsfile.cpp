// stats.dat: what the reader takes from good, short and damaged files, the
// exact bytes the writer produces, and the minutes list.

#include "config/statsfile.h"
#include "config/widgets/modules_settings.h"
#include "config/widgets/ruleswitch.h"
#include "tests/config/testform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

// Six texts, the minutes and the five states as the window shows them.
QStringList snapshot(const TestForm &form)
{
    return {form.txtAccountsCount()->text(),
            form.txtwhitelistCount()->text(),
            form.txtblacklistCount()->text(),
            form.txtkeywordsCount()->text(),
            form.txtEmailsBlockedCount()->text(),
            form.txttotalemailsever()->text(),
            QString::number(RuleSwitch::value(form.checkautoscan())),
            form.combominutes()->currentText(),
            QString::number(RuleSwitch::value(form.checkwhitelist())),
            QString::number(RuleSwitch::value(form.checkblacklist())),
            QString::number(RuleSwitch::value(form.checkspamcop())),
            QString::number(RuleSwitch::value(form.checkkeywords()))};
}

// A stats.dat with the given totals and minutes.
QByteArray stats(const char *blocked, const char *scanned, const char *minutes = "5")
{
    return QByteArray("1\r\n0\r\n1\r\n1\r\n") + blocked + "\r\n" + scanned + "\r\n 1 \r\n" + minutes
           + "\r\n 0 \r\n 1 \r\n 0 \r\n 1 \r\n";
}

} // namespace

class tst_StatsFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void read_data();
    void read();
    void writeExactBytes();
    void writeReadRoundTrip();
    void writeKeepsPreviousOnFailure();
    void totalsAddUp_data();
    void totalsAddUp();
    void minutesListFilledOnce();
};

void tst_StatsFile::read_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("expected");
    // Before reading: counts "0", minutes "5", boxes 0 except the whitelist
    // box greyed (2), so an untouched box can be told from one the file set.
    auto row = [](const char *name, const QByteArray &file, const char *values) {
        QTest::newRow(name) << file << QString::fromLatin1(values).split(u'|');
    };
    row("missing file", "<none>", "0|0|0|0|0|0|1|5|2|1|0|0");
    row("full file as written", "3\r\n10\r\n2\r\n4\r\n17\r\n250\r\n 1 \r\n15\r\n 1 \r\n 1 \r\n 0 \r\n 1 \r\n",
        "3|10|2|4|17|250|1|15|1|1|0|1");
    row("numbers without blanks, typed minutes, 0s forced on",
        "1\r\n1\r\n1\r\n1\r\n0\r\n9\r\n0\r\n7\r\n0\r\n0\r\n1\r\n0\r\n", "1|1|1|1|0|9|1|7|0|1|1|0");
    row("only six lines", "5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n", "5|6|7|8|9|10|1|5|2|1|0|0");
    row("abc on line 9 stops there", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n 0 \r\n20\r\nabc\r\n 0 \r\n 1 \r\n 1 \r\n",
        "1|2|3|4|5|6|1|20|2|1|0|0");
    row("state 3 is not a box state", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n 0 \r\n20\r\n 0 \r\n 0 \r\n 3 \r\n 1 \r\n",
        "1|2|3|4|5|6|1|20|0|1|0|0");
    row("negative state refused", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n -1 \r\n 1 \r\n", "1|2|3|4|5|6|1|5|2|1|0|0");
    row("greyed states kept", "0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n 2 \r\n5\r\n 2 \r\n 2 \r\n 2 \r\n 2 \r\n",
        "0|0|0|0|0|0|1|5|2|1|2|2");
    row("0-byte file", "", "0|0|0|0|0|0|1|5|2|1|0|0");
    QTest::newRow("lone CR line ends, Latin-1 text")
        << QByteArray("1\r2\r3\r4\r5\r6\r 1 \r5\xe9\r 0 \r 0 \r 0 \r 0 \r")
        << QStringList{u"1"_s, u"2"_s,       u"3"_s, u"4"_s, u"5"_s, u"6"_s,
                       u"1"_s, u"5\u00e9"_s, u"0"_s, u"1"_s, u"0"_s, u"0"_s};
}

void tst_StatsFile::read()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    if (file != "<none>")
        writeBytes(dir.filePath(u"stats.dat"_s), file);
    TestForm form(dir.path());
    form.checkwhitelist()->setCheckState(Qt::PartiallyChecked);
    QSignalSpy autoscanChanges(form.checkautoscan(), &QCheckBox::stateChanged);
    StatsFile::read(form);
    QCOMPARE(snapshot(form), expected);
    // Whatever the file said, the last change of the auto-scan box ticks it.
    QVERIFY(!autoscanChanges.isEmpty());
    QCOMPARE(autoscanChanges.last().first().toInt(), int(Qt::Checked));
    QVERIFY(RuleSwitch::isOn(form.checkautoscan()));
}

void tst_StatsFile::writeExactBytes()
{
    QTemporaryDir dir;
    TestForm form(dir.path());
    form.txtAccountsCount()->setText(u"2"_s);
    form.txtwhitelistCount()->setText(u"13"_s);
    form.txtblacklistCount()->setText(u"0"_s);
    form.txtkeywordsCount()->setText(u"4"_s);
    form.txtEmailsBlockedCount()->setText(u"x9"_s);
    form.txttotalemailsever()->setText(u"1234"_s);
    form.checkautoscan()->setCheckState(Qt::Checked);
    form.combominutes()->setEditText(u"2.5"_s);
    form.checkwhitelist()->setCheckState(Qt::Unchecked);
    form.checkblacklist()->setCheckState(Qt::Checked);
    form.checkspamcop()->setCheckState(Qt::PartiallyChecked);
    form.checkkeywords()->setCheckState(Qt::Checked);
    QVERIFY(StatsFile::write(form));
    QCOMPARE(readBytes(dir.filePath(u"stats.dat"_s)),
             QByteArray("2\r\n13\r\n0\r\n4\r\nx9\r\n1234\r\n 1 \r\n2.5\r\n 0 \r\n 1 \r\n 2 \r\n 1 \r\n"));
}

void tst_StatsFile::writeReadRoundTrip()
{
    QTemporaryDir dir;
    TestForm writer(dir.path());
    writer.txtAccountsCount()->setText(u"1"_s);
    writer.txttotalemailsever()->setText(u"77"_s);
    writer.combominutes()->setEditText(u"7"_s);
    writer.checkwhitelist()->setCheckState(Qt::Checked);
    writer.checkspamcop()->setCheckState(Qt::Checked);
    QVERIFY(StatsFile::write(writer));
    TestForm reader(dir.path());
    StatsFile::read(reader);
    QStringList expected = snapshot(writer);
    expected[6] = u"1"_s; // the two forced ticks
    expected[9] = u"1"_s;
    QCOMPARE(snapshot(reader), expected);
}

void tst_StatsFile::writeKeepsPreviousOnFailure()
{
    QTemporaryDir dir;
    TestForm form(dir.filePath(u"missing-folder"_s));
    QString reason;
    QVERIFY(!StatsFile::write(form, &reason));
    QVERIFY(!reason.isEmpty());
    QVERIFY(!QFileInfo::exists(dir.filePath(u"missing-folder"_s)));
}

// The window and the command line share the file: each adds what it counted
// since it read the file to what the file holds when it writes.
void tst_StatsFile::totalsAddUp_data()
{
    QTest::addColumn<QByteArray>("atRead");  // <none>: no file when the form started
    QTest::addColumn<QByteArray>("atWrite"); // what another writer left meanwhile; <none>: gone
    QTest::addColumn<bool>("settingsToo");   // the window's write, or the command line's
    QTest::addColumn<QByteArray>("written"); // this form counted 1 spam and 2 messages
    QTest::addColumn<bool>("counted");       // or nothing

    QTest::newRow("nobody else wrote") << stats("3", "10") << stats("3", "10") << true << stats("4", "12") << true;
    QTest::newRow("another scan added meanwhile")
        << stats("3", "10") << stats("5", "20") << true << stats("6", "22") << true;
    QTest::newRow("the file is gone") << stats("3", "10") << QByteArray("<none>") << true << stats("4", "12") << true;
    QTest::newRow("first start, then another scan")
        << QByteArray("<none>") << stats("5", "20") << false << stats("6", "22") << true;
    // Not a number on either side: the form's text, as before.
    QTest::newRow("a total on disk is not a number")
        << stats("3", "10") << stats("abc", "20") << true << stats("4", "22") << true;
    QTest::newRow("a total read was not a number")
        << stats("x", "10") << stats("5", "20") << true << stats("x", "22") << true;
    QTest::newRow("the window writes its settings")
        << stats("3", "10", "5") << stats("5", "20", "30") << true << stats("6", "22", "5") << true;
    QTest::newRow("the command line keeps the window's settings")
        << stats("3", "10", "5") << stats("5", "20", "30") << false << stats("6", "22", "30") << true;
    // Only the other side counted: its text as it stands, blanks and zeros included.
    QTest::newRow("nothing counted here")
        << stats("3", "10") << stats(" 5", "020") << false << stats(" 5", "020") << false;
    QTest::newRow("the command line on a short file")
        << stats("3", "10") << QByteArray("1\r\n0\r\n") << false << stats("4", "12") << true;
}

void tst_StatsFile::totalsAddUp()
{
    QFETCH(QByteArray, atRead);
    QFETCH(QByteArray, atWrite);
    QFETCH(bool, settingsToo);
    QFETCH(QByteArray, written);
    QFETCH(bool, counted);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"stats.dat"_s);
    if (atRead != "<none>")
        writeBytes(path, atRead);
    TestForm form(dir.path());
    StatsFile::read(form);
    form.checkautoscan()->setCheckState(Qt::Checked);
    form.checkwhitelist()->setCheckState(Qt::Unchecked);
    for (auto [box, raise] : {std::pair{form.txtEmailsBlockedCount(), 1}, std::pair{form.txttotalemailsever(), 2}}) {
        bool number = false;
        const int value = box->text().toInt(&number);
        if (number && counted)
            box->setText(QString::number(value + raise));
    }
    if (atWrite == "<none>")
        QVERIFY(QFile::remove(path));
    else
        writeBytes(path, atWrite);

    const auto write = [&] { return settingsToo ? StatsFile::write(form) : StatsFile::writeTotals(form); };
    QVERIFY(write());
    QCOMPARE(readBytes(path), written);
    // The form shows what it wrote, and counts nothing twice.
    const QList<QByteArray> lines = written.split('\n');
    QCOMPARE(form.txtEmailsBlockedCount()->text().trimmed().toLatin1(), lines.at(4).trimmed());
    QCOMPARE(form.txttotalemailsever()->text().trimmed().toLatin1(), lines.at(5).trimmed());
    QVERIFY(write());
    QCOMPARE(readBytes(path), written);
}

void tst_StatsFile::minutesListFilledOnce()
{
    QTemporaryDir dir;
    TestForm form(dir.path());
    form.combominutes()->setEditText(u"7"_s);
    modules_settings(form);
    modules_settings(form);
    QStringList items;
    for (int i = 0; i < form.combominutes()->count(); ++i)
        items.append(form.combominutes()->itemText(i));
    QCOMPARE(items, (QStringList{u"1"_s, u"5"_s, u"10"_s, u"15"_s, u"20"_s, u"25"_s, u"30"_s, u"35"_s, u"40"_s, u"45"_s,
                                 u"50"_s, u"55"_s}));
    QCOMPARE(form.combominutes()->currentText(), u"7"_s);
}

QTEST_MAIN(tst_StatsFile)
#include "tst_statsfile.moc"
