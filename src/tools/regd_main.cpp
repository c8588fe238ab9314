// quorvane-regd: serves this computer's registry store to Quorvane on other
// computers (see "Serving this computer's registry" in the README).
#include <grpcpp/grpcpp.h>
#include <malloc.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "files/private_files.h"
#include "registry/remote/flood_watch.h"
#include "registry/remote/registry_service.h"
#include "registry/remote/remote_common.h"
#include "registry/store_registry.h"

namespace {

constexpr const char* kUsage =
    "Usage: quorvane-regd [OPTIONS]\n"
    "Serves this computer's registry store to Quorvane on other computers.\n"
    "\n"
    "  --store FILE          the store to serve (default: $QUORVANE_REGISTRY, else\n"
    "                        $XDG_DATA_HOME or ~/.local/share, quorvane/registry.db)\n"
    "  --listen ADDR:PORT    where to listen (default 127.0.0.1:7787; port 0 takes a\n"
    "                        free port); IPv6 as [::1]:7787\n"
    "  --read-only           refuse every write (the client sees status 5)\n"
    "  --tls-cert FILE       serve TLS with this certificate chain (PEM) ...\n"
    "  --tls-key FILE        ... and its private key (PEM)\n"
    "  --tls-client-ca FILE  admit only clients whose certificate these CA\n"
    "                        certificates (PEM) signed; others are turned away\n"
    "                        in the TLS handshake\n"
    "  --token-file FILE     every call must carry this token (at least 16\n"
    "                        bytes), as the header \"authorization: Bearer <token>\"\n"
    "  --exit-after SECONDS  stop after this long (for tests and trials)\n"
    "  --help                show this text\n"
    "\n"
    "Any address but a loopback one (127.0.0.0/8, ::1, localhost) needs\n"
    "--tls-cert, --tls-key and --token-file; add --tls-client-ca unless the\n"
    "network is trusted. Once serving, the program prints \"listening on\n"
    "ADDR:PORT\" on standard output. Refused and failed requests are logged to\n"
    "standard error, one line each, and a peer flooding the service once a\n"
    "minute. SIGINT and SIGTERM stop it.\n";

constexpr int kMemoryQuotaBytes = 256 << 20;
constexpr std::size_t kMinTokenBytes = 16;
// Freed memory the allocator may keep for reuse.
constexpr std::size_t kKeptFreeBytes = 32 << 20;

struct Options {
    std::string store;
    std::string listen = "127.0.0.1:" + std::to_string(qv::remote::kDefaultPort);
    bool readOnly = false;
    std::string tlsCert, tlsKey, tlsClientCa, tokenFile;
    long exitAfter = 0;
};

int Usage(const std::string& problem) {
    std::cerr << "quorvane-regd: " << problem << "\n(quorvane-regd --help tells the options)\n";
    return 2;
}

// A secret others may read is no longer one: refused, as ssh refuses such
// keys, with the chmod that fixes it. True when refused.
bool RefusedAsOpen(const std::string& file, int& status) {
    const std::string problem = qv::ReadableByOthers(file);
    if (problem.empty()) return false;
    std::cerr << "quorvane-regd: " << problem << "\n";
    status = 2;
    return true;
}

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return static_cast<bool>(in) || in.eof();
}

// "host:port" split at its last colon; the host may be a bracketed IPv6.
bool SplitListen(const std::string& address, std::string& host, int& port) {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == address.size()) return false;
    host = address.substr(0, colon);
    const std::string digits = address.substr(colon + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    port = std::atoi(digits.c_str());
    if (port > 65535) return false;
    // An IPv6 address needs its brackets, or the port could not be told apart.
    if (host.find(':') != std::string::npos && host.front() != '[') return false;
    return true;
}

int Serve(int argc, char** argv) {
    // Blocked before anything of gRPC runs (creating credentials already
    // starts its threads), so that only the sigtimedwait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    qv::remote::CFloodWatch::TakeGrpcLog([](const std::string& line) { std::cerr << line << std::endl; });

    Options options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        std::string number;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--store") {
            if (!value(options.store)) return Usage("--store wants a file");
        } else if (arg == "--listen") {
            if (!value(options.listen)) return Usage("--listen wants ADDR:PORT");
        } else if (arg == "--read-only") {
            options.readOnly = true;
        } else if (arg == "--tls-cert") {
            if (!value(options.tlsCert)) return Usage("--tls-cert wants a file");
        } else if (arg == "--tls-key") {
            if (!value(options.tlsKey)) return Usage("--tls-key wants a file");
        } else if (arg == "--tls-client-ca") {
            if (!value(options.tlsClientCa)) return Usage("--tls-client-ca wants a file");
        } else if (arg == "--token-file") {
            if (!value(options.tokenFile)) return Usage("--token-file wants a file");
        } else if (arg == "--exit-after") {
            if (!value(number) || number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
                return Usage("--exit-after wants a number of seconds");
            options.exitAfter = std::atol(number.c_str());
        } else {
            return Usage("unknown option " + arg);
        }
    }

    std::string host;
    int port = 0;
    if (!SplitListen(options.listen, host, port)) return Usage("--listen wants ADDR:PORT, not " + options.listen);
    if (options.tlsCert.empty() != options.tlsKey.empty()) return Usage("--tls-cert and --tls-key go together");
    const bool tls = !options.tlsCert.empty();
    if (!options.tlsClientCa.empty() && !tls) return Usage("--tls-client-ca needs --tls-cert and --tls-key");
    if (!qv::remote::IsLoopbackHost(host) && (!tls || options.tokenFile.empty()))
        return Usage("listening on " + host +
                     " would expose the registry to the network: that needs --tls-cert, --tls-key and "
                     "--token-file (loopback addresses may go without)");

    qv::remote::ServiceOptions service;
    service.readOnly = options.readOnly;
    int refused = 0;
    if (!options.tokenFile.empty() && RefusedAsOpen(options.tokenFile, refused)) return refused;
    if (tls && RefusedAsOpen(options.tlsKey, refused)) return refused;
    if (!options.tokenFile.empty()) {
        if (!ReadFile(options.tokenFile, service.token)) return Usage("cannot read the token file " + options.tokenFile);
        while (!service.token.empty() && std::string(" \t\r\n").find(service.token.back()) != std::string::npos)
            service.token.pop_back();
        if (service.token.empty()) return Usage("the token file " + options.tokenFile + " is empty");
        // A short token can be guessed by whoever may try many.
        if (service.token.size() < kMinTokenBytes)
            return Usage("the token in " + options.tokenFile + " is " + std::to_string(service.token.size()) +
                         " bytes long; a token needs at least " + std::to_string(kMinTokenBytes) +
                         " (make one with: head -c 32 /dev/urandom | base64)");
    }
    std::shared_ptr<grpc::ServerCredentials> credentials = grpc::InsecureServerCredentials();
    if (tls) {
        grpc::SslServerCredentialsOptions::PemKeyCertPair pair;
        if (!ReadFile(options.tlsKey, pair.private_key) || pair.private_key.empty())
            return Usage("cannot read the TLS key " + options.tlsKey);
        if (!ReadFile(options.tlsCert, pair.cert_chain) || pair.cert_chain.empty())
            return Usage("cannot read the TLS certificate " + options.tlsCert);
        grpc::SslServerCredentialsOptions ssl;
        if (!options.tlsClientCa.empty()) {
            // A peer without a certificate signed by this CA is turned away
            // in the handshake, before gRPC reads any HTTP/2 from it.
            if (!ReadFile(options.tlsClientCa, ssl.pem_root_certs) || ssl.pem_root_certs.empty())
                return Usage("cannot read the client CA certificates " + options.tlsClientCa);
            ssl.client_certificate_request = GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY;
        }
        ssl.pem_key_cert_pairs.push_back(std::move(pair));
        credentials = grpc::SslServerCredentials(ssl);
    }

    if (options.store.empty()) options.store = qv::DefaultStorePath();
    if (options.store.empty()) return Usage("there is no store path: give --store, or set QUORVANE_REGISTRY or HOME");
    std::string error;
    std::unique_ptr<qv::CStoreRegistry> store = qv::CStoreRegistry::Open(
        options.store, &error, [](const std::string& text) { std::cerr << "quorvane-regd: " << text << "\n"; });
    if (!store) {
        std::cerr << "quorvane-regd: " << error << "\n";
        return 1;
    }

    qv::remote::CRegistryService registryService(*store, service);
    grpc::ServerBuilder builder;
    int bound = 0;
    builder.AddListeningPort(options.listen, credentials, &bound);
    builder.SetMaxReceiveMessageSize(qv::remote::kMaxRequestBytes);
    // Calls wait for the store one at a time anyway; many callers must not
    // make many threads.
    grpc::ResourceQuota quota("quorvane-regd");
    quota.SetMaxThreads(32);
    // Buffers of calls and connections: the largest reply is 64 MiB, and
    // eight clients loading at once stay far below.
    quota.Resize(kMemoryQuotaBytes);
    builder.SetResourceQuota(quota);
    // Our client has a call or two under way on a connection, never more.
    builder.AddChannelArgument(GRPC_ARG_MAX_CONCURRENT_STREAMS, 32);
    // Connections do not live for ever: idle ones close (the client opens
    // another when it next asks), and every one is replaced after an hour,
    // calls under way getting five minutes to finish.
    builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_IDLE_MS, 15 * 60 * 1000);
    builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_AGE_MS, 60 * 60 * 1000);
    builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_AGE_GRACE_MS, 5 * 60 * 1000);
    // A handshake that never finishes holds a connection for nothing.
    builder.AddChannelArgument(GRPC_ARG_SERVER_HANDSHAKE_TIMEOUT_MS, 10 * 1000);
    // Our client sends no keepalive pings. Pings less than five minutes
    // apart with no call under way are strikes; the third closes the
    // connection. (gRPC's defaults, written out so they stay.)
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, 5 * 60 * 1000);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_PING_STRIKES, 2);
    // The flood watch reads channelz's counters (on by default; kept on).
    builder.AddChannelArgument(GRPC_ARG_ENABLE_CHANNELZ, 1);
    builder.RegisterService(&registryService);
    std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
    if (!server || bound == 0) {
        std::cerr << "quorvane-regd: cannot listen on " << options.listen << "\n";
        return 1;
    }
    std::cerr << "quorvane-regd: serving " << options.store << " on " << host << ":" << bound
              << (tls ? ", TLS" : ", plain text")
              << (options.tlsClientCa.empty() ? "" : ", client certificate required") << (service.token.empty() ? "" : ", token required")
              << (options.readOnly ? ", read-only" : "") << "\n";
    std::cout << "listening on " << host << ":" << bound << std::endl;

    qv::remote::CFloodWatch floods([](const std::string& line) { std::cerr << line << std::endl; });
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        floods.Poll();
        // A burst of calls (a client opening and cancelling streams as fast
        // as it can) leaves the allocator holding what they used; give it
        // back instead of keeping the peak for ever. The peak itself grows
        // with the burst: gRPC 1.51 reads a connection's streams faster than
        // it retires them, and none of the limits above stops that (releases
        // with the fixes for CVE-2023-44487 do); --tls-client-ca keeps
        // strangers from sending any.
#ifdef __GLIBC__
        if (mallinfo2().fordblks > kKeptFreeBytes) malloc_trim(0);
#endif
        timespec wait{1, 0};
        const int signal = sigtimedwait(&stopSignals, nullptr, &wait);
        if (signal == SIGINT || signal == SIGTERM) {
            std::cerr << "quorvane-regd: stopping on " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << "\n";
            break;
        }
        if (options.exitAfter > 0 && std::chrono::steady_clock::now() - start >= std::chrono::seconds(options.exitAfter)) {
            std::cerr << "quorvane-regd: stopping after " << options.exitAfter << " s\n";
            break;
        }
    }
    // Calls under way get two seconds to finish.
    server->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(2));
    server->Wait();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Nothing may end the service with an uncaught exception: say what went wrong.
    try {
        return Serve(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "quorvane-regd: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "quorvane-regd: an unexpected failure\n";
    }
    return 1;
}
