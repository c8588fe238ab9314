// quorvane-regd as a service: who it lets in, what it refuses, how it
// bears many clients and bad requests, how it starts and stops, and how
// computer names become addresses.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grpcpp/grpcpp.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <thread>
#include <vector>

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

int ConnectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval bound{10, 0};  // a service that neither answers nor closes must not hang the test
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    close(fd);
    return -1;
}

// Whether `holds()` comes true within `limit`, asked every 200 ms.
bool Eventually(std::chrono::seconds limit, const std::function<bool()>& holds) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!holds()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
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
    // Its owner's alone, as the service wants a token to be.
    std::string File(const std::string& name, const std::string& text) {
        std::ofstream((dir / name).string(), std::ios::binary) << text;
        fs::permissions(dir / name, fs::perms::owner_read | fs::perms::owner_write);
        return (dir / name).string();
    }
    // The service's certificate for localhost (its own CA); a CA, a client
    // certificate it signed, and a client certificate nobody signed.
    void MakeCertificates() {
        const auto make = [&](const std::string& name, const std::string& how, const std::string& signer = "") {
            const std::string command = "cd '" + dir.string() + "' && openssl " + how + " -newkey ec -pkeyopt "
                                        "ec_paramgen_curve:prime256v1 -nodes -days 1 -keyout " + name + "-key.pem" +
                                        (signer.empty() ? "" : " 2>/dev/null | openssl x509 -req -days 1 " + signer) +
                                        " -out " + name + ".pem >/dev/null 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0) << "openssl could not make " << name;
        };
        make("cert", "req -x509 -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1");
        make("ca", "req -x509 -subj /CN=qv-ca");
        make("client", "req -subj /CN=client", "-CA ca.pem -CAkey ca-key.pem -CAcreateserial");
        make("rogue", "req -x509 -subj /CN=client");
        const auto pem = [&](const char* name) { return (dir / (std::string(name) + ".pem")).string(); };
        cert = pem("cert"), key = pem("cert-key"), ca = pem("ca");
        client = {pem("client"), pem("client-key")};
        rogue = {pem("rogue"), pem("rogue-key")};
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
    std::string cert, key, ca;                                   // from MakeCertificates()
    std::pair<std::string, std::string> client, rogue;           // certificate, key
    CUnavailableRegistry none;
    test::CRegdChild service;
};

// Token and TLS together: the refusals are logged with the peer.
TEST_F(RemoteService, OnlyClientsThatTrustTheCertificateAndKnowTheTokenGetIn) {
    ASSERT_NO_FATAL_FAILURE(MakeCertificates());
    test::RegdOptions options;
    options.tlsCert = cert;
    options.tlsKey = key;
    options.tokenFile = File("token", "s3cret-token-16b\n");
    Start(options);
    RemoteOptions client;
    client.token = "s3cret-token-16b";
    client.connectTimeout = std::chrono::seconds(3);
    EXPECT_EQ(ReadDemo(client), remote::kErrorServiceBusy) << "plain text against TLS";
    client.caFile = (dir / "absent.pem").string();
    EXPECT_EQ(ReadDemo(client), ERROR_FILE_NOT_FOUND);
    client.caFile = cert;
    EXPECT_EQ(ReadDemo(client), ERROR_SUCCESS);
    client.token = "s3cret-token-16B";
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
        const int fd = ConnectLoopback(service.Port());
        ASSERT_GE(fd, 0);
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

using Tls = std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)>;

// A TLS client's settings: HTTP/2, no check of the service's certificate,
// and `certificate` (chain and key files) shown when asked for, if given.
Tls ClientTls(const std::pair<std::string, std::string>& certificate = {}) {
    signal(SIGPIPE, SIG_IGN);  // writing to a service that hung up must not end the test
    Tls tls(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    SSL_CTX_set_alpn_protos(tls.get(), reinterpret_cast<const unsigned char*>("\x02h2"), 3);
    if (!certificate.first.empty()) {
        EXPECT_EQ(SSL_CTX_use_certificate_chain_file(tls.get(), certificate.first.c_str()), 1);
        EXPECT_EQ(SSL_CTX_use_PrivateKey_file(tls.get(), certificate.second.c_str(), SSL_FILETYPE_PEM), 1);
    }
    return tls;
}

struct Flood {
    int pairs = 0, connections = 0;
    bool ponged = false;  // the service read it all
};

// HTTP/2 "rapid reset" against 127.0.0.1:port, over TLS when `tls` is given:
// `pairs` streams opened and cancelled at once (HEADERS, RST_STREAM), as
// fast as the service reads them; a connection the service closes is opened
// again. Ends when a PING sent after the last pair comes back, or after 10 s.
Flood RapidReset(int port, int pairs, SSL_CTX* tls = nullptr) {
    const auto literal = [](const std::string& name, const std::string& value) {  // not indexed, no Huffman
        return '\0' + std::string(1, char(name.size())) + name + char(value.size()) + value;
    };
    const std::string headers = std::string(tls ? "\x83\x87" : "\x83\x86") /* :method POST, :scheme */ +
                                literal(":path", "/quorvane.registry.v1.Registry/Ping") +
                                literal(":authority", "127.0.0.1:" + std::to_string(port)) +
                                literal("content-type", "application/grpc") + literal("te", "trailers");
    const std::string cancel("\0\0\0\x08", 4);
    Flood flood;
    int fd = -1;
    SSL* ssl = nullptr;
    std::uint32_t stream = 1;
    std::string out, in;
    std::size_t retry = 0;  // OpenSSL wants a write that could not go on repeated as it was
    const auto hangUp = [&] {
        if (ssl != nullptr) SSL_free(ssl);
        if (fd >= 0) close(fd);
        ssl = nullptr, fd = -1, retry = 0;
        out.clear();
    };
    // Bytes moved, 0 when the socket is not ready, -1 when the connection is gone.
    const auto io = [&](bool reading, char* data, std::size_t size) -> long {
        if (ssl == nullptr) {
            const ssize_t n = reading ? read(fd, data, size) : send(fd, data, size, MSG_NOSIGNAL);
            return n > 0 ? n : n < 0 && errno == EAGAIN ? 0 : -1;
        }
        const int n = reading ? SSL_read(ssl, data, static_cast<int>(size)) : SSL_write(ssl, data, static_cast<int>(size));
        const int why = n > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl, n);
        return n > 0 ? n : why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE ? 0 : -1;
    };
    bool pinged = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!flood.ponged && std::chrono::steady_clock::now() < deadline) {
        if (fd < 0) {
            if ((fd = ConnectLoopback(port)) < 0) break;
            if (tls != nullptr) {
                ssl = SSL_new(tls);
                SSL_set_fd(ssl, fd);
                SSL_set_mode(ssl, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
                if (SSL_connect(ssl) != 1) break;
            }
            fcntl(fd, F_SETFL, O_NONBLOCK);
            out = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n" + Http2Frame(4, 0, 0, "");  // preface, SETTINGS
            in.clear();
            stream = 1;
            pinged = false;
            ++flood.connections;
        }
        for (; out.size() < 65536 && flood.pairs < pairs; ++flood.pairs, stream += 2)
            out += Http2Frame(1, 0x4, stream, headers) + Http2Frame(3, 0, stream, cancel);  // HEADERS, RST_STREAM
        if (flood.pairs == pairs && !pinged) out += Http2Frame(6, 0, 0, std::string(8, 'p'));
        pinged = flood.pairs == pairs;
        pollfd ready{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
        poll(&ready, 1, 100);
        bool closed = (ready.revents & (POLLERR | POLLHUP)) != 0;
        char buffer[65536];
        for (long got = 1; !closed && got > 0 && (ready.revents & POLLIN);) {  // all but the PING's answer is dropped
            got = io(true, buffer, sizeof buffer);
            closed = got < 0;
            if (got > 0) in.append(buffer, static_cast<std::size_t>(got));
            const auto byte = [&](std::size_t i) { return std::size_t{static_cast<std::uint8_t>(in[i])}; };
            while (in.size() >= 9 && in.size() >= 9 + (byte(0) << 16 | byte(1) << 8 | byte(2))) {
                flood.ponged = flood.ponged || (byte(3) == 6 && (byte(4) & 1) != 0);  // PING with ACK
                in.erase(0, 9 + (byte(0) << 16 | byte(1) << 8 | byte(2)));
            }
        }
        if (!closed && !out.empty() && (ready.revents & POLLOUT)) {
            const long put = io(false, out.data(), retry > 0 ? retry : std::min<std::size_t>(out.size(), 16384));
            retry = put == 0 ? (retry > 0 ? retry : std::min<std::size_t>(out.size(), 16384)) : 0;
            if (put > 0) out.erase(0, static_cast<std::size_t>(put));
            closed = put < 0;
        }
        if (closed) hangUp();
    }
    hangUp();
    return flood;
}

// HTTP/2 "rapid reset" in plain text: afterwards the service answers
// others, has given back what the burst took, and has not logged a line a stream.
TEST_F(RemoteService, RapidResetFloodLeavesItServingAndGivesItsMemoryBack) {
    Start();
    const Flood flood = RapidReset(service.Port(), 20000);
    ASSERT_TRUE(flood.ponged) << "the flood took longer than its 10 s; " << flood.pairs << " pairs sent";
    CRegistryRouter router(none, RemoteOptions{});
    EXPECT_TRUE(Eventually(std::chrono::seconds(15), [&] { return router.Ping(service.Computer()) == 0; }))
        << "a normal client gets no answer";
    // Idle, it holds some 20 MiB; the burst took over 300.
    long rss = 0;
    const auto settled = [&] { return (rss = ProcStatusMiB(service.Pid(), "VmRSS")) < 64; };
    EXPECT_TRUE(Eventually(std::chrono::seconds(10), settled)) << "VmRSS stays at " << rss << " MiB";
    std::cout << "after " << flood.pairs << " HEADERS+RST_STREAM on " << flood.connections << " connection(s): VmRSS " << rss
              << " MiB, peak " << ProcStatusMiB(service.Pid(), "VmHWM") << " MiB\n";
    EXPECT_LT(Count(service.Log(), "\n"), 10) << "a line a stream: " << service.Log().substr(0, 2000);
}

// A TLS client without gRPC: whether the service answers its HTTP/2
// preface and request at all.
bool RawTlsClientIsAnswered(int port, SSL_CTX* tls) {
    const int fd = ConnectLoopback(port);
    SSL* ssl = SSL_new(tls);
    SSL_set_fd(ssl, fd);
    bool answered = false;
    // TLS 1.3 lets a client finish its handshake before the service has
    // judged its certificate; the refusal comes with the first read.
    if (fd >= 0 && SSL_connect(ssl) == 1) {
        const std::string request = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n" + Http2Frame(4, 0, 0, "") +
                                    Http2Frame(1, 0x4, 1, "\x83\x87");  // SETTINGS, HEADERS
        char reply[64];
        answered = SSL_write(ssl, request.data(), static_cast<int>(request.size())) > 0 &&
                   SSL_read(ssl, reply, sizeof reply) > 0;
    }
    SSL_free(ssl);
    if (fd >= 0) close(fd);
    return answered;
}

// With --tls-client-ca, a peer without a certificate the CA signed is turned
// away in the handshake: thousands of them reach no HTTP/2 (so no rapid
// reset either), cost no memory and take a line of the log. A holder's
// rapid reset is logged in a line, not a line a stream, and calls made
// meanwhile get their answer or "busy", never a wrong status.
TEST_F(RemoteService, ClientCertificatesKeepStrangersOutAndAHoldersFloodIsLoggedAndBorne) {
    ASSERT_NO_FATAL_FAILURE(MakeCertificates());
    const std::string token = "s3cret-token-16b";
    test::RegdOptions options;
    options.tlsCert = cert;
    options.tlsKey = key;
    options.tlsClientCa = ca;
    options.tokenFile = File("token", token);
    Start(options);
    const Tls holder = ClientTls(client), stranger = ClientTls();
    EXPECT_TRUE(RawTlsClientIsAnswered(service.Port(), holder.get())) << "the holder of a signed certificate";
    EXPECT_FALSE(RawTlsClientIsAnswered(service.Port(), ClientTls(rogue).get())) << "a certificate nobody trusted signed";
    RemoteOptions real;
    real.caFile = cert;
    real.token = token;
    EXPECT_EQ(ReadDemo(real), remote::kErrorServiceBusy) << "the program without its certificate";
    real.certFile = client.first;
    real.keyFile = client.second;
    ASSERT_EQ(ReadDemo(real), ERROR_SUCCESS);

    for (int i = 0; i < 100; ++i) RawTlsClientIsAnswered(service.Port(), stranger.get());  // the allocator's first blocks
    const long before = ProcStatusMiB(service.Pid(), "VmRSS");
    int answered = 0;
    for (int i = 0; i < 2000; ++i) answered += RawTlsClientIsAnswered(service.Port(), stranger.get()) ? 1 : 0;
    const long strangers = ProcStatusMiB(service.Pid(), "VmRSS");
    EXPECT_EQ(answered, 0);
    EXPECT_LT(strangers - before, 16) << "VmRSS " << before << " -> " << strangers << " MiB";

    std::atomic<bool> flooding{true};
    Flood flood;
    std::thread flooder([&] {
        flood = RapidReset(service.Port(), 5000, holder.get());
        flooding = false;
    });
    std::map<LONG, int> answers;
    for (int i = 0; i < 200 && (flooding || i < 10); ++i) ++answers[ReadDemo(real)];
    flooder.join();
    EXPECT_TRUE(flood.ponged) << flood.pairs << " pairs sent";
    for (const auto& [status, count] : answers)
        EXPECT_TRUE(status == ERROR_SUCCESS || status == remote::kErrorServiceBusy) << count << " x status " << status;
    EXPECT_TRUE(Eventually(std::chrono::seconds(15), [&] { return ReadDemo(real) == ERROR_SUCCESS; })) << "never recovered";
    std::string log;
    Eventually(std::chrono::seconds(5), [&] { return Count(log = service.Log(), " flood: ") > 0; });
    EXPECT_EQ(Count(log, "refused"), 0) << "no call of the program was refused: " << log;
    EXPECT_EQ(Count(log, "TLS handshakes failed: "), 1) << log;
    EXPECT_EQ(Count(log, " flood: "), 1) << log;
    EXPECT_LT(Count(log, "\n"), 10) << log.substr(0, 2000);
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
    // A token short enough to guess is refused, with the reason.
    for (const char* token : {"x\n", "0123456789abcde\n"}) {
        EXPECT_EQ(test::RunRegd({"--store", store, "--listen", "127.0.0.1:0", "--exit-after", "1",
                                 "--token-file", File("short", token)}, &log), 2);
        EXPECT_NE(log.find("bytes long; a token needs at least 16"), std::string::npos) << log;
    }
    // A key or token other users may read is refused, as ssh refuses such
    // keys, naming the chmod that fixes it; the same files at 0600 serve.
    MakeCertificates();
    const std::string token = File("the token", "s3cret-token-16b\n");
    struct Case {
        unsigned tokenMode, keyMode;
        std::string refused;  // the message; empty: it serves
    } cases[] = {
        {0644, 0600, token + " is readable by other users; run: chmod 600 '" + token + "'"},
        {0640, 0600, token + " is readable by other users"},
        {0600, 0604, key + " is readable by other users; run: chmod 600 " + key},
        {0600, 0600, ""},
    };
    for (const Case& c : cases) {
        fs::permissions(token, static_cast<fs::perms>(c.tokenMode));
        fs::permissions(key, static_cast<fs::perms>(c.keyMode));
        const int code = test::RunRegd({"--store", store, "--listen", "127.0.0.1:0", "--exit-after", "1", "--tls-cert",
                                        cert, "--tls-key", key, "--token-file", token}, &log);
        EXPECT_EQ(code, c.refused.empty() ? 0 : 2) << log;
        if (c.refused.empty()) EXPECT_EQ(log.find("readable"), std::string::npos) << log;
        else EXPECT_NE(log.find("quorvane-regd: " + c.refused), std::string::npos) << log;
    }

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
