#include "config/frmaddkeywords.h"

using namespace Qt::StringLiterals;

namespace {

AddEntryDialog::Texts texts()
{
    AddEntryDialog::Texts t;
    t.windowCaption = u"Add a keyword or phrase"_s;
    t.frameCaption = u" Add a keyword or phrase"_s;
    t.label = u"Enter keyword"_s;
    t.boxName = u"txtkeywordsEmail"_s;
    t.addName = u"cmdAddkeywords"_s;
    t.cancelName = u"cmdcancelkeywords"_s;
    t.minimumLength = 1;
    t.refusal = u"Please enter a keyword or phrase to block."_s;
    t.success = u"The keyword has been added to the banned list."_s;
    t.successTitle = u"Keyword banned."_s;
    return t;
}

} // namespace

frmAddkeywords::frmAddkeywords(ConfigForm &form, QWidget *parent)
    : AddEntryDialog(form, ListKind::Keywords, texts(), parent)
{
    setObjectName(u"frmAddkeywords"_s);
}
