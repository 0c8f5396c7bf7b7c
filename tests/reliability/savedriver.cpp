// A stand-in for the program that only saves: it opens the main window on a
// folder and writes its data files through the same code paths as "Save
// Settings" and the end of a scan. tst_interruptedsaves runs it as a child.
//
//   savedriver loop <folder> <rows> <first> [count]
//                                       alternate both saves, generation after
//                                       generation from <first>, until killed
//                                       (or after count generations)
//   savedriver once <folder> [nobody] [fsize=<bytes>]
//                                       load, add a row to each list, save once,
//                                       print the message boxes shown

#include "config/listkind.h"
#include "config/listtable.h"
#include "platform/messagebox/messagebox.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const ListKind Kinds[] = {ListKind::Accounts, ListKind::Whitelist, ListKind::Blacklist, ListKind::Keywords};

// Every row names its generation, so a file mixing two saves is caught.
void fill(frmMain &form, int generation, int rows)
{
    for (ListKind kind : Kinds) {
        ListTable *table = Lists::table(form, kind);
        table->removeAll();
        table->setColumnCount(kind == ListKind::Accounts ? 3 : 1);
        const int count = kind == ListKind::Accounts ? rows / 10 : rows;
        for (int i = 0; i < count; ++i) {
            const QString tag = u"gen%1-%2-%3"_s.arg(generation).arg(int(kind)).arg(i);
            if (kind == ListKind::Accounts)
                Lists::appendRow(form, kind, {tag + u".example.org"_s, u"user"_s, tag});
            else
                Lists::appendRow(form, kind, {tag});
        }
    }
    form.txtEmailsBlockedCount()->setText(QString::number(generation));
    form.txttotalemailsever()->setText(QString::number(generation));
}

int loop(const QString &folder, int rows, int first, int count)
{
    MessageBox::setTestMode(true);
    frmMain form(folder);
    std::printf("saving\n");
    std::fflush(stdout);
    for (int generation = first; count <= 0 || generation < first + count; ++generation) {
        fill(form, generation, rows);
        // The test reads these to know whether its kill hit a save.
        std::printf("begin\n");
        std::fflush(stdout);
        if (generation % 2)
            form.findChild<QPushButton *>(u"cmdupdateconfig"_s)->click();
        else
            form.writeStatistics();
        std::printf("end\n");
        std::fflush(stdout);
    }
    return 0;
}

int once(const QString &folder, const QStringList &options)
{
    for (const QString &option : options) {
        if (option == u"nobody"_s && ::geteuid() == 0) {
            // Root writes anywhere; a read-only folder needs an ordinary user.
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                return 4;
        } else if (option.startsWith(u"fsize="_s)) {
            // A full disk, as the writer sees it: writes past the limit fail.
            std::signal(SIGXFSZ, SIG_IGN);
            const rlim_t limit = option.mid(6).toULongLong();
            const rlimit r{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &r) != 0)
                return 5;
        }
    }
    MessageBox::setTestMode(true);
    MessageBox::clearRecords();
    frmMain form(folder);
    form.runLoadSequence();
    for (ListKind kind : Kinds)
        Lists::appendRow(form, kind, {u"added.example.org"_s, u"new"_s, u"row"_s});
    form.txttotalemailsever()->setText(u"999"_s);
    form.findChild<QPushButton *>(u"cmdupdateconfig"_s)->click();
    form.writeStatistics();
    // The boxes the user saw, one line each.
    std::printf("boxes=%d\n", int(MessageBox::records().size()));
    for (const MessageBox::Record &record : MessageBox::records()) {
        const QString text = QString(record.text).replace(u"\r\n"_s, u"|"_s);
        std::printf("%s %s\n", qPrintable(record.title), qPrintable(text));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 5 && args.at(1) == u"loop"_s)
        return loop(args.at(2), args.at(3).toInt(), args.at(4).toInt(), args.value(5).toInt());
    if (args.size() >= 3 && args.at(1) == u"once"_s)
        return once(args.at(2), args.mid(3));
    std::fprintf(stderr,
                 "usage: savedriver loop <folder> <rows> <first> [count] | once <folder> [nobody] [fsize=<bytes>]\n");
    return 2;
}
