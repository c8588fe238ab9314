#include "registry/hive_lists.h"

#include <cstring>

namespace qv {
namespace {

// Offsets in a hive's cells count from its first bin, 4096 bytes in.
constexpr std::uint32_t kBinsStart = 0x1000;
constexpr std::uint32_t kNoList = 0xffffffffu;

struct Reader {
    std::string_view bytes;

    bool Has(std::uint64_t at, std::uint64_t size) const { return at <= bytes.size() && size <= bytes.size() - at; }
    std::uint32_t U32(std::uint64_t at) const {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    }
    std::uint16_t U16(std::uint64_t at) const {
        std::uint16_t v;
        std::memcpy(&v, bytes.data() + at, 2);
        return v;
    }
    // The cell at `at`: in use (a negative size) and at least `size` long,
    // with the two-letter signature `sig` when one is given.
    bool Cell(std::uint64_t at, std::uint64_t size, const char* sig = nullptr) const {
        if (!Has(at, 4)) return false;
        const auto length = static_cast<std::int32_t>(U32(at));
        if (length >= 0 || static_cast<std::uint64_t>(-static_cast<std::int64_t>(length)) < size) return false;
        if (!Has(at, size)) return false;
        return sig == nullptr || (bytes[at + 4] == sig[0] && bytes[at + 5] == sig[1]);
    }
};

// Appends the entries of one lf, lh or li list; an ri list only where
// `indexRoot` allows it (its entries are lists of those kinds).
bool ReadList(const Reader& r, std::uint32_t offset, bool indexRoot, std::vector<std::uint32_t>& out) {
    if (offset > 0xffffffffu - kBinsStart) return false;
    const std::uint64_t at = std::uint64_t{offset} + kBinsStart;
    if (!r.Cell(at, 8)) return false;
    const char a = r.bytes[at + 4], b = r.bytes[at + 5];
    const std::uint16_t count = r.U16(at + 6);
    const std::uint64_t step = (a == 'l' && (b == 'f' || b == 'h')) ? 8 : 4;
    const bool li = a == 'l' && b == 'i', ri = a == 'r' && b == 'i';
    if (step == 4 && !li && !(ri && indexRoot)) return false;
    if (!r.Cell(at, 8 + step * count)) return false;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint32_t entry = r.U32(at + 8 + step * i);
        if (ri) {
            if (!ReadList(r, entry, false, out)) return false;
            continue;
        }
        if (entry > 0xffffffffu - kBinsStart || !r.Cell(std::uint64_t{entry} + kBinsStart, 0x50, "nk")) return false;
        out.push_back(entry + kBinsStart);
    }
    return true;
}

}  // namespace

bool ReadSubkeyOffsets(std::string_view bytes, std::uint32_t node, std::vector<std::uint32_t>& children) {
    children.clear();
    const Reader r{bytes};
    // A key node: its subkey count at 24, its list at 32, its name from 80.
    if (!r.Cell(node, 0x50, "nk")) return false;
    const std::uint32_t count = r.U32(node + 24), list = r.U32(node + 32);
    if (count == 0 || list == kNoList) return count == 0;
    const bool read = ReadList(r, list, true, children) && children.size() == count;
    if (!read) children.clear();
    return read;
}

}  // namespace qv
