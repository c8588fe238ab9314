#include "files/wine_reg_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <unordered_set>

#include "model/key_node.h"
#include "model/open_key.h"
#include "model/text_encoding.h"

namespace qv {

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kTicks1601To1970 = 116444736000000000;

std::string_view WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

std::string_view Trimmed(std::string_view line) {
    line = WithoutLineEnd(line);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    return line;
}

std::string FoldPath(std::string_view path) {
    std::string folded;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (!folded.empty() || start != 0) folded += '\\';
        folded += FoldNameAnyScript(path.substr(start, end - start));
        start = end + 1;
    }
    return folded;
}

// Text as Wine's server writes it: printable ASCII as it is (a backslash and
// the characters in `escape` after a backslash), control characters as C or
// octal escapes, everything else as \x and its UTF-16 unit; four hex digits
// where a hex digit follows, so a reader does not run on into it.
void AppendEscaped(std::string& out, const std::u16string& units, const char* escape) {
    static constexpr char kEscapes[] = ".......abtnvfr.............e....";
    char buffer[16];
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        const bool more = i + 1 < units.size();
        const char16_t next = more ? units[i + 1] : 0;
        if (c > 127) {
            const bool hexNext = more && next < 128 && std::isxdigit(static_cast<unsigned char>(next));
            std::snprintf(buffer, sizeof buffer, hexNext ? "\\x%04x" : "\\x%x", static_cast<unsigned>(c));
            out += buffer;
        } else if (c < 32) {
            if (kEscapes[c] != '.') {
                out += '\\';
                out += kEscapes[c];
            } else {
                const bool octalNext = more && next >= '0' && next <= '7';
                std::snprintf(buffer, sizeof buffer, octalNext ? "\\%03o" : "\\%o", static_cast<unsigned>(c));
                out += buffer;
            }
        } else {
            if (c == '\\' || c == static_cast<char16_t>(escape[0]) || c == static_cast<char16_t>(escape[1]))
                out += '\\';
            out += static_cast<char>(c);
        }
    }
}

std::u16string Units(std::string_view utf8) {
    std::string bytes;
    Utf8ToUtf16le(utf8, bytes, nullptr, Conversion::kLenient);
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return units;
}

std::string EscapedPath(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (start != 0) out += "\\\\";
        AppendEscaped(out, Units(path.substr(start, end - start)), "[]");
        start = end + 1;
    }
    return out;
}

std::string TimeLine(std::uint64_t now, const std::string& newline) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "#time=%x%08x", static_cast<unsigned>(now >> 32),
                  static_cast<unsigned>(now & 0xffffffffu));
    return buffer + newline;
}

std::string Seconds(std::uint64_t now) {
    return std::to_string(now > kTicks1601To1970 ? (now - kTicks1601To1970) / kTicksPerSecond : 0);
}

// The key line of a changed key: its name as it stood, the time renewed.
std::string RestampedKeyLine(const std::string& keyLine, std::uint64_t now) {
    std::size_t close = std::string::npos;
    for (std::size_t i = 1; i < keyLine.size() && close == std::string::npos; ++i) {
        if (keyLine[i] == '\\') ++i;
        else if (keyLine[i] == ']') close = i;
    }
    if (close == std::string::npos) return keyLine;
    const std::string_view ending(keyLine.data() + WithoutLineEnd(keyLine).size(),
                                  keyLine.size() - WithoutLineEnd(keyLine).size());
    return keyLine.substr(0, close + 1) + ' ' + Seconds(now) + std::string(ending);
}

bool SameValues(const KeyNode& node, const std::vector<RegValue>& values) {
    if (node.values.size() != values.size()) return false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const ValueEntry& v = *node.values[i];
        if (v.name != values[i].name || v.type != values[i].type || v.data != values[i].data) return false;
    }
    return true;
}

const ValueEntry* FindValue(const KeyNode& node, const std::string& folded) {
    for (const auto& v : node.values)
        if (FoldNameAnyScript(v->name) == folded) return v.get();
    return nullptr;
}

}  // namespace

std::string WineValueLine(const RegValue& value, const std::string& newline) {
    std::string line;
    if (value.name.empty()) {
        line = "@=";
    } else {
        line = "\"";
        AppendEscaped(line, Units(value.name), "\"\"");
        line += "\"=";
    }
    std::string bytes;
    std::u16string text;
    if (IsTextType(value.type)) {
        text = Units(value.data);
        for (const char16_t unit : text) {
            bytes += static_cast<char>(unit & 0xff);
            bytes += static_cast<char>(unit >> 8);
        }
    } else {
        bytes = value.data;
    }
    const bool stringType = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    if (stringType && !text.empty() && text.back() == u'\0') {
        // The terminating zero is implied; zeros inside stay as \0.
        if (value.type != REG_SZ) line += value.type == REG_EXPAND_SZ ? "str(2):" : "str(7):";
        line += '"';
        AppendEscaped(line, text.substr(0, text.size() - 1), "\"\"");
        return line + '"' + newline;
    }
    if (value.type == REG_DWORD && bytes.size() == 4) {
        char number[16];
        std::uint32_t dw = 0;
        for (int i = 3; i >= 0; --i) dw = dw << 8 | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
        std::snprintf(number, sizeof number, "dword:%08x", static_cast<unsigned>(dw));
        return line + number + newline;
    }
    char type[24];
    if (value.type == REG_BINARY) std::snprintf(type, sizeof type, "hex:");
    else std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
    line += type;
    // Wine's wrapping: its count starts with the name's escaped length and
    // breaks after a comma past column 76.
    std::size_t count = line.size();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
        line += hex;
        count += 2;
        if (i + 1 < bytes.size()) {
            line += ',';
            if (++count > 76) {
                line += "\\" + newline + "  ";
                count = 2;
            }
        }
    }
    return line + newline;
}

bool ReadWineRegText(std::string_view bytes, WineRegText& text, std::string& error) {
    text = WineRegText{};
    if (bytes.substr(0, 23) != "WINE REGISTRY Version 2") {
        error = "line 1: not a Wine registry file (\"WINE REGISTRY Version 2\")";
        return false;
    }
    RegFileContent content;
    if (!ParseRegFile(bytes, content, error)) return false;
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        end = end == std::string_view::npos ? bytes.size() : end + 1;
        lines.push_back(bytes.substr(start, end - start));
        start = end;
    }
    if (!lines.empty() && lines[0].size() >= 2 && lines[0][lines[0].size() - 2] == '\r') text.newline = "\r\n";

    std::size_t next = 0;  // the next line not yet taken, 0-based
    const auto takeOthers = [&](std::size_t until, WineRegText::Block* block) {
        for (; next < until && next < lines.size(); ++next) {
            if (block == nullptr) text.header += lines[next];
            else block->lines.push_back({std::string(lines[next]), false, false, false, {}});
        }
    };
    // Where each value name was set while its key did not hold it: where a
    // reader puts it.
    std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> firstLine;
    WineRegText::Block* block = nullptr;
    std::string folded;
    for (const RegFileOp& op : content.ops) {
        const std::size_t at = op.line - 1;
        takeOthers(at, block);
        if (op.kind == RegFileOp::kKey) {
            if (text.root == nullptr) {
                text.root = op.key.root;
                text.basePath = op.key.root == HKEY_USERS ? ".Default" : "";
            }
            std::string path = op.key.path;
            if (!text.basePath.empty()) path.erase(0, std::min(path.size(), text.basePath.size() + 1));
            text.blocks.push_back({path, FoldPath(path), std::string(lines[at]), {}});
            block = &text.blocks.back();
            folded = block->folded;
            text.loaded.try_emplace(folded);
            next = at + 1;
            continue;
        }
        // A value and the lines its hex data continues on.
        std::size_t end = at + 1;
        while (end < lines.size() && !Trimmed(lines[end - 1]).empty() && Trimmed(lines[end - 1]).back() == '\\') ++end;
        WineRegText::Line line;
        for (std::size_t i = at; i < end; ++i) line.raw += lines[i];
        next = end;
        std::vector<RegValue>& values = text.loaded[folded];
        const std::string name = FoldNameAnyScript(op.value.name);
        const auto same = std::find_if(values.begin(), values.end(),
                                       [&](const RegValue& v) { return FoldNameAnyScript(v.name) == name; });
        if (op.kind == RegFileOp::kDeleteValue) {
            if (same != values.end()) values.erase(same);
            firstLine.erase(folded + '\n' + name);
            line.deletes = true;
            line.value = op.value;
            block->lines.push_back(std::move(line));
            continue;
        }
        if (same != values.end()) {
            same->type = op.value.type;
            same->data = op.value.data;
        } else {
            values.push_back(op.value);
            firstLine[folded + '\n' + name] = {static_cast<std::size_t>(block - text.blocks.data()), block->lines.size()};
        }
        line.isValue = true;
        line.value = op.value;
        block->lines.push_back(std::move(line));
    }
    takeOthers(lines.size(), block);
    for (const auto& [key, where] : firstLine) text.blocks[where.first].lines[where.second].first = true;
    if (text.root == nullptr) {
        // No key: the header alone says where the file belongs.
        const std::string folded = FoldNameAnyScript(text.header);
        text.root = folded.find("machine") != std::string::npos ? HKEY_LOCAL_MACHINE
                    : folded.find(".default") != std::string::npos ? HKEY_USERS
                                                                    : HKEY_CURRENT_USER;
        if (text.root == HKEY_USERS) text.basePath = ".Default";
    }
    return true;
}

bool BuildWineKeys(const WineRegText& text, KeyNode& base, std::string& error) {
    std::unordered_map<std::string, KeyNode*> made{{std::string(), &base}};
    for (const WineRegText::Block& block : text.blocks) {
        std::vector<std::string_view> parts;
        if (SplitKeyPath(block.path.c_str(), parts, NameLimit::kUtf16Characters) != ERROR_SUCCESS) {
            error = "the key " + block.path + " has a name longer than a registry allows";
            return false;
        }
        KeyNode* node = &base;
        std::string folded;
        for (const std::string_view part : parts) {
            if (!folded.empty()) folded += '\\';
            folded += FoldNameAnyScript(part);
            KeyNode*& child = made[folded];
            if (child == nullptr) child = node->AppendSubkey(std::make_unique<KeyNode>(std::string(part)));
            node = child;
        }
        for (const WineRegText::Line& line : block.lines) {
            if (!line.isValue && !line.deletes) continue;
            const std::string name = FoldNameAnyScript(line.value.name);
            const auto same = std::find_if(node->values.begin(), node->values.end(), [&](const auto& v) {
                return FoldNameAnyScript(v->name) == name;
            });
            if (line.deletes) {
                if (same != node->values.end()) node->values.erase(same);
            } else if (same != node->values.end()) {
                (*same)->type = line.value.type;
                (*same)->data = line.value.data;
            } else {
                node->AppendValue(std::make_unique<ValueEntry>(line.value.name, line.value.type, line.value.data));
            }
        }
    }
    return true;
}

bool RenderWineRegText(const WineRegText& text, const KeyNode& base, std::uint64_t now, std::string& bytes,
                       std::string& error) {
    if (!base.values.empty()) {
        error = "Wine's registry files hold no values on the key they are relative to";
        return false;
    }
    // The keys there are now, in tree order, by folded path; without recursion.
    struct Key {
        const KeyNode* node;
        std::string path;
        std::string folded;
    };
    std::vector<Key> keys;
    std::unordered_map<std::string, std::size_t> byFolded;
    std::vector<Key> pending{{&base, std::string(), std::string()}};
    while (!pending.empty()) {
        Key key = std::move(pending.back());
        pending.pop_back();
        for (auto sub = key.node->subkeys.rbegin(); sub != key.node->subkeys.rend(); ++sub) {
            const std::string& name = (*sub)->name;
            pending.push_back({sub->get(), key.path.empty() ? name : key.path + '\\' + name,
                               key.folded.empty() ? FoldNameAnyScript(name)
                                                  : key.folded + '\\' + FoldNameAnyScript(name)});
        }
        if (key.node != &base) {
            byFolded.emplace(key.folded, keys.size());
            keys.push_back(std::move(key));
        }
    }

    bytes = text.header;
    std::unordered_set<std::string> withBlock;
    std::unordered_map<std::string, std::size_t> lastBlock;  // of each key, where its new values go
    for (std::size_t i = 0; i < text.blocks.size(); ++i) lastBlock[text.blocks[i].folded] = i;
    for (const WineRegText::Block& block : text.blocks) {
        const auto found = byFolded.find(block.folded);
        if (found == byFolded.end()) continue;  // deleted
        const KeyNode& node = *keys[found->second].node;
        withBlock.insert(block.folded);
        const bool last = &block == &text.blocks[lastBlock[block.folded]];
        const auto loaded = text.loaded.find(block.folded);
        if (SameValues(node, loaded->second)) {
            bytes += block.keyLine;
            for (const WineRegText::Line& line : block.lines) bytes += line.raw;
            continue;
        }
        bytes += RestampedKeyLine(block.keyLine, now);
        // Values the file did not have go at the end of the key's last block,
        // where a reader puts them after the others.
        const auto appendNew = [&] {
            for (const auto& v : node.values) {
                const std::string name = FoldNameAnyScript(v->name);
                if (std::none_of(loaded->second.begin(), loaded->second.end(),
                                 [&](const RegValue& old) { return FoldNameAnyScript(old.name) == name; }))
                    bytes += WineValueLine({v->name, v->type, v->data}, text.newline);
            }
        };
        // Blank lines at the end of the block stay after the values added.
        std::size_t body = block.lines.size();
        while (body > 0 && !block.lines[body - 1].isValue && Trimmed(block.lines[body - 1].raw).empty()) --body;
        for (std::size_t i = 0; i < block.lines.size(); ++i) {
            const WineRegText::Line& line = block.lines[i];
            if (i == body && last) appendNew();
            if (line.deletes) continue;  // the lines written say all the key holds
            if (!line.isValue) {
                bytes += Trimmed(line.raw).substr(0, 6) == "#time=" ? TimeLine(now, text.newline) : line.raw;
                continue;
            }
            if (!line.first) continue;  // written where the value first stands
            const ValueEntry* held = FindValue(node, FoldNameAnyScript(line.value.name));
            if (held == nullptr) continue;  // deleted
            const RegValue current{held->name, held->type, held->data};
            bytes += current == line.value ? line.raw : WineValueLine(current, text.newline);
        }
        if (body == block.lines.size() && last) appendNew();
    }
    // New keys at the end, as Wine writes a key: those with values or no
    // subkeys (the others are made on the way to their subkeys).
    for (const Key& key : keys) {
        if (withBlock.count(key.folded) != 0) continue;
        if (key.node->values.empty() && !key.node->subkeys.empty()) continue;
        const std::string blank = text.newline + text.newline;
        if (bytes.size() < blank.size() || bytes.compare(bytes.size() - blank.size(), blank.size(), blank) != 0)
            bytes += text.newline;
        bytes += '[' + EscapedPath(key.path) + "] " + Seconds(now) + text.newline;
        bytes += TimeLine(now, text.newline);
        for (const auto& v : key.node->values) bytes += WineValueLine({v->name, v->type, v->data}, text.newline);
    }
    return true;
}

}  // namespace qv
