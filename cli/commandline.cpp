#include "cli/commandline.h"

#include "cli/trainingcommand.h"
#include "platform/messagebox/messagebox.h"
#include "pop3/host/tarnpostsite.h"
#include "scan/headlessform.h"
#include "scan/mailboxscanner.h"
#include "scan/scanlock.h"
#include "scan/scanreport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QtGlobal>

#include <algorithm>

#include <cstring>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// A scan that finds the folder busy for longer than this stops reporting
// "try later": a timer would otherwise count every refusal as success while
// the holder hangs (the window waiting hours for an answer to a box).
constexpr qint64 BusyLimitMinutes = 60;

QString fileText(const QString &path) { return ScanReport::safeText(QDir::toNativeSeparators(path), -1); }

// The lists the window loads; a missing one is an empty list, as in the
// window, except the accounts, without which there is nothing to scan.
QString unreadableFile(const QString &folder)
{
    static const char *const names[] = {"accounts.dat", "whitelist.dat", "blacklist.dat", "keywords.dat", "stats.dat"};
    for (const char *name : names) {
        QFile file(folder + u'/' + QLatin1StringView(name));
        if (!file.exists()) {
            if (std::strcmp(name, "accounts.dat") == 0)
                return u"No accounts.dat in %1."_s.arg(fileText(folder));
            continue;
        }
        if (!file.open(QIODevice::ReadOnly))
            return u"Cannot read %1: %2."_s.arg(fileText(file.fileName()), file.errorString());
    }
    return {};
}

int scan(const QString &folder, bool json, QTextStream &out, QTextStream &err)
{
    if (const QString problem = unreadableFile(folder); !problem.isEmpty()) {
        err << problem << u'\n';
        return CommandLine::BadUsage;
    }

    ScanLock lock(folder);
    switch (lock.tryLock()) {
    case ScanLock::Result::Locked: break;
    case ScanLock::Result::Busy: {
        const qint64 minutes = lock.heldForSeconds() / 60;
        if (minutes > BusyLimitMinutes) {
            err << u"Another scan of %1 has been running for %2 minutes (process %3); it may be stuck, "
                   "for instance the window waiting for an answer to a box."_s.arg(fileText(folder))
                       .arg(minutes)
                       .arg(lock.ownerPid())
                << u'\n';
            return CommandLine::FolderStuck;
        }
        if (const qint64 pid = lock.ownerPid(); pid > 0)
            err << u"Another scan of %1 is running (process %2)."_s.arg(fileText(folder)).arg(pid) << u'\n';
        else
            err << u"Another scan of %1 is starting."_s.arg(fileText(folder)) << u'\n';
        return CommandLine::FolderBusy;
    }
    case ScanLock::Result::Failed:
        err << u"Cannot lock %1: %2."_s.arg(fileText(lock.path()), lock.errorString()) << u'\n';
        return CommandLine::BadUsage;
    }

    // Nobody is there to answer a box: should one be asked for, it takes
    // its first button at once instead of waiting.
    MessageBox::setTestMode(true);

    HeadlessForm form(folder);
    Automation::TarnpostSite control;
    // The program's own control, never a library found in the folder scanned.
    if (!control.create(QCoreApplication::applicationDirPath(), nullptr)) {
        err << u"Cannot load the POP3 control: "_s << ScanReport::safeText(control.errorString(), -1) << u'\n';
        return CommandLine::BadUsage;
    }
    form.Tarnpost1().reset(control.proxy().qobject());
    form.load();

    MailboxScanner scanner(form);
    scanner.run();

    const QList<AccountResult> &results = scanner.results();
    QStringList problems = scanner.problems();
    if (!results.isEmpty() && !form.statisticsWritten())
        problems.append(u"Cannot write %1: %2"_s.arg(fileText(folder + u"/stats.dat"_s), form.statisticsError()));
    for (const MessageBox::Record &box : MessageBox::records())
        problems.append(box.title + u": "_s + box.text);

    const ScanReport report(folder, results, problems);
    out << (json ? report.json() : report.text());
    out.flush();
    err << report.problemsText();

    const bool failed =
        std::any_of(results.cbegin(), results.cend(), [](const AccountResult &r) { return r.failed(); });
    if (failed)
        return CommandLine::AccountFailed;
    return problems.isEmpty() ? CommandLine::Scanned : CommandLine::ScannedWithProblems;
}

} // namespace

bool CommandLine::wanted(int argc, const char *const *argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strncmp(arg, "--", 2) == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-v") == 0)
            return true;
    }
    return false;
}

void CommandLine::prepareHeadless()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A desktop theme plugin may want the display all the same.
    qunsetenv("QT_QPA_PLATFORMTHEME");
    // Qt warns on every start when cron runs it without XDG_RUNTIME_DIR,
    // which would mail the warning after every scan; nothing here needs that folder.
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (type == QtWarningMsg && text.startsWith(u"QStandardPaths: XDG_RUNTIME_DIR not set"_s))
            return;
        if (previous)
            previous(type, context, text);
    });
}

QString CommandLine::helpText()
{
    return u"Usage: quellmail [--scan [--json] | --train spam|ham PATH... | --learn-archive |\n"
           "                  --forget PATH...] [--folder DIR]\n"
           "\n"
           "Without options Quellmail starts with its window and tray icon.\n"
           "\n"
           "  --scan         Scan every account of the program folder once with the saved\n"
           "                 lists and settings, print what was done and exit. No window,\n"
           "                 tray or message box; no display is needed. Each condemned\n"
           "                 message is listed (\"Spam from\" the sender when it is deleted,\n"
           "                 \"Held for review:\" when it stays on the server), then one line\n"
           "                 per account and a summary; problems go to standard error.\n"
           "  --json         With --scan: print the result as one JSON object.\n"
           "  --train KIND PATH...\n"
           "                 Teach the learned filter that the messages of these mbox files\n"
           "                 or Maildir folders are spam (KIND spam) or legitimate (ham).\n"
           "                 Prints per folder how many were new and how many it knew\n"
           "                 already; damaged messages are passed over and named on\n"
           "                 standard error.\n"
           "  --learn-archive\n"
           "                 Learn the spam archive as spam, except what the user kept and\n"
           "                 what only the learned filter condemned.\n"
           "  --forget PATH...\n"
           "                 Take the messages of these folders back out of what the filter\n"
           "                 learned, whichever kind they were learned as.\n"
           "  --folder DIR   The program folder whose accounts, lists, settings and learned\n"
           "                 filter are used (default: the folder that holds the program).\n"
           "                 The POP3 control is always the program's own libtarnpostctl.so;\n"
           "                 none is loaded from DIR.\n"
           "  -h, --help     Show this help and exit.\n"
           "  -v, --version  Show the version and exit.\n"
           "\n"
           "Exit status:\n"
           "   0  every account was scanned; every message was learned or forgotten\n"
           "   1  bad usage, or a file, folder or the folder's lock that cannot be used\n"
           "      (when training: nothing was learned)\n"
           "   2  at least one account failed; a training stopped part-way\n"
           "   3  done, but with problems (on standard error), such as damaged messages\n"
           "   4  another scan has held the folder for more than %1 minutes\n"
           "  75  another scan of the folder is running; nothing was done\n"_s.arg(BusyLimitMinutes);
}

int CommandLine::run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(QStringList{u"v"_s, u"version"_s});
    const QCommandLineOption scanOption(u"scan"_s);
    const QCommandLineOption json(u"json"_s);
    const QCommandLineOption folder(u"folder"_s, QString(), u"DIR"_s);
    const QCommandLineOption train(u"train"_s, QString(), u"KIND"_s);
    const QCommandLineOption learnArchive(u"learn-archive"_s);
    const QCommandLineOption forget(u"forget"_s);
    parser.addOptions({help, version, scanOption, json, folder, train, learnArchive, forget});

    const auto usage = [&](const QString &problem) {
        err << problem << u"\nTry 'quellmail --help'.\n"_s;
        return BadUsage;
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    const QStringList paths = parser.positionalArguments();
    const bool takesPaths = parser.isSet(train) || parser.isSet(forget);
    if (!paths.isEmpty() && !takesPaths)
        return usage(u"Unexpected argument: "_s + paths.constFirst());
    if (parser.isSet(help)) {
        out << helpText();
        return Scanned;
    }
    if (parser.isSet(version)) {
        out << u"quellmail "_s << QCoreApplication::applicationVersion() << u'\n';
        return Scanned;
    }
    const int actions = int(parser.isSet(scanOption)) + int(parser.isSet(train)) + int(parser.isSet(learnArchive))
                        + int(parser.isSet(forget));
    if (actions > 1)
        return usage(u"Choose one of --scan, --train, --learn-archive and --forget."_s);
    if (parser.isSet(json) && !parser.isSet(scanOption))
        return usage(actions == 0 ? u"--json and --folder go with --scan."_s : u"--json goes with --scan."_s);
    if (actions == 0)
        return usage(u"--folder goes with --scan, --train, --learn-archive or --forget."_s);
    if (parser.isSet(train) && parser.value(train) != u"spam"_s && parser.value(train) != u"ham"_s)
        return usage(u"--train takes spam or ham, not '%1'."_s.arg(ScanReport::safeText(parser.value(train), -1)));
    if (takesPaths && paths.isEmpty())
        return usage(u"--%1 needs at least one mbox file or Maildir folder."_s.arg(parser.isSet(train) ? u"train"_s
                                                                                                       : u"forget"_s));

    const QString given = parser.isSet(folder) ? parser.value(folder) : QCoreApplication::applicationDirPath();
    const QFileInfo info(given);
    if (given.isEmpty() || !info.isDir())
        return usage(u"No program folder at %1."_s.arg(QDir::toNativeSeparators(given)));
    if (parser.isSet(scanOption))
        return scan(info.absoluteFilePath(), parser.isSet(json), out, err);
    using Action = TrainingCommand::Action;
    const Action action = parser.isSet(learnArchive)         ? Action::LearnArchive
                          : parser.isSet(forget)             ? Action::Forget
                          : parser.value(train) == u"spam"_s ? Action::Spam
                                                             : Action::Ham;
    return TrainingCommand::run(action, info.absoluteFilePath(), paths, out, err);
}

} // namespace Scan
