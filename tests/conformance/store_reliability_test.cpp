// The store's own promises, beyond the registry contract: several processes
// on one file, a writer killed mid-stream, damaged files, where the file
// lives, batches and byte-exact names.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "registry/store_registry.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

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
        EXPECT_EQ(CStoreRegistry::Open(path, &error), nullptr);
        EXPECT_FALSE(error.empty());
        return error;
    }

    std::string m_folder;
    std::string m_path;
};

HKEY CreateKey(IRegistry& registry, HKEY parent, const std::string& path, LONG* status = nullptr) {
    HKEY key = nullptr;
    const LONG result = registry.RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr);
    if (status != nullptr) *status = result;
    return result == ERROR_SUCCESS ? key : nullptr;
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

std::size_t ValueCount(IRegistry& registry, HKEY key, LONG* end) {
    char name[64];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        *end = registry.RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (*end != ERROR_SUCCESS) return index;
    }
}

// Runs `body` in a child process, which ends with its result and never
// comes back into the test.
pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    return pid;
}

// The child's exit code; a child still running after `seconds` is killed.
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

std::string QueryText(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    std::string text = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        text = "cannot run";
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return text;
}

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
                LONG status = 0;
                HKEY key = CreateKey(*store, HKEY_CURRENT_USER, own + "\\k" + std::to_string(i) + "\\leaf", &status);
                if (key == nullptr) return 20;
                store->RegCloseKey(key);
                HKEY shared = CreateKey(*store, HKEY_CURRENT_USER, "Software\\Shared", &status);
                if (shared == nullptr) return 21;
                const std::string name = "w" + std::to_string(writer) + "-" + std::to_string(i);
                status = store->RegSetValueExA(shared, name.c_str(), 0, REG_DWORD,
                                               reinterpret_cast<const BYTE*>(&i), sizeof i);
                store->RegCloseKey(shared);
                if (status != ERROR_SUCCESS) return 22;
                if (i % 20 == 19 && store->RegDeleteKeyA(HKEY_CURRENT_USER,
                                                         (own + "\\k" + std::to_string(i) + "\\leaf").c_str()))
                    return 23;
            }
            return 0;
        }));
    }
    close(go[0]);
    close(go[1]);  // both start now

    // Meanwhile this process reads; readers never wait for writers.
    auto reader = OpenStore();
    ASSERT_TRUE(reader);
    int reads = 0;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
         std::chrono::steady_clock::now() < until; ++reads) {
        LONG end = 0;
        Subkeys(*reader, HKEY_CURRENT_USER, &end);
        ASSERT_EQ(end, ERROR_NO_MORE_ITEMS) << reader->LastError();
    }
    for (pid_t pid : writers) EXPECT_EQ(Reap(pid), 0);

    HKEY shared = nullptr;
    ASSERT_EQ(reader->RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, KEY_READ, &shared), 0);
    LONG end = 0;
    EXPECT_EQ(ValueCount(*reader, shared, &end), 2u * kRounds);
    EXPECT_EQ(end, ERROR_NO_MORE_ITEMS);
    for (int writer = 0; writer < 2; ++writer) {
        HKEY own = nullptr;
        ASSERT_EQ(reader->RegOpenKeyExA(HKEY_CURRENT_USER, ("Software\\Writer" + std::to_string(writer)).c_str(),
                                        0, KEY_READ, &own),
                  0);
        EXPECT_EQ(Subkeys(*reader, own).size(), static_cast<std::size_t>(kRounds));
    }
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
            const std::string data(100 + i % 300, static_cast<char>(i));
            const LONG status = store->RegSetValueExA(key, "v", 0, REG_BINARY,
                                                      reinterpret_cast<const BYTE*>(data.data()),
                                                      static_cast<DWORD>(data.size()));
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

    EXPECT_EQ(QueryText(m_path, "PRAGMA integrity_check"), "ok");
    auto store = OpenStore();
    ASSERT_TRUE(store);
    for (std::uint32_t n : acknowledged) {
        HKEY key = nullptr;
        ASSERT_EQ(store->RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Crash\\k" + std::to_string(n)).c_str(), 0,
                                       KEY_READ, &key),
                  ERROR_SUCCESS)
            << "acknowledged key " << n << " is lost";
        char name[8];
        BYTE data[400];
        DWORD length = sizeof name, size = sizeof data;
        ASSERT_EQ(store->RegEnumValueA(key, 0, name, &length, nullptr, nullptr, data, &size), 0) << n;
        EXPECT_EQ(size, 100 + n % 300) << n;
        EXPECT_EQ(data[size - 1], static_cast<BYTE>(n)) << n;
        store->RegCloseKey(key);
    }
}

TEST_F(StoreFile, DamagedOrForeignFilesAreRefusedClearly) {
    std::mt19937 random(7);
    {
        std::ofstream garbage(m_path, std::ios::binary);
        for (int n = 0; n < 65536; ++n) garbage.put(static_cast<char>(random()));
    }
    EXPECT_NE(OpenError(m_path).find(m_path), std::string::npos);

    const std::string foreign = m_folder + "/foreign.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE songs(title TEXT)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_NE(OpenError(foreign).find("not a Quorvane registry store"), std::string::npos);

    const std::string newer = m_folder + "/newer.db";
    ASSERT_TRUE(CStoreRegistry::Open(newer, nullptr));
    ASSERT_EQ(sqlite3_open(newer.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_NE(OpenError(newer).find("newer version"), std::string::npos);

    const std::string empty = m_folder + "/empty.db";
    std::ofstream{empty};
    EXPECT_TRUE(CStoreRegistry::Open(empty, nullptr)) << "an empty file is a new store";
}

TEST_F(StoreFile, ABrokenStoreNeverCrashesTheCaller) {
    {
        auto store = OpenStore();
        ASSERT_TRUE(store);
        const std::string data(3000, 'd');
        for (int i = 0; i < 200; ++i) {
            HKEY key = CreateKey(*store, HKEY_LOCAL_MACHINE, "Software\\K" + std::to_string(i));
            ASSERT_NE(key, nullptr);
            store->RegSetValueExA(key, "v", 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                                  static_cast<DWORD>(data.size()));
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
    const auto known = [](LONG status) {
        for (LONG code : {0L, 2L, 259L, 1015L, 1016L})
            if (status == code) return true;
        return false;
    };
    HKEY software = nullptr;
    LONG status = store->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &software);
    EXPECT_TRUE(known(status)) << status;
    if (status == ERROR_SUCCESS) {
        Subkeys(*store, software, &status);
        EXPECT_TRUE(known(status)) << status;
        store->RegCloseKey(software);
    }
    store->RegCloseKey(CreateKey(*store, HKEY_LOCAL_MACHINE, "Software\\New\\Key", &status));
    EXPECT_TRUE(known(status)) << status;
}

TEST_F(StoreFile, UnusablePathsAreRefusedClearly) {
    fs::create_directory(m_path);
    EXPECT_NE(OpenError(m_path).find("folder"), std::string::npos);

    const std::string blocker = m_folder + "/plain-file";
    std::ofstream{blocker};
    EXPECT_NE(OpenError(blocker + "/sub/registry.db").find("Cannot create the folder"), std::string::npos);
    EXPECT_FALSE(OpenError("").empty());
}

TEST_F(StoreFile, UnreadableFileIsRefusedClearly) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
    const std::string locked = m_folder + "/locked.db";
    ASSERT_TRUE(CStoreRegistry::Open(locked, nullptr));
    chmod(locked.c_str(), 0);
    EXPECT_NE(OpenError(locked).find(locked), std::string::npos);
}

TEST_F(StoreFile, DefaultPathRules) {
    struct Saved {
        const char* name;
        std::string value;
        bool set;
    } saved[] = {{"QUORVANE_REGISTRY", "", false}, {"XDG_DATA_HOME", "", false}, {"HOME", "", false}};
    for (Saved& s : saved) {
        const char* value = getenv(s.name);
        s.set = value != nullptr;
        if (value != nullptr) s.value = value;
    }
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_DATA_HOME", "/data/home", 1);
    setenv("QUORVANE_REGISTRY", "/explicit/store.db", 1);
    EXPECT_EQ(DefaultStorePath(), "/explicit/store.db");
    setenv("QUORVANE_REGISTRY", "", 1);
    EXPECT_EQ(DefaultStorePath(), "/data/home/quorvane/registry.db");
    unsetenv("QUORVANE_REGISTRY");
    EXPECT_EQ(DefaultStorePath(), "/data/home/quorvane/registry.db");
    setenv("XDG_DATA_HOME", "", 1);
    EXPECT_EQ(DefaultStorePath(), "/home/someone/.local/share/quorvane/registry.db");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(DefaultStorePath(), "/home/someone/.local/share/quorvane/registry.db");
    for (const Saved& s : saved) {
        if (s.set) setenv(s.name, s.value.c_str(), 1);
        else unsetenv(s.name);
    }
}

TEST_F(StoreFile, FirstOpenMakesTheFolderAndTheFiveRoots) {
    m_path = m_folder + "/a/b/registry.db";
    auto store = OpenStore();
    ASSERT_TRUE(store);
    EXPECT_TRUE(fs::is_regular_file(m_path));
    EXPECT_EQ(QueryText(m_path, "SELECT count(*) FROM keys WHERE parent = 0"), "5");
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG}) {
        HKEY key = CreateKey(*store, root, "Mark");
        ASSERT_NE(key, nullptr);
        store->RegCloseKey(key);
        EXPECT_EQ(store->RegDeleteKeyA(root, ""), ERROR_ACCESS_DENIED) << "roots stay";
    }
    store.reset();
    store = OpenStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(Subkeys(*store, HKEY_CURRENT_CONFIG), Names{"Mark"});
    EXPECT_EQ(store->OpenHandleCount(), 0u);
}

TEST_F(StoreFile, AnotherConnectionSeesChangesAndDeletions) {
    auto first = OpenStore();
    auto second = OpenStore();
    ASSERT_TRUE(first && second);
    HKEY key = CreateKey(*first, HKEY_USERS, "Shared");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(Subkeys(*first, key), Names{});
    HKEY other = CreateKey(*second, HKEY_USERS, "Shared\\child");
    second->RegCloseKey(other);
    EXPECT_EQ(Subkeys(*first, key), Names{"child"});
    ASSERT_EQ(second->RegDeleteKeyA(HKEY_USERS, "Shared\\child"), 0);
    // Opening by name right after enumerating must not trust the old list.
    HKEY child = nullptr;
    EXPECT_EQ(first->RegOpenKeyExA(key, "child", 0, KEY_READ, &child), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(second->RegDeleteKeyA(HKEY_USERS, "Shared"), 0);
    LONG end = 0;
    Subkeys(*first, key, &end);
    EXPECT_EQ(end, ERROR_KEY_DELETED);
    EXPECT_EQ(first->RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(StoreFile, BatchesCommitTogetherOrNotAtAll) {
    auto store = OpenStore();
    auto watcher = OpenStore();
    ASSERT_TRUE(store && watcher);
    HKEY base = CreateKey(*store, HKEY_LOCAL_MACHINE, "Batch");
    ASSERT_NE(base, nullptr);

    ASSERT_EQ(store->BeginBatch(), 0);
    ASSERT_EQ(store->BeginBatch(), 0);  // nested: only the outer commit counts
    store->RegCloseKey(CreateKey(*store, base, "one"));
    LONG status = 0;
    EXPECT_EQ(CreateKey(*store, base, std::string(256, 'x'), &status), nullptr);
    EXPECT_EQ(status, ERROR_INVALID_PARAMETER) << "a refused call leaves the batch going";
    ASSERT_EQ(store->CommitBatch(), 0);
    EXPECT_EQ(Subkeys(*store, base), Names{"one"});
    HKEY watched = CreateKey(*watcher, HKEY_LOCAL_MACHINE, "Batch");
    EXPECT_EQ(Subkeys(*watcher, watched), Names{}) << "not committed yet";
    ASSERT_EQ(store->CommitBatch(), 0);
    EXPECT_EQ(Subkeys(*watcher, watched), Names{"one"});
    watcher->RegCloseKey(watched);
    EXPECT_EQ(store->CommitBatch(), ERROR_INVALID_PARAMETER);

    ASSERT_EQ(store->BeginBatch(), 0);
    store->RegCloseKey(CreateKey(*store, base, "two"));
    EXPECT_EQ(Subkeys(*store, base), (Names{"one", "two"}));
    store->RollbackBatch();
    EXPECT_EQ(Subkeys(*store, base), Names{"one"}) << "nothing remembered from inside the batch";
    store->RegCloseKey(base);
}

TEST_F(StoreFile, ARefusedCreateLeavesNothingBehind) {
    auto store = OpenStore();
    ASSERT_TRUE(store);
    LONG status = 0;
    EXPECT_EQ(CreateKey(*store, HKEY_USERS, "a\\b\\" + std::string(256, 'c'), &status), nullptr);
    EXPECT_EQ(status, ERROR_INVALID_PARAMETER);
    std::string deep = "d";
    for (int level = 1; level < 513; ++level) deep += "\\d";
    EXPECT_EQ(CreateKey(*store, HKEY_USERS, deep, &status), nullptr);
    EXPECT_EQ(status, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Subkeys(*store, HKEY_USERS), Names{});
    // 512 levels in one call are fine here (Windows stops at 32 a call).
    deep.resize(deep.size() - 2);
    HKEY key = CreateKey(*store, HKEY_USERS, deep, &status);
    EXPECT_EQ(status, ERROR_SUCCESS);
    store->RegCloseKey(key);
}

TEST_F(StoreFile, NamesAreBytesWithOnlyAsciiLettersFolded) {
    auto store = OpenStore();
    ASSERT_TRUE(store);
    const Names names = {"\xC9t\xE9", "\xE9t\xE9", "\x01\x7F", "tab\there", "A", "\xFF"};
    for (const std::string& name : names) store->RegCloseKey(CreateKey(*store, HKEY_USERS, name));
    store->RegCloseKey(CreateKey(*store, HKEY_USERS, "\xC9T\xE9"));  // same as the first
    EXPECT_EQ(Subkeys(*store, HKEY_USERS),
              (Names{"\x01\x7F", "A", "tab\there", "\xC9t\xE9", "\xE9t\xE9", "\xFF"}));
}

// Opens through what was read before, as a forced load makes them: the
// values of the following subkeys come with the first, and a parent's list
// tells which subkeys are empty. Another writer must void all of it.
HKEY OpenPath(IRegistry& registry, const std::string& path, LONG* status = nullptr) {
    HKEY key = nullptr;
    const LONG result = registry.RegOpenKeyExA(HKEY_USERS, path.c_str(), 0, KEY_READ, &key);
    if (status != nullptr) *status = result;
    return result == ERROR_SUCCESS ? key : nullptr;
}

LONG SetText(IRegistry& registry, HKEY key, const char* name, const std::string& text) {
    return registry.RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                   static_cast<DWORD>(text.size()));
}

// "name=data" for each value, then the status that ended the list.
Names Values(IRegistry& registry, HKEY key) {
    Names values;
    for (DWORD index = 0;; ++index) {
        char name[64], data[64];
        DWORD nameLength = sizeof name, size = sizeof data;
        const LONG status = registry.RegEnumValueA(key, index, name, &nameLength, nullptr, nullptr,
                                                   reinterpret_cast<BYTE*>(data), &size);
        if (status != ERROR_SUCCESS) {
            values.push_back("end " + std::to_string(status));
            return values;
        }
        values.push_back(std::string(name, nameLength) + "=" + std::string(data, size));
    }
}

TEST_F(StoreFile, WhatWasReadAheadGivesWayToAnotherWriter) {
    auto reader = OpenStore();
    auto writer = OpenStore();
    ASSERT_TRUE(reader && writer);
    for (const char* name : {"P\\A", "P\\B", "P\\C", "P\\D"}) {
        HKEY key = CreateKey(*writer, HKEY_USERS, name);
        ASSERT_EQ(SetText(*writer, key, "v", "1"), 0);
        writer->RegCloseKey(key);
    }
    writer->RegCloseKey(CreateKey(*writer, HKEY_USERS, "P\\E"));

    LONG end = 0;
    HKEY p = OpenPath(*reader, "P");
    EXPECT_EQ(ValueCount(*reader, p, &end), 0u);
    EXPECT_EQ(Subkeys(*reader, p), (Names{"A", "B", "C", "D", "E"}));
    for (const char* name : {"P\\A", "P\\B"}) {
        HKEY key = OpenPath(*reader, name);
        EXPECT_EQ(Values(*reader, key), (Names{"v=1", "end 259"})) << name;
        reader->RegCloseKey(key);
    }
    HKEY d = OpenPath(*reader, "P\\D");  // opened before the writes, enumerated after

    HKEY c = CreateKey(*writer, HKEY_USERS, "P\\C");
    ASSERT_EQ(SetText(*writer, c, "v", "2"), 0);
    ASSERT_EQ(SetText(*writer, c, "w", "3"), 0);
    writer->RegCloseKey(c);
    writer->RegCloseKey(CreateKey(*writer, HKEY_USERS, "P\\E\\sub"));
    ASSERT_EQ(writer->RegDeleteKeyA(HKEY_USERS, "P\\D"), 0);

    c = OpenPath(*reader, "P\\C");
    EXPECT_EQ(Values(*reader, c), (Names{"v=2", "w=3", "end 259"}));
    HKEY e = OpenPath(*reader, "P\\E");
    EXPECT_EQ(Subkeys(*reader, e), Names{"sub"});
    ValueCount(*reader, d, &end);
    EXPECT_EQ(end, ERROR_KEY_DELETED);
    LONG status = 0;
    EXPECT_EQ(OpenPath(*reader, "P\\D", &status), nullptr);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    for (HKEY key : {p, c, d, e}) reader->RegCloseKey(key);
    EXPECT_EQ(reader->OpenHandleCount(), 0u);
}

// A subkey gaining a subkey leaves its parent's generation alone, so the
// parent's list, read again, is kept; it must not still call the subkey empty.
TEST_F(StoreFile, AParentsKeptListDoesNotCallAChangedSubkeyEmpty) {
    auto reader = OpenStore();
    auto writer = OpenStore();
    ASSERT_TRUE(reader && writer);
    writer->RegCloseKey(CreateKey(*writer, HKEY_USERS, "Q\\Leaf"));
    HKEY q = OpenPath(*reader, "Q");
    EXPECT_EQ(Subkeys(*reader, q), Names{"Leaf"});
    writer->RegCloseKey(CreateKey(*writer, HKEY_USERS, "Q\\Leaf\\x"));
    EXPECT_EQ(Subkeys(*reader, q), Names{"Leaf"});
    HKEY leaf = OpenPath(*reader, "Q\\Leaf");
    EXPECT_EQ(Subkeys(*reader, leaf), Names{"x"});
    reader->RegCloseKey(leaf);
    reader->RegCloseKey(q);
}

// More values than one read-ahead holds, names in mixed case, an empty
// subkey and data too big to keep in memory: every subkey gets its own values,
// whole and in creation order, however the reading is cut up.
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
        for (int v = 0; k != 30 && v < kValues; ++v) {
            // Descending names: creation order is not name order.
            ASSERT_EQ(SetText(*store, key, ("v" + std::to_string(kValues - v)).c_str(), data(k, v)), 0);
        }
        store->RegCloseKey(key);
    }
    ASSERT_EQ(store->CommitBatch(), 0);

    auto reader = OpenStore();
    ASSERT_TRUE(reader);
    HKEY many = OpenPath(*reader, "Many");
    const Names names = Subkeys(*reader, many);
    ASSERT_EQ(names.size(), static_cast<std::size_t>(kKeys));
    for (const std::string& name : names) {
        const int k = std::stoi(name.substr(1)) - 100;
        HKEY key = OpenPath(*reader, "Many\\" + name);
        ASSERT_NE(key, nullptr) << name;
        std::vector<char> buffer(6000);
        DWORD index = 0;
        for (;; ++index) {
            char valueName[32];
            DWORD nameLength = sizeof valueName, size = static_cast<DWORD>(buffer.size());
            const LONG status = reader->RegEnumValueA(key, index, valueName, &nameLength, nullptr, nullptr,
                                                      reinterpret_cast<BYTE*>(buffer.data()), &size);
            if (status != ERROR_SUCCESS) {
                EXPECT_EQ(status, ERROR_NO_MORE_ITEMS) << name;
                break;
            }
            const int v = static_cast<int>(index);
            EXPECT_EQ(std::string(valueName, nameLength), "v" + std::to_string(kValues - v)) << name;
            EXPECT_EQ(std::string(buffer.data(), size), data(k, v)) << name;
        }
        EXPECT_EQ(index, k == 30 ? 0u : static_cast<DWORD>(kValues)) << name;
        reader->RegCloseKey(key);
    }
    reader->RegCloseKey(many);
}

}  // namespace
}  // namespace qv
