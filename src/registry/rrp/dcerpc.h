// Connection-oriented DCE/RPC (as carried on a named pipe) for one
// interface: the bind that picks the interface and NDR, then calls whose
// requests are cut into fragments the peer accepts and whose replies are put
// together from their fragments. No authentication: SMB has already logged
// on. Replies come from a peer we do not trust: a PDU that does not parse is
// a protocol error, never a crash, and nothing is allocated beyond the
// bounds set here.
//
// Statuses: 0; what the pipe returned; kRpcProtocolError for a reply that
// does not parse or does not belong to the call; kRpcBindRefused for a
// bind_nak or a bind_ack that takes no syntax; a fault's status as a Win32
// code (a small fault status is one already; the NCA ones are mapped below).
// After a pipe or protocol error the connection is broken: every later call
// fails the same way without touching the pipe.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/registry_types.h"

namespace qv::rrp {

constexpr LONG kRpcProtocolError = 1728;     // RPC_S_PROTOCOL_ERROR
constexpr LONG kRpcBindRefused = 1717;       // RPC_S_UNKNOWN_IF
constexpr LONG kRpcCallFailed = 1726;        // RPC_S_CALL_FAILED
constexpr LONG kRpcProcedureOutOfRange = 1745;  // RPC_S_PROCNUM_OUT_OF_RANGE
constexpr LONG kRpcBadStubData = 1783;       // RPC_X_BAD_STUB_DATA

// Where the PDUs go. Write sends one whole PDU; Read returns the next bytes
// the peer sent, at least one and at most `max` (the connection asks for no
// more than the PDU it reads still lacks, so a pipe may wait for all `max`).
// Both return 0 or a Win32 status.
class IRpcPipe {
public:
    virtual ~IRpcPipe() = default;
    virtual LONG Write(std::string_view bytes) = 0;
    virtual LONG Read(std::string& bytes, std::size_t max) = 0;
};

struct SyntaxId {
    std::uint8_t uuid[16];  // in wire order
    std::uint16_t major = 0, minor = 0;
};
// "338cd001-2244-31f1-aaaa-900038001003" v1.0, and NDR v2.
SyntaxId WinregSyntax();
SyntaxId NdrSyntax();

class CRpcConnection {
public:
    // `maxFragment` is the largest fragment offered each way at bind; the
    // peer may lower it (never below 1024, as the protocol says).
    explicit CRpcConnection(IRpcPipe& pipe, std::uint16_t maxFragment = 65535);

    LONG Bind(const SyntaxId& interfaceId);
    // One call: `stub` is the request's NDR data, `reply` the response's.
    LONG Call(std::uint16_t opnum, std::string_view stub, std::string& reply);

    // Several calls sent in one write, their replies read in order (a round
    // trip over SMB costs more than the peer's work on most winreg calls).
    // `statuses[i]` is the i-th call's own status; the result is the first
    // status that broke the connection, or 0.
    struct Request {
        std::uint16_t opnum;
        std::string stub;
    };
    LONG CallMany(const std::vector<Request>& requests, std::vector<std::string>& replies,
                  std::vector<LONG>& statuses);
    // A call whose reply nobody waits for (closing a handle): sent with the
    // next call, its reply read and dropped then.
    // `replyStub` is the size of the reply's stub when it can be told
    // beforehand (0 if not): such a reply is then read in one go.
    void Post(std::uint16_t opnum, std::string_view stub, std::size_t replyStub = 0);

    bool Broken() const { return m_broken != 0; }
    std::uint16_t MaxXmitFragment() const { return m_maxXmit; }
    std::uint16_t MaxRecvFragment() const { return m_maxRecv; }
    // Fragments sent and received so far (for tests).
    std::size_t FragmentsSent() const { return m_sent; }
    std::size_t FragmentsReceived() const { return m_received; }

    // Largest reply put together: winreg's largest value (64 MiB) with room
    // for its names and framing.
    static constexpr std::size_t kMaxReply = (64u << 20) + (1u << 20);

private:
    // The request's PDUs, cut to the peer's fragment size, onto `out`.
    void Frame(std::uint16_t opnum, std::string_view stub, std::uint32_t callId, std::string& out);
    LONG Send(std::string_view pdus, std::size_t count);
    // The next whole PDU from the pipe into `pdu`, at least `least` bytes
    // long; the first read asks for `first` bytes (at least a header).
    LONG Receive(std::string& pdu, std::size_t least, std::size_t first);
    // The reply owed first, put together.
    LONG Reply(std::string& reply);
    LONG Break(LONG status);

    IRpcPipe& m_pipe;
    std::uint16_t m_maxXmit, m_maxRecv;
    std::uint32_t m_nextCallId = 1;
    bool m_bound = false;
    std::atomic<LONG> m_broken{0};  // read by other threads deciding whether to reconnect
    std::string m_pending;  // bytes read past the PDU last taken
    std::string m_posted;   // requests posted and not yet sent
    std::vector<std::pair<std::uint32_t, std::size_t>> m_postedCalls;  // call id, reply size or 0
    // Replies sent for and not yet read, in order, with the fewest bytes
    // each can be: its first read asks for that much.
    struct Owed {
        std::uint32_t callId;
        std::size_t least;
        std::size_t expected;  // its size when known beforehand, else 0
    };
    std::deque<Owed> m_owed;
    std::size_t m_sent = 0, m_received = 0, m_framed = 0;
};

// PDU types and flags, for the codec's tests.
enum : std::uint8_t {
    kPduRequest = 0,
    kPduResponse = 2,
    kPduFault = 3,
    kPduBind = 11,
    kPduBindAck = 12,
    kPduBindNak = 13,
};
enum : std::uint8_t { kFirstFragment = 1, kLastFragment = 2 };
constexpr std::size_t kHeaderSize = 16;

// The Win32 status for a fault PDU's status.
LONG FaultStatus(std::uint32_t status);

}  // namespace qv::rrp
