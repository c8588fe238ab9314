// Loading live registries into the key tree, against this computer's store,
// through the counting wrapper so that every test also proves no handle is
// left open.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/quorvane_doc.h"
#include "model/loader.h"
#include "model/open_key.h"
#include "registry/store_registry.h"
#include "tests/support/counting_registry.h"
#include "tests/support/registry_builder.h"
#include "tests/support/scripted_ui.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = fs::temp_directory_path() /
               ("qv-loader-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                ".db");
        fs::remove(path);
        std::string error;
        store = CStoreRegistry::Open(path.string(), &error);
        ASSERT_NE(store, nullptr) << error;
        counting = std::make_unique<CCountingRegistry>(*store);
    }
    void TearDown() override {
        if (counting) {
            EXPECT_EQ(counting->OpenHandles(), 0u);
            EXPECT_TRUE(counting->Errors().empty()) << counting->Errors().front();
        }
        counting.reset();
        store.reset();
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path.string() + suffix);
    }

    void Build(const std::string& text) {
        std::string error;
        ASSERT_EQ(BuildRegistry(*store, text, nullptr, &error), ERROR_SUCCESS) << error;
    }

    // A side's top node with HKEY_LOCAL_MACHINE below it, and the node for
    // HKEY_LOCAL_MACHINE\<path> made by hand (not loaded).
    KeyNode* Node(const std::string& keyPath) {
        KeyNode* cur = top.subkeys.empty()
                           ? top.AppendSubkey(std::make_unique<KeyNode>("HKEY_LOCAL_MACHINE"))
                           : top.subkeys[0].get();
        std::size_t start = 0;
        while (start <= keyPath.size()) {
            const std::size_t end = std::min(keyPath.find('\\', start), keyPath.size());
            cur = cur->AppendSubkey(std::make_unique<KeyNode>(keyPath.substr(start, end - start)));
            start = end + 1;
        }
        return cur;
    }

    static std::vector<std::string> Names(const KeyNode* node) {
        std::vector<std::string> names;
        for (const auto& k : node->subkeys) names.push_back(k->name);
        return names;
    }
    static std::vector<std::string> ValueNames(const KeyNode* node) {
        std::vector<std::string> names;
        for (const auto& v : node->values) names.emplace_back(v->Name());
        return names;
    }

    fs::path path;
    std::unique_ptr<CStoreRegistry> store;
    std::unique_ptr<CCountingRegistry> counting;
    KeyNode top{"local_computer"};
};

TEST_F(LoaderTest, AddRootAddsOnlyRootsThatOpen) {
    EXPECT_EQ(AddRoot(&top, *counting, "", HKEY_USERS, "HKEY_USERS"), 0);
    EXPECT_NE(AddRoot(&top, *counting, "", HKEY_DYN_DATA, "HKEY_DYN_DATA"), 0);
    counting->FailCall(RegCall::OpenKey, 1, ERROR_ACCESS_DENIED);
    EXPECT_NE(AddRoot(&top, *counting, "", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"), 0);
    EXPECT_EQ(Names(&top), std::vector<std::string>{"HKEY_USERS"});
    EXPECT_FALSE(top.subkeys[0]->IsLoaded());
}

TEST_F(LoaderTest, ALocalSideShowsTheStoresFiveRootKeys) {
    test::CScriptedUI ui;
    CQuorvaneDoc doc(*counting, ui);
    doc.BuildSide(doc.m_pSlaveRoot, "", kSourceLocal);
    ASSERT_NE(doc.m_pSlaveRoot, nullptr);
    EXPECT_EQ(doc.m_pSlaveRoot->name, "local_computer");
    EXPECT_EQ(Names(doc.m_pSlaveRoot.get()),
              (std::vector<std::string>{"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                        "HKEY_USERS", "HKEY_CURRENT_CONFIG"}));
    EXPECT_TRUE(ui.Messages().empty());
    // A network name the store cannot reach drops the side with the message.
    doc.BuildSide(doc.m_pMasterRoot, "elsewhere", kSourceNetwork);
    EXPECT_EQ(doc.m_pMasterRoot, nullptr);
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Unable to open Registry."});
}

TEST_F(LoaderTest, OneLevelLoadsOnceAndOnlyWhileEmpty) {
    Build("HKLM\\Software\\App\n  b = sz:2\n  a = dword:7\n"
          "HKLM\\Software\\App\\Zeta\nHKLM\\Software\\App\\alpha\n"
          "HKLM\\Software\\App\\alpha\\deeper\n");
    KeyNode* app = Node("Software\\App");
    EXPECT_EQ(LoadLevel(app, *counting, "", false), 1);
    EXPECT_EQ(ValueNames(app), (std::vector<std::string>{"b", "a"}));  // creation order
    EXPECT_EQ(Names(app), (std::vector<std::string>{"alpha", "Zeta"}));  // case-insensitive order
    EXPECT_FALSE(app->subkeys[0]->IsLoaded());  // one level only
    EXPECT_EQ(app->values[1]->Number(), 7u);

    // Loaded: a new subkey in the registry is not picked up without force.
    Build("HKLM\\Software\\App\\New\n");
    counting->ResetCounts();
    EXPECT_EQ(LoadLevel(app, *counting, "", false), 0);
    EXPECT_EQ(counting->Calls(RegCall::Any), 0u);
    EXPECT_EQ(app->subkeys.size(), 2u);
}

TEST_F(LoaderTest, EmptyKeysAreReadAgainEveryTime) {
    Build("HKLM\\Software\\Empty\n");
    KeyNode* empty = Node("Software\\Empty");
    for (int i = 0; i < 2; ++i) {
        counting->ResetCounts();
        EXPECT_EQ(LoadLevel(empty, *counting, "", false), 1);
        EXPECT_EQ(counting->Calls(RegCall::OpenKey), 1u);
        EXPECT_FALSE(empty->IsLoaded());
    }
}

TEST_F(LoaderTest, NodesWithoutARegistryLocationLoadNothing) {
    KeyNode* missing = Node("Software\\Missing");
    counting->ResetCounts();
    EXPECT_EQ(LoadLevel(&top, *counting, "", false), 0);
    EXPECT_EQ(LoadLevel(&top, *counting, "", true), 0);
    KeyNode* stranger = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_NOWHERE"));
    EXPECT_EQ(LoadLevel(stranger, *counting, "", false), 0);
    EXPECT_EQ(counting->Calls(RegCall::Any), 0u);
    // A key that does not open still counts as attempted and stays empty.
    EXPECT_EQ(LoadLevel(missing, *counting, "", false), 1);
    EXPECT_FALSE(missing->IsLoaded());
}

TEST_F(LoaderTest, EntriesThatDoNotFitAreSkippedNotTheRestOfTheList) {
    const std::string big(300, 'x');
    const std::string longKey(200, 'k');
    const std::string longValue(260, 'v');
    Build("HKLM\\Software\\Wide\n  first = sz:1\n  second = hex:00,01,00,02\n"
          "  third = sz:" + big + "\n  " + longValue + " = sz:long name\n  fourth = dword:4\n"
          "HKLM\\Software\\Wide\\" + longKey + "\nHKLM\\Software\\Wide\\short\n");
    KeyNode* wide = Node("Software\\Wide");
    EXPECT_EQ(LoadLevel(wide, *counting, "", false), 1);
    EXPECT_EQ(ValueNames(wide), (std::vector<std::string>{"first", "second", "fourth"}));
    // Binary data keeps its length: zero bytes inside do not cut it.
    EXPECT_EQ(wide->values[1]->cbData, 4u);
    EXPECT_EQ(wide->values[1]->WriteSize(), 4u);
    EXPECT_EQ(wide->values[1]->data[3], 2);
    // Key names up to the registry's own limit load.
    EXPECT_EQ(Names(wide), (std::vector<std::string>{longKey, "short"}));
}

TEST_F(LoaderTest, ForcedLoadReplacesTheSubtreeWithTheRegistrysState) {
    Build("HKLM\\Software\\T\n  v = sz:1\nHKLM\\Software\\T\\A\\A1\n  deep = dword:1\n"
          "HKLM\\Software\\T\\B\n");
    KeyNode* t = Node("Software\\T");
    EXPECT_EQ(LoadLevel(t, *counting, "", true), 1);
    ASSERT_EQ(Names(t), (std::vector<std::string>{"A", "B"}));
    ASSERT_EQ(Names(t->subkeys[0].get()), std::vector<std::string>{"A1"});
    EXPECT_EQ(t->subkeys[0]->subkeys[0]->values.size(), 1u);

    // Keys removed and added since appear as they are now.
    HKEY b = nullptr;
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\T\\B"), ERROR_SUCCESS);
    Build("HKLM\\Software\\T\\C\\C1\n");
    (void)b;
    EXPECT_EQ(LoadLevel(t, *counting, "", true), 1);
    EXPECT_EQ(Names(t), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(Names(t->subkeys[1].get()), std::vector<std::string>{"C1"});
    EXPECT_EQ(t->values.size(), 1u);

    // A key that no longer opens keeps what it had.
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\T\\C\\C1"), ERROR_SUCCESS);
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\T\\C"), ERROR_SUCCESS);
    KeyNode* c = t->subkeys[1].get();
    EXPECT_EQ(LoadLevel(c, *counting, "", true), 1);
    EXPECT_EQ(Names(c), std::vector<std::string>{"C1"});
}

TEST_F(LoaderTest, EveryFailingCallLeavesNoHandleOpen) {
    Build("HKLM\\Software\\F\n  v = sz:1\nHKLM\\Software\\F\\A\\A1\n  w = sz:2\nHKLM\\Software\\F\\B\n");
    // Count the calls of a clean forced load, then fail each of them in turn
    // (a failing close is the registry's leak, not ours, so closes are spared).
    {
        KeyNode* f = Node("Software\\F");
        counting->ResetCounts();
        LoadLevel(f, *counting, "", true);
    }
    std::size_t tried = 0;
    for (RegCall kind : {RegCall::OpenKey, RegCall::EnumValue, RegCall::EnumKey}) {
        const std::size_t calls = counting->Calls(kind);
        ASSERT_GT(calls, 0u);
        for (std::size_t n = 1; n <= calls + 1; ++n, ++tried) {
            KeyNode scratchTop("local_computer");
            KeyNode* hklm = scratchTop.AppendSubkey(std::make_unique<KeyNode>("HKEY_LOCAL_MACHINE"));
            KeyNode* f = hklm->AppendSubkey(std::make_unique<KeyNode>("Software"))
                             ->AppendSubkey(std::make_unique<KeyNode>("F"));
            counting->ClearFaults();
            counting->FailCall(kind, n, ERROR_ACCESS_DENIED);
            EXPECT_EQ(LoadLevel(f, *counting, "", true), 1);
            EXPECT_EQ(counting->OpenHandles(), 0u) << "call " << n;
            counting->ClearFaults();
            KeyNode* fresh = hklm->AppendSubkey(std::make_unique<KeyNode>("Software"));
            counting->FailCall(kind, n, ERROR_ACCESS_DENIED);
            EXPECT_EQ(LoadLevel(fresh, *counting, "", false), 1);
            EXPECT_EQ(counting->OpenHandles(), 0u) << "call " << n;
        }
        counting->ResetCounts();
        KeyNode* again = Node("Software\\F");
        LoadLevel(again, *counting, "", true);
    }
    EXPECT_GT(tried, 10u);
}

// A registry whose every key has one more subkey, without end: loading must
// stop at the registry's depth limit and close everything it opened.
class BottomlessRegistry : public IRegistry {
public:
    int open = 0;
    LONG RegConnectRegistryA(LPCSTR, HKEY h, HKEY* r) override { *r = h; return 0; }
    LONG RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, HKEY* r) override {
        *r = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(0x1000 + ++open));
        return 0;
    }
    LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, char*, DWORD, REGSAM, SECURITY_ATTRIBUTES*, HKEY*,
                         DWORD*) override { return ERROR_ACCESS_DENIED; }
    LONG RegEnumValueA(HKEY, DWORD, char*, DWORD*, DWORD*, DWORD*, BYTE*, DWORD*) override {
        return ERROR_NO_MORE_ITEMS;
    }
    LONG RegEnumKeyExA(HKEY, DWORD i, char* name, DWORD* size, DWORD*, char*, DWORD*, FILETIME*) override {
        if (i > 0) return ERROR_NO_MORE_ITEMS;
        std::strcpy(name, "x");
        *size = 1;
        return 0;
    }
    LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) override { return 5; }
    LONG RegDeleteValueA(HKEY, LPCSTR) override { return 5; }
    LONG RegDeleteKeyA(HKEY, LPCSTR) override { return 5; }
    LONG RegCloseKey(HKEY h) override {
        if (!IsPredefinedKey(h)) --open;
        return 0;
    }
};

TEST(LoaderLimits, AHostileRegistryCannotMakeTheTreeEndless) {
    BottomlessRegistry registry;
    KeyNode top("peer");
    KeyNode* root = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_USERS"));
    EXPECT_EQ(LoadLevel(root, registry, "peer", true), 1);
    const KeyNode* bottom = root;
    while (!bottom->subkeys.empty()) bottom = bottom->subkeys[0].get();
    EXPECT_EQ(bottom->Level(), kMaxKeyDepth);
    EXPECT_EQ(registry.open, 0);
}

}  // namespace
}  // namespace qv
