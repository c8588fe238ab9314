#include "edit/key_edit.h"

#include <cctype>
#include <cstdint>
#include <vector>

#include "model/open_key.h"

namespace qv {

int DeleteKeyTree(KeyNode* node, IRegistry& registry, HKEY handle, const std::string& path) {
    // Children first, deepest first, without recursion.
    struct Frame {
        KeyNode* node;
        std::string path;
        std::size_t next = 0;
    };
    std::vector<Frame> stack{{node, path}};
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next < f.node->subkeys.size()) {
            KeyNode* child = f.node->subkeys[f.next++].get();
            std::string childPath = f.path.empty() ? child->name : f.path + '\\' + child->name;
            stack.push_back({child, std::move(childPath)});
            continue;
        }
        if (registry.RegDeleteKeyA(handle, f.path.c_str()) != ERROR_SUCCESS) return 0;
        stack.pop_back();
    }
    return 1;
}

int DeleteFromRegistry(KeyNode* node, IRegistry& registry, const std::string& computer,
                       std::unique_ptr<KeyNode>* detached) {
    HKEY root = nullptr;
    std::string path;
    PathOf(node, root, path);
    if (root == nullptr) return 0;
    CRegHandle connected(registry);
    HKEY handle = root;
    if (!computer.empty()) {
        if (registry.RegConnectRegistryA(computer.c_str(), root, connected.Receive()) != ERROR_SUCCESS) return 0;
        handle = connected.Get();
    }
    if (DeleteKeyTree(node, registry, handle, path) == 0) return 0;
    if (detached != nullptr && node->parent != nullptr) *detached = node->parent->DetachSubkey(node);
    return 1;
}

int DeleteValuesFromRegistry(KeyNode* node, IRegistry& registry, const std::string& computer, int index) {
    COpenedKey key(registry);
    if (key.OpenNode(computer, node, KEY_WRITE) != 0) return 0;
    // A row beyond the list names no value: nothing to delete.
    if (index < -1 || (index != -1 && static_cast<std::size_t>(index) >= node->values.size())) return 1;
    if (index != -1) {
        const auto at = node->values.begin() + index;
        if (registry.RegDeleteValueA(key.Key(), (*at)->name.c_str()) != ERROR_SUCCESS) return 0;
        node->values.erase(at);
        return 1;
    }
    // Memory follows the registry value by value, also when one fails.
    std::size_t done = 0;
    int result = 1;
    for (; done < node->values.size(); ++done) {
        if (registry.RegDeleteValueA(key.Key(), node->values[done]->name.c_str()) != ERROR_SUCCESS) {
            result = 0;
            break;
        }
    }
    node->values.erase(node->values.begin(), node->values.begin() + static_cast<std::ptrdiff_t>(done));
    return result;
}

std::string SubkeyPath(const KeyNode* node, const std::string& name) {
    HKEY root = nullptr;
    std::string path;
    PathOf(node, root, path);
    return path.empty() ? name : path + '\\' + name;
}

KeyNode* CreateSubkey(KeyNode* node, IRegistry& registry, const std::string& computer, const std::string& name,
                      LONG* status) {
    LONG ignored;
    LONG& result = status != nullptr ? *status : ignored;
    HKEY root = nullptr;
    std::string path;
    PathOf(node, root, path);
    if (root == nullptr || !IsValidKeyName(name)) {
        result = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    COpenedKey opened(registry);
    result = opened.Open(computer, root, SubkeyPath(node, name), KEY_WRITE);
    if (result != 0) return nullptr;
    for (const auto& k : node->subkeys)
        if (SameName(k->name, name)) return k.get();
    return node->AppendSubkey(std::make_unique<KeyNode>(name));
}

int CreateValue(KeyNode* node, IRegistry& registry, const std::string& computer,
                std::unique_ptr<ValueEntry>& entry) {
    COpenedKey key(registry);
    if (key.OpenNode(computer, node, KEY_WRITE) != 0) return 0;
    if (registry.RegSetValueExA(key.Key(), entry->name.c_str(), 0, entry->type, entry->Bytes(),
                                entry->WriteSize()) != ERROR_SUCCESS)
        return 0;
    for (auto& v : node->values)
        if (SameName(v->name, entry->name)) {
            entry->name = v->name;  // the registry keeps the first spelling
            v = std::move(entry);
            return 1;
        }
    node->AppendValue(std::move(entry));
    return 1;
}

std::uint32_t ParseNumberLikeAtol(const std::string& text) {
    std::size_t p = 0;
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
    std::int64_t value = 0;
    for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
        value = value * 10 + (text[p] - '0');
        if (value > 2147483648LL) value = 2147483648LL;  // enough to saturate either way
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

}  // namespace qv
