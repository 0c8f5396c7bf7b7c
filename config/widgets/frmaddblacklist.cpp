#include "config/widgets/frmaddblacklist.h"

#include "ui_frmaddblacklist.h"

using namespace Qt::StringLiterals;

namespace {

AddEntryDialog::Texts texts()
{
    AddEntryDialog::Texts t;
    t.minimumLength = 4;
    t.refusal = u"Please enter an email address to add to the blacklist."_s;
    t.success = u"The email address has been added to the blacklist."_s;
    t.successTitle = u"Account added."_s;
    return t;
}

} // namespace

frmAddblacklist::frmAddblacklist(ConfigForm &form, QWidget *parent)
    : AddEntryDialog(form, ListKind::Blacklist, texts(), parent)
    , m_ui(std::make_unique<Ui::frmAddblacklist>())
{
    m_ui->setupUi(this);
    attach(m_ui->txtblacklistEmail, m_ui->cmdAddblacklist, m_ui->cmdcancelblacklist);
}

frmAddblacklist::~frmAddblacklist() = default;
