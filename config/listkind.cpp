#include "config/listkind.h"

#include "config/configform.h"
#include "config/listtable.h"

using namespace Qt::StringLiterals;

namespace Lists {

namespace {

// Everything that differs between the four lists, in one place.
struct KindInfo
{
    ListTable *(ConfigForm::*table)() const;
    FormBox countBox;
    const char16_t *fileName;
    const char16_t *caption;
    const char16_t *savedSuffix;
};

const KindInfo &info(ListKind kind)
{
    static const KindInfo kinds[] = {
        {&ConfigForm::gridAccounts, FormBox::AccountsCount, u"accounts.dat", u" Mail Server | User Login | Password ",
         u" accounts."},
        {&ConfigForm::gridwhitelist, FormBox::WhitelistCount, u"whitelist.dat",
         u"Email addresses below are not scanned for Spam.", u" whitelist addresses."},
        {&ConfigForm::gridblacklist, FormBox::BlacklistCount, u"blacklist.dat",
         u"Email addresses below are always blocked.", u" blacklist addresses."},
        {&ConfigForm::gridkeywords, FormBox::KeywordsCount, u"keywords.dat",
         u"Key words and phrases used in filtering.", u" keywords."},
    };
    return kinds[int(kind)];
}

} // namespace

ListTable *table(const ConfigForm &form, ListKind kind) { return (form.*info(kind).table)(); }

FormBox countBox(ListKind kind) { return info(kind).countBox; }

QString fileName(ListKind kind) { return QString::fromUtf16(info(kind).fileName); }

QString filePath(const ConfigForm &form, ListKind kind) { return form.programFolder() + u'/' + fileName(kind); }

QString caption(ListKind kind) { return QString::fromUtf16(info(kind).caption); }

QString savedSuffix(ListKind kind) { return QString::fromUtf16(info(kind).savedSuffix); }

void appendRow(ConfigForm &form, ListKind kind, const QStringList &cells)
{
    ListTable *list = table(form, kind);
    list->appendRow(cells);
    form.setBoxText(countBox(kind), QString::number(list->rowCountValue()));
}

} // namespace Lists
