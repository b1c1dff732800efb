// Draws the product pictures of the selection page, images/sernix.png
// (217 x 217) and images/torvel.png (283 x 217), and the application icon in
// the hicolor sizes, packaging/icons/tavix-gateway-tool-<size>.png (16, 32,
// 48, 64, 128 and 256 pixels square), all on a transparent background.
//
// Build and run from the repository root:
//
//   cmake -S tools/draw-images -B /tmp/draw-images-build
//   cmake --build /tmp/draw-images-build
//   QT_QPA_PLATFORM=offscreen /tmp/draw-images-build/draw-images images packaging/icons
//
// The first argument is the folder for the product pictures (default: the
// current folder), the second the folder for the icons (default: the first).
//
// The Windows icon, packaging/windows/tavix-gateway-tool.ico, packs the icon
// PNG files as they are, one entry a size:
//
//   /tmp/draw-images-build/draw-images --ico packaging/icons
//   packaging/windows/tavix-gateway-tool.ico
// The lettering uses "Nimbus Sans" (falling back to "DejaVu Sans"); the output
// is committed, so the tool itself never depends on these fonts.

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <array>
#include <cstdio>
#include <vector>

namespace {

// The hicolor sizes the icon is drawn in.
constexpr std::array<int, 6> icon_sizes{ 16, 32, 48, 64, 128, 256 };

const QColor accent(0xf2, 0x8c, 0x28); // the maker's orange

QFont sansFont(qreal pixelSize, QFont::Weight weight)
{
    QFont f(QStringLiteral("Nimbus Sans"));
    f.setPixelSize(qRound(pixelSize));
    f.setWeight(weight);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// Alpha-only box blur, three passes each way: close enough to a Gaussian for
// a soft drop shadow.
QImage blurredShadow(const QImage &mask, int radius, qreal strength)
{
    const int w = mask.width();
    const int h = mask.height();
    std::vector<float> a(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(mask.constScanLine(y));
        for (int x = 0; x < w; ++x)
            a[size_t(y) * w + x] = qAlpha(line[x]);
    }
    std::vector<float> tmp(a.size());
    const float norm = 1.0f / float(2 * radius + 1);
    auto pass = [&](int count, int length, auto at) {
        for (int i = 0; i < count; ++i) {
            float sum = 0;
            for (int k = -radius; k <= radius; ++k)
                sum += (k >= 0 && k < length) ? a[at(i, k)] : 0.0f;
            for (int j = 0; j < length; ++j) {
                tmp[at(i, j)] = sum * norm;
                const int out = j - radius;
                const int in = j + radius + 1;
                if (out >= 0)
                    sum -= a[at(i, out)];
                if (in < length)
                    sum += a[at(i, in)];
            }
        }
        a.swap(tmp);
    };
    for (int n = 0; n < 3; ++n) {
        pass(h, w, [w](int row, int x) { return size_t(row) * w + x; });
        pass(w, h, [w](int col, int y) { return size_t(y) * w + col; });
    }
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgba(0, 0, 0, qBound(0, qRound(a[size_t(y) * w + x] * strength), 255));
    }
    return out;
}

void dropShadow(QPainter &p, const QPainterPath &shape, QPointF offset, int radius, qreal strength)
{
    const QSize size = p.device() ? QSize(p.device()->width(), p.device()->height()) : QSize();
    QImage mask(size, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing);
        m.translate(offset);
        m.fillPath(shape, Qt::black);
    }
    p.drawImage(0, 0, blurredShadow(mask, radius, strength));
}

QLinearGradient metal(QPointF from, QPointF to)
{
    QLinearGradient g(from, to);
    g.setColorAt(0.0, QColor(0xf0, 0xf2, 0xf5));
    g.setColorAt(0.35, QColor(0xb9, 0xc0, 0xc8));
    g.setColorAt(0.55, QColor(0x86, 0x8f, 0x9a));
    g.setColorAt(1.0, QColor(0xd3, 0xd8, 0xde));
    return g;
}

// The enclosure: a rounded box lit from above, with a bright bevel along the
// top edge and a darker one along the bottom.
void enclosure(QPainter &p, const QRectF &r, qreal radius, QColor top, QColor bottom)
{
    QPainterPath body;
    body.addRoundedRect(r, radius, radius);

    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0.0, top.lighter(125));
    fill.setColorAt(0.08, top);
    fill.setColorAt(0.85, bottom);
    fill.setColorAt(1.0, bottom.darker(130));
    p.fillPath(body, fill);

    // Sheen across the upper half.
    QPainterPath sheen;
    sheen.addRoundedRect(r.adjusted(3, 3, -3, -r.height() * 0.52), radius - 3, radius - 3);
    QLinearGradient shine(r.topLeft(), QPointF(r.left(), r.top() + r.height() * 0.5));
    shine.setColorAt(0.0, QColor(255, 255, 255, 70));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillPath(sheen, shine);

    p.setPen(QPen(QColor(0, 0, 0, 110), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(body);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1.0));
    p.drawRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1.5, radius - 1.5);
}

void led(QPainter &p, QPointF c, QColor colour, bool lit = true)
{
    if (lit) {
        QRadialGradient glow(c, 9);
        QColor halo = colour;
        halo.setAlpha(150);
        glow.setColorAt(0.0, halo);
        halo.setAlpha(0);
        glow.setColorAt(1.0, halo);
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(c, 9, 9);
    }
    p.setPen(QPen(QColor(0, 0, 0, 140), 0.8));
    QRadialGradient body(c - QPointF(1, 1), 4.2);
    body.setColorAt(0.0, lit ? colour.lighter(170) : colour.darker(200));
    body.setColorAt(1.0, lit ? colour : colour.darker(320));
    p.setBrush(body);
    p.drawEllipse(c, 3.4, 3.4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, lit ? 200 : 90));
    p.drawEllipse(c + QPointF(-1.1, -1.2), 1.0, 0.8);
}

// The name plate: a light label with an orange bar, the product name in bold
// and, under it, what the gateway is.
void namePlate(QPainter &p, const QRectF &r, const QString &name, const QString &line)
{
    QPainterPath plate;
    plate.addRoundedRect(r, 5, 5);
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0.0, QColor(0xfb, 0xfc, 0xfd));
    fill.setColorAt(1.0, QColor(0xdc, 0xe2, 0xe8));
    p.fillPath(plate, fill);
    p.setPen(QPen(QColor(0, 0, 0, 90), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawPath(plate);

    const QRectF bar(r.left() + 7, r.top() + 7, 4, r.height() - 14);
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawRoundedRect(bar, 2, 2);

    const QRectF text = r.adjusted(17, 3, -6, -3);
    const QFont nameFont = sansFont(r.height() * 0.48, QFont::Bold);
    const QFont lineFont = sansFont(r.height() * 0.19, QFont::DemiBold);
    const QFontMetricsF nm(nameFont);
    const QFontMetricsF lm(lineFont);
    const qreal block = nm.capHeight() + 5 + lm.capHeight();
    const qreal nameBase = text.center().y() - block / 2 + nm.capHeight();

    p.setFont(nameFont);
    p.setPen(QColor(0x1c, 0x25, 0x31));
    p.drawText(QPointF(text.left(), nameBase), name);

    QFont spaced = lineFont;
    spaced.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    p.setFont(spaced);
    p.setPen(QColor(0x5a, 0x66, 0x74));
    p.drawText(QPointF(text.left() + 1, nameBase + 5 + lm.capHeight()), line);
}

// The maker's mark, embossed on the enclosure.
void makersMark(QPainter &p, QPointF baseline)
{
    QFont f = sansFont(8, QFont::Bold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.6);
    p.setFont(f);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(baseline + QPointF(0, 0.8), QStringLiteral("HALVANE"));
    p.setPen(QColor(255, 255, 255, 150));
    p.drawText(baseline, QStringLiteral("HALVANE"));
}

// The NMEA 2000 bus connector: a knurled coupling nut and a threaded stub
// pointing to the right from the enclosure's side wall at height cy.
void busConnector(QPainter &p, qreal x, qreal cy)
{
    // Collar moulded into the enclosure.
    p.setPen(QPen(QColor(0, 0, 0, 120), 0.8));
    QLinearGradient collar(QPointF(x, cy - 15), QPointF(x, cy + 15));
    collar.setColorAt(0.0, QColor(0x4a, 0x50, 0x58));
    collar.setColorAt(0.5, QColor(0x2a, 0x2e, 0x34));
    collar.setColorAt(1.0, QColor(0x1a, 0x1d, 0x21));
    p.setBrush(collar);
    p.drawRoundedRect(QRectF(x - 2, cy - 15, 8, 30), 2, 2);

    // Coupling nut with knurling.
    const QRectF nut(x + 6, cy - 13, 14, 26);
    p.setBrush(metal(nut.topLeft(), nut.bottomLeft()));
    p.drawRoundedRect(nut, 2.5, 2.5);
    p.setPen(QPen(QColor(0, 0, 0, 55), 0.8));
    for (qreal y = nut.top() + 3; y < nut.bottom() - 2; y += 2.6)
        p.drawLine(QPointF(nut.left() + 1.5, y), QPointF(nut.right() - 1.5, y));

    // Threaded stub.
    const QRectF stub(x + 20, cy - 8.5, 11, 17);
    p.setPen(QPen(QColor(0, 0, 0, 120), 0.8));
    p.setBrush(metal(stub.topLeft(), stub.bottomLeft()));
    p.drawRect(stub);
    p.setPen(QPen(QColor(0, 0, 0, 70), 0.9));
    for (qreal sx = stub.left() + 2; sx < stub.right() - 0.5; sx += 2.2)
        p.drawLine(QPointF(sx, stub.top() + 0.6), QPointF(sx + 1.1, stub.bottom() - 0.6));

    // Open face.
    QLinearGradient face(QPointF(0, cy - 8), QPointF(0, cy + 8));
    face.setColorAt(0.0, QColor(0x5b, 0x63, 0x6d));
    face.setColorAt(1.0, QColor(0x2f, 0x34, 0x3a));
    p.setPen(QPen(QColor(0, 0, 0, 130), 0.8));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(x + 30.5, cy - 8, 3.5, 16), 1.5, 1.5);
}

void sernix(QPainter &p)
{
    const QRectF box(14, 30, 156, 104);
    QPainterPath boxPath;
    boxPath.addRoundedRect(box, 16, 16);

    // Cable from the underside of the box to a USB plug lying on the floor.
    QPainterPath cable;
    cable.moveTo(62, 142);
    cable.cubicTo(62, 196, 102, 182, 136, 184);

    QPainterPath shadowShape = boxPath;
    dropShadow(p, shadowShape, QPointF(0, 7), 5, 0.42);
    {
        QPainterPathStroker s;
        s.setWidth(7);
        s.setCapStyle(Qt::RoundCap);
        QPainterPath plugShadow = s.createStroke(cable);
        plugShadow.addRoundedRect(QRectF(134, 176, 68, 18), 4, 4);
        dropShadow(p, plugShadow, QPointF(0, 4), 3, 0.35);
    }

    p.setPen(QPen(QColor(0x1d, 0x21, 0x27), 6.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(cable);
    p.setPen(QPen(QColor(255, 255, 255, 55), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable.translated(-1.2, -1.4));

    // Strain relief under the box.
    p.setPen(QPen(QColor(0, 0, 0, 150), 0.8));
    QLinearGradient relief(QPointF(53, 0), QPointF(71, 0));
    relief.setColorAt(0.0, QColor(0x22, 0x26, 0x2c));
    relief.setColorAt(0.45, QColor(0x4b, 0x52, 0x5b));
    relief.setColorAt(1.0, QColor(0x1b, 0x1e, 0x23));
    p.setBrush(relief);
    QPainterPath boot;
    boot.moveTo(53, 130);
    boot.lineTo(71, 130);
    boot.lineTo(67, 146);
    boot.lineTo(57, 146);
    boot.closeSubpath();
    p.drawPath(boot);

    // USB plug: boot, moulded body, metal shell.
    QPainterPath plugBoot;
    plugBoot.moveTo(134, 181);
    plugBoot.lineTo(146, 177);
    plugBoot.lineTo(146, 191);
    plugBoot.lineTo(134, 187);
    plugBoot.closeSubpath();
    QLinearGradient rubber(QPointF(0, 176), QPointF(0, 192));
    rubber.setColorAt(0.0, QColor(0x4d, 0x54, 0x5d));
    rubber.setColorAt(1.0, QColor(0x1b, 0x1e, 0x23));
    p.setBrush(rubber);
    p.drawPath(plugBoot);

    const QRectF body(145, 174, 34, 20);
    QLinearGradient moulded(body.topLeft(), body.bottomLeft());
    moulded.setColorAt(0.0, QColor(0x5a, 0x62, 0x6c));
    moulded.setColorAt(0.5, QColor(0x33, 0x39, 0x40));
    moulded.setColorAt(1.0, QColor(0x1f, 0x23, 0x28));
    p.setBrush(moulded);
    p.drawRoundedRect(body, 4, 4);

    // USB mark on the plug body.
    p.setPen(QPen(QColor(255, 255, 255, 170), 1.0, Qt::SolidLine, Qt::RoundCap));
    const qreal uy = body.center().y();
    p.drawLine(QPointF(151, uy), QPointF(171, uy));
    p.drawLine(QPointF(156, uy), QPointF(160, uy - 4));
    p.drawLine(QPointF(160, uy - 4), QPointF(165, uy - 4));
    p.drawLine(QPointF(159, uy), QPointF(163, uy + 4));
    p.drawLine(QPointF(163, uy + 4), QPointF(167, uy + 4));
    p.setBrush(QColor(255, 255, 255, 170));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(151, uy), 1.6, 1.6);
    QPolygonF arrow;
    arrow << QPointF(174, uy) << QPointF(170.5, uy - 2.2) << QPointF(170.5, uy + 2.2);
    p.drawPolygon(arrow);
    p.drawRect(QRectF(164.5, uy - 5.5, 2.5, 2.5));
    p.drawEllipse(QPointF(167.5, uy + 4), 1.4, 1.4);

    const QRectF shell(179, 176.5, 24, 15);
    p.setPen(QPen(QColor(0, 0, 0, 120), 0.8));
    p.setBrush(metal(shell.topLeft(), shell.bottomLeft()));
    p.drawRect(shell);
    p.setBrush(QColor(0x3a, 0x40, 0x48));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(189, 179.5, 3.5, 3));
    p.drawRect(QRectF(196, 179.5, 3.5, 3));

    // The box itself, its connector and its face.
    busConnector(p, box.right() - 1, box.center().y() + 4);
    enclosure(p, box, 16, QColor(0x3b, 0x4f, 0x6b), QColor(0x1a, 0x24, 0x33));

    led(p, QPointF(33, 47), QColor(0x3c, 0xe0, 0x6a));
    led(p, QPointF(46, 47), QColor(0xff, 0xb3, 0x1f));
    led(p, QPointF(59, 47), QColor(0xff, 0x4a, 0x3d), false);
    makersMark(p, QPointF(106, 51));

    namePlate(p, QRectF(26, 64, 132, 52), QStringLiteral("Sernix"),
              QStringLiteral("NMEA 2000 \u00b7 USB"));
}

// A swivel antenna standing on the top edge at x.
void antenna(QPainter &p, qreal x, qreal baseY, qreal length)
{
    QLinearGradient hinge(QPointF(x - 7, 0), QPointF(x + 7, 0));
    hinge.setColorAt(0.0, QColor(0x1b, 0x1e, 0x23));
    hinge.setColorAt(0.45, QColor(0x55, 0x5d, 0x67));
    hinge.setColorAt(1.0, QColor(0x1b, 0x1e, 0x23));
    p.setPen(QPen(QColor(0, 0, 0, 140), 0.8));
    p.setBrush(hinge);
    p.drawRoundedRect(QRectF(x - 7, baseY - 9, 14, 12), 3, 3);

    const QRectF rod(x - 4.5, baseY - 9 - length, 9, length + 2);
    QLinearGradient g(rod.topLeft(), rod.topRight());
    g.setColorAt(0.0, QColor(0x22, 0x26, 0x2c));
    g.setColorAt(0.4, QColor(0x5c, 0x65, 0x70));
    g.setColorAt(1.0, QColor(0x16, 0x19, 0x1d));
    p.setBrush(g);
    p.drawRoundedRect(rod, 4.5, 4.5);
    p.setPen(QPen(QColor(0, 0, 0, 60), 0.8));
    for (qreal y = baseY - 14; y > baseY - 24; y -= 2.5)
        p.drawLine(QPointF(rod.left() + 1, y), QPointF(rod.right() - 1, y));
}

// Wi-Fi mark: a dot and three arcs opening upwards, centred on c.
void wifiMark(QPainter &p, QPointF c, qreal size, QColor colour)
{
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, size * 0.11, size * 0.11);
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const qreal r = size * 0.3 * i;
        p.setPen(QPen(colour, size * 0.13, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    }
}

void torvel(QPainter &p)
{
    const QRectF box(14, 72, 222, 122);
    QPainterPath boxPath;
    boxPath.addRoundedRect(box, 16, 16);
    QPainterPath shadowShape = boxPath;
    shadowShape.addRoundedRect(QRectF(38, 10, 12, 66), 5, 5);
    shadowShape.addRoundedRect(QRectF(200, 10, 12, 66), 5, 5);
    dropShadow(p, shadowShape, QPointF(0, 7), 5, 0.42);

    antenna(p, 44, 74, 58);
    antenna(p, 206, 74, 58);

    // Radio waves between the antennas.
    const QColor wave(0x2f, 0xa8, 0xe0);
    for (int i = 0; i < 3; ++i) {
        QColor c = wave;
        c.setAlpha(200 - 55 * i);
        p.setPen(QPen(c, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        const qreal r = 9 + 8 * i;
        p.drawArc(QRectF(125 - r, 52 - r, 2 * r, 2 * r), 40 * 16, 100 * 16);
    }

    busConnector(p, box.right() - 1, box.center().y() + 6);
    enclosure(p, box, 16, QColor(0x2b, 0x5e, 0x6f), QColor(0x12, 0x2f, 0x3a));

    led(p, QPointF(33, 90), QColor(0x3c, 0xe0, 0x6a));
    led(p, QPointF(46, 90), QColor(0x3c, 0xe0, 0x6a));
    led(p, QPointF(59, 90), QColor(0x35, 0xb4, 0xff));
    led(p, QPointF(72, 90), QColor(0xff, 0xb3, 0x1f));
    makersMark(p, QPointF(171, 94));

    const QRectF plate(28, 108, 194, 68);
    namePlate(p, plate, QStringLiteral("Torvel"), QStringLiteral("NMEA 2000 \u00b7 WI-FI"));
    wifiMark(p, QPointF(plate.right() - 28, plate.center().y() + 12), 30, wave.darker(115));
}

// The application icon: the front of a gateway enclosure filling a rounded
// square, with its LEDs and a name plate whose orange bar and two arrows say
// "data both ways". Each size is drawn on its own pixel grid rather than
// scaled down from the largest, so that the small sizes keep sharp edges and
// leave out what would only blur there.
void icon(QPainter &p)
{
    const int size = p.device()->width();
    const qreal u = size / 256.0; // one unit of the 256 pixel design
    const int margin = qMax(1, size / 16);
    const QRectF tile(margin, margin, size - 2 * margin, size - 2 * margin);
    const qreal w = tile.width();
    const qreal radius = qRound(w * 0.19);
    const qreal hairline = qMax<qreal>(1.0, 1.3 * u);

    QPainterPath body;
    body.addRoundedRect(tile, radius, radius);
    if (size >= 48)
        dropShadow(p, body, QPointF(0, 3 * u + 0.5), qMax(1, qRound(5 * u)), 0.45);

    const QColor top(0x3b, 0x4f, 0x6b);
    const QColor bottom(0x1a, 0x24, 0x33);
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    fill.setColorAt(0.0, top.lighter(125));
    fill.setColorAt(0.08, top);
    fill.setColorAt(0.85, bottom);
    fill.setColorAt(1.0, bottom.darker(130));
    p.fillPath(body, fill);
    if (size >= 32) {
        QPainterPath sheen;
        const qreal in = qMax<qreal>(1.0, 3 * u);
        sheen.addRoundedRect(tile.adjusted(in, in, -in, -tile.height() * 0.52), radius - in,
                             radius - in);
        QLinearGradient shine(tile.topLeft(), QPointF(tile.left(), tile.center().y()));
        shine.setColorAt(0.0, QColor(255, 255, 255, 70));
        shine.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.fillPath(sheen, shine);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, size >= 32 ? 120 : 160), hairline));
    p.drawRoundedRect(tile.adjusted(hairline / 2, hairline / 2, -hairline / 2, -hairline / 2),
                      radius - hairline / 2, radius - hairline / 2);

    // The LED row and the maker's mark along the top edge.
    const qreal ledY = tile.top() + w * 0.15;
    if (size >= 48) {
        const qreal r = w * 0.036;
        const QColor colours[]
            = { QColor(0x3c, 0xe0, 0x6a), QColor(0xff, 0xb3, 0x1f), QColor(0x35, 0xb4, 0xff) };
        for (int i = 0; i < 3; ++i) {
            const QPointF c(tile.left() + w * (0.15 + 0.11 * i), ledY);
            QRadialGradient glow(c, r * 2.6);
            QColor halo = colours[i];
            halo.setAlpha(140);
            glow.setColorAt(0.0, halo);
            halo.setAlpha(0);
            glow.setColorAt(1.0, halo);
            p.setPen(Qt::NoPen);
            p.setBrush(glow);
            p.drawEllipse(c, r * 2.6, r * 2.6);
            QRadialGradient led(c - QPointF(r * 0.3, r * 0.3), r * 1.2);
            led.setColorAt(0.0, colours[i].lighter(170));
            led.setColorAt(1.0, colours[i]);
            p.setPen(QPen(QColor(0, 0, 0, 140), qMax<qreal>(0.6, 0.8 * u)));
            p.setBrush(led);
            p.drawEllipse(c, r, r);
        }
    } else if (size >= 32) {
        // Two pixels each: a glow would only smear them.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x3c, 0xe0, 0x6a));
        p.drawRect(QRectF(qRound(tile.left() + w * 0.16), qRound(ledY - 1), 2, 2));
        p.setBrush(QColor(0xff, 0xb3, 0x1f));
        p.drawRect(QRectF(qRound(tile.left() + w * 0.30), qRound(ledY - 1), 2, 2));
    }
    if (size >= 128) {
        QFont f = sansFont(9 * u, QFont::Bold);
        f.setLetterSpacing(QFont::AbsoluteSpacing, 1.8 * u);
        p.setFont(f);
        const QString mark = QStringLiteral("HALVANE");
        const qreal x = tile.right() - w * 0.1 - QFontMetricsF(f).horizontalAdvance(mark);
        const qreal base = ledY + QFontMetricsF(f).capHeight() / 2;
        p.setPen(QColor(0, 0, 0, 90));
        p.drawText(QPointF(x, base + 0.8 * u), mark);
        p.setPen(QColor(255, 255, 255, 150));
        p.drawText(QPointF(x, base), mark);
    }

    // The name plate, snapped to whole pixels at the small sizes.
    QRectF plate(tile.left() + w * 0.11, tile.top() + w * 0.31, w * 0.78, w * 0.55);
    if (size <= 16)
        plate = QRectF(3, 3, 10, 11); // room for two five-pixel arrow heads
    else if (size < 64)
        plate = QRectF(QPointF(qRound(plate.left()), qRound(plate.top())),
                       QPointF(qRound(plate.right()), qRound(plate.bottom())));
    const qreal plateRadius = size >= 48 ? w * 0.05 : 1;
    QLinearGradient plateFill(plate.topLeft(), plate.bottomLeft());
    plateFill.setColorAt(0.0, QColor(0xfb, 0xfc, 0xfd));
    plateFill.setColorAt(1.0, QColor(0xdc, 0xe2, 0xe8));
    p.setPen(Qt::NoPen);
    p.setBrush(plateFill);
    p.drawRoundedRect(plate, plateRadius, plateRadius);
    if (size >= 48) {
        p.setPen(QPen(QColor(0, 0, 0, 90), qMax<qreal>(0.8, 0.8 * u)));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(plate, plateRadius, plateRadius);
    }

    // Orange bar down the plate's left side.
    const qreal pad = size >= 48 ? plate.height() * 0.14 : 1;
    const qreal barWidth = size >= 48 ? w * 0.045 : (size >= 32 ? 2 : 1);
    const QRectF bar(plate.left() + pad, plate.top() + pad, barWidth, plate.height() - 2 * pad);
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawRoundedRect(bar, barWidth / 2, barWidth / 2);

    // Two arrows, one each way, filling the rest of the plate.
    const QColor ink(0x1c, 0x25, 0x31);
    const qreal left = bar.right() + (size >= 48 ? plate.width() * 0.1 : (size >= 32 ? 2 : 0));
    const qreal right = plate.right() - (size >= 48 ? plate.width() * 0.1 : 1);
    const qreal stroke = size >= 48 ? plate.height() * 0.11 : (size >= 32 ? 2 : 1);
    const qreal head = size >= 48 ? plate.height() * 0.2 : 3;
    qreal y1 = plate.top() + plate.height() * 0.34;
    qreal y2 = plate.top() + plate.height() * 0.66;
    if (size <= 16) {
        y1 = plate.top() + 3;
        y2 = plate.bottom() - 3;
    } else if (size < 48) {
        y1 = plate.top() + qRound(plate.height() * 0.3);
        y2 = plate.bottom() - qRound(plate.height() * 0.3);
    }
    auto arrow = [&](qreal y, bool toRight) {
        const qreal tip = toRight ? right : left;
        const qreal tail = toRight ? left : right;
        const qreal dir = toRight ? 1 : -1;
        if (size >= 48) {
            p.setPen(QPen(ink, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawLine(QPointF(tail, y), QPointF(tip - dir * stroke * 0.6, y));
            QPolygonF h;
            h << QPointF(tip, y) << QPointF(tip - dir * head * 1.1, y - head)
              << QPointF(tip - dir * head * 1.1, y + head);
            p.setPen(QPen(ink, stroke * 0.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(ink);
            p.drawPolygon(h);
        } else {
            // Pixel arrows on whole pixels, y being the shaft's top row.
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            p.drawRect(QRectF(qMin(tip, tail), y, qAbs(tip - tail), stroke));
            for (int i = 1; i < int(head); ++i) {
                const qreal x = toRight ? tip - 1 - i : tip + i;
                if (size <= 16) {
                    // A filled head would be a blot at this size: two
                    // diagonal strokes read as an arrow.
                    p.drawRect(QRectF(x, y - i, 1, 1));
                    p.drawRect(QRectF(x, y + stroke - 1 + i, 1, 1));
                } else {
                    p.drawRect(QRectF(x, y - i, 1, stroke + 2 * i));
                }
            }
        }
    };
    arrow(y1, true);
    arrow(y2, false);
}

bool draw(const QString &path, QSize size, void (*paint)(QPainter &))
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        paint(p);
    }
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(path), size.width(), size.height());
    return true;
}

// An .ico file whose entries are the PNG files of the icon, which Windows
// reads as they are (since Vista); no pixel is drawn again.
bool packIco(const QDir &icons, const QString &path)
{
    QList<QByteArray> pngs;
    for (int size : icon_sizes) {
        QFile png(icons.filePath(QStringLiteral("tavix-gateway-tool-%1.png").arg(size)));
        if (!png.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(png.fileName()));
            return false;
        }
        pngs << png.readAll();
    }
    QByteArray ico;
    QDataStream out(&ico, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(pngs.size()); // reserved, icon, count
    quint32 offset = 6 + 16 * quint32(pngs.size());
    for (int i = 0; i < pngs.size(); ++i) {
        const int size = icon_sizes[size_t(i)];
        // A side of 256 is written as 0; no palette, one plane, 32 bits.
        out << quint8(size % 256) << quint8(size % 256) << quint8(0) << quint8(0) << quint16(1)
            << quint16(32) << quint32(pngs.at(i).size()) << offset;
        offset += quint32(pngs.at(i).size());
    }
    for (const QByteArray &png : pngs)
        ico += png;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ico) != ico.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s (%d sizes)\n", qPrintable(path), int(pngs.size()));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--ico") == 0)
        return packIco(QDir(QString::fromLocal8Bit(argv[2])), QString::fromLocal8Bit(argv[3])) ? 0
                                                                                               : 1;
    QFont::insertSubstitution(QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans"));
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    const QDir iconsOut(argc > 2 ? QString::fromLocal8Bit(argv[2]) : out.path());
    bool ok = draw(out.filePath(QStringLiteral("sernix.png")), QSize(217, 217), sernix)
        && draw(out.filePath(QStringLiteral("torvel.png")), QSize(283, 217), torvel);
    for (int size : icon_sizes) {
        const QString name = QStringLiteral("tavix-gateway-tool-%1.png").arg(size);
        ok = ok && draw(iconsOut.filePath(name), QSize(size, size), icon);
    }
    return ok ? 0 : 1;
}
