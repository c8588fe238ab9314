// The tree-choice dialogs (Save Tree, Print Tree, Read Tree): a click on one
// of the choice buttons ends the dialog with OK and that choice.
#pragma once

#include "framework/dialog.h"

namespace qv {

// What the user chose.
enum TreeChoice : int {
    kChoiceNone = 0,
    kChoiceMasterTree = 1,
    kChoiceSlaveTree = 2,
    kChoiceMasterSubtree = 3,
    kChoiceSlaveSubtree = 4,
};

class CTreeChoiceDlg : public CDialog {
public:
    explicit CTreeChoiceDlg(UINT id) : CDialog(id) {}
    int m_nChoice = kChoiceNone;
    void OnCommand(int id) override;
};

class CSaveTreeDlg : public CTreeChoiceDlg {
public:
    CSaveTreeDlg() : CTreeChoiceDlg(IDD_SAVE_TREE) {}
};

class CPrintTreeDlg : public CTreeChoiceDlg {
public:
    CPrintTreeDlg() : CTreeChoiceDlg(IDD_PRINT_TREE) {}
};

class CReadTreeDlg : public CTreeChoiceDlg {
public:
    CReadTreeDlg() : CTreeChoiceDlg(IDD_READ_TREE) {}
};

}  // namespace qv
