#include "dialogs/net_browser.h"

#include <algorithm>

#include "model/registry.h"
#include "model/registry_errors.h"

namespace qv {

void CKAVONetBrowser::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_NET_COMPUTER, m_strTyped);
    DDX_Radio(pDX, IDC_NET_KIND_SERVICE, m_nKind);
}

void CKAVONetBrowser::ShowName(const std::string& name) {
    const bool windows = IsRemoteRegistryName(name);
    m_nKind = windows ? kWindows : kService;
    m_strTyped = windows ? name.substr(kRemoteRegistryScheme.size()) : name;
}

std::string CKAVONetBrowser::WholeName() const {
    if (m_strTyped.empty()) return {};
    return m_nKind == kWindows ? std::string(kRemoteRegistryScheme) + m_strTyped : m_strTyped;
}

void CKAVONetBrowser::OnInitDialog() {
    ShowName(m_strComputer);
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
        ShowName(m_recentComputers[index]);
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
    if (!ReadName()) return;
    const std::string name = WholeName();
    std::string text;
    if (name.empty()) {
        text = "Enter a computer name first.";
    } else if (!m_checkComputer) {
        text = "There is no way to check from here.";
    } else {
        // The check may take up to the connect timeout.
        Ui().BeginWaitCursor();
        const LONG status = m_checkComputer(name);
        Ui().EndWaitCursor();
        text = status == ERROR_SUCCESS ? "Reachable" : "Not reachable: " + RegistryErrorText(status);
    }
    m_pWnd->SetDlgItemText(IDC_NET_STATUS, text);
}

bool CKAVONetBrowser::ReadName() {
    if (!UpdateData(true)) return false;
    // Blanks around a typed name are never part of it.
    const auto first = m_strTyped.find_first_not_of(" \t");
    const auto last = m_strTyped.find_last_not_of(" \t");
    const std::string typed = first == std::string::npos ? std::string() : m_strTyped.substr(first, last - first + 1);
    const int kind = m_nKind;
    ShowName(typed);
    if (!IsRemoteRegistryName(typed)) m_nKind = kind;
    UpdateData(false);
    return true;
}

void CKAVONetBrowser::OnOK() {
    if (!ReadName()) return;
    m_strComputer = WholeName();
    EndDialog(IDOK);
}

}  // namespace qv
