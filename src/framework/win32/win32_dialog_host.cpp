#include "framework/win32/win32_dialog_host.h"

namespace qv {

// Template bytes.

CDialogTemplateWriter::CDialogTemplateWriter(const std::string& caption, int x, int y, int cx, int cy,
                                             DWORD style) {
    m_words.push_back(1);       // dlgVer
    m_words.push_back(0xFFFF);  // signature: the extended form
    AddDword(0);                // helpID
    AddDword(0);                // exStyle
    AddDword(style);
    m_words.push_back(0);  // cDlgItems, counted as items are added
    for (int v : {x, y, cx, cy}) m_words.push_back(static_cast<WORD>(static_cast<short>(v)));
    m_words.push_back(0);  // no menu
    m_words.push_back(0);  // the predefined dialog class
    AddString(Widen(caption));
    if (style & DS_SETFONT) {
        m_words.push_back(8);          // points
        m_words.push_back(FW_NORMAL);  // weight
        m_words.push_back(static_cast<WORD>(0 | (DEFAULT_CHARSET << 8)));  // italic, charset
        AddString(L"MS Shell Dlg");
    }
}

void CDialogTemplateWriter::AddDword(DWORD value) {
    m_words.push_back(LOWORD(value));
    m_words.push_back(HIWORD(value));
}

void CDialogTemplateWriter::AddString(const std::wstring& text) {
    for (wchar_t c : text) m_words.push_back(static_cast<WORD>(c));
    m_words.push_back(0);
}

void CDialogTemplateWriter::BeginItem(int id, int x, int y, int cx, int cy, DWORD style) {
    if (m_words.size() % 2 != 0) m_words.push_back(0);  // each item on a DWORD boundary
    AddDword(0);  // helpID
    AddDword(0);  // exStyle
    AddDword(style);
    for (int v : {x, y, cx, cy}) m_words.push_back(static_cast<WORD>(static_cast<short>(v)));
    AddDword(static_cast<DWORD>(id));
}

void CDialogTemplateWriter::EndItem(const std::string& text) {
    AddString(Widen(text));
    m_words.push_back(0);  // no creation data
    m_words[8] = ++m_nItems;
}

void CDialogTemplateWriter::AddItem(WORD classAtom, int id, const std::string& text, int x, int y, int cx, int cy,
                                    DWORD style) {
    BeginItem(id, x, y, cx, cy, style);
    m_words.push_back(0xFFFF);
    m_words.push_back(classAtom);
    EndItem(text);
}

void CDialogTemplateWriter::AddItem(const std::wstring& className, int id, const std::string& text, int x, int y,
                                    int cx, int cy, DWORD style) {
    BeginItem(id, x, y, cx, cy, style);
    AddString(className);
    EndItem(text);
}

Win32ControlStyle ControlStyleOf(const ControlTemplate& c) {
    DWORD style = WS_CHILD | WS_VISIBLE;
    if (c.style & csGroup) style |= WS_GROUP;
    if (c.style & csTabStop) style |= WS_TABSTOP;
    if (c.style & csBorder) style |= WS_BORDER;
    switch (c.kind) {
    case ControlKind::Static:
        return {CDialogTemplateWriter::kStatic, style | ((c.style & csCenter) ? SS_CENTER : SS_LEFT)};
    case ControlKind::GroupBox: return {CDialogTemplateWriter::kButton, style | BS_GROUPBOX};
    case ControlKind::RadioButton: return {CDialogTemplateWriter::kButton, style | BS_AUTORADIOBUTTON};
    case ControlKind::CheckBox: return {CDialogTemplateWriter::kButton, style | BS_AUTOCHECKBOX};
    case ControlKind::Edit:
        if (c.style & csAutoHScroll) style |= ES_AUTOHSCROLL;
        if (c.style & csPassword) style |= ES_PASSWORD;
        if (c.style & csReadOnly) style |= ES_READONLY;
        return {CDialogTemplateWriter::kEdit, style | ES_LEFT};
    case ControlKind::PushButton:
        return {CDialogTemplateWriter::kButton, style | ((c.style & csDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON)};
    }
    return {CDialogTemplateWriter::kStatic, style};
}

DWORD DialogStyleOf(const DialogTemplate& dlg) {
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    // A template position is relative to the owner's client area, as the
    // dialog manager takes it; (0, 0) means "centred".
    if (dlg.x == 0 && dlg.y == 0) style |= DS_CENTER;
    return style;
}

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& dlg) {
    CDialogTemplateWriter writer(dlg.caption, dlg.x, dlg.y, dlg.cx, dlg.cy, DialogStyleOf(dlg));
    for (const ControlTemplate& c : dlg.controls) {
        const Win32ControlStyle s = ControlStyleOf(c);
        // An edit's template text is no initial text: the dialog's code fills it.
        writer.AddItem(s.classAtom, c.id, c.kind == ControlKind::Edit ? "" : c.text, c.x, c.y, c.cx, c.cy, s.style);
    }
    return writer.Words();
}

// The host.

namespace {

bool IsCheckable(ControlKind kind) { return kind == ControlKind::RadioButton || kind == ControlKind::CheckBox; }

}  // namespace

CWin32DialogHost::CWin32DialogHost(CDialog& dialog, IModalUI& ui, HWND owner)
    : m_dialog(dialog), m_ui(ui), m_owner(owner) {}

CWin32DialogHost::~CWin32DialogHost() {
    if (m_dialog.m_pWnd == this) m_dialog.m_pWnd = nullptr;
    if (m_hWnd != nullptr && !m_bModal) ::DestroyWindow(m_hWnd);
}

void CWin32DialogHost::Reset() {
    if (m_hWnd != nullptr && !m_bModal) ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    m_index.clear();
    const std::vector<ControlTemplate>& controls = m_dialog.GetTemplate().controls;
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (controls[i].id != -1) m_index.emplace(controls[i].id, i);
    m_bEnded = false;
    m_bFocusSet = false;
    m_nResult = IDCANCEL;
}

int CWin32DialogHost::DoModal() {
    // However the run ends, the dialog must not keep a pointer to this window.
    struct ResetWnd {
        CWin32DialogHost& host;
        ~ResetWnd() {
            host.m_dialog.m_pWnd = nullptr;
            host.m_hWnd = nullptr;
        }
    } reset{*this};

    Reset();
    const std::vector<WORD> bytes = BuildDialogTemplate(m_dialog.GetTemplate());
    m_bModal = true;
    const INT_PTR result =
        ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()),
                                  m_owner, &DialogProc, reinterpret_cast<LPARAM>(this));
    if (result == -1) return IDCANCEL;
    return m_bEnded ? m_nResult : IDCANCEL;
}

HWND CWin32DialogHost::Create() {
    Reset();
    const std::vector<WORD> bytes = BuildDialogTemplate(m_dialog.GetTemplate());
    m_bModal = false;
    const HWND hwnd =
        ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()),
                                     m_owner, &DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr && m_dialog.m_pWnd == this) m_dialog.m_pWnd = nullptr;
    return hwnd;
}

INT_PTR CALLBACK CWin32DialogHost::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        reinterpret_cast<CWin32DialogHost*>(lParam)->m_hWnd = hwnd;
    }
    auto* host = reinterpret_cast<CWin32DialogHost*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (host == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        if (host->m_hWnd == hwnd) host->m_hWnd = nullptr;
        return FALSE;
    }
    return host->OnMessage(message, wParam, lParam);
}

INT_PTR CWin32DialogHost::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        m_dialog.m_pWnd = this;
        m_dialog.OnInitDialog();
        if (m_bEnded) return FALSE;  // ended while initialising: never shown
        // TRUE lets the dialog manager focus the first tab stop, which for
        // a radio group is its checked button.
        return m_bFocusSet ? FALSE : TRUE;
    case WM_COMMAND:
        // Clicks on buttons; also Enter (the default button's id) and
        // Escape (IDCANCEL), which the dialog manager sends as clicks.
        if (HIWORD(wParam) == BN_CLICKED) {
            const WORD id = LOWORD(wParam);
            OnClicked(id == 0xFFFF ? -1 : id);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        // The close box reaches the dialog's code as Cancel, so that code decides.
        OnClicked(IDCANCEL);
        return TRUE;
    default: return FALSE;
    }
}

void CWin32DialogHost::OnClicked(int id) {
    // Clicks still queued after the end belong to no running dialog.
    if (m_bEnded || m_dialog.m_pWnd != this) return;
    m_dialog.OnCommand(id);
}

const ControlTemplate* CWin32DialogHost::Find(int id) const {
    const auto it = m_index.find(id);
    if (it == m_index.end() || m_hWnd == nullptr) return nullptr;
    return &m_dialog.GetTemplate().controls[it->second];
}

HWND CWin32DialogHost::Item(int id) const {
    return Find(id) != nullptr ? ::GetDlgItem(m_hWnd, id) : nullptr;
}

std::vector<std::size_t> CWin32DialogHost::RadioGroupOf(std::size_t index) const {
    // A run of radio buttons, split where one starts a group, as DDX_Radio
    // and the dialog manager's WS_GROUP see them.
    const std::vector<ControlTemplate>& controls = m_dialog.GetTemplate().controls;
    std::size_t first = index;
    while (first > 0 && !(controls[first].style & csGroup) && controls[first - 1].kind == ControlKind::RadioButton)
        --first;
    std::vector<std::size_t> group{first};
    for (std::size_t i = first + 1;
         i < controls.size() && controls[i].kind == ControlKind::RadioButton && !(controls[i].style & csGroup); ++i)
        group.push_back(i);
    return group;
}

void CWin32DialogHost::UpdateRadioTabStops(std::size_t index) {
    const std::vector<ControlTemplate>& controls = m_dialog.GetTemplate().controls;
    const std::vector<std::size_t> group = RadioGroupOf(index);
    if (!(controls[group.front()].style & csTabStop)) return;
    std::size_t stop = group.front();
    for (std::size_t i : group)
        if (::IsDlgButtonChecked(m_hWnd, controls[i].id) == BST_CHECKED) {
            stop = i;
            break;
        }
    for (std::size_t i : group) {
        const HWND w = ::GetDlgItem(m_hWnd, controls[i].id);
        const LONG_PTR style = ::GetWindowLongPtrW(w, GWL_STYLE);
        ::SetWindowLongPtrW(w, GWL_STYLE, i == stop ? (style | WS_TABSTOP) : (style & ~LONG_PTR{WS_TABSTOP}));
    }
}

std::string CWin32DialogHost::GetDlgItemText(int id) const {
    const HWND w = Item(id);
    if (w == nullptr) return {};
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetDlgItemTextW(m_hWnd, id, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

void CWin32DialogHost::SetDlgItemText(int id, const std::string& text) {
    // An edit shows the start of a long path, as it does anyway after WM_SETTEXT.
    if (Item(id) != nullptr) ::SetDlgItemTextW(m_hWnd, id, Widen(text).c_str());
}

int CWin32DialogHost::IsDlgButtonChecked(int id) const {
    const ControlTemplate* c = Find(id);
    if (c == nullptr || !IsCheckable(c->kind)) return 0;
    return ::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED ? 1 : 0;
}

void CWin32DialogHost::CheckDlgButton(int id, int check) {
    const ControlTemplate* c = Find(id);
    if (c == nullptr || !IsCheckable(c->kind)) return;
    const std::size_t index = m_index.at(id);
    if (c->kind == ControlKind::RadioButton && check != 0) {
        // One checked button per group, as a click leaves it.
        const std::vector<ControlTemplate>& controls = m_dialog.GetTemplate().controls;
        for (std::size_t i : RadioGroupOf(index))
            if (i != index) ::CheckDlgButton(m_hWnd, controls[i].id, BST_UNCHECKED);
    }
    ::CheckDlgButton(m_hWnd, id, check != 0 ? BST_CHECKED : BST_UNCHECKED);
    if (c->kind == ControlKind::RadioButton) UpdateRadioTabStops(index);
}

void CWin32DialogHost::EnableDlgItem(int id, bool enable) {
    const HWND w = Item(id);
    if (w == nullptr) return;
    // A disabled control cannot keep the focus: it moves on, as Tab would take it.
    if (!enable && ::GetFocus() == w) ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
    ::EnableWindow(w, enable ? TRUE : FALSE);
}

bool CWin32DialogHost::IsDlgItemEnabled(int id) const {
    const HWND w = Item(id);
    return w != nullptr && ::IsWindowEnabled(w);
}

void CWin32DialogHost::SetFocusTo(int id) {
    const HWND w = Item(id);
    if (w == nullptr) return;
    m_bFocusSet = true;
    // Through the dialog manager, which keeps the default button right and
    // selects an edit's text, so that typing replaces a refused entry.
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(w), TRUE);
}

void CWin32DialogHost::EndDialog(int result) {
    if (m_bEnded) return;
    m_bEnded = true;
    m_nResult = result;
    if (m_hWnd == nullptr) return;
    if (m_bModal) {
        ::EndDialog(m_hWnd, result);
    } else {
        ::DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
}

int RunModalDialog(HWND owner, CDialog& dialog, IModalUI& ui) {
    CWin32DialogHost host(dialog, ui, owner);
    return host.DoModal();
}

}  // namespace qv
