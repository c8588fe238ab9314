#include "files/file_names.h"

#include <cstdlib>

namespace qv {

namespace {

#ifdef _WIN32
// Modes and variable names are ASCII.
std::wstring WidenAscii(const char* text) { return std::wstring(text, text + std::char_traits<char>::length(text)); }
#endif

}  // namespace

std::filesystem::path PathFromUtf8(std::string_view name) {
    // A path made from char8_t is read as UTF-8 on every platform.
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::FILE* OpenFileUtf8(const std::string& name, const char* mode) {
#ifdef _WIN32
    return ::_wfopen(PathFromUtf8(name).c_str(), WidenAscii(mode).c_str());
#else
    return std::fopen(name.c_str(), mode);
#endif
}

int RemoveFileUtf8(const std::string& name) {
#ifdef _WIN32
    return ::_wremove(PathFromUtf8(name).c_str());
#else
    return std::remove(name.c_str());
#endif
}

std::string EnvironmentUtf8(const char* name) {
#ifdef _WIN32
    const wchar_t* value = ::_wgetenv(WidenAscii(name).c_str());
    return value != nullptr ? Utf8FromPath(std::filesystem::path(value)) : std::string();
#else
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
#endif
}

}  // namespace qv
