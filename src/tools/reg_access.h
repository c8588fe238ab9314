// Registry access for quorvane-reg. Values are read straight through
// RegEnumValueA with growing buffers, so names and data of any length come
// through whole (the key tree's fixed records would cut them).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/open_key.h"
#include "model/registry.h"
#include "registry/registry_batch.h"
#include "files/reg_file.h"
#include "sources/registry_source.h"
#include "tools/reg_args.h"

namespace qv {

// Readable text for a registry status, e.g. "Access is denied. (status 5)".
std::string StatusText(LONG status);

// A key of `RegKeyName`: the root reached on its computer (through
// RegConnectRegistryA when one is named) and the key below it. Both handles
// close when the holder goes. Open and Create return the registry's own
// status of the call that failed.
class CToolKey {
public:
    explicit CToolKey(IRegistry& registry) : m_registry(registry), m_base(registry), m_key(registry) {}
    LONG Open(const RegKeyName& name, REGSAM access);
    LONG Create(const RegKeyName& name);  // with missing parents
    HKEY Key() const { return m_key.Get(); }
    HKEY Base() const { return m_base.Get(); }

private:
    LONG Connect(const RegKeyName& name);
    IRegistry& m_registry;
    CRegHandle m_base;
    CRegHandle m_key;
};

LONG ReadValues(IRegistry& registry, HKEY key, std::vector<RegValue>& values);
LONG ReadSubkeyNames(IRegistry& registry, HKEY key, std::vector<std::string>& names);

// Reads the values and subkey names of `key`; with `recurse`, every subkey's
// contents as well. A subkey that goes away while it is read is left out.
LONG ReadTree(IRegistry& registry, HKEY key, RegTree& node, bool recurse);

// The spelling the registry keeps for `path` below `base`, component by
// component; `path` as given where a component cannot be listed.
std::string StoredSpelling(IRegistry& registry, HKEY base, const std::string& path);

// The value named `name` (ignoring case, as the registry does), or null.
const RegValue* FindValue(const std::vector<RegValue>& values, std::string_view name);

// The back end's batch, when it has one: begun on construction, rolled back
// unless committed.
class CWriteBatch {
public:
    explicit CWriteBatch(IRegistry& registry);
    ~CWriteBatch();
    CWriteBatch(const CWriteBatch&) = delete;
    CWriteBatch& operator=(const CWriteBatch&) = delete;
    LONG Begin();
    LONG Commit();

private:
    IRegistryBatch* m_batch;
    bool m_open = false;
};

}  // namespace qv
