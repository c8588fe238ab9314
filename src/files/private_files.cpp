#include "files/private_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <sys/stat.h>

#include "files/file_names.h"

namespace qv {

namespace {

#ifndef _WIN32
// `text` as one word for a POSIX shell, quoted only when it must be.
std::string ShellWord(const std::string& text) {
    if (!text.empty() && text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                "0123456789/._-+,:@%=") == std::string::npos)
        return text;
    std::string word = "'";
    for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

std::string Octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}
#endif

}  // namespace

bool MakePrivateFolders(const std::string& folder, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code failed;
#ifdef _WIN32
    fs::create_directories(PathFromUtf8(folder), failed);
    if (failed) error = failed.message();
    return !failed;
#else
    // The missing folders, deepest first; each is made with 0700 from the
    // start, so none is ever open to others, not even for a moment.
    std::vector<fs::path> missing;
    for (fs::path at = PathFromUtf8(folder); !at.empty() && !fs::exists(at, failed);) {
        missing.push_back(at);
        const fs::path up = at.parent_path();
        if (up == at) break;
        at = up;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        // Another process may make it at the same moment: a folder is fine.
        if (::mkdir(it->c_str(), 0700) != 0 && !(errno == EEXIST && fs::is_directory(*it, failed))) {
            error = "cannot make the folder " + Utf8FromPath(*it) + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!fs::is_directory(PathFromUtf8(folder), failed)) {
        error = folder + " is not a folder";
        return false;
    }
    return true;
#endif
}

bool NarrowFolder(const std::string& folder, std::string& error) {
#ifdef _WIN32
    (void)folder;
    (void)error;
    return true;
#else
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        error = "cannot look at " + folder + ": " + std::strerror(errno);
        return false;
    }
    if ((st.st_mode & 077) == 0) return true;
    if (::chmod(folder.c_str(), 0700) != 0) {
        error = "other users may open " + folder + " (its mode is " + Octal(st.st_mode) +
                ") and it cannot be narrowed to 0700: " + std::strerror(errno);
        return false;
    }
    return true;
#endif
}

std::string ReadableByOthers(const std::string& file) {
#ifdef _WIN32
    (void)file;
    return {};
#else
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IROTH)) == 0) return {};
    return file + " is readable by other users; run: chmod 600 " + ShellWord(file);
#endif
}

}  // namespace qv
