// The program's images drawn with GDI, so it ships no image files: the same
// pictures, with the same numbering, as framework/qt/icons.h draws with Qt.
// Transparent parts are masked out.
#pragma once

#include "framework/win32/win32_api.h"

namespace qv {

constexpr int kTreeImageCount = 10;
constexpr int kToolbarImageCount = 17;
// Tool bar image 12 (Compare) is the program's icon, as on the Qt edge.
constexpr int kProgramIconImage = 12;

// The tree's images, 16x16 (ILC_COLOR32 | ILC_MASK), numbered as in
// compare/tree_ctrl.h: yellow, green and red folder, computer, document;
// each even image is followed by its selected form on a blue background.
HIMAGELIST CreateTreeImageList();
// The tool bar's images, 16x16, in button order: open, save, print, add
// key, add value, delete key, delete value, delete all values, sync, load
// subtree, copy, find, compare, differences, about, about us, help.
HIMAGELIST CreateToolbarImageList();
// The program's icon at `size` pixels square (the 16x16 picture scaled).
// The caller destroys it (DestroyIcon).
HICON CreateProgramIcon(int size);

// One image drawn into a 16x16 32-bit top-down bitmap on `keyColour`, which
// marks the transparent pixels. Tree images from 0, tool bar images from
// kTreeImageCount. False for an index out of range.
bool DrawImage(HDC dc, int index, COLORREF keyColour);

}  // namespace qv
