#include "tests/support/regd_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace qv::test {

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The path of the quorvane-regd program the build made.
std::string RegdProgram() {
    if (const char* path = std::getenv("QUORVANE_REGD"); path != nullptr && *path != '\0') return path;
    return QV_REGD_PATH;
}

// Forks and execs the program with `args`; stdout to `outFd` (or closed
// output when -1), stderr to the file `logPath`. The child ends when this
// process does.
pid_t Spawn(const std::vector<std::string>& args, int outFd, const std::string& logPath) {
    std::vector<std::string> all{RegdProgram()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    // The child: only async-signal-safe calls until exec.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (log >= 0) dup2(log, STDERR_FILENO);
    const int out = outFd >= 0 ? outFd : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (out >= 0) dup2(out, STDOUT_FILENO);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in >= 0) dup2(in, STDIN_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
}

// Waits up to `seconds` for `pid` to end, then kills it; its wait status.
int WaitOrKill(pid_t pid, int seconds) {
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

std::string TempLogPath() {
    char path[] = "/tmp/qv-regd-log-XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    return path;
}

}  // namespace

CRegdChild::~CRegdChild() {
    Stop();
    if (!m_logPath.empty()) std::remove(m_logPath.c_str());
}

bool CRegdChild::Start(const RegdOptions& options, std::string* error) {
    Stop();
    std::vector<std::string> args{"--store", options.store, "--listen", options.listen, "--exit-after",
                                  std::to_string(options.exitAfter)};
    if (options.readOnly) args.push_back("--read-only");
    if (!options.tlsCert.empty()) args.insert(args.end(), {"--tls-cert", options.tlsCert});
    if (!options.tlsKey.empty()) args.insert(args.end(), {"--tls-key", options.tlsKey});
    if (!options.tlsClientCa.empty()) args.insert(args.end(), {"--tls-client-ca", options.tlsClientCa});
    if (!options.tokenFile.empty()) args.insert(args.end(), {"--token-file", options.tokenFile});

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        if (error) *error = "no pipe";
        return false;
    }
    if (m_logPath.empty()) m_logPath = TempLogPath();
    m_pid = Spawn(args, pipeFds[1], m_logPath);
    close(pipeFds[1]);
    m_status = -1;
    // Its first line on stdout: "listening on HOST:PORT".
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd wait{pipeFds[0], POLLIN, 0};
        if (poll(&wait, 1, 100) <= 0) continue;
        char buffer[256];
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        line.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    const std::size_t colon = line.rfind(':');
    if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
        if (error) *error = "quorvane-regd did not start: " + Log();
        Stop();
        return false;
    }
    m_port = std::atoi(line.c_str() + colon + 1);
    return m_port > 0;
}

int CRegdChild::Stop() {
    if (m_pid <= 0) return m_status;
    kill(m_pid, SIGTERM);  // a child that ended by itself is only reaped
    m_status = WaitOrKill(m_pid, 5);
    m_pid = -1;
    return m_status;
}

std::string CRegdChild::Log() const { return m_logPath.empty() ? std::string() : ReadAll(m_logPath); }

int RunRegd(const std::vector<std::string>& args, std::string* log) {
    const std::string logPath = TempLogPath();
    const int status = WaitOrKill(Spawn(args, -1, logPath), 10);
    if (log) *log = ReadAll(logPath);
    std::remove(logPath.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace qv::test
