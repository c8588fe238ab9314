#include <gtest/gtest.h>

#include <algorithm>

#include "dialogs/net_browser.h"
#include "app/quorvane_doc.h"
#include "dialogs/open_dlg.h"
#include "tests/support/scripted_ui.h"

namespace qv {
namespace {

using test::CDialogDriver;
using test::CScriptedUI;

// Runs the Open dialog with `script`; returns the dialog's result.
int RunOpen(CScriptedUI& ui, COpenDlg& dlg, CScriptedUI::DialogScript script) {
    ui.AnswerDialog(std::move(script));
    return ui.DoModal(dlg);
}

TEST(OpenDialog, EnableRuleOnInitAndOnRadioClicks) {
    CScriptedUI ui;
    COpenDlg dlg;
    dlg.m_nMasterKind = kSourceLocal;
    dlg.m_strMaster = "left over";  // a local side never keeps a name
    dlg.m_nSlaveKind = kSourceNetwork;
    dlg.m_strSlave = "server1";
    const int result = RunOpen(ui, dlg, [](CDialog&, CDialogDriver& d) {
        EXPECT_FALSE(d.IsDlgItemEnabled(IDC_MASTER_NAME));
        EXPECT_FALSE(d.IsDlgItemEnabled(IDC_MASTER_BROWSE));
        EXPECT_EQ(d.GetDlgItemText(IDC_MASTER_NAME), "");
        EXPECT_TRUE(d.IsDlgItemEnabled(IDC_SLAVE_NAME));
        EXPECT_TRUE(d.IsDlgItemEnabled(IDC_SLAVE_BROWSE));
        EXPECT_EQ(d.GetDlgItemText(IDC_SLAVE_NAME), "server1");
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_SLAVE_NETWORK), 1);

        // Network to file keeps the text.
        d.Click(IDC_SLAVE_FILE);
        EXPECT_EQ(d.GetDlgItemText(IDC_SLAVE_NAME), "server1");
        EXPECT_EQ(d.IsDlgButtonChecked(IDC_SLAVE_NETWORK), 0);
        // Local empties and disables; back to network starts empty.
        d.Click(IDC_SLAVE_LOCAL);
        EXPECT_EQ(d.GetDlgItemText(IDC_SLAVE_NAME), "");
        EXPECT_FALSE(d.IsDlgItemEnabled(IDC_SLAVE_NAME));
        EXPECT_FALSE(d.IsDlgItemEnabled(IDC_SLAVE_BROWSE));
        d.Click(IDC_SLAVE_NETWORK);
        EXPECT_TRUE(d.IsDlgItemEnabled(IDC_SLAVE_NAME));
        EXPECT_EQ(d.GetDlgItemText(IDC_SLAVE_NAME), "");

        // A click on one side's radio leaves the other side alone.
        d.Click(IDC_MASTER_FILE);
        d.Type(IDC_MASTER_NAME, "/tmp/master.qvf");
        d.Click(IDC_SLAVE_FILE);
        EXPECT_EQ(d.GetDlgItemText(IDC_MASTER_NAME), "/tmp/master.qvf");
        d.Type(IDC_SLAVE_NAME, "");
        d.Click(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_nMasterKind, kSourceFile);
    EXPECT_EQ(dlg.m_strMaster, "/tmp/master.qvf");
    EXPECT_EQ(dlg.m_nSlaveKind, kSourceFile);
    EXPECT_EQ(dlg.m_strSlave, "");  // empty names are accepted for any kind
}

TEST(OpenDialog, FileBrowseAsksForAQvfFileAndCancelKeepsTheText) {
    CScriptedUI ui;
    COpenDlg dlg;
    dlg.m_nMasterKind = kSourceFile;
    dlg.m_strMaster = "old.qvf";
    ui.AnswerFile(std::nullopt);
    ui.AnswerFile("/data/new.qvf");
    RunOpen(ui, dlg, [](CDialog&, CDialogDriver& d) {
        d.Click(IDC_MASTER_BROWSE);
        EXPECT_EQ(d.GetDlgItemText(IDC_MASTER_NAME), "old.qvf");
        d.Click(IDC_MASTER_BROWSE);
        EXPECT_EQ(d.GetDlgItemText(IDC_MASTER_NAME), "/data/new.qvf");
        d.Click(IDCANCEL);
    });
    ASSERT_EQ(ui.fileRequests.size(), 2u);
    const FileDialogRequest& r = ui.fileRequests[0];
    EXPECT_TRUE(r.bOpen);
    EXPECT_EQ(r.defaultExtension, "qvf");
    EXPECT_EQ(r.initialName, "*.qvf");
    EXPECT_EQ(r.filterName, "qvf");
    EXPECT_EQ(r.filterPattern, "*.qvf");
    ui.ExpectAllAnswersUsed();
}

TEST(OpenDialog, NetworkBrowseHandsBackTheComputerName) {
    CScriptedUI ui;
    COpenDlg dlg;
    dlg.m_nSlaveKind = kSourceNetwork;
    dlg.m_strSlave = "before";
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Click(IDC_SLAVE_BROWSE);
        EXPECT_EQ(d.GetDlgItemText(IDC_SLAVE_NAME), "before");
        d.Click(IDC_SLAVE_BROWSE);
        EXPECT_EQ(d.GetDlgItemText(IDC_SLAVE_NAME), "regbox:7787");
        d.Click(IDOK);
    });
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(IDCANCEL); });
    ui.AnswerDialog([](CDialog& browser, CDialogDriver& d) {
        EXPECT_EQ(static_cast<CKAVONetBrowser&>(browser).GetStyle(), 3);
        d.Type(IDC_NET_COMPUTER, "  regbox:7787 ");
        d.Click(IDOK);
    });
    const int result = ui.DoModal(dlg);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strSlave, "regbox:7787");
    ui.ExpectAllAnswersUsed();
}

// A small dialog over the Modify Number template, for the number exchange.
class NumberDlg : public CDialog {
public:
    NumberDlg() : CDialog(IDD_MODIFY_NUMBER) {}
    std::uint32_t m_dwValue = 0;
    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 1019, m_dwValue); }
};

TEST(DataExchange, NumbersMustBeUnsignedDecimal) {
    for (const char* bad : {"0x2A", "-1", "", "   ", "12abc", "4294967296", "99999999999999999999"}) {
        CScriptedUI ui;
        NumberDlg dlg;
        dlg.m_dwValue = 7;
        ui.AnswerDialog([bad](CDialog&, CDialogDriver& d) {
            d.Type(1019, bad);
            d.Click(IDOK);
            EXPECT_FALSE(d.Ended()) << bad;  // the dialog stays open
            EXPECT_EQ(d.Focus(), 1019);
            d.Click(IDCANCEL);
        });
        EXPECT_EQ(ui.DoModal(dlg), IDCANCEL);
        EXPECT_EQ(dlg.m_dwValue, 7u);
        EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Please enter a positive integer."}) << bad;
    }
    for (auto [text, value] : {std::pair{" 42 ", 42u}, {"4294967295", 4294967295u}, {"0", 0u}}) {
        CScriptedUI ui;
        NumberDlg dlg;
        ui.AnswerDialog([text = text](CDialog&, CDialogDriver& d) {
            EXPECT_EQ(d.GetDlgItemText(1019), "0");
            d.Type(1019, text);
            d.Click(IDOK);
        });
        EXPECT_EQ(ui.DoModal(dlg), IDOK);
        EXPECT_EQ(dlg.m_dwValue, value);
    }
}

TEST(DialogTemplates, RadioGroupsEndAtTheNextGroup) {
    const DialogTemplate* open = FindDialogTemplate(IDD_OPEN);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(RadioGroupIds(*open, IDC_MASTER_LOCAL),
              (std::vector<int>{IDC_MASTER_LOCAL, IDC_MASTER_NETWORK, IDC_MASTER_FILE}));
    EXPECT_EQ(RadioGroupIds(*open, IDC_SLAVE_LOCAL),
              (std::vector<int>{IDC_SLAVE_LOCAL, IDC_SLAVE_NETWORK, IDC_SLAVE_FILE}));
    // Every addressed control id is unique within its dialog.
    for (UINT id : {IDD_OPEN, IDD_FIND, IDD_COPY, IDD_ADD_VALUE, IDD_SAVE_TREE, IDD_FIND_RESULT}) {
        const DialogTemplate* t = FindDialogTemplate(id);
        ASSERT_NE(t, nullptr) << id;
        std::vector<int> ids;
        for (const ControlTemplate& c : t->controls)
            if (c.id != -1) ids.push_back(c.id);
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << t->caption;
    }
}

}  // namespace
}  // namespace qv
