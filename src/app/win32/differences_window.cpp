#include "app/win32/differences_window.h"

#include <algorithm>

#include "app/differences_run.h"
#include "app/frame_commands.h"
#include "app/quorvane_doc.h"
#include "compare/data_text.h"
#include "compare/diff_output.h"
#include "files/stdio_file.h"
#include "framework/modal_ui.h"
#include "model/progress.h"

namespace qv {

namespace {

constexpr wchar_t kClassName[] = L"QuorvaneDifferences";
constexpr UINT kRunDone = WM_APP + 2;  // posted by the run's thread as it ends
constexpr UINT kRerun = WM_APP + 3;
constexpr UINT_PTR kPollTimer = 1;
constexpr unsigned kAllKinds = (1u << kDiffKinds) - 1;
constexpr int kColumns = 5;

std::string JoinKey(const std::string& key, const std::string& path) { return path.empty() ? key : key + '\\' + path; }

std::string ValueCell(const ValueEntry* v) { return v == nullptr ? std::string() : TypeName(v->type) + "  " + DataText(v->type, v->data); }

// What the row's details show: the keys in full and, for a value, both data in full.
std::string DetailsText(const DiffRow& r, const std::string& masterName, const std::string& slaveName) {
    std::string out = std::string(DiffKindName(r.kind)) + "\r\n";
    if (r.IsValue()) {
        out += "Value: " + DisplayName(r.ValueName());
        if (r.kind == DiffKind::kNameCase) out += "  (Slave: " + DisplayName(r.slave->Name()) + ")";
        out += "\r\n";
    }
    if (r.masterKey != nullptr) out += "Master key: " + JoinKey(masterName, r.path) + "\r\n";
    if (r.slaveKey != nullptr) out += "Slave key:  " + JoinKey(slaveName, r.slavePath) + "\r\n";
    if (r.IsValue()) {
        // The edit control breaks lines at CR LF only.
        for (char c : "\n" + BothSidesText(r.master, r.slave, ProcessEnvironment())) {
            if (c == '\n') out += '\r';
            out += c;
        }
    }
    return out;
}

HWND MakeControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0) {
    HWND hwnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return hwnd;
}

}  // namespace

CDifferencesWindow::CDifferencesWindow(HWND parent, int id, CQuorvaneDoc& doc, IRegistry& registry, IModalUI& ui)
    : m_doc(doc), m_registry(registry), m_ui(ui) {
    RegisterWindowClass(kClassName);
    m_hWnd = CreateWindowExW(0, kClassName, L"Differences", WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0, 0, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDifferencesWindow::WindowProc));
    m_hFixedFont = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");
    CreateControls();
    ShowState();
}

CDifferencesWindow::~CDifferencesWindow() {
    Clear();
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    DestroyWindow(m_hWnd);
    if (m_hFixedFont != nullptr) DeleteObject(m_hFixedFont);
}

LRESULT CALLBACK CDifferencesWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* window = reinterpret_cast<CDifferencesWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    return window->HandleMessage(message, wParam, lParam);
}

LRESULT CDifferencesWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE: Layout(); return 0;
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_TIMER:
    case kRunDone: Poll(); return 0;
    case kRerun: Rerun(); return 0;
    default: return DefWindowProcW(m_hWnd, message, wParam, lParam);
    }
}

void CDifferencesWindow::CreateControls() {
    MakeControl(m_hWnd, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kPair);
    MakeControl(m_hWnd, L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, kCounts);
    HWND kind = MakeControl(m_hWnd, WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, kKind);
    SendMessageW(kind, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"All kinds"));
    for (std::size_t k = 0; k < kDiffKinds; ++k)
        SendMessageW(kind, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(DiffKindName(static_cast<DiffKind>(k))).c_str()));
    SendMessageW(kind, CB_SETCURSEL, 0, 0);
    HWND filter = MakeControl(m_hWnd, WC_EDITW, L"", ES_AUTOHSCROLL | WS_TABSTOP, kFilter, WS_EX_CLIENTEDGE);
    SendMessageW(filter, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Filter by key, value or data"));
    MakeControl(m_hWnd, WC_BUTTONW, L"Close", BS_PUSHBUTTON | WS_TABSTOP, kClose);

    HWND list = MakeControl(m_hWnd, WC_LISTVIEWW, L"", LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | WS_TABSTOP,
                            kList, WS_EX_CLIENTEDGE);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const wchar_t* titles[kColumns] = {L"Kind", L"Key", L"Value", L"Master", L"Slave"};
    const int widths[kColumns] = {130, 300, 120, 180, 180};
    for (int c = 0; c < kColumns; ++c) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<wchar_t*>(titles[c]);
        column.cx = widths[c];
        SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    }
    HWND details = MakeControl(m_hWnd, WC_EDITW, L"", ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_HSCROLL | ES_AUTOHSCROLL,
                               kDetails, WS_EX_CLIENTEDGE);
    SendMessageW(details, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFixedFont), FALSE);

    MakeControl(m_hWnd, PROGRESS_CLASSW, L"", 0, kProgress);
    MakeControl(m_hWnd, WC_BUTTONW, L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, kCancel);
    MakeControl(m_hWnd, WC_BUTTONW, L"Copy to Slave", BS_PUSHBUTTON | WS_TABSTOP, kCopy);
    MakeControl(m_hWnd, WC_BUTTONW, L"Delete from Slave", BS_PUSHBUTTON | WS_TABSTOP, kDelete);
    MakeControl(m_hWnd, WC_BUTTONW, L"Save Report...", BS_PUSHBUTTON | WS_TABSTOP, kReport);
    MakeControl(m_hWnd, WC_BUTTONW, L"Save Patch...", BS_PUSHBUTTON | WS_TABSTOP, kPatch);
}

void CDifferencesWindow::Layout() {
    RECT r;
    GetClientRect(m_hWnd, &r);
    const int w = r.right, h = r.bottom, pad = 4, line = 22, button = 110;
    auto place = [this](int id, int x, int y, int cx, int cy) {
        MoveWindow(Control(id), x, y, std::max(0, cx), std::max(0, cy), TRUE);
    };
    place(kPair, pad, pad, w - 2 * pad, 30);
    int y = pad + 32;
    const int third = (w - 2 * pad) / 3;
    place(kCounts, pad, y + 3, third, line);
    place(kKind, pad + third + pad, y, 160, 200);
    place(kFilter, pad + third + 160 + 2 * pad, y, w - third - 160 - 80 - 5 * pad, line);
    place(kClose, w - pad - 80, y, 80, line);
    y += line + pad;
    const int bottom = h - pad - line;
    const int rest = std::max(0, bottom - pad - y);
    const int listHeight = rest * 7 / 10;  // the rows first; the current one in full below
    place(kList, pad, y, w - 2 * pad, listHeight);
    place(kDetails, pad, y + listHeight + pad, w - 2 * pad, rest - listHeight - pad);
    place(kProgress, pad, bottom, std::max(0, w - 5 * button - 8 * pad), line);
    int x = w - pad - 4 * (button + pad);
    place(kCancel, x - button - pad, bottom, button, line);
    for (int id : {kCopy, kDelete, kReport, kPatch}) {
        place(id, x, bottom, button, line);
        x += button + pad;
    }
}

void CDifferencesWindow::OnCommand(int id, int code) {
    switch (id) {
    case kCancel:
        if (m_run) m_run->Cancel();
        break;
    case kCopy: Act(true); break;
    case kDelete: Act(false); break;
    case kReport: Save(false); break;
    case kPatch: Save(true); break;
    case kClose:
        if (m_onClose) m_onClose();
        break;
    case kKind:
        if (code == CBN_SELCHANGE) Refilter();
        break;
    case kFilter:
        if (code == EN_CHANGE) Refilter();
        break;
    default: break;
    }
}

LRESULT CDifferencesWindow::OnNotify(const NMHDR& header) {
    if (header.idFrom != static_cast<UINT_PTR>(kList)) return 0;
    if (header.code == LVN_GETDISPINFOW) {
        auto& info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header));
        if ((info.item.mask & LVIF_TEXT) != 0) {
            m_cell = Widen(CellText(info.item.iItem, info.item.iSubItem));
            info.item.pszText = m_cell.data();
        }
    } else if (header.code == LVN_ITEMCHANGED) {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if ((change.uNewState & LVIS_FOCUSED) != 0 && (change.uOldState & LVIS_FOCUSED) == 0) OnRowChanged(change.iItem);
    }
    return 0;
}

std::string CDifferencesWindow::CellText(int row, int column) const {
    if (!m_run || row < 0 || row >= RowCount()) return {};
    const DiffRow& r = m_run->Rows().at(m_shown[static_cast<std::size_t>(row)]);
    switch (column) {
    case 0: return DiffKindName(r.kind);
    case 1: {
        const bool slave = r.kind == DiffKind::kKeyOnlyInSlave;
        std::string text = JoinKey(slave ? m_run->SlaveName() : m_run->MasterName(), slave ? r.slavePath : r.path);
        if (r.kind == DiffKind::kNameCase && !r.IsValue()) text += "  (Slave: " + LeafName(r.slavePath) + ")";
        return text;
    }
    case 2: {
        if (!r.IsValue()) return {};
        std::string text = DisplayName(r.ValueName());
        if (r.kind == DiffKind::kNameCase) text += "  (Slave: " + std::string(r.slave->Name()) + ")";
        return text;
    }
    case 3: return r.IsValue() ? ValueCell(r.master) : std::string();
    default: return r.IsValue() ? ValueCell(r.slave) : std::string();
    }
}

bool CDifferencesWindow::Running() const { return m_run != nullptr && m_bPolling; }

void CDifferencesWindow::Clear() {
    KillTimer(m_hWnd, kPollTimer);
    m_bPolling = false;
    m_shown.clear();
    SendMessageW(Control(kList), LVM_SETITEMCOUNT, 0, 0);
    SetText(kDetails, {});
    m_run.reset();  // cancels and waits
    SetCounts({});
    ShowState();
}

bool CDifferencesWindow::Start() {
    std::string masterKey, slaveKey;
    if (!m_doc.ChooseDifferencesPair(masterKey, slaveKey)) return false;
    Run(masterKey, slaveKey);
    return true;
}

void CDifferencesWindow::SlaveChanged(bool shown) {
    if (!m_run || m_bRerunPending) return;
    // A list the user closed is not brought back: its rows go, and the next
    // Differences runs afresh.
    if (!shown) {
        Clear();
        return;
    }
    // After the command that changed it, not in its middle.
    m_bRerunPending = true;
    PostMessageW(m_hWnd, kRerun, 0, 0);
}

void CDifferencesWindow::Rerun() {
    m_bRerunPending = false;
    if (!m_run) return;
    const std::string masterKey = m_run->MasterName(), slaveKey = m_run->SlaveName();
    Run(masterKey, slaveKey);
}

void CDifferencesWindow::Run(const std::string& masterKey, const std::string& slaveKey) {
    CIgnoreList ignore;
    if (!m_doc.LoadIgnoreList(ignore)) return;
    Clear();
    const KeyNode* masterNode = m_doc.FindSideKey(0, masterKey);
    const KeyNode* slaveNode = masterNode != nullptr ? m_doc.FindSideKey(1, slaveKey) : nullptr;
    if (masterNode == nullptr || slaveNode == nullptr) {
        SetCounts("The key " + (masterNode == nullptr ? masterKey : slaveKey) +
                  " is no longer there: select a key on each side and choose Search > Differences.");
        return;
    }
    auto inFile = [](int kind) { return kind == kSourceFile || kind == kSourceRegistryFile; };
    m_run = std::make_unique<CDifferencesRun>();
    const HWND window = m_hWnd;
    m_run->m_onDone = [window] { PostMessageW(window, kRunDone, 0, 0); };
    const DiffSide masterSide{masterNode, IsLiveKind(m_doc.m_nMasterKind), m_doc.m_strMaster, inFile(m_doc.m_nMasterKind)};
    const DiffSide slaveSide{slaveNode, IsLiveKind(m_doc.m_nSlaveKind), m_doc.m_strSlave, inFile(m_doc.m_nSlaveKind)};
    m_bPolling = true;
    m_run->Start(m_registry, masterSide, slaveSide, std::move(ignore));
    m_started = std::chrono::steady_clock::now();
    m_compareStart = -1;
    SendMessageW(Control(kProgress), PBM_SETRANGE32, 0, 1000);
    SendMessageW(Control(kProgress), PBM_SETPOS, 0, 0);
    SetText(kPair, "Master: " + m_run->MasterName() + "\r\nSlave:  " + m_run->SlaveName());
    // The progress display is brought up to date a few times a second; the
    // run's own message says when it is over.
    SetTimer(m_hWnd, kPollTimer, 100, nullptr);
    ShowState();
}

void CDifferencesWindow::Poll() {
    if (!m_run || !m_bPolling) return;
    if (m_run->Running()) {
        // Reading a live side: a count; comparing: how far through the Master's keys.
        const std::size_t total = m_run->KeysToCompare(), done = std::min(m_run->KeysCompared(), total);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
        if (total > 0 && m_compareStart < 0) m_compareStart = elapsed;
        SetCounts("Comparing: " + ProgressText(m_run->KeysDone(), done, total, total > 0 ? elapsed - m_compareStart : 0));
        if (total > 0) SendMessageW(Control(kProgress), PBM_SETPOS, static_cast<WPARAM>(done * 1000 / total), 0);
        return;
    }
    KillTimer(m_hWnd, kPollTimer);
    m_bPolling = false;
    const bool whole = m_run->Finish();
    if (!m_run->Failure().empty()) m_ui.MessageBox(m_run->Failure(), MB_OK | MB_ICONWARNING);
    Refilter();
    if (!whole) SetCounts(CountsText() + " (cancelled: the list is incomplete)");
}

std::string CDifferencesWindow::CountsText() const {
    if (!m_run || Running()) return {};
    const auto counts = m_run->Counts();
    std::size_t total = 0;
    std::string parts;
    for (std::size_t k = 0; k < kDiffKinds; ++k) {
        total += counts[k];
        if (counts[k] == 0) continue;
        if (!parts.empty()) parts += ", ";
        parts += std::to_string(counts[k]) + " " + DiffKindName(static_cast<DiffKind>(k));
    }
    return total == 0 ? std::string("No differences") : std::to_string(total) + " difference(s): " + parts;
}

void CDifferencesWindow::Refilter() {
    if (!m_run || Running()) return;
    const int kind = static_cast<int>(SendMessageW(Control(kKind), CB_GETCURSEL, 0, 0));
    const unsigned kinds = kind <= 0 ? kAllKinds : 1u << (kind - 1);
    const int length = GetWindowTextLengthW(Control(kFilter));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(Control(kFilter), text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    m_shown = m_run->Filter(kinds, Narrow(text));
    SendMessageW(Control(kList), LVM_SETITEMCOUNT, m_shown.size(), 0);
    InvalidateRect(Control(kList), nullptr, TRUE);
    SetText(kDetails, {});
    SetCounts(CountsText());
    ShowState();
}

void CDifferencesWindow::OnRowChanged(int row) {
    if (!m_run || Running() || row < 0 || row >= RowCount()) return;
    const DiffRow& r = m_run->Rows().at(m_shown[static_cast<std::size_t>(row)]);
    SetText(kDetails, DetailsText(r, m_run->MasterName(), m_run->SlaveName()));
    m_doc.RevealDifference(r, m_run->MasterName(), m_run->SlaveName());
}

std::vector<std::size_t> CDifferencesWindow::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (int i = -1; (i = static_cast<int>(SendMessageW(Control(kList), LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0;)
        if (i < RowCount()) rows.push_back(m_shown[static_cast<std::size_t>(i)]);
    return rows;
}

void CDifferencesWindow::Act(bool copy) {
    if (!m_run || Running()) return;
    ActOnDifferenceRows(m_doc, m_run, SelectedRows(), copy);
    if (m_run) Refilter();
}

void CDifferencesWindow::Save(bool patch) {
    if (m_run && !Running()) SaveDifferences(m_ui, *m_run, patch);
}

void CDifferencesWindow::ShowState() {
    const bool running = Running();
    const bool rows = m_run && !running && !m_run->Rows().empty();
    ShowWindow(Control(kProgress), running ? SW_SHOW : SW_HIDE);
    ShowWindow(Control(kCancel), running ? SW_SHOW : SW_HIDE);
    EnableWindow(Control(kCopy), rows);
    EnableWindow(Control(kDelete), rows);
    EnableWindow(Control(kReport), m_run && !running);
    EnableWindow(Control(kPatch), m_run && !running);
    if (!m_run && GetWindowTextLengthW(Control(kCounts)) == 0)
        SetText(kCounts, "Select a key on each side and choose Search > Differences.");
    if (!m_run) SetText(kPair, {});
}

void CDifferencesWindow::SetText(int id, const std::string& text) { SetWindowTextW(Control(id), Widen(text).c_str()); }

void CDifferencesWindow::SetCounts(const std::string& text) {
    SetText(kCounts, text);
    if (m_onCounts) m_onCounts(text);
}

}  // namespace qv
