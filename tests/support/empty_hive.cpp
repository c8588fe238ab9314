#include "tests/support/empty_hive.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace qv::testing {

namespace {

void Put16(std::string& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<char>(v & 0xff);
    b[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
}

std::uint32_t Get32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

constexpr std::size_t kBase = 0x1000;     // the hive bins start after the base block
constexpr std::uint32_t kNone = 0xffffffff;

}  // namespace

std::string EmptyHive(const std::string& rootName) { return HiveWithSubkeys(0, rootName); }

std::string HiveWithSubkeys(std::size_t subkeys, const std::string& rootName) {
    const auto align = [](std::size_t n) { return (n + 7) & ~std::size_t{7}; };
    const auto nkSize = [&](std::size_t nameLength) { return align(4 + 0x4c + nameLength); };
    constexpr std::size_t kPerList = 1000;
    const std::size_t lists = (subkeys + kPerList - 1) / kPerList;
    const std::size_t skSize = 4 + 0x14 + 20 + 4;
    // Cells from the first hbin's header on: root nk, sk, ri, lf lists, children.
    const std::uint32_t nk = 0x20;
    const auto sk = static_cast<std::uint32_t>(nk + nkSize(rootName.size()));
    const auto ri = static_cast<std::uint32_t>(sk + skSize);
    const std::size_t riSize = lists == 0 ? 0 : align(8 + 4 * lists);
    const std::size_t lfSize = align(8 + 8 * kPerList);
    const std::size_t childSize = nkSize(7);
    const std::size_t used = ri + riSize + lists * lfSize + subkeys * childSize;
    const std::size_t bins = (used + 8 + kBase - 1) / kBase * kBase;  // room for a free cell at the end
    std::string b(kBase + bins, '\0');

    // Base block.
    std::memcpy(&b[0], "regf", 4);
    Put32(b, 0x04, 1);  // sequence numbers, equal: the file is consistent
    Put32(b, 0x08, 1);
    Put32(b, 0x14, 1);  // format 1.3
    Put32(b, 0x18, 3);
    Put32(b, 0x1c, 0);  // primary file
    Put32(b, 0x20, 1);
    Put32(b, 0x24, nk);  // cell offsets count from the first hbin
    Put32(b, 0x28, static_cast<std::uint32_t>(bins));
    Put32(b, 0x2c, 1);
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 0x1fc; at += 4) sum ^= Get32(b, at);
    Put32(b, 0x1fc, sum);

    // One hbin holds everything.
    std::memcpy(&b[kBase], "hbin", 4);
    Put32(b, kBase + 0x04, 0);
    Put32(b, kBase + 0x08, static_cast<std::uint32_t>(bins));

    // A key: an nk cell with an ASCII name and no values.
    const auto key = [&](std::uint32_t cell, std::uint16_t flags, std::uint32_t parent, const std::string& name) {
        std::size_t at = kBase + cell;
        Put32(b, at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nkSize(name.size()))));
        at += 4;
        std::memcpy(&b[at], "nk", 2);
        Put16(b, at + 0x02, flags);
        Put32(b, at + 0x10, parent);
        Put32(b, at + 0x1c, kNone);  // subkey lists
        Put32(b, at + 0x20, kNone);
        Put32(b, at + 0x28, kNone);  // value list
        Put32(b, at + 0x2c, sk);
        Put32(b, at + 0x30, kNone);  // class name
        Put16(b, at + 0x48, static_cast<std::uint16_t>(name.size()));
        std::memcpy(&b[at + 0x4c], name.data(), name.size());
    };
    key(nk, 0x2c, 0, rootName);  // hive root, cannot be deleted, ASCII name

    // Its security: an sk cell, linked to itself, with a descriptor that has
    // no owner, group or lists; every key refers to it.
    std::size_t at = kBase + sk;
    Put32(b, at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
    at += 4;
    std::memcpy(&b[at], "sk", 2);
    Put32(b, at + 0x04, sk);  // next and previous sk cells
    Put32(b, at + 0x08, sk);
    Put32(b, at + 0x0c, static_cast<std::uint32_t>(subkeys + 1));
    Put32(b, at + 0x10, 20);
    b[at + 0x14] = 1;                // revision
    Put16(b, at + 0x16, 0x8004);     // self-relative, DACL present (none: all allowed)

    // Subkeys "k000000" on: an ri list over lf lists of a thousand each.
    if (subkeys != 0) {
        Put32(b, kBase + nk + 4 + 0x14, static_cast<std::uint32_t>(subkeys));
        Put32(b, kBase + nk + 4 + 0x1c, ri);
        Put32(b, kBase + ri, static_cast<std::uint32_t>(-static_cast<std::int32_t>(riSize)));
        std::memcpy(&b[kBase + ri + 4], "ri", 2);
        Put16(b, kBase + ri + 6, static_cast<std::uint16_t>(lists));
        const auto firstChild = static_cast<std::uint32_t>(ri + riSize + lists * lfSize);
        for (std::size_t l = 0; l < lists; ++l) {
            const auto lf = static_cast<std::uint32_t>(ri + riSize + l * lfSize);
            const std::size_t count = std::min(kPerList, subkeys - l * kPerList);
            Put32(b, kBase + ri + 8 + 4 * l, lf);
            Put32(b, kBase + lf, static_cast<std::uint32_t>(-static_cast<std::int32_t>(lfSize)));
            std::memcpy(&b[kBase + lf + 4], "lf", 2);
            Put16(b, kBase + lf + 6, static_cast<std::uint16_t>(count));
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t n = l * kPerList + i;
                const auto child = static_cast<std::uint32_t>(firstChild + n * childSize);
                char name[24];  // seven letters below a million subkeys
                std::snprintf(name, sizeof name, "k%06zu", n);
                key(child, 0x20, nk, name);
                Put32(b, kBase + lf + 8 + 8 * i, child);
                std::memcpy(&b[kBase + lf + 12 + 8 * i], name, 4);  // the name's first four letters
            }
        }
    }

    // The rest of the bin is one free cell.
    Put32(b, kBase + used, static_cast<std::uint32_t>(bins - used));
    return b;
}

bool WriteEmptyHive(const std::string& path, const std::string& rootName) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string bytes = EmptyHive(rootName);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace qv::testing
