#include "config/frmaddwhitelist.h"

using namespace Qt::StringLiterals;

namespace {

AddEntryDialog::Texts texts()
{
    AddEntryDialog::Texts t;
    t.windowCaption = u"Add an email address"_s;
    t.frameCaption = u" Add an email to your whitelist "_s;
    t.label = u"Enter an email address:"_s;
    t.boxName = u"txtWhitelistEmail"_s;
    t.addName = u"cmdAddWhitelist"_s;
    t.cancelName = u"cmdcancelwhitelist"_s;
    t.minimumLength = 4;
    t.refusal = u"Please enter an email address to add to the whitelist."_s;
    t.success = u"The email address has been added to the whitelist."_s;
    t.successTitle = u"Account added."_s;
    return t;
}

} // namespace

frmAddWhitelist::frmAddWhitelist(ConfigForm &form, QWidget *parent)
    : AddEntryDialog(form, ListKind::Whitelist, texts(), parent)
{
    setObjectName(u"frmAddWhitelist"_s);
}
