// The registry calls on a Windows computer: handles, paths, text and the
// 8-bit buffer rules here; winreg_client.h does the wire.
#include "registry/rrp/rrp_registry.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "model/text_encoding.h"
#include "registry/rrp/dcerpc.h"
#include "registry/rrp/smb_pipe.h"
#include "registry/rrp/winreg_client.h"

namespace qv {

using rrp::PolicyHandle;

namespace {

constexpr LONG kErrorBadPathname = 161;
constexpr LONG kErrorNoAccess = 998;
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr std::size_t kMaxKeyNameUnits = 255;
constexpr std::size_t kMaxValueNameUnits = 16383;
constexpr std::size_t kMaxDepth = 512;
// Longest value name (in bytes of UTF-8) every computer keeps whole.
constexpr std::size_t kLongestShortName = 255;
// Enough for any key name or class in one go; value names may need more.
constexpr std::uint16_t kKeyNameBytes = 1024;
constexpr std::uint16_t kLargestNameBuffer = 65534;
constexpr std::uint32_t kFirstDataBuffer = 64 * 1024;
// Most items fetched in one round trip, and most reply bytes for values.
constexpr std::uint32_t kItemsAhead = 64;
constexpr std::uint32_t kBytesAhead = 64 * 1024;
// Tries at one logon, so that a caller that keeps answering cannot loop forever.
constexpr int kMaxLogonTries = 20;

std::string Utf16(std::string_view utf8) {
    std::string out;
    Utf8ToUtf16le(utf8, out, nullptr, Conversion::kLenient);
    return out;
}

std::string Utf8(std::string_view utf16) {
    std::string out;
    Utf16leToUtf8(utf16, out, nullptr, Conversion::kLenient);
    return out;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A path below a key as the calls take it: no leading backslash (161),
// empty components dropped, each at most 255 UTF-16 units (87).
LONG NormalPath(LPCSTR path, std::string& out, std::size_t& components) {
    out.clear();
    components = 0;
    if (path == nullptr) return ERROR_SUCCESS;
    if (*path == '\\') return kErrorBadPathname;
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\\');
        const std::string_view part = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (part.empty()) continue;
        if (Utf16(part).size() / 2 > kMaxKeyNameUnits) return ERROR_INVALID_PARAMETER;
        if (!out.empty()) out += '\\';
        out += part;
        ++components;
    }
    return ERROR_SUCCESS;
}

std::string Join(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + "\\" + b;
}

// The name or data into a caller's buffer of `*size` (characters with the
// terminator, or bytes); ERROR_MORE_DATA when it does not fit.
LONG CopyName(const std::string& name, char* out, DWORD* size) {
    if (name.size() + 1 > *size) return ERROR_MORE_DATA;
    std::memcpy(out, name.data(), name.size());
    out[name.size()] = '\0';
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

struct Connection {
    std::mutex mutex;  // one call at a time on the pipe
    std::string computer;
    rrp::CSmbPipe pipe;
    std::unique_ptr<rrp::CRpcConnection> rpc;
    std::unique_ptr<rrp::CWinregClient> winreg;
    // Whether the computer keeps value names longer than 255 bytes: Samba
    // cuts them short silently. Unknown (0) until such a name is written.
    int longValueNames = 0;

    bool Lost() const { return rpc->Broken(); }
};

// A subkey (name, class, last write) or a value (name, type, data), UTF-8.
struct Entry {
    LONG status = 0;
    std::string name, text;
    DWORD type = 0;
    std::uint64_t written = 0;
    std::uint32_t needed = 0;  // a value's size as the peer gave it with ERROR_MORE_DATA
};

struct Key {
    std::shared_ptr<Connection> connection;
    PolicyHandle handle;
    rrp::WinregOpnum root = rrp::kOpenHKLM;
    bool isRoot = false;
    std::string path;  // below the root, UTF-8
    std::size_t depth = 0;
    std::atomic<bool> deleted{false};

    // The key's counts and longest lengths, while `infoGeneration` holds;
    // index 0 of a kind fetches them anew unless fetched for it already.
    bool haveInfo = false, freshForKeys = false, freshForValues = false;
    std::uint64_t infoGeneration = 0;
    rrp::KeyInfo info;
    std::uint64_t infoSerial = 0;  // moves on with every fetch of the counts
    // Items fetched ahead in one round trip, while the counts they were
    // fetched under hold.
    struct Items {
        std::uint32_t first = 0;
        std::uint64_t generation = 0, serial = 0;
        std::vector<Entry> entries;
    } keyItems, valueItems;
};

}  // namespace

struct CRrpRegistry::Impl {
    explicit Impl(RrpOptions o) : options(std::move(o)) {}

    RrpOptions options;
    mutable std::mutex mutex;  // the tables below
    std::map<std::string, std::shared_ptr<Connection>> connections;
    std::map<std::string, RrpCredentials> logons;  // what worked, per computer
    std::map<std::uintptr_t, std::unique_ptr<Key>> keys;
    std::uintptr_t nextKey = 0x10000;
    // Moves on with every write made through this object: counts and items
    // remembered before it are not used after it.
    std::atomic<std::uint64_t> generation{1};
    std::atomic<std::size_t> calls{0};

    Key* Find(HKEY hKey) {
        std::lock_guard lock(mutex);
        const auto found = keys.find(reinterpret_cast<std::uintptr_t>(hKey));
        return found == keys.end() ? nullptr : found->second.get();
    }

    HKEY Add(std::unique_ptr<Key> key) {
        std::lock_guard lock(mutex);
        const std::uintptr_t value = nextKey;
        nextKey += 16;
        keys.emplace(value, std::move(key));
        return reinterpret_cast<HKEY>(value);
    }

    // The key a call works on: ERROR_INVALID_HANDLE, ERROR_KEY_DELETED or
    // ERROR_BAD_NETPATH for one that cannot be used; else 0 with the
    // connection locked in `lock`.
    LONG Use(HKEY hKey, Key*& key, std::unique_lock<std::mutex>& lock) {
        if (hKey == nullptr || IsPredefinedKey(hKey)) return ERROR_INVALID_HANDLE;
        key = Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (key->deleted) return ERROR_KEY_DELETED;
        lock = std::unique_lock(key->connection->mutex);
        if (key->connection->Lost()) return ERROR_BAD_NETPATH;
        return ERROR_SUCCESS;
    }

    rrp::CWinregClient& Winreg(Key& key) {
        ++calls;
        return *key.connection->winreg;
    }

    // A status from the wire as the registry calls give it: a lost
    // connection is a computer that cannot be reached.
    static LONG Mapped(const Connection& connection, LONG status) {
        if (connection.Lost() && status != ERROR_ACCESS_DENIED) return ERROR_BAD_NETPATH;
        return status;
    }

    void Wrote() { ++generation; }

    LONG Connect(const std::string& host, int port, std::shared_ptr<Connection>& out);
    LONG Counts(Key& key, bool forKeys, DWORD index, const rrp::KeyInfo*& info);
    // The item at `index`, fetched ahead or now.
    LONG FetchKey(Key& key, DWORD index, const Entry*& entry);
    LONG FetchValue(Key& key, DWORD index, const Entry*& entry);
    void MarkDeleted(const Key& parent, const std::string& path);
};

LONG CRrpRegistry::Impl::Connect(const std::string& host, int port, std::shared_ptr<Connection>& out) {
    const std::string computer = Lower(host) + ":" + std::to_string(port);
    RrpCredentials credentials;
    {
        std::lock_guard lock(mutex);
        const auto found = connections.find(computer);
        if (found != connections.end()) {
            if (!found->second->Lost()) {
                out = found->second;
                return ERROR_SUCCESS;
            }
            connections.erase(found);
        }
        const auto known = logons.find(computer);
        credentials = known != logons.end() ? known->second : options.credentials;
    }
    const std::string shown = "smb://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                              (port != 445 ? ":" + std::to_string(port) : std::string());
    // Asked before the first try only when there is nothing to try with.
    if (credentials.user.empty() && options.askCredentials && !options.askCredentials(shown, credentials))
        return ERROR_ACCESS_DENIED;
    for (int tries = 0;; ++tries) {
        auto connection = std::make_shared<Connection>();
        connection->computer = computer;
        LONG status = connection->pipe.Open(host, port, {credentials.user, credentials.domain, credentials.password},
                                            options.callTimeout);
        if (status == ERROR_SUCCESS) {
            connection->rpc = std::make_unique<rrp::CRpcConnection>(connection->pipe);
            status = connection->rpc->Bind(rrp::WinregSyntax());
            // A pipe that will not take winreg is no registry to reach.
            if (status != ERROR_SUCCESS && status != ERROR_ACCESS_DENIED) status = ERROR_BAD_NETPATH;
        }
        if (status == ERROR_SUCCESS) {
            connection->winreg = std::make_unique<rrp::CWinregClient>(*connection->rpc);
            std::lock_guard lock(mutex);
            logons[computer] = credentials;
            auto& slot = connections[computer];
            // Another thread may have connected meanwhile; either will do.
            if (slot == nullptr || slot->Lost()) slot = connection;
            out = slot;
            return ERROR_SUCCESS;
        }
        if (status != ERROR_ACCESS_DENIED || !options.askCredentials || tries + 1 >= kMaxLogonTries) return status;
        if (!options.askCredentials(shown, credentials)) return ERROR_ACCESS_DENIED;
    }
}

LONG CRrpRegistry::Impl::Counts(Key& key, bool forKeys, DWORD index, const rrp::KeyInfo*& info) {
    info = nullptr;
    const bool current = key.haveInfo && key.infoGeneration == generation;
    bool& fresh = forKeys ? key.freshForKeys : key.freshForValues;
    if (current && (index != 0 || fresh)) {
        if (index == 0) fresh = false;
        info = &key.info;
        return ERROR_SUCCESS;
    }
    key.haveInfo = false;
    const LONG status = Winreg(key).QueryInfoKey(key.handle, key.info);
    if (status != ERROR_SUCCESS) {
        // A handle may enumerate without the right to query the key: it
        // then goes without the counts.
        return key.connection->Lost() || status == ERROR_INVALID_HANDLE || status == ERROR_KEY_DELETED
                   ? Mapped(*key.connection, status)
                   : ERROR_SUCCESS;
    }
    key.haveInfo = true;
    key.infoGeneration = generation;
    ++key.infoSerial;
    key.freshForKeys = !forKeys;
    key.freshForValues = forKeys;
    info = &key.info;
    return ERROR_SUCCESS;
}

// Ahead of the loader's pattern (index 0, 1, ... up to the count), the
// rest of the list comes in one round trip; a count unknown fetches one.
template <class Items>
const Entry* Ahead(const Items& items, DWORD index, std::uint64_t generation, std::uint64_t serial) {
    if (items.generation != generation || items.serial != serial || index < items.first ||
        index - items.first >= items.entries.size())
        return nullptr;
    return &items.entries[index - items.first];
}

LONG CRrpRegistry::Impl::FetchKey(Key& key, DWORD index, const Entry*& entry) {
    entry = Ahead(key.keyItems, index, generation, key.infoSerial);
    if (entry == nullptr) {
        std::uint32_t count = 1;
        if (key.haveInfo && key.infoGeneration == generation && index < key.info.subkeys)
            count = std::min<std::uint32_t>(key.info.subkeys - index, kItemsAhead);
        std::vector<rrp::CWinregClient::KeyItem> items;
        ++calls;
        const LONG status = key.connection->winreg->EnumKeys(key.handle, index, count, kKeyNameBytes, kKeyNameBytes, items);
        calls += count - 1;
        if (status != ERROR_SUCCESS) return Mapped(*key.connection, status);
        key.keyItems = {index, generation, key.infoSerial, {}};
        for (auto& item : items)
            key.keyItems.entries.push_back({item.status, Utf8(item.name), Utf8(item.keyClass), 0, item.lastWrite});
        entry = &key.keyItems.entries.front();
    }
    if (entry->status != ERROR_MORE_DATA) return Mapped(*key.connection, entry->status);
    // A name or class longer than the first buffers: asked again with the largest.
    std::string name, keyClass;
    std::uint64_t written = 0;
    const LONG status =
        Winreg(key).EnumKey(key.handle, index, kLargestNameBuffer, kLargestNameBuffer, name, keyClass, written);
    if (status != ERROR_SUCCESS) return Mapped(*key.connection, status);
    key.keyItems = {index, generation, key.infoSerial, {{0, Utf8(name), Utf8(keyClass), 0, written}}};
    entry = &key.keyItems.entries.front();
    return ERROR_SUCCESS;
}

LONG CRrpRegistry::Impl::FetchValue(Key& key, DWORD index, const Entry*& entry) {
    entry = Ahead(key.valueItems, index, generation, key.infoSerial);
    if (entry != nullptr && entry->status != ERROR_MORE_DATA) return Mapped(*key.connection, entry->status);
    // Sized from the key's longest lengths when known: Windows gives the
    // name's in characters, Samba in bytes; twice either is room for both.
    std::uint32_t nameBytes = 512, dataBytes = kFirstDataBuffer, count = 1;
    const bool known = key.haveInfo && key.infoGeneration == generation;
    if (known) {
        nameBytes = std::max<std::uint32_t>(nameBytes, std::min<std::uint32_t>(key.info.maxValueNameLength, 32768) * 2 + 2);
        dataBytes = std::max<std::uint32_t>(
            std::min<std::uint32_t>(key.info.maxValueSize, rrp::CWinregClient::kMaxData), 256);
        // As many as fit a modest read ahead: the peer may not hold back
        // replies without end while the requests are still being written.
        if (entry == nullptr && index < key.info.values)
            count = std::clamp<std::uint32_t>(kBytesAhead / (dataBytes + nameBytes + 64), 1,
                                              std::min<std::uint32_t>(key.info.values - index, kItemsAhead));
    }
    if (entry == nullptr) {
        std::vector<rrp::CWinregClient::ValueItem> items;
        ++calls;
        const LONG status = key.connection->winreg->EnumValues(
            key.handle, index, count, static_cast<std::uint16_t>(std::min<std::uint32_t>(nameBytes, kLargestNameBuffer)),
            dataBytes, items);
        calls += count - 1;
        if (status != ERROR_SUCCESS) return Mapped(*key.connection, status);
        key.valueItems = {index, generation, key.infoSerial, {}};
        for (auto& item : items)
            key.valueItems.entries.push_back({item.status, Utf8(item.name),
                                              IsTextType(item.type) ? Utf8(item.data) : std::move(item.data),
                                              item.type, 0, item.needed});
        entry = &key.valueItems.entries.front();
        if (entry->status != ERROR_MORE_DATA) return Mapped(*key.connection, entry->status);
    }
    for (std::uint32_t needed = entry->needed;;) {
        // Windows says what is needed, Samba repeats what was offered: grow
        // both (which one was short is not said), within bounds.
        if (nameBytes >= kLargestNameBuffer && dataBytes >= rrp::CWinregClient::kMaxData) return ERROR_MORE_DATA;
        nameBytes = std::min<std::uint32_t>(nameBytes * 4, kLargestNameBuffer);
        const std::uint64_t grown = std::max<std::uint64_t>(std::uint64_t{dataBytes} * 4, needed);
        dataBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(grown, rrp::CWinregClient::kMaxData));
        std::string name, data;
        std::uint32_t type = 0;
        const LONG status = Winreg(key).EnumValue(key.handle, index, static_cast<std::uint16_t>(nameBytes), dataBytes,
                                                  name, type, data, needed);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return Mapped(*key.connection, status);
        key.valueItems = {index, generation, key.infoSerial,
                          {{0, Utf8(name), IsTextType(type) ? Utf8(data) : std::move(data), type, 0}}};
        entry = &key.valueItems.entries.front();
        return ERROR_SUCCESS;
    }
}

void CRrpRegistry::Impl::MarkDeleted(const Key& parent, const std::string& path) {
    const std::string gone = FoldNameAnyScript(Join(parent.path, path));
    std::lock_guard lock(mutex);
    for (auto& [value, key] : keys) {
        if (key->connection != parent.connection || key->root != parent.root || key->isRoot) continue;
        const std::string folded = FoldNameAnyScript(key->path);
        if (folded == gone || (folded.size() > gone.size() && folded.compare(0, gone.size(), gone) == 0 &&
                               folded[gone.size()] == '\\'))
            key->deleted = true;
    }
}

RrpOptions RrpOptions::FromEnvironment(RrpOptions settings) {
    if (const char* user = std::getenv("QUORVANE_SMB_USER"); user != nullptr && *user != '\0') {
        const std::string text(user);
        const std::size_t slash = text.find('\\'), at = text.rfind('@');
        if (slash != std::string::npos) {
            settings.credentials.domain = text.substr(0, slash);
            settings.credentials.user = text.substr(slash + 1);
        } else if (at != std::string::npos) {
            settings.credentials.user = text.substr(0, at);
            settings.credentials.domain = text.substr(at + 1);
        } else {
            settings.credentials.user = text;
        }
    }
    if (const char* password = std::getenv("QUORVANE_SMB_PASSWORD"); password != nullptr)
        settings.credentials.password = password;
    if (const char* file = std::getenv("QUORVANE_SMB_PASSWORD_FILE"); file != nullptr && *file != '\0') {
        std::ifstream in(file, std::ios::binary);
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            std::string password = text.str();
            if (!password.empty() && password.back() == '\n') password.pop_back();
            if (!password.empty() && password.back() == '\r') password.pop_back();
            settings.credentials.password = std::move(password);
        }
    }
    return settings;
}

RrpOptions RrpOptions::FromEnvironment() { return FromEnvironment(RrpOptions{}); }

bool RrpComputer(std::string_view name, std::string* host, int* port) {
    if (name.size() <= kRemoteRegistryScheme.size() || !IsRemoteRegistryName(name)) return false;
    std::string_view rest = name.substr(kRemoteRegistryScheme.size());
    std::string_view h, p;
    if (rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos || close == 1) return false;
        h = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            p = rest.substr(1);
            if (p.empty()) return false;
        }
        if (h.find_first_not_of("0123456789abcdefABCDEF:.%") != std::string_view::npos) return false;
    } else {
        const std::size_t colon = rest.find(':');
        h = rest.substr(0, colon);
        if (colon != std::string_view::npos) {
            p = rest.substr(colon + 1);
            if (p.empty()) return false;
        }
        if (h.empty()) return false;
        for (const char c : h)
            if (c == '/' || c == '\\' || c == '@' || c == ':' || c == '[' || c == ']' ||
                std::isspace(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) < 0x20)
                return false;
    }
    int number = 445;
    if (!p.empty()) {
        if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string_view::npos) return false;
        number = std::atoi(std::string(p).c_str());
        if (number < 1 || number > 65535) return false;
    }
    if (host != nullptr) *host = std::string(h);
    if (port != nullptr) *port = number;
    return true;
}

CRrpRegistry::CRrpRegistry(RrpOptions options) : m_impl(std::make_unique<Impl>(std::move(options))) {}

CRrpRegistry::~CRrpRegistry() {
    // Handles left open are closed on the computer, then the connections go.
    std::vector<HKEY> open;
    {
        std::lock_guard lock(m_impl->mutex);
        for (const auto& [value, key] : m_impl->keys) open.push_back(reinterpret_cast<HKEY>(value));
    }
    for (HKEY key : open) RegCloseKey(key);
}

std::size_t CRrpRegistry::OpenHandleCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->keys.size();
}

std::size_t CRrpRegistry::CallCount() const { return m_impl->calls.load(); }

LONG CRrpRegistry::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    rrp::WinregOpnum opnum;
    if (hKey == HKEY_LOCAL_MACHINE) opnum = rrp::kOpenHKLM;
    else if (hKey == HKEY_CURRENT_USER) opnum = rrp::kOpenHKCU;
    else if (hKey == HKEY_USERS) opnum = rrp::kOpenHKU;
    else if (hKey == HKEY_CLASSES_ROOT) opnum = rrp::kOpenHKCR;
    else if (hKey == HKEY_CURRENT_CONFIG) opnum = rrp::kOpenHKCC;
    else return ERROR_INVALID_HANDLE;
    std::string host;
    int port = 0;
    if (lpMachineName == nullptr || !RrpComputer(lpMachineName, &host, &port)) return ERROR_BAD_NETPATH;
    std::shared_ptr<Connection> connection;
    if (const LONG status = m_impl->Connect(host, port, connection); status != ERROR_SUCCESS) return status;
    auto key = std::make_unique<Key>();
    key->connection = connection;
    key->root = opnum;
    key->isRoot = true;
    std::unique_lock lock(connection->mutex);
    if (connection->Lost()) return ERROR_BAD_NETPATH;
    ++m_impl->calls;
    const LONG status = connection->winreg->OpenRoot(opnum, kMaximumAllowed, key->handle);
    if (status != ERROR_SUCCESS) {
        if (connection->Lost()) return ERROR_BAD_NETPATH;
        // A root the computer does not serve (an unknown call, or refused).
        return opnum == rrp::kOpenHKCC && status != ERROR_ACCESS_DENIED ? ERROR_BAD_NETPATH : status;
    }
    lock.unlock();
    *phkResult = m_impl->Add(std::move(key));
    return ERROR_SUCCESS;
}

LONG CRrpRegistry::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                                 HKEY* phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Key* parent;
    std::unique_lock<std::mutex> lock;
    if (const LONG status = m_impl->Use(hKey, parent, lock); status != ERROR_SUCCESS) return status;
    std::string path;
    std::size_t components = 0;
    if (const LONG status = NormalPath(lpSubKey, path, components); status != ERROR_SUCCESS) return status;
    auto key = std::make_unique<Key>();
    key->connection = parent->connection;
    key->root = parent->root;
    key->path = Join(parent->path, path);
    key->depth = parent->depth + components;
    const LONG status = m_impl->Winreg(*parent).OpenKey(parent->handle, Utf16(path), samDesired, key->handle);
    if (status != ERROR_SUCCESS) return Impl::Mapped(*parent->connection, status);
    lock.unlock();
    *phkResult = m_impl->Add(std::move(key));
    return ERROR_SUCCESS;
}

LONG CRrpRegistry::RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, char* lpClass,
                                   DWORD /*dwOptions*/, REGSAM samDesired,
                                   SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, HKEY* phkResult,
                                   DWORD* lpdwDisposition) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Key* parent;
    std::unique_lock<std::mutex> lock;
    if (const LONG status = m_impl->Use(hKey, parent, lock); status != ERROR_SUCCESS) return status;
    std::string path;
    std::size_t components = 0;
    if (const LONG status = NormalPath(lpSubKey, path, components); status != ERROR_SUCCESS) return status;
    if (parent->depth + components > kMaxDepth) return ERROR_INVALID_PARAMETER;
    auto key = std::make_unique<Key>();
    key->connection = parent->connection;
    key->root = parent->root;
    key->path = Join(parent->path, path);
    key->depth = parent->depth + components;
    bool created = false;
    const LONG status = m_impl->Winreg(*parent).CreateKey(parent->handle, Utf16(path),
                                                          Utf16(lpClass != nullptr ? lpClass : ""), samDesired,
                                                          key->handle, created);
    if (status != ERROR_SUCCESS) return Impl::Mapped(*parent->connection, status);
    if (created) m_impl->Wrote();
    if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    lock.unlock();
    *phkResult = m_impl->Add(std::move(key));
    return ERROR_SUCCESS;
}

LONG CRrpRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                 DWORD* /*lpReserved*/, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    Key* key;
    std::unique_lock<std::mutex> lock;
    if (const LONG status = m_impl->Use(hKey, key, lock); status != ERROR_SUCCESS) return status;
    const rrp::KeyInfo* info = nullptr;
    if (const LONG status = m_impl->Counts(*key, false, dwIndex, info); status != ERROR_SUCCESS) return status;
    if (info != nullptr && dwIndex >= info->values) return ERROR_NO_MORE_ITEMS;
    const Entry* entry = nullptr;
    if (const LONG status = m_impl->FetchValue(*key, dwIndex, entry); status != ERROR_SUCCESS) return status;
    if (const LONG status = CopyName(entry->name, lpValueName, lpcchValueName); status != ERROR_SUCCESS)
        return status;
    if (lpType != nullptr) *lpType = entry->type;
    const auto size = static_cast<DWORD>(entry->text.size());
    if (lpData != nullptr) {
        if (size > *lpcbData) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, entry->text.data(), size);
    }
    if (lpcbData != nullptr) *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG CRrpRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                                 DWORD* /*lpReserved*/, char* lpClass, DWORD* lpcchClass,
                                 FILETIME* lpftLastWriteTime) {
    if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpClass != nullptr && lpcchClass == nullptr) return ERROR_INVALID_PARAMETER;
    Key* key;
    std::unique_lock<std::mutex> lock;
    if (const LONG status = m_impl->Use(hKey, key, lock); status != ERROR_SUCCESS) return status;
    const rrp::KeyInfo* info = nullptr;
    if (const LONG status = m_impl->Counts(*key, true, dwIndex, info); status != ERROR_SUCCESS) return status;
    if (info != nullptr && dwIndex >= info->subkeys) return ERROR_NO_MORE_ITEMS;
    const Entry* entry = nullptr;
    if (const LONG status = m_impl->FetchKey(*key, dwIndex, entry); status != ERROR_SUCCESS) return status;
    if (lpClass != nullptr && entry->text.size() + 1 > *lpcchClass) return ERROR_MORE_DATA;
    if (const LONG status = CopyName(entry->name, lpName, lpcchName); status != ERROR_SUCCESS) return status;
    if (lpClass != nullptr) CopyName(entry->text, lpClass, lpcchClass);
    else if (lpcchClass != nullptr) *lpcchClass = static_cast<DWORD>(entry->text.size());
    if (lpftLastWriteTime != nullptr) {
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(entry->written);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(entry->written >> 32);
    }
    return ERROR_SUCCESS;
}

LONG CRrpRegistry::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                                  const BYTE* lpData, DWORD cbData) {
    if (lpData == nullptr && cbData != 0) return kErrorNoAccess;
    Key* key;
    std::unique_lock<std::mutex> lock;
    if (const LONG status = m_impl->Use(hKey, key, lock); status != ERROR_SUCCESS) return status;
    const std::string name = Utf16(lpValueName != nullptr ? lpValueName : "");
    if (name.size() / 2 > kMaxValueNameUnits) return ERROR_INVALID_PARAMETER;
    std::string data(reinterpret_cast<const char*>(lpData), lpData != nullptr ? cbData : 0);
    if (IsTextType(dwType)) data = Utf16(data);
    if (data.size() > rrp::CWinregClient::kMaxData) return ERROR_INVALID_PARAMETER;
    m_impl->Wrote();
    rrp::CWinregClient& winreg = m_impl->Winreg(*key);
    const std::size_t nameBytes = std::strlen(lpValueName != nullptr ? lpValueName : "");
    Connection& connection = *key->connection;
    if (nameBytes <= kLongestShortName || connection.longValueNames > 0)
        return Impl::Mapped(connection, winreg.SetValue(key->handle, name, dwType, data));
    if (connection.longValueNames < 0) return ERROR_INVALID_PARAMETER;
    // The first long name on this computer: written, then looked for by its
    // whole name. Not found means it was cut short: the value made under the
    // short name goes again and the name is refused. Should a value of that
    // short name be there already, ours could not be told from it: refused
    // without writing.
    const std::string shortName = Utf16(std::string_view(lpValueName, kLongestShortName));
    std::uint32_t type = 0, needed = 0;
    std::string ignored;
    LONG status = winreg.QueryValue(key->handle, shortName, 0, type, ignored, needed);
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) return ERROR_INVALID_PARAMETER;
    if (status != ERROR_FILE_NOT_FOUND) return Impl::Mapped(connection, status);
    if (status = winreg.SetValue(key->handle, name, dwType, data); status != ERROR_SUCCESS)
        return Impl::Mapped(connection, status);
    status = winreg.QueryValue(key->handle, name, 0, type, ignored, needed);
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        connection.longValueNames = 1;
        return ERROR_SUCCESS;
    }
    if (status != ERROR_FILE_NOT_FOUND) return Impl::Mapped(connection, status);
    connection.longValueNames = -1;
    status = winreg.DeleteValue(key->handle, shortName);
    return status == ERROR_SUCCESS ? ERROR_INVALID_PARAMETER : Impl::Mapped(connection, status);
}

LONG CRrpRegistry::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    Key* key;
    std::unique_lock<std::mutex> lock;
    if (const LONG status = m_impl->Use(hKey, key, lock); status != ERROR_SUCCESS) return status;
    m_impl->Wrote();
    const LONG status =
        m_impl->Winreg(*key).DeleteValue(key->handle, Utf16(lpValueName != nullptr ? lpValueName : ""));
    return Impl::Mapped(*key->connection, status);
}

LONG CRrpRegistry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    Key* key;
    std::unique_lock<std::mutex> lock;
    if (const LONG status = m_impl->Use(hKey, key, lock); status != ERROR_SUCCESS) return status;
    std::string path;
    std::size_t components = 0;
    if (const LONG status = NormalPath(lpSubKey, path, components); status != ERROR_SUCCESS) return status;
    LONG status;
    m_impl->Wrote();
    if (!path.empty()) {
        status = m_impl->Winreg(*key).DeleteKey(key->handle, Utf16(path));
    } else {
        // The handle's own key: deleted from its root, through a root
        // handle of its own.
        if (key->isRoot) return ERROR_ACCESS_DENIED;
        PolicyHandle root;
        status = m_impl->Winreg(*key).OpenRoot(key->root, kMaximumAllowed, root);
        if (status == ERROR_SUCCESS) {
            status = m_impl->Winreg(*key).DeleteKey(root, Utf16(key->path));
            m_impl->Winreg(*key).CloseKey(root);
        }
    }
    const LONG mapped = Impl::Mapped(*key->connection, status);
    lock.unlock();  // marking takes the tables' lock, which is never taken inside a connection's
    if (status == ERROR_SUCCESS) m_impl->MarkDeleted(*key, path);
    return mapped;
}

LONG CRrpRegistry::RegCloseKey(HKEY hKey) {
    if (hKey != nullptr && IsPredefinedKey(hKey)) return ERROR_SUCCESS;
    std::unique_ptr<Key> key;
    {
        std::lock_guard lock(m_impl->mutex);
        const auto found = m_impl->keys.find(reinterpret_cast<std::uintptr_t>(hKey));
        if (found == m_impl->keys.end()) return ERROR_INVALID_HANDLE;
        key = std::move(found->second);
        m_impl->keys.erase(found);
    }
    // The computer's handle goes too; a lost connection took it already.
    // Sent with the next call on that computer: nobody waits for it.
    std::lock_guard lock(key->connection->mutex);
    if (!key->connection->Lost()) {
        ++m_impl->calls;
        key->connection->winreg->CloseKeyLater(key->handle);
    }
    return ERROR_SUCCESS;
}

}  // namespace qv
