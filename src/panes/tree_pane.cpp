#include "panes/tree_pane.h"

#include "framework/document.h"
#include "compare/compare_walk.h"
#include "files/tree_file.h"
#include "edit/copy.h"
#include "edit/key_edit.h"
#include "model/registry_errors.h"
#include "dialogs/walk_dialogs.h"
#include "panes/value_pane.h"
#include "model/loader.h"

namespace qv {

int NodeDepth(const KeyNode* node) { return node->Level() + 1; }

CQuorvaneView::CQuorvaneView(ITreeCtrl& ctrl) : m_ctrl(ctrl) { m_ctrl.SetEvents(this); }

CQuorvaneView::~CQuorvaneView() { m_ctrl.SetEvents(nullptr); }

int CQuorvaneView::SideKind() const { return m_pDocument->SideKind(m_nPane); }
bool CQuorvaneView::IsLive() const { return IsLiveKind(SideKind()); }
// Yellow for this computer, green for another, red for a file of either kind.
int CQuorvaneView::KeyImage() const { return SideKind() < kSourceFile ? 2 * SideKind() : kImageFileKey; }
const std::string& CQuorvaneView::Computer() const { return m_pDocument->SideName(m_nPane); }
KeyNode* CQuorvaneView::SideRoot() const { return m_pDocument->SideRoot(m_nPane); }
IRegistry& CQuorvaneView::Registry() const { return m_pDocument->Registry(); }
IModalUI& CQuorvaneView::Ui() const { return m_pDocument->Ui(); }

CRegListView* CQuorvaneView::GetValuePane() const {
    if (m_pGrid == nullptr) return nullptr;
    return dynamic_cast<CRegListView*>(m_pGrid->GetPane(IsMaster() ? 0 : 1, 1));
}

void CQuorvaneView::ShowValues(KeyNode* node, int pane, int row) {
    CRegListView* values = m_pGrid == nullptr ? nullptr
                                              : dynamic_cast<CRegListView*>(m_pGrid->GetPane(pane == 0 ? 0 : 1, 1));
    if (values != nullptr) values->ShowNode(node, row);
}

bool CQuorvaneView::OnCmdMsg(UINT id) {
    if (id == ID_VIEW_DATA) {
        CRegListView* values = GetValuePane();
        return values != nullptr && values->OnCmdMsg(id);
    }
    // The panes handle the print commands themselves.
    return m_pDocument != nullptr && m_pDocument->OnPrintCommand(id);
}

bool CQuorvaneView::OnUpdateCmdUI(CCmdUI& cmdUI) {
    CRegListView* values = cmdUI.m_nID == ID_VIEW_DATA ? GetValuePane() : nullptr;
    return values != nullptr && values->OnUpdateCmdUI(cmdUI);
}

void CQuorvaneView::OnTreesDiscarding() {
    m_bSelNotify = 0;
    m_ctrl.DeleteAllItems();
    m_bSelNotify = 1;
}

void CQuorvaneView::PopulateTree() {
    ShowValues(nullptr, m_nPane, 0);
    m_bSelNotify = 0;
    m_ctrl.SetVisible(false);
    m_ctrl.DeleteAllItems();
    const int image = KeyImage();
    if (KeyNode* top = SideRoot()) {
        const int rootImage = SideKind() < kSourceFile ? kImageComputer : kImageDocument;
        m_ctrl.InsertRootItem(top, rootImage, rootImage + 1);
        InsertChildItems(top, image);
    }
    m_ctrl.SetVisible(true);
    m_bSelNotify = 1;
}

void CQuorvaneView::InsertChildItems(KeyNode* node, int image) { m_ctrl.InsertChildItems(node, image); }

void CQuorvaneView::OnSelChanged() {
    if (m_bSelNotify == 0 || m_pDocument == nullptr) return;
    KeyNode* node = m_ctrl.GetSelectedNode();
    LONG status = 0;
    if (node != nullptr && IsLive() && LoadLevel(node, Registry(), Computer(), false, &status) == 1) {
        m_ctrl.SetVisible(false);
        InsertChildItems(node, KeyImage());
        m_ctrl.Expand(node);
        m_ctrl.SetVisible(true);
    }
    m_pDocument->FollowSelection(node, m_nPane);
    ShowValues(node, m_nPane, 0);
    TellReadFailure(node, status);
}

void CQuorvaneView::TellReadFailure(const KeyNode* node, LONG status) {
    if (status == 0) return;
    Ui().MessageBox("Can't read the key \"" + FullKeyName(node) + "\": " + RegistryErrorText(status) +
                        ". What is shown may be out of date or incomplete.",
                    MB_OK | MB_ICONERROR);
}

KeyNode* CQuorvaneView::GuardSubtree() {
    KeyNode* node = m_ctrl.GetSelectedNode();
    if (node == nullptr) {
        AfxMessageBox(Ui(), IDS_SELECT_SUBTREE);
        return nullptr;
    }
    if (SideKind() == kSourceFile || m_pDocument->RefuseWrite(m_nPane)) return nullptr;
    const int depth = NodeDepth(node);
    if (depth <= 2) {
        AfxMessageBox(Ui(), IDS_CANT_OPERATE_ROOTS);
        return nullptr;
    }
    if (depth == 3 && AfxMessageBox(Ui(), IDS_CLOSE_TO_ROOT, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return nullptr;
    return node;
}

bool CQuorvaneView::StopAt(KeyNode* node, int row, UINT message) {
    m_ctrl.SelectItem(node);
    m_ctrl.Expand(node);
    ShowValues(node, m_nPane, row);
    CFindResultDlg dlg;
    dlg.m_strMessage = LoadString(message);
    return Ui().DoModal(dlg) == IDOK;
}

int CQuorvaneView::Compare(KeyNode* master, CQuorvaneView* masterPane, const CIgnoreList* ignore) {
    KeyNode* slave = m_ctrl.GetSelectedNode();
    if (slave == nullptr) {
        AfxMessageBox(Ui(), IDS_SELECT_SUBTREE);
        return 0;
    }
    WalkLoad loadMaster;
    if (masterPane != nullptr) loadMaster = [masterPane](KeyNode* n) { masterPane->LoadLevelWithItems(n); };
    return CompareNodes(
        slave, master, [this](KeyNode* n, int row, UINT message) { return StopAt(n, row, message); },
        [this](KeyNode* n) { LoadLevelWithItems(n); }, loadMaster, ignore);
}

int CQuorvaneView::Find(const std::string& text, int matchNames, int matchData) {
    KeyNode* node = m_ctrl.GetSelectedNode();
    if (node == nullptr) {
        AfxMessageBox(Ui(), IDS_SELECT_SUBTREE);
        return 0;
    }
    return FindIn(
        node, text, matchNames != 0, matchData != 0,
        [this](KeyNode* n, int row, UINT message) { return StopAt(n, row, message); },
        [this](KeyNode* n) { LoadLevelWithItems(n); });
}

bool CQuorvaneView::ReadSubtree(bool wholeOnly) {
    KeyNode* node = GuardSubtree();
    return node == nullptr || Reload(node, wholeOnly);
}

bool CQuorvaneView::Reload(KeyNode* node, bool wholeOnly) {
    HKEY root = nullptr;
    std::string path;
    PathOf(node, root, path);
    // Read beside the tree, which stays as it is (and is repainted) while
    // the read goes on, and as it was when the read is cancelled. A key that
    // no longer opens keeps what was read of it before, one that failed part
    // way gets what could be read; either way the user is told.
    LONG status = 0;
    std::unique_ptr<KeyNode> fresh;
    Ui().RunWithProgress("Loading " + FullKeyName(node) + " ...", [&](IProgress& progress) {
        fresh = ReadSubtreeCopy(node, Registry(), Computer(), root, path, status, &progress);
    });
    if (status == ERROR_CANCELLED) return false;
    m_bSelNotify = 0;
    m_ctrl.SetVisible(false);
    m_ctrl.DeleteChildItems(node);
    if (fresh != nullptr) ReplaceContents(node, std::move(fresh));
    InsertChildItems(node, KeyImage());
    m_bSelNotify = 1;
    m_ctrl.SetVisible(true);
    ShowValues(node, m_nPane, 0);
    TellReadFailure(node, status);
    return status == 0 || !wholeOnly;
}

void CQuorvaneView::LoadLevelWithItems(KeyNode* node) {
    LONG status = 0;
    if (IsLive() && LoadLevel(node, Registry(), Computer(), false, &status) == 1) InsertChildItems(node, KeyImage());
    TellReadFailure(node, status);
}

int CQuorvaneView::SyncTo(KeyNode* root, KeyNode* other) {
    if (root == nullptr || other == nullptr) return 0;
    m_bSelNotify = 0;
    m_ctrl.SetVisible(false);
    KeyNode* found = LocateCounterpart(root, other);
    if (found != nullptr) {
        m_ctrl.SelectItem(found);
        m_ctrl.Expand(found);
        ShowValues(found, m_nPane, 0);
    }
    m_ctrl.SetVisible(true);
    m_bSelNotify = 1;
    return found != nullptr ? 1 : 0;
}

KeyNode* CQuorvaneView::Reveal(const std::string& keyPath, const std::string* valueName) {
    KeyNode* top = SideRoot();
    if (top == nullptr) return nullptr;
    m_bSelNotify = 0;
    KeyNode* found = FindPath(top, keyPath + '\\');
    int row = 0;
    if (found != nullptr) {
        m_ctrl.SelectItem(found);
        m_ctrl.Expand(found);
        for (std::size_t i = 0; valueName != nullptr && i < found->values.size(); ++i)
            if (found->values[i]->Name() == *valueName) row = static_cast<int>(i);
        ShowValues(found, m_nPane, row);
    }
    m_bSelNotify = 1;
    return found;
}

KeyNode* CQuorvaneView::LocateCounterpart(KeyNode* root, KeyNode* other) {
    if (other->parent == nullptr) return root;
    // The names from below the other tree's top node down to `other`, each
    // followed by a backslash.
    std::vector<const std::string*> names;
    for (const KeyNode* n = other; n->parent != nullptr; n = n->parent) names.push_back(&n->name);
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path += **it;
        path += '\\';
    }
    return FindPath(root, path);
}

KeyNode* CQuorvaneView::FindPath(KeyNode* node, std::string_view path) {
    // Level by level without recursion; every key on the way is loaded.
    for (;;) {
        const std::size_t slash = path.find('\\');
        const std::string_view head = path.substr(0, slash);
        const std::string_view rest = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        LoadLevelWithItems(node);
        KeyNode* match = nullptr;
        for (const auto& k : node->subkeys)
            if (k->name == head) {
                match = k.get();
                break;
            }
        if (match == nullptr) return nullptr;
        if (rest.empty()) {
            LoadLevelWithItems(match);
            return match;
        }
        node = match;
        path = rest;
    }
}

KeyNode* CQuorvaneView::EditableSelection() {
    KeyNode* node = m_ctrl.GetSelectedNode();
    if (node == nullptr) {
        AfxMessageBox(Ui(), IDS_SELECT_SUBTREE);
        return nullptr;
    }
    if (SideKind() == kSourceFile || m_pDocument->RefuseWrite(m_nPane)) return nullptr;
    return node;
}

void CQuorvaneView::DeleteKey() {
    KeyNode* node = EditableSelection();
    if (node == nullptr) return;
    const int depth = NodeDepth(node);
    if (depth <= 2) {
        AfxMessageBox(Ui(), IDS_CANT_OPERATE_ROOTS);
        return;
    }
    if (depth == 3 && AfxMessageBox(Ui(), IDS_CLOSE_TO_ROOT, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    const std::string key = FullKeyName(node);
    CChangeGuard change(m_pDocument, m_nPane, "Delete Key " + key, {{key, true}});
    if (!change.Ok()) return;

    // Reload first so that keys the tree never showed are deleted too.
    m_bSelNotify = 0;
    m_ctrl.SetVisible(false);
    m_ctrl.DeleteChildItems(node);
    LoadLevel(node, Registry(), Computer(), true);
    std::unique_ptr<KeyNode> detached;
    if (DeleteFromRegistry(node, Registry(), Computer(), &detached) == 0) {
        // Part of the subtree may be gone already: show what is left.
        LoadLevel(node, Registry(), Computer(), true);
        InsertChildItems(node, KeyImage());
        m_ctrl.SetVisible(true);
        m_bSelNotify = 1;
        ShowValues(node, m_nPane, 0);
        AfxMessageBox(Ui(), IDS_CANT_UPDATE_REGISTRY);
        return;
    }
    m_ctrl.SetVisible(true);
    m_bSelNotify = 1;
    // The selection moves on (and the value pane with it) before the node goes.
    m_ctrl.DeleteItem(node);
    CRegListView* values = GetValuePane();
    if (values != nullptr && values->m_pNode == node) values->ShowNode(nullptr, 0);
    detached.reset();
}

void CQuorvaneView::DeleteValues(int index) {
    KeyNode* node = EditableSelection();
    if (node == nullptr) return;
    const std::string key = FullKeyName(node);
    const bool one = index >= 0 && static_cast<std::size_t>(index) < node->values.size();
    CChangeGuard change(m_pDocument, m_nPane,
                        one ? "Delete Value " + DisplayValueName(*node->values[static_cast<std::size_t>(index)]) + " in " + key
                            : "Delete All Values in " + key,
                        {{key, false}});
    if (!change.Ok()) return;
    const int result = DeleteValuesFromRegistry(node, Registry(), Computer(), index);
    // The rows follow memory also when some values could not be deleted.
    ShowValues(node, m_nPane, 0);
    if (result == 0) AfxMessageBox(Ui(), IDS_CANT_UPDATE_REGISTRY);
}

void CQuorvaneView::AddKey(const std::string& name) {
    KeyNode* node = EditableSelection();
    if (node == nullptr) return;
    if (node->parent == nullptr) {
        AfxMessageBox(Ui(), IDS_CANT_OPERATE_ROOTS);
        return;
    }
    if (!IsValidKeyName(name)) {
        Ui().MessageBox("A key name can't be empty or hold a backslash (\\).", MB_OK | MB_ICONERROR);
        return;
    }
    CChangeGuard change(m_pDocument, m_nPane, "Add Key " + FullKeyName(node) + '\\' + name,
                        {{FullKeyName(node) + '\\' + name, true}});
    if (!change.Ok()) return;
    LONG status = 0;
    KeyNode* created = CreateSubkey(node, Registry(), Computer(), name, &status);
    if (created == nullptr) {
        const std::string full = FullKeyName(node) + '\\' + name;
        Ui().MessageBox("Can't create the key \"" + full + "\": " + RegistryErrorText(status),
                        MB_OK | MB_ICONERROR);
        return;
    }
    if (!m_ctrl.HasItem(created)) m_ctrl.InsertItem(created, KeyImage());
    m_ctrl.SelectItem(created);
    m_ctrl.Expand(created);
    ShowValues(created, m_nPane, 0);
}

void CQuorvaneView::AddValue(std::unique_ptr<ValueEntry> entry) {
    KeyNode* node = EditableSelection();
    if (node == nullptr) return;
    if (node->parent == nullptr) {
        AfxMessageBox(Ui(), IDS_CANT_OPERATE_ROOTS);
        return;
    }
    CChangeGuard change(m_pDocument, m_nPane, "Add Value " + DisplayValueName(*entry) + " in " + FullKeyName(node),
                        {{FullKeyName(node), false}});
    if (!change.Ok()) return;
    if (CreateValue(node, Registry(), Computer(), entry) == 0) {
        AfxMessageBox(Ui(), IDS_CANT_UPDATE_REGISTRY);
        return;
    }
    ShowValues(node, m_nPane, 0);
}

void CQuorvaneView::AddStringValue(const std::string& name, const std::string& text) {
    AddValue(std::make_unique<ValueEntry>(name.c_str(), REG_SZ, text.c_str()));
}

void CQuorvaneView::AddNumberValue(const std::string& name, std::uint32_t number) {
    AddValue(std::make_unique<ValueEntry>(name.c_str(), REG_DWORD, &number));
}

void CQuorvaneView::CopyFromMaster(KeyNode* master, int overwrite, int recursive) {
    KeyNode* target = GuardSubtree();
    if (target == nullptr) return;
    if (const KeyNode* unfit = FindUnfitKeyName(master, overwrite == 0, recursive != 0)) {
        Ui().MessageBox("The Master key \"" + FullKeyName(unfit) +
                            "\" has a name no registry key can have (empty, or with a backslash). Nothing was copied.",
                        MB_OK | MB_ICONERROR);
        return;
    }
    // Overwrite changes the target (its values alone without Recursive);
    // Append makes the Master key's copy below it.
    const std::string key = overwrite ? FullKeyName(target) : FullKeyName(target) + '\\' + master->name;
    CChangeGuard change(m_pDocument, m_nPane,
                        std::string(overwrite ? "Overwrite " : "Append ") + (recursive ? "Recursive " : "") + "Copy to " +
                            FullKeyName(target),
                        {{key, recursive != 0 || overwrite == 0}});
    if (!change.Ok()) return;
    m_bSelNotify = 0;
    m_ctrl.SetVisible(false);
    m_ctrl.DeleteChildItems(target);
    const int done = overwrite ? OverwriteFrom(target, Registry(), Computer(), master, recursive != 0)
                               : AppendCopyOf(target, Registry(), Computer(), master, recursive != 0);
    // A copy that stopped half way leaves memory as the registry has it.
    if (done == 0) LoadLevel(target, Registry(), Computer(), true);
    InsertChildItems(target, KeyImage());
    m_bSelNotify = 1;
    m_ctrl.SetVisible(true);
    ShowValues(target, m_nPane, 0);
    if (done == 0) AfxMessageBox(Ui(), IDS_ERROR_UPDATING);
}

std::string DisplayValueName(const ValueEntry& entry) {
    return entry.Name().empty() ? std::string("(Default)") : std::string(entry.Name());
}

std::string FullKeyName(const KeyNode* node) {
    std::string path = FilePathOf(node);
    return path.empty() ? path : path.substr(1);
}

}  // namespace qv
