#include "panes/win32/win32_tree_ctrl.h"

#include <optional>
#include <string>

#include "model/key_node.h"

namespace qv {

CWin32TreeCtrl::CWin32TreeCtrl(HWND parent, int id) {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_TREEVIEW_CLASSES};
    ::InitCommonControlsEx(&init);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                        TVS_SHOWSELALWAYS;
    m_hwnd = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"", style, 0, 0, 0, 0, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                               nullptr);
    // Notifications in their wide forms, whatever the parent window is.
    ::SendMessageW(m_hwnd, TVM_SETUNICODEFORMAT, TRUE, 0);
}

CWin32TreeCtrl::~CWin32TreeCtrl() {
    // Destroying the window deletes its items, which the parent may pass on
    // to OnNotify: nothing more is reported from here on.
    m_events = nullptr;
    ++m_quiet;
    if (m_hwnd != nullptr && ::IsWindow(m_hwnd)) ::DestroyWindow(m_hwnd);
}

void CWin32TreeCtrl::SetImageList(HIMAGELIST images) {
    ::SendMessageW(m_hwnd, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
}

// ---- the records

CWin32TreeCtrl::Item* CWin32TreeCtrl::Find(const KeyNode* node) const {
    const auto it = m_items.find(node);
    return it != m_items.end() ? it->second : nullptr;
}

CWin32TreeCtrl::Item* CWin32TreeCtrl::NewItem(KeyNode* node, Item* parent, int row, int image, int selectedImage) {
    Item* item;
    if (m_free != nullptr) {
        item = m_free;
        m_free = item->parent;
    } else {
        if (m_blockUsed == kBlockItems) {
            m_blocks.push_back(std::make_unique<Item[]>(kBlockItems));
            m_blockUsed = 0;
        }
        item = &m_blocks.back()[m_blockUsed++];
    }
    item->node = node;
    item->parent = parent;
    item->row = row;
    item->image = static_cast<std::uint8_t>(image);
    item->selectedImage = static_cast<std::uint8_t>(selectedImage);
    item->handle = nullptr;
    item->filled = false;
    m_items.emplace(node, item);
    return item;
}

void CWin32TreeCtrl::AppendNodes(Item* item, const std::vector<KeyNode*>& nodes, int image) {
    if (nodes.empty()) return;
    const bool hadChildren = !item->children.empty();
    std::vector<Item*> pending;
    item->children.reserve(item->children.size() + nodes.size());
    for (KeyNode* node : nodes) {
        item->children.push_back(NewItem(node, item, static_cast<int>(item->children.size()), image, image + 1));
        pending.push_back(item->children.back());
    }
    // Below the new records nothing has one yet; iterative, trees may be deep.
    while (!pending.empty()) {
        Item* parent = pending.back();
        pending.pop_back();
        const auto& subs = parent->node->subkeys;
        parent->children.reserve(subs.size());
        for (std::size_t i = 0; i < subs.size(); ++i) {
            parent->children.push_back(NewItem(subs[i].get(), parent, static_cast<int>(i), image, image + 1));
            pending.push_back(parent->children.back());
        }
    }
    if (item->filled) {
        Batch batch(*this);
        for (std::size_t i = item->children.size() - nodes.size(); i < item->children.size(); ++i)
            InsertViewItem(item->children[i], item->handle);
    }
    if (!hadChildren) UpdateChildrenFlag(item);
}

void CWin32TreeCtrl::FreeSubtree(Item* item) {
    std::vector<Item*> pending{item};
    while (!pending.empty()) {
        Item* it = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), it->children.begin(), it->children.end());
        if (it->handle != nullptr) --m_viewItems;
        m_items.erase(it->node);  // hashes the pointer only: the node may be gone
        std::vector<Item*>().swap(it->children);
        it->node = nullptr;
        it->handle = nullptr;
        it->parent = m_free;
        m_free = it;
    }
}

void CWin32TreeCtrl::FreeAll() {
    m_items.clear();
    m_blocks.clear();
    m_blockUsed = kBlockItems;
    m_free = nullptr;
    m_root = nullptr;
    m_viewItems = 0;
}

// ---- the tree view's items

HTREEITEM CWin32TreeCtrl::InsertViewItem(Item* item, HTREEITEM parent) {
    const std::wstring text = Widen(item->node->name);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    TVITEMW& tv = insert.item;
    tv.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
    tv.pszText = const_cast<wchar_t*>(text.c_str());
    tv.iImage = item->image;
    tv.iSelectedImage = item->selectedImage;
    tv.cChildren = item->children.empty() ? 0 : 1;
    tv.lParam = reinterpret_cast<LPARAM>(item->node);
    item->handle =
        reinterpret_cast<HTREEITEM>(::SendMessageW(m_hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (item->handle != nullptr) ++m_viewItems;
    return item->handle;
}

void CWin32TreeCtrl::UpdateChildrenFlag(Item* item) {
    if (item->handle == nullptr) return;
    TVITEMW tv{};
    tv.mask = TVIF_HANDLE | TVIF_CHILDREN;
    tv.hItem = item->handle;
    tv.cChildren = item->children.empty() ? 0 : 1;
    ::SendMessageW(m_hwnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

void CWin32TreeCtrl::Fill(Item* item) {
    if (item->filled || item->handle == nullptr) return;
    item->filled = true;
    for (Item* child : item->children) InsertViewItem(child, item->handle);
}

HTREEITEM CWin32TreeCtrl::Make(Item* item) {
    if (item->handle != nullptr) return item->handle;
    // Fill from the highest made item down; the root item is always made.
    std::vector<Item*> above;
    for (Item* up = item->parent; up != nullptr && up->handle == nullptr; up = up->parent) above.push_back(up);
    if (!above.empty() && above.back()->parent != nullptr) Fill(above.back()->parent);
    for (auto it = above.rbegin(); it != above.rend(); ++it) Fill(*it);
    if (item->parent != nullptr) Fill(item->parent);
    return item->handle;
}

HTREEITEM CWin32TreeCtrl::Materialize(const KeyNode* node) {
    Item* item = Find(node);
    return item != nullptr ? Make(item) : nullptr;
}

void CWin32TreeCtrl::DeleteViewItem(Item* item) {
    if (item->handle != nullptr)
        ::SendMessageW(m_hwnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item->handle));
}

CWin32TreeCtrl::Batch::Batch(CWin32TreeCtrl& tree) : m_tree(tree), m_own(!tree.m_redrawOff) {
    if (m_own) m_tree.SetVisible(false);
}

CWin32TreeCtrl::Batch::~Batch() {
    if (m_own) m_tree.SetVisible(true);
}

// ---- the selection

void CWin32TreeCtrl::Notify() {
    if (m_events != nullptr) m_events->OnSelChanged();
}

bool CWin32TreeCtrl::IsOpen(const Item* item) const {
    return item->handle != nullptr &&
           (::SendMessageW(m_hwnd, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item->handle), TVIS_EXPANDED) &
            TVIS_EXPANDED) != 0;
}

void CWin32TreeCtrl::SelectQuietly(Item* item) {
    ++m_quiet;
    // Making items and opening them is what costs (the tree view measures
    // every item it shows again): only then is drawing held off, and only
    // the closed items above it are opened, top down, so it can be seen.
    std::vector<Item*> closed;
    if (item != nullptr)
        for (Item* up = item->parent; up != nullptr; up = up->parent)
            if (!IsOpen(up)) closed.push_back(up);
    {
        std::optional<Batch> batch;
        if (item != nullptr && (item->handle == nullptr || !closed.empty())) batch.emplace(*this);
        HTREEITEM handle = item != nullptr ? Make(item) : nullptr;
        for (auto it = closed.rbegin(); it != closed.rend(); ++it)
            ::SendMessageW(m_hwnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>((*it)->handle));
        ::SendMessageW(m_hwnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(handle));
        m_selected = item;
        // Scrolled to once the tree view lays its items out again.
        m_scrollPending = m_redrawOff && handle != nullptr;
    }
    --m_quiet;
}

KeyNode* CWin32TreeCtrl::GetSelectedNode() const { return m_selected != nullptr ? m_selected->node : nullptr; }

void CWin32TreeCtrl::SelectItem(KeyNode* node) {
    Item* item = node != nullptr ? Find(node) : nullptr;
    const bool changed = item != m_selected;
    SelectQuietly(item);
    if (changed) Notify();
}

template <class Remove>
void CWin32TreeCtrl::RemoveKeepingSelection(Item* scope, Item* neighbour, bool scopeItself, bool shown,
                                            Remove remove) {
    bool within = false;
    for (const Item* up = m_selected; up != nullptr && !within; up = up->parent) within = up == scope;
    const bool moves = within && (scopeItself || m_selected != scope);
    ++m_quiet;
    if (moves) m_selected = nullptr;  // about to go
    {
        std::optional<Batch> batch;
        if (shown) batch.emplace(*this);
        remove();
    }
    --m_quiet;
    if (!moves) return;
    SelectQuietly(neighbour);
    Notify();
}

// ---- what the pane does

void CWin32TreeCtrl::DeleteAllItems() {
    ++m_quiet;
    {
        Batch batch(*this);
        ::SendMessageW(m_hwnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    }
    FreeAll();
    m_selected = nullptr;
    --m_quiet;
}

void CWin32TreeCtrl::InsertRootItem(KeyNode* top, int image, int selectedImage) {
    if (m_root != nullptr) DeleteAllItems();  // the old root goes with its selection
    m_root = NewItem(top, nullptr, 0, image, selectedImage);
    InsertViewItem(m_root, TVI_ROOT);
}

void CWin32TreeCtrl::InsertChildItems(KeyNode* node, int image) {
    Item* item = Find(node);
    if (item == nullptr) return;
    std::vector<KeyNode*> fresh;
    fresh.reserve(node->subkeys.size());
    for (const auto& sub : node->subkeys)
        if (!m_items.contains(sub.get())) fresh.push_back(sub.get());
    AppendNodes(item, fresh, image);
}

void CWin32TreeCtrl::InsertItem(KeyNode* node, int image) {
    if (node->parent == nullptr || m_items.contains(node)) return;
    if (Item* parent = Find(node->parent)) AppendNodes(parent, {node}, image);
}

void CWin32TreeCtrl::DeleteChildItems(KeyNode* node) {
    Item* item = Find(node);
    if (item == nullptr || item->children.empty()) return;
    RemoveKeepingSelection(item, item, false, item->filled, [&] {
        std::vector<Item*> gone;
        gone.swap(item->children);
        for (Item* child : gone) {
            DeleteViewItem(child);
            FreeSubtree(child);
        }
        UpdateChildrenFlag(item);
    });
}

void CWin32TreeCtrl::DeleteItem(KeyNode* node) {
    Item* item = Find(node);
    if (item == nullptr) return;
    // Next sibling, else previous sibling, else the parent.
    Item* parent = item->parent;
    Item* neighbour = parent;
    if (parent != nullptr) {
        const auto& siblings = parent->children;
        const auto row = static_cast<std::size_t>(item->row);
        if (row + 1 < siblings.size())
            neighbour = siblings[row + 1];
        else if (row > 0)
            neighbour = siblings[row - 1];
    }
    RemoveKeepingSelection(item, neighbour, true, item->handle != nullptr, [&] {
        DeleteViewItem(item);
        if (parent == nullptr) {
            m_root = nullptr;
        } else {
            auto& siblings = parent->children;
            siblings.erase(siblings.begin() + item->row);
            for (std::size_t i = static_cast<std::size_t>(item->row); i < siblings.size(); ++i)
                siblings[i]->row = static_cast<int>(i);
            if (siblings.empty()) UpdateChildrenFlag(parent);
        }
        FreeSubtree(item);
    });
}

void CWin32TreeCtrl::Expand(KeyNode* node) {
    Item* item = Find(node);
    // An item without children does not open; one open already stays so.
    if (item == nullptr || item->children.empty() || (item->filled && IsOpen(item))) return;
    Batch batch(*this);
    Make(item);
    Fill(item);
    ::SendMessageW(m_hwnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item->handle));
}

void CWin32TreeCtrl::SetVisible(bool visible) {
    if (visible == !m_redrawOff) return;
    m_redrawOff = !visible;
    ::SendMessageW(m_hwnd, WM_SETREDRAW, visible ? TRUE : FALSE, 0);
    if (!visible) return;
    ::InvalidateRect(m_hwnd, nullptr, TRUE);
    if (m_scrollPending && m_selected != nullptr && m_selected->handle != nullptr)
        ::SendMessageW(m_hwnd, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(m_selected->handle));
    m_scrollPending = false;
}

// ---- what the tree view tells

bool CWin32TreeCtrl::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.hwndFrom != m_hwnd) return false;
    switch (header.code) {
    case TVN_ITEMEXPANDINGW: {
        const auto& info = reinterpret_cast<const NMTREEVIEWW&>(header);
        if ((info.action & (TVE_EXPAND | TVE_COLLAPSE)) == TVE_EXPAND) {
            Item* item = Find(reinterpret_cast<const KeyNode*>(info.itemNew.lParam));
            if (item != nullptr && !item->filled) {
                Batch batch(*this);
                Fill(item);
            }
        }
        result = FALSE;  // let it open
        return true;
    }
    case TVN_SELCHANGEDW: {
        result = 0;
        if (m_quiet != 0) return true;
        const auto& info = reinterpret_cast<const NMTREEVIEWW&>(header);
        Item* now = info.itemNew.hItem != nullptr ? Find(reinterpret_cast<const KeyNode*>(info.itemNew.lParam))
                                                  : nullptr;
        if (now != m_selected) {
            m_selected = now;
            Notify();
        }
        return true;
    }
    default:
        return false;
    }
}

}  // namespace qv
