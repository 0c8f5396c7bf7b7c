#include "config/frmaddblacklist.h"

using namespace Qt::StringLiterals;

namespace {

AddEntryDialog::Texts texts()
{
    AddEntryDialog::Texts t;
    t.windowCaption = u"Add an email address"_s;
    t.frameCaption = u" Add an email to your blacklist "_s;
    t.label = u"Enter an email address:"_s;
    t.boxName = u"txtblacklistEmail"_s;
    t.addName = u"cmdAddblacklist"_s;
    t.cancelName = u"cmdcancelblacklist"_s;
    t.minimumLength = 4;
    t.refusal = u"Please enter an email address to add to the blacklist."_s;
    t.success = u"The email address has been added to the blacklist."_s;
    t.successTitle = u"Account added."_s;
    return t;
}

} // namespace

frmAddblacklist::frmAddblacklist(ConfigForm &form, QWidget *parent)
    : AddEntryDialog(form, ListKind::Blacklist, texts(), parent)
{
    setObjectName(u"frmAddblacklist"_s);
}
