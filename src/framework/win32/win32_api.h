// The Windows API for the Win32 edge. Include this rather than <windows.h>.
// The clashes between the API and the program's own names (the message box
// types, and Win32's macros for MessageBox, LoadString, GetDlgItemText,
// SetDlgItemText, GetComputerName, TextOut) are settled where the core takes
// <windows.h>, in model/registry_types.h, so the order of includes does not
// matter; the edge calls the wide forms by their full names.
#pragma once

#include "model/registry_types.h"
#include "res/resource.h"

#include <commctrl.h>

#include <string>
#include <string_view>

namespace qv {

// UTF-8, as the program holds text, to UTF-16 as the wide calls take it,
// and back. Invalid sequences become U+FFFD.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// Registers the program's window class `name` (arrow cursor, dialog-coloured
// background), whose windows set their own procedure once created. A class
// already registered stays as it is.
void RegisterWindowClass(const wchar_t* name);

}  // namespace qv
