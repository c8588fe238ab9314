#include "tests/support/hive_log_writer.h"

#include <algorithm>
#include <cstring>

#include "files/hive_log.h"

namespace qv::testing {

namespace {

constexpr std::size_t kBins = 4096;  // where the hive bins start
constexpr std::size_t kPage = 4096;

std::uint32_t Get32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void Put64(std::string& b, std::size_t at, std::uint64_t v) {
    Put32(b, at, static_cast<std::uint32_t>(v));
    Put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// The offsets (from the first bin) of the pages of `to`'s bins that differ from `from`.
std::vector<std::size_t> ChangedPages(const std::string& from, const std::string& to) {
    std::vector<std::size_t> pages;
    const std::size_t end = kBins + Get32(to, 40);
    for (std::size_t at = kBins; at < end; at += kPage) {
        const std::string_view now(to.data() + at, kPage);
        if (at + kPage > from.size() || now != std::string_view(from.data() + at, kPage)) pages.push_back(at - kBins);
    }
    return pages;
}

}  // namespace

std::string MadeDirty(const std::string& hive) {
    std::string dirty = hive;
    Put32(dirty, 4, Get32(hive, 8) + 1);
    Put32(dirty, 508, BaseBlockChecksum(dirty));
    return dirty;
}

std::string LogEntry(const std::string& from, const std::string& to, std::uint32_t sequence) {
    const std::vector<std::size_t> pages = ChangedPages(from, to);
    std::string entry(40 + 8 * pages.size(), '\0');
    std::memcpy(entry.data(), "HvLE", 4);
    Put32(entry, 8, Get32(to, 144));
    Put32(entry, 12, sequence);
    Put32(entry, 16, Get32(to, 40));
    Put32(entry, 20, static_cast<std::uint32_t>(pages.size()));
    for (std::size_t i = 0; i < pages.size(); ++i) {
        Put32(entry, 40 + 8 * i, static_cast<std::uint32_t>(pages[i]));
        Put32(entry, 44 + 8 * i, kPage);
        entry.append(to, kBins + pages[i], kPage);
    }
    entry.resize((entry.size() + 511) / 512 * 512, '\0');
    Put32(entry, 4, static_cast<std::uint32_t>(entry.size()));
    Put64(entry, 24, Marvin32(std::string_view(entry).substr(40), kHiveLogSeed));
    Put64(entry, 32, Marvin32(std::string_view(entry).substr(0, 32), kHiveLogSeed));
    return entry;
}

std::string NewFormatLog(const std::string& hive, const std::vector<std::string>& entries) {
    std::string log = hive.substr(0, 512);
    Put32(log, 28, 6);
    Put32(log, 4, Get32(hive, 8));
    Put32(log, 8, Get32(hive, 8));
    Put32(log, 508, BaseBlockChecksum(log));
    for (const std::string& entry : entries) log += entry;
    return log;
}

std::string OldFormatLog(const std::string& from, const std::string& to) {
    std::string log = to.substr(0, 512);
    std::memcpy(&log[12], &from[12], 8);  // written at the dirty hive's time
    Put32(log, 28, 1);
    Put32(log, 4, Get32(from, 4));
    Put32(log, 8, Get32(from, 4));
    Put32(log, 44, 1);
    Put32(log, 508, BaseBlockChecksum(log));
    const std::size_t sectors = Get32(to, 40) / 512;
    std::string vector = "DIRT" + std::string((sectors + 7) / 8, '\0');
    std::string dirty;
    for (const std::size_t page : ChangedPages(from, to)) {
        for (std::size_t s = page / 512; s < (page + kPage) / 512; ++s) vector[4 + s / 8] |= static_cast<char>(1 << (s % 8));
        dirty.append(to, kBins + page, kPage);
    }
    vector.resize((512 + vector.size() + 511) / 512 * 512 - 512, '\0');
    return log + vector + dirty;
}

}  // namespace qv::testing
