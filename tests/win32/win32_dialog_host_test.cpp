// Dialogs in the Win32 host: every template of the program made into a real
// dialog (classes, ids, styles, places), text and checks through the
// CDialogWindow, and modal runs driven by clicks and keys from a timer.
#include "framework/win32/win32_api.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "framework/win32/win32_dialog_host.h"
#include "tests/support/scripted_ui.h"
#include "tests/win32/win32_framework_test_support.h"

namespace qv::test {
namespace {

const wchar_t* ClassOf(ControlKind kind) {
    switch (kind) {
    case ControlKind::Static: return L"Static";
    case ControlKind::Edit: return L"Edit";
    default: return L"Button";
    }
}

DWORD ButtonTypeOf(const ControlTemplate& c, int defaultId) {
    switch (c.kind) {
    case ControlKind::GroupBox: return BS_GROUPBOX;
    case ControlKind::RadioButton: return BS_AUTORADIOBUTTON;
    case ControlKind::CheckBox: return BS_AUTOCHECKBOX;
    default: return c.id == defaultId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    }
}

LONG_PTR StyleOf(HWND w) { return ::GetWindowLongPtrW(w, GWL_STYLE); }

TEST(Win32DialogHost, EveryTemplateBecomesItsControlsWithTheirClassesStylesPlacesAndTexts) {
    const std::string cyrillic = "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87 \xE2\x84\x96";  // "Ключ №"
    for (const DialogTemplate& t : DialogTemplates()) {
        SCOPED_TRACE(t.caption);
        CDialog dlg(t.id);
        CScriptedUI nested;
        CWin32DialogHost host(dlg, nested);
        const HWND w = host.Create();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(dlg.m_pWnd, &host);
        EXPECT_EQ(WindowText(w), Widen(t.caption));
        RECT client{}, size{0, 0, t.cx, t.cy};
        ::GetClientRect(w, &client);
        ::MapDialogRect(w, &size);
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);

        // The dialog manager keeps one default button: the last one marked.
        int defaultId = 0;
        for (const ControlTemplate& c : t.controls)
            if (c.kind == ControlKind::PushButton && (c.style & csDefault)) defaultId = c.id;
        const LRESULT defId = ::SendMessageW(w, DM_GETDEFID, 0, 0);
        if (defaultId != 0) { EXPECT_EQ(defId, MAKELRESULT(defaultId, DC_HASDEFID)); }

        HWND child = ::GetWindow(w, GW_CHILD);
        for (const ControlTemplate& c : t.controls) {
            SCOPED_TRACE(c.text);
            ASSERT_NE(child, nullptr) << "fewer controls than the template";
            EXPECT_EQ(::GetDlgCtrlID(child), c.id);
            wchar_t cls[64] = {};
            ::GetClassNameW(child, cls, 64);
            EXPECT_EQ(_wcsicmp(cls, ClassOf(c.kind)), 0) << Narrow(cls);
            const LONG_PTR style = StyleOf(child);
            EXPECT_EQ((style & WS_GROUP) != 0, (c.style & csGroup) != 0);
            EXPECT_EQ((style & WS_TABSTOP) != 0, (c.style & csTabStop) != 0);
            if (c.kind == ControlKind::Static)
                EXPECT_EQ(style & SS_TYPEMASK, (c.style & csCenter) ? SS_CENTER : SS_LEFT);
            else if (c.kind == ControlKind::Edit) {
                EXPECT_EQ((style & ES_AUTOHSCROLL) != 0, (c.style & csAutoHScroll) != 0);
                EXPECT_EQ((style & ES_READONLY) != 0, (c.style & csReadOnly) != 0);
                // The edit trades WS_BORDER for the sunken client edge.
                const bool border = (style & WS_BORDER) || (::GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
                EXPECT_EQ(border, (c.style & csBorder) != 0);
            } else
                EXPECT_EQ(static_cast<DWORD>(style & BS_TYPEMASK), ButtonTypeOf(c, defaultId));
            RECT units{c.x, c.y, c.cx, c.cy}, place{};
            ::MapDialogRect(w, &units);
            ::GetWindowRect(child, &place);
            ::MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&place), 2);
            EXPECT_EQ(place.left, units.left);
            EXPECT_EQ(place.top, units.top);
            EXPECT_EQ(place.right - place.left, units.right);
            EXPECT_EQ(place.bottom - place.top, units.bottom);
            if (c.kind != ControlKind::Edit) { EXPECT_EQ(WindowText(child), Widen(c.text)); }

            if (c.id != -1) {
                // Text goes both ways whole, as UTF-16 in the window.
                if (c.kind != ControlKind::Edit) { EXPECT_EQ(host.GetDlgItemText(c.id), c.text); }
                const std::string text = cyrillic + std::to_string(c.id);
                host.SetDlgItemText(c.id, text);
                EXPECT_EQ(host.GetDlgItemText(c.id), text);
                EXPECT_EQ(WindowText(child), Widen(text));
            }
            child = ::GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "more controls than the template";

        // Checking a radio button unchecks the rest of its group and moves
        // the group's tab stop to it; with none checked the stop is the first.
        for (const ControlTemplate& c : t.controls) {
            if (c.kind != ControlKind::RadioButton || !(c.style & csGroup)) continue;
            const std::vector<int> group = RadioGroupIds(t, c.id);
            for (int checked : group) {
                host.CheckDlgButton(checked, 1);
                for (int id : group) {
                    EXPECT_EQ(host.IsDlgButtonChecked(id), id == checked ? 1 : 0) << id;
                    EXPECT_EQ((StyleOf(::GetDlgItem(w, id)) & WS_TABSTOP) != 0, id == checked) << id;
                }
            }
            host.CheckDlgButton(group.back(), 0);
            for (int id : group) EXPECT_EQ((StyleOf(::GetDlgItem(w, id)) & WS_TABSTOP) != 0, id == group.front());
        }
        EXPECT_EQ(host.GetDlgItemText(4242), "");  // ids the template lacks are harmless
        host.EndDialog(IDCANCEL);
        EXPECT_FALSE(::IsWindow(w));
    }
}

// The Find dialog's members, exchanged with its controls.
class CFindLikeDlg : public CDialog {
public:
    CFindLikeDlg() : CDialog(IDD_FIND) {}
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, 1006, m_strData);
        DDX_Check(pDX, 1009, m_bLoad);
        DDX_Radio(pDX, 1007, m_nSide);
        DDX_Check(pDX, 1024, m_bKey);
    }
    std::string m_strData = "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87";  // "Ключ"
    int m_bLoad = 1, m_nSide = 1, m_bKey = 0;
};

HWND Wnd(CDialog& dlg) { return static_cast<CWin32DialogHost*>(dlg.m_pWnd)->Hwnd(); }
void Click(HWND dlg, int id) { ::SendMessageW(::GetDlgItem(dlg, id), BM_CLICK, 0, 0); }
void Key(HWND dlg, int id, WPARAM key) { ::PostMessageW(::GetDlgItem(dlg, id), WM_KEYDOWN, key, 0); }

// A modal run ends with the code of the way it was ended, and only OK
// (button or Enter) brings the controls' state into the members.
TEST(Win32DialogHost, ModalRunsEndWithTheirCodeAndOkExchangesTheMembers) {
    struct Case {
        const char* how;
        std::function<void(HWND)> end;
        int result;
        std::string data;
        int side, key;
    };
    const std::string typed = "\xD0\x97\xD0\xBD\xD0\xB0\xD1\x87\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5";  // "Значение"
    const std::string initial = CFindLikeDlg().m_strData;
    const Case cases[] = {
        {"OK button", [](HWND w) { Click(w, IDOK); }, IDOK, typed, 0, 1},
        {"Enter", [](HWND w) { Key(w, 1006, VK_RETURN); }, IDOK, typed, 0, 1},
        {"Cancel button", [](HWND w) { Click(w, IDCANCEL); }, IDCANCEL, initial, 1, 0},
        {"Escape", [](HWND w) { Key(w, 1006, VK_ESCAPE); }, IDCANCEL, initial, 1, 0},
        {"close box", [](HWND w) { ::PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL, initial, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        CFindLikeDlg dlg;
        CScriptedUI nested;
        TimerScript script({
            [&] {
                const HWND w = Wnd(dlg);
                // OnInitDialog filled the controls; the focus is on the first tab stop.
                EXPECT_EQ(WindowText(::GetDlgItem(w, 1006)), Widen(initial));
                EXPECT_EQ(::IsDlgButtonChecked(w, 1008), BST_CHECKED);
                EXPECT_EQ(::GetFocus(), ::GetDlgItem(w, 1006));
                ::SetDlgItemTextW(w, 1006, Widen(typed).c_str());
                Click(w, 1007);
                Click(w, 1024);
                EXPECT_EQ(::IsDlgButtonChecked(w, 1008), BST_UNCHECKED) << "a click unchecks the group";
                ::SetFocus(::GetDlgItem(w, 1006));
            },
            [&] { c.end(Wnd(dlg)); },
        });
        EXPECT_EQ(RunModalDialog(nullptr, dlg, nested), c.result);
        EXPECT_TRUE(script.Done());
        EXPECT_EQ(dlg.m_pWnd, nullptr);
        EXPECT_EQ(dlg.m_strData, c.data);
        EXPECT_EQ(dlg.m_nSide, c.side);
        EXPECT_EQ(dlg.m_bKey, c.key);
        EXPECT_EQ(dlg.m_bLoad, 1);
    }
}

class CNumberDlg : public CDialog {
public:
    CNumberDlg() : CDialog(IDD_MODIFY_NUMBER) {}
    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 1019, m_uValue); }
    std::uint32_t m_uValue = 7;
};

// A refused entry keeps the dialog up, says why through the nested UI and
// puts the focus back on the field; a dialog ended while it initialises
// is never shown.
TEST(Win32DialogHost, ARefusedEntryKeepsTheDialogAndEndingEarlyNeverShowsIt) {
    CNumberDlg dlg;
    CScriptedUI nested;
    TimerScript script({
        [&] {
            const HWND w = Wnd(dlg);
            ::SetDlgItemTextW(w, 1019, L"12x");
            Click(w, IDOK);
            EXPECT_TRUE(::IsWindow(w));
            EXPECT_EQ(nested.Messages(), std::vector<std::string>{LoadString(IDS_ENTER_POSITIVE_NUMBER)});
            EXPECT_EQ(::GetFocus(), ::GetDlgItem(w, 1019));
            ::SetDlgItemTextW(w, 1019, L" 42 ");
            Click(w, IDOK);
        },
    });
    EXPECT_EQ(RunModalDialog(nullptr, dlg, nested), IDOK);
    EXPECT_EQ(dlg.m_uValue, 42u);

    class CEndsAtOnce : public CDialog {
    public:
        CEndsAtOnce() : CDialog(IDD_ABOUTBOX) {}
        void OnInitDialog() override {
            EXPECT_FALSE(::IsWindowVisible(Wnd(*this)));
            EndDialog(4711);
        }
    } early;
    EXPECT_EQ(RunModalDialog(nullptr, early, nested), 4711);
}

}  // namespace
}  // namespace qv::test
