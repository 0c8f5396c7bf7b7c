#include "config/widgets/frmaddaccount.h"

#include "ui_frmaddaccount.h"

#include "config/accountaddress.h"
#include "config/configform.h"
#include "config/listkind.h"
#include "config/listloaders.h"
#include "config/listtable.h"
#include "config/widgets/accounttester.h"
#include "config/widgets/savereminder.h"
#include "config/widgets/signinpanel.h"
#include "platform/messagebox/messagebox.h"
#include "signin/tokenkeeper.h"
#include "state/statedatabase.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

using namespace Qt::StringLiterals;

frmAddAccount::frmAddAccount(ConfigForm &form, QWidget *parent)
    : QDialog(parent)
    , m_form(form)
    , m_ui(std::make_unique<Ui::frmAddAccount>())
{
    m_ui->setupUi(this);
    m_signIn = new SignInPanel(form.programFolder(), m_ui->txtAddMailServer, m_ui->txtAddLoginName,
                               m_ui->txtAddPassword, this);
    m_ui->layout->insertWidget(1, m_signIn);
    m_testButton = new QPushButton(u"&Test connection"_s, this);
    m_testButton->setObjectName(u"cmdTestConnection"_s);
    m_testButton->setToolTip(u"Logs in, counts the messages and logs out again; nothing is read or deleted."_s);
    m_testResult = new QLabel(this);
    m_testResult->setObjectName(u"lblTestResult"_s);
    m_testResult->setWordWrap(true);
    m_testResult->setTextFormat(Qt::PlainText); // the server's words, never markup
    auto *testRow = new QHBoxLayout;
    testRow->addWidget(m_testButton);
    testRow->addWidget(m_testResult, 1);
    m_ui->layout->insertLayout(2, testRow);
    m_testButton->hide();
    connect(m_testButton, &QPushButton::clicked, this, &frmAddAccount::cmdTestConnection_Click);
    connect(m_ui->cmdAddAccountInfo, &QPushButton::clicked, this, &frmAddAccount::cmdAddAccountInfo_Click);
    connect(m_ui->cmdCancelAccountInfo, &QPushButton::clicked, this, &frmAddAccount::cmdCancelAccountInfo_Click);
    connect(m_signIn, &SignInPanel::signInEnded, this, [this] {
        if (std::exchange(m_closeAfterSignIn, false))
            cmdCancelAccountInfo_Click();
    });
}

frmAddAccount::~frmAddAccount() = default;

QLineEdit *frmAddAccount::txtAddMailServer() const { return m_ui->txtAddMailServer; }
QLineEdit *frmAddAccount::txtAddLoginName() const { return m_ui->txtAddLoginName; }
QLineEdit *frmAddAccount::txtAddPassword() const { return m_ui->txtAddPassword; }
QPushButton *frmAddAccount::cmdAddAccountInfo() const { return m_ui->cmdAddAccountInfo; }
QPushButton *frmAddAccount::cmdCancelAccountInfo() const { return m_ui->cmdCancelAccountInfo; }

void frmAddAccount::setAccountTester(AccountTester *tester)
{
    m_tester = tester;
    m_testButton->setVisible(tester != nullptr);
}

void frmAddAccount::cmdTestConnection_Click()
{
    if (m_testing) {
        m_testResult->setText(u"Stopping the test\u2026"_s);
        m_tester->cancel();
        return;
    }
    if (!m_tester)
        return;
    const QString server = m_ui->txtAddMailServer->text();
    const QString login = m_ui->txtAddLoginName->text();
    if (server.isEmpty() || login.isEmpty()) {
        m_testResult->setText(u"Type the mail server and login name first."_s);
        return;
    }
    if (m_signIn->usesSignIn()) {
        m_testResult->setText(u"The test checks password logins; this account signs in with the browser."_s);
        return;
    }
    m_testing = true;
    m_closeAfterTest = false;
    m_ui->cmdAddAccountInfo->setEnabled(false);
    m_testButton->setText(u"S&top test"_s);
    m_testResult->setText(u"Connecting to %1\u2026"_s.arg(server));
    const QString outcome = m_tester->test(server, login, m_ui->txtAddPassword->text());
    m_testing = false;
    m_testButton->setText(u"&Test connection"_s);
    m_ui->cmdAddAccountInfo->setEnabled(true);
    m_testResult->setText(outcome);
    if (m_closeAfterTest)
        cmdCancelAccountInfo_Click();
}

void frmAddAccount::clearBoxes()
{
    m_testResult->clear();
    m_ui->txtAddMailServer->clear();
    m_ui->txtAddLoginName->clear();
    m_ui->txtAddPassword->clear();
    m_signIn->reset();
}

void frmAddAccount::openForNewAccount()
{
    clearBoxes();
    if (isVisible())
        return;
    m_editRow = 0;
    setWindowTitle(u" Add email account"_s);
    exec();
}

void frmAddAccount::openForAccount(int row)
{
    const ListTable *accounts = m_form.gridAccounts();
    if (isVisible() || row < 1 || row > accounts->rowCountValue())
        return;
    clearBoxes();
    m_editRow = row;
    m_ui->txtAddMailServer->setText(accounts->cell(row, 1));
    m_ui->txtAddLoginName->setText(accounts->cell(row, 2));
    m_ui->txtAddPassword->setText(accounts->cell(row, 3));
    m_signIn->showAccount(accounts->cell(row, 1), accounts->cell(row, 2));
    setWindowTitle(u" Edit email account"_s);
    exec();
    m_editRow = 0;
}

int frmAddAccount::duplicateRow(const QString &server, const QString &login) const
{
    // Host names are case-blind; logins are compared as the server would, exactly.
    const ListTable *accounts = m_form.gridAccounts();
    for (int row = 1; row <= accounts->rowCountValue(); ++row) {
        if (row != m_editRow && accounts->cell(row, 1).compare(server, Qt::CaseInsensitive) == 0
            && accounts->cell(row, 2) == login)
            return row;
    }
    return 0;
}

QString frmAddAccount::inputErrors(const QString &server, const QString &login, const QString &password) const
{
    QString errors;
    // A server shorter than the loader takes would be dropped at the next start.
    if (server.isEmpty())
        errors += u"Please provide a mail server.\r\n"_s;
    else if (server.size() < MinimumMailServerLength)
        errors += u"The mail server must have at least %1 characters.\r\n"_s.arg(MinimumMailServerLength);
    const AccountAddress address = AccountAddress::parse(server);
    if (!address.isValid())
        errors += u"The mail server is not a valid address: "_s + address.error() + u".\r\n"_s;
    if (login.isEmpty())
        errors += u"Please provide a login name.\r\n"_s;
    // An account that signs in with a browser keeps an empty password in accounts.dat,
    // and so does one whose password is in the keyring: editing it may leave the box empty.
    const ListTable *accounts = m_form.gridAccounts();
    const bool keptElsewhere = m_editRow > 0 && accounts->cell(m_editRow, 3).isEmpty()
                               && accounts->cell(m_editRow, 1) == server && accounts->cell(m_editRow, 2) == login;
    if (m_signIn->usesSignIn()) {
        if (!m_signIn->isSignedIn())
            errors += u"Please sign in with the browser for this server and login name.\r\n"_s;
    } else if (password.isEmpty() && !keptElsewhere) {
        errors += u"Please provide a password.\r\n"_s;
    }
    // accounts.dat separates the fields by commas and has no escaping.
    if (server.contains(u','))
        errors += u"The mail server cannot contain a comma.\r\n"_s;
    if (login.contains(u','))
        errors += u"The login name cannot contain a comma.\r\n"_s;
    // A line break would split the saved line, and the loader stops at a broken line.
    const auto hasLineBreak = [](const QString &text) { return text.contains(u'\r') || text.contains(u'\n'); };
    if (hasLineBreak(server) || hasLineBreak(login) || hasLineBreak(password))
        errors += u"The mail server, login name and password cannot contain line breaks.\r\n"_s;
    // Two rows for one mailbox would scan it twice and race on its deletions.
    if (!server.isEmpty() && !login.isEmpty()) {
        if (const int row = duplicateRow(server, login))
            errors += u"The account %1 (%2) is already in the list (row %3). Select it and click Edit to change it."
                      u"\r\n"_s.arg(server, login)
                          .arg(row);
    }
    return errors;
}

void frmAddAccount::cmdAddAccountInfo_Click()
{
    const QString server = m_ui->txtAddMailServer->text();
    const QString login = m_ui->txtAddLoginName->text();
    const QString password = m_ui->txtAddPassword->text();
    QString errors = inputErrors(server, login, password);

    // An edit that leaves the password empty keeps how the account logs in.
    if (errors.size() < 2 && !m_signIn->usesSignIn() && !password.isEmpty()) {
        // An earlier sign-in for the same account must not outlive its password login.
        StateDatabase database(m_form.programFolder());
        QString forgetError;
        if (QFileInfo::exists(database.path()) && database.open() && TokenAccounts(database).find(server, login)
            && !SignIn::TokenKeeper(&database).forget(server, login, &forgetError))
            errors += u"The account's earlier sign-in cannot be removed: "_s + forgetError + u"\r\n"_s;
    }
    if (errors.size() < 2) {
        if (m_editRow > 0) {
            ListTable *accounts = m_form.gridAccounts();
            accounts->setCell(m_editRow, 1, server);
            accounts->setCell(m_editRow, 2, login);
            accounts->setCell(m_editRow, 3, password);
            QCoreApplication::processEvents();
            SaveReminder::tell(m_form, this, u"The account has been changed."_s, u"Account changed."_s);
        } else {
            Lists::appendRow(m_form, ListKind::Accounts, {server, login, password});
            QCoreApplication::processEvents();
            SaveReminder::tell(m_form, this, u"The account has been added."_s, u"Account added."_s);
        }
        hide();
    } else {
        MessageBox::show(this, errors, u"Data input error."_s, MessageBox::OkOnly);
    }
    m_form.showGrids();
}

void frmAddAccount::cmdCancelAccountInfo_Click()
{
    // The dialog closes once the test or the sign-in has unwound its wait.
    if (m_testing) {
        m_closeAfterTest = true;
        m_tester->cancel();
        return;
    }
    if (m_signIn->isSigningIn()) {
        m_closeAfterSignIn = true;
        m_signIn->cancelSignIn();
        return;
    }
    m_form.showGrids();
    clearBoxes();
    hide();
    m_form.showGrids();
}

void frmAddAccount::reject() { cmdCancelAccountInfo_Click(); }

bool frmAddAccount::event(QEvent *event)
{
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show)
        m_ui->txtAddMailServer->setFocus(Qt::ActiveWindowFocusReason);
    return handled;
}
