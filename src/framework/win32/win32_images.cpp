#include "framework/win32/win32_images.h"

#include <cmath>
#include <initializer_list>
#include <vector>

namespace qv {

namespace {

constexpr int kSize = 16;
constexpr COLORREF kKey = RGB(255, 0, 255);  // no picture uses it
constexpr COLORREF kNone = CLR_INVALID;      // no pen, or no brush

COLORREF Darker(COLORREF c, int factor) {
    return RGB(GetRValue(c) * 100 / factor, GetGValue(c) * 100 / factor, GetBValue(c) * 100 / factor);
}

// Drawing as QPainter draws the Qt pictures: a rectangle with a pen covers
// w + 1 by h + 1 pixels, fills cover w by h, lines include their end.
class Canvas {
public:
    explicit Canvas(HDC dc) : m_dc(dc) {}

    void Fill(int x, int y, int w, int h, COLORREF c) const {
        const RECT r{x, y, x + w, y + h};
        const HBRUSH b = ::CreateSolidBrush(c);
        ::FillRect(m_dc, &r, b);
        ::DeleteObject(b);
    }
    void Box(int x, int y, int w, int h, COLORREF fill, COLORREF edge) const {
        Fill(x, y, w, h, edge);
        Fill(x + 1, y + 1, w - 2, h - 2, fill);
    }
    void HLine(int x, int y, int w, COLORREF c) const { Fill(x, y, w, 1, c); }
    void VLine(int x, int y, int h, COLORREF c) const { Fill(x, y, 1, h, c); }

    void Rect(int x, int y, int w, int h, COLORREF pen, COLORREF brush) const {
        Tools t(m_dc, pen, 1, brush);
        ::Rectangle(m_dc, x, y, x + w + 1, y + h + 1);
    }
    void Polygon(std::initializer_list<POINT> points, COLORREF pen, COLORREF brush) const {
        Tools t(m_dc, pen, 1, brush);
        const std::vector<POINT> p(points);
        ::Polygon(m_dc, p.data(), static_cast<int>(p.size()));
    }
    void Line(int x1, int y1, int x2, int y2, COLORREF pen, int width = 1) const {
        Tools t(m_dc, pen, width, kNone);
        ::MoveToEx(m_dc, x1, y1, nullptr);
        ::LineTo(m_dc, x2, y2);
        if (width == 1) ::SetPixel(m_dc, x2, y2, pen);
    }
    void Ellipse(int left, int top, int right, int bottom, COLORREF pen, COLORREF brush) const {
        Tools t(m_dc, pen, 1, brush);
        ::Ellipse(m_dc, left, top, right, bottom);
    }
    // An arc of the ellipse in the box, from `startDeg` (0 at three o'clock,
    // counter-clockwise) over `spanDeg`.
    void Arc(int left, int top, int right, int bottom, double startDeg, double spanDeg, COLORREF pen,
             int width) const {
        Tools t(m_dc, pen, width, kNone);
        const double cx = (left + right) / 2.0, cy = (top + bottom) / 2.0, r = (right - left) / 2.0;
        const double a = startDeg * 3.14159265358979 / 180, b = (startDeg + spanDeg) * 3.14159265358979 / 180;
        ::SetArcDirection(m_dc, AD_COUNTERCLOCKWISE);
        ::Arc(m_dc, left, top, right, bottom, Round(cx + r * std::cos(a)), Round(cy - r * std::sin(a)),
              Round(cx + r * std::cos(b)), Round(cy - r * std::sin(b)));
    }
    // A filled triangle pointing along (dx, dy) with its tip at (x, y).
    void Arrowhead(double x, double y, double dx, double dy, COLORREF c) const {
        const double nx = -dy, ny = dx;
        Polygon({POINT{Round(x), Round(y)}, POINT{Round(x - 3.5 * dx + 3 * nx), Round(y - 3.5 * dy + 3 * ny)},
                 POINT{Round(x - 3.5 * dx - 3 * nx), Round(y - 3.5 * dy - 3 * ny)}},
                c, c);
    }
    void Bezier(POINT start, std::initializer_list<POINT> controls, COLORREF pen, COLORREF brush) const {
        Tools t(m_dc, pen, 1, brush);
        const std::vector<POINT> p(controls);
        ::BeginPath(m_dc);
        ::MoveToEx(m_dc, start.x, start.y, nullptr);
        ::PolyBezierTo(m_dc, p.data(), static_cast<DWORD>(p.size()));
        ::CloseFigure(m_dc);
        ::EndPath(m_dc);
        ::StrokeAndFillPath(m_dc);
    }
    void Clear(int x, int y) const { ::SetPixel(m_dc, x, y, kKey); }

private:
    static int Round(double v) { return static_cast<int>(std::lround(v)); }

    // A pen and a brush selected for one drawing call.
    class Tools {
    public:
        Tools(HDC dc, COLORREF pen, int width, COLORREF brush)
            : m_dc(dc),
              m_pen(pen == kNone ? nullptr : ::CreatePen(PS_SOLID, width, pen)),
              m_brush(brush == kNone ? nullptr : ::CreateSolidBrush(brush)),
              m_oldPen(::SelectObject(dc, m_pen ? static_cast<HGDIOBJ>(m_pen) : ::GetStockObject(NULL_PEN))),
              m_oldBrush(::SelectObject(dc, m_brush ? static_cast<HGDIOBJ>(m_brush) : ::GetStockObject(NULL_BRUSH))) {}
        ~Tools() {
            ::SelectObject(m_dc, m_oldPen);
            ::SelectObject(m_dc, m_oldBrush);
            if (m_pen) ::DeleteObject(m_pen);
            if (m_brush) ::DeleteObject(m_brush);
        }
        Tools(const Tools&) = delete;
        Tools& operator=(const Tools&) = delete;

    private:
        HDC m_dc;
        HPEN m_pen;
        HBRUSH m_brush;
        HGDIOBJ m_oldPen, m_oldBrush;
    };

    HDC m_dc;
};

// Tree images.

struct FolderColours {
    COLORREF fill, light, edge;
};

const FolderColours kFolders[] = {
    {RGB(250, 204, 72), RGB(255, 236, 150), RGB(150, 110, 0)},  // yellow: this computer
    {RGB(96, 184, 88), RGB(170, 226, 160), RGB(24, 100, 24)},   // green: another computer
    {RGB(224, 84, 72), RGB(248, 160, 150), RGB(130, 24, 20)},   // red: a file
};

void DrawFolder(const Canvas& p, const FolderColours& c, bool open) {
    // Tab, then the body behind it.
    p.Polygon({{1, 3}, {6, 3}, {7, 5}, {1, 5}}, c.edge, c.fill);
    p.Rect(1, 5, 13, 9, c.edge, c.fill);
    if (!open) {
        p.Line(2, 6, 13, 6, c.light);
        return;
    }
    // The front cover leaning forward.
    p.Polygon({{4, 8}, {15, 8}, {13, 14}, {1, 14}}, c.edge, c.light);
}

void DrawComputer(const Canvas& p) {
    const COLORREF edge = RGB(64, 64, 64), grey = RGB(200, 200, 200);
    p.Rect(1, 1, 13, 9, edge, grey);             // monitor
    p.Rect(3, 3, 9, 5, edge, RGB(0, 128, 128));  // screen
    p.Rect(6, 11, 3, 1, edge, grey);             // neck
    p.Rect(2, 12, 11, 2, edge, grey);            // base
}

void DrawDocument(const Canvas& p) {
    p.Polygon({{3, 1}, {10, 1}, {13, 4}, {13, 14}, {3, 14}}, RGB(96, 96, 96), RGB(255, 255, 255));
    p.Polygon({{10, 1}, {10, 4}, {13, 4}}, RGB(96, 96, 96), RGB(210, 210, 210));  // turned corner
    for (int y = 6; y <= 12; y += 2) p.Line(5, y, y == 12 ? 9 : 11, y, RGB(120, 120, 200));  // lines of text
}

void DrawTreeImage(const Canvas& p, int index) {
    const bool selected = index % 2 == 1;
    if (selected) p.Fill(0, 0, kSize, kSize, RGB(0, 0, 128));
    const int shape = index / 2;
    if (shape < 3) DrawFolder(p, kFolders[shape], selected);
    else if (shape == 3) DrawComputer(p);
    else DrawDocument(p);
}

// Tool bar images.

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlue = RGB(30, 90, 190);
constexpr COLORREF kDarkBlue = RGB(16, 50, 120);
constexpr COLORREF kGold = RGB(230, 170, 20);
constexpr COLORREF kGoldEdge = RGB(130, 90, 0);
constexpr COLORREF kGreen = RGB(30, 150, 40);
constexpr COLORREF kRed = RGB(210, 30, 30);

void FolderOpen(const Canvas& p) {
    const COLORREF edge = RGB(150, 110, 0), back = RGB(240, 190, 60), front = RGB(255, 225, 120);
    // Back with its tab.
    p.HLine(1, 2, 5, edge);
    p.Fill(1, 3, 1, 11, edge);
    p.Fill(6, 3, 1, 1, edge);
    p.HLine(7, 4, 6, edge);
    p.VLine(12, 4, 3, edge);
    p.Fill(2, 3, 4, 11, back);
    p.Fill(6, 5, 6, 2, back);
    // The front cover, leaning out.
    p.Polygon({{4, 7}, {15, 7}, {12, 13}, {1, 13}}, edge, front);
}

void Floppy(const Canvas& p) {
    p.Box(1, 1, 14, 14, kBlue, kDarkBlue);
    p.Clear(14, 1);  // the cut corner
    p.Box(4, 1, 8, 5, RGB(210, 210, 215), kDarkBlue);  // shutter
    p.Fill(9, 2, 2, 3, kDarkBlue);
    p.Box(3, 8, 10, 7, kWhite, kDarkBlue);  // label
    p.HLine(5, 10, 6, RGB(150, 150, 160));
    p.HLine(5, 12, 6, RGB(150, 150, 160));
}

void Printer(const Canvas& p) {
    p.Box(4, 1, 8, 6, kWhite, RGB(90, 90, 90));  // paper going in
    p.HLine(6, 3, 4, RGB(120, 120, 120));
    p.Box(1, 6, 14, 6, RGB(200, 200, 205), RGB(70, 70, 70));  // body
    p.HLine(2, 7, 12, RGB(235, 235, 240));
    p.Fill(11, 8, 2, 1, kGreen);  // power light
    p.Box(3, 10, 10, 5, kWhite, RGB(90, 90, 90));  // paper coming out
    p.HLine(5, 12, 6, RGB(120, 120, 120));
}

// A key lying on its side, bow left, within x 0..11, y 4..12.
void Key(const Canvas& p, int dx = 0, int dy = 0) {
    p.Ellipse(dx + 0, dy + 4, dx + 7, dy + 11, kGoldEdge, kGold);
    p.Fill(dx + 3, dy + 7, 2, 2, RGB(255, 240, 190));  // the bow's hole
    // Shaft and teeth.
    p.Fill(dx + 7, dy + 6, 6, 3, kGoldEdge);
    p.Fill(dx + 7, dy + 7, 5, 1, kGold);
    p.Fill(dx + 9, dy + 9, 1, 2, kGoldEdge);
    p.Fill(dx + 11, dy + 9, 2, 3, kGoldEdge);
}

// A value: a name tag with a line of text, within x 0..11, y 3..12.
void Value(const Canvas& p, int dx = 0, int dy = 0) {
    p.Box(dx + 0, dy + 3, 12, 9, kWhite, RGB(60, 80, 140));
    p.Fill(dx + 1, dy + 4, 10, 2, RGB(120, 160, 230));
    p.Fill(dx + 2, dy + 7, 2, 3, kRed);  // "ab", the type mark of string values
    p.HLine(dx + 5, dy + 8, 5, RGB(110, 110, 110));
    p.HLine(dx + 5, dy + 10, 4, RGB(110, 110, 110));
}

// Marks in the lower right corner, with a white rim to stand off the picture.
void Plus(const Canvas& p) {
    p.Fill(9, 11, 7, 4, kWhite);
    p.Fill(11, 9, 4, 7, kWhite);
    p.Fill(10, 12, 6, 2, kGreen);
    p.Fill(12, 10, 2, 6, kGreen);
}

void Cross(const Canvas& p) {
    for (int i = 0; i < 6; ++i) {
        p.Fill(10 + i, 10 + i, 1, 1, kRed);
        p.Fill(9 + i, 10 + i, 1, 1, kRed);
        p.Fill(15 - i, 10 + i, 1, 1, kRed);
        p.Fill(14 - i, 10 + i, 1, 1, kRed);
    }
}

void Sync(const Canvas& p) {
    p.Arc(3, 3, 14, 14, 30, 140, kGreen, 2);   // upper arc, running left
    p.Arc(3, 3, 14, 14, 210, 140, kBlue, 2);   // lower arc, running right
    p.Arrowhead(2.2, 10.5, 0, 1, kGreen);
    p.Arrowhead(13.8, 5.5, 0, -1, kBlue);
}

void Subtree(const Canvas& p) {
    const COLORREF line = RGB(100, 100, 100), fill = RGB(240, 190, 60), edge = RGB(150, 110, 0);
    p.VLine(3, 4, 9, line);
    p.HLine(3, 8, 4, line);
    p.HLine(3, 12, 4, line);
    p.Box(1, 1, 5, 4, fill, edge);
    p.Box(6, 6, 5, 4, fill, edge);
    p.Box(6, 11, 5, 4, fill, edge);
    // Reading goes downwards.
    p.Fill(13, 2, 1, 9, kBlue);
    p.Arrowhead(13.5, 14.5, 0, 1, kBlue);
}

void CopyMasterSlave(const Canvas& p) {
    p.Box(0, 1, 6, 9, RGB(120, 160, 230), kDarkBlue);  // Master
    p.HLine(1, 3, 4, kWhite);
    p.HLine(1, 5, 4, kWhite);
    p.Box(10, 6, 6, 9, kWhite, kDarkBlue);  // Slave
    p.HLine(11, 8, 4, RGB(160, 160, 160));
    p.HLine(11, 10, 4, RGB(160, 160, 160));
    p.Fill(3, 11, 1, 2, kGreen);
    p.Fill(3, 12, 5, 2, kGreen);
    p.Arrowhead(10, 13, 1, 0, kGreen);
}

void Magnifier(const Canvas& p) {
    p.Line(10, 10, 14, 14, RGB(60, 60, 60), 3);  // handle
    p.Ellipse(1, 1, 11, 11, RGB(50, 50, 60), RGB(200, 230, 255));
    p.Arc(3, 3, 9, 9, 100, 70, kWhite, 1);  // glint
}

void Compare(const Canvas& p) {
    const COLORREF edge = RGB(70, 70, 90), text = RGB(150, 150, 160), pink = RGB(255, 200, 200);
    p.Box(0, 1, 7, 14, kWhite, edge);
    p.Box(9, 1, 7, 14, kWhite, edge);
    for (int y : {3, 5, 11, 13}) {
        p.HLine(2, y, 3, text);
        p.HLine(11, y, 3, text);
    }
    // The row that differs.
    p.Fill(1, 7, 5, 3, pink);
    p.Fill(10, 7, 5, 3, pink);
    p.HLine(2, 8, 3, kRed);
    p.HLine(11, 8, 2, kRed);
    // "Not equal" between them.
    p.Fill(7, 7, 2, 1, kRed);
    p.Fill(7, 9, 2, 1, kRed);
    p.Fill(8, 5, 1, 2, kRed);
    p.Fill(7, 10, 1, 2, kRed);
}

// A list with some rows marked as differing.
void DifferenceList(const Canvas& p) {
    const COLORREF edge = RGB(70, 70, 90), text = RGB(150, 150, 160);
    p.Box(1, 1, 14, 14, kWhite, edge);
    for (int y : {4, 7, 10, 13}) {
        const bool differs = y == 7 || y == 13;
        if (differs) p.Fill(3, y - 1, 11, 3, RGB(255, 200, 200));
        p.HLine(4, y, 9, differs ? kRed : text);
    }
}

void RoundBadge(const Canvas& p, COLORREF fill) { p.Ellipse(0, 0, 16, 16, Darker(fill, 150), fill); }

void Info(const Canvas& p) {
    RoundBadge(p, kBlue);
    p.Fill(7, 3, 2, 2, kWhite);
    p.Fill(6, 6, 3, 1, kWhite);
    p.Fill(7, 6, 2, 6, kWhite);
    p.Fill(6, 12, 4, 1, kWhite);
}

void Person(const Canvas& p, int x, int y, COLORREF body) {
    p.Bezier({x, y + 11}, {{x, y + 6}, {x + 9, y + 6}, {x + 9, y + 11}}, Darker(body, 160), body);
    p.Ellipse(x + 2, y + 1, x + 8, y + 7, RGB(170, 120, 80), RGB(250, 210, 170));
}

void People(const Canvas& p) {
    Person(p, 6, 0, kGreen);
    Person(p, 0, 3, kBlue);
}

void Question(const Canvas& p) {
    RoundBadge(p, RGB(240, 200, 40));
    const COLORREF ink = kDarkBlue;
    p.HLine(6, 3, 4, ink);
    p.HLine(5, 4, 6, ink);
    p.Fill(5, 5, 2, 1, ink);
    p.Fill(9, 5, 2, 2, ink);
    p.Fill(8, 7, 2, 1, ink);
    p.Fill(7, 8, 2, 2, ink);
    p.Fill(7, 11, 2, 2, ink);
}

void DrawToolbarImage(const Canvas& p, int index) {
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
}

// A 32-bit top-down DIB section of `size` pixels square.
HBITMAP CreateBitmap32(HDC dc, int size, void** bits) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return ::CreateDIBSection(dc, &bi, DIB_RGB_COLORS, bits, nullptr, 0);
}

HIMAGELIST CreateImageList(int first, int count) {
    const HIMAGELIST list = ::ImageList_Create(kSize, kSize, ILC_COLOR32 | ILC_MASK, count, 0);
    if (list == nullptr) return nullptr;
    const HDC dc = ::CreateCompatibleDC(nullptr);
    for (int i = 0; i < count; ++i) {
        void* bits = nullptr;
        const HBITMAP bitmap = CreateBitmap32(dc, kSize, &bits);
        const HGDIOBJ old = ::SelectObject(dc, bitmap);
        DrawImage(dc, first + i, kKey);
        ::SelectObject(dc, old);
        ::ImageList_AddMasked(list, bitmap, kKey);
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(dc);
    return list;
}

}  // namespace

bool DrawImage(HDC dc, int index, COLORREF keyColour) {
    if (index < 0 || index >= kTreeImageCount + kToolbarImageCount) return false;
    Canvas p(dc);
    p.Fill(0, 0, kSize, kSize, keyColour);
    if (index < kTreeImageCount) DrawTreeImage(p, index);
    else DrawToolbarImage(p, index - kTreeImageCount);
    // Pixels cleared with the built-in key take the caller's key.
    if (keyColour != kKey)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                if (::GetPixel(dc, x, y) == kKey) ::SetPixel(dc, x, y, keyColour);
    return true;
}

HIMAGELIST CreateTreeImageList() { return CreateImageList(0, kTreeImageCount); }

HIMAGELIST CreateToolbarImageList() { return CreateImageList(kTreeImageCount, kToolbarImageCount); }

HICON CreateProgramIcon(int size) {
    if (size <= 0) return nullptr;
    const HDC dc = ::CreateCompatibleDC(nullptr);
    void* smallBits = nullptr;
    const HBITMAP picture = CreateBitmap32(dc, kSize, &smallBits);
    HGDIOBJ old = ::SelectObject(dc, picture);
    DrawImage(dc, kTreeImageCount + kProgramIconImage, kKey);
    ::SelectObject(dc, old);

    // Scaled by whole pixels (nearest neighbour keeps the drawing sharp),
    // with the alpha channel set: opaque where drawn, clear on the key.
    void* bits = nullptr;
    const HBITMAP colour = CreateBitmap32(dc, size, &bits);
    const auto* src = static_cast<const DWORD*>(smallBits);
    auto* dst = static_cast<DWORD*>(bits);
    std::vector<BYTE> mask(static_cast<std::size_t>((size + 15) / 16 * 2) * static_cast<std::size_t>(size), 0);
    const std::size_t stride = static_cast<std::size_t>((size + 15) / 16 * 2);
    const DWORD keyPixel = 0x00FF00FF;  // kKey as BGRA in the DIB
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const DWORD p = src[(y * kSize / size) * kSize + x * kSize / size] & 0x00FFFFFF;
            const bool clear = p == keyPixel;
            dst[y * size + x] = clear ? 0 : (p | 0xFF000000u);
            if (clear) mask[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x / 8)] |= static_cast<BYTE>(0x80 >> (x % 8));
        }
    const HBITMAP maskBitmap = ::CreateBitmap(size, size, 1, 1, mask.data());
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = maskBitmap;
    const HICON icon = ::CreateIconIndirect(&info);
    ::DeleteObject(maskBitmap);
    ::DeleteObject(colour);
    ::DeleteObject(picture);
    ::DeleteDC(dc);
    return icon;
}

}  // namespace qv
