#include "files/reg_file.h"

#include "files/file_names.h"

#include "model/key_node.h"
#include "model/text_encoding.h"

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace qv {

namespace {

constexpr std::string_view kVersion5Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRegedit4Header = "REGEDIT4";
constexpr std::string_view kWineHeader = "WINE REGISTRY Version 2";
constexpr const char* kNotARegistryFile =
    "not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"";
constexpr char kHex[] = "0123456789abcdef";

// `text` in double quotes, for messages. Built by appending: GCC 12 at -O3
// misreads `"\"" + std::string(text)` as an overlapping copy (-Wrestrict).
std::string Quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    out += text;
    out += '"';
    return out;
}

bool IsUtf8(std::string_view text) {
    std::string ignored;
    return Utf8ToUtf16le(text, ignored);
}

// Characters a line takes in the file: UTF-16 units in version 5, bytes in
// REGEDIT4. regedit wraps by this count.
std::size_t Width(std::string_view text, RegFileFormat format) {
    if (format == RegFileFormat::kRegedit4) return text.size();
    std::size_t width = 0;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b & 0xC0) != 0x80) ++width;
        if (b >= 0xF0) ++width;  // a surrogate pair
    }
    return width;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHexNumber(std::string_view text, std::size_t maxDigits, DWORD& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (const char c : text) {
        const int d = HexValue(c);
        if (d < 0) return false;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return true;
}

// A quoted string at the start of `text` with \\ and \" unescaped; any other
// backslash stays as it stands. `text` is left after the closing quote.
bool ReadQuoted(std::string_view& text, std::string& out) {
    out.clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) c = text[++i];
        out += c;
    }
    return false;
}

// A quoted string in Wine's own files: C escapes, and \x with up to four
// hex digits for a UTF-16 unit, which is how Wine writes everything that is
// not printable ASCII. `text` is left after the closing quote; `out` is UTF-8.
bool ReadWineQuoted(std::string_view& text, std::string& out) {
    std::string units;
    auto put = [&units](std::uint32_t unit) {
        units += static_cast<char>(unit & 0xff);
        units += static_cast<char>(unit >> 8);
    };
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            Utf16leToUtf8(units, out, nullptr, Conversion::kLenient);
            return true;
        }
        if (c != '\\' || i + 1 == text.size()) {
            put(static_cast<unsigned char>(c));  // ASCII; other bytes are escaped by Wine
            continue;
        }
        const char e = text[++i];
        if (e == 'x') {
            std::uint32_t unit = 0;
            std::size_t digits = 0;
            for (; digits < 4 && i + 1 < text.size() && HexValue(text[i + 1]) >= 0; ++digits)
                unit = unit * 16 + static_cast<std::uint32_t>(HexValue(text[++i]));
            put(digits == 0 ? 'x' : unit);
            continue;
        }
        if (e >= '0' && e <= '7') {  // octal, up to three digits: how Wine writes other control characters
            std::uint32_t unit = static_cast<std::uint32_t>(e - '0');
            for (int digits = 1; digits < 3 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7'; ++digits)
                unit = unit * 8 + static_cast<std::uint32_t>(text[++i] - '0');
            put(unit);
            continue;
        }
        static constexpr std::string_view kLetters = "abefnrtv", kCodes("\a\b\x1b\f\n\r\t\v", 8);
        const std::size_t at = kLetters.find(e);
        put(static_cast<unsigned char>(at == std::string_view::npos ? e : kCodes[at]));
    }
    return false;
}

std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

class CParser {
public:
    CParser(std::vector<std::string_view> lines, RegFileContent& content, std::string& error)
        : m_lines(std::move(lines)), m_content(content), m_error(error) {}

    bool Run() {
        const std::string_view header = Trim(m_lines.empty() ? std::string_view() : m_lines[0]);
        if (header == kVersion5Header) m_content.format = RegFileFormat::kVersion5;
        else if (header == kRegedit4Header) m_content.format = RegFileFormat::kRegedit4;
        else if (header == kWineHeader) m_content.format = RegFileFormat::kWine;
        else return Fail(1, kNotARegistryFile);
        const bool wine = m_content.format == RegFileFormat::kWine;
        for (m_index = 1; m_index < m_lines.size(); ++m_index) {
            const std::string_view line = Trim(m_lines[m_index]);
            if (wine && line.substr(0, 23) == ";; All keys relative to") {
                if (!WineRoot(Trim(line.substr(23)))) return false;
                continue;
            }
            if (line.empty() || line.front() == ';' || (wine && line.front() == '#')) continue;
            const bool ok = line.front() == '[' ? (wine ? WineKeyLine(line) : KeyLine(line))
                            : (line.front() == '"' || line.front() == '@') ? ValueLine(line)
                                                                           : Fail(LineNo(), "not a key, value or comment line");
            if (!ok) return false;
        }
        return true;
    }

private:
    static constexpr const char* kNulInKey = "the key's name holds a NUL character, which no registry call can name";

    std::size_t LineNo() const { return m_index + 1; }

    // The registry's depth limit, said with the line rather than as a
    // failed call when the file is applied.
    bool DepthAllowed(const RegKeyName& key) {
        const std::size_t depth = key.path.empty() ? 0 : 1 + static_cast<std::size_t>(std::count(key.path.begin(), key.path.end(), '\\'));
        if (depth <= static_cast<std::size_t>(kMaxKeyDepth)) return true;
        return Fail(LineNo(), "the key is " + std::to_string(depth) + " levels below " + key.rootName +
                                  "; the registry allows at most " + std::to_string(kMaxKeyDepth));
    }

    bool Fail(std::size_t line, const std::string& reason) {
        m_error = "line " + std::to_string(line) + ": " + reason;
        return false;
    }

    bool KeyLine(std::string_view line) {
        const std::size_t close = line.rfind(']');
        if (close == std::string_view::npos || !Trim(line.substr(close + 1)).empty())
            return Fail(LineNo(), "a key line must end with ']'");
        std::string_view inner = line.substr(1, close - 1);
        const bool remove = !inner.empty() && inner.front() == '-';
        if (remove) inner.remove_prefix(1);
        RegFileOp op;
        op.kind = remove ? RegFileOp::kDeleteKey : RegFileOp::kKey;
        op.line = LineNo();
        if (inner.find('\0') != std::string_view::npos) return Fail(LineNo(), kNulInKey);
        if (!ParseKeyName(inner, op.key, false))
            return Fail(LineNo(), Quoted(inner) + " does not start with a root key");
        if (remove && op.key.path.empty()) return Fail(LineNo(), "a root key cannot be deleted");
        if (!remove && !DepthAllowed(op.key)) return false;
        m_section = remove ? kDeleted : kOpen;
        m_content.ops.push_back(std::move(op));
        return true;
    }

    // Wine's files name the part of the registry their keys are relative to:
    // REGISTRY\\Machine, REGISTRY\\User\\.Default or the user's own
    // REGISTRY\\User\\<SID> (older files leave out "REGISTRY").
    bool WineRoot(std::string_view base) {
        std::string text;
        std::string_view quoted = base;
        std::string unescaped;
        for (std::size_t i = 0; i < quoted.size(); ++i) {
            if (quoted[i] == '\\' && i + 1 < quoted.size() && quoted[i + 1] == '\\') ++i;
            unescaped += quoted[i];
        }
        std::string_view rest = unescaped;
        if (StartsWithNoCase(rest, "REGISTRY\\")) rest.remove_prefix(9);
        else if (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
        if (SameName(rest, "Machine")) {
            m_wineBase = "HKEY_LOCAL_MACHINE";
        } else if (StartsWithNoCase(rest, "User\\")) {
            rest.remove_prefix(5);
            m_wineBase = SameName(rest, ".Default") ? "HKEY_USERS\\.Default" : "HKEY_CURRENT_USER";
        } else {
            return Fail(LineNo(), Quoted(base) + " is not a part of the registry this program knows");
        }
        return true;
    }

    // [path] with Wine's escapes, then the time it was last written.
    bool WineKeyLine(std::string_view line) {
        if (m_wineBase.empty()) return Fail(LineNo(), "a key before the line that says what keys are relative to");
        std::size_t close = std::string_view::npos;
        for (std::size_t i = 1; i < line.size() && close == std::string_view::npos; ++i) {
            if (line[i] == '\\') ++i;
            else if (line[i] == ']') close = i;
        }
        if (close == std::string_view::npos) return Fail(LineNo(), "a key line must end with ']'");
        // The path is written as a quoted string would be, without the quotes.
        // Wine leaves a quote in a key's name as it is.
        std::string quoted = "\"";
        for (std::size_t i = 1; i < close; ++i) {
            if (line[i] == '"') quoted += '\\';
            quoted += line[i];
            if (line[i] == '\\' && i + 1 < close) quoted += line[++i];
        }
        quoted += '"';
        std::string_view view = quoted;
        std::string path;
        if (!ReadWineQuoted(view, path) || path.empty() || path.front() == '\\')
            return Fail(LineNo(), "the key's path is not one Wine writes");
        if (path.find('\0') != std::string::npos) return Fail(LineNo(), kNulInKey);
        RegFileOp op;
        op.kind = RegFileOp::kKey;
        op.line = LineNo();
        if (!ParseKeyName(m_wineBase + "\\" + path, op.key, false))
            return Fail(LineNo(), Quoted(path) + " has an empty part (two backslashes in a row)");
        if (!DepthAllowed(op.key)) return false;
        m_section = kOpen;
        m_content.ops.push_back(std::move(op));
        return true;
    }

    bool ValueLine(std::string_view line) {
        if (m_section == kNone) return Fail(LineNo(), "a value before the first key line");
        if (m_section == kDeleted) return Fail(LineNo(), "a value in the section of a deleted key");
        RegFileOp op;
        op.kind = RegFileOp::kSetValue;
        op.line = LineNo();
        const bool wine = m_content.format == RegFileFormat::kWine;
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else if (!(wine ? ReadWineQuoted(line, op.value.name) : ReadQuoted(line, op.value.name))) {
            return Fail(LineNo(), "the value name has no closing quote");
        }
        if (op.value.name.find('\0') != std::string::npos)
            return Fail(LineNo(), "the value name holds a NUL character, which no registry call can name");
        line = TrimLeft(line);
        if (line.empty() || line.front() != '=') return Fail(LineNo(), "'=' expected after the value name");
        line = TrimLeft(line.substr(1));
        if (!Data(line, op)) return false;
        m_content.ops.push_back(std::move(op));
        return true;
    }

    bool Data(std::string_view data, RegFileOp& op) {
        RegValue& value = op.value;
        if (data == "-") {
            op.kind = RegFileOp::kDeleteValue;
            return true;
        }
        const bool wine = m_content.format == RegFileFormat::kWine;
        if (wine && StartsWithNoCase(data, "str(")) {
            // Text of another type: str(2) for REG_EXPAND_SZ, str(7) for REG_MULTI_SZ.
            const std::size_t close = data.find("):");
            if (close == std::string_view::npos || !ParseHexNumber(data.substr(4, close - 4), 8, value.type))
                return Fail(LineNo(), "str(N): needs a hex type number");
            data.remove_prefix(close + 2);
            if (data.empty() || data.front() != '"' || !ReadWineQuoted(data, value.data) || !Trim(data).empty())
                return Fail(LineNo(), "a string must end with a single closing quote");
            value.data += '\0';
            return true;
        }
        if (!data.empty() && data.front() == '"') {
            if (!(wine ? ReadWineQuoted(data, value.data) : ReadQuoted(data, value.data)) || !Trim(data).empty())
                return Fail(LineNo(), "a string must end with a single closing quote");
            // regedit ends the text there; write such data as hex(1): to keep it whole.
            if (!wine && value.data.find('\0') != std::string::npos)
                return Fail(LineNo(), "the text holds a NUL character (text with NULs is written as hex(1):)");
            value.type = REG_SZ;
            value.data += '\0';
            return true;
        }
        if (StartsWithNoCase(data, "dword:")) {
            DWORD number = 0;
            if (!ParseHexNumber(Trim(data.substr(6)), 8, number))
                return Fail(LineNo(), "dword: needs one to eight hex digits");
            value.type = REG_DWORD;
            for (int i = 0; i < 4; ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xff);
            return true;
        }
        if (StartsWithNoCase(data, "hex:")) {
            value.type = REG_BINARY;
            data.remove_prefix(4);
        } else if (StartsWithNoCase(data, "hex(")) {
            const std::size_t close = data.find("):");
            if (close == std::string_view::npos || !ParseHexNumber(data.substr(4, close - 4), 8, value.type))
                return Fail(LineNo(), "hex(N): needs a hex type number");
            data.remove_prefix(close + 2);
        } else {
            return Fail(LineNo(), "the data must be a quoted string, dword:, hex: or hex(N):, or '-'");
        }
        const std::size_t first = LineNo();
        if (!HexBytes(data, value.data)) return false;
        if (m_content.format != RegFileFormat::kRegedit4 && IsTextType(value.type)) {
            std::string text;
            if (!Utf16leToUtf8(value.data, text, nullptr, wine ? Conversion::kLenient : Conversion::kStrict))
                return Fail(first, "the text of hex(" + std::to_string(value.type) + ") is not valid UTF-16");
            value.data = std::move(text);
        }
        return true;
    }

    // Comma-separated bytes; a trailing backslash continues on the next line.
    bool HexBytes(std::string_view text, std::string& out) {
        for (;;) {
            text = Trim(text);
            const bool continued = !text.empty() && text.back() == '\\';
            if (continued) text.remove_suffix(1);
            std::size_t start = 0;
            while (start <= text.size()) {
                std::size_t comma = text.find(',', start);
                const bool last = comma == std::string_view::npos;
                if (last) comma = text.size();
                const std::string_view item = Trim(text.substr(start, comma - start));
                DWORD byte = 0;
                // A list may end in ',' only where a continuation follows:
                // otherwise the file was cut after the comma.
                if (item.empty() && last && !continued && start > 0)
                    return Fail(LineNo(), "the hex list ends with ','; the file may be cut short");
                if (item.empty() ? !last : !ParseHexNumber(item, 2, byte))
                    return Fail(LineNo(), Quoted(item) + " is not a hex byte");
                if (!item.empty()) out += static_cast<char>(byte);
                start = comma + 1;
            }
            if (!continued) return true;
            if (++m_index >= m_lines.size()) return Fail(m_index, "the file ends inside a continued line");
            text = m_lines[m_index];
        }
    }

    enum Section { kNone, kOpen, kDeleted };
    std::vector<std::string_view> m_lines;
    RegFileContent& m_content;
    std::string& m_error;
    std::size_t m_index = 0;
    Section m_section = kNone;
    std::string m_wineBase;  // the root (and key) Wine's keys are below
};

class CWriter {
public:
    CWriter(RegFileFormat format, std::string& error) : m_format(format), m_error(error) {}

    bool Key(const RegTree& node, const std::string& fullName) {
        if (!Printable(fullName, "the key " + fullName)) return false;
        m_text += '[';
        m_text += fullName;
        m_text += "]\n";
        for (const RegValue& v : node.values)
            if (!Value(v, fullName)) return false;
        m_text += '\n';
        for (const auto& sub : node.subkeys)
            if (!Key(*sub, fullName + '\\' + sub->name)) return false;
        return true;
    }

    // A section of a patch: [-KEY], or [KEY] with values deleted and set.
    bool Section(const RegPatchSection& section) {
        if (!Printable(section.key, "the key " + section.key)) return false;
        m_text += section.deleteKey ? "[-" : "[";
        m_text += section.key;
        m_text += "]\n";
        for (const std::string& name : section.deleteValues) {
            if (!Printable(name, "the value \"" + name + "\" of " + section.key)) return false;
            m_text += name.empty() ? std::string("@") : '"' + Escape(name) + '"';
            m_text += "=-\n";
        }
        for (const RegValue& v : section.setValues)
            if (!Value(v, section.key)) return false;
        m_text += '\n';
        return true;
    }

    // The value's line as it stands in the file, wrapped, "\n" line ends, UTF-8 text.
    bool Line(const RegValue& v, const std::string& keyName, std::string& line) {
        if (!Value(v, keyName)) return false;
        line = std::move(m_text);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return true;
    }

    bool Finish(std::string& bytes) {
        const std::string_view header = m_format == RegFileFormat::kVersion5 ? kVersion5Header : kRegedit4Header;
        std::string text;
        text.reserve(m_text.size() * 2);
        text += header;
        text += "\r\n\r\n";
        for (const char c : m_text) {
            if (c == '\n') text += '\r';
            text += c;
        }
        if (m_format == RegFileFormat::kRegedit4) {
            bytes = std::move(text);
            return true;
        }
        bytes = "\xff\xfe";
        std::string utf16;
        if (!Utf8ToUtf16le(text, utf16)) {
            m_error = "the text is not UTF-8";
            return false;
        }
        bytes += utf16;
        return true;
    }

private:
    // Names and key paths go into the file as they stand.
    bool Printable(std::string_view text, const std::string& what) {
        if (text.find_first_of("\r\n") != std::string_view::npos) {
            m_error = what + " has a line break in its name; a .reg file cannot hold it";
            return false;
        }
        if (m_format == RegFileFormat::kVersion5 && !IsUtf8(text)) {
            m_error = what + " has a name that is not UTF-8; write a REGEDIT4 file (/regedit4) to keep it";
            return false;
        }
        return true;
    }

    bool PlainString(const RegValue& v) const {
        if (v.type != REG_SZ || v.data.empty() || v.data.back() != '\0') return false;
        const std::string_view text(v.data.data(), v.data.size() - 1);
        if (text.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) return false;
        return m_format == RegFileFormat::kRegedit4 || IsUtf8(text);
    }

    bool Value(const RegValue& v, const std::string& keyName) {
        const std::string what = "the value \"" + v.name + "\" of " + keyName;
        if (!Printable(v.name, what)) return false;
        std::string line = v.name.empty() ? std::string("@") : '"' + Escape(v.name) + '"';
        line += '=';
        if (PlainString(v)) {
            line += '"';
            line += Escape(std::string_view(v.data.data(), v.data.size() - 1));
            line += '"';
        } else if (v.type == REG_DWORD && v.data.size() == 4) {
            line += "dword:";
            for (int i = 3; i >= 0; --i) {
                const auto b = static_cast<unsigned char>(v.data[static_cast<std::size_t>(i)]);
                line += kHex[b >> 4];
                line += kHex[b & 15];
            }
        } else {
            std::string converted;
            std::string_view bytes = v.data;
            if (m_format == RegFileFormat::kVersion5 && IsTextType(v.type)) {
                if (!Utf8ToUtf16le(v.data, converted)) {
                    m_error = what + " is not UTF-8 text; write a REGEDIT4 file (/regedit4) to keep it";
                    return false;
                }
                bytes = converted;
            }
            if (v.type == REG_BINARY) {
                line += "hex:";
            } else {
                char type[16];
                std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(v.type));
                line += type;
            }
            AppendWrapped(line, bytes);
        }
        m_text += line;
        m_text += '\n';
        return true;
    }

    // regedit's wrapping: no line passes 80 columns with its trailing
    // backslash; continuation lines are indented by two spaces.
    void AppendWrapped(std::string& line, std::string_view bytes) const {
        std::size_t column = Width(line, m_format);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (column > 76) {
                line += "\\\n  ";
                column = 2;
            }
            const auto b = static_cast<unsigned char>(bytes[i]);
            line += kHex[b >> 4];
            line += kHex[b & 15];
            column += 2;
            if (i + 1 < bytes.size()) {
                line += ',';
                ++column;
            }
        }
    }

    RegFileFormat m_format;
    std::string& m_error;
    std::string m_text;  // UTF-8 (or REGEDIT4's bytes), "\n" line ends
};

}  // namespace

bool ParseRegFile(std::string_view bytes, RegFileContent& content, std::string& error) {
    content = RegFileContent{};
    std::string decoded;
    std::string_view text = bytes;
    if (bytes.substr(0, 2) == "\xff\xfe") {
        if (!Utf16leToUtf8(bytes.substr(2), decoded)) {
            // The decoder stops at the fault: the lines before it are whole.
            std::size_t line = 1;
            for (const char c : decoded) line += c == '\n';
            error = "line " + std::to_string(line) + ": the file is not valid UTF-16 text";
            return false;
        }
        text = decoded;
    } else if (bytes.substr(0, 2) == "\xfe\xff") {
        error = "line 1: UTF-16 big-endian files are not supported; save the file as UTF-16LE (\"Unicode\")";
        return false;
    } else if (bytes.substr(0, 3) == "\xef\xbb\xbf") {
        text.remove_prefix(3);
    }
    // An export ends with a line break: without one, the file may have
    // been cut after its last line and cannot be told from a whole one.
    if (!text.empty() && text.back() != '\n') {
        std::size_t line = 1;
        for (const char c : text) line += c == '\n';
        error = "line " + std::to_string(line) +
                ": the file does not end with a line break, so it may be cut short (add one if it is whole)";
        return false;
    }
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    CParser parser(std::move(lines), content, error);
    if (parser.Run()) return true;
    content.ops.clear();
    return false;
}

bool WriteRegPatch(const std::vector<RegPatchSection>& sections, std::string& bytes, std::string& error,
                   RegFileFormat format) {
    CWriter writer(format, error);
    for (const RegPatchSection& section : sections)
        if (!writer.Section(section)) return false;
    return writer.Finish(bytes);
}

bool WriteRegValueLine(const RegValue& value, const std::string& keyName, std::string& line, std::string& error) {
    CWriter writer(RegFileFormat::kVersion5, error);
    return writer.Line(value, keyName, line);
}

bool WriteRegFile(const RegTree& tree, const std::string& fullName, RegFileFormat format, std::string& bytes,
                  std::string& error) {
    CWriter writer(format, error);
    return writer.Key(tree, fullName) && writer.Finish(bytes);
}

namespace {

// The size of a regular file an import may read; false with the reason.
bool ImportFileSize(const std::string& path, std::uintmax_t& size, std::string& reason) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path name = PathFromUtf8(path);
    const fs::file_status status = fs::status(name, ec);
    size = ec ? 0 : fs::is_regular_file(status) ? fs::file_size(name, ec) : 0;
    if (ec) reason = ec.message();
    else if (!fs::is_regular_file(status)) reason = "not a regular file";
    else if (size > kMaxImportFileBytes)
        reason = std::to_string(size) + " bytes is more than any registry export holds (at most 1 GiB is read)";
    return reason.empty();
}

}  // namespace

bool ReadImportFile(const std::string& path, std::string& bytes, std::string& reason) {
    std::uintmax_t size = 0;
    if (!ImportFileSize(path, size, reason)) return false;
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (in) {
        bytes.resize(static_cast<std::size_t>(size));
        in.read(bytes.data(), static_cast<std::streamsize>(size));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (in || (in.eof() && !in.bad())) return true;
    reason = std::error_code(errno, std::generic_category()).message();
    return false;
}

bool ReadRegFileBytes(const std::string& path, std::string& bytes, std::string& reason) {
    std::uintmax_t size = 0;
    if (!ImportFileSize(path, size, reason)) return false;
    // The first line before the whole file: a large file that is no export
    // is refused at once, not after a gigabyte is read.
    std::string start(256, '\0');
    {
        std::ifstream in(PathFromUtf8(path), std::ios::binary);
        in.read(start.data(), static_cast<std::streamsize>(start.size()));
        start.resize(static_cast<std::size_t>(in.gcount()));
    }
    std::string_view text = start;
    std::string decoded;
    if (text.substr(0, 2) == "\xff\xfe") {
        Utf16leToUtf8(text.substr(2, (text.size() - 2) & ~std::size_t{1}), decoded, nullptr, Conversion::kLenient);
        text = decoded;
    } else if (text.substr(0, 3) == "\xef\xbb\xbf") {
        text.remove_prefix(3);
    }
    const std::size_t end = text.find('\n');
    std::string_view first = text.substr(0, end);
    if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
    first = Trim(first);
    const bool known = first == kVersion5Header || first == kRegedit4Header || first == kWineHeader;
    if (start.substr(0, 2) != "\xfe\xff" && (end == std::string_view::npos || !known)) {
        reason = std::string("line 1: ") + kNotARegistryFile;
        return false;
    }
    return ReadImportFile(path, bytes, reason);
}

}  // namespace qv
