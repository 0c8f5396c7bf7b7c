#include "ui/learnedtraining.h"

#include "config/statedatabase.h"
#include "scan/spamtrainer.h"
#include "ui/trainfolderdialog.h"

#include <QDir>
#include <QFileInfo>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QScopeGuard>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 ShowProgressAfterMs = 400;

} // namespace

LearnedTraining::LearnedTraining(const QString &programFolder, QWidget *window)
    : QObject(window)
    , m_folder(programFolder)
    , m_window(window)
{
}

LearnedTraining::~LearnedTraining() = default;

bool LearnedTraining::database()
{
    if (m_database)
        return true;
    auto db = std::make_unique<StateDatabase>(m_folder);
    if (!db->open()) {
        Q_EMIT finished(u"The learned filter cannot be read: "_s + db->errorText());
        return false;
    }
    m_database = std::move(db);
    return true;
}

QString LearnedTraining::countsText()
{
    // Showing the counts must not create the database in a fresh folder.
    Scan::SpamTrainer::Learned n;
    if (m_database || QFileInfo::exists(QDir(m_folder).filePath(StateDatabase::fileName()))) {
        if (!database())
            return QString();
        n = Scan::SpamTrainer::learned(*m_database);
    }
    QString text = u"Learned from %1 spam and %2 legitimate messages."_s.arg(n.spam).arg(n.ham);
    if (n.spam == 0 || n.ham == 0)
        text += u" It judges nothing until it has learned both."_s;
    return text;
}

TrainFolderDialog *LearnedTraining::folderDialog() const
{
    return m_dialog;
}

void LearnedTraining::trainFromFolder()
{
    if (!m_dialog) {
        m_dialog = new TrainFolderDialog(m_window);
        connect(m_dialog, &QDialog::accepted, this, [this] { train(m_dialog->path(), m_dialog->label()); });
    }
    m_dialog->open();
}

int LearnedTraining::withProgress(const QString &what, const std::function<int(const Scan::SpamTrainer::Progress &)> &work,
                                  bool *stopped)
{
    m_training = true;
    const auto idle = qScopeGuard([this] { m_training = false; });
    // The work runs here in batches; between them the box is painted and its
    // Stop button heard. It shows only for a training that takes a while.
    QProgressDialog progress(u"Learning from "_s + what + u"\u2026"_s, u"Stop"_s, 0, 0, m_window);
    progress.setObjectName(u"dlgTrainProgress"_s);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(std::numeric_limits<int>::max());
    QElapsedTimer clock;
    clock.start();
    *stopped = false;
    const int learned = work([&](int done) {
        progress.setLabelText(u"Learned %1 messages from %2\u2026"_s.arg(done).arg(what));
        if (!progress.isVisible() && clock.elapsed() >= ShowProgressAfterMs)
            progress.show();
        QCoreApplication::processEvents();
        *stopped = progress.wasCanceled();
        return !*stopped;
    });
    progress.reset();
    return learned;
}

void LearnedTraining::train(const QString &path, Scan::LearnedFilter::Label label)
{
    if (!database())
        return;
    Scan::SpamTrainer trainer(m_folder, *m_database);
    if (!opened(trainer))
        return;
    bool stopped = false;
    const int learned = withProgress(
        path, [&](const Scan::SpamTrainer::Progress &progress) { return trainer.learnFolder(path, label, progress); },
        &stopped);

    const QString kind = label == Scan::LearnedFilter::Label::Spam ? u"spam"_s : u"not spam"_s;
    QString text;
    if (!trainer.errorText().isEmpty())
        text = u"Training stopped (%1); %2 message(s) were learned before it."_s.arg(trainer.errorText()).arg(learned);
    else if (stopped)
        text = u"Training was stopped; %1 message(s) from %2 were learned as %3."_s.arg(learned).arg(path, kind);
    else
        text = u"Learned %1 message(s) from %2 as %3."_s.arg(learned).arg(path, kind);
    done(text, trainer);
}

bool LearnedTraining::opened(Scan::SpamTrainer &trainer)
{
    if (trainer.open())
        return true;
    Q_EMIT finished(u"The learned filter cannot be read: "_s + trainer.errorText());
    return false;
}

void LearnedTraining::done(const QString &text, const Scan::SpamTrainer &trainer)
{
    const int skipped = trainer.skipped();
    Q_EMIT finished(skipped == 0
                        ? text
                        : text + u" %1 could not be read or were too large, and were passed over."_s.arg(skipped));
    Q_EMIT countsChanged(countsText());
}

void LearnedTraining::learnFromArchive()
{
    if (!database())
        return;
    Scan::SpamTrainer trainer(m_folder, *m_database);
    if (!opened(trainer))
        return;
    bool stopped = false;
    const int learned = withProgress(
        u"the spam archive"_s,
        [&](const Scan::SpamTrainer::Progress &progress) { return trainer.learnArchive(progress); }, &stopped);
    QString text = u"Learned %1 message(s) of the spam archive as spam."_s.arg(learned);
    if (!trainer.errorText().isEmpty())
        text = u"Learning from the spam archive stopped (%1); %2 message(s) were learned before it."_s
                   .arg(trainer.errorText())
                   .arg(learned);
    else if (stopped)
        text = u"Learning from the spam archive was stopped; %1 message(s) were learned as spam."_s.arg(learned);
    done(text, trainer);
}
