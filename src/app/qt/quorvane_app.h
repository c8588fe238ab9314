// The program as a whole: start-up, and the commands that belong to no
// window (the About boxes, the printer setup). It owns the registry, the
// modal interface, the settings, the document and the main frame.
#pragma once

#include <memory>
#include <string>

#include <QString>

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

    // Builds the document, the frame and its four panes, and shows the frame
    // when `show`. The desktop program then opens the tree files named in
    // $QUORVANE_OPEN_FILES ("master.qvf:slave.qvf"), selects the key in
    // $QUORVANE_SELECT, and with $QUORVANE_SCREENSHOT set saves a picture of
    // the frame there and quits.
    void InitInstance(bool show = true);

    // Opens two tree files as the Master and Slave sides, as an accepted
    // Open does, without showing its dialog.
    void OpenFiles(const std::string& master, const std::string& slave);
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
    void RunStartupRequests();

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
};

}  // namespace qv
