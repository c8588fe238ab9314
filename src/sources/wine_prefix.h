// Wine's registry files opened as a writable registry: each file's keys held
// in memory below the key it is relative to, written back in Wine's own
// format with everything else in the file kept (files/wine_reg_file.h). A
// wineserver serving the prefix holds the registry in its memory and would
// write its own copy over ours, so while one runs the files are only read,
// and a write-back finding one started meanwhile is refused whole.
#pragma once

#include <string>

#include "registry/file_registry.h"

namespace qv {

// Why the Wine prefix in `folder` may not be written now: a wineserver
// serving it (it holds the lock in its server folder, named after the
// prefix folder's device and inode), with how to stop it; empty when none is.
std::string WineServerReason(const std::string& folder);

// Mounts Wine's registry file `file` of the prefix `prefix` (the folder it
// is in) where its keys belong: system.reg as HKEY_LOCAL_MACHINE, user.reg as
// HKEY_CURRENT_USER, userdef.reg as HKEY_USERS\.Default. Writable when
// `writable`, the file and folder allow it and no wineserver runs for the
// prefix. False, with a message naming the file, when it cannot be read.
bool MountWineFile(CFileRegistry& registry, const std::string& file, const std::string& prefix, bool writable,
                   std::string& error);

}  // namespace qv
