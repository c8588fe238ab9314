// Dialogs in the classic manner, free of any toolkit: a template lists the
// controls; a CDialog subclass holds members, exchanges them with the controls
// (DoDataExchange) and reacts to clicks (OnCommand). A host creates the window
// from the template and drives the dialog: the Qt host on screen, a scripted
// host in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/modal_ui.h"
#include "res/templates.h"

namespace qv {

// The template with `id`, or null.
const DialogTemplate* FindDialogTemplate(UINT id);
// The ids of the radio group that starts at `firstId`, in template order.
std::vector<int> RadioGroupIds(const DialogTemplate& dlg, int firstId);

// What a dialog's code may do with its window while it runs.
class CDialogWindow {
public:
    virtual ~CDialogWindow() = default;
    virtual std::string GetDlgItemText(int id) const = 0;
    virtual void SetDlgItemText(int id, const std::string& text) = 0;
    virtual int IsDlgButtonChecked(int id) const = 0;
    virtual void CheckDlgButton(int id, int check) = 0;
    virtual void EnableDlgItem(int id, bool enable) = 0;
    virtual bool IsDlgItemEnabled(int id) const = 0;
    virtual void SetFocusTo(int id) = 0;
    virtual void EndDialog(int result) = 0;
    virtual IModalUI& Ui() = 0;
};

class CDialog;

class CDataExchange {
public:
    CDataExchange(CDialog& dlg, bool bSaveAndValidate) : m_pDlg(&dlg), m_bSaveAndValidate(bSaveAndValidate) {}
    CDialog* m_pDlg;
    bool m_bSaveAndValidate;
    bool m_bFailed = false;
    // Marks the exchange failed: shows `messageId` and puts the focus on `id`.
    void Fail(int id, UINT messageId);
};

void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// Unsigned decimal, blanks around it allowed; anything else fails the exchange.
void DDX_Text(CDataExchange* pDX, int id, std::uint32_t& value);
void DDX_Check(CDataExchange* pDX, int id, int& value);
// The index of the checked button in the radio group starting at `firstId`, -1 for none.
void DDX_Radio(CDataExchange* pDX, int firstId, int& value);
// Limits the text of an edit field to `maxBytes` bytes (never splitting UTF-8).
void DDV_MaxChars(CDataExchange* pDX, std::string& value, std::size_t maxBytes);

class CDialog {
public:
    explicit CDialog(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) {}
    virtual ~CDialog() = default;

    UINT GetTemplateId() const { return m_nIDTemplate; }
    const DialogTemplate& GetTemplate() const;

    // Called by the host once the controls exist. The default fills the
    // controls from the members.
    virtual void OnInitDialog();
    // A click on a button (push, radio or check). The default handles IDOK
    // and IDCANCEL.
    virtual void OnCommand(int id);
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange*) {}

    // Moves members to controls (false) or controls to members (true).
    bool UpdateData(bool bSaveAndValidate = true);
    void EndDialog(int result);

    // The window while the dialog runs; null otherwise.
    CDialogWindow* m_pWnd = nullptr;

protected:
    IModalUI& Ui();

private:
    UINT m_nIDTemplate;
};

}  // namespace qv
