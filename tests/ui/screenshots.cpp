// Writes one picture of the main window per tab into the folder given as
// the only argument, with a little sample data so the lists are not empty.

#include "learn/learnedfilter.h"
#include "platform/messagebox/messagebox.h"
#include "state/reviewlist.h"
#include "state/scanlog.h"
#include "state/statedatabase.h"
#include "tests/support/learningexamples.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <iterator>

using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

// A few condemned messages and scans for the Spam and Log tabs.
void writeRecords(const QString &folder)
{
    StateDatabase db(folder);
    if (!db.open())
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    ScanLog log(db);
    const struct
    {
        const char *server, *login;
        int scanned, condemned, deleted;
        const char *outcome;
    } scans[] = {{"mail.example.org", "alice", 42, 3, 2, ""},
                 {"pop.example.net", "bob.smith", 0, 0, 0,
                  "Error received from PASS command: -ERR [AUTH] Authentication failed."},
                 {"mail.example.org", "alice", 17, 1, 1, ""}};
    for (const auto &scan : scans) {
        const qint64 id = log.begin(QString::fromLatin1(scan.server), QString::fromLatin1(scan.login), now);
        log.finish({id, {}, {}, {}, scan.scanned, scan.condemned, scan.deleted, QString::fromLatin1(scan.outcome)});
    }
    ReviewList review(db);
    const struct
    {
        const char *sent, *sender, *subject, *rule, *entry, *where;
        ReviewList::State state;
    } messages[] = {
        {"Mon, 7 Dec 2026 09:12:44 +0000", "offers@spam.example", "Exclusive offers inside", "blacklist",
         "offers@spam.example", "sender", ReviewList::State::Deleted},
        {"Mon, 7 Dec 2026 11:40:02 +0000", "lottery@winner.example", "You are a WINNER", "keyword", "winner", "subject",
         ReviewList::State::Held},
        {"Tue, 8 Dec 2026 07:05:19 +0000", "news@shop.example", "Weekly deals", "keyword", "act now", "body",
         ReviewList::State::DeleteRequested},
        {"Tue, 8 Dec 2026 08:30:51 +0000", "pharmacy@meds.example", "Re: your order", "learned filter", "0.998",
         "url:meds.example, pills, subject:order, discount, pharmacy", ReviewList::State::Held},
    };
    for (const auto &m : messages) {
        ReviewList::Message row;
        row.server = u"mail.example.org"_s;
        row.login = u"alice"_s;
        row.uid = QString::fromLatin1(m.subject);
        row.sent = QString::fromLatin1(m.sent);
        row.judged = QDateTime::fromString(row.sent, Qt::RFC2822Date).addSecs(7 * 60); // caught at the next scan
        row.sender = QString::fromLatin1(m.sender);
        row.subject = QString::fromLatin1(m.subject);
        row.size = 5120;
        row.rule = QString::fromLatin1(m.rule);
        row.entry = QString::fromLatin1(m.entry);
        row.matchedIn = QString::fromLatin1(m.where);
        row.state = m.state;
        review.add(row);
    }
    Scan::LearnedFilter filter(db);
    if (!filter.open())
        return;
    filter.learn(LearningExamples::small());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: quellmail_screenshots <output folder>");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(output);
    MessageBox::setTestMode(true);

    QTemporaryDir folder;
    writeFile(folder.filePath(u"accounts.dat"_s),
              "mail.example.org,alice,secret\r\npop.example.net,bob.smith,hunter2\r\n");
    writeFile(folder.filePath(u"whitelist.dat"_s), "friend@example.org\r\nnewsletter@example.com\r\n");
    writeFile(folder.filePath(u"blacklist.dat"_s), "bulkmailer.example\r\noffers@spam.example\r\n");
    writeFile(folder.filePath(u"keywords.dat"_s), "free money\r\nact now\r\nwinner\r\n");
    writeFile(folder.filePath(u"stats.dat"_s),
              "2\r\n2\r\n2\r\n3\r\n17\r\n1284\r\n 1 \r\n15\r\n 1 \r\n 1 \r\n 0 \r\n 1 \r\n");
    writeFile(folder.filePath(u"index.html"_s),
              "<html><body><h2>Quellmail</h2><p>Quellmail checks your POP3 mailboxes and removes "
              "spam before it reaches your inbox.</p><p>Add your accounts on the Accounts tab, then "
              "choose the filters on the Settings tab and press <b>Save Settings</b>.</p></body></html>");

    writeFile(folder.filePath(u"settings.ini"_s), "[LearnedFilter]\nenabled=true\nthreshold=0.95\n");
    writeRecords(folder.path());

    frmMain form(folder.path());
    form.setTrayAvailabilityCheck([] { return true; });
    form.runLoadSequence();

    const char *names[] = {"accounts", "whitelist", "blacklist", "keywords", "settings", "help", "spam", "log"};
    constexpr int Tabs = int(std::size(names));
    int written = 0;
    auto *tabs = form.findChild<QTabWidget *>(u"SSTab1"_s);
    for (int tab = 0; tab < tabs->count() && tab < Tabs; ++tab) {
        tabs->setCurrentIndex(tab);
        QApplication::processEvents();
        const QString path = output + u"/main-window-"_s + QString::fromLatin1(names[tab]) + u".png"_s;
        if (form.grab().save(path))
            ++written;
    }
    return written == Tabs ? 0 : 1;
}
