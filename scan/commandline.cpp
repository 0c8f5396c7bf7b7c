#include "scan/commandline.h"

#include "scan/headlessform.h"
#include "scan/mailboxscanner.h"
#include "platform/messagebox/messagebox.h"
#include "scan/scanlock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QtGlobal>

#include <cstring>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

struct Sums
{
    int failed = 0;
    int scanned = 0;
    int condemned = 0;
    int deleted = 0;
};

Sums sum(const QList<AccountResult> &results)
{
    Sums s;
    for (const AccountResult &r : results) {
        s.failed += r.failed() ? 1 : 0;
        s.scanned += r.scanned;
        s.condemned += r.condemned;
        s.deleted += r.deleted;
    }
    return s;
}

// One line per account whatever a server put into its reply.
QString oneLine(const QString &text)
{
    QString line = text;
    line.replace(u"\r\n"_s, u" "_s).replace(u'\r', u' ').replace(u'\n', u' ');
    return line.trimmed();
}

QString counts(int scanned, int condemned, int deleted)
{
    return u"%1 scanned, %2 condemned, %3 deleted"_s.arg(scanned).arg(condemned).arg(deleted);
}

void printText(QTextStream &out, const QList<AccountResult> &results)
{
    for (const AccountResult &r : results) {
        out << oneLine(r.server) << u' ' << oneLine(r.login) << u": "_s;
        if (!r.failed())
            out << counts(r.scanned, r.condemned, r.deleted);
        else if (r.scanned == 0)
            out << u"failed: "_s << oneLine(r.error);
        else
            out << u"failed: "_s << oneLine(r.error) << u" ("_s << counts(r.scanned, r.condemned, r.deleted) << u')';
        out << u'\n';
    }
    const Sums s = sum(results);
    out << results.size() << (results.size() == 1 ? u" account, "_s : u" accounts, "_s) << s.failed
        << u" failed: "_s << counts(s.scanned, s.condemned, s.deleted) << u'\n';
}

void printJson(QTextStream &out, const QString &folder, const QList<AccountResult> &results,
               const QHash<int, QStringList> &spam)
{
    QJsonArray accounts;
    for (int i = 0; i < results.size(); ++i) {
        const AccountResult &r = results.at(i);
        accounts.append(QJsonObject{
            {u"server"_s, r.server},
            {u"login"_s, r.login},
            {u"ok"_s, !r.failed()},
            {u"error"_s, r.failed() ? QJsonValue(r.error) : QJsonValue()},
            {u"scanned"_s, r.scanned},
            {u"condemned"_s, r.condemned},
            {u"deleted"_s, r.deleted},
            {u"spam"_s, QJsonArray::fromStringList(spam.value(i))},
        });
    }
    const Sums s = sum(results);
    const QJsonObject summary{
        {u"accounts"_s, int(results.size())},
        {u"failed"_s, s.failed},
        {u"scanned"_s, s.scanned},
        {u"condemned"_s, s.condemned},
        {u"deleted"_s, s.deleted},
    };
    const QJsonObject root{{u"folder"_s, folder}, {u"accounts"_s, accounts}, {u"summary"_s, summary}};
    out << QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

// The lists the window loads; a missing one is an empty list, as in the
// window, except the accounts, without which there is nothing to scan.
QString unreadableFile(const QString &folder)
{
    static const char *const names[] = {"accounts.dat", "whitelist.dat", "blacklist.dat", "keywords.dat", "stats.dat"};
    for (const char *name : names) {
        QFile file(folder + u'/' + QLatin1StringView(name));
        if (!file.exists()) {
            if (std::strcmp(name, "accounts.dat") == 0)
                return u"No accounts.dat in %1."_s.arg(QDir::toNativeSeparators(folder));
            continue;
        }
        if (!file.open(QIODevice::ReadOnly))
            return u"Cannot read %1: %2."_s.arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
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
    case ScanLock::Result::Locked:
        break;
    case ScanLock::Result::Busy:
        err << u"Another scan of %1 is running (process %2)."_s.arg(QDir::toNativeSeparators(folder)).arg(lock.ownerPid())
            << u'\n';
        return CommandLine::FolderBusy;
    case ScanLock::Result::Failed:
        err << u"Cannot lock %1: %2."_s.arg(QDir::toNativeSeparators(folder + u'/' + QLatin1StringView(ScanLock::FileName)),
                                            lock.errorString())
            << u'\n';
        return CommandLine::BadUsage;
    }

    // Nobody is there to answer a box: should one be asked for, it takes
    // its first button at once instead of waiting.
    MessageBox::setTestMode(true);

    HeadlessForm form(folder);
    QString error;
    if (!form.createControl(&error)) {
        err << u"Cannot load the POP3 control: "_s << error << u'\n';
        return CommandLine::BadUsage;
    }
    form.load();

    MailboxScanner scanner(form);
    QHash<int, QStringList> spam; // by account index, for --json
    QObject::connect(&form, &HeadlessForm::spamAnnounced, &form, [&](const QString &text) {
        if (json) {
            spam[int(scanner.results().size()) - 1].append(text);
        } else {
            out << oneLine(text) << u'\n';
            out.flush();
        }
    });
    scanner.run();

    const QList<AccountResult> &results = scanner.results();
    if (json)
        printJson(out, folder, results, spam);
    else
        printText(out, results);
    out.flush();

    if (!results.isEmpty() && !form.statisticsWritten())
        err << u"Cannot write %1."_s.arg(QDir::toNativeSeparators(folder + u"/stats.dat"_s)) << u'\n';
    for (const MessageBox::Record &box : MessageBox::records())
        err << box.title << u": "_s << box.text << u'\n';

    return sum(results).failed > 0 ? CommandLine::AccountFailed : CommandLine::Scanned;
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
    return u"Usage: quellmail [--scan [--json] [--folder DIR]]\n"
           "\n"
           "Without options Quellmail starts with its window and tray icon.\n"
           "\n"
           "  --scan         Scan every account of the program folder once with the saved\n"
           "                 lists and settings, print what was done and exit. No window,\n"
           "                 tray or message box; no display is needed.\n"
           "  --json         With --scan: print the result as one JSON object.\n"
           "  --folder DIR   With --scan: the program folder (default: the folder that\n"
           "                 holds the program).\n"
           "  -h, --help     Show this help and exit.\n"
           "  -v, --version  Show the version and exit.\n"
           "\n"
           "Exit status: 0 every account was scanned, 1 bad usage or a file that cannot\n"
           "be read, 2 an account failed, 75 another scan of the folder is running.\n"_s;
}

int CommandLine::run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(QStringList{u"v"_s, u"version"_s});
    const QCommandLineOption scanOption(u"scan"_s);
    const QCommandLineOption json(u"json"_s);
    const QCommandLineOption folder(u"folder"_s, QString(), u"DIR"_s);
    parser.addOptions({help, version, scanOption, json, folder});

    const auto usage = [&](const QString &problem) {
        err << problem << u"\nTry 'quellmail --help'.\n"_s;
        return BadUsage;
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usage(u"Unexpected argument: "_s + parser.positionalArguments().constFirst());
    if (parser.isSet(help)) {
        out << helpText();
        return Scanned;
    }
    if (parser.isSet(version)) {
        out << u"quellmail "_s << QCoreApplication::applicationVersion() << u'\n';
        return Scanned;
    }
    if (!parser.isSet(scanOption))
        return usage(u"--json and --folder go with --scan."_s);

    const QString given = parser.isSet(folder) ? parser.value(folder) : QCoreApplication::applicationDirPath();
    const QFileInfo info(given);
    if (given.isEmpty() || !info.isDir())
        return usage(u"No program folder at %1."_s.arg(QDir::toNativeSeparators(given)));
    return scan(info.absoluteFilePath(), parser.isSet(json), out, err);
}

} // namespace Scan
