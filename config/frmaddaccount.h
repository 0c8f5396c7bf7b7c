#pragma once
// The modal dialog that adds one POP3 account to the accounts list. Created
// once and hidden between uses.

#include <QDialog>

class ConfigForm;
class QLineEdit;
class QPushButton;

class frmAddAccount final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAddAccount)

public:
    explicit frmAddAccount(ConfigForm &form, QWidget *parent = nullptr);

    QLineEdit *txtAddMailServer() const { return m_txtAddMailServer; }
    QLineEdit *txtAddLoginName() const { return m_txtAddLoginName; }
    QLineEdit *txtAddPassword() const { return m_txtAddPassword; }
    QPushButton *cmdAddAccountInfo() const { return m_cmdAddAccountInfo; }
    QPushButton *cmdCancelAccountInfo() const { return m_cmdCancelAccountInfo; }

    void clearBoxes();
    // Empties the boxes and shows the dialog modally; returns when it is hidden.
    void openForNewAccount();

public Q_SLOTS:
    void cmdAddAccountInfo_Click();
    void cmdCancelAccountInfo_Click();
    void reject() override;   // Escape and the title-bar close cancel

protected:
    bool event(QEvent *event) override;

private:
    ConfigForm &m_form;
    QLineEdit *m_txtAddMailServer = nullptr;
    QLineEdit *m_txtAddLoginName = nullptr;
    QLineEdit *m_txtAddPassword = nullptr;
    QPushButton *m_cmdAddAccountInfo = nullptr;
    QPushButton *m_cmdCancelAccountInfo = nullptr;
};
