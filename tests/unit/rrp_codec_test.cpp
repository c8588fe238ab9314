// The MS-RRP wire code without SMB: a scripted peer behind IRpcPipe answers
// bind and winreg calls, cuts its replies into fragments and can mangle them.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "registry/rrp/dcerpc.h"
#include "registry/rrp/ndr.h"
#include "registry/rrp/winreg_client.h"

namespace qv::rrp {
namespace {

std::uint16_t Le16(const std::string& s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8);
}

std::string Pdu(std::uint8_t type, std::uint8_t flags, std::uint32_t callId, const std::string& body) {
    NdrWriter w;
    w.Raw(std::string("\x05\x00", 2));
    w.Raw(std::string(1, static_cast<char>(type)));
    w.Raw(std::string(1, static_cast<char>(flags)));
    w.Raw(std::string("\x10\x00\x00\x00", 4));
    w.U16(static_cast<std::uint16_t>(kHeaderSize + body.size()));
    w.U16(0);
    w.U32(callId);
    w.Raw(body);
    return w.Data();
}

// A winreg peer: takes requests whole (checking their fragments), answers
// with `answer`'s stub cut into fragments of at most `maxXmit`, and lets a
// test rewrite each PDU it sends.
class CScriptedPeer : public IRpcPipe {
public:
    std::uint16_t maxXmit = 4280, maxRecv = 4280;
    bool refuseBind = false;
    std::function<std::string(std::uint16_t opnum, const std::string& stub)> answer;
    std::function<void(std::string& pdu)> mangle;
    std::vector<std::size_t> requestFragments;  // sizes of the request PDUs taken
    std::string lastStub;

    // A write may hold several PDUs (calls sent together).
    LONG Write(std::string_view bytes) override {
        while (bytes.size() >= kHeaderSize) {
            const std::size_t length = Le16(std::string(bytes.substr(0, kHeaderSize)), 8);
            if (length < kHeaderSize || length > bytes.size()) break;
            if (const LONG status = Take(std::string(bytes.substr(0, length))); status != ERROR_SUCCESS) return status;
            bytes.remove_prefix(length);
        }
        EXPECT_TRUE(bytes.empty()) << "a write that ends inside a PDU";
        return ERROR_SUCCESS;
    }

    LONG Take(const std::string& pdu) {
        const std::uint32_t callId = static_cast<std::uint8_t>(pdu[12]);
        if (pdu[2] == kPduBind) {
            if (refuseBind) return Send(Pdu(kPduBindNak, 3, callId, std::string("\0\0\0", 3)));
            NdrWriter b;
            b.U16(maxXmit);
            b.U16(maxRecv);
            b.U32(0x1234);
            b.U16(4);
            b.Raw(std::string("\\PIPE\\", 4));  // the secondary address, cut short on purpose: any length aligns
            b.Align(4);
            b.U32(1);
            b.U16(0);
            b.U16(0);
            b.Raw(std::string(20, '\0'));
            return Send(Pdu(kPduBindAck, 3, callId, b.Data().substr(0)));
        }
        EXPECT_EQ(pdu[2], static_cast<char>(kPduRequest));
        EXPECT_LE(pdu.size(), maxRecv);
        requestFragments.push_back(pdu.size());
        if (pdu[3] & kFirstFragment) m_request.clear();
        m_request += pdu.substr(24);
        if (!(pdu[3] & kLastFragment)) return ERROR_SUCCESS;
        lastStub = m_request;
        const std::string stub = answer(Le16(pdu, 22), m_request);
        const std::size_t room = maxXmit - 24;
        for (std::size_t at = 0; at == 0 || at < stub.size(); at += room) {
            std::uint8_t flags = 0;
            if (at == 0) flags |= kFirstFragment;
            if (at + room >= stub.size()) flags |= kLastFragment;
            NdrWriter r;
            r.U32(static_cast<std::uint32_t>(stub.size() - at));
            r.U32(0);
            r.Raw(stub.substr(at, room));
            if (const LONG status = Send(Pdu(kPduResponse, flags, callId, r.Data())); status) return status;
        }
        return ERROR_SUCCESS;
    }

    LONG Read(std::string& bytes, std::size_t max) override {
        if (m_out.empty()) return ERROR_BAD_NETPATH;  // a real pipe would wait: say so instead
        bytes = m_out.substr(0, max);
        m_out.erase(0, bytes.size());
        return ERROR_SUCCESS;
    }

private:
    LONG Send(std::string pdu) {
        if (mangle) mangle(pdu);
        m_out += pdu;
        return ERROR_SUCCESS;
    }

    std::string m_request, m_out;
};

// An EnumValue reply: name "Wert", REG_BINARY, `data`.
std::string EnumValueReply(const std::string& data) {
    NdrWriter w;
    const std::string name("W\0e\0r\0t\0", 8);
    w.U16(10);
    w.U16(512);
    w.Pointer(true);
    w.U32(256);
    w.U32(0);
    w.U32(5);
    w.Raw(name + std::string(2, '\0'));
    w.Pointer(true);
    w.U32(3);
    w.Pointer(true);
    w.U32(static_cast<std::uint32_t>(data.size()));
    w.U32(0);
    w.U32(static_cast<std::uint32_t>(data.size()));
    w.Raw(data);
    w.Pointer(true);
    w.U32(static_cast<std::uint32_t>(data.size()));
    w.Pointer(true);
    w.U32(static_cast<std::uint32_t>(data.size()));
    w.U32(0);
    return w.Data();
}

TEST(RrpCodec, FragmentsBothWaysAndReassembles) {
    // Small fragments each way: requests and replies both span many.
    for (const std::uint16_t fragment : {std::uint16_t{96}, std::uint16_t{1024}, std::uint16_t{5840}}) {
        CScriptedPeer peer;
        peer.maxXmit = peer.maxRecv = fragment;
        std::string big(70000, '\0');
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 % 251);
        peer.answer = [&](std::uint16_t opnum, const std::string&) {
            return opnum == kSetValue ? std::string(4, '\0') : EnumValueReply(big);
        };
        CRpcConnection rpc(peer, 8000);
        ASSERT_EQ(rpc.Bind(WinregSyntax()), ERROR_SUCCESS);
        EXPECT_EQ(rpc.MaxXmitFragment(), std::min<std::uint16_t>(fragment, 8000));
        CWinregClient winreg(rpc);
        PolicyHandle key;
        ASSERT_EQ(winreg.SetValue(key, std::string("v\0", 2), 3, big), ERROR_SUCCESS);
        NdrReader sent(peer.lastStub);
        EXPECT_GT(peer.requestFragments.size(), big.size() / fragment);
        EXPECT_EQ(peer.lastStub.substr(peer.lastStub.size() - 4 - big.size(), big.size()), big);

        std::string name, data;
        std::uint32_t type = 0, needed = 0;
        ASSERT_EQ(winreg.EnumValue(key, 0, 512, 100000, name, type, data, needed), ERROR_SUCCESS) << fragment;
        EXPECT_EQ(name, std::string("W\0e\0r\0t\0", 8));
        EXPECT_EQ(type, 3u);
        EXPECT_TRUE(data == big);
        EXPECT_FALSE(rpc.Broken());
    }
}

TEST(RrpCodec, RefusalsAndFaultsBecomeStatuses) {
    {
        CScriptedPeer peer;
        peer.refuseBind = true;
        CRpcConnection rpc(peer);
        EXPECT_EQ(rpc.Bind(WinregSyntax()), kRpcBindRefused);
    }
    CScriptedPeer peer;
    CRpcConnection rpc(peer);
    ASSERT_EQ(rpc.Bind(WinregSyntax()), ERROR_SUCCESS);
    std::uint32_t fault = 0;
    peer.answer = [](std::uint16_t, const std::string&) { return std::string(4, '\0'); };
    peer.mangle = [&](std::string& pdu) {
        if (fault == 0) return;
        NdrWriter f;
        f.U32(0);
        f.U32(0);
        f.U32(fault);
        f.U32(0);
        pdu = Pdu(kPduFault, 3, static_cast<std::uint8_t>(pdu[12]), f.Data());
    };
    CWinregClient winreg(rpc);
    const std::pair<std::uint32_t, LONG> cases[] = {
        {0x1c010002, kRpcProcedureOutOfRange}, {5, ERROR_ACCESS_DENIED}, {0x6f7, kRpcBadStubData},
        {0x1c010003, kRpcBindRefused}, {0xdeadbeef, kRpcCallFailed}};
    for (const auto& [status, expected] : cases) {
        fault = status;
        EXPECT_EQ(winreg.DeleteValue(PolicyHandle{}, {}), expected) << status;
        EXPECT_FALSE(rpc.Broken()) << "a fault ends the call, not the connection";
    }
    fault = 0;
    EXPECT_EQ(winreg.DeleteValue(PolicyHandle{}, {}), ERROR_SUCCESS);
}

// Every cut and random damage to a reply's PDUs gives a status, never a
// crash, a hang or a huge allocation (run under ASan in the asan preset).
TEST(RrpCodec, DamagedRepliesGiveAnError) {
    const std::string data(3000, 'd');
    std::mt19937 random(20261207);
    std::size_t failures = 0, runs = 0;
    for (int run = 0; run < 3000; ++run) {
        CScriptedPeer peer;
        peer.maxXmit = 1024;
        peer.answer = [&](std::uint16_t, const std::string&) { return EnumValueReply(data); };
        CRpcConnection rpc(peer);
        ASSERT_EQ(rpc.Bind(WinregSyntax()), ERROR_SUCCESS);
        int pduIndex = 0;
        const int victim = run % 4;
        peer.mangle = [&](std::string& pdu) {
            if (pduIndex++ != victim) return;
            if (run % 3 == 0) {
                pdu.resize(random() % pdu.size());  // cut short
            } else {
                for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips)
                    pdu[random() % pdu.size()] = static_cast<char>(random());
            }
        };
        CWinregClient winreg(rpc);
        std::string name, got;
        std::uint32_t type = 0, needed = 0;
        const LONG status = winreg.EnumValue(PolicyHandle{}, 0, 512, 4096, name, type, got, needed);
        ++runs;
        if (status != ERROR_SUCCESS) ++failures;
        // Whatever decoded stays within what was offered.
        EXPECT_LE(got.size(), CWinregClient::kMaxData);
        // A PDU cut short reads as one with the next PDU's bytes in it: it
        // shows as an error on this call or, at the latest, the next.
        if (run % 3 == 0 && status == ERROR_SUCCESS) {
            EXPECT_NE(winreg.DeleteValue(PolicyHandle{}, {}), ERROR_SUCCESS) << "a cut PDU at run " << run;
        }
    }
    EXPECT_GT(failures, runs / 4);  // most cuts fail at once; flips in the data may decode

    // A stub cut anywhere does not decode.
    const std::string whole = EnumValueReply(data);
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        CScriptedPeer peer;
        peer.answer = [&](std::uint16_t, const std::string&) { return whole.substr(0, cut); };
        CRpcConnection rpc(peer);
        ASSERT_EQ(rpc.Bind(WinregSyntax()), ERROR_SUCCESS);
        CWinregClient winreg(rpc);
        std::string name, got;
        std::uint32_t type = 0, needed = 0;
        // Shorter than any winreg reply (a bare status) is out of step; longer does not decode.
        EXPECT_EQ(winreg.EnumValue(PolicyHandle{}, 0, 512, 4096, name, type, got, needed),
                  cut < 4 ? kRpcProtocolError : kRpcBadStubData)
            << cut;
    }
    // Counts larger than the bytes that follow are refused before anything is allocated.
    NdrWriter hostile;
    hostile.U32(0xffffffff);
    hostile.U32(0);
    hostile.U32(0xfffffff0);
    NdrReader r(hostile.Data());
    std::string bytes;
    EXPECT_FALSE(r.ByteArray(bytes, 0xffffffff));
    EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace qv::rrp
