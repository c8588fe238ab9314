#include "edit/copy.h"

#include <vector>

#include "edit/key_edit.h"
#include "model/open_key.h"

namespace qv {

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
            const LONG status = registry.RegSetValueExA(key.Key(), v->name, 0, v->type, v->data, v->WriteSize());
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
    if (recursive) {
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
    KeyNode* copy = target->AppendSubkey(std::make_unique<KeyNode>(source->name));
    CopyContentFrom(copy, source, recursive);
    return WriteToRegistry(copy, registry, computer, recursive);
}

}  // namespace qv
