// winreg's calls as C++ functions over a bound DCE/RPC connection: each
// encodes its request in NDR, makes the call and decodes the reply.
//
// Names and string data are UTF-16LE here, without terminators; converting
// them is the caller's. Each call returns the transport's or the fault's
// status (dcerpc.h), kRpcBadStubData for a reply that does not decode,
// ERROR_INVALID_PARAMETER for a name too long for winreg's 16-bit lengths
// (nothing sent), or else winreg's own WERROR, which is a Win32 status.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/rrp/dcerpc.h"
#include "registry/rrp/ndr.h"

namespace qv::rrp {

// The opnums of the calls made here.
enum WinregOpnum : std::uint16_t {
    kOpenHKCR = 0,
    kOpenHKCU = 1,
    kOpenHKLM = 2,
    kOpenHKU = 4,
    kCloseKey = 5,
    kCreateKey = 6,
    kDeleteKey = 7,
    kDeleteValue = 8,
    kEnumKey = 9,
    kEnumValue = 10,
    kOpenKey = 15,
    kQueryInfoKey = 16,
    kQueryValue = 17,
    kSetValue = 22,
    kOpenHKCC = 27,
};

struct KeyInfo {
    std::uint32_t subkeys = 0, maxSubkeyLength = 0, maxClassLength = 0;
    std::uint32_t values = 0, maxValueNameLength = 0, maxValueSize = 0;
    std::uint64_t lastWrite = 0;
    std::string keyClass;
};

class CWinregClient {
public:
    explicit CWinregClient(CRpcConnection& rpc) : m_rpc(rpc) {}

    // A root: `opnum` is one of the OpenHK* calls.
    LONG OpenRoot(WinregOpnum opnum, std::uint32_t access, PolicyHandle& key);
    LONG OpenKey(const PolicyHandle& parent, std::string_view name, std::uint32_t access, PolicyHandle& key);
    // `created` is true when the key was made by this call.
    LONG CreateKey(const PolicyHandle& parent, std::string_view name, std::string_view keyClass, std::uint32_t access,
                   PolicyHandle& key, bool& created);
    LONG CloseKey(PolicyHandle& key);
    // Closed with the next call: nobody waits for the reply.
    void CloseKeyLater(const PolicyHandle& key);
    LONG DeleteKey(const PolicyHandle& parent, std::string_view name);
    LONG DeleteValue(const PolicyHandle& key, std::string_view name);
    // `nameBytes` and `classBytes` are the buffers offered; ERROR_MORE_DATA
    // when the peer finds them too small.
    LONG EnumKey(const PolicyHandle& key, std::uint32_t index, std::uint16_t nameBytes, std::uint16_t classBytes,
                 std::string& name, std::string& keyClass, std::uint64_t& lastWrite);
    // `dataBytes` is the data buffer offered; on ERROR_MORE_DATA `needed` is
    // what the peer says is needed (Samba answers the size offered).
    LONG EnumValue(const PolicyHandle& key, std::uint32_t index, std::uint16_t nameBytes, std::uint32_t dataBytes,
                   std::string& name, std::uint32_t& type, std::string& data, std::uint32_t& needed);
    // Items `first` to `first + count - 1` in one round trip, each with its
    // own status; the result is the connection's.
    struct KeyItem {
        LONG status = 0;
        std::string name, keyClass;
        std::uint64_t lastWrite = 0;
    };
    struct ValueItem {
        LONG status = 0;
        std::string name, data;
        std::uint32_t type = 0, needed = 0;
    };
    LONG EnumKeys(const PolicyHandle& key, std::uint32_t first, std::uint32_t count, std::uint16_t nameBytes,
                  std::uint16_t classBytes, std::vector<KeyItem>& items);
    LONG EnumValues(const PolicyHandle& key, std::uint32_t first, std::uint32_t count, std::uint16_t nameBytes,
                    std::uint32_t dataBytes, std::vector<ValueItem>& items);
    LONG QueryValue(const PolicyHandle& key, std::string_view name, std::uint32_t dataBytes, std::uint32_t& type,
                    std::string& data, std::uint32_t& needed);
    LONG QueryInfoKey(const PolicyHandle& key, KeyInfo& info);
    LONG SetValue(const PolicyHandle& key, std::string_view name, std::uint32_t type, std::string_view data);

    // winreg's largest value: the range its interface declares for data.
    static constexpr std::uint32_t kMaxData = 0x4000000;

private:
    LONG Call(WinregOpnum opnum, const NdrWriter& request, std::string& reply);

    CRpcConnection& m_rpc;
};

}  // namespace qv::rrp
