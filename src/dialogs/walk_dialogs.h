// The dialogs of the walks: Compare's options, Find's options, and the
// Next/Stop box that both show at every stop.
#pragma once

#include <string>

#include "framework/dialog.h"

namespace qv {

class CCompareDlg : public CDialog {
public:
    CCompareDlg() : CDialog(IDD_COMPARE) {}
    int m_bLoadFirst = 0;
    void DoDataExchange(CDataExchange* pDX) override { DDX_Check(pDX, 1009, m_bLoadFirst); }
};

class CFindResultDlg : public CDialog {
public:
    CFindResultDlg() : CDialog(IDD_FIND_RESULT), m_strMessage(LoadString(IDS_FIND_MATCH)) {}
    std::string m_strMessage;
    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 1026, m_strMessage); }
};

class CFindDlg : public CDialog {
public:
    CFindDlg() : CDialog(IDD_FIND) {}
    std::string m_strText;
    int m_bLoadFirst = 0;
    int m_nSide = 1;  // 0 Master, 1 Slave
    int m_bFindKey = 1;
    int m_bFindValue = 0;
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, 1006, m_strText);
        DDX_Check(pDX, 1009, m_bLoadFirst);
        DDX_Radio(pDX, 1007, m_nSide);
        DDX_Check(pDX, 1024, m_bFindKey);
        DDX_Check(pDX, 1025, m_bFindValue);
    }
};

}  // namespace qv
