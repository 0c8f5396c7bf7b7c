#pragma once
// The program's command line. Without options the window starts; --scan runs
// one scan of a program folder with no window, no tray and no box, prints
// what it did and exits; --train, --learn-archive and --forget teach the
// folder's learned filter (TrainingCommand).

#include <QStringList>

class QTextStream;

namespace Scan {

class CommandLine final
{
public:
    enum Status {
        Scanned = 0,             // every account was scanned (or help, version)
        BadUsage = 1,            // bad usage, or a folder or file that cannot be read
        AccountFailed = 2,       // at least one account failed
        ScannedWithProblems = 3, // every account was scanned, but something went wrong on the way
        FolderStuck = 4,         // another scan has held the folder for too long
        FolderBusy = 75,         // another scan of the folder is running: try later
    };

    // Whether the arguments are for the command line rather than the window
    // (an argument that starts with "--", or -h, -v). Decided before the
    // application object exists, so that a scan needs no display.
    static bool wanted(int argc, const char *const *argv);
    // Before the application object: Qt's offscreen platform, so nothing is
    // shown and no display is needed.
    static void prepareHeadless();

    // Runs on the application's arguments; returns the exit status.
    static int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

    static QString helpText();

private:
    CommandLine() = delete;
};

} // namespace Scan
