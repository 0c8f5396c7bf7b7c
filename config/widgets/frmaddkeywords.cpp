#include "config/widgets/frmaddkeywords.h"

#include "ui_frmaddkeywords.h"

using namespace Qt::StringLiterals;

namespace {

AddEntryDialog::Texts texts()
{
    AddEntryDialog::Texts t;
    t.minimumLength = 1;
    t.refusal = u"Please enter a keyword or phrase to block."_s;
    t.success = u"The keyword has been added to the banned list."_s;
    t.successTitle = u"Keyword banned."_s;
    return t;
}

} // namespace

frmAddkeywords::frmAddkeywords(ConfigForm &form, QWidget *parent)
    : AddEntryDialog(form, ListKind::Keywords, texts(), parent)
    , m_ui(std::make_unique<Ui::frmAddkeywords>())
{
    m_ui->setupUi(this);
    attach(m_ui->txtkeywordsEmail, m_ui->cmdAddkeywords, m_ui->cmdcancelkeywords);
}

frmAddkeywords::~frmAddkeywords() = default;
