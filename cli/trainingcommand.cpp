#include "cli/trainingcommand.h"

#include "cli/commandline.h"
#include "mail/mailfolderreader.h"
#include "scan/scanreport.h"
#include "scan/spamtrainer.h"
#include "state/statedatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

QString fileText(const QString &path) { return ScanReport::safeText(QDir::toNativeSeparators(path), -1); }

struct Totals
{
    int done = 0;
    int known = 0;
    int moved = 0;
    int never = 0;
    int skipped = 0;
    int damaged = 0;
    qsizetype damage = 0; // lines
};

Totals totals(const SpamTrainer &trainer, int done)
{
    return {done,
            trainer.alreadyKnown(),
            trainer.moved(),
            trainer.neverLearned(),
            trainer.skipped(),
            trainer.damaged(),
            trainer.damage().size()};
}

} // namespace

int TrainingCommand::run(Action action, const QString &programFolder, const QStringList &paths, QTextStream &out,
                         QTextStream &err)
{
    // Every path is checked first: a typing error learns nothing at all.
    for (const QString &path : paths) {
        if (MailFolderReader::detect(path) == MailFolderReader::Format::Unknown) {
            err << u"%1 is neither an mbox file nor a Maildir folder; nothing was learned."_s.arg(fileText(path))
                << u'\n';
            return CommandLine::BadUsage;
        }
    }
    StateDatabase database(programFolder);
    if (!database.open()) {
        err << u"The learned filter of %1 cannot be read: %2"_s.arg(fileText(programFolder), database.errorText())
            << u'\n';
        return CommandLine::BadUsage;
    }
    SpamTrainer trainer(programFolder, database);
    if (!trainer.open()) {
        err << u"The learned filter of %1 cannot be read: %2"_s.arg(fileText(programFolder), trainer.errorText())
            << u'\n';
        return CommandLine::BadUsage;
    }

    const bool forget = action == Action::Forget;
    const SpamTrainer::Label label = action == Action::Ham ? SpamTrainer::Label::Ham : SpamTrainer::Label::Spam;
    const QString as = label == SpamTrainer::Label::Spam ? u"spam"_s : u"ham"_s;
    const QStringList sources = action == Action::LearnArchive ? QStringList{QString()} : paths;
    Totals sum;
    for (const QString &path : sources) {
        const Totals before = totals(trainer, sum.done);
        const int done = action == Action::LearnArchive ? trainer.learnArchive()
                         : forget                       ? trainer.forgetFolder(path)
                                                        : trainer.learnFolder(path, label);
        sum = totals(trainer, sum.done + done);
        const QString name = path.isEmpty() ? u"the spam archive"_s : fileText(path);
        if (forget) {
            out << u"%1: %2 forgotten, %3 never learned"_s.arg(name).arg(done).arg(sum.never - before.never);
        } else {
            out << u"%1: %2 new, %3 already known as %4"_s.arg(name).arg(done).arg(sum.known - before.known).arg(as);
            if (sum.moved > before.moved)
                out << u" (%1 of the new moved from %2)"_s.arg(sum.moved - before.moved)
                           .arg(label == SpamTrainer::Label::Spam ? u"ham"_s : u"spam"_s);
        }
        const int passed = sum.skipped - before.skipped;
        if (passed > 0)
            out << u", %1 passed over"_s.arg(passed);
        out << u'\n';
        out.flush();
        for (qsizetype i = before.damage; i < sum.damage; ++i)
            err << ScanReport::safeText(trainer.damage().at(i), -1) << u'\n';
        if (const int unreadable = passed - (sum.damaged - before.damaged); unreadable > 0)
            err << u"%1: %2 message(s) could not be read or were too large, and were passed over."_s.arg(name).arg(
                unreadable)
                << u'\n';
        if (!trainer.errorText().isEmpty()) {
            err << u"%1: stopped: %2"_s.arg(name, ScanReport::safeText(trainer.errorText(), -1)) << u'\n';
            break;
        }
    }

    const TokenStore::Counts learned = TokenStore::learnedMessages(database);
    if (forget)
        out << u"Forgot %1 message(s); %2 had never been learned."_s.arg(sum.done).arg(sum.never);
    else
        out << u"Learned %1 new message(s) as %2; %3 were known already."_s.arg(sum.done).arg(as).arg(sum.known);
    out << u" The filter knows %1 spam and %2 ham messages.\n"_s.arg(learned.spam).arg(learned.ham);
    out.flush();
    if (!trainer.errorText().isEmpty())
        return CommandLine::AccountFailed;
    return sum.skipped > 0 ? CommandLine::ScannedWithProblems : CommandLine::Scanned;
}

} // namespace Scan
