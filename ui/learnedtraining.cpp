#include "ui/learnedtraining.h"

#include "scan/spamtrainer.h"
#include "state/statedatabase.h"
#include "ui/trainfolderdialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
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
{}

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
    Scan::TokenStore::Counts n;
    if (m_database || QFileInfo::exists(QDir(m_folder).filePath(StateDatabase::fileName()))) {
        if (!database())
            return QString();
        n = Scan::TokenStore::learnedMessages(*m_database);
    }
    QString text = u"Learned from %1 spam and %2 legitimate messages."_s.arg(n.spam).arg(n.ham);
    if (n.spam == 0 || n.ham == 0)
        text += u" It judges nothing until it has learned both."_s;
    return text;
}

TrainFolderDialog *LearnedTraining::folderDialog() const { return m_dialog; }

void LearnedTraining::trainFromFolder()
{
    if (!m_dialog) {
        m_dialog = new TrainFolderDialog(m_window);
        connect(m_dialog, &QDialog::accepted, this, [this] { train(m_dialog->folders()); });
    }
    // Afresh each time: the counts change as mail comes and goes.
    m_dialog->findClientFolders(QDir::homePath());
    m_dialog->open();
}

namespace {

QString kindText(Scan::LearnedFilter::Label label)
{
    return label == Scan::LearnedFilter::Label::Spam ? u"spam"_s : u"not spam"_s;
}

} // namespace

void LearnedTraining::learn(const QString &what, const QString &kind, const QList<Work> &steps)
{
    if (!database())
        return;
    Scan::SpamTrainer trainer(m_folder, *m_database);
    if (!trainer.open()) {
        Q_EMIT finished(u"The learned filter cannot be read: "_s + trainer.errorText());
        return;
    }
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
    bool stopped = false;
    int learned = 0;
    for (const Work &step : steps) {
        const int before = learned;
        learned += step(trainer, [&](int done) {
            progress.setLabelText(u"Learned %1 new messages from %2\u2026"_s.arg(before + done).arg(what));
            if (!progress.isVisible() && clock.elapsed() >= ShowProgressAfterMs)
                progress.show();
            QCoreApplication::processEvents();
            stopped = progress.wasCanceled();
            return !stopped;
        });
        if (stopped || !trainer.errorText().isEmpty())
            break;
    }
    progress.reset();

    const QString as = kind.isEmpty() ? QString() : u" as "_s + kind;
    const QString counts = u"%1 new, %2 already known"_s.arg(learned).arg(trainer.alreadyKnown());
    QString text;
    if (!trainer.errorText().isEmpty())
        text =
            u"Learning from %1 stopped (%2); %3 new message(s) were learned before it."_s.arg(what, trainer.errorText())
                .arg(learned);
    else if (stopped)
        text = u"Learning from %1 was stopped; learned before it%2: %3."_s.arg(what, as, counts);
    else
        text = u"Learned from %1%2: %3."_s.arg(what, as, counts);
    if (trainer.moved() > 0)
        text += u" %1 of the new had been learned as the other kind."_s.arg(trainer.moved());
    if (trainer.skipped() > 0)
        text += u" %1 could not be read, were damaged or too large, and were passed over."_s.arg(trainer.skipped());
    for (const QString &damage : trainer.damage())
        text += u' ' + damage;
    Q_EMIT finished(text);
    Q_EMIT countsChanged(countsText());
}

void LearnedTraining::train(const QString &path, Scan::LearnedFilter::Label label)
{
    train(QList<TrainFolderDialog::Folder>{{path, path, label}});
}

void LearnedTraining::train(const QList<TrainFolderDialog::Folder> &folders)
{
    QList<Work> steps;
    bool oneKind = true;
    for (const TrainFolderDialog::Folder &folder : folders) {
        oneKind = oneKind && folder.label == folders.constFirst().label;
        steps.append([folder](Scan::SpamTrainer &trainer, const Scan::SpamTrainer::Progress &progress) {
            return trainer.learnFolder(folder.path, folder.label, progress);
        });
    }
    if (folders.isEmpty())
        return;
    const QString what = folders.size() == 1 ? folders.constFirst().name : u"%1 folders"_s.arg(folders.size());
    learn(what, oneKind ? kindText(folders.constFirst().label) : QString(), steps);
}

void LearnedTraining::learnFromArchive()
{
    learn(u"the spam archive"_s, kindText(Scan::LearnedFilter::Label::Spam),
          {[](Scan::SpamTrainer &trainer, const Scan::SpamTrainer::Progress &progress) {
              return trainer.learnArchive(progress);
          }});
}
