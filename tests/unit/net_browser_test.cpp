// The network computer browser: the computers reached before, the check,
// and the document's list of computers that fills it.
#include <gtest/gtest.h>

#include "dialogs/net_browser.h"
#include "dialogs/open_dlg.h"
#include "app/quorvane_doc.h"
#include "registry/unavailable_registry.h"
#include "tests/support/scripted_ui.h"

namespace qv {
namespace {

using test::CDialogDriver;
using test::CScriptedUI;
using Names = std::vector<std::string>;

TEST(NetBrowser, RecentComputersFillTheNameAndUnusedButtonsAreOff) {
    CScriptedUI ui;
    CKAVONetBrowser browser(3);
    browser.m_recentComputers = {"alpha", "beta:7000", "c", "d", "e", "f", "g", "h", "ninth"};
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_RECENT_FIRST), "alpha");
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_RECENT_FIRST + 7), "h");
        EXPECT_TRUE(d.IsDlgItemEnabled(IDC_NET_RECENT_FIRST + 7));
        d.Click(IDC_NET_RECENT_FIRST + 1);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_COMPUTER), "beta:7000");
        d.Click(IDOK);
    });
    EXPECT_EQ(ui.DoModal(browser), IDOK);
    EXPECT_EQ(browser.GetComputerName(), "beta:7000");

    CKAVONetBrowser empty(3);
    empty.m_recentComputers = {"only"};
    ui.AnswerDialog([](CDialog& dlg, CDialogDriver& d) {
        EXPECT_TRUE(d.IsDlgItemEnabled(IDC_NET_RECENT));
        for (int i = 1; i < CKAVONetBrowser::kRecentButtons; ++i) {
            EXPECT_FALSE(d.IsDlgItemEnabled(IDC_NET_RECENT_FIRST + i)) << i;
            EXPECT_EQ(d.GetDlgItemText(IDC_NET_RECENT_FIRST + i), "") << i;
        }
        dlg.OnCommand(IDC_NET_RECENT_FIRST + 5);  // a button with no name changes nothing
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_COMPUTER), "");
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(ui.DoModal(empty), IDCANCEL);
    ui.ExpectAllAnswersUsed();
}

TEST(NetBrowser, CheckShowsReachableOrTheReason) {
    CScriptedUI ui;
    CKAVONetBrowser browser(3);
    std::vector<std::string> asked;
    browser.m_checkComputer = [&asked](const std::string& name) -> LONG {
        asked.push_back(name);
        return name == "up" ? ERROR_SUCCESS : ERROR_BAD_NETPATH;
    };
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Click(IDC_NET_CHECK);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_STATUS), "Enter a computer name first.");
        d.Type(IDC_NET_COMPUTER, " up ");
        d.Click(IDC_NET_CHECK);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_STATUS), "Reachable");
        d.Type(IDC_NET_COMPUTER, "down:1");
        d.Click(IDC_NET_CHECK);
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_STATUS), "Not reachable: The network path was not found. (status 53)");
        EXPECT_FALSE(d.Ended());
        d.Click(IDOK);
    });
    EXPECT_EQ(ui.DoModal(browser), IDOK);
    EXPECT_EQ(asked, (Names{"up", "down:1"}));
    EXPECT_EQ(browser.GetComputerName(), "down:1");
    EXPECT_EQ(ui.waitDepth, 0);
}

TEST(NetBrowser, TheOpenDialogHandsOnTheDocumentsComputers) {
    CScriptedUI ui;
    CUnavailableRegistry registry;
    CQuorvaneDoc doc(registry, ui);
    Names saved;
    doc.m_onRecentComputers = [&saved](const Names& names) { saved = names; };
    for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "B"}) doc.RememberComputer(name);
    // Latest first, one entry per computer whatever the case, eight at most.
    EXPECT_EQ(doc.m_recentComputers, (Names{"B", "i", "h", "g", "f", "e", "d", "c"}));
    EXPECT_EQ(saved, doc.m_recentComputers);

    // Without a checker of its own the document connects through its registry.
    EXPECT_EQ(doc.CheckComputer("x"), ERROR_ACCESS_DENIED);
    doc.m_checkComputer = [](const std::string&) -> LONG { return ERROR_SUCCESS; };

    ui.AnswerDialog([](CDialog& d, CDialogDriver& drv) {
        drv.Click(IDC_MASTER_NETWORK);
        drv.Click(IDC_MASTER_BROWSE);
        EXPECT_EQ(drv.GetDlgItemText(IDC_MASTER_NAME), "i");
        static_cast<COpenDlg&>(d).EndDialog(IDCANCEL);
    });
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        EXPECT_EQ(d.GetDlgItemText(IDC_NET_RECENT_FIRST), "B");
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
