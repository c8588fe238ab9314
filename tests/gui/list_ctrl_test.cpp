// The Qt value list: its two columns, rows as the value pane fills them,
// the one selected row, double-clicks (what the value pane fills in is
// tested in tests/unit).
#include <gtest/gtest.h>

#include <QtTest/QTest>

#include "panes/qt/qt_list_ctrl.h"

namespace qv::test {
namespace {

struct DblClickSink : IListCtrlEvents {
    void OnDblClick() override { ++count; }
    int count = 0;
};

class ListCtrlTest : public ::testing::Test {
protected:
    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (int row = 0; row < list.GetItemCount(); ++row)
            if (list.IsRowSelected(row)) rows.push_back(row);
        return rows;
    }
    CQtListCtrl list;
};

TEST_F(ListCtrlTest, TwoUnsortedColumnsWhoseRowsKeepTheirTextsAndPlacesOneSelected) {
    const QAbstractItemModel* m = list.model();
    ASSERT_EQ(m->columnCount(), 2);
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), "Key Name");
    EXPECT_EQ(m->headerData(1, Qt::Horizontal).toString(), "Key Value");
    EXPECT_FALSE(list.isSortingEnabled() || list.rootIsDecorated());
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);

    EXPECT_EQ(list.InsertItem(0, "b"), 0);
    EXPECT_EQ(list.InsertItem(0, "a"), 0);
    EXPECT_EQ(list.InsertItem(9, "c"), 2);
    list.SetItemText(1, 1, "Grüße\xff");  // not UTF-8 at the end: still read back as given
    list.SetItemText(1, 2, "no such column");
    EXPECT_EQ(list.GetItemText(1, 1), "Grüße\xff");
    EXPECT_EQ(list.GetItemText(2, 0), "c");
    EXPECT_EQ(list.GetItemText(3, 0), "");
    EXPECT_EQ(m->index(1, 1).data().toString().left(5), QString::fromUtf8("Grüße"));

    // One row is selected at a time.
    list.SelectRow(1);
    list.SelectRow(2);
    list.SelectRow(7);  // missing: ignored
    EXPECT_EQ(SelectedRows(), std::vector<int>{2});
    EXPECT_EQ(list.currentIndex().row(), 2);
    list.DeleteAllItems();
    EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_F(ListCtrlTest, DoubleClickOnARowOrBesideTheRows) {
    DblClickSink sink;
    list.SetEvents(&sink);
    list.InsertItem(0, "v");
    list.resize(520, 200);
    list.show();
    QWidget* port = list.viewport();
    QTest::mouseDClick(port, Qt::LeftButton, {}, list.visualRect(list.model()->index(0, 0)).center());
    EXPECT_EQ(sink.count, 1);
    EXPECT_TRUE(list.IsRowSelected(0));
    QTest::mouseDClick(port, Qt::LeftButton, {}, QPoint(10, port->height() - 10));
    EXPECT_EQ(sink.count, 2);
    list.SetEvents(nullptr);
}

}  // namespace
}  // namespace qv::test
