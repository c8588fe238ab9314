// A large, varied registry tree for the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/registry.h"

namespace qv {

// A large tree for benchmarks. `keys` keys go below root\path, breadth
// first: each key takes `fanOut` subkeys before the next one does, and no
// key is deeper than `depth` levels below path; once every key above the
// last level is full, the keys just above the last level take the rest in
// turn. `values` values are dealt round the keys (all types, mostly short,
// now and then a few kilobytes). The same options always give the same tree.
struct SyntheticTreeOptions {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::string path = "Software\\Synthetic";
    std::size_t keys = 1000;
    std::size_t depth = 4;
    std::size_t fanOut = 10;
    std::size_t values = 5000;
    std::uint32_t seed = 1;
};

struct SyntheticTreeStats {
    std::size_t keys = 0;
    std::size_t values = 0;
    std::size_t dataBytes = 0;
    std::size_t maxDepth = 0;
};

// Writes the tree, as one transaction per many thousand calls when the
// back end offers batches (the store), else call by call.
LONG GenerateSyntheticTree(IRegistry& registry, const SyntheticTreeOptions& options,
                           SyntheticTreeStats* stats = nullptr);

}  // namespace qv
