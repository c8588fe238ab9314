// The network computer browser: asks for the computer whose registry a
// network side reaches and what serves it there: a quorvane-regd ("host" or
// "host:port") or Windows' own Remote Registry service ("smb://host"). It
// offers the computers reached before, one button each, and checks on
// request whether a name answers.
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

    // The computer's whole name, "smb://" included for a Windows computer.
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
    enum Kind { kService = 0, kWindows = 1 };
    void OnCheck();
    // Reads the controls: the typed name without the blanks around it and
    // the kind; a typed "smb://" chooses a Windows computer. False when the
    // controls could not be read.
    bool ReadName();
    // The whole name for what the controls say.
    std::string WholeName() const;
    // Shows `name` in the controls: the kind by its scheme, the rest typed.
    void ShowName(const std::string& name);

    int m_nStyle;
    int m_nKind = kService;
    std::string m_strTyped;  // the edit's text
};

}  // namespace qv
