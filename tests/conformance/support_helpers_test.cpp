// The test helpers other tests lean on: the text builder, the synthetic
// tree generator and the counting wrapper, run against the store.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "registry/store_registry.h"
#include "tests/support/counting_registry.h"
#include "tests/support/registry_builder.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

class Helpers : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = (fs::temp_directory_path() / "qv-helpers-XXXXXX").string();
        ASSERT_NE(mkdtemp(m_folder.data()), nullptr);
        m_store = Open("a.db");
        ASSERT_TRUE(m_store);
    }
    void TearDown() override {
        m_store.reset();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    std::unique_ptr<CStoreRegistry> Open(const std::string& name) {
        return CStoreRegistry::Open(m_folder + "/" + name, nullptr);
    }

    std::string m_folder;
    std::unique_ptr<CStoreRegistry> m_store;
};

// Every key below `key` as "path|value=type:hexdata ..." lines, depth first.
void Dump(IRegistry& registry, HKEY key, const std::string& path, std::vector<std::string>& out,
          std::size_t* maxDepth = nullptr, std::size_t depth = 0) {
    std::string line = path + "|";
    char name[300];
    std::vector<BYTE> data(8192);
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name, size = static_cast<DWORD>(data.size()), type = 0;
        if (registry.RegEnumValueA(key, i, name, &length, nullptr, &type, data.data(), &size) != 0) break;
        line += std::string(name) + "=" + std::to_string(type) + ":";
        for (DWORD b = 0; b < size; ++b) line += "0123456789abcdef"[data[b] >> 4], line += "0123456789abcdef"[data[b] & 15];
        line += " ";
    }
    out.push_back(line);
    if (maxDepth != nullptr && depth > *maxDepth) *maxDepth = depth;
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (registry.RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) break;
        HKEY child = nullptr;
        ASSERT_EQ(registry.RegOpenKeyExA(key, name, 0, KEY_READ, &child), 0);
        Dump(registry, child, path + "\\" + name, out, maxDepth, depth + 1);
        registry.RegCloseKey(child);
    }
}

TEST_F(Helpers, BuilderWritesEveryTypeExactly) {
    const char* text =
        "# a comment\n"
        "HKLM\\Software\\A\n"
        "  Title = sz:x y\n"
        "  Size = dword:0x1d\n"
        "  Big = qword:4294967296\n"
        "  Blob = hex:00,01, 00\n"
        "  Odd = hex(0):ff\n"
        "  Path = expand_sz:%P%\n"
        "  List = multi_sz:\"one\", \"t\\\"wo\"\n"
        "\t@ = sz:\n"
        "  \"a = b\" = binary:\n"
        "HKEY_LOCAL_MACHINE\\Software\\A\\Empty\r\n";
    std::string error;
    ASSERT_EQ(BuildRegistry(*m_store, text, nullptr, &error), 0) << error;
    HKEY a = nullptr;
    ASSERT_EQ(m_store->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\A", 0, KEY_READ, &a), 0);
    std::vector<std::string> dump;
    Dump(*m_store, a, "A", dump);
    m_store->RegCloseKey(a);
    EXPECT_EQ(dump, (std::vector<std::string>{
                        "A|Title=1:78207900 Size=4:1d000000 Big=11:0000000001000000 Blob=3:000100 Odd=0:ff "
                        "Path=2:25502500 List=7:6f6e65007422776f0000 =1:00 a = b=3: ",
                        "A\\Empty|"}));
}

TEST_F(Helpers, BuilderRefusesMistakesBeforeWriting) {
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"  v = sz:x\n", "line 1: a value before any key"},
        {"HKCU\\A\n  v = text:x\n", "line 2: unknown type 'text'"},
        {"HKCU\\A\n  v = hex:0g\n", "line 2: bad hex bytes"},
        {"HKCU\\A\n\n  v = dword:4294967296\n", "line 3: bad number"},
        {"HKCU\\A\n  v = multi_sz:one\n", "line 2: multi_sz items must be quoted"},
        {"HKCU\\A\n  = sz:x\n", "line 2: empty value name (use @ for the default value)"},
        {"HKCU\\A\n  \"v = sz:x\n", "line 2: unterminated quoted name"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(BuildRegistry(*m_store, c.text, nullptr, &error), ERROR_INVALID_PARAMETER) << c.text;
        EXPECT_EQ(error, c.reason);
    }
    HKEY key = nullptr;
    EXPECT_EQ(m_store->RegOpenKeyExA(HKEY_CURRENT_USER, "A", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    // Below a base key, and without one.
    HKEY base = nullptr;
    ASSERT_EQ(m_store->RegCreateKeyExA(HKEY_USERS, "Base", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &base, nullptr), 0);
    EXPECT_EQ(BuildRegistry(*m_store, "Rel\\Key\n", base), 0);
    EXPECT_EQ(m_store->RegOpenKeyExA(base, "rel\\key", 0, KEY_READ, &key), 0);
    m_store->RegCloseKey(key);
    m_store->RegCloseKey(base);
    EXPECT_EQ(BuildRegistry(*m_store, "Rel\\Key\n"), ERROR_INVALID_HANDLE);
}

TEST_F(Helpers, SyntheticTreesHaveTheShapeAskedForAndRepeat) {
    // The second shape is too small for its keys: the last level takes the rest.
    const std::tuple<std::size_t, std::size_t, std::size_t> shapes[] = {{500, 3, 8}, {50, 2, 3}};
    for (const auto& [keys, depth, fanOut] : shapes) {
        SyntheticTreeOptions options;
        options.keys = keys, options.depth = depth, options.fanOut = fanOut, options.values = 3 * keys;
        SyntheticTreeStats stats;
        ASSERT_EQ(GenerateSyntheticTree(*m_store, options, &stats), 0);
        EXPECT_EQ(stats.keys, keys);
        EXPECT_EQ(stats.values, 3 * keys);
        EXPECT_EQ(stats.maxDepth, depth);

        auto other = Open("b" + std::to_string(keys) + ".db");
        ASSERT_TRUE(other);
        CCountingRegistry counted(*other);  // no batches through the wrapper: call by call
        ASSERT_EQ(GenerateSyntheticTree(counted, options), 0);
        EXPECT_EQ(counted.OpenHandles(), 0u);

        std::vector<std::string> first, second;
        std::size_t maxDepth = 0;
        HKEY a = nullptr, b = nullptr;
        ASSERT_EQ(m_store->RegOpenKeyExA(options.root, options.path.c_str(), 0, KEY_READ, &a), 0);
        ASSERT_EQ(other->RegOpenKeyExA(options.root, options.path.c_str(), 0, KEY_READ, &b), 0);
        Dump(*m_store, a, "", first, &maxDepth);
        Dump(*other, b, "", second);
        EXPECT_EQ(first.size(), keys + 1);
        EXPECT_EQ(maxDepth, depth);
        EXPECT_TRUE(first == second) << "the same options must give the same tree";
        m_store->RegCloseKey(a);
        other->RegCloseKey(b);
        m_store = Open("c" + std::to_string(keys) + ".db");  // a fresh store for the next shape
    }
}

TEST_F(Helpers, CountingWrapperTracksHandlesAndInjectsFaults) {
    CCountingRegistry counted(*m_store);
    HKEY a = nullptr, b = nullptr, root = nullptr;
    ASSERT_EQ(counted.RegCreateKeyExA(HKEY_USERS, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &a, nullptr), 0);
    ASSERT_EQ(counted.RegOpenKeyExA(a, "", 0, KEY_READ, &b), 0);
    ASSERT_EQ(counted.RegOpenKeyExA(HKEY_USERS, "", 0, KEY_READ, &root), 0);  // the root itself
    EXPECT_EQ(counted.OpenHandles(), 2u);
    EXPECT_EQ(counted.RegCloseKey(b), 0);
    EXPECT_EQ(counted.RegCloseKey(b), ERROR_INVALID_HANDLE);
    EXPECT_EQ(counted.RegCloseKey(reinterpret_cast<HKEY>(0x10)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(counted.RegCloseKey(root), 0);
    EXPECT_EQ(counted.OpenHandles(), 1u);
    ASSERT_EQ(counted.Errors().size(), 2u);
    EXPECT_NE(counted.Errors()[0].find("already closed"), std::string::npos);
    EXPECT_NE(counted.Errors()[1].find("never handed out"), std::string::npos);
    EXPECT_EQ(counted.Calls(RegCall::CloseKey), 4u);
    EXPECT_EQ(counted.Calls(RegCall::Any), 7u);

    char name[16];
    DWORD length = sizeof name;
    const auto enumerate = [&] {
        length = sizeof name;
        return counted.RegEnumKeyExA(HKEY_USERS, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    };
    counted.FailCall(RegCall::EnumKey, 2, 1016);
    EXPECT_EQ(enumerate(), 0);
    EXPECT_EQ(enumerate(), 1016);
    EXPECT_EQ(enumerate(), 0);
    counted.FailCall(RegCall::Any, 1, ERROR_OUTOFMEMORY, true);
    EXPECT_EQ(counted.RegSetValueExA(a, "v", 0, REG_BINARY, nullptr, 0), ERROR_OUTOFMEMORY);
    EXPECT_EQ(counted.RegCloseKey(a), ERROR_OUTOFMEMORY);
    EXPECT_EQ(counted.OpenHandles(), 1u) << "a failed close leaves the handle open";
    EXPECT_EQ(counted.InjectedFailures(), 3u);
    counted.ClearFaults();
    EXPECT_EQ(counted.RegCloseKey(a), 0);
    EXPECT_EQ(counted.OpenHandles(), 0u);
}

}  // namespace
}  // namespace qv
