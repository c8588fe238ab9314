// The program's registry on Linux: the mount router (registries kept in
// files mounted under their path and reached as a computer of that name,
// this computer's back end for every call that names no other computer),
// with the network back end for the keys of other computers: there
// RegConnectRegistryA with a computer name gives a handle that belongs to
// that computer, and every handle opened below it does too. Batches
// (IRegistryBatch) are this computer's back end's, when it has them: writes
// to other computers are never held back or rolled back.
#pragma once

#include <string>

#include "registry/mount_router.h"
#include "registry/registry_batch.h"
#include "registry/remote/remote_registry.h"

namespace qv {

class CRegistryRouter : public CMountRouter, public IRegistryBatch {
public:
    // `local` must outlive the router.
    explicit CRegistryRouter(IRegistry& local, RemoteOptions options = RemoteOptions::FromEnvironment());

    LONG BeginBatch() override;
    LONG CommitBatch() override;
    void RollbackBatch() override;

    // Whether `computer`'s service answers: 0, or why not (53 unreachable,
    // 5 token refused, ...). Takes at most the connect timeout.
    LONG Ping(const std::string& computer);

    CRemoteRegistry& Remote() const { return *m_remote; }

private:
    CRemoteRegistry* m_remote;  // owned by the mount router, as its other computers
};

}  // namespace qv
