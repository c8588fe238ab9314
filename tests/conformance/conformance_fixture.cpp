// The fixture of the conformance suite: a scratch key per test, removed
// afterwards, and helpers that enumerate through the registry calls.
#include "tests/conformance/conformance.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

namespace qv::conformance {

namespace {

// Unique per run, so that runs against one real registry never collide.
std::string UniqueScratchName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::random_device device;
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%08x%08x", static_cast<unsigned>(device()),
                  static_cast<unsigned>(ticks));
    return std::string(info != nullptr ? info->name() : "test") + "-" + suffix;
}

}  // namespace

void RegistryConformance::SetUp() {
    m_backend = MakeBackendUnderTest();
    ASSERT_NE(m_backend.registry, nullptr) << "back end " << m_backend.name << " did not start";
    m_scratchPath = m_backend.scratchParent + "\\" + UniqueScratchName();
    DWORD disposition = 0;
    ASSERT_EQ(Reg().RegCreateKeyExA(m_backend.scratchRoot, m_scratchPath.c_str(), 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &m_scratch,
                                    &disposition),
              ERROR_SUCCESS);
    ASSERT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
}

void RegistryConformance::TearDown() {
    if (m_backend.registry) {
        for (HKEY key : m_tracked) Reg().RegCloseKey(key);
        m_tracked.clear();
        if (m_scratch != nullptr) {
            Reg().RegCloseKey(m_scratch);
            EXPECT_EQ(DeleteTree(m_backend.scratchRoot, m_scratchPath), ERROR_SUCCESS);
            // Fails while other runs still have scratch keys there: fine.
            Reg().RegDeleteKeyA(m_backend.scratchRoot, m_backend.scratchParent.c_str());
        }
        m_backend.registry.reset();
    }
    if (m_backend.cleanup) m_backend.cleanup();
}

HKEY RegistryConformance::Create(HKEY parent, const std::string& path, REGSAM access,
                                 DWORD* disposition) {
    HKEY key = nullptr;
    const LONG status = Reg().RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              access, nullptr, &key, disposition);
    EXPECT_EQ(status, ERROR_SUCCESS) << "creating " << path;
    if (status == ERROR_SUCCESS) m_tracked.push_back(key);
    return key;
}

LONG RegistryConformance::Open(HKEY parent, const char* path, REGSAM access, HKEY* key) {
    const LONG status = Reg().RegOpenKeyExA(parent, path, 0, access, key);
    if (status == ERROR_SUCCESS) m_tracked.push_back(*key);
    return status;
}

LONG RegistryConformance::CreateStatus(HKEY parent, const std::string& path) {
    HKEY key = nullptr;
    const LONG status =
        Reg().RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) m_tracked.push_back(key);
    return status;
}

LONG RegistryConformance::EnumKey(HKEY key, DWORD index, DWORD size, std::string* name) {
    std::vector<char> buffer(size + 1);
    DWORD length = size;
    const LONG status = Reg().RegEnumKeyExA(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS && name != nullptr) name->assign(buffer.data(), length);
    return status;
}

LONG RegistryConformance::EnumValue(HKEY key, DWORD index, DWORD size, std::string* name) {
    std::vector<char> buffer(size + 1);
    DWORD length = size;
    const LONG status = Reg().RegEnumValueA(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS && name != nullptr) name->assign(buffer.data(), length);
    return status;
}

LONG RegistryConformance::Close(HKEY key) {
    m_tracked.erase(std::remove(m_tracked.begin(), m_tracked.end(), key), m_tracked.end());
    return Reg().RegCloseKey(key);
}

bool RegistryConformance::Exists(HKEY parent, const std::string& path) {
    HKEY key = nullptr;
    if (Reg().RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    Reg().RegCloseKey(key);
    return true;
}

LONG RegistryConformance::SetValue(HKEY key, const char* name, DWORD type, const std::string& data) {
    return Reg().RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size()));
}

std::vector<std::string> RegistryConformance::Subkeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        std::string name;
        const LONG status = EnumKey(key, index, 1024, &name);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS) << "at subkey " << index;
            return names;
        }
        names.push_back(name);
    }
}

ValueRead RegistryConformance::ValueAt(HKEY key, DWORD index) {
    ValueRead read;
    std::vector<char> name(32768);
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD size = 0;
    read.status = Reg().RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &read.type, nullptr,
                                      &size);
    if (read.status != ERROR_SUCCESS) return read;
    read.name.assign(name.data(), nameLength);
    std::vector<BYTE> data(size + 1);
    nameLength = static_cast<DWORD>(name.size());
    read.status = Reg().RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &read.type,
                                      data.data(), &size);
    read.data.assign(reinterpret_cast<const char*>(data.data()), size);
    return read;
}

std::vector<std::string> RegistryConformance::Values(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        const ValueRead read = ValueAt(key, index);
        if (read.status != ERROR_SUCCESS) {
            EXPECT_EQ(read.status, ERROR_NO_MORE_ITEMS) << "at value " << index;
            return names;
        }
        names.push_back(read.name);
    }
}

ValueRead RegistryConformance::FindValue(HKEY key, const std::string& name) {
    for (DWORD index = 0;; ++index) {
        ValueRead read = ValueAt(key, index);
        if (read.status != ERROR_SUCCESS || read.name == name) return read;
    }
}

LONG RegistryConformance::DeleteTree(HKEY parent, const std::string& path) {
    HKEY key = nullptr;
    LONG status = Reg().RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return status;
    // Always index 0: each pass deletes the child just found.
    for (int guard = 0; guard < 100000; ++guard) {
        char name[300];  // longer than any key name; small, as this recurses
        DWORD length = sizeof name;
        status = Reg().RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        status = DeleteTree(key, name);
        if (status != ERROR_SUCCESS) break;
    }
    Reg().RegCloseKey(key);
    if (status != ERROR_NO_MORE_ITEMS) return status;
    return Reg().RegDeleteKeyA(parent, path.c_str());
}

}  // namespace qv::conformance
