// The conformance suite against this computer's store: a fresh store file
// in a temporary folder for every test.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "registry/store_registry.h"
#include "tests/conformance/conformance.h"

namespace qv::conformance {

BackendUnderTest MakeBackendUnderTest() {
    BackendUnderTest backend;
    backend.name = "store";
    std::string folder = (std::filesystem::temp_directory_path() / "qv-conformance-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder";
        return backend;
    }
    std::string error;
    backend.registry = CStoreRegistry::Open(folder + "/registry.db", &error);
    EXPECT_TRUE(backend.registry) << error;
    backend.cleanup = [folder] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    };
    return backend;
}

}  // namespace qv::conformance
