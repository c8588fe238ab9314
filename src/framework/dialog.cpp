#include "framework/dialog.h"

#include <cstdint>
#include <stdexcept>

#include "model/key_node.h"

namespace qv {


const DialogTemplate* FindDialogTemplate(UINT id) {
    for (const DialogTemplate& t : DialogTemplates())
        if (t.id == id) return &t;
    return nullptr;
}

std::vector<int> RadioGroupIds(const DialogTemplate& dlg, int firstId) {
    std::vector<int> ids;
    bool inGroup = false;
    for (const ControlTemplate& c : dlg.controls) {
        if (!inGroup) {
            if (c.id == firstId && c.kind == ControlKind::RadioButton) {
                inGroup = true;
                ids.push_back(c.id);
            }
            continue;
        }
        if (c.kind != ControlKind::RadioButton || (c.style & csGroup)) break;
        ids.push_back(c.id);
    }
    return ids;
}

void CDataExchange::Fail(int id, UINT messageId) {
    m_bFailed = true;
    if (m_pDlg->m_pWnd == nullptr) return;
    AfxMessageBox(m_pDlg->m_pWnd->Ui(), messageId, MB_OK | MB_ICONWARNING);
    m_pDlg->m_pWnd->SetFocusTo(id);
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
    if (pDX->m_bFailed) return;
    CDialogWindow* wnd = pDX->m_pDlg->m_pWnd;
    if (pDX->m_bSaveAndValidate) value = wnd->GetDlgItemText(id);
    else wnd->SetDlgItemText(id, value);
}

void DDX_Text(CDataExchange* pDX, int id, std::uint32_t& value) {
    if (pDX->m_bFailed) return;
    CDialogWindow* wnd = pDX->m_pDlg->m_pWnd;
    if (!pDX->m_bSaveAndValidate) {
        wnd->SetDlgItemText(id, std::to_string(value));
        return;
    }
    const std::string text = wnd->GetDlgItemText(id);
    std::size_t p = 0;
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
    std::uint64_t n = 0;
    std::size_t digits = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        n = n * 10 + static_cast<unsigned>(text[p] - '0');
        if (n > 0xFFFFFFFFull) break;
        ++p;
        ++digits;
    }
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
    if (digits == 0 || p != text.size() || n > 0xFFFFFFFFull) {
        pDX->Fail(id, IDS_ENTER_POSITIVE_NUMBER);
        return;
    }
    value = static_cast<std::uint32_t>(n);
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
    if (pDX->m_bFailed) return;
    CDialogWindow* wnd = pDX->m_pDlg->m_pWnd;
    if (pDX->m_bSaveAndValidate) value = wnd->IsDlgButtonChecked(id);
    else wnd->CheckDlgButton(id, value);
}

void DDX_Radio(CDataExchange* pDX, int firstId, int& value) {
    if (pDX->m_bFailed) return;
    CDialogWindow* wnd = pDX->m_pDlg->m_pWnd;
    const std::vector<int> ids = RadioGroupIds(pDX->m_pDlg->GetTemplate(), firstId);
    if (pDX->m_bSaveAndValidate) {
        value = -1;
        for (std::size_t i = 0; i < ids.size(); ++i)
            if (wnd->IsDlgButtonChecked(ids[i])) {
                value = static_cast<int>(i);
                break;
            }
    } else {
        for (std::size_t i = 0; i < ids.size(); ++i)
            wnd->CheckDlgButton(ids[i], static_cast<int>(i) == value ? 1 : 0);
    }
}

void DDV_MaxChars(CDataExchange* pDX, std::string& value, std::size_t maxBytes) {
    if (pDX->m_bFailed || !pDX->m_bSaveAndValidate || value.size() <= maxBytes) return;
    value.resize(Utf8SafeLength(value, maxBytes));
}

const DialogTemplate& CDialog::GetTemplate() const {
    const DialogTemplate* t = FindDialogTemplate(m_nIDTemplate);
    if (t == nullptr) throw std::logic_error("dialog template missing");
    return *t;
}

void CDialog::OnInitDialog() { UpdateData(false); }

void CDialog::OnCommand(int id) {
    if (id == IDOK) OnOK();
    else if (id == IDCANCEL) OnCancel();
}

void CDialog::OnOK() {
    if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::UpdateData(bool bSaveAndValidate) {
    if (m_pWnd == nullptr) return false;
    CDataExchange dx(*this, bSaveAndValidate);
    DoDataExchange(&dx);
    return !dx.m_bFailed;
}

void CDialog::EndDialog(int result) {
    if (m_pWnd != nullptr) m_pWnd->EndDialog(result);
}

IModalUI& CDialog::Ui() { return m_pWnd->Ui(); }

}  // namespace qv
