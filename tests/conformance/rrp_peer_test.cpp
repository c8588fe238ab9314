// The MS-RRP back end against the Samba peer, beyond the shared suite:
// logons refused, a computer that is not there, and every value type
// written and read back through a connection of its own, with Cyrillic
// names and data large enough to fragment both ways.
#include <chrono>
#include <random>
#include <vector>

#include "tests/conformance/rrp_backend.h"

namespace qv::conformance {
namespace {

TEST(RrpPeer, LogonsAndComputersThatAreRefused) {
    const std::string computer = PeerComputer();
    const auto connect = [](const RrpOptions& options, const std::string& name, HKEY root = HKEY_LOCAL_MACHINE) {
        CRrpRegistry rrp(options);
        HKEY key = nullptr;
        const LONG status = rrp.RegConnectRegistryA(name.c_str(), root, &key);
        if (status == ERROR_SUCCESS) {
            EXPECT_EQ(rrp.RegCloseKey(key), ERROR_SUCCESS);
        }
        EXPECT_EQ(rrp.OpenHandleCount(), 0u);
        return status;
    };
    RrpOptions wrong = PeerOptions();
    wrong.credentials.password += "x";
    EXPECT_EQ(connect(wrong, computer), ERROR_ACCESS_DENIED);
    EXPECT_EQ(connect(RrpOptions{}, computer), ERROR_ACCESS_DENIED) << "anonymous";
    EXPECT_EQ(connect(PeerOptions(), computer), ERROR_SUCCESS);
    EXPECT_EQ(connect(PeerOptions(), computer, HKEY_CURRENT_CONFIG), ERROR_BAD_NETPATH) << "Samba serves no HKCC";
    EXPECT_EQ(connect(PeerOptions(), computer, HKEY_DYN_DATA), ERROR_INVALID_HANDLE);

    // Asked again after a refusal, until right or given up.
    int asked = 0;
    wrong.askCredentials = [&](const std::string& name, RrpCredentials& credentials) {
        EXPECT_EQ(name, computer);
        if (++asked == 2) credentials = PeerOptions().credentials;
        return asked <= 2;
    };
    EXPECT_EQ(connect(wrong, computer), ERROR_SUCCESS);
    EXPECT_EQ(asked, 2);
    asked = 10;
    EXPECT_EQ(connect(wrong, computer), ERROR_ACCESS_DENIED);
    EXPECT_EQ(asked, 11);

    // Nothing listens there: an answer at once, not after the timeout.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connect(PeerOptions(), "smb://127.0.0.1:9"), ERROR_BAD_NETPATH);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    for (const char* name : {"127.0.0.1", "smb://", "smb://host:0", "smb://host:70000", "smb://a/b", "smb://[::1"})
        EXPECT_EQ(connect(PeerOptions(), name), ERROR_BAD_NETPATH) << name;
    std::string host;
    int port = 0;
    EXPECT_TRUE(RrpComputer("SMB://[::1]:4450", &host, &port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 4450);
    EXPECT_TRUE(RrpComputer("smb://winbox", &host, &port));
    EXPECT_EQ(port, 445);
}

TEST(RrpPeer, EveryValueTypeRoundTripsWithCyrillicNames) {
    std::string big(200 * 1024, '\0');  // far more than one fragment either way
    std::mt19937 random(7);
    for (char& c : big) c = static_cast<char>(random());
    const struct {
        std::string name;
        DWORD type;
        std::string data;
    } values[] = {
        {"Двоичное", REG_BINARY, big},
        {"Пусто", REG_BINARY, ""},
        {"Текст", REG_SZ, std::string("Привет, мир", sizeof "Привет, мир")},
        {"Путь", REG_EXPAND_SZ, std::string("%SystemRoot%\\система\0", 23 + 2)},
        {"Строки", REG_MULTI_SZ, std::string("один\0два\0\0", 18)},
        {"Число", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
        {"Большое", REG_QWORD, std::string("\xef\xcd\xab\x89\x67\x45\x23\x01", 8)},
        {"", REG_SZ, std::string("по умолчанию", sizeof "по умолчанию")},
        {"Ничто", REG_NONE, std::string("\0\xff", 2)},
    };
    const std::string parent = "Software\\QuorvaneConformance\\rrp-" + std::to_string(random());
    const std::string path = parent + "\\Ключ\\Подключ";
    {
        CRrpRegistry writer(PeerOptions());
        HKEY root = nullptr, key = nullptr;
        ASSERT_EQ(writer.RegConnectRegistryA(PeerComputer().c_str(), HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
        ASSERT_EQ(writer.RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        for (const auto& v : values)
            EXPECT_EQ(writer.RegSetValueExA(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                                            static_cast<DWORD>(v.data.size())),
                      ERROR_SUCCESS)
                << v.name;
        writer.RegCloseKey(key);
        writer.RegCloseKey(root);
        EXPECT_EQ(writer.OpenHandleCount(), 0u);
    }
    // Read back by a connection that has seen nothing of it.
    CRrpRegistry reader(PeerOptions());
    HKEY root = nullptr, key = nullptr;
    ASSERT_EQ(reader.RegConnectRegistryA(PeerComputer().c_str(), HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
    ASSERT_EQ(reader.RegOpenKeyExA(root, (parent + "\\ключ").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    char name[600];
    DWORD length = sizeof name;
    EXPECT_EQ(reader.RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, length), "Подключ");
    length = 7;  // "Подключ" is 14 bytes of UTF-8: the buffer counts bytes
    EXPECT_EQ(reader.RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    reader.RegCloseKey(key);
    ASSERT_EQ(reader.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    std::size_t found = 0;
    for (DWORD index = 0;; ++index) {
        std::vector<BYTE> data(300 * 1024);
        DWORD nameLength = sizeof name, size = static_cast<DWORD>(data.size()), type = 0;
        const LONG status = reader.RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data.data(), &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(status, ERROR_SUCCESS) << index;
        const std::string got(name, nameLength);
        for (const auto& v : values) {
            if (v.name != got) continue;
            ++found;
            EXPECT_EQ(type, v.type) << got;
            EXPECT_EQ(size, v.data.size()) << got;
            EXPECT_TRUE(std::string(reinterpret_cast<const char*>(data.data()), size) == v.data) << got;
        }
    }
    EXPECT_EQ(found, std::size(values));
    reader.RegCloseKey(key);

    // What Samba's own tools seeded reads as they wrote it.
    ASSERT_EQ(reader.RegOpenKeyExA(root, "Software\\Quorvane Test", 0, KEY_READ, &key), ERROR_SUCCESS);
    BYTE text[64];
    DWORD nameLength = sizeof name, size = sizeof text, type = 0;
    for (DWORD index = 0; reader.RegEnumValueA(key, index, name, &nameLength, nullptr, &type, text, &size) == 0;
         ++index, nameLength = sizeof name, size = sizeof text) {
        if (std::string(name, nameLength) == "Text") {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(text), size), std::string("Привет, мир", sizeof "Привет, мир"));
        }
    }
    reader.RegCloseKey(key);

    for (const std::string& gone : {path, parent + "\\Ключ", parent})
        EXPECT_EQ(reader.RegDeleteKeyA(root, gone.c_str()), ERROR_SUCCESS) << gone;
    reader.RegCloseKey(root);
    EXPECT_EQ(reader.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace qv::conformance

namespace qv::conformance {
namespace {

// A value that grew (through another connection) past the longest size the
// reader was told: Samba answers the too-small buffer with the size offered,
// not the size needed, so the buffer grows until the data fits.
TEST(RrpPeer, AValueGrownMeanwhileIsReadWhole) {
    const std::string path = "Software\\QuorvaneConformance\\rrp-grown-" + std::to_string(std::random_device()());
    CRrpRegistry reader(PeerOptions()), writer(PeerOptions());
    HKEY readRoot = nullptr, writeRoot = nullptr, readKey = nullptr, writeKey = nullptr;
    ASSERT_EQ(writer.RegConnectRegistryA(PeerComputer().c_str(), HKEY_LOCAL_MACHINE, &writeRoot), ERROR_SUCCESS);
    ASSERT_EQ(reader.RegConnectRegistryA(PeerComputer().c_str(), HKEY_LOCAL_MACHINE, &readRoot), ERROR_SUCCESS);
    ASSERT_EQ(writer.RegCreateKeyExA(writeRoot, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &writeKey,
                                     nullptr),
              ERROR_SUCCESS);
    const auto set = [&](const char* name, const std::string& data) {
        return writer.RegSetValueExA(writeKey, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(data.data()),
                                     static_cast<DWORD>(data.size()));
    };
    // The first value is large enough that the reader fetches one at a time.
    ASSERT_EQ(set("first", std::string(70000, 'f')), ERROR_SUCCESS);
    ASSERT_EQ(set("second", "small"), ERROR_SUCCESS);
    ASSERT_EQ(reader.RegOpenKeyExA(readRoot, path.c_str(), 0, KEY_READ, &readKey), ERROR_SUCCESS);
    std::vector<BYTE> data(400000);
    char name[32];
    DWORD length = sizeof name, size = static_cast<DWORD>(data.size());
    ASSERT_EQ(reader.RegEnumValueA(readKey, 0, name, &length, nullptr, nullptr, data.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 70000u);
    const std::string grown(300000, 'g');
    ASSERT_EQ(set("second", grown), ERROR_SUCCESS);
    length = sizeof name, size = static_cast<DWORD>(data.size());
    ASSERT_EQ(reader.RegEnumValueA(readKey, 1, name, &length, nullptr, nullptr, data.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data()), size), grown);

    reader.RegCloseKey(readKey);
    reader.RegCloseKey(readRoot);
    writer.RegCloseKey(writeKey);
    EXPECT_EQ(writer.RegDeleteKeyA(writeRoot, path.c_str()), ERROR_SUCCESS);
    writer.RegCloseKey(writeRoot);
    EXPECT_EQ(reader.OpenHandleCount() + writer.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace qv::conformance
