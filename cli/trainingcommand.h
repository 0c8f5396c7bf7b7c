#pragma once
// Training the learned filter from a terminal: --train spam|ham PATH…,
// --learn-archive and --forget PATH…, each on the state database of one
// program folder. It prints, per folder, what was new and what was known
// already, then what the filter has learned in all.

#include <QStringList>

class QTextStream;

namespace Scan {

class TrainingCommand final
{
public:
    enum class Action { Spam, Ham, LearnArchive, Forget };

    // The exit status as the command line's: 0 done, 1 bad usage or a path
    // or the database that cannot be used (nothing learned), 2 a folder
    // failed part-way, 3 done but messages were passed over (on standard
    // error).
    static int run(Action action, const QString &programFolder, const QStringList &paths, QTextStream &out,
                   QTextStream &err);

private:
    TrainingCommand() = delete;
};

} // namespace Scan
