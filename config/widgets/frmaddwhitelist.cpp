#include "config/widgets/frmaddwhitelist.h"

#include "ui_frmaddwhitelist.h"

using namespace Qt::StringLiterals;

namespace {

AddEntryDialog::Texts texts()
{
    AddEntryDialog::Texts t;
    t.minimumLength = 4;
    t.refusal = u"Please enter an email address to add to the whitelist."_s;
    t.success = u"The email address has been added to the whitelist."_s;
    t.successTitle = u"Account added."_s;
    return t;
}

} // namespace

frmAddWhitelist::frmAddWhitelist(ConfigForm &form, QWidget *parent)
    : AddEntryDialog(form, ListKind::Whitelist, texts(), parent)
    , m_ui(std::make_unique<Ui::frmAddWhitelist>())
{
    m_ui->setupUi(this);
    attach(m_ui->txtWhitelistEmail, m_ui->cmdAddWhitelist, m_ui->cmdcancelwhitelist);
}

frmAddWhitelist::~frmAddWhitelist() = default;
