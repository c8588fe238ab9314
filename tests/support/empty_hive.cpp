#include "tests/support/empty_hive.h"

#include <cstdint>
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

std::string EmptyHive(const std::string& rootName) {
    std::string b(2 * kBase, '\0');
    // Base block.
    std::memcpy(&b[0], "regf", 4);
    Put32(b, 0x04, 1);  // sequence numbers, equal: the file is consistent
    Put32(b, 0x08, 1);
    Put32(b, 0x14, 1);  // format 1.3
    Put32(b, 0x18, 3);
    Put32(b, 0x1c, 0);  // primary file
    Put32(b, 0x20, 1);
    const std::uint32_t nk = 0x20;  // cell offsets count from the first hbin
    Put32(b, 0x24, nk);
    Put32(b, 0x28, kBase);  // size of the hive bins
    Put32(b, 0x2c, 1);
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 0x1fc; at += 4) sum ^= Get32(b, at);
    Put32(b, 0x1fc, sum);

    // The one hbin.
    std::memcpy(&b[kBase], "hbin", 4);
    Put32(b, kBase + 0x04, 0);
    Put32(b, kBase + 0x08, kBase);

    // Root key: nk cell.
    const std::size_t nkSize = (4 + 0x4c + rootName.size() + 7) & ~std::size_t{7};
    const std::uint32_t sk = nk + static_cast<std::uint32_t>(nkSize);
    std::size_t at = kBase + nk;
    Put32(b, at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nkSize)));
    at += 4;
    std::memcpy(&b[at], "nk", 2);
    Put16(b, at + 0x02, 0x2c);  // hive root, cannot be deleted, ASCII name
    Put32(b, at + 0x10, 0);     // parent
    Put32(b, at + 0x1c, kNone);  // subkey lists
    Put32(b, at + 0x20, kNone);
    Put32(b, at + 0x28, kNone);  // value list
    Put32(b, at + 0x2c, sk);
    Put32(b, at + 0x30, kNone);  // class name
    Put16(b, at + 0x48, static_cast<std::uint16_t>(rootName.size()));
    std::memcpy(&b[at + 0x4c], rootName.data(), rootName.size());

    // Its security: an sk cell, linked to itself, with a descriptor that has
    // no owner, group or lists.
    const std::size_t skSize = 4 + 0x14 + 20 + 4;
    at = kBase + sk;
    Put32(b, at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
    at += 4;
    std::memcpy(&b[at], "sk", 2);
    Put32(b, at + 0x04, sk);  // next and previous sk cells
    Put32(b, at + 0x08, sk);
    Put32(b, at + 0x0c, 1);   // one key refers to it
    Put32(b, at + 0x10, 20);
    b[at + 0x14] = 1;                // revision
    Put16(b, at + 0x16, 0x8004);     // self-relative, DACL present (none: all allowed)

    // The rest of the page is one free cell.
    const std::size_t used = 0x20 + nkSize + skSize;
    Put32(b, kBase + used, static_cast<std::uint32_t>(kBase - used));
    return b;
}

bool WriteEmptyHive(const std::string& path, const std::string& rootName) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string bytes = EmptyHive(rootName);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace qv::testing
