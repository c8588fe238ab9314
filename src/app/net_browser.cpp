#include "app/net_browser.h"

namespace qv {

void CKAVONetBrowser::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_NET_COMPUTER, m_strComputer);
}

void CKAVONetBrowser::OnOK() {
    if (!UpdateData(true)) return;
    // Blanks around a typed name are never part of it.
    const auto first = m_strComputer.find_first_not_of(" \t");
    const auto last = m_strComputer.find_last_not_of(" \t");
    m_strComputer = first == std::string::npos ? std::string() : m_strComputer.substr(first, last - first + 1);
    EndDialog(IDOK);
}

}  // namespace qv
