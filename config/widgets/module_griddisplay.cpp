#include "config/widgets/module_griddisplay.h"

#include "config/listkind.h"
#include "config/widgets/configwindow.h"
#include "config/widgets/listgridview.h"

void module_griddisplay(ConfigWindow &form)
{
    for (ListKind kind : {ListKind::Accounts, ListKind::Blacklist, ListKind::Keywords, ListKind::Whitelist}) {
        if (ListGridView *view = form.gridView(kind)) {
            view->setUpdatesEnabled(true);
            view->applyColumnWidths();
        }
    }
}
