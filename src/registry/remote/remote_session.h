// The client's side of a network registry: what it keeps of each computer
// (its channel, the writes it made, what was read ahead) and of each open
// key, and the calls on a computer's channel. Private to remote_registry.cpp
// and remote_session.cpp; nothing else includes it.
#pragma once

#include <grpcpp/grpcpp.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "registry/remote/registry.grpc.pb.h"
#include "registry/remote/remote_common.h"
#include "registry/remote/remote_registry.h"

namespace qv {

namespace v1 = quorvane::registry::v1;

namespace remote {

using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kMaxKeyNameBytes = 255;
// What one open asks to be read ahead, and how long what came may be used.
inline constexpr std::uint32_t kReadAheadBytes = 1 << 20;
inline constexpr auto kReadAheadLifetime = std::chrono::seconds(10);

// A subkey path the read-ahead can answer: no leading backslash and no
// name too long (the service answers those with their own status).
bool PlainSubkeyPath(std::string_view subkey);

// Whether a failed call leaves the channel in doubt (it is then replaced).
bool IsTransportFailure(grpc::StatusCode code);

// The registry status a failed call stands for.
LONG StatusFromGrpc(grpc::StatusCode code);

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
std::string PlaceOf(int root, std::string_view path);

}  // namespace remote

// The client keeps its state in these; the service shares only remote_common.h.
using namespace remote;

struct CRemoteRegistry::Impl {
    RemoteOptions options;
    std::shared_ptr<grpc::ChannelCredentials> credentials;
    LONG credentialsStatus = ERROR_SUCCESS;

    mutable std::mutex mutex;
    std::unordered_map<std::string, std::unique_ptr<Computer>> computers;
    std::unordered_map<std::uintptr_t, std::unique_ptr<Key>> keys;
    std::uintptr_t nextHandle = 0;
    std::atomic<std::uint64_t> requests{0};

    explicit Impl(RemoteOptions given);

    bool UsesTls() const { return !options.caFile.empty() || !options.certFile.empty() || !options.keyFile.empty(); }

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

    std::shared_ptr<v1::Registry::Stub> StubFor(Computer& computer);

    // The computer named `name`, made on first use; null for a bad name.
    Computer* ComputerFor(const std::string& name);

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

    LONG Ping(Computer& computer);

    // One OpenKey request, and the rest of the key's snapshot page by page.
    // `reply` holds what came; `snapshot` points into it, or is a copy
    // completed from later pages.
    LONG Open(Computer& computer, v1::OpenKeyRequest& request, std::shared_ptr<ArenaReply>& reply,
              std::shared_ptr<const v1::Snapshot>& snapshot);

    // Makes sure the handle's snapshot is current: fetched after the last
    // write made through this client.
    LONG Fresh(Key& key);

    LONG OpenOrCreate(HKEY handle, LPCSTR lpSubKey, bool create, const char* keyClass, REGSAM access,
                      HKEY* result, DWORD* disposition);

    // With the mutex held: keeps the keys a reply read ahead (and when the
    // walk goes on, asks for the next part at once).
    void KeepAhead(Computer& computer, int root, const std::string& scope, std::uint64_t writes,
                   const std::shared_ptr<ArenaReply>& reply);

    ~Impl();
};

}  // namespace qv
