#include "framework/win32/win32_modal_ui.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <winspool.h>

#include <cstring>

#include "framework/win32/win32_dialog_host.h"
#include "framework/win32/win32_print.h"

namespace qv {

namespace {

HCURSOR SystemCursor(LPSTR id) { return ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(id)); }

// "\n" line ends as edits and the clipboard take them: "\r\n".
std::wstring WithCrLf(const std::string& text) {
    std::wstring out;
    for (wchar_t c : Widen(text)) {
        if (c == L'\n' && (out.empty() || out.back() != L'\r')) out += L'\r';
        out += c;
    }
    return out;
}

// A modal window over a busy program shows the arrow (its own class
// cursor), and the busy cursor comes back when it closes.
class RestoreWaitAfter {
public:
    explicit RestoreWaitAfter(const CWin32ModalUI& ui) : m_ui(ui) {}
    ~RestoreWaitAfter() { m_ui.SetWaitCursorIfBusy(); }
    RestoreWaitAfter(const RestoreWaitAfter&) = delete;
    RestoreWaitAfter& operator=(const RestoreWaitAfter&) = delete;

private:
    const CWin32ModalUI& m_ui;
};

// Long work's progress: a small window with the text, the count, a bar where
// the whole is known and Cancel, once the work has taken `delay`. Until then
// only painting is done between steps, so the program repaints but nothing
// changes under the work; while the window shows, the owner is disabled and
// every message is handled, so Cancel takes clicks.
class CWin32Progress : public IProgress {
public:
    using Clock = std::chrono::steady_clock;

    CWin32Progress(HWND owner, std::string text, std::chrono::milliseconds delay)
        : m_owner(owner), m_text(std::move(text)), m_delay(delay), m_start(Clock::now()), m_last(m_start) {}

    ~CWin32Progress() override {
        if (m_hWnd != nullptr) {
            // The owner first, so that it becomes active again.
            if (m_owner != nullptr && m_bOwnerDisabled) ::EnableWindow(m_owner, TRUE);
            ::DestroyWindow(m_hWnd);
        }
        if (m_bQuit) ::PostQuitMessage(m_nQuitCode);  // not ours to swallow
    }
    CWin32Progress(const CWin32Progress&) = delete;
    CWin32Progress& operator=(const CWin32Progress&) = delete;

    bool Step(std::size_t keysDone) override { return StepOf(keysDone, 0, 0); }
    bool StepOf(std::size_t keysDone, std::uint64_t done, std::uint64_t total) override {
        // Looked at every 50 ms of work, which is smooth enough to the eye.
        const Clock::time_point now = Clock::now();
        if (now - m_last < std::chrono::milliseconds(50)) return !m_bCancelled;
        m_last = now;
        if (m_hWnd == nullptr && !m_bFailed && now - m_start >= m_delay) Show();
        if (m_hWnd != nullptr) {
            const double seconds = std::chrono::duration<double>(now - m_start).count();
            ::SetDlgItemTextW(m_hWnd, kProgressCountId, Widen(ProgressText(keysDone, done, total, seconds)).c_str());
            const bool known = total > 0 && done <= total;
            ::SendDlgItemMessageW(m_hWnd, kProgressBarId, PBM_SETPOS, known ? static_cast<WPARAM>(done * 1000 / total) : 0, 0);
        }
        Pump();
        return !m_bCancelled;
    }

    HWND Window() const { return m_hWnd; }

private:
    void Show() {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&icc);
        CDialogTemplateWriter t("Quorvane", 0, 0, 230, 72,
                                WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_VISIBLE);
        // Names of keys and files may hold "&": no mnemonics in these lines.
        t.AddItem(CDialogTemplateWriter::kStatic, kProgressTextId, m_text, 7, 7, 216, 16,
                  WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX);
        t.AddItem(CDialogTemplateWriter::kStatic, kProgressCountId, "", 7, 25, 216, 8,
                  WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX);
        t.AddItem(PROGRESS_CLASSW, kProgressBarId, "", 7, 36, 216, 9, WS_CHILD | WS_VISIBLE);
        t.AddItem(CDialogTemplateWriter::kButton, IDCANCEL, "Cancel", 90, 51, 50, 14,
                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
        m_hWnd = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), t.Template(), m_owner, &Proc,
                                              reinterpret_cast<LPARAM>(this));
        if (m_hWnd == nullptr) {
            m_bFailed = true;  // the work goes on without a window
            return;
        }
        ::SendDlgItemMessageW(m_hWnd, kProgressBarId, PBM_SETRANGE32, 0, 1000);
        // Application modal: nothing else of the program takes input meanwhile.
        if (m_owner != nullptr && ::IsWindowEnabled(m_owner)) {
            ::EnableWindow(m_owner, FALSE);
            m_bOwnerDisabled = true;
        }
        // Busy, but the Cancel button takes clicks.
        ::SetCursor(SystemCursor(IDC_APPSTARTING));
    }

    void Pump() {
        const UINT flags = m_hWnd != nullptr ? PM_REMOVE : PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, flags)) {
            if (msg.message == WM_QUIT) {
                m_bQuit = true;
                m_nQuitCode = static_cast<int>(msg.wParam);
                m_bCancelled = true;
                break;
            }
            if (m_hWnd != nullptr && ::IsDialogMessageW(m_hWnd, &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
            return TRUE;
        }
        auto* self = reinterpret_cast<CWin32Progress*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
        if (self == nullptr) return FALSE;
        if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE) {
            self->m_bCancelled = true;
            ::EnableWindow(::GetDlgItem(hwnd, IDCANCEL), FALSE);  // said once is enough
            return TRUE;
        }
        return FALSE;
    }

    HWND m_owner;
    std::string m_text;
    std::chrono::milliseconds m_delay;
    Clock::time_point m_start, m_last;
    HWND m_hWnd = nullptr;
    bool m_bFailed = false;
    bool m_bOwnerDisabled = false;
    bool m_bCancelled = false;
    bool m_bQuit = false;
    int m_nQuitCode = 0;
};

// The data window's state while it runs.
struct DataWindow {
    const DataView& view;
    HFONT fixed = nullptr;
};

INT_PTR CALLBACK DataProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        auto* w = reinterpret_cast<DataWindow*>(lParam);
        // Hex dumps keep their columns in a fixed-pitch font of the dialog's size.
        LOGFONTW lf{};
        if (const auto font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)))
            ::GetObjectW(font, sizeof lf, &lf);
        LOGFONTW fixed{};
        fixed.lfHeight = lf.lfHeight != 0 ? lf.lfHeight : -13;
        fixed.lfCharSet = DEFAULT_CHARSET;
        fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
        lstrcpynW(fixed.lfFaceName, L"Courier New", LF_FACESIZE);
        w->fixed = ::CreateFontIndirectW(&fixed);
        const HWND text = ::GetDlgItem(hwnd, kDataTextId);
        if (w->fixed != nullptr) ::SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(w->fixed), FALSE);
        ::SetWindowTextW(text, WithCrLf(w->view.text).c_str());
        if (w->view.regLine.empty()) {
            ::EnableWindow(::GetDlgItem(hwnd, kDataCopyRegId), FALSE);
            ::SetDlgItemTextW(hwnd, kDataRegErrorId,
                              Widen("No .reg file can hold this value: " + w->view.regError + ".").c_str());
        }
        ::SetFocus(::GetDlgItem(hwnd, IDCANCEL));
        return FALSE;
    }
    auto* w = reinterpret_cast<DataWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (w == nullptr) return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        switch (LOWORD(wParam)) {
        case kDataCopyTextId: CopyTextToClipboard(hwnd, w->view.text); break;
        case kDataCopyRegId: CopyTextToClipboard(hwnd, w->view.regLine); break;
        case IDOK:
        case IDCANCEL: ::EndDialog(hwnd, IDCANCEL); break;
        default: return FALSE;
        }
        return TRUE;
    case WM_CLOSE: ::EndDialog(hwnd, IDCANCEL); return TRUE;
    default: return FALSE;
    }
}

const char kNoPrinter[] = "No printer is installed. Add a printer to Windows first.";

}  // namespace

bool CopyTextToClipboard(HWND owner, const std::string& text) {
    const std::wstring wide = WithCrLf(text);
    if (!::OpenClipboard(owner)) return false;
    ::EmptyClipboard();
    bool ok = false;
    if (HGLOBAL mem = ::GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t))) {
        if (void* p = ::GlobalLock(mem)) {
            std::memcpy(p, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
            ::GlobalUnlock(mem);
            ok = ::SetClipboardData(CF_UNICODETEXT, mem) != nullptr;
        }
        if (!ok) ::GlobalFree(mem);  // the clipboard owns it only once taken
    }
    ::CloseClipboard();
    return ok;
}

CWin32ModalUI::~CWin32ModalUI() {
    if (m_hDevMode != nullptr) ::GlobalFree(m_hDevMode);
    if (m_hDevNames != nullptr) ::GlobalFree(m_hDevNames);
}

HWND CWin32ModalUI::Owner() const {
    const HWND active = ::GetActiveWindow();
    if (active != nullptr && ::IsWindowEnabled(active)) return active;
    return m_owner;
}

int CWin32ModalUI::MessageBox(const std::string& text, unsigned type) {
    std::string caption = LoadString(AFX_IDS_APP_TITLE);
    if (caption.empty()) caption = "Quorvane";
    const bool question = (type & MB_TYPEMASK) == MB_YESNO;
    const HWND owner = Owner();
    UINT style = (question ? MB_YESNO : MB_OK) | (type & 0xF0u);
    if (owner == nullptr) style |= MB_TASKMODAL;  // still modal to the program's windows
    RestoreWaitAfter wait(*this);
    const int answer = ::MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), style);
    if (!question) return IDOK;
    return answer == IDYES ? IDYES : IDNO;
}

int CWin32ModalUI::DoModal(CDialog& dialog) {
    RestoreWaitAfter wait(*this);
    return RunModalDialog(Owner(), dialog, *this);
}

namespace {

// The folder chooser: the Vista dialog where there is one, else the shell's
// folder tree.
bool ChooseFolder(HWND owner, std::string& path) {
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    struct Uninit {
        HRESULT hr;
        ~Uninit() {
            if (SUCCEEDED(hr)) ::CoUninitialize();
        }
    } uninit{init};
    IFileOpenDialog* dialog = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                     reinterpret_cast<void**>(&dialog)))) {
        bool chosen = false;
        FILEOPENDIALOGOPTIONS options = 0;
        dialog->GetOptions(&options);
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
        IShellItem* item = nullptr;
        if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
            PWSTR name = nullptr;
            if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &name))) {
                path = Narrow(name);
                ::CoTaskMemFree(name);
                chosen = true;
            }
            item->Release();
        }
        dialog->Release();
        return chosen;
    }
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE list = ::SHBrowseForFolderW(&info);
    if (list == nullptr) return false;
    wchar_t buffer[MAX_PATH] = {};
    const bool chosen = ::SHGetPathFromIDListW(list, buffer) != FALSE;
    ::CoTaskMemFree(list);
    if (chosen) path = Narrow(buffer);
    return chosen;
}

}  // namespace

bool CWin32ModalUI::GetFileName(const FileDialogRequest& request, std::string& path) {
    RestoreWaitAfter wait(*this);
    if (request.bFolder) return ChooseFolder(Owner(), path);

    // "name (pattern)\0pattern\0...\0\0", the patterns split by ";".
    std::wstring filter;
    if (!request.filterPattern.empty()) {
        const std::string name = request.filterName.empty() ? request.filterPattern : request.filterName;
        std::wstring pattern = Widen(request.filterPattern);
        for (wchar_t& c : pattern)
            if (c == L' ') c = L';';
        filter += Widen(name + " (" + request.filterPattern + ")") + L'\0' + pattern + L'\0';
    }
    if (request.bAllFilesToo) filter += std::wstring(L"All files (*.*)") + L'\0' + L"*.*" + L'\0';
    filter += L'\0';

    // The name box starts with the initial name, a pattern such as "*.qvf" too.
    std::wstring buffer = Widen(request.initialName);
    buffer.resize(32768, L'\0');
    const std::wstring ext = Widen(request.defaultExtension);

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = Owner();
    ofn.lpstrFilter = filter.size() > 1 ? filter.c_str() : nullptr;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
    // A typed name of a missing file is taken too: whoever asked says what
    // is wrong with it (Open reports a file it cannot read).
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (!request.bOpen && request.bOverwritePrompt) ofn.Flags |= OFN_OVERWRITEPROMPT;
    const BOOL ok = request.bOpen ? ::GetOpenFileNameW(&ofn) : ::GetSaveFileNameW(&ofn);
    if (!ok) return false;
    const std::wstring chosen(buffer.c_str());
    std::wstring full(MAX_PATH, L'\0');
    DWORD n = ::GetFullPathNameW(chosen.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n);
        n = ::GetFullPathNameW(chosen.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    full.resize(n);
    path = Narrow(n != 0 ? full : chosen);
    return true;
}

void CWin32ModalUI::BeginWaitCursor() {
    // One change for the outermost wait; inner ones only count.
    if (m_nWaitDepth++ == 0) ::SetCursor(SystemCursor(IDC_WAIT));
}

void CWin32ModalUI::EndWaitCursor() {
    if (m_nWaitDepth == 0) return;  // unmatched: nothing of ours to undo
    if (--m_nWaitDepth == 0) ::SetCursor(SystemCursor(IDC_ARROW));
}

bool CWin32ModalUI::SetWaitCursorIfBusy() const {
    if (m_nWaitDepth == 0) return false;
    ::SetCursor(SystemCursor(IDC_WAIT));
    return true;
}

void CWin32ModalUI::RunWithProgress(const std::string& text, const std::function<void(IProgress&)>& work) {
    // The busy cursor while the work runs, also when it throws; the window
    // goes first.
    struct Busy {
        CWin32ModalUI& ui;
        ~Busy() {
            ui.SetWaitCursorIfBusy();  // the window's busy arrow goes with it
            ui.EndWaitCursor();
        }
    } busy{*this};
    BeginWaitCursor();
    CWin32Progress progress(Owner(), text, m_progressDelay);
    work(progress);
}

void CWin32ModalUI::ShowData(const DataView& view) {
    CDialogTemplateWriter t(view.caption, 0, 0, 360, 222,
                            WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
    const DWORD child = WS_CHILD | WS_VISIBLE;
    // Key and value names may hold "&": shown as they are.
    t.AddItem(CDialogTemplateWriter::kStatic, kDataHeadingId, view.heading, 7, 7, 346, 16, child | SS_LEFT | SS_NOPREFIX);
    t.AddItem(CDialogTemplateWriter::kEdit, kDataTextId, "", 7, 26, 346, 160,
              child | WS_BORDER | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
                  ES_AUTOHSCROLL);
    t.AddItem(CDialogTemplateWriter::kStatic, kDataRegErrorId, "", 7, 189, 346, 8, child | SS_LEFT | SS_NOPREFIX);
    t.AddItem(CDialogTemplateWriter::kButton, kDataCopyTextId, "Copy as &Text", 7, 201, 70, 14,
              child | WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON);
    t.AddItem(CDialogTemplateWriter::kButton, kDataCopyRegId, "Copy as .&reg Line", 82, 201, 80, 14,
              child | WS_TABSTOP | BS_PUSHBUTTON);
    t.AddItem(CDialogTemplateWriter::kButton, IDCANCEL, "Close", 303, 201, 50, 14,
              child | WS_TABSTOP | BS_DEFPUSHBUTTON);
    DataWindow window{view};
    RestoreWaitAfter wait(*this);
    ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), t.Template(), Owner(), &DataProc,
                              reinterpret_cast<LPARAM>(&window));
    if (window.fixed != nullptr) ::DeleteObject(window.fixed);
}

bool CWin32ModalUI::HavePrinter() {
    DWORD needed = 0, count = 0;
    ::EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &count);
    if (needed > 0) return true;
    MessageBox(kNoPrinter, MB_OK | MB_ICONWARNING);
    return false;
}

bool CWin32ModalUI::Print(const PrintJob& job, PrintMode mode) {
    if (!HavePrinter()) return false;
    PRINTDLGW pd{};
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = Owner();
    pd.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS | PD_USEDEVMODECOPIESANDCOLLATE;
    if (mode == PrintMode::Direct && m_hDevNames == nullptr) {
        pd.Flags |= PD_RETURNDEFAULT;  // the default printer, no dialog
    } else {
        pd.hDevMode = m_hDevMode;
        pd.hDevNames = m_hDevNames;
    }
    HDC dc = nullptr;
    if (mode == PrintMode::Direct && m_hDevNames != nullptr) {
        // The printer Print Setup chose, without asking again.
        auto* names = static_cast<DEVNAMES*>(::GlobalLock(m_hDevNames));
        auto* devMode = m_hDevMode != nullptr ? static_cast<DEVMODEW*>(::GlobalLock(m_hDevMode)) : nullptr;
        const auto* base = reinterpret_cast<const wchar_t*>(names);
        dc = ::CreateDCW(base + names->wDriverOffset, base + names->wDeviceOffset, nullptr, devMode);
        if (devMode != nullptr) ::GlobalUnlock(m_hDevMode);
        ::GlobalUnlock(m_hDevNames);
    } else {
        RestoreWaitAfter wait(*this);
        const BOOL ok = ::PrintDlgW(&pd);
        m_hDevMode = pd.hDevMode;
        m_hDevNames = pd.hDevNames;
        if (!ok) {
            if (::CommDlgExtendedError() != 0) MessageBox(kNoPrinter, MB_OK | MB_ICONWARNING);
            return false;
        }
        dc = pd.hDC;
    }
    if (dc == nullptr) return false;
    BeginWaitCursor();
    const bool printed = RunPrintJob(dc, L"Quorvane", job);
    EndWaitCursor();
    ::DeleteDC(dc);
    return printed;
}

void CWin32ModalUI::PrintSetup() {
    if (!HavePrinter()) return;
    PRINTDLGW pd{};
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = Owner();
    pd.hDevMode = m_hDevMode;
    pd.hDevNames = m_hDevNames;
    pd.Flags = PD_PRINTSETUP;
    RestoreWaitAfter wait(*this);
    ::PrintDlgW(&pd);
    m_hDevMode = pd.hDevMode;
    m_hDevNames = pd.hDevNames;
}

}  // namespace qv
