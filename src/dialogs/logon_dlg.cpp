#include "dialogs/logon_dlg.h"

namespace qv {

void CLogonDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_LOGON_USER, m_strUser);
    DDX_Text(pDX, IDC_LOGON_DOMAIN, m_strDomain);
    DDX_Text(pDX, IDC_LOGON_PASSWORD, m_strPassword);
}

void CLogonDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_pWnd->SetDlgItemText(IDC_LOGON_PROMPT, (m_bAgain ? "The logon was refused. Log on to " : "Log on to ") +
                                                 m_strComputer + " to read its registry.");
    // Asked again, the user most likely mistyped the password.
    m_pWnd->SetFocusTo(m_bAgain && !m_strUser.empty() ? IDC_LOGON_PASSWORD : IDC_LOGON_USER);
}

bool AskLogon(IModalUI& ui, const std::string& computer, std::string& user, std::string& domain,
              std::string& password) {
    CLogonDlg dlg(computer, !user.empty() || !password.empty());
    dlg.m_strUser = user;
    dlg.m_strDomain = domain;
    if (ui.DoModal(dlg) != IDOK) return false;
    user = dlg.m_strUser;
    domain = dlg.m_strDomain;
    password = dlg.m_strPassword;
    return true;
}

}  // namespace qv
