// The change stamp all processes using one store file share, kept in the
// memory-mapped file <store>-qvstamp beside it. Private to the store.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::store {

// Tells without a database transaction (each costs several system calls)
// whether anything was committed to the store since a given moment, so that
// a snapshot known current at that moment can be used as it is. A writer,
// once it holds SQLite's write lock, takes a ticket by bumping `begun`, and
// raises `done` to its ticket when committed or rolled back. Tickets follow
// the order of the write lock, so `done` reaching `begun` means every write
// begun so far is over. A stamp is valid only while the two agree. A writer
// that dies in between leaves them apart until the next write ends, which
// only sends readers to the file meanwhile. Changes made to the file with
// other tools are not noticed until the store's next write.
// SQLite's PRAGMA data_version would notice those too, but each reading is
// a read transaction (two file locks, about 2 us), and a forced load makes
// about a million calls answered from memory: it took 3.5 times as long.
// SQLITE_FCNTL_DATA_VERSION is free but only moves when the connection next
// starts a transaction, so it misses other processes' commits.
class CChangeStamp {
public:
    CChangeStamp() = default;
    ~CChangeStamp();
    CChangeStamp(const CChangeStamp&) = delete;
    CChangeStamp& operator=(const CChangeStamp&) = delete;

    // Without the file (say, in a read-only folder) every stamp is 0. A new
    // file gets `mode`, the store file's, as SQLite gives its -wal and -shm.
    void Open(const std::string& path, unsigned mode);
    // 0 while a write may be under way.
    std::uint64_t Current() const {
        if (m_words == nullptr) return 0;
        const std::uint64_t begun = std::atomic_ref(m_words[0]).load(std::memory_order_acquire);
        const std::uint64_t done = std::atomic_ref(m_words[1]).load(std::memory_order_acquire);
        return begun == done ? done + 1 : 0;
    }
    // Call holding the write lock; hand the ticket to EndWrite.
    std::uint64_t BeginWrite() {
        if (m_words == nullptr) return 0;
        return std::atomic_ref(m_words[0]).fetch_add(1, std::memory_order_acq_rel) + 1;
    }
    void EndWrite(std::uint64_t ticket);

private:
    static constexpr std::size_t kSize = 4096;
    std::uint64_t* m_words = nullptr;
};

}  // namespace qv::store
