// The Win32 registry vocabulary the program is written against. On Windows
// it comes from <windows.h>; elsewhere we define the same names and values so
// that the core reads the same on both.
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// The message box types are the program's own (res/resource.h) with the
// same values as Windows': ours go, so <windows.h> defines them without a
// clash whichever header came first. <windows.h> also turns Win32 names into
// their ...A forms by macro, and the program has its own functions and
// members called MessageBox, GetDlgItemText, LoadString, GetComputerName,
// TextOut, ...: those macros are undone; Windows code calls the wide forms
// by their full names.
#undef MB_OK
#undef MB_YESNO
#undef MB_ICONERROR
#undef MB_ICONQUESTION
#undef MB_ICONWARNING
#undef MB_ICONINFORMATION
#undef MB_TYPEMASK
#include <windows.h>
#undef MessageBox
#undef LoadString
#undef GetDlgItemText
#undef SetDlgItemText
#undef GetComputerName
#undef TextOut
#else

using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using REGSAM = std::uint32_t;
using LPCSTR = const char*;

struct HKEY__;
using HKEY = HKEY__*;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct SECURITY_ATTRIBUTES;

// Predefined keys, sign-extended as on 64-bit Windows.
#define QV_PREDEFINED_HKEY(v) \
    (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(v))))
#define HKEY_CLASSES_ROOT QV_PREDEFINED_HKEY(0x80000000u)
#define HKEY_CURRENT_USER QV_PREDEFINED_HKEY(0x80000001u)
#define HKEY_LOCAL_MACHINE QV_PREDEFINED_HKEY(0x80000002u)
#define HKEY_USERS QV_PREDEFINED_HKEY(0x80000003u)
#define HKEY_PERFORMANCE_DATA QV_PREDEFINED_HKEY(0x80000004u)
#define HKEY_CURRENT_CONFIG QV_PREDEFINED_HKEY(0x80000005u)
#define HKEY_DYN_DATA QV_PREDEFINED_HKEY(0x80000006u)

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_BAD_NETPATH = 53;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_CANCELLED = 1223;
#endif
