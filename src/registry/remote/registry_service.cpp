#include "registry/remote/registry_service.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <vector>

#include "model/key_node.h"
#include "model/open_key.h"
#include "model/registry_errors.h"
#include "registry/remote/remote_common.h"

namespace qv::remote {

namespace v1 = quorvane::registry::v1;

namespace {

constexpr std::size_t kKeyNameBuffer = 256;
constexpr std::size_t kClassBuffer = 4096;
// Values larger than this are refused to GetValue: the reply would not fit.
constexpr std::size_t kMaxValueReply = 16 << 20;
// Roughly what a name or a value costs in a reply besides its bytes.
constexpr std::size_t kItemOverhead = 16;

bool HasNul(const std::string& bytes) { return bytes.find('\0') != std::string::npos; }

// Statuses that tell of a fault below the registry, not of the request.
bool IsFailure(LONG status) {
    return status == ERROR_OUTOFMEMORY || status == 112 || status == 1015 || status == kErrorRegistryIoFailed;
}

// Fills `snapshot` with the values and subkeys of `key` from the given
// indexes on, stopping once about `budget` bytes are used (always after at
// least one item, so that paging moves on). Returns the registry's status;
// `used` grows by the bytes taken.
LONG FillSnapshot(IRegistry& registry, HKEY key, v1::Snapshot& snapshot, std::uint32_t valuesFrom,
                  std::uint32_t subkeysFrom, std::size_t budget, std::size_t& used) {
    // Made once per thread: clearing 32 KB for every key would cost more
    // than reading it.
    thread_local std::vector<char> name(kMaxNameBytes + 1);
    thread_local std::vector<BYTE> data(kInlineDataBytes);
    bool full = false;
    snapshot.set_values_complete(false);
    snapshot.set_subkeys_complete(false);
    for (DWORD index = valuesFrom;; ++index) {
        if (full) return ERROR_SUCCESS;
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(data.size());
        LONG status = registry.RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        bool omitted = false;
        if (status == ERROR_MORE_DATA) {
            // Too big to travel inline: name, type and size only.
            nameLength = static_cast<DWORD>(name.size());
            status = registry.RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, nullptr, &size);
            omitted = true;
        }
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return status;
        v1::Value* value = snapshot.add_values();
        value->set_name(name.data(), nameLength);
        value->set_type(type);
        value->set_size(size);
        if (omitted) value->set_data_omitted(true);
        else value->set_data(data.data(), size);
        used += nameLength + (omitted ? 0 : size) + kItemOverhead;
        full = used >= budget;
    }
    snapshot.set_values_complete(true);
    char keyClass[kClassBuffer];
    for (DWORD index = subkeysFrom;; ++index) {
        if (full) return ERROR_SUCCESS;
        DWORD nameLength = kKeyNameBuffer;
        DWORD classLength = sizeof keyClass;
        FILETIME written{};
        LONG status = registry.RegEnumKeyExA(key, index, name.data(), &nameLength, nullptr, keyClass,
                                             &classLength, &written);
        if (status == ERROR_MORE_DATA) {
            // A class longer than the buffer is left out.
            nameLength = kKeyNameBuffer;
            classLength = 0;
            status = registry.RegEnumKeyExA(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr,
                                            &written);
        }
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return status;
        v1::Subkey* subkey = snapshot.add_subkeys();
        subkey->set_name(name.data(), nameLength);
        if (classLength > 0) subkey->set_key_class(keyClass, classLength);
        subkey->set_last_write((std::uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime);
        used += nameLength + classLength + kItemOverhead;
        full = used >= budget;
    }
    snapshot.set_subkeys_complete(true);
    return ERROR_SUCCESS;
}

}  // namespace

std::string LogTimestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool ConstantTimeEqual(std::string_view given, std::string_view expected) {
    unsigned char difference = given.size() != expected.size() ? 1 : 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        difference |= static_cast<unsigned char>(g ^ static_cast<unsigned char>(expected[i]));
    }
    return difference == 0;
}

bool IsLoopbackHost(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host == "localhost") return true;
    const std::string text(host);
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

// One call under way: admission, argument checks and the log line of a
// refusal or failure.
class CRegistryService::CCall {
public:
    CCall(CRegistryService& service, grpc::ServerContext* context, const char* method)
        : m_service(service), m_context(context), m_method(method) {
        ++service.m_requests;
    }

    // The checks return false on a refusal, which Refusal() then gives;
    // chained with ||, only the first refusal is logged.
    bool Admit() {
        const std::string& token = m_service.m_options.token;
        if (token.empty()) return true;
        const auto& metadata = m_context->client_metadata();
        const auto found = metadata.find("authorization");
        if (found == metadata.end()) return Refuse(grpc::StatusCode::UNAUTHENTICATED, "no token");
        const std::string_view value(found->second.data(), found->second.size());
        constexpr std::string_view kScheme = "Bearer ";
        if (value.substr(0, kScheme.size()) != kScheme || !ConstantTimeEqual(value.substr(kScheme.size()), token))
            return Refuse(grpc::StatusCode::UNAUTHENTICATED, "wrong token");
        return true;
    }

    bool Root(int number, HKEY& root) {
        if (number < 1 || number > 7) return Refuse(grpc::StatusCode::INVALID_ARGUMENT, "no such root");
        root = RootHandle(number);
        return true;
    }

    bool Bound(const char* what, const std::string& bytes, std::size_t limit, bool text = true) {
        if (bytes.size() > limit)
            return Refuse(grpc::StatusCode::INVALID_ARGUMENT,
                          std::string(what) + " of " + std::to_string(bytes.size()) + " bytes");
        // The back end takes C strings: a zero byte would cut the name short.
        if (text && HasNul(bytes))
            return Refuse(grpc::StatusCode::INVALID_ARGUMENT, std::string(what) + " with a zero byte");
        return true;
    }

    const grpc::Status& Refusal() const { return m_refusal; }

    // The registry's answer; a write refused in read-only mode or a fault
    // below the registry is logged.
    LONG Answer(LONG status) {
        if (IsFailure(status)) Log("failed: " + RegistryErrorText(status));
        return status;
    }
    LONG RefuseWrite() {
        Log("refused: read-only");
        return ERROR_ACCESS_DENIED;
    }

private:
    bool Refuse(grpc::StatusCode code, const std::string& reason) {
        Log("refused: " + reason);
        m_refusal = grpc::Status(code, reason);
        return false;
    }

    void Log(const std::string& what) {
        const std::string line = LogTimestamp() + " " + m_context->peer() + " " + m_method + " " + what;
        if (m_service.m_options.log) m_service.m_options.log(line);
        else std::cerr << line << std::endl;
    }

    CRegistryService& m_service;
    grpc::ServerContext* m_context;
    const char* m_method;
    grpc::Status m_refusal;
};

CRegistryService::CRegistryService(IRegistry& registry, ServiceOptions options)
    : m_registry(registry), m_options(std::move(options)) {}

namespace {

// Opens the key a handle stands for. Missing, it answers as a handle to a
// deleted key would.
LONG OpenBase(IRegistry& registry, HKEY root, const std::string& path, REGSAM access, CRegHandle& key) {
    if (path.empty()) {
        *key.Receive() = root;  // closing a root does nothing
        return ERROR_SUCCESS;
    }
    const LONG status = registry.RegOpenKeyExA(root, path.c_str(), 0, access, key.Receive());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : status;
}

// The subtree walk that follows `opened` (already in the reply) inside
// `scope`, in the order a depth-first loader opens keys: whole snapshots
// of the keys that follow, while they fit `budget`.
void ReadAhead(IRegistry& registry, HKEY root, const std::string& opened, const v1::Snapshot& snapshot,
               const std::string& scope, std::size_t budget, v1::OpenKeyReply& reply) {
    std::vector<std::string_view> openedParts, scopeParts;
    SplitKeyPath(opened, openedParts);
    SplitKeyPath(scope, scopeParts);
    if (scopeParts.size() > openedParts.size()) return;
    for (std::size_t i = 0; i < scopeParts.size(); ++i)
        if (!SameName(scopeParts[i], openedParts[i])) return;

    struct Frame {
        std::string path;
        std::vector<std::string> names;
        std::size_t next = 0;
    };
    std::vector<Frame> frames;
    // The keys between the scope and the opened key: their later subkeys follow.
    std::string path;
    for (std::size_t i = 0; i < scopeParts.size(); ++i) path = JoinKeyPath(path, scopeParts[i]);
    for (std::size_t level = scopeParts.size(); level < openedParts.size(); ++level) {
        CRegHandle key(registry);
        if (OpenBase(registry, root, path, KEY_READ, key) != ERROR_SUCCESS) return;
        Frame frame{path, {}, 0};
        char name[kKeyNameBuffer];
        bool found = false;
        for (DWORD index = 0;; ++index) {
            DWORD length = sizeof name;
            if (registry.RegEnumKeyExA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            frame.names.emplace_back(name, length);
            if (!found && SameName(frame.names.back(), openedParts[level])) {
                found = true;
                frame.next = frame.names.size();
            }
        }
        if (!found) return;
        frames.push_back(std::move(frame));
        path = JoinKeyPath(path, openedParts[level]);
    }
    Frame top{opened, {}, 0};
    for (const v1::Subkey& subkey : snapshot.subkeys()) top.names.push_back(subkey.name());
    frames.push_back(std::move(top));

    std::size_t used = 0;
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next >= frame.names.size()) {
            frames.pop_back();
            continue;
        }
        std::string child = frame.path.empty() ? frame.names[frame.next] : frame.path + '\\' + frame.names[frame.next];
        ++frame.next;
        if (frames.size() > static_cast<std::size_t>(qv::kMaxKeyDepth)) continue;
        CRegHandle key(registry);
        if (registry.RegOpenKeyExA(root, child.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
            continue;  // gone meanwhile: the loader will find that out itself
        v1::Snapshot* ahead = reply.add_ahead();
        std::size_t cost = child.size() + kItemOverhead;
        const LONG status = FillSnapshot(registry, key.Get(), *ahead, 0, 0, budget - std::min(budget, used), cost);
        if (status != ERROR_SUCCESS || !ahead->values_complete() || !ahead->subkeys_complete()) {
            // Too big for what is left: its own open fetches it.
            reply.mutable_ahead()->RemoveLast();
            return;
        }
        used += cost;
        ahead->set_path(std::move(child));
        Frame next{ahead->path(), {}, 0};
        for (const v1::Subkey& subkey : ahead->subkeys()) next.names.push_back(subkey.name());
        frames.push_back(std::move(next));
        if (used >= budget) break;
    }
    bool complete = true;
    for (const Frame& frame : frames) complete = complete && frame.next >= frame.names.size();
    reply.set_walk_complete(complete);
}

}  // namespace

grpc::Status CRegistryService::Ping(Context* context, const v1::PingRequest*, v1::PingReply* reply) {
    CCall call(*this, context, "Ping");
    if (!call.Admit()) return call.Refusal();
    reply->set_version(1);
    reply->set_read_only(m_options.readOnly);
    return grpc::Status::OK;
}

grpc::Status CRegistryService::OpenKey(Context* context, const v1::OpenKeyRequest* request,
                                       v1::OpenKeyReply* reply) {
    CCall call(*this, context, "OpenKey");
    HKEY root = nullptr;
    if (!call.Admit() || !call.Root(request->root(), root) ||
        !call.Bound("path", request->path(), kMaxPathBytes) ||
        !call.Bound("subkey", request->subkey(), kMaxPathBytes) ||
        !call.Bound("class", request->key_class(), kMaxPathBytes) ||
        !call.Bound("walk scope", request->walk_scope(), kMaxPathBytes))
        return call.Refusal();

    CRegHandle base(m_registry);
    LONG status = OpenBase(m_registry, root, request->path(), KEY_READ, base);
    CRegHandle key(m_registry);
    if (status == ERROR_SUCCESS) {
        const char* subkey = request->subkey().c_str();
        if (!request->create()) {
            status = m_registry.RegOpenKeyExA(base.Get(), subkey, 0, KEY_READ, key.Receive());
        } else if (m_options.readOnly) {
            // Opening what exists is no write.
            status = m_registry.RegOpenKeyExA(base.Get(), subkey, 0, KEY_READ, key.Receive());
            if (status == ERROR_SUCCESS) reply->set_disposition(REG_OPENED_EXISTING_KEY);
            else if (status == ERROR_FILE_NOT_FOUND) status = call.RefuseWrite();
        } else {
            std::string keyClass = request->key_class();
            DWORD disposition = 0;
            status = m_registry.RegCreateKeyExA(base.Get(), subkey, 0,
                                                request->has_class() ? keyClass.data() : nullptr,
                                                REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, key.Receive(),
                                                &disposition);
            reply->set_disposition(disposition);
        }
    }
    if (status == ERROR_SUCCESS && request->snapshot()) {
        v1::Snapshot* snapshot = reply->mutable_snapshot();
        std::size_t used = 0;
        status = FillSnapshot(m_registry, key.Get(), *snapshot, request->values_from(), request->subkeys_from(),
                              kSnapshotPageBytes, used);
        const std::string opened = JoinKeyPath(request->path(), request->subkey());
        if (status == ERROR_SUCCESS && request->read_ahead_bytes() > 0 && snapshot->values_complete() &&
            snapshot->subkeys_complete()) {
            const std::size_t budget = std::min<std::size_t>(request->read_ahead_bytes(), kMaxReadAheadBytes);
            ReadAhead(m_registry, root, opened, *snapshot, request->walk_scope(), budget, *reply);
        }
        snapshot->set_path(opened);
        if (status != ERROR_SUCCESS) reply->clear_snapshot();
    }
    reply->set_status(call.Answer(status));
    return grpc::Status::OK;
}

grpc::Status CRegistryService::GetValue(Context* context, const v1::GetValueRequest* request,
                                        v1::GetValueReply* reply) {
    CCall call(*this, context, "GetValue");
    HKEY root = nullptr;
    if (!call.Admit() || !call.Root(request->root(), root) ||
        !call.Bound("path", request->path(), kMaxPathBytes) ||
        !call.Bound("name", request->name(), kMaxNameBytes))
        return call.Refusal();

    CRegHandle key(m_registry);
    LONG status = OpenBase(m_registry, root, request->path(), KEY_READ, key);
    std::vector<char> name(kMaxNameBytes + 1);
    // The value at `index` when it has the name asked for: 0 read, 1 another
    // name, or the registry's status.
    const auto readAt = [&](DWORD index) -> LONG {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0, size = 0;
        LONG found = m_registry.RegEnumValueA(key.Get(), index, name.data(), &nameLength, nullptr, &type, nullptr, &size);
        if (found != ERROR_SUCCESS) return found;
        if (!SameName({name.data(), nameLength}, request->name())) return 1;
        if (size > kMaxValueReply) return ERROR_OUTOFMEMORY;
        std::string data(size, '\0');
        nameLength = static_cast<DWORD>(name.size());
        found = m_registry.RegEnumValueA(key.Get(), index, name.data(), &nameLength, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data.data()), &size);
        if (found != ERROR_SUCCESS) return found;
        data.resize(size);
        reply->set_type(type);
        reply->set_data(std::move(data));
        return ERROR_SUCCESS;
    };
    if (status == ERROR_SUCCESS) {
        // Where the caller saw the value, else anywhere.
        status = readAt(request->index_hint());
        if (status == 1 || status == ERROR_NO_MORE_ITEMS) {
            for (DWORD index = 0;; ++index) {
                status = index == request->index_hint() ? 1 : readAt(index);
                if (status != 1) break;
            }
            if (status == ERROR_NO_MORE_ITEMS) status = ERROR_FILE_NOT_FOUND;
        }
    }
    reply->set_status(call.Answer(status));
    return grpc::Status::OK;
}

grpc::Status CRegistryService::SetValue(Context* context, const v1::SetValueRequest* request,
                                        v1::StatusReply* reply) {
    CCall call(*this, context, "SetValue");
    HKEY root = nullptr;
    if (!call.Admit() || !call.Root(request->root(), root) ||
        !call.Bound("path", request->path(), kMaxPathBytes) ||
        !call.Bound("name", request->name(), kMaxNameBytes) ||
        !call.Bound("data", request->data(), kMaxDataBytes, false))
        return call.Refusal();
    if (m_options.readOnly) {
        reply->set_status(call.RefuseWrite());
        return grpc::Status::OK;
    }
    CRegHandle key(m_registry);
    LONG status = OpenBase(m_registry, root, request->path(), KEY_SET_VALUE, key);
    if (status == ERROR_SUCCESS) {
        const std::string& data = request->data();
        status = m_registry.RegSetValueExA(key.Get(), request->name().c_str(), 0, request->type(),
                                           reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    }
    reply->set_status(call.Answer(status));
    return grpc::Status::OK;
}

grpc::Status CRegistryService::DeleteValue(Context* context, const v1::DeleteValueRequest* request,
                                           v1::StatusReply* reply) {
    CCall call(*this, context, "DeleteValue");
    HKEY root = nullptr;
    if (!call.Admit() || !call.Root(request->root(), root) ||
        !call.Bound("path", request->path(), kMaxPathBytes) ||
        !call.Bound("name", request->name(), kMaxNameBytes))
        return call.Refusal();
    if (m_options.readOnly) {
        reply->set_status(call.RefuseWrite());
        return grpc::Status::OK;
    }
    CRegHandle key(m_registry);
    LONG status = OpenBase(m_registry, root, request->path(), KEY_SET_VALUE, key);
    if (status == ERROR_SUCCESS) status = m_registry.RegDeleteValueA(key.Get(), request->name().c_str());
    reply->set_status(call.Answer(status));
    return grpc::Status::OK;
}

grpc::Status CRegistryService::DeleteKey(Context* context, const v1::DeleteKeyRequest* request,
                                         v1::StatusReply* reply) {
    CCall call(*this, context, "DeleteKey");
    HKEY root = nullptr;
    if (!call.Admit() || !call.Root(request->root(), root) ||
        !call.Bound("path", request->path(), kMaxPathBytes) ||
        !call.Bound("subkey", request->subkey(), kMaxPathBytes))
        return call.Refusal();
    if (m_options.readOnly) {
        reply->set_status(call.RefuseWrite());
        return grpc::Status::OK;
    }
    CRegHandle base(m_registry);
    LONG status = OpenBase(m_registry, root, request->path(), KEY_READ, base);
    if (status == ERROR_SUCCESS) status = m_registry.RegDeleteKeyA(base.Get(), request->subkey().c_str());
    reply->set_status(call.Answer(status));
    return grpc::Status::OK;
}

}  // namespace qv::remote
