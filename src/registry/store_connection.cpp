// The store's SQLite connection: opening and checking the file, the
// schema, the prepared statements, and the transactions every write runs
// in. Registry rules (names, handles, access) are not decided here.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/private_files.h"
#include "registry/store_internal.h"

namespace qv {

using namespace store;

namespace {

// Marks the file as ours, so that another program's database is refused
// rather than written into.
constexpr int kApplicationId = 0x51565247;  // "QVRG"
constexpr int kSchemaVersion = 1;
// Long enough for another process's batch import to finish.
constexpr int kBusyTimeoutMs = 30000;
// Seconds between 1601 and 1970, in FILETIME ticks.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;

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

// "file:" URI of `path` for a read-only, unchanging open; characters that
// mean something in a URI are escaped.
std::string ReadOnlyUri(const std::string& path) {
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            static constexpr char kHex[] = "0123456789ABCDEF";
            uri += '%';
            uri += kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
            uri += kHex[static_cast<unsigned char>(c) & 0xF];
        } else {
            uri += c;
        }
    }
    return uri + "?mode=ro&immutable=1";
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

std::int64_t store::NowFileTime() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return kUnixEpochTicks + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

// SQLite's busy handler: waits up to kBusyTimeoutMs for another program's
// lock, in short sleeps, and says after the first second what it waits for.
int CStoreRegistry::Impl::WaitForLock(void* context, int attempt) {
    auto& impl = *static_cast<Impl*>(context);
    const auto now = std::chrono::steady_clock::now();
    if (attempt == 0) {
        impl.waitStart = now;
        impl.waitTold = false;
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - impl.waitStart).count();
    if (waited >= kBusyTimeoutMs) return 0;
    if (waited >= 1000 && !impl.waitTold) {
        impl.waitTold = true;
        if (impl.notice)
            impl.notice("Waiting for another program that holds the registry store " + impl.path +
                        " locked (at most 30 seconds)...");
    }
    sqlite3_sleep(attempt < 10 ? 2 : 20);
    return 1;
}

LONG CStoreRegistry::Impl::Fail(int rc) {
    lastError = sqlite3_errmsg(db.get());
    const LONG status = StatusFromSqlite(rc);
    return status != ERROR_SUCCESS ? status : kErrorRegistryIoFailed;
}

int CStoreRegistry::Impl::Prepare() {
    const std::pair<CStatement*, const char*> statements[] = {
        {&findChild, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2"},
        {&keyState, "SELECT kgen, vgen, parent FROM keys WHERE id = ?1"},
        {&hasChild, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1"},
        {&insertKey, "INSERT INTO keys(parent, name, fold, class, written) VALUES(?1, ?2, ?3, ?4, ?5)"},
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
        {&valueData, "SELECT v.data FROM vals v JOIN keys k ON k.id = v.key WHERE v.id = ?1 AND k.vgen = ?2"},
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

// After a failure SQLite may have rolled the whole transaction back by
// itself; a batch is then gone, and snapshots taken inside it describe
// generations that never happened.
void CStoreRegistry::Impl::NoteFailureInBatch() {
    if (batchDepth > 0 && sqlite3_get_autocommit(db.get())) {
        batchDepth = 0;
        DropCaches();
        stamp.EndWrite(batchTicket);
    }
}

LONG CStoreRegistry::Impl::KeyState(std::int64_t id, std::int64_t* kgen, std::int64_t* vgen, std::int64_t* parent) {
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

LONG CStoreRegistry::Impl::FindChild(std::int64_t parent, std::string_view folded, std::int64_t& child) {
    CRun run(findChild);
    run.Int(1, parent).Blob(2, folded);
    const int rc = run.Step();
    child = 0;
    if (rc == SQLITE_ROW) child = run.Column(0);
    else if (rc != SQLITE_DONE) return Fail(rc);
    return ERROR_SUCCESS;
}

LONG CStoreRegistry::Impl::Touch(const CStatement& statement, std::int64_t id) {
    CRun run(statement);
    run.Int(1, id).Int(2, NowFileTime());
    const int rc = run.Step();
    if (rc != SQLITE_DONE) return Fail(rc);
    return sqlite3_changes(db.get()) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

CStoreRegistry::Impl::CWrite::CWrite(Impl& impl) : m_impl(impl), m_nested(impl.batchDepth > 0) {
    const int rc = m_impl.Exec(m_nested ? m_impl.savepoint : m_impl.begin);
    if (rc != SQLITE_OK) {
        m_status = m_impl.Fail(rc);
        m_done = true;
        m_impl.NoteFailureInBatch();
    } else if (!m_nested) {
        m_ticket = m_impl.stamp.BeginWrite();
    }
}

CStoreRegistry::Impl::CWrite::~CWrite() {
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

LONG CStoreRegistry::Impl::CWrite::Commit() {
    const int rc = m_impl.Exec(m_nested ? m_impl.release : m_impl.commit);
    if (rc == SQLITE_OK) {
        m_done = true;
        if (!m_nested) m_impl.stamp.EndWrite(m_ticket);
        return ERROR_SUCCESS;
    }
    return m_impl.Fail(rc);  // the destructor rolls back
}

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

std::unique_ptr<CStoreRegistry> CStoreRegistry::Open(const std::string& path, std::string* error,
                                                     StoreNotice notice) {
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
    // The store holds this computer's registry, secrets too: the folders it
    // makes, and a new store file, are the user's alone. SQLite gives the
    // -wal and -shm files the store file's mode, so an existing store keeps
    // the mode its owner chose.
    if (file.has_parent_path()) {
        std::string reason;
        if (!MakePrivateFolders(file.parent_path().string(), reason)) {
            why = "Cannot create the folder " + file.parent_path().string() + " for the registry store: " + reason +
                  ".";
            return nullptr;
        }
    }
    if (fs::is_directory(file, ec)) {
        why = "The registry store " + path + " is a folder, not a file.";
        return nullptr;
    }
    // An empty file is a new store to SQLite. One another process makes at
    // the same moment is its to set up; any other failure SQLite reports.
    if (!fs::exists(file, ec)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) ::close(fd);
    }

    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->notice = std::move(notice);
    // A store in a folder nobody here may write to can still be read, but
    // not in WAL mode's usual way (that needs its -shm file beside it): it is
    // opened as a file nothing changes while it is open.
    const std::string folder = file.has_parent_path() ? file.parent_path().string() : std::string(".");
    impl->readOnly = fs::exists(file, ec) && access(folder.c_str(), W_OK) != 0;
    sqlite3* raw = nullptr;
    int rc = impl->readOnly
                 ? sqlite3_open_v2(ReadOnlyUri(path).c_str(), &raw,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr)
                 : sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    impl->db.reset(raw);
    const auto failed = [&](const char* what) {
        why = std::string(what) + " " + path + ": " +
              (impl->db ? sqlite3_errmsg(impl->db.get()) : sqlite3_errstr(rc)) + ".";
        return nullptr;
    };
    if (rc != SQLITE_OK) return failed("Cannot open the registry store");
    sqlite3_busy_handler(impl->db.get(), &Impl::WaitForLock, impl.get());

    // First make sure the file is a store (or empty): another program's
    // database must be left as it is, not switched to WAL mode nor given
    // a stamp file. Reading the schema tells a database from other files.
    sqlite3_int64 tables = 0;
    rc = QueryNumber(impl->db.get(), "SELECT count(*) FROM sqlite_master", tables);
    if (rc != SQLITE_OK) return failed("Cannot read the registry store");
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
    if (impl->readOnly) {
        if (tables == 0) {
            why = "The registry store " + path + " is empty and its folder cannot be written to.";
            return nullptr;
        }
        if (impl->notice)
            impl->notice("The registry store " + path +
                         " is in a folder this user cannot write to: it is open for reading only, and every "
                         "change is refused.");
    } else {
        struct stat st {};
        impl->stamp.Open(path + "-qvstamp", ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0666 : 0600);
        std::string mode;
        rc = QueryText(impl->db.get(), "PRAGMA journal_mode = WAL", mode);
        if (rc != SQLITE_OK) return failed("Cannot prepare the registry store");
        // NORMAL in WAL mode loses nothing when a process dies; only a power
        // cut may take back the last commits.
        // A larger page cache keeps a whole load or batch import in memory
        // rather than rereading pages from the file.
        rc = sqlite3_exec(impl->db.get(), "PRAGMA synchronous = NORMAL; PRAGMA cache_size = -32768", nullptr,
                          nullptr, nullptr);
        if (rc != SQLITE_OK) return failed("Cannot prepare the registry store");
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
        if (attempt == 1 || impl->readOnly) {
            why = "The registry store " + path + " lacks a root key and cannot be repaired.";
            return nullptr;
        }
        // A root deleted behind our back (say, with the sqlite3 shell) comes back empty.
        rc = InitialiseIfEmpty(impl->db.get());
        if (rc != SQLITE_OK) return failed("Cannot set up the registry store");
    }
    return std::unique_ptr<CStoreRegistry>(new CStoreRegistry(std::move(impl)));
}

}  // namespace qv
