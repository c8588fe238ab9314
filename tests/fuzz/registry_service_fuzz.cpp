// Feeds arbitrary requests to the registry service through an in-process
// channel. An input is a run of calls, each one byte choosing the call, two
// bytes (little-endian) of length and that many bytes of the request. The
// store is made once per process; every input's writes are rolled back, so
// each input meets the same registry.
#include <grpcpp/grpcpp.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "registry/remote/registry.grpc.pb.h"
#include "registry/remote/registry_service.h"
#include "registry/store_registry.h"

namespace {

namespace fs = std::filesystem;
namespace v1 = quorvane::registry::v1;

constexpr int kMaxCalls = 16;

struct Fixture {
    fs::path dir;
    std::unique_ptr<qv::CStoreRegistry> store;
    std::unique_ptr<qv::remote::CRegistryService> service;
    std::unique_ptr<grpc::Server> server;
    std::unique_ptr<v1::Registry::Stub> stub;
};

// A little to find: values inline and too big to travel inline, subkeys
// with and without a class, a few levels deep.
void Seed(qv::CStoreRegistry& store) {
    const auto key = [&](HKEY root, const char* path, const char* keyClass) {
        std::string cls = keyClass != nullptr ? keyClass : "";
        HKEY h = nullptr;
        store.RegCreateKeyExA(root, path, 0, keyClass != nullptr ? cls.data() : nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &h, nullptr);
        return h;
    };
    const auto set = [&](HKEY h, const char* name, DWORD type, const std::string& data) {
        store.RegSetValueExA(h, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size()));
    };
    HKEY demo = key(HKEY_LOCAL_MACHINE, "Software\\Demo", nullptr);
    set(demo, "", REG_SZ, std::string("default\0", 8));
    set(demo, "Count", REG_DWORD, std::string("\x2a\0\0\0", 4));
    set(demo, "Big", REG_BINARY, std::string(20000, 'x'));
    store.RegCloseKey(demo);
    store.RegCloseKey(key(HKEY_LOCAL_MACHINE, "Software\\Demo\\Sub\\Deeper", "class"));
    store.RegCloseKey(key(HKEY_LOCAL_MACHINE, "Software\\Demo\\_Other", nullptr));
    HKEY env = key(HKEY_CURRENT_USER, "Environment", nullptr);
    set(env, "Path", REG_EXPAND_SZ, std::string("%HOME%\\bin\0", 11));
    store.RegCloseKey(env);
}

Fixture& Get() {
    static Fixture* fixture = [] {
        auto* f = new Fixture;
        char name[] = "/tmp/qv-service-fuzz-XXXXXX";
        if (mkdtemp(name) == nullptr) std::abort();
        f->dir = name;
        std::atexit([] { std::error_code ignored; fs::remove_all(Get().dir, ignored); });
        std::string error;
        f->store = qv::CStoreRegistry::Open((f->dir / "registry.db").string(), &error);
        if (f->store == nullptr) std::abort();
        Seed(*f->store);
        qv::remote::ServiceOptions options;
        options.log = [](const std::string&) {};  // refusals are expected here
        f->service = std::make_unique<qv::remote::CRegistryService>(*f->store, options);
        grpc::ServerBuilder builder;  // no listening port: in-process calls only
        builder.RegisterService(f->service.get());
        f->server = builder.BuildAndStart();
        if (f->server == nullptr) std::abort();
        grpc::ChannelArguments args;
        args.SetMaxReceiveMessageSize(-1);
        f->stub = v1::Registry::NewStub(f->server->InProcessChannel(args));
        return f;
    }();
    return *fixture;
}

template <typename Request, typename Reply, typename Call>
void Send(const std::uint8_t* data, std::size_t size, Call call) {
    Request request;
    if (!request.ParseFromArray(data, static_cast<int>(size))) return;
    Reply reply;
    grpc::ClientContext context;
    const grpc::Status status = (Get().stub.get()->*call)(&context, request, &reply);
    // The service answers everything itself; a transport failure is a fault.
    if (status.error_code() == grpc::StatusCode::UNAVAILABLE || status.error_code() == grpc::StatusCode::INTERNAL)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Fixture& f = Get();
    if (f.store->BeginBatch() != ERROR_SUCCESS) std::abort();
    for (int calls = 0; calls < kMaxCalls && size >= 3; ++calls) {
        const std::uint8_t which = data[0];
        const std::size_t length = std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
        const std::uint8_t* body = data + 3;
        data += 3 + length;
        size -= 3 + length;
        using S = v1::Registry::Stub;
        switch (which % 6) {
        case 0: Send<v1::PingRequest, v1::PingReply>(body, length, &S::Ping); break;
        case 1: Send<v1::OpenKeyRequest, v1::OpenKeyReply>(body, length, &S::OpenKey); break;
        case 2: Send<v1::GetValueRequest, v1::GetValueReply>(body, length, &S::GetValue); break;
        case 3: Send<v1::SetValueRequest, v1::StatusReply>(body, length, &S::SetValue); break;
        case 4: Send<v1::DeleteValueRequest, v1::StatusReply>(body, length, &S::DeleteValue); break;
        default: Send<v1::DeleteKeyRequest, v1::StatusReply>(body, length, &S::DeleteKey); break;
        }
    }
    f.store->RollbackBatch();
    return 0;
}
