// The program as a whole on Windows: start-up, the message loop, and the
// commands that belong to no window (the About boxes, the printer setup).
// It owns the registry (Windows' own, with files mounted as sides), the
// modal interface, the settings, the document and the main frame.
#pragma once

#include "framework/win32/win32_api.h"

#include <memory>
#include <string>

#include "app/command_line.h"
#include "edit/undo_journal.h"
#include "framework/cmd_target.h"

namespace qv {

class CMainFrame;
class CMountRouter;
class CQuorvaneDoc;
class CRecentFileList;
class CWin32ModalUI;
class CWin32Registry;
class CWin32Settings;
class IModalUI;
class IRegistry;

class CQuorvaneApp : public CCmdTarget {
public:
    // The desktop program: this computer's registry, Win32's modal windows,
    // the user's settings under HKEY_CURRENT_USER\Software\Quorvane.
    CQuorvaneApp();
    // Tests: `ui` and `registry` are used as they are (not owned); the
    // settings live under HKEY_CURRENT_USER\`settingsKey`.
    CQuorvaneApp(IModalUI& ui, IRegistry& registry, const std::string& settingsKey);
    ~CQuorvaneApp() override;

    CQuorvaneApp(const CQuorvaneApp&) = delete;
    CQuorvaneApp& operator=(const CQuorvaneApp&) = delete;

    // Builds the document, the frame and its four panes, puts the window
    // where it was last time, and shows it when `show`. Once the message
    // loop runs, it does what `commandLine` asks (see RunCommandLine).
    void InitInstance(bool show = true, const CommandLine& commandLine = {});
    // The message loop, until the window closes; the exit code.
    int Run();
    // Handles the messages waiting now, accelerators first; false once the loop was asked to quit.
    bool PumpMessages();

    // Two sides open as an accepted Open opens them, without its dialog (the
    // files among them join the recent files); one side starts the Open
    // dialog with the Master set to it. Then the key to select is selected,
    // and with a screenshot file the window's picture is saved there (a
    // bitmap) and the program quits.
    void RunCommandLine(const CommandLine& commandLine);
    // Selects the key at `path` ("HKEY_LOCAL_MACHINE\SOFTWARE", names in any
    // case) in both trees, loading levels on the way.
    void SelectKey(const std::string& path);
    // Writes the window as the screen shows it to `path`, a 24-bit .bmp file.
    bool SaveScreenshot(const std::string& path) const;

    CMainFrame* GetMainFrame() const { return m_pFrame.get(); }
    CQuorvaneDoc* GetDocument() const { return m_pDoc.get(); }
    CWin32Settings& Settings() const { return *m_pSettings; }
    CRecentFileList& RecentFiles() const { return *m_pRecentFiles; }

    // About, About Us and Print Setup.
    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI& cmdUI) override;

private:
    void CreatePanes();

    const bool m_bDesktop;
    std::unique_ptr<CWin32ModalUI> m_pWin32Ui;
    std::unique_ptr<CWin32Registry> m_pLocal;
    std::unique_ptr<CMountRouter> m_pRouter;  // over m_pLocal
    IModalUI* m_pUi = nullptr;
    IRegistry* m_pRegistry = nullptr;
    std::unique_ptr<CWin32Settings> m_pSettings;
    std::unique_ptr<CRecentFileList> m_pRecentFiles;
    std::unique_ptr<CQuorvaneDoc> m_pDoc;
    std::unique_ptr<CMainFrame> m_pFrame;
    CUndoJournal m_journal;  // the program on screen records every change to a side here
    bool m_bQuit = false;
    int m_nExitCode = 0;
};

}  // namespace qv
