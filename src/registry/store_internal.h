// What the store's source files share and nobody else may include: limits,
// status mapping, statement wrappers, handles, and the state behind
// CStoreRegistry. Callers outside src/registry/store_*.cpp use
// store_registry.h only.
#pragma once

#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/store_cache.h"
#include "registry/store_change_stamp.h"
#include "registry/store_registry.h"

namespace qv::store {

constexpr LONG kErrorDiskFull = 112;
constexpr LONG kErrorBadPathname = 161;
constexpr LONG kErrorNoAccess = 998;
constexpr LONG kErrorRegistryCorrupt = 1015;
constexpr LONG kErrorRegistryIoFailed = 1016;

constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxKeyDepth = 512;

// Larger values are left out of an enumeration snapshot and read when asked
// for, so a key full of big values does not sit in memory.
constexpr sqlite3_int64 kInlineDataLimit = 4096;

constexpr std::array<const char*, 5> kRootNames = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_CURRENT_CONFIG"};

inline void FoldInto(std::string_view name, std::string& folded) {
    folded.assign(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
}

inline std::string Fold(std::string_view name) {
    std::string folded;
    FoldInto(name, folded);
    return folded;
}

// Now as a FILETIME, for last-write times.
std::int64_t NowFileTime();

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

}  // namespace qv::store

namespace qv {

// Everything below the public calls. The calls take `mutex` and then use
// the members freely; nothing here locks.
struct CStoreRegistry::Impl {
    std::string path;
    bool readOnly = false;
    StoreNotice notice;
    // The lock wait under way: when it began, and whether it was told.
    std::chrono::steady_clock::time_point waitStart;
    bool waitTold = false;
    // Declared before the statements so that they are finalized first.
    store::ConnectionPtr db;
    mutable std::mutex mutex;
    std::string lastError;

    std::array<std::int64_t, store::kRootNames.size()> rootIds{};
    std::array<store::KeyCache, store::kRootNames.size()> rootCaches;
    std::unordered_map<std::uintptr_t, store::Handle> handles;
    std::uintptr_t nextHandle = 0x1000;
    int batchDepth = 0;
    std::uint64_t batchTicket = 0;
    store::CChangeStamp stamp;
    store::KnownTree known;
    // Scratch space for the call under way, kept to spare allocations.
    std::vector<std::string_view> parts;
    std::string folded;

    store::CStatement findChild, keyState, hasChild, insertKey, touchKeys, touchValues, deleteKey,
        deleteKeyValues, listChildren, listValues, listSiblingValues, valueData, upsertValue, deleteValue,
        begin, beginRead, commit, rollback, savepoint, release, rollbackTo;

    // store_connection.cpp: statements and transactions.
    static int WaitForLock(void* context, int attempt);
    LONG Fail(int rc);
    int Prepare();
    int Exec(const store::CStatement& statement) {
        store::CRun run(statement);
        const int rc = run.Step();
        return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
    }
    void NoteFailureInBatch();
    // Key generations, or ERROR_KEY_DELETED when the key is gone.
    LONG KeyState(std::int64_t id, std::int64_t* kgen, std::int64_t* vgen, std::int64_t* parent);
    // The child's id by its folded name, 0 when there is none.
    LONG FindChild(std::int64_t parent, std::string_view folded, std::int64_t& child);
    // Bumps a key's subkey or value generation and its last-write time.
    LONG Touch(const store::CStatement& statement, std::int64_t id);

    // store_registry.cpp: handles.
    LONG Resolve(HKEY hKey, store::KeyRef& ref);
    HKEY AddHandle(const store::WalkResult& walk, std::size_t depth, REGSAM access);

    // store_cache.cpp: reading through the snapshots.
    void DropCaches();
    LONG Walk(const store::KeyRef& from, const std::vector<std::string_view>& names, store::WalkResult& walk);
    LONG FreshChildren(const store::KeyRef& ref);
    LONG FreshValues(const store::KeyRef& ref);
    LONG ReadValuesAhead(const store::KeyRef& ref, std::uint64_t now);

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

    // Runs a write as one transaction, or inside a batch as a savepoint so
    // that a failed call leaves the rest of the batch intact.
    class CWrite {
    public:
        explicit CWrite(Impl& impl);
        ~CWrite();
        CWrite(const CWrite&) = delete;
        CWrite& operator=(const CWrite&) = delete;

        LONG Status() const { return m_status; }
        LONG Commit();

    private:
        Impl& m_impl;
        bool m_nested;
        bool m_done = false;
        LONG m_status = ERROR_SUCCESS;
        std::uint64_t m_ticket = 0;
    };
};

}  // namespace qv
