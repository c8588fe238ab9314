#include "sources/registry_source.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "files/file_names.h"
#include "model/key_node.h"
#include "model/loader.h"
#include "model/open_key.h"
#include "model/registry_errors.h"
#include "sources/wine_prefix.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kReadOnlyFiles = "a .reg file or Wine's registry files are only read, never written";
#else
constexpr const char* kReadOnlyFiles = "a .reg file is only read, never written";
#endif

// The entry of `folder` called `name` in any case (a Windows disk mounted on
// Linux keeps the case its names were made with); empty when there is none.
fs::path FindIgnoringCase(const fs::path& folder, const std::string& name) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (SameName(Utf8FromPath(it->path().filename()), name)) return it->path();
    return {};
}

fs::path FindPath(fs::path at, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        at = FindIgnoringCase(at, name);
        if (at.empty()) return {};
    }
    return at;
}

std::string FirstBytes(const std::string& path, std::size_t count) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    std::string bytes(count, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

bool ReadRegInto(CFileRegistry& registry, const std::string& file, std::string& error) {
    std::string bytes, reason;
    if (!ReadImportFile(file, bytes, reason)) {
        error = file + ": " + reason;
        return false;
    }
    RegFileContent content;
    if (!ParseRegFile(bytes, content, reason)) {
        error = file + ", " + reason + ".";
        return false;
    }
    std::size_t line = 0;
    if (const LONG status = ApplyRegFile(registry, content, &line); status != ERROR_SUCCESS) {
        error = file + ", line " + std::to_string(line) + ": " + RegistryErrorText(status);
        return false;
    }
    return true;
}

bool MountWindowsFolder(CFileRegistry& registry, const fs::path& folder, bool writable, std::string& error) {
    const fs::path config = FindPath(folder, {"Windows", "System32", "config"});
    struct Hive {
        const char* file;
        HKEY root;
        const char* path;
    };
    static const Hive kHives[] = {
        {"SOFTWARE", HKEY_LOCAL_MACHINE, "SOFTWARE"}, {"SYSTEM", HKEY_LOCAL_MACHINE, "SYSTEM"},
        {"SAM", HKEY_LOCAL_MACHINE, "SAM"},           {"SECURITY", HKEY_LOCAL_MACHINE, "SECURITY"},
        {"DEFAULT", HKEY_USERS, ".DEFAULT"},
    };
    int mounted = 0;
    for (const Hive& hive : kHives) {
        const fs::path file = FindIgnoringCase(config, hive.file);
        if (file.empty()) continue;
        if (!registry.MountHive(hive.root, hive.path, Utf8FromPath(file), writable, error)) return false;
        ++mounted;
    }
    // Each profile's own hive, under the profile's folder name.
    const fs::path users = FindIgnoringCase(folder, "Users");
    std::error_code ignored;
    std::vector<fs::path> profiles;
    if (!users.empty())
        for (fs::directory_iterator it(users, ignored), end; !ignored && it != end; it.increment(ignored))
            profiles.push_back(it->path());
    std::sort(profiles.begin(), profiles.end());
    for (const fs::path& profile : profiles) {
        const fs::path file = FindIgnoringCase(profile, "NTUSER.DAT");
        if (file.empty() || !fs::is_regular_file(file, ignored)) continue;
        if (!registry.MountHive(HKEY_USERS, Utf8FromPath(profile.filename()), Utf8FromPath(file), writable, error))
            return false;
        ++mounted;
    }
    if (mounted == 0) error = Utf8FromPath(folder) + ": Windows/System32/config holds no hive.";
    return mounted != 0;
}

}  // namespace

SourceFormat DetectSource(const std::string& path) {
    std::error_code error;
    if (const fs::path folder = PathFromUtf8(path); fs::is_directory(folder, error)) {
        if (!FindIgnoringCase(folder, "system.reg").empty()) return SourceFormat::kWinePrefix;
        if (!FindPath(folder, {"Windows", "System32", "config"}).empty()) return SourceFormat::kWindowsFolder;
        return SourceFormat::kUnusableFolder;
    }
    const std::string head = FirstBytes(path, 80);
    if (head.rfind("regf", 0) == 0) return SourceFormat::kHive;
    std::string text = head;
    if (text.rfind("\xff\xfe", 0) == 0) {  // UTF-16LE: keep the ASCII of it
        std::string narrow;
        for (std::size_t i = 2; i + 1 < text.size(); i += 2) narrow += text[i];
        text = narrow;
    } else if (text.rfind("\xef\xbb\xbf", 0) == 0) {
        text.erase(0, 3);
    }
    if (text.rfind("Windows Registry Editor Version 5.00", 0) == 0 || text.rfind("REGEDIT4", 0) == 0)
        return SourceFormat::kRegFile;
    if (text.rfind("WINE REGISTRY Version 2", 0) == 0) return SourceFormat::kWineFile;
    // A file named as a hive that is no tree file either (empty, or cut
    // short before its signature) is a hive that is not whole: the hive
    // reader says so, where an empty tree would only lack every key.
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (IsHiveFileName(path) && (first == std::string::npos || text[first] != '[')) return SourceFormat::kHive;
    return SourceFormat::kTreeFile;
}

bool IsHiveFileName(const std::string& file) {
    const fs::path name = PathFromUtf8(file).filename();
    for (const char* known : {"SOFTWARE", "SYSTEM", "SAM", "SECURITY", "DEFAULT", "NTUSER.DAT", "UsrClass.dat"})
        if (SameName(Utf8FromPath(name), known)) return true;
    return SameName(Utf8FromPath(name.extension()), ".hiv");
}

void HiveMountPoint(const std::string& file, HKEY& root, std::string& path) {
    const std::string name = Utf8FromPath(PathFromUtf8(file).filename());
    root = HKEY_LOCAL_MACHINE;
    path = name;
    if (SameName(name, "DEFAULT")) {
        root = HKEY_USERS;
        path = ".DEFAULT";
    } else if (SameName(name, "NTUSER.DAT")) {
        root = HKEY_CURRENT_USER;
        path.clear();
    } else if (SameName(name, "UsrClass.dat")) {
        root = HKEY_CURRENT_USER;
        path = "Software\\Classes";
    } else {
        for (const char* known : {"SOFTWARE", "SYSTEM", "SAM", "SECURITY"})
            if (SameName(name, known)) path = known;
    }
}

std::unique_ptr<CFileRegistry> OpenRegistrySource(const std::string& path, bool writable, std::string& error) {
    auto registry = std::make_unique<CFileRegistry>();
    bool ok = false;
    switch (DetectSource(path)) {
    case SourceFormat::kHive: {
        HKEY root;
        std::string at;
        HiveMountPoint(path, root, at);
        ok = registry->MountHive(root, at, path, writable, error);
        break;
    }
    case SourceFormat::kWindowsFolder:
        ok = MountWindowsFolder(*registry, PathFromUtf8(path), writable, error);
        break;
    case SourceFormat::kRegFile:
        ok = ReadRegInto(*registry, path, error);
        break;
    case SourceFormat::kWineFile: {
        // A lone file's prefix is the folder it is in (a wineserver may serve it).
        std::error_code ignored;
        const fs::path folder = fs::absolute(PathFromUtf8(path), ignored).parent_path();
        ok = MountWineFile(*registry, path, Utf8FromPath(folder), writable, error);
        break;
    }
    case SourceFormat::kWinePrefix:
        ok = true;
        for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
            const fs::path file = FindIgnoringCase(PathFromUtf8(path), name);
            if (!file.empty() && !MountWineFile(*registry, Utf8FromPath(file), path, writable, error)) ok = false;
            if (!ok) break;
        }
        break;
    case SourceFormat::kUnusableFolder:
        error = path + ": not a Windows installation (no Windows/System32/config) and not a Wine prefix (no system.reg).";
        break;
    case SourceFormat::kTreeFile:
        error = path + ": not a hive, .reg file, Wine registry file, Windows installation or Wine prefix.";
        break;
    }
    if (!ok) return nullptr;
    registry->Seal(kReadOnlyFiles);
    return registry;
}

bool OpenRegistryFileSide(const std::string& path, std::unique_ptr<IRegistry>& registry, std::string& readOnly,
                          std::string& error, std::function<void(const std::string&)> report) {
    if (!IsRegistrySource(DetectSource(path))) return false;
    std::unique_ptr<CFileRegistry> opened = OpenRegistrySource(path, true, error);
    if (opened) {
        readOnly = opened->ReadOnlyReason();
        std::string notices;  // one message for all the hives of a Windows folder
        for (const std::string& notice : opened->Notices()) notices += (notices.empty() ? "" : "\n") + notice;
        if (!notices.empty()) report(notices);
        opened->OnWriteFailure(std::move(report));
    }
    registry = std::move(opened);
    return true;
}

LONG ApplyRegFile(IRegistry& registry, const RegFileContent& content, std::size_t* line) {
    CRegHandle current(registry);
    for (const RegFileOp& op : content.ops) {
        LONG status = ERROR_SUCCESS;
        switch (op.kind) {
        case RegFileOp::kKey: {
            char keyClass[] = "";
            DWORD disposition = 0;
            status = registry.RegCreateKeyExA(op.key.root, op.key.path.c_str(), 0, keyClass, REG_OPTION_NON_VOLATILE,
                                              KEY_ALL_ACCESS, nullptr, current.Receive(), &disposition);
            break;
        }
        case RegFileOp::kDeleteKey:
            current.Close();
            status = DeleteRegistryTree(registry, op.key.root, op.key.path);
            if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
            break;
        case RegFileOp::kSetValue:
            status = registry.RegSetValueExA(current.Get(), op.value.name.c_str(), 0, op.value.type,
                                             reinterpret_cast<const BYTE*>(op.value.data.data()),
                                             static_cast<DWORD>(op.value.data.size()));
            break;
        case RegFileOp::kDeleteValue:
            status = registry.RegDeleteValueA(current.Get(), op.value.name.c_str());
            if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
            break;
        }
        if (status != ERROR_SUCCESS) {
            if (line != nullptr) *line = op.line;
            return status;
        }
    }
    return ERROR_SUCCESS;
}


}  // namespace qv
