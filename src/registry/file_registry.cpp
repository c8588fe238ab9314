#include "registry/file_registry.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/key_node.h"
#include "model/open_key.h"
#include "model/text_encoding.h"

namespace qv {

namespace {

constexpr LONG kErrorBadPathname = 161;
constexpr LONG kErrorNoAccess = 998;
constexpr LONG kErrorRegistryCorrupt = 1015;
constexpr LONG kErrorRegistryIoFailed = 1016;
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// Memory hivex hands out, freed when the holder goes.
template <typename T>
struct CMalloced {
    T* p;
    explicit CMalloced(T* pointer) : p(pointer) {}
    ~CMalloced() { std::free(p); }
    CMalloced(const CMalloced&) = delete;
    CMalloced& operator=(const CMalloced&) = delete;
};

std::string Reason(int error) { return std::strerror(error); }

// Splits a path as the store does: no leading backslash, runs of them are
// one separator.
LONG SplitPath(const char* path, std::vector<std::string>& parts) {
    parts.clear();
    if (path == nullptr || *path == '\0') return ERROR_SUCCESS;
    if (*path == '\\') return kErrorBadPathname;
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        if (!part.empty()) {
            if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
            parts.emplace_back(part);
        }
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    return ERROR_SUCCESS;
}

std::size_t RootSlot(HKEY root) {
    return static_cast<std::size_t>(reinterpret_cast<std::intptr_t>(root) -
                                    reinterpret_cast<std::intptr_t>(HKEY_CLASSES_ROOT));
}

// A hive value's type is any 32-bit number, and hivex carries it in an enum
// that names only a few: it is moved in and out as bytes, never read as the
// enum (which would be undefined for the numbers it does not name).
static_assert(sizeof(hive_type) == sizeof(DWORD));

char* ValueBytes(hive_h* h, hive_value_h value, DWORD& type, std::size_t& length) {
    hive_type raw;
    char* bytes = hivex_value_value(h, value, &raw, &length);
    std::memcpy(&type, &raw, sizeof type);
    return bytes;
}

hive_set_value SetValue(char* name, DWORD type, std::string& data) {
    hive_set_value set{};
    set.key = name;
    std::memcpy(&set.t, &type, sizeof type);
    set.len = data.size();
    set.value = data.data();
    return set;
}

bool SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

struct CFileRegistry::Impl {
    struct Hive {
        std::string file;
        hive_h* h = nullptr;
        bool writable = false;
        std::string readOnlyReason;
        bool backedUp = false;
        bool dirty = false;
        std::size_t openHandles = 0;
        std::uint64_t generation = 0;
        std::vector<hive_node_h> createdSinceWrite;
    };

    // Where a key is: in memory, or a node of a hive.
    struct Location {
        KeyNode* mem = nullptr;
        Hive* hive = nullptr;
        hive_node_h node = 0;
        std::size_t depth = 0;
        bool predefined = false;
    };

    struct Handle {
        Location at;
        REGSAM access = 0;
        bool deleted = false;
        // What a hive key held when last listed, by the hive's generation.
        std::uint64_t listedAt = ~std::uint64_t{0};
        std::vector<hive_node_h> children;
        std::vector<hive_value_h> values;
    };

    std::array<std::unique_ptr<KeyNode>, 7> roots;
    std::unordered_map<const KeyNode*, Hive*> mounts;
    std::vector<std::unique_ptr<Hive>> hives;
    std::unordered_map<std::uintptr_t, Handle> handles;
    std::uintptr_t nextHandle = 0x1000;
    std::string sealed;  // why memory keys refuse writes; empty while they take them
    int batchDepth = 0;
    std::function<void(const std::string&)> onWriteFailure;
    std::string pendingFailure;

    ~Impl() {
        for (auto& hive : hives) {
            if (hive->dirty) WriteBack(*hive);
            hivex_close(hive->h);
        }
    }

    // A mount point is the root of its hive.
    Location Enter(KeyNode* node, std::size_t depth) const {
        const auto mount = mounts.find(node);
        if (mount == mounts.end()) return {node, nullptr, 0, depth, false};
        return {nullptr, mount->second, hivex_root(mount->second->h), depth, false};
    }

    LONG Resolve(HKEY key, Location& at, Handle** handle = nullptr) {
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (IsPredefinedKey(key)) {
            KeyNode* root = roots[RootSlot(key)].get();
            if (root == nullptr) return ERROR_FILE_NOT_FOUND;
            at = Enter(root, 0);
            at.predefined = true;
            return ERROR_SUCCESS;
        }
        const auto found = handles.find(reinterpret_cast<std::uintptr_t>(key));
        if (found == handles.end()) return ERROR_INVALID_HANDLE;
        if (found->second.deleted) return ERROR_KEY_DELETED;
        at = found->second.at;
        if (handle != nullptr) *handle = &found->second;
        return ERROR_SUCCESS;
    }

    REGSAM Access(HKEY key) const {
        if (IsPredefinedKey(key)) return KEY_ALL_ACCESS;
        const auto found = handles.find(reinterpret_cast<std::uintptr_t>(key));
        return found != handles.end() ? found->second.access : 0;
    }

    // The child named `name` (in any case); false with `status` 0 when there
    // is none, or the failure.
    bool Child(const Location& at, const std::string& name, Location& child, LONG& status) const {
        status = ERROR_SUCCESS;
        if (at.mem != nullptr) {
            for (const auto& sub : at.mem->subkeys) {
                if (SameName(sub->name, name)) {
                    child = Enter(sub.get(), at.depth + 1);
                    return true;
                }
            }
            return false;
        }
        errno = 0;
        const hive_node_h node = hivex_node_get_child(at.hive->h, at.node, name.c_str());
        if (node == 0) {
            if (errno != 0) status = kErrorRegistryCorrupt;
            return false;
        }
        child = {nullptr, at.hive, node, at.depth + 1, false};
        return true;
    }

    LONG Walk(Location at, const std::vector<std::string>& parts, Location& reached, std::size_t& count) const {
        count = 0;
        for (const std::string& part : parts) {
            Location next;
            LONG status;
            if (!Child(at, part, next, status)) {
                reached = at;
                return status;
            }
            at = next;
            ++count;
        }
        reached = at;
        return ERROR_SUCCESS;
    }

    HKEY AddHandle(const Location& at, REGSAM access) {
        const std::uintptr_t value = nextHandle;
        nextHandle += 4;
        Handle& handle = handles[value];
        handle.at = at;
        handle.at.predefined = false;
        handle.access = EffectiveAccess(access);
        if (at.hive != nullptr) ++at.hive->openHandles;
        return reinterpret_cast<HKEY>(value);
    }

    // Why a write to `at` is refused, or 0 when it may go ahead.
    LONG MayWrite(const Location& at) const {
        if (at.hive != nullptr) return at.hive->writable ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
        return sealed.empty() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }

    // Bookkeeping after a change to a hive; it is written back once nothing
    // has a handle open into it any more (at once for a change made through
    // a root's predefined handle, which is never closed).
    void Changed(Hive& hive) {
        hive.dirty = true;
        ++hive.generation;
    }

    LONG WriteBackIfIdle(Hive& hive) {
        if (!hive.dirty || hive.openHandles != 0 || batchDepth != 0) return ERROR_SUCCESS;
        return WriteBack(hive);
    }

    // The hive's file as hivex holds it now, through a temporary file.
    LONG WriteBack(Hive& hive) {
        std::string failure;
        const std::string temporary = hive.file + ".quorvane-tmp";
        struct stat original {};
        if (::stat(hive.file.c_str(), &original) != 0) failure = "cannot read " + hive.file + ": " + Reason(errno);
        if (failure.empty() && !hive.backedUp) {
            std::error_code error;
            const std::string backup = hive.file + ".quorvane-bak";
            std::filesystem::copy_file(hive.file, temporary, std::filesystem::copy_options::overwrite_existing, error);
            if (!error && SyncPath(temporary, O_RDONLY))
                std::filesystem::rename(temporary, backup, error);
            else if (!error)
                error = std::error_code(errno, std::generic_category());
            if (error) failure = "cannot keep a copy of it in " + backup + ": " + error.message();
            else hive.backedUp = true;
        }
        if (failure.empty()) {
            if (hivex_commit(hive.h, temporary.c_str(), 0) != 0 || !SyncPath(temporary, O_RDONLY) ||
                ::chmod(temporary.c_str(), original.st_mode & 07777) != 0 ||
                ::rename(temporary.c_str(), hive.file.c_str()) != 0) {
                failure = Reason(errno);
            } else {
                const std::string folder = std::filesystem::path(hive.file).parent_path().string();
                SyncPath(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
            }
        }
        if (failure.empty()) {
            hive.dirty = false;
            hive.createdSinceWrite.clear();
            return ERROR_SUCCESS;
        }
        ::unlink(temporary.c_str());
        Revert(hive);
        // Told once the lock is let go: the report may show a message box.
        pendingFailure = "Can't write the hive " + hive.file + ": " + failure +
                         ". The last change was not saved; Load Subtree shows the file as it is.";
        return kErrorRegistryIoFailed;
    }

    // Drops what was changed since the hive was last written: it is read
    // from its file again. Keys made since then are gone for their handles.
    void Revert(Hive& hive) {
        for (auto& [value, handle] : handles) {
            if (handle.at.hive == &hive &&
                std::find(hive.createdSinceWrite.begin(), hive.createdSinceWrite.end(), handle.at.node) !=
                    hive.createdSinceWrite.end())
                handle.deleted = true;
        }
        hive.createdSinceWrite.clear();
        hive_h* reopened = hivex_open(hive.file.c_str(), HIVEX_OPEN_WRITE);
        if (reopened != nullptr) {
            hivex_close(hive.h);
            hive.h = reopened;
        }
        hive.dirty = false;
        ++hive.generation;
    }

    // The lists of a hive key, read again when the hive changed.
    LONG List(Handle& handle) {
        Hive& hive = *handle.at.hive;
        if (handle.listedAt == hive.generation) return ERROR_SUCCESS;
        handle.children.clear();
        handle.values.clear();
        errno = 0;
        CMalloced<hive_node_h> children(hivex_node_children(hive.h, handle.at.node));
        if (children.p == nullptr) return kErrorRegistryCorrupt;
        for (hive_node_h* c = children.p; *c != 0; ++c) handle.children.push_back(*c);
        CMalloced<hive_value_h> values(hivex_node_values(hive.h, handle.at.node));
        if (values.p == nullptr) return kErrorRegistryCorrupt;
        for (hive_value_h* v = values.p; *v != 0; ++v) handle.values.push_back(*v);
        handle.listedAt = hive.generation;
        return ERROR_SUCCESS;
    }

    // The name, type and data (UTF-8 for text) of a hive value.
    static LONG ReadValue(hive_h* h, hive_value_h value, std::string& name, DWORD& type, std::string& data) {
        CMalloced<char> key(hivex_value_key(h, value));
        if (key.p == nullptr) return kErrorRegistryCorrupt;
        name = key.p;
        std::size_t length = 0;
        CMalloced<char> bytes(ValueBytes(h, value, type, length));
        if (bytes.p == nullptr) return kErrorRegistryCorrupt;
        data.assign(bytes.p, length);
        if (IsTextType(type)) {
            std::string text;
            Utf16leToUtf8(data, text, nullptr, Conversion::kLenient);
            data = std::move(text);
        }
        return ERROR_SUCCESS;
    }

    // Everything a hive key's values hold, raw, for hivex_node_set_values.
    struct RawValue {
        std::string name;
        DWORD type;
        std::string data;
    };
    static LONG RawValues(hive_h* h, hive_node_h node, std::vector<RawValue>& out) {
        out.clear();
        CMalloced<hive_value_h> values(hivex_node_values(h, node));
        if (values.p == nullptr) return kErrorRegistryCorrupt;
        for (hive_value_h* v = values.p; *v != 0; ++v) {
            CMalloced<char> key(hivex_value_key(h, *v));
            DWORD t = 0;
            std::size_t length = 0;
            CMalloced<char> bytes(ValueBytes(h, *v, t, length));
            if (key.p == nullptr || bytes.p == nullptr) return kErrorRegistryCorrupt;
            out.push_back({key.p, t, std::string(bytes.p, length)});
        }
        return ERROR_SUCCESS;
    }

    static LONG SetValues(hive_h* h, hive_node_h node, std::vector<RawValue>& values) {
        std::vector<hive_set_value> set;
        set.reserve(values.size());
        for (RawValue& v : values) set.push_back(SetValue(v.name.data(), v.type, v.data));
        return hivex_node_set_values(h, node, set.size(), set.data(), 0) == 0 ? ERROR_SUCCESS
                                                                              : kErrorRegistryIoFailed;
    }

    KeyNode* MemoryKey(HKEY root, const std::string& path) {
        std::unique_ptr<KeyNode>& slot = roots[RootSlot(root)];
        if (!slot) slot = std::make_unique<KeyNode>(std::string());
        KeyNode* node = slot.get();
        std::vector<std::string> parts;
        SplitPath(path.c_str(), parts);
        for (const std::string& part : parts) {
            KeyNode* next = nullptr;
            for (const auto& sub : node->subkeys)
                if (SameName(sub->name, part)) next = sub.get();
            node = next != nullptr ? next : node->AppendSubkey(std::make_unique<KeyNode>(part));
        }
        return node;
    }
};

CFileRegistry::CFileRegistry() : m_impl(std::make_unique<Impl>()) {}
CFileRegistry::~CFileRegistry() = default;

bool CFileRegistry::MountHive(HKEY root, const std::string& path, const std::string& file, bool writable,
                              std::string& error) {
    std::lock_guard lock(m_mutex);
    if (!IsPredefinedKey(root)) {
        error = "no root key to mount " + file + " at";
        return false;
    }
    auto hive = std::make_unique<Impl::Hive>();
    hive->file = file;
    if (writable) {
        struct statvfs volume {};
        if (::statvfs(file.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0)
            hive->readOnlyReason = file + " is on a read-only file system";
        else if (::access(file.c_str(), W_OK) != 0)
            hive->readOnlyReason = file + " is read-only (" + Reason(errno) + ")";
        else if (const std::string folder = std::filesystem::path(file).parent_path().string();
                 ::access(folder.empty() ? "." : folder.c_str(), W_OK) != 0)
            hive->readOnlyReason = "the folder of " + file + " is read-only (" + Reason(errno) + ")";
        else
            hive->writable = true;
    } else {
        hive->readOnlyReason = file + " is opened read-only";
    }
    errno = 0;
    hive->h = hivex_open(file.c_str(), hive->writable ? HIVEX_OPEN_WRITE : 0);
    if (hive->h == nullptr) {
        const int why = errno;
        error = file + ": " + (why == ENOTSUP || why == EINVAL || why == 0 ? "not a hive file, or a damaged one"
                                                                           : Reason(why)) + ".";
        return false;
    }
    KeyNode* at = m_impl->MemoryKey(root, path);
    m_impl->mounts[at] = hive.get();
    m_impl->hives.push_back(std::move(hive));
    return true;
}

void CFileRegistry::Seal(std::string reason) {
    std::lock_guard lock(m_mutex);
    m_impl->sealed = reason.empty() ? std::string("read-only") : std::move(reason);
}

std::string CFileRegistry::ReadOnlyReason() const {
    std::lock_guard lock(m_mutex);
    // With hives, the keys in memory are only the way to them.
    if (m_impl->hives.empty()) return m_impl->sealed;
    for (const auto& hive : m_impl->hives)
        if (!hive->writable) return hive->readOnlyReason;
    return {};
}

void CFileRegistry::OnWriteFailure(std::function<void(const std::string&)> report) {
    std::lock_guard lock(m_mutex);
    m_impl->onWriteFailure = std::move(report);
}

std::size_t CFileRegistry::OpenHandleCount() const {
    std::lock_guard lock(m_mutex);
    return m_impl->handles.size();
}

LONG CFileRegistry::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    std::lock_guard lock(m_mutex);
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpMachineName != nullptr && *lpMachineName != '\0') return ERROR_BAD_NETPATH;
    Impl::Location at;
    if (const LONG status = m_impl->Resolve(hKey, at); status != ERROR_SUCCESS) return status;
    if (!at.predefined) return ERROR_INVALID_HANDLE;
    *phkResult = hKey;
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                                  HKEY* phkResult) {
    std::lock_guard lock(m_mutex);
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Impl::Location base;
    if (const LONG status = m_impl->Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string> parts;
    if (const LONG status = SplitPath(lpSubKey, parts); status != ERROR_SUCCESS) return status;
    if (parts.empty() && base.predefined) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    Impl::Location at;
    std::size_t reached = 0;
    if (const LONG status = m_impl->Walk(base, parts, at, reached); status != ERROR_SUCCESS) return status;
    if (reached != parts.size()) return ERROR_FILE_NOT_FOUND;
    *phkResult = m_impl->AddHandle(at, samDesired);
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, char* /*lpClass*/,
                                    DWORD /*dwOptions*/, REGSAM samDesired, SECURITY_ATTRIBUTES* /*sa*/,
                                    HKEY* phkResult, DWORD* lpdwDisposition) {
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    // While the keys in memory take writes, a root key is made on first use.
    if (IsPredefinedKey(hKey) && impl.sealed.empty() && !impl.roots[RootSlot(hKey)])
        impl.MemoryKey(hKey, std::string());
    Impl::Location base;
    if (const LONG status = impl.Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string> parts;
    if (const LONG status = SplitPath(lpSubKey, parts); status != ERROR_SUCCESS) return status;
    if (base.depth + parts.size() > static_cast<std::size_t>(kMaxKeyDepth)) return ERROR_INVALID_PARAMETER;
    if (parts.empty() && base.predefined) {
        *phkResult = hKey;
        if (lpdwDisposition) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }
    Impl::Location at;
    std::size_t reached = 0;
    if (const LONG status = impl.Walk(base, parts, at, reached); status != ERROR_SUCCESS) return status;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (reached != parts.size()) {
        if (const LONG status = impl.MayWrite(at); status != ERROR_SUCCESS) return status;
        for (std::size_t i = reached; i < parts.size(); ++i) {
            if (at.mem != nullptr) {
                at = impl.Enter(at.mem->AppendSubkey(std::make_unique<KeyNode>(parts[i])), at.depth + 1);
                continue;
            }
            const hive_node_h node = hivex_node_add_child(at.hive->h, at.node, parts[i].c_str());
            if (node == 0) return errno == ERANGE || errno == EINVAL ? ERROR_INVALID_PARAMETER : kErrorRegistryIoFailed;
            impl.Changed(*at.hive);
            at.hive->createdSinceWrite.push_back(node);
            at = {nullptr, at.hive, node, at.depth + 1, false};
        }
        disposition = REG_CREATED_NEW_KEY;
    }
    *phkResult = impl.AddHandle(at, samDesired);
    if (lpdwDisposition) *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                  DWORD* /*lpReserved*/, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    Impl::Location at;
    Impl::Handle* handle = nullptr;
    if (const LONG status = impl.Resolve(hKey, at, &handle); status != ERROR_SUCCESS) return status;
    if (!(impl.Access(hKey) & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;

    std::string name, data;
    DWORD type = REG_NONE;
    if (at.mem != nullptr) {
        if (dwIndex >= at.mem->values.size()) return ERROR_NO_MORE_ITEMS;
        const ValueEntry& entry = *at.mem->values[dwIndex];
        name = entry.name;
        type = entry.type;
        data = entry.data;
    } else {
        Impl::Handle scratch;
        if (handle == nullptr) {  // a predefined handle on a hive's root
            scratch.at = at;
            handle = &scratch;
        }
        if (const LONG status = impl.List(*handle); status != ERROR_SUCCESS) return status;
        if (dwIndex >= handle->values.size()) return ERROR_NO_MORE_ITEMS;
        if (const LONG status = Impl::ReadValue(at.hive->h, handle->values[dwIndex], name, type, data);
            status != ERROR_SUCCESS)
            return status;
    }
    if (name.size() >= *lpcchValueName) return ERROR_MORE_DATA;
    if (lpType != nullptr) *lpType = type;
    if (lpcbData != nullptr) {
        if (lpData != nullptr && data.size() > *lpcbData) {
            *lpcbData = static_cast<DWORD>(data.size());
            return ERROR_MORE_DATA;
        }
        if (lpData != nullptr && !data.empty()) std::memcpy(lpData, data.data(), data.size());
        *lpcbData = static_cast<DWORD>(data.size());
    }
    std::memcpy(lpValueName, name.c_str(), name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                                  DWORD* /*lpReserved*/, char* lpClass, DWORD* lpcchClass,
                                  FILETIME* lpftLastWriteTime) {
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
    Impl::Location at;
    Impl::Handle* handle = nullptr;
    if (const LONG status = impl.Resolve(hKey, at, &handle); status != ERROR_SUCCESS) return status;
    if (!(impl.Access(hKey) & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;

    std::string name;
    std::int64_t written = 0;
    if (at.mem != nullptr) {
        if (dwIndex >= at.mem->subkeys.size()) return ERROR_NO_MORE_ITEMS;
        name = at.mem->subkeys[dwIndex]->name;
    } else {
        Impl::Handle scratch;
        if (handle == nullptr) {
            scratch.at = at;
            handle = &scratch;
        }
        if (const LONG status = impl.List(*handle); status != ERROR_SUCCESS) return status;
        if (dwIndex >= handle->children.size()) return ERROR_NO_MORE_ITEMS;
        const hive_node_h child = handle->children[dwIndex];
        CMalloced<char> text(hivex_node_name(at.hive->h, child));
        if (text.p == nullptr) return kErrorRegistryCorrupt;
        name = text.p;
        written = hivex_node_timestamp(at.hive->h, child);
    }
    const bool wantClass = lpClass != nullptr && lpcchClass != nullptr;
    if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
    if (wantClass && *lpcchClass == 0) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (wantClass) {
        lpClass[0] = '\0';
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime != nullptr) {
        const auto ticks = static_cast<std::uint64_t>(written > 0 ? written : 0);
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffffu);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    }
    return ERROR_SUCCESS;
}

LONG CFileRegistry::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                                   const BYTE* lpData, DWORD cbData) {
    const CReportOnExit report(*this);  // after the lock is let go
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    Impl::Location at;
    if (const LONG status = impl.Resolve(hKey, at); status != ERROR_SUCCESS) return status;
    if (!(impl.Access(hKey) & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string name = lpValueName != nullptr ? lpValueName : "";
    if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    if (lpData == nullptr && cbData != 0) return kErrorNoAccess;
    if (const LONG status = impl.MayWrite(at); status != ERROR_SUCCESS) return status;
    std::string data(reinterpret_cast<const char*>(lpData), lpData != nullptr ? cbData : 0);

    if (at.mem != nullptr) {
        for (auto& entry : at.mem->values) {
            if (SameName(entry->name, name)) {
                entry->type = dwType;
                entry->data = std::move(data);
                return ERROR_SUCCESS;
            }
        }
        at.mem->AppendValue(std::make_unique<ValueEntry>(name, dwType, std::move(data)));
        return ERROR_SUCCESS;
    }
    if (IsTextType(dwType)) {
        std::string wide;
        Utf8ToUtf16le(data, wide, nullptr, Conversion::kLenient);
        data = std::move(wide);
    }
    std::vector<Impl::RawValue> values;
    if (const LONG status = Impl::RawValues(at.hive->h, at.node, values); status != ERROR_SUCCESS) return status;
    // The name keeps the spelling it has, as in the registry.
    const auto same = std::find_if(values.begin(), values.end(),
                                   [&](const Impl::RawValue& v) { return SameName(v.name, name); });
    LONG status;
    if (same == values.end()) {
        std::string key = name;
        const hive_set_value set = SetValue(key.data(), dwType, data);
        status = hivex_node_set_value(at.hive->h, at.node, &set, 0) == 0 ? ERROR_SUCCESS : kErrorRegistryIoFailed;
    } else {
        same->type = dwType;
        same->data = std::move(data);
        status = Impl::SetValues(at.hive->h, at.node, values);
    }
    impl.Changed(*at.hive);
    return status != ERROR_SUCCESS ? status : impl.WriteBackIfIdle(*at.hive);
}

LONG CFileRegistry::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    const CReportOnExit report(*this);  // after the lock is let go
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    Impl::Location at;
    if (const LONG status = impl.Resolve(hKey, at); status != ERROR_SUCCESS) return status;
    if (!(impl.Access(hKey) & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string name = lpValueName != nullptr ? lpValueName : "";
    if (const LONG status = impl.MayWrite(at); status != ERROR_SUCCESS) return status;
    if (at.mem != nullptr) {
        auto& values = at.mem->values;
        const auto same = std::find_if(values.begin(), values.end(),
                                       [&](const auto& v) { return SameName(v->name, name); });
        if (same == values.end()) return ERROR_FILE_NOT_FOUND;
        values.erase(same);
        return ERROR_SUCCESS;
    }
    std::vector<Impl::RawValue> values;
    if (const LONG status = Impl::RawValues(at.hive->h, at.node, values); status != ERROR_SUCCESS) return status;
    const auto same = std::find_if(values.begin(), values.end(),
                                   [&](const Impl::RawValue& v) { return SameName(v.name, name); });
    if (same == values.end()) return ERROR_FILE_NOT_FOUND;
    values.erase(same);
    const LONG status = Impl::SetValues(at.hive->h, at.node, values);
    impl.Changed(*at.hive);
    return status != ERROR_SUCCESS ? status : impl.WriteBackIfIdle(*at.hive);
}

LONG CFileRegistry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    const CReportOnExit report(*this);  // after the lock is let go
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    Impl::Location base;
    if (const LONG status = impl.Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string> parts;
    if (const LONG status = SplitPath(lpSubKey, parts); status != ERROR_SUCCESS) return status;
    if (parts.empty() && base.predefined) return ERROR_ACCESS_DENIED;
    Impl::Location at;
    std::size_t reached = 0;
    if (const LONG status = impl.Walk(base, parts, at, reached); status != ERROR_SUCCESS) return status;
    if (reached != parts.size()) return ERROR_FILE_NOT_FOUND;
    if (const LONG status = impl.MayWrite(at); status != ERROR_SUCCESS) return status;

    if (at.mem != nullptr) {
        // Only a key of its own: the root keys and the keys on the way to a
        // hive stay.
        KeyNode* parent = at.mem->parent;
        if (parent == nullptr || !at.mem->subkeys.empty()) return ERROR_ACCESS_DENIED;
        for (auto& [value, handle] : impl.handles)
            if (handle.at.mem == at.mem) handle.deleted = true;
        parent->DetachSubkey(at.mem);
        return ERROR_SUCCESS;
    }
    Impl::Hive& hive = *at.hive;
    if (at.node == hivex_root(hive.h) || hivex_node_nr_children(hive.h, at.node) != 0) return ERROR_ACCESS_DENIED;
    if (hivex_node_delete_child(hive.h, at.node) != 0) return kErrorRegistryIoFailed;
    for (auto& [value, handle] : impl.handles)
        if (handle.at.hive == &hive && handle.at.node == at.node) handle.deleted = true;
    std::erase(hive.createdSinceWrite, at.node);
    impl.Changed(hive);
    return impl.WriteBackIfIdle(hive);
}

LONG CFileRegistry::RegCloseKey(HKEY hKey) {
    if (IsPredefinedKey(hKey)) return ERROR_SUCCESS;
    LONG status = ERROR_SUCCESS;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_impl->handles.find(reinterpret_cast<std::uintptr_t>(hKey));
        if (found == m_impl->handles.end()) return ERROR_INVALID_HANDLE;
        Impl::Hive* hive = found->second.at.hive;
        m_impl->handles.erase(found);
        if (hive == nullptr) return ERROR_SUCCESS;
        --hive->openHandles;
        status = m_impl->WriteBackIfIdle(*hive);
    }
    ReportWriteFailure();
    return status;
}

void CFileRegistry::ReportWriteFailure() {
    std::string message;
    std::function<void(const std::string&)> report;
    {
        std::lock_guard lock(m_mutex);
        message.swap(m_impl->pendingFailure);
        report = m_impl->onWriteFailure;
    }
    if (!message.empty() && report) report(message);
}

LONG CFileRegistry::BeginBatch() {
    std::lock_guard lock(m_mutex);
    ++m_impl->batchDepth;
    return ERROR_SUCCESS;
}

LONG CFileRegistry::CommitBatch() {
    LONG result = ERROR_SUCCESS;
    {
        std::lock_guard lock(m_mutex);
        if (m_impl->batchDepth > 0 && --m_impl->batchDepth > 0) return ERROR_SUCCESS;
        for (auto& hive : m_impl->hives)
            if (const LONG status = m_impl->WriteBackIfIdle(*hive); status != ERROR_SUCCESS) result = status;
    }
    ReportWriteFailure();
    return result;
}

void CFileRegistry::RollbackBatch() {
    std::lock_guard lock(m_mutex);
    m_impl->batchDepth = 0;
    for (auto& hive : m_impl->hives)
        if (hive->dirty) m_impl->Revert(*hive);
}

}  // namespace qv
