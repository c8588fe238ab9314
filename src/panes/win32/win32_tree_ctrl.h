// The tree control of a tree pane on Win32: a SysTreeView32 child window.
//
// The items the pane inserts are kept here as small records, one per node,
// and only the items the user can reach are made in the tree view: the
// children of an item are inserted when it is first expanded. A tree view
// finds its items by a linear search, so a side of a few hundred thousand
// keys inserted whole would take seconds; this way it shows at once. Every
// record stands for an item as far as the pane is concerned (HasItem,
// SelectItem, Expand see no difference), and deleting items never reads the
// nodes, which may be gone by then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "framework/win32/win32_api.h"
#include "panes/tree_ctrl.h"

namespace qv {

class CWin32TreeCtrl : public ITreeCtrl {
public:
    CWin32TreeCtrl(HWND parent, int id);
    ~CWin32TreeCtrl() override;

    CWin32TreeCtrl(const CWin32TreeCtrl&) = delete;
    CWin32TreeCtrl& operator=(const CWin32TreeCtrl&) = delete;

    HWND Hwnd() const { return m_hwnd; }
    // The ten tree images, numbered as TreeImage; not owned.
    void SetImageList(HIMAGELIST images);
    // The parent window passes on WM_NOTIFY from the control; true when it
    // was handled, with `result` the message's result.
    bool OnNotify(const NMHDR& header, LRESULT& result);

    void SetEvents(ITreeCtrlEvents* events) override { m_events = events; }
    void DeleteAllItems() override;
    void InsertRootItem(KeyNode* top, int image, int selectedImage) override;
    void InsertChildItems(KeyNode* node, int image) override;
    void InsertItem(KeyNode* node, int image) override;
    void DeleteChildItems(KeyNode* node) override;
    void DeleteItem(KeyNode* node) override;
    KeyNode* GetSelectedNode() const override;
    // A node without an item clears the selection, as null does.
    void SelectItem(KeyNode* node) override;
    void Expand(KeyNode* node) override;
    bool HasItem(const KeyNode* node) const override { return Find(node) != nullptr; }
    void SetVisible(bool visible) override;

    // The tree view's item for `node`, made (with the items above it) when
    // it was not made yet; null when `node` has no item.
    HTREEITEM Materialize(const KeyNode* node);
    // Items made in the tree view, and records kept.
    std::size_t ViewItemCount() const { return m_viewItems; }
    std::size_t ItemCount() const { return m_items.size(); }

private:
    struct Item {
        KeyNode* node = nullptr;
        Item* parent = nullptr;  // null for the root item; links free records
        std::vector<Item*> children;
        HTREEITEM handle = nullptr;  // null until made in the tree view
        int row = 0;
        std::uint8_t image = 0;
        std::uint8_t selectedImage = 0;
        bool filled = false;  // its children are made in the tree view
    };

    Item* Find(const KeyNode* node) const;
    Item* NewItem(KeyNode* node, Item* parent, int row, int image, int selectedImage);
    // Records for `nodes` as `item`'s last children, with everything in
    // memory below them; made in the view at once when `item` is filled.
    void AppendNodes(Item* item, const std::vector<KeyNode*>& nodes, int image);
    void FreeSubtree(Item* item);
    void FreeAll();

    // Makes `item` and the items above it in the tree view.
    HTREEITEM Make(Item* item);
    // Makes `item`'s children in the view (`item` is made).
    void Fill(Item* item);
    HTREEITEM InsertViewItem(Item* item, HTREEITEM parent);
    void UpdateChildrenFlag(Item* item);
    void DeleteViewItem(Item* item);

    // Drawing held off while it lives (unless the pane holds it off already),
    // so items made or deleted together cost the tree view one layout.
    class Batch {
    public:
        explicit Batch(CWin32TreeCtrl& tree);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        CWin32TreeCtrl& m_tree;
        bool m_own;
    };

    // Makes `item` (may be null) the selected one without a notification.
    void SelectQuietly(Item* item);
    void Notify();
    bool IsOpen(const Item* item) const;
    // Removes items with `remove` (drawing held off when `shown`, some of
    // them are made); when the selection was in `scope` it moves to
    // `neighbour`, with one notification.
    template <class Remove>
    void RemoveKeepingSelection(Item* scope, Item* neighbour, bool scopeItself, bool shown, Remove remove);

    HWND m_hwnd = nullptr;
    ITreeCtrlEvents* m_events = nullptr;
    Item* m_root = nullptr;
    Item* m_selected = nullptr;
    int m_quiet = 0;  // while > 0 the view's selection changes are ours
    bool m_redrawOff = false;
    bool m_scrollPending = false;  // the selection is to be scrolled to when drawing resumes
    std::size_t m_viewItems = 0;

    static constexpr std::size_t kBlockItems = 1024;
    std::vector<std::unique_ptr<Item[]>> m_blocks;
    std::size_t m_blockUsed = kBlockItems;
    Item* m_free = nullptr;
    std::unordered_map<const KeyNode*, Item*> m_items;
};

}  // namespace qv
