// Data files damaged the ways a person or a crash leaves them: cut short,
// binary, huge, with foreign line ends, or missing. The window still starts
// and shows what it could read; Save Settings then writes clean files that
// load back to the same rows.

#include "tests/support/programfolder.h"
#include "tests/support/scriptedpop3server.h"
#include "tests/support/statedamage.h"

#include "config/listtable.h"
#include "platform/automation/controlhost.h"
#include "platform/automation/dispatch.h"
#include "platform/automation/memorypropertybag.h"
#include "pop3/include/tarnpostctl.h"
#include "state/reviewlist.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QStringList DataFiles = {u"stats.dat"_s, u"accounts.dat"_s, u"whitelist.dat"_s, u"blacklist.dat"_s,
                               u"keywords.dat"_s};

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(n, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(gen.bounded(256));
    return bytes;
}

const QByteArray GoodStats = "3\r\n2\r\n1\r\n1\r\n17\r\n250\r\n 1 \r\n10\r\n 1 \r\n 1 \r\n 0 \r\n 1 \r\n";
const QByteArray GoodAccounts = "mail.example.org,ann,pw1\r\npop.example.net,bob,p,w,2\r\nmx.example.com,cy,\r\n";

// Rows of a list as the window holds them.
QStringList rows(const ListTable *table)
{
    QStringList out;
    for (int r = 1; r <= table->rows(); ++r)
        out << table->rowCells(r).join(u'|');
    return out;
}

// Written by the program: valid UTF-8, every line ended by CR LF, nothing else.
QString cleanliness(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)utf8.decode(bytes);
    if (utf8.hasError())
        return u"not UTF-8"_s;
    if (!bytes.isEmpty() && !bytes.endsWith("\r\n"))
        return u"last line not ended by CR LF"_s;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes.at(i) == '\r' && (i + 1 >= bytes.size() || bytes.at(i + 1) != '\n'))
            return u"lone CR at %1"_s.arg(i);
        if (bytes.at(i) == '\n' && (i == 0 || bytes.at(i - 1) != '\r'))
            return u"lone LF at %1"_s.arg(i);
    }
    return {};
}

// Answers the first-account dialog (opened when no account could be read).
void dismissModalDialogs()
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, qApp, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    timer->start(10);
}

} // namespace

class tst_BadFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { dismissModalDialogs(); }
    void damagedFile_data();
    void damagedFile();
    void damagedControlProperties_data();
    void damagedControlProperties();
    void damagedStateDatabase_data();
    void damagedStateDatabase();
};

void tst_BadFiles::damagedFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    // For stats.dat: blocked, scanned, minutes, whitelist state. For a list:
    // its rows (accounts as server|login|password); "*" = not checked.
    QTest::addColumn<QStringList>("shown");

    const QByteArray huge(2 * 1024 * 1024, 'z');
    QTest::newRow("stats missing") << u"stats.dat"_s << QByteArray("<missing>")
                                   << QStringList{u"0"_s, u"0"_s, u"5"_s, u"0"_s};
    QTest::newRow("stats empty") << u"stats.dat"_s << QByteArray() << QStringList{u"0"_s, u"0"_s, u"5"_s, u"0"_s};
    QTest::newRow("stats cut in line 6") << u"stats.dat"_s << GoodStats.left(17)
                                         << QStringList{u"17"_s, u"2"_s, u"5"_s, u"0"_s};
    QTest::newRow("stats cut in line 9") << u"stats.dat"_s << GoodStats.left(34)
                                         << QStringList{u"17"_s, u"250"_s, u"10"_s, u"1"_s};
    QTest::newRow("stats LF only") << u"stats.dat"_s << QByteArray(GoodStats).replace("\r\n", "\n")
                                   << QStringList{u"17"_s, u"250"_s, u"10"_s, u"1"_s};
    QTest::newRow("stats CR only") << u"stats.dat"_s << QByteArray(GoodStats).replace("\r\n", "\r")
                                   << QStringList{u"17"_s, u"250"_s, u"10"_s, u"1"_s};
    QTest::newRow("stats binary") << u"stats.dat"_s << randomBytes(4096, 7)
                                  << QStringList{u"*"_s, u"*"_s, u"*"_s, u"*"_s};
    QTest::newRow("stats NUL bytes") << u"stats.dat"_s << QByteArray(4096, '\0')
                                     << QStringList{u"*"_s, u"*"_s, u"*"_s, u"*"_s};
    QTest::newRow("stats huge line") << u"stats.dat"_s
                                     << QByteArray("1\r\n1\r\n1\r\n1\r\n" + huge + "\r\n")
                                     // A count box holds at most 32767 characters.
                                     << QStringList{QString(32767, u'z'), u"0"_s, u"5"_s, u"0"_s};
    QTest::newRow("stats bad state") << u"stats.dat"_s
                                     << QByteArray(GoodStats).replace(" 1 \r\n 1 \r\n 0", " 9 \r\n 1 \r\n 0")
                                     << QStringList{u"17"_s, u"250"_s, u"10"_s, u"0"_s};

    QTest::newRow("accounts missing") << u"accounts.dat"_s << QByteArray("<missing>") << QStringList{};
    QTest::newRow("accounts cut mid-line") << u"accounts.dat"_s << GoodAccounts.left(47)
                                           << QStringList{u"mail.example.org|ann|pw1"_s, u"pop.example.net|bob|p"_s};
    QTest::newRow("accounts cut before comma")
        << u"accounts.dat"_s << GoodAccounts.left(30) << QStringList{u"mail.example.org|ann|pw1"_s};
    QTest::newRow("accounts LF only") << u"accounts.dat"_s << QByteArray(GoodAccounts).replace("\r\n", "\n")
                                      << QStringList{u"mail.example.org|ann|pw1"_s, u"pop.example.net|bob|p,w,2"_s,
                                                     u"mx.example.com|cy|"_s};
    QTest::newRow("accounts CR only") << u"accounts.dat"_s << QByteArray(GoodAccounts).replace("\r\n", "\r")
                                      << QStringList{u"mail.example.org|ann|pw1"_s, u"pop.example.net|bob|p,w,2"_s,
                                                     u"mx.example.com|cy|"_s};
    QTest::newRow("accounts binary") << u"accounts.dat"_s << randomBytes(64 * 1024, 11) << QStringList{u"*"_s};
    QTest::newRow("accounts huge password") << u"accounts.dat"_s << QByteArray("mail.example.org,ann," + huge)
                                            << QStringList{u"mail.example.org|ann|"_s + QString::fromLatin1(huge)};
    QTest::newRow("accounts 8-bit") << u"accounts.dat"_s << QByteArray("mail.example.org,j\xfcrgen,p\xe4ss\r\n")
                                    << QStringList{u"mail.example.org|j\u00fcrgen|p\u00e4ss"_s};

    QByteArray manyRows;
    QStringList manyShown;
    for (int i = 0; i < 5000; ++i) {
        manyRows += "sender" + QByteArray::number(i) + "@example.org\r\n";
        manyShown << u"sender%1@example.org"_s.arg(i);
    }
    QTest::newRow("whitelist 5000 rows") << u"whitelist.dat"_s << manyRows << manyShown;
    QTest::newRow("whitelist cut mid-line")
        << u"whitelist.dat"_s << QByteArray("a@x.org\r\nb@y.o") << QStringList{u"a@x.org"_s, u"b@y.o"_s};
    QTest::newRow("whitelist cut in UTF-8")
        << u"whitelist.dat"_s << QByteArray("ok@x.org\r\nj\xc3") << QStringList{u"ok@x.org"_s, u"j\u00c3"_s};
    QTest::newRow("blacklist mixed line ends")
        << u"blacklist.dat"_s << QByteArray("a\rb\nc\r\n\r\nd") << QStringList{u"a"_s, u"b"_s, u"c"_s, u""_s, u"d"_s};
    QTest::newRow("blacklist binary") << u"blacklist.dat"_s << randomBytes(64 * 1024, 13) << QStringList{u"*"_s};
    QTest::newRow("keywords huge line") << u"keywords.dat"_s << huge << QStringList{QString::fromLatin1(huge)};
    QTest::newRow("keywords NUL bytes") << u"keywords.dat"_s << QByteArray("a\0b\r\n\0\r\n", 8)
                                        << QStringList{u"a\u0000b"_s, QString(QChar(u'\0'))};
    QTest::newRow("keywords missing") << u"keywords.dat"_s << QByteArray("<missing>") << QStringList{};
}

void tst_BadFiles::damagedFile()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, shown);

    ProgramTest::ProgramFolder folder;
    // Good files beside the damaged one.
    QVERIFY(folder.write(u"stats.dat"_s, GoodStats));
    QVERIFY(folder.write(u"accounts.dat"_s, GoodAccounts));
    QVERIFY(folder.write(u"whitelist.dat"_s, "friend@example.org\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    QVERIFY(folder.write(u"keywords.dat"_s, "lottery\r\n"));
    if (bytes == "<missing>")
        QVERIFY(QFile::remove(folder.file(file)));
    else
        QVERIFY(folder.write(file, bytes));

    MessageBox::setTestMode(true);
    auto form = std::make_unique<frmMain>(folder.path());
    form->runLoadSequence();
    form->checkautoscan()->setCheckState(Qt::Unchecked);

    auto check = [](const QString &actual, const QString &expected) {
        return expected == u"*"_s || actual == expected;
    };
    if (file == u"stats.dat"_s) {
        QVERIFY(check(form->txtEmailsBlockedCount()->text(), shown.at(0)));
        QVERIFY(check(form->txttotalemailsever()->text(), shown.at(1)));
        QVERIFY(check(form->combominutes()->currentText(), shown.at(2)));
        if (shown.at(3) != u"*"_s)
            QCOMPARE(int(form->checkwhitelist()->checkState()),
                     shown.at(3) == u"1"_s ? int(Qt::Checked) : int(Qt::Unchecked));
        // The two switches every start turns on.
        QCOMPARE(form->checkblacklist()->checkState(), Qt::Checked);
    } else {
        const ListTable *table = file == u"accounts.dat"_s    ? form->gridAccounts()
                                 : file == u"whitelist.dat"_s ? form->gridwhitelist()
                                 : file == u"blacklist.dat"_s ? form->gridblacklist()
                                                              : form->gridkeywords();
        if (shown != QStringList{u"*"_s}) {
            const QStringList actual = rows(table);
            QCOMPARE(actual.size(), shown.size());
            QVERIFY(actual == shown);
        }
    }
    const QStringList before = {rows(form->gridAccounts()).join(u'\n'), rows(form->gridwhitelist()).join(u'\n'),
                                rows(form->gridblacklist()).join(u'\n'), rows(form->gridkeywords()).join(u'\n')};

    form->findChild<QPushButton *>(u"cmdupdateconfig"_s)->click();
    QMap<QString, QByteArray> saved;
    for (const QString &name : DataFiles) {
        saved[name] = folder.read(name);
        QVERIFY2(saved[name] != "<missing>", qPrintable(name));
        const QString fault = cleanliness(saved[name]);
        QVERIFY2(fault.isEmpty(), qPrintable(name + u": "_s + fault));
    }
    QCOMPARE(int(saved[u"stats.dat"_s].count("\r\n")), 12);

    // What was saved loads back to what was shown, and saves to the same bytes.
    form.reset();
    form = std::make_unique<frmMain>(folder.path());
    form->runLoadSequence();
    form->checkautoscan()->setCheckState(Qt::Unchecked);
    const QStringList after = {rows(form->gridAccounts()).join(u'\n'), rows(form->gridwhitelist()).join(u'\n'),
                               rows(form->gridblacklist()).join(u'\n'), rows(form->gridkeywords()).join(u'\n')};
    QVERIFY(after == before);
    form->findChild<QPushButton *>(u"cmdupdateconfig"_s)->click();
    for (const QString &name : DataFiles)
        QVERIFY2(folder.read(name) == saved[name], qPrintable(name));
}

void tst_BadFiles::damagedControlProperties_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("hostname");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("timeout");

    const QByteArray good =
        "POPHostname = mail.example.org\nPOPPort = 110\nPOPUsername = ann\nPOPPassword = pw\nPOPTimeout = 120\n";
    QTest::newRow("good") << good << u"mail.example.org"_s << 110 << 120;
    QTest::newRow("missing") << QByteArray("<missing>") << QString() << 0 << 0;
    QTest::newRow("cut short") << good.left(40) << u"mail.example.org"_s << 0 << 0;
    QTest::newRow("CR LF") << QByteArray(good).replace("\n", "\r\n") << u"mail.example.org"_s << 110 << 120;
    QTest::newRow("CR only") << QByteArray(good).replace("\n", "\r") << u"mail.example.org"_s << 110 << 120;
    QTest::newRow("binary") << randomBytes(8192, 17) << QString() << 0 << 0;
    QTest::newRow("huge") << QByteArray("POPHostname = " + QByteArray(4 * 1024 * 1024, 'h') + "\nPOPTimeout = 30\n")
                          << QString(4 * 1024 * 1024, u'h') << 0 << 30;
    QTest::newRow("out of range") << QByteArray("POPPort = 99999999999\nPOPTimeout = 70000\n") << QString() << 0 << 0;
    QTest::newRow("not numbers") << QByteArray("POPPort = one\nPOPTimeout = \x01\x02\n") << QString() << 0 << 0;
}

void tst_BadFiles::damagedControlProperties()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, hostname);
    QFETCH(int, port);
    QFETCH(int, timeout);

    ProgramTest::ProgramFolder folder;
    const QString path = folder.file(u"tarnpost1.frm"_s);
    if (bytes != "<missing>")
        QVERIFY(folder.write(u"tarnpost1.frm"_s, bytes));
    Automation::MemoryPropertyBag bag;
    QCOMPARE(bag.readDesignValues(path), bytes != "<missing>");

    Automation::ControlHost host;
    QObject *object = host.create(folder.file(u"libtarnpostctl.so"_s), Tarnpostctl::ClassIdTarnpost);
    QVERIFY2(object, qPrintable(host.errorString()));
    std::unique_ptr<QObject> owner(object);
    auto *control = qobject_cast<Automation::AutomationObject *>(object);
    QVERIFY(control);
    control->load(bag);

    Automation::TarnpostProxy proxy(object);
    QCOMPARE(proxy.POPHostname(), hostname);
    QCOMPARE(proxy.POPPort(), port);
    QCOMPARE(int(proxy.POPTimeout()), timeout);

    // Saved and loaded again, the values are the same typed values.
    Automation::MemoryPropertyBag saved;
    control->save(saved);
    QCOMPARE(saved.values().value(u"POPPort"_s).toInt(), port);
    control->load(saved);
    QCOMPARE(proxy.POPHostname(), hostname);
    QCOMPARE(proxy.POPPort(), port);
    QCOMPARE(int(proxy.POPTimeout()), timeout);
}

void tst_BadFiles::damagedStateDatabase_data()
{
    using ProgramTest::StateDamage;
    QTest::addColumn<int>("damage");
    QTest::addColumn<bool>("untouched"); // the file's bytes are as they were
    // Archive copies after scan 2: S, K and N again when what was held
    // cannot be read, N alone when it can.
    QTest::addColumn<int>("archived");

    QTest::newRow("corrupt") << int(StateDamage::Corrupt) << true << 5;
    QTest::newRow("not SQLite") << int(StateDamage::NotSqlite) << true << 5;
    QTest::newRow("newer schema") << int(StateDamage::NewerSchema) << true << 5;
    QTest::newRow("a link in its place") << int(StateDamage::Link) << false << 5;
    QTest::newRow("locked by another program") << int(StateDamage::ExclusiveLock) << false << 5;
    QTest::newRow("a write lock held elsewhere") << int(StateDamage::WriteLock) << false << 3;
    QTest::newRow("read-only") << int(StateDamage::ReadOnly) << false << 3;
}

// The command-line scan of the real program: scan 1 holds the spam S and
// K, the user says K is not spam; scan 2, with the hold off and a new spam
// N, finds the state database unusable. Nothing is deleted, and the exit
// status and standard error say so.
void tst_BadFiles::damagedStateDatabase()
{
    QFETCH(int, damage);
    QFETCH(bool, untouched);
    QFETCH(int, archived);

    const QByteArray s = "From: a@spam.example\nSubject: S\n\nBuy.\n";
    const QByteArray k = "From: b@spam.example\nSubject: K\n\nYour order.\n";
    const QByteArray h = "From: ok@example.org\nSubject: H\n\nHello.\n";
    const QByteArray n = "From: c@spam.example\nSubject: N\n\nNew offer.\n";
    ScriptedPop3Server server;
    server.addMailbox(u"u"_s, u"pw"_s, {s, k, h});
    QVERIFY(server.start());

    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, u"pop3://127.0.0.1:%1,u,pw\r\n"_s.arg(server.port()).toUtf8()));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    // The blacklist on, the whitelist off.
    QVERIFY(folder.write(u"stats.dat"_s, "1\r\n0\r\n1\r\n0\r\n0\r\n0\r\n 0 \r\n5\r\n 0 \r\n 1 \r\n 0 \r\n 0 \r\n"));
    QVERIFY(folder.write(u"settings.ini"_s, "[Scan]\nholdForReview=true\nannounce=summary\n"));
    auto scan = [&folder](QByteArray *err) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(QUELLMAIL_PROGRAM), {u"--scan"_s, u"--folder"_s, folder.path()});
        if (!program.waitForFinished(60000) || program.exitStatus() != QProcess::NormalExit) {
            program.kill();
            program.waitForFinished();
            return -1;
        }
        *err = program.readAllStandardError();
        return program.exitCode();
    };
    QByteArray err;
    QCOMPARE(scan(&err), 0);
    QCOMPARE(server.mailbox(u"u"_s).size(), 3);
    {
        StateDatabase db(folder.path());
        QVERIFY(db.open());
        ReviewList review(db);
        QCOMPARE(review.all().size(), 2);
        QVERIFY(review.markNotSpam({review.all().at(0).id})); // K, the newest
    }

    server.addMailbox(u"u"_s, u"pw"_s, {n}); // added after the others
    QVERIFY(folder.write(u"settings.ini"_s, "[Scan]\nannounce=summary\n"));
    ProgramTest::StateDamager damager;
    QVERIFY(damager.apply(folder.path(), ProgramTest::StateDamage(damage)));
    const QByteArray before = untouched ? folder.read(StateDatabase::fileName()) : QByteArray();

    const int exitCode = scan(&err);
    QCOMPARE(server.mailbox(u"u"_s).size(), 4);
    QVERIFY2(exitCode > 0, qPrintable(QString::number(exitCode)));
    QVERIFY2(err.contains("condemned message(s) were left on the server"), err.constData());
    QCOMPARE(folder.archive().size(), archived);
    if (untouched)
        QCOMPARE(folder.read(StateDatabase::fileName()), before);
}

QTEST_MAIN(tst_BadFiles)
#include "tst_badfiles.moc"
