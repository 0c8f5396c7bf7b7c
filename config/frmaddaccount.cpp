#include "config/frmaddaccount.h"

#include "config/accountaddress.h"
#include "config/configform.h"
#include "config/listkind.h"
#include "config/listloaders.h"
#include "platform/messagebox/messagebox.h"
#include "config/module_griddisplay.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

frmAddAccount::frmAddAccount(ConfigForm &form, QWidget *parent)
    : QDialog(parent)
    , m_form(form)
{
    setObjectName(u"frmAddAccount"_s);
    setWindowTitle(u" Add email account"_s);
    setModal(true);

    auto *frame = new QGroupBox(u"Email account details"_s, this);
    m_txtAddMailServer = new QLineEdit(frame);
    m_txtAddMailServer->setObjectName(u"txtAddMailServer"_s);
    m_txtAddMailServer->setPlaceholderText(u"mail.example.com or pop3s://mail.example.com"_s);
    m_txtAddMailServer->setToolTip(u"A host name (clear text on the saved port), or pop3s://host[:port] (TLS, port 995),\n"
                                   "pop3+stls://host[:port] (clear text upgraded with STLS, port 110) or\n"
                                   "pop3://host[:port] (clear text, port 110). IPv6 addresses go in brackets."_s);
    m_txtAddLoginName = new QLineEdit(frame);
    m_txtAddLoginName->setObjectName(u"txtAddLoginName"_s);
    m_txtAddPassword = new QLineEdit(frame);
    m_txtAddPassword->setObjectName(u"txtAddPassword"_s);
    m_txtAddPassword->setEchoMode(QLineEdit::Password);
    m_txtAddPassword->setStyleSheet(u"QLineEdit { lineedit-password-character: 42; }"_s);

    auto *fields = new QFormLayout(frame);
    fields->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    fields->addRow(u"POP3 Mail server"_s, m_txtAddMailServer);
    fields->addRow(u"Email login name"_s, m_txtAddLoginName);
    fields->addRow(u"Email password"_s, m_txtAddPassword);

    m_cmdAddAccountInfo = new QPushButton(u"Add"_s, this);
    m_cmdAddAccountInfo->setObjectName(u"cmdAddAccountInfo"_s);
    m_cmdAddAccountInfo->setDefault(true);
    m_cmdCancelAccountInfo = new QPushButton(u"Cancel"_s, this);
    m_cmdCancelAccountInfo->setObjectName(u"cmdCancelAccountInfo"_s);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdAddAccountInfo);
    buttons->addWidget(m_cmdCancelAccountInfo);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(buttons);
    setMinimumWidth(360);

    connect(m_cmdAddAccountInfo, &QPushButton::clicked, this, &frmAddAccount::cmdAddAccountInfo_Click);
    connect(m_cmdCancelAccountInfo, &QPushButton::clicked, this, &frmAddAccount::cmdCancelAccountInfo_Click);
}

void frmAddAccount::clearBoxes()
{
    m_txtAddMailServer->clear();
    m_txtAddLoginName->clear();
    m_txtAddPassword->clear();
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
    const QString server = m_txtAddMailServer->text();
    const QString login = m_txtAddLoginName->text();
    const QString password = m_txtAddPassword->text();
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
    if (password.isEmpty())
        errors += u"Please provide a password.\r\n"_s;
    // accounts.dat separates the fields by commas and has no escaping.
    if (server.contains(u','))
        errors += u"The mail server cannot contain a comma.\r\n"_s;
    if (login.contains(u','))
        errors += u"The login name cannot contain a comma.\r\n"_s;
    // A line break would split the saved line, and the loader stops at a broken line.
    const auto hasLineBreak = [](const QString &text) { return text.contains(u'\r') || text.contains(u'\n'); };
    if (hasLineBreak(server) || hasLineBreak(login) || hasLineBreak(password))
        errors += u"The mail server, login name and password cannot contain line breaks.\r\n"_s;

    if (errors.size() < 2) {
        Lists::appendRow(m_form, ListKind::Accounts, {server, login, password});
        QCoreApplication::processEvents();
        MessageBox::show(this,
                         u"The account has been added.\r\nBe sure to click Save Settings when you are finished."_s,
                         u"Account added."_s, MessageBox::OkOnly);
        hide();
    } else {
        MessageBox::show(this, errors, u"Data input error."_s, MessageBox::OkOnly);
    }
    module_griddisplay(m_form);
}

void frmAddAccount::cmdCancelAccountInfo_Click()
{
    module_griddisplay(m_form);
    clearBoxes();
    hide();
    module_griddisplay(m_form);
}

void frmAddAccount::reject()
{
    cmdCancelAccountInfo_Click();
}

bool frmAddAccount::event(QEvent *event)
{
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show)
        m_txtAddMailServer->setFocus(Qt::ActiveWindowFocusReason);
    return handled;
}
