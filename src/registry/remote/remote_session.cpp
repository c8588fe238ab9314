// The client's connections and key snapshots: channels per computer, the
// one call every request goes through, paging and read-ahead of snapshots.
#include "registry/remote/remote_session.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "model/open_key.h"

namespace qv {

namespace {

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

}  // namespace

namespace remote {

bool PlainSubkeyPath(std::string_view subkey) {
    if (!subkey.empty() && subkey.front() == '\\') return false;
    std::vector<std::string_view> parts;
    SplitKeyPath(subkey, parts);
    for (std::string_view part : parts)
        if (part.size() > kMaxKeyNameBytes) return false;
    return true;
}

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
    // gRPC answers RESOURCE_EXHAUSTED itself when it has no thread or
    // memory left for a call: the request was fine, the service is busy.
    case grpc::StatusCode::RESOURCE_EXHAUSTED:
    case grpc::StatusCode::UNAVAILABLE:
    case grpc::StatusCode::DEADLINE_EXCEEDED: return kErrorServiceBusy;
    case grpc::StatusCode::UNAUTHENTICATED:
    case grpc::StatusCode::PERMISSION_DENIED: return ERROR_ACCESS_DENIED;
    case grpc::StatusCode::INVALID_ARGUMENT:
    case grpc::StatusCode::OUT_OF_RANGE: return ERROR_INVALID_PARAMETER;
    case grpc::StatusCode::UNIMPLEMENTED: return kErrorNotSupported;
    default: return kErrorUnexpectedNetError;
    }
}

std::string PlaceOf(int root, std::string_view path) {
    std::string place(1, static_cast<char>('0' + root));
    place += FoldName(path);
    return place;
}

}  // namespace remote

RemoteOptions RemoteOptions::FromEnvironment(RemoteOptions settings) {
    if (const char* token = std::getenv("QUORVANE_REGD_TOKEN"); token != nullptr && *token != '\0') {
        settings.token = token;
    } else if (const char* file = std::getenv("QUORVANE_REGD_TOKEN_FILE"); file != nullptr && *file != '\0') {
        std::string text;
        if (ReadFile(file, text)) settings.token = TrimEnd(text);
    }
    const auto take = [](const char* name, std::string& into) {
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0') into = value;
    };
    take("QUORVANE_REGD_CA", settings.caFile);
    take("QUORVANE_REGD_CERT", settings.certFile);
    take("QUORVANE_REGD_KEY", settings.keyFile);
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

CRemoteRegistry::Impl::Impl(RemoteOptions given) : options(std::move(given)) {
    if (!UsesTls()) {
        credentials = grpc::InsecureChannelCredentials();
        return;
    }
    grpc::SslCredentialsOptions ssl;
    const auto read = [](const std::string& file, std::string& into) {
        return file.empty() || (ReadFile(file, into) && !into.empty());
    };
    // A certificate without its key (or the other way round) is a mistake
    // best reported before any call, not as a refusal by the service.
    if (!read(options.caFile, ssl.pem_root_certs) || !read(options.certFile, ssl.pem_cert_chain) ||
        !read(options.keyFile, ssl.pem_private_key) || options.certFile.empty() != options.keyFile.empty()) {
        credentialsStatus = ERROR_FILE_NOT_FOUND;
        return;
    }
    credentials = grpc::SslCredentials(ssl);
}

std::shared_ptr<v1::Registry::Stub> CRemoteRegistry::Impl::StubFor(Computer& computer) {
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

Computer* CRemoteRegistry::Impl::ComputerFor(const std::string& name) {
    std::string target;
    if (!RemoteTarget(name, target)) return nullptr;
    auto& slot = computers[target];
    if (!slot) {
        slot = std::make_unique<Computer>();
        slot->target = target;
        slot->mayCarryToken = UsesTls() || IsLoopbackHost(target.substr(0, target.rfind(':')));
    }
    return slot.get();
}

LONG CRemoteRegistry::Impl::Ping(Computer& computer) {
    v1::PingRequest request;
    v1::PingReply reply;
    const LONG status = Call(computer, &v1::Registry::Stub::Ping, request, reply, options.connectTimeout);
    if (status == ERROR_SUCCESS) {
        std::lock_guard lock(mutex);
        computer.verified = true;
    }
    return status;
}

LONG CRemoteRegistry::Impl::Open(Computer& computer, v1::OpenKeyRequest& request,
                                  std::shared_ptr<ArenaReply>& reply,
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

LONG CRemoteRegistry::Impl::Fresh(Key& key) {
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

void CRemoteRegistry::Impl::KeepAhead(Computer& computer, int root, const std::string& scope,
                                      std::uint64_t writes, const std::shared_ptr<ArenaReply>& reply) {
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

CRemoteRegistry::Impl::~Impl() {
    for (auto& [target, computer] : computers)
        if (computer->pending.valid()) computer->pending.wait();
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

}  // namespace qv
