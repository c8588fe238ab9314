// Compare, Find, Sync and Load Subtree: the walks on trees in memory (their
// stops in order, the first match, entries added during a walk), and the
// commands around them on file and live sides.
#include <gtest/gtest.h>

#include "compare/compare_walk.h"
#include "dialogs/walk_dialogs.h"
#include "files/tree_file.h"
#include "tests/unit/pane_fixture.h"

namespace qv {
namespace {

using namespace std::string_literals;

// A tree read from tree-file text.
std::unique_ptr<KeyNode> Tree(const std::string& text) {
    const fs::path path = fs::temp_directory_path() / ("qv-walks-" + std::to_string(::getpid()) + ".qvf");
    std::ofstream(path, std::ios::binary) << text;
    auto top = std::make_unique<KeyNode>("t");
    CStdioFile file(path.string(), CStdioFile::modeRead);
    EXPECT_EQ(ReadTreeFile(top.get(), file), 0);
    fs::remove(path);
    return top;
}

// Every stop as "key row message"; answers Next until `stopAfter` stops.
struct Recorder {
    Names stops;
    std::size_t stopAfter = 1000;
    WalkStop Fn() {
        return [this](KeyNode* n, int row, UINT message) {
            stops.push_back(n->name + " " + std::to_string(row) + " " + LoadString(message));
            return stops.size() < stopAfter;
        };
    }
};

const char* kMaster =
    "[\\R]\r\n\"same\"=\"x\"\r\n\"num\"=dword:00000001\r\n\"bin\"=\r\n\r\n"
    "[\\R\\A]\r\n\"v\"=\"1\"\r\n\r\n[\\R\\A\\Deep]\r\n\"d\"=dword:00000005\r\n\r\n"
    "[\\R\\B]\r\n\r\n";

TEST(CompareWalk, EveryKindOfDifferenceInWalkOrderAndAStopEndsTheWalk) {
    auto m = Tree(kMaster);
    // Slave: "same" differs in case of data, "num" differs, "Bin" named in
    // other case, an extra value, A\Deep's number differs, B missing, an extra key a.
    auto s = Tree("[\\R]\r\n\"same\"=\"X\"\r\n\"num\"=dword:00000002\r\n\"Bin\"=\r\n\"extra\"=\"e\"\r\n\r\n"
                  "[\\R\\A]\r\n\"v\"=dword:00000001\r\n\r\n[\\R\\A\\Deep]\r\n\"d\"=dword:00000006\r\n\r\n"
                  "[\\R\\b]\r\n\r\n[\\R\\a]\r\n\r\n");
    Recorder r;
    EXPECT_EQ(CompareNodes(At(s.get(), {"R"}), At(m.get(), {"R"}), r.Fn()), 1);
    EXPECT_EQ(r.stops, (Names{"R 0 Different number of value entries.", "R 0 Values are different.",
                              "R 1 Values are different.", "R 2 Value entry missing.", "R 3 Value entry missing.",
                              "R 0 Different number of key entries.", "A 0 Value types are different.",
                              "Deep 0 Values are different.", "b 0 Key missing", "a 0 Key missing"}));
    Recorder stopped;
    stopped.stopAfter = 1;
    EXPECT_EQ(CompareNodes(At(s.get(), {"R"}), At(m.get(), {"R"}), stopped.Fn()), 0);
    EXPECT_EQ(stopped.stops.size(), 1u);
}

// Every type is compared by its bytes; text as text (a missing terminator
// is no difference).
TEST(CompareWalk, EveryTypeIsComparedByItsBytes) {
    const struct {
        DWORD type;
        std::string master, slave;
        bool differ;
    } cases[] = {
        {REG_BINARY, "\1", "\2", true},
        {REG_BINARY, "\1\0"s, "\1", true},
        {REG_MULTI_SZ, "a\0b\0\0"s, "a\0c\0\0"s, true},
        {REG_EXPAND_SZ, "%A%\0"s, "%B%\0"s, true},
        {REG_QWORD, "12345678", "12345679", true},
        {REG_BINARY, "\1\0\2"s, "\1\0\2"s, false},
        {REG_SZ, "same\0"s, "same", false},
        {REG_DWORD, "\7\0\0\0"s, "\7\0\0\0"s, false},
    };
    for (const auto& c : cases) {
        KeyNode m("m"), s("s");
        m.AppendValue(std::make_unique<ValueEntry>("v", c.type, c.master));
        s.AppendValue(std::make_unique<ValueEntry>("v", c.type, c.slave));
        Recorder r;
        EXPECT_EQ(CompareNodes(&s, &m, r.Fn()), 1);
        EXPECT_EQ(r.stops.size(), c.differ ? 1u : 0u) << c.type << " " << c.master;
        if (c.differ && !r.stops.empty()) {
            EXPECT_EQ(r.stops[0], "s 0 Values are different.");
        }
    }
}

TEST(CompareWalk, EntriesAddedAtAStopAreWalkedAndFirstMatchWins) {
    // Many subkeys: the look-up goes through the index, which must keep the
    // first of two equal names and see keys appended during the walk.
    KeyNode m("m"), s("s");
    for (int i = 0; i < 40; ++i) {
        m.AppendSubkey(std::make_unique<KeyNode>(std::string("k").append(std::to_string(i))));
        s.AppendSubkey(std::make_unique<KeyNode>(std::string("k").append(std::to_string(i))));
    }
    m.AppendSubkey(std::make_unique<KeyNode>("dup"));
    m.AppendSubkey(std::make_unique<KeyNode>("dup"))->AppendValue(std::make_unique<ValueEntry>("x", REG_SZ, "1"));
    s.AppendSubkey(std::make_unique<KeyNode>("dup"));
    s.AppendSubkey(std::make_unique<KeyNode>("late"));
    Recorder r;
    const WalkStop record = r.Fn();
    CompareNodes(&s, &m, [&](KeyNode* n, int row, UINT message) {
        if (r.stops.empty()) s.AppendSubkey(std::make_unique<KeyNode>("appended"));  // as a load at a stop would
        return record(n, row, message);
    });
    // "dup" matched the first (empty) Master key, so no stop for it.
    EXPECT_EQ(r.stops, (Names{"late 0 Key missing", "appended 0 Key missing"}));
}

TEST(FindWalk, OrderAndWholeCaseSensitiveMatching) {
    auto t = Tree("[\\R]\r\n\"hit\"=\"hit\"\r\n\"HIT\"=\"hit!\"\r\n\r\n"
                  "[\\R\\hit]\r\n\"a\"=\"hit\"\r\n\r\n[\\R\\hit\\x]\r\n\"hit\"=dword:00000001\r\n\r\n"
                  "[\\R\\other]\r\n\"v\"=\"Hit\"\r\n\r\n");
    Recorder r;
    EXPECT_EQ(FindIn(At(t.get(), {"R"}), "hit", true, true, r.Fn()), 1);
    const std::string match = " 0 Find entry matching criteria.";
    EXPECT_EQ(r.stops, (Names{"R" + match, "R" + match, "hit" + match, "hit" + match, "x" + match}));
    // The starting key's own name is never tested; neither box set: nothing.
    Recorder names, none, stopped;
    FindIn(At(t.get(), {"R", "hit"}), "hit", true, false, names.Fn());
    EXPECT_EQ(names.stops, Names{"x" + match});
    FindIn(At(t.get(), {"R"}), "hit", false, false, none.Fn());
    EXPECT_TRUE(none.stops.empty());
    stopped.stopAfter = 1;
    EXPECT_EQ(FindIn(At(t.get(), {"R"}), "hit", true, true, stopped.Fn()), 0);
    EXPECT_EQ(stopped.stops.size(), 1u);
}

// The commands on panes, with both sides from files or from the store.
class WalkCommands : public PaneFixture {
protected:
    std::string RegistryText() const override {
        return R"([HKLM\Software\M]
"v"="1"
[HKLM\Software\M\Child]
"c"="m"
[HKLM\Software\M\Child\Deeper]
"d"=hex:01
[HKLM\Software\S]
"v"="1"
[HKLM\Software\S\Child]
"c"="s"
[HKLM\Software\S\Child\Deeper]
"d"=hex:02
[HKLM\Software\M\Empty]
[HKLM\Software\S\Empty]
)";
    }
    // Queues a click on `button` in each of the next dialogs.
    void Answer(std::initializer_list<int> buttons) {
        for (int b : buttons) ui.AnswerDialog([b](CDialog&, CDialogDriver& d) { d.Click(b); });
    }
};

TEST_F(WalkCommands, CompareNeedsBothSelectionsAndItsStopsShowTheSlaveKey) {
    const std::string m = File("m.qvf", kMaster);
    Open(kSourceFile, m, kSourceFile,
         File("s.qvf", "[\\R]\r\n\"same\"=\"x\"\r\n\"num\"=dword:00000009\r\n\"bin\"=\r\n\r\n"
                       "[\\R\\A]\r\n\"v\"=\"1\"\r\n\r\n[\\R\\A\\Deep]\r\n\"d\"=dword:00000005\r\n\r\n[\\R\\C]\r\n\r\n"));
    Answer({IDCANCEL, IDOK});
    doc->OnCmdMsg(ID_COMPARE);  // Cancel says nothing
    doc->OnCmdMsg(ID_COMPARE);  // no Master selection: no walk, no closing message
    masterCtrl.Click(At(doc->m_pMasterRoot.get(), {"R"}));
    Answer({IDOK});
    doc->OnCmdMsg(ID_COMPARE);  // no Slave selection, and no walk to have ended
    EXPECT_EQ(ui.Messages(), (Names{"Please select from Master tree.", "Select subtree to perform operation."}));

    ui.events.clear();
    slaveCtrl.Click(At(doc->m_pSlaveRoot.get(), {"R"}));
    std::vector<std::pair<std::string, int>> shown;
    Answer({IDOK});  // the Compare options
    ui.AnswerDialog([&](CDialog& dlg, CDialogDriver& d) {
        EXPECT_EQ(static_cast<CFindResultDlg&>(dlg).m_strMessage, "Values are different.");
        EXPECT_EQ(d.GetDlgItemText(1026), "Values are different.");
        shown.emplace_back(slaveCtrl.GetSelectedNode()->name, slaveValues.GetFirstSelectedRow());
        d.Click(IDOK);
    });
    ui.AnswerDialog([&](CDialog&, CDialogDriver& d) {
        shown.emplace_back(slaveCtrl.GetSelectedNode()->name, slaveValues.GetFirstSelectedRow());
        EXPECT_TRUE(slaveCtrl.expanded.count(slaveCtrl.GetSelectedNode()));
        d.Click(IDCANCEL);  // Stop
    });
    doc->OnCmdMsg(ID_COMPARE);
    // C has no values, so no row is selected there. A stopped walk says
    // nothing more (one that went to its end: the live sides' test).
    EXPECT_EQ(shown, (std::vector<std::pair<std::string, int>>{{"R", 1}, {"C", -1}}));
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(ui.waitDepth, 0);
    ui.ExpectAllAnswersUsed();
}

// Keys a live side never read are loaded as the walks reach them, on both
// sides: a difference or a match below what the trees showed is found.
TEST_F(WalkCommands, WalksLoadTheLiveKeysTheyReach) {
    Open(kSourceLocal, "", kSourceLocal, "");
    masterCtrl.Click(Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "M"}));
    KeyNode* s = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "S"});
    ASSERT_FALSE(At(s, {"Child"})->IsLoaded());
    Names stops;
    const auto record = [&](CDialog&, CDialogDriver& d) {
        stops.push_back(FullKeyName(slaveCtrl.GetSelectedNode()) + " " + d.GetDlgItemText(1026));
        d.Click(IDOK);
    };
    Answer({IDOK});  // the Compare options
    ui.AnswerDialog(record);
    ui.AnswerDialog(record);
    doc->OnCmdMsg(ID_COMPARE);
    EXPECT_EQ(stops, (Names{"HKEY_LOCAL_MACHINE\\Software\\S\\Child Values are different.",
                            "HKEY_LOCAL_MACHINE\\Software\\S\\Child\\Deeper Values are different."}));
    EXPECT_EQ(ui.Messages(), Names{"No more differences found."});
    EXPECT_TRUE(slaveCtrl.MirrorsTree());

    Open(kSourceLocal, "", kSourceLocal, "");
    slaveCtrl.Click(Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "S"}));
    stops.clear();
    ui.events.clear();
    ui.AnswerDialog([](CDialog& dlg, CDialogDriver& d) {
        EXPECT_EQ(d.IsDlgButtonChecked(1008), 1);  // Slave by default
        EXPECT_EQ(d.IsDlgButtonChecked(1024), 1);  // key names
        EXPECT_EQ(d.IsDlgButtonChecked(1025), 0);
        d.Type(1006, "Deeper");
        d.Click(IDOK);
        EXPECT_EQ(static_cast<CFindDlg&>(dlg).m_strText, "Deeper");
    });
    ui.AnswerDialog([&](CDialog&, CDialogDriver& d) { stops.push_back(slaveCtrl.GetSelectedNode()->name); d.Click(IDOK); });
    doc->OnCmdMsg(ID_FIND);
    EXPECT_EQ(stops, Names{"Deeper"});
    EXPECT_TRUE(ui.Messages().empty());  // no closing message
    EXPECT_EQ(ui.waitDepth, 0);
    ui.ExpectAllAnswersUsed();
}

TEST_F(WalkCommands, SyncFollowsBothWaysLoadsThePathAndIsLostWhereThePathsPart) {
    Open(kSourceLocal, "", kSourceLocal, "");
    KeyNode* mtop = doc->m_pMasterRoot.get();
    masterCtrl.Click(mtop);
    doc->OnCmdMsg(ID_SYNC);
    EXPECT_EQ(doc->m_bSync, 1);
    EXPECT_EQ(slaveCtrl.GetSelectedNode(), doc->m_pSlaveRoot.get());

    // Selecting deep in the Master loads the Slave's levels on the way ...
    Walk(masterCtrl, mtop, {"HKEY_LOCAL_MACHINE", "Software", "M", "Child"});
    KeyNode* followed = slaveCtrl.GetSelectedNode();
    ASSERT_NE(followed, nullptr);
    EXPECT_EQ(FilePathOf(followed), "\\HKEY_LOCAL_MACHINE\\Software\\M\\Child");
    EXPECT_TRUE(slaveCtrl.MirrorsTree());
    EXPECT_EQ(slaveList.rows.size(), 1u);
    // The follower's own selection is not echoed back: an empty key is read
    // once on each side, not again on the side that was clicked.
    counting->ResetCounts();
    masterCtrl.Click(At(mtop, {"HKEY_LOCAL_MACHINE", "Software", "M", "Empty"}));
    EXPECT_EQ(FilePathOf(slaveCtrl.GetSelectedNode()), "\\HKEY_LOCAL_MACHINE\\Software\\M\\Empty");
    EXPECT_EQ(counting->Calls(RegCall::OpenKey), 2u);
    // ... and back from the Slave.
    slaveCtrl.Click(At(doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "S"}));
    EXPECT_EQ(masterCtrl.GetSelectedNode(), At(mtop, {"HKEY_LOCAL_MACHINE", "Software", "S"}));
    EXPECT_TRUE(ui.Messages().empty());
    CCmdUI check(ID_SYNC);
    doc->OnUpdateCmdUI(check);
    EXPECT_EQ(check.m_nCheck, 1);

    // A new Open turns it off; it is lost once where the paths part.
    Open(kSourceFile, File("m.qvf", kMaster), kSourceLocal, "");
    EXPECT_EQ(doc->m_bSync, 0);
    doc->OnCmdMsg(ID_SYNC);  // no Master selection
    EXPECT_EQ(doc->m_bSync, 0);
    masterCtrl.Click(doc->m_pMasterRoot.get());
    doc->OnCmdMsg(ID_SYNC);
    EXPECT_EQ(doc->m_bSync, 1);
    masterCtrl.Click(At(doc->m_pMasterRoot.get(), {"R"}));  // no R in the store
    EXPECT_EQ(doc->m_bSync, 0);
    masterCtrl.Click(At(doc->m_pMasterRoot.get(), {"R", "A"}));
    EXPECT_EQ(ui.Messages(), (Names{"Synchronization has been lost.", "Synchronization has been lost."}));
    // The Sync command while on just turns it off.
    masterCtrl.Click(doc->m_pMasterRoot.get());
    doc->OnCmdMsg(ID_SYNC);
    doc->OnCmdMsg(ID_SYNC);
    EXPECT_EQ(doc->m_bSync, 0);
    EXPECT_EQ(ui.Messages().size(), 2u);
}

// Every key read is reported (so a progress window can repaint and offer
// Cancel at short intervals); a cancelled load changes nothing and ends the
// command that asked for it.
TEST_F(WalkCommands, LoadSubtreeReportsEveryKeyACancelChangesNothingAndTheRegistryIsShownAsItIsNow) {
    Open(kSourceLocal, "", kSourceLocal, "");
    KeyNode* m = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "M"});
    masterCtrl.Click(At(doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE"}));
    std::string error;
    ASSERT_EQ(BuildRegistry(*store, "[HKLM\\Software\\M\\New\\Deeper]\n", &error), 0) << error;
    const std::string before = Dump(m);
    const Names items = slaveCtrl.ChildTexts(m);

    ui.cancelAtStep = 2;
    Answer({1015});  // Slave subtree
    doc->OnCmdMsg(ID_READ_SUBTREE);
    EXPECT_EQ(ui.progressSteps, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(Dump(m), before);
    EXPECT_EQ(slaveCtrl.ChildTexts(m), items);
    EXPECT_TRUE(slaveCtrl.MirrorsTree());

    // Compare's loads first: the Master's is cancelled, and nothing is walked.
    ui.progressSteps.clear();
    ui.cancelAtStep = 1;
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Click(1009);
        d.Click(IDOK);
    });
    ui.AnswerQuestion(IDYES);  // the Master's key is right below its root
    masterCtrl.Click(At(doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software"}));
    doc->OnCmdMsg(ID_COMPARE);
    EXPECT_EQ(ui.progressSteps.size(), 1u);
    EXPECT_EQ(Dump(m), before);

    ui.progressSteps.clear();
    Answer({1015});
    doc->OnCmdMsg(ID_READ_SUBTREE);
    EXPECT_EQ(ui.progressSteps, (std::vector<std::size_t>{1, 2, 3, 4, 5}));  // Child, Deeper, Empty, New, Deeper
    EXPECT_EQ(slaveCtrl.ChildTexts(m), (Names{"Child", "Empty", "New"}));
    EXPECT_EQ(ui.Messages(), (Names{"Selected element is close to Root. Operation may take long time. Are You sure?"}));
    ui.events.clear();

    // What was read is shown as the registry is now.
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\M\\Child\\Deeper"), 0);
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\M\\Child"), 0);
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\M\\Empty"), 0);
    Answer({1015});  // Slave subtree
    doc->OnCmdMsg(ID_READ_SUBTREE);
    EXPECT_EQ(slaveCtrl.ChildTexts(m), Names{"New"});
    EXPECT_EQ(slaveCtrl.ChildTexts(At(m, {"New"})), Names{"Deeper"});
    EXPECT_TRUE(slaveCtrl.MirrorsTree());
    EXPECT_EQ(slaveCtrl.GetSelectedNode(), m);
    EXPECT_EQ(slaveList.rows.size(), 1u);

    // A key that no longer opens keeps what was read, and the user is told.
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\M\\New\\Deeper"), 0);
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\M\\New"), 0);
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\M"), 0);
    Answer({1015});
    doc->OnCmdMsg(ID_READ_SUBTREE);
    EXPECT_EQ(slaveCtrl.ChildTexts(m), Names{"New"});
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].rfind("Can't read the key \"HKEY_LOCAL_MACHINE\\Software\\M\": ", 0), 0u)
        << ui.Messages()[0];
    ui.events.clear();

    // Refused without a selection and on roots, asked right below a root.
    slaveCtrl.SelectItem(nullptr);
    slaveTree.ReadSubtree();
    slaveCtrl.Click(At(doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE"}));
    slaveTree.ReadSubtree();
    slaveCtrl.Click(At(doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software"}));
    ui.AnswerQuestion(IDNO);
    counting->ResetCounts();
    slaveTree.ReadSubtree();
    EXPECT_EQ(counting->Calls(RegCall::Any), 0u);
    EXPECT_EQ(ui.Messages(), (Names{"Select subtree to perform operation.", "Can't operate on roots.",
                                    "Selected element is close to Root. Operation may take long time. Are You sure?"}));
    ui.ExpectAllAnswersUsed();
}

}  // namespace
}  // namespace qv
