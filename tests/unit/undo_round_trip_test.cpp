// Undo after any change, at random: seeded Master and Slave trees (every
// value type, names differing only in case, a deep chain, now and then a
// value over a megabyte), one change made the way a user makes it (rows of
// the differences list acted on, or a command of the document), then Undo.
// The Slave, read back from the registry, must be as it was: by the program's
// own compare, and with each key's values in their order. On this computer's
// store and on a hive file as the Slave. QV_UNDO_SEEDS=N runs N seeds.
#include <cstdlib>
#include <random>

#include "app/differences_run.h"
#include "compare/differences.h"
#include "dialogs/edit_dialogs.h"
#include "edit/undo_journal.h"
#include "files/reg_file.h"
#include "registry/file_registry.h"
#include "registry/registry_router.h"
#include "tests/support/empty_hive.h"
#include "tests/unit/pane_fixture.h"

namespace qv {
namespace {

class UndoRoundTrip : public PaneFixture {
protected:
    std::string RegistryText() const override { return "[HKLM\\Software\\M]\n"; }
    void SetUp() override {
        PaneFixture::SetUp();
        router = std::make_unique<CRegistryRouter>(*counting);
        Attach(*router);
        doc->m_openRegistryFile = [](const std::string& path, std::unique_ptr<IRegistry>& registry, std::string&,
                                     std::string& error) {
            auto hive = std::make_unique<CFileRegistry>();
            if (hive->MountHive(HKEY_LOCAL_MACHINE, "Software", path, true, error)) registry = std::move(hive);
            return true;
        };
        // Every question is answered Yes, whatever it asks.
        ui.whileMessageShown = [this] {
            if ((ui.events.back().type & MB_TYPEMASK) == MB_YESNO) ui.AnswerQuestion(IDYES);
        };
    }
    void TearDown() override {
        doc.reset();
        router.reset();
        PaneFixture::TearDown();
    }

    std::string Pick(std::initializer_list<const char*> names) {
        std::string name = names.begin()[rng() % names.size()];
        for (char& c : name)  // now and then another case: one name to the registry
            if (rng() % 6 == 0 && std::isalpha(static_cast<unsigned char>(c))) c = static_cast<char>(c ^ 0x20);
        return name;
    }
    RegValue Value() {
        static const DWORD types[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                                      REG_DWORD_BIG_ENDIAN, REG_MULTI_SZ, REG_QWORD, 0x4242};
        RegValue v{Pick({"", "v", "Name", "data", "q\"uote", "back\\slash", "Gr\xC3\xB6\xC3\x9F" "e"}),
                   types[rng() % std::size(types)], {}};
        const std::size_t size = v.type == REG_DWORD || v.type == REG_DWORD_BIG_ENDIAN ? 4 : v.type == REG_QWORD ? 8 : rng() % 12;
        for (std::size_t i = 0; i < size; ++i) v.data += static_cast<char>(rng() % 4 == 0 ? rng() % 256 : 'a' + rng() % 26);
        if ((v.type == REG_SZ || v.type == REG_MULTI_SZ) && rng() % 4 != 0) v.data += std::string("\0\0", v.type == REG_SZ ? 1 : 2);
        return v;
    }
    // A random tree below `key` as patch sections.
    void Tree(const std::string& key, int depth, std::vector<RegPatchSection>& out) {
        RegPatchSection& s = out.emplace_back();
        s.key = key;
        for (std::size_t n = rng() % 5; n > 0; --n) s.setValues.push_back(Value());
        if (depth < 4)
            for (std::size_t n = rng() % 5; n > 0; --n)
                Tree(key + '\\' + Pick({"Alpha", "beta", "Gamma", "x y", "K1", "\xD0\x9A\xD0\xBB"}), depth + 1, out);
    }
    void Fill(IRegistry& registry, const std::string& key) {
        std::vector<RegPatchSection> sections;
        while (sections.size() < 150) Tree(key, 0, sections);
        std::string chain = key;
        for (int i = 0; i < 100; ++i) sections.push_back({chain += "\\Deep", false, {}, {Value()}});
        // Over a megabyte where the Slave can hold it (a hive value cannot).
        if (rng() % 8 == 0) sections.back().setValues.push_back({"big", REG_BINARY, std::string(slave.empty() ? 1100000 : 999000, 'b')});
        std::string text, error;
        ASSERT_TRUE(WriteRegPatch(sections, text, error, RegFileFormat::kRegedit4)) << error;
        auto* batch = dynamic_cast<IRegistryBatch*>(&registry);
        if (batch != nullptr) batch->BeginBatch();
        ASSERT_EQ(BuildRegistry(registry, text.substr(text.find('\n') + 1), &error), 0) << error;
        EXPECT_EQ(batch != nullptr ? batch->CommitBatch() : 0, 0);
    }
    // A random key below `top` in a tree pane, clicked.
    KeyNode* Choose(test::CFakeTreeCtrl& ctrl, KeyNode* top) {
        KeyNode* n = top;
        ctrl.Click(n);
        while (!n->subkeys.empty() && rng() % 3 != 0) ctrl.Click(n = n->subkeys[rng() % n->subkeys.size()].get());
        return n;
    }
    std::unique_ptr<KeyNode> ReadSlave() {
        auto tree = std::make_unique<KeyNode>("S");
        EXPECT_EQ(ReloadSubtree(tree.get(), *router, slave, HKEY_LOCAL_MACHINE, "Software\\S"), 0);
        return tree;
    }
    // What differs, by the program's compare and in the order of values; empty when nothing.
    static std::string Differences(const KeyNode& a, const KeyNode& b) {
        std::string out;
        DiffTrees(a, b, {}, [&out](const Difference& d) {
            out += std::string(DiffKindName(d.kind)) + " " + std::string(d.path) + " " +
                   std::string(d.master != nullptr ? d.master->Name() : d.slave != nullptr ? d.slave->Name() : "") + "; ";
            return true;
        });
        std::vector<std::pair<const KeyNode*, const KeyNode*>> pending{{&a, &b}};
        while (out.empty() && !pending.empty()) {
            auto [x, y] = pending.back();
            pending.pop_back();
            for (std::size_t i = 0; i < x->values.size(); ++i)
                if (x->values[i]->name != y->values[i]->name) out += "values of " + x->name + " in another order; ";
            for (std::size_t i = 0; i < x->subkeys.size(); ++i) pending.push_back({x->subkeys[i].get(), y->subkeys[i].get()});
        }
        return out;
    }

    void Change() {
        KeyNode* masterTop = Walk(masterCtrl, doc->m_pMasterRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "M"});
        KeyNode* slaveTop = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software", "S"});
        ASSERT_TRUE(masterTop != nullptr && slaveTop != nullptr);
        switch (const unsigned what = rng() % 8) {
        case 0: {  // rows of the differences list, copied or deleted
            CDifferencesRun run;
            run.Start(*router, {masterTop, true, ""}, {slaveTop, true, slave}, CIgnoreList());
            ASSERT_TRUE(run.Finish());
            std::vector<const DiffRow*> rows;
            for (const DiffRow& r : run.Rows())
                if (rng() % 3 == 0) rows.push_back(&r);
            doc->ActOnDifferences(rows, rng() % 4 != 0, run.MasterName(), run.SlaveName());
            break;
        }
        case 1: {  // Copy in one of its four modes
            Choose(masterCtrl, masterTop);
            Choose(slaveCtrl, slaveTop);
            const int mode = static_cast<int>(rng() % 4);
            ui.AnswerDialog([mode](CDialog& d, CDialogDriver&) {
                static_cast<CCopyDlg&>(d).m_bOverwrite = mode & 1, static_cast<CCopyDlg&>(d).m_bRecursive = mode >> 1;
                d.EndDialog(IDOK);
            });
            doc->OnCmdMsg(ID_COPY);
            break;
        }
        case 2:
        case 3: {  // Add Key, Add Value
            Choose(slaveCtrl, slaveTop);
            const std::string name = Pick({"Alpha", "beta", "New", "v", "Name"});
            ui.AnswerDialog([name, what](CDialog& d, CDialogDriver& drv) {
                drv.Type(1019, name);
                if (what == 3) drv.Type(1020, "added");
                d.OnCommand(IDOK);
            });
            doc->OnCmdMsg(what == 2 ? ID_ADD_KEY : ID_ADD_VALUE);
            break;
        }
        case 4:  // Delete Key (not the compared key itself)
            if (KeyNode* key = Choose(slaveCtrl, slaveTop); key != slaveTop) doc->OnCmdMsg(ID_DELETE_KEY);
            break;
        default: {  // Delete Value, Edit Value
            KeyNode* key = Choose(slaveCtrl, slaveTop);
            if (key->values.empty()) break;
            const std::size_t row = rng() % key->values.size();
            for (auto& r : slaveList.rows) r.selected = false;
            slaveList.rows.at(row).selected = true;
            if (what == 5) {
                doc->OnCmdMsg(ID_DELETE_VALUE);
                break;
            }
            if (key->values[row]->type != REG_SZ && key->values[row]->type != REG_DWORD) break;
            ui.AnswerDialog([](CDialog& d, CDialogDriver&) {
                if (auto* text = dynamic_cast<CModifyStringDlg*>(&d)) text->m_strValue = "edited";
                if (auto* number = dynamic_cast<CModifyNumberDlg*>(&d)) number->m_dwValue = 7;
                d.EndDialog(IDOK);
            });
            slaveValues.OnDblClick();
        }
        }
    }

    // The Slave key the pane shows after Undo: its values and subkeys as the registry has them.
    void ExpectShownAsInTheRegistry() {
        const KeyNode* shown = slaveCtrl.GetSelectedNode();
        const std::string top = "HKEY_LOCAL_MACHINE\\Software\\S", path = KeyPathOf(shown);
        if (path.rfind(top, 0) != 0) return;
        const auto now = ReadSlave();
        const KeyNode* key = now.get();
        for (std::size_t at = top.size() + 1; key != nullptr && at < path.size() + 1;) {
            const std::size_t end = std::min(path.find('\\', at), path.size());
            key = At(const_cast<KeyNode*>(key), {path.substr(at, end - at).c_str()});
            at = end + 1;
        }
        ASSERT_NE(key, nullptr) << path << " is shown but gone";
        KeyNode a(key->name), b(key->name);
        for (const auto& v : key->values) a.AppendValue(std::make_unique<ValueEntry>(*v));
        for (const auto& v : shown->values) b.AppendValue(std::make_unique<ValueEntry>(*v));
        for (const auto& k : key->subkeys) a.AppendSubkey(std::make_unique<KeyNode>(k->name));
        for (const auto& k : shown->subkeys) b.AppendSubkey(std::make_unique<KeyNode>(k->name));
        EXPECT_EQ(Differences(a, b), "") << path << " is shown as it was before Undo";
    }

    void RoundTrips(unsigned seeds, bool hive) {
        if (const char* more = std::getenv("QV_UNDO_SEEDS")) seeds = static_cast<unsigned>(std::atoi(more));
        for (unsigned seed = 1; seed <= seeds && !HasFailure(); ++seed) {
            SCOPED_TRACE("seed " + std::to_string(seed) + (hive ? " (hive)" : " (store)"));
            rng.seed(seed);
            journal = std::make_unique<CUndoJournal>();  // a failed Undo of the last seed stays behind there
            std::string error;
            ASSERT_TRUE(journal->Open((dir / "journal").string(), error)) << error;
            doc->m_pJournal = journal.get();
            slave = hive ? (dir / "SOFTWARE").string() : "";
            ASSERT_EQ(DeleteRegistryTree(*store, HKEY_LOCAL_MACHINE, "Software\\M"), 0);
            Fill(*store, "HKEY_LOCAL_MACHINE\\Software\\M");
            if (hive) {
                ASSERT_TRUE(testing::WriteEmptyHive(slave));
                CFileRegistry file;
                ASSERT_TRUE(file.MountHive(HKEY_LOCAL_MACHINE, "Software", slave, true, error)) << error;
                Fill(file, "HKEY_LOCAL_MACHINE\\Software\\S");
            } else {
                DeleteRegistryTree(*store, HKEY_LOCAL_MACHINE, "Software\\S");
                Fill(*store, "HKEY_LOCAL_MACHINE\\Software\\S");
            }
            Open(kSourceLocal, "", hive ? kSourceFile : kSourceLocal, slave);
            const auto before = ReadSlave();
            ui.events.clear();
            Change();
            const bool changed = !Differences(*before, *ReadSlave()).empty();
            doc->OnCmdMsg(ID_EDIT_UNDO);
            EXPECT_EQ(Differences(*before, *ReadSlave()), "") << ::testing::PrintToString(ui.Messages());
            EXPECT_TRUE(slaveCtrl.MirrorsTree());
            ExpectShownAsInTheRegistry();
            EXPECT_TRUE(journal->Undoable().empty() || !changed) << ::testing::PrintToString(ui.Messages());
        }
    }

    std::unique_ptr<CRegistryRouter> router;
    std::unique_ptr<CUndoJournal> journal;
    std::mt19937 rng;
    std::string slave;  // the Slave as its tree reaches it: "" for this computer, else the hive's path
};

#ifdef __SANITIZE_ADDRESS__
constexpr unsigned kScale = 10;  // fewer seeds where every call is checked, within the test's time limit
#else
constexpr unsigned kScale = 1;
#endif
TEST_F(UndoRoundTrip, OnTheStore) { RoundTrips(200 / kScale, false); }
TEST_F(UndoRoundTrip, OnAHive) { RoundTrips(30 / kScale, true); }

}  // namespace
}  // namespace qv
