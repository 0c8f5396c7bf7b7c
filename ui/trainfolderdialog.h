#pragma once
// "Train from folder…": which mail folders, and whether their messages are
// spam. The local folders of the user's mail programs are offered to tick,
// junk folders as spam and inbox, sent and archive folders as legitimate;
// any other mbox file or Maildir folder can be chosen with a label. The
// dialog only asks; LearnedTraining does the learning.

#include "learn/learnedfilter.h"

#include <QDialog>
#include <QList>

#include <memory>

namespace Ui {
class TrainFolderDialog;
}

class TrainFolderDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrainFolderDialog)

public:
    struct Folder
    {
        QString path;
        QString name; // as the user knows it
        Scan::LearnedFilter::Label label = Scan::LearnedFilter::Label::Spam;
    };

    explicit TrainFolderDialog(QWidget *parent = nullptr);
    ~TrainFolderDialog() override;

    // Lists the mail programs' folders under home afresh, none ticked.
    void findClientFolders(const QString &home);

    QString path() const;
    Scan::LearnedFilter::Label label() const;
    // The ticked folders, then the one chosen by path.
    QList<Folder> folders() const;

    void accept() override;

private:
    void chooseMbox();
    void chooseMaildir();

    std::unique_ptr<Ui::TrainFolderDialog> m_ui;
};
