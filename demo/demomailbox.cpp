#include "demo/demomailbox.h"

#include "dovecot/dovecotserver.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

using namespace Qt::StringLiterals;

const QString DemoMailbox::User = u"demo"_s;
const QString DemoMailbox::Password = u"demo"_s;

namespace {

QByteArray message(const char *from, const char *subject, const char *ip, const char *body)
{
    return QByteArray("Received: from mail.sender.example ([") + ip
           + "]) by mx.demo.example; Mon, 4 Mar 2024 09:12:00 +0000\n"
             "From: "
           + from
           + "\n"
             "To: demo@demo.example\n"
             "Subject: "
           + subject
           + "\n"
             "Date: Mon, 4 Mar 2024 09:12:00 +0000\n"
             "\n"
           + body;
}

bool writeLines(const QString &path, const QStringList &lines, bool ownerOnly, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = u"cannot write "_s + path + u": "_s + file.errorString();
        return false;
    }
    if (ownerOnly)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const QString &line : lines)
        file.write(line.toUtf8() + "\r\n");
    if (!file.commit()) {
        *error = u"cannot write "_s + path + u": "_s + file.errorString();
        return false;
    }
    return true;
}

} // namespace

QList<QByteArray> DemoMailbox::messages()
{
    return {
        message("Anna Berg <anna@friends.example>", "Lunch on Friday?", "198.51.100.20",
                "Hi,\n\nare we still on for lunch on Friday at noon?\n\nAnna\n"),
        message("Deals Daily <offers@bulk-deals.example>", "Your weekly deals", "203.0.113.45",
                "Thousands of offers are waiting for you.\nClick here to see them all.\n"),
        message("Tom Ruiz <tom@family.example>", "Guess who won the lottery", "198.51.100.31",
                "Not me! But Aunt Mia says she is a lottery winner now.\n"
                "Dinner at her place on Sunday.\n\nTom\n"),
        message("Prize Office <claims@prize-center.example>", "You are our LOTTERY WINNER", "203.0.113.77",
                "Send your bank details today to claim your prize.\n"),
        message("Health Store <sales@pharma-shop.example>", "Important notice for you", "203.0.113.90",
                "Dear customer,\n\nbuy CHEAP PILLS online without a prescription.\n"),
        message("Build robot <builds@ci.example>", "Build 42 passed", "198.51.100.5", "All 128 tests passed.\n"),
    };
}

void DemoMailbox::fill(DovecotServer &server)
{
    server.addUser(User, Password);
    const QList<QByteArray> all = messages();
    for (const QByteArray &content : all)
        server.addMessage(User, content);
}

QString DemoMailbox::writeProgramFolder(const QString &folder, const QString &server)
{
    QString error;
    // The archive holds the user's mail: its owner only.
    if (!QDir().mkpath(folder + u"/SpamDeleted"_s)
        || !QFile::setPermissions(folder + u"/SpamDeleted"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return u"cannot create "_s + folder + u"/SpamDeleted"_s;
    const QStringList keywords = {u"lottery winner"_s, u"cheap pills"_s, u"casino"_s};
    // Lines: four list sizes, spam blocked, total scanned, auto-scan, minutes,
    // then the whitelist, blacklist, sender IP and keyword switches.
    // A scan every second minute, the first one a minute after start.
    const QStringList stats = {u"1"_s,   u"1"_s,   u"1"_s,   QString::number(keywords.size()),
                               u"0"_s,   u"0"_s,   u" 1 "_s, u"1"_s,
                               u" 1 "_s, u" 1 "_s, u" 1 "_s, u" 1 "_s};
    const bool ok = writeLines(folder + u"/accounts.dat"_s, {server + u',' + User + u',' + Password}, true, &error)
                    && writeLines(folder + u"/whitelist.dat"_s, {u"family.example"_s}, false, &error)
                    && writeLines(folder + u"/blacklist.dat"_s, {u"bulk-deals.example"_s}, false, &error)
                    && writeLines(folder + u"/keywords.dat"_s, keywords, false, &error)
                    && writeLines(folder + u"/stats.dat"_s, stats, true, &error);
    return ok ? QString() : error;
}
