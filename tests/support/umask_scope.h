// The umask of a new user on Debian (022, which lets every local user read a
// new file) for the life of a scope, so that a test shows which files the
// program keeps private itself. Restored when the scope ends.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

namespace qv::testing {

struct CUmaskScope {
    mode_t was = ::umask(022);
    ~CUmaskScope() { ::umask(was); }
};

// A file's permission bits; 0 when it cannot be looked at.
inline unsigned ModeOf(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
}

}  // namespace qv::testing
