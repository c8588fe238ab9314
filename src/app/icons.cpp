#include "app/icons.h"

#include <QPainter>
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

}  // namespace qv
