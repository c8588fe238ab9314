// The store's own promises, beyond the registry contract: several processes
// on one file, a writer killed mid-stream, damaged files and unusable paths,
// where the file lives and who may read it, batches, byte-exact names, and
// what one connection read ahead giving way to another connection's writes.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "registry/store_registry.h"
#include "tests/support/umask_scope.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

HKEY CreateKey(IRegistry& registry, HKEY parent, const std::string& path, LONG* status = nullptr) {
    HKEY key = nullptr;
    const LONG result =
        registry.RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != nullptr) *status = result;
    return result == ERROR_SUCCESS ? key : nullptr;
}

HKEY OpenPath(IRegistry& registry, const std::string& path, LONG* status = nullptr) {
    HKEY key = nullptr;
    const LONG result = registry.RegOpenKeyExA(HKEY_USERS, path.c_str(), 0, KEY_READ, &key);
    if (status != nullptr) *status = result;
    return result == ERROR_SUCCESS ? key : nullptr;
}

LONG SetData(IRegistry& registry, HKEY key, const char* name, const std::string& data, DWORD type = REG_SZ) {
    return registry.RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                   static_cast<DWORD>(data.size()));
}

Names Subkeys(IRegistry& registry, HKEY key, LONG* end = nullptr) {
    Names names;
    char name[300];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        const LONG status = registry.RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            if (end != nullptr) *end = status;
            return names;
        }
        names.emplace_back(name, length);
    }
}

// "name=data" for each value, then "end <status that ended the list>".
Names Values(IRegistry& registry, HKEY key) {
    Names values;
    for (DWORD index = 0;; ++index) {
        char name[64];
        std::vector<char> data(8192);
        DWORD nameLength = sizeof name, size = static_cast<DWORD>(data.size());
        const LONG status = registry.RegEnumValueA(key, index, name, &nameLength, nullptr, nullptr,
                                                   reinterpret_cast<BYTE*>(data.data()), &size);
        if (status != ERROR_SUCCESS) {
            values.push_back("end " + std::to_string(status));
            return values;
        }
        values.push_back(std::string(name, nameLength) + "=" + std::string(data.data(), size));
    }
}

// Runs `body` in a child process, which ends with its result.
pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

// The child's exit code; a child still running after `seconds` is killed (-1).
int Reap(pid_t pid, int seconds = 10) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `sql` on the file straight through SQLite; the first column of the first row.
std::string Sql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::string text = "no row";
    if (sqlite3_open(path.c_str(), &db) == SQLITE_OK && sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return text;
}

class StoreFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = (fs::temp_directory_path() / "qv-store-XXXXXX").string();
        ASSERT_NE(mkdtemp(m_folder.data()), nullptr);
        m_path = m_folder + "/registry.db";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    std::unique_ptr<CStoreRegistry> OpenStore() {
        std::string error;
        auto store = CStoreRegistry::Open(m_path, &error);
        EXPECT_TRUE(store) << error;
        return store;
    }
    std::string OpenError(const std::string& path) {
        std::string error;
        EXPECT_EQ(CStoreRegistry::Open(path, &error), nullptr) << path;
        EXPECT_FALSE(error.empty());
        return error;
    }

    std::string m_folder;
    std::string m_path;
};

TEST_F(StoreFile, TwoProcessesWritingAtOnceBothSucceed) {
    ASSERT_TRUE(OpenStore());  // made before the race
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    constexpr int kRounds = 200;
    std::vector<pid_t> writers;
    for (int writer = 0; writer < 2; ++writer) {
        writers.push_back(Spawn([&, writer]() -> int {
            close(go[1]);
            char start;
            if (read(go[0], &start, 1) != 0) return 10;  // wait until the parent lets go
            auto store = CStoreRegistry::Open(m_path, nullptr);
            if (!store) return 11;
            const std::string own = "Software\\Writer" + std::to_string(writer);
            for (int i = 0; i < kRounds; ++i) {
                const std::string leaf = own + "\\k" + std::to_string(i) + "\\leaf";
                HKEY key = CreateKey(*store, HKEY_CURRENT_USER, leaf);
                if (key == nullptr) return 20;
                store->RegCloseKey(key);
                HKEY shared = CreateKey(*store, HKEY_CURRENT_USER, "Software\\Shared");
                if (shared == nullptr) return 21;
                const std::string name = "w" + std::to_string(writer) + "-" + std::to_string(i);
                const LONG status = SetData(*store, shared, name.c_str(), std::string(4, char(i)), REG_DWORD);
                store->RegCloseKey(shared);
                if (status != ERROR_SUCCESS) return 22;
                if (i % 20 == 19 && store->RegDeleteKeyA(HKEY_CURRENT_USER, leaf.c_str())) return 23;
            }
            return 0;
        }));
    }
    close(go[0]);
    close(go[1]);  // both start now

    // Meanwhile this process reads; readers never wait for writers.
    auto reader = OpenStore();
    ASSERT_TRUE(reader);
    for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
         std::chrono::steady_clock::now() < until;) {
        LONG end = 0;
        Subkeys(*reader, HKEY_CURRENT_USER, &end);
        ASSERT_EQ(end, ERROR_NO_MORE_ITEMS) << reader->LastError();
    }
    for (pid_t pid : writers) EXPECT_EQ(Reap(pid), 0);

    HKEY shared = CreateKey(*reader, HKEY_CURRENT_USER, "Software\\Shared");
    const Names values = Values(*reader, shared);
    EXPECT_EQ(values.size(), 2u * kRounds + 1);
    EXPECT_EQ(values.back(), "end 259");
    for (const char* own : {"Software\\Writer0", "Software\\Writer1"})
        EXPECT_EQ(Subkeys(*reader, CreateKey(*reader, HKEY_CURRENT_USER, own)).size(), std::size_t{kRounds});
}

TEST_F(StoreFile, KilledWriterLeavesEveryAcknowledgedWrite) {
    ASSERT_TRUE(OpenStore());
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    const pid_t writer = Spawn([&]() -> int {
        close(acks[0]);
        auto store = CStoreRegistry::Open(m_path, nullptr);
        if (!store) return 11;
        for (std::uint32_t i = 0; i < 20000; ++i) {
            HKEY key = CreateKey(*store, HKEY_LOCAL_MACHINE, "Software\\Crash\\k" + std::to_string(i));
            if (key == nullptr) return 20;
            const LONG status = SetData(*store, key, "v", std::string(100 + i % 300, char(i)), REG_BINARY);
            store->RegCloseKey(key);
            if (status != ERROR_SUCCESS) return 21;
            if (write(acks[1], &i, sizeof i) != sizeof i) return 22;
        }
        return 0;
    });
    close(acks[1]);
    std::vector<std::uint32_t> acknowledged;
    std::uint32_t i = 0;
    while (acknowledged.size() < 300 && read(acks[0], &i, sizeof i) == sizeof i) acknowledged.push_back(i);
    kill(writer, SIGKILL);
    while (read(acks[0], &i, sizeof i) == sizeof i) acknowledged.push_back(i);  // sent before it died
    close(acks[0]);
    EXPECT_EQ(Reap(writer), -1) << "the writer should have been killed, not finished";
    ASSERT_GE(acknowledged.size(), 300u);

    EXPECT_EQ(Sql(m_path, "PRAGMA integrity_check"), "ok");
    auto store = OpenStore();
    ASSERT_TRUE(store);
    for (std::uint32_t n : acknowledged) {
        HKEY key = nullptr;
        ASSERT_EQ(store->RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Crash\\k" + std::to_string(n)).c_str(), 0,
                                       KEY_READ, &key),
                  ERROR_SUCCESS)
            << "acknowledged key " << n << " is lost";
        EXPECT_EQ(Values(*store, key), (Names{"v=" + std::string(100 + n % 300, char(n)), "end 259"})) << n;
        store->RegCloseKey(key);
    }
}

TEST_F(StoreFile, ABrokenStoreNeverCrashesTheCaller) {
    {
        auto store = OpenStore();
        ASSERT_TRUE(store);
        for (int i = 0; i < 200; ++i) {
            HKEY key = CreateKey(*store, HKEY_LOCAL_MACHINE, "Software\\K" + std::to_string(i));
            ASSERT_NE(key, nullptr);
            SetData(*store, key, "v", std::string(3000, 'd'), REG_BINARY);
            store->RegCloseKey(key);
        }
    }
    {
        // Scribble over everything after the first page (closing the store
        // folded the WAL file back into it).
        std::fstream file(m_path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096);
        std::mt19937 random(11);
        for (int n = 0; n < 200000; ++n) file.put(static_cast<char>(random()));
    }
    std::string error;
    auto store = CStoreRegistry::Open(m_path, &error);
    if (!store) {
        EXPECT_FALSE(error.empty());
        return;
    }
    // Whatever the calls answer, it is an answer a caller knows.
    const auto known = [](LONG status) { return status == 0 || status == 2 || status == 259 || status == 1015 || status == 1016; };
    LONG status = 0;
    HKEY software = CreateKey(*store, HKEY_LOCAL_MACHINE, "Software", &status);
    EXPECT_TRUE(known(status)) << status;
    if (software != nullptr) Subkeys(*store, software, &status);
    EXPECT_TRUE(known(status)) << status;
    store->RegCloseKey(software);
    store->RegCloseKey(CreateKey(*store, HKEY_LOCAL_MACHINE, "Software\\New\\Key", &status));
    EXPECT_TRUE(known(status)) << status;
}

TEST_F(StoreFile, FilesAndPathsItCannotUseAreRefusedWithAReason) {
    {
        std::ofstream garbage(m_path, std::ios::binary);
        std::mt19937 random(7);
        for (int n = 0; n < 65536; ++n) garbage.put(static_cast<char>(random()));
    }
    const std::string foreign = m_folder + "/foreign.db", newer = m_folder + "/newer.db";
    Sql(foreign, "CREATE TABLE songs(title TEXT)");
    ASSERT_TRUE(CStoreRegistry::Open(newer, nullptr));
    Sql(newer, "PRAGMA user_version = 99");
    fs::create_directory(m_folder + "/folder.db");
    std::ofstream{m_folder + "/plain-file"};
    const std::pair<std::string, std::string> cases[] = {
        {m_path, m_path},
        {foreign, "not a Quorvane registry store"},
        {newer, "newer version"},
        {m_folder + "/folder.db", "folder"},
        {m_folder + "/plain-file/sub/registry.db", "Cannot create the folder"},
        {"", ""},
    };
    for (const auto& [path, reason] : cases) EXPECT_NE(OpenError(path).find(reason), std::string::npos) << path;
    // Another program's database is left exactly as it was.
    EXPECT_EQ(Sql(foreign, "PRAGMA journal_mode"), "delete");
    EXPECT_FALSE(fs::exists(foreign + "-qvstamp"));
    if (geteuid() != 0) {  // root reads files whatever their mode
        chmod(newer.c_str(), 0);
        EXPECT_NE(OpenError(newer).find(newer), std::string::npos);
    }
    std::ofstream{m_folder + "/empty.db"};
    EXPECT_TRUE(CStoreRegistry::Open(m_folder + "/empty.db", nullptr)) << "an empty file is a new store";
}

TEST_F(StoreFile, DefaultPathComesFromTheEnvironment) {
    const char* const names[] = {"QUORVANE_REGISTRY", "XDG_DATA_HOME", "HOME"};
    std::optional<std::string> saved[3];
    for (int i = 0; i < 3; ++i)
        if (getenv(names[i]) != nullptr) saved[i] = getenv(names[i]);
    const struct {
        const char* env[3];  // null: unset
        const char* path;
    } cases[] = {
        {{"/explicit/store.db", "/data/home", "/home/someone"}, "/explicit/store.db"},
        {{"", "/data/home", "/home/someone"}, "/data/home/quorvane/registry.db"},
        {{"", "", "/home/someone"}, "/home/someone/.local/share/quorvane/registry.db"},
        {{nullptr, nullptr, "/home/someone"}, "/home/someone/.local/share/quorvane/registry.db"},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 3; ++i) c.env[i] ? setenv(names[i], c.env[i], 1) : unsetenv(names[i]);
        EXPECT_EQ(DefaultStorePath(), c.path);
    }
    for (int i = 0; i < 3; ++i) saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

// (The limits on names and depth are the conformance suite's.)
TEST_F(StoreFile, FirstOpenMakesTheFolderKeyNamesAreBytesAndAllLevelsComeInOneCall) {
    m_path = m_folder + "/a/b/registry.db";
    auto store = OpenStore();
    ASSERT_TRUE(store);
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG})
        EXPECT_EQ(store->RegDeleteKeyA(root, ""), ERROR_ACCESS_DENIED) << "roots stay";
    LONG status = 0;
    std::string deep = "d";
    for (int level = 1; level < 512; ++level) deep += "\\d";
    store->RegCloseKey(CreateKey(*store, HKEY_USERS, deep, &status));  // Windows stops at 32 a call
    EXPECT_EQ(status, ERROR_SUCCESS);

    // Only ASCII letters fold; other bytes are kept and ordered as they are.
    HKEY names = CreateKey(*store, HKEY_USERS, "names");
    for (const char* name : {"\xC9t\xE9", "\xE9t\xE9", "\x01\x7F", "tab\there", "A", "\xFF", "\xC9T\xE9"})
        store->RegCloseKey(CreateKey(*store, names, name));
    EXPECT_EQ(Subkeys(*store, names), (Names{"\x01\x7F", "A", "tab\there", "\xC9t\xE9", "\xE9t\xE9", "\xFF"}));
    store->RegCloseKey(names);
}

// This computer's registry holds secrets: under umask 022 a new store, its
// -wal, -shm and stamp are 0600 and the folders made for it 0700, while a
// folder that was there and a store its owner made 0644 or 0660 keep them.
TEST_F(StoreFile, ANewStoreIsItsOwnersAloneAnExistingOneKeepsItsMode) {
    testing::CUmaskScope umask;
    ::chmod(m_folder.c_str(), 0755);
    struct Case {
        std::string path;
        unsigned existing;  // the file's mode before (an empty file), 0: none
        unsigned expected;
    };
    const Case cases[] = {{m_folder + "/a/b/registry.db", 0, 0600},
                          {m_folder + "/shared.db", 0644, 0644},
                          {m_folder + "/group.db", 0660, 0660}};  // wider than the umask lets files be made
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        if (c.existing != 0) {
            std::ofstream(c.path).close();
            ::chmod(c.path.c_str(), c.existing);
        }
        m_path = c.path;
        auto store = OpenStore();
        ASSERT_TRUE(store);
        store->RegCloseKey(CreateKey(*store, HKEY_USERS, "written"));  // the -wal has something in it
        for (const char* suffix : {"", "-wal", "-shm", "-qvstamp"})
            EXPECT_EQ(testing::ModeOf((c.path + suffix).c_str()), c.expected) << suffix;
    }
    EXPECT_EQ(testing::ModeOf((m_folder + "/a").c_str()), 0700u);
    EXPECT_EQ(testing::ModeOf((m_folder + "/a/b").c_str()), 0700u);
    EXPECT_EQ(testing::ModeOf(m_folder.c_str()), 0755u) << "a folder that was there is left as it was";
}

TEST_F(StoreFile, BatchesCommitTogetherOrNotAtAll) {
    auto store = OpenStore(), watcher = OpenStore();
    ASSERT_TRUE(store && watcher);
    HKEY base = CreateKey(*store, HKEY_USERS, "Batch");
    ASSERT_EQ(store->BeginBatch(), 0);
    ASSERT_EQ(store->BeginBatch(), 0);  // nested: only the outer commit counts
    store->RegCloseKey(CreateKey(*store, base, "one"));
    EXPECT_EQ(CreateKey(*store, base, std::string(256, 'x')), nullptr) << "a refused call leaves the batch going";
    ASSERT_EQ(store->CommitBatch(), 0);
    EXPECT_EQ(Subkeys(*watcher, OpenPath(*watcher, "Batch")), Names{}) << "not committed yet";
    ASSERT_EQ(store->CommitBatch(), 0);
    EXPECT_EQ(Subkeys(*watcher, OpenPath(*watcher, "Batch")), Names{"one"});
    EXPECT_EQ(store->CommitBatch(), ERROR_INVALID_PARAMETER);

    ASSERT_EQ(store->BeginBatch(), 0);
    store->RegCloseKey(CreateKey(*store, base, "two"));
    EXPECT_EQ(Subkeys(*store, base), (Names{"one", "two"}));
    store->RollbackBatch();
    EXPECT_EQ(Subkeys(*store, base), Names{"one"}) << "nothing remembered from inside the batch";
}

// A forced load reads ahead: the values of the following subkeys come with
// the first, and a parent's list tells which subkeys are empty. Another
// connection's writes must void all of it, including a kept parent list whose
// subkey gained a subkey of its own; a key it deleted answers as deleted.
TEST_F(StoreFile, WhatWasReadAheadGivesWayToAnotherWriter) {
    auto reader = OpenStore();
    auto writer = OpenStore();
    ASSERT_TRUE(reader && writer);
    for (const char* name : {"P\\A", "P\\B", "P\\C", "P\\D"}) {
        HKEY key = CreateKey(*writer, HKEY_USERS, name);
        ASSERT_EQ(SetData(*writer, key, "v", "1"), 0);
        writer->RegCloseKey(key);
    }
    writer->RegCloseKey(CreateKey(*writer, HKEY_USERS, "P\\E"));

    HKEY p = OpenPath(*reader, "P");
    EXPECT_EQ(Values(*reader, p), Names{"end 259"});
    EXPECT_EQ(Subkeys(*reader, p), (Names{"A", "B", "C", "D", "E"}));
    for (const char* name : {"P\\A", "P\\B"}) {
        HKEY key = OpenPath(*reader, name);
        EXPECT_EQ(Values(*reader, key), (Names{"v=1", "end 259"})) << name;
        reader->RegCloseKey(key);
    }
    HKEY d = OpenPath(*reader, "P\\D");  // opened before the writes, enumerated after

    HKEY c = CreateKey(*writer, HKEY_USERS, "P\\C");
    ASSERT_EQ(SetData(*writer, c, "v", "2"), 0);
    ASSERT_EQ(SetData(*writer, c, "w", "3"), 0);
    writer->RegCloseKey(c);
    writer->RegCloseKey(CreateKey(*writer, HKEY_USERS, "P\\E\\sub"));
    ASSERT_EQ(writer->RegDeleteKeyA(HKEY_USERS, "P\\D"), 0);

    c = OpenPath(*reader, "P\\C");
    EXPECT_EQ(Values(*reader, c), (Names{"v=2", "w=3", "end 259"}));
    EXPECT_EQ(Subkeys(*reader, p), (Names{"A", "B", "C", "E"}));
    HKEY e = OpenPath(*reader, "P\\E");
    EXPECT_EQ(Subkeys(*reader, e), Names{"sub"});
    EXPECT_EQ(Values(*reader, d), Names{"end 1018"});  // ERROR_KEY_DELETED
    LONG end = 0;
    Subkeys(*reader, d, &end);
    EXPECT_EQ(end, ERROR_KEY_DELETED);
    LONG status = 0;
    EXPECT_EQ(OpenPath(*reader, "P\\D", &status), nullptr);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);

    // The parent's list is read again unchanged; its subkey is no longer empty.
    writer->RegCloseKey(CreateKey(*writer, HKEY_USERS, "P\\E\\sub\\x"));
    EXPECT_EQ(Subkeys(*reader, e), Names{"sub"});
    HKEY sub = OpenPath(*reader, "P\\E\\sub");
    EXPECT_EQ(Subkeys(*reader, sub), Names{"x"});
    for (HKEY key : {p, c, d, e, sub}) EXPECT_EQ(reader->RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(reader->OpenHandleCount(), 0u);
}

// More values than one read-ahead holds, names in mixed case, an empty
// subkey and data too big to keep in memory: every subkey gets its own values,
// whole and in creation order.
TEST_F(StoreFile, ManySubkeysOpenedInTurnGetTheirOwnValues) {
    auto store = OpenStore();
    ASSERT_TRUE(store);
    constexpr int kKeys = 60, kValues = 50;
    const auto keyName = [](int k) { return std::string(k % 2 ? "k" : "K") + std::to_string(100 + k); };
    const auto data = [](int k, int v) {
        return std::to_string(k) + "/" + std::to_string(v) + (v == 7 ? std::string(5000, 'x') : "");
    };
    ASSERT_EQ(store->BeginBatch(), 0);
    for (int k = 0; k < kKeys; ++k) {
        HKEY key = CreateKey(*store, HKEY_USERS, "Many\\" + keyName(k));
        for (int v = 0; k != 30 && v < kValues; ++v)  // descending names: creation order is not name order
            ASSERT_EQ(SetData(*store, key, std::string("v").append(std::to_string(kValues - v)).c_str(), data(k, v)), 0);
        store->RegCloseKey(key);
    }
    ASSERT_EQ(store->CommitBatch(), 0);

    auto reader = OpenStore();
    ASSERT_TRUE(reader);
    HKEY many = OpenPath(*reader, "Many");
    const Names names = Subkeys(*reader, many);
    ASSERT_EQ(names.size(), std::size_t{kKeys});
    for (const std::string& name : names) {
        const int k = std::stoi(name.substr(1)) - 100;
        Names expected;
        for (int v = 0; k != 30 && v < kValues; ++v)
            expected.push_back(std::string("v").append(std::to_string(kValues - v)) + "=" + data(k, v));
        expected.push_back("end 259");
        HKEY key = OpenPath(*reader, "Many\\" + name);
        EXPECT_EQ(Values(*reader, key), expected) << name;
        reader->RegCloseKey(key);
    }
    reader->RegCloseKey(many);
}

// A store in a folder this user cannot write to opens for reading only and
// says so; every change is refused. (As root the folder's mode means
// nothing, so the check runs as nobody in a child.)
TEST_F(StoreFile, AStoreInAReadOnlyFolderOpensForReadingOnly) {
    {
        auto store = OpenStore();
        ASSERT_TRUE(store);
        store->RegCloseKey(CreateKey(*store, HKEY_USERS, "Kept"));
    }
    // A new store is its owner's alone; this one's owner lets others read it.
    ASSERT_EQ(chmod(m_path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(m_folder.c_str(), 0555), 0);
    const pid_t child = Spawn([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
        std::string error, notice;
        auto store = CStoreRegistry::Open(m_path, &error, [&](const std::string& text) { notice = text; });
        if (!store || !store->ReadOnly()) return 11;
        if (notice.find("open for reading only") == std::string::npos) return 12;
        HKEY key = OpenPath(*store, "Kept");
        if (key == nullptr) return 13;
        store->RegCloseKey(key);
        LONG status = 0;
        if (CreateKey(*store, HKEY_USERS, "New", &status) != nullptr || status != ERROR_ACCESS_DENIED) return 14;
        return 0;
    });
    EXPECT_EQ(Reap(child), 0);
    chmod(m_folder.c_str(), 0700);
}

// A lock held by another program is waited for, and the wait is told.
TEST_F(StoreFile, AWaitForAnotherProgramsLockIsTold) {
    ASSERT_TRUE(OpenStore());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = Spawn([&] {
        sqlite3* db = nullptr;
        if (sqlite3_open(m_path.c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return 1;
        if (write(ready[1], "x", 1) != 1) return 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return 0;
    });
    char x;
    ASSERT_EQ(read(ready[0], &x, 1), 1);
    std::string error;
    std::vector<std::string> notices;
    auto store = CStoreRegistry::Open(m_path, &error, [&](const std::string& text) { notices.push_back(text); });
    ASSERT_TRUE(store) << error;
    LONG status = 0;
    HKEY key = CreateKey(*store, HKEY_USERS, "AfterTheWait", &status);
    EXPECT_EQ(status, ERROR_SUCCESS);
    if (key != nullptr) store->RegCloseKey(key);
    EXPECT_EQ(Reap(holder), 0);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("Waiting for another program"), std::string::npos) << notices[0];
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
}  // namespace qv
