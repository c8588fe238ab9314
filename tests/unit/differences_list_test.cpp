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

}  // namespace
}  // namespace qv
