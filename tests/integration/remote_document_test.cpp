// The program's document and panes with a side on another computer: the
// side opens, loads and is written (edits and copies) through quorvane-regd,
// and a computer that does not answer fails only its own side, in time.
#include <chrono>

#include "edit/copy.h"
#include "dialogs/edit_dialogs.h"
#include "tests/integration/remote_fixture.h"

using namespace std::string_literals;

namespace qv {
namespace {

TEST_F(RemoteDocument, NetworkSideOpensWithItsRootsAndLoadsLevelByLevel) {
    Open(kSourceNetwork, service.Computer(), kSourceLocal, "");
    EXPECT_TRUE(ui.Messages().empty());
    KeyNode* top = doc->m_pMasterRoot.get();
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->name, service.Computer());
    EXPECT_EQ(masterCtrl.ChildTexts(top), (std::vector<std::string>{"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                                    "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                                                    "HKEY_CURRENT_CONFIG"}));
    KeyNode* demo = Walk(masterCtrl, top, {"HKEY_LOCAL_MACHINE", "Software", "Demo"});
    ASSERT_NE(demo, nullptr);
    EXPECT_EQ(masterCtrl.ChildTexts(demo), std::vector<std::string>{"Sub"});
    ASSERT_EQ(masterList.rows.size(), 3u);
    EXPECT_EQ(masterList.rows[0].value, "remote");
    // The other side is this computer's store, not the remote one.
    KeyNode* mine = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Mine"});
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(slaveList.rows[0].value, "local");
    EXPECT_EQ(mine->parent->subkeys.size(), 1u);
    EXPECT_EQ(doc->m_recentComputers, std::vector<std::string>{service.Computer()}) << "for the network browser";

    // A computer that does not answer fails its own side only, and in time.
    const auto start = std::chrono::steady_clock::now();
    Open(kSourceLocal, "", kSourceNetwork, "127.0.0.1:1");  // nothing listens there
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Unable to open Registry."});
    EXPECT_EQ(doc->m_pSlaveRoot, nullptr);
    ASSERT_NE(doc->m_pMasterRoot, nullptr);
    EXPECT_EQ(doc->m_pMasterRoot->subkeys.size(), 5u);
    EXPECT_EQ(doc->m_recentComputers, std::vector<std::string>{service.Computer()}) << "only computers that answered";
}

class RemoteEdits : public RemoteDocument {
protected:
    void SetUp() override {
        RemoteDocument::SetUp();
        Open(kSourceLocal, "", kSourceNetwork, service.Computer());
        ASSERT_TRUE(ui.Messages().empty());
        target = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"});
        ASSERT_NE(target, nullptr);
    }
    KeyNode* target = nullptr;
};

TEST_F(RemoteEdits, AddingEditingAndDeletingWriteTheOtherComputersStore) {
    ui.AnswerDialog([](CDialog& d, CDialogDriver& drv) {
        drv.Type(1019, "Fresh");
        d.OnCommand(IDOK);
    });
    doc->OnCmdMsg(ID_ADD_KEY);
    ui.AnswerDialog([](CDialog& d, CDialogDriver& drv) {
        drv.Type(1019, "n");
        drv.Type(1020, "42");
        drv.Click(1022);
        d.OnCommand(IDOK);
    });
    doc->OnCmdMsg(ID_ADD_VALUE);
    EXPECT_EQ(StoreDump(remoteStore, "Software\\Demo\\Fresh"), "[Fresh] n=4:42\n");

    // An existing value rewritten in place through the value pane.
    slaveCtrl.Click(target);
    slaveList.rows[0].selected = true;
    ui.AnswerDialog([](CDialog& d, CDialogDriver& drv) {
        drv.Type(1019, "edited");
        d.OnCommand(IDOK);
    });
    slaveList.DoubleClick();
    EXPECT_NE(StoreDump(remoteStore, "Software\\Demo").find("Title=1:edited"), std::string::npos);

    // Delete one value, then a key with its subtree (never loaded here).
    for (auto& row : slaveList.rows) row.selected = row.name == "Blob";
    ui.AnswerQuestion(IDYES);
    doc->OnCmdMsg(ID_DELETE_VALUE);
    ASSERT_NE(Walk(slaveCtrl, target, {"Sub"}), nullptr);
    ui.AnswerQuestion(IDYES);
    doc->OnCmdMsg(ID_DELETE_KEY);
    EXPECT_EQ(StoreDump(remoteStore, "Software\\Demo"), "[Demo] Title=1:edited\0 Size=4:29\n  [Fresh] n=4:42\n"s);
    EXPECT_EQ(Dump(target), StoreDump(remoteStore, "Software\\Demo"));
    EXPECT_EQ(ui.Messages(), std::vector<std::string>(2, "Are you sure about deletion of this element?")) << "no error";
    ui.ExpectAllAnswersUsed();
}

TEST_F(RemoteEdits, CopyWritesTheMastersSubtreeIntoTheRemoteSlave) {
    KeyNode* mine = Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Mine"});
    ASSERT_NE(mine, nullptr);
    slaveCtrl.Click(target);
    masterCtrl.Click(mine);
    ui.AnswerDialog([](CDialog& d, CDialogDriver&) {
        static_cast<CCopyDlg&>(d).m_bRecursive = 1;
        d.EndDialog(IDOK);
    });
    doc->OnCmdMsg(ID_COPY);
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(StoreDump(remoteStore, "Software\\Demo\\Mine"), "[Mine] m=1:local\0\n  [Kid]\n"s);
    EXPECT_EQ(StoreDump(localStore, "Software\\Demo"), "(missing)") << "this computer's store got nothing";
}

}  // namespace
}  // namespace qv
