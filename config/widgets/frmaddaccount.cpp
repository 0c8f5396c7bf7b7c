#include "config/widgets/frmaddaccount.h"

#include "ui_frmaddaccount.h"

#include "config/accountaddress.h"
#include "config/configform.h"
#include "config/listkind.h"
#include "config/listloaders.h"
#include "config/widgets/savereminder.h"
#include "config/widgets/signinpanel.h"
#include "platform/messagebox/messagebox.h"
#include "signin/tokenkeeper.h"
#include "state/statedatabase.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

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
    connect(m_ui->cmdAddAccountInfo, &QPushButton::clicked, this, &frmAddAccount::cmdAddAccountInfo_Click);
    connect(m_ui->cmdCancelAccountInfo, &QPushButton::clicked, this, &frmAddAccount::cmdCancelAccountInfo_Click);
}

frmAddAccount::~frmAddAccount() = default;

QLineEdit *frmAddAccount::txtAddMailServer() const { return m_ui->txtAddMailServer; }
QLineEdit *frmAddAccount::txtAddLoginName() const { return m_ui->txtAddLoginName; }
QLineEdit *frmAddAccount::txtAddPassword() const { return m_ui->txtAddPassword; }
QPushButton *frmAddAccount::cmdAddAccountInfo() const { return m_ui->cmdAddAccountInfo; }
QPushButton *frmAddAccount::cmdCancelAccountInfo() const { return m_ui->cmdCancelAccountInfo; }

void frmAddAccount::clearBoxes()
{
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
    exec();
}

void frmAddAccount::cmdAddAccountInfo_Click()
{
    QString errors;
    const QString server = m_ui->txtAddMailServer->text();
    const QString login = m_ui->txtAddLoginName->text();
    const QString password = m_ui->txtAddPassword->text();
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
    // An account that signs in with a browser keeps an empty password in accounts.dat.
    if (m_signIn->usesSignIn()) {
        if (!m_signIn->isSignedIn())
            errors += u"Please sign in with the browser for this server and login name.\r\n"_s;
    } else if (password.isEmpty()) {
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

    if (errors.size() < 2 && !m_signIn->usesSignIn()) {
        // An earlier sign-in for the same account must not outlive its password login.
        StateDatabase database(m_form.programFolder());
        QString forgetError;
        if (QFileInfo::exists(database.path()) && database.open() && TokenAccounts(database).find(server, login)
            && !SignIn::TokenKeeper(&database).forget(server, login, &forgetError))
            errors += u"The account's earlier sign-in cannot be removed: "_s + forgetError + u"\r\n"_s;
    }
    if (errors.size() < 2) {
        Lists::appendRow(m_form, ListKind::Accounts, {server, login, password});
        QCoreApplication::processEvents();
        SaveReminder::tell(m_form, this, u"The account has been added."_s, u"Account added."_s);
        hide();
    } else {
        MessageBox::show(this, errors, u"Data input error."_s, MessageBox::OkOnly);
    }
    m_form.showGrids();
}

void frmAddAccount::cmdCancelAccountInfo_Click()
{
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
