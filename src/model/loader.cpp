#include "model/loader.h"

#include <algorithm>
#include <vector>

#include "model/open_key.h"

namespace qv {

namespace {

constexpr LONG kRegistryCorrupt = 1015;  // deeper than a registry may be: a damaged one

// Appends every value of the open key; the status of a failed call.
LONG LoadValues(IRegistry& registry, HKEY key, KeyNode* node) {
    return ReadEachValue(registry, key, [node](std::string_view name, DWORD type, std::string_view data) {
        node->AppendValue(std::make_unique<ValueEntry>(name, type, std::string(data)));
    });
}


std::string ChildPath(const std::string& parentPath, const std::string& name) {
    if (name.empty()) return parentPath;
    if (parentPath.empty()) return name;
    return parentPath + '\\' + name;
}

// Loads values and subtree of the open `key` into the empty `node`, opening
// each descendant by its full path from `base`. Depth first, without
// recursion; at most one handle per level is open, and nothing deeper than the
// registry's own limit is followed, so a hostile peer cannot make it endless.
// A failing call does not stop the load; the first one's status is returned,
// so that a caller about to act on the subtree knows it is not whole.
// With `progress`, every key read is reported; when it cancels, the load
// stops at once and returns ERROR_CANCELLED. `level` is the node's level in
// its tree (the node may be a detached copy).
LONG LoadBelow(IRegistry& registry, HKEY base, KeyNode* node, HKEY key, const std::string& path, int level,
               IProgress* progress = nullptr) {
    struct Frame {
        KeyNode* node;
        HKEY key;
        std::unique_ptr<CRegHandle> owner;  // null for the caller's key
        std::string path;
        int level;
        DWORD index = 0;
    };
    LONG first = LoadValues(registry, key, node);
    const auto note = [&first](LONG status) {
        if (first == ERROR_SUCCESS) first = status;
    };
    std::vector<Frame> stack;
    stack.push_back({node, key, nullptr, path, level});
    std::string name;
    std::size_t keysDone = 0;
    // How far, for a progress display: the key's own subkeys (one level,
    // listed first) are the whole known beforehand.
    std::size_t levelKeys = 0, levelStarted = 0;
    if (progress != nullptr)
        for (DWORD index = 0; NextSubkeyName(registry, key, index, name);) ++levelKeys;
    while (!stack.empty()) {
        Frame& top = stack.back();
        LONG status = ERROR_SUCCESS;
        if (top.level >= kMaxKeyDepth || !NextSubkeyName(registry, top.key, top.index, name, &status)) {
            note(status);
            stack.pop_back();
            continue;
        }
        KeyNode* child = top.node->AppendSubkey(std::make_unique<KeyNode>(name));
        if (stack.size() == 1) ++levelStarted;
        // The frames close their handles as the stack goes.
        if (progress != nullptr && !progress->StepOf(++keysDone, levelStarted - 1, std::max(levelKeys, levelStarted)))
            return ERROR_CANCELLED;
        std::string childPath = ChildPath(top.path, name);
        auto handle = std::make_unique<CRegHandle>(registry);
        status = registry.RegOpenKeyExA(base, childPath.c_str(), 0, KEY_READ, handle->Receive());
        if (status != ERROR_SUCCESS) {
            note(status);
            continue;
        }
        note(LoadValues(registry, handle->Get(), child));
        const HKEY childKey = handle->Get();
        const int childLevel = top.level + 1;
        stack.push_back({child, childKey, std::move(handle), std::move(childPath), childLevel});
    }
    return first;
}

}  // namespace

bool NextSubkeyName(IRegistry& registry, HKEY key, DWORD& index, std::string& name, LONG* error) {
    // Most names fit the first buffer. A longer one (255 characters can take
    // 765 bytes of UTF-8) is asked again at the same index with room to spare;
    // past any length a registry allows, the name is not ours to show.
    constexpr std::size_t kMaxNameBuffer = 1u << 16;
    char first[256];
    std::vector<char> grown;
    char* buffer = first;
    std::size_t capacity = sizeof first;
    for (;;) {
        DWORD size = static_cast<DWORD>(capacity);
        FILETIME lastWrite{};
        const LONG status = registry.RegEnumKeyExA(key, index, buffer, &size, nullptr, nullptr,
                                                   nullptr, &lastWrite);
        if (status == ERROR_MORE_DATA && capacity < kMaxNameBuffer) {
            grown.resize(capacity * 4);
            buffer = grown.data();
            capacity = grown.size();
            continue;
        }
        ++index;
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) {
            if (error != nullptr && status != ERROR_NO_MORE_ITEMS) *error = status;
            return false;
        }
        name.assign(buffer, std::min<std::size_t>(size, capacity - 1));
        return true;
    }
}

LONG ReadEachValue(IRegistry& registry, HKEY key,
                   const std::function<void(std::string_view name, DWORD type, std::string_view data)>& each) {
    // A buffer too small grows and the same index is asked again: the data's
    // size is reported, the name's is not, so the name buffer grows whenever
    // the data fitted.
    constexpr std::size_t kMaxNameBuffer = 16384 + 1;  // the registry's longest value name
    std::vector<char> name(256);
    std::vector<BYTE> data(256);
    for (DWORD index = 0;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG status =
            registry.RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_MORE_DATA) {
            if (dataSize > data.size()) data.resize(dataSize);
            else if (name.size() < kMaxNameBuffer) name.resize(std::min(name.size() * 4, kMaxNameBuffer));
            else ++index;  // a name longer than any the registry allows: not ours to show
            continue;
        }
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) return status;
        each(std::string_view(name.data(), std::min<std::size_t>(nameSize, name.size())), type,
             std::string_view(reinterpret_cast<const char*>(data.data()), std::min<std::size_t>(dataSize, data.size())));
        ++index;
    }
}

LONG AddRoot(KeyNode* top, IRegistry& registry, const std::string& computer, HKEY root,
             const char* rootName) {
    COpenedKey key(registry);
    const LONG status = key.Open(computer, root, std::string(), KEY_READ);
    if (status != 0) return status;
    top->AppendSubkey(std::make_unique<KeyNode>(rootName));
    return 0;
}

int LoadLevel(KeyNode* node, IRegistry& registry, const std::string& computer, bool forced, LONG* error) {
    if (!forced && node->IsLoaded()) return 0;
    HKEY root = nullptr;
    std::string path;
    PathOf(node, root, path);
    if (root == nullptr) return 0;
    LONG failure = 0;
    if (forced) {
        failure = ReloadSubtree(node, registry, computer, root, path);
    } else {
        COpenedKey key(registry);
        failure = key.Open(computer, root, path, KEY_READ);
        if (failure == 0) {
            failure = LoadValues(registry, key.Key(), node);
            DWORD index = 0;
            std::string name;
            LONG listing = 0;
            while (NextSubkeyName(registry, key.Key(), index, name, &listing))
                node->AppendSubkey(std::make_unique<KeyNode>(name));
            if (failure == 0) failure = listing;
        }
    }
    if (error != nullptr) *error = failure;
    return 1;
}

std::unique_ptr<KeyNode> ReadSubtreeCopy(const KeyNode* node, IRegistry& registry, const std::string& computer,
                                         HKEY root, const std::string& path, LONG& status, IProgress* progress) {
    COpenedKey key(registry);
    status = key.Open(computer, root, path, KEY_READ);
    if (status != 0) return nullptr;
    auto copy = std::make_unique<KeyNode>(node->name);
    status = LoadBelow(registry, key.Base(), copy.get(), key.Key(), path, node->Level(), progress);
    if (status == ERROR_CANCELLED) return nullptr;
    return copy;
}

void ReplaceContents(KeyNode* node, std::unique_ptr<KeyNode> fresh) {
    node->Clear();
    node->values = std::move(fresh->values);
    node->subkeys = std::move(fresh->subkeys);
    for (const auto& child : node->subkeys) child->parent = node;
}

LONG ReloadSubtree(KeyNode* node, IRegistry& registry, const std::string& computer, HKEY root,
                   const std::string& path, IProgress* progress) {
    LONG status = 0;
    std::unique_ptr<KeyNode> fresh = ReadSubtreeCopy(node, registry, computer, root, path, status, progress);
    if (fresh != nullptr) ReplaceContents(node, std::move(fresh));
    return status;
}

void LoadSubtree(KeyNode* node, IRegistry& registry, HKEY base, const std::string& parentPath) {
    const std::string path = ChildPath(parentPath, node->name);
    CRegHandle key(registry);
    if (registry.RegOpenKeyExA(base, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return;
    LoadBelow(registry, base, node, key.Get(), path, node->Level());
}

LONG DeleteRegistryTree(IRegistry& registry, HKEY parent, const std::string& subkey) {
    // Children first, over a stack of its own: a damaged registry's lists
    // cannot run the program out of stack. One handle per level is open.
    struct Frame {
        HKEY parent;
        std::string name;
        std::unique_ptr<CRegHandle> key;
        std::vector<std::string> children;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    const auto enter = [&](HKEY from, const std::string& name) {
        if (stack.size() >= static_cast<std::size_t>(kMaxKeyDepth)) return kRegistryCorrupt;
        Frame frame{from, name, std::make_unique<CRegHandle>(registry), {}};
        if (const LONG status = registry.RegOpenKeyExA(from, name.c_str(), 0, KEY_READ, frame.key->Receive());
            status != ERROR_SUCCESS)
            return status;
        DWORD index = 0;
        std::string child;
        LONG status = ERROR_SUCCESS;
        while (NextSubkeyName(registry, frame.key->Get(), index, child, &status)) frame.children.push_back(child);
        if (status == ERROR_SUCCESS) stack.push_back(std::move(frame));
        return status;
    };
    if (const LONG status = enter(parent, subkey); status != ERROR_SUCCESS) return status;
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next < top.children.size()) {
            const HKEY from = top.key->Get();
            if (const LONG status = enter(from, top.children[top.next++]); status != ERROR_SUCCESS) return status;
            continue;
        }
        top.key.reset();
        if (const LONG status = registry.RegDeleteKeyA(top.parent, top.name.c_str()); status != ERROR_SUCCESS)
            return status;
        stack.pop_back();
    }
    return ERROR_SUCCESS;
}

}  // namespace qv
