#include "config/widgets/configwindow.h"

#include "config/listkind.h"
#include "config/widgets/listgridview.h"

ListGridView *ConfigWindow::gridView(ListKind kind) const
{
    QTableView *view = nullptr;
    switch (kind) {
    case ListKind::Accounts: view = gridAccountsView(); break;
    case ListKind::Whitelist: view = gridwhitelistView(); break;
    case ListKind::Blacklist: view = gridblacklistView(); break;
    case ListKind::Keywords: view = gridkeywordsView(); break;
    }
    return qobject_cast<ListGridView *>(view);
}
