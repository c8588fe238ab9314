// A watch on the service's connections for floods: many calls cancelled or
// failing, as a client opening and resetting streams without pause makes,
// and many failed TLS handshakes. gRPC 1.51 offers no hook on the frames
// themselves; its channelz counters (streams a peer opened, and how many of
// them failed or were cancelled) are read instead, once a poll, and a
// flooding peer is logged one line at a time, not one line a stream.
// Failed handshakes are counted from gRPC's log, which names no peer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace qv::remote {

class CFloodWatch {
public:
    using Clock = std::chrono::steady_clock;

    // `log` takes each line. A peer is logged once its streams cancelled or
    // failed reach `threshold` within `interval`, and then at most once an
    // interval.
    CFloodWatch(std::function<void(const std::string&)> log, std::uint64_t threshold = 1000,
                Clock::duration interval = std::chrono::minutes(1));

    // Reads the counters of every connection of every server of this
    // process; about once a second. A connection closed between two polls
    // takes its last second's counts with it.
    void Poll(Clock::time_point now = Clock::now());

    // Takes over gRPC's log before gRPC starts: failed handshakes are
    // counted for Poll() to report, any other line goes to `log` (one
    // function for the process: gRPC has one log).
    static void TakeGrpcLog(void (*log)(const std::string&));

private:
    struct Connection {
        std::uint64_t started = 0, failed = 0;
    };
    struct Peer {
        std::uint64_t started = 0, failed = 0;
        std::set<std::int64_t> connections;
        Clock::time_point since{}, logged{};
        bool everLogged = false;
    };

    std::function<void(const std::string&)> m_log;
    std::uint64_t m_threshold;
    Clock::duration m_interval;
    std::map<std::int64_t, Connection> m_connections;  // by channelz socket id
    std::map<std::int64_t, Connection> m_servers;      // by channelz server id: all its connections
    std::map<std::string, Peer> m_peers;               // by address without port
    Clock::time_point m_polled{};
    std::uint64_t m_handshakesReported = 0;
    Clock::time_point m_handshakesLogged{};
};

}  // namespace qv::remote
