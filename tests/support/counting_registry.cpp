#include "tests/support/counting_registry.h"

#include <cstdint>
#include <numeric>

namespace qv {

namespace {

std::string Describe(HKEY handle) { return std::to_string(reinterpret_cast<std::uintptr_t>(handle)); }

}  // namespace

bool CCountingRegistry::Injected(RegCall kind, LONG& status) {
    ++m_calls[static_cast<std::size_t>(kind)];
    bool fail = false;
    for (Fault& fault : m_faults) {
        if ((fault.kind == kind || fault.kind == RegCall::Any) && ++fault.seen == fault.nth) {
            if (!fail) status = fault.status;  // the first matching fault decides the status
            fail = true;
        }
    }
    m_injected += fail ? 1 : 0;
    return fail;
}

void CCountingRegistry::Opened(HKEY handle) {
    if (handle == nullptr || IsPredefinedKey(handle)) return;
    m_closed.erase(handle);  // a back end may hand a closed handle's value out again
    if (!m_open.insert(handle).second) m_errors.push_back("handed out " + Describe(handle) + ", which is already open");
}

std::size_t CCountingRegistry::Calls(RegCall kind) const {
    if (kind != RegCall::Any) return m_calls[static_cast<std::size_t>(kind)];
    return std::accumulate(m_calls.begin(), m_calls.end(), std::size_t{0});
}

LONG CCountingRegistry::RegCloseKey(HKEY key) {
    LONG status = 0;
    if (Injected(RegCall::CloseKey, status)) return status;
    if (!IsPredefinedKey(key)) {
        if (m_open.erase(key) != 0) m_closed.insert(key);
        else m_errors.push_back("RegCloseKey of " + Describe(key) +
                                (m_closed.count(key) != 0 ? ", which is already closed" : ", which was never handed out"));
    }
    return m_inner.RegCloseKey(key);
}

}  // namespace qv
