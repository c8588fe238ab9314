// Other computers' registries, reached through their quorvane-regd.
//
// RegConnectRegistryA("host" or "host:port", root) checks that the service
// answers (within the connect timeout) and gives a handle to that root;
// every call on it and on keys opened below it goes to that computer. Names
// without a port use remote::kDefaultPort; IPv6 addresses are written
// "[::1]:7787". Each computer has one channel, kept while it works and
// replaced after a failure. Statuses: remote::kErrorServiceBusy (1723) when
// the computer cannot be reached, does not answer in time or has no room
// for the call (try again later), ERROR_BAD_NETPATH for a malformed name,
// ERROR_ACCESS_DENIED when the service refuses the token (or is read-only
// and a write is asked for), ERROR_INVALID_PARAMETER for requests over the
// service's bounds (data over 1 MB, for one).
//
// Opening a key fetches a snapshot of its values and subkeys, and
// enumeration answers from it, so a key costs one request. A handle shows
// its key as it was when opened, or as it is after a write made through
// this object; changes made by others show in keys opened after them. A
// key deleted through this object answers ERROR_KEY_DELETED on every
// handle to it; a handle whose key another program deleted does so once
// its snapshot is fetched again, unless a key of that name was made anew.
// While a handle stays open on a key, opening its subkeys reads the rest of
// that subtree ahead in large replies, so that a depth-first load costs far
// fewer requests than keys.
//
// One object may be used from several threads; one handle by one thread
// at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "model/registry.h"

namespace qv {

struct RemoteOptions {
    // Sent as "authorization: Bearer <token>" when not empty: over TLS, or
    // to a loopback address; never in plain text over the network.
    std::string token;
    // A PEM file of the certificates that may sign the services'
    // certificates. When set, every connection uses TLS.
    std::string caFile;
    // A PEM certificate chain and its private key shown to services that
    // ask for one (quorvane-regd --tls-client-ca). Either makes every
    // connection use TLS; without caFile the system's certificates are
    // trusted.
    std::string certFile, keyFile;
    // How long the check made when connecting may take.
    std::chrono::milliseconds connectTimeout{5000};
    // How long any other call may take.
    std::chrono::milliseconds callTimeout{60000};

    // `settings` with what the environment sets on top:
    // QUORVANE_REGD_TOKEN (the token), QUORVANE_REGD_TOKEN_FILE (a file
    // holding it; trailing blanks and line ends dropped) and
    // QUORVANE_REGD_CA (the PEM file), QUORVANE_REGD_CERT and
    // QUORVANE_REGD_KEY (the client certificate and its key).
    static RemoteOptions FromEnvironment(RemoteOptions settings);
    static RemoteOptions FromEnvironment();
};

// Splits "host", "host:port", "[v6]:port" or a bare IPv6 address into the
// gRPC target "host:port". False for an empty host or a bad port.
bool RemoteTarget(const std::string& computer, std::string& target);

class CRemoteRegistry : public IRegistry {
public:
    explicit CRemoteRegistry(RemoteOptions options = {});
    ~CRemoteRegistry() override;
    CRemoteRegistry(const CRemoteRegistry&) = delete;
    CRemoteRegistry& operator=(const CRemoteRegistry&) = delete;

    LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) override;
    LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                       HKEY* phkResult) override;
    LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, char* lpClass,
                         DWORD dwOptions, REGSAM samDesired,
                         SECURITY_ATTRIBUTES* lpSecurityAttributes, HKEY* phkResult,
                         DWORD* lpdwDisposition) override;
    LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                       DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
    LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                       DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                       FILETIME* lpftLastWriteTime) override;
    LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                        const BYTE* lpData, DWORD cbData) override;
    LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override;
    LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override;
    LONG RegCloseKey(HKEY hKey) override;

    // Asks the computer's service to answer, within the connect timeout.
    LONG Ping(const std::string& computer);

    // Requests sent so far, and handles open now.
    std::uint64_t RequestCount() const;
    std::size_t OpenHandleCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qv
