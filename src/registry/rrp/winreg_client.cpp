// winreg's requests and replies, laid out as its interface declares them.
#include "registry/rrp/winreg_client.h"

namespace qv::rrp {

namespace {

// The WERROR that ends every reply, once what comes before it was read.
LONG Result(NdrReader& r) {
    std::uint32_t status = 0;
    if (!r.U32(status)) return kRpcBadStubData;
    return static_cast<LONG>(status);
}

// An optional 32-bit out value: a unique pointer and what it points at.
bool OptionalU32(NdrReader& r, std::uint32_t& v) {
    bool present = false;
    if (!r.Pointer(present)) return false;
    return !present || r.U32(v);
}

// A counted string's lengths are 16-bit byte counts, its terminator included.
bool Fits(std::string_view utf16) { return utf16.size() + 2 <= 0xfffe; }

// A FILETIME: two 32-bit halves, low first, aligned as 32-bit numbers.
bool FileTime(NdrReader& r, std::uint64_t& v) {
    std::uint32_t low = 0, high = 0;
    if (!r.U32(low) || !r.U32(high)) return false;
    v = std::uint64_t{high} << 32 | low;
    return true;
}

}  // namespace

LONG CWinregClient::Call(WinregOpnum opnum, const NdrWriter& request, std::string& reply) {
    return m_rpc.Call(opnum, request.Data(), reply);
}

LONG CWinregClient::OpenRoot(WinregOpnum opnum, std::uint32_t access, PolicyHandle& key) {
    NdrWriter w;
    w.Pointer(false);  // no system name
    w.U32(access);
    std::string reply;
    if (const LONG status = Call(opnum, w, reply); status != ERROR_SUCCESS) return status;
    NdrReader r(reply);
    r.Handle(key);
    return Result(r);
}

LONG CWinregClient::OpenKey(const PolicyHandle& parent, std::string_view name, std::uint32_t access,
                            PolicyHandle& key) {
    if (!Fits(name)) return ERROR_INVALID_PARAMETER;
    NdrWriter w;
    w.Handle(parent);
    w.String(name);
    w.U32(0);  // options
    w.U32(access);
    std::string reply;
    if (const LONG status = Call(kOpenKey, w, reply); status != ERROR_SUCCESS) return status;
    NdrReader r(reply);
    r.Handle(key);
    return Result(r);
}

LONG CWinregClient::CreateKey(const PolicyHandle& parent, std::string_view name, std::string_view keyClass,
                              std::uint32_t access, PolicyHandle& key, bool& created) {
    if (!Fits(name) || !Fits(keyClass)) return ERROR_INVALID_PARAMETER;
    NdrWriter w;
    w.Handle(parent);
    w.String(name);
    w.String(keyClass, !keyClass.empty());
    w.U32(0);  // non-volatile
    w.U32(access);
    w.Pointer(false);  // no security descriptor
    w.Pointer(true);   // room for the action taken
    w.U32(0);
    std::string reply;
    if (const LONG status = Call(kCreateKey, w, reply); status != ERROR_SUCCESS) return status;
    NdrReader r(reply);
    std::uint32_t action = 0;
    r.Handle(key);
    OptionalU32(r, action);
    const LONG status = Result(r);
    created = action != 2;  // REG_OPENED_EXISTING_KEY
    return status;
}

LONG CWinregClient::CloseKey(PolicyHandle& key) {
    NdrWriter w;
    w.Handle(key);
    std::string reply;
    if (const LONG status = Call(kCloseKey, w, reply); status != ERROR_SUCCESS) return status;
    NdrReader r(reply);
    r.Handle(key);
    return Result(r);
}

void CWinregClient::CloseKeyLater(const PolicyHandle& key) {
    NdrWriter w;
    w.Handle(key);
    m_rpc.Post(kCloseKey, w.Data(), 24);  // the handle, zeroed, and the status
}

LONG CWinregClient::DeleteKey(const PolicyHandle& parent, std::string_view name) {
    if (!Fits(name)) return ERROR_INVALID_PARAMETER;
    NdrWriter w;
    w.Handle(parent);
    w.String(name);
    std::string reply;
    if (const LONG status = Call(kDeleteKey, w, reply); status != ERROR_SUCCESS) return status;
    NdrReader r(reply);
    return Result(r);
}

LONG CWinregClient::DeleteValue(const PolicyHandle& key, std::string_view name) {
    if (!Fits(name)) return ERROR_INVALID_PARAMETER;
    NdrWriter w;
    w.Handle(key);
    w.String(name);
    std::string reply;
    if (const LONG status = Call(kDeleteValue, w, reply); status != ERROR_SUCCESS) return status;
    NdrReader r(reply);
    return Result(r);
}

namespace {

std::string EnumKeyRequest(const PolicyHandle& key, std::uint32_t index, std::uint16_t nameBytes,
                           std::uint16_t classBytes) {
    NdrWriter w;
    w.Handle(key);
    w.U32(index);
    w.StringBuffer(nameBytes);
    // Samba refuses a call without a class buffer.
    w.Pointer(true);
    w.StringBuffer(classBytes);
    w.Pointer(true);
    w.U32(0);  // a FILETIME: two 32-bit halves, 4-aligned
    w.U32(0);
    return w.Data();
}

LONG EnumKeyReply(const std::string& reply, CWinregClient::KeyItem& item) {
    NdrReader r(reply);
    bool present = false;
    r.String(item.name);
    if (r.Pointer(present) && present) r.String(item.keyClass);
    item.lastWrite = 0;
    if (r.Pointer(present) && present) FileTime(r, item.lastWrite);
    return Result(r);
}

std::string EnumValueRequest(const PolicyHandle& key, std::uint32_t index, std::uint16_t nameBytes,
                             std::uint32_t dataBytes) {
    NdrWriter w;
    w.Handle(key);
    w.U32(index);
    w.StringBuffer(nameBytes);
    w.Pointer(true);
    w.U32(0);
    w.EmptyByteArray(dataBytes);
    w.Pointer(true);
    w.U32(dataBytes);
    w.Pointer(true);
    w.U32(0);
    return w.Data();
}

LONG EnumValueReply(const std::string& reply, CWinregClient::ValueItem& item) {
    NdrReader r(reply);
    bool present = false;
    std::uint32_t length = 0;
    r.String(item.name);
    OptionalU32(r, item.type);
    item.data.clear();
    if (r.Pointer(present) && present) r.ByteArray(item.data, CWinregClient::kMaxData);
    item.needed = 0;
    OptionalU32(r, item.needed);
    OptionalU32(r, length);
    const LONG status = Result(r);
    if (status == ERROR_SUCCESS && length < item.data.size()) item.data.resize(length);
    return status;
}

// Each request of a batch made and each reply decoded by the same pair.
template <class Item, class Make, class Decode>
LONG Batch(CRpcConnection& rpc, WinregOpnum opnum, std::uint32_t first, std::uint32_t count, Make make,
           Decode decode, std::vector<Item>& items) {
    std::vector<CRpcConnection::Request> requests;
    requests.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) requests.push_back({opnum, make(first + i)});
    std::vector<std::string> replies;
    std::vector<LONG> statuses;
    const LONG status = rpc.CallMany(requests, replies, statuses);
    items.assign(count, Item{});
    for (std::uint32_t i = 0; i < count; ++i)
        items[i].status = statuses[i] != ERROR_SUCCESS ? statuses[i] : decode(replies[i], items[i]);
    return status;
}

}  // namespace

LONG CWinregClient::EnumKey(const PolicyHandle& key, std::uint32_t index, std::uint16_t nameBytes,
                            std::uint16_t classBytes, std::string& name, std::string& keyClass,
                            std::uint64_t& lastWrite) {
    std::string reply;
    if (const LONG status = m_rpc.Call(kEnumKey, EnumKeyRequest(key, index, nameBytes, classBytes), reply);
        status != ERROR_SUCCESS)
        return status;
    KeyItem item;
    const LONG status = EnumKeyReply(reply, item);
    name = std::move(item.name);
    keyClass = std::move(item.keyClass);
    lastWrite = item.lastWrite;
    return status;
}

LONG CWinregClient::EnumKeys(const PolicyHandle& key, std::uint32_t first, std::uint32_t count,
                             std::uint16_t nameBytes, std::uint16_t classBytes, std::vector<KeyItem>& items) {
    return Batch(
        m_rpc, kEnumKey, first, count,
        [&](std::uint32_t index) { return EnumKeyRequest(key, index, nameBytes, classBytes); }, EnumKeyReply, items);
}

LONG CWinregClient::EnumValue(const PolicyHandle& key, std::uint32_t index, std::uint16_t nameBytes,
                              std::uint32_t dataBytes, std::string& name, std::uint32_t& type, std::string& data,
                              std::uint32_t& needed) {
    std::string reply;
    if (const LONG status = m_rpc.Call(kEnumValue, EnumValueRequest(key, index, nameBytes, dataBytes), reply);
        status != ERROR_SUCCESS)
        return status;
    ValueItem item;
    const LONG status = EnumValueReply(reply, item);
    name = std::move(item.name);
    type = item.type;
    data = std::move(item.data);
    needed = item.needed;
    return status;
}

LONG CWinregClient::EnumValues(const PolicyHandle& key, std::uint32_t first, std::uint32_t count,
                               std::uint16_t nameBytes, std::uint32_t dataBytes, std::vector<ValueItem>& items) {
    return Batch(
        m_rpc, kEnumValue, first, count,
        [&](std::uint32_t index) { return EnumValueRequest(key, index, nameBytes, dataBytes); }, EnumValueReply,
        items);
}

LONG CWinregClient::QueryValue(const PolicyHandle& key, std::string_view name, std::uint32_t dataBytes,
                               std::uint32_t& type, std::string& data, std::uint32_t& needed) {
    if (!Fits(name)) return ERROR_INVALID_PARAMETER;
    NdrWriter w;
    w.Handle(key);
    w.String(name);
    w.Pointer(true);
    w.U32(0);
    w.EmptyByteArray(dataBytes);
    w.Pointer(true);
    w.U32(dataBytes);
    w.Pointer(true);
    w.U32(0);
    std::string reply;
    if (const LONG status = Call(kQueryValue, w, reply); status != ERROR_SUCCESS) return status;
    NdrReader r(reply);
    bool present = false;
    std::uint32_t length = 0;
    OptionalU32(r, type);
    data.clear();
    if (r.Pointer(present) && present) r.ByteArray(data, kMaxData);
    needed = 0;
    OptionalU32(r, needed);
    OptionalU32(r, length);
    const LONG status = Result(r);
    if (status == ERROR_SUCCESS && length < data.size()) data.resize(length);
    return status;
}

LONG CWinregClient::QueryInfoKey(const PolicyHandle& key, KeyInfo& info) {
    NdrWriter w;
    w.Handle(key);
    w.String({}, false);
    std::string reply;
    if (const LONG status = Call(kQueryInfoKey, w, reply); status != ERROR_SUCCESS) return status;
    NdrReader r(reply);
    std::uint32_t securityBytes = 0;
    r.String(info.keyClass);
    r.U32(info.subkeys);
    r.U32(info.maxSubkeyLength);
    r.U32(info.maxClassLength);
    r.U32(info.values);
    r.U32(info.maxValueNameLength);
    r.U32(info.maxValueSize);
    r.U32(securityBytes);
    FileTime(r, info.lastWrite);
    return Result(r);
}

LONG CWinregClient::SetValue(const PolicyHandle& key, std::string_view name, std::uint32_t type,
                             std::string_view data) {
    if (!Fits(name)) return ERROR_INVALID_PARAMETER;
    NdrWriter w;
    w.Handle(key);
    w.String(name);
    w.U32(type);
    w.U32(static_cast<std::uint32_t>(data.size()));  // the data's conformance: a top-level ref pointer has no id
    w.Raw(data);
    w.U32(static_cast<std::uint32_t>(data.size()));
    std::string reply;
    if (const LONG status = Call(kSetValue, w, reply); status != ERROR_SUCCESS) return status;
    NdrReader r(reply);
    return Result(r);
}

}  // namespace qv::rrp
