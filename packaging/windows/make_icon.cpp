// Writes res/windows/quorvane.ico, the Windows programs' icon: the tool bar's
// Compare image, the one the program's window shows (framework/qt/icons.cpp),
// at 16, 32 and 48 pixels. It is pixel art, so the larger sizes repeat each
// pixel rather than blur it. The icon is committed; after the drawing
// changes, make it again in the Linux build:
//
//   cmake --build build/default --target quorvane_make_icon
//   build/default/packaging/quorvane_make_icon res/windows/quorvane.ico
//
// Each image is stored as Windows' own 32-bit bitmap with its alpha channel
// (and the AND mask older readers want), which every Windows version and
// Wine read.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <cstdint>
#include <cstdio>
#include <string>

#include "framework/qt/icons.h"

namespace {

void Put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

// One icon image: BITMAPINFOHEADER (height doubled for the mask), the
// colour rows bottom-up as BGRA, then the 1-bit AND mask rows (set where
// transparent), each padded to 32 bits.
std::string IconImage(const QImage& image) {
    const int size = image.width();
    std::string out;
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(size));
    Put32(out, static_cast<std::uint32_t>(size * 2));
    Put16(out, 1);
    Put16(out, 32);
    for (int i = 0; i < 6; ++i) Put32(out, 0);  // BI_RGB, no sizes or palette
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = image.pixel(x, y);
            out += static_cast<char>(qBlue(pixel));
            out += static_cast<char>(qGreen(pixel));
            out += static_cast<char>(qRed(pixel));
            out += static_cast<char>(qAlpha(pixel));
        }
    const int maskRow = ((size + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; --y) {
        std::string row(static_cast<std::size_t>(maskRow), '\0');
        for (int x = 0; x < size; ++x)
            if (qAlpha(image.pixel(x, y)) == 0) row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
        out += row;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.ico\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // Unpremultiplied, as the bitmap keeps its colours.
    const QImage drawn = qv::ToolbarImage(12).toImage().convertToFormat(QImage::Format_ARGB32);
    const int sizes[] = {16, 32, 48};
    std::string directory, images;
    Put16(directory, 0);  // reserved
    Put16(directory, 1);  // an icon
    Put16(directory, 3);
    std::uint32_t offset = 6 + 16 * 3;
    for (const int size : sizes) {
        const std::string image = IconImage(drawn.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        directory += static_cast<char>(size);
        directory += static_cast<char>(size);
        directory += '\0';  // no palette
        directory += '\0';
        Put16(directory, 1);   // planes
        Put16(directory, 32);  // bits per pixel
        Put32(directory, static_cast<std::uint32_t>(image.size()));
        Put32(directory, offset);
        offset += static_cast<std::uint32_t>(image.size());
        images += image;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const std::string bytes = directory + images;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written ? 0 : 1;
}
