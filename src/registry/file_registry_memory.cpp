// CFileRegistry for builds without hivex (Windows): the keys held in memory
// (a .reg file, a Wine prefix) behave as in file_registry.cpp; a hive file
// is refused with a message that says hives are read on Linux only for now.
#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "model/key_node.h"
#include "model/open_key.h"
#include "model/text_encoding.h"
#include "registry/file_registry.h"

namespace qv {

namespace {

constexpr LONG kErrorNoAccess = 998;
constexpr std::size_t kMaxValueNameLength = 16383;

bool SameKeyName(std::string_view a, std::string_view b) { return FoldNameAnyScript(a) == FoldNameAnyScript(b); }

std::size_t RootSlot(HKEY root) {
    return static_cast<std::size_t>(reinterpret_cast<std::intptr_t>(root) -
                                    reinterpret_cast<std::intptr_t>(HKEY_CLASSES_ROOT));
}

}  // namespace

struct CFileRegistry::Impl {
    struct Handle {
        KeyNode* node = nullptr;
        std::size_t depth = 0;
        REGSAM access = 0;
        bool deleted = false;
    };
    std::array<std::unique_ptr<KeyNode>, 7> roots;
    std::unordered_map<std::uintptr_t, Handle> handles;
    std::uintptr_t nextHandle = 0x1000;
    std::string sealed;

    // The key of `key`, with its depth and access; a root only while it exists.
    LONG Resolve(HKEY key, Handle& at) {
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (IsPredefinedKey(key)) {
            KeyNode* root = roots[RootSlot(key)].get();
            if (root == nullptr) return ERROR_FILE_NOT_FOUND;
            at = {root, 0, KEY_ALL_ACCESS, false};
            return ERROR_SUCCESS;
        }
        const auto found = handles.find(reinterpret_cast<std::uintptr_t>(key));
        if (found == handles.end()) return ERROR_INVALID_HANDLE;
        if (found->second.deleted) return ERROR_KEY_DELETED;
        at = found->second;
        return ERROR_SUCCESS;
    }

    static KeyNode* Child(KeyNode* node, std::string_view name) {
        for (const auto& sub : node->subkeys)
            if (SameKeyName(sub->name, name)) return sub.get();
        return nullptr;
    }

    // Walks `parts` down from `at`; `reached` counts the parts found.
    static KeyNode* Walk(KeyNode* at, const std::vector<std::string_view>& parts, std::size_t& reached) {
        reached = 0;
        for (const std::string_view part : parts) {
            KeyNode* next = Child(at, part);
            if (next == nullptr) break;
            at = next;
            ++reached;
        }
        return at;
    }

    HKEY AddHandle(KeyNode* node, std::size_t depth, REGSAM access) {
        const std::uintptr_t value = nextHandle;
        nextHandle += 16;
        handles[value] = {node, depth, access, false};
        return reinterpret_cast<HKEY>(value);
    }
};

CFileRegistry::CFileRegistry() : m_impl(std::make_unique<Impl>()) {}
CFileRegistry::~CFileRegistry() = default;

bool CFileRegistry::MountHive(HKEY, const std::string&, const std::string& file, bool, std::string& error) {
    error = file + ": hive files are read only by the Linux build of Quorvane for now; export the key with "
                   "reg export and name the .reg file instead.";
    return false;
}

// The file's keys are read; this build never writes them (the keys in
// memory are sealed by whoever opened it).
bool CFileRegistry::MountMemoryFile(HKEY root, const std::string& path, const std::string& file,
                                    CMemoryFileHooks hooks, std::string, std::string& error) {
    std::lock_guard lock(m_mutex);
    if (!IsPredefinedKey(root)) {
        error = "no root key to mount " + file + " at";
        return false;
    }
    std::unique_ptr<KeyNode>& slot = m_impl->roots[RootSlot(root)];
    if (!slot) slot = std::make_unique<KeyNode>(std::string());
    KeyNode* base = slot.get();
    std::vector<std::string_view> parts;
    SplitKeyPath(path.c_str(), parts, NameLimit::kNone);
    for (const std::string_view part : parts) {
        KeyNode* next = Impl::Child(base, part);
        base = next != nullptr ? next : base->AppendSubkey(std::make_unique<KeyNode>(std::string(part)));
    }
    if (base->IsLoaded()) {
        error = file + ": its keys would go where another file's are.";
        return false;
    }
    return hooks.read(*base, error);
}

std::vector<std::string> CFileRegistry::Notices() const { return {}; }
std::string CFileRegistry::Damage() const { return {}; }

void CFileRegistry::Seal(std::string reason) {
    std::lock_guard lock(m_mutex);
    m_impl->sealed = reason.empty() ? std::string("read-only") : std::move(reason);
}

std::string CFileRegistry::ReadOnlyReason() const {
    std::lock_guard lock(m_mutex);
    return m_impl->sealed;
}

void CFileRegistry::OnWriteFailure(std::function<void(const std::string&)>) {}
void CFileRegistry::SetLargestHive(std::uint64_t) {}

std::size_t CFileRegistry::OpenHandleCount() const {
    std::lock_guard lock(m_mutex);
    return m_impl->handles.size();
}

LONG CFileRegistry::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    std::lock_guard lock(m_mutex);
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpMachineName != nullptr && *lpMachineName != '\0') return ERROR_BAD_NETPATH;
    if (!IsPredefinedKey(hKey)) return ERROR_INVALID_HANDLE;
    Impl::Handle at;
    if (const LONG status = m_impl->Resolve(hKey, at); status != ERROR_SUCCESS) return status;
    *phkResult = hKey;
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, HKEY* phkResult) {
    std::lock_guard lock(m_mutex);
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Impl::Handle base;
    if (const LONG status = m_impl->Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string_view> parts;
    if (const LONG status = SplitKeyPath(lpSubKey, parts, NameLimit::kUtf16Characters); status != ERROR_SUCCESS)
        return status;
    if (parts.empty() && IsPredefinedKey(hKey)) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    std::size_t reached = 0;
    KeyNode* at = Impl::Walk(base.node, parts, reached);
    if (reached != parts.size()) return ERROR_FILE_NOT_FOUND;
    *phkResult = m_impl->AddHandle(at, base.depth + reached, samDesired);
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, char*, DWORD, REGSAM samDesired,
                                    SECURITY_ATTRIBUTES*, HKEY* phkResult, DWORD* lpdwDisposition) {
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    // While the keys take writes, a root key is made on first use.
    if (IsPredefinedKey(hKey) && impl.sealed.empty() && !impl.roots[RootSlot(hKey)])
        impl.roots[RootSlot(hKey)] = std::make_unique<KeyNode>(std::string());
    Impl::Handle base;
    if (const LONG status = impl.Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string_view> parts;
    if (const LONG status = SplitKeyPath(lpSubKey, parts, NameLimit::kUtf16Characters); status != ERROR_SUCCESS)
        return status;
    if (base.depth + parts.size() > static_cast<std::size_t>(kMaxKeyDepth)) return ERROR_INVALID_PARAMETER;
    if (parts.empty() && IsPredefinedKey(hKey)) {
        *phkResult = hKey;
        if (lpdwDisposition) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }
    std::size_t reached = 0;
    KeyNode* at = Impl::Walk(base.node, parts, reached);
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (reached != parts.size()) {
        if (!impl.sealed.empty()) return ERROR_ACCESS_DENIED;
        for (std::size_t i = reached; i < parts.size(); ++i)
            at = at->AppendSubkey(std::make_unique<KeyNode>(std::string(parts[i])));
        disposition = REG_CREATED_NEW_KEY;
    }
    *phkResult = impl.AddHandle(at, base.depth + parts.size(), samDesired);
    if (lpdwDisposition) *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD*,
                                  DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    std::lock_guard lock(m_mutex);
    if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    Impl::Handle at;
    if (const LONG status = m_impl->Resolve(hKey, at); status != ERROR_SUCCESS) return status;
    if (!(at.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (dwIndex >= at.node->values.size()) return ERROR_NO_MORE_ITEMS;
    const ValueEntry& entry = *at.node->values[dwIndex];
    if (entry.name.size() >= *lpcchValueName) return ERROR_MORE_DATA;
    if (lpType != nullptr) *lpType = entry.type;
    if (lpcbData != nullptr) {
        if (lpData != nullptr && entry.data.size() > *lpcbData) {
            *lpcbData = static_cast<DWORD>(entry.data.size());
            return ERROR_MORE_DATA;
        }
        if (lpData != nullptr && !entry.data.empty()) std::memcpy(lpData, entry.data.data(), entry.data.size());
        *lpcbData = static_cast<DWORD>(entry.data.size());
    }
    std::memcpy(lpValueName, entry.name.c_str(), entry.name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(entry.name.size());
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD*, char* lpClass,
                                  DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
    std::lock_guard lock(m_mutex);
    if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
    Impl::Handle at;
    if (const LONG status = m_impl->Resolve(hKey, at); status != ERROR_SUCCESS) return status;
    if (!(at.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (dwIndex >= at.node->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& name = at.node->subkeys[dwIndex]->name;
    const bool wantClass = lpClass != nullptr && lpcchClass != nullptr;
    if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
    if (wantClass && *lpcchClass == 0) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (wantClass) {
        lpClass[0] = '\0';
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                   DWORD cbData) {
    std::lock_guard lock(m_mutex);
    Impl::Handle at;
    if (const LONG status = m_impl->Resolve(hKey, at); status != ERROR_SUCCESS) return status;
    if (!(at.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string name = lpValueName != nullptr ? lpValueName : "";
    if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    if (lpData == nullptr && cbData != 0) return kErrorNoAccess;
    if (!m_impl->sealed.empty()) return ERROR_ACCESS_DENIED;
    std::string data(reinterpret_cast<const char*>(lpData), lpData != nullptr ? cbData : 0);
    for (auto& entry : at.node->values) {
        if (SameKeyName(entry->name, name)) {
            entry->type = dwType;
            entry->data = std::move(data);
            return ERROR_SUCCESS;
        }
    }
    at.node->AppendValue(std::make_unique<ValueEntry>(name, dwType, std::move(data)));
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    std::lock_guard lock(m_mutex);
    Impl::Handle at;
    if (const LONG status = m_impl->Resolve(hKey, at); status != ERROR_SUCCESS) return status;
    if (!(at.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (!m_impl->sealed.empty()) return ERROR_ACCESS_DENIED;
    const std::string name = lpValueName != nullptr ? lpValueName : "";
    auto& values = at.node->values;
    const auto same =
        std::find_if(values.begin(), values.end(), [&](const auto& v) { return SameKeyName(v->name, name); });
    if (same == values.end()) return ERROR_FILE_NOT_FOUND;
    values.erase(same);
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    Impl::Handle base;
    if (const LONG status = impl.Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string_view> parts;
    if (const LONG status = SplitKeyPath(lpSubKey, parts, NameLimit::kUtf16Characters); status != ERROR_SUCCESS)
        return status;
    std::size_t reached = 0;
    KeyNode* at = Impl::Walk(base.node, parts, reached);
    if (reached != parts.size()) return ERROR_FILE_NOT_FOUND;
    if (!impl.sealed.empty()) return ERROR_ACCESS_DENIED;
    // The root keys stay, and so does a key with subkeys.
    if (at->parent == nullptr || !at->subkeys.empty()) return ERROR_ACCESS_DENIED;
    for (auto& [value, handle] : impl.handles)
        if (handle.node == at) handle.deleted = true;
    at->parent->DetachSubkey(at);
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegCloseKey(HKEY hKey) {
    if (IsPredefinedKey(hKey)) return ERROR_SUCCESS;
    std::lock_guard lock(m_mutex);
    return m_impl->handles.erase(reinterpret_cast<std::uintptr_t>(hKey)) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void CFileRegistry::ReportWriteFailure() {}

LONG CFileRegistry::BeginBatch() { return ERROR_SUCCESS; }
LONG CFileRegistry::CommitBatch() { return ERROR_SUCCESS; }
void CFileRegistry::RollbackBatch() {}

}  // namespace qv
