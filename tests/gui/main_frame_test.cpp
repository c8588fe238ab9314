// The main window over fake panes: the images, the status bar's prompts, the
// bars' toggles, command routing to the active pane and on to the
// application, F6 round the panes, the pane grid and its dividers.
#include <gtest/gtest.h>

#include <QAction>
#include <QEnterEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest/QTest>

#include "framework/qt/icons.h"
#include "app/qt/differences_dock.h"
#include "app/qt/main_frame.h"
#include "app/quorvane_doc.h"
#include "registry/unavailable_registry.h"
#include "tests/gui/modal_driver.h"
#include "tests/support/scripted_ui.h"

namespace qv::test {
namespace {

// A pane, or the application, that handles one command and counts its runs.
class FakePane : public CView {
public:
    explicit FakePane(UINT id = 0) : handles(id) {}
    UINT handles;
    int runs = 0;
    void OnTreesDiscarding() override {}
    bool OnCmdMsg(UINT id) override {
        if (id != handles) return false;
        ++runs;
        return true;
    }
    bool OnUpdateCmdUI(CCmdUI& cmdUI) override { return cmdUI.m_nID == handles; }
};

class MainFrameTest : public ::testing::Test {
protected:
    MainFrameTest() {
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c) {
                auto pane = std::make_unique<FakePane>();
                panes[r][c] = pane.get();
                frame.SetPane(r, c, new QPlainTextEdit, std::move(pane));
            }
    }
    void ShowActive() {
        frame.show();
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    }

    CUnavailableRegistry registry;
    CScriptedUI ui;
    CQuorvaneDoc doc{registry, ui};
    FakePane app{ID_APP_ABOUT};
    CMainFrame frame{doc, &app};
    FakePane* panes[2][2] = {};
};

TEST(Images, ToolBarAndTreeImagesAreDistinctSixteenPixelSquares) {
    std::vector<QImage> seen;
    for (int i = 0; i < kToolbarImageCount; ++i) seen.push_back(ToolbarImage(i).toImage());
    EXPECT_EQ(seen.size(), 17u);
    EXPECT_TRUE(ToolbarImage(kToolbarImageCount).isNull());
    for (int i = 0; i < 10; ++i) {
        seen.push_back(TreeImage(i).toImage());
        EXPECT_EQ(seen.back().pixelColor(0, 0) == QColor(0, 0, 128), i % 2 == 1) << "selected ones on blue " << i;
    }
    EXPECT_TRUE(TreeImage(10).isNull());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].size(), QSize(16, 16)) << i;
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(seen[i], seen[j]) << i << " " << j;
    }
}

TEST_F(MainFrameTest, StatusBarShowsThePromptUnderThePointerElseReadyAndTheBarsToggle) {
    ShowActive();
    EXPECT_EQ(frame.statusBar()->currentMessage(), "Ready");
    QWidget* button = frame.ToolBar()->widgetForAction(frame.Action(ID_FIND));
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), button->mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(button, &enter);
    EXPECT_EQ(frame.statusBar()->currentMessage(), "Find key or Value");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_EQ(frame.statusBar()->currentMessage(), "Ready");

    // The toggles follow the bars (which commands are enabled is checked through the application).
    frame.UpdateCommandUI();
    EXPECT_TRUE(frame.Action(ID_VIEW_TOOLBAR)->isChecked());
    EXPECT_TRUE(frame.Action(ID_SYNC)->isCheckable());

    frame.Action(ID_VIEW_TOOLBAR)->trigger();
    EXPECT_FALSE(frame.ToolBar()->isVisible() || frame.Action(ID_VIEW_TOOLBAR)->isChecked());
    frame.Action(ID_VIEW_STATUS_BAR)->trigger();
    EXPECT_FALSE(frame.statusBar()->isVisible() || frame.Action(ID_VIEW_STATUS_BAR)->isChecked());
    frame.Action(ID_VIEW_TOOLBAR)->trigger();
    EXPECT_TRUE(frame.ToolBar()->isVisible() && frame.Action(ID_VIEW_TOOLBAR)->isChecked());

    // The differences' counts give way to the prompts in a narrow window, whole in their tooltip.
    auto* counts = frame.statusBar()->findChild<QLabel*>("differencesCounts");
    ASSERT_NE(counts, nullptr);
    emit frame.findChild<CDifferencesDock*>()->countsChanged(QString(300, 'x'));
    EXPECT_EQ(counts->toolTip(), QString(300, 'x'));
    EXPECT_LT(counts->minimumSizeHint().width(), 100);
}

TEST_F(MainFrameTest, CommandsGoToThePaneLastFocusedThenOnToTheApplicationAndF6MovesThePane) {
    ShowActive();
    panes[0][0]->handles = panes[1][1]->handles = ID_APP_ABOUT;
    frame.Action(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(panes[0][0]->runs, 1);  // the first pane is active from the start

    frame.GetPaneWidget(1, 1)->setFocus();
    EXPECT_EQ(frame.GetActivePane(), panes[1][1]);
    frame.Action(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(panes[1][1]->runs, 1);
    EXPECT_EQ(app.runs, 0);

    frame.GetPaneWidget(0, 1)->setFocus();
    frame.Action(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(app.runs, 1);
    EXPECT_EQ(panes[0][0]->runs + panes[1][1]->runs, 2);

    // F6 moves the focus round the panes, Shift+F6 back; commands follow it.
    frame.SetActivePane(0, 0);
    const auto press = [](Qt::KeyboardModifiers mods) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, mods);
        return QApplication::focusWidget();
    };
    for (auto [r, c] : {std::pair{0, 1}, {1, 0}, {1, 1}, {0, 0}})
        EXPECT_EQ(press(Qt::NoModifier), frame.GetPaneWidget(r, c)) << r << c;
    EXPECT_EQ(press(Qt::ShiftModifier), frame.GetPaneWidget(1, 1));
    EXPECT_EQ(frame.GetActivePane(), panes[1][1]);
    frame.Action(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(panes[1][1]->runs, 2);
}

TEST_F(MainFrameTest, GridStartsAtALeftQuarterAndTopTwoFifthsAndSharesItsColumnDivider) {
    frame.resize(800, 600);
    ShowActive();
    const QSize split = CMainFrame::InitialPaneSplit(frame.frameGeometry().size());
    EXPECT_EQ(CMainFrame::InitialPaneSplit(QSize(1023, 601)), QSize(255, 240));
    EXPECT_EQ(frame.GetPaneWidget(1, 0)->width(), split.width());
    EXPECT_EQ(frame.GetPaneWidget(0, 0)->height(), split.height());
    EXPECT_EQ(frame.GetPaneWidget(0, 0)->y(), 0);

    // Drag the lower row's divider; the upper row follows.
    QWidget* handle = frame.RowSplitter(1)->handle(1);
    const QPoint middle = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, middle);
    QTest::mouseMove(handle, middle + QPoint(60, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, middle + QPoint(60, 0));
    EXPECT_EQ(frame.GetPaneWidget(1, 0)->width(), split.width() + 60);
    EXPECT_EQ(frame.RowSplitter(0)->sizes(), frame.RowSplitter(1)->sizes());
}

}  // namespace
}  // namespace qv::test
