#include <cstring>
#include <string_view>

#include "files/tree_file.h"

namespace qv {

namespace {

bool IsTrailingSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsFiller(char c) { return c == '"' || c == '=' || c == ' ' || c == '\t'; }

constexpr std::string_view kDword = "dword:";

// A number line is one whose text after the first "=" starts, past blanks,
// with "dword:". A string that merely contains "dword:" stays a string.
bool IsNumberLine(std::string_view line, std::size_t eq) {
    if (eq == std::string_view::npos) return false;
    std::size_t p = eq + 1;
    while (p < line.size() && IsBlank(line[p])) ++p;
    return line.substr(p, kDword.size()) == kDword;
}

std::uint32_t NumberOf(std::string_view line, std::size_t eq) {
    std::size_t p = eq + 1;
    for (;;) {
        if (p < line.size() && IsFiller(line[p])) ++p;
        else if (line.substr(p, kDword.size()) == kDword) p += kDword.size();
        else break;
    }
    std::size_t end = p;
    while (end < line.size() && !IsFiller(line[end])) ++end;
    return ParseHex(line.substr(p, end - p));
}

// The text of a value line, with the terminating zero a REG_SZ holds (made
// in one allocation: this runs for most lines of a file).
std::string TextOf(std::string_view line, std::size_t eq) {
    std::size_t p = eq == std::string_view::npos ? line.size() : eq + 1;
    std::string_view text;
    // As the writer puts it: the text whole between the quote right after
    // "=" and the line's last quote, blanks and quotes in it included.
    const std::size_t last = line.rfind('"');
    if (p < line.size() && line[p] == '"' && last > p) {
        text = line.substr(p + 1, last - p - 1);
    } else {
        // Hand-written lines: blanks, quotes and '=' before the text are skipped.
        while (p < line.size() && IsFiller(line[p])) ++p;
        const std::size_t end = (last != std::string_view::npos && last >= p) ? last : line.size();
        text = line.substr(p, end - p);
    }
    std::string data;
    data.reserve(text.size() + 1);
    data.append(text);
    data += '\0';
    return data;
}

std::unique_ptr<ValueEntry> ParseValueLine(std::string_view line) {
    // The name ends at the first quote followed by '=': a name may hold '='
    // itself (even "=dword:"), which must not decide the value's type.
    std::size_t eq = line.find("\"=", 1);  // after the opening quote: a name may start with "="
    eq = eq != std::string_view::npos ? eq + 1 : line.find('=');
    const std::string_view name =
        eq != std::string_view::npos && eq >= 3 ? line.substr(1, eq - 2) : std::string_view();
    if (IsNumberLine(line, eq)) {
        const std::uint32_t number = NumberOf(line, eq);
        return std::make_unique<ValueEntry>(name, REG_DWORD,
                                            std::string(reinterpret_cast<const char*>(&number), sizeof number));
    }
    return std::make_unique<ValueEntry>(name, REG_SZ, TextOf(line, eq));
}

}  // namespace

int ReadTreeFile(KeyNode* top, CStdioFile& file, IProgress* progress) {
    const std::uint64_t total = progress != nullptr ? file.GetLength() : 0;  // the bytes tell how far
    KeyNode* current = nullptr;
    std::size_t keysDone = 0;
    std::string raw;
    while (file.ReadString(raw)) {
        std::string_view line(raw);
        while (!line.empty() && IsTrailingSpace(line.back())) line.remove_suffix(1);
        if (line.empty()) continue;
        if (line.front() == '[') {
            // "[]" stands for the file's top node, which the writer puts
            // first; it is no key of its own.
            if (line == "[]") {
                current = nullptr;
                continue;
            }
            KeyNode* parent = FindParent(top, line);
            if (parent == nullptr) parent = top;
            // Refuse what the registry itself could never hold; it also keeps
            // every later walk of the tree within a bounded depth.
            if (parent->Level() + 1 > kMaxKeyDepth) return 1;
            current = parent->AppendSubkey(std::make_unique<KeyNode>(LeafName(line)));
            if (progress != nullptr && !progress->StepOf(++keysDone, file.GetPosition(), total)) return kTreeFileCancelled;
            continue;
        }
        if (current == nullptr) return 1;  // a value with no key to join
        current->AppendValue(ParseValueLine(line));
    }
    return 0;
}

}  // namespace qv
