#include "listkind.h"

#include "configform.h"
#include "listgridview.h"
#include "listtable.h"

#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace Lists {

ListTable *table(const ConfigForm &form, ListKind kind)
{
    switch (kind) {
    case ListKind::Accounts:
        return form.gridAccounts();
    case ListKind::Whitelist:
        return form.gridwhitelist();
    case ListKind::Blacklist:
        return form.gridblacklist();
    case ListKind::Keywords:
        return form.gridkeywords();
    }
    return nullptr;
}

ListGridView *view(const ConfigForm &form, ListKind kind)
{
    QTableView *grid = nullptr;
    switch (kind) {
    case ListKind::Accounts:
        grid = form.gridAccountsView();
        break;
    case ListKind::Whitelist:
        grid = form.gridwhitelistView();
        break;
    case ListKind::Blacklist:
        grid = form.gridblacklistView();
        break;
    case ListKind::Keywords:
        grid = form.gridkeywordsView();
        break;
    }
    return qobject_cast<ListGridView *>(grid);
}

QLineEdit *countBox(const ConfigForm &form, ListKind kind)
{
    switch (kind) {
    case ListKind::Accounts:
        return form.txtAccountsCount();
    case ListKind::Whitelist:
        return form.txtwhitelistCount();
    case ListKind::Blacklist:
        return form.txtblacklistCount();
    case ListKind::Keywords:
        return form.txtkeywordsCount();
    }
    return nullptr;
}

QString fileName(ListKind kind)
{
    switch (kind) {
    case ListKind::Accounts:
        return u"accounts.dat"_s;
    case ListKind::Whitelist:
        return u"whitelist.dat"_s;
    case ListKind::Blacklist:
        return u"blacklist.dat"_s;
    case ListKind::Keywords:
        return u"keywords.dat"_s;
    }
    return QString();
}

QString filePath(const ConfigForm &form, ListKind kind)
{
    return form.programFolder() + u'/' + fileName(kind);
}

QString caption(ListKind kind)
{
    switch (kind) {
    case ListKind::Accounts:
        return u" Mail Server | User Login | Password "_s;
    case ListKind::Whitelist:
        return u"Email addresses below are not scanned for Spam."_s;
    case ListKind::Blacklist:
        return u"Email addresses below are always blocked."_s;
    case ListKind::Keywords:
        return u"Key words and phrases used in filtering."_s;
    }
    return QString();
}

void appendRow(ConfigForm &form, ListKind kind, const QStringList &cells)
{
    ListTable *list = table(form, kind);
    list->appendRow(cells);
    countBox(form, kind)->setText(QString::number(list->rowCountValue()));
}

} // namespace Lists
