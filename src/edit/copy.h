// Copying a Master key into the Slave: into memory and the Slave registry.
// Steps return 1 for success and 0 for failure unless said otherwise.
#pragma once

#include <string>

#include "model/key_node.h"
#include "model/registry.h"

namespace qv {

// Replaces `target`'s values (and, when recursive, its subkeys) with copies
// of `source`'s, in the registry and in memory.
int OverwriteFrom(KeyNode* target, IRegistry& registry, const std::string& computer, const KeyNode* source,
                  bool recursive);
// Adds a copy of `source` (with its subtree when recursive) as the last
// subkey of `target`, and creates that key with its values (and subtree) in
// the registry. The target's other keys are not written.
int AppendCopyOf(KeyNode* target, IRegistry& registry, const std::string& computer, const KeyNode* source,
                 bool recursive);
// Appends copies of `source`'s values and, when recursive, of its subtree.
void CopyContentFrom(KeyNode* target, const KeyNode* source, bool recursive);
// Writes the node's values (and subtree when recursive) to its key.
int WriteToRegistry(KeyNode* node, IRegistry& registry, const std::string& computer, bool recursive);
// Writes the node at `basePath` (or below it by name unless `top`) and, when
// recursive, everything below it. Returns 0 or the registry's status.
LONG WriteKey(KeyNode* node, IRegistry& registry, const std::string& computer, HKEY root,
              const std::string& basePath, bool recursive, bool top);

}  // namespace qv
