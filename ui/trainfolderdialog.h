#pragma once
// "Train from folder…": which mail folders, and whether their messages are
// spam. The local folders of the user's mail programs are offered to tick,
// junk folders as spam and inbox, sent and archive folders as legitimate;
// any other mbox file or Maildir folder can be chosen with a label. The
// dialog only asks; LearnedTraining does the learning.

#include "learn/learnedfilter.h"
#include "mail/mailclientfolders.h"

#include <QDialog>
#include <QList>

#include <memory>

namespace Ui {
class TrainFolderDialog;
}
class FolderDiscovery;

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

    // Lists the mail programs' folders under home afresh, none ticked; the
    // list fills in once they are counted, on a thread of their own.
    void findClientFolders(const QString &home);
    bool lookingForFolders() const;

    QString path() const;
    Scan::LearnedFilter::Label label() const;
    // The ticked folders, then the one chosen by path.
    QList<Folder> folders() const;

    void accept() override;

private:
    void showClientFolders(const QList<Scan::MailClientFolders::Folder> &discovered);
    void chooseMbox();
    void chooseMaildir();

    std::unique_ptr<Ui::TrainFolderDialog> m_ui;
    FolderDiscovery *m_discovery;
    QString m_foldersCaption;
};
