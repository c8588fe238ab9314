// Plain stand-ins for the tree and list controls under the panes, and for the
// frame's grid, so pane logic runs in tests without a toolkit.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "panes/tree_ctrl.h"
#include "panes/tree_pane.h"
#include "panes/list_ctrl.h"

namespace qv::test {

class CFakeTreeCtrl : public ITreeCtrl {
public:
    struct Item {
        KeyNode* node = nullptr;
        KeyNode* parent = nullptr;  // node of the parent item; null for the root item
        std::vector<KeyNode*> children;
        int image = 0;
        int selectedImage = 0;
    };

    void SetEvents(ITreeCtrlEvents* events) override { m_events = events; }
    void DeleteAllItems() override;
    void InsertRootItem(KeyNode* top, int image, int selectedImage) override;
    void InsertChildItems(KeyNode* node, int image) override;
    void InsertItem(KeyNode* node, int image) override;
    void DeleteChildItems(KeyNode* node) override;
    void DeleteItem(KeyNode* node) override;
    KeyNode* GetSelectedNode() const override { return m_selected; }
    void SelectItem(KeyNode* node) override;
    void Expand(KeyNode* node) override { expanded.insert(node); }
    bool HasItem(const KeyNode* node) const override { return m_items.count(const_cast<KeyNode*>(node)) != 0; }
    void SetVisible(bool v) override { visible = v; }

    // What a user does: clicking an item.
    void Click(KeyNode* node) { SelectItem(node); }

    // Inspection.
    const Item* ItemOf(const KeyNode* node) const;
    std::vector<std::string> ChildTexts(const KeyNode* node) const;
    std::size_t ItemCount() const { return m_items.size(); }
    KeyNode* RootItem() const { return m_root; }
    // Every item mirrors its node: same children in the same order.
    bool MirrorsTree() const;

    std::set<KeyNode*> expanded;
    bool visible = true;

private:
    void Forget(KeyNode* node);
    ITreeCtrlEvents* m_events = nullptr;
    std::map<KeyNode*, Item> m_items;
    KeyNode* m_root = nullptr;
    KeyNode* m_selected = nullptr;
};

class CFakeListCtrl : public IListCtrl {
public:
    void SetEvents(IListCtrlEvents* events) override { m_events = events; }
    void DeleteAllItems() override { rows.clear(); }
    int InsertItem(int row, const std::string& text) override;
    void SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) const override;
    void SetItemTip(int row, const std::string& tip) override {
        if (row >= 0 && row < GetItemCount()) rows[static_cast<std::size_t>(row)].tip = tip;
    }
    int GetItemCount() const override { return static_cast<int>(rows.size()); }
    void SelectRow(int row) override;
    bool IsRowSelected(int row) const override;

    void DoubleClick() {
        if (m_events) m_events->OnDblClick();
    }

    struct Row {
        std::string name;
        std::string value;
        bool selected = false;
        std::string tip;
    };
    std::vector<Row> rows;

private:
    IListCtrlEvents* m_events = nullptr;
};

class CFakeGrid : public IPaneGrid {
public:
    CView* panes[2][2] = {};
    CView* GetPane(int row, int column) const override { return panes[row][column]; }
};

}  // namespace qv::test
