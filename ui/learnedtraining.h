#pragma once
// The learned filter's training from the Settings tab: "Train from folder…"
// (an mbox file or a Maildir folder, and a label) and "Learn from spam
// archive", each in batches behind a progress box the user can cancel, and
// the counts of what the filter has learned.

#include "scan/spamtrainer.h"
#include "ui/trainfolderdialog.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QWidget;
class StateDatabase;

class LearnedTraining final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LearnedTraining)

public:
    LearnedTraining(const QString &programFolder, QWidget *window);
    ~LearnedTraining() override;

    // Opens the dialog; the training starts when it is accepted.
    void trainFromFolder();
    TrainFolderDialog *folderDialog() const;
    void learnFromArchive();
    void train(const QString &path, Scan::LearnedFilter::Label label);
    void train(const QList<TrainFolderDialog::Folder> &folders);
    QString countsText();
    // While a training runs (its progress box lets events through).
    bool isTraining() const { return m_training; }

Q_SIGNALS:
    // What was learned, or why not: for the status line.
    void finished(const QString &text);
    void countsChanged(const QString &text);

private:
    bool database();
    using Work = std::function<int(Scan::SpamTrainer &, const Scan::SpamTrainer::Progress &)>;
    // Runs the steps in turn behind a progress box the user can stop between
    // batches, then tells what was learned and shows the new counts. `kind`
    // is what the messages were learned as, when all were learned as one.
    void learn(const QString &what, const QString &kind, const QList<Work> &steps);

    QString m_folder;
    QWidget *m_window;
    QPointer<TrainFolderDialog> m_dialog;
    bool m_training = false;
    std::unique_ptr<StateDatabase> m_database;
};
