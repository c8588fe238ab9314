// The registry-side steps of editing a key node: each changes the registry
// and the node together. They return 1 for success and 0 for failure.
#pragma once

#include <memory>
#include <string>

#include "model/key_node.h"
#include "model/registry.h"

namespace qv {

// Deletes the node's key and every key below it that memory holds, deepest
// first. With `detached` given, the node also leaves its parent's subkeys and
// is handed back there.
int DeleteFromRegistry(KeyNode* node, IRegistry& registry, const std::string& computer,
                       std::unique_ptr<KeyNode>* detached = nullptr);
// The recursive step: deletes `path` (the node's key below `handle`) after the
// keys of its loaded subkeys.
int DeleteKeyTree(KeyNode* node, IRegistry& registry, HKEY handle, const std::string& path);
// Deletes value `index` (all values for -1) in the registry and in memory;
// a row beyond the list deletes nothing. On a failure the values deleted
// before it are gone from both.
int DeleteValuesFromRegistry(KeyNode* node, IRegistry& registry, const std::string& computer, int index);
// Opens or creates the key `name` below `node`. Returns its node: a new last
// subkey, or the subkey of that name memory already had. Null on failure,
// with the registry's reason in `*status` (ERROR_INVALID_PARAMETER for a
// name that IsValidKeyName refuses; nothing then reaches the registry).
KeyNode* CreateSubkey(KeyNode* node, IRegistry& registry, const std::string& computer, const std::string& name,
                      LONG* status = nullptr);
// Writes `entry` to the node's key; it replaces the entry of that name in
// memory, or is appended.
int CreateValue(KeyNode* node, IRegistry& registry, const std::string& computer,
                std::unique_ptr<ValueEntry>& entry);

// The path of a new key `name` below `node` (no leading backslash below a root).
std::string SubkeyPath(const KeyNode* node, const std::string& name);

// Reads a number as atol does: leading blanks, an optional sign, digits up to
// the first other character; 0 without digits; outside the signed 32-bit range
// it saturates. The result is the 32-bit pattern (-1 gives 4294967295).
std::uint32_t ParseNumberLikeAtol(const std::string& text);

}  // namespace qv
