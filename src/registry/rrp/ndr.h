// NDR, the DCE/RPC transfer syntax, in the little-endian form and the few
// shapes winreg's calls use: scalars aligned to their size, unique pointers
// (a referent id or 0), policy handles, conformant varying arrays of bytes
// and winreg's counted UTF-16LE strings.
//
// The writer builds a request's stub data. The reader takes a reply from a
// peer we do not trust: every read is bounds-checked, a count is checked
// against the bytes left before anything is allocated, and the first fault
// makes every later read fail, so a caller may read a whole reply and look
// at Ok() once. Text stays UTF-16LE here; converting it is the caller's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::rrp {

// A server's context handle: opaque, 20 bytes on the wire.
struct PolicyHandle {
    std::array<std::uint8_t, 20> bytes{};
    bool IsNull() const;
};

class NdrWriter {
public:
    const std::string& Data() const { return m_data; }

    void Align(std::size_t n);
    void U16(std::uint16_t v);
    void U32(std::uint32_t v);
    void U64(std::uint64_t v);
    void Raw(std::string_view bytes);
    // A unique pointer: a fresh referent id when present, 0 when not.
    void Pointer(bool present);
    void Handle(const PolicyHandle& handle);
    // winreg_String: `utf16` (no terminator) sent with its terminator,
    // lengths in bytes; a null pointer when `present` is false.
    void String(std::string_view utf16, bool present = true);
    // winreg_StringBuf / winreg_ValNameBuf as an empty buffer of `bytes`.
    void StringBuffer(std::uint16_t bytes);
    // A unique pointer to a conformant varying byte array: room for
    // `maxCount`, nothing sent in it.
    void EmptyByteArray(std::uint32_t maxCount);

private:
    std::string m_data;
    std::uint32_t m_nextReferent = 0x00020000;
};

class NdrReader {
public:
    explicit NdrReader(std::string_view data) : m_data(data) {}

    bool Ok() const { return m_ok; }
    std::size_t Offset() const { return m_at; }

    bool Align(std::size_t n);
    bool U16(std::uint16_t& v);
    bool U32(std::uint32_t& v);
    bool U64(std::uint64_t& v);
    bool Pointer(bool& present);
    bool Handle(PolicyHandle& handle);
    // winreg_String or a string buffer's contents: the UTF-16LE units up to
    // the first terminator; `present` false (and `utf16` empty) for a null
    // pointer. At most `maxUnits` units are accepted.
    bool String(std::string& utf16, bool* present = nullptr, std::uint32_t maxUnits = 1u << 16);
    // The referent of a unique pointer already read: a conformant varying
    // byte array of at most `maxBytes` transmitted bytes.
    bool ByteArray(std::string& bytes, std::uint32_t maxBytes);
    // Nothing was wrong and nothing is left over.
    bool Finished() const { return m_ok && m_at == m_data.size(); }

private:
    bool Take(std::size_t n, const char*& at);
    bool Fail() { return m_ok = false; }

    std::string_view m_data;
    std::size_t m_at = 0;
    bool m_ok = true;
};

}  // namespace qv::rrp
