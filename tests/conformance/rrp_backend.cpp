// The conformance suite against the MS-RRP back end: Samba's smbd on
// loopback (scripts/smb-peer.sh, started by CTest before these tests)
// serving winreg from its own registry, reached as smb://127.0.0.1:PORT.
// Every test ends with no handle left open.
#include "tests/conformance/rrp_backend.h"

#include <cstdlib>

#include "tests/conformance/computer_roots.h"

// libsmbclient keeps process-wide state in talloc memory that it never
// frees; under LeakSanitizer that is not ours to answer for.
extern "C" const char* __lsan_default_suppressions() { return "leak:libtalloc.so\n"; }

namespace qv::conformance {

RrpOptions PeerOptions() {
    RrpOptions options;
    const char* user = std::getenv("QV_RRP_USER");
    const char* password = std::getenv("QV_RRP_PASSWORD");
    options.credentials.user = user != nullptr ? user : "qv-rrp";
    options.credentials.password = password != nullptr ? password : "Qv-Rrp-Test-2026";
    options.callTimeout = std::chrono::milliseconds(20000);
    return options;
}

std::string PeerComputer() {
    const char* port = std::getenv("QV_RRP_PORT");
    return std::string("smb://127.0.0.1:") + (port != nullptr ? port : "4450");
}

namespace {

// The peer's roots, for the suite's predefined handles.
class CRrpRoots : public CComputerRoots {
public:
    CRrpRoots() : CComputerRoots(m_rrp), m_rrp(PeerOptions()) {}
    ~CRrpRoots() override {
        CloseRoots();
        EXPECT_EQ(m_rrp.OpenHandleCount(), 0u) << "handles left open";
    }

private:
    std::string Computer() const override { return PeerComputer(); }

    CRrpRegistry m_rrp;
};

}  // namespace

BackendUnderTest MakeBackendUnderTest() {
    BackendUnderTest backend;
    backend.name = "rrp";
    backend.scratchRoot = HKEY_LOCAL_MACHINE;
    backend.traits.keepsClassNames = false;
    backend.traits.sortsSubkeys = false;
    backend.traits.rewriteKeepsValueName = false;
    // Samba cuts longer value names short; the back end finds out and refuses them.
    backend.traits.maxValueNameLength = 255;
    backend.registry = std::make_unique<CRrpRoots>();
    return backend;
}

}  // namespace qv::conformance
