#include "app/win32/quorvane_app.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/frame_commands.h"
#include "app/quorvane_doc.h"
#include "app/win32/main_frame.h"
#include "app/win32/win32_settings.h"
#include "framework/win32/win32_images.h"
#include "framework/win32/win32_modal_ui.h"
#include "model/key_node.h"
#include "panes/tree_pane.h"
#include "panes/value_pane.h"
#include "panes/win32/win32_list_ctrl.h"
#include "panes/win32/win32_tree_ctrl.h"
#include "registry/mount_router.h"
#include "registry/win32_registry.h"
#include "sources/registry_source.h"

namespace qv {

CQuorvaneApp::CQuorvaneApp() : m_bDesktop(true) {
    m_pSettings = std::make_unique<CWin32Settings>();
    m_pRecentFiles = std::make_unique<CRecentFileList>(*m_pSettings);
    m_pWin32Ui = std::make_unique<CWin32ModalUI>();
    m_pUi = m_pWin32Ui.get();
    // Windows' own registry for this computer and \\computer; files opened
    // as sides are mounted beside it.
    m_pLocal = std::make_unique<CWin32Registry>();
    m_pRouter = std::make_unique<CMountRouter>(*m_pLocal);
    m_pRegistry = m_pRouter.get();
}

CQuorvaneApp::CQuorvaneApp(IModalUI& ui, IRegistry& registry, const std::string& settingsKey)
    : m_bDesktop(false), m_pUi(&ui), m_pRegistry(&registry) {
    m_pSettings = std::make_unique<CWin32Settings>(settingsKey);
    m_pRecentFiles = std::make_unique<CRecentFileList>(*m_pSettings);
}

CQuorvaneApp::~CQuorvaneApp() {
    // The frame's panes leave the document; the document then goes.
    m_pFrame.reset();
    m_pDoc.reset();
}

void CQuorvaneApp::InitInstance(bool show, const CommandLine& commandLine) {
    m_pDoc = std::make_unique<CQuorvaneDoc>(*m_pRegistry, *m_pUi);
    m_pDoc->m_recentComputers = m_pSettings->GetList("Remote", "Recent");
    m_pDoc->m_onRecentComputers = [this](const std::vector<std::string>& names) {
        m_pSettings->SetList("Remote", "Recent", names);
    };
    m_pDoc->m_openRegistryFile = [this](const std::string& path, std::unique_ptr<IRegistry>& registry,
                                        std::string& readOnly, std::string& error) {
        return OpenRegistryFileSide(path, registry, readOnly, error, [this](const std::string& message) {
            m_pUi->MessageBox(message, MB_OK | MB_ICONERROR);
        });
    };
    m_pFrame = std::make_unique<CMainFrame>(*m_pDoc, this);
    m_pFrame->m_bQuitOnClose = m_bDesktop;
    if (m_pWin32Ui) m_pWin32Ui->SetOwner(m_pFrame->Hwnd());
    CreatePanes();
    m_pFrame->KeepLayoutIn(*m_pSettings);
    m_pFrame->SetActivePane(0, 0);
    m_pFrame->UpdateCommandUI();
    if (show) m_pFrame->Show();
    // The program on screen keeps the undo journal (tests run it hidden, and
    // keep journals of their own); without one, changes go unrecorded.
    std::string error;
    const bool journal = show && m_journal.Open(CUndoJournal::DefaultFolder(), error);
    if (journal) m_pDoc->m_pJournal = &m_journal;
    // From the message loop, so the window is on screen before a side opens.
    m_pFrame->Post([this, commandLine, journal, error] {
        if (!journal && !error.empty()) m_pUi->MessageBox(error + " Changes cannot be undone.", MB_OK | MB_ICONWARNING);
        if (journal) m_pDoc->OfferRecovery();
        RunCommandLine(commandLine);
    });
}

void CQuorvaneApp::CreatePanes() {
    // The document numbers its panes in the order they join: both trees,
    // then both value lists, each pair Master first.
    const struct {
        int row, column;
        bool tree;
    } cells[] = {{0, 0, true}, {1, 0, true}, {0, 1, false}, {1, 1, false}};
    HIMAGELIST treeImages = CreateTreeImageList();
    for (const auto& cell : cells) {
        const int id = CMainFrame::kFirstPaneId + cell.row * CMainFrame::kColumns + cell.column;
        if (cell.tree) {
            auto tree = std::make_unique<CWin32TreeCtrl>(m_pFrame->Hwnd(), id);
            tree->SetImageList(treeImages);
            auto pane = std::make_unique<CQuorvaneView>(*tree);
            pane->m_pGrid = m_pFrame.get();
            m_pDoc->AddView(pane.get());
            m_pFrame->SetPane(cell.row, cell.column, std::move(tree), std::move(pane));
        } else {
            auto list = std::make_unique<CWin32ListCtrl>(m_pFrame->Hwnd(), id);
            auto pane = std::make_unique<CRegListView>(*list);
            m_pDoc->AddView(pane.get());
            m_pFrame->SetPane(cell.row, cell.column, std::move(list), std::move(pane));
            m_pFrame->AddContextMenu(cell.row, cell.column, {ID_VIEW_DATA});
        }
    }
}

bool CQuorvaneApp::PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            m_bQuit = true;
            m_nExitCode = static_cast<int>(msg.wParam);
            return false;
        }
        if (m_pFrame && m_pFrame->PreTranslateMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return !m_bQuit;
}

int CQuorvaneApp::Run() {
    MSG msg;
    while (!m_bQuit) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            m_nExitCode = got == 0 ? static_cast<int>(msg.wParam) : 1;
            break;
        }
        if (m_pFrame && m_pFrame->PreTranslateMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return m_nExitCode;
}

void CQuorvaneApp::RunCommandLine(const CommandLine& commandLine) {
    if (commandLine.sides == 2) {
        m_pDoc->OpenSides(commandLine.masterKind, commandLine.master, commandLine.slaveKind, commandLine.slave);
        m_pFrame->UpdateCommandUI();
        if (commandLine.slaveKind == kSourceFile) m_pRecentFiles->Add(commandLine.slave);
        if (commandLine.masterKind == kSourceFile) m_pRecentFiles->Add(commandLine.master);
    } else if (commandLine.sides == 1) {
        // The dialog starts from the document's sides.
        m_pDoc->m_nMasterKind = commandLine.masterKind;
        m_pDoc->m_strMaster = commandLine.master;
        m_pFrame->ExecuteCommand(ID_FILE_SELECT);
    }
    if (!commandLine.select.empty()) SelectKey(commandLine.select);
    if (commandLine.differences) m_pFrame->ExecuteCommand(ID_DIFFERENCES);
    if (commandLine.screenshot.empty()) return;
    // After the first paints and once the differences list is filled (a
    // minute at most), so the picture shows what a user sees.
    const std::string shot = commandLine.screenshot;
    const auto started = std::chrono::steady_clock::now();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [this, shot, started, poll] {
        const auto waited = std::chrono::steady_clock::now() - started;
        if (waited < std::chrono::milliseconds(500) ||
            (m_pFrame->DifferencesRunning() && waited < std::chrono::seconds(60))) {
            Sleep(20);
            m_pFrame->Post(*poll);
            return;
        }
        m_pFrame->UpdateCommandUI();
        if (!SaveScreenshot(shot)) std::fprintf(stderr, "quorvane: cannot save the screenshot to %s\n", shot.c_str());
        *poll = nullptr;  // the function held itself
        SendMessageW(m_pFrame->Hwnd(), WM_CLOSE, 0, 0);
    };
    m_pFrame->Post(*poll);
}

void CQuorvaneApp::SelectKey(const std::string& path) { SelectKeyInTrees(*m_pDoc, path); }

bool CQuorvaneApp::SaveScreenshot(const std::string& path) const {
    HWND hwnd = m_pFrame->Hwnd();
    RECT r;
    GetWindowRect(hwnd, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as .bmp files keep rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // What the screen shows of the window (it is on top once the command
    // line has run); PrintWindow draws next to nothing of it under Wine.
    SetForegroundWindow(hwnd);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const bool drawn = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY | CAPTUREBLT) != FALSE;
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD size = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + size;
    info.bmiHeader.biSizeImage = size;
    bool written = false;
    if (drawn && bits != nullptr) {
        std::ofstream out(std::filesystem::path(Widen(path)), std::ios::binary);
        out.write(reinterpret_cast<const char*>(&file), sizeof(file));
        out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
        out.write(static_cast<const char*>(bits), size);
        written = out.good();
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return written;
}

bool CQuorvaneApp::OnCmdMsg(UINT id) { return AppCommand(*m_pUi, id); }

bool CQuorvaneApp::OnUpdateCmdUI(CCmdUI& cmdUI) { return AppCommandState(cmdUI); }

}  // namespace qv
