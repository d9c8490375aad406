// Draws the wizard's header image and the application icons into a folder:
//   header.png            431 x 79, 256 colours
//   icon-16.png ... icon-128.png
// Run through the build's "images" target; the results are committed beside this file.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor kDarkBlue(16, 42, 112);
const QColor kPaleBlue(198, 218, 244);
const QColor kMidBlue(120, 160, 214);
const QColor kOrange(240, 132, 24);

// A sheet of paper with folded corner and a few text lines, as on the header's picture.
void drawSheet(QPainter& painter, const QRectF& sheet, const QColor& edge, qreal lineGap)
{
    const qreal fold = sheet.width() * 0.25;
    QPainterPath outline;
    outline.moveTo(sheet.topLeft());
    outline.lineTo(sheet.right() - fold, sheet.top());
    outline.lineTo(sheet.right(), sheet.top() + fold);
    outline.lineTo(sheet.bottomRight());
    outline.lineTo(sheet.bottomLeft());
    outline.closeSubpath();
    painter.setPen(QPen(edge, 1.2));
    painter.setBrush(Qt::white);
    painter.drawPath(outline);
    painter.setPen(QPen(edge, 1.0));
    for (qreal y = sheet.top() + fold + lineGap; y < sheet.bottom() - lineGap * 0.5; y += lineGap)
        painter.drawLine(QPointF(sheet.left() + sheet.width() * 0.15, y),
                         QPointF(sheet.right() - sheet.width() * 0.15, y));
}

void drawLens(QPainter& painter, const QPointF& centre, qreal radius, const QColor& rim, qreal width)
{
    painter.setPen(QPen(rim, width, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(QColor(255, 255, 255, 120));
    painter.drawEllipse(centre, radius, radius);
    const QPointF handleStart = centre + QPointF(radius * 0.72, radius * 0.72);
    painter.setPen(QPen(rim, width * 1.8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(handleStart, handleStart + QPointF(radius * 0.8, radius * 0.8));
}

QImage header()
{
    QImage image(431, 79, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // The picture on the right: pale sky, a stack of pages and a lens over them.
    QLinearGradient sky(0, 0, 0, 79);
    sky.setColorAt(0, kPaleBlue.lighter(104));
    sky.setColorAt(1, kPaleBlue);
    painter.fillRect(QRect(180, 0, 251, 77), sky);
    for (int i = 0; i < 4; ++i)
        drawSheet(painter, QRectF(262 + i * 26, 10 + (i % 2) * 6, 34, 46), kMidBlue, 6);
    drawLens(painter, QPointF(370, 36), 17, kDarkBlue.lighter(160), 3);

    // White at the left fading into the picture.
    QLinearGradient fade(180, 0, 330, 0);
    fade.setColorAt(0, Qt::white);
    fade.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(QRect(180, 0, 150, 77), fade);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(26);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(kDarkBlue);
    painter.drawText(QRect(14, 0, 300, 77), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("VantrelIndexer"));

    painter.fillRect(QRect(0, 77, 431, 2), kOrange);
    painter.end();

    // 256 colours: steps between every two of the picture's own colours, which is what
    // antialiasing and the fade blend.
    const QList<QColor> keys = {Qt::white, kPaleBlue.lighter(104), kPaleBlue, kMidBlue,
                                kDarkBlue, kDarkBlue.lighter(160), kOrange};
    QList<QRgb> palette;
    for (int a = 0; a < keys.size(); ++a)
        for (int b = a + 1; b < keys.size(); ++b)
            for (int step = 0; step < 12; ++step) {
                const qreal t = step / 11.0;
                palette.append(qRgb(qRound(keys[a].red() * (1 - t) + keys[b].red() * t),
                                    qRound(keys[a].green() * (1 - t) + keys[b].green() * t),
                                    qRound(keys[a].blue() * (1 - t) + keys[b].blue() * t)));
            }
    return image.convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither);
}

QImage icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    drawSheet(painter, QRectF(4.5, 2.5, 19, 25), kDarkBlue, size >= 32 ? 4 : 5);
    drawLens(painter, QPointF(19, 18), 6.5, kOrange, 2.4);
    painter.end();
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    bool written = header().save(folder.filePath(QStringLiteral("header.png")));
    for (int size : {16, 32, 48, 128})
        written = icon(size).save(folder.filePath(QStringLiteral("icon-%1.png").arg(size))) && written;
    if (!written)
        std::fprintf(stderr, "Cannot write the images into %s\n", qPrintable(folder.path()));
    return written ? 0 : 1;
}
