// The tree and value panes' logic over plain fake controls, with a store for
// the live sides and tree files for the file sides.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dialogs/open_dlg.h"
#include "app/quorvane_doc.h"
#include "panes/tree_pane.h"
#include "panes/value_pane.h"
#include "registry/store_registry.h"
#include "tests/support/counting_registry.h"
#include "tests/support/fake_controls.h"
#include "tests/support/registry_builder.h"
#include "tests/support/scripted_ui.h"
#include "tests/unit/pane_fixture.h"

namespace qv {
namespace {


using PanesTest = PaneFixture;

TEST(ValueText, Forms) {
    auto number = [](DWORD n) { return ValueText(ValueEntry("n", REG_DWORD, &n)); };
    EXPECT_EQ(number(255), "(FF)  255");
    EXPECT_EQ(number(16), "(10)  16");
    EXPECT_EQ(number(0), "(0)  0");
    EXPECT_EQ(number(4294967295u), "(FFFFFFFF)  4294967295");
    EXPECT_EQ(ValueText(ValueEntry("s", REG_SZ, "C:\\x y")), "C:\\x y");
    EXPECT_EQ(ValueText(ValueEntry("s", REG_SZ, "")), "");
    for (DWORD type : {REG_BINARY, REG_EXPAND_SZ, REG_MULTI_SZ, REG_QWORD}) {
        ValueEntry e;
        e.type = type;
        EXPECT_EQ(ValueText(e), "It is Binary !!!");
    }
}

TEST_F(PanesTest, FileSideShowsEveryKeyAtOnceLiveSideOnlyItsRoots) {
    const std::string master = File("m.qvf", "[\\HKEY_USERS]\r\n\r\n[\\HKEY_USERS\\A]\r\n\"v\"=\"1\"\r\n\r\n"
                                              "[\\HKEY_USERS\\A\\B]\r\n\r\n");
    Open(kSourceFile, master, kSourceLocal, "");
    EXPECT_TRUE(ui.Messages().empty());

    KeyNode* mtop = doc->m_pMasterRoot.get();
    EXPECT_EQ(masterCtrl.RootItem(), mtop);
    EXPECT_EQ(masterCtrl.ItemCount(), 4u);  // top, HKEY_USERS, A, B
    EXPECT_TRUE(masterCtrl.MirrorsTree());
    EXPECT_EQ(masterCtrl.ItemOf(mtop)->image, kImageDocument);
    EXPECT_EQ(masterCtrl.ItemOf(mtop->subkeys[0].get())->image, kImageFileKey);
    EXPECT_EQ(masterCtrl.ItemOf(mtop->subkeys[0].get())->selectedImage, kImageFileKey + 1);

    KeyNode* stop = doc->m_pSlaveRoot.get();
    EXPECT_EQ(slaveCtrl.ItemOf(stop)->image, kImageComputer);
    EXPECT_EQ(slaveCtrl.ChildTexts(stop),
              (std::vector<std::string>{"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                        "HKEY_USERS", "HKEY_CURRENT_CONFIG"}));
    EXPECT_EQ(slaveCtrl.ItemCount(), 6u);
    EXPECT_EQ(slaveCtrl.ItemOf(Child(stop, "HKEY_USERS"))->image, kImageLocalKey);
    EXPECT_EQ(slaveCtrl.GetSelectedNode(), nullptr);
    EXPECT_TRUE(masterCtrl.visible && slaveCtrl.visible);
    EXPECT_EQ(slaveTree.m_bSelNotify, 1);

    // Selecting in a file side reads nothing.
    counting->ResetCounts();
    masterCtrl.Click(mtop->subkeys[0]->subkeys[0].get());
    EXPECT_EQ(counting->Calls(RegCall::Any), 0u);
    ASSERT_EQ(masterList.rows.size(), 1u);
    EXPECT_EQ(masterList.rows[0].name, "v");
    EXPECT_TRUE(masterList.rows[0].selected);
}

TEST_F(PanesTest, FirstSelectionLoadsAndExpandsLaterOnesDoNot) {
    Open(kSourceLocal, "", kSourceLocal, "");
    KeyNode* hklm = Child(doc->m_pSlaveRoot.get(), "HKEY_LOCAL_MACHINE");
    slaveCtrl.Click(hklm);
    EXPECT_EQ(slaveCtrl.ChildTexts(hklm), std::vector<std::string>{"Software"});
    EXPECT_TRUE(slaveCtrl.expanded.count(hklm));
    KeyNode* software = hklm->subkeys[0].get();
    slaveCtrl.Click(software);
    KeyNode* demo = Child(software, "Demo");
    ASSERT_NE(demo, nullptr);
    slaveCtrl.Click(demo);
    EXPECT_EQ(slaveList.rows.size(), 4u);
    EXPECT_EQ(slaveList.rows[0].value, "old");
    EXPECT_EQ(slaveList.rows[1].value, "(1D)  29");
    EXPECT_EQ(slaveList.rows[2].value, "It is Binary !!!");
    EXPECT_TRUE(slaveList.rows[0].selected);
    EXPECT_TRUE(slaveCtrl.MirrorsTree());

    // Back to an already loaded key: no registry call, no expansion.
    slaveCtrl.expanded.clear();
    counting->ResetCounts();
    slaveCtrl.Click(hklm);
    EXPECT_EQ(counting->Calls(RegCall::Any), 0u);
    EXPECT_FALSE(slaveCtrl.expanded.count(hklm));

    // The root item loads nothing.
    slaveCtrl.Click(doc->m_pSlaveRoot.get());
    EXPECT_EQ(counting->Calls(RegCall::Any), 0u);
    EXPECT_TRUE(slaveList.rows.empty());

    // No selection: nothing loaded, the value pane empties.
    slaveCtrl.Click(demo);
    slaveCtrl.SelectItem(nullptr);
    EXPECT_TRUE(slaveList.rows.empty());
    EXPECT_EQ(slaveValues.m_pNode, nullptr);
}

TEST_F(PanesTest, SilencedPaneIgnoresItsSelection) {
    Open(kSourceLocal, "", kSourceLocal, "");
    KeyNode* hklm = Child(doc->m_pMasterRoot.get(), "HKEY_LOCAL_MACHINE");
    masterTree.m_bSelNotify = 0;
    counting->ResetCounts();
    masterCtrl.Click(hklm);
    EXPECT_EQ(counting->Calls(RegCall::Any), 0u);
    EXPECT_TRUE(masterList.rows.empty());
    EXPECT_FALSE(hklm->IsLoaded());
}

TEST_F(PanesTest, FailedSideHasNoItemsAndAnEmptyValuePane) {
    Open(kSourceLocal, "", kSourceLocal, "");
    slaveCtrl.Click(Child(doc->m_pSlaveRoot.get(), "HKEY_LOCAL_MACHINE"));
    Open(kSourceLocal, "", kSourceFile, (dir / "missing.qvf").string());
    EXPECT_EQ(doc->m_pSlaveRoot, nullptr);
    EXPECT_EQ(slaveCtrl.ItemCount(), 0u);
    EXPECT_TRUE(slaveList.rows.empty());
    EXPECT_EQ(slaveValues.m_pNode, nullptr);
}

TEST_F(PanesTest, GuardOutcomes) {
    Open(kSourceLocal, "", kSourceLocal, "");
    EXPECT_EQ(slaveTree.GuardSubtree(), nullptr);
    KeyNode* top = doc->m_pSlaveRoot.get();
    KeyNode* hklm = Child(top, "HKEY_LOCAL_MACHINE");
    slaveCtrl.Click(top);
    EXPECT_EQ(slaveTree.GuardSubtree(), nullptr);
    slaveCtrl.Click(hklm);
    EXPECT_EQ(slaveTree.GuardSubtree(), nullptr);
    KeyNode* software = hklm->subkeys[0].get();
    slaveCtrl.Click(software);
    ui.AnswerQuestion(IDNO);
    EXPECT_EQ(slaveTree.GuardSubtree(), nullptr);
    ui.AnswerQuestion(IDYES);
    EXPECT_EQ(slaveTree.GuardSubtree(), software);
    KeyNode* demo = Child(software, "Demo");
    slaveCtrl.Click(demo);
    EXPECT_EQ(slaveTree.GuardSubtree(), demo);  // deeper: no question
    EXPECT_EQ(ui.Messages(),
              (std::vector<std::string>{
                  "Select subtree to perform operation.", "Can't operate on roots.", "Can't operate on roots.",
                  "Selected element is close to Root. Operation may take long time. Are You sure?",
                  "Selected element is close to Root. Operation may take long time. Are You sure?"}));

    // A file side is refused without a word.
    ui.events.clear();
    Open(kSourceLocal, "", kSourceFile, File("s.qvf", "[\\A]\r\n[\\A\\B]\r\n[\\A\\B\\C]\r\n"));
    slaveCtrl.Click(doc->m_pSlaveRoot->subkeys[0]->subkeys[0]->subkeys[0].get());
    EXPECT_EQ(slaveTree.GuardSubtree(), nullptr);
    EXPECT_TRUE(ui.Messages().empty());
}

class EditTest : public PaneFixture {
protected:
    // Opens both sides live and selects Software\Demo in the Slave.
    void SetUp() override {
        PaneFixture::SetUp();
        Open(kSourceLocal, "", kSourceLocal, "");
        KeyNode* hklm = Child(doc->m_pSlaveRoot.get(), "HKEY_LOCAL_MACHINE");
        slaveCtrl.Click(hklm);
        slaveCtrl.Click(hklm->subkeys[0].get());
        demo = Child(hklm->subkeys[0].get(), "Demo");
        slaveCtrl.Click(demo);
    }
    void Select(int row) {
        for (auto& r : slaveList.rows) r.selected = false;
        slaveList.rows[static_cast<std::size_t>(row)].selected = true;
    }
    std::string StoredText(const char* name) {
        HKEY key = nullptr;
        EXPECT_EQ(store->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Demo", 0, KEY_READ, &key), 0);
        char data[300] = {};
        for (DWORD i = 0;; ++i) {
            char n[300];
            DWORD nameSize = sizeof n, dataSize = sizeof data, type = 0;
            if (store->RegEnumValueA(key, i, n, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                     &dataSize) != 0)
                break;
            if (std::string(n) == name) break;
        }
        store->RegCloseKey(key);
        return data;
    }
    KeyNode* demo = nullptr;
};

TEST_F(EditTest, StringAndNumberEditsWriteTheRegistryAndRefresh) {
    Select(0);
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        EXPECT_EQ(d.GetDlgItemText(1019), "old");
        d.Type(1019, "new text");
        d.Click(IDOK);
    });
    slaveList.DoubleClick();
    EXPECT_EQ(StoredText("Title"), "new text");
    EXPECT_EQ(demo->values[0]->Text(), "new text");
    EXPECT_EQ(slaveList.rows[0].value, "new text");
    for (const auto& r : slaveList.rows) EXPECT_FALSE(r.selected);

    Select(1);
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        EXPECT_EQ(d.GetDlgItemText(1019), "29");
        d.Type(1019, " 42 ");
        d.Click(IDOK);
    });
    slaveList.DoubleClick();
    EXPECT_EQ(demo->values[1]->Number(), 42u);
    EXPECT_EQ(slaveList.rows[1].value, "(2A)  42");

    // A text longer than a value holds is cut at 255 bytes, never inside a character.
    Select(0);
    std::string longText(254, 'x');
    longText += "\xC3\xA9tail";
    ui.AnswerDialog([&](CDialog&, CDialogDriver& d) {
        d.Type(1019, longText);
        d.Click(IDOK);
    });
    slaveList.DoubleClick();
    EXPECT_EQ(StoredText("Title"), std::string(254, 'x'));
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(EditTest, RefusalsAndCancelChangeNothing) {
    // Binary and other types are refused before any dialog.
    for (int row : {2, 3}) {
        Select(row);
        slaveList.DoubleClick();
    }
    // Cancel writes nothing.
    Select(0);
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Type(1019, "changed");
        d.Click(IDCANCEL);
    });
    counting->ResetCounts();
    slaveList.DoubleClick();
    EXPECT_EQ(counting->Calls(RegCall::SetValue), 0u);
    EXPECT_EQ(demo->values[0]->Text(), "old");
    // No row selected: nothing at all.
    for (auto& r : slaveList.rows) r.selected = false;
    slaveList.DoubleClick();
    // The Master's pane is never edited.
    KeyNode* hklm = Child(doc->m_pMasterRoot.get(), "HKEY_LOCAL_MACHINE");
    masterCtrl.Click(hklm);
    masterCtrl.Click(hklm->subkeys[0].get());
    masterCtrl.Click(Child(hklm->subkeys[0].get(), "Demo"));
    masterList.DoubleClick();
    EXPECT_EQ(ui.Messages(), (std::vector<std::string>{"Can't modify binary values.", "Can't modify binary values.",
                                                        "Can't modify Master registry."}));
    EXPECT_EQ(StoredText("Title"), "old");
}

TEST_F(EditTest, AFailedWriteRestoresTheEntry) {
    Select(0);
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Type(1019, "lost");
        d.Click(IDOK);
    });
    counting->FailCall(RegCall::SetValue, 1, ERROR_ACCESS_DENIED);
    slaveList.DoubleClick();
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Can't update registry."});
    EXPECT_EQ(demo->values[0]->Text(), "old");
    EXPECT_EQ(slaveList.rows[0].value, "old");
    EXPECT_TRUE(slaveList.rows[0].selected);  // the rows stay as they were
    EXPECT_EQ(StoredText("Title"), "old");
    EXPECT_EQ(counting->OpenHandles(), 0u);
}

TEST_F(EditTest, EditingAKeyGoneFromTheRegistryCreatesIt) {
    KeyNode* sub = Child(demo, "Sub");
    slaveCtrl.Click(sub);
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Demo\\Sub"), ERROR_SUCCESS);
    Select(0);
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Type(1019, "again");
        d.Click(IDOK);
    });
    slaveList.DoubleClick();
    EXPECT_TRUE(ui.Messages().empty());
    HKEY key = nullptr;
    EXPECT_EQ(store->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Demo\\Sub", 0, KEY_READ, &key), 0);
    store->RegCloseKey(key);
}

TEST_F(EditTest, FileSlaveIsNeverEdited) {
    Open(kSourceLocal, "", kSourceFile, File("s.qvf", "[\\A]\r\n\"v\"=\"1\"\r\n"));
    slaveCtrl.Click(doc->m_pSlaveRoot->subkeys[0].get());
    slaveList.DoubleClick();
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Can't modify File registry"});
}

}  // namespace
}  // namespace qv
