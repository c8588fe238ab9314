#include "panes/win32/win32_list_ctrl.h"

#include <algorithm>

namespace qv {

namespace {

constexpr int kWidths[CWin32ListCtrl::kColumns] = {100, 400};
const wchar_t* const kHeadings[CWin32ListCtrl::kColumns] = {L"Key Name", L"Key Value"};
// Tips are this wide at most before they wrap; their lines are shorter.
constexpr int kTipWidth = 900;

// Copies `text` into a buffer of `capacity` characters, cut short when it
// must be (never between the halves of a surrogate pair), zero-terminated.
void CopyOut(const std::wstring& text, wchar_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return;
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(capacity - 1));
    if (n < text.size() && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    std::copy_n(text.data(), n, buffer);
    buffer[n] = L'\0';
}

}  // namespace

CWin32ListCtrl::CWin32ListCtrl(HWND parent, int id) {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&init);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                        LVS_NOSORTHEADER | LVS_OWNERDATA;
    m_hwnd = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", style, 0, 0, 0, 0, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                               nullptr);
    // Notifications in their wide forms, whatever the parent window is.
    ::SendMessageW(m_hwnd, LVM_SETUNICODEFORMAT, TRUE, 0);
    // Subclassed the classic way (SetWindowSubclass wants comctl32 6, that is a manifest).
    ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_listProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(m_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWin32ListCtrl::SubclassProc)));
    const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP;
    ::SendMessageW(m_hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    for (int column = 0; column < kColumns; ++column) {
        LVCOLUMNW col{};
        col.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.fmt = LVCFMT_LEFT;
        col.cx = kWidths[column];
        col.pszText = const_cast<wchar_t*>(kHeadings[column]);
        col.iSubItem = column;
        ::SendMessageW(m_hwnd, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col));
    }
    // Tips hold the data, hex dumps among them: a fixed font keeps their
    // columns, and a width makes the tip keep its line breaks.
    if (HWND tips = reinterpret_cast<HWND>(::SendMessageW(m_hwnd, LVM_GETTOOLTIPS, 0, 0))) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        const LONG height = ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)
                                ? metrics.lfStatusFont.lfHeight
                                : -12;
        m_tipFont = ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");
        if (m_tipFont != nullptr) ::SendMessageW(tips, WM_SETFONT, reinterpret_cast<WPARAM>(m_tipFont), FALSE);
        ::SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, kTipWidth);
    }
}

CWin32ListCtrl::~CWin32ListCtrl() {
    m_events = nullptr;
    if (m_hwnd != nullptr && ::IsWindow(m_hwnd)) {
        ::SetWindowLongPtrW(m_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_listProc));
        ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hwnd);
    }
    if (m_tipFont != nullptr) ::DeleteObject(m_tipFont);
}

LRESULT CALLBACK CWin32ListCtrl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CWin32ListCtrl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    self->Flush();
    return ::CallWindowProcW(self->m_listProc, hwnd, message, wParam, lParam);
}

void CWin32ListCtrl::MarkChanged() {
    if (m_changed) return;
    m_changed = true;
    // One repaint asked for; the paint tells the list view the rows first.
    ::InvalidateRect(m_hwnd, nullptr, FALSE);
}

void CWin32ListCtrl::Flush() {
    if (!m_changed) return;
    m_changed = false;
    ::SendMessageW(m_hwnd, LVM_SETITEMCOUNT, static_cast<WPARAM>(m_rows.size()), LVSICF_NOSCROLL);
}

void CWin32ListCtrl::DeleteAllItems() {
    m_rows.clear();
    m_changed = false;
    ::SendMessageW(m_hwnd, LVM_DELETEALLITEMS, 0, 0);  // the selection goes too
}

int CWin32ListCtrl::InsertItem(int row, const std::string& text) {
    row = std::clamp(row, 0, GetItemCount());
    // The list view keeps the states by index: a selection below moves down.
    const int selected = row < GetItemCount() ? static_cast<int>(::SendMessageW(m_hwnd, LVM_GETNEXTITEM,
                                                                                static_cast<WPARAM>(-1), LVNI_SELECTED))
                                              : -1;
    m_rows.insert(m_rows.begin() + row, Row{{text, std::string()}, std::string()});
    MarkChanged();
    if (selected >= row) SelectRow(selected + 1);
    return row;
}

void CWin32ListCtrl::SetItemText(int row, int column, const std::string& text) {
    if (!Has(row) || column < 0 || column >= kColumns) return;
    m_rows[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)] = text;
    MarkChanged();
}

std::string CWin32ListCtrl::GetItemText(int row, int column) const {
    if (!Has(row) || column < 0 || column >= kColumns) return {};
    return m_rows[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)];
}

void CWin32ListCtrl::SetItemTip(int row, const std::string& tip) {
    if (Has(row)) m_rows[static_cast<std::size_t>(row)].tip = tip;
}

void CWin32ListCtrl::SelectRow(int row) {
    if (!Has(row)) return;
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = 0;
    ::SendMessageW(m_hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(m_hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    ::SendMessageW(m_hwnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

bool CWin32ListCtrl::IsRowSelected(int row) const {
    return Has(row) && ::SendMessageW(m_hwnd, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) != 0;
}

bool CWin32ListCtrl::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.hwndFrom != m_hwnd) return false;
    result = 0;
    switch (header.code) {
    case LVN_GETDISPINFOW: {
        auto& item = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)).item;
        if ((item.mask & LVIF_TEXT) != 0) {
            CopyOut(Widen(GetItemText(item.iItem, item.iSubItem)), item.pszText, item.cchTextMax);
        }
        return true;
    }
    case LVN_GETINFOTIPW: {
        auto& info = const_cast<NMLVGETINFOTIPW&>(reinterpret_cast<const NMLVGETINFOTIPW&>(header));
        if (!Has(info.iItem) || m_rows[static_cast<std::size_t>(info.iItem)].tip.empty()) return true;
        // A tip keeps its line breaks when they are CR LF.
        std::wstring tip;
        for (wchar_t c : Widen(m_rows[static_cast<std::size_t>(info.iItem)].tip)) {
            if (c == L'\n') tip += L'\r';
            tip += c;
        }
        CopyOut(tip, info.pszText, info.cchTextMax);
        return true;
    }
    case NM_DBLCLK:
        // The handler may open a dialog and refill the list: nothing may follow it.
        if (m_events != nullptr) m_events->OnDblClick();
        return true;
    default:
        return false;
    }
}

}  // namespace qv
