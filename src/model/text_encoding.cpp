#include "model/text_encoding.h"

#include <cstdint>
#include <cwctype>

#ifndef _WIN32
#include <locale.h>
#include <wctype.h>
#endif

namespace qv {

namespace {

void PutUnit(std::string& out, std::uint32_t unit) {
    out += static_cast<char>(unit & 0xff);
    out += static_cast<char>(unit >> 8);
}

constexpr std::uint32_t kReplacement = 0xFFFD;

}  // namespace

bool NextCodePoint(std::string_view utf8, std::size_t at, std::uint32_t& cp, std::size_t& length,
                   bool allowSurrogates) {
    const auto b0 = static_cast<unsigned char>(utf8[at]);
    if (b0 < 0x80) length = 1, cp = b0;
    else if (b0 >= 0xC2 && b0 <= 0xDF) length = 2, cp = b0 & 0x1Fu;
    else if (b0 >= 0xE0 && b0 <= 0xEF) length = 3, cp = b0 & 0x0Fu;
    else if (b0 >= 0xF0 && b0 <= 0xF4) length = 4, cp = b0 & 0x07u;
    else length = 0, cp = 0;
    bool ok = length != 0 && at + length <= utf8.size();
    for (std::size_t k = 1; ok && k < length; ++k) {
        const auto b = static_cast<unsigned char>(utf8[at + k]);
        ok = (b & 0xC0) == 0x80;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (ok && length == 3) ok = cp >= 0x800 && (allowSurrogates || cp < 0xD800 || cp > 0xDFFF);
    if (ok && length == 4) ok = cp >= 0x10000 && cp <= 0x10FFFF;
    return ok;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool Utf8ToUtf16le(std::string_view utf8, std::string& out, std::size_t* badAt, Conversion mode) {
    const bool lenient = mode == Conversion::kLenient;
    out.clear();
    out.reserve(utf8.size() * 2);
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t length;
        std::uint32_t cp;
        const bool ok = NextCodePoint(utf8, i, cp, length, lenient);
        if (!ok) {
            if (!lenient) {
                if (badAt != nullptr) *badAt = i;
                return false;
            }
            length = 1;
            cp = kReplacement;
        }
        if (cp >= 0x10000) {
            PutUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
            PutUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            PutUnit(out, cp);
        }
        i += length;
    }
    return true;
}

bool Utf16leToUtf8(std::string_view utf16, std::string& out, std::size_t* badAt, Conversion mode) {
    const bool lenient = mode == Conversion::kLenient;
    out.clear();
    auto unit = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(utf16[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(utf16[at + 1])) << 8;
    };
    for (std::size_t i = 0; i < utf16.size(); i += 2) {
        if (i + 1 >= utf16.size()) {
            if (lenient) break;
            if (badAt != nullptr) *badAt = i;
            return false;
        }
        std::uint32_t cp = unit(i);
        bool ok = true;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            const std::uint32_t low = i + 3 < utf16.size() ? unit(i + 2) : 0;
            ok = low >= 0xDC00 && low <= 0xDFFF;
            if (ok) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            ok = false;
        }
        if (!ok && !lenient) {
            if (badAt != nullptr) *badAt = i;
            return false;
        }
        AppendUtf8(out, cp);  // a lone surrogate, when lenient, as its own sequence
    }
    return true;
}

std::string FoldNameAscii(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return folded;
}

std::string FoldNameAnyScript(std::string_view name) {
#ifndef _WIN32
    // The C.UTF-8 locale's case table, whatever locale the program runs in.
    static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
#endif
    std::string folded;
    folded.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        std::uint32_t c = 0;
        std::size_t length = 1;
        if (!NextCodePoint(name, i, c, length, true)) {
            folded += name[i++];
            continue;
        }
        if (c < 0x80) {
            folded += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : name[i];
        } else {
#ifdef _WIN32
            const std::uint32_t upper = c <= 0xFFFF ? static_cast<std::uint32_t>(std::towupper(static_cast<wint_t>(c))) : c;
#else
            const std::uint32_t upper =
                unicode == nullptr ? c : static_cast<std::uint32_t>(::towupper_l(static_cast<wint_t>(c), unicode));
#endif
            AppendUtf8(folded, upper);
        }
        i += length;
    }
    return folded;
}

}  // namespace qv
