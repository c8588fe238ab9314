// Log On: asks who the user is on a Windows computer that wants to know
// (user, domain, password) before its registry is read. What is typed is
// kept only as long as the program runs: nothing here is ever saved.
#pragma once

#include <string>

#include "framework/dialog.h"
#include "framework/modal_ui.h"

namespace qv {

class CLogonDlg : public CDialog {
public:
    // `computer` is named in the prompt; `again` says the last logon failed.
    CLogonDlg(std::string computer, bool again)
        : CDialog(IDD_LOGON), m_strComputer(std::move(computer)), m_bAgain(again) {}

    std::string m_strUser;
    std::string m_strDomain;
    std::string m_strPassword;

    void DoDataExchange(CDataExchange* pDX) override;
    void OnInitDialog() override;

private:
    std::string m_strComputer;
    bool m_bAgain;
};

// Runs Log On for `computer`, starting from what is given (a retry when a
// user or password is); false when the user cancels.
bool AskLogon(IModalUI& ui, const std::string& computer, std::string& user, std::string& domain,
              std::string& password);

}  // namespace qv
