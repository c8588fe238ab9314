// The main window: menu, dockable tool bar, status bar and a two-by-two grid
// of panes: trees on the left, values on the right, Master above, Slave below.
// Menus, tool bar buttons and accelerators all run commands by one route:
// the active pane, the document, the frame, the application.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include <QMainWindow>
#include <QPointer>
#include <QSize>

#include "framework/cmd_target.h"
#include "panes/tree_pane.h"

class QAbstractScrollArea;
class QAction;
class QCloseEvent;
class QMenu;
class QSettings;
class QSplitter;
class QTimer;
class QToolBar;

namespace qv {

class CDifferencesDock;
struct MenuTemplate;
class CQuorvaneDoc;
class IModalUI;

// Lets the user edit the ignore list kept in the settings folder.
void EditIgnoreList(IModalUI& ui, QWidget* parent);

class CMainFrame : public QMainWindow, public CCmdTarget, public IPaneGrid {
    Q_OBJECT

public:
    static constexpr int kRows = 2;
    static constexpr int kColumns = 2;

    // `app` is the last target on the route; may be null.
    explicit CMainFrame(CQuorvaneDoc& doc, CCmdTarget* app = nullptr, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Whether the differences list is still being filled.
    bool DifferencesRunning() const;

    // The left column's width and the top row's height for a window of
    // `frame` (its whole rectangle): a quarter and two fifths.
    static QSize InitialPaneSplit(QSize frame);
    // Sizes the grid from the window's rectangle as it is now; the first
    // show does this by itself.
    void ApplyInitialSplit();

    // The window's size and place and the panes' dividers are kept in
    // `settings` (under "Window/") across runs: restored now, saved when the
    // window closes. Without a kept layout the first show splits as above.
    void KeepLayoutIn(QSettings& settings);
    void SaveLayout(QSettings& settings) const;

    // Puts `ctrl` into a cell of the grid and `view` over it. The frame owns
    // both; the view goes before the control.
    void SetPane(int row, int column, QWidget* ctrl, std::unique_ptr<CView> view);
    CView* GetPane(int row, int column) const override;
    QWidget* GetPaneWidget(int row, int column) const;

    // Commands go first to the active pane: the one whose control last had
    // the focus (the Master tree until then).
    CView* GetActivePane() const;
    // Makes the pane active and focuses its control.
    void SetActivePane(int row, int column);
    // F6 and Shift+F6: the next or previous pane, row by row, cycling.
    void ActivateNextPane(bool forward);

    // Runs `id` along the route when its state allows; false otherwise.
    bool ExecuteCommand(UINT id);
    // The route itself: true when some target handled `id`.
    bool RouteCmdMsg(UINT id);
    // The state of `id` along the route; disabled when no target handles it.
    CCmdUI QueryCommandState(UINT id);
    // Brings the enabled and checked state of every command's action up to date.
    void UpdateCommandUI();

    // A menu of the commands `ids` (0: a separator) on the right button in
    // `pane`; they run with that pane active.
    void AddContextMenu(QAbstractScrollArea* pane, std::initializer_list<UINT> ids);

    // The action of a command: one per id, shared by menu and tool bar.
    QAction* Action(UINT id) const;
    QToolBar* ToolBar() const { return m_pToolBar; }
    // The splitter of one row (two columns) and the one holding both rows.
    QSplitter* RowSplitter(int row) const { return m_pRow[row]; }
    QSplitter* RowsSplitter() const { return m_pRows; }

    // Exit, the tool bar and status bar toggles, F6 and Shift+F6.
    bool OnCmdMsg(UINT id) override;
    bool OnUpdateCmdUI(CCmdUI& cmdUI) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* MakeAction(UINT id, const QString& text);
    void AddMenu(const MenuTemplate& menuTemplate);
    void CreateToolBar();
    void CreateAccelerators();
    void CreateGrid();
    void OnFocusChanged(QWidget* now);

    CQuorvaneDoc& m_doc;
    CCmdTarget* m_pApp;
    std::map<UINT, QAction*> m_actions;
    QToolBar* m_pToolBar = nullptr;
    QTimer* m_pIdleTimer = nullptr;
    QSplitter* m_pRows = nullptr;
    QSplitter* m_pRow[kRows] = {};
    QPointer<QWidget> m_cells[kRows][kColumns];
    std::unique_ptr<CView> m_views[kRows][kColumns];
    int m_nActiveRow = 0;
    int m_nActiveColumn = 0;
    bool m_bSplitApplied = false;
    QSettings* m_pLayoutSettings = nullptr;
    int m_nCommandDepth = 0;  // commands running, counting nested ones
    CDifferencesDock* m_pDifferences = nullptr;  // owned by the window
};

}  // namespace qv
