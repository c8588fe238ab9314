#include "tests/support/registry_builder.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "model/open_key.h"

namespace qv {

namespace {

struct ValueSpec {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

struct KeySpec {
    HKEY root = nullptr;  // null: below the base key
    std::string path;
    std::vector<ValueSpec> values;
    std::size_t line = 0;
};

struct RootName {
    const char* name;
    const char* shortName;
    HKEY key;
};

const RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", "HKU", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG},
};

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Reads a quoted string at the start of `text`, leaving `text` after it.
bool ReadQuoted(std::string_view& text, std::string& out) {
    if (text.empty() || text.front() != '"') return false;
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

// The value of a hexadecimal digit, or -1.
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseNumber(std::string_view text, int bytes, std::string& out) {
    text = Trim(text);
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    std::uint64_t value = 0;
    const std::uint64_t limit = bytes == 4 ? 0xffffffffull : ~0ull;
    for (const char c : text) {
        const int d = HexDigit(c);
        if (d < 0 || static_cast<unsigned>(d) >= base) return false;
        const auto digit = static_cast<unsigned>(d);
        if (value > (limit - digit) / base) return false;
        value = value * base + digit;
    }
    out.clear();
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
    return true;
}

bool ParseHex(std::string_view text, std::string& out) {
    out.clear();
    int digits = 0;
    unsigned byte = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == ',') {
            if (digits != 0) {
                out += static_cast<char>(byte);
                digits = 0, byte = 0;
            }
            continue;
        }
        const int digit = HexDigit(c);
        if (digit < 0 || ++digits > 2) return false;
        byte = byte * 16 + static_cast<unsigned>(digit);
    }
    if (digits != 0) out += static_cast<char>(byte);
    return true;
}

// "TYPE:DATA" into a value; a reason on failure.
std::string ParseData(std::string_view text, ValueSpec& value) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return "expected TYPE:DATA";
    const std::string_view type = Trim(text.substr(0, colon));
    const std::string_view data = text.substr(colon + 1);
    if (type == "sz" || type == "expand_sz") {
        value.type = type == "sz" ? REG_SZ : REG_EXPAND_SZ;
        value.data.assign(data);
        value.data += '\0';
        return {};
    }
    if (type == "dword" || type == "qword") {
        value.type = type == "dword" ? REG_DWORD : REG_QWORD;
        return ParseNumber(data, type == "dword" ? 4 : 8, value.data) ? "" : "bad number";
    }
    if (type == "hex" || type == "binary") {
        value.type = REG_BINARY;
        return ParseHex(data, value.data) ? "" : "bad hex bytes";
    }
    if (type.substr(0, 4) == "hex(" && type.size() > 5 && type.back() == ')') {
        std::string number;
        if (!ParseNumber(type.substr(4, type.size() - 5), 4, number)) return "bad type number";
        std::memcpy(&value.type, number.data(), 4);
        return ParseHex(data, value.data) ? "" : "bad hex bytes";
    }
    if (type == "multi_sz") {
        value.type = REG_MULTI_SZ;
        value.data.clear();
        std::string_view rest = Trim(data);
        std::string item;
        while (!rest.empty()) {
            if (!ReadQuoted(rest, item)) return "multi_sz items must be quoted";
            value.data += item;
            value.data += '\0';
            rest = Trim(rest);
            if (rest.empty()) break;
            if (rest.front() != ',') return "expected ',' between multi_sz items";
            rest = Trim(rest.substr(1));
        }
        value.data += '\0';
        return {};
    }
    return "unknown type '" + std::string(type) + "'";
}

std::string ParseValueLine(std::string_view line, ValueSpec& value) {
    line = Trim(line);
    if (line.front() == '"') {
        if (!ReadQuoted(line, value.name)) return "unterminated quoted name";
        line = Trim(line);
        if (line.empty() || line.front() != '=') return "expected '=' after the name";
    } else {
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) return "expected NAME = TYPE:DATA";
        value.name.assign(Trim(line.substr(0, equals)));
        if (value.name == "@") value.name.clear();
        else if (value.name.empty()) return "empty value name (use @ for the default value)";
        line.remove_prefix(equals);
    }
    line.remove_prefix(1);  // '='
    return ParseData(Trim(line), value);
}

std::string ParseKeyLine(std::string_view line, KeySpec& key) {
    line = Trim(line);
    const std::size_t cut = line.find('\\');
    const std::string_view first = line.substr(0, cut);
    for (const RootName& root : kRoots) {
        if (first == root.name || first == root.shortName) {
            key.root = root.key;
            key.path.assign(cut == std::string_view::npos ? std::string_view() : line.substr(cut + 1));
            return {};
        }
    }
    key.root = nullptr;
    key.path.assign(line);
    return {};
}

// Reads the text form. False, with "line N: reason" in `*error`, on a
// mistake; nothing is kept from a text with a mistake.
bool ParseRegistryText(std::string_view text, std::vector<KeySpec>& keys, std::string* error) {
    std::vector<KeySpec> parsed;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view content = Trim(line);
        if (content.empty() || content.front() == '#' || content.front() == ';') continue;
        std::string reason;
        if (line.front() == ' ' || line.front() == '\t') {
            if (parsed.empty()) reason = "a value before any key";
            else {
                ValueSpec value;
                reason = ParseValueLine(content, value);
                if (reason.empty()) parsed.back().values.push_back(std::move(value));
            }
        } else {
            KeySpec key;
            key.line = number;
            reason = ParseKeyLine(content, key);
            if (reason.empty()) parsed.push_back(std::move(key));
        }
        if (!reason.empty()) {
            if (error != nullptr) *error = "line " + std::to_string(number) + ": " + reason;
            return false;
        }
    }
    keys = std::move(parsed);
    return true;
}

}  // namespace

LONG BuildRegistry(IRegistry& registry, std::string_view text, HKEY base, std::string* error) {
    std::vector<KeySpec> keys;
    if (!ParseRegistryText(text, keys, error)) return ERROR_INVALID_PARAMETER;
    for (const KeySpec& spec : keys) {
        const auto fail = [&](LONG status, const std::string& what) {
            if (error != nullptr)
                *error = "line " + std::to_string(spec.line) + ": " + what + " failed with " + std::to_string(status);
            return status;
        };
        HKEY parent = spec.root != nullptr ? spec.root : base;
        if (parent == nullptr) return fail(ERROR_INVALID_HANDLE, "a path with no root and no base key");
        CRegHandle key(registry);
        const LONG status = registry.RegCreateKeyExA(parent, spec.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                     KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr);
        if (status != ERROR_SUCCESS) return fail(status, "creating " + spec.path);
        for (const ValueSpec& value : spec.values) {
            const LONG set = registry.RegSetValueExA(key.Get(), value.name.c_str(), 0, value.type,
                                                     reinterpret_cast<const BYTE*>(value.data.data()),
                                                     static_cast<DWORD>(value.data.size()));
            if (set != ERROR_SUCCESS) return fail(set, "setting " + value.name);
        }
        // Roots come back as themselves; closing them is harmless.
    }
    return ERROR_SUCCESS;
}

}  // namespace qv
