// Feeds arbitrary bytes to the hive back end as a hive file: opening it,
// reading every key and value as a side would, and writing a key and a value
// to it must either work or fail with a status, never crash or hang.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "model/key_node.h"
#include "model/loader.h"
#include "model/open_key.h"
#include "registry/file_registry.h"

namespace {

// The whole hive is read as a side's Load Subtree reads it, so a list that
// leads back up is met wherever it is; a user's Cancel after this many keys
// keeps a run short (a hive of keys sharing subkeys is listed once per way
// down, as many times as the ways multiply).
class CKeyBudget : public qv::IProgress {
public:
    bool Step(std::size_t keysDone) override { return keysDone < 20000; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char path[] = "/tmp/qv-hive-fuzz-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 0;
    const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (written) {
        qv::CFileRegistry registry;
        std::string error;
        if (registry.MountHive(HKEY_LOCAL_MACHINE, "H", path, true, error)) {
            qv::KeyNode machine("HKEY_LOCAL_MACHINE");
            qv::KeyNode* hive = machine.AppendSubkey(std::make_unique<qv::KeyNode>("H"));
            CKeyBudget budget;
            LONG status = 0;
            qv::ReadSubtreeCopy(hive, registry, std::string(), HKEY_LOCAL_MACHINE, "H", status, &budget);
            // Damage found is told with the file's name.
            if (registry.Damage().find(path) == std::string::npos && !registry.Damage().empty()) __builtin_trap();
            qv::CRegHandle made(registry);
            if (registry.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "H\\Fuzz", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                         made.Receive(), nullptr) == 0) {
                const char text[] = "value";
                registry.RegSetValueExA(made.Get(), "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
            }
        }
    }
    unlink(path);
    std::string sideFiles = std::string(path) + ".quorvane-bak";
    unlink(sideFiles.c_str());
    sideFiles = std::string(path) + ".quorvane-tmp";
    unlink(sideFiles.c_str());
    return 0;
}
