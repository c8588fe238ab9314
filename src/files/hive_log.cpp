#include "files/hive_log.h"

#include <algorithm>
#include <cstring>

namespace qv {

namespace {

constexpr std::size_t kBaseBlock = 4096;  // the hive bins start here; page offsets count from it
constexpr std::size_t kSector = 512;
constexpr std::size_t kBinsAlign = 4096;
constexpr std::size_t kEntryHeader = 40;

// Base block fields.
constexpr std::size_t kPrimarySequence = 4;
constexpr std::size_t kSecondarySequence = 8;
constexpr std::size_t kTimeStamp = 12;
constexpr std::size_t kFileType = 28;
constexpr std::size_t kBinsSize = 40;
constexpr std::size_t kClustering = 44;
constexpr std::size_t kFileName = 48;
constexpr std::size_t kFileNameLength = 64;
constexpr std::size_t kFlags = 144;
constexpr std::size_t kChecksum = 508;

constexpr std::uint32_t kPrimaryFile = 0;
constexpr std::uint32_t kOldLog1 = 1;
constexpr std::uint32_t kOldLog2 = 2;
constexpr std::uint32_t kNewLog = 6;

std::uint32_t Get32(std::string_view b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

std::uint64_t Get64(std::string_view b, std::size_t at) {
    return Get32(b, at) | (std::uint64_t{Get32(b, at + 4)} << 32);
}

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

std::uint32_t Rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

void MarvinBlock(std::uint32_t& p0, std::uint32_t& p1) {
    p1 ^= p0;
    p0 = Rotl(p0, 20);
    p0 += p1;
    p1 = Rotl(p1, 9);
    p1 ^= p0;
    p0 = Rotl(p0, 27);
    p0 += p1;
    p1 = Rotl(p1, 19);
}

bool BaseBlockValid(std::string_view b) {
    return b.size() >= kSector && b.substr(0, 4) == "regf" && Get32(b, kChecksum) == BaseBlockChecksum(b);
}

std::uint64_t RoundUp(std::uint64_t n, std::uint64_t to) { return (n + to - 1) / to * to; }

std::string Number(std::uint64_t n) { return std::to_string(n); }

// A new-format entry that passed its checks.
struct Entry {
    std::size_t index;   // 1 for a log's first entry
    std::size_t offset;  // in its log
    std::uint32_t sequence;
    std::uint32_t bins;
    std::uint32_t flags;
    std::uint32_t pages;
};

struct NewLog {
    const HiveLogFile* file;
    std::vector<Entry> entries;
    std::string damage;  // why reading it stopped before its end, if it did
};

// The entries of a new-format log up to its end (no "HvLE" where the next
// would be) or its first bad one, which `log.damage` then names.
void ReadEntries(NewLog& log, std::uint64_t room, std::uint32_t& highest) {
    const std::string_view b = log.file->bytes;
    const std::string& name = log.file->name;
    for (std::size_t at = kSector, index = 1; at + kEntryHeader <= b.size(); ++index) {
        if (b.substr(at, 4) != "HvLE") return;
        const std::string which = name + "'s entry " + Number(index);
        const std::uint32_t size = Get32(b, at + 4);
        const std::uint32_t bins = Get32(b, at + 16);
        const std::uint32_t pages = Get32(b, at + 20);
        if (size < kEntryHeader || size % kSector != 0) {
            log.damage = which + " has a size (" + Number(size) + ") that is not whole sectors";
            return;
        }
        if (size > b.size() - at) {
            log.damage = which + " is cut short";
            return;
        }
        const std::string_view entry = b.substr(at, size);
        if (Marvin32(entry.substr(0, 32), kHiveLogSeed) != Get64(entry, 32) ||
            Marvin32(entry.substr(kEntryHeader), kHiveLogSeed) != Get64(entry, 24)) {
            log.damage = which + " fails its hash check";
            return;
        }
        if (bins == 0 || bins % kBinsAlign != 0 || kBaseBlock + std::uint64_t{bins} > room) {
            log.damage = which + " gives the hive bins a size (" + Number(bins) + ") they cannot have";
            return;
        }
        // The page references, then the pages, all within the entry.
        std::uint64_t end = kEntryHeader + std::uint64_t{pages} * 8;
        bool fits = end <= size;
        for (std::uint32_t i = 0; fits && i < pages; ++i) {
            const std::uint32_t offset = Get32(entry, kEntryHeader + 8 * i);
            const std::uint32_t length = Get32(entry, kEntryHeader + 8 * i + 4);
            end += length;
            fits = length != 0 && end <= size && std::uint64_t{offset} + length <= bins;
        }
        if (!fits) {
            log.damage = which + " lists pages that do not fit in it or in the hive";
            return;
        }
        const std::uint32_t sequence = Get32(entry, 12);
        highest = std::max(highest, sequence);
        log.entries.push_back({index, at, sequence, bins, Get32(entry, 8), pages});
        at += size;
    }
}

void ApplyEntry(std::string_view log, const Entry& e, std::string& hive) {
    const std::size_t size = kBaseBlock + e.bins;
    if (hive.size() < size) hive.resize(size, '\0');
    std::size_t data = e.offset + kEntryHeader + std::size_t{e.pages} * 8;
    for (std::uint32_t i = 0; i < e.pages; ++i) {
        const std::uint32_t offset = Get32(log, e.offset + kEntryHeader + 8 * i);
        const std::uint32_t length = Get32(log, e.offset + kEntryHeader + 8 * i + 4);
        std::memcpy(&hive[kBaseBlock + offset], log.data() + data, length);
        data += length;
    }
}

void ReplayNew(std::string_view hive, const std::vector<const HiveLogFile*>& logs, std::uint64_t room,
               std::string& replayed, HiveLogReplay& report) {
    report.format = HiveLogReplay::Format::kNew;
    std::vector<NewLog> read;
    for (const HiveLogFile* file : logs) {
        read.push_back({file, {}, {}});
        ReadEntries(read.back(), room, report.highestSequence);
    }
    // Which log comes first follows from its entries' numbers; a log with
    // none comes last (it can only tell why the replay ends).
    std::stable_sort(read.begin(), read.end(), [](const NewLog& a, const NewLog& b) {
        if (a.entries.empty() || b.entries.empty()) return !a.entries.empty() && b.entries.empty();
        return a.entries.front().sequence < b.entries.front().sequence;
    });
    if (!BaseBlockValid(hive)) {
        // The hive's own base block is damaged: the one its first log keeps
        // stands in for it, as the file it was copied from.
        replayed.replace(0, kSector, read.front().file->bytes, 0, kSector);
        Put32(replayed, kFileType, kPrimaryFile);
        Put32(replayed, kChecksum, BaseBlockChecksum(replayed));
        report.baseBlockRestored = true;
    }
    std::uint32_t expected = Get32(replayed, kSecondarySequence);
    const Entry* last = nullptr;
    std::string laterDamage;  // damage in a log read before the replay began
    for (const NewLog& log : read) {
        bool stale = false;
        for (const Entry& e : log.entries) {
            if (e.sequence < expected) {
                // Entries already in the hive, or, after the replay began, what
                // is left of an earlier round in this log: its end.
                if (last == nullptr) continue;
                stale = true;
                break;
            }
            if (e.sequence > expected) {
                report.stopped = log.file->name + "'s entry " + Number(e.index) + " has sequence number " +
                                 Number(e.sequence) + " where " + Number(expected) +
                                 (last == nullptr ? " was to come first" : " was next") + ": entries are missing";
                break;
            }
            ApplyEntry(log.file->bytes, e, replayed);
            if (report.used.empty() || report.used.back() != log.file->name) report.used.push_back(log.file->name);
            last = &e;
            ++report.applied;
            ++expected;
        }
        if (!report.stopped.empty()) break;
        if (!stale && !log.damage.empty()) {
            if (last != nullptr) {
                report.stopped = log.damage;
                break;
            }
            if (laterDamage.empty()) laterDamage = log.damage;
        }
    }
    if (last == nullptr && report.stopped.empty()) report.stopped = laterDamage;
    // When nothing followed the hive, only its base block may have changed.
    if (last == nullptr) return;
    replayed.resize(kBaseBlock + last->bins);
    Put32(replayed, kBinsSize, last->bins);
    Put32(replayed, kFlags, last->flags);
    report.sequence = last->sequence;
    MarkHiveWritten(replayed, last->sequence);
}

void ReplayOld(std::string_view hive, const std::vector<const HiveLogFile*>& logs, std::uint64_t room,
               std::string& replayed, HiveLogReplay& report) {
    report.format = HiveLogReplay::Format::kOld;
    // A log applies to the hive written at the same time; without a base
    // block of its own, the hive's first bin keeps that time.
    std::uint64_t stamp = 0;
    if (BaseBlockValid(hive))
        stamp = Get64(hive, kTimeStamp);
    else if (hive.size() >= kBaseBlock + 28 && hive.substr(kBaseBlock, 4) == "hbin")
        stamp = Get64(hive, kBaseBlock + 20);
    const HiveLogFile* chosen = nullptr;
    for (const HiveLogFile* log : logs) {
        const std::string_view b = log->bytes;
        if (Get32(b, kPrimarySequence) != Get32(b, kSecondarySequence))
            report.unusable.push_back(log->name + " was itself left unfinished (its sequence numbers differ)");
        else if (Get64(b, kTimeStamp) != stamp)
            report.unusable.push_back(log->name + " belongs to another state of the hive (its time stamp differs)");
        else if (chosen == nullptr || Get32(b, kPrimarySequence) > Get32(chosen->bytes, kPrimarySequence))
            chosen = log;
    }
    if (chosen == nullptr) return;
    const std::string_view b = chosen->bytes;
    const std::uint32_t clustering = Get32(b, kClustering);
    const std::uint32_t bins = Get32(b, kBinsSize);
    if (clustering == 0 || clustering > 8 || bins == 0 || bins % kSector != 0 || kBaseBlock + std::uint64_t{bins} > room) {
        report.unusable.push_back(chosen->name + "'s base block gives sizes a hive cannot have");
        return;
    }
    const std::size_t sector = kSector * clustering;
    const std::size_t sectors = bins / kSector;
    const std::size_t bitmap = (sectors + 7) / 8;
    if (b.size() < sector + 4 + bitmap || b.substr(sector, 4) != "DIRT") {
        report.unusable.push_back(chosen->name + " has no whole dirty vector");
        return;
    }
    const std::size_t pages = RoundUp(sector + 4 + bitmap, sector);
    const auto dirty = [&](std::size_t i) {
        return (static_cast<unsigned char>(b[sector + 4 + i / 8]) >> (i % 8)) & 1u;
    };
    replayed.resize(kBaseBlock + bins, '\0');
    report.used.push_back(chosen->name);
    // A run of dirty sectors is applied whole or not at all.
    std::size_t taken = 0;
    for (std::size_t i = 0; i < sectors;) {
        if (!dirty(i)) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < sectors && dirty(end)) ++end;
        const std::size_t count = end - i;
        if (pages + (taken + count) * kSector > b.size()) {
            report.stopped = chosen->name + " is cut short after " + Number(taken) + " of its dirty sectors";
            break;
        }
        std::memcpy(&replayed[kBaseBlock + i * kSector], b.data() + pages + taken * kSector, count * kSector);
        taken += count;
        i = end;
    }
    report.applied = taken;
    report.baseBlockRestored = !BaseBlockValid(hive);
    if (taken == 0 && !report.baseBlockRestored) {
        replayed.assign(hive);
        report.used.clear();
        return;
    }
    // The log's base block is the hive's as it was being written.
    replayed.replace(0, kChecksum, b.substr(0, kChecksum));
    Put32(replayed, kFileType, kPrimaryFile);
    report.sequence = Get32(b, kPrimarySequence);
    MarkHiveWritten(replayed, report.sequence);
}

}  // namespace

std::uint64_t Marvin32(std::string_view bytes, std::uint64_t seed) {
    std::uint32_t p0 = static_cast<std::uint32_t>(seed);
    std::uint32_t p1 = static_cast<std::uint32_t>(seed >> 32);
    std::size_t at = 0;
    for (; bytes.size() - at >= 4; at += 4) {
        p0 += Get32(bytes, at);
        MarvinBlock(p0, p1);
    }
    std::uint32_t last = 0x80;
    for (std::size_t i = bytes.size() - at; i-- > 0;) last = (last << 8) | static_cast<unsigned char>(bytes[at + i]);
    p0 += last;
    MarvinBlock(p0, p1);
    MarvinBlock(p0, p1);
    return (std::uint64_t{p1} << 32) | p0;
}

std::uint32_t BaseBlockChecksum(std::string_view block) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < kChecksum; at += 4) sum ^= Get32(block, at);
    if (sum == 0xffffffffu) return 0xfffffffeu;
    return sum == 0 ? 1 : sum;
}

bool HiveIsDirty(std::string_view bytes) {
    if (bytes.size() < kSector || bytes.substr(0, 4) != "regf") return false;
    return Get32(bytes, kPrimarySequence) != Get32(bytes, kSecondarySequence) ||
           Get32(bytes, kChecksum) != BaseBlockChecksum(bytes);
}

void ReplayHiveLogs(std::string_view hive, const std::vector<HiveLogFile>& logs, std::string& replayed,
                    HiveLogReplay& report, std::uint64_t largest) {
    report = {};
    replayed.assign(hive);
    if (!HiveIsDirty(hive)) return;
    report.dirty = true;
    report.highestSequence = std::max(Get32(hive, kPrimarySequence), Get32(hive, kSecondarySequence));
    if (hive.size() < kBaseBlock) return;
    // Every byte a hive grows by comes from its logs: it never grows past
    // what the files hold, whatever a log claims.
    std::uint64_t room = hive.size();
    for (const HiveLogFile& log : logs) room += log.bytes.size();
    room = std::min(RoundUp(room, kBinsAlign), largest);

    const bool own = BaseBlockValid(hive);
    std::vector<const HiveLogFile*> older, newer;
    for (const HiveLogFile& log : logs) {
        const std::string_view b = log.bytes;
        if (b.find_first_not_of('\0') == std::string_view::npos) continue;  // empty: nothing was logged
        if (b.size() < kSector || b.substr(0, 4) != "regf") {
            report.unusable.push_back(log.name + " is no hive log (it has no base block)");
            continue;
        }
        if (Get32(b, kChecksum) != BaseBlockChecksum(b)) {
            report.unusable.push_back(log.name + "'s base block is damaged");
            continue;
        }
        const std::uint32_t type = Get32(b, kFileType);
        if (type != kNewLog && type != kOldLog1 && type != kOldLog2) {
            report.unusable.push_back(log.name + " is no hive log (its file type is " + Number(type) + ")");
            continue;
        }
        if (own && hive.substr(kFileName, kFileNameLength) != b.substr(kFileName, kFileNameLength)) {
            report.unusable.push_back(log.name + " is a log of another hive (its base block names another file)");
            continue;
        }
        report.highestSequence = std::max({report.highestSequence, Get32(b, kPrimarySequence),
                                           Get32(b, kSecondarySequence)});
        (type == kNewLog ? newer : older).push_back(&log);
    }
    // A hive has logs of one format; old ones beside new ones are left from
    // before an upgrade.
    if (!newer.empty())
        ReplayNew(hive, newer, room, replayed, report);
    else if (!older.empty())
        ReplayOld(hive, older, room, replayed, report);
}

void MarkHiveWritten(std::string& hive, std::uint32_t sequence) {
    Put32(hive, kPrimarySequence, sequence);
    Put32(hive, kSecondarySequence, sequence);
    Put32(hive, kChecksum, BaseBlockChecksum(hive));
}

}  // namespace qv
