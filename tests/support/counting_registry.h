// A registry wrapper for tests: passes every call to another registry,
// counts calls and open handles, notices handles closed twice or never
// handed out, and makes chosen calls fail.
#pragma once

#include <array>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "model/registry.h"

namespace qv {

enum class RegCall { Connect, OpenKey, CreateKey, EnumValue, EnumKey, SetValue, DeleteValue, DeleteKey, CloseKey, Any };

class CCountingRegistry : public IRegistry {
public:
    explicit CCountingRegistry(IRegistry& inner) : m_inner(inner) {}

    LONG RegConnectRegistryA(LPCSTR machine, HKEY key, HKEY* result) override {
        return Opening(RegCall::Connect, result, [&] { return m_inner.RegConnectRegistryA(machine, key, result); });
    }
    LONG RegOpenKeyExA(HKEY key, LPCSTR sub, DWORD options, REGSAM sam, HKEY* result) override {
        return Opening(RegCall::OpenKey, result, [&] { return m_inner.RegOpenKeyExA(key, sub, options, sam, result); });
    }
    LONG RegCreateKeyExA(HKEY key, LPCSTR sub, DWORD reserved, char* keyClass, DWORD options, REGSAM sam,
                         SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition) override {
        return Opening(RegCall::CreateKey, result, [&] {
            return m_inner.RegCreateKeyExA(key, sub, reserved, keyClass, options, sam, security, result, disposition);
        });
    }
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, DWORD* type, BYTE* data,
                       DWORD* dataSize) override {
        return Pass(RegCall::EnumValue,
                    [&] { return m_inner.RegEnumValueA(key, index, name, nameSize, reserved, type, data, dataSize); });
    }
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, char* keyClass,
                       DWORD* classSize, FILETIME* lastWrite) override {
        return Pass(RegCall::EnumKey, [&] {
            return m_inner.RegEnumKeyExA(key, index, name, nameSize, reserved, keyClass, classSize, lastWrite);
        });
    }
    LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) override {
        return Pass(RegCall::SetValue, [&] { return m_inner.RegSetValueExA(key, name, reserved, type, data, size); });
    }
    LONG RegDeleteValueA(HKEY key, LPCSTR name) override {
        return Pass(RegCall::DeleteValue, [&] { return m_inner.RegDeleteValueA(key, name); });
    }
    LONG RegDeleteKeyA(HKEY key, LPCSTR sub) override {
        return Pass(RegCall::DeleteKey, [&] { return m_inner.RegDeleteKeyA(key, sub); });
    }
    // A failed close leaves the handle open here as it does there.
    LONG RegCloseKey(HKEY key) override;

    // Handles handed out (predefined ones aside) and not closed yet.
    std::size_t OpenHandles() const { return m_open.size(); }
    // Calls made of one kind (failed and injected ones included); Any: all.
    std::size_t Calls(RegCall kind) const;
    void ResetCounts() { m_calls.fill(0); }
    // Misuse seen: a handle closed twice, closing a handle never handed
    // out, one handle handed out twice. One readable line each.
    const std::vector<std::string>& Errors() const { return m_errors; }

    // Makes the `nth` (1-based) call of `kind` (Any: of every kind) made
    // from now on fail with `status` without reaching the wrapped registry.
    void FailCall(RegCall kind, std::size_t nth, LONG status) { m_faults.push_back({kind, nth, status}); }
    void ClearFaults() { m_faults.clear(); }
    // Calls failed on purpose so far.
    std::size_t InjectedFailures() const { return m_injected; }

private:
    struct Fault {
        RegCall kind;
        std::size_t nth;
        LONG status;
        std::size_t seen = 0;
    };
    // Counts the call; true with `status` set when it is to fail.
    bool Injected(RegCall kind, LONG& status);
    template <typename Call>
    LONG Pass(RegCall kind, Call call) {
        LONG status = 0;
        return Injected(kind, status) ? status : call();
    }
    // Also records the handle a successful call hands out.
    template <typename Call>
    LONG Opening(RegCall kind, HKEY* result, Call call) {
        LONG status = 0;
        if (Injected(kind, status)) return status;
        if ((status = call()) == ERROR_SUCCESS && result != nullptr) Opened(*result);
        return status;
    }
    void Opened(HKEY handle);

    IRegistry& m_inner;
    std::array<std::size_t, static_cast<std::size_t>(RegCall::Any)> m_calls{};
    std::set<HKEY> m_open, m_closed;
    std::vector<std::string> m_errors;
    std::vector<Fault> m_faults;
    std::size_t m_injected = 0;
};

}  // namespace qv
