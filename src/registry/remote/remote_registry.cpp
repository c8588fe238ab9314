// The registry calls of a network side, each turned into requests to the
// computer's quorvane-regd (see remote_session.h for the state they share).
#include "registry/remote/remote_registry.h"

#include <cstring>

#include "registry/remote/remote_session.h"

namespace qv {

CRemoteRegistry::CRemoteRegistry(RemoteOptions options) : m_impl(std::make_unique<Impl>(std::move(options))) {}

CRemoteRegistry::~CRemoteRegistry() = default;

std::uint64_t CRemoteRegistry::RequestCount() const { return m_impl->requests.load(); }

std::size_t CRemoteRegistry::OpenHandleCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->keys.size();
}

LONG CRemoteRegistry::Ping(const std::string& computer) {
    Computer* found;
    {
        std::lock_guard lock(m_impl->mutex);
        found = m_impl->ComputerFor(computer);
    }
    return found == nullptr ? ERROR_BAD_NETPATH : m_impl->Ping(*found);
}

LONG CRemoteRegistry::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    const int root = RootNumber(hKey);
    if (root == 0) return ERROR_INVALID_HANDLE;
    if (lpMachineName == nullptr || *lpMachineName == '\0') return ERROR_BAD_NETPATH;
    Computer* computer;
    bool check;
    {
        std::lock_guard lock(m_impl->mutex);
        computer = m_impl->ComputerFor(lpMachineName);
        if (computer == nullptr) return ERROR_BAD_NETPATH;
        // A channel that answered and is still connected needs no new check.
        check = !computer->verified || !computer->channel ||
                computer->channel->GetState(false) != GRPC_CHANNEL_READY;
    }
    if (check) {
        if (const LONG status = m_impl->Ping(*computer); status != ERROR_SUCCESS) return status;
    }
    auto key = std::make_unique<Key>();
    key->computer = computer;
    key->root = root;
    key->access = KEY_ALL_ACCESS;
    key->isRoot = true;
    std::lock_guard lock(m_impl->mutex);
    *phkResult = m_impl->AddKey(std::move(key));
    return ERROR_SUCCESS;
}

LONG CRemoteRegistry::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                                    HKEY* phkResult) {
    return m_impl->OpenOrCreate(hKey, lpSubKey, false, nullptr, samDesired, phkResult, nullptr);
}

LONG CRemoteRegistry::RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, char* lpClass,
                                      DWORD /*dwOptions*/, REGSAM samDesired,
                                      SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, HKEY* phkResult,
                                      DWORD* lpdwDisposition) {
    return m_impl->OpenOrCreate(hKey, lpSubKey, true, lpClass, samDesired, phkResult, lpdwDisposition);
}

LONG CRemoteRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                    DWORD* /*lpReserved*/, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    Key* key;
    {
        std::lock_guard lock(m_impl->mutex);
        key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (!key->isRoot && !(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    }
    // Twice at most: data fetched apart may show the key changed meanwhile.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const LONG status = m_impl->Fresh(*key); status != ERROR_SUCCESS) return status;
        const std::shared_ptr<const v1::Snapshot> snapshot = key->snapshot;
        if (dwIndex >= static_cast<DWORD>(snapshot->values_size())) return ERROR_NO_MORE_ITEMS;
        const v1::Value& value = snapshot->values(static_cast<int>(dwIndex));
        if (value.name().size() >= *lpcchValueName) return ERROR_MORE_DATA;

        DWORD type = value.type();
        const std::string* data = &value.data();
        std::uint64_t size = value.data_omitted() ? value.size() : value.data().size();
        v1::GetValueReply fetched;
        if (lpData != nullptr && value.data_omitted() && size <= *lpcbData && size > 0) {
            v1::GetValueRequest request;
            request.set_root(static_cast<v1::Root>(key->root));
            request.set_path(key->path);
            request.set_name(value.name());
            request.set_index_hint(dwIndex);
            LONG status = m_impl->Call(*key->computer, &v1::Registry::Stub::GetValue, request, fetched,
                                       m_impl->options.callTimeout);
            if (status == ERROR_SUCCESS) status = fetched.status();
            if (status == ERROR_FILE_NOT_FOUND) {
                std::lock_guard lock(m_impl->mutex);
                key->snapshot.reset();  // changed since the snapshot
                continue;
            }
            if (status != ERROR_SUCCESS) return status;
            type = fetched.type();
            data = &fetched.data();
            size = data->size();
        }
        if (lpType != nullptr) *lpType = type;
        if (lpcbData != nullptr) {
            if (lpData != nullptr && size > *lpcbData) {
                *lpcbData = static_cast<DWORD>(size);
                return ERROR_MORE_DATA;
            }
            if (lpData != nullptr && size > 0) std::memcpy(lpData, data->data(), size);
            *lpcbData = static_cast<DWORD>(size);
        }
        const std::string& name = value.name();
        if (!name.empty()) std::memcpy(lpValueName, name.data(), name.size());
        lpValueName[name.size()] = '\0';
        *lpcchValueName = static_cast<DWORD>(name.size());
        return ERROR_SUCCESS;
    }
    return kErrorRegistryIoFailed;
}

LONG CRemoteRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                                    DWORD* /*lpReserved*/, char* lpClass, DWORD* lpcchClass,
                                    FILETIME* lpftLastWriteTime) {
    if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
    Key* key;
    {
        std::lock_guard lock(m_impl->mutex);
        key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (!key->isRoot && !(key->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    }
    if (const LONG status = m_impl->Fresh(*key); status != ERROR_SUCCESS) return status;
    const std::shared_ptr<const v1::Snapshot> snapshot = key->snapshot;
    if (dwIndex >= static_cast<DWORD>(snapshot->subkeys_size())) return ERROR_NO_MORE_ITEMS;
    const v1::Subkey& subkey = snapshot->subkeys(static_cast<int>(dwIndex));
    const std::string& name = subkey.name();
    const std::string& keyClass = subkey.key_class();
    const bool wantClass = lpClass != nullptr && lpcchClass != nullptr;
    // Nothing is written unless everything fits.
    if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
    if (wantClass && keyClass.size() >= *lpcchClass) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.data(), name.size());
    lpName[name.size()] = '\0';
    *lpcchName = static_cast<DWORD>(name.size());
    if (wantClass) {
        if (!keyClass.empty()) std::memcpy(lpClass, keyClass.data(), keyClass.size());
        lpClass[keyClass.size()] = '\0';
        *lpcchClass = static_cast<DWORD>(keyClass.size());
    }
    if (lpftLastWriteTime != nullptr) {
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(subkey.last_write() & 0xffffffffu);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(subkey.last_write() >> 32);
    }
    return ERROR_SUCCESS;
}

LONG CRemoteRegistry::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData) {
    v1::SetValueRequest request;
    Computer* computer;
    {
        std::lock_guard lock(m_impl->mutex);
        const Key* key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (key->deleted) return ERROR_KEY_DELETED;
        if (!key->isRoot && !(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        computer = key->computer;
        request.set_root(static_cast<v1::Root>(key->root));
        request.set_path(key->path);
    }
    const std::string_view name = lpValueName != nullptr ? lpValueName : "";
    if (name.size() > kMaxNameBytes) return ERROR_INVALID_PARAMETER;
    if (lpData == nullptr && cbData != 0) return kErrorNoAccess;
    if (cbData > kMaxDataBytes) return ERROR_INVALID_PARAMETER;
    request.set_name(std::string(name));
    request.set_type(dwType);
    if (cbData > 0) request.set_data(lpData, cbData);
    v1::StatusReply reply;
    LONG status = m_impl->Call(*computer, &v1::Registry::Stub::SetValue, request, reply, m_impl->options.callTimeout);
    if (status == ERROR_SUCCESS) status = reply.status();
    std::lock_guard lock(m_impl->mutex);
    m_impl->MarkWritten(*computer);
    if (status == ERROR_KEY_DELETED) {
        if (Key* key = m_impl->Find(hKey)) key->deleted = true;
    }
    return status;
}

LONG CRemoteRegistry::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    v1::DeleteValueRequest request;
    Computer* computer;
    {
        std::lock_guard lock(m_impl->mutex);
        const Key* key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (key->deleted) return ERROR_KEY_DELETED;
        if (!key->isRoot && !(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        computer = key->computer;
        request.set_root(static_cast<v1::Root>(key->root));
        request.set_path(key->path);
    }
    request.set_name(lpValueName != nullptr ? lpValueName : "");
    v1::StatusReply reply;
    LONG status =
        m_impl->Call(*computer, &v1::Registry::Stub::DeleteValue, request, reply, m_impl->options.callTimeout);
    if (status == ERROR_SUCCESS) status = reply.status();
    std::lock_guard lock(m_impl->mutex);
    m_impl->MarkWritten(*computer);
    if (status == ERROR_KEY_DELETED) {
        if (Key* key = m_impl->Find(hKey)) key->deleted = true;
    }
    return status;
}

LONG CRemoteRegistry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    v1::DeleteKeyRequest request;
    Computer* computer;
    int root;
    std::string gone;
    {
        std::lock_guard lock(m_impl->mutex);
        const Key* key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (key->deleted) return ERROR_KEY_DELETED;
        computer = key->computer;
        root = key->root;
        gone = FoldName(JoinKeyPath(key->path, lpSubKey));
        request.set_root(static_cast<v1::Root>(root));
        request.set_path(key->path);
    }
    request.set_subkey(lpSubKey);
    v1::StatusReply reply;
    LONG status = m_impl->Call(*computer, &v1::Registry::Stub::DeleteKey, request, reply, m_impl->options.callTimeout);
    if (status == ERROR_SUCCESS) status = reply.status();
    std::lock_guard lock(m_impl->mutex);
    m_impl->MarkWritten(*computer);
    if (status == ERROR_KEY_DELETED) {
        if (Key* key = m_impl->Find(hKey)) key->deleted = true;
    }
    if (status != ERROR_SUCCESS) return status;
    // Every handle to the key (or below it, which can only be gone too)
    // now answers as a deleted key's does, even after a namesake is made.
    for (auto& [id, key] : m_impl->keys) {
        if (key->computer != computer || key->root != root || key->isRoot) continue;
        const std::string folded = FoldName(key->path);
        if (folded == gone || (folded.size() > gone.size() && folded.compare(0, gone.size(), gone) == 0 &&
                               folded[gone.size()] == '\\'))
            key->deleted = true;
    }
    return ERROR_SUCCESS;
}

LONG CRemoteRegistry::RegCloseKey(HKEY hKey) {
    if (IsPredefinedKey(hKey)) return ERROR_SUCCESS;
    std::lock_guard lock(m_impl->mutex);
    const auto found = m_impl->keys.find(reinterpret_cast<std::uintptr_t>(hKey));
    if (found == m_impl->keys.end()) return ERROR_INVALID_HANDLE;
    const Key& key = *found->second;
    if (!key.isRoot) {
        const auto open = key.computer->open.find(PlaceOf(key.root, key.path));
        if (open != key.computer->open.end() && --open->second == 0) key.computer->open.erase(open);
    }
    m_impl->keys.erase(found);
    return ERROR_SUCCESS;
}

}  // namespace qv
