// What a change to a registry may touch, named before it writes: a key with
// everything below it, or only the key's values.
#pragma once

#include <string>

namespace qv {

struct ChangeScope {
    std::string key;  // "HKEY_...\path"
    bool subtree = true;
};

}  // namespace qv
