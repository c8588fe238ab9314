// The conformance suite against the network back end: a quorvane-regd of
// its own on 127.0.0.1 with a fresh store for every test, reached through
// the program's router.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "registry/registry_router.h"
#include "registry/remote/remote_common.h"
#include "tests/conformance/computer_roots.h"
#include "registry/unavailable_registry.h"
#include "tests/conformance/conformance.h"
#include "tests/support/regd_child.h"

namespace qv::conformance {

namespace {

// The service's roots, for the suite's predefined handles.
class CRemoteRoots : public CComputerRoots {
public:
    CRemoteRoots() : CComputerRoots(m_router) {}
    ~CRemoteRoots() override { CloseRoots(); }

    bool Start(const test::RegdOptions& options, std::string* error) { return m_child.Start(options, error); }

private:
    std::string Computer() const override { return m_child.Computer(); }

    test::CRegdChild m_child;  // stopped last
    CUnavailableRegistry m_local;
    CRegistryRouter m_router{m_local, RemoteOptions{}};
};

}  // namespace

BackendUnderTest MakeBackendUnderTest() {
    BackendUnderTest backend;
    backend.name = "remote";
    // A name that does not resolve is one more computer that cannot be
    // reached: the client says so and suggests trying again.
    backend.traits.unknownComputerStatus = remote::kErrorServiceBusy;
    std::string folder = (std::filesystem::temp_directory_path() / "qv-conformance-remote-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder";
        return backend;
    }
    backend.cleanup = [folder] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    };
    test::RegdOptions options;
    options.store = folder + "/registry.db";
    options.exitAfter = 120;
    auto registry = std::make_unique<CRemoteRoots>();
    std::string error;
    if (!registry->Start(options, &error)) {
        ADD_FAILURE() << error;
        return backend;
    }
    backend.registry = std::move(registry);
    return backend;
}

}  // namespace qv::conformance
