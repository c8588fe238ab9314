// File names as the program holds them (UTF-8) and as the system takes them.
// On Windows the narrow C runtime calls, and a std::filesystem::path made
// from a std::string, read a name in the ANSI code page, which cannot spell
// most names; these go through the wide calls there, so a name in any script
// opens. Elsewhere names are bytes and these are the plain calls.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace qv {

std::filesystem::path PathFromUtf8(std::string_view name);
std::string Utf8FromPath(const std::filesystem::path& path);

// std::fopen and std::remove taking UTF-8 names.
std::FILE* OpenFileUtf8(const std::string& name, const char* mode);
int RemoveFileUtf8(const std::string& name);

// The environment variable `name` as UTF-8 (read wide on Windows); empty when
// it is not set.
std::string EnvironmentUtf8(const char* name);

}  // namespace qv
