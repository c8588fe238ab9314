// Stand-in: a plain SysListView32 in report view, two columns.
#pragma once

#include <string>
#include <vector>

#include "framework/win32/win32_api.h"
#include "panes/list_ctrl.h"

namespace qv {

class CWin32ListCtrl : public IListCtrl {
public:
    CWin32ListCtrl(HWND parent, int id);
    ~CWin32ListCtrl() override;
    HWND Hwnd() const { return m_hWnd; }
    bool OnNotify(const NMHDR& header, LRESULT& result);

    void SetEvents(IListCtrlEvents* events) override { m_events = events; }
    void DeleteAllItems() override;
    int InsertItem(int row, const std::string& text) override;
    void SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) const override;
    void SetItemTip(int, const std::string&) override {}
    int GetItemCount() const override;
    void SelectRow(int row) override;
    bool IsRowSelected(int row) const override;

private:
    HWND m_hWnd = nullptr;
    IListCtrlEvents* m_events = nullptr;
};

}  // namespace qv
