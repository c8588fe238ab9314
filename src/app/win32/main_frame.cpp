#include "app/win32/main_frame.h"

#include <windowsx.h>

#include <algorithm>
#include <iterator>

#include "app/frame_commands.h"
#include "app/quorvane_doc.h"
#include "app/win32/differences_window.h"
#include "app/win32/win32_settings.h"
#include "framework/win32/win32_images.h"
#include "res/resource.h"
#include "res/templates.h"

namespace qv {

namespace {

constexpr wchar_t kClassName[] = L"QuorvaneMainFrame";
constexpr UINT kRunPosted = WM_APP + 1;
constexpr UINT_PTR kIdleTimer = 1;
constexpr int kBar = 5;         // a divider's width
constexpr int kMinPane = 24;    // a pane is never dragged narrower
constexpr int kCountsWidth = 320;

bool IsCheckable(UINT id) {
    const std::vector<UINT>& checkable = CheckableCommands();
    return std::find(checkable.begin(), checkable.end(), id) != checkable.end();
}

// The command's name where only its tip names it (tool bar commands, context menus).
std::wstring TipName(UINT id) {
    std::string tip = CommandTip(id);
    while (!tip.empty() && (tip.back() == ' ' || tip.back() == '\n')) tip.pop_back();
    return Widen(tip);
}

// The window's own visible style: a child of a hidden frame still counts as shown.
bool Shown(HWND hwnd) { return hwnd != nullptr && (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0; }

bool KeyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

}  // namespace

CMainFrame::CMainFrame(CQuorvaneDoc& doc, CCmdTarget* app) : m_doc(doc), m_pApp(app) {
    RegisterWindowClass(kClassName);
    const std::string title = LoadString(IDR_MAINFRAME);
    // The size first asked for: at most nine tenths of the work area.
    RECT work{0, 0, 1000, 700};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = std::min(1000, static_cast<int>(work.right - work.left) * 9 / 10);
    const int height = std::min(700, static_cast<int>(work.bottom - work.top) * 9 / 10);
    m_hWnd = CreateWindowExW(0, kClassName, Widen(title.substr(0, title.find('\n'))).c_str(),
                             WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, width, height, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CMainFrame::WindowProc));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(CreateProgramIcon(32)));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(CreateProgramIcon(16)));

    CreateMenuBar();
    CreateToolBar();
    CreateStatusBar();
    CreateAcceleratorTable();

    // The differences list, docked below the panes once it is first used.
    m_pDifferences = std::make_unique<CDifferencesWindow>(m_hWnd, kDifferencesId, m_doc, m_doc.Registry(), m_doc.Ui());
    m_pDifferences->m_onCounts = [this](const std::string& text) {
        SendMessageW(m_hStatusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(Widen(text).c_str()));
    };
    m_pDifferences->m_onClose = [this] {
        ShowWindow(m_pDifferences->Hwnd(), SW_HIDE);
        Layout();
    };
    m_doc.m_onSidesChanging = [this] { m_pDifferences->Clear(); };
    m_doc.m_onSlaveChanged = [this] { m_pDifferences->SlaveChanged(Shown(m_pDifferences->Hwnd()) != FALSE); };

    // Tool bar buttons are not refreshed by a menu opening; the idle timer does it.
    SetTimer(m_hWnd, kIdleTimer, 100, nullptr);
    Layout();
    UpdateCommandUI();
}

CMainFrame::~CMainFrame() {
    KillTimer(m_hWnd, kIdleTimer);
    // The document may outlive the window: its list goes now, run and all.
    m_doc.m_onSidesChanging = nullptr;
    m_doc.m_onSlaveChanged = nullptr;
    m_pDifferences.reset();
    // Views hold references to their controls, so they go first.
    for (auto& row : m_views)
        for (auto& view : row) view.reset();
    for (auto& row : m_cells)
        for (auto& cell : row) cell.reset();
    // Nothing may call back into a half-gone frame.
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    DestroyWindow(m_hWnd);
    if (m_hAccel != nullptr) DestroyAcceleratorTable(m_hAccel);
    if (m_hToolImages != nullptr) ImageList_Destroy(m_hToolImages);
}

LRESULT CALLBACK CMainFrame::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* frame = reinterpret_cast<CMainFrame*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (frame == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    return frame->HandleMessage(message, wParam, lParam);
}

LRESULT CMainFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: OnCommand(wParam, lParam); return 0;
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_SIZE: Layout(); return 0;
    case WM_INITMENUPOPUP: OnInitMenuPopup(reinterpret_cast<HMENU>(wParam)); return 0;
    case WM_MENUSELECT: OnMenuSelect(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HMENU>(lParam)); return 0;
    case WM_CONTEXTMENU: OnContextMenu(reinterpret_cast<HWND>(wParam), {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}); return 0;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == m_hWnd && LOWORD(lParam) == HTCLIENT && OnSetCursor()) return TRUE;
        break;
    case WM_LBUTTONDOWN: OnMouseDown({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}); return 0;
    case WM_MOUSEMOVE: OnMouseMove({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}); return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (m_nDrag != kNoDrag) {
            m_nDrag = kNoDrag;
            if (message == WM_LBUTTONUP) ReleaseCapture();
        }
        return 0;
    case WM_TIMER:
        // Handlers may look at trees a running command is rebuilding, as
        // under a message box it shows; the state is refreshed after it.
        if (wParam == kIdleTimer && m_nCommandDepth == 0) UpdateCommandUI();
        return 0;
    case WM_SETFOCUS:
        if (HWND pane = GetPaneWindow(m_nActiveRow, m_nActiveColumn)) SetFocus(pane);
        return 0;
    case kRunPosted:
        if (!m_posted.empty()) {
            std::function<void()> work = std::move(m_posted.front());
            m_posted.pop_front();
            work();
        }
        return 0;
    case WM_CLOSE: OnClose(); return 0;
    default: break;
    }
    return DefWindowProcW(m_hWnd, message, wParam, lParam);
}

void CMainFrame::Show(int showCommand) {
    if (!m_bSplitApplied) ApplyInitialSplit();
    ShowWindow(m_hWnd, showCommand);
    UpdateWindow(m_hWnd);
}

SIZE CMainFrame::InitialPaneSplit(SIZE frame) { return SIZE{frame.cx / 4, 2 * frame.cy / 5}; }

void CMainFrame::ApplyInitialSplit() {
    m_bSplitApplied = true;
    RECT window;
    GetWindowRect(m_hWnd, &window);
    const SIZE split = InitialPaneSplit({window.right - window.left, window.bottom - window.top});
    SetSplit({split.cx, split.cy});
}

void CMainFrame::SetSplit(POINT split) {
    m_split = split;
    Layout();
}

void CMainFrame::KeepLayoutIn(CWin32Settings& settings) {
    m_pLayoutSettings = &settings;
    const auto left = settings.GetInt("Window", "Left"), top = settings.GetInt("Window", "Top");
    const auto right = settings.GetInt("Window", "Right"), bottom = settings.GetInt("Window", "Bottom");
    if (left && top && right && bottom && *right > *left && *bottom > *top) {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof(placement);
        GetWindowPlacement(m_hWnd, &placement);
        placement.rcNormalPosition = RECT{*left, *top, *right, *bottom};
        placement.showCmd = settings.GetInt("Window", "Maximized").value_or(0) != 0 ? SW_SHOWMAXIMIZED : SW_HIDE;
        SetWindowPlacement(m_hWnd, &placement);
    }
    const auto x = settings.GetInt("Window", "SplitX"), y = settings.GetInt("Window", "SplitY");
    if (x && y) {
        m_bSplitApplied = true;
        SetSplit({*x, *y});
    }
}

void CMainFrame::SaveLayout(CWin32Settings& settings) const {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    GetWindowPlacement(m_hWnd, &placement);
    const RECT& r = placement.rcNormalPosition;
    settings.SetInt("Window", "Left", r.left);
    settings.SetInt("Window", "Top", r.top);
    settings.SetInt("Window", "Right", r.right);
    settings.SetInt("Window", "Bottom", r.bottom);
    settings.SetInt("Window", "Maximized", placement.showCmd == SW_SHOWMAXIMIZED ? 1 : 0);
    settings.SetInt("Window", "SplitX", m_split.x);
    settings.SetInt("Window", "SplitY", m_split.y);
}

void CMainFrame::OnClose() {
    if (m_pLayoutSettings != nullptr) SaveLayout(*m_pLayoutSettings);
    m_pDifferences->Clear();  // a run reading the sides ends first
    ShowWindow(m_hWnd, SW_HIDE);
    if (m_bQuitOnClose) PostQuitMessage(0);
}

void CMainFrame::CreateMenuBar() {
    m_hMenu = CreateMenu();
    for (const MenuTemplate& menuTemplate : MainMenu()) {
        HMENU popup = CreatePopupMenu();
        for (const MenuItemTemplate& item : menuTemplate.items) {
            if (item.id == 0) {
                AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            m_menuTexts[item.id] = Widen(item.text);
            AppendMenuW(popup, MF_STRING, item.id, m_menuTexts[item.id].c_str());
        }
        AppendMenuW(m_hMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), Widen(menuTemplate.title).c_str());
    }
    SetMenu(m_hWnd, m_hMenu);
}

void CMainFrame::CreateToolBar() {
    m_hToolBar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                                 WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0, 0, m_hWnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kToolBarId)), nullptr, nullptr);
    SendMessageW(m_hToolBar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    m_hToolImages = CreateToolbarImageList();
    SendMessageW(m_hToolBar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_hToolImages));
    std::vector<TBBUTTON> buttons;
    int image = 0;
    for (UINT id : ToolBarButtons()) {
        TBBUTTON button{};
        if (id == 0) {
            button.fsStyle = BTNS_SEP;
        } else {
            button.iBitmap = image++;
            button.idCommand = static_cast<int>(id);
            button.fsState = TBSTATE_ENABLED;
            button.fsStyle = static_cast<BYTE>(BTNS_BUTTON | (IsCheckable(id) ? BTNS_CHECK : 0));
        }
        buttons.push_back(button);
    }
    SendMessageW(m_hToolBar, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    SendMessageW(m_hToolBar, TB_AUTOSIZE, 0, 0);
}

void CMainFrame::CreateStatusBar() {
    m_hStatusBar = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                                   m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBarId)), nullptr, nullptr);
    SetPrompt(LoadString(AFX_IDS_IDLEMESSAGE));
}

void CMainFrame::CreateAcceleratorTable() {
    std::vector<ACCEL> table;
    for (const AcceleratorTemplate& entry : qv::Accelerators()) {
        ACCEL accel{};
        accel.fVirt = static_cast<BYTE>(FVIRTKEY | ((entry.modifiers & amShift) ? FSHIFT : 0) |
                                        ((entry.modifiers & amCtrl) ? FCONTROL : 0) | ((entry.modifiers & amAlt) ? FALT : 0));
        accel.key = static_cast<WORD>(entry.key);
        accel.cmd = static_cast<WORD>(entry.id);
        table.push_back(accel);
    }
    m_hAccel = CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
}

int CMainFrame::RowDivider() const {
    // Both rows give up room to the differences list in proportion, so the
    // Slave's stays in sight; the divider kept is the one without the list.
    const RECT grid = GridRect(), whole = GridRect(false);
    if (grid.bottom - grid.top == whole.bottom - whole.top || whole.bottom <= whole.top) return m_split.y;
    return MulDiv(m_split.y, grid.bottom - grid.top, whole.bottom - whole.top);
}

RECT CMainFrame::GridRect(bool withDifferences) const {
    RECT area;
    GetClientRect(m_hWnd, &area);
    auto height = [](HWND hwnd) {
        if (!Shown(hwnd)) return 0;
        RECT r;
        GetWindowRect(hwnd, &r);
        return static_cast<int>(r.bottom - r.top);
    };
    area.top += height(m_hToolBar);
    area.bottom -= height(m_hStatusBar);
    if (withDifferences && m_pDifferences && Shown(m_pDifferences->Hwnd())) area.bottom -= m_nDifferencesHeight + kBar;
    area.bottom = std::max(area.bottom, area.top);
    return area;
}

void CMainFrame::Layout() {
    if (m_hToolBar == nullptr || m_hStatusBar == nullptr) return;
    SendMessageW(m_hToolBar, TB_AUTOSIZE, 0, 0);
    SendMessageW(m_hStatusBar, WM_SIZE, 0, 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int parts[] = {std::max(0, static_cast<int>(client.right) - kCountsWidth), -1};
    SendMessageW(m_hStatusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));

    const RECT grid = GridRect();
    if (m_pDifferences && Shown(m_pDifferences->Hwnd()))
        MoveWindow(m_pDifferences->Hwnd(), grid.left, grid.bottom + kBar, grid.right - grid.left, m_nDifferencesHeight,
                   TRUE);
    const int width = grid.right - grid.left, height = grid.bottom - grid.top;
    // Dividers stay inside the grid, leaving every pane some room.
    const int x = std::clamp(static_cast<int>(m_split.x), std::min(kMinPane, width), std::max(0, width - kBar - kMinPane));
    const int y = std::clamp(RowDivider(), std::min(kMinPane, height), std::max(0, height - kBar - kMinPane));
    const RECT cells[kRows][kColumns] = {
        {{grid.left, grid.top, grid.left + x, grid.top + y}, {grid.left + x + kBar, grid.top, grid.right, grid.top + y}},
        {{grid.left, grid.top + y + kBar, grid.left + x, grid.bottom},
         {grid.left + x + kBar, grid.top + y + kBar, grid.right, grid.bottom}},
    };
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c)
            if (HWND pane = GetPaneWindow(r, c)) {
                const RECT& cell = cells[r][c];
                MoveWindow(pane, cell.left, cell.top, std::max(0L, cell.right - cell.left),
                           std::max(0L, cell.bottom - cell.top), TRUE);
            }
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

bool CMainFrame::OnSetCursor() {
    POINT at;
    GetCursorPos(&at);
    ScreenToClient(m_hWnd, &at);
    const RECT grid = GridRect();
    int over = kNoDrag;
    if (at.y >= grid.bottom && at.y < grid.bottom + kBar && m_pDifferences && Shown(m_pDifferences->Hwnd()))
        over = kDragDifferences;
    else if (PtInRect(&grid, at)) {
        if (at.x >= grid.left + m_split.x && at.x < grid.left + m_split.x + kBar) over |= kDragColumn;
        if (at.y >= grid.top + RowDivider() && at.y < grid.top + RowDivider() + kBar) over |= kDragRow;
    }
    if (m_nDrag != kNoDrag) over = m_nDrag;
    if (over == kNoDrag) return false;
    const auto cursor = over == kDragColumn ? IDC_SIZEWE : over == (kDragColumn | kDragRow) ? IDC_SIZEALL : IDC_SIZENS;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(cursor)));
    return true;
}

void CMainFrame::OnMouseDown(POINT at) {
    const RECT grid = GridRect();
    m_nDrag = kNoDrag;
    if (at.y >= grid.bottom && at.y < grid.bottom + kBar) m_nDrag = kDragDifferences;
    else {
        if (at.x >= grid.left + m_split.x && at.x < grid.left + m_split.x + kBar) m_nDrag |= kDragColumn;
        if (at.y >= grid.top + RowDivider() && at.y < grid.top + RowDivider() + kBar) m_nDrag |= kDragRow;
    }
    if (m_nDrag != kNoDrag) SetCapture(m_hWnd);
}

void CMainFrame::OnMouseMove(POINT at) {
    if (m_nDrag == kNoDrag || GetCapture() != m_hWnd) return;
    const RECT grid = GridRect();
    if (m_nDrag & kDragDifferences) {
        RECT client;
        GetClientRect(m_hWnd, &client);
        const int bottom = grid.bottom + kBar + m_nDifferencesHeight;
        m_nDifferencesHeight = std::clamp(bottom - static_cast<int>(at.y) - kBar, kMinPane * 2,
                                          std::max(kMinPane * 2, static_cast<int>(client.bottom) / 4 * 3));
    }
    if (m_nDrag & kDragColumn) m_split.x = at.x - grid.left - kBar / 2;
    if (m_nDrag & kDragRow) {
        const RECT whole = GridRect(false);
        m_split.y = MulDiv(at.y - grid.top - kBar / 2, whole.bottom - whole.top, std::max(1L, grid.bottom - grid.top));
    }
    Layout();
}

void CMainFrame::SetPaneControl(int row, int column, std::unique_ptr<IPaneControl> ctrl, std::unique_ptr<CView> view) {
    m_views[row][column].reset();
    m_cells[row][column] = std::move(ctrl);
    m_views[row][column] = std::move(view);
    Layout();
}

CView* CMainFrame::GetPane(int row, int column) const {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) return nullptr;
    return m_views[row][column].get();
}

HWND CMainFrame::GetPaneWindow(int row, int column) const {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns || !m_cells[row][column]) return nullptr;
    return m_cells[row][column]->Hwnd();
}

CView* CMainFrame::GetActivePane() const { return GetPane(m_nActiveRow, m_nActiveColumn); }

void CMainFrame::SetActivePane(int row, int column) {
    HWND pane = GetPaneWindow(row, column);
    if (pane == nullptr) return;
    m_nActiveRow = row;
    m_nActiveColumn = column;
    SetFocus(pane);
}

void CMainFrame::ActivateNextPane(bool forward) {
    constexpr int cells = kRows * kColumns;
    const int step = forward ? 1 : cells - 1;
    const int next = (m_nActiveRow * kColumns + m_nActiveColumn + step) % cells;
    SetActivePane(next / kColumns, next % kColumns);
}

void CMainFrame::SetCellFocused(HWND control) {
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c)
            if (HWND pane = GetPaneWindow(r, c); pane != nullptr && (pane == control || IsChild(pane, control))) {
                m_nActiveRow = r;
                m_nActiveColumn = c;
            }
}

bool CMainFrame::RouteCmdMsg(UINT id) { return RouteCommand(m_doc, GetActivePane(), *this, m_pApp, id); }

CCmdUI CMainFrame::QueryCommandState(UINT id) { return CommandState(m_doc, GetActivePane(), *this, m_pApp, id); }

bool CMainFrame::ExecuteCommand(UINT id) {
    // The shown state may be up to one idle tick old; ask again.
    if (!QueryCommandState(id).m_bEnabled) {
        UpdateCommandUI();
        return false;
    }
    ++m_nCommandDepth;
    RouteCmdMsg(id);
    --m_nCommandDepth;
    UpdateCommandUI();
    return true;
}

void CMainFrame::UpdateCommandUI() {
    for (UINT id : ToolBarButtons()) {
        if (id == 0) continue;
        const CCmdUI state = QueryCommandState(id);
        SendMessageW(m_hToolBar, TB_ENABLEBUTTON, id, MAKELPARAM(state.m_bEnabled ? TRUE : FALSE, 0));
        if (IsCheckable(id)) SendMessageW(m_hToolBar, TB_CHECKBUTTON, id, MAKELPARAM(state.m_nCheck != 0, 0));
    }
}

void CMainFrame::OnInitMenuPopup(HMENU popup) {
    const int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        const UINT id = GetMenuItemID(popup, i);
        if (id == 0 || id == static_cast<UINT>(-1)) continue;
        const CCmdUI state = QueryCommandState(id);
        EnableMenuItem(popup, id, MF_BYCOMMAND | (state.m_bEnabled ? MF_ENABLED : MF_GRAYED));
        if (IsCheckable(id)) CheckMenuItem(popup, id, MF_BYCOMMAND | (state.m_nCheck != 0 ? MF_CHECKED : MF_UNCHECKED));
        const auto own = m_menuTexts.find(id);
        if (own == m_menuTexts.end()) continue;
        // A text of the moment ("Undo Delete Key ..."), keeping the accelerator's.
        std::wstring text = own->second;
        if (!state.m_strText.empty()) {
            const std::size_t tab = text.find(L'\t');
            text = Widen(state.m_strText) + (tab == std::wstring::npos ? std::wstring() : text.substr(tab));
        }
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_STRING;
        info.dwTypeData = text.data();
        SetMenuItemInfoW(popup, id, FALSE, &info);
    }
}

void CMainFrame::OnMenuSelect(UINT item, UINT flags, HMENU menu) {
    // The menu closed: the idle text comes back.
    if (flags == 0xFFFF && menu == nullptr) {
        SetPrompt(LoadString(AFX_IDS_IDLEMESSAGE));
        return;
    }
    const bool command = (flags & (MF_POPUP | MF_SEPARATOR)) == 0 && item != 0;
    SetPrompt(command ? CommandPrompt(item) : std::string());
}

void CMainFrame::SetPrompt(const std::string& text) {
    SendMessageW(m_hStatusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
}

std::string CMainFrame::StatusText(int part) const {
    const auto length = LOWORD(SendMessageW(m_hStatusBar, SB_GETTEXTLENGTHW, part, 0));
    std::wstring text(length + 1u, L'\0');
    SendMessageW(m_hStatusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return Narrow(text);
}

void CMainFrame::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    const auto sender = reinterpret_cast<HWND>(lParam);
    // A menu item (code 0, no sender), an accelerator (code 1) or a tool bar button.
    if (sender == nullptr || (sender == m_hToolBar && code == BN_CLICKED)) ExecuteCommand(id);
}

LRESULT CMainFrame::OnNotify(const NMHDR& header) {
    if (header.code == TTN_GETDISPINFOW) {
        // The tool bar's tips: the command's tip text.
        auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
        m_tip = TipName(static_cast<UINT>(header.idFrom));
        info.lpszText = m_tip.data();
        return 0;
    }
    if (header.code == NM_SETFOCUS) SetCellFocused(header.hwndFrom);
    LRESULT result = 0;
    for (auto& row : m_cells)
        for (auto& cell : row)
            if (cell && cell->OnNotify(header, result)) return result;
    return 0;
}

void CMainFrame::AddContextMenu(int row, int column, std::initializer_list<UINT> ids) {
    if (HWND pane = GetPaneWindow(row, column)) m_contextMenus[pane] = ids;
}

void CMainFrame::OnContextMenu(HWND control, POINT at) {
    const auto it = m_contextMenus.find(control);
    if (it == m_contextMenus.end()) return;
    // The commands go to the pane clicked, as they would from the menu bar with it active.
    SetFocus(control);
    SetCellFocused(control);
    if (at.x == -1 && at.y == -1) {  // from the keyboard: at the control's corner
        RECT r;
        GetWindowRect(control, &r);
        at = {r.left + 8, r.top + 8};
    }
    HMENU menu = CreatePopupMenu();
    for (UINT id : it->second) {
        if (id == 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        const CCmdUI state = QueryCommandState(id);
        AppendMenuW(menu, MF_STRING | (state.m_bEnabled ? MF_ENABLED : MF_GRAYED), id, TipName(id).c_str());
    }
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, m_hWnd, nullptr));
    DestroyMenu(menu);
    if (chosen != 0) ExecuteCommand(chosen);
}

bool CMainFrame::PreTranslateMessage(MSG& msg) {
    if (m_hAccel == nullptr || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    if (msg.hwnd != m_hWnd && !IsChild(m_hWnd, msg.hwnd)) return false;
    // A text field keeps its editing keys; Undo's and the pane keys stay the program's.
    wchar_t className[16] = {};
    GetClassNameW(msg.hwnd, className, 16);
    if (lstrcmpiW(className, L"Edit") == 0 && msg.wParam != VK_F6 && !(msg.wParam == 'Z' && KeyDown(VK_CONTROL)))
        return false;
    return TranslateAcceleratorW(m_hWnd, m_hAccel, &msg) != 0;
}

void CMainFrame::Post(std::function<void()> work) {
    m_posted.push_back(std::move(work));
    PostMessageW(m_hWnd, kRunPosted, 0, 0);
}

bool CMainFrame::DifferencesRunning() const { return m_pDifferences && m_pDifferences->Running(); }

void CMainFrame::ShowDifferences() {
    if (Shown(m_pDifferences->Hwnd())) return;
    // Two fifths of the window the first time it shows.
    if (m_nDifferencesHeight == 0) {
        RECT client;
        GetClientRect(m_hWnd, &client);
        m_nDifferencesHeight = std::max(160, static_cast<int>(client.bottom) * 2 / 5);
    }
    ShowWindow(m_pDifferences->Hwnd(), SW_SHOW);
    Layout();
}

bool CMainFrame::OnCmdMsg(UINT id) {
    switch (id) {
    case ID_APP_EXIT: SendMessageW(m_hWnd, WM_CLOSE, 0, 0); return true;
    case ID_VIEW_TOOLBAR:
        ShowWindow(m_hToolBar, Shown(m_hToolBar) ? SW_HIDE : SW_SHOW);
        Layout();
        return true;
    case ID_VIEW_STATUS_BAR:
        ShowWindow(m_hStatusBar, Shown(m_hStatusBar) ? SW_HIDE : SW_SHOW);
        Layout();
        return true;
    case ID_NEXT_PANE: ActivateNextPane(true); return true;
    case ID_PREV_PANE: ActivateNextPane(false); return true;
    case ID_DIFFERENCES:
        if (m_pDifferences->Start()) ShowDifferences();
        return true;
    case ID_IGNORE_LIST: EditIgnoreList(m_doc.Ui(), m_hWnd); return true;
    default: return false;
    }
}

bool CMainFrame::OnUpdateCmdUI(CCmdUI& cmdUI) {
    switch (cmdUI.m_nID) {
    case ID_APP_EXIT:
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
    case ID_IGNORE_LIST: cmdUI.Enable(true); return true;
    case ID_DIFFERENCES: cmdUI.Enable(m_doc.BothTrees() && !m_pDifferences->Running()); return true;
    case ID_VIEW_TOOLBAR: cmdUI.SetCheck(Shown(m_hToolBar) ? 1 : 0); return true;
    case ID_VIEW_STATUS_BAR: cmdUI.SetCheck(Shown(m_hStatusBar) ? 1 : 0); return true;
    default: return false;
    }
}

}  // namespace qv
