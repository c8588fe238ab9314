// Stands in for this computer's registry when its store cannot be opened:
// every call fails, so live sides report "Unable to open Registry." while
// tree files still work.
#pragma once

#include "model/registry.h"

namespace qv {

class CUnavailableRegistry : public IRegistry {
public:
    explicit CUnavailableRegistry(LONG status = ERROR_ACCESS_DENIED) : m_status(status) {}

    LONG RegConnectRegistryA(LPCSTR, HKEY, HKEY*) override { return m_status; }
    LONG RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, HKEY*) override { return m_status; }
    LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, char*, DWORD, REGSAM, SECURITY_ATTRIBUTES*, HKEY*,
                         DWORD*) override {
        return m_status;
    }
    LONG RegEnumValueA(HKEY, DWORD, char*, DWORD*, DWORD*, DWORD*, BYTE*, DWORD*) override { return m_status; }
    LONG RegEnumKeyExA(HKEY, DWORD, char*, DWORD*, DWORD*, char*, DWORD*, FILETIME*) override {
        return m_status;
    }
    LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) override { return m_status; }
    LONG RegDeleteValueA(HKEY, LPCSTR) override { return m_status; }
    LONG RegDeleteKeyA(HKEY, LPCSTR) override { return m_status; }
    LONG RegCloseKey(HKEY) override { return ERROR_SUCCESS; }

private:
    LONG m_status;
};

}  // namespace qv
