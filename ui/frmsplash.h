#pragma once
// The small progress window shown, without blocking, while lists load or save.

#include <QDialog>

#include <memory>

class QLabel;

namespace Ui {
class frmSplash;
}

class frmSplash final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSplash)

public:
    explicit frmSplash(QWidget *parent = nullptr);
    ~frmSplash() override;

    QLabel *label() const;
    void setMessage(const QString &message);
    QString message() const;

private:
    std::unique_ptr<Ui::frmSplash> m_ui;
};
