// The conformance suite against a hive file: a fresh empty hive, made from
// scratch, mounted as HKEY_CURRENT_USER for every test.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "registry/file_registry.h"
#include "tests/conformance/conformance.h"
#include "tests/support/empty_hive.h"

namespace qv::conformance {

BackendUnderTest MakeBackendUnderTest() {
    BackendUnderTest backend;
    backend.name = "hive";
    std::string folder = (std::filesystem::temp_directory_path() / "qv-hive-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder";
        return backend;
    }
    const std::string file = folder + "/NTUSER.DAT";
    EXPECT_TRUE(qv::testing::WriteEmptyHive(file));
    auto registry = std::make_unique<CFileRegistry>();
    std::string error;
    EXPECT_TRUE(registry->MountHive(HKEY_CURRENT_USER, "", file, true, error)) << error;
    backend.registry = std::move(registry);
    // A hive has no computer to connect to and only the roots it is mounted at.
    backend.traits.foldsToLowerCase = false;  // sorted as Windows sorts: upper case
    backend.traits.keepsClassNames = false;
    backend.traits.dynDataStatus = ERROR_FILE_NOT_FOUND;
    backend.traits.performanceDataStatus = ERROR_FILE_NOT_FOUND;
    backend.cleanup = [folder] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    };
    return backend;
}

}  // namespace qv::conformance
