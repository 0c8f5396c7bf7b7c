#include "config/widgets/module_griddisplay.h"

#include "config/configform.h"
#include "config/listkind.h"
#include "config/widgets/listgridview.h"

void module_griddisplay(ConfigForm &form)
{
    for (ListKind kind : {ListKind::Accounts, ListKind::Blacklist, ListKind::Keywords, ListKind::Whitelist}) {
        if (ListGridView *view = Lists::view(form, kind)) {
            view->setUpdatesEnabled(true);
            view->applyColumnWidths();
        }
    }
}
