// Printing's line layout and page breaks, the print choice, Save, and the
// commands' enable rules.
#include <gtest/gtest.h>

#include "dialogs/tree_choice_dlg.h"
#include "files/tree_file.h"
#include "files/tree_printer.h"
#include "tests/unit/pane_fixture.h"

namespace qv {
namespace {

// Records what printing draws: (page, y, text), pages counted from 1.
class RecordingDC : public CDC {
public:
    struct Line {
        int page;
        int y;
        std::string text;
        bool operator==(const Line&) const = default;
    };
    std::vector<Line> lines;
    int page = 1;
    int ended = 0;
    void TextOut(int x, int y, const std::string& text) override {
        EXPECT_EQ(x, 50);
        lines.push_back({page, y, text});
    }
    void StartPage() override { ++page; }
    void EndPage() override { ++ended; }
};

std::ostream& operator<<(std::ostream& os, const RecordingDC::Line& l) {
    return os << "{" << l.page << ", " << l.y << ", " << l.text << "}";
}

TEST(PrintLayout, LinesStepByHundredFromOneHundredFifty) {
    KeyNode top("t");
    top.AppendSubkey(std::make_unique<KeyNode>("HKEY_USERS"));
    RecordingDC dc;
    printY = 12345;  // left over from an earlier job
    PrintTree(&top, dc);
    EXPECT_EQ(dc.lines, (std::vector<RecordingDC::Line>{{1, 150, "[\\HKEY_USERS]"}}));
    EXPECT_EQ(printY, 250);  // the blank line took a step and drew nothing
    EXPECT_EQ(dc.ended, 0);
}

TEST(PrintLayout, PagesBreakAfterTheLinePastSixThousand) {
    KeyNode top("t");
    KeyNode* k = top.AppendSubkey(std::make_unique<KeyNode>("K"));
    for (int i = 0; i < 70; ++i) {
        const DWORD n = static_cast<DWORD>(i);
        k->AppendValue(std::make_unique<ValueEntry>(("v" + std::to_string(i)).c_str(), REG_DWORD, &n));
    }
    k->AppendValue(std::make_unique<ValueEntry>("bin", REG_BINARY, "x"));
    RecordingDC dc;
    PrintTree(&top, dc);
    // Line 1 is the key at 150; value i is line i + 2.
    ASSERT_EQ(dc.lines.size(), 72u);
    EXPECT_EQ(dc.lines[58], (RecordingDC::Line{1, 5950, "\"v57\"=dword:00000039"}));  // 59th line
    EXPECT_EQ(dc.lines[59], (RecordingDC::Line{1, 6050, "\"v58\"=dword:0000003a"}));  // 60th, ends the page
    EXPECT_EQ(dc.lines[60], (RecordingDC::Line{2, 150, "\"v59\"=dword:0000003b"}));  // no repeated key line
    EXPECT_EQ(dc.lines.back(), (RecordingDC::Line{2, 1250, "\"bin\"="}));
    EXPECT_EQ(dc.ended, 1);
}

TEST(PrintLayout, ASubtreeStartsWithItsAncestors) {
    KeyNode top("t");
    KeyNode* users = top.AppendSubkey(std::make_unique<KeyNode>("HKEY_USERS"));
    KeyNode* a = users->AppendSubkey(std::make_unique<KeyNode>("A"));
    a->AppendValue(std::make_unique<ValueEntry>("s", REG_SZ, "x y"));
    users->AppendSubkey(std::make_unique<KeyNode>("B"));
    RecordingDC dc;
    PrintTree(users, dc);
    EXPECT_EQ(dc.lines, (std::vector<RecordingDC::Line>{{1, 150, "[]"},
                                                        {1, 350, "[\\HKEY_USERS]"},
                                                        {1, 550, "[\\HKEY_USERS\\A]"},
                                                        {1, 650, "\"s\"=\"x y\""},
                                                        {1, 850, "[\\HKEY_USERS\\B]"}}));
}

class DocumentCommands : public PaneFixture {
protected:
    static bool Enabled(CQuorvaneDoc& d, UINT id) {
        CCmdUI cmd(id);
        return d.OnUpdateCmdUI(cmd) && cmd.m_bEnabled;
    }
    std::vector<UINT> EnabledOf(std::initializer_list<UINT> ids) {
        std::vector<UINT> out;
        for (UINT id : ids)
            if (Enabled(*doc, id)) out.push_back(id);
        return out;
    }
    static constexpr std::initializer_list<UINT> kWriting = {ID_ADD_KEY, ID_ADD_VALUE, ID_DELETE_KEY,
                                                             ID_DELETE_VALUE, ID_DELETE_ALL_VALUES, ID_COPY};
    static constexpr std::initializer_list<UINT> kReading = {ID_FILE_SAVE_TREE, ID_FILE_PRINT, ID_SYNC,
                                                             ID_READ_SUBTREE, ID_FIND, ID_COMPARE};
    std::string Example() { return File("m.qvf", "[\\HKEY_USERS]\r\n\r\n[\\HKEY_USERS\\A]\r\n\"s\"=\"1\"\r\n\r\n"); }
};

TEST_F(DocumentCommands, EnableRulesFollowTheSides) {
    std::vector<UINT> all(kWriting);
    all.insert(all.end(), kReading);
    for (UINT id : all) EXPECT_FALSE(Enabled(*doc, id)) << id;
    EXPECT_TRUE(Enabled(*doc, ID_FILE_SELECT));

    Open(kSourceFile, Example(), kSourceFile, Example());
    EXPECT_TRUE(EnabledOf(kWriting).empty());
    EXPECT_EQ(EnabledOf(kReading), std::vector<UINT>(kReading));

    Open(kSourceFile, (dir / "missing.qvf").string(), kSourceLocal, "");
    EXPECT_EQ(EnabledOf(kWriting), std::vector<UINT>(kWriting));
    EXPECT_TRUE(EnabledOf(kReading).empty());
    ui.ExpectAllAnswersUsed();
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
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Please select from Master tree."});
    ASSERT_EQ(ui.fileRequests.size(), 2u);
    EXPECT_FALSE(ui.fileRequests[0].bOpen);
    EXPECT_TRUE(ui.fileRequests[0].bOverwritePrompt);
    EXPECT_EQ(ui.fileRequests[0].defaultExtension, "qvf");

    save(1014, out);  // the whole Slave tree
    std::ifstream in(out, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "[\\HKEY_USERS]\r\n\r\n[\\HKEY_USERS\\A]\r\n\"s\"=\"1\"\r\n\r\n");

    // A write error names the file.
    const std::string bad = (dir / "no such folder" / "x.qvf").string();
    save(1012, bad);
    EXPECT_NE(ui.Messages().back().find(bad), std::string::npos) << ui.Messages().back();
    ui.ExpectAllAnswersUsed();
}

TEST_F(DocumentCommands, PrintChoosesItsRootFirst) {
    const std::string m = Example();
    Open(kSourceFile, m, kSourceFile, m);
    RecordingDC dc;
    ui.printer = &dc;
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(IDCANCEL); });
    EXPECT_TRUE(masterTree.OnCmdMsg(ID_FILE_PRINT));  // abandoned silently
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(1015); });
    slaveValues.OnCmdMsg(ID_FILE_PRINT);  // Slave subtree without a selection
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Select subtree to perform operation."});
    EXPECT_TRUE(ui.printModes.empty());

    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(1012); });
    ui.AnswerPrint(true);
    masterTree.OnCmdMsg(ID_FILE_PRINT_PREVIEW);
    EXPECT_EQ(doc->m_pPrintRoot, doc->m_pMasterRoot.get());
    EXPECT_EQ(ui.printModes, std::vector<PrintMode>{PrintMode::Preview});
    ASSERT_EQ(dc.lines.size(), 3u);
    EXPECT_EQ(dc.lines[2].text, "\"s\"=\"1\"");
    ui.ExpectAllAnswersUsed();
}

}  // namespace
}  // namespace qv
