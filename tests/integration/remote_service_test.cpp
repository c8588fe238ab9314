// quorvane-regd as a service: who it lets in, what it refuses, how it
// bears many clients and bad requests, how it starts and stops, and how
// computer names become addresses.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grpcpp/grpcpp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>

#include "model/registry_errors.h"
#include "registry/remote/registry.grpc.pb.h"
#include "registry/remote/remote_common.h"
#include "registry/unavailable_registry.h"
#include "tests/integration/remote_fixture.h"

namespace qv {
namespace {

namespace v1 = quorvane::registry::v1;

// An HTTP/2 frame: 24-bit length, type, flags, stream id, payload.
std::string Http2Frame(std::uint8_t type, std::uint8_t flags, std::uint32_t stream, const std::string& payload) {
    const std::size_t n = payload.size();
    const char header[9] = {char(n >> 16), char(n >> 8), char(n),           char(type),  char(flags),
                            char(stream >> 24), char(stream >> 16), char(stream >> 8), char(stream)};
    return std::string(header, 9) + payload;
}

// A line of /proc/<pid>/status ("VmRSS", "VmHWM") in MiB; -1 when absent.
long ProcStatusMiB(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1) / 1024;
    return -1;
}

class RemoteService : public ::testing::Test {
protected:
    void SetUp() override {
        dir = TestFolder("qv-regd");
        store = (dir / "registry.db").string();
        auto registry = CStoreRegistry::Open(store, &error);
        ASSERT_NE(registry, nullptr) << error;
        ASSERT_EQ(BuildRegistry(*registry, "[HKLM\\Software\\Demo]\n\"v\"=\"1\"\n", &error), 0) << error;
    }
    void TearDown() override {
        service.Stop();
        fs::remove_all(dir);
    }
    std::string File(const std::string& name, const std::string& text) {
        std::ofstream((dir / name).string(), std::ios::binary) << text;
        return (dir / name).string();
    }
    void Start(test::RegdOptions options = {}) {
        options.store = store;
        options.exitAfter = 120;
        ASSERT_TRUE(service.Start(options, &error)) << error;
    }
    // What a client with `options` gets for the Demo key's first value: 0 when it reads it.
    LONG ReadDemo(const RemoteOptions& options) {
        CRegistryRouter router(none, options);
        HKEY root = nullptr, key = nullptr;
        LONG status = router.RegConnectRegistryA(service.Computer().c_str(), HKEY_LOCAL_MACHINE, &root);
        if (status == 0) status = router.RegOpenKeyExA(root, "Software\\Demo", 0, KEY_READ, &key);
        if (status == 0) {
            char name[16];
            DWORD length = sizeof name;
            status = router.RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
            router.RegCloseKey(key);
        }
        router.RegCloseKey(root);
        return status;
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    fs::path dir;
    std::string store, error;
    CUnavailableRegistry none;
    test::CRegdChild service;
};

// Token and TLS together: the refusals are logged with the peer.
TEST_F(RemoteService, OnlyClientsThatTrustTheCertificateAndKnowTheTokenGetIn) {
    const std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
    const std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
                                " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1"
                                " -keyout '" + key + "' -out '" + cert + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "openssl could not make a certificate";
    test::RegdOptions options;
    options.tlsCert = cert;
    options.tlsKey = key;
    options.tokenFile = File("token", "s3cret-token\n");
    Start(options);
    RemoteOptions client;
    client.token = "s3cret-token";
    client.connectTimeout = std::chrono::seconds(3);
    EXPECT_EQ(ReadDemo(client), remote::kErrorServiceBusy) << "plain text against TLS";
    client.caFile = (dir / "absent.pem").string();
    EXPECT_EQ(ReadDemo(client), ERROR_FILE_NOT_FOUND);
    client.caFile = cert;
    EXPECT_EQ(ReadDemo(client), ERROR_SUCCESS);
    client.token = "s3cret-tokeN";
    EXPECT_EQ(ReadDemo(client), ERROR_ACCESS_DENIED);
    client.token.clear();
    EXPECT_EQ(ReadDemo(client), ERROR_ACCESS_DENIED);
    const std::string log = service.Log();
    EXPECT_EQ(Count(log, "Ping refused: no token"), 1) << log;
    EXPECT_EQ(Count(log, "Ping refused: wrong token"), 1) << log;
    EXPECT_EQ(Count(log, "refused"), 2) << log;
    EXPECT_NE(log.find("127.0.0.1"), std::string::npos) << "the peer is named";
}

TEST_F(RemoteService, ReadOnlyServiceRefusesEveryWrite) {
    test::RegdOptions options;
    options.readOnly = true;
    Start(options);
    CRegistryRouter router(none, RemoteOptions{});
    HKEY root = nullptr, demo = nullptr, fresh = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(router.RegConnectRegistryA(service.Computer().c_str(), HKEY_LOCAL_MACHINE, &root), 0);
    ASSERT_EQ(router.RegCreateKeyExA(root, "Software\\Demo", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &demo, &disposition),
              ERROR_SUCCESS) << "an existing key opens";
    EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
    for (LONG status : {router.RegCreateKeyExA(root, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &fresh, nullptr),
                        router.RegSetValueExA(demo, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
                        router.RegDeleteValueA(demo, "v"), router.RegDeleteKeyA(root, "Software\\Demo")})
        EXPECT_EQ(status, ERROR_ACCESS_DENIED);
    router.RegCloseKey(demo);
    router.RegCloseKey(root);
    EXPECT_EQ(ReadDemo(RemoteOptions{}), ERROR_SUCCESS) << "reading goes on";
    EXPECT_EQ(StoreDump(store, "Software"), std::string("[Software]\n  [Demo] v=1:1\0\n", 27));
    EXPECT_EQ(Count(service.Log(), "refused: read-only"), 4) << service.Log();
}

TEST_F(RemoteService, EightClientsLoadingAtOnceAllGetTheWholeTree) {
    {
        auto registry = CStoreRegistry::Open(store, &error);
        std::string tree;  // 3,000 keys in 30 groups, values of several types and sizes
        for (int k = 0; k < 3000; ++k)
            tree += "[HKLM\\Software\\Synthetic\\G" + std::to_string(k % 30) + "\\K" + std::to_string(k) +
                    "]\n\"s\"=\"" + std::string(static_cast<std::size_t>(k % 97), 'a') + "\"\n\"d\"=dword:" +
                    std::to_string(k) + "\n\"b\"=hex:00,ff,0" + std::to_string(k % 10) + "\n";
        ASSERT_EQ(BuildRegistry(*registry, tree, &error), 0) << error;
    }
    const std::string expected = StoreDump(store, "Software\\Synthetic");
    EXPECT_GT(expected.size(), 100000u);
    Start();
    std::vector<std::string> loaded(8);
    std::vector<std::thread> clients;
    for (std::size_t i = 0; i < loaded.size(); ++i)
        clients.emplace_back([&, i] { loaded[i] = RemoteDump(service.Computer(), "Software\\Synthetic"); });
    for (std::thread& client : clients) client.join();
    for (std::size_t i = 0; i < loaded.size(); ++i) EXPECT_TRUE(loaded[i] == expected) << "client " << i;
}

TEST_F(RemoteService, MalformedAndOversizedRequestsLeaveItServing) {
    Start();
    {  // bytes that are no HTTP/2 at all
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(service.Port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const std::string junk = "GET / HTTP/1.1\r\n\r\n" + std::string(70000, '\xff');
        EXPECT_GT(write(fd, junk.data(), junk.size()), 0);
        close(fd);
    }
    auto stub = v1::Registry::NewStub(grpc::CreateChannel(service.Computer(), grpc::InsecureChannelCredentials()));
    const auto call = [&](auto method, const auto& request, auto& reply) {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(10));
        return ((*stub).*method)(&context, request, &reply).error_code();
    };
    const auto open = [](v1::Root root, std::string path, std::string subkey) {
        v1::OpenKeyRequest r;
        r.set_root(root);
        r.set_path(std::move(path));
        r.set_subkey(std::move(subkey));
        return r;
    };
    v1::OpenKeyReply opened;
    for (const v1::OpenKeyRequest& bad : {open(v1::LOCAL_MACHINE, std::string(40000, 'p'), ""),
                                          open(static_cast<v1::Root>(99), "Software", ""),
                                          open(v1::LOCAL_MACHINE, "Software", std::string("Demo\0Other", 10))})
        EXPECT_EQ(call(&v1::Registry::Stub::OpenKey, bad, opened), grpc::StatusCode::INVALID_ARGUMENT);
    // Absurd indexes and budgets are only answered.
    v1::OpenKeyRequest absurd = open(v1::LOCAL_MACHINE, "Software", "Demo");
    absurd.set_snapshot(true);
    absurd.set_values_from(0xffffffffu);
    absurd.set_read_ahead_bytes(0xffffffffu);
    absurd.set_walk_scope(std::string(3000, '\\'));
    EXPECT_EQ(call(&v1::Registry::Stub::OpenKey, absurd, opened), grpc::StatusCode::OK);
    EXPECT_EQ(opened.status(), 0);
    v1::StatusReply written;
    v1::SetValueRequest set;
    set.set_root(v1::LOCAL_MACHINE);
    set.set_path("Software\\Demo");
    set.set_data(std::string(2 << 20, 'd'));
    EXPECT_EQ(call(&v1::Registry::Stub::SetValue, set, written), grpc::StatusCode::INVALID_ARGUMENT);
    set.set_data(std::string(5 << 20, 'd'));
    EXPECT_EQ(call(&v1::Registry::Stub::SetValue, set, written), grpc::StatusCode::RESOURCE_EXHAUSTED);

    // The client refuses data over the bound before sending it.
    CRegistryRouter router(none, RemoteOptions{});
    HKEY root = nullptr;
    ASSERT_EQ(router.RegConnectRegistryA(service.Computer().c_str(), HKEY_LOCAL_MACHINE, &root), 0);
    const std::string big(2 << 20, 'b');
    const std::uint64_t before = router.Remote().RequestCount();
    EXPECT_EQ(router.RegSetValueExA(root, "big", 0, REG_BINARY, reinterpret_cast<const BYTE*>(big.data()),
                                    static_cast<DWORD>(big.size())),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(router.Remote().RequestCount(), before);
    router.RegCloseKey(root);
    EXPECT_EQ(router.Ping(service.Computer()), ERROR_SUCCESS);
    EXPECT_GE(Count(service.Log(), "refused"), 4) << service.Log();
}

// HTTP/2 "rapid reset": streams opened and cancelled at once, as fast as the
// client can; a connection the service closes is opened again. Afterwards
// the service answers others and has given back what the burst took.
TEST_F(RemoteService, RapidResetFloodLeavesItServingAndGivesItsMemoryBack) {
    Start();
    const auto literal = [](const std::string& name, const std::string& value) {  // not indexed, no Huffman
        return '\0' + std::string(1, char(name.size())) + name + char(value.size()) + value;
    };
    const std::string headers = "\x83\x86" /* :method POST, :scheme http */ +
                                literal(":path", "/quorvane.registry.v1.Registry/Ping") +
                                literal(":authority", service.Computer()) +
                                literal("content-type", "application/grpc") + literal("te", "trailers");
    const std::string cancel("\0\0\0\x08", 4);
    constexpr int kPairs = 20000;
    int queued = 0, connections = 0, fd = -1;
    std::uint32_t stream = 1;
    std::string out, in;
    // A PING sent after the flood comes back once the service has read it all.
    bool pinged = false, ponged = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ponged && std::chrono::steady_clock::now() < deadline) {
        if (fd < 0) {
            fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(service.Port()));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << "after " << connections;
            fcntl(fd, F_SETFL, O_NONBLOCK);
            out = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n" + Http2Frame(4, 0, 0, "");  // preface, SETTINGS
            in.clear();
            stream = 1;
            pinged = false;
            ++connections;
        }
        for (; out.size() < 65536 && queued < kPairs; ++queued, stream += 2)
            out += Http2Frame(1, 0x4, stream, headers) + Http2Frame(3, 0, stream, cancel);  // HEADERS, RST_STREAM
        if (queued == kPairs && !pinged) out += Http2Frame(6, 0, 0, std::string(8, 'p'));
        pinged = queued == kPairs;
        pollfd ready{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
        poll(&ready, 1, 100);
        bool closed = (ready.revents & (POLLERR | POLLHUP)) != 0;
        char buffer[65536];
        if (ready.revents & POLLIN) {  // all but the PING's answer is dropped
            const ssize_t got = read(fd, buffer, sizeof buffer);
            closed = closed || got == 0 || (got < 0 && errno != EAGAIN);
            if (got > 0) in.append(buffer, static_cast<std::size_t>(got));
            const auto byte = [&](std::size_t i) { return std::size_t{static_cast<std::uint8_t>(in[i])}; };
            while (in.size() >= 9 && in.size() >= 9 + (byte(0) << 16 | byte(1) << 8 | byte(2))) {
                ponged = ponged || (byte(3) == 6 && (byte(4) & 1) != 0);  // PING with ACK
                in.erase(0, 9 + (byte(0) << 16 | byte(1) << 8 | byte(2)));
            }
        }
        if (!closed && (ready.revents & POLLOUT)) {
            const ssize_t put = send(fd, out.data(), out.size(), MSG_NOSIGNAL);
            if (put > 0) out.erase(0, static_cast<std::size_t>(put));
            closed = put < 0 && errno != EAGAIN;
        }
        if (closed) {
            close(fd);
            fd = -1;
            out.clear();
        }
    }
    if (fd >= 0) close(fd);
    ASSERT_TRUE(ponged) << "the flood took longer than its 10 s; " << queued << " pairs sent";
    const auto eventually = [](std::chrono::seconds limit, auto&& holds) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!holds()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return true;
    };
    CRegistryRouter router(none, RemoteOptions{});
    EXPECT_TRUE(eventually(std::chrono::seconds(15), [&] { return router.Ping(service.Computer()) == 0; }))
        << "a normal client gets no answer";
    // Idle, it holds some 20 MiB; the burst took over 300.
    long rss = 0;
    const auto settled = [&] { return (rss = ProcStatusMiB(service.Pid(), "VmRSS")) < 64; };
    EXPECT_TRUE(eventually(std::chrono::seconds(10), settled)) << "VmRSS stays at " << rss << " MiB";
    std::cout << "after " << queued << " HEADERS+RST_STREAM on " << connections << " connection(s): VmRSS " << rss
              << " MiB, peak " << ProcStatusMiB(service.Pid(), "VmHWM") << " MiB\n";
}

TEST_F(RemoteService, StartsOnlyWhereItIsSafeStopsCleanlyAndClientsReconnect) {
    std::string log;
    EXPECT_EQ(test::RunRegd({"--store", store, "--listen", "0.0.0.0:0"}, &log), 2);
    EXPECT_NE(log.find("--tls-cert, --tls-key and --token-file"), std::string::npos) << log;
    for (const std::vector<std::string>& refused :
         {std::vector<std::string>{"--store", store, "--listen", "[::]:0", "--token-file", File("t", "x")},
          {"--store", store, "--tls-cert", "c.pem"}, {"--store", store, "--token-file", File("empty", "\n")},
          {"--bogus"}})
        EXPECT_EQ(test::RunRegd(refused, &log), 2) << refused[0];

    Start();
    const int port = service.Port();
    CRegistryRouter router(none, RemoteOptions{});
    const std::string computer = service.Computer();
    ASSERT_EQ(router.Ping(computer), ERROR_SUCCESS);
    const int status = service.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "SIGTERM ends it cleanly";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(router.Ping(computer), remote::kErrorServiceBusy);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // The client replaces the channel that failed.
    test::RegdOptions options;
    options.listen = "127.0.0.1:" + std::to_string(port);
    options.store = store;
    options.exitAfter = 120;
    if (!service.Start(options, &error)) GTEST_SKIP() << "the port was taken meanwhile: " << error;
    EXPECT_EQ(router.Ping(computer), ERROR_SUCCESS);
}

// What the client makes of each way a call can fail. gRPC answers
// RESOURCE_EXHAUSTED itself when a flood leaves the service no thread: that,
// like a service not reached in time, is "busy, try again", not a fault of
// the request.
TEST(RemoteStatuses, FailedCallsBecomeRegistryStatuses) {
    using Code = grpc::StatusCode;
    struct CFailing : v1::Registry::Service {
        std::atomic<Code> code{Code::OK};
        grpc::Status Ping(grpc::ServerContext*, const v1::PingRequest*, v1::PingReply*) override {
            return grpc::Status(code.load(), "planted");
        }
    } failing;
    grpc::ServerBuilder builder;
    int port = 0;
    builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
    builder.RegisterService(&failing);
    const std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
    ASSERT_TRUE(server && port != 0);
    const LONG busy = remote::kErrorServiceBusy;
    const std::pair<Code, LONG> cases[] = {
        {Code::OK, ERROR_SUCCESS},          {Code::RESOURCE_EXHAUSTED, busy},        {Code::UNAVAILABLE, busy},
        {Code::DEADLINE_EXCEEDED, busy},    {Code::UNAUTHENTICATED, ERROR_ACCESS_DENIED},
        {Code::PERMISSION_DENIED, ERROR_ACCESS_DENIED}, {Code::INVALID_ARGUMENT, ERROR_INVALID_PARAMETER},
        {Code::OUT_OF_RANGE, ERROR_INVALID_PARAMETER},  {Code::UNIMPLEMENTED, remote::kErrorNotSupported},
        {Code::INTERNAL, remote::kErrorUnexpectedNetError}};
    CRemoteRegistry client;
    for (const auto& [code, status] : cases) {
        failing.code = code;
        EXPECT_EQ(client.Ping("127.0.0.1:" + std::to_string(port)), status) << "gRPC status " << code;
    }
    EXPECT_EQ(RegistryErrorText(busy),
              "The computer's registry service is busy or cannot be reached; try again later. (status 1723)");
    server->Shutdown();
}

TEST(ComputerNames, BecomeTargetsWithTheDefaultPort) {
    const struct {
        const char* name;
        const char* target;  // null: refused
    } cases[] = {
        {"regbox", "regbox:7787"},     {"regbox:9000", "regbox:9000"}, {"10.1.2.3", "10.1.2.3:7787"},
        {"[::1]:7788", "[::1]:7788"},  {"[::1]", "[::1]:7787"},        {"fe80::1", "[fe80::1]:7787"},
        {"", nullptr},                 {":7787", nullptr},             {"regbox:0", nullptr},
        {"regbox:65536", nullptr},     {"regbox:x1", nullptr},         {"[::1", nullptr},
        {"reg box", nullptr},          {"a/b", nullptr},               {"[::1]x", nullptr},
    };
    for (const auto& c : cases) {
        std::string target;
        EXPECT_EQ(RemoteTarget(c.name, target), c.target != nullptr) << c.name;
        EXPECT_EQ(target, c.target ? c.target : target) << c.name;
    }
    const std::pair<const char*, bool> hosts[] = {
        {"localhost", true}, {"127.0.0.1", true}, {"127.8.9.10", true}, {"::1", true},          {"[::1]", true},
        {"0.0.0.0", false},  {"[::]", false},     {"10.0.0.1", false},  {"128.0.0.1", false},   {"regbox", false},
        {"localhost.example", false}};
    for (const auto& [host, loopback] : hosts) EXPECT_EQ(remote::IsLoopbackHost(host), loopback) << host;
}

}  // namespace
}  // namespace qv
