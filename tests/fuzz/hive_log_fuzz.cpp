// Feeds arbitrary bytes to the replay of Windows' hive logs as a hive and one
// or two logs: the input is a 32-bit little-endian length and that many bytes
// of hive, a length and that many bytes of the first log, and the rest as the
// second. The replay must end, never crash, never grow a hive past what its
// files hold, and leave a hive it applied something to written whole.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/hive_log.h"

namespace {

// The next length-prefixed part of `rest`, cut to what is left.
std::string_view Part(std::string_view& rest) {
    if (rest.size() < 4) {
        const std::string_view all = rest;
        rest = {};
        return all;
    }
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(rest[static_cast<std::size_t>(i)]);
    rest.remove_prefix(4);
    const std::string_view part = rest.substr(0, length);
    rest.remove_prefix(part.size());
    return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view hive = Part(rest);
    std::vector<qv::HiveLogFile> logs;
    logs.push_back({"H.LOG1", std::string(Part(rest))});
    if (!rest.empty()) logs.push_back({"H.LOG2", std::string(rest)});
    std::string replayed;
    qv::HiveLogReplay report;
    constexpr std::uint64_t kLargest = std::uint64_t{1} << 26;
    qv::ReplayHiveLogs(hive, logs, replayed, report, kLargest);
    std::uint64_t held = hive.size();
    for (const qv::HiveLogFile& log : logs) held += log.bytes.size();
    if (replayed.size() > hive.size() && replayed.size() > held + 4096) __builtin_trap();
    if (!report.dirty && replayed != hive) __builtin_trap();
    if (report.applied != 0 && qv::HiveIsDirty(replayed)) __builtin_trap();
    return 0;
}
