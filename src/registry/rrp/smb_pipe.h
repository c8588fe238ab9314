// The \PIPE\winreg named pipe of a computer's IPC$ share, reached through
// libsmbclient: the transport that DCE/RPC runs on.
//
// Each pipe has a libsmbclient context of its own (contexts are not
// thread-safe; the owner serialises calls on one pipe). The context never
// falls back to an anonymous logon, reads no smb.conf, logs nothing, and
// every SMB call it makes ends within the timeout given. Open's statuses:
// ERROR_ACCESS_DENIED when the logon or the share is refused, and
// ERROR_BAD_NETPATH when the computer cannot be reached, does not answer in
// time or has no winreg pipe. Read and Write fail with ERROR_BAD_NETPATH once
// the connection is lost.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "registry/rrp/dcerpc.h"

namespace qv::rrp {

struct SmbLogon {
    std::string user, domain, password;
};

class CSmbPipe : public IRpcPipe {
public:
    CSmbPipe();
    ~CSmbPipe() override;
    CSmbPipe(const CSmbPipe&) = delete;
    CSmbPipe& operator=(const CSmbPipe&) = delete;

    // `host` is a name or an address (IPv6 without brackets).
    LONG Open(const std::string& host, int port, const SmbLogon& logon, std::chrono::milliseconds timeout);

    LONG Write(std::string_view bytes) override;
    LONG Read(std::string& bytes, std::size_t max) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qv::rrp
