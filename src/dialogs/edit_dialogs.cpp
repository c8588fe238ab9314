#include "dialogs/edit_dialogs.h"

namespace qv {

// The whole text is edited, however long: a value is never cut.
void CModifyStringDlg::DoDataExchange(CDataExchange* pDX) { DDX_Text(pDX, 1019, m_strValue); }

void CModifyNumberDlg::DoDataExchange(CDataExchange* pDX) { DDX_Text(pDX, 1019, m_dwValue); }

}  // namespace qv
