// Dialogs without a toolkit: numbers taken from an edit, control ids in the
// templates, and the network computer browser with the document's list of
// computers that fills it. (The Open dialog's rules run through the Qt host
// in tests/gui.)
#include <gtest/gtest.h>

#include <algorithm>

#include "app/quorvane_doc.h"
#include "dialogs/edit_dialogs.h"
#include "dialogs/net_browser.h"
#include "dialogs/open_dlg.h"
#include "registry/unavailable_registry.h"
#include "tests/support/scripted_ui.h"

namespace qv {
namespace {

using test::CDialogDriver;
using test::CScriptedUI;
using Names = std::vector<std::string>;

TEST(DataExchange, NumbersMustBeUnsignedDecimal) {
    const struct {
        const char* text;
        bool ok;
        std::uint32_t value;
    } cases[] = {{" 42 ", true, 42},          {"4294967295", true, 4294967295u},
                 {"0", true, 0},              {"0x2A", false, 7},
                 {"-1", false, 7},            {"", false, 7},
                 {"   ", false, 7},           {"12abc", false, 7},
                 {"4294967296", false, 7},    {"99999999999999999999", false, 7}};
    for (const auto& c : cases) {
        CScriptedUI ui;
        CModifyNumberDlg dlg;
        dlg.m_dwValue = 7;
        ui.AnswerDialog([&c](CDialog&, CDialogDriver& d) {
            EXPECT_EQ(d.GetDlgItemText(1019), "7");
            d.Type(1019, c.text);
            d.Click(IDOK);
            if (d.Ended()) return;
            EXPECT_EQ(d.Focus(), 1019);  // refused: the dialog stays open on the entry
            d.Click(IDCANCEL);
        });
        EXPECT_EQ(ui.DoModal(dlg), c.ok ? IDOK : IDCANCEL) << c.text;
        EXPECT_EQ(dlg.m_dwValue, c.value) << c.text;
        EXPECT_EQ(ui.Messages(), c.ok ? Names{} : Names{"Please enter a positive integer."}) << c.text;
    }
}

TEST(DialogTemplates, EveryControlIdIsUniqueWithinItsDialog) {
    for (const DialogTemplate& t : DialogTemplates()) {
        std::vector<int> ids;
        for (const ControlTemplate& c : t.controls)
            if (c.id != -1) ids.push_back(c.id);
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << t.caption;
    }
}

// Unused recent buttons are off; Check says whether a computer answers; the
// kind chosen (or a typed "smb://") makes a Windows computer's name.
TEST(NetBrowser, CheckShowsReachableOrTheReason) {
    CScriptedUI ui;
    CKAVONetBrowser browser(3);
    Names asked;
    browser.m_checkComputer = [&asked](const std::string& name) -> LONG {
        asked.push_back(name);
        return name == "up" ? ERROR_SUCCESS : ERROR_BAD_NETPATH;
    };
    browser.m_recentComputers = {"SMB://only"};
    ui.AnswerDialog([](CDialog& dlg, CDialogDriver& d) {
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_RECENT_FIRST), "SMB://only");
        for (int i = 1; i < CKAVONetBrowser::kRecentButtons; ++i) {
            EXPECT_FALSE(d.IsDlgItemEnabled(IDC_NET_RECENT_FIRST + i)) << i;
            EXPECT_EQ(d.GetDlgItemText(IDC_NET_RECENT_FIRST + i), "") << i;
        }
        dlg.OnCommand(IDC_NET_RECENT_FIRST + 5);  // a button with no name changes nothing
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_COMPUTER), "");
        d.Click(IDC_NET_CHECK);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_STATUS), "Enter a computer name first.");
        d.Type(IDC_NET_COMPUTER, " up ");
        d.Click(IDC_NET_CHECK);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_STATUS), "Reachable");
        d.Type(IDC_NET_COMPUTER, "down:1");
        d.Click(IDC_NET_CHECK);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_STATUS), "Not reachable: The network path was not found. (status 53)");
        d.Type(IDC_NET_COMPUTER, " smb://up ");
        d.Click(IDC_NET_CHECK);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_COMPUTER), "up");
        d.Click(IDC_NET_KIND_SERVICE);
        d.Click(IDC_NET_RECENT_FIRST);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_COMPUTER), "only");
        d.Type(IDC_NET_COMPUTER, "win:4450");
        EXPECT_FALSE(d.Ended());
        d.Click(IDOK);
    });
    EXPECT_EQ(ui.DoModal(browser), IDOK);
    EXPECT_EQ(asked, (Names{"up", "down:1", "smb://up"}));
    EXPECT_EQ(browser.GetComputerName(), "smb://win:4450");
    EXPECT_EQ(ui.waitDepth, 0);
}

TEST(NetBrowser, TheOpenDialogHandsOnTheDocumentsComputers) {
    CScriptedUI ui;
    CUnavailableRegistry registry;
    CQuorvaneDoc doc(registry, ui);
    Names saved;
    doc.m_onRecentComputers = [&saved](const Names& names) { saved = names; };
    for (const char* name : {"a", "c", "d", "e", "f", "g", "h", "i", "b", "B"}) doc.RememberComputer(name);
    // Latest first, one entry per computer whatever the case, eight at most.
    EXPECT_EQ(doc.m_recentComputers, (Names{"B", "i", "h", "g", "f", "e", "d", "c"}));
    EXPECT_EQ(saved, doc.m_recentComputers);
    // Without a checker of its own the document connects through its registry.
    EXPECT_EQ(doc.CheckComputer("x"), ERROR_ACCESS_DENIED);
    doc.m_checkComputer = [](const std::string&) -> LONG { return ERROR_SUCCESS; };

    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Click(IDC_MASTER_NETWORK);
        d.Click(IDC_MASTER_BROWSE);
        EXPECT_EQ(d.GetDlgItemText(IDC_MASTER_NAME), "i");
        d.Click(IDCANCEL);
    });
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_RECENT_FIRST), "B");
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_RECENT_FIRST + 7), "c");
        EXPECT_TRUE(d.IsDlgItemEnabled(IDC_NET_RECENT_FIRST + 7));
        d.Click(IDC_NET_RECENT_FIRST + 1);
        d.Click(IDC_NET_CHECK);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_STATUS), "Reachable");
        d.Click(IDOK);
    });
    doc.OnFileSelect();
    ui.ExpectAllAnswersUsed();
}

}  // namespace
}  // namespace qv
