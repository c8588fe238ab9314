// The Win32 program driven as a user drives it, under Wine: two sides open
// (a tree file against Wine's own registry), keys and their values in the
// real tree and list controls, a Compare that stops at a difference, the
// differences list, a copy into Wine's registry read back with Wine's
// reg.exe; the menus, tool bar and accelerators built from res/; --version.
#include "framework/win32/win32_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/quorvane_doc.h"
#include "app/win32/differences_window.h"
#include "app/win32/main_frame.h"
#include "app/win32/quorvane_app.h"
#include "app/win32/win32_settings.h"
#include "compare/ignore_list.h"
#include "registry/win32_registry.h"
#include "res/templates.h"
#include "tests/support/scripted_ui.h"

namespace qv::test {
namespace {

// A Unix path as Wine's Z: drive shows it.
std::string WinePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

// Runs `commandLine`, its standard output caught; the output and exit code.
std::string Capture(const std::string& commandLine, DWORD& exitCode) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) return "(no pipe)";
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    PROCESS_INFORMATION process{};
    std::wstring line = Widen(commandLine);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        CloseHandle(read);
        CloseHandle(write);
        return "(cannot start " + commandLine + ")";
    }
    CloseHandle(write);
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read, buffer, sizeof(buffer), &got, nullptr) && got > 0) out.append(buffer, got);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(read);
    return out;
}

// The selected item's path in a tree control, from its root item down.
std::string SelectedPath(HWND tree) {
    std::string path;
    for (auto item = TreeView_GetSelection(tree); item != nullptr; item = TreeView_GetParent(tree, item)) {
        wchar_t text[260] = {};
        TVITEMW data{};
        data.mask = TVIF_TEXT;
        data.hItem = item;
        data.pszText = text;
        data.cchTextMax = 260;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        path = path.empty() ? Narrow(text) : Narrow(text) + "\\" + path;
    }
    return path;
}

// The texts of the root item's children in a tree control.
std::vector<std::string> TopChildren(HWND tree) {
    std::vector<std::string> texts;
    for (auto item = TreeView_GetChild(tree, TreeView_GetRoot(tree)); item != nullptr;
         item = TreeView_GetNextSibling(tree, item)) {
        wchar_t text[260] = {};
        TVITEMW data{};
        data.mask = TVIF_TEXT;
        data.hItem = item;
        data.pszText = text;
        data.cchTextMax = 260;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
        texts.push_back(Narrow(text));
    }
    return texts;
}

// A list control's rows as "name = value text".
std::vector<std::string> Rows(HWND list) {
    std::vector<std::string> rows;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::string cells[2];
        for (int column = 0; column < 2; ++column) {
            wchar_t text[512] = {};
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = 512;
            SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
            cells[column] = Narrow(text);
        }
        rows.push_back(cells[0] + " = " + cells[1]);
    }
    return rows;
}

class Win32AppTest : public ::testing::Test {
protected:
    Win32AppTest() {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        const std::string id = std::to_string(GetCurrentProcessId());
        settingsKey = "Software\\Quorvane Test " + id;
        slaveKey = "Software\\Quorvane Slave " + id;
    }
    ~Win32AppTest() override {
        app.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, Widen(settingsKey).c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, Widen(slaveKey).c_str());
    }
    void Start() {
        app = std::make_unique<CQuorvaneApp>(ui, registry, settingsKey);
        app->InitInstance(false);
        frame = app->GetMainFrame();
        app->PumpMessages();
    }
    // Handles messages until `done` holds, for at most about ten seconds.
    template <class Done>
    void PumpUntil(Done done) {
        for (int i = 0; i < 500 && !done(); ++i) {
            app->PumpMessages();
            Sleep(20);
        }
    }
    // A key in Wine's registry below HKEY_CURRENT_USER with string and number values.
    static void MakeKey(const std::string& path, std::initializer_list<std::pair<const char*, const char*>> texts,
                        std::initializer_list<std::pair<const char*, DWORD>> numbers) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Widen(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        for (const auto& [name, text] : texts) {
            const std::wstring data = Widen(text);
            RegSetValueExW(key, Widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        }
        for (const auto& [name, number] : numbers)
            RegSetValueExW(key, Widen(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
        RegCloseKey(key);
    }
    // Presses `key` in `target` with Ctrl or Shift held as asked.
    void Press(HWND target, UINT key, bool ctrl, bool shift = false) {
        BYTE saved[256], state[256];
        GetKeyboardState(saved);
        GetKeyboardState(state);
        state[VK_CONTROL] = ctrl ? 0x80 : 0;
        state[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(state);
        PostMessageW(target, WM_KEYDOWN, key, 1);
        PostMessageW(target, WM_KEYUP, key, 0xC0000001);
        app->PumpMessages();
        SetKeyboardState(saved);
    }

    std::string settingsKey, slaveKey;
    CScriptedUI ui;
    CWin32Registry registry;
    std::unique_ptr<CQuorvaneApp> app;
    CMainFrame* frame = nullptr;
};

TEST_F(Win32AppTest, TreeFileAgainstWinesRegistryComparesListsAndCopies) {
    // The Slave: the example's program key with a plugin and a setting missing.
    const char* kMasterKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Demo";
    MakeKey(slaveKey, {{"InstallDir", "C:\\Program Files\\Quorvane Demo"}, {"Version", "1.3"}},
            {{"Build", 0x7d0}, {"Telemetry", 0}});
    MakeKey(slaveKey + "\\Plugins", {}, {{"Count", 2}});
    MakeKey(slaveKey + "\\Plugins\\Compare", {}, {{"Enabled", 1}});
    MakeKey(slaveKey + "\\Settings", {{"Language", "en"}}, {});
    Start();

    const std::string master = WinePath(QV_EXAMPLES_DIR "/master.qvf");
    ui.AnswerDialog([&](CDialog&, CDialogDriver& d) {
        d.Click(IDC_MASTER_FILE);
        d.Type(IDC_MASTER_NAME, master);
        d.Click(IDC_SLAVE_LOCAL);
        d.Click(IDOK);
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_FILE_SELECT));
    CQuorvaneDoc& doc = *app->GetDocument();
    ASSERT_TRUE(doc.BothTrees()) << ::testing::PrintToString(ui.Messages());
    const std::string slavePath = "HKEY_CURRENT_USER\\" + slaveKey;
    ASSERT_NE(doc.TreeView(0)->Reveal(kMasterKey), nullptr);
    ASSERT_NE(doc.TreeView(1)->Reveal(slavePath), nullptr);

    // The selected keys and their values, as the controls show them.
    HWND masterTree = frame->GetPaneWindow(0, 0), slaveTree = frame->GetPaneWindow(1, 0);
    EXPECT_EQ(TopChildren(masterTree), (std::vector<std::string>{"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"}));
    EXPECT_EQ(SelectedPath(masterTree), master + "\\" + kMasterKey);
    EXPECT_EQ(SelectedPath(slaveTree).substr(SelectedPath(slaveTree).find("HKEY_")), slavePath);
    // (Wine lists values by name, where a tree file keeps their order.)
    std::vector<std::string> masterValues = Rows(frame->GetPaneWindow(0, 1)), slaveValues = Rows(frame->GetPaneWindow(1, 1));
    ASSERT_EQ(masterValues.size(), 4u);
    EXPECT_EQ(masterValues[2], "Build = (7D0)  2000");
    std::sort(masterValues.begin(), masterValues.end());
    std::sort(slaveValues.begin(), slaveValues.end());
    EXPECT_EQ(masterValues, slaveValues);

    // Compare stops at the first difference: the Slave's Plugins lacks a key.
    // The Slave tree is there when it asks Next or Stop; the Master stays at the compared key.
    std::string stopMaster, stopSlave, stopText;
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(IDOK); });
    ui.AnswerDialog([&](CDialog&, CDialogDriver& d) {
        stopMaster = SelectedPath(masterTree);
        stopSlave = SelectedPath(slaveTree);
        stopText = d.GetDlgItemText(1026);
        d.Click(IDCANCEL);
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_COMPARE));
    EXPECT_EQ(stopText, "Different number of key entries.");
    EXPECT_EQ(stopMaster, master + "\\" + kMasterKey);
    EXPECT_EQ(stopSlave.substr(stopSlave.find("HKEY_")), slavePath + "\\Plugins");

    // The differences list: the missing key and value, counted in the status bar too.
    ASSERT_NE(doc.TreeView(0)->Reveal(kMasterKey), nullptr);
    ASSERT_NE(doc.TreeView(1)->Reveal(slavePath), nullptr);
    ui.AnswerQuestion(IDYES);  // the two keys' own names differ
    const POINT split = frame->Split();
    ASSERT_TRUE(frame->ExecuteCommand(ID_DIFFERENCES));
    // The rows give it room in proportion; the divider kept (and saved) stays the same.
    EXPECT_EQ(frame->Split().y, split.y);
    CDifferencesWindow& list = *frame->Differences();
    PumpUntil([&] { return !list.Running(); });
    EXPECT_EQ(list.CountsText(), "2 difference(s): 1 key only in Master, 1 value only in Master");
    EXPECT_EQ(frame->StatusText(1), list.CountsText());
    ASSERT_EQ(list.RowCount(), 2);

    // Copy Master to Slave, whole and overwriting; Wine's reg.exe reads it back.
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) {
        d.Click(1009);
        d.Click(1017);
        d.Click(IDOK);
    });
    ASSERT_TRUE(frame->ExecuteCommand(ID_COPY));
    DWORD code = 1;
    const std::string out = Capture("reg.exe query \"HKCU\\" + slaveKey + "\" /s", code);
    EXPECT_EQ(code, 0u) << out;
    for (const char* line : {"Plugins\\Print", "Theme    REG_SZ    classic", "Enabled    REG_DWORD    0x1"})
        EXPECT_NE(out.find(line), std::string::npos) << line << " in\n" << out;
    // The list runs again over the same pair once the change is over.
    PumpUntil([&] { return !list.Running() && list.CountsText() == "No differences"; });
    EXPECT_EQ(list.CountsText(), "No differences");
    EXPECT_EQ(list.RowCount(), 0);
    ui.ExpectAllAnswersUsed();
}

TEST_F(Win32AppTest, MenusToolBarAcceleratorsLayoutAndVersionComeFromRes) {
    Start();
    // Every menu item by its id, with its text; every tool bar button.
    for (const MenuTemplate& menu : MainMenu())
        for (const MenuItemTemplate& item : menu.items) {
            if (item.id == 0) continue;
            wchar_t text[128] = {};
            ASSERT_GT(GetMenuStringW(frame->Menu(), item.id, text, 128, MF_BYCOMMAND), 0) << item.text;
            EXPECT_EQ(Narrow(text), item.text);
        }
    for (UINT id : ToolBarButtons()) {
        if (id != 0) {
            EXPECT_GE(SendMessageW(frame->ToolBar(), TB_COMMANDTOINDEX, id, 0), 0) << id;
        }
    }
    // States as a menu opens: nothing to compare before an Open; the tool bar is on.
    for (int i = 0; i < GetMenuItemCount(frame->Menu()); ++i)
        SendMessageW(frame->Hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(frame->Menu(), i)), i);
    EXPECT_EQ(GetMenuState(frame->Menu(), ID_COMPARE, MF_BYCOMMAND) & MF_GRAYED, static_cast<UINT>(MF_GRAYED));
    EXPECT_EQ(GetMenuState(frame->Menu(), ID_VIEW_TOOLBAR, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    EXPECT_EQ(frame->StatusText(0), LoadString(AFX_IDS_IDLEMESSAGE));
    // The status bar prompts for the item the pointer is on, and is idle again when the menu closes.
    SendMessageW(frame->Hwnd(), WM_MENUSELECT, MAKEWPARAM(ID_COMPARE, MF_STRING), reinterpret_cast<LPARAM>(frame->Menu()));
    EXPECT_EQ(frame->StatusText(0), CommandPrompt(ID_COMPARE));
    SendMessageW(frame->Hwnd(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ(frame->StatusText(0), LoadString(AFX_IDS_IDLEMESSAGE));
    // View > Toolbar takes the tool bar away, and the menu says so.
    ASSERT_TRUE(frame->ExecuteCommand(ID_VIEW_TOOLBAR));
    EXPECT_EQ(GetWindowLongW(frame->ToolBar(), GWL_STYLE) & WS_VISIBLE, 0);
    EXPECT_EQ(frame->QueryCommandState(ID_VIEW_TOOLBAR).m_nCheck, 0);

    // Accelerators reach the route from a pane: Ctrl+O opens the Open dialog, F6 and Shift+F6 move between panes.
    HWND tree = frame->GetPaneWindow(0, 0);
    ui.AnswerDialog([](CDialog&, CDialogDriver& d) { d.Click(IDCANCEL); });
    Press(tree, 'O', true);
    ASSERT_EQ(ui.events.size(), 1u);
    EXPECT_EQ(ui.events[0].kind, CScriptedUI::Event::Dialog);
    const auto active = [&] {
        int row = -1, column = -1;
        frame->GetActiveCell(row, column);
        return row * 2 + column;
    };
    Press(tree, VK_F6, false);
    EXPECT_EQ(active(), 1);
    Press(tree, VK_F6, false, true);
    EXPECT_EQ(active(), 0);
    Press(tree, VK_F6, false, true);
    EXPECT_EQ(active(), 3);  // round from the first to the last
    // A disabled command's keys do nothing: no Open, nothing to print.
    Press(tree, 'P', true);
    EXPECT_EQ(ui.events.size(), 1u);

    // The initial split, and dividers kept in the settings for the next run.
    frame->ApplyInitialSplit();
    RECT window, cell;
    GetWindowRect(frame->Hwnd(), &window);
    GetWindowRect(tree, &cell);
    EXPECT_EQ(cell.right - cell.left, CMainFrame::InitialPaneSplit({window.right - window.left, window.bottom - window.top}).cx);
    frame->SetSplit({123, 87});
    frame->SaveLayout(app->Settings());
    app = std::make_unique<CQuorvaneApp>(ui, registry, settingsKey);
    app->InitInstance(false);
    EXPECT_EQ(app->GetMainFrame()->Split().x, 123);
    EXPECT_EQ(app->GetMainFrame()->Split().y, 87);

    // Recent files newest first, each once, four at most; lists of names whole, in any script.
    for (const char* path : {"a.qvf", "b.qvf", "a.qvf", "c.qvf", "d.qvf", "e.qvf"}) app->RecentFiles().Add(path);
    EXPECT_EQ(app->RecentFiles().List(), (std::vector<std::string>{"e.qvf", "d.qvf", "c.qvf", "a.qvf"}));
    const std::vector<std::string> computers{"регбокс", "host:7787", "[::1]:7788"};
    app->Settings().SetList("Remote", "Recent", computers);
    EXPECT_EQ(app->Settings().GetList("Remote", "Recent"), computers);

    // Search > Ignore List: the dialog made from its template in memory keeps what is typed on OK.
    const std::string ignorePath = DefaultIgnoreListPath();
    DeleteFileW(Widen(ignorePath).c_str());
    SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR timer, DWORD) {
        HWND dialog = FindWindowW(L"#32770", L"Ignore List");
        if (dialog == nullptr) return;
        KillTimer(nullptr, timer);
        SetDlgItemTextW(dialog, 100, L"key HKEY_CURRENT_USER\\Software\\Junk*\r\nvalue *.tmp");
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(app->GetMainFrame()->ExecuteCommand(ID_IGNORE_LIST));
    CIgnoreList kept, typed;
    std::string error;
    ASSERT_TRUE(typed.Parse("key HKEY_CURRENT_USER\\Software\\Junk*\nvalue *.tmp", error)) << error;
    EXPECT_TRUE(kept.Load(ignorePath, error)) << error;
    EXPECT_EQ(kept.Text(), typed.Text());
    EXPECT_NE(kept.Text(), "");
    DeleteFileW(Widen(ignorePath).c_str());  // the compares of other tests see none

    // --version through a pipe, as a GUI program started from a console or a script.
    DWORD code = 1;
    EXPECT_EQ(Capture("\"" + WinePath(QV_APP_EXE) + "\" --version", code), "quorvane " QV_VERSION "\n");
    EXPECT_EQ(code, 0u);
    ui.ExpectAllAnswersUsed();
}

}  // namespace
}  // namespace qv::test
