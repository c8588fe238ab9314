// The dialogs that collect a new key, a new value, the copy options, and a
// value's new data.
#pragma once

#include <cstdint>
#include <string>

#include "framework/dialog.h"

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

class CModifyStringDlg : public CDialog {
public:
    CModifyStringDlg() : CDialog(IDD_MODIFY_STRING) {}
    std::string m_strValue;
    void DoDataExchange(CDataExchange* pDX) override;
};

class CModifyNumberDlg : public CDialog {
public:
    CModifyNumberDlg() : CDialog(IDD_MODIFY_NUMBER) {}
    std::uint32_t m_dwValue = 0;
    void DoDataExchange(CDataExchange* pDX) override;
};

}  // namespace qv
