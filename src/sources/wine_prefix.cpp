#include "sources/wine_prefix.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

#include "files/file_names.h"
#include "files/reg_file.h"
#include "files/wine_reg_file.h"
#include "model/key_node.h"

namespace qv {

namespace {

// Now, in 100 ns ticks since 1601, as Wine stamps keys.
std::uint64_t NowTicks() {
    const auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return 116444736000000000ull + static_cast<std::uint64_t>(since1970.count()) / 100;
}

bool ReadText(const std::string& file, WineRegText& text, std::string& error) {
    std::string bytes, reason;
    if (!ReadImportFile(file, bytes, reason)) {
        error = file + ": " + reason;
        return false;
    }
    if (!ReadWineRegText(bytes, text, reason)) {
        error = file + ", " + reason + ".";
        return false;
    }
    return true;
}

// Why `file` in `prefix` cannot be written, or empty.
std::string ReadOnlyReasonOf(const std::string& file, const std::string& prefix) {
#ifdef _WIN32
    (void)prefix;
    return file + ": Wine's registry files are written by the Linux build of Quorvane only";
#else
    struct statvfs volume {};
    if (::statvfs(file.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0)
        return file + " is on a read-only file system";
    if (::access(file.c_str(), W_OK) != 0) return file + " is read-only";
    if (::access(prefix.c_str(), W_OK) != 0) return "the folder of " + file + " is read-only";
    return WineServerReason(prefix);
#endif
}

}  // namespace

std::string WineServerReason(const std::string& folder) {
#ifdef _WIN32
    (void)folder;
    return {};
#else
    struct stat prefix {};
    if (::stat(folder.c_str(), &prefix) != 0) return {};
    char name[64];
    std::snprintf(name, sizeof name, "/server-%llx-%llx", static_cast<unsigned long long>(prefix.st_dev),
                  static_cast<unsigned long long>(prefix.st_ino));
    // Wine's own place for the server folder, and Debian's: a folder of a
    // random name in the temporary folder, named in the prefix's
    // "wineserver" file.
    std::vector<std::string> servers{"/tmp/.wine-" + std::to_string(::getuid()) + name};
    std::ifstream named(folder + "/wineserver");
    std::string random;
    if (std::getline(named, random) && !random.empty() && random.find('/') == std::string::npos) {
        const char* tmp = std::getenv("TMPDIR");
        if (tmp != nullptr && *tmp != '\0') servers.push_back(std::string(tmp) + '/' + random + name);
        servers.push_back("/tmp/" + random + name);
    }
    for (const std::string& server : servers) {
        // The server holds a write lock on its lock file while it runs; the
        // folder and socket stay behind when it has gone.
        const int fd = ::open((server + "/lock").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        struct flock held {};
        held.l_type = F_WRLCK;
        held.l_whence = SEEK_SET;
        const bool locked = ::fcntl(fd, F_GETLK, &held) == 0 && held.l_type != F_UNLCK;
        ::close(fd);
        if (locked)
            return "a wineserver (process " + std::to_string(held.l_pid) + ") is running for the Wine prefix " +
                   folder + " and would write its own copy of the registry over any change; stop it with "
                   "`WINEPREFIX=" + folder + " wineserver -k`";
    }
    return {};
#endif
}

bool MountWineFile(CFileRegistry& registry, const std::string& file, const std::string& prefix, bool writable,
                   std::string& error) {
    auto text = std::make_shared<WineRegText>();
    if (!ReadText(file, *text, error)) return false;
    const HKEY root = text->root;
    const std::string path = text->basePath;
    CMemoryFileHooks hooks;
    bool first = true;  // the file was just read
    hooks.read = [file, text, first](KeyNode& base, std::string& message) mutable {
        if (!first && !ReadText(file, *text, message)) return false;
        first = false;
        if (BuildWineKeys(*text, base, message)) return true;
        message = file + ": " + message + ".";
        return false;
    };
    hooks.render = [text](const KeyNode& base, std::string& bytes, std::string& message) {
        return RenderWineRegText(*text, base, NowTicks(), bytes, message);
    };
    hooks.written = [text](const std::string& bytes) {
        // What was written is what the next write starts from.
        WineRegText reread;
        std::string ignored;
        if (ReadWineRegText(bytes, reread, ignored)) *text = std::move(reread);
    };
    hooks.busy = [prefix] { return WineServerReason(prefix); };
    return registry.MountMemoryFile(root, path, file, std::move(hooks),
                                    writable ? ReadOnlyReasonOf(file, prefix) : file + " is opened read-only", error);
}

}  // namespace qv
