#include "app/quorvane_doc.h"

#include "compare/ignore_list.h"

#include <algorithm>
#include <cctype>

#include "dialogs/open_dlg.h"
#include "dialogs/tree_choice_dlg.h"
#include "panes/tree_pane.h"
#include "dialogs/walk_dialogs.h"
#include "dialogs/edit_dialogs.h"
#include "edit/key_edit.h"
#include "panes/value_pane.h"
#include "files/tree_file.h"
#include "files/tree_printer.h"
#include "model/loader.h"
#include "model/text_encoding.h"
#include "compare/diff_output.h"

namespace qv {

namespace {

// Root keys of a live side, in the order they are offered.
const RootName kLiveRoots[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},   {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
};

}  // namespace

CQuorvaneDoc::CQuorvaneDoc(IRegistry& registry, IModalUI& ui) : m_registry(registry), m_ui(ui) {}

CQuorvaneDoc::~CQuorvaneDoc() {
    if (m_onSidesChanging) m_onSidesChanging();
    for (CView* view : m_viewList) {
        view->OnTreesDiscarding();
        view->m_pDocument = nullptr;
    }
    m_pSlaveRoot.reset();
    m_pMasterRoot.reset();
    if (auto* mounts = dynamic_cast<IRegistryMounts*>(&m_registry))
        for (const std::string& name : m_mounted) mounts->Unmount(name);
}

int CQuorvaneDoc::BuildSide(std::unique_ptr<KeyNode>& root, const std::string& name, int kind,
                            std::string* readOnlyOut) {
    root.reset();
    std::string readOnly;
    if (kind == kSourceFile || kind == kSourceRegistryFile) {
        kind = kSourceFile;
        std::unique_ptr<IRegistry> registry;
        std::string error;
        if (m_openRegistryFile && m_openRegistryFile(name, registry, readOnly, error)) {
            auto* mounts = dynamic_cast<IRegistryMounts*>(&m_registry);
            if (registry == nullptr || mounts == nullptr) {
                m_ui.MessageBox(registry == nullptr ? error : name + ": registry files cannot be opened here.",
                                MB_OK | MB_ICONERROR);
                return kind;
            }
            // The side reaches it as a computer named by the path.
            if (std::find(m_mounted.begin(), m_mounted.end(), name) == m_mounted.end()) {
                mounts->Mount(name, std::move(registry));
                m_mounted.push_back(name);
            }
            kind = kSourceRegistryFile;
            if (!readOnly.empty()) readOnly = "The side " + name + " is read-only: " + readOnly + ". Nothing was changed.";
            if (readOnlyOut != nullptr) *readOnlyOut = readOnly;
        }
    }
    root = std::make_unique<KeyNode>(kind == kSourceLocal ? std::string("local_computer") : name);
    if (!IsLiveKind(kind)) {
        if (!LoadFromFile(name, root.get())) root.reset();
        return kind;
    }
    const std::string computer = kind == kSourceLocal ? std::string() : name;
    for (const RootName& r : kLiveRoots) {
        const LONG status = AddRoot(root.get(), m_registry, computer, r.handle, r.name);
        // A registry file has the roots its files give; this computer and
        // others always have HKEY_CLASSES_ROOT.
        if (status != 0 && r.handle == HKEY_CLASSES_ROOT && kind != kSourceRegistryFile) {
            AfxMessageBox(m_ui, IDS_UNABLE_OPEN_REGISTRY, MB_OK | MB_ICONERROR);
            root.reset();
            return kind;
        }
    }
    if (kind == kSourceRegistryFile && root->subkeys.empty()) {
        m_ui.MessageBox(name + ": the file holds no key.", MB_OK | MB_ICONERROR);
        root.reset();
        return kind;
    }
    if (kind == kSourceNetwork) RememberComputer(computer);
    return kind;
}

std::string CQuorvaneDoc::ReadOnlyReason(int pane) const {
    return IsSlavePane(pane) ? m_slaveReadOnly : m_masterReadOnly;
}

LONG CQuorvaneDoc::CheckComputer(const std::string& computer) {
    if (m_checkComputer) return m_checkComputer(computer);
    HKEY connected = nullptr;
    const LONG status = m_registry.RegConnectRegistryA(computer.c_str(), HKEY_LOCAL_MACHINE, &connected);
    if (status == ERROR_SUCCESS) m_registry.RegCloseKey(connected);
    return status;
}

void CQuorvaneDoc::RememberComputer(const std::string& computer) {
    // Names differ only in case for the same computer.
    const auto same = [&computer](const std::string& other) {
        return std::equal(other.begin(), other.end(), computer.begin(), computer.end(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                      std::tolower(static_cast<unsigned char>(b)); });
    };
    std::erase_if(m_recentComputers, same);
    m_recentComputers.insert(m_recentComputers.begin(), computer);
    if (m_recentComputers.size() > kMaxRecentComputers) m_recentComputers.resize(kMaxRecentComputers);
    if (m_onRecentComputers) m_onRecentComputers(m_recentComputers);
}

bool CQuorvaneDoc::LoadFromFile(const std::string& path, KeyNode* top) {
    try {
        CStdioFile file(path, CStdioFile::modeRead | CStdioFile::typeText);
        int result = 0;
        m_ui.RunWithProgress("Reading " + path + " ...",
                             [&](IProgress& progress) { result = ReadTreeFile(top, file, &progress); });
        file.Close();
        if (result == kTreeFileCancelled) return false;  // the side stays empty, without a message
        if (result != 0) {
            AfxMessageBox(m_ui, IDS_FILE_FORMAT_ERROR, MB_OK | MB_ICONERROR);
            return false;
        }
        return true;
    } catch (const CFileException& e) {
        std::string text = e.GetErrorMessage();
        if (text.empty()) text = LoadString(IDS_READ_ERROR);
        m_ui.MessageBox(text, MB_OK | MB_ICONERROR);
        return false;
    }
}

void CQuorvaneDoc::OnFileSelect() {
    COpenDlg dlg;
    dlg.m_recentComputers = m_recentComputers;
    dlg.m_checkComputer = [this](const std::string& computer) { return CheckComputer(computer); };
    dlg.m_nMasterKind = std::min(m_nMasterKind, int{kSourceFile});
    dlg.m_nSlaveKind = std::min(m_nSlaveKind, int{kSourceFile});
    dlg.m_strMaster = m_strMaster;
    dlg.m_strSlave = m_strSlave;
    if (m_ui.DoModal(dlg) != IDOK) return;
    OpenSides(dlg.m_nMasterKind, dlg.m_strMaster, dlg.m_nSlaveKind, dlg.m_strSlave);
}

void CQuorvaneDoc::OpenSides(int masterKind, const std::string& master, int slaveKind, const std::string& slave) {
    if (m_onSidesChanging) m_onSidesChanging();
    m_bSync = 0;
    m_nMasterKind = masterKind;
    m_nSlaveKind = slaveKind;
    m_strMaster = master;
    m_strSlave = slave;

    // Nothing may reach a node of the old trees while they go and while the
    // messages of the rebuild are on screen.
    for (CView* view : m_viewList) view->OnTreesDiscarding();
    m_pPrintRoot = nullptr;

    // Registry files of the sides before are let go first: a hive is
    // written and closed before the same file may be opened again.
    if (auto* mounts = dynamic_cast<IRegistryMounts*>(&m_registry))
        for (const std::string& name : m_mounted) mounts->Unmount(name);
    m_mounted.clear();
    m_slaveReadOnly.clear();
    m_masterReadOnly.clear();
    m_nSlaveKind = BuildSide(m_pSlaveRoot, m_strSlave, m_nSlaveKind, &m_slaveReadOnly);
    m_nMasterKind = BuildSide(m_pMasterRoot, m_strMaster, m_nMasterKind, &m_masterReadOnly);

    int counter = 0;
    for (CView* view : m_viewList) {
        view->m_nPane = counter++;
        if (auto* tree = dynamic_cast<ITreePane*>(view)) tree->PopulateTree();
    }
}


CQuorvaneView* CQuorvaneDoc::TreeView(int index) const {
    return dynamic_cast<CQuorvaneView*>(GetTreePane(index));
}

void CQuorvaneDoc::FollowSelection(KeyNode* node, int pane) {
    if (m_bSync == 0) return;
    CQuorvaneView* follower = TreeView(pane == 0 ? 1 : 0);
    KeyNode* root = pane == 0 ? m_pSlaveRoot.get() : m_pMasterRoot.get();
    if (follower == nullptr || follower->SyncTo(root, node) == 0) {
        m_bSync = 0;
        AfxMessageBox(m_ui, IDS_SYNC_LOST);
    }
}

void CQuorvaneDoc::OnSync() {
    if (m_bSync == 1) {
        m_bSync = 0;
        return;
    }
    m_bSync = 1;
    CQuorvaneView* master = TreeView(0);
    CQuorvaneView* slave = TreeView(1);
    KeyNode* selected = master != nullptr ? master->GetSelectedNode() : nullptr;
    if (slave == nullptr || slave->SyncTo(m_pSlaveRoot.get(), selected) == 0) {
        m_bSync = 0;
        AfxMessageBox(m_ui, IDS_SYNC_LOST);
    }
}

void CQuorvaneDoc::OnCompare() {
    CCompareDlg dlg;
    if (m_ui.DoModal(dlg) != IDOK) return;
    CQuorvaneView* master = TreeView(0);
    CQuorvaneView* slave = TreeView(1);
    if (master == nullptr || slave == nullptr) return;
    // A cancelled load stops the command.
    if (dlg.m_bLoadFirst && (!master->ReadSubtree() || !slave->ReadSubtree())) return;
    // Without a Master key there is nothing to walk against.
    KeyNode* masterNode = master->GetSelectedNode();
    if (masterNode == nullptr) {
        AfxMessageBox(m_ui, IDS_SELECT_MASTER);
        return;
    }
    CIgnoreList ignore;
    if (!LoadIgnoreList(ignore)) return;
    int finished;
    {
        CWaitCursor wait(m_ui);
        finished = slave->Compare(masterNode, master, &ignore);
    }
    // Only a walk that went to its end may say there is nothing more.
    if (finished == 1) AfxMessageBox(m_ui, IDS_NO_MORE_DIFFERENCES);
}

bool CQuorvaneDoc::LoadIgnoreList(CIgnoreList& list) {
    std::string error;
    if (list.Load({}, error)) return true;
    m_ui.MessageBox(error, MB_OK | MB_ICONERROR);
    return false;
}

void CQuorvaneDoc::OnFind() {
    CFindDlg dlg;
    if (m_ui.DoModal(dlg) != IDOK) return;
    CQuorvaneView* pane = TreeView(dlg.m_nSide == 0 ? 0 : 1);
    if (pane == nullptr) return;
    if (dlg.m_bLoadFirst && !pane->ReadSubtree()) return;
    CWaitCursor wait(m_ui);
    pane->Find(dlg.m_strText, dlg.m_bFindKey, dlg.m_bFindValue);
}

void CQuorvaneDoc::OnReadSubtree() {
    CReadTreeDlg dlg;
    if (m_ui.DoModal(dlg) != IDOK) return;
    if (dlg.m_nChoice == kChoiceMasterSubtree) {
        if (CQuorvaneView* pane = TreeView(0)) pane->ReadSubtree();
    } else if (dlg.m_nChoice == kChoiceSlaveSubtree) {
        if (CQuorvaneView* pane = TreeView(1)) pane->ReadSubtree();
    }
}

void CQuorvaneDoc::OnAddKey() {
    CAddKeyDlg dlg;
    if (m_ui.DoModal(dlg) != IDOK) return;
    if (CQuorvaneView* slave = TreeView(1)) slave->AddKey(dlg.m_strName);
}

void CQuorvaneDoc::OnAddValue() {
    CAddValueDlg dlg;
    if (m_ui.DoModal(dlg) != IDOK) return;
    CQuorvaneView* slave = TreeView(1);
    if (slave == nullptr) return;
    if (dlg.m_nType == 1) slave->AddNumberValue(dlg.m_strName, ParseNumberLikeAtol(dlg.m_strValue));
    else slave->AddStringValue(dlg.m_strName, dlg.m_strValue);
}

void CQuorvaneDoc::OnDeleteKey() {
    if (AfxMessageBox(m_ui, IDS_CONFIRM_DELETE, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    if (CQuorvaneView* slave = TreeView(1)) slave->DeleteKey();
}

void CQuorvaneDoc::OnDeleteValue() {
    auto* values = dynamic_cast<CRegListView*>(GetValuePane(1));
    const int row = values != nullptr ? values->GetFirstSelectedRow() : -1;
    if (row < 0) {
        AfxMessageBox(m_ui, IDS_SELECT_VALUE);
        return;
    }
    if (AfxMessageBox(m_ui, IDS_CONFIRM_DELETE, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    if (CQuorvaneView* slave = TreeView(1)) slave->DeleteValues(row);
}

void CQuorvaneDoc::OnDeleteAllValues() {
    if (AfxMessageBox(m_ui, IDS_CONFIRM_DELETE, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    if (CQuorvaneView* slave = TreeView(1)) slave->DeleteValues(-1);
}

void CQuorvaneDoc::OnCopy() {
    CCopyDlg dlg;
    if (m_ui.DoModal(dlg) != IDOK) return;
    CQuorvaneView* master = TreeView(0);
    CQuorvaneView* slave = TreeView(1);
    if (master == nullptr || slave == nullptr) return;
    if (dlg.m_bLoadFirst && !master->ReadSubtree(true)) return;
    KeyNode* source = master->GetSelectedNode();
    if (source == nullptr) {
        AfxMessageBox(m_ui, IDS_SELECT_MASTER);
        return;
    }
    slave->CopyFromMaster(source, dlg.m_bOverwrite, dlg.m_bRecursive);
}

void CQuorvaneDoc::OnFileSaveTree() {
    CSaveTreeDlg dlg;
    if (m_ui.DoModal(dlg) != IDOK) return;
    std::string path;
    if (!m_ui.GetFileName(TreeFileRequest(false), path)) return;
    KeyNode* node = nullptr;
    switch (dlg.m_nChoice) {
    case kChoiceMasterTree: node = m_pMasterRoot.get(); break;
    case kChoiceSlaveTree: node = m_pSlaveRoot.get(); break;
    case kChoiceMasterSubtree:
        node = TreeView(0) != nullptr ? TreeView(0)->GetSelectedNode() : nullptr;
        if (node == nullptr) {
            AfxMessageBox(m_ui, IDS_SELECT_MASTER);
            return;
        }
        break;
    case kChoiceSlaveSubtree:
        node = TreeView(1) != nullptr ? TreeView(1)->GetSelectedNode() : nullptr;
        if (node == nullptr) {
            AfxMessageBox(m_ui, IDS_SELECT_SLAVE);
            return;
        }
        break;
    default: return;
    }
    if (node != nullptr) SaveToFile(path, node);
}

void CQuorvaneDoc::SaveToFile(const std::string& path, KeyNode* node) {
    try {
        CStdioFile file(path, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::modeReplace |
                                  CStdioFile::typeText);
        SaveTree(node, file);
        file.Close();
        // Saved, but not all of it can come back: the user must know.
        if (const std::size_t unkept = CountUnkeptValues(node); unkept != 0)
            m_ui.MessageBox(std::to_string(unkept) +
                                " value(s) could not be kept whole: a tree file keeps REG_SZ text on one line and "
                                "REG_DWORD numbers only.",
                            MB_OK | MB_ICONWARNING);
    } catch (const CFileException& e) {
        std::string text = e.GetErrorMessage();
        if (text.empty()) text = LoadString(IDS_WRITE_ERROR);
        m_ui.MessageBox(text, MB_OK | MB_ICONERROR);
    }
}

int CQuorvaneDoc::ChoosePrintRoot() {
    CPrintTreeDlg dlg;
    if (m_ui.DoModal(dlg) != IDOK) return 0;
    m_pPrintRoot = nullptr;
    switch (dlg.m_nChoice) {
    case kChoiceMasterTree: m_pPrintRoot = m_pMasterRoot.get(); break;
    case kChoiceSlaveTree: m_pPrintRoot = m_pSlaveRoot.get(); break;
    case kChoiceMasterSubtree: m_pPrintRoot = TreeView(0) ? TreeView(0)->GetSelectedNode() : nullptr; break;
    case kChoiceSlaveSubtree: m_pPrintRoot = TreeView(1) ? TreeView(1)->GetSelectedNode() : nullptr; break;
    default: break;
    }
    if (m_pPrintRoot == nullptr) {
        AfxMessageBox(m_ui, IDS_SELECT_SUBTREE);
        return 0;
    }
    return 1;
}

bool CQuorvaneDoc::OnPrintCommand(UINT id) {
    PrintMode mode;
    switch (id) {
    case ID_FILE_PRINT: mode = PrintMode::Dialog; break;
    case ID_FILE_PRINT_DIRECT: mode = PrintMode::Direct; break;
    case ID_FILE_PRINT_PREVIEW: mode = PrintMode::Preview; break;
    default: return false;
    }
    if (ChoosePrintRoot() != 1) return true;
    KeyNode* root = m_pPrintRoot;
    m_ui.Print([root](CDC& dc) { PrintTree(root, dc); }, mode);
    return true;
}

bool CQuorvaneDoc::OnCmdMsg(UINT id) {
    switch (id) {
    case ID_FILE_SELECT: OnFileSelect(); return true;
    case ID_COMPARE: OnCompare(); return true;
    case ID_FIND: OnFind(); return true;
    case ID_READ_SUBTREE: OnReadSubtree(); return true;
    case ID_SYNC: OnSync(); return true;
    case ID_ADD_KEY: OnAddKey(); return true;
    case ID_ADD_VALUE: OnAddValue(); return true;
    case ID_DELETE_KEY: OnDeleteKey(); return true;
    case ID_DELETE_VALUE: OnDeleteValue(); return true;
    case ID_DELETE_ALL_VALUES: OnDeleteAllValues(); return true;
    case ID_COPY: OnCopy(); return true;
    case ID_FILE_SAVE_TREE: OnFileSaveTree(); return true;
    case ID_EDIT_UNDO: OnEditUndo(); return true;
    case ID_SAVE_UNDO: OnSaveUndo(); return true;
    default: return false;
    }
}

bool CQuorvaneDoc::OnUpdateCmdUI(CCmdUI& cmdUI) {
    switch (cmdUI.m_nID) {
    case ID_FILE_SELECT: cmdUI.Enable(true); return true;
    case ID_FILE_SAVE_TREE:
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_DIRECT:
    case ID_FILE_PRINT_PREVIEW:
    case ID_COMPARE:
    case ID_FIND:
    case ID_READ_SUBTREE: cmdUI.Enable(BothTrees()); return true;
    case ID_ADD_KEY:
    case ID_ADD_VALUE:
    case ID_DELETE_KEY:
    case ID_DELETE_VALUE:
    case ID_DELETE_ALL_VALUES:
    case ID_COPY: cmdUI.Enable(SlaveWritable()); return true;
    case ID_SYNC:
        cmdUI.Enable(BothTrees());
        cmdUI.SetCheck(BothTrees() && m_bSync == 1 ? 1 : 0);
        return true;
    case ID_EDIT_UNDO:
    case ID_SAVE_UNDO: {
        const bool some = m_pJournal != nullptr && !m_pJournal->Undoable().empty();
        cmdUI.Enable(some);
        if (cmdUI.m_nID == ID_EDIT_UNDO)
            cmdUI.SetText(some ? "&Undo " + m_pJournal->Undoable().back().description : std::string("&Undo"));
        return true;
    }
    default: return false;
    }
}

namespace {

std::string JoinPath(const std::string& key, const std::string& path) {
    if (path.empty()) return key;
    return key.empty() ? path : key + '\\' + path;
}

std::string ParentPath(const std::string& path) {
    const std::size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string Counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What acting on rows does to the Slave, for the question before it.
class CActionPlan {
public:
    void DeleteKey(const std::string& path, const KeyNode* key) {
        ++m_keysDeleted;
        m_keysBelow += key != nullptr ? CountKeys(*key) - 1 : 0;
        m_deletions.push_back("delete key " + path);
    }
    void MakeKey(const std::string& path, const KeyNode* key) {
        m_keysMade += key != nullptr ? CountKeys(*key) : 1;
        m_others.push_back("make key " + path);
    }
    void SetValue(const std::string& path, const std::string& name) {
        ++m_valuesSet;
        m_others.push_back("set value " + DisplayName(name) + " in " + path);
    }
    void DeleteValue(const std::string& path, const std::string& name) {
        ++m_valuesDeleted;
        m_deletions.push_back("delete value " + DisplayName(name) + " in " + path);
    }
    void LeaveCase() { ++m_caseOnly; }
    bool Empty() const { return m_deletions.empty() && m_others.empty(); }

    // "It deletes 1 key (and the 2 keys below it), makes ...:" and the
    // first few paths, deletions first.
    std::string Text() const {
        std::vector<std::string> parts;
        if (m_keysDeleted > 0)
            parts.push_back("deletes " + Counted(m_keysDeleted, "key", "keys") +
                            (m_keysBelow > 0 ? " (and the " + Counted(m_keysBelow, "key", "keys") + " below them)" : ""));
        if (m_keysMade > 0) parts.push_back("makes " + Counted(m_keysMade, "key", "keys"));
        if (m_valuesSet > 0) parts.push_back("sets " + Counted(m_valuesSet, "value", "values"));
        if (m_valuesDeleted > 0) parts.push_back("deletes " + Counted(m_valuesDeleted, "value", "values"));
        std::string text = "It ";
        for (std::size_t i = 0; i < parts.size(); ++i)
            text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
        text += ":\n";
        std::vector<std::string> lines = m_deletions;
        lines.insert(lines.end(), m_others.begin(), m_others.end());
        constexpr std::size_t kShown = 5;
        for (std::size_t i = 0; i < lines.size() && i < kShown; ++i) text += "    " + lines[i] + "\n";
        if (lines.size() > kShown) text += "    ... and " + std::to_string(lines.size() - kShown) + " more\n";
        return text + CaseText();
    }
    std::string CaseText() const {
        if (m_caseOnly == 0) return {};
        return "\n" +
               Counted(m_caseOnly, "name differs only in case and stays", "names differ only in case and stay") +
               " as the Slave spells them: the registry keeps one name whatever its case.\n";
    }

private:
    std::size_t m_keysDeleted = 0, m_keysBelow = 0, m_keysMade = 0, m_valuesSet = 0, m_valuesDeleted = 0, m_caseOnly = 0;
    std::vector<std::string> m_deletions, m_others;
};

// What acting on one row does: delete the Slave's entry, copy the Master's,
// or nothing.
enum class RowAction { kNone, kDelete, kCopy };

RowAction ActionFor(const DiffRow& row, bool copy) {
    const bool slaveHas = row.kind != DiffKind::kKeyOnlyInMaster && row.kind != DiffKind::kValueOnlyInMaster;
    if (!copy) return slaveHas ? RowAction::kDelete : RowAction::kNone;
    switch (row.kind) {
    case DiffKind::kKeyOnlyInSlave:
    case DiffKind::kValueOnlyInSlave: return RowAction::kDelete;
    case DiffKind::kNameCase:
    case DiffKind::kSameKey:
    case DiffKind::kSameValue: return RowAction::kNone;
    default: return RowAction::kCopy;
    }
}

}  // namespace

bool CQuorvaneDoc::ChooseDifferencesPair(std::string& masterKey, std::string& slaveKey) {
    std::string selected[2];
    for (int side = 0; side < 2; ++side) {
        const CQuorvaneView* pane = TreeView(side);
        const KeyNode* node = pane != nullptr ? pane->GetSelectedNode() : nullptr;
        if (node == nullptr || node->parent == nullptr) {
            m_ui.MessageBox("Select a key in the Master tree and one in the Slave tree first.", MB_OK | MB_ICONINFORMATION);
            return false;
        }
        selected[side] = KeyPathOf(node);
    }
    // A row's reveal moves the selections apart; that is no new pair.
    const bool revealed = !m_diffPair[0].empty() && selected[0] == m_diffRevealed[0] && selected[1] == m_diffRevealed[1];
    const std::string pair[2] = {revealed ? m_diffPair[0] : selected[0], revealed ? m_diffPair[1] : selected[1]};
    if (FoldNameAnyScript(LeafName(pair[0])) != FoldNameAnyScript(LeafName(pair[1])) &&
        m_ui.MessageBox("The Master key " + pair[0] + " and the Slave key " + pair[1] +
                            " have different names.\n\nList the differences between these two keys all the same?",
                        MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    masterKey = m_diffPair[0] = pair[0];
    slaveKey = m_diffPair[1] = pair[1];
    m_diffRevealed[0].clear();
    m_diffRevealed[1].clear();
    return true;
}

const KeyNode* CQuorvaneDoc::FindSideKey(int side, const std::string& keyPath) {
    CQuorvaneView* pane = TreeView(side);
    KeyNode* root = SideRoot(side);
    if (pane == nullptr || root == nullptr || keyPath.empty()) return nullptr;
    return pane->FindPath(root, keyPath + '\\');
}

void CQuorvaneDoc::RevealDifference(const DiffRow& row, const std::string& masterKey, const std::string& slaveKey) {
    const std::string value = row.ValueName();
    const std::string slaveValue = row.IsValue() && row.slave != nullptr ? std::string(row.slave->Name()) : value;
    for (int side = 0; side < 2; ++side) {
        CQuorvaneView* pane = TreeView(side);
        const std::string& key = side == 0 ? masterKey : slaveKey;
        const std::string& below = side == 0 ? row.path : row.slavePath;
        std::string path = JoinPath(key, below);
        // A key only one side has: the other side shows the key it would be in.
        const bool has = side == 0 ? row.kind != DiffKind::kKeyOnlyInSlave : row.kind != DiffKind::kKeyOnlyInMaster;
        if (!row.IsValue() && !has) path = JoinPath(key, ParentPath(below));
        if (pane == nullptr) continue;
        pane->Reveal(path, row.IsValue() ? (side == 0 ? &value : &slaveValue) : nullptr);
        const KeyNode* shown = pane->GetSelectedNode();
        m_diffRevealed[side] = shown != nullptr ? KeyPathOf(shown) : std::string();
    }
    m_diffPair[0] = masterKey;
    m_diffPair[1] = slaveKey;
}

std::vector<std::size_t> CQuorvaneDoc::ActOnDifferences(const std::vector<const DiffRow*>& rows, bool copy,
                                                        const std::string& masterKey, const std::string& slaveKey) {
    CQuorvaneView* master = TreeView(0);
    CQuorvaneView* slave = TreeView(1);
    if (rows.empty() || master == nullptr || slave == nullptr) return {};
    if (!SlaveWritable()) {
        AfxMessageBox(m_ui, IDS_CANT_MODIFY_FILE);
        return {};
    }
    if (RefuseWrite(1)) return {};

    CActionPlan plan;
    for (const DiffRow* row : rows) {
        const std::string keyPath = JoinPath(slaveKey, row->slavePath);
        const RowAction action = ActionFor(*row, copy);
        if (action == RowAction::kNone && row->kind == DiffKind::kNameCase) plan.LeaveCase();
        if (action == RowAction::kNone) continue;
        if (!row->IsValue()) {
            if (action == RowAction::kDelete) plan.DeleteKey(keyPath, row->slaveKey);
            else plan.MakeKey(keyPath, row->masterKey);
        } else if (action == RowAction::kDelete) {
            plan.DeleteValue(keyPath, std::string(row->slave->Name()));
        } else {
            plan.SetValue(keyPath, row->ValueName());
        }
    }
    const std::string entries = rows.size() == 1 ? std::string("selected entry") : Counted(rows.size(), "selected entry", "selected entries");
    if (plan.Empty()) {
        m_ui.MessageBox("Nothing in the Slave changes for the " + entries + ".\n" + plan.CaseText(), MB_OK | MB_ICONINFORMATION);
        return {};
    }
    const std::string question = (copy ? "Make the Slave's " + entries + " equal the Master's?"
                                       : "Delete the Slave's " + entries + "?") +
                                 "\n\n" + plan.Text();
    if (m_ui.MessageBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) return {};

    // One journal entry for them all.
    std::vector<ChangeScope> scopes;
    for (const DiffRow* row : rows)
        if (ActionFor(*row, copy) != RowAction::kNone) scopes.push_back({JoinPath(slaveKey, row->slavePath), !row->IsValue()});
    CChangeGuard change(this, 1,
                        std::string(copy ? "Copy to Slave" : "Delete from Slave") + " (" +
                            Counted(rows.size(), "entry", "entries") + " below " + slaveKey + ")",
                        std::move(scopes));
    if (!change.Ok()) return {};
    CWaitCursor wait(m_ui);
    std::vector<std::size_t> done;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DiffRow& row = *rows[i];
        const std::string keyPath = JoinPath(slaveKey, row.slavePath);
        const RowAction action = ActionFor(row, copy);
        if (action == RowAction::kNone) continue;
        if (!row.IsValue() && action == RowAction::kDelete) {
            if (slave->Reveal(keyPath) != nullptr) slave->DeleteKey();
            if (slave->Reveal(ParentPath(keyPath)) != nullptr && slave->FindPath(SideRoot(1), keyPath + '\\') == nullptr)
                done.push_back(i);
        } else if (!row.IsValue()) {
            // The Master's key with its whole subtree, read afresh, appended
            // to the Slave key it belongs in.
            KeyNode* source = master->Reveal(JoinPath(masterKey, row.path));
            if (source == nullptr || !master->ReadSubtree(true)) continue;
            if (slave->Reveal(ParentPath(keyPath)) != nullptr) slave->CopyFromMaster(source, 0, 1);
            if (slave->Reveal(keyPath) != nullptr) done.push_back(i);
        } else {
            // The Slave's value by the name it has there, else the Master's.
            const std::string valueName = row.slave != nullptr ? std::string(row.slave->Name()) : row.ValueName();
            KeyNode* key = slave->Reveal(keyPath, &valueName);
            if (key == nullptr) continue;
            if (action == RowAction::kDelete) {
                for (std::size_t v = 0; v < key->values.size(); ++v)
                    if (key->values[v]->Name() == valueName) {
                        slave->DeleteValues(static_cast<int>(v));
                        break;
                    }
            } else {
                slave->AddValue(std::make_unique<ValueEntry>(*row.master));
            }
            // Done when the Slave's key now holds what the Master's does.
            const ValueEntry* now = nullptr;
            for (const auto& v : key->values)
                if (SameName(v->Name(), valueName)) now = v.get();
            const bool agrees = action == RowAction::kDelete
                                    ? now == nullptr
                                    : now != nullptr && now->type == row.master->type && now->data == row.master->data;
            if (agrees) done.push_back(i);
        }
    }
    return done;
}

}  // namespace qv
