// The registry calls on this computer's store: argument checks, handles and
// access rights, then the reads and writes. Every call holds the mutex
// from start to end; the SQL itself is in store_connection.cpp.
#include "registry/store_registry.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "model/open_key.h"
#include "registry/store_internal.h"

namespace qv {

using namespace store;


LONG CStoreRegistry::Impl::Resolve(HKEY hKey, KeyRef& ref) {
    if (hKey == nullptr) return ERROR_INVALID_HANDLE;
    if (IsPredefinedKey(hKey)) {
        const auto index = static_cast<std::size_t>(reinterpret_cast<std::intptr_t>(hKey) -
                                                    reinterpret_cast<std::intptr_t>(HKEY_CLASSES_ROOT));
        // The store keeps no performance data and no Windows 9x dynamic data.
        if (hKey == HKEY_PERFORMANCE_DATA || hKey == HKEY_DYN_DATA) return ERROR_INVALID_HANDLE;
        const std::size_t slot = hKey == HKEY_CURRENT_CONFIG ? 4 : index;
        ref = {rootIds[slot], 0, 0, KEY_ALL_ACCESS, true, &rootCaches[slot]};
        return ERROR_SUCCESS;
    }
    const auto at = handles.find(reinterpret_cast<std::uintptr_t>(hKey));
    if (at == handles.end()) return ERROR_INVALID_HANDLE;
    Handle& handle = at->second;
    ref = {handle.keyId, handle.parent, handle.depth, handle.access, false, &handle.cache};
    return ERROR_SUCCESS;
}

// A walk that found its key in a subkey list read at the current stamp
// may know the key to be empty; the handle's snapshots then start out
// current instead of being read.
HKEY CStoreRegistry::Impl::AddHandle(const WalkResult& walk, std::size_t depth, REGSAM access) {
    const std::uintptr_t value = nextHandle;
    nextHandle += 4;
    Handle& handle = handles[value];
    handle.keyId = walk.id;
    handle.parent = walk.parent;
    handle.depth = depth;
    handle.access = EffectiveAccess(access);
    if (walk.noSubkeysAt >= 0) {
        auto empty = std::make_shared<ChildList>();
        empty->generation = walk.noSubkeysAt;
        empty->readAt = known.stamp;
        handle.cache.children = std::move(empty);
        handle.cache.childrenStamp = known.stamp;
    }
    return reinterpret_cast<HKEY>(value);
}

LONG CStoreRegistry::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    std::lock_guard lock(m_impl->mutex);
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    // Other computers are reached through the network back end, not the store.
    if (lpMachineName != nullptr && *lpMachineName != '\0') return ERROR_BAD_NETPATH;
    KeyRef ref;
    if (const LONG status = m_impl->Resolve(hKey, ref); status != ERROR_SUCCESS) return status;
    if (!ref.predefined) return ERROR_INVALID_HANDLE;
    *phkResult = hKey;
    return ERROR_SUCCESS;
}

LONG CStoreRegistry::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                                   HKEY* phkResult) {
    std::lock_guard lock(m_impl->mutex);
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    KeyRef base;
    if (const LONG status = m_impl->Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string_view>& parts = m_impl->parts;
    if (const LONG status = SplitKeyPath(lpSubKey, parts); status != ERROR_SUCCESS) return status;
    if (parts.empty() && base.predefined) {
        // As Win32: the predefined handle itself, which needs no closing.
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    WalkResult walk;
    if (const LONG status = m_impl->Walk(base, parts, walk); status != ERROR_SUCCESS) return status;
    if (walk.reached != parts.size()) return ERROR_FILE_NOT_FOUND;
    *phkResult = m_impl->AddHandle(walk, base.depth + parts.size(), samDesired);
    return ERROR_SUCCESS;
}

LONG CStoreRegistry::RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, char* lpClass,
                                     DWORD /*dwOptions*/, REGSAM samDesired,
                                     SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, HKEY* phkResult,
                                     DWORD* lpdwDisposition) {
    std::lock_guard lock(m_impl->mutex);
    Impl& impl = *m_impl;
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    KeyRef base;
    if (const LONG status = impl.Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string_view>& parts = m_impl->parts;
    if (const LONG status = SplitKeyPath(lpSubKey, parts); status != ERROR_SUCCESS) return status;
    if (base.depth + parts.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    if (parts.empty() && base.predefined) {
        *phkResult = hKey;
        if (lpdwDisposition) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }

    // Most creates find the key already there; they need no write lock.
    WalkResult walk;
    if (const LONG status = impl.Walk(base, parts, walk); status != ERROR_SUCCESS) return status;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (walk.reached != parts.size()) {
        Impl::CWrite write(impl);
        if (write.Status() != ERROR_SUCCESS) return write.Status();
        // Walk again: another process may have changed the path meanwhile.
        if (const LONG status = impl.Walk(base, parts, walk); status != ERROR_SUCCESS) return status;
        if (walk.reached != parts.size()) {
            if (const LONG status = impl.Touch(impl.touchKeys, walk.id); status != ERROR_SUCCESS) return status;
            const std::int64_t now = NowFileTime();
            for (std::size_t i = walk.reached; i < parts.size(); ++i) {
                const std::string folded = Fold(parts[i]);
                CRun run(impl.insertKey);
                run.Int(1, walk.id).Blob(2, parts[i]).Blob(3, folded).Int(5, now);
                // Only the key asked for gets the class, as under Wine.
                if (i + 1 == parts.size() && lpClass != nullptr) run.Blob(4, std::string_view(lpClass));
                else run.Null(4);
                const int rc = run.Step();
                if (rc != SQLITE_DONE) return impl.Fail(rc);
                walk.parent = walk.id;
                walk.id = sqlite3_last_insert_rowid(impl.db.get());
            }
            disposition = REG_CREATED_NEW_KEY;
        }
        if (const LONG status = write.Commit(); status != ERROR_SUCCESS) return status;
    }
    *phkResult = impl.AddHandle(walk, base.depth + parts.size(), samDesired);
    if (lpdwDisposition) *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

LONG CStoreRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* /*lpReserved*/, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    std::lock_guard lock(m_impl->mutex);
    Impl& impl = *m_impl;
    if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    KeyRef ref;
    if (const LONG status = impl.Resolve(hKey, ref); status != ERROR_SUCCESS) return status;
    if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;

    // Twice at most: a big value is read apart from the snapshot, and if the
    // key changed in between, the snapshot is taken again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const LONG status = impl.FreshValues(ref); status != ERROR_SUCCESS) return status;
        const ValueList& list = *ref.cache->values;
        if (dwIndex >= list.entries.size()) return ERROR_NO_MORE_ITEMS;
        const ValueList::Entry& entry = list.entries[dwIndex];
        if (entry.nameLength >= *lpcchValueName) return ERROR_MORE_DATA;

        std::string fetched;
        const char* data = list.bytes.data() + entry.dataAt;
        if (lpData != nullptr && entry.size <= *lpcbData && !entry.inlined && entry.size > 0) {
            CRun run(impl.valueData);
            run.Int(1, entry.id).Int(2, list.generation);
            const int rc = run.Step();
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) return impl.Fail(rc);
            if (rc == SQLITE_ROW) fetched.assign(run.ColumnBytes(0));
            if (rc == SQLITE_DONE || fetched.size() != entry.size) {
                ref.cache->values.reset();  // changed since the snapshot
                continue;
            }
            data = fetched.data();
        }
        if (lpType != nullptr) *lpType = entry.type;
        if (lpcbData != nullptr) {
            if (lpData != nullptr && entry.size > *lpcbData) {
                *lpcbData = static_cast<DWORD>(entry.size);
                return ERROR_MORE_DATA;
            }
            if (lpData != nullptr && entry.size > 0) std::memcpy(lpData, data, entry.size);
            *lpcbData = static_cast<DWORD>(entry.size);
        }
        if (entry.nameLength > 0) std::memcpy(lpValueName, list.bytes.data() + entry.nameAt, entry.nameLength);
        lpValueName[entry.nameLength] = '\0';
        *lpcchValueName = static_cast<DWORD>(entry.nameLength);
        return ERROR_SUCCESS;
    }
    return kErrorRegistryIoFailed;
}

LONG CStoreRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                                   DWORD* /*lpReserved*/, char* lpClass, DWORD* lpcchClass,
                                   FILETIME* lpftLastWriteTime) {
    std::lock_guard lock(m_impl->mutex);
    Impl& impl = *m_impl;
    if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
    KeyRef ref;
    if (const LONG status = impl.Resolve(hKey, ref); status != ERROR_SUCCESS) return status;
    if (!(ref.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (const LONG status = impl.FreshChildren(ref); status != ERROR_SUCCESS) return status;
    const ChildList& list = *ref.cache->children;
    if (dwIndex >= list.entries.size()) return ERROR_NO_MORE_ITEMS;
    const ChildList::Entry& entry = list.entries[dwIndex];
    const bool wantClass = lpClass != nullptr && lpcchClass != nullptr;
    // Nothing is written unless everything fits.
    if (entry.nameLength >= *lpcchName) return ERROR_MORE_DATA;
    if (wantClass && entry.classLength >= *lpcchClass) return ERROR_MORE_DATA;

    std::memcpy(lpName, list.text.data() + entry.nameAt, entry.nameLength);
    lpName[entry.nameLength] = '\0';
    *lpcchName = static_cast<DWORD>(entry.nameLength);
    if (wantClass) {
        if (entry.classLength > 0) std::memcpy(lpClass, list.text.data() + entry.classAt, entry.classLength);
        lpClass[entry.classLength] = '\0';
        *lpcchClass = static_cast<DWORD>(entry.classLength);
    }
    if (lpftLastWriteTime != nullptr) {
        const auto ticks = static_cast<std::uint64_t>(entry.written);
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffffu);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    }
    return ERROR_SUCCESS;
}

LONG CStoreRegistry::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
    std::lock_guard lock(m_impl->mutex);
    Impl& impl = *m_impl;
    KeyRef ref;
    if (const LONG status = impl.Resolve(hKey, ref); status != ERROR_SUCCESS) return status;
    if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string_view name = lpValueName != nullptr ? lpValueName : "";
    if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    if (lpData == nullptr && cbData != 0) return kErrorNoAccess;

    Impl::CWrite write(impl);
    if (write.Status() != ERROR_SUCCESS) return write.Status();
    if (const LONG status = impl.Touch(impl.touchValues, ref.id); status != ERROR_SUCCESS) return status;
    const std::string folded = Fold(name);
    CRun run(impl.upsertValue);
    run.Int(1, ref.id).Blob(2, name).Blob(3, folded).Int(4, dwType).Blob(5, lpData, cbData);
    const int rc = run.Step();
    if (rc != SQLITE_DONE) return impl.Fail(rc);
    return write.Commit();
}

LONG CStoreRegistry::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    std::lock_guard lock(m_impl->mutex);
    Impl& impl = *m_impl;
    KeyRef ref;
    if (const LONG status = impl.Resolve(hKey, ref); status != ERROR_SUCCESS) return status;
    if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string folded = Fold(lpValueName != nullptr ? lpValueName : "");

    Impl::CWrite write(impl);
    if (write.Status() != ERROR_SUCCESS) return write.Status();
    {
        CRun run(impl.deleteValue);
        run.Int(1, ref.id).Blob(2, folded);
        const int rc = run.Step();
        if (rc != SQLITE_DONE) return impl.Fail(rc);
    }
    if (sqlite3_changes(impl.db.get()) == 0) {
        const LONG status = impl.KeyState(ref.id, nullptr, nullptr, nullptr);
        return status != ERROR_SUCCESS ? status : ERROR_FILE_NOT_FOUND;
    }
    if (const LONG status = impl.Touch(impl.touchValues, ref.id); status != ERROR_SUCCESS) return status;
    return write.Commit();
}

LONG CStoreRegistry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    std::lock_guard lock(m_impl->mutex);
    Impl& impl = *m_impl;
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    KeyRef base;
    if (const LONG status = impl.Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string_view>& parts = m_impl->parts;
    if (const LONG status = SplitKeyPath(lpSubKey, parts); status != ERROR_SUCCESS) return status;
    // An empty path deletes the handle's own key; roots stay.
    if (parts.empty() && base.predefined) return ERROR_ACCESS_DENIED;

    Impl::CWrite write(impl);
    if (write.Status() != ERROR_SUCCESS) return write.Status();
    WalkResult walk;
    if (const LONG status = impl.Walk(base, parts, walk); status != ERROR_SUCCESS) return status;
    if (walk.reached != parts.size()) return ERROR_FILE_NOT_FOUND;
    const std::int64_t id = walk.id;
    std::int64_t parent = 0;
    if (const LONG status = impl.KeyState(id, nullptr, nullptr, &parent); status != ERROR_SUCCESS)
        return status;
    {
        CRun run(impl.hasChild);
        run.Int(1, id);
        const int rc = run.Step();
        if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
        if (rc != SQLITE_DONE) return impl.Fail(rc);
    }
    for (const CStatement* statement : {&impl.deleteKeyValues, &impl.deleteKey}) {
        CRun run(*statement);
        run.Int(1, id);
        const int rc = run.Step();
        if (rc != SQLITE_DONE) return impl.Fail(rc);
    }
    if (const LONG status = impl.Touch(impl.touchKeys, parent); status != ERROR_SUCCESS) return status;
    return write.Commit();
}

LONG CStoreRegistry::RegCloseKey(HKEY hKey) {
    std::lock_guard lock(m_impl->mutex);
    if (IsPredefinedKey(hKey)) return ERROR_SUCCESS;
    return m_impl->handles.erase(reinterpret_cast<std::uintptr_t>(hKey)) != 0 ? ERROR_SUCCESS
                                                                              : ERROR_INVALID_HANDLE;
}

LONG CStoreRegistry::BeginBatch() {
    std::lock_guard lock(m_impl->mutex);
    if (m_impl->batchDepth == 0) {
        const int rc = m_impl->Exec(m_impl->begin);
        if (rc != SQLITE_OK) return m_impl->Fail(rc);
        m_impl->batchTicket = m_impl->stamp.BeginWrite();
    }
    ++m_impl->batchDepth;
    return ERROR_SUCCESS;
}

LONG CStoreRegistry::CommitBatch() {
    std::lock_guard lock(m_impl->mutex);
    if (m_impl->batchDepth == 0) return ERROR_INVALID_PARAMETER;
    if (--m_impl->batchDepth > 0) return ERROR_SUCCESS;
    const int rc = m_impl->Exec(m_impl->commit);
    if (rc == SQLITE_OK) {
        m_impl->stamp.EndWrite(m_impl->batchTicket);
        return ERROR_SUCCESS;
    }
    const LONG status = m_impl->Fail(rc);
    m_impl->Exec(m_impl->rollback);
    m_impl->DropCaches();
    m_impl->stamp.EndWrite(m_impl->batchTicket);
    return status;
}

void CStoreRegistry::RollbackBatch() {
    std::lock_guard lock(m_impl->mutex);
    if (m_impl->batchDepth == 0) return;
    m_impl->batchDepth = 0;
    m_impl->Exec(m_impl->rollback);
    m_impl->DropCaches();
    m_impl->stamp.EndWrite(m_impl->batchTicket);
}

const std::string& CStoreRegistry::Path() const { return m_impl->path; }

bool CStoreRegistry::ReadOnly() const { return m_impl->readOnly; }

std::string CStoreRegistry::LastError() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->lastError;
}

std::size_t CStoreRegistry::OpenHandleCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->handles.size();
}

}  // namespace qv
