// The desktop program's modal interaction on Windows: message boxes, dialogs
// run by CWin32DialogHost, the common file and folder choosers, the print
// dialogs, the wait cursor, the progress window and the data window.
#pragma once

#include <chrono>
#include <string>

#include "framework/modal_ui.h"
#include "framework/win32/win32_api.h"

namespace qv {

class CWin32ModalUI : public IModalUI {
public:
    CWin32ModalUI() = default;
    ~CWin32ModalUI() override;
    CWin32ModalUI(const CWin32ModalUI&) = delete;
    CWin32ModalUI& operator=(const CWin32ModalUI&) = delete;

    // The owner of modal windows (the main frame; null allowed) while no
    // other modal window is up.
    void SetOwner(HWND owner) { m_owner = owner; }
    HWND GetOwner() const { return m_owner; }

    int MessageBox(const std::string& text, unsigned type) override;
    int DoModal(CDialog& dialog) override;
    bool GetFileName(const FileDialogRequest& request, std::string& path) override;
    // There is no print preview on Windows: Preview runs the print dialog.
    bool Print(const PrintJob& job, PrintMode mode) override;
    void PrintSetup() override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    // The progress window shows once the work has taken `delay` (400 ms
    // unless set).
    void RunWithProgress(const std::string& text, const std::function<void(IProgress&)>& work) override;
    void ShowData(const DataView& view) override;

    void SetProgressDelay(std::chrono::milliseconds delay) { m_progressDelay = delay; }
    int WaitDepth() const { return m_nWaitDepth; }
    // For the frame's WM_SETCURSOR: while a wait is on, sets the wait cursor
    // and returns true (the message is then handled).
    bool SetWaitCursorIfBusy() const;

private:
    // The enabled active window (a modal window on top), else the owner.
    HWND Owner() const;
    // False, after saying so, when no printer is installed.
    bool HavePrinter();

    HWND m_owner = nullptr;
    HGLOBAL m_hDevMode = nullptr;  // kept between jobs, as Print Setup left them
    HGLOBAL m_hDevNames = nullptr;
    int m_nWaitDepth = 0;
    std::chrono::milliseconds m_progressDelay{400};
};

// The lines of the progress window and of the data window, by id, so that
// the program's tests can find them.
constexpr int kProgressTextId = 100, kProgressCountId = 101, kProgressBarId = 102;
constexpr int kDataHeadingId = 100, kDataTextId = 101, kDataRegErrorId = 102, kDataCopyTextId = 103,
              kDataCopyRegId = 104;

// Puts `text` (UTF-8, "\n" line ends) on the clipboard as CF_UNICODETEXT.
bool CopyTextToClipboard(HWND owner, const std::string& text);

}  // namespace qv
