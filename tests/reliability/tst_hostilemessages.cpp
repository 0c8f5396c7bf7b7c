// Messages built to hurt: subjects that climb out of the archive folder or
// do not fit a file name, 8-bit and UTF-8 text, a sender without an address,
// huge header blocks and lines, lone CRs, and a mailbox beyond the 16-bit
// message numbers. Each is scanned by the real control in the real window.

#include "scan/archivewriter.h"
#include "scan/mailboxscanner.h"
#include "tests/support/programfolder.h"
#include "tests/support/scriptedpop3server.h"

#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A field of /proc/self/status in KB, 0 when it cannot be read.
long statusKb(const QByteArray &field)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Starts the peak resident size afresh from the present one.
bool resetPeak()
{
    QFile refs(u"/proc/self/clear_refs"_s);
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

QByteArray fillerHeaders(qsizetype bytes)
{
    QByteArray block;
    for (int i = 0; block.size() < bytes; ++i)
        block += "X-Filler-" + QByteArray::number(i) + ": " + QByteArray(60, 'f') + "\n";
    return block;
}

} // namespace

class tst_HostileMessages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostileMessage_data();
    void hostileMessage();
    void mailboxBeyondTheMessageLimit();
    void largeMessageHeldOnce_data();
    void largeMessageHeldOnce();
};

void tst_HostileMessages::hostileMessage_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("archiveName");
    QTest::addColumn<QString>("spamBox");

    const QByteArray from = "From: Pharma <deals@spam.example>\n";
    auto withSubject = [&](const QByteArray &subject) -> QByteArray {
        return from + "Subject: " + subject + "\n\nBuy now.\n";
    };
    const QString box = u"Spam fromPharma <deals@spam.example>"_s;

    QTest::newRow("climbs up") << withSubject("../../escape") << u".._.._escape.html"_s << box;
    QTest::newRow("absolute path") << withSubject("/etc/cron.d/evil") << u"_etc_cron.d_evil.html"_s << box;
    QTest::newRow("backslashes") << withSubject("..\\..\\evil") << u".._.._evil.html"_s << box;
    QTest::newRow("dot dot alone") << withSubject("..") << u"...html"_s << box;
    QTest::newRow("empty") << withSubject("") << u".html"_s << box;
    QTest::newRow("300 characters") << withSubject(QByteArray(300, 'S')) << QString(250, u'S') + u".html"_s << box;
    QByteArray wide;
    for (int i = 0; i < 300; ++i)
        wide += "\xc3\xa9";
    QTest::newRow("300 two-byte characters") << withSubject(wide) << QString(125, u'\u00e9') + u".html"_s << box;
    QTest::newRow("8-bit subject") << withSubject("caf\xe9 cr\xe8me") << u"caf\u00e9 cr\u00e8me.html"_s << box;
    QTest::newRow("UTF-8 subject") << withSubject("Gr\xc3\xbc\xc3\x9f"
                                                  "e \xe2\x82\xac")
                                   << u"Gr\u00fc\u00dfe \u20ac.html"_s << box;
    QTest::newRow("right-to-left override")
        << withSubject("invoice\xe2\x80\xaegpj.exe") << u"invoice_gpj.exe.html"_s << box;
    QTest::newRow("NUL and controls") << withSubject(QByteArray("nul\0byte\x01\x7f", 10)) << u"nul_byte__.html"_s
                                      << box;
    QTest::newRow("lone CR in subject") << withSubject("lone\rCR") << u"lone_CR.html"_s << box;
    QTest::newRow("lone CRs in body") << QByteArray(from + "Subject: body CRs\n\nline\rline\r\rend\n")
                                      << u"body CRs.html"_s << box;
    QTest::newRow("display name only") << QByteArray("From: Pharma Deals\nSubject: no address\n\nBuy.\n")
                                       << u"no address.html"_s << u"Spam fromPharma Deals"_s;
    QTest::newRow("header block over 64 KB")
        << QByteArray(fillerHeaders(70 * 1024) + from + "Subject: deep headers\n\nBody.\n") << u"deep headers.html"_s
        << box;
    QTest::newRow("1 MB header line") << QByteArray("X-Long: " + QByteArray(1024 * 1024, 'l') + "\n" + from
                                                    + "Subject: long line\n\nBody.\n")
                                      << u"long line.html"_s << box;
    QTest::newRow("1 MB subject") << withSubject(QByteArray(1024 * 1024, 'k')) << QString(250, u'k') + u".html"_s
                                  << box;
    QTest::newRow("no blank line") << QByteArray(from + "Subject: headers only\n") << u"headers only.html"_s << box;
}

void tst_HostileMessages::hostileMessage()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, archiveName);
    QFETCH(QString, spamBox);

    const QByteArray clean = "From: pal@example.org\nSubject: stays\n\nHi.\n";
    ScriptedPop3Server server;
    server.addMailbox(u"u"_s, u"p"_s, {message, clean});
    QVERIFY(server.start());

    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,u,p\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "pharma\r\n"));
    auto form = ProgramTest::openWindow(folder);
    ProgramTest::blacklistOnly(*form);
    form->Tarnpost1().setPOPPort(server.port());
    form->Tarnpost1().setPOPTimeout(5);
    form->txttotalemailsever()->setText(u"0"_s);
    form->txtEmailsBlockedCount()->setText(u"0"_s);

    Scan::MailboxScanner(*form).run();

    QCOMPARE(form->txttotalemailsever()->text(), u"2"_s);
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"1"_s);
    QStringList boxes;
    for (const MessageBox::Record &r : MessageBox::records())
        boxes << r.text;
    QCOMPARE(boxes, QStringList{spamBox});
    QCOMPARE(server.mailbox(u"u"_s), QList<QByteArray>{ScriptedPop3Server::toWire(clean)});

    // Exactly one archive file, inside the folder, holding the message as
    // sent behind the inert prefix.
    QCOMPARE(folder.archive(), QStringList{archiveName});
    const QByteArray archived = folder.read(u"SpamDeleted/"_s + archiveName);
    const QByteArray expected = Scan::ArchiveWriter::inertPrefix() + ScriptedPop3Server::toWire(message).chopped(2);
    QCOMPARE(archived.size(), expected.size());
    QVERIFY(archived == expected);
    QDirIterator it(folder.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(u".html"_s))
            QVERIFY2(path.startsWith(folder.file(u"SpamDeleted/"_s)), qPrintable(path));
    }
    QVERIFY(!QFile::exists(folder.file(u"../escape.html"_s)));
    QVERIFY(!QFile::exists(folder.file(u"../../escape.html"_s)));
}

void tst_HostileMessages::mailboxBeyondTheMessageLimit()
{
    constexpr int Count = Scan::MailboxScanner::MaxCount + 100;
    ScriptedPop3Server server;
    server.addGeneratedMailbox(u"big"_s, u"p"_s, Count, [](int n) -> QByteArray {
        return "From: n" + QByteArray::number(n) + "@example.org\nSubject: " + QByteArray::number(n) + "\n\nx\n";
    });
    QVERIFY(server.start());

    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,big,p\r\n"));
    auto form = ProgramTest::openWindow(folder);
    ProgramTest::blacklistOnly(*form);
    form->checkblacklist()->setCheckState(Qt::Unchecked);
    form->Tarnpost1().setPOPPort(server.port());
    form->Tarnpost1().setPOPTimeout(5);
    form->txttotalemailsever()->setText(u"0"_s);

    Scan::MailboxScanner scanner(*form);
    QStringList captions;
    connect(&scanner, &Scan::MailboxScanner::captionWritten, this, [&](const QString &c) { captions << c; });
    scanner.run();

    // Every message the 16-bit numbers reach is scanned, none beyond, and the
    // session still ends with QUIT.
    QCOMPARE(form->txttotalemailsever()->text(), QString::number(Scan::MailboxScanner::MaxCount));
    QCOMPARE(server.highestMessageRequested(u"big"_s), Scan::MailboxScanner::MaxCount);
    QCOMPARE(server.commands(u"big"_s).last(), QByteArray("QUIT"));
    QCOMPARE(server.mailbox(u"big"_s).size(), Count);
    QCOMPARE(captions.size(), 3);
    QCOMPARE(captions.first(), u"Scanning 127.0.0.1 (big)\u2026"_s);
    QCOMPARE(captions.at(1), u"Only the first 32767 of %1 messages in this mailbox were scanned."_s.arg(Count));
    QCOMPARE(form->Label17()->text(),
             u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s);
    std::printf("mailbox of %d messages: %d scanned\n", Count, Scan::MailboxScanner::MaxCount);
}

void tst_HostileMessages::largeMessageHeldOnce_data()
{
    QTest::addColumn<QByteArray>("line"); // the body is this line, many times over
    QTest::newRow("ASCII") << QByteArray("the quick brown fox jumps over the lazy dog, again and again and again\n");
    QTest::newRow("UTF-8") << QByteArray("\xc5\xbc\xc3\xb3\xc5\x82w, caf\xc3\xa9, \xe2\x82\xac 5, "
                                         "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 and more text\n");
    QTest::newRow("Latin-1") << QByteArray("caf\xe9 cr\xe8me br\xfbl\xe9"
                                           "e and \xe0 la carte, again and again\n");
}

void tst_HostileMessages::largeMessageHeldOnce()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer's allocator keeps freed memory, so resident size says nothing here");
#endif
    QFETCH(QByteArray, line);
    // The keyword stands on the last line: the whole body is judged.
    constexpr qsizetype BodySize = qsizetype(48) << 20;
    QByteArray message =
        "From: bulk@example.org\nSubject: large\n\n" + line.repeated(BodySize / line.size()) + "the end: zzfinalword\n";
    const qsizetype wireSize = ScriptedPop3Server::toWire(message).size();
    ScriptedPop3Server server;
    server.addMailbox(u"u"_s, u"p"_s, {message});
    message = QByteArray();
    QVERIFY(server.start());

    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,u,p\r\n"));
    QVERIFY(folder.write(u"keywords.dat"_s, "zzfinalword\r\n"));
    auto form = ProgramTest::openWindow(folder);
    ProgramTest::setRules(*form, Qt::Unchecked, Qt::Unchecked, Qt::Unchecked, Qt::Checked);
    form->Tarnpost1().setPOPPort(server.port());
    form->Tarnpost1().setPOPTimeout(10);
    form->txtEmailsBlockedCount()->setText(u"0"_s);

    if (!resetPeak())
        QSKIP("the peak resident size cannot be reset here");
    const long before = statusKb("VmRSS:");
    Scan::MailboxScanner(*form).run();
    const long peak = statusKb("VmHWM:");
    QCOMPARE(form->txtEmailsBlockedCount()->text(), u"1"_s);
    QCOMPARE(QFileInfo(folder.file(u"SpamDeleted/large.html"_s)).size(),
             Scan::ArchiveWriter::inertPrefix().size() + wireSize - 2);

    // The control holds the message as text (two bytes a byte) while the
    // rules read it in place; a second copy would make it four.
    const double growth = double(peak - before) * 1024.0 / double(wireSize);
    std::printf("message of %lld bytes: peak grew by %.2f times its size\n", qlonglong(wireSize), growth);
    QVERIFY2(growth < 2.5, qPrintable(u"peak grew by %1 times the message size"_s.arg(growth)));
}

QTEST_MAIN(tst_HostileMessages)
#include "tst_hostilemessages.moc"
