// Stand-in: no pictures but the system's own icon.
#pragma once

#include "framework/win32/win32_api.h"

namespace qv {

inline HIMAGELIST CreateTreeImageList() { return nullptr; }
inline HIMAGELIST CreateToolbarImageList() { return nullptr; }
inline HICON CreateProgramIcon(int) { return LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)); }

}  // namespace qv
