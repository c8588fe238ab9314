#include "panes/win32/win32_tree_ctrl.h"

#include "model/key_node.h"

namespace qv {

CWin32TreeCtrl::CWin32TreeCtrl(HWND parent, int id) {
    m_hWnd = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                 TVS_SHOWSELALWAYS,
                             0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

CWin32TreeCtrl::~CWin32TreeCtrl() {
    if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

void CWin32TreeCtrl::SetImageList(HIMAGELIST images) {
    SendMessageW(m_hWnd, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
}

bool CWin32TreeCtrl::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.hwndFrom != m_hWnd) return false;
    result = 0;
    if (header.code == TVN_SELCHANGEDW && m_events != nullptr && !m_bDeleting) m_events->OnSelChanged();
    return true;
}

HTREEITEM CWin32TreeCtrl::Add(HTREEITEM parent, KeyNode* node, int image, int selectedImage, bool below) {
    const std::wstring text = Widen(node->name);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.lParam = reinterpret_cast<LPARAM>(node);
    insert.item.iImage = image;
    insert.item.iSelectedImage = selectedImage;
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(m_hWnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    m_items[node] = item;
    if (below)
        for (const auto& child : node->subkeys) Add(item, child.get(), image, image + 1);
    return item;
}

void CWin32TreeCtrl::Forget(HTREEITEM item) {
    for (auto child = TreeView_GetChild(m_hWnd, item); child != nullptr; child = TreeView_GetNextSibling(m_hWnd, child))
        Forget(child);
    TVITEMW data{};
    data.mask = TVIF_PARAM;
    data.hItem = item;
    SendMessageW(m_hWnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    m_items.erase(reinterpret_cast<KeyNode*>(data.lParam));
}

void CWin32TreeCtrl::DeleteAllItems() {
    m_bDeleting = true;
    TreeView_DeleteAllItems(m_hWnd);
    m_bDeleting = false;
    m_items.clear();
}

void CWin32TreeCtrl::InsertRootItem(KeyNode* top, int image, int selectedImage) {
    Add(TVI_ROOT, top, image, selectedImage, false);
}

void CWin32TreeCtrl::InsertChildItems(KeyNode* node, int image) {
    const auto it = m_items.find(node);
    if (it == m_items.end()) return;
    for (const auto& child : node->subkeys) Add(it->second, child.get(), image, image + 1);
}

void CWin32TreeCtrl::InsertItem(KeyNode* node, int image) {
    const auto it = m_items.find(node->parent);
    if (it != m_items.end()) Add(it->second, node, image, image + 1);
}

void CWin32TreeCtrl::DeleteChildItems(KeyNode* node) {
    const auto it = m_items.find(node);
    if (it == m_items.end()) return;
    while (HTREEITEM child = TreeView_GetChild(m_hWnd, it->second)) {
        Forget(child);
        TreeView_DeleteItem(m_hWnd, child);
    }
}

void CWin32TreeCtrl::DeleteItem(KeyNode* node) {
    const auto it = m_items.find(node);
    if (it == m_items.end()) return;
    const HTREEITEM item = it->second;
    Forget(item);
    TreeView_DeleteItem(m_hWnd, item);
}

KeyNode* CWin32TreeCtrl::GetSelectedNode() const {
    TVITEMW data{};
    data.mask = TVIF_PARAM;
    data.hItem = TreeView_GetSelection(m_hWnd);
    if (data.hItem == nullptr) return nullptr;
    SendMessageW(m_hWnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    return reinterpret_cast<KeyNode*>(data.lParam);
}

void CWin32TreeCtrl::SelectItem(KeyNode* node) {
    const auto it = node == nullptr ? m_items.end() : m_items.find(node);
    TreeView_SelectItem(m_hWnd, it == m_items.end() ? nullptr : it->second);
}

void CWin32TreeCtrl::Expand(KeyNode* node) {
    if (const auto it = m_items.find(node); it != m_items.end()) TreeView_Expand(m_hWnd, it->second, TVE_EXPAND);
}

void CWin32TreeCtrl::SetVisible(bool visible) { SendMessageW(m_hWnd, WM_SETREDRAW, visible, 0); }

}  // namespace qv
