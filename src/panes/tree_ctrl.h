// The tree control under a tree pane, as the pane's code sees it. Each item
// stands for one KeyNode; items mirror the nodes in memory as the pane
// inserts and deletes them. The desktop program implements it over a Qt view;
// tests use a plain fake.
#pragma once

namespace qv {

class KeyNode;

// Item images: pairs of normal and selected image.
enum TreeImage : int {
    kImageLocalKey = 0,    // yellow folder (1: open)
    kImageNetworkKey = 2,  // green folder
    kImageFileKey = 4,     // red folder
    kImageComputer = 6,    // root item of a live side
    kImageDocument = 8,    // root item of a file side
};

class ITreeCtrlEvents {
public:
    virtual ~ITreeCtrlEvents() = default;
    // The selection changed (by the user, by SelectItem, or because the
    // selected item was deleted). Called synchronously.
    virtual void OnSelChanged() = 0;
};

class ITreeCtrl {
public:
    virtual ~ITreeCtrl() = default;

    virtual void SetEvents(ITreeCtrlEvents* events) = 0;

    // Removes every item (the selection goes without a notification).
    virtual void DeleteAllItems() = 0;
    // The only top-level item, for the side's top node.
    virtual void InsertRootItem(KeyNode* top, int image, int selectedImage) = 0;
    // Items for every subkey of `node` (which has an item), as its last
    // children, each followed by items for everything in memory below it.
    virtual void InsertChildItems(KeyNode* node, int image) = 0;
    // An item for `node` (whose parent has an item) as its parent's last
    // child, followed by items for everything in memory below `node`.
    virtual void InsertItem(KeyNode* node, int image) = 0;
    // Removes the items of `node`'s children with everything below them.
    virtual void DeleteChildItems(KeyNode* node) = 0;
    // Removes `node`'s item with everything below it; when the selection was
    // among them it moves to a neighbouring item (with a notification).
    virtual void DeleteItem(KeyNode* node) = 0;

    // The node of the selected item, or null.
    virtual KeyNode* GetSelectedNode() const = 0;
    // Selects `node`'s item (scrolling it into view and opening its
    // ancestors); null clears the selection. Notifies when it changed.
    virtual void SelectItem(KeyNode* node) = 0;
    virtual void Expand(KeyNode* node) = 0;
    virtual bool HasItem(const KeyNode* node) const = 0;

    // Hidden while many items change, so it is not redrawn item by item.
    virtual void SetVisible(bool visible) = 0;
};

}  // namespace qv
