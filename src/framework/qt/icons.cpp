#include "framework/qt/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace qv {

namespace {

constexpr int kSize = 16;
constexpr int kImageCount = 10;

struct FolderColours {
    QColor fill;
    QColor light;
    QColor edge;
};

const FolderColours kFolders[] = {
    {QColor(250, 204, 72), QColor(255, 236, 150), QColor(150, 110, 0)},  // yellow: this computer
    {QColor(96, 184, 88), QColor(170, 226, 160), QColor(24, 100, 24)},   // green: another computer
    {QColor(224, 84, 72), QColor(248, 160, 150), QColor(130, 24, 20)},   // red: a file
};

void DrawFolder(QPainter& p, const FolderColours& c, bool open) {
    p.setPen(c.edge);
    // Tab, then the body behind it.
    p.setBrush(c.fill);
    p.drawPolygon(QPolygon({QPoint(1, 3), QPoint(6, 3), QPoint(7, 5), QPoint(1, 5)}));
    p.drawRect(1, 5, 13, 9);
    if (!open) {
        p.setPen(c.light);
        p.drawLine(2, 6, 13, 6);
        return;
    }
    // The front cover leaning forward.
    p.setBrush(c.light);
    p.drawPolygon(QPolygon({QPoint(4, 8), QPoint(15, 8), QPoint(13, 14), QPoint(1, 14)}));
}

void DrawComputer(QPainter& p) {
    p.setPen(QColor(64, 64, 64));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(1, 1, 13, 9);  // monitor
    p.setBrush(QColor(0, 128, 128));
    p.drawRect(3, 3, 9, 5);  // screen
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(6, 11, 3, 1);  // neck
    p.drawRect(2, 12, 11, 2);  // base
}

void DrawDocument(QPainter& p) {
    p.setPen(QColor(96, 96, 96));
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygon({QPoint(3, 1), QPoint(10, 1), QPoint(13, 4), QPoint(13, 14), QPoint(3, 14)}));
    p.setBrush(QColor(210, 210, 210));
    p.drawPolygon(QPolygon({QPoint(10, 1), QPoint(10, 4), QPoint(13, 4)}));  // turned corner
    p.setPen(QColor(120, 120, 200));
    for (int y = 6; y <= 12; y += 2) p.drawLine(5, y, y == 12 ? 9 : 11, y);  // lines of text
}

}  // namespace

QPixmap TreeImage(int index) {
    if (index < 0 || index >= kImageCount) return QPixmap();
    QPixmap pixmap(kSize, kSize);
    const bool selected = index % 2 == 1;
    pixmap.fill(selected ? QColor(0, 0, 128) : QColor(Qt::transparent));
    QPainter p(&pixmap);
    const int shape = index / 2;
    if (shape < 3)
        DrawFolder(p, kFolders[shape], selected);
    else if (shape == 3)
        DrawComputer(p);
    else
        DrawDocument(p);
    return pixmap;
}

QIcon TreeIcon(int image) {
    const int normal = image & ~1;
    QIcon icon(TreeImage(normal));
    icon.addPixmap(TreeImage(normal + 1), QIcon::Selected);
    return icon;
}

// Tool bar images.

namespace {

// Straight parts go pixel by pixel without smoothing so they stay sharp at
// 16x16; only round shapes are smoothed.
void Box(QPainter& p, int x, int y, int w, int h, QColor fill, QColor edge) {
    p.fillRect(x, y, w, h, edge);
    p.fillRect(x + 1, y + 1, w - 2, h - 2, fill);
}

void HLine(QPainter& p, int x, int y, int w, QColor c) { p.fillRect(x, y, w, 1, c); }
void VLine(QPainter& p, int x, int y, int h, QColor c) { p.fillRect(x, y, 1, h, c); }

const QColor kBlue(30, 90, 190);
const QColor kDarkBlue(16, 50, 120);
const QColor kGold(230, 170, 20);
const QColor kGoldEdge(130, 90, 0);
const QColor kGreen(30, 150, 40);
const QColor kRed(210, 30, 30);

void FolderOpen(QPainter& p) {
    const QColor edge(150, 110, 0), back(240, 190, 60), front(255, 225, 120);
    // Back with its tab.
    HLine(p, 1, 2, 5, edge);
    p.fillRect(1, 3, 1, 11, edge);
    p.fillRect(6, 3, 1, 1, edge);
    HLine(p, 7, 4, 6, edge);
    VLine(p, 12, 4, 3, edge);
    p.fillRect(2, 3, 4, 11, back);
    p.fillRect(6, 5, 6, 2, back);
    // The front cover, leaning out.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(edge);
    p.setBrush(front);
    p.drawPolygon(QPolygon({QPoint(4, 7), QPoint(15, 7), QPoint(12, 13), QPoint(1, 13)}));
}

void Floppy(QPainter& p) {
    Box(p, 1, 1, 14, 14, kBlue, kDarkBlue);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillRect(14, 1, 1, 1, Qt::transparent);  // the cut corner
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    Box(p, 4, 1, 8, 5, QColor(210, 210, 215), kDarkBlue);  // shutter
    p.fillRect(9, 2, 2, 3, kDarkBlue);
    Box(p, 3, 8, 10, 7, Qt::white, kDarkBlue);  // label
    HLine(p, 5, 10, 6, QColor(150, 150, 160));
    HLine(p, 5, 12, 6, QColor(150, 150, 160));
}

void Printer(QPainter& p) {
    Box(p, 4, 1, 8, 6, Qt::white, QColor(90, 90, 90));  // paper going in
    HLine(p, 6, 3, 4, QColor(120, 120, 120));
    Box(p, 1, 6, 14, 6, QColor(200, 200, 205), QColor(70, 70, 70));  // body
    HLine(p, 2, 7, 12, QColor(235, 235, 240));
    p.fillRect(11, 8, 2, 1, kGreen);  // power light
    Box(p, 3, 10, 10, 5, Qt::white, QColor(90, 90, 90));  // paper coming out
    HLine(p, 5, 12, 6, QColor(120, 120, 120));
}

// A key lying on its side, bow left, within x 0..11, y 4..12.
void Key(QPainter& p, int dx = 0, int dy = 0) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(kGoldEdge, 1));
    p.setBrush(kGold);
    p.drawEllipse(QRectF(dx + 0.5, dy + 4.5, 6, 6));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(dx + 3, dy + 7, 2, 2, QColor(255, 240, 190));  // the bow's hole
    // Shaft and teeth.
    p.fillRect(dx + 7, dy + 6, 6, 3, kGoldEdge);
    p.fillRect(dx + 7, dy + 7, 5, 1, kGold);
    p.fillRect(dx + 9, dy + 9, 1, 2, kGoldEdge);
    p.fillRect(dx + 11, dy + 9, 2, 3, kGoldEdge);
}

// A value: a name tag with a line of text, within x 0..11, y 3..12.
void Value(QPainter& p, int dx = 0, int dy = 0) {
    Box(p, dx + 0, dy + 3, 12, 9, Qt::white, QColor(60, 80, 140));
    p.fillRect(dx + 1, dy + 4, 10, 2, QColor(120, 160, 230));
    p.fillRect(dx + 2, dy + 7, 2, 3, kRed);  // "ab", the type mark of string values
    HLine(p, dx + 5, dy + 8, 5, QColor(110, 110, 110));
    HLine(p, dx + 5, dy + 10, 4, QColor(110, 110, 110));
}

// Marks in the lower right corner, with a white rim to stand off the picture.
void Plus(QPainter& p) {
    p.fillRect(9, 11, 7, 4, Qt::white);
    p.fillRect(11, 9, 4, 7, Qt::white);
    p.fillRect(10, 12, 6, 2, kGreen);
    p.fillRect(12, 10, 2, 6, kGreen);
}

void Cross(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < 6; ++i) {
        p.fillRect(10 + i, 10 + i, 1, 1, kRed);
        p.fillRect(9 + i, 10 + i, 1, 1, kRed);
        p.fillRect(15 - i, 10 + i, 1, 1, kRed);
        p.fillRect(14 - i, 10 + i, 1, 1, kRed);
    }
}

void Arrowhead(QPainter& p, QPointF tip, QPointF dir, QColor c) {
    const QPointF n(-dir.y(), dir.x());
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(QPolygonF({tip, tip - 3.5 * dir + 3 * n, tip - 3.5 * dir - 3 * n}));
}

void Sync(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF ring(2.5, 2.5, 11, 11);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kGreen, 2, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(ring, 30 * 16, 140 * 16);  // upper arc, running left
    p.setPen(QPen(kBlue, 2, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(ring, 210 * 16, 140 * 16);  // lower arc, running right
    Arrowhead(p, QPointF(2.2, 10.5), QPointF(0, 1), kGreen);
    Arrowhead(p, QPointF(13.8, 5.5), QPointF(0, -1), kBlue);
}

void Subtree(QPainter& p) {
    const QColor line(100, 100, 100);
    VLine(p, 3, 4, 9, line);
    HLine(p, 3, 8, 4, line);
    HLine(p, 3, 12, 4, line);
    Box(p, 1, 1, 5, 4, QColor(240, 190, 60), QColor(150, 110, 0));
    Box(p, 6, 6, 5, 4, QColor(240, 190, 60), QColor(150, 110, 0));
    Box(p, 6, 11, 5, 4, QColor(240, 190, 60), QColor(150, 110, 0));
    // Reading goes downwards.
    p.fillRect(13, 2, 1, 9, kBlue);
    p.setRenderHint(QPainter::Antialiasing, true);
    Arrowhead(p, QPointF(13.5, 14.5), QPointF(0, 1), kBlue);
}

void CopyMasterSlave(QPainter& p) {
    Box(p, 0, 1, 6, 9, QColor(120, 160, 230), kDarkBlue);  // Master
    HLine(p, 1, 3, 4, Qt::white);
    HLine(p, 1, 5, 4, Qt::white);
    Box(p, 10, 6, 6, 9, Qt::white, kDarkBlue);  // Slave
    HLine(p, 11, 8, 4, QColor(160, 160, 160));
    HLine(p, 11, 10, 4, QColor(160, 160, 160));
    p.fillRect(3, 11, 1, 2, kGreen);
    p.fillRect(3, 12, 5, 2, kGreen);
    p.setRenderHint(QPainter::Antialiasing, true);
    Arrowhead(p, QPointF(10, 13), QPointF(1, 0), kGreen);
}

void Magnifier(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.5, 10.5), QPointF(14, 14));
    p.setPen(QPen(QColor(50, 50, 60), 1.5));
    p.setBrush(QColor(200, 230, 255));
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(Qt::white, 1.2));
    p.drawArc(QRectF(3.5, 3.5, 5, 5), 100 * 16, 70 * 16);  // glint
}

void Compare(QPainter& p) {
    const QColor edge(70, 70, 90), text(150, 150, 160);
    Box(p, 0, 1, 7, 14, Qt::white, edge);
    Box(p, 9, 1, 7, 14, Qt::white, edge);
    for (int y : {3, 5, 11, 13}) {
        HLine(p, 2, y, 3, text);
        HLine(p, 11, y, 3, text);
    }
    // The row that differs.
    p.fillRect(1, 7, 5, 3, QColor(255, 200, 200));
    p.fillRect(10, 7, 5, 3, QColor(255, 200, 200));
    HLine(p, 2, 8, 3, kRed);
    HLine(p, 11, 8, 2, kRed);
    // "Not equal" between them.
    p.fillRect(7, 7, 2, 1, kRed);
    p.fillRect(7, 9, 2, 1, kRed);
    p.fillRect(8, 5, 1, 2, kRed);
    p.fillRect(7, 10, 1, 2, kRed);
}

// A list with some rows marked as differing.
void DifferenceList(QPainter& p) {
    const QColor edge(70, 70, 90), text(150, 150, 160);
    Box(p, 1, 1, 14, 14, Qt::white, edge);
    for (int y : {4, 7, 10, 13}) {
        const bool differs = y == 7 || y == 13;
        if (differs) p.fillRect(3, y - 1, 11, 3, QColor(255, 200, 200));
        HLine(p, 4, y, 9, differs ? kRed : text);
    }
}

void RoundBadge(QPainter& p, QColor fill) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(fill.darker(150), 1));
    p.setBrush(fill);
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setRenderHint(QPainter::Antialiasing, false);
}

void Info(QPainter& p) {
    RoundBadge(p, kBlue);
    p.fillRect(7, 3, 2, 2, Qt::white);
    p.fillRect(6, 6, 3, 1, Qt::white);
    p.fillRect(7, 6, 2, 6, Qt::white);
    p.fillRect(6, 12, 4, 1, Qt::white);
}

void Person(QPainter& p, qreal x, qreal y, QColor body) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(body.darker(160), 1));
    p.setBrush(body);
    QPainterPath shoulders;
    shoulders.moveTo(x, y + 11);
    shoulders.cubicTo(x, y + 6, x + 9, y + 6, x + 9, y + 11);
    shoulders.closeSubpath();
    p.drawPath(shoulders);
    p.setBrush(QColor(250, 210, 170));
    p.setPen(QPen(QColor(170, 120, 80), 1));
    p.drawEllipse(QRectF(x + 2, y + 1, 5, 5));
}

void People(QPainter& p) {
    Person(p, 6.5, 0.5, kGreen);
    Person(p, 0.5, 3.5, kBlue);
}

void Question(QPainter& p) {
    RoundBadge(p, QColor(240, 200, 40));
    const QColor ink = kDarkBlue;
    HLine(p, 6, 3, 4, ink);
    HLine(p, 5, 4, 6, ink);
    p.fillRect(5, 5, 2, 1, ink);
    p.fillRect(9, 5, 2, 2, ink);
    p.fillRect(8, 7, 2, 1, ink);
    p.fillRect(7, 8, 2, 2, ink);
    p.fillRect(7, 11, 2, 2, ink);
}

}  // namespace

QPixmap ToolbarImage(int index) {
    if (index < 0 || index >= kToolbarImageCount) return QPixmap();
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    switch (index) {
    case 0: FolderOpen(p); break;
    case 1: Floppy(p); break;
    case 2: Printer(p); break;
    case 3: Key(p), Plus(p); break;
    case 4: Value(p), Plus(p); break;
    case 5: Key(p), Cross(p); break;
    case 6: Value(p), Cross(p); break;
    case 7: Value(p, 3, -3), Value(p, 0, 0), Cross(p); break;
    case 8: Sync(p); break;
    case 9: Subtree(p); break;
    case 10: CopyMasterSlave(p); break;
    case 11: Magnifier(p); break;
    case 12: Compare(p); break;
    case 13: DifferenceList(p); break;
    case 14: Info(p); break;
    case 15: People(p); break;
    default: Question(p); break;
    }
    return pixmap;
}

QIcon ToolbarIcon(int index) { return QIcon(ToolbarImage(index)); }

}  // namespace qv
