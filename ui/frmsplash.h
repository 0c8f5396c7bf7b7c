#pragma once
// The small progress window shown, without blocking, while lists load or save.

#include <QDialog>

class QLabel;

class frmSplash final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSplash)

public:
    explicit frmSplash(QWidget *parent = nullptr);

    QLabel *label() const { return m_label; }
    void setMessage(const QString &message);
    QString message() const;

private:
    QLabel *m_label = nullptr;
};
