#include "ui/appicon.h"

#include <QPainter>

using namespace Qt::StringLiterals;

namespace AppIcon {

QIcon icon()
{
    QIcon result;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        result.addFile(u":/quellmail/icons/quellmail-%1.png"_s.arg(size), QSize(size, size));
    return result;
}

QPixmap menuPicture()
{
    QPixmap picture(17, 15);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(1, 0, 15, 15), QPixmap(u":/quellmail/icons/quellmail-16.png"_s));
    return picture;
}

} // namespace AppIcon
