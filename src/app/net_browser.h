// The network computer browser: asks for the computer whose registry a
// network side reaches, as "host" or "host:port".
#pragma once

#include <string>

#include "app/dialog.h"

namespace qv {

class CKAVONetBrowser : public CDialog {
public:
    explicit CKAVONetBrowser(int nStyle) : CDialog(IDD_NET_BROWSER), m_nStyle(nStyle) {}

    std::string m_strComputer;

    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    const std::string& GetComputerName() const { return m_strComputer; }
    int GetStyle() const { return m_nStyle; }

private:
    int m_nStyle;
};

}  // namespace qv
