// The program as a whole: start-up, and the commands that belong to no
// window (the About boxes, the printer setup). It owns the registry, the
// modal interface, the settings, the document and the main frame.
#pragma once

#include "edit/undo_journal.h"

#include <memory>
#include <string>

#include <QString>

#include "app/command_line.h"
#include "framework/cmd_target.h"

class QSettings;

namespace qv {

class CMainFrame;
class CQtModalUI;
class CQuorvaneDoc;
class CRecentFileList;
class IModalUI;
class IRegistry;
class CRegistryRouter;

class CQuorvaneApp : public CCmdTarget {
public:
    // The desktop program: this computer's registry store (or a stand-in,
    // after a warning), Qt's modal windows, the user's settings under
    // "Quorvane". A QApplication must exist.
    CQuorvaneApp();
    // Tests: `ui` and `registry` are used as they are (not owned); the
    // settings live in the INI file `settingsFile`.
    CQuorvaneApp(IModalUI& ui, IRegistry& registry, const QString& settingsFile);
    ~CQuorvaneApp() override;

    CQuorvaneApp(const CQuorvaneApp&) = delete;
    CQuorvaneApp& operator=(const CQuorvaneApp&) = delete;

    // Builds the document, the frame and its four panes, puts the window
    // where it was last time, and shows it when `show`. Once the event loop
    // runs, it does what `commandLine` asks (see RunCommandLine).
    void InitInstance(bool show = true, const CommandLine& commandLine = {});

    // Two sides open as an accepted Open opens them, without its dialog (the
    // files among them join the recent files); one side starts the Open
    // dialog with the Master set to it. Then the key to select is selected,
    // and with a screenshot file the window's picture is saved there and
    // the program quits.
    void RunCommandLine(const CommandLine& commandLine);
    // Selects the key at `path` ("HKEY_LOCAL_MACHINE\SOFTWARE", names in any
    // case) in both trees where it is in memory.
    void SelectKey(const std::string& path);

    CMainFrame* GetMainFrame() const { return m_pFrame.get(); }
    CQuorvaneDoc* GetDocument() const { return m_pDoc.get(); }
    QSettings& Settings() const { return *m_pSettings; }
    CRecentFileList& RecentFiles() const { return *m_pRecentFiles; }

    // About, About Us and Print Setup.
    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI& cmdUI) override;

private:
    void CreatePanes();

    const bool m_bDesktop;
    std::unique_ptr<CQtModalUI> m_pQtUi;
    std::unique_ptr<IRegistry> m_pOwnRegistry;
    std::unique_ptr<CRegistryRouter> m_pRouter;  // over m_pOwnRegistry
    IModalUI* m_pUi = nullptr;
    IRegistry* m_pRegistry = nullptr;
    std::unique_ptr<QSettings> m_pSettings;
    std::unique_ptr<CRecentFileList> m_pRecentFiles;
    std::unique_ptr<CQuorvaneDoc> m_pDoc;
    std::unique_ptr<CMainFrame> m_pFrame;
    CUndoJournal m_journal;  // the program on screen records every change to a side here
};

}  // namespace qv
