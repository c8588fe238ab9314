#include "app/qt/main_frame.h"

#include <algorithm>
#include <iterator>

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "app/qt/differences_dock.h"
#include "framework/qt/icons.h"
#include "framework/qt/qt_text.h"
#include "app/frame_commands.h"
#include "app/quorvane_doc.h"
#include "res/resource.h"
#include "res/templates.h"

namespace qv {

namespace {

// A status bar text that gives way to the prompts beside it in a narrow
// window: as narrow as it must be, the rest elided, the whole in its tooltip.
class CGivingLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override {
        return {fontMetrics().averageCharWidth() * 6, QLabel::minimumSizeHint().height()};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
    }
};

// A Qt key sequence for an accelerator of the table.
QKeySequence KeysOf(const AcceleratorTemplate& accel) {
    Qt::KeyboardModifiers modifiers;
    if (accel.modifiers & amShift) modifiers |= Qt::ShiftModifier;
    if (accel.modifiers & amCtrl) modifiers |= Qt::ControlModifier;
    if (accel.modifiers & amAlt) modifiers |= Qt::AltModifier;
    int key = static_cast<int>(accel.key);  // letters and digits are the same codes
    if (accel.key == kVkBack) key = Qt::Key_Backspace;
    else if (accel.key == kVkInsert) key = Qt::Key_Insert;
    else if (accel.key == kVkDelete) key = Qt::Key_Delete;
    else if (accel.key >= kVkF1 && accel.key < kVkF1 + 24) key = Qt::Key_F1 + static_cast<int>(accel.key - kVkF1);
    return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(key)));
}

}  // namespace

CMainFrame::CMainFrame(CQuorvaneDoc& doc, CCmdTarget* app, QWidget* parent)
    : QMainWindow(parent), m_doc(doc), m_pApp(app) {
    const std::string title = LoadString(IDR_MAINFRAME);
    setWindowTitle(FromUtf8(title.substr(0, title.find('\n'))));

    for (const MenuTemplate& menu : MainMenu()) AddMenu(menu);
    CreateToolBar();
    CreateAccelerators();
    CreateGrid();

    // The differences list, docked below the panes until it is first used.
    m_pDifferences = new CDifferencesDock(m_doc, m_doc.Registry(), m_doc.Ui(), this);
    addDockWidget(Qt::BottomDockWidgetArea, m_pDifferences);
    m_pDifferences->hide();
    m_doc.m_onSidesChanging = [this] { m_pDifferences->Clear(); };
    m_doc.m_onSlaveChanged = [this] { m_pDifferences->SlaveChanged(); };
    auto* counts = new CGivingLabel(this);
    counts->setObjectName(QStringLiteral("differencesCounts"));
    statusBar()->addPermanentWidget(counts);
    connect(m_pDifferences, &CDifferencesDock::countsChanged, counts, [counts](const QString& text) {
        counts->setText(text);
        counts->setToolTip(text);
    });

    // Prompts replace the idle text while the pointer is on a command; it
    // comes back when they clear.
    const QString idle = FromUtf8(LoadString(AFX_IDS_IDLEMESSAGE));
    connect(statusBar(), &QStatusBar::messageChanged, this, [this, idle](const QString& text) {
        if (text.isEmpty()) statusBar()->showMessage(idle);
    });
    statusBar()->showMessage(idle);

    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { OnFocusChanged(now); });

    // Tool bar buttons are not refreshed by a menu opening; the idle timer does it.
    m_pIdleTimer = new QTimer(this);
    m_pIdleTimer->setInterval(100);
    connect(m_pIdleTimer, &QTimer::timeout, this, [this] {
        // Handlers may look at trees a running command is rebuilding, as
        // under a message box it shows; the state is refreshed after it.
        if (m_nCommandDepth == 0 && QApplication::activeModalWidget() == nullptr) UpdateCommandUI();
    });
    m_pIdleTimer->start();

    QSize size(1000, 700);
    if (const QScreen* screen = this->screen()) size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);
    UpdateCommandUI();
}

CMainFrame::~CMainFrame() {
    // Children go after this body: nothing may call back into a half-gone frame.
    disconnect(qApp, nullptr, this, nullptr);
    statusBar()->disconnect(this);
    m_pIdleTimer->stop();
    // The document may outlive the window: its list goes now, run and all.
    m_doc.m_onSidesChanging = nullptr;
    m_doc.m_onSlaveChanged = nullptr;
    delete m_pDifferences;
    // Views hold references to their controls, so they go first.
    for (auto& row : m_views)
        for (auto& view : row) view.reset();
}

bool CMainFrame::DifferencesRunning() const { return m_pDifferences != nullptr && m_pDifferences->Running(); }

QSize CMainFrame::InitialPaneSplit(QSize frame) { return QSize(frame.width() / 4, 2 * frame.height() / 5); }

void CMainFrame::ApplyInitialSplit() {
    m_bSplitApplied = true;
    const QSize split = InitialPaneSplit(frameGeometry().size());
    // Giving the rest to the second widget keeps the first exactly as asked.
    const auto sizes = [](QSplitter* s, int first) {
        const int whole = (s->orientation() == Qt::Horizontal ? s->width() : s->height()) - s->handleWidth();
        return QList<int>{first, std::max(0, whole - first)};
    };
    const QList<int> columns = sizes(m_pRow[0], split.width());
    for (QSplitter* row : m_pRow) row->setSizes(columns);
    m_pRows->setSizes(sizes(m_pRows, split.height()));
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_bSplitApplied) ApplyInitialSplit();
}

void CMainFrame::KeepLayoutIn(QSettings& settings) {
    m_pLayoutSettings = &settings;
    restoreGeometry(settings.value(QStringLiteral("Window/Geometry")).toByteArray());
    // Both rows share one column split.
    const bool rows = m_pRows->restoreState(settings.value(QStringLiteral("Window/Rows")).toByteArray());
    const QByteArray columns = settings.value(QStringLiteral("Window/Columns")).toByteArray();
    bool restored = rows;
    for (QSplitter* row : m_pRow) restored = row->restoreState(columns) && restored;
    if (restored) m_bSplitApplied = true;
}

void CMainFrame::SaveLayout(QSettings& settings) const {
    settings.setValue(QStringLiteral("Window/Geometry"), saveGeometry());
    settings.setValue(QStringLiteral("Window/Rows"), m_pRows->saveState());
    settings.setValue(QStringLiteral("Window/Columns"), m_pRow[0]->saveState());
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_pLayoutSettings != nullptr) SaveLayout(*m_pLayoutSettings);
    QMainWindow::closeEvent(event);
}

QAction* CMainFrame::MakeAction(UINT id, const QString& text) {
    if (QAction* existing = Action(id)) return existing;
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setStatusTip(FromUtf8(CommandPrompt(id)));
    action->setToolTip(FromUtf8(CommandTip(id)));
    const std::vector<UINT>& checkable = CheckableCommands();
    action->setCheckable(std::find(checkable.begin(), checkable.end(), id) != checkable.end());
    connect(action, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
    m_actions[id] = action;
    return action;
}

void CMainFrame::AddMenu(const MenuTemplate& menuTemplate) {
    QMenu* menu = menuBar()->addMenu(QString::fromLatin1(menuTemplate.title));
    for (const MenuItemTemplate& item : menuTemplate.items) {
        if (item.id == 0) menu->addSeparator();
        else menu->addAction(MakeAction(item.id, QString::fromLatin1(item.text)));
    }
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
}

void CMainFrame::AddContextMenu(QAbstractScrollArea* pane, std::initializer_list<UINT> ids) {
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    std::vector<QAction*> actions;  // null: a separator
    for (UINT id : ids) actions.push_back(id == 0 ? nullptr : MakeAction(id, FromUtf8(CommandTip(id)).trimmed()));
    connect(pane, &QWidget::customContextMenuRequested, this, [this, pane, actions](const QPoint& at) {
        // The commands go to the pane clicked, as they would from the menu bar with it active.
        pane->setFocus(Qt::MouseFocusReason);
        OnFocusChanged(pane);
        UpdateCommandUI();
        QMenu menu(this);
        for (QAction* action : actions) {
            if (action == nullptr) menu.addSeparator();
            else menu.addAction(action);
        }
        menu.exec(pane->viewport()->mapToGlobal(at));
    });
}

void CMainFrame::CreateToolBar() {
    m_pToolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_pToolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_pToolBar->setMovable(true);
    m_pToolBar->setFloatable(true);
    m_pToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_pToolBar->setIconSize(QSize(16, 16));
    int image = 0;
    for (UINT id : ToolBarButtons()) {
        if (id == 0) {
            m_pToolBar->addSeparator();
            continue;
        }
        // Commands only on the tool bar are named by their tip.
        QAction* action = MakeAction(id, FromUtf8(CommandTip(id)).trimmed());
        action->setIcon(ToolbarIcon(image++));
        m_pToolBar->addAction(action);
    }
    addToolBar(Qt::TopToolBarArea, m_pToolBar);
}

void CMainFrame::CreateAccelerators() {
    for (const AcceleratorTemplate& entry : Accelerators()) {
        auto* shortcut = new QShortcut(KeysOf(entry), this);
        const UINT id = entry.id;
        connect(shortcut, &QShortcut::activated, this, [this, id] { ExecuteCommand(id); });
    }
}

void CMainFrame::CreateGrid() {
    m_pRows = new QSplitter(Qt::Vertical, this);
    m_pRows->setChildrenCollapsible(false);
    for (int r = 0; r < kRows; ++r) {
        m_pRow[r] = new QSplitter(Qt::Horizontal, m_pRows);
        m_pRow[r]->setChildrenCollapsible(false);
        for (int c = 0; c < kColumns; ++c) {
            m_cells[r][c] = new QWidget(m_pRow[r]);  // until the pane comes
            m_pRow[r]->setStretchFactor(c, c);
        }
        m_pRows->setStretchFactor(r, r);
    }
    // One column divider for both rows, as in a single grid.
    connect(m_pRow[0], &QSplitter::splitterMoved, this, [this] { m_pRow[1]->setSizes(m_pRow[0]->sizes()); });
    connect(m_pRow[1], &QSplitter::splitterMoved, this, [this] { m_pRow[0]->setSizes(m_pRow[1]->sizes()); });
    setCentralWidget(m_pRows);
}

void CMainFrame::SetPane(int row, int column, QWidget* ctrl, std::unique_ptr<CView> view) {
    m_views[row][column].reset();
    QWidget* old = m_pRow[row]->replaceWidget(column, ctrl);
    delete old;
    m_cells[row][column] = ctrl;
    m_views[row][column] = std::move(view);
}

CView* CMainFrame::GetPane(int row, int column) const {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) return nullptr;
    return m_views[row][column].get();
}

QWidget* CMainFrame::GetPaneWidget(int row, int column) const {
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns) return nullptr;
    return m_cells[row][column];
}

CView* CMainFrame::GetActivePane() const { return GetPane(m_nActiveRow, m_nActiveColumn); }

void CMainFrame::SetActivePane(int row, int column) {
    if (GetPaneWidget(row, column) == nullptr) return;
    m_nActiveRow = row;
    m_nActiveColumn = column;
    m_cells[row][column]->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::ActivateNextPane(bool forward) {
    constexpr int cells = kRows * kColumns;
    const int step = forward ? 1 : cells - 1;
    const int next = (m_nActiveRow * kColumns + m_nActiveColumn + step) % cells;
    SetActivePane(next / kColumns, next % kColumns);
}

void CMainFrame::OnFocusChanged(QWidget* now) {
    if (now == nullptr) return;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            QWidget* cell = m_cells[r][c];
            if (cell != nullptr && (cell == now || cell->isAncestorOf(now))) {
                m_nActiveRow = r;
                m_nActiveColumn = c;
                return;
            }
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
    for (auto& [id, action] : m_actions) {
        const CCmdUI state = QueryCommandState(id);
        action->setEnabled(state.m_bEnabled);
        if (!state.m_strText.empty()) {
            // A text of the moment ("Undo Delete Key ..."), keeping the accelerator's.
            const QString text = action->text();
            const qsizetype tab = text.indexOf(QLatin1Char('\t'));
            action->setText(FromUtf8(state.m_strText) + (tab >= 0 ? text.mid(tab) : QString()));
        }
        if (action->isCheckable()) action->setChecked(state.m_nCheck != 0);
    }
}

QAction* CMainFrame::Action(UINT id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

bool CMainFrame::OnCmdMsg(UINT id) {
    switch (id) {
    case ID_APP_EXIT: close(); return true;
    case ID_VIEW_TOOLBAR: m_pToolBar->setVisible(m_pToolBar->isHidden()); return true;
    case ID_VIEW_STATUS_BAR: statusBar()->setVisible(statusBar()->isHidden()); return true;
    case ID_NEXT_PANE: ActivateNextPane(true); return true;
    case ID_PREV_PANE: ActivateNextPane(false); return true;
    case ID_DIFFERENCES:
        // A third of the window the first time it shows.
        if (m_pDifferences->isHidden()) resizeDocks({m_pDifferences}, {height() / 3}, Qt::Vertical);
        m_pDifferences->Start();
        return true;
    case ID_IGNORE_LIST: EditIgnoreList(m_doc.Ui(), this); return true;
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
    case ID_VIEW_TOOLBAR: cmdUI.SetCheck(m_pToolBar->isHidden() ? 0 : 1); return true;
    case ID_VIEW_STATUS_BAR: cmdUI.SetCheck(statusBar()->isHidden() ? 0 : 1); return true;
    default: return false;
    }
}

}  // namespace qv
