// The program's images, drawn in code so it ships no image files.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace qv {

// Tree item image `index` (16x16), numbered as the images in
// compare/tree_ctrl.h: yellow, green and red folder, computer, document; each
// even image is followed by its selected form on a blue background. Null for
// an index out of range.
QPixmap TreeImage(int index);

// The pair holding `image`: the even image, with the odd one as the
// QIcon::Selected mode, which the views draw for a selected item.
QIcon TreeIcon(int image);

// Number of tool bar images.
constexpr int kToolbarImageCount = 17;

// Tool bar image `index` (16x16) in button order: open, save, print, add
// key, add value, delete key, delete value, delete all values, sync, load
// subtree, copy, find, compare, differences, about, about us, help. Null
// out of range.
QPixmap ToolbarImage(int index);

// The image as an icon; Qt greys it for a disabled button.
QIcon ToolbarIcon(int index);

}  // namespace qv
