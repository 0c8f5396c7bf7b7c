#include "ui/setmenuiconmodule.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>

namespace SetMenuIconModule {

int SetMenuItemIcon(QWidget *window, int menu, int item, int flags, const QPixmap &unchecked, const QPixmap &checked)
{
    Q_UNUSED(flags)
    if (!window)
        return 0;
    const QMenuBar *menuBar = window->findChild<QMenuBar *>(QString(), Qt::FindDirectChildrenOnly);
    if (!menuBar)
        return 0;
    QList<QMenu *> menus;
    for (QAction *action : menuBar->actions()) {
        if (action->isVisible() && action->menu())
            menus.append(action->menu());
    }
    if (menu < 0 || menu >= menus.size())
        return 0;
    const QList<QAction *> items = menus.at(menu)->actions();
    if (item < 0 || item >= items.size())
        return 0;
    QIcon icon;
    icon.addPixmap(unchecked, QIcon::Normal, QIcon::Off);
    icon.addPixmap(checked, QIcon::Normal, QIcon::On);
    QAction *target = items.at(item);
    target->setIcon(icon);
    target->setIconVisibleInMenu(true);
    return 1;
}

} // namespace SetMenuIconModule
