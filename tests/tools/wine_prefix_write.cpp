// Writes a key into a Wine prefix through the program's own Wine back end,
// for CI's Windows stage to read back with Wine's reg.exe (quorvane-reg
// changes no file side). Exits 0 when every write reached the files.
//   qv-wine-prefix-write PREFIX
#include <cstdio>
#include <string>

#include "model/registry.h"
#include "sources/registry_source.h"

int main(int argc, char** argv) {
    using namespace qv;
    if (argc != 2) {
        std::fprintf(stderr, "usage: qv-wine-prefix-write PREFIX\n");
        return 2;
    }
    std::string error, failed;
    auto wine = OpenRegistrySource(argv[1], true, error);
    if (!wine) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (!wine->ReadOnlyReason().empty()) {
        std::fprintf(stderr, "read-only: %s\n", wine->ReadOnlyReason().c_str());
        return 1;
    }
    wine->OnWriteFailure([&failed](const std::string& message) { failed = message; });
    HKEY key = nullptr;
    LONG status = wine->RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Quorvane Wine \xD0\xA2\xD0\xB5\xD1\x81\xD1\x82", 0,
                                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        const std::string text = "\xD0\x97\xD0\xBD\xD0\xB0\xD1\x87\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5";  // Значение
        const std::string bytes("\x01\x02\xff", 3);
        const std::string multi("one\0\xD0\xB4\xD0\xB2\xD0\xB0\0\0", 12);  // one, два
        const struct {
            const char* name;
            DWORD type;
            std::string data;
        } values[] = {{"\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87", REG_SZ, text + '\0'}, {"Bytes", REG_BINARY, bytes},
                      {"Multi", REG_MULTI_SZ, multi}};
        for (const auto& v : values)
            if (status == ERROR_SUCCESS)
                status = wine->RegSetValueExA(key, v.name, 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                                              static_cast<DWORD>(v.data.size()));
        if (const LONG closed = wine->RegCloseKey(key); status == ERROR_SUCCESS) status = closed;
    }
    if (status != ERROR_SUCCESS || !failed.empty()) {
        std::fprintf(stderr, "writing failed (%ld): %s\n", static_cast<long>(status), failed.c_str());
        return 1;
    }
    return 0;
}
