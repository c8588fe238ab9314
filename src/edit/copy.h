// Copying a Master key into the Slave: into memory and the Slave registry.
// Steps return 1 for success and 0 for failure unless said otherwise.
#pragma once

#include <string>

#include "model/key_node.h"
#include "model/registry.h"

namespace qv {

// Replaces `target`'s values (and, when recursive, its subkeys) with copies
// of `source`'s, in the registry and in memory. Recursive, the target's
// subtree is read from the registry first, so keys never loaded go too.
int OverwriteFrom(KeyNode* target, IRegistry& registry, const std::string& computer, const KeyNode* source,
                  bool recursive);
// Adds a copy of `source` (with its subtree when recursive) as the last
// subkey of `target`, and creates that key with its values (and subtree) in
// the registry. The target's other keys are not written. When `target` has a
// subkey of that name already, the copy merges into it in the registry and
// memory reads that key again: never two keys of one name.
int AppendCopyOf(KeyNode* target, IRegistry& registry, const std::string& computer, const KeyNode* source,
                 bool recursive);
// The first key whose name the registry cannot take (see IsValidKeyName)
// among what a copy of `source` writes: `source` itself when `withSelf`, its
// subtree when `recursive`. Null when there is none. A copy refuses such a
// source before it writes anything: an empty name would write into the parent.
const KeyNode* FindUnfitKeyName(const KeyNode* source, bool withSelf, bool recursive);
// Appends copies of `source`'s values and, when recursive, of its subtree.
void CopyContentFrom(KeyNode* target, const KeyNode* source, bool recursive);
// Writes the node's values (and subtree when recursive) to its key.
int WriteToRegistry(KeyNode* node, IRegistry& registry, const std::string& computer, bool recursive);
// Writes the node at `basePath` (or below it by name unless `top`) and, when
// recursive, everything below it. Returns 0 or the registry's status.
LONG WriteKey(KeyNode* node, IRegistry& registry, const std::string& computer, HKEY root,
              const std::string& basePath, bool recursive, bool top);

}  // namespace qv
