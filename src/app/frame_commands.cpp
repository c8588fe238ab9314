#include "app/frame_commands.h"

#include <algorithm>
#include <iterator>

#include "app/differences_run.h"
#include "app/quorvane_doc.h"
#include "dialogs/about_dlg.h"
#include "files/stdio_file.h"
#include "model/text_encoding.h"
#include "panes/tree_pane.h"

namespace qv {

namespace {

// Commands that work on the sides' trees.
constexpr UINT kNeedSides[] = {
    ID_FILE_SAVE_TREE, ID_FILE_PRINT, ID_ADD_KEY, ID_ADD_VALUE, ID_DELETE_KEY, ID_DELETE_VALUE,
    ID_DELETE_ALL_VALUES, ID_SYNC, ID_COPY, ID_READ_SUBTREE, ID_FIND, ID_COMPARE, ID_DIFFERENCES, ID_VIEW_DATA,
};

bool NeedsSides(UINT id) { return std::find(std::begin(kNeedSides), std::end(kNeedSides), id) != std::end(kNeedSides); }

// Whether the document has accepted an Open: it numbers the panes then.
bool HasOpened(const CQuorvaneDoc& doc) {
    for (const CView* view : doc.GetViews())
        if (view->m_nPane >= 0) return true;
    return false;
}

}  // namespace

bool RouteCommand(CQuorvaneDoc& doc, CView* activePane, CCmdTarget& frame, CCmdTarget* app, UINT id) {
    if (activePane != nullptr && activePane->OnCmdMsg(id)) return true;
    if (doc.OnCmdMsg(id)) return true;
    if (frame.OnCmdMsg(id)) return true;
    return app != nullptr && app->OnCmdMsg(id);
}

CCmdUI CommandState(CQuorvaneDoc& doc, CView* activePane, CCmdTarget& frame, CCmdTarget* app, UINT id) {
    CCmdUI state(id);
    // Until an Open there is nothing for the program's commands to work on.
    if (NeedsSides(id) && !HasOpened(doc)) {
        state.Enable(false);
        return state;
    }
    const bool handled = (activePane != nullptr && activePane->OnUpdateCmdUI(state)) || doc.OnUpdateCmdUI(state) ||
                         frame.OnUpdateCmdUI(state) || (app != nullptr && app->OnUpdateCmdUI(state));
    if (!handled) state.Enable(false);
    return state;
}

bool AppCommand(IModalUI& ui, UINT id) {
    switch (id) {
    case ID_APP_ABOUT: {
        CAboutDlg dlg;
        ui.DoModal(dlg);
        return true;
    }
    case ID_ABOUT_US: {
        CAboutUsDlg dlg;
        ui.DoModal(dlg);
        return true;
    }
    case ID_FILE_PRINT_SETUP: ui.PrintSetup(); return true;
    default: return false;
    }
}

bool AppCommandState(CCmdUI& cmdUI) {
    switch (cmdUI.m_nID) {
    case ID_APP_ABOUT:
    case ID_ABOUT_US:
    case ID_FILE_PRINT_SETUP: cmdUI.Enable(true); return true;
    default: return false;
    }
}

void ActOnDifferenceRows(CQuorvaneDoc& doc, const std::unique_ptr<CDifferencesRun>& run,
                         const std::vector<std::size_t>& selected, bool copy) {
    const CDifferencesRun* acted = run.get();
    std::vector<const DiffRow*> rows;
    for (std::size_t i : selected) rows.push_back(&run->Rows().at(i));
    const std::vector<std::size_t> done = doc.ActOnDifferences(rows, copy, run->MasterName(), run->SlaveName());
    // A message box after the change runs the event loop, and with it
    // perhaps the list again: the rows are then the new run's.
    if (run.get() != acted) return;
    std::vector<std::size_t> gone;
    for (std::size_t d : done) gone.push_back(selected.at(d));
    run->Remove(gone);
}

void SaveDifferences(IModalUI& ui, const CDifferencesRun& run, bool patch) {
    FileDialogRequest request;
    request.bOpen = false;
    request.bOverwritePrompt = true;
    request.defaultExtension = patch ? "reg" : "txt";
    request.filterName = patch ? "Registry patch" : "Report";
    request.filterPattern = patch ? "*.reg" : "*.txt";
    std::string path;
    if (!ui.GetFileName(request, path)) return;
    std::string bytes, error;
    if (patch ? !run.Patch(bytes, error) : (bytes = run.Report(), false)) {
        ui.MessageBox("Can't write the patch: " + error + ".", MB_OK | MB_ICONERROR);
        return;
    }
    if (!ReplaceFileContents(path, bytes, error)) ui.MessageBox(error, MB_OK | MB_ICONERROR);
}

void SelectKeyInTrees(CQuorvaneDoc& doc, const std::string& path) {
    for (int side = 0; side < 2; ++side) {
        CQuorvaneView* pane = doc.TreeView(side);
        KeyNode* node = pane == nullptr ? nullptr : pane->SideRoot();
        std::size_t start = 0;
        while (node != nullptr && start <= path.size()) {
            // Selecting a key of a live side loads its level, as a click does.
            pane->GetTreeCtrl().SelectItem(node);
            const std::size_t end = std::min(path.find('\\', start), path.size());
            const std::string name = FoldNameAnyScript(path.substr(start, end - start));
            KeyNode* next = nullptr;
            for (const auto& child : node->subkeys)
                if (next == nullptr && FoldNameAnyScript(child->name) == name) next = child.get();
            node = next;
            start = end + 1;
        }
        if (node != nullptr) pane->GetTreeCtrl().SelectItem(node);
    }
}

}  // namespace qv
