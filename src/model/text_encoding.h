// UTF-8 and UTF-16LE, the two encodings registry text meets: the program
// holds text as UTF-8, hive files and version 5 .reg files as UTF-16LE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/registry_types.h"

namespace qv {

// Strict: false on anything not well-formed (lone surrogates, an odd byte
// count, overlong or truncated UTF-8); `*badAt` gets the input offset of the
// fault.
//
// Lenient (for data read from hives, where a string value may hold anything):
// never fails. A lone surrogate becomes its own three-byte sequence, as
// WTF-8 writes it, and converting back restores it, so such data survives a
// copy from one hive to another; a last odd byte is dropped, as Windows' own
// 8-bit calls drop it; a byte that begins no valid UTF-8 sequence becomes
// U+FFFD.
enum class Conversion { kStrict, kLenient };

bool Utf8ToUtf16le(std::string_view utf8, std::string& out, std::size_t* badAt = nullptr,
                   Conversion mode = Conversion::kStrict);
bool Utf16leToUtf8(std::string_view utf16, std::string& out, std::size_t* badAt = nullptr,
                   Conversion mode = Conversion::kStrict);

// The code point of the UTF-8 sequence at `at`, and its length in bytes;
// false when the byte there begins no well-formed sequence (an encoded
// surrogate is one only with `allowSurrogates`, as WTF-8 writes them).
bool NextCodePoint(std::string_view utf8, std::size_t at, std::uint32_t& cp, std::size_t& length,
                   bool allowSurrogates = false);
void AppendUtf8(std::string& out, std::uint32_t cp);

// A key or value name as Windows compares names: upper-cased, letters of
// every script, not only ASCII ones (so "Ключ" and "ключ" are one name).
// Bytes that are no UTF-8 stay as they are. Only compared, never stored.
std::string FoldNameAnyScript(std::string_view name);
// The same for names as the 8-bit calls compare them: ASCII letters only.
std::string FoldNameAscii(std::string_view name);

// Types whose data is text: UTF-16LE in hives and version 5 .reg files,
// UTF-8 at the registry calls the program makes.
inline bool IsTextType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_LINK || type == REG_MULTI_SZ;
}

}  // namespace qv
