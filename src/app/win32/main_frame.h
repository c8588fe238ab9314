// The main window: menu bar, tool bar, status bar and a two-by-two grid of
// panes: trees on the left, values on the right, Master above, Slave below,
// with one column divider shared by both rows and one row divider, both
// dragged with the mouse. Menus, tool bar buttons and accelerators all run
// commands by one route: the active pane, the document, the frame, the
// application. The differences list docks below the grid once it is used.
#pragma once

#include "framework/win32/win32_api.h"

#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/cmd_target.h"
#include "panes/tree_pane.h"

namespace qv {

class CDifferencesWindow;
class CQuorvaneDoc;
class CWin32Settings;
class IModalUI;

// Lets the user edit the ignore list kept in the settings folder, in a
// small dialog over `owner`.
void EditIgnoreList(IModalUI& ui, HWND owner);

// A control in a cell of the grid, as the frame handles it: its window and
// the notifications it sends its parent.
class IPaneControl {
public:
    virtual ~IPaneControl() = default;
    virtual HWND Hwnd() const = 0;
    virtual bool OnNotify(const NMHDR& header, LRESULT& result) = 0;
};

template <class Ctrl>
class CPaneControl : public IPaneControl {
public:
    explicit CPaneControl(std::unique_ptr<Ctrl> ctrl) : m_ctrl(std::move(ctrl)) {}
    HWND Hwnd() const override { return m_ctrl->Hwnd(); }
    bool OnNotify(const NMHDR& header, LRESULT& result) override { return m_ctrl->OnNotify(header, result); }
    Ctrl& Get() const { return *m_ctrl; }

private:
    std::unique_ptr<Ctrl> m_ctrl;
};

class CMainFrame : public CCmdTarget, public IPaneGrid {
public:
    static constexpr int kRows = 2;
    static constexpr int kColumns = 2;
    // Child window ids: the panes' controls are kFirstPaneId + row * 2 + column.
    static constexpr int kToolBarId = 1, kStatusBarId = 2, kDifferencesId = 3, kFirstPaneId = 100;

    // Creates the window (hidden). `app` is the last target on the route; may be null.
    explicit CMainFrame(CQuorvaneDoc& doc, CCmdTarget* app = nullptr);
    ~CMainFrame() override;
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    HWND Hwnd() const { return m_hWnd; }
    void Show(int showCommand = SW_SHOW);
    // Whether closing the window ends the message loop (the program's window does).
    bool m_bQuitOnClose = false;

    // The left column's width and the top row's height for a window of
    // `frame` (its whole rectangle): a quarter and two fifths.
    static SIZE InitialPaneSplit(SIZE frame);
    void ApplyInitialSplit();
    // The dividers in pixels from the grid's top left corner.
    POINT Split() const { return m_split; }
    void SetSplit(POINT split);

    // The window's place and the dividers are kept in `settings` (section
    // "Window"): restored now, saved when the window closes.
    void KeepLayoutIn(CWin32Settings& settings);
    void SaveLayout(CWin32Settings& settings) const;

    // Puts a control into a cell of the grid and `view` over it. The frame
    // owns both; the view goes before the control.
    template <class Ctrl>
    Ctrl& SetPane(int row, int column, std::unique_ptr<Ctrl> ctrl, std::unique_ptr<CView> view) {
        auto holder = std::make_unique<CPaneControl<Ctrl>>(std::move(ctrl));
        Ctrl& result = holder->Get();
        SetPaneControl(row, column, std::move(holder), std::move(view));
        return result;
    }
    CView* GetPane(int row, int column) const override;
    HWND GetPaneWindow(int row, int column) const;

    // Commands go first to the active pane: the one whose control last had
    // the focus (the Master tree until then).
    CView* GetActivePane() const;
    void GetActiveCell(int& row, int& column) const { row = m_nActiveRow, column = m_nActiveColumn; }
    void SetActivePane(int row, int column);
    // F6 and Shift+F6: the next or previous pane, row by row, cycling.
    void ActivateNextPane(bool forward);

    // Runs `id` along the route when its state allows; false otherwise.
    bool ExecuteCommand(UINT id);
    bool RouteCmdMsg(UINT id);
    // The state of `id` along the route; disabled when no target handles it.
    CCmdUI QueryCommandState(UINT id);
    // Brings the tool bar's buttons up to date (menus are updated as they open).
    void UpdateCommandUI();

    // A menu of the commands `ids` (0: a separator) on the right button in a
    // cell; they run with that pane active.
    void AddContextMenu(int row, int column, std::initializer_list<UINT> ids);

    // Accelerators, before a message is dispatched; true when it was one.
    bool PreTranslateMessage(MSG& msg);
    // Runs `work` from the message loop, after what is queued now.
    void Post(std::function<void()> work);

    HMENU Menu() const { return m_hMenu; }
    HACCEL Accelerators() const { return m_hAccel; }
    HWND ToolBar() const { return m_hToolBar; }
    HWND StatusBar() const { return m_hStatusBar; }
    // The status bar's text: the prompt or idle text (part 0), the differences counts (part 1).
    std::string StatusText(int part) const;
    CDifferencesWindow* Differences() const { return m_pDifferences.get(); }
    bool DifferencesRunning() const;

    // Exit, the tool bar and status bar toggles, F6 and Shift+F6, the
    // differences list and the ignore list.
    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI& cmdUI) override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void SetPaneControl(int row, int column, std::unique_ptr<IPaneControl> ctrl, std::unique_ptr<CView> view);
    void CreateMenuBar();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateAcceleratorTable();
    void Layout();
    // The grid's rectangle, less the differences list when it shows (and `withDifferences`).
    RECT GridRect(bool withDifferences = true) const;
    // The row divider as shown: m_split.y is kept for the grid without the differences list.
    int RowDivider() const;
    void SetPrompt(const std::string& text);
    void SetCellFocused(HWND control);
    void ShowDifferences();

    // Message handlers.
    void OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnNotify(const NMHDR& header);
    void OnInitMenuPopup(HMENU popup);
    void OnMenuSelect(UINT item, UINT flags, HMENU menu);
    void OnContextMenu(HWND control, POINT at);
    bool OnSetCursor();
    void OnMouseDown(POINT at);
    void OnMouseMove(POINT at);
    void OnClose();

    CQuorvaneDoc& m_doc;
    CCmdTarget* m_pApp;
    HWND m_hWnd = nullptr;
    HMENU m_hMenu = nullptr;
    HACCEL m_hAccel = nullptr;
    HWND m_hToolBar = nullptr;
    HWND m_hStatusBar = nullptr;
    HIMAGELIST m_hToolImages = nullptr;
    std::map<UINT, std::wstring> m_menuTexts;  // the menu's own text per command
    std::wstring m_tip;                        // the tool tip being shown
    std::unique_ptr<IPaneControl> m_cells[kRows][kColumns];
    std::unique_ptr<CView> m_views[kRows][kColumns];
    std::map<HWND, std::vector<UINT>> m_contextMenus;
    std::unique_ptr<CDifferencesWindow> m_pDifferences;
    int m_nDifferencesHeight = 0;
    int m_nActiveRow = 0;
    int m_nActiveColumn = 0;
    POINT m_split{0, 0};
    bool m_bSplitApplied = false;
    enum Drag { kNoDrag = 0, kDragColumn = 1, kDragRow = 2, kDragDifferences = 4 };
    int m_nDrag = kNoDrag;
    CWin32Settings* m_pLayoutSettings = nullptr;
    int m_nCommandDepth = 0;
    std::deque<std::function<void()>> m_posted;
};

}  // namespace qv
