// Quorvane for Windows: compares and synchronises two registries, side by side.
#include "framework/win32/win32_api.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/win32/quorvane_app.h"

#ifndef QV_VERSION
#define QV_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: quorvane [OPTION]... [MASTER [SLAVE]]\r\n"
    "Compares two registries side by side and brings the Slave into line.\r\n"
    "\r\n"
    "With MASTER and SLAVE both sides open at once; with MASTER alone the Open\r\n"
    "dialog starts with the Master set to it. A side is one of:\r\n"
    "  local        this computer's registry\r\n"
    "  \\\\COMPUTER   another computer's registry\r\n"
    "  FILE         a tree file (.qvf) or a .reg file (write .\\local for a file named local)\r\n"
    "\r\n"
    "  --help     show this text and exit\r\n"
    "  --version  show the version and exit\r\n"
    "\r\n"
    "For testing and documentation:\r\n"
    "  --select KEY       select KEY (HKEY_LOCAL_MACHINE\\SOFTWARE\\...) in both trees\r\n"
    "  --differences      list the differences of the selected keys (Search > Differences)\r\n"
    "  --screenshot FILE  save a picture of the window to FILE (.bmp) and quit\r\n";

// Writes to the standard output or error this program was started with. A
// GUI program has none of its own: under Wine from a shell, or with its
// output redirected, the handles it inherited are already there; started
// from a console window, it attaches to that console.
void Print(DWORD which, const std::string& text) {
    HANDLE out = GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (AttachConsole(ATTACH_PARENT_PROCESS)) {
            out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (out != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                const std::wstring wide = qv::Widen(text);
                WriteConsoleW(out, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
                CloseHandle(out);
            }
        }
        return;
    }
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The arguments after the program's name, as UTF-8.
std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) return args;
    for (int i = 1; i < count; ++i) args.push_back(qv::Narrow(argv[i]));
    LocalFree(argv);
    return args;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    const std::vector<std::string> args = Arguments();
    for (const std::string& arg : args) {
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            Print(STD_OUTPUT_HANDLE, kUsage);
            return 0;
        }
        if (arg == "--version") {
            Print(STD_OUTPUT_HANDLE, "quorvane " QV_VERSION "\n");
            return 0;
        }
    }
    const qv::CommandLine commandLine = qv::ParseCommandLine(args);
    if (!commandLine.error.empty()) {
        Print(STD_ERROR_HANDLE, "quorvane: " + commandLine.error + "\nTry 'quorvane --help' for more information.\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    qv::CQuorvaneApp app;
    (void)showCommand;  // the window is shown as the program was started, Windows sees to that
    app.InitInstance(true, commandLine);
    return app.Run();
}
