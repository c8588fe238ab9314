#include "tests/support/fake_controls.h"

#include <algorithm>

#include "model/key_node.h"

namespace qv::test {

void CFakeTreeCtrl::DeleteAllItems() {
    m_items.clear();
    m_root = nullptr;
    m_selected = nullptr;
    expanded.clear();
}

void CFakeTreeCtrl::InsertRootItem(KeyNode* top, int image, int selectedImage) {
    m_items[top] = Item{top, nullptr, {}, image, selectedImage};
    m_root = top;
}

void CFakeTreeCtrl::InsertChildItems(KeyNode* node, int image) {
    std::vector<KeyNode*> pending{node};
    while (!pending.empty()) {
        KeyNode* parent = pending.back();
        pending.pop_back();
        for (const auto& child : parent->subkeys) {
            m_items[child.get()] = Item{child.get(), parent, {}, image, image + 1};
            m_items[parent].children.push_back(child.get());
            pending.push_back(child.get());
        }
    }
}

void CFakeTreeCtrl::InsertItem(KeyNode* node, int image) {
    m_items[node] = Item{node, node->parent, {}, image, image + 1};
    m_items[node->parent].children.push_back(node);
    InsertChildItems(node, image);
}

void CFakeTreeCtrl::Forget(KeyNode* node) {
    std::vector<KeyNode*> pending{node};
    while (!pending.empty()) {
        KeyNode* n = pending.back();
        pending.pop_back();
        auto it = m_items.find(n);
        if (it == m_items.end()) continue;
        for (KeyNode* c : it->second.children) pending.push_back(c);
        if (m_selected == n) m_selected = nullptr;
        expanded.erase(n);
        m_items.erase(it);
    }
}

void CFakeTreeCtrl::DeleteChildItems(KeyNode* node) {
    auto it = m_items.find(node);
    if (it == m_items.end()) return;
    const bool hadSelection = m_selected != nullptr;
    std::vector<KeyNode*> children = it->second.children;
    m_items[node].children.clear();
    for (KeyNode* c : children) Forget(c);
    if (hadSelection && m_selected == nullptr) SelectItem(node);
}

void CFakeTreeCtrl::DeleteItem(KeyNode* node) {
    auto it = m_items.find(node);
    if (it == m_items.end()) return;
    KeyNode* parent = it->second.parent;
    KeyNode* neighbour = parent;
    if (parent != nullptr) {
        auto& siblings = m_items[parent].children;
        auto pos = std::find(siblings.begin(), siblings.end(), node);
        if (pos + 1 != siblings.end()) neighbour = *(pos + 1);
        else if (pos != siblings.begin()) neighbour = *(pos - 1);
        siblings.erase(pos);
    }
    const bool hadSelection = m_selected != nullptr;
    Forget(node);
    if (node == m_root) m_root = nullptr;
    if (hadSelection && m_selected == nullptr) SelectItem(neighbour);
}

void CFakeTreeCtrl::SelectItem(KeyNode* node) {
    if (node != nullptr && !HasItem(node)) node = nullptr;
    if (node == m_selected) return;
    m_selected = node;
    if (m_events) m_events->OnSelChanged();
}

const CFakeTreeCtrl::Item* CFakeTreeCtrl::ItemOf(const KeyNode* node) const {
    auto it = m_items.find(const_cast<KeyNode*>(node));
    return it == m_items.end() ? nullptr : &it->second;
}

std::vector<std::string> CFakeTreeCtrl::ChildTexts(const KeyNode* node) const {
    std::vector<std::string> texts;
    if (const Item* item = ItemOf(node))
        for (KeyNode* c : item->children) texts.push_back(c->name);
    return texts;
}

bool CFakeTreeCtrl::MirrorsTree() const {
    for (const auto& [node, item] : m_items) {
        if (item.children.size() != node->subkeys.size()) return false;
        for (std::size_t i = 0; i < item.children.size(); ++i)
            if (item.children[i] != node->subkeys[i].get()) return false;
    }
    return true;
}

int CFakeListCtrl::InsertItem(int row, const std::string& text) {
    row = std::clamp(row, 0, static_cast<int>(rows.size()));
    rows.insert(rows.begin() + row, Row{text, "", false, ""});
    return row;
}

void CFakeListCtrl::SetItemText(int row, int column, const std::string& text) {
    if (row < 0 || row >= GetItemCount()) return;
    (column == 0 ? rows[static_cast<std::size_t>(row)].name : rows[static_cast<std::size_t>(row)].value) = text;
}

std::string CFakeListCtrl::GetItemText(int row, int column) const {
    if (row < 0 || row >= GetItemCount()) return {};
    const Row& r = rows[static_cast<std::size_t>(row)];
    return column == 0 ? r.name : r.value;
}

void CFakeListCtrl::SelectRow(int row) {
    if (row < 0 || row >= GetItemCount()) return;
    rows[static_cast<std::size_t>(row)].selected = true;
}

bool CFakeListCtrl::IsRowSelected(int row) const {
    return row >= 0 && row < GetItemCount() && rows[static_cast<std::size_t>(row)].selected;
}

}  // namespace qv::test
