// Draws every bitmap the player ships (list images, toolbar strips, application and document
// icons, the About picture) with QPainter, so the artwork is ours and can be redrawn at will.
//
// Usage: draw-artwork OUTDIR
//
// Small images are laid out on the pixel grid by hand: 1px outlines sit on half-pixel
// coordinates so antialiasing keeps them sharp instead of smearing them over two pixels.

#include <QConicalGradient>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// One palette for everything, so the strips look like they belong together.
namespace pal {
const QColor outline(0x20, 0x20, 0x20);
const QColor paper(0xff, 0xff, 0xff);
const QColor paperShade(0xdc, 0xe0, 0xe6);
const QColor textLine(0x8c, 0x96, 0xa4);
const QColor folderLight(0xff, 0xe0, 0x82);
const QColor folderDark(0xe6, 0xad, 0x32);
const QColor folderBackLight(0xf0, 0xbf, 0x4c);
const QColor folderBackDark(0xc8, 0x8a, 0x1c);
const QColor blueLight(0x5b, 0x9b, 0xeb);
const QColor blueDark(0x1f, 0x56, 0xb0);
const QColor greenLight(0x6f, 0xdc, 0x6a);
const QColor greenDark(0x1e, 0x96, 0x30);
const QColor redLight(0xf2, 0x6b, 0x5b);
const QColor redDark(0xb8, 0x22, 0x22);
const QColor metalLight(0xee, 0xf0, 0xf3);
const QColor metalDark(0xa4, 0xab, 0xb4);
const QColor metalSide(0x86, 0x8d, 0x96);
const QColor woodLight(0xcf, 0x94, 0x52);
const QColor woodDark(0x95, 0x5e, 0x24);
const QColor note(0x1a, 0x36, 0x86);
const QColor lampGreen(0x22, 0xe0, 0x3a);
const QColor lampRed(0xf0, 0x20, 0x20);
} // namespace pal

QLinearGradient vertical(double top, double bottom, const QColor& a, const QColor& b)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    return g;
}

QPen outlinePen(double width = 1.0)
{
    QPen pen(pal::outline, width);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCapStyle(Qt::SquareCap);
    return pen;
}

void outlined(QPainter& p, const QPainterPath& path, const QBrush& fill)
{
    p.setPen(outlinePen());
    p.setBrush(fill);
    p.drawPath(path);
}

void outlinedRect(QPainter& p, double x0, double y0, double x1, double y1, const QBrush& fill)
{
    QPainterPath path;
    path.addRect(QRectF(QPointF(x0, y0), QPointF(x1, y1)));
    outlined(p, path, fill);
}

QPainterPath polygon(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& pt : points) {
        if (first)
            path.moveTo(pt);
        else
            path.lineTo(pt);
        first = false;
    }
    path.closeSubpath();
    return path;
}

void fillPixels(QPainter& p, int x, int y, int w, int h, const QColor& c)
{
    p.fillRect(QRect(x, y, w, h), c);
}

// ---- notes -------------------------------------------------------------------------------

// A tilted oval note head, the way engravers draw them.
void noteHead(QPainter& p, QPointF centre, double rx, double ry, const QColor& c)
{
    p.save();
    p.translate(centre);
    p.rotate(-22);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(0, 0), rx, ry);
    p.restore();
}

// Eighth note: head at `head`, stem occupying [stemX, stemX+stemW] from stemTop down to the head.
void eighthNote(QPainter& p, QPointF head, double rx, double ry, double stemX, double stemW,
                double stemTop, const QColor& c)
{
    noteHead(p, head, rx, ry, c);
    p.fillRect(QRectF(stemX, stemTop, stemW, head.y() - stemTop), c);
    const double len = head.y() - stemTop;
    const double sx = stemX + stemW;
    QPainterPath flag;
    flag.moveTo(stemX, stemTop);
    flag.lineTo(sx, stemTop);
    flag.cubicTo(sx + 0.05 * len, stemTop + 0.25 * len, sx + 0.55 * len, stemTop + 0.32 * len,
                 sx + 0.30 * len, stemTop + 0.80 * len);
    flag.cubicTo(sx + 0.34 * len, stemTop + 0.48 * len, sx + 0.05 * len, stemTop + 0.42 * len,
                 stemX, stemTop + 0.40 * len);
    flag.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(flag);
}

// Two eighths joined by a beam; the beam rises to the right like most printed music.
void beamedPair(QPainter& p, QPointF head1, QPointF head2, double rx, double ry, double stemW,
                double top1, double top2, double beamH, const QColor& c)
{
    // Stems start on a whole pixel so thin ones stay sharp.
    const double s1 = std::round(head1.x() + rx * 0.82 - stemW);
    const double s2 = std::round(head2.x() + rx * 0.82 - stemW);
    noteHead(p, head1, rx, ry, c);
    noteHead(p, head2, rx, ry, c);
    p.fillRect(QRectF(s1, top1, stemW, head1.y() - top1), c);
    p.fillRect(QRectF(s2, top2, stemW, head2.y() - top2), c);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(
        polygon({{s1, top1}, {s2 + stemW, top2}, {s2 + stemW, top2 + beamH}, {s1, top1 + beamH}}));
}

// ---- shared 16px drawings (valid in 16x16 and 16x15 cells) --------------------------------

void drawFolderClosed(QPainter& p)
{
    outlined(p, polygon({{1.5, 5.5}, {1.5, 2.5}, {5.5, 2.5}, {7.5, 4.5}, {7.5, 5.5}}),
             pal::folderBackDark);
    outlinedRect(p, 1.5, 4.5, 14.5, 13.5, vertical(4, 14, pal::folderLight, pal::folderDark));
    // A bright rim under the top edge gives the flat shape some body.
    p.setPen(QPen(QColor(0xff, 0xf4, 0xc8), 1));
    p.drawLine(QPointF(2.5, 5.5), QPointF(13.5, 5.5));
}

void drawFolderOpen(QPainter& p)
{
    outlined(p,
             polygon({{1.5, 13.5},
                      {1.5, 2.5},
                      {5.5, 2.5},
                      {7.5, 4.5},
                      {13.5, 4.5},
                      {13.5, 7.5},
                      {1.5, 13.5}}),
             vertical(2, 14, pal::folderBackLight, pal::folderBackDark));
    outlinedRect(p, 3.5, 5.5, 11.5, 9.5, pal::paper);
    outlined(p, polygon({{1.5, 13.5}, {4.5, 7.5}, {15.5, 7.5}, {12.5, 13.5}}),
             vertical(7, 14, pal::folderLight, pal::folderDark));
}

void drawFloppy(QPainter& p)
{
    outlined(p, polygon({{1.5, 1.5}, {12.5, 1.5}, {14.5, 3.5}, {14.5, 14.5}, {1.5, 14.5}}),
             vertical(1, 15, pal::blueLight, pal::blueDark));
    outlinedRect(p, 4.5, 1.5, 11.5, 6.5, vertical(1, 7, pal::metalLight, pal::metalDark));
    fillPixels(p, 9, 2, 2, 4, pal::outline);
    outlinedRect(p, 3.5, 8.5, 12.5, 14.5, pal::paper);
    fillPixels(p, 5, 10, 6, 1, pal::textLine);
    fillPixels(p, 5, 12, 6, 1, pal::textLine);
}

// A drive seen slightly from above and to the left; `top` is the y of the back edge.
void driveBox(QPainter& p, double top, double height)
{
    const double front = top + 3;
    outlined(p, polygon({{1.5, front}, {4.5, top}, {15.5, top}, {12.5, front}}), pal::metalLight);
    outlined(p, polygon({{12.5, front}, {15.5, top}, {15.5, top + height}, {12.5, front + height}}),
             pal::metalSide);
    outlinedRect(p, 1.5, front, 12.5, front + height,
                 vertical(front, front + height, QColor(0xd6, 0xda, 0xdf), pal::metalDark));
}

void drawFixedDisk(QPainter& p, const QColor& lamp)
{
    driveBox(p, 4.5, 6);
    fillPixels(p, 3, 10, 5, 1, pal::metalSide);
    fillPixels(p, 9, 10, 2, 2, pal::outline);
    fillPixels(p, 9, 10, 2, 1, lamp);
    fillPixels(p, 10, 11, 1, 1, lamp.darker(140));
}

void drawFloppyDrive(QPainter& p)
{
    // A diskette half way into the slot says "removable" better than a bare box does.
    // The label end is the one that sticks out of a drive.
    outlinedRect(p, 4.5, 0.5, 11.5, 8.5, vertical(0, 9, pal::blueLight, pal::blueDark));
    outlinedRect(p, 5.5, 1.5, 10.5, 5.5, pal::paper);
    fillPixels(p, 7, 3, 3, 1, pal::textLine);
    driveBox(p, 5.5, 6);
    fillPixels(p, 3, 10, 8, 1, pal::outline);
    fillPixels(p, 9, 12, 2, 1, pal::metalSide);
}

void drawDisc(QPainter& p, QPointF c, double r)
{
    QConicalGradient g(c, 30);
    g.setColorAt(0.00, QColor(0xe8, 0xec, 0xf2));
    g.setColorAt(0.15, QColor(0xb8, 0xd8, 0xff));
    g.setColorAt(0.30, QColor(0xf4, 0xc8, 0xf0));
    g.setColorAt(0.45, QColor(0xe8, 0xec, 0xf2));
    g.setColorAt(0.60, QColor(0xff, 0xf0, 0xb0));
    g.setColorAt(0.75, QColor(0xb8, 0xf0, 0xd8));
    g.setColorAt(1.00, QColor(0xe8, 0xec, 0xf2));
    p.setPen(outlinePen());
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    p.setPen(QPen(pal::metalDark, 1));
    p.setBrush(pal::metalLight);
    p.drawEllipse(c, r * 0.36, r * 0.36);
    p.setPen(outlinePen());
    p.setBrush(pal::paper);
    p.drawEllipse(c, r * 0.16, r * 0.16);
}

void drawCdRom(QPainter& p)
{
    drawDisc(p, QPointF(8, 8), 6.5);
}

void drawNetworkDrive(QPainter& p)
{
    driveBox(p, 0.5, 5);
    fillPixels(p, 9, 5, 2, 2, pal::outline);
    fillPixels(p, 9, 5, 2, 1, pal::lampGreen);
    // Cable down to a line running across the bottom: the shared network.
    fillPixels(p, 6, 9, 3, 4, pal::outline);
    fillPixels(p, 7, 9, 1, 3, pal::greenLight);
    fillPixels(p, 0, 13, 16, 2, pal::outline);
    fillPixels(p, 5, 12, 5, 3, pal::outline);
    fillPixels(p, 6, 13, 3, 1, pal::greenLight);
}

void drawSingleNote(QPainter& p)
{
    eighthNote(p, QPointF(5.6, 12.2), 2.9, 2.0, 7.5, 1.5, 1.5, pal::note);
}

void drawBeamedPair(QPainter& p)
{
    beamedPair(p, QPointF(4.0, 12.3), QPointF(11.0, 11.3), 2.6, 1.8, 1.0, 3.0, 2.0, 2.0, pal::note);
}

void drawNoteOnStaff(QPainter& p)
{
    for (int y = 4; y <= 12; y += 2)
        fillPixels(p, 0, y, 16, 1, QColor(0x8a, 0x8a, 0x8a));
    // Head sits in the space between the second and third lines from the bottom.
    noteHead(p, QPointF(6.4, 9.0), 2.4, 1.6, pal::note);
    fillPixels(p, 8, 1, 1, 8, pal::note);
}

// ---- toolbar drawings (16x15) -----------------------------------------------------------

void drawPage(QPainter& p, double x0, double y0, double x1, double y1, double fold)
{
    outlined(p, polygon({{x0, y0}, {x1 - fold, y0}, {x1, y0 + fold}, {x1, y1}, {x0, y1}}),
             pal::paper);
    outlined(p, polygon({{x1 - fold, y0}, {x1 - fold, y0 + fold}, {x1, y0 + fold}}),
             pal::paperShade);
}

void drawNew(QPainter& p)
{
    drawPage(p, 2.5, 0.5, 12.5, 14.5, 4);
}

void drawOpen(QPainter& p)
{
    drawFolderOpen(p);
}

void drawSave(QPainter& p)
{
    // The diskette is 14 rows tall; it fits the 15-row cell as is.
    outlined(p, polygon({{1.5, 0.5}, {12.5, 0.5}, {14.5, 2.5}, {14.5, 14.5}, {1.5, 14.5}}),
             vertical(0, 15, pal::blueLight, pal::blueDark));
    outlinedRect(p, 4.5, 0.5, 11.5, 5.5, vertical(0, 6, pal::metalLight, pal::metalDark));
    fillPixels(p, 9, 1, 2, 4, pal::outline);
    outlinedRect(p, 3.5, 7.5, 12.5, 14.5, pal::paper);
    fillPixels(p, 5, 9, 6, 1, pal::textLine);
    fillPixels(p, 5, 11, 6, 1, pal::textLine);
}

void drawCut(QPainter& p)
{
    const QPointF a0(4.5, 0.5), a1(10.0, 9.0);
    const QPointF b0(11.5, 0.5), b1(6.0, 9.0);
    QPen dark(pal::outline, 3.0, Qt::SolidLine, Qt::RoundCap);
    p.setPen(dark);
    p.drawLine(a0, a1);
    p.drawLine(b0, b1);
    QPen metal(pal::metalLight, 1.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(metal);
    p.drawLine(a0, a1);
    p.drawLine(b0, b1);
    p.setPen(Qt::NoPen);
    p.setBrush(pal::outline);
    p.drawEllipse(QPointF(8, 5.6), 1.1, 1.1);
    // Finger rings: dark outer stroke with a red core reads on any background.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pal::outline, 3.2));
    p.drawEllipse(QPointF(4.5, 11.5), 2.3, 2.3);
    p.drawEllipse(QPointF(11.5, 11.5), 2.3, 2.3);
    p.setPen(QPen(pal::redDark.lighter(120), 1.3));
    p.drawEllipse(QPointF(4.5, 11.5), 2.3, 2.3);
    p.drawEllipse(QPointF(11.5, 11.5), 2.3, 2.3);
}

void pageLines(QPainter& p, int x, int y, int w, int count)
{
    for (int i = 0; i < count; ++i)
        fillPixels(p, x, y + 2 * i, i == count - 1 ? w - 2 : w, 1, pal::textLine);
}

void drawCopy(QPainter& p)
{
    outlinedRect(p, 1.5, 0.5, 9.5, 10.5, pal::paper);
    pageLines(p, 3, 3, 5, 3);
    outlinedRect(p, 6.5, 4.5, 14.5, 14.5, pal::paper);
    pageLines(p, 8, 7, 5, 3);
}

void drawPaste(QPainter& p)
{
    outlinedRect(p, 1.5, 1.5, 11.5, 14.5, vertical(1, 15, pal::woodLight, pal::woodDark));
    outlinedRect(p, 4.5, 0.5, 8.5, 3.5, vertical(0, 4, pal::metalLight, pal::metalDark));
    outlinedRect(p, 6.5, 5.5, 14.5, 14.5, pal::paper);
    pageLines(p, 8, 8, 5, 3);
}

void drawPrint(QPainter& p)
{
    outlinedRect(p, 4.5, 0.5, 11.5, 6.5, pal::paper);
    pageLines(p, 6, 2, 4, 2);
    QPainterPath body;
    body.addRoundedRect(QRectF(QPointF(1.5, 5.5), QPointF(14.5, 11.5)), 1.5, 1.5);
    outlined(p, body, vertical(5, 12, pal::metalLight, pal::metalDark));
    fillPixels(p, 12, 7, 1, 1, pal::greenDark);
    outlinedRect(p, 3.5, 9.5, 12.5, 14.5, pal::paper);
    fillPixels(p, 4, 10, 8, 1, pal::paperShade);
    pageLines(p, 5, 12, 6, 1);
}

void drawAbout(QPainter& p)
{
    p.setPen(outlinePen());
    p.setBrush(vertical(1, 15, pal::blueLight, pal::blueDark));
    p.drawEllipse(QRectF(QPointF(1.5, 1.5), QPointF(14.5, 14.5)));
    fillPixels(p, 7, 3, 2, 2, pal::paper);
    fillPixels(p, 7, 6, 2, 6, pal::paper);
    fillPixels(p, 6, 6, 1, 1, pal::paper);
    fillPixels(p, 6, 11, 4, 1, pal::paper);
}

void drawPlay(QPainter& p)
{
    outlined(p, polygon({{4.5, 1.5}, {4.5, 13.5}, {13.0, 7.5}}),
             vertical(1, 14, pal::greenLight, pal::greenDark));
}

void drawPause(QPainter& p)
{
    outlinedRect(p, 2.5, 1.5, 6.5, 13.5, vertical(1, 14, pal::blueLight, pal::blueDark));
    outlinedRect(p, 9.5, 1.5, 13.5, 13.5, vertical(1, 14, pal::blueLight, pal::blueDark));
}

void drawStop(QPainter& p)
{
    outlinedRect(p, 2.5, 2.5, 13.5, 12.5, vertical(2, 13, pal::redLight, pal::redDark));
}

void drawPlayNext(QPainter& p)
{
    outlined(p, polygon({{2.5, 1.5}, {2.5, 13.5}, {10.0, 7.5}}),
             vertical(1, 14, pal::greenLight, pal::greenDark));
    outlinedRect(p, 10.5, 1.5, 13.5, 13.5, vertical(1, 14, pal::greenLight, pal::greenDark));
}

void drawNothing(QPainter&) {}

using Draw = void (*)(QPainter&);

QImage strip(const std::vector<Draw>& cells, int w, int h, bool opaque)
{
    QImage img(w * int(cells.size()), h, QImage::Format_ARGB32_Premultiplied);
    img.fill(opaque ? Qt::white : Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        p.save();
        p.translate(int(i) * w, 0);
        p.setClipRect(0, 0, w, h);
        cells[i](p);
        p.restore();
    }
    p.end();
    return opaque ? img.convertToFormat(QImage::Format_RGB32) : img;
}

// ---- application icon -------------------------------------------------------------------

// Drawn on a 256-unit canvas and scaled; fine for 32px and up.
void appIconLarge(QPainter& p, int size)
{
    p.scale(size / 256.0, size / 256.0);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(12, 12, 232, 232), 52, 52);
    QLinearGradient bg(0, 12, 256, 244);
    bg.setColorAt(0, QColor(0x27, 0x4f, 0xb8));
    bg.setColorAt(1, QColor(0x0b, 0x8f, 0x96));
    p.setPen(QPen(QColor(0x0c, 0x2a, 0x5a), size >= 64 ? 6 : 256.0 / size));
    p.setBrush(bg);
    p.drawPath(tile);
    // Soft sheen on the upper half.
    QPainterPath sheen;
    sheen.moveTo(20, 120);
    sheen.cubicTo(70, 96, 170, 84, 236, 64);
    sheen.lineTo(236, 64);
    sheen.cubicTo(236, 32, 220, 20, 190, 20);
    sheen.lineTo(66, 20);
    sheen.cubicTo(36, 20, 20, 36, 20, 66);
    sheen.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 34));
    p.drawPath(sheen);

    beamedPair(p, QPointF(72, 164), QPointF(150, 144), 30, 21, 14, 58, 38, 28, Qt::white);

    // Play badge in a warm accent so it separates from the notes.
    const QPointF bc(192, 196);
    p.setPen(QPen(Qt::white, 8));
    p.setBrush(QColor(0xff, 0x9f, 0x1c));
    p.drawEllipse(bc, 38, 38);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(
        polygon({{bc.x() - 12, bc.y() - 20}, {bc.x() - 12, bc.y() + 20}, {bc.x() + 20, bc.y()}}));
}

// Hand-placed on the pixel grid: at 16 and 24 px the scaled design turns to mush.
void appIconSmall(QPainter& p, int size)
{
    const double s = size / 16.0;
    QPainterPath tile;
    tile.addRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), 3 * s, 3 * s);
    QLinearGradient bg(0, 0, size, size);
    bg.setColorAt(0, QColor(0x27, 0x4f, 0xb8));
    bg.setColorAt(1, QColor(0x0b, 0x8f, 0x96));
    p.setPen(QPen(QColor(0x0c, 0x2a, 0x5a), 1));
    p.setBrush(bg);
    p.drawPath(tile);
    if (size == 16) {
        beamedPair(p, QPointF(3.6, 11.4), QPointF(8.3, 10.4), 2.0, 1.45, 1.0, 3.0, 2.0, 2.0,
                   Qt::white);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xff, 0xa6, 0x2a));
        p.drawPath(polygon({{11, 8}, {11, 14}, {14.6, 11}}));
    } else {
        beamedPair(p, QPointF(5.6, 16.6), QPointF(13.3, 15.0), 3.0, 2.1, 2.0, 4.0, 3.0, 3.0,
                   Qt::white);
        p.setPen(QPen(Qt::white, 1));
        p.setBrush(QColor(0xff, 0x9f, 0x1c));
        p.drawEllipse(QPointF(18.5, 18.5), 4.5, 4.5);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawPath(polygon({{17, 16}, {17, 21}, {21, 18.5}}));
    }
}

QImage appIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    if (size <= 24)
        appIconSmall(p, size);
    else
        appIconLarge(p, size);
    return img;
}

// ---- document icon ----------------------------------------------------------------------

QImage docIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 16.0;
    // Page edges snapped to pixel centres so the 1px outline stays crisp at every size.
    const double x0 = std::floor(2 * s) + 0.5;
    const double x1 = size - std::floor(2 * s) - 0.5;
    const double y0 = 0.5;
    const double y1 = size - 0.5;
    const double fold = std::round(4 * s);
    QLinearGradient paper(0, 0, 0, size);
    paper.setColorAt(0, Qt::white);
    paper.setColorAt(1, QColor(0xea, 0xee, 0xf4));
    outlined(p, polygon({{x0, y0}, {x1 - fold, y0}, {x1, y0 + fold}, {x1, y1}, {x0, y1}}), paper);
    outlined(p, polygon({{x1 - fold, y0}, {x1 - fold, y0 + fold}, {x1, y0 + fold}}),
             pal::paperShade);
    if (size == 16) {
        eighthNote(p, QPointF(6.4, 12.4), 2.3, 1.6, 8.0, 1.0, 5.0, pal::note);
    } else {
        const double u = size / 64.0;
        // Faint staff lines behind the note make it a score rather than a blank page.
        for (int i = 0; i < 3; ++i)
            p.fillRect(QRectF(x0 + 3, std::round((34 + 8 * i) * u), x1 - x0 - 6,
                              std::max(1.0, std::round(u))),
                       QColor(0xc4, 0xcc, 0xd8));
        eighthNote(p, QPointF(25 * u, 48 * u), 8.5 * u, 6 * u, std::round(29 * u),
                   std::max(1.0, std::round(3.5 * u)), std::round(18 * u), pal::note);
    }
    return img;
}

// ---- About picture ----------------------------------------------------------------------

QImage aboutPicture()
{
    QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 64);
    sky.setColorAt(0, QColor(0x27, 0x4f, 0xb8));
    sky.setColorAt(1, QColor(0x0b, 0x8f, 0x96));
    p.fillRect(0, 0, 64, 64, sky);
    QRadialGradient glow(QPointF(30, 20), 34);
    glow.setColorAt(0, QColor(255, 255, 255, 70));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(0, 0, 64, 64, glow);

    // Notes drifting up from the keys.
    eighthNote(p, QPointF(12, 27), 3.6, 2.6, 14, 2, 13, QColor(255, 255, 255, 200));
    beamedPair(p, QPointF(26, 22), QPointF(38, 18), 3.8, 2.7, 2, 7, 3, 3.0, Qt::white);
    eighthNote(p, QPointF(51, 25), 3.2, 2.3, 53, 2, 12, QColor(255, 255, 255, 170));

    // Keyboard: eight white keys (C to C) with the usual black-key pattern.
    const int kx = 4, ky = 36, kw = 7, kh = 24;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(kx - 1, ky - 3, kw * 8 + 1, kh + 4, QColor(0x1a, 0x1a, 0x1e));
    p.fillRect(kx - 1, ky - 3, kw * 8 + 1, 2, QColor(0xb0, 0x2a, 0x2a));
    for (int i = 0; i < 8; ++i) {
        QLinearGradient key(0, ky, 0, ky + kh);
        key.setColorAt(0, QColor(0xf4, 0xf4, 0xf0));
        key.setColorAt(1, QColor(0xff, 0xff, 0xff));
        const QRect r(kx + i * kw, ky, kw - 1, kh - 1);
        p.fillRect(r, key);
        p.fillRect(r.x(), r.bottom() - 1, r.width(), 2, QColor(0xd0, 0xd0, 0xcc));
    }
    const int blackAfter[] = {0, 1, 3, 4, 5};
    for (int i : blackAfter) {
        const QRect r(kx + (i + 1) * kw - 3, ky, 5, 14);
        p.fillRect(r, QColor(0x18, 0x18, 0x1c));
        p.fillRect(r.x() + 1, r.y(), 3, r.height() - 2, QColor(0x40, 0x40, 0x46));
    }
    p.end();
    return img.convertToFormat(QImage::Format_RGB32);
}

bool save(const QImage& img, const QString& dir, const QString& name)
{
    const QString path = dir + '/' + name;
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "draw-artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // No display is needed; this runs on build machines too.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw-artwork OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "draw-artwork: cannot create %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    ok &= save(
        strip({drawFolderClosed, drawFolderOpen, drawSingleNote, drawFloppyDrive,
               [](QPainter& p) { drawFixedDisk(p, pal::lampGreen); },
               [](QPainter& p) { drawFixedDisk(p, pal::lampRed); }, drawCdRom, drawNetworkDrive,
               drawBeamedPair, drawNoteOnStaff, drawNothing, drawNothing, drawNothing, drawNothing},
              16, 16, true),
        out, "item-images.png");
    ok &= save(strip({drawNew, drawOpen, drawSave, drawCut, drawCopy, drawPaste, drawPrint,
                      drawAbout, drawPlay, drawPause, drawStop, drawPlayNext},
                     16, 15, false),
               out, "toolbar-main.png");
    ok &= save(strip({drawCut, drawCopy, drawPaste, drawAbout, drawPlay, drawPause, drawStop,
                      drawPlayNext},
                     16, 15, false),
               out, "toolbar-inplace.png");
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        ok &= save(appIcon(size), out, QStringLiteral("app-icon-%1.png").arg(size));
    for (int size : {16, 32, 48, 64})
        ok &= save(docIcon(size), out, QStringLiteral("doc-icon-%1.png").arg(size));
    ok &= save(aboutPicture(), out, "about-picture.png");
    return ok ? 0 : 1;
}
