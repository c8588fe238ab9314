#include "tools/reg_access.h"

#include "model/loader.h"
#include "model/registry_errors.h"

#include <vector>

namespace qv {

namespace {
constexpr LONG kRegistryCorrupt = 1015;  // as Windows says of a damaged hive
}  // namespace

std::string StatusText(LONG status) { return RegistryErrorText(status); }

LONG CToolKey::Connect(const RegKeyName& name) {
    m_key.Close();
    m_base.Close();
    if (name.computer.empty()) {
        *m_base.Receive() = name.root;
        return ERROR_SUCCESS;
    }
    return m_registry.RegConnectRegistryA(name.computer.c_str(), name.root, m_base.Receive());
}

LONG CToolKey::Open(const RegKeyName& name, REGSAM access) {
    if (const LONG status = Connect(name); status != ERROR_SUCCESS) return status;
    return m_registry.RegOpenKeyExA(m_base.Get(), name.path.c_str(), 0, access, m_key.Receive());
}

LONG CToolKey::Create(const RegKeyName& name) {
    if (const LONG status = Connect(name); status != ERROR_SUCCESS) return status;
    char keyClass[] = "";
    DWORD disposition = 0;
    return m_registry.RegCreateKeyExA(m_base.Get(), name.path.c_str(), 0, keyClass,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                      m_key.Receive(), &disposition);
}

LONG ReadValues(IRegistry& registry, HKEY key, std::vector<RegValue>& values) {
    values.clear();
    return ReadEachValue(registry, key, [&values](std::string_view name, DWORD type, std::string_view data) {
        values.push_back(RegValue{std::string(name), type, std::string(data)});
    });
}

LONG ReadSubkeyNames(IRegistry& registry, HKEY key, std::vector<std::string>& names) {
    names.clear();
    std::vector<char> name(256);
    for (DWORD index = 0;;) {
        DWORD size = static_cast<DWORD>(name.size());
        FILETIME lastWrite{};
        const LONG status =
            registry.RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr, &lastWrite);
        if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (status == ERROR_MORE_DATA && name.size() < (1u << 16)) {
            name.resize(name.size() * 4);
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        names.emplace_back(name.data(), size);
        ++index;
    }
}

LONG ReadTree(IRegistry& registry, HKEY key, RegTree& node, bool recurse) {
    // Depth first over a stack of its own: what a damaged registry lists
    // cannot run the program out of stack, and no walk goes deeper than a
    // registry may be. One handle per level is open.
    struct Frame {
        RegTree* node;
        std::unique_ptr<CRegHandle> handle;  // null for the caller's key
        std::size_t next = 0;
    };
    const auto readKey = [&registry](HKEY at, RegTree& tree) {
        if (const LONG status = ReadValues(registry, at, tree.values); status != ERROR_SUCCESS) return status;
        std::vector<std::string> names;
        if (const LONG status = ReadSubkeyNames(registry, at, names); status != ERROR_SUCCESS) return status;
        for (std::string& name : names) {
            tree.subkeys.push_back(std::make_unique<RegTree>());
            tree.subkeys.back()->name = std::move(name);
        }
        return ERROR_SUCCESS;
    };
    if (const LONG status = readKey(key, node); status != ERROR_SUCCESS || !recurse) return status;
    std::vector<Frame> stack;
    stack.push_back({&node, nullptr});
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.node->subkeys.size()) {
            std::erase(top.node->subkeys, nullptr);
            stack.pop_back();
            continue;
        }
        const std::size_t at = top.next++;
        RegTree& child = *top.node->subkeys[at];
        const HKEY parent = top.handle ? top.handle->Get() : key;
        if (stack.size() > static_cast<std::size_t>(kMaxKeyDepth)) return kRegistryCorrupt;
        auto sub = std::make_unique<CRegHandle>(registry);
        const LONG status = registry.RegOpenKeyExA(parent, child.name.c_str(), 0, KEY_READ, sub->Receive());
        if (status == ERROR_FILE_NOT_FOUND || status == ERROR_KEY_DELETED) {
            top.node->subkeys[at].reset();  // gone while read: left out below
            continue;
        }
        if (status != ERROR_SUCCESS) return status;
        if (const LONG s = readKey(sub->Get(), child); s != ERROR_SUCCESS) return s;
        stack.push_back({&child, std::move(sub)});
    }
    return ERROR_SUCCESS;
}

std::string StoredSpelling(IRegistry& registry, HKEY base, const std::string& path) {
    std::string result;
    std::unique_ptr<CRegHandle> current;
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        const HKEY parent = current ? current->Get() : base;
        std::string spelled = part;
        if (ReadSubkeyNames(registry, parent, names) == ERROR_SUCCESS)
            for (const std::string& n : names)
                if (NamesEqual(n, part)) spelled = n;
        result = JoinKey(result, spelled);
        auto next = std::make_unique<CRegHandle>(registry);
        if (registry.RegOpenKeyExA(parent, part.c_str(), 0, KEY_READ, next->Receive()) != ERROR_SUCCESS) {
            // Nothing more to look up: keep the rest as typed.
            if (start < path.size()) result = JoinKey(result, path.substr(start));
            return result;
        }
        current = std::move(next);
    }
    return result;
}

const RegValue* FindValue(const std::vector<RegValue>& values, std::string_view name) {
    for (const RegValue& v : values)
        if (NamesEqual(v.name, name)) return &v;
    return nullptr;
}

CWriteBatch::CWriteBatch(IRegistry& registry) : m_batch(dynamic_cast<IRegistryBatch*>(&registry)) {}

CWriteBatch::~CWriteBatch() {
    if (m_open) m_batch->RollbackBatch();
}

LONG CWriteBatch::Begin() {
    if (m_batch == nullptr) return ERROR_SUCCESS;
    const LONG status = m_batch->BeginBatch();
    m_open = status == ERROR_SUCCESS;
    return status;
}

LONG CWriteBatch::Commit() {
    if (!m_open) return ERROR_SUCCESS;
    m_open = false;
    return m_batch->CommitBatch();
}

}  // namespace qv
