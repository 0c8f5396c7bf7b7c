#include "module_griddisplay.h"

#include "configform.h"
#include "listgridview.h"
#include "listkind.h"

void module_griddisplay(ConfigForm &form)
{
    for (ListKind kind : {ListKind::Accounts, ListKind::Blacklist, ListKind::Keywords, ListKind::Whitelist}) {
        if (ListGridView *view = Lists::view(form, kind)) {
            view->setUpdatesEnabled(true);
            view->applyColumnWidths();
        }
    }
}
