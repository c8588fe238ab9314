#include "registry/registry_router.h"

#include <memory>

namespace qv {

CRegistryRouter::CRegistryRouter(IRegistry& local, RemoteOptions options)
    : CMountRouter(local, std::make_unique<CRemoteRegistry>(std::move(options))),
      m_remote(&static_cast<CRemoteRegistry&>(Others())) {}

LONG CRegistryRouter::BeginBatch() {
    auto* batch = dynamic_cast<IRegistryBatch*>(&Local());
    return batch != nullptr ? batch->BeginBatch() : ERROR_SUCCESS;
}

LONG CRegistryRouter::CommitBatch() {
    auto* batch = dynamic_cast<IRegistryBatch*>(&Local());
    return batch != nullptr ? batch->CommitBatch() : ERROR_SUCCESS;
}

void CRegistryRouter::RollbackBatch() {
    if (auto* batch = dynamic_cast<IRegistryBatch*>(&Local())) batch->RollbackBatch();
}

LONG CRegistryRouter::Ping(const std::string& computer) { return m_remote->Ping(computer); }

}  // namespace qv
