// The registry service of quorvane-regd: answers the schema's calls from a
// registry back end (this computer's store). It keeps no state between
// calls, so any number of clients may call at once; the back end must be
// safe to use from several threads (the store is).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "model/registry.h"
#include "registry/remote/registry.grpc.pb.h"

namespace qv::remote {

struct ServiceOptions {
    // Every write is refused with ERROR_ACCESS_DENIED.
    bool readOnly = false;
    // When set, every call must carry "authorization: Bearer <token>".
    std::string token;
    // Takes one line per refused or failed request; null: standard error.
    std::function<void(const std::string&)> log;
};

class CRegistryService final : public quorvane::registry::v1::Registry::Service {
public:
    CRegistryService(IRegistry& registry, ServiceOptions options);

    using Context = grpc::ServerContext;
    grpc::Status Ping(Context* context, const quorvane::registry::v1::PingRequest* request,
                      quorvane::registry::v1::PingReply* reply) override;
    grpc::Status OpenKey(Context* context, const quorvane::registry::v1::OpenKeyRequest* request,
                         quorvane::registry::v1::OpenKeyReply* reply) override;
    grpc::Status GetValue(Context* context, const quorvane::registry::v1::GetValueRequest* request,
                          quorvane::registry::v1::GetValueReply* reply) override;
    grpc::Status SetValue(Context* context, const quorvane::registry::v1::SetValueRequest* request,
                          quorvane::registry::v1::StatusReply* reply) override;
    grpc::Status DeleteValue(Context* context, const quorvane::registry::v1::DeleteValueRequest* request,
                             quorvane::registry::v1::StatusReply* reply) override;
    grpc::Status DeleteKey(Context* context, const quorvane::registry::v1::DeleteKeyRequest* request,
                           quorvane::registry::v1::StatusReply* reply) override;

    // Calls received so far, refused ones included.
    std::uint64_t Requests() const { return m_requests.load(); }

private:
    class CCall;

    IRegistry& m_registry;
    ServiceOptions m_options;
    std::atomic<std::uint64_t> m_requests{0};
};

// The time at the head of a log line: UTC, to the second.
std::string LogTimestamp();

// Equal strings, in a time that depends on `expected`'s length only.
bool ConstantTimeEqual(std::string_view given, std::string_view expected);

}  // namespace qv::remote
