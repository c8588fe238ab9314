#include "tests/support/registry_builder.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "model/open_key.h"
#include "registry/registry_batch.h"

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

namespace {

// SplitMix64: small, fast and the same everywhere.
class CRandom {
public:
    explicit CRandom(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }

private:
    std::uint64_t m_state;
};

// Letters only, distinct without regard to case, so word + number is unique.
const char* const kWords[] = {"Alpha", "bravo", "Charlie", "delta", "Echo", "foxtrot", "Golf", "hotel"};

ValueSpec MakeValue(CRandom& random, std::size_t ordinal) {
    ValueSpec value;
    value.name = std::string(kWords[random.Below(8)]) + "Value" + std::to_string(ordinal);
    const std::size_t kind = random.Below(20);
    if (kind < 8 || kind == 19) {
        value.type = kind == 19 ? REG_EXPAND_SZ : REG_SZ;
        const std::size_t length = 1 + random.Below(40);
        for (std::size_t i = 0; i < length; ++i) value.data += static_cast<char>('a' + random.Below(26));
        value.data += '\0';
    } else if (kind < 12 || kind == 18) {
        value.type = kind == 18 ? REG_QWORD : REG_DWORD;
        const std::uint64_t number = random.Next();
        for (int i = 0; i < (kind == 18 ? 8 : 4); ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xff);
    } else if (kind < 16) {
        value.type = REG_BINARY;
        const std::size_t length = random.Below(97) == 0 ? 300 + random.Below(4000) : random.Below(64);
        for (std::size_t i = 0; i < length; ++i) value.data += static_cast<char>(random.Next() & 0xff);
    } else {
        value.type = REG_MULTI_SZ;
        for (std::size_t item = 0, items = random.Below(4); item < items; ++item) {
            value.data += kWords[random.Below(8)];
            value.data += '\0';
        }
        value.data += '\0';
    }
    return value;
}

}  // namespace

LONG GenerateSyntheticTree(IRegistry& registry, const SyntheticTreeOptions& options, SyntheticTreeStats* stats) {
    if (options.keys > 0 && (options.depth == 0 || options.fanOut == 0)) return ERROR_INVALID_PARAMETER;

    // The shape: node 0 is root\path, the others its keys, breadth first.
    const std::size_t count = options.keys + 1;
    std::vector<std::size_t> level(count, 0);
    std::vector<std::vector<std::size_t>> children(count);
    std::vector<std::size_t> parents{0};  // nodes that may take children, in order
    std::size_t cursor = 0, overflowFrom = 0, overflow = 0;
    bool overflowing = false;
    for (std::size_t node = 1; node < count; ++node) {
        while (!overflowing && children[parents[cursor]].size() >= options.fanOut) {
            if (++cursor == parents.size()) {
                // Full down to the last level: the keys just above it take the rest.
                overflowing = true;
                overflowFrom = parents.size();
                while (overflowFrom > 0 && level[parents[overflowFrom - 1]] == level[parents.back()]) --overflowFrom;
            }
        }
        const std::size_t parent =
            overflowing ? parents[overflowFrom + overflow++ % (parents.size() - overflowFrom)] : parents[cursor];
        level[node] = level[parent] + 1;
        children[parent].push_back(node);
        if (level[node] < options.depth && !overflowing) parents.push_back(node);
    }

    CRandom random(options.seed);
    std::vector<std::size_t> valuesOf(count, 0);
    for (std::size_t v = 0; v < options.values; ++v) ++valuesOf[options.keys == 0 ? 0 : 1 + v % options.keys];

    SyntheticTreeStats made;
    auto* batch = dynamic_cast<IRegistryBatch*>(&registry);
    std::size_t callsInBatch = 0;
    constexpr std::size_t kCallsPerBatch = 50000;
    if (batch != nullptr) {
        if (const LONG status = batch->BeginBatch(); status != ERROR_SUCCESS) return status;
    }
    const auto counted = [&](LONG status) {
        if (status == ERROR_SUCCESS && batch != nullptr && ++callsInBatch >= kCallsPerBatch) {
            callsInBatch = 0;
            status = batch->CommitBatch();
            if (status == ERROR_SUCCESS) status = batch->BeginBatch();
        }
        return status;
    };

    // Depth first, keeping only the handles of the current branch open.
    struct Frame {
        std::size_t node;
        HKEY key;
        std::size_t next;
    };
    std::vector<Frame> stack;
    LONG status = ERROR_SUCCESS;
    const auto createNode = [&](HKEY parent, const std::string& name, std::size_t node) {
        HKEY key = nullptr;
        status = counted(registry.RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
        if (status != ERROR_SUCCESS) return;
        stack.push_back({node, key, 0});
        made.maxDepth = std::max(made.maxDepth, level[node]);
        for (std::size_t v = 0; v < valuesOf[node] && status == ERROR_SUCCESS; ++v) {
            const ValueSpec value = MakeValue(random, v);
            status = counted(registry.RegSetValueExA(key, value.name.c_str(), 0, value.type,
                                                     reinterpret_cast<const BYTE*>(value.data.data()),
                                                     static_cast<DWORD>(value.data.size())));
            if (status == ERROR_SUCCESS) {
                ++made.values;
                made.dataBytes += value.data.size();
            }
        }
    };
    createNode(options.root, options.path, 0);
    while (!stack.empty() && status == ERROR_SUCCESS) {
        Frame& top = stack.back();
        if (top.next == children[top.node].size()) {
            registry.RegCloseKey(top.key);
            stack.pop_back();
            continue;
        }
        const std::size_t child = children[top.node][top.next];
        const std::string name = kWords[random.Below(8)] + std::to_string(top.next++);
        createNode(top.key, name, child);
        if (status == ERROR_SUCCESS) ++made.keys;
    }
    for (const Frame& frame : stack) registry.RegCloseKey(frame.key);
    if (batch != nullptr) {
        if (status == ERROR_SUCCESS) status = batch->CommitBatch();
        else batch->RollbackBatch();
    }
    if (stats != nullptr) *stats = made;
    return status;
}

}  // namespace qv
