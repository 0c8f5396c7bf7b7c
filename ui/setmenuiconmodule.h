#pragma once
// A picture beside an item of a window's menu bar.

#include <QPixmap>

class QWidget;

namespace SetMenuIconModule {

// Takes the menu bar of `window`, its drop-down menu number `menu` and that
// menu's item at position `item` (both counted from 0; separators count, menus
// hidden from the bar do not), and gives the item `unchecked` as its picture
// and `checked` as its picture while checked. `flags` selects how the item is
// looked up again on the platform this came from; an action here is found
// once, so it is not needed. Returns non-zero on success; when any step finds
// nothing, nothing changes and 0 is returned.
int SetMenuItemIcon(QWidget *window, int menu, int item, int flags, const QPixmap &unchecked, const QPixmap &checked);

} // namespace SetMenuIconModule
