// The document's side of undo: changes recorded in the journal as they
// happen, Undo and Save Undo As, and the entries a crash left.
#include "app/quorvane_doc.h"

#include <algorithm>

#include "files/stdio_file.h"
#include "panes/tree_pane.h"

namespace qv {

bool CQuorvaneDoc::BeginChange(int pane, const std::string& description, std::vector<ChangeScope> scopes) {
    // Nested changes are recorded by the change they are part of.
    if (m_nChangeDepth++ > 0 || m_pJournal == nullptr) return true;
    std::string error;
    if (m_pJournal->Begin(m_registry, SideKind(pane) == kSourceLocal ? std::string() : SideName(pane), description,
                          std::move(scopes), error))
        return true;
    --m_nChangeDepth;
    m_ui.MessageBox(error + " Nothing was changed.", MB_OK | MB_ICONERROR);
    return false;
}

void CQuorvaneDoc::EndChange(int /*pane*/) {
    if (m_nChangeDepth == 0 || --m_nChangeDepth > 0) return;
    if (m_pJournal != nullptr) m_pJournal->End(m_registry);
    if (m_onSlaveChanged) m_onSlaveChanged();
}

void CQuorvaneDoc::OnEditUndo() {
    if (m_pJournal == nullptr || m_pJournal->Undoable().empty()) return;
    const CUndoJournal::Entry entry = m_pJournal->Undoable().back();
    if (m_ui.MessageBox("Undo " + entry.description + "?", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    std::string message;
    bool undone;
    {
        CWaitCursor wait(m_ui);
        undone = m_pJournal->Undo(m_registry, message);
    }
    if (!undone) {
        m_ui.MessageBox(message, MB_OK | MB_ICONERROR);
        return;
    }
    if (m_onSlaveChanged) m_onSlaveChanged();
    // The Slave shows the keys as they are now, when it is the side undone.
    CQuorvaneView* slave = TreeView(1);
    const std::string side = m_nSlaveKind == kSourceLocal ? std::string() : m_strSlave;
    if (slave == nullptr || !IsLiveKind(m_nSlaveKind) || side != entry.computer) return;
    for (const ChangeScope& scope : entry.scopes) {
        // A key the change made or deleted comes back or goes with the key
        // above it; values are read again with their key.
        const std::string shown = scope.subtree ? scope.key.substr(0, scope.key.rfind('\\')) : scope.key;
        KeyNode* node = slave->Reveal(shown);
        if (node != nullptr && node->parent != nullptr) slave->Reload(node);
    }
}

namespace {

// The file dialog for a .reg file to write.
FileDialogRequest RegFileRequest() {
    FileDialogRequest request;
    request.bOpen = false;
    request.bOverwritePrompt = true;
    request.defaultExtension = "reg";
    request.filterName = "Registry file";
    request.filterPattern = "*.reg";
    return request;
}

}  // namespace

void CQuorvaneDoc::OnSaveUndo() {
    if (m_pJournal == nullptr || m_pJournal->Undoable().empty()) return;
    std::string path, bytes, error;
    if (!m_ui.GetFileName(RegFileRequest(), path)) return;
    if (!m_pJournal->ExportRestore(m_pJournal->Undoable().back().number, bytes, error)) {
        m_ui.MessageBox("Can't write the .reg file: " + error + ".", MB_OK | MB_ICONERROR);
        return;
    }
    if (!ReplaceFileContents(path, bytes, error)) m_ui.MessageBox(error, MB_OK | MB_ICONERROR);
}

void CQuorvaneDoc::OfferRecovery() {
    if (m_pJournal == nullptr) return;
    for (const CUndoJournal::Entry& entry : m_pJournal->Unfinished()) {
        const std::string what = "The program ended in the middle of a change: " + entry.description + " (on " +
                                 (entry.computer.empty() ? std::string("this computer") : entry.computer) + ").";
        // A hive file is opened for it, and kept where Undo reaches it as the side of that name.
        IRegistry* registry = &m_registry;
        std::unique_ptr<IRegistry> file;
        std::string message, readOnly;
        if (!entry.computer.empty() && m_openRegistryFile &&
            m_openRegistryFile(entry.computer, file, readOnly, message)) {
            if (file == nullptr) {
                m_ui.MessageBox(what + "\n\n" + message, MB_OK | MB_ICONERROR);
                continue;
            }
            auto* mounts = dynamic_cast<IRegistryMounts*>(&m_registry);
            if (mounts == nullptr) {
                registry = file.get();
            } else if (std::find(m_mounted.begin(), m_mounted.end(), entry.computer) == m_mounted.end()) {
                mounts->Mount(entry.computer, std::move(file));
                m_mounted.push_back(entry.computer);
            }
        }
        std::string preview;
        if (!m_pJournal->PreviewRestore(*registry, entry.number, preview, message)) {
            // Nothing can be done with it here; it is not offered again once let go.
            if (m_ui.MessageBox(what + "\n\nIt cannot be put back: " + message + ".\nIts files are kept: " +
                                    m_pJournal->FileNames(entry.number) +
                                    ".\n\nStop offering it? Choose No to be asked again at the next start.",
                                MB_YESNO | MB_ICONWARNING) == IDYES)
                m_pJournal->Dismiss(entry.number);
            continue;
        }
        const int answer = m_ui.MessageBox(
            what + "\n\n" +
                (preview.empty() ? std::string("The keys are as they were before it: putting them back changes nothing.\n")
                                 : "Putting back the keys as they were before it will:\n" + preview) +
                "\nPut them back? Choose No to save a .reg file that puts them back instead.",
            MB_YESNO | MB_ICONWARNING);
        if (answer == IDYES) {
            if (!m_pJournal->Restore(*registry, entry.number, message)) m_ui.MessageBox(message, MB_OK | MB_ICONERROR);
            continue;
        }
        std::string path, bytes;
        if (!m_ui.GetFileName(RegFileRequest(), path)) continue;  // asked again next time
        if (!m_pJournal->ExportRestore(entry.number, bytes, message)) {
            m_ui.MessageBox("Can't write the .reg file: " + message + ".", MB_OK | MB_ICONERROR);
            continue;
        }
        if (ReplaceFileContents(path, bytes, message)) m_pJournal->Dismiss(entry.number);
        else m_ui.MessageBox(message, MB_OK | MB_ICONERROR);
    }
}

}  // namespace qv
