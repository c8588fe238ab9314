#include "dialogs/net_browser.h"

#include <algorithm>

#include "model/registry_errors.h"

namespace qv {

void CKAVONetBrowser::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_NET_COMPUTER, m_strComputer);
}

void CKAVONetBrowser::OnInitDialog() {
    CDialog::OnInitDialog();
    const auto shown = std::min<std::size_t>(m_recentComputers.size(), kRecentButtons);
    for (int i = 0; i < kRecentButtons; ++i) {
        const bool used = static_cast<std::size_t>(i) < shown;
        m_pWnd->SetDlgItemText(IDC_NET_RECENT_FIRST + i, used ? m_recentComputers[static_cast<std::size_t>(i)] : "");
        m_pWnd->EnableDlgItem(IDC_NET_RECENT_FIRST + i, used);
    }
    m_pWnd->EnableDlgItem(IDC_NET_RECENT, shown > 0);
    m_pWnd->SetDlgItemText(IDC_NET_STATUS, "");
}

void CKAVONetBrowser::OnCommand(int id) {
    if (id >= IDC_NET_RECENT_FIRST && id < IDC_NET_RECENT_FIRST + kRecentButtons) {
        const auto index = static_cast<std::size_t>(id - IDC_NET_RECENT_FIRST);
        if (index >= m_recentComputers.size()) return;
        m_strComputer = m_recentComputers[index];
        UpdateData(false);
        m_pWnd->SetDlgItemText(IDC_NET_STATUS, "");
        m_pWnd->SetFocusTo(IDC_NET_COMPUTER);
        return;
    }
    if (id == IDC_NET_CHECK) {
        OnCheck();
        return;
    }
    CDialog::OnCommand(id);
}

void CKAVONetBrowser::OnCheck() {
    if (!UpdateData(true)) return;
    TrimName();
    std::string text;
    if (m_strComputer.empty()) {
        text = "Enter a computer name first.";
    } else if (!m_checkComputer) {
        text = "There is no way to check from here.";
    } else {
        // The check may take up to the connect timeout.
        Ui().BeginWaitCursor();
        const LONG status = m_checkComputer(m_strComputer);
        Ui().EndWaitCursor();
        text = status == ERROR_SUCCESS ? "Reachable" : "Not reachable: " + RegistryErrorText(status);
    }
    m_pWnd->SetDlgItemText(IDC_NET_STATUS, text);
}

void CKAVONetBrowser::TrimName() {
    // Blanks around a typed name are never part of it.
    const auto first = m_strComputer.find_first_not_of(" \t");
    const auto last = m_strComputer.find_last_not_of(" \t");
    m_strComputer = first == std::string::npos ? std::string() : m_strComputer.substr(first, last - first + 1);
}

void CKAVONetBrowser::OnOK() {
    if (!UpdateData(true)) return;
    TrimName();
    EndDialog(IDOK);
}

}  // namespace qv
