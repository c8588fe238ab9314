// Undo (every command, then Undo, is the randomized round-trip test's): a
// change that failed half way is undone too; Undo refuses when the Slave
// changed since; a change a crash cut off is put back on the next start,
// after saying what that does, and a damaged entry is never used; the
// journal is the user's alone, whatever the umask.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "compare/differences.h"
#include "dialogs/edit_dialogs.h"
#include "dialogs/walk_dialogs.h"
#include "edit/undo_journal.h"
#include "model/loader.h"
#include "tests/support/umask_scope.h"
#include "tests/unit/pane_fixture.h"

namespace qv {
namespace {

class Undo : public PaneFixture {
protected:
    void SetUp() override {
        PaneFixture::SetUp();
        std::string error;
        ASSERT_TRUE(journal.Open((dir / "journal").string(), error)) << error;
        doc->m_pJournal = &journal;
        const std::string master = File("m.qvf",
                                        "[\\HKEY_LOCAL_MACHINE]\r\n[\\HKEY_LOCAL_MACHINE\\Software]\r\n"
                                        "[\\HKEY_LOCAL_MACHINE\\Software\\Demo]\r\n\"Title\"=\"master\"\r\n"
                                        "[\\HKEY_LOCAL_MACHINE\\Software\\Demo\\Fresh]\r\n\"f\"=dword:00000003\r\n");
        Open(kSourceFile, master, kSourceLocal, "");
    }
    // HKLM\Software as the store holds it now.
    std::unique_ptr<KeyNode> Read() {
        auto tree = std::make_unique<KeyNode>("Software");
        EXPECT_EQ(ReloadSubtree(tree.get(), *store, "", HKEY_LOCAL_MACHINE, "Software"), 0);
        return tree;
    }
    static std::size_t Differences(const KeyNode& a, const KeyNode& b) {
        std::size_t n = 0;
        DiffTrees(a, b, {}, [&n](const Difference&) { return ++n, true; });
        return n;
    }
    KeyNode* SelectSlave(std::initializer_list<const char*> below) {
        KeyNode* n = Walk(slaveCtrl, doc->m_pSlaveRoot.get(), {"HKEY_LOCAL_MACHINE", "Software"});
        for (const char* name : below) n = Walk(slaveCtrl, n, {name});
        return n;
    }
    void UndoLast() {
        ui.AnswerQuestion(IDYES);
        doc->OnCmdMsg(ID_EDIT_UNDO);
    }
    CUndoJournal journal;
};

TEST_F(Undo, AChangeThatFailedHalfWayIsUndoneAndOneOverwrittenSinceIsNot) {
    ASSERT_EQ(BuildRegistry(*store, "[HKLM\\Software\\Demo\\Sub\\A\\B]\n[HKLM\\Software\\Demo\\Sub\\C]\n\"c\"=\"1\"\n"), 0);
    const auto before = Read();
    counting->FailCall(RegCall::DeleteKey, 3, ERROR_ACCESS_DENIED);
    SelectSlave({"Demo", "Sub"});
    ui.AnswerQuestion(IDYES);
    doc->OnCmdMsg(ID_DELETE_KEY);
    ASSERT_EQ(counting->InjectedFailures(), 1u);
    ASSERT_GT(Differences(*before, *Read()), 0u) << "part of the subtree is gone";
    UndoLast();
    EXPECT_EQ(Differences(*before, *Read()), 0u);

    // Deleted, then made again by someone else with other content: Undo
    // would throw that away, so it refuses and changes nothing.
    SelectSlave({"Demo", "Sub"});
    ui.AnswerQuestion(IDYES);
    doc->OnCmdMsg(ID_DELETE_KEY);
    ASSERT_EQ(BuildRegistry(*store, "[HKLM\\Software\\Demo\\Sub]\n\"someone\"=\"else\"\n"), 0);
    const auto remade = Read();
    UndoLast();
    ASSERT_FALSE(ui.Messages().empty());
    EXPECT_NE(ui.Messages().back().find("Nothing was undone: HKEY_LOCAL_MACHINE\\Software\\Demo\\Sub changed since"),
              std::string::npos)
        << ui.Messages().back();
    EXPECT_EQ(Differences(*remade, *Read()), 0u);
}

TEST_F(Undo, AChangeACrashCutOffIsPutBackOnTheNextStart) {
    const auto before = Read();
    const std::string folder = (dir / "journal").string();
    const pid_t child = fork();
    if (child == 0) {
        // The program: the change recorded and flushed, half done, then gone.
        std::string error;
        auto own = CStoreRegistry::Open((dir / "registry.db").string(), &error);
        CUndoJournal crashing;
        if (!own || !crashing.Open(folder, error) ||
            !crashing.Begin(*own, "", "Delete Key HKEY_LOCAL_MACHINE\\Software\\Demo",
                            {{"HKEY_LOCAL_MACHINE\\Software\\Demo", true}}, error))
            _exit(2);
        HKEY demo = nullptr;
        own->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Demo", 0, KEY_ALL_ACCESS, &demo);
        own->RegDeleteKeyA(demo, "Sub");
        own->RegDeleteValueA(demo, "Title");
        _exit(9);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << status;
    ASSERT_GT(Differences(*before, *Read()), 0u);

    // The next start offers it, saying what putting it back changes; Yes
    // puts the keys back, as a change Undo can take back.
    CUndoJournal next;
    std::string error;
    ASSERT_TRUE(next.Open(folder, error)) << error;
    ASSERT_EQ(next.Unfinished().size(), 1u);
    doc->m_pJournal = &next;
    const auto crashed = Read();
    ui.AnswerQuestion(IDYES);
    doc->OfferRecovery();
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].find("- make 1 key: HKEY_LOCAL_MACHINE\\Software\\Demo\\Sub\n"), std::string::npos)
        << Dump(crashed.get()) << ui.Messages()[0];
    EXPECT_NE(ui.Messages()[0].find(" values in 2 keys: HKEY_LOCAL_MACHINE\\Software\\Demo, HKEY_LOCAL_MACHINE\\Software\\Demo\\Sub\n"),
              std::string::npos) << ui.Messages()[0];
    EXPECT_EQ(Differences(*before, *Read()), 0u);
    EXPECT_TRUE(next.Unfinished().empty());
    ASSERT_EQ(next.Undoable().size(), 1u);
    UndoLast();
    EXPECT_EQ(Dump(Read().get()), Dump(crashed.get()));
}

TEST_F(Undo, AnEntryWhoseRecordCannotBeTrustedIsNeverUsedAndCanBeLetGo) {
    const std::string folder = (dir / "journal").string();
    const auto before = Read();
    // Damaged records, a record from before checksums, a record gone.
    const std::vector<std::function<void(const std::string& entry, const std::string& record)>> damage = {
        [](const std::string&, const std::string& record) { std::ofstream(record, std::ios::binary) << "REGEDIT4\r\n\r\n"; },
        [](const std::string&, const std::string& record) { std::ofstream(record, std::ios::app) << "\r\n"; },
        [](const std::string& entry, const std::string&) {
            std::ifstream in(entry);
            std::string text, line;
            while (std::getline(in, line))
                if (line.rfind("before: ", 0) != 0) text += line + "\n";
            std::ofstream(entry, std::ios::binary) << text;
        },
        [](const std::string&, const std::string& record) { fs::remove(record); },
    };
    for (std::size_t i = 0; i < damage.size(); ++i) {
        SCOPED_TRACE(i);
        CUndoJournal crashed;
        std::string error;
        ASSERT_TRUE(crashed.Open(folder, error)) << error;
        ASSERT_TRUE(crashed.Begin(*store, "", "Delete Key HKEY_LOCAL_MACHINE\\Software\\Demo",
                                  {{"HKEY_LOCAL_MACHINE\\Software\\Demo", true}}, error)) << error;
        ASSERT_EQ(DeleteRegistryTree(*store, HKEY_LOCAL_MACHINE, "Software\\Demo"), 0);
        ASSERT_EQ(BuildRegistry(*store, "[HKLM\\Software\\Demo]\n\"after\"=\"crash\"\n"), 0);
        const auto left = Read();
        const std::int64_t number = static_cast<std::int64_t>(i) + 1;
        char name[32];
        std::snprintf(name, sizeof name, "%06lld", static_cast<long long>(number));
        damage[i](folder + "/" + name + ".entry", folder + "/" + name + ".before.reg");

        CUndoJournal next;
        ASSERT_TRUE(next.Open(folder, error)) << error;
        doc->m_pJournal = &next;
        ui.events.clear();
        ui.AnswerQuestion(IDNO);  // asked again at the next start
        doc->OfferRecovery();
        ui.AnswerQuestion(IDYES);  // let go
        doc->OfferRecovery();
        ASSERT_EQ(ui.Messages().size(), 2u);
        EXPECT_NE(ui.Messages()[1].find("It cannot be put back: "), std::string::npos) << ui.Messages()[1];
        EXPECT_NE(ui.Messages()[1].find(std::string(name) + ".entry"), std::string::npos) << ui.Messages()[1];
        EXPECT_TRUE(next.Unfinished().empty());
        EXPECT_TRUE(fs::exists(folder + "/" + name + ".entry"));
        EXPECT_EQ(Dump(Read().get()), Dump(left.get())) << "nothing was put back";
        std::string bytes;
        EXPECT_FALSE(next.ExportRestore(number, bytes, error));
    }
    ui.ExpectAllAnswersUsed();
}

TEST_F(Undo, EntriesAreNumberedPastTheLargest32BitNumber) {
    const fs::path folder = dir / "journal";
    std::ofstream(folder / "2147483647.entry") << "Quorvane undo journal entry\nstate: done\nscope: values HKEY_LOCAL_MACHINE\n";
    std::ofstream(folder / "9999999999999999999999.entry") << "not ours";
    std::ofstream(folder / "notes.entry") << "not ours";
    CUndoJournal next;
    std::string error;
    ASSERT_TRUE(next.Open(folder.string(), error)) << error;
    ASSERT_TRUE(next.Begin(*store, "", "Add Key X", {{"HKEY_LOCAL_MACHINE\\Software\\X", true}}, error)) << error;
    next.End(*store);
    ASSERT_EQ(next.Undoable().size(), 1u);
    EXPECT_EQ(next.Undoable()[0].number, 2147483648);
    EXPECT_TRUE(fs::exists(folder / "2147483648.after.reg"));
}

// A record copies keys whatever their hive keeps from others: under umask
// 022 every folder the journal makes is 0700 and every file 0600, also one a
// leftover 0644 file stood at; a journal folder others may open is narrowed,
// and one that cannot be narrowed is refused with the reason.
TEST_F(Undo, TheJournalIsTheUsersAloneWhateverTheUmask) {
    testing::CUmaskScope umask;
    struct Case {
        fs::path folder;
        unsigned existing;  // the journal folder's mode before, 0: not there
    };
    const Case cases[] = {{dir / "state" / "quorvane" / "journal", 0}, {dir / "open", 0755}, {dir / "group", 0750}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.string());
        if (c.existing != 0) {
            fs::create_directories(c.folder);
            ::chmod(c.folder.c_str(), c.existing);
            std::ofstream(c.folder / "000001.entry") << "Quorvane undo journal entry\nstate: done\nscope: values HKEY_LOCAL_MACHINE\n";
            std::ofstream(c.folder / "000002.before.reg") << "left by a crash";  // 0644
        }
        CUndoJournal next;
        std::string error;
        ASSERT_TRUE(next.Open(c.folder.string(), error)) << error;
        ASSERT_TRUE(next.Begin(*store, "", "Add Key X", {{"HKEY_LOCAL_MACHINE\\Software\\X", true}}, error)) << error;
        next.End(*store);
        ASSERT_EQ(next.Undoable().size(), 1u);
        std::string message;
        EXPECT_TRUE(next.Undo(*store, message)) << message;  // the entry is written a third time

        EXPECT_EQ(testing::ModeOf(c.folder.c_str()), 0700u);
        if (c.existing == 0) {
            EXPECT_EQ(testing::ModeOf((dir / "state").c_str()), 0700u);
            EXPECT_EQ(testing::ModeOf((dir / "state" / "quorvane").c_str()), 0700u);
        }
        const std::string number = c.existing != 0 ? "000002" : "000001";
        for (const char* suffix : {".entry", ".before.reg", ".after.reg"})
            EXPECT_EQ(testing::ModeOf((c.folder / (number + suffix)).c_str()), 0600u) << suffix;
    }

    // A folder this user may not narrow (procfs refuses every chmod, to root too).
    CUndoJournal refused;
    std::string error;
    EXPECT_FALSE(refused.Open("/proc/self", error));
    EXPECT_NE(error.find("Cannot keep the undo journal in /proc/self: other users may open /proc/self (its mode is "
                         "0555) and it cannot be narrowed to 0700"),
              std::string::npos)
        << error;
}

}  // namespace
}  // namespace qv
