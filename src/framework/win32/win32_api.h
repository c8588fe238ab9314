// The Windows API for the Win32 edge. Include this instead of <windows.h>:
// it settles the two ways the API and the program's own names meet.
// - The message box types: res/resource.h gives them Windows' values, so
//   ours are dropped before <windows.h> defines its own.
// - Win32 maps some names the framework uses for its own functions
//   (MessageBox, LoadString, GetDlgItemText, SetDlgItemText,
//   GetComputerName, TextOut) to their ...A or ...W forms; those macros are
//   undone here, and the edge calls the wide forms by their full names.
#pragma once

#include "res/resource.h"

#undef MB_OK
#undef MB_YESNO
#undef MB_ICONERROR
#undef MB_ICONQUESTION
#undef MB_ICONWARNING
#undef MB_ICONINFORMATION
#undef MB_TYPEMASK

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>

#undef MessageBox
#undef LoadString
#undef GetDlgItemText
#undef SetDlgItemText
#undef GetComputerName
#undef TextOut

#include <string>
#include <string_view>

namespace qv {

// UTF-8, as the program holds text, to UTF-16 as the wide calls take it,
// and back. Invalid sequences become U+FFFD.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace qv
