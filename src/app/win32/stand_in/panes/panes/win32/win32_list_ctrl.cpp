#include "panes/win32/win32_list_ctrl.h"

namespace qv {

CWin32ListCtrl::CWin32ListCtrl(HWND parent, int id) {
    m_hWnd = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 0, 0, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageW(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const wchar_t* titles[] = {L"Name", L"Value"};
    for (int c = 0; c < 2; ++c) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<wchar_t*>(titles[c]);
        column.cx = c == 0 ? 150 : 300;
        SendMessageW(m_hWnd, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    }
}

CWin32ListCtrl::~CWin32ListCtrl() {
    if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

bool CWin32ListCtrl::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.hwndFrom != m_hWnd) return false;
    result = 0;
    if (header.code == NM_DBLCLK && m_events != nullptr) m_events->OnDblClick();
    return true;
}

void CWin32ListCtrl::DeleteAllItems() { SendMessageW(m_hWnd, LVM_DELETEALLITEMS, 0, 0); }

int CWin32ListCtrl::InsertItem(int row, const std::string& text) {
    const std::wstring wide = Widen(text);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(wide.c_str());
    return static_cast<int>(SendMessageW(m_hWnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void CWin32ListCtrl::SetItemText(int row, int column, const std::string& text) {
    const std::wstring wide = Widen(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(wide.c_str());
    SendMessageW(m_hWnd, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

std::string CWin32ListCtrl::GetItemText(int row, int column) const {
    std::vector<wchar_t> buffer(4096);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    const auto n = SendMessageW(m_hWnd, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return Narrow(std::wstring_view(buffer.data(), static_cast<std::size_t>(n)));
}

int CWin32ListCtrl::GetItemCount() const { return static_cast<int>(SendMessageW(m_hWnd, LVM_GETITEMCOUNT, 0, 0)); }

void CWin32ListCtrl::SelectRow(int row) {
    if (row < 0 || row >= GetItemCount()) return;
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(m_hWnd, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

bool CWin32ListCtrl::IsRowSelected(int row) const {
    return (SendMessageW(m_hWnd, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

}  // namespace qv
