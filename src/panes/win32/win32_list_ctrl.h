// The list control of a value pane on Win32: a SysListView32 in report view,
// two columns, full-row selection, a tip per row.
//
// The rows' texts are kept here as given (UTF-8) and read back unchanged.
// The list view is a virtual one (LVS_OWNERDATA): it asks for what it shows
// (LVN_GETDISPINFOW) and holds only the number of rows and their states.
// Under Wine every message that changes a shown list costs trips to the
// server (invalidating, scroll bars), a few milliseconds each on a busy
// machine, so rows are not told one by one: inserting and changing rows
// only marks the list, and the new count reaches the list view just before
// it next handles any message (a paint, a click, a question from here).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "framework/win32/win32_api.h"
#include "panes/list_ctrl.h"

namespace qv {

class CWin32ListCtrl : public IListCtrl {
public:
    static constexpr int kColumns = 2;

    CWin32ListCtrl(HWND parent, int id);
    ~CWin32ListCtrl() override;

    CWin32ListCtrl(const CWin32ListCtrl&) = delete;
    CWin32ListCtrl& operator=(const CWin32ListCtrl&) = delete;

    HWND Hwnd() const { return m_hwnd; }
    // The parent window passes on WM_NOTIFY from the control; true when it
    // was handled, with `result` the message's result.
    bool OnNotify(const NMHDR& header, LRESULT& result);

    void SetEvents(IListCtrlEvents* events) override { m_events = events; }
    void DeleteAllItems() override;
    int InsertItem(int row, const std::string& text) override;
    void SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) const override;
    void SetItemTip(int row, const std::string& tip) override;
    int GetItemCount() const override { return static_cast<int>(m_rows.size()); }
    // One row selected at a time; the row also gets the focus and is scrolled to.
    void SelectRow(int row) override;
    bool IsRowSelected(int row) const override;

private:
    struct Row {
        std::array<std::string, kColumns> texts;
        std::string tip;
    };
    bool Has(int row) const { return row >= 0 && row < GetItemCount(); }
    // Something shown changed: the list view is to be told and repainted.
    void MarkChanged();
    // Tells the list view the number of rows when it changed.
    void Flush();
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hwnd = nullptr;
    WNDPROC m_listProc = nullptr;  // the list view's own
    bool m_changed = false;
    HFONT m_tipFont = nullptr;
    IListCtrlEvents* m_events = nullptr;
    std::vector<Row> m_rows;
};

}  // namespace qv
