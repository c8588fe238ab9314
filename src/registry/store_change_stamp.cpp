// Maps and updates the shared change stamp. Only the store's writers move
// it; it must never be trusted as a record of what the file holds, only as
// a hint that nothing changed.
#include "registry/store_change_stamp.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::store {

CChangeStamp::~CChangeStamp() {
    if (m_words != nullptr) munmap(m_words, kSize);
}

void CChangeStamp::Open(const std::string& path, unsigned mode) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, static_cast<mode_t>(mode & 0666));
    if (fd < 0) return;
    struct stat info {};
    // The umask must not keep those who share the store from its stamp.
    if (fstat(fd, &info) == 0 && info.st_size == 0) (void)fchmod(fd, static_cast<mode_t>(mode & 0666));
    if (fstat(fd, &info) == 0 && (info.st_size >= static_cast<off_t>(kSize) || ftruncate(fd, kSize) == 0)) {
        void* words = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (words != MAP_FAILED) m_words = static_cast<std::uint64_t*>(words);
    }
    ::close(fd);
}

void CChangeStamp::EndWrite(std::uint64_t ticket) {
    if (m_words == nullptr) return;
    std::atomic_ref done(m_words[1]);
    std::uint64_t seen = done.load(std::memory_order_acquire);
    while (seen < ticket && !done.compare_exchange_weak(seen, ticket, std::memory_order_acq_rel)) {
    }
}

}  // namespace qv::store
