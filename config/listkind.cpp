#include "config/listkind.h"

#include "config/configform.h"
#include "config/listtable.h"
#include "config/widgets/listgridview.h"

#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace Lists {

namespace {

// Everything that differs between the four lists, in one place.
struct KindInfo
{
    ListTable *(ConfigForm::*table)() const;
    QTableView *(ConfigForm::*view)() const;
    QLineEdit *(ConfigForm::*countBox)() const;
    const char16_t *fileName;
    const char16_t *caption;
    const char16_t *savedSuffix;
};

const KindInfo &info(ListKind kind)
{
    static const KindInfo kinds[] = {
        {&ConfigForm::gridAccounts, &ConfigForm::gridAccountsView, &ConfigForm::txtAccountsCount, u"accounts.dat",
         u" Mail Server | User Login | Password ", u" accounts."},
        {&ConfigForm::gridwhitelist, &ConfigForm::gridwhitelistView, &ConfigForm::txtwhitelistCount, u"whitelist.dat",
         u"Email addresses below are not scanned for Spam.", u" whitelist addresses."},
        {&ConfigForm::gridblacklist, &ConfigForm::gridblacklistView, &ConfigForm::txtblacklistCount, u"blacklist.dat",
         u"Email addresses below are always blocked.", u" blacklist addresses."},
        {&ConfigForm::gridkeywords, &ConfigForm::gridkeywordsView, &ConfigForm::txtkeywordsCount, u"keywords.dat",
         u"Key words and phrases used in filtering.", u" keywords."},
    };
    return kinds[int(kind)];
}

} // namespace

ListTable *table(const ConfigForm &form, ListKind kind) { return (form.*info(kind).table)(); }

ListGridView *view(const ConfigForm &form, ListKind kind)
{
    return qobject_cast<ListGridView *>((form.*info(kind).view)());
}

QLineEdit *countBox(const ConfigForm &form, ListKind kind) { return (form.*info(kind).countBox)(); }

QString fileName(ListKind kind) { return QString::fromUtf16(info(kind).fileName); }

QString filePath(const ConfigForm &form, ListKind kind) { return form.programFolder() + u'/' + fileName(kind); }

QString caption(ListKind kind) { return QString::fromUtf16(info(kind).caption); }

QString savedSuffix(ListKind kind) { return QString::fromUtf16(info(kind).savedSuffix); }

void appendRow(ConfigForm &form, ListKind kind, const QStringList &cells)
{
    ListTable *list = table(form, kind);
    list->appendRow(cells);
    countBox(form, kind)->setText(QString::number(list->rowCountValue()));
}

} // namespace Lists
