#include "registry/remote/flood_watch.h"

#include <grpc/grpc.h>
#include <grpc/support/alloc.h>
#include <grpc/support/log.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "registry/remote/registry_service.h"

namespace qv::remote {

namespace {

// channelz answers in JSON, 64-bit numbers as strings; these few fields
// are all the watch needs, so they are picked out by name.
std::string Take(char* json) {
    const std::unique_ptr<char, void (*)(void*)> owner(json, gpr_free);
    return json != nullptr ? std::string(json) : std::string();
}

// The string value of the field `key` at or after `at`; `at` moves past it.
std::string Field(const std::string& json, std::string_view key, std::size_t& at) {
    const std::string quoted = "\"" + std::string(key) + "\":\"";
    const std::size_t start = json.find(quoted, at);
    if (start == std::string::npos) {
        at = std::string::npos;
        return {};
    }
    const std::size_t begin = start + quoted.size();
    const std::size_t end = json.find('"', begin);
    at = end;
    return json.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::uint64_t Number(const std::string& json, std::string_view key) {
    std::size_t at = 0;
    return std::strtoull(Field(json, key, at).c_str(), nullptr, 10);
}

std::vector<std::int64_t> Ids(const std::string& json, std::string_view key) {
    std::vector<std::int64_t> ids;
    for (std::size_t at = 0;;) {
        const std::string id = Field(json, key, at);
        if (at == std::string::npos) return ids;
        ids.push_back(std::strtoll(id.c_str(), nullptr, 10));
    }
}

// "chttp2 ipv4:10.0.0.7:51234" -> "ipv4:10.0.0.7": a peer's connections
// differ in their port only.
std::string PeerOf(std::string name) {
    if (const std::size_t space = name.rfind(' '); space != std::string::npos) name.erase(0, space + 1);
    if (const std::size_t colon = name.rfind(':'); colon != std::string::npos) name.erase(colon);
    return name;
}

// Filled from gRPC's threads through its log.
std::atomic<std::uint64_t> g_failedHandshakes{0};
std::mutex g_handshakeMutex;
std::string g_lastHandshakeFailure;
void (*g_grpcLog)(const std::string&) = nullptr;

void OnGrpcLog(gpr_log_func_args* args) {
    const std::string_view message = args->message != nullptr ? args->message : "";
    // One line a refused peer would let strangers fill the log.
    if (message.find("Handshake failed") != std::string_view::npos) {
        std::lock_guard lock(g_handshakeMutex);
        g_lastHandshakeFailure = message;
        ++g_failedHandshakes;
        return;
    }
    if (g_grpcLog != nullptr)
        g_grpcLog(LogTimestamp() + " gRPC " + (args->file != nullptr ? args->file : "") + ":" +
                  std::to_string(args->line) + " " + std::string(message));
}

}  // namespace

void CFloodWatch::TakeGrpcLog(void (*log)(const std::string&)) {
    g_grpcLog = log;
    gpr_set_log_function(OnGrpcLog);
}

CFloodWatch::CFloodWatch(std::function<void(const std::string&)> log, std::uint64_t threshold,
                         Clock::duration interval)
    : m_log(std::move(log)), m_threshold(threshold), m_interval(interval) {}

void CFloodWatch::Poll(Clock::time_point now) {
    // Bounded, so that a flood of connections costs each poll a bounded time.
    constexpr std::size_t kMaxConnections = 4096;
    constexpr std::intptr_t kPage = 512;
    std::map<std::int64_t, Connection> seen, servers;
    for (const std::int64_t server : Ids(Take(grpc_channelz_get_servers(0)), "serverId")) {
        // The server's own counts take in connections that closed between
        // two polls; what no open connection accounts for is theirs.
        const std::string totals = Take(grpc_channelz_get_server(server));
        const Connection total{Number(totals, "callsStarted"), Number(totals, "callsFailed")};
        Connection unaccounted = total;
        if (const auto found = m_servers.find(server); found != m_servers.end()) {
            unaccounted.started -= std::min(total.started, found->second.started);
            unaccounted.failed -= std::min(total.failed, found->second.failed);
        }
        servers[server] = total;
        for (std::int64_t from = 0; seen.size() < kMaxConnections;) {
            const std::string page = Take(grpc_channelz_get_server_sockets(server, from, kPage));
            const std::vector<std::int64_t> sockets = Ids(page, "socketId");
            for (const std::int64_t socket : sockets) {
                from = std::max(from, socket + 1);
                const std::string json = Take(grpc_channelz_get_socket(socket));
                std::size_t at = 0;
                const std::string name = Field(json, "name", at);
                if (name.empty()) continue;  // closed meanwhile
                Connection now{Number(json, "streamsStarted"), Number(json, "streamsFailed")};
                Connection before;
                if (const auto found = m_connections.find(socket); found != m_connections.end()) before = found->second;
                Peer& peer = m_peers.try_emplace(PeerOf(name)).first->second;
                if (now.started > before.started) peer.connections.insert(socket);
                const Connection added{now.started - std::min(now.started, before.started),
                                       now.failed - std::min(now.failed, before.failed)};
                peer.started += added.started;
                peer.failed += added.failed;
                unaccounted.started -= std::min(unaccounted.started, added.started);
                unaccounted.failed -= std::min(unaccounted.failed, added.failed);
                seen[socket] = now;
            }
            if (sockets.empty() || page.find("\"end\":true") != std::string::npos) break;
        }
        if (unaccounted.started > 0) {
            Peer& closed = m_peers.try_emplace("(connections closed before the watch read them)").first->second;
            closed.started += unaccounted.started;
            closed.failed += unaccounted.failed;
        }
    }
    m_connections = std::move(seen);
    m_servers = std::move(servers);

    const auto seconds = [](Clock::duration d) {
        return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count());
    };
    // The first failed handshake at once, then a sum at most once an interval.
    const std::uint64_t handshakes = g_failedHandshakes.load();
    if (handshakes > m_handshakesReported &&
        (m_handshakesLogged == Clock::time_point{} || now - m_handshakesLogged >= m_interval)) {
        std::string reason;
        {
            std::lock_guard lock(g_handshakeMutex);
            reason = g_lastHandshakeFailure;
        }
        m_log(LogTimestamp() + " TLS handshakes failed: " + std::to_string(handshakes - m_handshakesReported) +
              (m_handshakesLogged == Clock::time_point{}
                   ? ""
                   : " in " + seconds(now - m_handshakesLogged) + " s") +
              ", the last with: " + reason + " (reported at most every " + seconds(m_interval) + " s)");
        m_handshakesReported = handshakes;
        m_handshakesLogged = now;
    }
    for (auto it = m_peers.begin(); it != m_peers.end();) {
        Peer& peer = it->second;
        // A peer first seen now did what it did since the last poll.
        if (peer.since == Clock::time_point{}) peer.since = m_polled == Clock::time_point{} ? now : m_polled;
        const bool mayLog = !peer.everLogged || now - peer.logged >= m_interval;
        if (peer.failed >= m_threshold && mayLog) {
            m_log(LogTimestamp() + " " + it->first + " flood: " + std::to_string(peer.failed) + " of " +
                  std::to_string(peer.started) + " calls cancelled or failed in " + seconds(now - peer.since) +
                  " s, on " + std::to_string(peer.connections.size()) + " connection(s); reported at most every " +
                  seconds(m_interval) + " s");
            peer.everLogged = true;
            peer.logged = now;
        } else if (now - peer.since < m_interval) {
            ++it;
            continue;
        }
        // A new window: what a peer did long ago does not add up to a flood.
        peer.started = peer.failed = 0;
        peer.connections.clear();
        peer.since = now;
        // Forgotten when it has nothing to report for a while.
        if (!peer.everLogged || now - peer.logged >= m_interval) it = m_peers.erase(it);
        else ++it;
    }    m_polled = now;
}

}  // namespace qv::remote
