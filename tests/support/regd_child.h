// quorvane-regd as a child process of a test: started on 127.0.0.1 with a
// port of its own choosing, stopped by its PID when the holder goes. The
// child also stops by itself after `exitAfter` seconds and when the test
// process dies, so none outlives the tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qv::test {

struct RegdOptions {
    std::string store;  // required
    bool readOnly = false;
    std::string tlsCert, tlsKey, tlsClientCa, tokenFile;
    std::string listen = "127.0.0.1:0";
    int exitAfter = 300;
};

class CRegdChild {
public:
    CRegdChild() = default;
    ~CRegdChild();
    CRegdChild(const CRegdChild&) = delete;
    CRegdChild& operator=(const CRegdChild&) = delete;

    // Starts the service and waits (10 s at most) until it listens. False
    // with the reason (and what it wrote to stderr) in `*error` otherwise.
    bool Start(const RegdOptions& options, std::string* error = nullptr);
    // SIGTERM, then SIGKILL if it has not ended within 5 s. Returns the exit
    // status as waitpid gives it, or -1 if nothing was started.
    int Stop();

    int Port() const { return m_port; }
    // The computer name the client takes: "127.0.0.1:port".
    std::string Computer() const { return "127.0.0.1:" + std::to_string(m_port); }
    pid_t Pid() const { return m_pid; }
    // What the service wrote to its standard error so far.
    std::string Log() const;

private:
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_logPath;
    int m_status = -1;
};

// Runs quorvane-regd with `args` to its end (for refusals at start-up):
// the exit code, and its standard error in `*log`. Killed after 10 s.
int RunRegd(const std::vector<std::string>& args, std::string* log = nullptr);

}  // namespace qv::test
