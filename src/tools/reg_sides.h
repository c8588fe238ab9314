// The sides of quorvane-reg's commands: how a key argument names where it
// lives (this computer, \\computer, FILE::KEY), and the two sides of a
// compare read into key trees.
#pragma once

#include <memory>
#include <string>

#include "files/key_name.h"
#include "model/key_node.h"
#include "model/registry.h"

namespace qv {

// The key as shown in output: "\\computer\ROOT\path", "FILE::ROOT\path" or
// "ROOT\path".
std::string DisplayKey(const RegKeyName& key);

// "FILE::KEY": the file part, with the key's text in `keyText`; empty when
// the text names no file.
std::string SourceOf(const std::string& text, std::string& keyText);

// An existing regular file, or a name ending in ".qvf".
bool IsTreeFilePath(const std::string& text);

// Reads `key`'s values and subkey names (all of its subtree with `recurse`)
// into a chain of nodes from a top of its own, as a side loads it. Returns 0
// or the registry's reason; `node` is the key's node.
LONG LoadKeySide(IRegistry& registry, const RegKeyName& key, bool recurse, std::unique_ptr<KeyNode>& top,
                 const KeyNode*& node);

// Reads the tree file at `path` into `top`; false with the reason.
bool LoadTreeFileSide(const std::string& path, KeyNode& top, std::string& error);

// The node of `key` (its root and path, names in any case) below a tree
// file's `node`, with its spelling in the file joined to `name`; null when
// the file does not hold it.
const KeyNode* FindInTreeFile(const KeyNode* node, const RegKeyName& key, std::string& name);

}  // namespace qv
