// Stand-in: message boxes only; dialogs and file choosers answer Cancel.
#pragma once

#include "framework/modal_ui.h"
#include "framework/win32/win32_api.h"

namespace qv {

class CWin32ModalUI : public IModalUI {
public:
    CWin32ModalUI() = default;
    void SetOwner(HWND owner) { m_owner = owner; }

    int MessageBox(const std::string& text, unsigned type) override;
    int DoModal(CDialog&) override { return IDCANCEL; }
    bool GetFileName(const FileDialogRequest&, std::string&) override { return false; }
    bool Print(const PrintJob&, PrintMode) override { return false; }
    void PrintSetup() override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void RunWithProgress(const std::string& text, const std::function<void(IProgress&)>& work) override;
    void ShowData(const DataView& view) override { MessageBox(view.text, MB_OK); }

private:
    HWND m_owner = nullptr;
};

}  // namespace qv
