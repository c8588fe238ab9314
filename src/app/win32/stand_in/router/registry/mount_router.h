// Stand-in: every call goes to this computer's registry; mounted files are
// kept but not reached.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "model/registry.h"

namespace qv {

class CMountRouter : public IRegistry, public IRegistryMounts {
public:
    explicit CMountRouter(IRegistry& local) : m_local(local) {}

    void Mount(const std::string& name, std::unique_ptr<IRegistry> registry) override { m_mounts[name] = std::move(registry); }
    void Unmount(const std::string& name) override { m_mounts.erase(name); }

    LONG RegConnectRegistryA(LPCSTR machine, HKEY hKey, HKEY* result) override {
        return m_local.RegConnectRegistryA(machine, hKey, result);
    }
    LONG RegOpenKeyExA(HKEY hKey, LPCSTR subKey, DWORD options, REGSAM sam, HKEY* result) override {
        return m_local.RegOpenKeyExA(hKey, subKey, options, sam, result);
    }
    LONG RegCreateKeyExA(HKEY hKey, LPCSTR subKey, DWORD reserved, char* cls, DWORD options, REGSAM sam,
                         SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition) override {
        return m_local.RegCreateKeyExA(hKey, subKey, reserved, cls, options, sam, security, result, disposition);
    }
    LONG RegEnumValueA(HKEY hKey, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type, BYTE* data,
                       DWORD* cbData) override {
        return m_local.RegEnumValueA(hKey, index, name, cchName, reserved, type, data, cbData);
    }
    LONG RegEnumKeyExA(HKEY hKey, DWORD index, char* name, DWORD* cchName, DWORD* reserved, char* cls,
                       DWORD* cchClass, FILETIME* written) override {
        return m_local.RegEnumKeyExA(hKey, index, name, cchName, reserved, cls, cchClass, written);
    }
    LONG RegSetValueExA(HKEY hKey, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData) override {
        return m_local.RegSetValueExA(hKey, name, reserved, type, data, cbData);
    }
    LONG RegDeleteValueA(HKEY hKey, LPCSTR name) override { return m_local.RegDeleteValueA(hKey, name); }
    LONG RegDeleteKeyA(HKEY hKey, LPCSTR subKey) override { return m_local.RegDeleteKeyA(hKey, subKey); }
    LONG RegCloseKey(HKEY hKey) override { return m_local.RegCloseKey(hKey); }

private:
    IRegistry& m_local;
    std::map<std::string, std::unique_ptr<IRegistry>> m_mounts;
};

}  // namespace qv
