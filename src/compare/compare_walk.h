// The two walks over trees in memory. Each reports every stop through a
// callback and goes on or ends by its answer; counts are read again at every
// step, so entries that a stop brings into memory are walked too.
#pragma once

#include <functional>
#include <string_view>

#include "compare/ignore_list.h"
#include "model/key_node.h"
#include "res/resource.h"

namespace qv {

// A stop at `node` with value row `row`; `message` is the string id of the
// difference (Compare) or of the match (Find). Returns true to go on.
using WalkStop = std::function<bool(KeyNode* node, int row, UINT message)>;
// Called for each key before the walk looks into it: a live side loads a
// level it never read, so that a key not yet in memory is not taken for an
// empty one. Empty for a side wholly in memory.
using WalkLoad = std::function<void(KeyNode* node)>;

// Walks the Slave key `slave` against the Master key `master`: values first,
// then subkeys, depth first. Returns 1 when the walk went to its end, 0 when
// a stop said to end it.
// Keys and values the ignore list names are left out, counts included.
int CompareNodes(KeyNode* slave, KeyNode* master, const WalkStop& stop, const WalkLoad& loadSlave = {},
                 const WalkLoad& loadMaster = {}, const CIgnoreList* ignore = nullptr);

// Searches below `node` (its own name is not tested) for `text`, whole and
// case-sensitive: value data (read as text, whatever the type) and value names
// on each row, then each subkey's name followed by its own subtree.
int FindIn(KeyNode* node, std::string_view text, bool matchNames, bool matchData, const WalkStop& stop,
           const WalkLoad& load = {});

}  // namespace qv
