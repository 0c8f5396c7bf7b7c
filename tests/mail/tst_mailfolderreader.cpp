// Reading the user's mail folders for training: where an mbox message ends,
// how quoted From lines come back, which Maildir files count, and what is
// refused.

#include "mail/mailclientfolders.h"
#include "mail/mailfolderreader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using Scan::MailFolderReader;

namespace {

bool write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QList<QByteArray> readAll(MailFolderReader &reader)
{
    QList<QByteArray> messages;
    QByteArray message;
    while (reader.next(&message))
        messages << message;
    return messages;
}

} // namespace

class tst_MailFolderReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mbox_data();
    void mbox();
    void maildir();
    void clientFolders();
};

void tst_MailFolderReader::mbox_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<QByteArray>>("messages");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("damaged"); // of those skipped
    QTest::addColumn<int>("gone");    // deleted by the mail program, not skipped

    QTest::newRow("two messages")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: one\n\nbody 1\n\nFrom b@y Tue Jul  2 10:00:00 2002\n"
           "Subject: two\n\nbody 2\n"_ba
        << QList<QByteArray>{"Subject: one\n\nbody 1\n", "Subject: two\n\nbody 2\n"} << 0 << 0 << 0;
    QTest::newRow("quoted From lines come back one level")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: q\n\n>From the start\n>>From deeper\n> From not quoted\n"_ba
        << QList<QByteArray>{"Subject: q\n\nFrom the start\n>From deeper\n> From not quoted\n"} << 0 << 0 << 0;
    QTest::newRow("From without a blank line before is text")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: t\n\nline\nFrom here on\n"_ba
        << QList<QByteArray>{"Subject: t\n\nline\nFrom here on\n"} << 0 << 0 << 0;
    QTest::newRow("CR LF lines")
        << "From a@x Mon Jul  1 10:00:00 2002\r\nSubject: c\r\n\r\nbody\r\n\r\nFrom b@y Tue Jul  2 2002\r\nSubject: d\r\n\r\nx\r\n"_ba
        << QList<QByteArray>{"Subject: c\r\n\r\nbody\r\n", "Subject: d\r\n\r\nx\r\n"} << 0 << 0 << 0;
    QTest::newRow("last message without line end") << "From a@x Mon Jul  1 10:00:00 2002\nSubject: e\n\nno newline"_ba
                                                   << QList<QByteArray>{"Subject: e\n\nno newline"} << 0 << 0 << 0;
    QTest::newRow("a line longer than a read")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: l\n\n" + QByteArray(200000, 'z')
               + "\n\nFrom b@y\nSubject: m\n\n"_ba
        << QList<QByteArray>{"Subject: l\n\n" + QByteArray(200000, 'z') + '\n', "Subject: m\n"} << 0 << 0 << 0;
    QTest::newRow("a message over the cap is passed over, not held")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: big\n\n" + QByteArray(MailFolderReader::MaxMessageBytes, 'b')
               + "\n\nFrom b@y\nSubject: >From small\n\n>From x\n"_ba
        << QList<QByteArray>{"Subject: >From small\n\nFrom x\n"} << 1 << 0 << 0;
    QTest::newRow("a damaged message between two is passed over")
        << "From a@x\nSubject: one\n\n1\n\nFrom b@y\n\x7f\x00\x01garbage: \x00\n\nmortgage\n\nFrom c@z\nSubject: three\n\n3\n"_ba
        << QList<QByteArray>{"Subject: one\n\n1\n", "Subject: three\n\n3\n"} << 1 << 1 << 0;
    QTest::newRow("text with no header at all")
        << "From a@x\nthis is no header\nSubject: late\n\nbody\n"_ba << QList<QByteArray>{} << 1 << 1 << 0;
    QTest::newRow("empty file") << QByteArray() << QList<QByteArray>{} << 0 << 0 << 0;
    // Thunderbird keeps what it deleted until it compacts the folder.
    QTest::newRow("deleted and partly fetched messages are not the user's")
        << "From a@x\nX-Mozilla-Status: 0009\nSubject: moved to the inbox\n\n1\n\nFrom b@y\nSubject: two\n"
           "X-Mozilla-Status: 0001\n\n2\n\nFrom c@z\nX-Mozilla-Status: 0401\nSubject: stub\n\n3\n"_ba
        << QList<QByteArray>{"Subject: two\nX-Mozilla-Status: 0001\n\n2\n"} << 0 << 0 << 2;
    QTest::newRow("NUL bytes over a From_ line merge two messages: damaged")
        << "From a@x\nSubject: one\n\n1\n"_ba + QByteArray(40, '\0') + "b@y\nSubject: two\n\n2\n"_ba
        << QList<QByteArray>{} << 1 << 1 << 0;
    QTest::newRow("a file cut off inside the last header")
        << "From a@x\nSubject: one\n\n1\n\nFrom b@y\nFrom: x\nSubj"_ba << QList<QByteArray>{"Subject: one\n\n1\n"} << 1
        << 1 << 0;
}

void tst_MailFolderReader::mbox()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<QByteArray>, messages);
    QFETCH(int, skipped);
    QFETCH(int, damaged);
    QFETCH(int, gone);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"inbox"_s);
    QVERIFY(write(path, file));
    QCOMPARE(MailFolderReader::detect(path), MailFolderReader::Format::Mbox);
    MailFolderReader reader(path);
    QVERIFY2(reader.open(), qPrintable(reader.errorText()));
    QCOMPARE(readAll(reader), messages);
    QCOMPARE(reader.skipped(), skipped);
    QCOMPARE(reader.damaged(), damaged);
    QCOMPARE(reader.gone(), gone);
    QCOMPARE(reader.firstDamage().isEmpty(), damaged == 0);
    // The count agrees with what was read, damaged messages included.
    QCOMPARE(MailFolderReader::countMessages(path), qint64(messages.size() + skipped));
}

void tst_MailFolderReader::maildir()
{
    QTemporaryDir dir;
    QDir root(dir.path());
    for (const QString &sub : {u"Mail/cur"_s, u"Mail/new"_s, u"Mail/tmp"_s})
        QVERIFY(root.mkpath(sub));
    QVERIFY(write(root.filePath(u"Mail/cur/2.host:2,S"_s), "Subject: seen\n\nb"));
    QVERIFY(write(root.filePath(u"Mail/cur/1.host:2,"_s), "Subject: first\n\na"));
    QVERIFY(write(root.filePath(u"Mail/new/3.host"_s), "Subject: new\n\nc"));
    QVERIFY(write(root.filePath(u"Mail/tmp/4.host"_s), "Subject: being delivered\n\nd"));
    QVERIFY(
        write(root.filePath(u"Mail/new/4.host"_s), "From x@y Mon Jul  1 10:00:00 2002\nSubject: kept From_ line\n\ne"));
    QVERIFY(write(root.filePath(u"Mail/new/6.host"_s), QByteArray("\0\0\0\0 lost to a crash", 20)));
    QVERIFY(write(root.filePath(u"Mail/new/.hidden"_s), "not mail"));
    QVERIFY(write(root.filePath(u"Mail/cur/7.host:2,ST"_s), "Subject: trashed\n\nt"));
    QFile huge(root.filePath(u"Mail/new/5.host"_s));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(MailFolderReader::MaxMessageBytes + 1));
    huge.close();

    const QString path = root.filePath(u"Mail"_s);
    QCOMPARE(MailFolderReader::detect(path), MailFolderReader::Format::Maildir);
    MailFolderReader reader(path);
    QVERIFY(reader.open());
    QCOMPARE(readAll(reader), (QList<QByteArray>{"Subject: first\n\na", "Subject: seen\n\nb", "Subject: new\n\nc",
                                                 "From x@y Mon Jul  1 10:00:00 2002\nSubject: kept From_ line\n\ne"}));
    QCOMPARE(reader.skipped(), 2);
    QCOMPARE(reader.damaged(), 1);
    QCOMPARE(reader.gone(), 1);
    QCOMPARE(reader.firstDamage(), root.filePath(u"Mail/new/6.host"_s));
    QCOMPARE(MailFolderReader::countMessages(path), 6);

    // Neither a Maildir nor an mbox: refused with a reason.
    QVERIFY(write(root.filePath(u"notes.txt"_s), "Dear diary\n"));
    for (const QString &other :
         {root.filePath(u"notes.txt"_s), root.filePath(u"Mail/tmp"_s), root.filePath(u"missing"_s)}) {
        MailFolderReader refused(other);
        QVERIFY(!refused.open());
        QVERIFY(!refused.errorText().isEmpty());
    }
}

void tst_MailFolderReader::clientFolders()
{
    using Scan::MailClientFolders;
    QTemporaryDir home;
    QDir root(home.path());
    const QByteArray two = "From a@x\nSubject: 1\n\na\n\nFrom b@y\nSubject: 2\n\nb\n";
    // A Thunderbird profile named relative to profiles.ini, another by its
    // full path; mbox files are those with a summary beside them.
    const QString other = root.filePath(u"elsewhere/profile"_s);
    const QString local = u".thunderbird/abcd.default/Mail/Local Folders/"_s;
    QVERIFY(root.mkpath(local + u"Archives.sbd"_s));
    QVERIFY(root.mkpath(u"elsewhere/profile/ImapMail/imap.example.com"_s));
    QVERIFY(write(root.filePath(u".thunderbird/profiles.ini"_s),
                  "[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=default\nIsRelative=1\n"
                  "Path=abcd.default\n\n[Profile1]\nName=other\nIsRelative=0\nPath="
                      + other.toUtf8() + "\n"));
    for (const QString &name : {u"Inbox"_s, u"Junk"_s, u"Trash"_s, u"Archives.sbd/2024"_s}) {
        QVERIFY(write(root.filePath(local + name), two));
        QVERIFY(write(root.filePath(local + name + u".msf"_s), "// summary"));
    }
    QVERIFY(write(root.filePath(local + u"Drafts.msf"_s), "// a summary whose folder is gone"));
    QVERIFY(write(root.filePath(local + u"Empty"_s), ""));
    QVERIFY(write(root.filePath(local + u"Empty.msf"_s), "// summary"));
    QVERIFY(write(root.filePath(local + u"filterlog.html"_s), "<p>not a folder</p>"));
    QVERIFY(write(root.filePath(u"elsewhere/profile/ImapMail/imap.example.com/INBOX"_s), two));
    QVERIFY(write(root.filePath(u"elsewhere/profile/ImapMail/imap.example.com/INBOX.msf"_s), "// summary"));
    // KMail's Maildirs, a subfolder in .inbox.directory; Evolution's local
    // Maildir++ with its inbox at the top.
    const QString kmail = u".local/share/local-mail/"_s;
    const QString evolution = u".local/share/evolution/mail/local/"_s;
    for (const QString &maildir :
         QStringList{kmail + u"inbox"_s, kmail + u".inbox.directory/Spam"_s, kmail + u"sent-mail"_s,
                     evolution.chopped(1), evolution + u".Junk"_s, evolution + u".Projects.Quell"_s}) {
        for (const QString &sub : {u"/cur"_s, u"/new"_s, u"/tmp"_s})
            QVERIFY(root.mkpath(maildir + sub));
        QVERIFY(write(root.filePath(maildir + u"/cur/1.host:2,S"_s), "Subject: x\n\nx"));
    }
    QVERIFY(write(root.filePath(kmail + u"inbox/new/2.host"_s), "Subject: y\n\ny"));
    // Claws Mail's MH mailbox, named by its folder list: numbered files, in their order.
    QVERIFY(root.mkpath(u".claws-mail"_s) && root.mkpath(u"Mail/inbox"_s) && root.mkpath(u"Mail/junk"_s)
            && root.mkpath(u"Mail/draft"_s));
    QVERIFY(write(root.filePath(u".claws-mail/folderlist.xml"_s),
                  "<?xml version=\"1.0\"?>\n<folderlist>\n<folder name=\"Mailbox\" path=\"Mail\" type=\"mh\">\n"
                  "<folderitem type=\"inbox\" name=\"inbox\" path=\"inbox\" />\n</folder>\n</folderlist>\n"));
    QVERIFY(write(root.filePath(u"Mail/inbox/10"_s), "Subject: ten\n\n10"));
    QVERIFY(write(root.filePath(u"Mail/inbox/2"_s), "Subject: two\n\n2"));
    QVERIFY(write(root.filePath(u"Mail/inbox/.mh_sequences"_s), "unseen: 10\n"));
    QVERIFY(write(root.filePath(u"Mail/junk/1"_s), "Subject: junk\n\nj"));
    MailFolderReader mh(root.filePath(u"Mail/inbox"_s));
    QVERIFY(mh.open());
    QCOMPARE(readAll(mh), (QList<QByteArray>{"Subject: two\n\n2", "Subject: ten\n\n10"}));

    QStringList found;
    for (const MailClientFolders::Folder &f : MailClientFolders::discover(home.path())) {
        QCOMPARE(MailFolderReader::detect(f.path) == MailFolderReader::Format::Unknown, false);
        const char *kind = f.kind == MailClientFolders::Kind::Spam         ? "spam"
                           : f.kind == MailClientFolders::Kind::Legitimate ? "legitimate"
                                                                           : "other";
        found << u"%1 %2: %3 %4"_s.arg(f.client, f.name, QLatin1StringView(kind)).arg(f.messages);
    }
    QCOMPARE(found, (QStringList{
                        u"Thunderbird Local Folders/Inbox: legitimate 2"_s,
                        u"Thunderbird Local Folders/Junk: spam 2"_s,
                        u"Thunderbird Local Folders/Archives/2024: legitimate 2"_s,
                        u"Thunderbird imap.example.com/INBOX: legitimate 2"_s,
                        u"Evolution Inbox: legitimate 1"_s,
                        u"Evolution Junk: spam 1"_s,
                        u"KMail inbox/Spam: spam 1"_s,
                        u"KMail inbox: legitimate 2"_s,
                        u"KMail sent-mail: legitimate 1"_s,
                        u"Claws Mail inbox: legitimate 2"_s,
                        u"Claws Mail junk: spam 1"_s,
                    }));
    // A home with no mail client finds nothing.
    QTemporaryDir empty;
    QVERIFY(MailClientFolders::discover(empty.path()).isEmpty());
}

QTEST_GUILESS_MAIN(tst_MailFolderReader)
#include "tst_mailfolderreader.moc"
