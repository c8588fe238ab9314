#include "dialogs/edit_dialogs.h"

#include "model/key_node.h"

namespace qv {

void CModifyStringDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, 1019, m_strValue);
    DDV_MaxChars(pDX, m_strValue, ValueEntry::kMaxText);
}

void CModifyNumberDlg::DoDataExchange(CDataExchange* pDX) { DDX_Text(pDX, 1019, m_dwValue); }

}  // namespace qv
