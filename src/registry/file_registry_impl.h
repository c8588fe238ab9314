// What the registry kept in files is made of: the keys in memory, the
// mounted hives with their write-back, and the handles. The registry calls
// in file_registry.cpp sit on it; nothing else includes it (callers use
// file_registry.h).
#pragma once

#include <fcntl.h>
#include <hivex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <cwctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/key_node.h"
#include "model/open_key.h"
#include "model/text_encoding.h"

#include "files/hive_log.h"
#include "registry/file_registry.h"
#include "registry/hive_lists.h"

namespace qv {

namespace filereg {

constexpr LONG kErrorBadPathname = 161;
constexpr LONG kErrorNoAccess = 998;
constexpr LONG kErrorRegistryCorrupt = 1015;
constexpr LONG kErrorRegistryIoFailed = 1016;
// hivex keeps a value's data in one cell of at most 1,000,000 bytes, its
// size field included.
constexpr std::size_t kLargestHiveValue = 1000000 - 4;
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

inline std::string Reason(int error) { return std::strerror(error); }

// A name as Windows compares key and value names, in every script.
inline std::string FoldName(std::string_view name) { return FoldNameAnyScript(name); }

inline bool IsAscii(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Whether two key or value names are one name to Windows.
inline bool SameKeyName(std::string_view a, std::string_view b) {
    if (IsAscii(a) && IsAscii(b)) return SameName(a, b);
    return FoldName(a) == FoldName(b);
}

// Whether Windows left the hive in `file` unfinished: its base block's two
// sequence numbers differ (or its checksum is wrong) until a write to the
// file completes, and the changes since wait in <file>.LOG1/.LOG2 (a system
// that was running, hibernated, shut down with Fast Startup, or any Windows
// since 8.1, which writes the logs first and the hive later).
inline bool HiveLeftDirty(const std::string& file) {
    char header[512] = {};
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool read = ::pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
    ::close(fd);
    return read && HiveIsDirty(std::string_view(header, sizeof header));
}

// The whole of `file` into `bytes`, when it is no larger than `largest`.
// Empty, or what went wrong.
inline std::string ReadWhole(const std::string& file, std::uint64_t largest, std::string& bytes) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Reason(errno);
    struct stat held {};
    std::string failure;
    if (::fstat(fd, &held) != 0) failure = Reason(errno);
    else if (static_cast<std::uint64_t>(held.st_size) > largest)
        failure = "it is larger than the " + std::to_string(largest) + " bytes a hive may hold";
    if (failure.empty()) {
        bytes.resize(static_cast<std::size_t>(held.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);  // a file that shrank while read is read as it ended
    }
    ::close(fd);
    return failure;
}

// The logs Windows keeps beside the hive `file` (<file>.LOG1, .LOG2, and the
// single .LOG of older systems), their names in any case, in that order.
inline std::vector<std::string> HiveLogPaths(const std::string& file) {
    const std::filesystem::path path(file);
    const std::string name = path.filename().string();
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    std::vector<std::string> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path().filename().string());
    std::vector<std::string> logs;
    for (const char* suffix : {".LOG1", ".LOG2", ".LOG"})
        for (const std::string& entry : entries)
            if (SameName(entry, name + suffix)) {
                logs.push_back((path.parent_path() / entry).string());
                break;
            }
    return logs;
}

inline std::size_t RootSlot(HKEY root) {
    return static_cast<std::size_t>(reinterpret_cast<std::intptr_t>(root) -
                                    reinterpret_cast<std::intptr_t>(HKEY_CLASSES_ROOT));
}

// A hive value's type is any 32-bit number, and hivex carries it in an enum
// that names only a few: it is moved in and out as bytes, never read as the
// enum (which would be undefined for the numbers it does not name).
static_assert(sizeof(hive_type) == sizeof(DWORD));

inline char* ValueBytes(hive_h* h, hive_value_h value, DWORD& type, std::size_t& length) {
    hive_type raw;
    char* bytes = hivex_value_value(h, value, &raw, &length);
    std::memcpy(&type, &raw, sizeof type);
    return bytes;
}

inline hive_set_value SetValue(char* name, DWORD type, std::string& data) {
    hive_set_value set{};
    set.key = name;
    std::memcpy(&set.t, &type, sizeof type);
    set.len = data.size();
    set.value = data.data();
    return set;
}

// A new `file` beside one of mode `mode` that is never open to more users
// than that one: made with its mode (the owner may write it) before a byte
// goes in; one a crash left behind is dropped first. Its descriptor, or -1
// with errno.
inline int CreateBeside(const std::string& file, mode_t mode) {
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) return -1;
    return ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, (mode & 0777) | S_IWUSR);
}

inline bool SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}


}  // namespace filereg

using namespace filereg;

struct CFileRegistry::Impl {
    struct Hive {
        std::string file;
        // A private copy (mode 0600, in the temporary folder) with Windows'
        // logs applied, which hivex reads until the hive is first written;
        // empty when hivex reads `file` itself.
        std::string copy;
        // The logs applied to `copy`, moved beside the backup once the hive
        // is written whole (Windows would replay them over it otherwise).
        std::vector<std::string> logs;
        hive_h* h = nullptr;
        bool writable = false;
        std::string readOnlyReason;
        bool backedUp = false;
        bool dirty = false;
        std::size_t openHandles = 0;
        std::uint64_t generation = 0;
        std::vector<hive_node_h> createdSinceWrite;
        // Keys wider than hivex lists, listed from the file (see Wide).
        struct WideKey {
            std::uint64_t generation = 0;
            std::vector<hive_node_h> children;
            std::unordered_map<std::string, hive_node_h> byName;  // by FoldName
        };
        std::unordered_map<hive_node_h, WideKey> wide;
        std::string mountName;  // the key it is mounted at, as a user names it
        // What was found wrong with its tree; once set, the hive is never
        // written (hivex would write the damage back, and a loop would make
        // every later walk of the Slave endless).
        std::string damage;
        bool checked = false;  // its whole tree was looked over for a first write
    };

    // A file whose keys are held in memory below `base`.
    struct MemoryFile {
        std::string file;
        CMemoryFileHooks hooks;
        KeyNode* base = nullptr;
        bool writable = false;
        std::string readOnlyReason;
        bool backedUp = false;
        bool dirty = false;
        std::size_t openHandles = 0;
    };

    // Where a key is: in memory (perhaps a memory file's), or a node of a hive.
    struct Location {
        KeyNode* mem = nullptr;
        Hive* hive = nullptr;
        hive_node_h node = 0;
        std::size_t depth = 0;
        bool predefined = false;
        // A hive key's nodes from the hive's root down to it: a damaged
        // hive's list can lead back to one of them, and a walk would be endless.
        std::vector<hive_node_h> trail;
        MemoryFile* file = nullptr;
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
    std::unordered_map<const KeyNode*, MemoryFile*> fileMounts;
    std::vector<std::unique_ptr<MemoryFile>> files;
    std::unordered_map<std::uintptr_t, Handle> handles;
    std::uintptr_t nextHandle = 0x1000;
    std::string sealed;  // why memory keys refuse writes; empty while they take them
    int batchDepth = 0;
    std::function<void(const std::string&)> onWriteFailure;
    std::string pendingFailure;
    std::vector<std::string> notices;  // what a user should know of the files opened
    std::uint64_t largestHive = std::uint64_t{1} << 31;
    std::string lastDamage;  // the damage a read or write ran into last

    ~Impl() {
        for (auto& hive : hives) {
            if (hive->dirty) WriteBack(*hive);
            hivex_close(hive->h);
            if (!hive->copy.empty()) ::unlink(hive->copy.c_str());
        }
        for (auto& file : files)
            if (file->dirty) WriteBack(*file);
    }

    // Applies the logs Windows left beside the dirty hive `hive.file` to a
    // private copy that hivex then reads (file_registry.cpp). What the user
    // is told; `readOnly` says why the hive may not be written.
    std::string ApplyLogs(Hive& hive, std::string& readOnly) const;

    // The file hivex reads the hive from.
    static const std::string& Source(const Hive& hive) { return hive.copy.empty() ? hive.file : hive.copy; }

    // A mount point is the root of its hive; a memory file's keys are its
    // from its base down (`within`: the file of the key above).
    Location Enter(KeyNode* node, std::size_t depth, MemoryFile* within = nullptr) const {
        const auto mount = mounts.find(node);
        if (mount == mounts.end()) {
            const auto file = fileMounts.find(node);
            Location at{node, nullptr, 0, depth, false, {}};
            at.file = file != fileMounts.end() ? file->second : within;
            return at;
        }
        const hive_node_h root = hivex_root(mount->second->h);
        return {nullptr, mount->second, root, depth, false, {root}};
    }

    // The key at `trail` as a user names it.
    static std::string KeyName(const Hive& hive, const std::vector<hive_node_h>& trail) {
        std::string name = hive.mountName;
        for (std::size_t i = 1; i < trail.size(); ++i) {
            CMalloced<char> part(hivex_node_name(hive.h, trail[i]));
            name += '\\';
            name += part.p != nullptr ? part.p : "?";
        }
        return name;
    }

    // Notes that the key at `trail` lists `child`, a key on its own way down
    // (or, when `child` is 0, has subkeys deeper than a registry may be); the
    // read stops there and the hive is never written.
    LONG Damaged(Hive& hive, const std::vector<hive_node_h>& trail, hive_node_h child) {
        std::string what;
        if (child == 0) what = " has subkeys deeper than the " + std::to_string(kMaxKeyDepth) + " levels a registry may have";
        else if (child == trail.back()) what = " lists itself as its own subkey";
        else what = "'s subkey list leads back to a key above it";
        if (hive.damage.empty())
            hive.damage = "The hive " + hive.file + " is damaged: the key " + KeyName(hive, trail) + what +
                          ". It is read no further there and is never written.";
        lastDamage = hive.damage;
        return kErrorRegistryCorrupt;
    }

    // Notes that hivex could not read `what` of the key at `trail`.
    LONG Unreadable(const Hive& hive, const std::vector<hive_node_h>& trail, const char* what) {
        const std::string reason = errno != 0 ? " (" + Reason(errno) + ")" : std::string();
        lastDamage = "The hive " + hive.file + " is damaged: the key " + KeyName(hive, trail) + "'s " + what +
                     " cannot be read" + reason + ".";
        return kErrorRegistryCorrupt;
    }

    // Whether a node on `trail` is among `children`.
    static hive_node_h Revisited(const std::vector<hive_node_h>& trail, const std::vector<hive_node_h>& children) {
        for (const hive_node_h child : children)
            if (std::find(trail.begin(), trail.end(), child) != trail.end()) return child;
        return 0;
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
    bool Child(const Location& at, std::string_view name, Location& child, LONG& status) {
        status = ERROR_SUCCESS;
        if (at.mem != nullptr) {
            for (const auto& sub : at.mem->subkeys) {
                if (SameKeyName(sub->name, name)) {
                    child = Enter(sub.get(), at.depth + 1, at.file);
                    return true;
                }
            }
            return false;
        }
        // hivex finds a name spelt as it is, and ASCII letters in any case;
        // other letters in another case, and the subkeys of a key wider than
        // it lists, are looked for here.
        errno = 0;
        hive_node_h node = hivex_node_get_child(at.hive->h, at.node, std::string(name).c_str());
        if (node == 0 && (errno == ERANGE || (errno == 0 && !IsAscii(name)))) {
            status = FindChild(*at.hive, at.node, name, node);
            if (status != ERROR_SUCCESS || node == 0) return false;
        } else if (node == 0) {
            if (errno != 0) status = kErrorRegistryCorrupt;
            return false;
        }
        if (at.depth >= static_cast<std::size_t>(kMaxKeyDepth)) node = 0;
        if (node == 0 || std::find(at.trail.begin(), at.trail.end(), node) != at.trail.end()) {
            status = Damaged(*at.hive, at.trail, node);
            return false;
        }
        child = {nullptr, at.hive, node, at.depth + 1, false, at.trail};
        child.trail.push_back(node);
        return true;
    }

    // The subkey of `parent` named `name` as Windows compares names, or 0.
    static LONG FindChild(Hive& hive, hive_node_h parent, std::string_view name, hive_node_h& found) {
        found = 0;
        const std::string folded = FoldName(name);
        errno = 0;
        CMalloced<hive_node_h> children(hivex_node_children(hive.h, parent));
        if (children.p == nullptr) {
            const Hive::WideKey* wide = errno == ERANGE ? Wide(hive, parent) : nullptr;
            if (wide == nullptr) return kErrorRegistryCorrupt;
            const auto at = wide->byName.find(folded);
            if (at != wide->byName.end()) found = at->second;
            return ERROR_SUCCESS;
        }
        for (hive_node_h* c = children.p; *c != 0; ++c) {
            CMalloced<char> childName(hivex_node_name(hive.h, *c));
            if (childName.p == nullptr) return kErrorRegistryCorrupt;
            if (FoldName(childName.p) == folded) {
                found = *c;
                break;
            }
        }
        return ERROR_SUCCESS;
    }

    // The subkeys of a key hivex refused to list for its width (ERANGE),
    // read from the file, which holds what hivex holds while no change waits
    // to be written. Null when they cannot be read so.
    static const Hive::WideKey* Wide(Hive& hive, hive_node_h node) {
        Hive::WideKey& key = hive.wide[node];
        if (key.generation == hive.generation + 1) return &key;
        if (hive.dirty || node > 0xffffffffu) return nullptr;
        std::vector<std::uint32_t> offsets;
        bool read = false;
        if (const int fd = ::open(Source(hive).c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
            struct stat file {};
            void* bytes = ::fstat(fd, &file) == 0 && file.st_size > 0
                              ? ::mmap(nullptr, static_cast<std::size_t>(file.st_size), PROT_READ, MAP_PRIVATE, fd, 0)
                              : MAP_FAILED;
            ::close(fd);
            if (bytes != MAP_FAILED) {
                const std::string_view view(static_cast<const char*>(bytes), static_cast<std::size_t>(file.st_size));
                read = ReadSubkeyOffsets(view, static_cast<std::uint32_t>(node), offsets);
                ::munmap(bytes, static_cast<std::size_t>(file.st_size));
            }
        }
        if (!read) return nullptr;
        key.children.assign(offsets.begin(), offsets.end());
        key.byName.clear();
        for (const hive_node_h child : key.children) {
            CMalloced<char> name(hivex_node_name(hive.h, child));
            if (name.p == nullptr) return nullptr;
            key.byName.emplace(FoldName(name.p), child);
        }
        key.generation = hive.generation + 1;
        return &key;
    }

    LONG Walk(Location at, const std::vector<std::string_view>& parts, Location& reached, std::size_t& count) {
        count = 0;
        for (const std::string_view part : parts) {
            Location next;
            LONG status;
            if (!Child(at, part, next, status)) {
                reached = at;
                return status;
            }
            at = std::move(next);
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
        if (at.file != nullptr) ++at.file->openHandles;
        return reinterpret_cast<HKEY>(value);
    }

    // Why a write to `at` is refused, or 0 when it may go ahead.
    LONG MayWrite(const Location& at) {
        if (at.hive == nullptr && at.file != nullptr) return at.file->writable ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
        if (at.hive == nullptr) return sealed.empty() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
        Hive& hive = *at.hive;
        if (!hive.writable) return ERROR_ACCESS_DENIED;
        if (!hive.checked) CheckTree(hive);
        if (hive.damage.empty()) return ERROR_SUCCESS;
        lastDamage = hive.damage;
        pendingFailure = hive.damage + " Nothing was changed.";
        return kErrorRegistryCorrupt;
    }

    // The subkeys of `node` as hivex lists them, or as the file does for a
    // key wider than hivex lists; false when neither can.
    static bool Children(Hive& hive, hive_node_h node, std::vector<hive_node_h>& out) {
        out.clear();
        errno = 0;
        CMalloced<hive_node_h> children(hivex_node_children(hive.h, node));
        if (children.p != nullptr) {
            for (hive_node_h* c = children.p; *c != 0; ++c) out.push_back(*c);
            return true;
        }
        const Hive::WideKey* wide = errno == ERANGE ? Wide(hive, node) : nullptr;
        if (wide != nullptr) out = wide->children;
        return wide != nullptr;
    }

    // Looks the whole tree over once before the hive is first written: a
    // key reached twice (a list leading back up, or two lists sharing a key)
    // would be written back as it is, and deleting a shared key would leave
    // the other list pointing at a freed cell. Without recursion; a key
    // hivex cannot list is left as it is (hivex writes it back unchanged).
    void CheckTree(Hive& hive) {
        hive.checked = true;
        struct Seen {
            hive_node_h node;
            std::size_t parent;
        };
        std::vector<Seen> seen{{hivex_root(hive.h), 0}};
        std::unordered_map<hive_node_h, std::size_t> where{{seen[0].node, 0}};
        std::vector<std::size_t> pending{0};
        std::vector<hive_node_h> children;
        const auto trail = [&seen](std::size_t at) {
            std::vector<hive_node_h> nodes{seen[at].node};
            for (; at != 0; at = seen[at].parent) nodes.insert(nodes.begin(), seen[seen[at].parent].node);
            return nodes;
        };
        while (!pending.empty() && hive.damage.empty()) {
            const std::size_t at = pending.back();
            pending.pop_back();
            if (!Children(hive, seen[at].node, children)) continue;
            for (const hive_node_h child : children) {
                if (const auto found = where.find(child); found != where.end()) {
                    const std::vector<hive_node_h> path = trail(at);
                    if (std::find(path.begin(), path.end(), child) != path.end()) {
                        Damaged(hive, path, child);
                    } else {
                        hive.damage = "The hive " + hive.file + " is damaged: the keys " + KeyName(hive, path) +
                                      " and " + KeyName(hive, trail(seen[found->second].parent)) +
                                      " share a subkey. It is never written.";
                        lastDamage = hive.damage;
                    }
                    break;
                }
                where.emplace(child, seen.size());
                pending.push_back(seen.size());
                seen.push_back({child, at});
            }
        }
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

    // The untouched `file` (of mode `mode`) copied to "<file>.quorvane-bak"
    // (through `temporary`) once per opening, with the file's mode. Empty,
    // or what went wrong.
    static std::string KeepBackup(const std::string& file, mode_t mode, const std::string& temporary, bool& backedUp) {
        if (backedUp) return {};
        std::error_code error;
        const std::string backup = file + ".quorvane-bak";
        if (const int fd = CreateBeside(temporary, mode); fd >= 0) ::close(fd);
        else error = std::error_code(errno, std::generic_category());
        if (!error)
            std::filesystem::copy_file(file, temporary, std::filesystem::copy_options::overwrite_existing, error);
        if (!error && ::chmod(temporary.c_str(), mode & 07777) == 0 && SyncPath(temporary, O_RDONLY))
            std::filesystem::rename(temporary, backup, error);
        else if (!error)
            error = std::error_code(errno, std::generic_category());
        if (error) return "cannot keep a copy of it in " + backup + ": " + error.message();
        backedUp = true;
        return {};
    }

    // `temporary`, written, flushed, given `mode` and renamed over `file`.
    static std::string ReplaceWith(const std::string& temporary, const std::string& file, mode_t mode) {
        if (!SyncPath(temporary, O_RDONLY) || ::chmod(temporary.c_str(), mode & 07777) != 0 ||
            ::rename(temporary.c_str(), file.c_str()) != 0)
            return Reason(errno);
        const std::string folder = std::filesystem::path(file).parent_path().string();
        SyncPath(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
        return {};
    }

    // The hive's file as hivex holds it now, through a temporary file.
    LONG WriteBack(Hive& hive) {
        std::string failure;
        const std::string temporary = hive.file + ".quorvane-tmp";
        struct stat original {};
        if (::stat(hive.file.c_str(), &original) != 0) failure = "cannot read " + hive.file + ": " + Reason(errno);
        if (failure.empty()) failure = KeepBackup(hive.file, original.st_mode, temporary, hive.backedUp);
        if (failure.empty()) failure = Commit(hive, temporary, original.st_mode);
        if (failure.empty()) {
            hive.dirty = false;
            hive.createdSinceWrite.clear();
            SetLogsAside(hive, original.st_mode);
            return ERROR_SUCCESS;
        }
        ::unlink(temporary.c_str());
        Revert(hive);
        // Told once the lock is let go: the report may show a message box.
        pendingFailure = "Can't write the hive " + hive.file + ": " + failure +
                         ". The last change was not saved; Load Subtree shows the file as it is.";
        return kErrorRegistryIoFailed;
    }

    // Once a hive read with Windows' logs applied is written whole (both its
    // sequence numbers past every entry's), its logs go beside its backup:
    // Windows would otherwise replay their entries over what was written.
    // hivex reads the file itself from now on. A log set aside is open to
    // no one the hive (of mode `mode`) is not open to.
    void SetLogsAside(Hive& hive, mode_t mode) {
        if (hive.copy.empty()) return;
        for (const std::string& log : hive.logs) {
            const std::string aside = log + ".quorvane-bak";
            struct stat st {};
            if (::rename(log.c_str(), aside.c_str()) == 0) {
                if (::stat(aside.c_str(), &st) == 0 && (st.st_mode & ~mode & 0777) != 0)
                    (void)::chmod(aside.c_str(), st.st_mode & mode & 07777);
            } else if (errno != ENOENT && pendingFailure.empty()) {
                pendingFailure = "The hive " + hive.file + " was written, but its log " + log +
                                 " could not be moved to " + aside + ": " + Reason(errno) +
                                 ". Windows passes it over all the same, as the hive is now written whole.";
            }
        }
        const std::string folder = std::filesystem::path(hive.file).parent_path().string();
        SyncPath(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
        ::unlink(hive.copy.c_str());
        hive.copy.clear();
        hive.logs.clear();
    }

    // hivex's image of the hive into `temporary`, flushed, given `mode` and
    // renamed over the hive's file. Empty, or what went wrong.
    std::string Commit(Hive& hive, const std::string& temporary, mode_t mode) {
        struct stat written {};
        // hivex would make the file with the umask's mode, open to all while
        // the hive goes into it; made first, it keeps the hive's.
        const int fd = CreateBeside(temporary, mode);
        if (fd < 0) return Reason(errno);
        ::close(fd);
        if (hivex_commit(hive.h, temporary.c_str(), 0) != 0 || ::stat(temporary.c_str(), &written) != 0)
            return Reason(errno);
        if (static_cast<std::uint64_t>(written.st_size) > largestHive)
            return "it would grow to " + std::to_string(written.st_size) + " bytes, more than the " +
                   std::to_string(largestHive) + " a hive may hold";
        return ReplaceWith(temporary, hive.file, mode);
    }

    void Changed(MemoryFile& file) { file.dirty = true; }

    LONG WriteBackIfIdle(MemoryFile& file) {
        if (!file.dirty || file.openHandles != 0 || batchDepth != 0) return ERROR_SUCCESS;
        return WriteBack(file);
    }

    // The memory file's keys rendered into its file, through a temporary
    // file; refused whole while its hooks say the file is busy.
    LONG WriteBack(MemoryFile& file) {
        std::string failure = file.hooks.busy ? file.hooks.busy() : std::string();
        std::string bytes;
        if (failure.empty() && !file.hooks.render(*file.base, bytes, failure) && failure.empty())
            failure = "its keys cannot be written in its format";
        const std::string temporary = file.file + ".quorvane-tmp";
        struct stat original {};
        if (failure.empty() && ::stat(file.file.c_str(), &original) != 0)
            failure = "cannot read " + file.file + ": " + Reason(errno);
        if (failure.empty()) failure = KeepBackup(file.file, original.st_mode, temporary, file.backedUp);
        if (failure.empty()) {
            const int fd = CreateBeside(temporary, original.st_mode);
            bool whole = fd >= 0;
            for (std::size_t done = 0; whole && done < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                whole = n > 0;
                if (whole) done += static_cast<std::size_t>(n);
            }
            if (!whole) failure = Reason(errno);
            if (fd >= 0 && ::close(fd) != 0 && failure.empty()) failure = Reason(errno);
            if (failure.empty()) failure = ReplaceWith(temporary, file.file, original.st_mode);
        }
        if (failure.empty()) {
            file.dirty = false;
            if (file.hooks.written) file.hooks.written(bytes);
            return ERROR_SUCCESS;
        }
        ::unlink(temporary.c_str());
        std::string reread;
        Revert(file, reread);
        pendingFailure = "Can't write " + file.file + ": " + failure +
                         ". The last change was not saved; Load Subtree shows the file as it is." + reread;
        return kErrorRegistryIoFailed;
    }

    // Drops what was changed since the file was last written: its keys are
    // read from it again, and every handle into them is gone.
    void Revert(MemoryFile& file, std::string& problem) {
        for (auto& [value, handle] : handles)
            if (handle.at.file == &file) handle.deleted = true;
        file.base->Clear();
        std::string error;
        if (!file.hooks.read(*file.base, error)) problem = " Reading it again failed: " + error;
        file.dirty = false;
    }

    // hivex refused a change and may have left its image of the hive half
    // made: what was not yet written is dropped (the file is read again), and
    // the user told once the lock is let go.
    LONG Refused(Hive& hive, const std::string& what) {
        const std::string reason = Reason(errno);
        Revert(hive);
        pendingFailure = "Can't " + what + " in the hive " + hive.file + ": " + reason +
                         ". Changes not yet written to it were dropped; Load Subtree shows the file as it is.";
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
        hive_h* reopened = hivex_open(Source(hive).c_str(), HIVEX_OPEN_WRITE);
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
        handle.values.clear();
        if (!Children(hive, handle.at.node, handle.children)) return Unreadable(hive, handle.at.trail, "subkeys");
        if (const hive_node_h back = Revisited(handle.at.trail, handle.children); back != 0) {
            handle.children.clear();
            return Damaged(hive, handle.at.trail, back);
        }
        errno = 0;
        CMalloced<hive_value_h> values(hivex_node_values(hive.h, handle.at.node));
        if (values.p == nullptr) return Unreadable(hive, handle.at.trail, "values");
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

    // The value named `name` in any case, as the registry finds it.
    static std::vector<RawValue>::iterator Find(std::vector<RawValue>& values, const std::string& name) {
        return std::find_if(values.begin(), values.end(), [&](const RawValue& v) { return SameKeyName(v.name, name); });
    }

    static bool SetValues(hive_h* h, hive_node_h node, std::vector<RawValue>& values) {
        std::vector<hive_set_value> set;
        set.reserve(values.size());
        for (RawValue& v : values) set.push_back(SetValue(v.name.data(), v.type, v.data));
        return hivex_node_set_values(h, node, set.size(), set.data(), 0) == 0;
    }

    KeyNode* MemoryKey(HKEY root, const std::string& path) {
        std::unique_ptr<KeyNode>& slot = roots[RootSlot(root)];
        if (!slot) slot = std::make_unique<KeyNode>(std::string());
        KeyNode* node = slot.get();
        std::vector<std::string_view> parts;
        SplitKeyPath(path.c_str(), parts, NameLimit::kNone);
        for (const std::string_view part : parts) {
            KeyNode* next = nullptr;
            for (const auto& sub : node->subkeys)
                if (SameKeyName(sub->name, part)) next = sub.get();
            node = next != nullptr ? next : node->AppendSubkey(std::make_unique<KeyNode>(std::string(part)));
        }
        return node;
    }
};

}  // namespace qv
