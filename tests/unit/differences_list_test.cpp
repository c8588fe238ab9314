// The differences list's run and the document's side of it: a tree file
// Master against this computer's store as the Slave (through the counting
// registry: no handle left open), rows revealed in both trees, the Slave
// brought into line from the rows, and a cancelled run.
#include "app/differences_run.h"
#include "tests/unit/pane_fixture.h"

namespace qv {
namespace {

class DifferencesList : public PaneFixture {
protected:
    std::string RegistryText() const override {
        return R"([HKLM\Software\Demo]
"Title"="old"
"OnlySlave"="x"
"Count"=dword:1
[HKLM\Software\Demo\Gone]
[HKLM\Software\Demo\Sub]
"v"="1"
)";
    }
    // The Master: a tree file holding HKLM\Software\Demo as it should be.
    void OpenSides() {
        const std::string master = File("m.qvf",
                                        "[\\HKEY_LOCAL_MACHINE]\r\n[\\HKEY_LOCAL_MACHINE\\Software]\r\n"
                                        "[\\HKEY_LOCAL_MACHINE\\Software\\Demo]\r\n\"Title\"=\"new\"\r\n"
                                        "\"Count\"=dword:00000001\r\n\"Added\"=\"a\"\r\n"
                                        "[\\HKEY_LOCAL_MACHINE\\Software\\Demo\\Sub]\r\n\"v\"=\"1\"\r\n"
                                        "[\\HKEY_LOCAL_MACHINE\\Software\\Demo\\New]\r\n\"n\"=dword:00000007\r\n");
        Open(kSourceFile, master, kSourceLocal, "");
        ASSERT_NE(Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"}), nullptr);
        ASSERT_NE(Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"}), nullptr);
    }
    // A finished run over the selected keys.
    std::unique_ptr<CDifferencesRun> Run() {
        auto run = std::make_unique<CDifferencesRun>();
        run->Start(*counting, {masterCtrl.GetSelectedNode(), false, ""},
                   {slaveCtrl.GetSelectedNode(), true, ""}, CIgnoreList());
        EXPECT_TRUE(run->Finish());
        return run;
    }
    static std::string Kinds(const CDifferencesRun& run) {
        std::string out;
        for (const DiffRow& r : run.Rows()) out += std::string(DiffKindName(r.kind)) + " " + r.path + " " + r.ValueName() + ";";
        return out;
    }
};

TEST_F(DifferencesList, FindsBothWaysRevealsRowsAndBringsTheSlaveIntoLine) {
    OpenSides();
    CDifferencesRun cancelled;
    cancelled.Cancel();  // before it starts: stops at the first key
    cancelled.Start(*counting, {masterCtrl.GetSelectedNode(), false, ""}, {slaveCtrl.GetSelectedNode(), true, ""},
                    CIgnoreList());
    EXPECT_FALSE(cancelled.Finish());
    EXPECT_TRUE(cancelled.Rows().empty());

    auto run = Run();
    EXPECT_EQ(std::to_string(run->KeysCompared()) + " of " + std::to_string(run->KeysToCompare()), "3 of 3")
        << "every key of the Master passed, a key only it has with all below it";
    EXPECT_EQ(Kinds(*run), "data differs  Title;value only in Master  Added;value only in Slave  OnlySlave;"
                           "key only in Master New ;key only in Slave Gone ;");
    EXPECT_EQ(run->Filter(1u << static_cast<unsigned>(DiffKind::kKeyOnlyInSlave), "").size(), 1u);
    EXPECT_EQ(run->Filter((1u << kDiffKinds) - 1, "ONLY").size(), 1u) << "value name, case ignored";
    EXPECT_EQ(run->Filter((1u << kDiffKinds) - 1, "new").size(), 2u) << "the data \"new\" and the key New";

    // A row shows its key on both sides, the value selected.
    doc->RevealDifference(run->Rows()[0], run->MasterName(), run->SlaveName());
    EXPECT_EQ(slaveCtrl.GetSelectedNode()->name, "Demo");
    EXPECT_TRUE(slaveList.IsRowSelected(0));
    doc->RevealDifference(run->Rows()[3], run->MasterName(), run->SlaveName());
    EXPECT_EQ(masterCtrl.GetSelectedNode()->name, "New");
    EXPECT_EQ(slaveCtrl.GetSelectedNode()->name, "Demo") << "the key it would be in";

    // Deleting only touches what the Slave has; copying makes every row agree.
    std::vector<const DiffRow*> all;
    for (const DiffRow& r : run->Rows()) all.push_back(&r);
    EXPECT_EQ(doc->ActOnDifferences({all[3]}, false, run->MasterName(), run->SlaveName()).size(), 0u);
    EXPECT_EQ(ui.Messages().back(), "Nothing in the Slave changes for the selected entry.\n");
    ui.AnswerQuestion(IDYES);
    EXPECT_EQ(doc->ActOnDifferences(all, true, run->MasterName(), run->SlaveName()).size(), all.size())
        << ::testing::PrintToString(ui.Messages());
    ASSERT_NE(Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"}), nullptr);
    EXPECT_TRUE(Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"}) != nullptr);
    EXPECT_EQ(Run()->Rows().size(), 0u) << Kinds(*Run());
    ui.ExpectAllAnswersUsed();
}

// The pair a run compares stays what the user chose: revealing rows does not
// change it, keys whose names differ are compared only after a question
// naming both, and the question before acting says what will go. Names
// spelled in another case are one row of their own, with what lies below
// compared as usual and left alone by Copy.
TEST_F(DifferencesList, ThePairStaysAsChosenTheQuestionSaysWhatGoesAndCaseIsOneName) {
    const std::string master = File("m.qvf",
                                    "[\\HKEY_LOCAL_MACHINE]\r\n[\\HKEY_LOCAL_MACHINE\\Software]\r\n"
                                    "[\\HKEY_LOCAL_MACHINE\\Software\\Demo]\r\n\"TITLE\"=\"old\"\r\n"
                                    "[\\HKEY_LOCAL_MACHINE\\Software\\Demo\\SUB]\r\n\"v\"=\"2\"\r\n"
                                    "[\\HKEY_LOCAL_MACHINE\\Software\\Demo\\SUB\\Print]\r\n");
    Open(kSourceFile, master, kSourceLocal, "");
    const std::string demo = "HKEY_LOCAL_MACHINE\\Software\\Demo";
    Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"});
    Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo"});
    std::string m, sl;
    ASSERT_TRUE(doc->ChooseDifferencesPair(m, sl));
    auto run = std::make_unique<CDifferencesRun>();
    run->Start(*counting, {doc->FindSideKey(0, m), false, ""}, {doc->FindSideKey(1, sl), true, ""}, CIgnoreList());
    ASSERT_TRUE(run->Finish());
    EXPECT_EQ(Kinds(*run), "name differs in case  TITLE;value only in Slave  OnlySlave;value only in Slave  Count;"
                           "name differs in case SUB ;data differs SUB v;key only in Master SUB\\Print ;"
                           "key only in Slave Gone ;");

    // Revealing a row moves the selections apart, but the next run pairs the same keys.
    doc->RevealDifference(run->Rows()[5], run->MasterName(), run->SlaveName());
    EXPECT_EQ(KeyPathOf(masterCtrl.GetSelectedNode()), demo + "\\SUB\\Print");
    EXPECT_EQ(KeyPathOf(slaveCtrl.GetSelectedNode()), demo + "\\Sub") << "the Slave's spelling";
    ASSERT_TRUE(doc->ChooseDifferencesPair(m, sl));
    EXPECT_EQ(m + "|" + sl, demo + "|" + demo);
    // A pair the user selects, whose names differ, is asked about first.
    Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "Demo", "SUB", "Print"});
    ui.AnswerQuestion(IDNO);
    EXPECT_FALSE(doc->ChooseDifferencesPair(m, sl));
    EXPECT_EQ(ui.Messages().back(), "The Master key " + demo + "\\SUB\\Print and the Slave key " + demo +
                                        "\\Sub have different names.\n\nList the differences between these two keys "
                                        "all the same?");

    // Copy says what it deletes and makes; the case rows stay as they are.
    std::vector<const DiffRow*> all;
    for (const DiffRow& r : run->Rows()) all.push_back(&r);
    ui.AnswerQuestion(IDYES);
    EXPECT_EQ(doc->ActOnDifferences(all, true, run->MasterName(), run->SlaveName()).size(), all.size() - 2);
    EXPECT_EQ(ui.Messages().back(),
              "Make the Slave's 7 selected entries equal the Master's?\n\nIt deletes 1 key, makes 1 key, sets 1 value "
              "and deletes 2 values:\n    delete value OnlySlave in " + demo + "\n    delete value Count in " + demo +
                  "\n    delete key " + demo + "\\Gone\n    set value v in " + demo + "\\Sub\n    make key " + demo +
                  "\\Sub\\Print\n\n2 names differ only in case and stay as the Slave spells them: the registry "
                  "keeps one name whatever its case.\n");
    auto again = std::make_unique<CDifferencesRun>();
    again->Start(*counting, {doc->FindSideKey(0, m), false, ""}, {doc->FindSideKey(1, sl), true, ""}, CIgnoreList());
    ASSERT_TRUE(again->Finish());
    EXPECT_EQ(Kinds(*again), "name differs in case  TITLE;name differs in case SUB ;");

    // In files, names in every script match whatever their case; the store folds ASCII only.
    KeyNode a("a"), b("b");
    a.AppendSubkey(std::make_unique<KeyNode>("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87"));  // Ключ
    b.AppendSubkey(std::make_unique<KeyNode>("\xD0\x9A\xD0\x9B\xD0\xAE\xD0\xA7"));  // КЛЮЧ
    for (const NameMatch names : {NameMatch::kAnyScript, NameMatch::kAscii}) {
        std::string kinds;
        DiffOptions options;
        options.names = names;
        DiffTrees(a, b, options, [&](const Difference& d) { return kinds += DiffKindName(d.kind) + std::string(";"), true; });
        EXPECT_EQ(kinds, names == NameMatch::kAscii ? "key only in Master;key only in Slave;" : "name differs in case;");
    }
    ui.ExpectAllAnswersUsed();
}

}  // namespace
}  // namespace qv
