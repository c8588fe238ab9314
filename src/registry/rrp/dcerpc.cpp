// The PDUs of connection-oriented DCE/RPC, little-endian only, no
// authentication: bind and its answers, requests cut to the peer's fragment
// size, responses and faults put together.
#include "registry/rrp/dcerpc.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "registry/rrp/ndr.h"

namespace qv::rrp {

namespace {

constexpr std::size_t kRequestHeader = 24;   // common header, alloc_hint, context id, opnum
constexpr std::size_t kResponseHeader = 24;  // common header, alloc_hint, context id, cancel count
constexpr std::size_t kSmallestFragment = 64;

void Header(NdrWriter& w, std::uint8_t type, std::uint8_t flags, std::uint32_t callId) {
    w.Raw(std::string_view("\x05\x00", 2));
    w.Raw(std::string(1, static_cast<char>(type)));
    w.Raw(std::string(1, static_cast<char>(flags)));
    w.Raw(std::string_view("\x10\x00\x00\x00", 4));  // little-endian, ASCII, IEEE floats
    w.U16(0);                                       // fragment length, set when done
    w.U16(0);                                       // no authentication
    w.U32(callId);
}

std::string Finish(const NdrWriter& w) {
    std::string pdu = w.Data();
    pdu[8] = static_cast<char>(pdu.size() & 0xff);
    pdu[9] = static_cast<char>(pdu.size() >> 8);
    return pdu;
}

void Syntax(NdrWriter& w, const SyntaxId& s) {
    w.Raw(std::string_view(reinterpret_cast<const char*>(s.uuid), sizeof s.uuid));
    w.U16(s.major);
    w.U16(s.minor);
}

struct Parsed {
    std::uint8_t type = 0, flags = 0;
    std::uint16_t length = 0;
    std::uint32_t callId = 0;
};

// The common header of a PDU already known to be `pdu.size()` bytes long.
bool ParseHeader(std::string_view pdu, Parsed& out) {
    if (pdu.size() < kHeaderSize) return false;
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(pdu[i]); };
    if (byte(0) != 5 || byte(1) > 1) return false;
    if ((byte(4) & 0xf0) != 0x10) return false;  // big-endian peers are not spoken to
    out.type = byte(2);
    out.flags = byte(3);
    out.length = static_cast<std::uint16_t>(byte(8) | byte(9) << 8);
    const auto authLength = static_cast<std::uint16_t>(byte(10) | byte(11) << 8);
    out.callId = static_cast<std::uint32_t>(byte(12) | byte(13) << 8 | byte(14) << 16) |
                 static_cast<std::uint32_t>(byte(15)) << 24;
    return authLength == 0 && out.length == pdu.size();
}

}  // namespace

SyntaxId WinregSyntax() {
    // 338cd001-2244-31f1-aaaa-900038001003: the first three fields little-endian.
    return {{0x01, 0xd0, 0x8c, 0x33, 0x44, 0x22, 0xf1, 0x31, 0xaa, 0xaa, 0x90, 0x00, 0x38, 0x00, 0x10, 0x03}, 1, 0};
}

SyntaxId NdrSyntax() {
    // 8a885d04-1ceb-11c9-9fe8-08002b104860 v2
    return {{0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11, 0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60}, 2, 0};
}

LONG FaultStatus(std::uint32_t status) {
    if (status != 0 && status < 0x10000) return static_cast<LONG>(status);  // already a Win32 code
    switch (status) {
    case 0x1c010002: return kRpcProcedureOutOfRange;  // nca_s_op_rng_error
    case 0x1c010003: return kRpcBindRefused;          // nca_s_unk_if
    case 0x1c01000b: return kRpcProtocolError;        // nca_s_proto_error
    default: return kRpcCallFailed;
    }
}

CRpcConnection::CRpcConnection(IRpcPipe& pipe, std::uint16_t maxFragment)
    : m_pipe(pipe),
      m_maxXmit(std::max<std::uint16_t>(maxFragment, kSmallestFragment)),
      m_maxRecv(std::max<std::uint16_t>(maxFragment, kSmallestFragment)) {}

LONG CRpcConnection::Break(LONG status) {
    m_broken = status;
    return status;
}

LONG CRpcConnection::Send(std::string_view pdus, std::size_t count) {
    m_sent += count;
    // Whole PDUs, as many as fit the peer's fragment size a write: Samba's
    // pipe refuses much larger writes.
    while (!pdus.empty()) {
        std::size_t take = 0;
        while (take < pdus.size()) {
            const std::size_t length = static_cast<std::uint8_t>(pdus[take + 8]) |
                                       static_cast<std::uint8_t>(pdus[take + 9]) << 8;
            if (length < kHeaderSize) return Break(kRpcProtocolError);  // never framed so: a fault of ours
            if (take != 0 && take + length > m_maxXmit) break;
            take += length;
        }
        if (const LONG status = m_pipe.Write(pdus.substr(0, take)); status != ERROR_SUCCESS) return Break(status);
        pdus.remove_prefix(take);
    }
    return ERROR_SUCCESS;
}

LONG CRpcConnection::Receive(std::string& pdu, std::size_t least, std::size_t first) {
    // Never more than this PDU is sure to hold: libsmbclient's read waits
    // until it has all it was asked for, and a read of the pipe returns at
    // most one PDU, so reading past one saves nothing. Each read returns at
    // least a byte or fails, so the loop ends.
    std::size_t need = std::max(first, kHeaderSize);
    for (bool sized = false;;) {
        if (!sized && m_pending.size() >= kHeaderSize) {
            const std::size_t length =
                static_cast<std::uint8_t>(m_pending[8]) | static_cast<std::uint8_t>(m_pending[9]) << 8;
            // Shorter than a header, or than any reply can be: a peer out of step.
            if (length < kHeaderSize || length < least) return Break(kRpcProtocolError);
            need = length;
            sized = true;
        }
        if (sized && m_pending.size() >= need) break;
        std::string chunk;
        const LONG status = m_pipe.Read(chunk, need - m_pending.size());
        if (status != ERROR_SUCCESS) return Break(status);
        if (chunk.empty()) return Break(kRpcProtocolError);
        m_pending += chunk;
    }
    pdu.assign(m_pending, 0, need);
    m_pending.erase(0, need);
    ++m_received;
    return ERROR_SUCCESS;
}

LONG CRpcConnection::Bind(const SyntaxId& interfaceId) {
    if (m_broken != 0) return m_broken;
    const std::uint32_t callId = m_nextCallId++;
    NdrWriter w;
    Header(w, kPduBind, kFirstFragment | kLastFragment, callId);
    w.U16(m_maxXmit);
    w.U16(m_maxRecv);
    w.U32(0);  // a new association group
    w.U16(1);  // one presentation context (and a reserved byte)
    w.U16(0);
    w.U16(0);  // context id 0
    w.U16(1);  // one transfer syntax
    Syntax(w, interfaceId);
    Syntax(w, NdrSyntax());
    if (const LONG status = Send(Finish(w), 1); status != ERROR_SUCCESS) return status;

    std::string pdu;
    if (const LONG status = Receive(pdu, kHeaderSize, kHeaderSize); status != ERROR_SUCCESS) return status;
    Parsed h;
    if (!ParseHeader(pdu, h) || h.callId != callId) return Break(kRpcProtocolError);
    if (h.type == kPduBindNak) return Break(kRpcBindRefused);
    if (h.type != kPduBindAck) return Break(kRpcProtocolError);
    // bind_ack: sizes and group at 16, the secondary address (a counted
    // string of bytes) at 24, then 4-aligned the result list.
    NdrReader r(std::string_view(pdu).substr(kHeaderSize));
    std::uint16_t peerXmit = 0, peerRecv = 0, addressLength = 0;
    std::uint32_t group = 0;
    r.U16(peerXmit);
    r.U16(peerRecv);
    r.U32(group);
    r.U16(addressLength);
    if (!r.Ok()) return Break(kRpcProtocolError);
    const std::size_t at = (kHeaderSize + 10 + std::size_t{addressLength} + 3) & ~std::size_t{3};
    if (at > pdu.size()) return Break(kRpcProtocolError);
    NdrReader list(std::string_view(pdu).substr(at));
    std::uint16_t count = 0, reserved = 0, result = 1, reason = 0;
    list.U16(count);
    list.U16(reserved);
    list.U16(result);
    list.U16(reason);
    if (!list.Ok() || (count & 0xff) == 0) return Break(kRpcProtocolError);
    if (result != 0) return Break(kRpcBindRefused);
    if (peerRecv < kSmallestFragment || peerXmit < kSmallestFragment) return Break(kRpcProtocolError);
    m_maxXmit = std::min(m_maxXmit, peerRecv);
    m_bound = true;
    return ERROR_SUCCESS;
}

void CRpcConnection::Frame(std::uint16_t opnum, std::string_view stub, std::uint32_t callId, std::string& out) {
    // Stub data in whole 8-byte units per fragment, as peers expect of all
    // but the last.
    const std::size_t room = std::max<std::size_t>((m_maxXmit - kRequestHeader) & ~std::size_t{7}, 8);
    std::size_t sent = 0;
    do {
        const std::size_t piece = std::min(room, stub.size() - sent);
        std::uint8_t flags = 0;
        if (sent == 0) flags |= kFirstFragment;
        if (sent + piece == stub.size()) flags |= kLastFragment;
        NdrWriter w;
        Header(w, kPduRequest, flags, callId);
        w.U32(static_cast<std::uint32_t>(stub.size() - sent));  // alloc hint: what is still to come
        w.U16(0);                                               // context id
        w.U16(opnum);
        w.Raw(stub.substr(sent, piece));
        out += Finish(w);
        ++m_framed;
        sent += piece;
    } while (sent < stub.size());
}

void CRpcConnection::Post(std::uint16_t opnum, std::string_view stub, std::size_t replyStub) {
    if (m_broken != 0 || !m_bound) return;
    const std::uint32_t callId = m_nextCallId++;
    Frame(opnum, stub, callId, m_posted);
    m_postedCalls.push_back({callId, replyStub != 0 ? kResponseHeader + replyStub : 0});
}

LONG CRpcConnection::Call(std::uint16_t opnum, std::string_view stub, std::string& reply) {
    std::vector<std::string> replies;
    std::vector<LONG> statuses;
    const LONG status = CallMany({{opnum, std::string(stub)}}, replies, statuses);
    reply = replies.empty() ? std::string() : std::move(replies.front());
    return status != ERROR_SUCCESS ? status : statuses.front();
}

LONG CRpcConnection::CallMany(const std::vector<Request>& requests, std::vector<std::string>& replies,
                              std::vector<LONG>& statuses) {
    replies.assign(requests.size(), std::string());
    statuses.assign(requests.size(), m_broken != 0 ? LONG{m_broken} : kRpcProtocolError);
    if (m_broken != 0) return m_broken;
    if (!m_bound) return kRpcProtocolError;
    // Every winreg reply ends in a 4-byte status after the 24-byte response
    // header; a fault is 32 bytes.
    constexpr std::size_t kLeastReply = kResponseHeader + 4;
    std::string pdus = std::exchange(m_posted, std::string());
    for (const auto& [callId, expected] : m_postedCalls) m_owed.push_back({callId, kLeastReply, expected});
    m_postedCalls.clear();
    const std::size_t before = m_owed.size();
    for (const Request& request : requests) {
        m_owed.push_back({m_nextCallId, kLeastReply, 0});
        Frame(request.opnum, request.stub, m_nextCallId++, pdus);
    }
    const std::size_t fragments = std::exchange(m_framed, 0);
    if (const LONG status = Send(pdus, fragments); status != ERROR_SUCCESS) return status;
    // What was posted before first, dropped; then ours.
    for (std::size_t i = 0; i < before; ++i) {
        std::string dropped;
        Reply(dropped);
        if (m_broken != 0) return m_broken;
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        statuses[i] = Reply(replies[i]);
        if (m_broken != 0) return m_broken;
    }
    return ERROR_SUCCESS;
}

LONG CRpcConnection::Reply(std::string& reply) {
    reply.clear();
    const Owed owed = m_owed.front();
    m_owed.pop_front();
    for (bool first = true;; first = false) {
        std::string pdu;
        // A reply of a size known beforehand is read whole at once when
        // another reply follows it: should it be shorter (a fault), the
        // read runs into that one, never waiting on bytes that do not come.
        const std::size_t read = first && owed.expected != 0 && !m_owed.empty() ? owed.expected : owed.least;
        if (const LONG status = Receive(pdu, first ? owed.least : kHeaderSize, first ? read : kHeaderSize);
            status != ERROR_SUCCESS)
            return status;
        Parsed h;
        if (!ParseHeader(pdu, h)) return Break(kRpcProtocolError);
        if (h.type == kPduFault && (h.callId == owed.callId || h.callId == 0) && pdu.size() >= kResponseHeader + 4) {
            NdrReader r(std::string_view(pdu).substr(kResponseHeader));
            std::uint32_t status = 0;
            r.U32(status);
            reply.clear();
            // The call is over; the connection stays usable unless the
            // fault ended a reply half read.
            if (!first) return Break(FaultStatus(status));
            return FaultStatus(status);
        }
        if (h.type != kPduResponse || h.callId != owed.callId || pdu.size() < kResponseHeader)
            return Break(kRpcProtocolError);
        if (first != ((h.flags & kFirstFragment) != 0)) return Break(kRpcProtocolError);
        if (reply.size() + (pdu.size() - kResponseHeader) > kMaxReply) return Break(kRpcProtocolError);
        reply.append(pdu, kResponseHeader, std::string::npos);
        if ((h.flags & kLastFragment) != 0) return ERROR_SUCCESS;
    }
}

}  // namespace qv::rrp
