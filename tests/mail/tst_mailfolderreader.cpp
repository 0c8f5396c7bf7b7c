// Reading the user's mail folders for training: where an mbox message ends,
// how quoted From lines come back, which Maildir files count, and what is
// refused.

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
};

void tst_MailFolderReader::mbox_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<QByteArray>>("messages");
    QTest::addColumn<int>("skipped");

    QTest::newRow("two messages")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: one\n\nbody 1\n\nFrom b@y Tue Jul  2 10:00:00 2002\n"
           "Subject: two\n\nbody 2\n"_ba
        << QList<QByteArray>{"Subject: one\n\nbody 1\n", "Subject: two\n\nbody 2\n"} << 0;
    QTest::newRow("quoted From lines come back one level")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: q\n\n>From the start\n>>From deeper\n> From not quoted\n"_ba
        << QList<QByteArray>{"Subject: q\n\nFrom the start\n>From deeper\n> From not quoted\n"} << 0;
    QTest::newRow("From without a blank line before is text")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: t\n\nline\nFrom here on\n"_ba
        << QList<QByteArray>{"Subject: t\n\nline\nFrom here on\n"} << 0;
    QTest::newRow("CR LF lines")
        << "From a@x Mon Jul  1 10:00:00 2002\r\nSubject: c\r\n\r\nbody\r\n\r\nFrom b@y Tue Jul  2 2002\r\nSubject: d\r\n\r\nx\r\n"_ba
        << QList<QByteArray>{"Subject: c\r\n\r\nbody\r\n", "Subject: d\r\n\r\nx\r\n"} << 0;
    QTest::newRow("last message without line end") << "From a@x Mon Jul  1 10:00:00 2002\nSubject: e\n\nno newline"_ba
                                                   << QList<QByteArray>{"Subject: e\n\nno newline"} << 0;
    QTest::newRow("a line longer than a read")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: l\n\n" + QByteArray(200000, 'z')
               + "\n\nFrom b@y\nSubject: m\n\n"_ba
        << QList<QByteArray>{"Subject: l\n\n" + QByteArray(200000, 'z') + '\n', "Subject: m\n"} << 0;
    QTest::newRow("a message over the cap is passed over, not held")
        << "From a@x Mon Jul  1 10:00:00 2002\nSubject: big\n\n" + QByteArray(MailFolderReader::MaxMessageBytes, 'b')
               + "\n\nFrom b@y\nSubject: >From small\n\n>From x\n"_ba
        << QList<QByteArray>{"Subject: >From small\n\nFrom x\n"} << 1;
    QTest::newRow("empty file") << QByteArray() << QList<QByteArray>{} << 0;
}

void tst_MailFolderReader::mbox()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<QByteArray>, messages);
    QFETCH(int, skipped);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"inbox"_s);
    QVERIFY(write(path, file));
    QCOMPARE(MailFolderReader::detect(path), MailFolderReader::Format::Mbox);
    MailFolderReader reader(path);
    QVERIFY2(reader.open(), qPrintable(reader.errorText()));
    QCOMPARE(readAll(reader), messages);
    QCOMPARE(reader.skipped(), skipped);
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
    QVERIFY(write(root.filePath(u"Mail/new/.hidden"_s), "not mail"));
    QFile huge(root.filePath(u"Mail/new/5.host"_s));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(MailFolderReader::MaxMessageBytes + 1));
    huge.close();

    const QString path = root.filePath(u"Mail"_s);
    QCOMPARE(MailFolderReader::detect(path), MailFolderReader::Format::Maildir);
    MailFolderReader reader(path);
    QVERIFY(reader.open());
    QCOMPARE(readAll(reader), (QList<QByteArray>{"Subject: first\n\na", "Subject: seen\n\nb", "Subject: new\n\nc"}));
    QCOMPARE(reader.skipped(), 1);

    // Neither a Maildir nor an mbox: refused with a reason.
    QVERIFY(write(root.filePath(u"notes.txt"_s), "Dear diary\n"));
    for (const QString &other :
         {root.filePath(u"notes.txt"_s), root.filePath(u"Mail/tmp"_s), root.filePath(u"missing"_s)}) {
        MailFolderReader refused(other);
        QVERIFY(!refused.open());
        QVERIFY(!refused.errorText().isEmpty());
    }
}

QTEST_GUILESS_MAIN(tst_MailFolderReader)
#include "tst_mailfolderreader.moc"
