// Windows' transaction logs of a hive, applied to a copy of it. Since Windows
// 8.1 (and on a running, hibernated or Fast Startup system before) a hive's
// latest changes are written to <hive>.LOG1/.LOG2 first and into the hive
// later; until then the hive's base block is "dirty" (its two sequence
// numbers differ, or its checksum is wrong) and the file alone holds older
// keys. Both log formats are read:
//   - the old one (Vista, 7): a copy of the base block, a "DIRT" bitmap of
//     dirty 512-byte sectors of the hive bins, then those sectors;
//   - the new one (8.1 on): "HvLE" entries, each with its sequence number,
//     the hive bins size, its dirty pages and two Marvin32 hashes.
// Plain bytes in, bytes out and a report; no hivex, no files. A log is
// hostile input: every offset is checked, every loop is bounded by the
// bytes given, and nothing grows past what the hive and its logs hold or
// past `largest`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// One log beside a hive: its name (for messages) and its bytes.
struct HiveLogFile {
    std::string name;
    std::string bytes;
};

struct HiveLogReplay {
    enum class Format { kNone, kOld, kNew };
    Format format = Format::kNone;
    bool dirty = false;                // the hive's base block says it is unfinished
    bool baseBlockRestored = false;    // the hive's own base block was bad and a log's was taken
    std::vector<std::string> used;     // the logs something was applied from, in the order applied
    std::size_t applied = 0;           // log entries (new format) or 512-byte sectors (old format)
    std::uint32_t sequence = 0;        // both sequence numbers of the replayed hive's base block
    std::uint32_t highestSequence = 0; // the highest sequence number any base block or entry read holds
    // Why the replay ended before the logs did ("SOFTWARE.LOG1's entry 4 fails
    // its hash check"): entries after it are not applied. Empty when every
    // entry that follows the hive was applied.
    std::string stopped;
    // Logs that could not be used at all, each with why ("SOFTWARE.LOG2 is
    // a log of another hive"). Empty logs are not listed.
    std::vector<std::string> unusable;
};

// The seed the new log format hashes its entries with.
constexpr std::uint64_t kHiveLogSeed = 0x82EF4D887A4E55C5ull;

// The 64-bit Marvin32 hash of `bytes`, the low word first as the log keeps it.
std::uint64_t Marvin32(std::string_view bytes, std::uint64_t seed);

// The XOR-32 checksum of a base block's first 508 bytes as Windows stores
// it (never 0 or ~0). `block` must hold at least 512 bytes.
std::uint32_t BaseBlockChecksum(std::string_view block);

// Whether the hive `bytes` begins with a base block Windows left unfinished:
// a "regf" block whose sequence numbers differ or whose checksum is wrong.
// False for anything that is no hive at all.
bool HiveIsDirty(std::string_view bytes);

// Applies `logs` (one or two, in any order) to the dirty hive `hive` into
// `replayed`, as Windows does when it loads the hive: old format, the log
// written at the hive's time stamp; new format, the entries from the one
// numbered as the hive's secondary sequence number on, each next one
// numbered one higher, from whichever log holds it. An entry that is cut
// short, fails a hash or does not follow ends the replay there. The
// replayed base block holds the last entry's sequence number in both places,
// its hive bins size and a right checksum. `replayed` is `hive` unchanged
// when the hive is clean or nothing applies. A hive may not grow past
// `largest` bytes.
void ReplayHiveLogs(std::string_view hive, const std::vector<HiveLogFile>& logs, std::string& replayed,
                    HiveLogReplay& report, std::uint64_t largest = std::uint64_t{1} << 31);

// Makes the base block of `hive` (at least 512 bytes) say it was written
// whole: both sequence numbers `sequence`, the checksum right.
void MarkHiveWritten(std::string& hive, std::uint32_t sequence);

}  // namespace qv
