// The Qt tree control: items mirror what was inserted, with their images;
// selection notifications come once per real change, expansion survives edits.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QtTest/QTest>

#include "framework/qt/icons.h"
#include "panes/qt/qt_tree_ctrl.h"
#include "model/key_node.h"

namespace qv::test {
namespace {

// Records the selection the control reports at each notification.
struct SelSink : ITreeCtrlEvents {
    explicit SelSink(ITreeCtrl& c) : ctrl(c) { ctrl.SetEvents(this); }
    void OnSelChanged() override { seen.push_back(ctrl.GetSelectedNode()); }
    ITreeCtrl& ctrl;
    std::vector<KeyNode*> seen;
};

KeyNode* Add(KeyNode* parent, const char* name) { return parent->AppendSubkey(std::make_unique<KeyNode>(name)); }

class TreeCtrlTest : public ::testing::Test {
protected:
    // top: A (a1, a2), B, C (c1 (c1x)); shown as a file side.
    void SetUp() override {
        a = Add(&top, "A");
        a1 = Add(a, "a1");
        a2 = Add(a, "a2");
        b = Add(&top, "B");
        c = Add(&top, "C");
        c1 = Add(c, "c1");
        c1x = Add(c1, "c1x");
        Show();
    }
    void Show() {
        ctrl.DeleteAllItems();
        ctrl.InsertRootItem(&top, kImageDocument, kImageDocument + 1);
        ctrl.InsertChildItems(&top, kImageFileKey);
    }
    QString Text(const KeyNode* n) const { return ctrl.IndexOf(n).data().toString(); }
    bool Expanded(const KeyNode* n) const { return ctrl.isExpanded(ctrl.IndexOf(n)); }

    KeyNode top{"top"};
    KeyNode *a, *a1, *a2, *b, *c, *c1, *c1x;
    CQtTreeCtrl ctrl;
    QAbstractItemModelTester checker{&ctrl.KeyModel(), QAbstractItemModelTester::FailureReportingMode::Fatal};
    SelSink sink{ctrl};
};

TEST_F(TreeCtrlTest, ItemsMirrorTheInsertedNodesInOrderWithTheirImages) {
    const CKeyItemModel& m = ctrl.KeyModel();
    ASSERT_EQ(m.rowCount(), 1);
    const QModelIndex root = m.index(0, 0);
    EXPECT_EQ(ctrl.NodeAt(root), &top);
    ASSERT_EQ(m.rowCount(root), 3);
    for (int row = 0; row < 3; ++row) EXPECT_EQ(ctrl.NodeAt(m.index(row, 0, root)), top.subkeys[row].get());
    EXPECT_EQ(ctrl.NodeAt(ctrl.IndexOf(c1x).parent()), c1);
    EXPECT_EQ(m.ItemCount(), 8u);
    EXPECT_FALSE(m.hasChildren(ctrl.IndexOf(b)));

    // A level loaded later goes after what is there, without repeating it.
    KeyNode* b1 = Add(b, "Schlüssel");
    KeyNode* a3 = Add(a, "a3");
    Add(a3, "a3x");
    ctrl.InsertChildItems(b, kImageLocalKey);
    ctrl.InsertChildItems(a, kImageFileKey);
    ctrl.InsertItem(a3, kImageFileKey);  // has one already
    EXPECT_EQ(Text(b1), QString::fromUtf8("Schlüssel"));
    EXPECT_EQ(ctrl.IndexOf(a3).row(), 2);
    EXPECT_EQ(m.rowCount(ctrl.IndexOf(a)), 3);
    EXPECT_TRUE(ctrl.HasItem(a3->subkeys[0].get()));
    // Each item shows the image pair it was inserted with.
    auto image = [&](const KeyNode* n, QIcon::Mode mode) {
        return ctrl.IndexOf(n).data(Qt::DecorationRole).value<QIcon>().pixmap(16, mode).toImage();
    };
    EXPECT_EQ(image(&top, QIcon::Selected), TreeImage(kImageDocument + 1).toImage());
    EXPECT_EQ(image(c1x, QIcon::Normal), TreeImage(kImageFileKey).toImage());
    EXPECT_EQ(image(b1, QIcon::Selected), TreeImage(kImageLocalKey + 1).toImage());
}

TEST_F(TreeCtrlTest, UserClicksAndKeysNotifyOnlyOnChange) {
    ctrl.resize(300, 300);
    ctrl.show();
    ctrl.Expand(&top);
    QWidget* port = ctrl.viewport();
    QTest::mouseClick(port, Qt::LeftButton, {}, ctrl.visualRect(ctrl.IndexOf(b)).center());
    QTest::mouseClick(port, Qt::LeftButton, {}, ctrl.visualRect(ctrl.IndexOf(b)).center());
    QTest::mouseClick(port, Qt::LeftButton, Qt::ControlModifier, ctrl.visualRect(ctrl.IndexOf(b)).center());
    QTest::mouseClick(port, Qt::LeftButton, {}, QPoint(5, port->height() - 5));  // below the items
    EXPECT_EQ(sink.seen, std::vector<KeyNode*>{b});
    QTest::keyClick(&ctrl, Qt::Key_Down);
    EXPECT_EQ(sink.seen, (std::vector<KeyNode*>{b, c}));
    EXPECT_EQ(ctrl.GetSelectedNode(), c);
}

TEST_F(TreeCtrlTest, SelectItemOpensAncestorsCollapsingMovesItUpAndEachChangeNotifies) {
    ctrl.SelectItem(c1x);
    ctrl.SelectItem(c1x);
    EXPECT_EQ(sink.seen, std::vector<KeyNode*>{c1x});
    EXPECT_TRUE(Expanded(&top) && Expanded(c) && Expanded(c1));
    EXPECT_FALSE(Expanded(a));
    EXPECT_EQ(ctrl.currentIndex(), ctrl.IndexOf(c1x));
    EXPECT_TRUE(ctrl.selectionModel()->isSelected(ctrl.IndexOf(c1x)));
    ctrl.collapse(ctrl.IndexOf(c));  // moves the selection up
    ctrl.SelectItem(nullptr);
    EXPECT_EQ(sink.seen, (std::vector<KeyNode*>{c1x, c, nullptr}));
    EXPECT_TRUE(ctrl.selectionModel()->selectedIndexes().isEmpty());
}

TEST_F(TreeCtrlTest, DeletingTheSelectionMovesItToANeighbourOnce) {
    struct Case {
        KeyNode* selected;
        KeyNode* deleted;
        KeyNode* then;
    };
    // Next sibling, previous sibling, parent, and from inside a deleted subtree.
    for (const Case& k : {Case{a1, a1, a2}, Case{a2, a2, a1}, Case{c1x, c1x, c1}, Case{c1x, c, b}}) {
        Show();
        ctrl.SelectItem(k.selected);
        sink.seen.clear();
        ctrl.DeleteItem(k.deleted);
        EXPECT_EQ(sink.seen, std::vector<KeyNode*>{k.then}) << k.deleted->name;
        EXPECT_EQ(ctrl.currentIndex(), ctrl.IndexOf(k.then));
        EXPECT_FALSE(ctrl.HasItem(k.deleted));
    }
    Show();
    ctrl.SelectItem(c1x);
    sink.seen.clear();
    ctrl.DeleteItem(a);  // elsewhere: no change
    ctrl.DeleteChildItems(c);
    EXPECT_EQ(sink.seen, std::vector<KeyNode*>{c});
    EXPECT_FALSE(ctrl.HasItem(c1));
    EXPECT_FALSE(ctrl.KeyModel().hasChildren(ctrl.IndexOf(c)));
    ctrl.DeleteAllItems();
    EXPECT_EQ(sink.seen.size(), 1u);
    EXPECT_EQ(ctrl.GetSelectedNode(), nullptr);
    EXPECT_EQ(ctrl.KeyModel().rowCount(), 0);
}

TEST_F(TreeCtrlTest, EditsElsewhereKeepExpansion) {
    for (KeyNode* n : {&top, a, c, c1}) ctrl.Expand(n);
    Add(b, "b1");
    ctrl.InsertChildItems(b, kImageFileKey);
    ctrl.DeleteItem(a1);
    ctrl.DeleteItem(b);  // C moves up a row
    EXPECT_TRUE(Expanded(&top) && Expanded(a) && Expanded(c) && Expanded(c1));
    EXPECT_EQ(ctrl.IndexOf(c).row(), 1);
    EXPECT_EQ(ctrl.IndexOf(a2).row(), 0);
}

TEST_F(TreeCtrlTest, HidingNeverShowsAControlThatWasNotShown) {
    ctrl.SetVisible(true);
    EXPECT_FALSE(ctrl.isVisible());
    ctrl.show();
    ctrl.SetVisible(false);
    EXPECT_FALSE(ctrl.isVisible() || ctrl.updatesEnabled());
    ctrl.SetVisible(true);
    EXPECT_TRUE(ctrl.isVisible() && ctrl.updatesEnabled());
}

}  // namespace
}  // namespace qv::test
