#pragma once
// The program's icon in every size it ships in (tray, window, desktop).

#include <QIcon>
#include <QPixmap>

namespace AppIcon {

QIcon icon();
// The 17 by 15 picture shown beside a tray menu item.
QPixmap menuPicture();

} // namespace AppIcon
