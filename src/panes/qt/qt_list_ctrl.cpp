#include "panes/qt/qt_list_ctrl.h"

#include <algorithm>

#include <QHeaderView>
#include <QMouseEvent>
#include <QPalette>

#include "framework/qt/qt_text.h"

namespace qv {

namespace {

constexpr int kWidths[CTextRowModel::kColumns] = {100, 400};
const char* const kHeadings[CTextRowModel::kColumns] = {"Key Name", "Key Value"};
constexpr Qt::Alignment kAlignment = Qt::AlignLeft | Qt::AlignVCenter;

}  // namespace

int CTextRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CTextRowModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CTextRowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return QVariant();
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(kAlignment);
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::ToolTipRole)
        return row.tip.empty() ? QVariant() : QVariant(QStringLiteral("<pre>%1</pre>").arg(FromUtf8(row.tip).toHtmlEscaped()));
    if (role != Qt::DisplayRole) return QVariant();
    return FromUtf8(row.texts[static_cast<std::size_t>(index.column())]);
}

QVariant CTextRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return QVariant();
    if (role == Qt::DisplayRole) return QString::fromLatin1(kHeadings[section]);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(kAlignment);
    return QVariant();
}

Qt::ItemFlags CTextRowModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

void CTextRowModel::Clear() {
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

int CTextRowModel::Insert(int row, const std::string& text) {
    row = std::clamp(row, 0, static_cast<int>(m_rows.size()));
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(m_rows.begin() + row, Row{{text, std::string()}, std::string()});
    endInsertRows();
    return row;
}

void CTextRowModel::SetText(int row, int column, const std::string& text) {
    if (Text(row, column) == nullptr) return;
    m_rows[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)] = text;
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
}

void CTextRowModel::SetTip(int row, const std::string& tip) {
    if (Text(row, 0) == nullptr) return;
    m_rows[static_cast<std::size_t>(row)].tip = tip;
    emit dataChanged(index(row, 0), index(row, kColumns - 1), {Qt::ToolTipRole});
}

const std::string* CTextRowModel::Text(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0 || column >= kColumns) return nullptr;
    return &m_rows[static_cast<std::size_t>(row)].texts[static_cast<std::size_t>(column)];
}

CQtListCtrl::CQtListCtrl(QWidget* parent) : QTreeView(parent), m_model(new CTextRowModel(this)) {
    setModel(m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setSortingEnabled(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    QHeaderView* head = header();
    head->setStretchLastSection(false);
    head->setSectionsMovable(false);
    head->setDefaultAlignment(kAlignment);
    for (int column = 0; column < CTextRowModel::kColumns; ++column) head->resizeSection(column, kWidths[column]);
    // The selected row stays marked when the list loses the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
}

CQtListCtrl::~CQtListCtrl() = default;

void CQtListCtrl::DeleteAllItems() { m_model->Clear(); }

int CQtListCtrl::InsertItem(int row, const std::string& text) { return m_model->Insert(row, text); }

void CQtListCtrl::SetItemText(int row, int column, const std::string& text) { m_model->SetText(row, column, text); }

std::string CQtListCtrl::GetItemText(int row, int column) const {
    const std::string* text = m_model->Text(row, column);
    return text != nullptr ? *text : std::string();
}

int CQtListCtrl::GetItemCount() const { return m_model->rowCount(); }

void CQtListCtrl::SelectRow(int row) {
    if (row < 0 || row >= m_model->rowCount()) return;
    selectionModel()->setCurrentIndex(m_model->index(row, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool CQtListCtrl::IsRowSelected(int row) const {
    return row >= 0 && row < m_model->rowCount() && selectionModel()->isRowSelected(row, QModelIndex());
}

void CQtListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    // The handler may open a dialog and refill the list: nothing may follow it.
    if (event->button() == Qt::LeftButton && m_events != nullptr) m_events->OnDblClick();
}

}  // namespace qv
