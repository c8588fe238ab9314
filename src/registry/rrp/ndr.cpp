// NDR encoding and the hostile-input decoding of winreg's shapes.
#include "registry/rrp/ndr.h"

#include <algorithm>

namespace qv::rrp {

bool PolicyHandle::IsNull() const {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

void NdrWriter::Align(std::size_t n) {
    while (m_data.size() % n != 0) m_data.push_back('\0');
}

void NdrWriter::U16(std::uint16_t v) {
    Align(2);
    m_data.push_back(static_cast<char>(v & 0xff));
    m_data.push_back(static_cast<char>(v >> 8));
}

void NdrWriter::U32(std::uint32_t v) {
    Align(4);
    for (int i = 0; i < 4; ++i) m_data.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void NdrWriter::U64(std::uint64_t v) {
    Align(8);
    for (int i = 0; i < 8; ++i) m_data.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void NdrWriter::Raw(std::string_view bytes) { m_data.append(bytes); }

void NdrWriter::Pointer(bool present) {
    U32(present ? m_nextReferent : 0);
    if (present) m_nextReferent += 4;
}

void NdrWriter::Handle(const PolicyHandle& handle) {
    Align(4);
    m_data.append(reinterpret_cast<const char*>(handle.bytes.data()), handle.bytes.size());
}

void NdrWriter::String(std::string_view utf16, bool present) {
    if (!present) {
        U16(0);
        U16(0);
        Pointer(false);
        return;
    }
    // Callers keep names far below 32 K units; the lengths are 16-bit.
    const auto units = static_cast<std::uint32_t>(utf16.size() / 2 + 1);
    U16(static_cast<std::uint16_t>(units * 2));
    U16(static_cast<std::uint16_t>(units * 2));
    Pointer(true);
    U32(units);
    U32(0);
    U32(units);
    m_data.append(utf16.data(), utf16.size() & ~std::size_t{1});
    m_data.append(2, '\0');
}

void NdrWriter::StringBuffer(std::uint16_t bytes) {
    U16(0);
    U16(bytes);
    Pointer(true);
    U32(bytes / 2u);
    U32(0);
    U32(0);
}

void NdrWriter::EmptyByteArray(std::uint32_t maxCount) {
    Pointer(true);
    U32(maxCount);
    U32(0);
    U32(0);
}

bool NdrReader::Take(std::size_t n, const char*& at) {
    if (!m_ok || n > m_data.size() - m_at) return Fail();
    at = m_data.data() + m_at;
    m_at += n;
    return true;
}

bool NdrReader::Align(std::size_t n) {
    const std::size_t pad = (n - m_at % n) % n;
    const char* ignored;
    return Take(pad, ignored);
}

bool NdrReader::U16(std::uint16_t& v) {
    const char* at;
    if (!Align(2) || !Take(2, at)) return false;
    v = static_cast<std::uint16_t>(static_cast<std::uint8_t>(at[0]) | static_cast<std::uint8_t>(at[1]) << 8);
    return true;
}

bool NdrReader::U32(std::uint32_t& v) {
    const char* at;
    if (!Align(4) || !Take(4, at)) return false;
    v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(at[i]);
    return true;
}

bool NdrReader::U64(std::uint64_t& v) {
    const char* at;
    if (!Align(8) || !Take(8, at)) return false;
    v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(at[i]);
    return true;
}

bool NdrReader::Pointer(bool& present) {
    std::uint32_t referent = 0;
    if (!U32(referent)) return false;
    present = referent != 0;
    return true;
}

bool NdrReader::Handle(PolicyHandle& handle) {
    const char* at;
    if (!Align(4) || !Take(handle.bytes.size(), at)) return false;
    std::copy(at, at + handle.bytes.size(), handle.bytes.begin());
    return true;
}

bool NdrReader::String(std::string& utf16, bool* present, std::uint32_t maxUnits) {
    utf16.clear();
    std::uint16_t length = 0, size = 0;
    bool here = false;
    if (!U16(length) || !U16(size) || !Pointer(here)) return false;
    if (present != nullptr) *present = here;
    if (!here) return true;
    std::uint32_t maxCount = 0, offset = 0, actual = 0;
    if (!U32(maxCount) || !U32(offset) || !U32(actual)) return false;
    if (offset > maxCount || actual > maxCount - offset || actual > maxUnits) return Fail();
    const char* at;
    if (!Take(std::size_t{actual} * 2, at)) return false;
    std::size_t units = 0;
    while (units < actual && (at[2 * units] != '\0' || at[2 * units + 1] != '\0')) ++units;
    utf16.assign(at, units * 2);
    return true;
}

bool NdrReader::ByteArray(std::string& bytes, std::uint32_t maxBytes) {
    bytes.clear();
    std::uint32_t maxCount = 0, offset = 0, actual = 0;
    if (!U32(maxCount) || !U32(offset) || !U32(actual)) return false;
    if (offset > maxCount || actual > maxCount - offset || actual > maxBytes) return Fail();
    const char* at;
    if (!Take(actual, at)) return false;
    bytes.assign(at, actual);
    return true;
}

}  // namespace qv::rrp
