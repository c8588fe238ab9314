#include "registry/registry_router.h"

#include <memory>

namespace qv {

CRegistryRouter::CRegistryRouter(IRegistry& local, RemoteOptions options, RrpOptions rrp)
    : CMountRouter(local, std::make_unique<CRemoteRegistry>(std::move(options))),
      m_remote(&static_cast<CRemoteRegistry&>(Others())),
      m_windows(std::move(rrp)) {}

CRegistryRouter::~CRegistryRouter() { CloseAll(); }

LONG CRegistryRouter::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    if (lpMachineName == nullptr || !IsRemoteRegistryName(lpMachineName))
        return CMountRouter::RegConnectRegistryA(lpMachineName, hKey, phkResult);
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    HKEY inner = nullptr;
    const LONG status = m_windows.RegConnectRegistryA(lpMachineName, hKey, &inner);
    if (status == ERROR_SUCCESS) *phkResult = Adopt(m_windows, inner);
    return status;
}

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

LONG CRegistryRouter::Ping(const std::string& computer) {
    if (!IsRemoteRegistryName(computer)) return m_remote->Ping(computer);
    HKEY connected = nullptr;
    const LONG status = m_windows.RegConnectRegistryA(computer.c_str(), HKEY_LOCAL_MACHINE, &connected);
    if (status == ERROR_SUCCESS) m_windows.RegCloseKey(connected);
    return status;
}

}  // namespace qv
