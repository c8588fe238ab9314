#include "compare/data_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "compare/diff_output.h"
#include "files/reg_file.h"

namespace qv {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string Text(std::string_view text) { return text.empty() ? "(empty string)" : std::string(text); }

std::string Number(std::uint64_t n, int digits) {
    char text[48];
    std::snprintf(text, sizeof text, "0x%0*llx (%llu)", digits, static_cast<unsigned long long>(n),
                  static_cast<unsigned long long>(n));
    return text;
}

std::uint64_t LittleEndian(std::string_view bytes) {
    std::uint64_t n = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) n = (n << 8) | static_cast<unsigned char>(bytes[i]);
    return n;
}

// The size a number type's data must have; 0 for other types.
std::size_t NumberSize(DWORD type) {
    switch (type) {
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: return 4;
    case REG_QWORD: return 8;
    default: return 0;
    }
}

std::string Counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

// The first byte at which `a` and `b` differ; npos when they are equal.
std::size_t FirstDifference(std::string_view a, std::string_view b) {
    const auto [ai, bi] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (ai == a.end() && bi == b.end()) return std::string_view::npos;
    return static_cast<std::size_t>(ai - a.begin());
}

}  // namespace

EnvironmentLookup ProcessEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
}

std::string ExpandEnvironment(std::string_view text, const EnvironmentLookup& env) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('%', at);
        const std::size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
        if (close == std::string_view::npos) break;
        out.append(text, at, open - at);
        const std::string name(text.substr(open + 1, close - open - 1));
        const std::optional<std::string> value = name.empty() ? std::nullopt : env(name);
        if (value) {
            out += *value;
            at = close + 1;
        } else {
            // Not a variable: its closing % may open the next one.
            out.append(text, open, close - open);
            at = close;
        }
    }
    out.append(text.substr(std::min(at, text.size())));
    return out;
}

std::string HexDump(std::string_view data, std::size_t mark) {
    int width = 4;
    while (width < 16 && (data.size() - 1) >> (4 * width) != 0 && !data.empty()) ++width;
    std::string out;
    for (std::size_t start = 0; start < data.size(); start += 16) {
        // The offset in `width` hex digits (at most 16: a size_t's).
        std::string line;
        for (int digit = width - 1; digit >= 0; --digit) line += "0123456789ABCDEF"[(start >> (4 * digit)) & 15];
        line += ' ';
        std::string chars;
        for (std::size_t i = 0; i < 16; ++i) {
            line += i == 8 ? "  " : " ";
            if (start + i == mark && mark < data.size()) line.back() = '[';
            if (start + i >= data.size()) {
                line += "  ";
                continue;
            }
            const auto b = static_cast<unsigned char>(data[start + i]);
            line += kHex[b >> 4];
            line += kHex[b & 15];
            chars += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
        }
        line += "  ";
        // The bracket closes in the space after the marked byte.
        if (mark >= start && mark < start + 16 && mark < data.size()) {
            const std::size_t i = mark - start;
            line[static_cast<std::size_t>(width) + 1 + 3 * i + (i >= 8 ? 1 : 0) + 3] = ']';
        }
        if (!out.empty()) out += '\n';
        out += line + chars;
    }
    return out;
}

bool ShownAsDump(DWORD type, std::size_t size) {
    if (size == 0 || IsTextType(type)) return false;
    const std::size_t number = NumberSize(type);
    return number == 0 || number != size;
}

std::string ReadableData(DWORD type, std::string_view data, const EnvironmentLookup& env) {
    if (data.empty()) return "(no data)";
    switch (type) {
    case REG_SZ:
    case REG_LINK: return Text(UpToZero(data));
    case REG_EXPAND_SZ: {
        const std::string_view text = UpToZero(data);
        const std::string expanded = ExpandEnvironment(text, env);
        if (expanded == text) return Text(text);
        return std::string(text) + "\nExpanded on this computer: " + expanded;
    }
    case REG_MULTI_SZ: {
        std::string out;
        for (const std::string_view item : MultiStrings(data)) {
            if (!out.empty()) out += '\n';
            out += item;
        }
        return out.empty() ? "(no strings)" : out;
    }
    default: break;
    }
    const std::size_t number = NumberSize(type);
    if (number == data.size()) {
        if (type == REG_DWORD_BIG_ENDIAN) return Number(LittleEndian(std::string(data.rbegin(), data.rend())), 8);
        return Number(LittleEndian(data), static_cast<int>(2 * number));
    }
    if (number != 0)
        return "(" + Counted(data.size(), "byte", "bytes") + ", not the " + std::to_string(number) + " of a " +
               TypeName(type) + ")\n" + HexDump(data);
    return HexDump(data);
}

std::string TypeAndSize(DWORD type, std::size_t size) {
    std::string name = TypeName(type);
    if (name == "REG_UNKNOWN") {
        char code[24];
        std::snprintf(code, sizeof code, " (0x%X)", static_cast<unsigned>(type));
        name += code;
    }
    return name + ", " + Counted(size, "byte", "bytes");
}

std::string DataTip(DWORD type, std::string_view data, const EnvironmentLookup& env, std::size_t limit) {
    constexpr std::size_t kLines = 32, kLineBytes = 100;
    const std::string whole = ReadableData(type, data.substr(0, limit), env);
    bool cut = data.size() > limit;
    std::string out;
    std::size_t lines = 0;
    for (std::size_t at = 0; at <= whole.size();) {
        std::size_t end = whole.find('\n', at);
        if (end == std::string::npos) end = whole.size();
        if (lines == kLines) {
            cut = true;
            break;
        }
        const std::string_view line(whole.data() + at, end - at);
        const std::size_t keep = Utf8SafeLength(line, kLineBytes);
        if (lines++ > 0) out += '\n';
        out += line.substr(0, keep);
        if (keep < line.size()) out += "...";
        at = end + 1;
    }
    if (cut) out += "\n... (" + Counted(data.size(), "byte", "bytes") + " in all)";
    return out;
}

bool ValueRegLine(const ValueEntry& value, const std::string& keyName, std::string& line, std::string& error) {
    return WriteRegValueLine({value.name, value.type, value.data}, keyName, line, error);
}

std::string BothSidesText(const ValueEntry* master, const ValueEntry* slave, const EnvironmentLookup& env) {
    std::size_t mark = std::string_view::npos;
    std::string out;
    if (master != nullptr && slave != nullptr && ShownAsDump(master->type, master->data.size()) &&
        ShownAsDump(slave->type, slave->data.size())) {
        mark = FirstDifference(master->data, slave->data);
        if (mark != std::string_view::npos) {
            char text[128];
            std::snprintf(text, sizeof text, "The data first differ at byte 0x%zX (%zu), in brackets.\n\n", mark, mark);
            out += text;
        }
    }
    const auto side = [&](const char* heading, const ValueEntry* v) {
        out += heading;
        if (v == nullptr) {
            out += "(none)";
            return;
        }
        out += TypeAndSize(v->type, v->data.size()) + '\n';
        std::string text = ReadableData(v->type, v->data, env);
        if (mark != std::string_view::npos) {
            // The same dump with the byte marked; a number of a wrong size keeps its note above it.
            const std::size_t note = NumberSize(v->type) != 0 ? text.find('\n') + 1 : 0;
            text = text.substr(0, note) + HexDump(v->data, mark);
        }
        out += text;
    };
    side("Master: ", master);
    out += "\n\n";
    side("Slave: ", slave);
    return out;
}

}  // namespace qv
