#include "registry/file_registry.h"

#include "registry/file_registry_impl.h"

namespace qv {

namespace {

// "3 log entries from SOFTWARE.LOG1 and SOFTWARE.LOG2 were applied", or sectors.
std::string Applied(const HiveLogReplay& report) {
    std::string what = std::to_string(report.applied);
    if (report.format == HiveLogReplay::Format::kOld) what += report.applied == 1 ? " changed sector" : " changed sectors";
    else what += report.applied == 1 ? " log entry" : " log entries";
    for (std::size_t i = 0; i < report.used.size(); ++i)
        what += (i == 0 ? " from " : " and ") + std::filesystem::path(report.used[i]).filename().string();
    return what + (report.applied == 1 ? " was applied" : " were applied");
}

// Why the logs were not applied whole: the replay's stop and the logs
// that could not be used, or empty.
std::string Trouble(const HiveLogReplay& report) {
    std::string trouble = report.stopped;
    for (const std::string& unusable : report.unusable) trouble += (trouble.empty() ? "" : "; ") + unusable;
    return trouble;
}

// A copy of `bytes` in a private file (mode 0600) of the temporary folder:
// its path, or empty with `failure`.
std::string PrivateCopy(const std::string& bytes, std::string& failure) {
    std::error_code error;
    std::string path = (std::filesystem::temp_directory_path(error) / "quorvane-hive-XXXXXX").string();
    if (error) path = "/tmp/quorvane-hive-XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        failure = Reason(errno);
        return {};
    }
    bool whole = true;
    for (std::size_t done = 0; whole && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        whole = n > 0;
        if (whole) done += static_cast<std::size_t>(n);
    }
    if (!whole) failure = Reason(errno);
    if (::close(fd) != 0 && failure.empty()) failure = Reason(errno);
    if (failure.empty()) return path;
    ::unlink(path.c_str());
    return {};
}

}  // namespace

// The hive and its logs stay as they are. The hive may be written only when
// every entry that follows it was applied: its write-back is then what
// Windows would load, marked written whole.
std::string CFileRegistry::Impl::ApplyLogs(Hive& hive, std::string& readOnly) const {
    const std::uint64_t largest = largestHive;
    const std::string& file = hive.file;
    const std::string unclean = file + " was not closed cleanly by Windows";
    const std::string told = unclean + " (it was running, hibernated or shut down with Fast Startup)";
    const std::string fileAlone = "it shows what the hive file alone holds, which may be older data, and is only read.";
    const std::vector<std::string> paths = HiveLogPaths(file);
    if (paths.empty()) {
        readOnly = unclean + " and its .LOG1 and .LOG2 files are missing";
        return told + " and its .LOG1 and .LOG2 files, which hold its latest changes, are missing: " + fileAlone;
    }
    std::string bytes, failure;
    std::vector<HiveLogFile> logs;
    if (const std::string why = ReadWhole(file, largest, bytes); !why.empty()) failure = "cannot read " + file + ": " + why;
    for (std::size_t i = 0; failure.empty() && i < paths.size(); ++i) {
        logs.push_back({paths[i], {}});
        if (const std::string why = ReadWhole(paths[i], largest, logs.back().bytes); !why.empty())
            failure = "cannot read " + paths[i] + ": " + why;
    }
    HiveLogReplay report;
    std::string replayed;
    if (failure.empty()) ReplayHiveLogs(bytes, logs, replayed, report, largest);
    bytes.clear();
    const bool changed = failure.empty() && (report.applied != 0 || report.baseBlockRestored);
    if (changed) {
        // Written whole past every entry Windows logged, so that hivex's own
        // write-back (one number higher) is never taken for an older state.
        MarkHiveWritten(replayed, std::max(report.sequence, report.highestSequence));
        hive.copy = PrivateCopy(replayed, failure);
    }
    if (!failure.empty()) {
        readOnly = unclean + " and its logs could not be applied";
        return told + ", and its logs could not be applied (" + failure + "): " + fileAlone;
    }
    const std::string trouble = Trouble(report);
    if (!changed) {
        readOnly = unclean + (trouble.empty() ? " and its logs hold no change newer than it" : " and its logs cannot be applied");
        return told + (trouble.empty() ? ", and its logs hold no change newer than the file: "
                                       : ", and its logs cannot be applied (" + trouble + "): ") + fileAlone;
    }
    hive.logs = paths;
    std::string notice = told + ": " + Applied(report) + " to a copy (the files are left as they are)";
    if (trouble.empty()) return notice + ", so it shows what Windows would load.";
    readOnly = unclean + " and its logs are damaged";
    return notice + ", then the replay stopped: " + trouble +
           ". Later changes are not shown, and the hive is only read.";
}

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
    // The base block and one page of keys: anything shorter is no hive.
    constexpr off_t kSmallestHive = 0x2000;
    if (struct stat held {}; ::stat(file.c_str(), &held) == 0 && S_ISREG(held.st_mode) && held.st_size < kSmallestHive) {
        error = file + ": not a hive file (" + std::to_string(held.st_size) + " bytes; a hive has at least " +
                std::to_string(kSmallestHive) + ").";
        return false;
    }
    std::string notice;  // told once the hive opened: a damaged one says so instead
    if (HiveLeftDirty(file)) {
        std::string readOnly;
        notice = m_impl->ApplyLogs(*hive, readOnly);
        if (!readOnly.empty()) {
            if (hive->writable) hive->readOnlyReason = readOnly;
            hive->writable = false;
        }
    }
    errno = 0;
    hive->h = hivex_open(Impl::Source(*hive).c_str(), hive->writable ? HIVEX_OPEN_WRITE : 0);
    if (hive->h == nullptr) {
        const int why = errno;
        if (!hive->copy.empty()) ::unlink(hive->copy.c_str());
        error = file + ": " + (why == ENOTSUP || why == EINVAL || why == 0 ? "not a hive file, or a damaged one"
                                                                           : Reason(why)) + ".";
        return false;
    }
    for (const RootName& name : kRootTable)
        if (name.handle == root) hive->mountName = path.empty() ? name.name : std::string(name.name) + '\\' + path;
    KeyNode* at = m_impl->MemoryKey(root, path);
    m_impl->mounts[at] = hive.get();
    m_impl->hives.push_back(std::move(hive));
    if (!notice.empty()) m_impl->notices.push_back(std::move(notice));
    return true;
}

bool CFileRegistry::MountMemoryFile(HKEY root, const std::string& path, const std::string& file,
                                    CMemoryFileHooks hooks, std::string readOnlyReason, std::string& error) {
    std::lock_guard lock(m_mutex);
    if (!IsPredefinedKey(root)) {
        error = "no root key to mount " + file + " at";
        return false;
    }
    KeyNode* base = m_impl->MemoryKey(root, path);
    if (m_impl->fileMounts.count(base) != 0 || m_impl->mounts.count(base) != 0 || base->IsLoaded()) {
        error = file + ": its keys would go where another file's are.";
        return false;
    }
    auto mounted = std::make_unique<Impl::MemoryFile>();
    mounted->file = file;
    mounted->hooks = std::move(hooks);
    mounted->base = base;
    mounted->writable = readOnlyReason.empty();
    mounted->readOnlyReason = std::move(readOnlyReason);
    if (!mounted->hooks.read(*base, error)) {
        base->Clear();
        return false;
    }
    m_impl->fileMounts[base] = mounted.get();
    m_impl->files.push_back(std::move(mounted));
    return true;
}

std::string CFileRegistry::Damage() const {
    std::lock_guard lock(m_mutex);
    return m_impl->lastDamage;
}

std::vector<std::string> CFileRegistry::Notices() const {
    std::lock_guard lock(m_mutex);
    return m_impl->notices;
}

void CFileRegistry::Seal(std::string reason) {
    std::lock_guard lock(m_mutex);
    m_impl->sealed = reason.empty() ? std::string("read-only") : std::move(reason);
}

std::string CFileRegistry::ReadOnlyReason() const {
    std::lock_guard lock(m_mutex);
    // With hives or files, the keys in memory are only the way to them.
    if (m_impl->hives.empty() && m_impl->files.empty()) return m_impl->sealed;
    for (const auto& hive : m_impl->hives)
        if (!hive->writable) return hive->readOnlyReason;
    for (const auto& file : m_impl->files)
        if (!file->writable) return file->readOnlyReason;
    return {};
}

void CFileRegistry::OnWriteFailure(std::function<void(const std::string&)> report) {
    std::lock_guard lock(m_mutex);
    m_impl->onWriteFailure = std::move(report);
}

void CFileRegistry::SetLargestHive(std::uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    m_impl->largestHive = bytes;
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
    std::vector<std::string_view> parts;
    if (const LONG status = SplitKeyPath(lpSubKey, parts, NameLimit::kUtf16Characters); status != ERROR_SUCCESS)
        return status;
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
    const CReportOnExit report(*this);  // after the lock is let go
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    // While the keys in memory take writes, a root key is made on first use.
    if (IsPredefinedKey(hKey) && impl.sealed.empty() && !impl.roots[RootSlot(hKey)])
        impl.MemoryKey(hKey, std::string());
    Impl::Location base;
    if (const LONG status = impl.Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string_view> parts;
    if (const LONG status = SplitKeyPath(lpSubKey, parts, NameLimit::kUtf16Characters); status != ERROR_SUCCESS)
        return status;
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
                at = impl.Enter(at.mem->AppendSubkey(std::make_unique<KeyNode>(std::string(parts[i]))), at.depth + 1,
                                at.file);
                if (at.file != nullptr) impl.Changed(*at.file);
                continue;
            }
            const hive_node_h node = hivex_node_add_child(at.hive->h, at.node, std::string(parts[i]).c_str());
            if (node == 0 && errno == EINVAL) return ERROR_INVALID_PARAMETER;
            if (node == 0) return impl.Refused(*at.hive, "add the key \"" + std::string(parts[i]) + "\"");
            impl.Changed(*at.hive);
            at.hive->createdSinceWrite.push_back(node);
            at = {nullptr, at.hive, node, at.depth + 1, false, std::move(at.trail)};
            at.trail.push_back(node);
        }
        disposition = REG_CREATED_NEW_KEY;
    }
    *phkResult = impl.AddHandle(at, samDesired);
    if (lpdwDisposition) *lpdwDisposition = disposition;
    return ERROR_SUCCESS;  // written back when the handle closes
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
        const auto same = std::find_if(at.mem->values.begin(), at.mem->values.end(),
                                       [&](const auto& entry) { return SameKeyName(entry->name, name); });
        if (same != at.mem->values.end()) {
            (*same)->type = dwType;
            (*same)->data = std::move(data);
        } else {
            at.mem->AppendValue(std::make_unique<ValueEntry>(name, dwType, std::move(data)));
        }
        if (at.file == nullptr) return ERROR_SUCCESS;
        impl.Changed(*at.file);
        return impl.WriteBackIfIdle(*at.file);
    }
    if (IsTextType(dwType)) {
        std::string wide;
        Utf8ToUtf16le(data, wide, nullptr, Conversion::kLenient);
        data = std::move(wide);
    }
    if (data.size() > kLargestHiveValue) {
        impl.pendingFailure = "Can't write the value \"" + name + "\" in the hive " + at.hive->file + ": its " +
                              std::to_string(data.size()) + " bytes are more than hivex writes into one value (" +
                              std::to_string(kLargestHiveValue) + "). Nothing was changed.";
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<Impl::RawValue> values;
    if (const LONG status = Impl::RawValues(at.hive->h, at.node, values); status != ERROR_SUCCESS) return status;
    // The name keeps the spelling it has, as in the registry.
    const auto same = Impl::Find(values, name);
    bool written;
    if (same == values.end()) {
        std::string key = name;
        const hive_set_value set = SetValue(key.data(), dwType, data);
        written = hivex_node_set_value(at.hive->h, at.node, &set, 0) == 0;
    } else {
        same->type = dwType;
        same->data = std::move(data);
        written = Impl::SetValues(at.hive->h, at.node, values);
    }
    if (!written) return impl.Refused(*at.hive, "write the value \"" + name + "\"");
    impl.Changed(*at.hive);
    return impl.WriteBackIfIdle(*at.hive);
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
                                       [&](const auto& v) { return SameKeyName(v->name, name); });
        if (same == values.end()) return ERROR_FILE_NOT_FOUND;
        values.erase(same);
        if (at.file == nullptr) return ERROR_SUCCESS;
        impl.Changed(*at.file);
        return impl.WriteBackIfIdle(*at.file);
    }
    std::vector<Impl::RawValue> values;
    if (const LONG status = Impl::RawValues(at.hive->h, at.node, values); status != ERROR_SUCCESS) return status;
    const auto same = Impl::Find(values, name);
    if (same == values.end()) return ERROR_FILE_NOT_FOUND;
    values.erase(same);
    if (!Impl::SetValues(at.hive->h, at.node, values))
        return impl.Refused(*at.hive, "delete the value \"" + name + "\"");
    impl.Changed(*at.hive);
    return impl.WriteBackIfIdle(*at.hive);
}

LONG CFileRegistry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    const CReportOnExit report(*this);  // after the lock is let go
    std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    Impl::Location base;
    if (const LONG status = impl.Resolve(hKey, base); status != ERROR_SUCCESS) return status;
    std::vector<std::string_view> parts;
    if (const LONG status = SplitKeyPath(lpSubKey, parts, NameLimit::kUtf16Characters); status != ERROR_SUCCESS)
        return status;
    if (parts.empty() && base.predefined) return ERROR_ACCESS_DENIED;
    Impl::Location at;
    std::size_t reached = 0;
    if (const LONG status = impl.Walk(base, parts, at, reached); status != ERROR_SUCCESS) return status;
    if (reached != parts.size()) return ERROR_FILE_NOT_FOUND;
    if (const LONG status = impl.MayWrite(at); status != ERROR_SUCCESS) return status;

    if (at.mem != nullptr) {
        // Only a key of its own: the root keys and the keys on the way to a
        // hive stay.
        // A file's base key stays too.
        KeyNode* parent = at.mem->parent;
        if (parent == nullptr || !at.mem->subkeys.empty() || impl.fileMounts.count(at.mem) != 0)
            return ERROR_ACCESS_DENIED;
        for (auto& [value, handle] : impl.handles)
            if (handle.at.mem == at.mem) handle.deleted = true;
        parent->DetachSubkey(at.mem);
        if (at.file == nullptr) return ERROR_SUCCESS;
        impl.Changed(*at.file);
        return impl.WriteBackIfIdle(*at.file);
    }
    Impl::Hive& hive = *at.hive;
    if (at.node == hivex_root(hive.h) || hivex_node_nr_children(hive.h, at.node) != 0) return ERROR_ACCESS_DENIED;
    if (hivex_node_delete_child(hive.h, at.node) != 0) return impl.Refused(hive, "delete a key");
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
        Impl::MemoryFile* file = found->second.at.file;
        m_impl->handles.erase(found);
        if (hive != nullptr) {
            --hive->openHandles;
            status = m_impl->WriteBackIfIdle(*hive);
        } else if (file != nullptr) {
            --file->openHandles;
            status = m_impl->WriteBackIfIdle(*file);
        } else {
            return ERROR_SUCCESS;
        }
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
        for (auto& file : m_impl->files)
            if (const LONG status = m_impl->WriteBackIfIdle(*file); status != ERROR_SUCCESS) result = status;
    }
    ReportWriteFailure();
    return result;
}

void CFileRegistry::RollbackBatch() {
    std::lock_guard lock(m_mutex);
    m_impl->batchDepth = 0;
    for (auto& hive : m_impl->hives)
        if (hive->dirty) m_impl->Revert(*hive);
    std::string ignored;  // the files were read once; a second reading fails only if they went meanwhile
    for (auto& file : m_impl->files)
        if (file->dirty) m_impl->Revert(*file, ignored);
}

}  // namespace qv
