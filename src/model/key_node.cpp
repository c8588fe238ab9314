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

void CopyField(char* dest, std::string_view src) {
    const std::size_t n = Utf8SafeLength(src, ValueEntry::kMaxText);
    std::memcpy(dest, src.data(), n);
    dest[n] = '\0';
}

ValueEntry::ValueEntry(const char* valueName, DWORD valueType, const void* valueData) {
    if (valueData != nullptr) {
        if (valueType == REG_SZ) {
            const char* text = static_cast<const char*>(valueData);
            CopyField(reinterpret_cast<char*>(data), std::string_view(text));
            cbData = static_cast<DWORD>(Text().size() + 1);
        } else if (valueType == REG_DWORD) {
            std::memcpy(data, valueData, sizeof(DWORD));
            cbData = sizeof(DWORD);
        } else {
            data[0] = 0;
            name[0] = '\0';
            cbData = 1;
        }
    }
    type = valueType;
    if (valueName != nullptr) CopyField(name, std::string_view(valueName));
}

std::string_view ValueEntry::Name() const {
    return std::string_view(name, strnlen(name, kFieldSize));
}

std::string_view ValueEntry::Text() const {
    const char* text = reinterpret_cast<const char*>(data);
    return std::string_view(text, strnlen(text, kFieldSize));
}

DWORD ValueEntry::Number() const {
    DWORD n;
    std::memcpy(&n, data, sizeof n);
    return n;
}

DWORD ValueEntry::WriteSize() const {
    if (type == REG_DWORD) return sizeof(DWORD);
    if (type == REG_SZ) return static_cast<DWORD>(Text().size() + 1);
    return std::min<DWORD>(cbData, kFieldSize);
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

std::string LeafName(std::string_view text) {
    const auto slash = text.rfind('\\');
    if (slash == std::string_view::npos) return std::string();
    std::string_view leaf = text.substr(slash + 1);
    while (!leaf.empty() && (leaf.front() == ' ' || leaf.front() == '\t' || leaf.front() == '\r' ||
                             leaf.front() == '\n' || leaf.front() == '\v' || leaf.front() == '\f'))
        leaf.remove_prefix(1);
    if (!leaf.empty() && leaf.back() == ']') leaf.remove_suffix(1);
    return std::string(leaf);
}

KeyNode* FindParent(KeyNode* start, std::string_view keyLine) {
    const std::string leaf = LeafName(keyLine);
    const auto keep = static_cast<std::ptrdiff_t>(keyLine.size()) -
                      static_cast<std::ptrdiff_t>(leaf.size()) - 2;
    const std::string_view parentPart =
        keep > 0 ? keyLine.substr(0, static_cast<std::size_t>(keep)) : std::string_view();
    const std::string wanted = LeafName(parentPart);
    for (KeyNode* node = start; node != nullptr;) {
        if (node->name == wanted) return node;
        if (node->subkeys.empty()) return nullptr;
        node = node->subkeys.back().get();
    }
    return nullptr;
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

}  // namespace qv
