#include "panes/value_pane.h"

#include <cstdio>

#include "compare/diff_output.h"
#include "dialogs/edit_dialogs.h"
#include "framework/document.h"
#include "model/open_key.h"
#include "panes/tree_pane.h"

namespace qv {

std::string ValueText(const ValueEntry& value) {
    if (value.type == REG_SZ) return std::string(value.Text());
    if (value.type == REG_DWORD) {
        char text[32];
        std::snprintf(text, sizeof text, "(%X)  %lu", static_cast<unsigned>(value.Number()),
                      static_cast<unsigned long>(value.Number()));
        return text;
    }
    return "It is Binary !!!";
}

int WriteValues(KeyNode* node, IRegistry& registry, const std::string& computer, int index) {
    COpenedKey key(registry);
    if (key.OpenNode(computer, node, KEY_WRITE) != 0) return 0;
    for (std::size_t i = 0; i < node->values.size(); ++i) {
        if (index != -1 && static_cast<std::size_t>(index) != i) continue;
        const ValueEntry& v = *node->values[i];
        if (registry.RegSetValueExA(key.Key(), v.name.c_str(), 0, v.type, v.Bytes(), v.WriteSize()) != ERROR_SUCCESS)
            return 0;
    }
    return 1;
}

CRegListView::CRegListView(IListCtrl& ctrl) : m_ctrl(ctrl) { m_ctrl.SetEvents(this); }

CRegListView::~CRegListView() { m_ctrl.SetEvents(nullptr); }

bool CRegListView::OnCmdMsg(UINT id) {
    if (id == ID_VIEW_DATA) {
        ViewData();
        return true;
    }
    return m_pDocument != nullptr && m_pDocument->OnPrintCommand(id);
}

bool CRegListView::OnUpdateCmdUI(CCmdUI& cmdUI) {
    if (cmdUI.m_nID != ID_VIEW_DATA) return false;
    cmdUI.Enable(SelectedValue() != nullptr);
    return true;
}

const ValueEntry* CRegListView::SelectedValue() const {
    const int row = GetFirstSelectedRow();
    if (row < 0 || m_pNode == nullptr || static_cast<std::size_t>(row) >= m_pNode->values.size()) return nullptr;
    return m_pNode->values[static_cast<std::size_t>(row)].get();
}

void CRegListView::ViewData() {
    const ValueEntry* v = SelectedValue();
    if (v == nullptr || m_pDocument == nullptr) return;
    const std::string key = FullKeyName(m_pNode);
    DataView view;
    view.caption = std::string(m_nPane == 3 ? "Slave" : "Master") + " Value Data";
    view.heading = key + "\n" + DisplayName(v->name) + "    " + TypeAndSize(v->type, v->data.size());
    view.text = ReadableData(v->type, v->data, m_environment);
    if (!ValueRegLine(*v, key, view.regLine, view.regError)) view.regLine.clear();
    m_pDocument->Ui().ShowData(view);
}

void CRegListView::OnTreesDiscarding() {
    m_pNode = nullptr;
    m_ctrl.DeleteAllItems();
}

void CRegListView::FillValues() {
    m_ctrl.DeleteAllItems();
    if (m_pNode == nullptr) return;
    for (std::size_t i = 0; i < m_pNode->values.size(); ++i) {
        const ValueEntry& v = *m_pNode->values[i];
        const int row = m_ctrl.InsertItem(static_cast<int>(i), std::string(v.Name()));
        m_ctrl.SetItemText(row, 1, ValueText(v));
        m_ctrl.SetItemTip(row, TypeAndSize(v.type, v.data.size()) + '\n' + DataTip(v.type, v.data, m_environment));
    }
}

void CRegListView::ShowNode(KeyNode* node, int row) {
    m_pNode = node;
    FillValues();
    m_ctrl.SelectRow(row);
}

int CRegListView::GetFirstSelectedRow() const {
    const int count = m_ctrl.GetItemCount();
    for (int row = 0; row < count; ++row)
        if (m_ctrl.IsRowSelected(row)) return row;
    return -1;
}

void CRegListView::OnDblClick() {
    if (m_nPane == -1 || m_pDocument == nullptr) return;
    IModalUI& ui = m_pDocument->Ui();
    if (m_nPane == 2) {
        AfxMessageBox(ui, IDS_CANT_MODIFY_MASTER);
        return;
    }
    if (m_pDocument->SideKind(m_nPane) == kSourceFile) {
        AfxMessageBox(ui, IDS_CANT_MODIFY_FILE);
        return;
    }
    if (m_pDocument->RefuseWrite(m_nPane)) return;
    const int row = GetFirstSelectedRow();
    if (row < 0 || m_pNode == nullptr || static_cast<std::size_t>(row) >= m_pNode->values.size()) return;
    ValueEntry& e = *m_pNode->values[static_cast<std::size_t>(row)];

    // Only text and numbers are edited; every other type would be written
    // back shortened, so it is refused like binary data.
    const ValueEntry before = e;
    if (e.type == REG_SZ) {
        CModifyStringDlg dlg;
        dlg.m_strValue = std::string(e.Text());
        if (ui.DoModal(dlg) != IDOK) return;
        e.SetText(dlg.m_strValue);
    } else if (e.type == REG_DWORD) {
        CModifyNumberDlg dlg;
        dlg.m_dwValue = e.Number();
        if (ui.DoModal(dlg) != IDOK) return;
        e.SetNumber(dlg.m_dwValue);
    } else {
        AfxMessageBox(ui, IDS_CANT_MODIFY_BINARY);
        return;
    }
    CChangeGuard change(m_pDocument, m_nPane, "Edit Value " + DisplayValueName(before) + " in " + FullKeyName(m_pNode),
                        {{FullKeyName(m_pNode), false}});
    if (!change.Ok()) {
        e = before;
        return;
    }
    if (WriteValues(m_pNode, m_pDocument->Registry(), m_pDocument->SideName(m_nPane), row) == 1) {
        FillValues();
    } else {
        e = before;
        AfxMessageBox(ui, IDS_CANT_UPDATE_REGISTRY);
    }
}

}  // namespace qv
