// The Open dialog: where each side comes from.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "model/registry_types.h"

namespace qv {

class COpenDlg : public CDialog {
public:
    COpenDlg() : CDialog(IDD_OPEN) {}

    std::string m_strSlave;
    std::string m_strMaster;
    int m_nSlaveKind = 0;
    int m_nMasterKind = 0;
    // Handed to the network computer browser.
    std::vector<std::string> m_recentComputers;
    std::function<LONG(const std::string&)> m_checkComputer;

    void DoDataExchange(CDataExchange* pDX) override;
    void OnInitDialog() override;
    void OnCommand(int id) override;

private:
    enum Side { kMaster, kSlave };
    // A local side has no name: its edit and "..." button are disabled and emptied.
    void ApplyEnableRule(Side side);
    void OnBrowse(Side side);
};

}  // namespace qv
