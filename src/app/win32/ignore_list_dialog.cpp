// Search > Ignore List: the list's file in a multi-line edit, kept on OK
// when it reads correctly, else shown again with the mistake.
#include <vector>

#include "app/win32/main_frame.h"
#include "compare/ignore_list.h"
#include "framework/modal_ui.h"

namespace qv {

namespace {

constexpr int kTextId = 100;

struct EditState {
    std::wstring text;
};

// Appends a WORD-aligned piece of a dialog template.
class CTemplateWriter {
public:
    void Word(WORD w) { m_words.push_back(w); }
    void DWord(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const wchar_t* text) {
        for (; *text != L'\0'; ++text) Word(static_cast<WORD>(*text));
        Word(0);
    }
    void AlignDWord() {
        if (m_words.size() % 2 != 0) Word(0);
    }
    // A control with a predefined class (0x0080 button, 0x0081 edit, 0x0082 static).
    void Control(DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls, const wchar_t* text) {
        AlignDWord();
        DWord(style | WS_CHILD | WS_VISIBLE);
        DWord(0);
        for (short v : {x, y, cx, cy}) Word(static_cast<WORD>(v));
        Word(id);
        Word(0xFFFF);
        Word(cls);
        Text(text);
        Word(0);
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    std::vector<WORD> m_words;
};

INT_PTR CALLBACK IgnoreListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<EditState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetDlgItemTextW(dialog, kTextId, reinterpret_cast<EditState*>(lParam)->text.c_str());
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            HWND edit = GetDlgItem(dialog, kTextId);
            const int length = GetWindowTextLengthW(edit);
            state->text.assign(static_cast<std::size_t>(length) + 1, L'\0');
            GetWindowTextW(edit, state->text.data(), length + 1);
            state->text.resize(static_cast<std::size_t>(length));
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

// The text with CR LF line ends for the edit control, and back with LF.
std::wstring ToEdit(const std::string& text) {
    std::wstring out;
    for (wchar_t c : Widen(text)) {
        if (c == L'\n') out += L'\r';
        out += c;
    }
    return out;
}
std::string FromEdit(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text)
        if (c != L'\r') out += c;
    return Narrow(out);
}

}  // namespace

void EditIgnoreList(IModalUI& ui, HWND owner) {
    const std::string path = DefaultIgnoreListPath();
    if (path.empty()) {
        ui.MessageBox("There is no settings folder to keep the ignore list in.", MB_OK | MB_ICONERROR);
        return;
    }
    CIgnoreList list;
    std::string error;
    if (!list.Load(path, error)) ui.MessageBox(error, MB_OK | MB_ICONWARNING);
    const std::wstring prompt = Widen(
        "Left out of every compare, one per line: \"key PATTERN\" or \"value PATTERN\" (* and ? as wildcards, case "
        "ignored; a value pattern without a backslash names values anywhere). Kept in " + path + ".");

    CTemplateWriter t;
    t.DWord(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    t.DWord(0);
    t.Word(4);  // controls
    for (short v : {0, 0, 300, 200}) t.Word(static_cast<WORD>(v));
    t.Word(0);  // no menu
    t.Word(0);  // the dialog class
    t.Text(L"Ignore List");
    t.Word(8);
    t.Text(L"MS Shell Dlg");
    t.Control(SS_LEFT, 7, 7, 286, 34, 0xFFFF, 0x0082, prompt.c_str());
    t.Control(ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | WS_BORDER | WS_VSCROLL | WS_HSCROLL |
                  WS_TABSTOP,
              7, 44, 286, 128, kTextId, 0x0081, L"");
    t.Control(BS_DEFPUSHBUTTON | WS_TABSTOP, 186, 179, 50, 14, IDOK, 0x0080, L"OK");
    t.Control(BS_PUSHBUTTON | WS_TABSTOP, 243, 179, 50, 14, IDCANCEL, 0x0080, L"Cancel");

    EditState state{ToEdit(list.Text())};
    for (;;) {
        if (DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), owner, IgnoreListProc,
                                    reinterpret_cast<LPARAM>(&state)) != IDOK)
            return;
        if (!list.Parse(FromEdit(state.text), error)) {
            ui.MessageBox("The ignore list was not kept: " + error + ".", MB_OK | MB_ICONERROR);
            continue;
        }
        if (!list.Save(path, error)) ui.MessageBox(error, MB_OK | MB_ICONERROR);
        return;
    }
}

}  // namespace qv
