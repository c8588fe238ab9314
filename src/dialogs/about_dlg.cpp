#include "dialogs/about_dlg.h"

namespace qv {

void CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_pWnd->SetDlgItemText(IDC_ABOUT_PRODUCT, LoadString(IDS_PRODUCT_LINE));
    m_pWnd->SetDlgItemText(IDC_ABOUT_VERSION, LoadString(IDS_VERSION_LINE));
}

}  // namespace qv
