// The program's two information boxes: About (product, version, copyright)
// and About Us (the maker).
#pragma once

#include "framework/dialog.h"

namespace qv {

class CAboutDlg : public CDialog {
public:
    CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
    // The product and version lines come from the string table, which the
    // rest of the program quotes too.
    void OnInitDialog() override;
};

class CAboutUsDlg : public CDialog {
public:
    CAboutUsDlg() : CDialog(IDD_ABOUT_US) {}
};

}  // namespace qv
