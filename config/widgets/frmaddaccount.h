#pragma once
// The modal dialog that adds one POP3 account to the accounts list. Created
// once and hidden between uses.

#include <QDialog>

#include <memory>

class ConfigForm;
class QLineEdit;
class QPushButton;
class SignInPanel;

namespace Ui {
class frmAddAccount;
}

class frmAddAccount final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAddAccount)

public:
    explicit frmAddAccount(ConfigForm &form, QWidget *parent = nullptr);

    ~frmAddAccount() override;

    QLineEdit *txtAddMailServer() const;
    QLineEdit *txtAddLoginName() const;
    QLineEdit *txtAddPassword() const;
    QPushButton *cmdAddAccountInfo() const;
    QPushButton *cmdCancelAccountInfo() const;
    SignInPanel *signInPanel() const { return m_signIn; }

    void clearBoxes();
    // Empties the boxes and shows the dialog modally; returns when it is hidden.
    void openForNewAccount();

public Q_SLOTS:
    void reject() override; // Escape and the title-bar close cancel

protected:
    bool event(QEvent *event) override;

private Q_SLOTS:
    void cmdAddAccountInfo_Click();
    void cmdCancelAccountInfo_Click();

private:
    ConfigForm &m_form;
    std::unique_ptr<Ui::frmAddAccount> m_ui;
    SignInPanel *m_signIn = nullptr;
};
