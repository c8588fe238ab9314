// Runs a toolkit-free CDialog as a Win32 dialog box built in memory from its
// template: the template becomes DLGTEMPLATEEX bytes, the dialog manager
// creates and lays out the controls (dialog units through the dialog's font,
// "MS Shell Dlg" 8), and the host hands clicks to the dialog's code.
#pragma once

#include "framework/win32/win32_api.h"

#include <map>
#include <string>
#include <vector>

#include "framework/dialog.h"

namespace qv {

// Lays out DLGTEMPLATEEX bytes: the dialog's header, then each item, each
// on a DWORD boundary. For windows the program's templates cannot describe
// (a multi-line edit, a progress bar) as well as for them.
class CDialogTemplateWriter {
public:
    // Predefined window classes, by their atoms.
    static constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;

    CDialogTemplateWriter(const std::string& caption, int x, int y, int cx, int cy, DWORD style);
    // A control of a predefined class (an atom above).
    void AddItem(WORD classAtom, int id, const std::string& text, int x, int y, int cx, int cy, DWORD style);
    // A control of a class named in full (e.g. L"msctls_progress32").
    void AddItem(const std::wstring& className, int id, const std::string& text, int x, int y, int cx, int cy,
                 DWORD style);
    // The bytes, with the item count filled in. The vector's storage is
    // suitably aligned for the dialog functions.
    const std::vector<WORD>& Words() const { return m_words; }
    const DLGTEMPLATE* Template() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    void BeginItem(int id, int x, int y, int cx, int cy, DWORD style);
    void EndItem(const std::string& text);
    void AddDword(DWORD value);
    void AddString(const std::wstring& text);

    std::vector<WORD> m_words;
    WORD m_nItems = 0;
};

// The window class and styles a template's control is created with.
struct Win32ControlStyle {
    WORD classAtom;
    DWORD style;
};
Win32ControlStyle ControlStyleOf(const ControlTemplate& control);
// The dialog window's own style: a modal frame with caption and close box,
// the font set, centred on the owner unless the template places it.
DWORD DialogStyleOf(const DialogTemplate& dlg);

// The template as DLGTEMPLATEEX bytes, texts in UTF-16.
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& dlg);

class CWin32DialogHost : public CDialogWindow {
public:
    // `ui` serves everything modal the dialog's code asks for (nested
    // dialogs, file dialogs, messages); `owner` is disabled while it runs.
    CWin32DialogHost(CDialog& dialog, IModalUI& ui, HWND owner = nullptr);
    ~CWin32DialogHost() override;

    CWin32DialogHost(const CWin32DialogHost&) = delete;
    CWin32DialogHost& operator=(const CWin32DialogHost&) = delete;

    // Builds the window, runs OnInitDialog and the modal loop; returns the
    // code passed to EndDialog (IDCANCEL if the box could not be made). The
    // dialog's m_pWnd is null again afterwards.
    int DoModal();
    // The same window without a modal loop (hidden until shown), for code
    // that drives the dialog itself; OnInitDialog has run on return. The
    // window is destroyed by EndDialog or with the host. Null on failure.
    HWND Create();

    HWND Hwnd() const { return m_hWnd; }
    bool Ended() const { return m_bEnded; }
    int Result() const { return m_nResult; }

    std::string GetDlgItemText(int id) const override;
    void SetDlgItemText(int id, const std::string& text) override;
    int IsDlgButtonChecked(int id) const override;
    void CheckDlgButton(int id, int check) override;
    void EnableDlgItem(int id, bool enable) override;
    bool IsDlgItemEnabled(int id) const override;
    void SetFocusTo(int id) override;
    void EndDialog(int result) override;
    IModalUI& Ui() override { return m_ui; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Reset();
    // The template control with `id` and its window; null when the template
    // has none.
    const ControlTemplate* Find(int id) const;
    HWND Item(int id) const;
    // The radio group (template indices) holding control `index`.
    std::vector<std::size_t> RadioGroupOf(std::size_t index) const;
    // As on Tab the dialog manager enters a radio group at the button with
    // WS_TABSTOP, that is the checked one, or the first when none is.
    void UpdateRadioTabStops(std::size_t index);
    void OnClicked(int id);

    CDialog& m_dialog;
    IModalUI& m_ui;
    HWND m_owner;
    HWND m_hWnd = nullptr;
    bool m_bModal = false;
    std::map<int, std::size_t> m_index;  // id -> template position
    bool m_bEnded = false;
    bool m_bFocusSet = false;
    int m_nResult = IDCANCEL;
};

// Runs `dialog` modally over `owner` (null allowed).
int RunModalDialog(HWND owner, CDialog& dialog, IModalUI& ui);

}  // namespace qv
