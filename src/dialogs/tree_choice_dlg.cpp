#include "dialogs/tree_choice_dlg.h"

namespace qv {

void CTreeChoiceDlg::OnCommand(int id) {
    switch (id) {
    case 1012: m_nChoice = kChoiceMasterTree; break;
    case 1014: m_nChoice = kChoiceSlaveTree; break;
    case 1013: m_nChoice = kChoiceMasterSubtree; break;
    case 1015: m_nChoice = kChoiceSlaveSubtree; break;
    default:
        // Cancel, Escape and the close box choose nothing.
        m_nChoice = kChoiceNone;
        CDialog::OnCommand(id);
        return;
    }
    EndDialog(IDOK);
}

}  // namespace qv
