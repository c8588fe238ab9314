// Feeds arbitrary bytes to the hive back end as a hive file: opening it,
// reading every key and value as a side would, and writing a key and a value
// to it must either work or fail with a status, never crash or hang.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "model/loader.h"
#include "model/open_key.h"
#include "registry/file_registry.h"

namespace {

// Every key below `key`, breadth first, at most `budget` keys in all.
void ReadAll(qv::IRegistry& registry, HKEY key, int& budget) {
    std::vector<std::string> names;
    DWORD index = 0;
    std::string name;
    while (budget > 0 && qv::NextSubkeyName(registry, key, index, name)) names.push_back(name), --budget;
    qv::ReadEachValue(registry, key, [](std::string_view, DWORD, std::string_view) {});
    for (const std::string& child : names) {
        qv::CRegHandle sub(registry);
        if (registry.RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, sub.Receive()) == 0) ReadAll(registry, sub.Get(), budget);
    }
}

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
            int budget = 2000;
            qv::CRegHandle top(registry);
            if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "H", 0, KEY_READ, top.Receive()) == 0)
                ReadAll(registry, top.Get(), budget);
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
