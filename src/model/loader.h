// Loading a live registry into the key tree: root keys when a side is built,
// then one level at a time on demand, or a whole subtree when forced.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "model/key_node.h"
#include "model/progress.h"
#include "model/registry.h"

namespace qv {

// Calls `each` for every value of the open `key`, whole, however long its
// name or data. Returns 0, or the status of the call that failed.
LONG ReadEachValue(IRegistry& registry, HKEY key,
                   const std::function<void(std::string_view name, DWORD type, std::string_view data)>& each);

// Reads the subkey name at `index` of the open `key` and moves `index` on;
// false at the end of the list or on an error, which goes to `*error` when
// given.
bool NextSubkeyName(IRegistry& registry, HKEY key, DWORD& index, std::string& name, LONG* error = nullptr);

// Deletes `subkey` of `parent` with everything below it in the registry,
// children first. Returns 0 or the status of the first call that failed.
LONG DeleteRegistryTree(IRegistry& registry, HKEY parent, const std::string& subkey);

// Adds a child named `rootName` to `top` when `root` opens for reading on
// `computer`. Returns 0, or the status of the failed open.
LONG AddRoot(KeyNode* top, IRegistry& registry, const std::string& computer, HKEY root,
             const char* rootName);

// Loads one level of `node` (not forced: only while it has nothing in
// memory), or replaces its whole subtree (forced). Returns 1 when a load was
// attempted, 0 when the node was loaded already or has no registry location.
// The first call that failed goes to `*error` (0 when none did): what was
// read is kept, and the caller says it may be incomplete.
int LoadLevel(KeyNode* node, IRegistry& registry, const std::string& computer, bool forced,
              LONG* error = nullptr);

// Reads the values and subtree of the key at `root`\`path` into a new node
// named as `node`, which is left as it is. Returns the copy, with `status`
// 0 or the status of the first call that failed while reading (the copy
// then holds what could be read); or null, with the status of the failed
// open, or ERROR_CANCELLED when `progress` cancelled.
std::unique_ptr<KeyNode> ReadSubtreeCopy(const KeyNode* node, IRegistry& registry, const std::string& computer,
                                         HKEY root, const std::string& path, LONG& status,
                                         IProgress* progress = nullptr);
// Gives `node` the values and subkeys of `fresh` in place of its own.
void ReplaceContents(KeyNode* node, std::unique_ptr<KeyNode> fresh);

// Replaces the values and subtree of `node` with what the registry holds,
// once the whole subtree is read. Returns 0, or the status of the failed
// open or ERROR_CANCELLED (the node then stays as it was), or of the first
// call that failed while reading (the node then holds what could be read).
LONG ReloadSubtree(KeyNode* node, IRegistry& registry, const std::string& computer, HKEY root,
                   const std::string& path, IProgress* progress = nullptr);

// Loads the subtree of a freshly created, empty `node` through `base`.
void LoadSubtree(KeyNode* node, IRegistry& registry, HKEY base, const std::string& parentPath);

}  // namespace qv
