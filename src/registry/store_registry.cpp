#include "registry/store_registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qv {

namespace {

constexpr LONG kErrorDiskFull = 112;
constexpr LONG kErrorBadPathname = 161;
constexpr LONG kErrorNoAccess = 998;
constexpr LONG kErrorRegistryCorrupt = 1015;
constexpr LONG kErrorRegistryIoFailed = 1016;

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxKeyDepth = 512;

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericRead = 0x80000000;

// Marks the file as ours, so that another program's database is refused
// rather than written into.
constexpr int kApplicationId = 0x51565247;  // "QVRG"
constexpr int kSchemaVersion = 1;
// Long enough for another process's batch import to finish.
constexpr int kBusyTimeoutMs = 30000;
// Larger values are left out of an enumeration snapshot and read when asked
// for, so a key full of big values does not sit in memory.
constexpr sqlite3_int64 kInlineDataLimit = 4096;
// Seconds between 1601 and 1970, in FILETIME ticks.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;

constexpr std::array<const char*, 5> kRootNames = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_CURRENT_CONFIG"};

constexpr const char* kSchema = R"sql(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,  -- never reused, so a stale handle cannot find a new key
  parent INTEGER NOT NULL,               -- 0 for a root
  name BLOB NOT NULL,                    -- as created
  fold BLOB NOT NULL,                    -- lower-cased: lookups and subkey order
  class BLOB,
  kgen INTEGER NOT NULL DEFAULT 0,       -- bumped when the subkey list changes
  vgen INTEGER NOT NULL DEFAULT 0,       -- bumped when a value changes
  written INTEGER NOT NULL DEFAULT 0     -- FILETIME of the last change
);
CREATE UNIQUE INDEX keys_child ON keys(parent, fold);
CREATE TABLE vals(
  id INTEGER PRIMARY KEY,                -- grows with each new value: creation order
  key INTEGER NOT NULL,
  name BLOB NOT NULL,
  fold BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL
);
CREATE UNIQUE INDEX vals_name ON vals(key, fold);
CREATE INDEX vals_key ON vals(key);
)sql";

void FoldInto(std::string_view name, std::string& folded) {
    folded.assign(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
}

std::string Fold(std::string_view name) {
    std::string folded;
    FoldInto(name, folded);
    return folded;
}

std::int64_t NowFileTime() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return kUnixEpochTicks + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

REGSAM EffectiveAccess(REGSAM sam) {
    if (sam & (kMaximumAllowed | kGenericAll)) sam |= KEY_ALL_ACCESS;
    if (sam & (kGenericRead | kGenericExecute)) sam |= KEY_READ;
    if (sam & kGenericWrite) sam |= KEY_WRITE;
    return sam;
}

LONG StatusFromSqlite(int rc) {
    switch (rc & 0xff) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return ERROR_SUCCESS;
        case SQLITE_NOMEM:
        case SQLITE_TOOBIG:
            return ERROR_OUTOFMEMORY;
        case SQLITE_FULL:
            return kErrorDiskFull;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return ERROR_ACCESS_DENIED;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_SCHEMA:
            return kErrorRegistryCorrupt;
        default:
            return kErrorRegistryIoFailed;
    }
}

// Splits a key path relative to a handle into its names. Win32 refuses a
// leading backslash; Wine takes a run of backslashes, or a trailing one, as
// one separator, and so do we.
LONG SplitPath(const char* path, std::vector<std::string_view>& parts) {
    parts.clear();
    if (path == nullptr || *path == '\0') return ERROR_SUCCESS;
    if (*path == '\\') return kErrorBadPathname;
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        if (!part.empty()) {
            if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
            parts.push_back(part);
        }
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    return ERROR_SUCCESS;
}

struct ConnectionCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using ConnectionPtr = std::unique_ptr<sqlite3, ConnectionCloser>;

// A statement prepared once for the life of the connection.
class CStatement {
public:
    CStatement() = default;
    ~CStatement() { sqlite3_finalize(m_stmt); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    int Prepare(sqlite3* db, const char* sql) {
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
    }
    sqlite3_stmt* Get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// One run of a prepared statement. Resetting it when the run ends ends the
// read transaction it holds, which would otherwise keep other processes'
// writes out of sight and stop the WAL file from being checkpointed.
class CRun {
public:
    explicit CRun(const CStatement& statement) : m_stmt(statement.Get()) {}
    ~CRun() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    CRun(const CRun&) = delete;
    CRun& operator=(const CRun&) = delete;

    CRun& Int(int index, sqlite3_int64 value) {
        Check(sqlite3_bind_int64(m_stmt, index, value));
        return *this;
    }
    // Binds an empty blob rather than NULL for empty input.
    CRun& Blob(int index, const void* data, sqlite3_uint64 size) {
        static const char kEmpty = 0;
        Check(sqlite3_bind_blob64(m_stmt, index, size != 0 ? data : &kEmpty, size,
                                  SQLITE_STATIC));
        return *this;
    }
    CRun& Blob(int index, std::string_view bytes) { return Blob(index, bytes.data(), bytes.size()); }
    CRun& Null(int index) {
        Check(sqlite3_bind_null(m_stmt, index));
        return *this;
    }

    // SQLITE_ROW, SQLITE_DONE or an error (also a failed bind).
    int Step() { return m_bindError != SQLITE_OK ? m_bindError : sqlite3_step(m_stmt); }

    sqlite3_int64 Column(int index) const { return sqlite3_column_int64(m_stmt, index); }
    std::string_view ColumnBytes(int index) const {
        const void* data = sqlite3_column_blob(m_stmt, index);
        const int size = sqlite3_column_bytes(m_stmt, index);
        if (data == nullptr || size <= 0) return {};
        return {static_cast<const char*>(data), static_cast<std::size_t>(size)};
    }
    bool IsNull(int index) const { return sqlite3_column_type(m_stmt, index) == SQLITE_NULL; }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK && m_bindError == SQLITE_OK) m_bindError = rc;
    }
    sqlite3_stmt* m_stmt;
    int m_bindError = SQLITE_OK;
};

// Orders like SQLite's comparison of folded names: bytes, then length.
int CompareFolded(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i] >= 'A' && a[i] <= 'Z' ? a[i] - 'A' + 'a' : a[i]);
        const auto y = static_cast<unsigned char>(b[i] >= 'A' && b[i] <= 'Z' ? b[i] - 'A' + 'a' : b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A key's subkeys or values as they were at one generation of the key,
// so that enumerating by index costs one lookup per call, not a query that
// skips `index` rows.
struct ChildList {
    struct Entry {
        std::int64_t id;
        std::size_t nameAt;
        std::size_t nameLength;
        std::size_t classAt;
        std::size_t classLength;
        std::int64_t written;
        // The subkey's generation at which it had no subkeys, -1 when it
        // had some: a leaf opened next needs no query for its subkeys.
        std::int64_t noSubkeysAt;
    };
    std::int64_t generation = 0;
    // The change stamp it was read at. Only then may it serve other handles
    // and opens: a list kept for its generation may have stale last-write
    // times, and a subkey's subkeys may change without the generation moving.
    std::uint64_t readAt = 0;
    std::string text;
    std::vector<Entry> entries;

    std::string_view Name(const Entry& entry) const { return {text.data() + entry.nameAt, entry.nameLength}; }
    const Entry* Find(std::string_view name) const {
        std::size_t low = 0, high = entries.size();
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            const int order = CompareFolded(Name(entries[middle]), name);
            if (order == 0) return &entries[middle];
            if (order < 0) low = middle + 1;
            else high = middle;
        }
        return nullptr;
    }
};

struct ValueList {
    struct Entry {
        std::int64_t id;
        std::size_t nameAt;
        std::size_t nameLength;
        DWORD type;
        std::uint64_t size;
        std::size_t dataAt;
        bool inlined;
    };
    std::int64_t generation = 0;
    std::uint64_t stamp = 0;  // the change stamp at which it was last known current
    std::string bytes;
    std::vector<Entry> entries;
};

struct KeyCache {
    // Shared with the path cache, so its stamp is kept here.
    std::shared_ptr<const ChildList> children;
    std::uint64_t childrenStamp = 0;
    std::unique_ptr<ValueList> values;
    void Clear() {
        children.reset();
        values.reset();
    }
};

struct Handle {
    std::int64_t keyId = 0;
    std::int64_t parent = 0;  // 0 when not known
    std::size_t depth = 0;
    REGSAM access = 0;
    KeyCache cache;
};

// The key a call works on: a handle's, or a root's for a predefined handle.
struct KeyRef {
    std::int64_t id = 0;
    std::int64_t parent = 0;
    std::size_t depth = 0;
    REGSAM access = 0;
    bool predefined = false;
    KeyCache* cache = nullptr;
};

// Where a path led: how many of its names were found, the last key found
// and its parent, and what its parent's subkey list told of it.
struct WalkResult {
    std::size_t reached = 0;
    std::int64_t id = 0;
    std::int64_t parent = 0;
    std::int64_t noSubkeysAt = -1;
};

// A subkey's place: its parent's id and its folded name. The view form lets
// the cache be searched without building a string.
struct ChildName {
    std::int64_t parent;
    std::string fold;
};
struct ChildNameView {
    std::int64_t parent;
    std::string_view fold;
};
struct ChildNameHash {
    using is_transparent = void;
    std::size_t operator()(const ChildNameView& name) const noexcept {
        return std::hash<std::string_view>{}(name.fold) ^
               (static_cast<std::size_t>(name.parent) * 0x9E3779B97F4A7C15ull);
    }
    std::size_t operator()(const ChildName& name) const noexcept {
        return (*this)(ChildNameView{name.parent, name.fold});
    }
};
struct ChildNameEqual {
    using is_transparent = void;
    static ChildNameView View(const ChildName& name) { return {name.parent, name.fold}; }
    static ChildNameView View(const ChildNameView& name) { return name; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
        const ChildNameView x = View(a), y = View(b);
        return x.parent == y.parent && x.fold == y.fold;
    }
};

// Tells without a database transaction (each costs several system calls)
// whether anything was committed to the store since a given moment, so that
// a snapshot known current at that moment can be used as it is. A writer,
// once it holds SQLite's write lock, takes a ticket by bumping `begun`, and
// raises `done` to its ticket when committed or rolled back. Tickets follow
// the order of the write lock, so `done` reaching `begun` means every write
// begun so far is over. A stamp is valid only while the two agree. A writer
// that dies in between leaves them apart until the next write ends, which
// only sends readers to the file meanwhile. Changes made to the file with
// other tools are not noticed until the store's next write.
class CChangeStamp {
public:
    CChangeStamp() = default;
    ~CChangeStamp() {
        if (m_words != nullptr) munmap(m_words, kSize);
    }
    CChangeStamp(const CChangeStamp&) = delete;
    CChangeStamp& operator=(const CChangeStamp&) = delete;

    // Without the file (say, in a read-only folder) every stamp is 0.
    void Open(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return;
        struct stat info {};
        if (fstat(fd, &info) == 0 && (info.st_size >= static_cast<off_t>(kSize) || ftruncate(fd, kSize) == 0)) {
            void* words = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (words != MAP_FAILED) m_words = static_cast<std::uint64_t*>(words);
        }
        ::close(fd);
    }
    // 0 while a write may be under way.
    std::uint64_t Current() const {
        if (m_words == nullptr) return 0;
        const std::uint64_t begun = std::atomic_ref(m_words[0]).load(std::memory_order_acquire);
        const std::uint64_t done = std::atomic_ref(m_words[1]).load(std::memory_order_acquire);
        return begun == done ? done + 1 : 0;
    }
    // Call holding the write lock; hand the ticket to EndWrite.
    std::uint64_t BeginWrite() {
        if (m_words == nullptr) return 0;
        return std::atomic_ref(m_words[0]).fetch_add(1, std::memory_order_acq_rel) + 1;
    }
    void EndWrite(std::uint64_t ticket) {
        if (m_words == nullptr) return;
        std::atomic_ref done(m_words[1]);
        std::uint64_t seen = done.load(std::memory_order_acquire);
        while (seen < ticket && !done.compare_exchange_weak(seen, ticket, std::memory_order_acq_rel)) {
        }
    }

private:
    static constexpr std::size_t kSize = 4096;
    std::uint64_t* m_words = nullptr;
};

}  // namespace

struct CStoreRegistry::Impl {
    std::string path;
    // Declared before the statements so that they are finalized first.
    ConnectionPtr db;
    mutable std::mutex mutex;
    std::string lastError;

    std::array<std::int64_t, kRootNames.size()> rootIds{};
    std::array<KeyCache, kRootNames.size()> rootCaches;
    std::unordered_map<std::uintptr_t, Handle> handles;
    std::uintptr_t nextHandle = 0x1000;
    int batchDepth = 0;
    std::uint64_t batchTicket = 0;
    CChangeStamp stamp;
    // What was read of the tree, good while the change stamp stays at
    // knownStamp: a loader opens every key by its full path, and each step
    // would otherwise be a query. Whole subkey lists by parent id, and
    // subkeys found one by one.
    std::unordered_map<std::int64_t, std::shared_ptr<const ChildList>> listed;
    std::size_t listedEntries = 0;
    std::unordered_map<ChildName, std::int64_t, ChildNameHash, ChildNameEqual> found;
    std::uint64_t knownStamp = 0;
    // Value lists read ahead for the subkeys of a parent from the one asked
    // for on, in their order, each taken by the handle that enumerates it;
    // good at knownStamp. One window for each level of a walk down the tree.
    struct ReadAhead {
        std::int64_t parent = 0;
        std::vector<std::pair<std::int64_t, std::unique_ptr<ValueList>>> lists;
        std::size_t next = 0;  // where the next key is looked for first
        std::size_t left = 0;  // lists not taken yet
    };
    std::vector<ReadAhead> windows;  // oldest first; none used up
    // The last key whose values were read, and its parent.
    std::int64_t lastValuesKey = 0, lastValuesParent = 0;
    // Scratch space for the call under way, kept to spare allocations.
    std::vector<std::string_view> parts;
    std::string folded;

    CStatement findChild, keyState, hasChild, insertKey, touchKeys, touchValues, deleteKey,
        deleteKeyValues, listChildren, listValues, listSiblingValues, valueData, upsertValue, deleteValue,
        begin, beginRead, commit, rollback, savepoint, release, rollbackTo;

    LONG Fail(int rc) {
        lastError = sqlite3_errmsg(db.get());
        const LONG status = StatusFromSqlite(rc);
        return status != ERROR_SUCCESS ? status : kErrorRegistryIoFailed;
    }

    int Prepare() {
        const std::pair<CStatement*, const char*> statements[] = {
            {&findChild, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2"},
            {&keyState, "SELECT kgen, vgen, parent FROM keys WHERE id = ?1"},
            {&hasChild, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1"},
            {&insertKey,
             "INSERT INTO keys(parent, name, fold, class, written) VALUES(?1, ?2, ?3, ?4, ?5)"},
            {&touchKeys, "UPDATE keys SET kgen = kgen + 1, written = ?2 WHERE id = ?1"},
            {&touchValues, "UPDATE keys SET vgen = vgen + 1, written = ?2 WHERE id = ?1"},
            {&deleteKey, "DELETE FROM keys WHERE id = ?1"},
            {&deleteKeyValues, "DELETE FROM vals WHERE key = ?1"},
            // The key's generation comes with its list, so that one statement
            // (one read transaction) tells whether a snapshot is current.
            {&listChildren,
             "SELECT k.kgen, c.id, c.name, c.class, c.written, c.kgen, "
             "EXISTS(SELECT 1 FROM keys g WHERE g.parent = c.id) "
             "FROM keys k LEFT JOIN keys c ON c.parent = k.id WHERE k.id = ?1 ORDER BY c.fold"},
            {&listValues,
             "SELECT k.vgen, v.id, v.name, v.type, length(v.data), "
             "CASE WHEN length(v.data) <= ?2 THEN v.data END "
             "FROM keys k LEFT JOIN vals v ON v.key = k.id WHERE k.id = ?1 ORDER BY v.id"},
            // The values of a key and of the subkeys of its parent that follow it.
            {&listSiblingValues,
             "SELECT k.id, k.vgen, v.id, v.name, v.type, length(v.data), "
             "CASE WHEN length(v.data) <= ?3 THEN v.data END "
             "FROM keys k LEFT JOIN vals v ON v.key = k.id "
             "WHERE k.parent = ?1 AND k.fold >= (SELECT fold FROM keys WHERE id = ?2) "
             "ORDER BY k.fold, v.id"},
            {&valueData,
             "SELECT v.data FROM vals v JOIN keys k ON k.id = v.key WHERE v.id = ?1 AND k.vgen = ?2"},
            {&upsertValue,
             "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
             "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"},
            {&deleteValue, "DELETE FROM vals WHERE key = ?1 AND fold = ?2"},
            {&begin, "BEGIN IMMEDIATE"},
            {&beginRead, "BEGIN"},
            {&commit, "COMMIT"},
            {&rollback, "ROLLBACK"},
            {&savepoint, "SAVEPOINT qv_call"},
            {&release, "RELEASE qv_call"},
            {&rollbackTo, "ROLLBACK TO qv_call"},
        };
        for (const auto& [statement, sql] : statements) {
            const int rc = statement->Prepare(db.get(), sql);
            if (rc != SQLITE_OK) return rc;
        }
        return SQLITE_OK;
    }

    int Exec(const CStatement& statement) {
        CRun run(statement);
        const int rc = run.Step();
        return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
    }

    void ForgetKnown() {
        listed.clear();
        listedEntries = 0;
        found.clear();
        windows.clear();
    }

    void DropCaches() {
        for (auto& cache : rootCaches) cache.Clear();
        for (auto& [value, handle] : handles) handle.cache.Clear();
        ForgetKnown();
    }

    // After a failure SQLite may have rolled the whole transaction back by
    // itself; a batch is then gone, and snapshots taken inside it describe
    // generations that never happened.
    void NoteFailureInBatch() {
        if (batchDepth > 0 && sqlite3_get_autocommit(db.get())) {
            batchDepth = 0;
            DropCaches();
            stamp.EndWrite(batchTicket);
        }
    }

    LONG Resolve(HKEY hKey, KeyRef& ref) {
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
    HKEY AddHandle(const WalkResult& walk, std::size_t depth, REGSAM access) {
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
            empty->readAt = knownStamp;
            handle.cache.children = std::move(empty);
            handle.cache.childrenStamp = knownStamp;
        }
        return reinterpret_cast<HKEY>(value);
    }

    // Key generations, or ERROR_KEY_DELETED when the key is gone.
    LONG KeyState(std::int64_t id, std::int64_t* kgen, std::int64_t* vgen, std::int64_t* parent) {
        CRun run(keyState);
        run.Int(1, id);
        const int rc = run.Step();
        if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
        if (rc != SQLITE_ROW) return Fail(rc);
        if (kgen) *kgen = run.Column(0);
        if (vgen) *vgen = run.Column(1);
        if (parent) *parent = run.Column(2);
        return ERROR_SUCCESS;
    }

    // The child's id by its folded name, 0 when there is none.
    LONG FindChild(std::int64_t parent, std::string_view folded, std::int64_t& child) {
        CRun run(findChild);
        run.Int(1, parent).Blob(2, folded);
        const int rc = run.Step();
        child = 0;
        if (rc == SQLITE_ROW) child = run.Column(0);
        else if (rc != SQLITE_DONE) return Fail(rc);
        return ERROR_SUCCESS;
    }

    // Whether what was read of the tree may be used at change stamp `now`;
    // forgotten first when something was written since it was read. `now`
    // must be read before the file is asked, so that a write in between
    // makes what is read stale rather than wrong.
    bool KnownUsable(std::uint64_t now) {
        if (now == 0) return false;
        if (now != knownStamp) {
            ForgetKnown();
            knownStamp = now;
        }
        return true;
    }

    void RememberList(std::uint64_t now, std::int64_t parent, const std::shared_ptr<const ChildList>& list) {
        // A bound on memory for huge registries; the cache fills up again.
        constexpr std::size_t kMaxListedEntries = std::size_t{1} << 18;
        // Empty lists are many (every leaf) and spare no query when opening.
        if (list->entries.empty() || list->readAt != now || !KnownUsable(now)) return;
        if (listed.contains(parent)) return;
        if (listedEntries + list->entries.size() > kMaxListedEntries) {
            listed.clear();
            listedEntries = 0;
        }
        listed.emplace(parent, list);
        listedEntries += list->entries.size();
    }

    // Follows `names` from `from` as far as they exist. A key that still has
    // a child is alive (keys with subkeys cannot be deleted), so the base key
    // is checked only when its first child is missing. Steps through a
    // subkey list or a subkey already found need no query.
    LONG Walk(const KeyRef& from, const std::vector<std::string_view>& names, WalkResult& walk) {
        walk = {};
        walk.id = from.id;
        walk.parent = from.parent;
        const std::uint64_t now = stamp.Current();
        const bool usable = KnownUsable(now);
        std::optional<CRead> read;
        for (; walk.reached < names.size(); ++walk.reached) {
            const std::string_view name = names[walk.reached];
            std::int64_t child = 0, noSubkeysAt = -1;
            bool answered = false;
            if (usable) {
                if (const auto list = listed.find(walk.id); list != listed.end()) {
                    answered = true;
                    if (const ChildList::Entry* entry = list->second->Find(name)) {
                        child = entry->id;
                        noSubkeysAt = entry->noSubkeysAt;
                    }
                } else {
                    FoldInto(name, folded);
                    if (const auto hit = found.find(ChildNameView{walk.id, folded}); hit != found.end()) {
                        answered = true;
                        child = hit->second;
                    }
                }
            }
            if (!answered) {
                if (!read) read.emplace(*this);
                FoldInto(name, folded);
                if (const LONG status = FindChild(walk.id, folded, child); status != ERROR_SUCCESS) return status;
                if (child != 0 && usable) {
                    if (found.size() >= (std::size_t{1} << 16)) found.clear();
                    found.try_emplace(ChildName{walk.id, folded}, child);
                }
            }
            if (child == 0) break;
            walk.parent = walk.id;
            walk.id = child;
            walk.noSubkeysAt = noSubkeysAt;
        }
        if (walk.reached == 0 && !from.predefined) return KeyState(from.id, nullptr, nullptr, nullptr);
        return ERROR_SUCCESS;
    }

    LONG Touch(const CStatement& statement, std::int64_t id) {
        CRun run(statement);
        run.Int(1, id).Int(2, NowFileTime());
        const int rc = run.Step();
        if (rc != SQLITE_DONE) return Fail(rc);
        return sqlite3_changes(db.get()) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
    }

    // Several reads as one transaction: one set of file locks instead of one
    // per statement, and one consistent view.
    class CRead {
    public:
        explicit CRead(Impl& impl) : m_impl(impl) {
            m_open = sqlite3_get_autocommit(impl.db.get()) && impl.Exec(impl.beginRead) == SQLITE_OK;
        }
        ~CRead() {
            if (m_open) m_impl.Exec(m_impl.commit);
        }
        CRead(const CRead&) = delete;
        CRead& operator=(const CRead&) = delete;

    private:
        Impl& m_impl;
        bool m_open;
    };

    // Makes the key's subkey snapshot current, going to the file only when
    // something may have been committed since it was last checked. The list
    // also serves opening the subkeys by path.
    LONG FreshChildren(const KeyRef& ref) {
        const std::uint64_t now = stamp.Current();
        KeyCache& cache = *ref.cache;
        if (cache.children != nullptr && now != 0 && cache.childrenStamp == now) {
            // Back in the path cache if it was emptied for room.
            RememberList(now, ref.id, cache.children);
            return ERROR_SUCCESS;
        }
        if (KnownUsable(now)) {
            if (const auto list = listed.find(ref.id); list != listed.end()) {
                cache.children = list->second;
                cache.childrenStamp = now;
                return ERROR_SUCCESS;
            }
        }
        CRun run(listChildren);
        run.Int(1, ref.id);
        int rc = run.Step();
        if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
        if (rc != SQLITE_ROW) return Fail(rc);
        const std::int64_t generation = run.Column(0);
        if (cache.children == nullptr || cache.children->generation != generation) {
            auto fresh = std::make_shared<ChildList>();
            fresh->generation = generation;
            fresh->readAt = now;
            for (; rc == SQLITE_ROW && !run.IsNull(1); rc = run.Step()) {
                const std::string_view name = run.ColumnBytes(2);
                const std::string_view keyClass = run.ColumnBytes(3);
                ChildList::Entry entry{run.Column(1),
                                       fresh->text.size(),
                                       name.size(),
                                       0,
                                       keyClass.size(),
                                       run.Column(4),
                                       run.Column(6) ? -1 : run.Column(5)};
                fresh->text.append(name);
                entry.classAt = fresh->text.size();
                fresh->text.append(keyClass);
                fresh->entries.push_back(entry);
            }
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc);
            cache.children = std::move(fresh);
        }
        cache.childrenStamp = now;
        RememberList(now, ref.id, cache.children);
        return ERROR_SUCCESS;
    }

    // Appends the value in columns first.. (id, name, type, size, data or NULL).
    static void AppendValue(ValueList& list, const CRun& run, int first) {
        const std::string_view name = run.ColumnBytes(first + 1);
        ValueList::Entry entry{run.Column(first),
                               list.bytes.size(),
                               name.size(),
                               static_cast<DWORD>(run.Column(first + 2)),
                               static_cast<std::uint64_t>(run.Column(first + 3)),
                               0,
                               !run.IsNull(first + 4)};
        list.bytes.append(name);
        entry.dataAt = list.bytes.size();
        if (entry.inlined) list.bytes.append(run.ColumnBytes(first + 4));
        list.entries.push_back(entry);
    }

    // Hands the key its values read ahead at stamp `now`, if they were.
    bool TakeReadAhead(const KeyRef& ref, std::uint64_t now) {
        if (!KnownUsable(now)) return false;
        for (auto window = windows.begin(); window != windows.end(); ++window) {
            if (window->parent != ref.parent) continue;
            const std::size_t count = window->lists.size();
            for (std::size_t i = 0; i < count; ++i) {
                auto& [key, list] = window->lists[(window->next + i) % count];
                if (key != ref.id || list == nullptr) continue;
                ref.cache->values = std::move(list);
                window->next = (window->next + i + 1) % count;
                if (--window->left == 0) windows.erase(window);
                return true;
            }
        }
        return false;
    }

    // Reads the values of the key and of the subkeys of its parent that
    // follow it, whole keys up to about kReadAheadRows values or
    // kReadAheadBytes: one query instead of one per key for a caller that
    // goes through the subkeys in order. `now` is not 0.
    LONG ReadValuesAhead(const KeyRef& ref, std::uint64_t now) {
        constexpr std::size_t kReadAheadRows = 2048;
        constexpr std::size_t kReadAheadBytes = std::size_t{1} << 20;
        constexpr std::size_t kMaxWindows = 8;
        std::erase_if(windows, [&](const ReadAhead& window) { return window.parent == ref.parent; });
        if (windows.size() >= kMaxWindows) windows.erase(windows.begin());
        ReadAhead& window = windows.emplace_back();
        window.parent = ref.parent;
        CRun run(listSiblingValues);
        run.Int(1, ref.parent).Int(2, ref.id).Int(3, kInlineDataLimit);
        std::unique_ptr<ValueList> list;
        std::int64_t key = 0;
        std::size_t rows = 0, bytes = 0;
        int rc;
        while ((rc = run.Step()) == SQLITE_ROW) {
            if (run.Column(0) != key) {
                if (list != nullptr) {
                    bytes += list->bytes.size();
                    window.lists.emplace_back(key, std::move(list));
                }
                if (rows >= kReadAheadRows || bytes >= kReadAheadBytes) break;
                key = run.Column(0);
                list = std::make_unique<ValueList>();
                list->generation = run.Column(1);
                list->stamp = now;
            }
            ++rows;
            if (!run.IsNull(2)) AppendValue(*list, run, 2);
        }
        if (list != nullptr) window.lists.emplace_back(key, std::move(list));
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            windows.pop_back();
            return Fail(rc);
        }
        window.left = window.lists.size();
        // The key itself comes first, unless it was deleted.
        if (TakeReadAhead(ref, now)) return ERROR_SUCCESS;
        windows.pop_back();
        return ERROR_KEY_DELETED;
    }

    LONG FreshValues(const KeyRef& ref) {
        const std::uint64_t now = stamp.Current();
        ValueList* list = ref.cache->values.get();
        if (list != nullptr && now != 0 && list->stamp == now) return ERROR_SUCCESS;
        if (list == nullptr && now != 0 && ref.parent != 0) {
            // After its parent or a sibling: likely all the siblings follow.
            const bool walking = ref.parent == lastValuesKey || ref.parent == lastValuesParent;
            lastValuesKey = ref.id;
            lastValuesParent = ref.parent;
            if (TakeReadAhead(ref, now)) return ERROR_SUCCESS;
            if (walking) return ReadValuesAhead(ref, now);
        }
        CRun run(listValues);
        run.Int(1, ref.id).Int(2, kInlineDataLimit);
        int rc = run.Step();
        if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
        if (rc != SQLITE_ROW) return Fail(rc);
        const std::int64_t generation = run.Column(0);
        if (list == nullptr || list->generation != generation) {
            auto fresh = std::make_unique<ValueList>();
            fresh->generation = generation;
            for (; rc == SQLITE_ROW && !run.IsNull(1); rc = run.Step()) AppendValue(*fresh, run, 1);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc);
            list = fresh.get();
            ref.cache->values = std::move(fresh);
        }
        list->stamp = now;
        return ERROR_SUCCESS;
    }

    // Runs a write as one transaction, or inside a batch as a savepoint so
    // that a failed call leaves the rest of the batch intact.
    class CWrite {
    public:
        explicit CWrite(Impl& impl) : m_impl(impl), m_nested(impl.batchDepth > 0) {
            const int rc = m_impl.Exec(m_nested ? m_impl.savepoint : m_impl.begin);
            if (rc != SQLITE_OK) {
                m_status = m_impl.Fail(rc);
                m_done = true;
                m_impl.NoteFailureInBatch();
            } else if (!m_nested) {
                m_ticket = m_impl.stamp.BeginWrite();
            }
        }
        ~CWrite() {
            if (m_done) return;
            if (m_nested) {
                m_impl.Exec(m_impl.rollbackTo);
                m_impl.Exec(m_impl.release);
                m_impl.NoteFailureInBatch();
            } else {
                m_impl.Exec(m_impl.rollback);
                m_impl.stamp.EndWrite(m_ticket);
            }
        }
        CWrite(const CWrite&) = delete;
        CWrite& operator=(const CWrite&) = delete;

        LONG Status() const { return m_status; }
        LONG Commit() {
            const int rc = m_impl.Exec(m_nested ? m_impl.release : m_impl.commit);
            if (rc == SQLITE_OK) {
                m_done = true;
                if (!m_nested) m_impl.stamp.EndWrite(m_ticket);
                return ERROR_SUCCESS;
            }
            return m_impl.Fail(rc);  // the destructor rolls back
        }

    private:
        Impl& m_impl;
        bool m_nested;
        bool m_done = false;
        LONG m_status = ERROR_SUCCESS;
        std::uint64_t m_ticket = 0;
    };
};

CStoreRegistry::CStoreRegistry(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

CStoreRegistry::~CStoreRegistry() {
    if (m_impl && m_impl->batchDepth > 0) {
        m_impl->Exec(m_impl->rollback);
        m_impl->stamp.EndWrite(m_impl->batchTicket);
    }
}

std::string DefaultStorePath() {
    const char* explicitPath = std::getenv("QUORVANE_REGISTRY");
    if (explicitPath != nullptr && *explicitPath != '\0') return explicitPath;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && *dataHome != '\0') return std::string(dataHome) + "/quorvane/registry.db";
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return std::string(home) + "/.local/share/quorvane/registry.db";
    return {};
}

namespace {

// Runs `sql` and hands back the first column of its first row as a number.
int QueryNumber(sqlite3* db, const char* sql, sqlite3_int64& number) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
    if (rc != SQLITE_OK) return rc;
    rc = sqlite3_step(raw);
    number = rc == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : 0;
    sqlite3_finalize(raw);
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int QueryText(sqlite3* db, const char* sql, std::string& text) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
    if (rc != SQLITE_OK) return rc;
    rc = sqlite3_step(raw);
    text.clear();
    if (rc == SQLITE_ROW) {
        if (const unsigned char* value = sqlite3_column_text(raw, 0)) text = reinterpret_cast<const char*>(value);
    }
    sqlite3_finalize(raw);
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Creates the tables on an empty file. Another process may be doing the
// same at this moment, so the emptiness is checked again under the write lock.
int InitialiseIfEmpty(sqlite3* db) {
    int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    sqlite3_int64 tables = 0;
    rc = QueryNumber(db, "SELECT count(*) FROM sqlite_master", tables);
    if (rc == SQLITE_OK && tables == 0) {
        const std::string setup = std::string(kSchema) +
                                  "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                  ";\nPRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
        rc = sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK) {
        // Roots are (re)made here so that a store always has all five.
        for (const char* root : kRootNames) {
            sqlite3_stmt* raw = nullptr;
            rc = sqlite3_prepare_v2(db,
                                    "INSERT OR IGNORE INTO keys(parent, name, fold, written) "
                                    "VALUES(0, ?1, ?2, ?3)",
                                    -1, &raw, nullptr);
            if (rc != SQLITE_OK) break;
            const std::string folded = Fold(root);
            sqlite3_bind_blob(raw, 1, root, static_cast<int>(std::strlen(root)), SQLITE_STATIC);
            sqlite3_bind_blob(raw, 2, folded.data(), static_cast<int>(folded.size()), SQLITE_STATIC);
            sqlite3_bind_int64(raw, 3, NowFileTime());
            rc = sqlite3_step(raw);
            sqlite3_finalize(raw);
            if (rc != SQLITE_DONE) break;
            rc = SQLITE_OK;
        }
    }
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return rc;
}

}  // namespace

std::unique_ptr<CStoreRegistry> CStoreRegistry::Open(const std::string& path, std::string* error) {
    std::string ignored;
    std::string& why = error != nullptr ? *error : ignored;
    why.clear();
    if (path.empty()) {
        why = "No registry store file was given.";
        return nullptr;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file(path);
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path(), ec);
        if (ec) {
            why = "Cannot create the folder " + file.parent_path().string() + " for the registry store: " +
                  ec.message() + ".";
            return nullptr;
        }
    }
    if (fs::is_directory(file, ec)) {
        why = "The registry store " + path + " is a folder, not a file.";
        return nullptr;
    }

    auto impl = std::make_unique<Impl>();
    impl->path = path;
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    impl->db.reset(raw);
    const auto failed = [&](const char* what) {
        why = std::string(what) + " " + path + ": " +
              (impl->db ? sqlite3_errmsg(impl->db.get()) : sqlite3_errstr(rc)) + ".";
        return nullptr;
    };
    if (rc != SQLITE_OK) return failed("Cannot open the registry store");
    sqlite3_busy_timeout(impl->db.get(), kBusyTimeoutMs);
    impl->stamp.Open(path + "-qvstamp");

    // Reading the schema is what tells a database from any other file.
    sqlite3_int64 tables = 0;
    rc = QueryNumber(impl->db.get(), "SELECT count(*) FROM sqlite_master", tables);
    if (rc != SQLITE_OK) return failed("Cannot read the registry store");

    std::string mode;
    rc = QueryText(impl->db.get(), "PRAGMA journal_mode = WAL", mode);
    if (rc != SQLITE_OK) return failed("Cannot prepare the registry store");
    // NORMAL in WAL mode loses nothing when a process dies; only a power cut
    // may take back the last commits.
    // A larger page cache keeps a whole load or batch import in memory
    // rather than rereading pages from the file.
    rc = sqlite3_exec(impl->db.get(), "PRAGMA synchronous = NORMAL; PRAGMA cache_size = -32768", nullptr,
                      nullptr, nullptr);
    if (rc != SQLITE_OK) return failed("Cannot prepare the registry store");

    if (tables != 0) {
        sqlite3_int64 applicationId = 0, version = 0;
        rc = QueryNumber(impl->db.get(), "PRAGMA application_id", applicationId);
        if (rc == SQLITE_OK) rc = QueryNumber(impl->db.get(), "PRAGMA user_version", version);
        if (rc != SQLITE_OK) return failed("Cannot read the registry store");
        if (applicationId != kApplicationId) {
            why = "The file " + path + " is a database but not a Quorvane registry store.";
            return nullptr;
        }
        if (version > kSchemaVersion) {
            why = "The registry store " + path + " was made by a newer version of Quorvane (format " +
                  std::to_string(version) + ").";
            return nullptr;
        }
    }
    if (tables == 0) {
        rc = InitialiseIfEmpty(impl->db.get());
        if (rc != SQLITE_OK) return failed("Cannot set up the registry store");
    }
    rc = impl->Prepare();
    if (rc != SQLITE_OK) return failed("The registry store is damaged:");

    for (int attempt = 0; attempt < 2; ++attempt) {
        bool complete = true;
        for (std::size_t i = 0; i < kRootNames.size(); ++i) {
            std::int64_t id = 0;
            if (impl->FindChild(0, Fold(kRootNames[i]), id) != ERROR_SUCCESS) {
                why = "Cannot read the registry store " + path + ": " + impl->lastError + ".";
                return nullptr;
            }
            impl->rootIds[i] = id;
            complete = complete && id != 0;
        }
        if (complete) break;
        if (attempt == 1) {
            why = "The registry store " + path + " lacks a root key and cannot be repaired.";
            return nullptr;
        }
        // A root deleted behind our back (say, with the sqlite3 shell) comes back empty.
        rc = InitialiseIfEmpty(impl->db.get());
        if (rc != SQLITE_OK) return failed("Cannot set up the registry store");
    }
    return std::unique_ptr<CStoreRegistry>(new CStoreRegistry(std::move(impl)));
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
    if (const LONG status = SplitPath(lpSubKey, parts); status != ERROR_SUCCESS) return status;
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
    if (const LONG status = SplitPath(lpSubKey, parts); status != ERROR_SUCCESS) return status;
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
    if (const LONG status = SplitPath(lpSubKey, parts); status != ERROR_SUCCESS) return status;
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

std::string CStoreRegistry::LastError() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->lastError;
}

std::size_t CStoreRegistry::OpenHandleCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->handles.size();
}

}  // namespace qv
