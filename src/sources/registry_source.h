// Registries kept in files, opened as a side or as a key argument of
// quorvane-reg: hive files, a Windows installation, .reg files, Wine's
// registry files and prefixes. What a path holds is told by its content,
// not by its name.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "files/reg_file.h"
#include "model/registry.h"
#include "registry/file_registry.h"

namespace qv {

enum class SourceFormat {
    kTreeFile,        // the program's own tree file (and anything unknown: its reader judges)
    kHive,            // a hive file ("regf")
    kRegFile,         // a .reg export, version 5 or REGEDIT4
    kWineFile,        // system.reg, user.reg or userdef.reg of a Wine prefix
    kWindowsFolder,   // a folder with Windows/System32/config
    kWinePrefix,      // a folder with system.reg
    kUnusableFolder,  // a folder that is neither
};

SourceFormat DetectSource(const std::string& path);

// Whether a side at `path` is a registry to load level by level (all but
// tree files).
inline bool IsRegistrySource(SourceFormat format) { return format != SourceFormat::kTreeFile; }

// Whether a file's name is one Windows gives hives (SOFTWARE, SYSTEM, SAM,
// SECURITY, DEFAULT, NTUSER.DAT, UsrClass.dat) or ends in .hiv.
bool IsHiveFileName(const std::string& file);

// Where a lone hive belongs, by its file name: SOFTWARE, SYSTEM, SAM and
// SECURITY below HKEY_LOCAL_MACHINE, DEFAULT as HKEY_USERS\.DEFAULT,
// NTUSER.DAT as HKEY_CURRENT_USER, UsrClass.dat as its Software\Classes, any
// other name below HKEY_LOCAL_MACHINE.
void HiveMountPoint(const std::string& file, HKEY& root, std::string& path);

// Opens the registry at `path`. Hives and Wine's files are writable when
// `writable` and the files allow it (Wine's not while a wineserver serves
// their prefix: sources/wine_prefix.h); .reg files are always read-only.
// Null, with a message naming the file, when it cannot be read.
std::unique_ptr<CFileRegistry> OpenRegistrySource(const std::string& path, bool writable, std::string& error);

// What a document asks of a file side: false when `path` is a tree file;
// else true, with the registry opened (hives and Wine's files writable where
// the files allow it, `readOnly` saying why not) or null with `error`.
// `report` shows a message: at once for a hive Windows left unfinished, later
// for a failure to write a hive or Wine's file back.
bool OpenRegistryFileSide(const std::string& path, std::unique_ptr<IRegistry>& registry, std::string& readOnly,
                          std::string& error, std::function<void(const std::string&)> report);

// Carries out what a .reg file says on `registry`: keys made, values set,
// keys and values deleted. Returns 0, or the status of the first step that
// failed with its line in `*line`.
LONG ApplyRegFile(IRegistry& registry, const RegFileContent& content, std::size_t* line = nullptr);


}  // namespace qv
