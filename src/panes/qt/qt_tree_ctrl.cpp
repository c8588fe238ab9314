#include "panes/qt/qt_tree_ctrl.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

#include "framework/qt/icons.h"
#include "framework/qt/qt_text.h"
#include "model/key_node.h"

namespace qv {

namespace {

constexpr int kPairs = 5;

// Dotted lines between items and boxed +/- buttons, as in a classic tree
// control, whatever the application's style draws.
class CBranchStyle final : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_IndicatorBranch) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const QRect& r = option->rect;
        const int cx = r.left() + r.width() / 2;
        const int cy = r.top() + r.height() / 2;
        const State state = option->state;
        painter->save();
        painter->setPen(QPen(option->palette.color(QPalette::Mid), 0, Qt::DotLine));
        if (state & State_Item) {
            painter->drawLine(cx, r.top(), cx, (state & State_Sibling) ? r.bottom() : cy);
            painter->drawLine(cx, cy, r.right(), cy);
        } else if (state & State_Sibling) {
            painter->drawLine(cx, r.top(), cx, r.bottom());
        }
        if (state & State_Children) {
            painter->setPen(option->palette.color(QPalette::Dark));
            painter->setBrush(option->palette.color(QPalette::Base));
            painter->drawRect(cx - 4, cy - 4, 8, 8);
            painter->setPen(option->palette.color(QPalette::Text));
            painter->drawLine(cx - 2, cy, cx + 2, cy);
            if (!(state & State_Open)) painter->drawLine(cx, cy - 2, cx, cy + 2);
        }
        painter->restore();
    }
};

bool IsWithin(const CKeyItemModel::Item* item, const CKeyItemModel::Item* scope) {
    for (; item != nullptr; item = item->parent)
        if (item == scope) return true;
    return false;
}

}  // namespace

// ---- the model

CKeyItemModel::CKeyItemModel(QObject* parent) : QAbstractItemModel(parent) {
    for (int pair = 0; pair < kPairs; ++pair) m_icons[static_cast<std::size_t>(pair)] = TreeIcon(2 * pair);
}

CKeyItemModel::~CKeyItemModel() = default;

QModelIndex CKeyItemModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return QModelIndex();
    if (!parent.isValid()) return row == 0 && m_root != nullptr ? createIndex(0, 0, m_root) : QModelIndex();
    const Item* p = ItemAt(parent);
    if (static_cast<std::size_t>(row) >= p->children.size()) return QModelIndex();
    return createIndex(row, 0, p->children[static_cast<std::size_t>(row)]);
}

QModelIndex CKeyItemModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return QModelIndex();
    return IndexOf(ItemAt(child)->parent);
}

int CKeyItemModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return m_root != nullptr ? 1 : 0;
    if (parent.column() != 0) return 0;
    return static_cast<int>(ItemAt(parent)->children.size());
}

int CKeyItemModel::columnCount(const QModelIndex&) const { return 1; }

bool CKeyItemModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant CKeyItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return QVariant();
    const Item* item = ItemAt(index);
    switch (role) {
    case Qt::DisplayRole: {
        const std::string& name = item->node->name;
        return FromUtf8(name);
    }
    case Qt::DecorationRole:
        return item == m_root ? m_rootIcon : m_icons[item->image / 2u];
    default:
        return QVariant();
    }
}

Qt::ItemFlags CKeyItemModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

CKeyItemModel::Item* CKeyItemModel::ItemAt(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Item*>(index.internalPointer()) : nullptr;
}

QModelIndex CKeyItemModel::IndexOf(const Item* item) const {
    return item != nullptr ? createIndex(item->row, 0, const_cast<Item*>(item)) : QModelIndex();
}

CKeyItemModel::Item* CKeyItemModel::Find(const KeyNode* node) const {
    const auto it = m_items.find(node);
    return it != m_items.end() ? it->second : nullptr;
}

CKeyItemModel::Item* CKeyItemModel::NewItem(KeyNode* node, Item* parent, int row, int image) {
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
    item->image = static_cast<std::uint8_t>(image >= 0 && image < 2 * kPairs ? image : 0);
    m_items.emplace(node, item);
    return item;
}

void CKeyItemModel::FreeSubtree(Item* item) {
    std::vector<Item*> pending{item};
    while (!pending.empty()) {
        Item* it = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), it->children.begin(), it->children.end());
        m_items.erase(it->node);  // hashes the pointer only: the node may be gone
        std::vector<Item*>().swap(it->children);
        it->node = nullptr;
        it->parent = m_free;
        m_free = it;
    }
}

void CKeyItemModel::Clear() {
    beginResetModel();
    m_items.clear();
    m_blocks.clear();
    m_blockUsed = kBlockItems;
    m_free = nullptr;
    m_root = nullptr;
    endResetModel();
}

void CKeyItemModel::SetRoot(KeyNode* top, int image, int selectedImage) {
    if (m_root != nullptr) Clear();
    m_rootIcon = QIcon(TreeImage(image));
    m_rootIcon.addPixmap(TreeImage(selectedImage), QIcon::Selected);
    beginInsertRows(QModelIndex(), 0, 0);
    m_root = NewItem(top, nullptr, 0, image);
    endInsertRows();
}

void CKeyItemModel::AppendChildren(Item* item, int image) {
    std::vector<KeyNode*> fresh;
    fresh.reserve(item->node->subkeys.size());
    for (const auto& sub : item->node->subkeys)
        if (!m_items.contains(sub.get())) fresh.push_back(sub.get());
    AppendNodes(item, fresh, image);
}

void CKeyItemModel::AppendChild(Item* item, KeyNode* node, int image) {
    if (!m_items.contains(node)) AppendNodes(item, {node}, image);
}

void CKeyItemModel::AppendNodes(Item* item, const std::vector<KeyNode*>& nodes, int image) {
    if (nodes.empty()) return;
    const int first = static_cast<int>(item->children.size());
    beginInsertRows(IndexOf(item), first, first + static_cast<int>(nodes.size()) - 1);
    std::vector<Item*> pending;
    item->children.reserve(item->children.size() + nodes.size());
    for (KeyNode* node : nodes) {
        item->children.push_back(NewItem(node, item, static_cast<int>(item->children.size()), image));
        pending.push_back(item->children.back());
    }
    // Below the new items nothing has an item yet; iterative, trees may be deep.
    while (!pending.empty()) {
        Item* parent = pending.back();
        pending.pop_back();
        const auto& subs = parent->node->subkeys;
        parent->children.reserve(subs.size());
        for (std::size_t i = 0; i < subs.size(); ++i) {
            parent->children.push_back(NewItem(subs[i].get(), parent, static_cast<int>(i), image));
            pending.push_back(parent->children.back());
        }
    }
    endInsertRows();
}

void CKeyItemModel::RemoveItem(Item* item) {
    Item* parent = item->parent;
    const int row = item->row;
    beginRemoveRows(IndexOf(parent), row, row);
    if (parent == nullptr) {
        m_root = nullptr;
    } else {
        auto& siblings = parent->children;
        siblings.erase(siblings.begin() + row);
        for (std::size_t i = static_cast<std::size_t>(row); i < siblings.size(); ++i)
            siblings[i]->row = static_cast<int>(i);
    }
    endRemoveRows();
    FreeSubtree(item);
}

void CKeyItemModel::RemoveChildren(Item* item) {
    if (item->children.empty()) return;
    beginRemoveRows(IndexOf(item), 0, static_cast<int>(item->children.size()) - 1);
    std::vector<Item*> gone;
    gone.swap(item->children);
    endRemoveRows();
    for (Item* child : gone) FreeSubtree(child);
}

std::size_t CKeyItemModel::MemoryBytes() const {
    // Heap blocks carry a header of about two words; a map node holds the
    // pair and a next pointer.
    constexpr std::size_t kHeapHeader = 2 * sizeof(void*);
    constexpr std::size_t kMapNode = sizeof(void*) + sizeof(std::pair<const KeyNode* const, Item*>) + kHeapHeader;
    std::size_t bytes = m_blocks.size() * (kBlockItems * sizeof(Item) + kHeapHeader) +
                        m_blocks.capacity() * sizeof(void*);
    bytes += m_items.bucket_count() * sizeof(void*) + m_items.size() * kMapNode;
    for (const auto& [node, item] : m_items)
        if (item->children.capacity() != 0) bytes += item->children.capacity() * sizeof(Item*) + kHeapHeader;
    return bytes;
}

// ---- the view

CQtTreeCtrl::CQtTreeCtrl(QWidget* parent) : QTreeView(parent), m_model(new CKeyItemModel(this)) {
    auto* style = new CBranchStyle;
    style->setParent(this);
    setStyle(style);
    setModel(m_model);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);  // lets the view lay out huge levels without asking each row
    setIconSize(QSize(16, 16));
    setAnimated(false);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_quiet == 0) SyncSelection();
    });
    // Collapsing hides the selected item: a classic tree control moves the
    // selection to the collapsed item.
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        Item* item = m_model->ItemAt(index);
        if (m_quiet == 0 && m_selected != nullptr && m_selected != item && IsWithin(m_selected, item))
            SelectItem(item->node);
    });
}

CQtTreeCtrl::~CQtTreeCtrl() = default;

KeyNode* CQtTreeCtrl::NodeAt(const QModelIndex& index) const {
    const Item* item = m_model->ItemAt(index);
    return item != nullptr ? item->node : nullptr;
}

QModelIndex CQtTreeCtrl::IndexOf(const KeyNode* node) const { return m_model->IndexOf(m_model->Find(node)); }

bool CQtTreeCtrl::HasItem(const KeyNode* node) const { return m_model->Find(node) != nullptr; }

KeyNode* CQtTreeCtrl::GetSelectedNode() const { return m_selected != nullptr ? m_selected->node : nullptr; }

void CQtTreeCtrl::Notify() {
    if (m_events != nullptr) m_events->OnSelChanged();
}

void CQtTreeCtrl::SelectQuietly(Item* item) {
    ++m_quiet;
    QItemSelectionModel* selection = selectionModel();
    if (item != nullptr) {
        selection->setCurrentIndex(m_model->IndexOf(item), QItemSelectionModel::ClearAndSelect);
    } else {
        selection->clearSelection();
        selection->clearCurrentIndex();
    }
    m_selected = item;
    --m_quiet;
}

void CQtTreeCtrl::SyncSelection() {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    Item* now = selected.isEmpty() ? nullptr : m_model->ItemAt(selected.first());
    if (now == m_selected) return;
    m_selected = now;
    Notify();
}

void CQtTreeCtrl::DeleteAllItems() {
    ++m_quiet;
    m_model->Clear();
    m_selected = nullptr;
    --m_quiet;
}

void CQtTreeCtrl::InsertRootItem(KeyNode* top, int image, int selectedImage) {
    ++m_quiet;
    m_model->SetRoot(top, image, selectedImage);
    m_selected = nullptr;  // a root item already there went with its selection
    --m_quiet;
}

void CQtTreeCtrl::InsertChildItems(KeyNode* node, int image) {
    if (Item* item = m_model->Find(node)) m_model->AppendChildren(item, image);
}

void CQtTreeCtrl::InsertItem(KeyNode* node, int image) {
    if (node->parent == nullptr) return;
    if (Item* parent = m_model->Find(node->parent)) m_model->AppendChild(parent, node, image);
}

template <class Remove>
void CQtTreeCtrl::RemoveKeepingSelection(Item* scope, Item* neighbour, bool scopeItself, Remove remove) {
    const bool moves = m_selected != nullptr && IsWithin(m_selected, scope) && (scopeItself || m_selected != scope);
    ++m_quiet;
    if (moves) m_selected = nullptr;  // about to go
    remove();
    --m_quiet;
    if (!moves) return;
    SelectQuietly(neighbour);
    Notify();
}

void CQtTreeCtrl::DeleteChildItems(KeyNode* node) {
    Item* item = m_model->Find(node);
    if (item == nullptr) return;
    RemoveKeepingSelection(item, item, false, [&] { m_model->RemoveChildren(item); });
}

void CQtTreeCtrl::DeleteItem(KeyNode* node) {
    Item* item = m_model->Find(node);
    if (item == nullptr) return;
    // Next sibling, else previous sibling, else the parent.
    Item* neighbour = item->parent;
    if (neighbour != nullptr) {
        const auto& siblings = neighbour->children;
        const auto row = static_cast<std::size_t>(item->row);
        if (row + 1 < siblings.size())
            neighbour = siblings[row + 1];
        else if (row > 0)
            neighbour = siblings[row - 1];
    }
    RemoveKeepingSelection(item, neighbour, true, [&] { m_model->RemoveItem(item); });
}

void CQtTreeCtrl::SelectItem(KeyNode* node) {
    Item* item = node != nullptr ? m_model->Find(node) : nullptr;
    if (item != nullptr) {
        for (Item* up = item->parent; up != nullptr; up = up->parent) expand(m_model->IndexOf(up));
    }
    const bool changed = item != m_selected;
    SelectQuietly(item);
    if (item != nullptr) scrollTo(m_model->IndexOf(item));
    if (changed) Notify();
}

void CQtTreeCtrl::Expand(KeyNode* node) {
    if (Item* item = m_model->Find(node)) expand(m_model->IndexOf(item));
}

void CQtTreeCtrl::SetVisible(bool visible) {
    if (!visible) {
        setUpdatesEnabled(false);
        // Only a shown control is hidden, so showing never makes a stray window.
        if (!m_hidden && isVisible()) {
            m_hadFocus = hasFocus();
            m_hidden = true;
            hide();
        }
        return;
    }
    if (m_hidden) {
        m_hidden = false;
        show();
        if (m_hadFocus) setFocus();
    }
    setUpdatesEnabled(true);
}

QItemSelectionModel::SelectionFlags CQtTreeCtrl::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
    const QItemSelectionModel::SelectionFlags command = QTreeView::selectionCommand(index, event);
    if (!index.isValid() || (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)))
        return QItemSelectionModel::NoUpdate;
    return command;
}

}  // namespace qv
