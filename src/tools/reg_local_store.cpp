#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "registry/registry_router.h"
#include "registry/store_registry.h"
#include "tools/reg_local.h"

namespace qv {

namespace {
std::unique_ptr<CStoreRegistry> g_store;
std::unique_ptr<CRegistryRouter> g_router;  // \\computer\... names reach quorvane-regd

// One line from the terminal, without showing it when `hidden`; false at
// its end.
bool ReadTerminalLine(std::FILE* tty, bool hidden, std::string& line) {
    termios saved{};
    const bool quiet = hidden && tcgetattr(fileno(tty), &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fileno(tty), TCSAFLUSH, &silent);
    }
    line.clear();
    int c;
    while ((c = std::fgetc(tty)) != EOF && c != '\n') line += static_cast<char>(c);
    if (quiet) {
        tcsetattr(fileno(tty), TCSAFLUSH, &saved);
        std::fputc('\n', tty);
    }
    return c != EOF || !line.empty();
}

// Asks on the terminal who the user is on a Windows computer; there is no
// asking without one (scripts say it in QUORVANE_SMB_USER and
// QUORVANE_SMB_PASSWORD_FILE).
bool AskOnTerminal(const std::string& computer, RrpCredentials& credentials) {
    if (!isatty(STDIN_FILENO)) return false;
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr) return false;
    std::string user;
    std::fprintf(tty, "%s wants a logon.\nUser%s%s%s: ", computer.c_str(), credentials.user.empty() ? "" : " [",
                 credentials.user.c_str(), credentials.user.empty() ? "" : "]");
    std::fflush(tty);
    bool ok = ReadTerminalLine(tty, false, user);
    if (ok && !user.empty()) {
        credentials.user = user;
        credentials.domain.clear();
    }
    std::fputs("Password: ", tty);
    std::fflush(tty);
    ok = ok && ReadTerminalLine(tty, true, credentials.password);
    std::fclose(tty);
    return ok && !credentials.user.empty();
}

}  // namespace

void PrepareConsole() {}

IRegistry* OpenThisComputer(std::string& error) {
    const std::string path = DefaultStorePath();
    if (path.empty()) {
        error = "there is no store path (set QUORVANE_REGISTRY or HOME)";
        return nullptr;
    }
    g_store = CStoreRegistry::Open(path, &error,
                                   [](const std::string& text) { std::cerr << "WARNING: " << text << "\n"; });
    if (!g_store) {
        error = path + ": " + error;
        return nullptr;
    }
    RrpOptions windows = RrpOptions::FromEnvironment();
    windows.askCredentials = AskOnTerminal;
    g_router = std::make_unique<CRegistryRouter>(*g_store, RemoteOptions::FromEnvironment(), std::move(windows));
    return g_router.get();
}

std::string ThisComputerFailure() { return g_store ? g_store->LastError() : std::string(); }

}  // namespace qv
