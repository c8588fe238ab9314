#include "dialogs/open_dlg.h"

#include "dialogs/net_browser.h"
#include "framework/document.h"

namespace qv {

void COpenDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_SLAVE_NAME, m_strSlave);
    DDX_Text(pDX, IDC_MASTER_NAME, m_strMaster);
    DDX_Radio(pDX, IDC_SLAVE_LOCAL, m_nSlaveKind);
    DDX_Radio(pDX, IDC_MASTER_LOCAL, m_nMasterKind);
}

void COpenDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    ApplyEnableRule(kMaster);
    ApplyEnableRule(kSlave);
}

void COpenDlg::OnCommand(int id) {
    switch (id) {
    case IDC_MASTER_LOCAL:
    case IDC_MASTER_NETWORK:
    case IDC_MASTER_FILE: ApplyEnableRule(kMaster); break;
    case IDC_SLAVE_LOCAL:
    case IDC_SLAVE_NETWORK:
    case IDC_SLAVE_FILE: ApplyEnableRule(kSlave); break;
    case IDC_MASTER_BROWSE: OnBrowse(kMaster); break;
    case IDC_SLAVE_BROWSE: OnBrowse(kSlave); break;
    default: CDialog::OnCommand(id);
    }
}

void COpenDlg::ApplyEnableRule(Side side) {
    UpdateData(true);
    int& kind = side == kMaster ? m_nMasterKind : m_nSlaveKind;
    std::string& name = side == kMaster ? m_strMaster : m_strSlave;
    const bool enable = kind != kSourceLocal;
    if (!enable) name.clear();
    m_pWnd->EnableDlgItem(side == kMaster ? IDC_MASTER_NAME : IDC_SLAVE_NAME, enable);
    m_pWnd->EnableDlgItem(side == kMaster ? IDC_MASTER_BROWSE : IDC_SLAVE_BROWSE, enable);
    UpdateData(false);
}

void COpenDlg::OnBrowse(Side side) {
    UpdateData(true);
    const int kind = side == kMaster ? m_nMasterKind : m_nSlaveKind;
    std::string& name = side == kMaster ? m_strMaster : m_strSlave;
    if (kind == kSourceNetwork) {
        CKAVONetBrowser browser(3);
        browser.m_recentComputers = m_recentComputers;
        browser.m_checkComputer = m_checkComputer;
        browser.m_strComputer = name;
        if (Ui().DoModal(browser) == IDOK) name = browser.GetComputerName();
        UpdateData(false);
    } else if (kind == kSourceFile) {
        // A side is a file (a tree file, a hive, a .reg file) or a folder
        // (a Windows installation, a Wine prefix).
        const bool folder = Ui().MessageBox("Open a file: a tree file, a hive or a .reg file?\n\n"
                                            "Choose No to open a folder: a Windows installation or a Wine prefix.",
                                            MB_YESNO | MB_ICONQUESTION) != IDYES;
        std::string path;
        if (Ui().GetFileName(SideFileRequest(folder), path)) {
            name = path;
            UpdateData(false);
        }
    }
}

}  // namespace qv
