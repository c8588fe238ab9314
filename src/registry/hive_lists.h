// A key's subkey list read straight from a hive file's bytes, for keys wider
// than hivex reads (it refuses more than 70,000 subkeys, which a Windows
// installation's Installer\UserData\...\Components key can pass).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace qv {

// The subkeys of the key node at file offset `node` (as hivex numbers nodes)
// in the hive file `bytes`, in the order of its lists (lf, lh, li, and ri
// over those). False, with `children` cleared, when a cell or list does not
// lie whole within the file or is not what it should be.
bool ReadSubkeyOffsets(std::string_view bytes, std::uint32_t node, std::vector<std::uint32_t>& children);

}  // namespace qv
