#include "compare/tree_pane.h"

#include "app/quorvane_doc.h"
#include "edit/value_pane.h"
#include "model/loader.h"

namespace qv {

int NodeDepth(const KeyNode* node) { return node->Level() + 1; }

CQuorvaneView::CQuorvaneView(ITreeCtrl& ctrl) : m_ctrl(ctrl) { m_ctrl.SetEvents(this); }

CQuorvaneView::~CQuorvaneView() { m_ctrl.SetEvents(nullptr); }

int CQuorvaneView::SideKind() const { return m_pDocument->SideKind(m_nPane); }
bool CQuorvaneView::IsLive() const { return IsLiveKind(SideKind()); }
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
        const int rootImage = IsLive() ? kImageComputer : kImageDocument;
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
    if (node != nullptr && IsLive() && LoadLevel(node, Registry(), Computer(), false) == 1) {
        m_ctrl.SetVisible(false);
        InsertChildItems(node, KeyImage());
        m_ctrl.Expand(node);
        m_ctrl.SetVisible(true);
    }
    m_pDocument->FollowSelection(node, m_nPane);
    ShowValues(node, m_nPane, 0);
}

KeyNode* CQuorvaneView::GuardSubtree() {
    KeyNode* node = m_ctrl.GetSelectedNode();
    if (node == nullptr) {
        AfxMessageBox(Ui(), IDS_SELECT_SUBTREE);
        return nullptr;
    }
    if (SideKind() >= kSourceFile) return nullptr;
    const int depth = NodeDepth(node);
    if (depth <= 2) {
        AfxMessageBox(Ui(), IDS_CANT_OPERATE_ROOTS);
        return nullptr;
    }
    if (depth == 3 && AfxMessageBox(Ui(), IDS_CLOSE_TO_ROOT, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return nullptr;
    return node;
}

}  // namespace qv
