// The dialogs that collect a new key, a new value, and the copy options.
#pragma once

#include <string>

#include "app/dialog.h"

namespace qv {

class CAddKeyDlg : public CDialog {
public:
    CAddKeyDlg() : CDialog(IDD_ADD_KEY) {}
    std::string m_strName;
    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 1019, m_strName); }
};

class CAddValueDlg : public CDialog {
public:
    CAddValueDlg() : CDialog(IDD_ADD_VALUE) {}
    std::string m_strName;
    std::string m_strValue;
    int m_nType = 0;  // 0 String, 1 Number
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, 1019, m_strName);
        DDX_Text(pDX, 1020, m_strValue);
        DDX_Radio(pDX, 1021, m_nType);
    }
};

class CCopyDlg : public CDialog {
public:
    CCopyDlg() : CDialog(IDD_COPY) {}
    int m_bLoadFirst = 0;
    int m_bOverwrite = 0;
    int m_bRecursive = 0;
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Check(pDX, 1016, m_bLoadFirst);
        DDX_Check(pDX, 1009, m_bOverwrite);
        DDX_Check(pDX, 1017, m_bRecursive);
    }
};

}  // namespace qv
