#include "edit/copy.h"

#include <vector>

#include "edit/key_edit.h"
#include "model/loader.h"
#include "model/open_key.h"

namespace qv {

const KeyNode* FindUnfitKeyName(const KeyNode* source, bool withSelf, bool recursive) {
    if (withSelf && !IsValidKeyName(source->name)) return source;
    if (!recursive) return nullptr;
    std::vector<const KeyNode*> pending{source};
    while (!pending.empty()) {
        const KeyNode* n = pending.back();
        pending.pop_back();
        for (const auto& k : n->subkeys) {
            if (!IsValidKeyName(k->name)) return k.get();
            pending.push_back(k.get());
        }
    }
    return nullptr;
}

void CopyContentFrom(KeyNode* target, const KeyNode* source, bool recursive) {
    std::vector<std::pair<KeyNode*, const KeyNode*>> pending{{target, source}};
    while (!pending.empty()) {
        auto [to, from] = pending.back();
        pending.pop_back();
        for (const auto& v : from->values) to->AppendValue(std::make_unique<ValueEntry>(*v));
        if (!recursive) continue;
        for (const auto& k : from->subkeys) {
            KeyNode* copy = to->AppendSubkey(std::make_unique<KeyNode>(k->name));
            pending.emplace_back(copy, k.get());
        }
    }
}

LONG WriteKey(KeyNode* node, IRegistry& registry, const std::string& computer, HKEY root,
              const std::string& basePath, bool recursive, bool top) {
    // Pre-order, without recursion; each key is written over its own opening.
    struct Item {
        KeyNode* node;
        std::string path;
    };
    auto pathBelow = [](const std::string& base, const std::string& name) {
        if (name.empty()) return base;
        return base.empty() ? name : base + '\\' + name;
    };
    std::vector<Item> pending{{node, top ? basePath : pathBelow(basePath, node->name)}};
    while (!pending.empty()) {
        Item item = std::move(pending.back());
        pending.pop_back();
        COpenedKey key(registry);
        const LONG opened = key.Open(computer, root, item.path, KEY_WRITE);
        if (opened != 0) return opened;
        for (const auto& v : item.node->values) {
            const LONG status = registry.RegSetValueExA(key.Key(), v->name.c_str(), 0, v->type, v->Bytes(), v->WriteSize());
            if (status != ERROR_SUCCESS) return status;
        }
        if (!recursive) continue;
        const auto& subkeys = item.node->subkeys;
        for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it)
            pending.push_back({it->get(), pathBelow(item.path, (*it)->name)});
    }
    return 0;
}

int WriteToRegistry(KeyNode* node, IRegistry& registry, const std::string& computer, bool recursive) {
    HKEY root = nullptr;
    std::string path;
    PathOf(node, root, path);
    if (root == nullptr) return 0;
    return WriteKey(node, registry, computer, root, path, recursive, true) == 0 ? 1 : 0;
}

int OverwriteFrom(KeyNode* target, IRegistry& registry, const std::string& computer, const KeyNode* source,
                  bool recursive) {
    if (FindUnfitKeyName(source, false, recursive) != nullptr) return 0;
    if (recursive) {
        // Everything below the target goes, also what memory never held:
        // deleting only the loaded keys would fail on a key with unread
        // subkeys after its elder siblings were already gone.
        HKEY root = nullptr;
        std::string path;
        PathOf(target, root, path);
        if (root == nullptr || ReloadSubtree(target, registry, computer, root, path) != 0) return 0;
        while (!target->subkeys.empty()) {
            KeyNode* k = target->subkeys.front().get();
            if (DeleteFromRegistry(k, registry, computer) == 0) return 0;
            target->subkeys.erase(target->subkeys.begin());
        }
    }
    if (DeleteValuesFromRegistry(target, registry, computer, -1) == 0) return 0;
    CopyContentFrom(target, source, recursive);
    return WriteToRegistry(target, registry, computer, recursive);
}

int AppendCopyOf(KeyNode* target, IRegistry& registry, const std::string& computer, const KeyNode* source,
                 bool recursive) {
    if (FindUnfitKeyName(source, true, recursive) != nullptr) return 0;
    KeyNode* existing = nullptr;
    for (const auto& k : target->subkeys)
        if (SameName(k->name, source->name)) existing = k.get();
    KeyNode* copy = target->AppendSubkey(std::make_unique<KeyNode>(source->name));
    CopyContentFrom(copy, source, recursive);
    const int written = WriteToRegistry(copy, registry, computer, recursive);
    if (existing == nullptr) return written;
    // The registry merged the copy into the key it had: memory reads it again.
    target->DetachSubkey(copy);
    HKEY root = nullptr;
    std::string path;
    PathOf(existing, root, path);
    ReloadSubtree(existing, registry, computer, root, path);
    return written;
}

}  // namespace qv
