// Windows' transaction logs written by the tests themselves: the changes
// that turn one hive (as hivex wrote it) into another, as new-format log
// entries or as an old-format log of dirty sectors over the first. With the
// first hive made dirty as Windows leaves one, replaying the logs must give
// the second byte for byte from its first hive bin on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::testing {

// `hive` as Windows leaves it while its logs hold changes: the primary
// sequence number one past the secondary, the checksum right.
std::string MadeDirty(const std::string& hive);

// A new-format entry numbered `sequence` holding the 4096-byte pages in
// which `to` differs from `from`, with `to`'s hive bins size and its hashes.
std::string LogEntry(const std::string& from, const std::string& to, std::uint32_t sequence);

// A new-format log of `hive` (its base block, as a log keeps it) holding
// `entries` one after the other.
std::string NewFormatLog(const std::string& hive, const std::vector<std::string>& entries);

// An old-format log that turns the dirty `from` into `to`: `to`'s base block
// at `from`'s time stamp, the bitmap of the sectors that differ, the sectors.
std::string OldFormatLog(const std::string& from, const std::string& to);

}  // namespace qv::testing
