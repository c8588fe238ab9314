#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "dialogs/open_dlg.h"
#include "app/quorvane_doc.h"
#include "tests/support/scripted_ui.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::CDialogDriver;
using test::CScriptedUI;

// Just enough registry for building live sides: predefined roots open unless
// refused; one computer name cannot be reached.
class RootsOnlyRegistry : public IRegistry {
public:
    std::set<HKEY> refused;
    int openHandles = 0;

    LONG RegConnectRegistryA(LPCSTR machine, HKEY hKey, HKEY* result) override {
        if (std::string(machine) == "unreachable") return ERROR_BAD_NETPATH;
        *result = hKey;
        return ERROR_SUCCESS;
    }
    LONG RegOpenKeyExA(HKEY hKey, LPCSTR, DWORD, REGSAM, HKEY* result) override {
        if (refused.count(hKey)) return ERROR_ACCESS_DENIED;
        ++openHandles;
        *result = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(0x1000 + openHandles));
        return ERROR_SUCCESS;
    }
    LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, char*, DWORD, REGSAM, SECURITY_ATTRIBUTES*, HKEY*,
                         DWORD*) override {
        return ERROR_ACCESS_DENIED;
    }
    LONG RegEnumValueA(HKEY, DWORD, char*, DWORD*, DWORD*, DWORD*, BYTE*, DWORD*) override {
        return ERROR_NO_MORE_ITEMS;
    }
    LONG RegEnumKeyExA(HKEY, DWORD, char*, DWORD*, DWORD*, char*, DWORD*, FILETIME*) override {
        return ERROR_NO_MORE_ITEMS;
    }
    LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) override { return ERROR_ACCESS_DENIED; }
    LONG RegDeleteValueA(HKEY, LPCSTR) override { return ERROR_ACCESS_DENIED; }
    LONG RegDeleteKeyA(HKEY, LPCSTR) override { return ERROR_ACCESS_DENIED; }
    LONG RegCloseKey(HKEY hKey) override {
        if (!IsPredefinedKey(hKey)) --openHandles;
        return ERROR_SUCCESS;
    }
};

// A pane that records what the document tells it, and checks that it was
// told to let go of the trees before they went.
class FakeTreePane : public ITreePane {
public:
    int populated = 0;
    const KeyNode* held = nullptr;
    void OnTreesDiscarding() override { held = nullptr; }
    void PopulateTree() override {
        ++populated;
        held = m_pDocument->SideRoot(m_nPane);
    }
    KeyNode* GetSelectedNode() const override { return nullptr; }
};

class FakeValuePane : public IValuePane {
public:
    void OnTreesDiscarding() override {}
    KeyNode* GetNode() const override { return nullptr; }
};

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("qv-doc-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir);
        for (CView* v : std::initializer_list<CView*>{&masterTree, &slaveTree, &masterValues, &slaveValues})
            doc.AddView(v);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string File(const std::string& name, const std::string& text) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // Runs Open, choosing the given kinds and names in the dialog.
    void Open(int masterKind, const std::string& master, int slaveKind, const std::string& slave) {
        ui.AnswerDialog([=](CDialog&, CDialogDriver& d) {
            d.Click(masterKind == kSourceLocal ? IDC_MASTER_LOCAL
                    : masterKind == kSourceNetwork ? IDC_MASTER_NETWORK : IDC_MASTER_FILE);
            if (masterKind != kSourceLocal) d.Type(IDC_MASTER_NAME, master);
            d.Click(slaveKind == kSourceLocal ? IDC_SLAVE_LOCAL
                    : slaveKind == kSourceNetwork ? IDC_SLAVE_NETWORK : IDC_SLAVE_FILE);
            if (slaveKind != kSourceLocal) d.Type(IDC_SLAVE_NAME, slave);
            d.Click(IDOK);
        });
        doc.OnFileSelect();
    }

    fs::path dir;
    CScriptedUI ui;
    RootsOnlyRegistry registry;
    CQuorvaneDoc doc{registry, ui};
    FakeTreePane masterTree, slaveTree;
    FakeValuePane masterValues, slaveValues;
};

TEST_F(DocumentTest, FileSidesAreReadWholeAndPanesNumbered) {
    const std::string master = File("m.qvf", "[\\HKEY_USERS]\r\n\r\n[\\HKEY_USERS\\A]\r\n\"v\"=\"1\"\r\n\r\n");
    const std::string slave = File("s.qvf", "[\\HKEY_USERS]\r\n\r\n");
    Open(kSourceFile, master, kSourceFile, slave);

    EXPECT_TRUE(ui.Messages().empty());
    ASSERT_NE(doc.m_pMasterRoot, nullptr);
    EXPECT_EQ(doc.m_pMasterRoot->name, master);  // a file side's top node is named with its path
    ASSERT_EQ(doc.m_pMasterRoot->subkeys.size(), 1u);
    EXPECT_EQ(doc.m_pMasterRoot->subkeys[0]->subkeys[0]->values.size(), 1u);
    ASSERT_NE(doc.m_pSlaveRoot, nullptr);
    EXPECT_EQ(doc.m_nMasterKind, kSourceFile);
    EXPECT_EQ(doc.m_strSlave, slave);

    EXPECT_EQ(masterTree.m_nPane, 0);
    EXPECT_EQ(slaveTree.m_nPane, 1);
    EXPECT_EQ(masterValues.m_nPane, 2);
    EXPECT_EQ(slaveValues.m_nPane, 3);
    EXPECT_EQ(masterTree.populated, 1);
    EXPECT_EQ(masterTree.held, doc.m_pMasterRoot.get());
    EXPECT_EQ(slaveTree.held, doc.m_pSlaveRoot.get());
    EXPECT_EQ(doc.GetTreePane(1), &slaveTree);
    EXPECT_EQ(doc.GetValuePane(1), &slaveValues);
}

TEST_F(DocumentTest, CancelChangesNothing) {
    const std::string master = File("m.qvf", "[\\HKEY_USERS]\r\n");
    Open(kSourceFile, master, kSourceLocal, "");
    doc.m_bSync = 1;
    const KeyNode* masterRoot = doc.m_pMasterRoot.get();
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Click(IDC_MASTER_LOCAL);
        d.Click(IDCANCEL);
    });
    doc.OnFileSelect();
    EXPECT_EQ(doc.m_pMasterRoot.get(), masterRoot);
    EXPECT_EQ(doc.m_nMasterKind, kSourceFile);
    EXPECT_EQ(doc.m_strMaster, master);
    EXPECT_EQ(doc.m_bSync, 1);
    EXPECT_EQ(masterTree.populated, 1);
}

TEST_F(DocumentTest, DialogShowsTheLastAcceptedChoiceAndOpenEndsSync) {
    const std::string slave = File("s.qvf", "[\\HKEY_USERS]\r\n");
    Open(kSourceNetwork, "regbox", kSourceFile, slave);
    doc.m_bSync = 1;
    ui.AnswerDialog([&](CDialog&, CDialogDriver& d) {
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_MASTER_NETWORK), 1);
        EXPECT_EQ(d.GetDlgItemText(IDC_MASTER_NAME), "regbox");
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_SLAVE_FILE), 1);
        EXPECT_EQ(d.GetDlgItemText(IDC_SLAVE_NAME), slave);
        d.Click(IDOK);
    });
    const KeyNode* before = doc.m_pSlaveRoot.get();
    doc.OnFileSelect();
    EXPECT_EQ(doc.m_bSync, 0);
    // Every accepted Open rebuilds both trees, changed or not.
    EXPECT_NE(doc.m_pSlaveRoot.get(), nullptr);
    EXPECT_EQ(slaveTree.populated, 2);
    (void)before;
}

TEST_F(DocumentTest, FileFailuresAreReportedAndTheSideHasNoTree) {
    const std::string missing = (dir / "missing.qvf").string();
    const std::string bad = File("bad.qvf", "REGEDIT4\r\n[\\HKEY_USERS]\r\n");
    // Both fail: the Slave's message comes first.
    Open(kSourceFile, missing, kSourceFile, bad);
    const auto messages = ui.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Error in File Format!!!!");
    EXPECT_NE(messages[1].find(missing), std::string::npos) << messages[1];
    EXPECT_EQ(doc.m_pMasterRoot, nullptr);
    EXPECT_EQ(doc.m_pSlaveRoot, nullptr);
    EXPECT_EQ(masterTree.held, nullptr);
    EXPECT_EQ(masterTree.populated, 1);  // panes are repopulated (empty) all the same

    ui.events.clear();
    Open(kSourceFile, "", kSourceFile, dir.string());
    const auto again = ui.Messages();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_NE(again[0].find(dir.string()), std::string::npos) << again[0];
    EXPECT_EQ(again[1], "No file name was given.");
}

TEST_F(DocumentTest, LiveSidesGetTheRootKeysThatOpen) {
    registry.refused = {HKEY_DYN_DATA, HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG};
    Open(kSourceLocal, "", kSourceNetwork, "unreachable");
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Unable to open Registry."});
    EXPECT_EQ(doc.m_pSlaveRoot, nullptr);
    ASSERT_NE(doc.m_pMasterRoot, nullptr);
    EXPECT_EQ(doc.m_pMasterRoot->name, "local_computer");
    std::vector<std::string> names;
    for (const auto& k : doc.m_pMasterRoot->subkeys) {
        names.push_back(k->name);
        EXPECT_FALSE(k->IsLoaded());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                               "HKEY_LOCAL_MACHINE", "HKEY_USERS"}));
    EXPECT_EQ(registry.openHandles, 0);

    // The first root refused drops the side; a network side keeps its name.
    ui.events.clear();
    registry.refused = {HKEY_CLASSES_ROOT};
    Open(kSourceNetwork, "", kSourceLocal, "");
    EXPECT_EQ(ui.Messages(), (std::vector<std::string>{"Unable to open Registry.", "Unable to open Registry."}));
    registry.refused.clear();
    Open(kSourceNetwork, "", kSourceLocal, "");
    ASSERT_NE(doc.m_pMasterRoot, nullptr);
    EXPECT_EQ(doc.m_pMasterRoot->name, "");
    EXPECT_EQ(doc.m_pMasterRoot->subkeys.size(), 7u);
}

}  // namespace
}  // namespace qv
