// The document and its panes over fake controls: opening file and live
// sides, failures to open, loading on selection, the guard before subtree
// operations, editing values in the Slave's value pane, the commands'
// enable rules, Save and Print.
#include "files/tree_printer.h"
#include "tests/unit/pane_fixture.h"

using namespace std::string_literals;

namespace qv {
namespace {

using PanesTest = PaneFixture;

TEST_F(PanesTest, OpenReadsFileSidesWholeAndShowsOnlyTheRootsOfLiveSides) {
    const std::string master = File("m.qvf", "[\\HKEY_USERS]\r\n\r\n[\\HKEY_USERS\\A]\r\n\"v\"=\"1\"\r\n\r\n"
                                              "[\\HKEY_USERS\\A\\B]\r\n\r\n");
    Open(kSourceFile, master, kSourceLocal, "");
    EXPECT_TRUE(ui.Messages().empty());
    KeyNode* mtop = doc->m_pMasterRoot.get();
    EXPECT_EQ(mtop->name, master);  // a file side's top node is named with its path
    EXPECT_EQ(masterCtrl.RootItem(), mtop);
    EXPECT_EQ(masterCtrl.ItemCount(), 4u);  // top, HKEY_USERS, A, B
    EXPECT_TRUE(masterCtrl.MirrorsTree());
    EXPECT_EQ(masterCtrl.ItemOf(mtop)->image, kImageDocument);
    EXPECT_EQ(masterCtrl.ItemOf(mtop->subkeys[0].get())->image, kImageFileKey);
    EXPECT_EQ(masterCtrl.ItemOf(mtop->subkeys[0].get())->selectedImage, kImageFileKey + 1);

    KeyNode* stop = doc->m_pSlaveRoot.get();
    EXPECT_EQ(stop->name, "local_computer");
    EXPECT_EQ(slaveCtrl.ItemOf(stop)->image, kImageComputer);
    EXPECT_EQ(slaveCtrl.ChildTexts(stop), (Names{"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                                 "HKEY_USERS", "HKEY_CURRENT_CONFIG"}));
    EXPECT_EQ(slaveCtrl.ItemCount(), 6u);
    EXPECT_EQ(slaveCtrl.ItemOf(At(stop, {"HKEY_USERS"}))->image, kImageLocalKey);
    EXPECT_EQ(slaveCtrl.GetSelectedNode(), nullptr);
    EXPECT_TRUE(masterCtrl.visible && slaveCtrl.visible);

    // Selecting in a file side reads nothing.
    counting->ResetCounts();
    masterCtrl.Click(mtop->subkeys[0]->subkeys[0].get());
    EXPECT_EQ(counting->Calls(RegCall::Any), 0u);
    ASSERT_EQ(masterList.rows.size(), 1u);
    EXPECT_EQ(masterList.rows[0].name, "v");
    EXPECT_TRUE(masterList.rows[0].selected);
}

TEST_F(PanesTest, TheDialogShowsTheLastChoiceCancelKeepsItAndOkRebuildsBothSides) {
    const std::string m = File("m.qvf", "[\\HKEY_USERS]\r\n");
    Open(kSourceFile, m, kSourceLocal, "");
    KeyNode* users = doc->m_pMasterRoot->subkeys[0].get();
    masterCtrl.Click(users);
    slaveCtrl.Click(doc->m_pSlaveRoot.get());
    doc->m_bSync = 1;
    ui.AnswerDialog([&](CDialog&, CDialogDriver& d) {
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_MASTER_FILE), 1);
        EXPECT_EQ(d.GetDlgItemText(IDC_MASTER_NAME), m);
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_SLAVE_LOCAL), 1);
        d.Click(IDC_MASTER_LOCAL);
        d.Click(IDCANCEL);
    });
    doc->OnFileSelect();
    EXPECT_EQ(doc->m_pMasterRoot->subkeys[0].get(), users);
    EXPECT_EQ(masterCtrl.GetSelectedNode(), users);
    EXPECT_EQ(doc->m_nMasterKind, kSourceFile);
    EXPECT_EQ(doc->m_strMaster, m);
    EXPECT_EQ(doc->m_bSync, 1);

    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(IDOK); });
    doc->OnFileSelect();
    EXPECT_EQ(doc->m_bSync, 0);
    EXPECT_EQ(masterCtrl.GetSelectedNode(), nullptr);
    EXPECT_EQ(slaveCtrl.GetSelectedNode(), nullptr);
    EXPECT_EQ(masterCtrl.ItemCount(), 2u);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(PanesTest, FileFailuresAreReportedAndTheSideHasNoTree) {
    Open(kSourceLocal, "", kSourceLocal, "");
    slaveCtrl.Click(At(doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE"}));
    const std::string missing = (dir / "missing.qvf").string();
    // While the messages are on screen, no pane holds a node of the old trees.
    ui.whileMessageShown = [&] {
        EXPECT_EQ(slaveCtrl.ItemCount() + masterCtrl.ItemCount(), 0u);
        EXPECT_EQ(slaveValues.m_pNode, nullptr);
        EXPECT_EQ(slaveCtrl.GetSelectedNode(), nullptr);
    };
    Open(kSourceFile, missing, kSourceFile, File("bad.qvf", "REGEDIT4\r\n[\\HKEY_USERS]\r\n"));
    ui.whileMessageShown = nullptr;
    const Names messages = ui.Messages();  // both fail: the Slave's message comes first
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Error in File Format!!!!");
    EXPECT_NE(messages[1].find(missing), std::string::npos) << messages[1];
    EXPECT_EQ(doc->m_pMasterRoot, nullptr);
    EXPECT_EQ(doc->m_pSlaveRoot, nullptr);
    EXPECT_EQ(slaveCtrl.ItemCount(), 0u);
    EXPECT_TRUE(slaveList.rows.empty());
    EXPECT_EQ(slaveValues.m_pNode, nullptr);

    ui.events.clear();
    Open(kSourceFile, "", kSourceFile, dir.string());
    const Names again = ui.Messages();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_NE(again[0].find(dir.string()), std::string::npos) << again[0];
    EXPECT_EQ(again[1], "No file name was given.");
}

TEST_F(PanesTest, FirstSelectionLoadsAndExpandsLaterOnesDoNot) {
    Open(kSourceLocal, "", kSourceLocal, "");
    KeyNode* hklm = At(doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE"});
    KeyNode* demo = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"});
    ASSERT_NE(demo, nullptr);
    EXPECT_EQ(slaveCtrl.ChildTexts(hklm), Names{"Software"});
    EXPECT_TRUE(slaveCtrl.expanded.count(hklm));
    EXPECT_TRUE(slaveCtrl.MirrorsTree());
    ASSERT_EQ(slaveList.rows.size(), 4u);
    EXPECT_EQ(slaveList.rows[0].value, "old");
    EXPECT_EQ(slaveList.rows[1].value, "(1D)  29");
    EXPECT_EQ(slaveList.rows[2].value, "It is Binary !!!");
    EXPECT_EQ(slaveList.rows[3].value, "It is Binary !!!");  // expandable text too
    EXPECT_TRUE(slaveList.rows[0].selected);

    // Back to an already loaded key, or to the root item: no registry call, no expansion.
    slaveCtrl.expanded.clear();
    counting->ResetCounts();
    slaveCtrl.Click(hklm);
    slaveCtrl.Click(doc->m_pSlaveRoot.get());
    EXPECT_EQ(counting->Calls(RegCall::Any), 0u);
    EXPECT_TRUE(slaveCtrl.expanded.empty());
    EXPECT_TRUE(slaveList.rows.empty());

    // No selection: the value pane empties.
    slaveCtrl.Click(demo);
    slaveCtrl.SelectItem(nullptr);
    EXPECT_TRUE(slaveList.rows.empty());
    EXPECT_EQ(slaveValues.m_pNode, nullptr);
}

// Double clicks in the value panes, with Software\Demo selected in the Slave.
class ValueEdits : public PaneFixture {
protected:
    void SetUp() override {
        PaneFixture::SetUp();
        Open(kSourceLocal, "", kSourceLocal, "");
        demo = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"});
    }
    void Edit(int row, const std::string& text, int button = IDOK) {
        for (auto& r : slaveList.rows) r.selected = false;
        if (row >= 0) slaveList.rows[static_cast<std::size_t>(row)].selected = true;
        if (row == 0 || row == 1) {
            ui.AnswerDialog([=](CDialog&, CDialogDriver& d) {
                d.Type(1019, text);
                d.Click(button);
            });
        }
        slaveList.DoubleClick();
    }
    KeyNode* demo = nullptr;
};

TEST_F(ValueEdits, StringAndNumberEditsWriteTheRegistryAndRefresh) {
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        EXPECT_EQ(d.GetDlgItemText(1019), "old");
        d.Type(1019, "new text");
        d.Click(IDOK);
    });
    slaveList.DoubleClick();  // the first row is selected
    EXPECT_NE(Registry("Software\\Demo").find("Title=1:new text"s + '\0'), std::string::npos);
    EXPECT_EQ(demo->values[0]->Text(), "new text");
    EXPECT_EQ(slaveList.rows[0].value, "new text");
    for (const auto& r : slaveList.rows) EXPECT_FALSE(r.selected);

    Edit(1, " 42 ");
    EXPECT_EQ(demo->values[1]->Number(), 42u);
    EXPECT_EQ(slaveList.rows[1].value, "(2A)  42");
    // The whole text is written, however long.
    const std::string longText = std::string(70000, 'x') + "\xC3\xA9tail";
    Edit(0, longText);
    EXPECT_NE(Registry("Software\\Demo").find("Title=1:" + longText + '\0'), std::string::npos);
    // A key gone from the registry is made again.
    slaveCtrl.Click(At(demo, {"Sub"}));
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Demo\\Sub"), ERROR_SUCCESS);
    Edit(0, "again");
    EXPECT_TRUE(Exists("Software\\Demo\\Sub"));
    EXPECT_TRUE(ui.Messages().empty());
    ui.ExpectAllAnswersUsed();
}

// Refusals, Cancel and a failed write change nothing; a failed write keeps
// the rows as they were.
TEST_F(ValueEdits, RefusalsCancelAndFailuresChangeNothing) {
    counting->FailCall(RegCall::SetValue, 1, ERROR_ACCESS_DENIED);
    Edit(0, "lost");
    EXPECT_EQ(demo->values[0]->Text(), "old");
    EXPECT_EQ(slaveList.rows[0].value, "old");
    EXPECT_TRUE(slaveList.rows[0].selected);
    Edit(2, "");  // binary, and any other type, is refused before any dialog
    Edit(3, "");
    counting->ResetCounts();
    Edit(0, "changed", IDCANCEL);
    EXPECT_EQ(counting->Calls(RegCall::SetValue), 0u);
    EXPECT_EQ(demo->values[0]->Text(), "old");
    Edit(-1, "");  // no row selected: nothing at all
    ui.ExpectAllAnswersUsed();
    // The Master's pane is never edited, nor a file Slave.
    masterCtrl.Click(Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"}));
    masterList.DoubleClick();
    Open(kSourceLocal, "", kSourceFile, File("s.qvf", "[\\A]\r\n\"v\"=\"1\"\r\n"));
    slaveCtrl.Click(doc->m_pSlaveRoot->subkeys[0].get());
    slaveList.DoubleClick();
    EXPECT_EQ(ui.Messages(), (Names{"Can't update registry.", "Can't modify binary values.",
                                    "Can't modify binary values.", "Can't modify Master registry.",
                                    "Can't modify File registry"}));
    EXPECT_NE(Registry("Software\\Demo").find("Title=1:old"s + '\0'), std::string::npos);
}

class DocumentCommands : public PaneFixture {
protected:
    std::string Example() {
        return File("m.qvf", "[\\HKEY_USERS]\r\n\r\n[\\HKEY_USERS\\A]\r\n\"s\"=\"1\"\r\n\r\n[\\HKEY_USERS\\B]\r\n\r\n");
    }
};

TEST_F(DocumentCommands, EnableRulesFollowTheSides) {
    const std::vector<UINT> writing = {ID_ADD_KEY, ID_ADD_VALUE, ID_DELETE_KEY,
                                       ID_DELETE_VALUE, ID_DELETE_ALL_VALUES, ID_COPY};
    const std::vector<UINT> reading = {ID_FILE_SAVE_TREE, ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW, ID_SYNC,
                                       ID_READ_SUBTREE, ID_FIND, ID_COMPARE};
    const auto enabled = [&](const std::vector<UINT>& ids) {
        std::vector<UINT> out;
        for (UINT id : ids) {
            CCmdUI cmd(id);
            if (doc->OnUpdateCmdUI(cmd) && cmd.m_bEnabled) out.push_back(id);
        }
        return out;
    };
    EXPECT_TRUE(enabled(writing).empty());
    EXPECT_TRUE(enabled(reading).empty());
    EXPECT_EQ(enabled({ID_FILE_SELECT}).size(), 1u);
    Open(kSourceFile, Example(), kSourceFile, Example());
    EXPECT_TRUE(enabled(writing).empty());
    EXPECT_EQ(enabled(reading), reading);
    Open(kSourceFile, (dir / "missing.qvf").string(), kSourceLocal, "");
    EXPECT_EQ(enabled(writing), writing);
    EXPECT_TRUE(enabled(reading).empty());
}

TEST_F(DocumentCommands, SaveWritesTheChosenTreeOrSaysWhy) {
    const std::string m = Example();
    Open(kSourceFile, m, kSourceFile, m);
    const std::string out = (dir / "out.qvf").string();
    auto save = [&](int button, std::optional<std::string> path) {
        ui.AnswerDialog([button](CDialog&, CDialogDriver& d) { d.Click(button); });
        if (button != IDCANCEL) ui.AnswerFile(path);
        doc->OnCmdMsg(ID_FILE_SAVE_TREE);
    };
    save(IDCANCEL, std::nullopt);
    save(1012, std::nullopt);  // cancelled file dialog
    save(1013, out);           // Master subtree, nothing selected: asked for the name first
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(ui.Messages(), Names{"Please select from Master tree."});
    ASSERT_EQ(ui.fileRequests.size(), 2u);
    const FileDialogRequest& r = ui.fileRequests[0];
    EXPECT_TRUE(!r.bOpen && r.bOverwritePrompt);
    EXPECT_EQ(r.initialName + " " + r.filterName + " " + r.filterPattern + " " + r.defaultExtension, "*.qvf qvf *.qvf qvf");

    save(1014, out);  // the whole Slave tree
    std::ifstream in(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              "[\\HKEY_USERS]\r\n\r\n[\\HKEY_USERS\\A]\r\n\"s\"=\"1\"\r\n\r\n[\\HKEY_USERS\\B]\r\n\r\n");
    // What the file cannot keep is said: the live Demo key's binary and
    // expandable values.
    Open(kSourceLocal, "", kSourceLocal, "");
    masterCtrl.Click(Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"})->parent);
    save(1013, out);
    EXPECT_EQ(ui.Messages().back(),
              "2 value(s) could not be kept whole: a tree file keeps REG_SZ text on one line and REG_DWORD numbers only.");
    // A write error names the file.
    const std::string bad = (dir / "no such folder" / "x.qvf").string();
    save(1012, bad);
    EXPECT_NE(ui.Messages().back().find(bad), std::string::npos) << ui.Messages().back();
    ui.ExpectAllAnswersUsed();
}

// Records what printing draws as "y text".
struct TextDC : CDC {
    Names lines;
    int ended = 0;
    void TextOut(int x, int y, const std::string& text) override {
        EXPECT_EQ(x, 50);
        lines.push_back(std::to_string(y) + " " + text);
    }
    void StartPage() override {}
    void EndPage() override { ++ended; }
};

TEST_F(DocumentCommands, PrintChoosesItsRootFirst) {
    const std::string m = Example();
    Open(kSourceFile, m, kSourceFile, m);
    TextDC dc;
    ui.printer = &dc;
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(IDCANCEL); });
    EXPECT_TRUE(masterTree.OnCmdMsg(ID_FILE_PRINT));  // abandoned silently
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(1015); });
    slaveValues.OnCmdMsg(ID_FILE_PRINT);  // Slave subtree without a selection
    EXPECT_EQ(ui.Messages(), Names{"Select subtree to perform operation."});
    EXPECT_TRUE(ui.printModes.empty());
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(1012); });
    ui.AnswerPrint(false);
    masterTree.OnCmdMsg(ID_FILE_PRINT);
    EXPECT_EQ(doc->m_pPrintRoot, doc->m_pMasterRoot.get());

    // A subtree starts with its ancestors; lines step by a hundred from the
    // top of the page whatever an earlier job left, blank lines draw nothing.
    KeyNode* users = doc->m_pMasterRoot->subkeys[0].get();
    masterCtrl.Click(users);
    printY = 12345;
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(1013); });
    ui.AnswerPrint(true);
    masterTree.OnCmdMsg(ID_FILE_PRINT_PREVIEW);
    EXPECT_EQ(doc->m_pPrintRoot, users);
    EXPECT_EQ(ui.printModes, (std::vector<PrintMode>{PrintMode::Dialog, PrintMode::Preview}));
    EXPECT_EQ(dc.lines, (Names{"150 []", "350 [\\HKEY_USERS]", "550 [\\HKEY_USERS\\A]", "650 \"s\"=\"1\"",
                               "850 [\\HKEY_USERS\\B]"}));
    EXPECT_EQ(dc.ended, 0);
    ui.ExpectAllAnswersUsed();
}

}  // namespace
}  // namespace qv
