#include "model/key_node.h"

#include <algorithm>
#include <cstring>

namespace qv {

// Length to keep of `src` when it must fit `limit` bytes: backs off to the
// start of a UTF-8 sequence that the cut would split. Bytes that do not form
// UTF-8 are cut where they stand.
std::size_t Utf8SafeLength(std::string_view src, std::size_t limit) {
    if (src.size() <= limit) return src.size();
    std::size_t cut = limit;
    std::size_t k = cut;
    while (k > 0 && k + 3 >= cut && (static_cast<unsigned char>(src[k]) & 0xC0) == 0x80) --k;
    const auto lead = static_cast<unsigned char>(src[k]);
    if (k != cut && lead >= 0xC0) {
        // Only back off when the lead byte announces a sequence that reaches past the cut.
        const std::size_t seqLen = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (k + seqLen > cut) cut = k;
    }
    return cut;
}

ValueEntry::ValueEntry(const char* valueName, DWORD valueType, const void* valueData) : type(valueType) {
    if (valueName != nullptr) name = valueName;
    if (valueData == nullptr) return;
    if (valueType == REG_SZ) SetText(static_cast<const char*>(valueData));
    else if (valueType == REG_DWORD) data.assign(static_cast<const char*>(valueData), sizeof(DWORD));
    else data.assign(1, '\0');
}

std::string_view ValueEntry::Text() const {
    const std::size_t end = data.find('\0');
    return std::string_view(data).substr(0, end);
}

DWORD ValueEntry::Number() const {
    DWORD n = 0;
    std::memcpy(&n, data.data(), std::min(sizeof n, data.size()));
    return n;
}

void ValueEntry::SetText(std::string_view text) {
    data.assign(text);
    data += '\0';
}

void ValueEntry::SetNumber(DWORD number) { data.assign(reinterpret_cast<const char*>(&number), sizeof number); }

DWORD ValueEntry::WriteSize() const {
    // A REG_SZ that came without its terminator is written with one: the
    // string's own terminator follows the bytes.
    const bool terminate = type == REG_SZ && (data.empty() || data.back() != '\0');
    return static_cast<DWORD>(data.size() + (terminate ? 1 : 0));
}

KeyNode::KeyNode(std::string nodeName) : name(std::move(nodeName)) {}

KeyNode::~KeyNode() { Clear(); }

void KeyNode::Clear() {
    values.clear();
    // Tear the subtree down without recursion: a deep tree must not exhaust
    // the stack. Children are moved onto a work list and emptied there, so
    // every destructor that runs meets a node with no subkeys left.
    std::vector<std::unique_ptr<KeyNode>> pending = std::move(subkeys);
    subkeys.clear();
    while (!pending.empty()) {
        std::unique_ptr<KeyNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->subkeys) pending.push_back(std::move(child));
        node->subkeys.clear();
    }
}

KeyNode* KeyNode::AppendSubkey(std::unique_ptr<KeyNode> child) {
    child->parent = this;
    subkeys.push_back(std::move(child));
    return subkeys.back().get();
}

ValueEntry* KeyNode::AppendValue(std::unique_ptr<ValueEntry> entry) {
    values.push_back(std::move(entry));
    return values.back().get();
}

std::unique_ptr<KeyNode> KeyNode::DetachSubkey(KeyNode* child) {
    auto it = std::find_if(subkeys.begin(), subkeys.end(),
                           [child](const std::unique_ptr<KeyNode>& p) { return p.get() == child; });
    if (it == subkeys.end()) return nullptr;
    std::unique_ptr<KeyNode> owned = std::move(*it);
    subkeys.erase(it);
    return owned;
}

int KeyNode::Level() const {
    int level = 0;
    for (const KeyNode* n = parent; n != nullptr; n = n->parent) ++level;
    return level;
}

const RootName kRootTable[7] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {"HKEY_USERS", HKEY_USERS},                   {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
};

HKEY RootHandle(std::string_view rootName) {
    for (const RootName& r : kRootTable)
        if (rootName == r.name) return r.handle;
    return nullptr;
}

void PathOf(const KeyNode* node, HKEY& root, std::string& path) {
    path.clear();
    // Collect names bottom-up, then join once: no quadratic prepending.
    std::vector<const std::string*> names;
    for (const KeyNode* cur = node; cur->parent != nullptr; cur = cur->parent) {
        if (cur->parent->parent == nullptr) {
            root = RootHandle(cur->name);
            break;
        }
        names.push_back(&cur->name);
    }
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.empty()) path += '\\';
        path += **it;
    }
}

std::string KeyPathOf(const KeyNode* node) {
    std::vector<const KeyNode*> chain;
    for (; node != nullptr && node->parent != nullptr; node = node->parent) chain.push_back(node);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty()) path += '\\';
        path += (*it)->name;
    }
    return path;
}

std::string LeafName(std::string_view text) {
    const auto slash = text.rfind('\\');
    if (slash == std::string_view::npos) return std::string();
    std::string_view leaf = text.substr(slash + 1);
    if (!leaf.empty() && leaf.back() == ']') leaf.remove_suffix(1);
    return std::string(leaf);
}

KeyNode* FindParent(KeyNode* start, std::string_view keyLine) {
    const std::string leaf = LeafName(keyLine);
    const auto keep = static_cast<std::ptrdiff_t>(keyLine.size()) -
                      static_cast<std::ptrdiff_t>(leaf.size()) - 2;
    const std::string_view parentPart =
        keep > 0 ? keyLine.substr(0, static_cast<std::size_t>(keep)) : std::string_view();
    // A root key's line ("[\\ROOT]") has the top node for its parent.
    const auto slash = parentPart.rfind('\\');
    if (slash == std::string_view::npos) return start;
    // Files written depth first hold the parent at the end of the chain of
    // last subkeys: follow the parent's whole path down that chain, so that
    // a name met twice on the way (A\B\A) cannot mislead the match.
    if (parentPart.size() > 1 && parentPart[0] == '[' && parentPart[1] == '\\') {
        KeyNode* node = start;
        std::string_view rest = parentPart.substr(2);
        for (;;) {
            const std::size_t next = rest.find('\\');
            const std::string_view name = rest.substr(0, next);
            node = node->subkeys.empty() ? nullptr : node->subkeys.back().get();
            if (node == nullptr || node->name != name) break;
            if (next == std::string_view::npos) return node;
            rest.remove_prefix(next + 1);
        }
    }
    // Otherwise (hand-written files) the first key on that chain that has
    // the parent's name. The name is all that follows its backslash: it has
    // no closing bracket to drop, and blanks belong to it.
    const std::string_view wanted = parentPart.substr(slash + 1);
    for (KeyNode* node = start; node != nullptr;) {
        if (node->parent != nullptr && node->name == wanted) return node;
        if (node->subkeys.empty()) return nullptr;
        node = node->subkeys.back().get();
    }
    return nullptr;
}

bool IsValidKeyName(std::string_view name) { return !name.empty() && name.find('\\') == std::string_view::npos; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::uint32_t ParseHex(std::string_view text) {
    std::uint32_t value = 0;
    for (char c : text) {
        std::uint32_t digit;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else return 0;
        value = (value << 4) + digit;
    }
    return value;
}

std::size_t CountKeys(const KeyNode& top) {
    std::size_t n = 0;
    std::vector<const KeyNode*> pending{&top};
    while (!pending.empty()) {
        const KeyNode* k = pending.back();
        pending.pop_back();
        ++n;
        for (const auto& sub : k->subkeys) pending.push_back(sub.get());
    }
    return n;
}

}  // namespace qv
