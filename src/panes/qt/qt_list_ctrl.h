// The list control of a value pane on Qt: a report view of two columns over a
// flat model of the rows' texts.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QTreeView>

#include "panes/list_ctrl.h"

namespace qv {

// Texts are kept as given (8-bit, UTF-8 for display), so they read back
// unchanged. A row's tip shows in a fixed font, so hex dumps keep their columns.
class CTextRowModel final : public QAbstractTableModel {
public:
    static constexpr int kColumns = 2;

    explicit CTextRowModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void Clear();
    // `row` is clamped to the rows there are; returns where the row went.
    int Insert(int row, const std::string& text);
    void SetText(int row, int column, const std::string& text);
    const std::string* Text(int row, int column) const;
    void SetTip(int row, const std::string& tip);

private:
    struct Row {
        std::array<std::string, kColumns> texts;
        std::string tip;
    };
    std::vector<Row> m_rows;
};

class CQtListCtrl : public QTreeView, public IListCtrl {
    Q_OBJECT

public:
    explicit CQtListCtrl(QWidget* parent = nullptr);
    ~CQtListCtrl() override;

    void SetEvents(IListCtrlEvents* events) override { m_events = events; }
    void DeleteAllItems() override;
    int InsertItem(int row, const std::string& text) override;
    void SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) const override;
    void SetItemTip(int row, const std::string& tip) override { m_model->SetTip(row, tip); }
    int GetItemCount() const override;
    // One row selected at a time; the row also becomes current (focused).
    void SelectRow(int row) override;
    bool IsRowSelected(int row) const override;

protected:
    // Any double-click in the list, on a row or not.
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    CTextRowModel* m_model;
    IListCtrlEvents* m_events = nullptr;
};

}  // namespace qv
