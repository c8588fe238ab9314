// Files and folders that may hold registry data or a secret are kept from
// the computer's other users, whatever the umask: folders the program makes
// for them are its owner's alone (0700), and a secret someone else could read
// is refused rather than used. On Windows a user's own folders are private
// already: folders are made as they are, and nothing is narrowed or refused.
#pragma once

#include <string>

namespace qv {

// Makes `folder` and each missing folder above it, each one readable by its
// owner only (0700). Folders that exist are left as their owner keeps them.
// False with the reason.
bool MakePrivateFolders(const std::string& folder, std::string& error);

// Narrows an existing `folder` that its group or others may read, write or
// enter to its owner alone (0700). False with the reason when it cannot be.
bool NarrowFolder(const std::string& folder, std::string& error);

// A file holding a secret (a token, a private key) that other users may
// read: "/path is readable by other users; run: chmod 600 /path". Empty when
// only its owner may read it, or when it cannot be looked at (reading it then
// tells why).
std::string ReadableByOthers(const std::string& file);

}  // namespace qv
