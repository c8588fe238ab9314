// The list control under a value pane, as the pane's code sees it: rows of
// two columns (name and value text) in report view.
#pragma once

#include <string>

namespace qv {

class IListCtrlEvents {
public:
    virtual ~IListCtrlEvents() = default;
    virtual void OnDblClick() = 0;
};

class IListCtrl {
public:
    virtual ~IListCtrl() = default;

    virtual void SetEvents(IListCtrlEvents* events) = 0;

    virtual void DeleteAllItems() = 0;
    // Inserts a row at `row` with `text` in column 0; returns its index.
    virtual int InsertItem(int row, const std::string& text) = 0;
    virtual void SetItemText(int row, int column, const std::string& text) = 0;
    virtual std::string GetItemText(int row, int column) const = 0;
    // The text shown while the pointer rests on the row.
    virtual void SetItemTip(int row, const std::string& tip) = 0;
    virtual int GetItemCount() const = 0;
    // Gives `row` the selected and focused state; a missing row is ignored.
    virtual void SelectRow(int row) = 0;
    virtual bool IsRowSelected(int row) const = 0;
};

}  // namespace qv
