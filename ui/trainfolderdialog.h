#pragma once
// "Train from folder…": which mail folder, and whether its messages are
// spam. The dialog only asks; LearnedTraining does the learning.

#include "learn/learnedfilter.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TrainFolderDialog;
}

class TrainFolderDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrainFolderDialog)

public:
    explicit TrainFolderDialog(QWidget *parent = nullptr);
    ~TrainFolderDialog() override;

    QString path() const;
    Scan::LearnedFilter::Label label() const;

    void accept() override;

private:
    void chooseMbox();
    void chooseMaildir();

    std::unique_ptr<Ui::TrainFolderDialog> m_ui;
};
