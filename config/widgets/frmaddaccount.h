#pragma once
// The modal dialog that adds one POP3 account to the accounts list, or
// changes one row of it. Created once and hidden between uses.

#include <QDialog>

#include <memory>

class AccountTester;
class ConfigForm;
class QLabel;
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
    QPushButton *cmdTestConnection() const { return m_testButton; }
    QLabel *lblTestResult() const { return m_testResult; }
    // Without a tester (the default) "Test connection" is not shown.
    void setAccountTester(AccountTester *tester);
    bool isTesting() const { return m_testing; }

    void clearBoxes();
    // Empties the boxes and shows the dialog modally; returns when it is hidden.
    void openForNewAccount();
    // Fills the boxes from a row of the accounts list (1-based) and shows the
    // dialog modally; OK replaces that row.
    void openForAccount(int row);

public Q_SLOTS:
    void reject() override; // Escape and the title-bar close cancel

protected:
    bool event(QEvent *event) override;

private Q_SLOTS:
    void cmdAddAccountInfo_Click();
    void cmdCancelAccountInfo_Click();
    void cmdTestConnection_Click();

private:
    // Why the account may not be taken as it is (one line each); empty when it may.
    QString inputErrors(const QString &server, const QString &login, const QString &password) const;
    // The row other than the edited one that has this server and login; 0 when none.
    int duplicateRow(const QString &server, const QString &login) const;

    ConfigForm &m_form;
    std::unique_ptr<Ui::frmAddAccount> m_ui;
    SignInPanel *m_signIn = nullptr;
    int m_editRow = 0; // 0: a new account
    AccountTester *m_tester = nullptr;
    QPushButton *m_testButton = nullptr;
    QLabel *m_testResult = nullptr;
    bool m_testing = false;
    bool m_closeAfterTest = false;   // Cancel was clicked while a test ran
    bool m_closeAfterSignIn = false; // or while the browser sign-in waited
};
