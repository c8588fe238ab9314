#include "registry/remote/remote_registry.h"

#include <grpcpp/grpcpp.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "registry/remote/registry.grpc.pb.h"
#include "registry/remote/remote_common.h"

namespace qv {

namespace v1 = quorvane::registry::v1;
using namespace remote;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxKeyNameBytes = 255;
// What one open asks to be read ahead, and how long what came may be used.
constexpr std::uint32_t kReadAheadBytes = 1 << 20;
constexpr auto kReadAheadLifetime = std::chrono::seconds(10);

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericRead = 0x80000000;

REGSAM EffectiveAccess(REGSAM sam) {
    if (sam & (kMaximumAllowed | kGenericAll)) sam |= KEY_ALL_ACCESS;
    if (sam & (kGenericRead | kGenericExecute)) sam |= KEY_READ;
    if (sam & kGenericWrite) sam |= KEY_WRITE;
    return sam;
}

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

std::string TrimEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

// A subkey path the read-ahead can answer: no leading backslash and no
// name too long (the service answers those with their own status).
bool PlainSubkeyPath(std::string_view subkey) {
    if (!subkey.empty() && subkey.front() == '\\') return false;
    std::vector<std::string_view> parts;
    SplitKeyPath(subkey, parts);
    for (std::string_view part : parts)
        if (part.size() > kMaxKeyNameBytes) return false;
    return true;
}

// Whether a failed call leaves the channel in doubt (it is then replaced).
bool IsTransportFailure(grpc::StatusCode code) {
    switch (code) {
    case grpc::StatusCode::UNAUTHENTICATED:
    case grpc::StatusCode::PERMISSION_DENIED:
    case grpc::StatusCode::INVALID_ARGUMENT:
    case grpc::StatusCode::RESOURCE_EXHAUSTED:
    case grpc::StatusCode::OUT_OF_RANGE:
    case grpc::StatusCode::UNIMPLEMENTED: return false;
    default: return true;
    }
}

LONG StatusFromGrpc(grpc::StatusCode code) {
    switch (code) {
    case grpc::StatusCode::OK: return ERROR_SUCCESS;
    case grpc::StatusCode::UNAVAILABLE:
    case grpc::StatusCode::DEADLINE_EXCEEDED: return ERROR_BAD_NETPATH;
    case grpc::StatusCode::UNAUTHENTICATED:
    case grpc::StatusCode::PERMISSION_DENIED: return ERROR_ACCESS_DENIED;
    case grpc::StatusCode::INVALID_ARGUMENT:
    case grpc::StatusCode::RESOURCE_EXHAUSTED:
    case grpc::StatusCode::OUT_OF_RANGE: return ERROR_INVALID_PARAMETER;
    case grpc::StatusCode::UNIMPLEMENTED: return kErrorNotSupported;
    default: return kErrorUnexpectedNetError;
    }
}

// A reply parsed into an arena of its own: its many small strings cost no
// allocation each, and go at once when the last snapshot taken from it does.
struct ArenaReply {
    google::protobuf::Arena arena;
    v1::OpenKeyReply* message = google::protobuf::Arena::CreateMessage<v1::OpenKeyReply>(&arena);
    LONG status = ERROR_SUCCESS;
};

// One computer: its channel and what this client knows of it.
struct Computer {
    std::string target;
    // The token goes only where nobody else can read it: over TLS, or to
    // this computer.
    bool mayCarryToken = false;
    std::shared_ptr<grpc::Channel> channel;
    std::shared_ptr<v1::Registry::Stub> stub;
    bool verified = false;  // a check passed on this channel
    // Writes made through this client: a snapshot taken before the last
    // one is fetched again before it answers.
    std::uint64_t writes = 0;
    // Keys open through handles (connected roots aside), by root and
    // folded path: opening a subkey of one starts reading ahead.
    std::unordered_map<std::string, int> open;
    // Snapshots read ahead, by root and folded path; used once each.
    std::unordered_map<std::string, std::shared_ptr<const v1::Snapshot>> ahead;
    std::uint64_t aheadWrites = 0;
    Clock::time_point aheadAt;
    // The next part of the walk, asked for while the caller works through
    // the part at hand. Last, so that it is waited for first.
    int pendingRoot = 0;
    std::string pendingScope;
    std::uint64_t pendingWrites = 0;
    std::future<std::shared_ptr<ArenaReply>> pending;
};

struct Key {
    Computer* computer = nullptr;
    int root = 0;
    std::string path;  // below the root, single backslashes
    REGSAM access = 0;
    bool isRoot = false;  // from RegConnectRegistryA: may do everything
    bool deleted = false;
    std::shared_ptr<const v1::Snapshot> snapshot;
    std::uint64_t snapshotWrites = 0;
};

// The key of the open map and of the read-ahead cache.
std::string PlaceOf(int root, std::string_view path) {
    std::string place(1, static_cast<char>('0' + root));
    place += FoldName(path);
    return place;
}

}  // namespace

RemoteOptions RemoteOptions::FromEnvironment(RemoteOptions settings) {
    if (const char* token = std::getenv("QUORVANE_REGD_TOKEN"); token != nullptr && *token != '\0') {
        settings.token = token;
    } else if (const char* file = std::getenv("QUORVANE_REGD_TOKEN_FILE"); file != nullptr && *file != '\0') {
        std::string text;
        if (ReadFile(file, text)) settings.token = TrimEnd(text);
    }
    if (const char* ca = std::getenv("QUORVANE_REGD_CA"); ca != nullptr && *ca != '\0') settings.caFile = ca;
    return settings;
}

RemoteOptions RemoteOptions::FromEnvironment() { return FromEnvironment(RemoteOptions()); }

bool RemoteTarget(const std::string& computer, std::string& target) {
    std::string host = computer, port = std::to_string(kDefaultPort);
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos) return false;
        const std::string rest = host.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            port = rest.substr(1);
        }
        host = host.substr(0, close + 1);
    } else if (std::count(host.begin(), host.end(), ':') == 1) {
        port = host.substr(host.find(':') + 1);
        host = host.substr(0, host.find(':'));
    } else if (host.find(':') != std::string::npos) {
        host = "[" + host + "]";  // a bare IPv6 address
    }
    if (host.empty() || host == "[]" || port.empty() || port.size() > 5) return false;
    if (host.find_first_of(" \t/\\@?#") != std::string::npos) return false;
    for (char c : port)
        if (c < '0' || c > '9') return false;
    const int number = std::atoi(port.c_str());
    if (number < 1 || number > 65535) return false;
    target = host + ":" + port;
    return true;
}

struct CRemoteRegistry::Impl {
    RemoteOptions options;
    std::shared_ptr<grpc::ChannelCredentials> credentials;
    LONG credentialsStatus = ERROR_SUCCESS;

    mutable std::mutex mutex;
    std::unordered_map<std::string, std::unique_ptr<Computer>> computers;
    std::unordered_map<std::uintptr_t, std::unique_ptr<Key>> keys;
    std::uintptr_t nextHandle = 0;
    std::atomic<std::uint64_t> requests{0};

    explicit Impl(RemoteOptions given) : options(std::move(given)) {
        if (options.caFile.empty()) {
            credentials = grpc::InsecureChannelCredentials();
            return;
        }
        grpc::SslCredentialsOptions ssl;
        if (!ReadFile(options.caFile, ssl.pem_root_certs) || ssl.pem_root_certs.empty()) {
            credentialsStatus = ERROR_FILE_NOT_FOUND;
            return;
        }
        credentials = grpc::SslCredentials(ssl);
    }

    // --- with the mutex held ---

    Key* Find(HKEY handle) {
        const auto found = keys.find(reinterpret_cast<std::uintptr_t>(handle));
        return found == keys.end() ? nullptr : found->second.get();
    }

    HKEY AddKey(std::unique_ptr<Key> key) {
        if (!key->isRoot) ++key->computer->open[PlaceOf(key->root, key->path)];
        // Small even numbers: never a predefined handle, never null.
        nextHandle += 4;
        keys.emplace(nextHandle, std::move(key));
        return reinterpret_cast<HKEY>(nextHandle);
    }

    std::shared_ptr<v1::Registry::Stub> StubFor(Computer& computer) {
        if (!computer.stub) {
            grpc::ChannelArguments arguments;
            arguments.SetMaxReceiveMessageSize(kMaxReplyBytes);
            arguments.SetMaxSendMessageSize(kMaxRequestBytes);
            // A replaced channel must not inherit the failed one's connection
            // and its back-off.
            arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
            arguments.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 200);
            arguments.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 1000);
            computer.channel = grpc::CreateCustomChannel(computer.target, credentials, arguments);
            computer.stub = v1::Registry::NewStub(computer.channel);
            computer.verified = false;
        }
        return computer.stub;
    }

    // The computer named `name`, made on first use; null for a bad name.
    Computer* ComputerFor(const std::string& name) {
        std::string target;
        if (!RemoteTarget(name, target)) return nullptr;
        auto& slot = computers[target];
        if (!slot) {
            slot = std::make_unique<Computer>();
            slot->target = target;
            slot->mayCarryToken = !options.caFile.empty() || IsLoopbackHost(target.substr(0, target.rfind(':')));
        }
        return slot.get();
    }

    void MarkWritten(Computer& computer) {
        ++computer.writes;
        computer.ahead.clear();
    }

    // --- without the mutex ---

    // Runs one call on the computer's channel; a transport failure drops
    // the channel so that the next call makes a new one.
    template <class Request, class Reply, class Method>
    LONG Call(Computer& computer, Method method, const Request& request, Reply& reply,
              std::chrono::milliseconds timeout) {
        if (credentialsStatus != ERROR_SUCCESS) return credentialsStatus;
        std::shared_ptr<v1::Registry::Stub> stub;
        {
            std::lock_guard lock(mutex);
            stub = StubFor(computer);
        }
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + timeout);
        if (!options.token.empty() && computer.mayCarryToken)
            context.AddMetadata("authorization", "Bearer " + options.token);
        ++requests;
        const grpc::Status status = ((*stub).*method)(&context, request, &reply);
        if (status.ok()) return ERROR_SUCCESS;
        if (IsTransportFailure(status.error_code())) {
            std::lock_guard lock(mutex);
            if (computer.stub == stub) {
                computer.stub.reset();
                computer.channel.reset();
                computer.verified = false;
            }
        }
        return StatusFromGrpc(status.error_code());
    }

    LONG Ping(Computer& computer) {
        v1::PingRequest request;
        v1::PingReply reply;
        const LONG status = Call(computer, &v1::Registry::Stub::Ping, request, reply, options.connectTimeout);
        if (status == ERROR_SUCCESS) {
            std::lock_guard lock(mutex);
            computer.verified = true;
        }
        return status;
    }

    // One OpenKey request, and the rest of the key's snapshot page by page.
    // `reply` holds what came; `snapshot` points into it, or is a copy
    // completed from later pages.
    LONG Open(Computer& computer, v1::OpenKeyRequest& request, std::shared_ptr<ArenaReply>& reply,
              std::shared_ptr<const v1::Snapshot>& snapshot) {
        reply = std::make_shared<ArenaReply>();
        LONG status = Call(computer, &v1::Registry::Stub::OpenKey, request, *reply->message, options.callTimeout);
        if (status == ERROR_SUCCESS) status = reply->message->status();
        if (status != ERROR_SUCCESS || !request.snapshot()) return status;
        const v1::Snapshot& first = reply->message->snapshot();
        if (first.values_complete() && first.subkeys_complete()) {
            snapshot = std::shared_ptr<const v1::Snapshot>(reply, &first);
            return ERROR_SUCCESS;
        }
        auto whole = std::make_shared<v1::Snapshot>(first);
        while (!whole->values_complete() || !whole->subkeys_complete()) {
            v1::OpenKeyRequest next;
            next.set_root(request.root());
            next.set_path(whole->path());
            next.set_snapshot(true);
            next.set_values_from(static_cast<std::uint32_t>(whole->values_size()));
            next.set_subkeys_from(static_cast<std::uint32_t>(whole->subkeys_size()));
            v1::OpenKeyReply page;
            status = Call(computer, &v1::Registry::Stub::OpenKey, next, page, options.callTimeout);
            if (status == ERROR_SUCCESS) status = page.status();
            if (status != ERROR_SUCCESS) return status;
            v1::Snapshot& more = *page.mutable_snapshot();
            if (more.values_size() == 0 && more.subkeys_size() == 0 && !more.values_complete() &&
                !more.subkeys_complete())
                return kErrorRegistryIoFailed;  // no progress: a broken service
            for (auto& value : *more.mutable_values()) *whole->add_values() = std::move(value);
            for (auto& subkey : *more.mutable_subkeys()) *whole->add_subkeys() = std::move(subkey);
            whole->set_values_complete(more.values_complete());
            whole->set_subkeys_complete(more.subkeys_complete());
        }
        snapshot = std::move(whole);
        return ERROR_SUCCESS;
    }

    // Makes sure the handle's snapshot is current: fetched after the last
    // write made through this client.
    LONG Fresh(Key& key) {
        std::uint64_t writes;
        {
            std::lock_guard lock(mutex);
            if (key.deleted) return ERROR_KEY_DELETED;
            writes = key.computer->writes;
            if (key.snapshot && key.snapshotWrites == writes) return ERROR_SUCCESS;
        }
        v1::OpenKeyRequest request;
        request.set_root(static_cast<v1::Root>(key.root));
        request.set_path(key.path);
        request.set_snapshot(true);
        std::shared_ptr<ArenaReply> reply;
        std::shared_ptr<const v1::Snapshot> snapshot;
        const LONG status = Open(*key.computer, request, reply, snapshot);
        std::lock_guard lock(mutex);
        if (status == ERROR_KEY_DELETED) key.deleted = true;
        if (status != ERROR_SUCCESS) return status;
        key.snapshot = std::move(snapshot);
        key.snapshotWrites = writes;
        return ERROR_SUCCESS;
    }

    LONG OpenOrCreate(HKEY handle, LPCSTR lpSubKey, bool create, const char* keyClass, REGSAM access,
                      HKEY* result, DWORD* disposition);

    // With the mutex held: keeps the keys a reply read ahead (and when the
    // walk goes on, asks for the next part at once).
    void KeepAhead(Computer& computer, int root, const std::string& scope, std::uint64_t writes,
                   const std::shared_ptr<ArenaReply>& reply) {
        const v1::OpenKeyReply& message = *reply->message;
        if (message.ahead_size() == 0) return;
        computer.ahead.clear();
        computer.aheadWrites = writes;
        computer.aheadAt = Clock::now();
        for (const v1::Snapshot& ahead : message.ahead())
            computer.ahead[PlaceOf(root, ahead.path())] = std::shared_ptr<const v1::Snapshot>(reply, &ahead);
        if (message.walk_complete() || computer.pending.valid()) return;
        v1::OpenKeyRequest next;
        next.set_root(static_cast<v1::Root>(root));
        next.set_path(message.ahead(message.ahead_size() - 1).path());
        next.set_snapshot(true);
        next.set_read_ahead_bytes(kReadAheadBytes);
        next.set_walk_scope(scope);
        computer.pendingRoot = root;
        computer.pendingScope = scope;
        computer.pendingWrites = writes;
        computer.pending = std::async(std::launch::async, [this, &computer, next] {
            auto reply = std::make_shared<ArenaReply>();
            reply->status = Call(computer, &v1::Registry::Stub::OpenKey, next, *reply->message, options.callTimeout);
            if (reply->status == ERROR_SUCCESS) reply->status = reply->message->status();
            return reply;
        });
    }

    ~Impl() {
        for (auto& [target, computer] : computers)
            if (computer->pending.valid()) computer->pending.wait();
    }
};

CRemoteRegistry::CRemoteRegistry(RemoteOptions options) : m_impl(std::make_unique<Impl>(std::move(options))) {}

CRemoteRegistry::~CRemoteRegistry() = default;

std::uint64_t CRemoteRegistry::RequestCount() const { return m_impl->requests.load(); }

std::size_t CRemoteRegistry::OpenHandleCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->keys.size();
}

LONG CRemoteRegistry::Ping(const std::string& computer) {
    Computer* found;
    {
        std::lock_guard lock(m_impl->mutex);
        found = m_impl->ComputerFor(computer);
    }
    return found == nullptr ? ERROR_BAD_NETPATH : m_impl->Ping(*found);
}

LONG CRemoteRegistry::RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, HKEY* phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    const int root = RootNumber(hKey);
    if (root == 0) return ERROR_INVALID_HANDLE;
    if (lpMachineName == nullptr || *lpMachineName == '\0') return ERROR_BAD_NETPATH;
    Computer* computer;
    bool check;
    {
        std::lock_guard lock(m_impl->mutex);
        computer = m_impl->ComputerFor(lpMachineName);
        if (computer == nullptr) return ERROR_BAD_NETPATH;
        // A channel that answered and is still connected needs no new check.
        check = !computer->verified || !computer->channel ||
                computer->channel->GetState(false) != GRPC_CHANNEL_READY;
    }
    if (check) {
        if (const LONG status = m_impl->Ping(*computer); status != ERROR_SUCCESS) return status;
    }
    auto key = std::make_unique<Key>();
    key->computer = computer;
    key->root = root;
    key->access = KEY_ALL_ACCESS;
    key->isRoot = true;
    std::lock_guard lock(m_impl->mutex);
    *phkResult = m_impl->AddKey(std::move(key));
    return ERROR_SUCCESS;
}

LONG CRemoteRegistry::Impl::OpenOrCreate(HKEY handle, LPCSTR lpSubKey, bool create, const char* keyClass,
                                         REGSAM access, HKEY* result, DWORD* disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const std::string subkey = lpSubKey != nullptr ? lpSubKey : "";
    access = EffectiveAccess(access);
    const bool wantSnapshot = (access & (KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS)) != 0;

    v1::OpenKeyRequest request;
    Computer* computer;
    int root;
    std::string full;
    std::uint64_t writes;
    // Twice at most: after waiting for the part of a walk asked for ahead.
    for (int round = 0;; ++round) {
        std::unique_lock lock(mutex);
        const Key* base = Find(handle);
        if (base == nullptr) return ERROR_INVALID_HANDLE;
        if (base->deleted) return ERROR_KEY_DELETED;
        computer = base->computer;
        root = base->root;
        full = JoinKeyPath(base->path, subkey);
        writes = computer->writes;
        request.set_path(base->path);
        if (create || !PlainSubkeyPath(subkey)) break;

        const auto ahead = computer->ahead.find(PlaceOf(root, full));
        if (ahead != computer->ahead.end()) {
            if (computer->aheadWrites == writes && Clock::now() - computer->aheadAt < kReadAheadLifetime) {
                auto key = std::make_unique<Key>();
                key->computer = computer;
                key->root = root;
                key->path = full;
                key->access = access;
                key->snapshot = std::move(ahead->second);
                key->snapshotWrites = writes;
                computer->ahead.erase(ahead);
                *result = AddKey(std::move(key));
                return ERROR_SUCCESS;
            }
            computer->ahead.clear();
        }
        // A subkey of a key held open: likely a walk of that key's
        // subtree, so read ahead within the outermost open key.
        const std::size_t cut = full.rfind('\\');
        const std::string parent = cut == std::string::npos ? std::string() : full.substr(0, cut);
        if (!wantSnapshot || full.empty() || computer->open.count(PlaceOf(root, parent)) == 0) break;
        std::string scope = parent;
        if (computer->open.count(PlaceOf(root, std::string())) != 0) {
            scope.clear();
        } else {
            for (std::size_t at = full.find('\\'); at != std::string::npos; at = full.find('\\', at + 1)) {
                if (computer->open.count(PlaceOf(root, full.substr(0, at))) != 0) {
                    scope = full.substr(0, at);
                    break;
                }
            }
        }
        request.set_read_ahead_bytes(kReadAheadBytes);
        request.set_walk_scope(scope);
        // The walk's next part may be on its way already.
        if (round > 0 || !computer->pending.valid()) break;
        auto pending = std::move(computer->pending);
        const bool sameWalk = computer->pendingRoot == root && computer->pendingScope == scope &&
                              computer->pendingWrites == writes;
        lock.unlock();
        std::shared_ptr<ArenaReply> next = pending.get();
        lock.lock();
        if (sameWalk && next->status == ERROR_SUCCESS && computer->writes == writes)
            KeepAhead(*computer, root, scope, writes, next);
    }
    request.set_root(static_cast<v1::Root>(root));
    request.set_subkey(subkey);
    request.set_create(create);
    if (keyClass != nullptr) {
        request.set_key_class(keyClass);
        request.set_has_class(true);
    }
    request.set_snapshot(wantSnapshot);
    std::shared_ptr<ArenaReply> reply;
    std::shared_ptr<const v1::Snapshot> snapshot;
    const LONG status = Open(*computer, request, reply, snapshot);

    std::lock_guard lock(mutex);
    if (status == ERROR_KEY_DELETED) {
        if (Key* base = Find(handle)) base->deleted = true;
    }
    const DWORD made = reply->message->disposition();
    if (create && (status != ERROR_SUCCESS || made != REG_OPENED_EXISTING_KEY)) MarkWritten(*computer);
    if (status != ERROR_SUCCESS) return status;
    KeepAhead(*computer, root, request.walk_scope(), writes, reply);
    auto key = std::make_unique<Key>();
    key->computer = computer;
    key->root = root;
    key->path = std::move(full);
    key->access = access;
    key->snapshot = std::move(snapshot);
    key->snapshotWrites = writes;
    if (disposition != nullptr) *disposition = made;
    *result = AddKey(std::move(key));
    return ERROR_SUCCESS;
}

LONG CRemoteRegistry::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                                    HKEY* phkResult) {
    return m_impl->OpenOrCreate(hKey, lpSubKey, false, nullptr, samDesired, phkResult, nullptr);
}

LONG CRemoteRegistry::RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, char* lpClass,
                                      DWORD /*dwOptions*/, REGSAM samDesired,
                                      SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, HKEY* phkResult,
                                      DWORD* lpdwDisposition) {
    return m_impl->OpenOrCreate(hKey, lpSubKey, true, lpClass, samDesired, phkResult, lpdwDisposition);
}

LONG CRemoteRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                    DWORD* /*lpReserved*/, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    Key* key;
    {
        std::lock_guard lock(m_impl->mutex);
        key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (!key->isRoot && !(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    }
    // Twice at most: data fetched apart may show the key changed meanwhile.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const LONG status = m_impl->Fresh(*key); status != ERROR_SUCCESS) return status;
        const std::shared_ptr<const v1::Snapshot> snapshot = key->snapshot;
        if (dwIndex >= static_cast<DWORD>(snapshot->values_size())) return ERROR_NO_MORE_ITEMS;
        const v1::Value& value = snapshot->values(static_cast<int>(dwIndex));
        if (value.name().size() >= *lpcchValueName) return ERROR_MORE_DATA;

        DWORD type = value.type();
        const std::string* data = &value.data();
        std::uint64_t size = value.data_omitted() ? value.size() : value.data().size();
        v1::GetValueReply fetched;
        if (lpData != nullptr && value.data_omitted() && size <= *lpcbData && size > 0) {
            v1::GetValueRequest request;
            request.set_root(static_cast<v1::Root>(key->root));
            request.set_path(key->path);
            request.set_name(value.name());
            request.set_index_hint(dwIndex);
            LONG status = m_impl->Call(*key->computer, &v1::Registry::Stub::GetValue, request, fetched,
                                       m_impl->options.callTimeout);
            if (status == ERROR_SUCCESS) status = fetched.status();
            if (status == ERROR_FILE_NOT_FOUND) {
                std::lock_guard lock(m_impl->mutex);
                key->snapshot.reset();  // changed since the snapshot
                continue;
            }
            if (status != ERROR_SUCCESS) return status;
            type = fetched.type();
            data = &fetched.data();
            size = data->size();
        }
        if (lpType != nullptr) *lpType = type;
        if (lpcbData != nullptr) {
            if (lpData != nullptr && size > *lpcbData) {
                *lpcbData = static_cast<DWORD>(size);
                return ERROR_MORE_DATA;
            }
            if (lpData != nullptr && size > 0) std::memcpy(lpData, data->data(), size);
            *lpcbData = static_cast<DWORD>(size);
        }
        const std::string& name = value.name();
        if (!name.empty()) std::memcpy(lpValueName, name.data(), name.size());
        lpValueName[name.size()] = '\0';
        *lpcchValueName = static_cast<DWORD>(name.size());
        return ERROR_SUCCESS;
    }
    return kErrorRegistryIoFailed;
}

LONG CRemoteRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                                    DWORD* /*lpReserved*/, char* lpClass, DWORD* lpcchClass,
                                    FILETIME* lpftLastWriteTime) {
    if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
    Key* key;
    {
        std::lock_guard lock(m_impl->mutex);
        key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (!key->isRoot && !(key->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    }
    if (const LONG status = m_impl->Fresh(*key); status != ERROR_SUCCESS) return status;
    const std::shared_ptr<const v1::Snapshot> snapshot = key->snapshot;
    if (dwIndex >= static_cast<DWORD>(snapshot->subkeys_size())) return ERROR_NO_MORE_ITEMS;
    const v1::Subkey& subkey = snapshot->subkeys(static_cast<int>(dwIndex));
    const std::string& name = subkey.name();
    const std::string& keyClass = subkey.key_class();
    const bool wantClass = lpClass != nullptr && lpcchClass != nullptr;
    // Nothing is written unless everything fits.
    if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
    if (wantClass && keyClass.size() >= *lpcchClass) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.data(), name.size());
    lpName[name.size()] = '\0';
    *lpcchName = static_cast<DWORD>(name.size());
    if (wantClass) {
        if (!keyClass.empty()) std::memcpy(lpClass, keyClass.data(), keyClass.size());
        lpClass[keyClass.size()] = '\0';
        *lpcchClass = static_cast<DWORD>(keyClass.size());
    }
    if (lpftLastWriteTime != nullptr) {
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(subkey.last_write() & 0xffffffffu);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(subkey.last_write() >> 32);
    }
    return ERROR_SUCCESS;
}

LONG CRemoteRegistry::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData) {
    v1::SetValueRequest request;
    Computer* computer;
    {
        std::lock_guard lock(m_impl->mutex);
        const Key* key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (key->deleted) return ERROR_KEY_DELETED;
        if (!key->isRoot && !(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        computer = key->computer;
        request.set_root(static_cast<v1::Root>(key->root));
        request.set_path(key->path);
    }
    const std::string_view name = lpValueName != nullptr ? lpValueName : "";
    if (name.size() > kMaxNameBytes) return ERROR_INVALID_PARAMETER;
    if (lpData == nullptr && cbData != 0) return kErrorNoAccess;
    if (cbData > kMaxDataBytes) return ERROR_INVALID_PARAMETER;
    request.set_name(std::string(name));
    request.set_type(dwType);
    if (cbData > 0) request.set_data(lpData, cbData);
    v1::StatusReply reply;
    LONG status = m_impl->Call(*computer, &v1::Registry::Stub::SetValue, request, reply, m_impl->options.callTimeout);
    if (status == ERROR_SUCCESS) status = reply.status();
    std::lock_guard lock(m_impl->mutex);
    m_impl->MarkWritten(*computer);
    if (status == ERROR_KEY_DELETED) {
        if (Key* key = m_impl->Find(hKey)) key->deleted = true;
    }
    return status;
}

LONG CRemoteRegistry::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    v1::DeleteValueRequest request;
    Computer* computer;
    {
        std::lock_guard lock(m_impl->mutex);
        const Key* key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (key->deleted) return ERROR_KEY_DELETED;
        if (!key->isRoot && !(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        computer = key->computer;
        request.set_root(static_cast<v1::Root>(key->root));
        request.set_path(key->path);
    }
    request.set_name(lpValueName != nullptr ? lpValueName : "");
    v1::StatusReply reply;
    LONG status =
        m_impl->Call(*computer, &v1::Registry::Stub::DeleteValue, request, reply, m_impl->options.callTimeout);
    if (status == ERROR_SUCCESS) status = reply.status();
    std::lock_guard lock(m_impl->mutex);
    m_impl->MarkWritten(*computer);
    if (status == ERROR_KEY_DELETED) {
        if (Key* key = m_impl->Find(hKey)) key->deleted = true;
    }
    return status;
}

LONG CRemoteRegistry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    v1::DeleteKeyRequest request;
    Computer* computer;
    int root;
    std::string gone;
    {
        std::lock_guard lock(m_impl->mutex);
        const Key* key = m_impl->Find(hKey);
        if (key == nullptr) return ERROR_INVALID_HANDLE;
        if (key->deleted) return ERROR_KEY_DELETED;
        computer = key->computer;
        root = key->root;
        gone = FoldName(JoinKeyPath(key->path, lpSubKey));
        request.set_root(static_cast<v1::Root>(root));
        request.set_path(key->path);
    }
    request.set_subkey(lpSubKey);
    v1::StatusReply reply;
    LONG status = m_impl->Call(*computer, &v1::Registry::Stub::DeleteKey, request, reply, m_impl->options.callTimeout);
    if (status == ERROR_SUCCESS) status = reply.status();
    std::lock_guard lock(m_impl->mutex);
    m_impl->MarkWritten(*computer);
    if (status == ERROR_KEY_DELETED) {
        if (Key* key = m_impl->Find(hKey)) key->deleted = true;
    }
    if (status != ERROR_SUCCESS) return status;
    // Every handle to the key (or below it, which can only be gone too)
    // now answers as a deleted key's does, even after a namesake is made.
    for (auto& [id, key] : m_impl->keys) {
        if (key->computer != computer || key->root != root || key->isRoot) continue;
        const std::string folded = FoldName(key->path);
        if (folded == gone || (folded.size() > gone.size() && folded.compare(0, gone.size(), gone) == 0 &&
                               folded[gone.size()] == '\\'))
            key->deleted = true;
    }
    return ERROR_SUCCESS;
}

LONG CRemoteRegistry::RegCloseKey(HKEY hKey) {
    if (IsPredefinedKey(hKey)) return ERROR_SUCCESS;
    std::lock_guard lock(m_impl->mutex);
    const auto found = m_impl->keys.find(reinterpret_cast<std::uintptr_t>(hKey));
    if (found == m_impl->keys.end()) return ERROR_INVALID_HANDLE;
    const Key& key = *found->second;
    if (!key.isRoot) {
        const auto open = key.computer->open.find(PlaceOf(key.root, key.path));
        if (open != key.computer->open.end() && --open->second == 0) key.computer->open.erase(open);
    }
    m_impl->keys.erase(found);
    return ERROR_SUCCESS;
}

}  // namespace qv
