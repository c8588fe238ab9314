// Loading live registries into the key tree, against this computer's store
// (through the pane fixture's counting wrapper, so that every test also
// proves no handle is left open or closed twice): the root keys of a side,
// empty keys, entries of any length, and a registry without end. (Forced
// reloads, and every failing call of them: the Load Subtree, Copy and Delete
// Key tests.)
#include <cstring>

#include "model/loader.h"
#include "model/open_key.h"
#include "tests/unit/pane_fixture.h"

namespace qv {
namespace {

class LoaderTest : public PaneFixture {
protected:
    std::string RegistryText() const override { return ""; }
    void Build(const std::string& text) {
        std::string error;
        ASSERT_EQ(BuildRegistry(*store, text, &error), ERROR_SUCCESS) << error;
    }
    static Names KeyNames(const KeyNode* node) {
        Names names;
        for (const auto& k : node->subkeys) names.push_back(k->name);
        return names;
    }
    static Names ValueNames(const KeyNode* node) {
        Names names;
        for (const auto& v : node->values) names.emplace_back(v->Name());
        return names;
    }
};

TEST_F(LoaderTest, ALiveSideHasTheRootKeysThatOpenUnlessTheFirstIsRefused) {
    Build("[HKCR\\a]\n[HKLM\\c]\n[HKU\\d]\n[HKCC\\e]\n");
    // The store has five of the seven roots; one more refused is left out.
    counting->FailCall(RegCall::OpenKey, 2, ERROR_ACCESS_DENIED);
    doc->BuildSide(doc->m_pSlaveRoot, "", kSourceLocal);
    ASSERT_NE(doc->m_pSlaveRoot, nullptr);
    EXPECT_TRUE(ui.Messages().empty());
    // Each root is unloaded at first, and then loads its own keys.
    std::string roots;
    for (auto& root : doc->m_pSlaveRoot->subkeys) {
        EXPECT_FALSE(root->IsLoaded());
        LoadLevel(root.get(), *counting, "", false);
        roots += root->name + ":" + (root->subkeys.empty() ? "" : root->subkeys[0]->name) + " ";
    }
    EXPECT_EQ(roots, "HKEY_CLASSES_ROOT:a HKEY_LOCAL_MACHINE:c HKEY_USERS:d HKEY_CURRENT_CONFIG:e ");
    // The first refused, or a computer the store cannot reach, drops the side with a message.
    counting->ClearFaults();
    counting->FailCall(RegCall::OpenKey, 1, ERROR_ACCESS_DENIED);
    doc->BuildSide(doc->m_pSlaveRoot, "", kSourceLocal);
    EXPECT_EQ(doc->m_pSlaveRoot, nullptr);
    doc->BuildSide(doc->m_pMasterRoot, "elsewhere", kSourceNetwork);
    EXPECT_EQ(doc->m_pMasterRoot, nullptr);
    EXPECT_EQ(ui.Messages(), (Names{"Unable to open Registry.", "Unable to open Registry."}));
}

TEST_F(LoaderTest, ValuesOfAnyLengthLoadWholeAndAnEmptyKeyIsReadAgain) {
    const std::string longKey(200, 'k'), longText(70000, 'x'), longName(16000, 'v');
    Build("[HKLM\\Software\\Empty]\n[HKLM\\Software\\Wide]\n\"first\"=\"1\"\n\"second\"=hex:00,01,00,02\n\"third\"=\"" + longText + "\"\n\"" +
          longName + "\"=\"long name\"\n\"fourth\"=dword:4\n[HKLM\\Software\\Wide\\" + longKey +
          "]\n[HKLM\\Software\\Wide\\short]\n");
    KeyNode* wide = Node("Software\\Wide");
    EXPECT_EQ(LoadLevel(wide, *counting, "", false), 1);
    EXPECT_EQ(ValueNames(wide), (Names{"first", "second", "third", longName, "fourth"}));
    EXPECT_EQ(wide->values[2]->Text(), longText);
    // Binary data keeps its length: zero bytes inside do not cut it.
    EXPECT_EQ(wide->values[1]->data, std::string("\0\1\0\2", 4));
    // Key names up to the registry's own limit load.
    EXPECT_EQ(KeyNames(wide), (Names{longKey, "short"}));

    // An empty key is read again every time. (What one level holds, in which
    // order, and that a loaded key is not read again, the panes and walks
    // tests see.)
    KeyNode* empty = Node("Software\\Empty");
    for (int i = 0; i < 2; ++i) {
        counting->ResetCounts();
        EXPECT_EQ(LoadLevel(empty, *counting, "", false), 1);
        EXPECT_EQ(counting->Calls(RegCall::OpenKey), 1u);
    }
}

// A registry whose every key has one more subkey, without end: loading must
// stop at the registry's depth limit and close everything it opened.
class BottomlessRegistry : public IRegistry {
public:
    int open = 0;
    LONG RegConnectRegistryA(LPCSTR, HKEY h, HKEY* r) override { return *r = h, 0; }
    LONG RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, HKEY* r) override {
        *r = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(0x1000 + ++open));
        return 0;
    }
    LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, char*, DWORD, REGSAM, SECURITY_ATTRIBUTES*, HKEY*, DWORD*) override {
        return ERROR_ACCESS_DENIED;
    }
    LONG RegEnumValueA(HKEY, DWORD, char*, DWORD*, DWORD*, DWORD*, BYTE*, DWORD*) override { return ERROR_NO_MORE_ITEMS; }
    LONG RegEnumKeyExA(HKEY, DWORD i, char* name, DWORD* size, DWORD*, char*, DWORD*, FILETIME*) override {
        if (i > 0) return ERROR_NO_MORE_ITEMS;
        std::strcpy(name, "x");
        return *size = 1, 0;
    }
    LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) override { return ERROR_ACCESS_DENIED; }
    LONG RegDeleteValueA(HKEY, LPCSTR) override { return ERROR_ACCESS_DENIED; }
    LONG RegDeleteKeyA(HKEY, LPCSTR) override { return ERROR_ACCESS_DENIED; }
    LONG RegCloseKey(HKEY h) override { return open -= IsPredefinedKey(h) ? 0 : 1, 0; }
};

// A subtree's load says how far it is through the key's own subkeys.
TEST_F(LoaderTest, ALoadSaysHowFarThroughTheKeysOwnSubkeys) {
    Build("[HKCU\\T\\A\\x]\n[HKCU\\T\\A\\y]\n[HKCU\\T\\B]\n[HKCU\\T\\C\\z]\n");
    struct CRecorder : IProgress {
        std::string steps;
        bool Step(std::size_t) override { return true; }
        bool StepOf(std::size_t keys, std::uint64_t done, std::uint64_t total) override {
            steps += std::to_string(keys) + ":" + std::to_string(done) + "/" + std::to_string(total) + " ";
            return true;
        }
    } progress;
    auto top = std::make_unique<KeyNode>("T");
    ASSERT_EQ(ReloadSubtree(top.get(), *counting, "", HKEY_CURRENT_USER, "T", &progress), 0);
    EXPECT_EQ(progress.steps, "1:0/3 2:0/3 3:0/3 4:1/3 5:2/3 6:2/3 ");
}

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
