// The tree control of a tree pane on Qt: a QTreeView over a model that
// mirrors only the inserted items, one small record per item, so a file side
// of a few hundred thousand keys shows at once and cheaply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include <QAbstractItemModel>
#include <QIcon>
#include <QTreeView>

#include "panes/tree_ctrl.h"

namespace qv {

// One column; the internal pointer of an index is its Item.
class CKeyItemModel final : public QAbstractItemModel {
public:
    struct Item {
        KeyNode* node = nullptr;
        Item* parent = nullptr;  // null for the root item; links free records
        std::vector<Item*> children;
        int row = 0;
        std::uint8_t image = 0;
    };

    explicit CKeyItemModel(QObject* parent = nullptr);
    ~CKeyItemModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Drops every item in one reset; never reads the nodes, which may be gone.
    void Clear();
    void SetRoot(KeyNode* top, int image, int selectedImage);
    // Items for `item`'s node's subkeys that have none yet, as its last
    // children, with everything below them: one insertion.
    void AppendChildren(Item* item, int image);
    // An item for `node`, a subkey of `item`'s node without one yet, likewise.
    void AppendChild(Item* item, KeyNode* node, int image);
    void RemoveItem(Item* item);
    void RemoveChildren(Item* item);

    Item* Root() const { return m_root; }
    Item* Find(const KeyNode* node) const;
    Item* ItemAt(const QModelIndex& index) const;
    QModelIndex IndexOf(const Item* item) const;

    std::size_t ItemCount() const { return m_items.size(); }
    // Bytes held for the items: records, child lists, the node lookup.
    std::size_t MemoryBytes() const;

private:
    void AppendNodes(Item* item, const std::vector<KeyNode*>& nodes, int image);
    Item* NewItem(KeyNode* node, Item* parent, int row, int image);
    void FreeSubtree(Item* item);

    static constexpr std::size_t kBlockItems = 1024;
    std::vector<std::unique_ptr<Item[]>> m_blocks;
    std::size_t m_blockUsed = kBlockItems;  // records taken from the last block
    Item* m_free = nullptr;

    std::unordered_map<const KeyNode*, Item*> m_items;
    Item* m_root = nullptr;
    std::array<QIcon, 5> m_icons;  // one per image pair
    QIcon m_rootIcon;
};

class CQtTreeCtrl : public QTreeView, public ITreeCtrl {
    Q_OBJECT

public:
    explicit CQtTreeCtrl(QWidget* parent = nullptr);
    ~CQtTreeCtrl() override;

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
    bool HasItem(const KeyNode* node) const override;
    void SetVisible(bool visible) override;

    KeyNode* NodeAt(const QModelIndex& index) const;
    QModelIndex IndexOf(const KeyNode* node) const;
    CKeyItemModel& KeyModel() const { return *m_model; }

protected:
    // A tree control always keeps its one selected item: no deselecting.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;

private:
    using Item = CKeyItemModel::Item;

    // Makes `item` (may be null) the current and only selected item, and the
    // cached selection, without a notification.
    void SelectQuietly(Item* item);
    // Takes the selection from the view; notifies when it changed.
    void SyncSelection();
    void Notify();
    // Removes items with `remove`; when the selection was in `scope` it moves
    // to `neighbour`, with one notification.
    template <class Remove>
    void RemoveKeepingSelection(Item* scope, Item* neighbour, bool scopeItself, Remove remove);

    CKeyItemModel* m_model;
    ITreeCtrlEvents* m_events = nullptr;
    Item* m_selected = nullptr;
    int m_quiet = 0;  // while > 0 the view's selection changes are ours
    bool m_hidden = false;
    bool m_hadFocus = false;
};

}  // namespace qv
