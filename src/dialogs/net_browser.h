// The network computer browser: asks for the computer whose registry a
// network side reaches, as "host" or "host:port". It offers the computers
// reached before, one button each, and checks on request whether a name
// answers.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "model/registry_types.h"

namespace qv {

class CKAVONetBrowser : public CDialog {
public:
    static constexpr int kRecentButtons = 8;

    explicit CKAVONetBrowser(int nStyle) : CDialog(IDD_NET_BROWSER), m_nStyle(nStyle) {}

    std::string m_strComputer;
    // Computers reached before, latest first; the first eight get buttons.
    std::vector<std::string> m_recentComputers;
    // Whether a computer answers: 0, or the status that tells why not.
    std::function<LONG(const std::string&)> m_checkComputer;

    void DoDataExchange(CDataExchange* pDX) override;
    void OnInitDialog() override;
    void OnCommand(int id) override;
    void OnOK() override;
    const std::string& GetComputerName() const { return m_strComputer; }
    int GetStyle() const { return m_nStyle; }

private:
    void OnCheck();
    // The typed name without the blanks around it.
    void TrimName();

    int m_nStyle;
};

}  // namespace qv
