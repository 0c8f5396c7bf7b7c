// A long scan: 20,000 messages in one mailbox, one in a hundred spam. The
// scan must finish with every message counted, and the process's memory must
// stay flat while it runs (a per-message leak would show as steady growth).
// Under the sanitizer build the leak checker also runs at exit.

#include "scan/mailboxscanner.h"
#include "tests/support/programfolder.h"
#include "tests/support/scriptedpop3server.h"

#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

#include <cstdio>

using namespace Qt::StringLiterals;

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

constexpr int Messages = 20000;
constexpr int SpamEvery = 100;
// Growth allowed between the first fifth of the scan and its end: allocator
// slack and caches, far below what a leak of even 1 KB per message makes.
constexpr qint64 AllowedGrowthKb = 16 * 1024;

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer keeps freed blocks in quarantine, so the resident size grows
// with all that was ever freed; the bytes still allocated are where a leak shows.
qint64 memoryKb() { return qint64(__sanitizer_get_current_allocated_bytes() / 1024); }
#else
// The resident size.
qint64 memoryKb()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
#endif

} // namespace

class tst_Soak : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twentyThousandMessages();
};

void tst_Soak::twentyThousandMessages()
{
    ScriptedPop3Server server;
    server.addGeneratedMailbox(u"soak"_s, u"p"_s, Messages, [](int n) -> QByteArray {
        const QByteArray domain = n % SpamEvery == 0 ? "spam.example" : "example.org";
        return "Received: from mx (mx [192.0.2.1])\nFrom: sender" + QByteArray::number(n) + "@" + domain
               + "\nSubject: message " + QByteArray::number(n) + "\n\n" + QByteArray(2000, 'b') + "\nend\n";
    });
    QVERIFY(server.start());

    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "127.0.0.1,soak,p\r\n"));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    QVERIFY(folder.write(u"keywords.dat"_s, "never-there\r\n"));
    auto form = ProgramTest::openWindow(folder);
    ProgramTest::blacklistOnly(*form);
    form->checkkeywords()->setCheckState(Qt::Checked);
    form->checkspamcop()->setCheckState(Qt::Checked);
    form->Tarnpost1().setPOPPort(server.port());
    form->Tarnpost1().setPOPTimeout(10);
    form->txttotalemailsever()->setText(u"0"_s);
    form->txtEmailsBlockedCount()->setText(u"0"_s);

    // Memory is sampled while the scan yields; the baseline is taken once a
    // fifth of the messages are done, when every cache has been filled once.
    qint64 baseline = -1;
    qint64 peak = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        const qint64 done = form->txttotalemailsever()->text().toLongLong();
        const qint64 rss = memoryKb();
        if (baseline < 0 && done >= Messages / 5)
            baseline = rss;
        if (baseline >= 0)
            peak = std::max(peak, rss);
    });
    sampler.start(100);
    Scan::MailboxScanner(*form).run();
    sampler.stop();

    QCOMPARE(form->txttotalemailsever()->text(), QString::number(Messages));
    QCOMPARE(form->txtEmailsBlockedCount()->text(), QString::number(Messages / SpamEvery));
    QCOMPARE(server.mailbox(u"soak"_s).size(), Messages - Messages / SpamEvery);
    QCOMPARE(folder.archive().size(), Messages / SpamEvery);
    QVERIFY2(baseline > 0, "memory was never sampled during the scan");
    std::printf("soak: %d messages, memory %lld KB after a fifth, peak %lld KB after\n", Messages, baseline, peak);
    QVERIFY2(peak - baseline < AllowedGrowthKb,
             qPrintable(u"memory grew from %1 KB to %2 KB"_s.arg(baseline).arg(peak)));
}

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
