// Draws the program's icon set and logo, so the committed pictures can be
// made again from this file alone:
//   quellmail_icongen <folder>   writes icons/quellmail-<size>.png and logo.png
// Small sizes get their own drawing with whole-pixel edges; scaling the large
// one down blurs the envelope into the shield.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

const QColor shieldTop(0x3b, 0x8c, 0xf0);
const QColor shieldBottom(0x12, 0x4f, 0xb5);
const QColor shieldEdge(0x0a, 0x2a, 0x5e);
const QColor flapColour(0x1d, 0x5f, 0xc4);
const QColor checkColour(0x2e, 0xa0, 0x43);

// The shield on a 256 by 256 design grid.
QPainterPath shieldPath()
{
    QPainterPath path;
    path.moveTo(128, 10);
    path.cubicTo(160, 30, 196, 38, 232, 38);
    path.lineTo(232, 118);
    path.cubicTo(232, 182, 190, 222, 128, 248);
    path.cubicTo(66, 222, 24, 182, 24, 118);
    path.lineTo(24, 38);
    path.cubicTo(60, 38, 96, 30, 128, 10);
    path.closeSubpath();
    return path;
}

// Large sizes: gradient shield, dark rim, white envelope, green tick.
QImage drawLarge(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    const QPainterPath shield = shieldPath();
    QLinearGradient fill(0, 10, 0, 248);
    fill.setColorAt(0, shieldTop);
    fill.setColorAt(1, shieldBottom);
    // The rim keeps the shape on light panels, the bright fill on dark ones.
    p.setPen(QPen(shieldEdge, size >= 64 ? 9 : 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(shield);

    // A soft light on the left half.
    QPainterPath left;
    left.addRect(QRectF(0, 0, 128, 256));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 34));
    p.drawPath(shield.intersected(left));

    // Envelope.
    const QRectF envelope(62, 82, 132, 92);
    p.setPen(QPen(shieldEdge, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawRoundedRect(envelope, 10, 10);
    QPainterPath flap;
    flap.moveTo(envelope.left() + 8, envelope.top() + 8);
    flap.lineTo(envelope.center().x(), envelope.top() + 54);
    flap.lineTo(envelope.right() - 8, envelope.top() + 8);
    p.setPen(QPen(flapColour, 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);

    // Tick badge: the mail that gets through.
    const QPointF centre(186, 184);
    p.setPen(QPen(Qt::white, 8));
    p.setBrush(checkColour);
    p.drawEllipse(centre, 38, 38);
    QPainterPath tick;
    tick.moveTo(centre + QPointF(-19, 1));
    tick.lineTo(centre + QPointF(-5, 15));
    tick.lineTo(centre + QPointF(19, -13));
    p.setPen(QPen(Qt::white, 11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
    return image;
}

// Small sizes (16 to 32): flat shield with a one-pixel rim and an envelope
// whose edges sit on whole pixels; no badge, it would be a smudge.
QImage drawSmall(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const qreal s = size / 256.0;
    QTransform toPixels;
    toPixels.scale(s, s);
    const QPainterPath shield = toPixels.map(shieldPath());
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, shieldTop);
    fill.setColorAt(1, shieldBottom);
    p.setPen(QPen(shieldEdge, 1.0));
    p.setBrush(fill);
    p.drawPath(shield);

    // Envelope: a little over half the width, centred, on whole pixels.
    const int w = qRound(size * 0.56);
    const int h = qRound(w * 0.68);
    const int x = (size - w) / 2;
    const int y = qRound(size * 0.31);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRect(x, y, w, h));
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath flap;
    flap.moveTo(x + 0.5, y + 0.5);
    flap.lineTo(x + w / 2.0, y + h * 0.62);
    flap.lineTo(x + w - 0.5, y + 0.5);
    p.setPen(QPen(flapColour, size >= 24 ? 1.6 : 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
    return image;
}

bool save(const QImage &image, const QString &path)
{
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resource folder>\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(u"icons"_s))
        return 1;
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage image = size <= 32 ? drawSmall(size) : drawLarge(size);
        ok = save(image.convertToFormat(QImage::Format_ARGB32), folder.filePath(u"icons/quellmail-%1.png"_s.arg(size)))
             && ok;
    }
    ok = save(drawLarge(144).convertToFormat(QImage::Format_ARGB32), folder.filePath(u"logo.png"_s)) && ok;
    return ok ? 0 : 1;
}
