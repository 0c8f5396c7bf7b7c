// Archive file names and how archive files are written, the totals, and how
// server text is compared.

#include "scan/archivewriter.h"
#include "scan/headlessform.h"
#include "scan/servertext.h"
#include "scan/spamarchive.h"

#include <QScopeGuard>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class tst_SpamArchive : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fileNames_data();
    void fileNames();
    void copyNames_data();
    void copyNames();
    void archiveWriter_data();
    void archiveWriter();
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
    QTest::newRow("right-to-left override") << u"invoice\u202Egpj.exe"_s << u"invoice_gpj.exe.html"_s;
    QTest::newRow("zero width and soft hyphen") << u"a\u200Bb\u00ADc\uFEFF"_s << u"a_b_c_.html"_s;
    QTest::newRow("tag character beyond 16 bits") << u"x\U000E0041y"_s << u"x_y.html"_s;
    QTest::newRow("C1 control") << u"a\u0085b\u009bc"_s << u"a_b_c.html"_s;
}

void tst_SpamArchive::fileNames()
{
    QFETCH(QString, subject);
    QFETCH(QString, name);
    QCOMPARE(Scan::SpamArchive::fileName(subject), name);
    QCOMPARE(Scan::SpamArchive::filePath(u"/prog"_s, subject), u"/prog/SpamDeleted/"_s + name);
}

void tst_SpamArchive::copyNames_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("copy");
    QTest::addColumn<QString>("name");
    QTest::newRow("first") << u"Offer"_s << 1 << u"Offer.html"_s;
    QTest::newRow("second") << u"Offer"_s << 2 << u"Offer (2).html"_s;
    QTest::newRow("empty subject") << QString() << 3 << u" (3).html"_s;
    QTest::newRow("long subject still fits") << QString(300, u'L') << 12345 << QString(242, u'L') + u" (12345).html"_s;
    QTest::newRow("two-byte characters") << QString(200, u'\u00e9') << 10 << QString(122, u'\u00e9') + u" (10).html"_s;
}

void tst_SpamArchive::copyNames()
{
    QFETCH(QString, subject);
    QFETCH(int, copy);
    QFETCH(QString, name);
    QCOMPARE(Scan::SpamArchive::fileName(subject, copy), name);
    QVERIFY(name.toUtf8().size() <= 255);
}

namespace {

enum class Setup {
    Fresh,
    NameTaken,
    LinkAtName,
    DanglingLinkAtName,
    FolderMissing,
    FolderIsLink,
    DownloadFails,
    DiskFull
};

// The names in the archive folder, with their contents.
QMap<QString, QByteArray> folderContents(const QString &path)
{
    QMap<QString, QByteArray> files;
    const QDir dir(path);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        const QFileInfo info(dir.filePath(name));
        if (info.isSymLink()) {
            files.insert(name, "-> " + QFile::encodeName(info.symLinkTarget()));
        } else {
            QFile f(info.filePath());
            files.insert(name, f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>"));
        }
    }
    return files;
}

unsigned modeOf(const QString &path)
{
    struct stat status
    {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? unsigned(status.st_mode & 07777) : 0;
}

} // namespace

void tst_SpamArchive::archiveWriter_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("published");
    QTest::addColumn<QString>("error");
    QTest::newRow("fresh folder") << int(Setup::Fresh) << u"Offer.html"_s << QString();
    QTest::newRow("name taken twice") << int(Setup::NameTaken) << u"Offer (3).html"_s << QString();
    QTest::newRow("link planted at the name") << int(Setup::LinkAtName) << u"Offer (2).html"_s << QString();
    QTest::newRow("dangling link at the name") << int(Setup::DanglingLinkAtName) << u"Offer (2).html"_s << QString();
    QTest::newRow("folder missing") << int(Setup::FolderMissing) << QString()
                                    << u"SpamDeleted: No such file or directory"_s;
    QTest::newRow("folder is a link") << int(Setup::FolderIsLink) << QString() << u"SpamDeleted is a symbolic link"_s;
    QTest::newRow("download fails") << int(Setup::DownloadFails) << QString() << u"File error: Error writing to file"_s;
    QTest::newRow("disk fills while assembling")
        << int(Setup::DiskFull) << QString() << u"SpamDeleted: File too large"_s;
}

void tst_SpamArchive::archiveWriter()
{
    QFETCH(int, setup);
    QFETCH(QString, published);
    QFETCH(QString, error);
    QTemporaryDir program;
    QTemporaryDir outside;
    QVERIFY(program.isValid() && outside.isValid());
    const QString folder = program.filePath(u"SpamDeleted"_s);
    const QString victim = outside.filePath(u"victim.txt"_s);
    QFile v(victim);
    QVERIFY(v.open(QIODevice::WriteOnly) && v.write("keep me") == 7);
    v.close();

    switch (Setup(setup)) {
    case Setup::FolderMissing: break;
    case Setup::FolderIsLink: QVERIFY(QFile::link(outside.path(), folder)); break;
    default: QVERIFY(QDir().mkdir(folder)); break;
    }
    auto put = [&](const QString &name, const QByteArray &bytes) {
        QFile f(folder + u'/' + name);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    if (Setup(setup) == Setup::NameTaken)
        QVERIFY(put(u"Offer.html"_s, "first") && put(u"Offer (2).html"_s, "second"));
    if (Setup(setup) == Setup::LinkAtName)
        QVERIFY(QFile::link(victim, folder + u"/Offer.html"_s));
    if (Setup(setup) == Setup::DanglingLinkAtName)
        QVERIFY(QFile::link(outside.filePath(u"planted.txt"_s), folder + u"/Offer.html"_s));
    const QMap<QString, QByteArray> before = folderContents(folder);
    const QMap<QString, QByteArray> outsideBefore = folderContents(outside.path());

    // The message is larger than what the file size limit lets the archive
    // add to it, but not than the download itself.
    const QByteArray message = "Subject: Offer\r\n\r\n" + QByteArray(3000, 'm');
    rlimit savedLimit{};
    ::getrlimit(RLIMIT_FSIZE, &savedLimit);
    const auto restoreLimit = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &savedLimit); });
    if (Setup(setup) == Setup::DiskFull) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit small = savedLimit;
        small.rlim_cur = rlim_t(message.size() + 16);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    }

    Scan::ArchiveWriter writer(program.path());
    unsigned downloadMode = 0777;
    const bool ok = writer.write(u"Offer"_s, [&](const QString &path, QString *failure) {
        QFile f(path);
        const bool written = Setup(setup) != Setup::DownloadFails && f.open(QIODevice::WriteOnly)
                             && f.write(message) == message.size() && f.flush();
        downloadMode = modeOf(path);
        if (!written)
            *failure = u"File error: Error writing to file"_s;
        return written;
    });
    ::setrlimit(RLIMIT_FSIZE, &savedLimit);

    QMap<QString, QByteArray> expected = before;
    if (published.isEmpty()) {
        QVERIFY(!ok);
        QCOMPARE(writer.errorString(), error);
    } else {
        QVERIFY2(ok, qPrintable(writer.errorString()));
        QCOMPARE(writer.fileName(), published);
        expected.insert(published, Scan::ArchiveWriter::inertPrefix() + message);
        QCOMPARE(modeOf(folder + u'/' + published), 0600u);
        // The control writes the download with the program's rights: owner only.
        QCOMPARE(downloadMode & 077u, 0u);
    }
    // Nothing else appeared (no temporary file left), nothing was replaced,
    // and nothing outside the archive was touched.
    if (Setup(setup) != Setup::FolderIsLink)
        QCOMPARE(folderContents(folder), expected);
    QCOMPARE(folderContents(outside.path()), outsideBefore);
    QVERIFY(!QFile::exists(outside.filePath(u"planted.txt"_s)));
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
    Scan::HeadlessForm form{QString()};
    form.setBoxText(FormBox::TotalScanned, before);
    QCOMPARE(Scan::raiseTotal(form, FormBox::TotalScanned), raised);
    QCOMPARE(form.boxText(FormBox::TotalScanned), after);
}

void tst_SpamArchive::scannedTotalGoesOnFromItsOwnValue()
{
    Scan::HeadlessForm form{QString()};
    form.setBoxText(FormBox::TotalScanned, u"lots"_s);
    Scan::ScannedTotal total(form, FormBox::TotalScanned);
    total.raise();
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"1"_s);
    total.raise();
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"2"_s);
    form.setBoxText(FormBox::TotalScanned, u"100"_s);
    total.raise();
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"101"_s);
}

void tst_SpamArchive::comparison_data()
{
    QTest::addColumn<QByteArray>("serverBytes");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("contains");
    QTest::newRow("ascii any case") << QByteArray("Cheap Viagra") << u"vIAGRA"_s << true;
    QTest::newRow("utf-8 word") << QByteArray("gro\xc3\x9f\xc3\xa9 \xc3\xbc"
                                              "berweisung")
                                << u"\u00dcBERWEISUNG"_s << true;
    QTest::newRow("latin-1 bytes") << QByteArray("caf\xe9") << u"CAF\u00c9"_s << true;
    QTest::newRow("cyrillic") << QByteArray("\xd0\xbb\xd0\xbe\xd1\x82\xd0\xb5\xd1\x80\xd0\xb5\xd1\x8f")
                              << u"\u041b\u041e\u0422\u0415\u0420\u0415\u042f"_s << true;
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
