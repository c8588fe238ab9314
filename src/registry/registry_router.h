// The program's registry on Linux: the mount router (registries kept in
// files mounted under their path and reached as a computer of that name,
// this computer's back end for every call that names no other computer),
// with the network back ends for the keys of other computers: Windows'
// Remote Registry for "smb://" names, quorvane-regd for every other name.
// There RegConnectRegistryA with a computer name gives a handle that belongs
// to that computer, and every handle opened below it does too. Batches
// (IRegistryBatch) are this computer's back end's, when it has them: writes
// to other computers are never held back or rolled back.
#pragma once

#include <string>

#include "registry/mount_router.h"
#include "registry/registry_batch.h"
#include "registry/remote/remote_registry.h"
#include "registry/rrp/rrp_registry.h"

namespace qv {

class CRegistryRouter : public CMountRouter, public IRegistryBatch {
public:
    // `local` must outlive the router.
    explicit CRegistryRouter(IRegistry& local, RemoteOptions options = RemoteOptions::FromEnvironment(),
                             RrpOptions rrp = RrpOptions::FromEnvironment());
    ~CRegistryRouter() override;

    LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) override;

    LONG BeginBatch() override;
    LONG CommitBatch() override;
    void RollbackBatch() override;

    // Whether `computer`'s service answers: 0, or why not (53 unreachable,
    // 5 token or logon refused, ...). Takes at most the connect timeout.
    LONG Ping(const std::string& computer);

    CRemoteRegistry& Remote() const { return *m_remote; }
    CRrpRegistry& Windows() { return m_windows; }

private:
    CRemoteRegistry* m_remote;  // owned by the mount router, as its other computers
    CRrpRegistry m_windows;
};

}  // namespace qv
