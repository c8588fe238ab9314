#include "app/command_line.h"

#include <set>

#include <filesystem>
#include <system_error>

#include "files/file_names.h"
#include "framework/document.h"
#include "model/registry.h"

namespace qv {

namespace {

// Fills `kind` and `name` from one side's argument; an error text, or "".
std::string ReadSide(const std::string& arg, int& kind, std::string& name) {
    if (arg.empty()) return "a side's name is empty";
    if (arg == "local") {
        kind = kSourceLocal;
        name.clear();
        return "";
    }
    if (arg.starts_with("\\\\") || IsRemoteRegistryName(arg)) {
        // As the network browser takes a typed name: without blanks around
        // it. A Windows computer's name (smb://host) needs no backslashes.
        const auto first = arg.find_first_not_of(" \t", IsRemoteRegistryName(arg) ? 0 : 2);
        const auto last = arg.find_last_not_of(" \t");
        name = first == std::string::npos ? std::string() : arg.substr(first, last - first + 1);
        if (name.empty()) return "a network side needs the computer's name after \\\\";
        if (name.find('\\') != std::string::npos) return arg + ": a computer's name holds no backslash";
        kind = kSourceNetwork;
        return "";
    }
    // The Open dialog hands over full paths; so does the command line.
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(PathFromUtf8(arg), error);
    if (error) path = PathFromUtf8(arg);
    path = path.lexically_normal();
    if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();  // "dir/" is "dir"
    kind = kSourceFile;
    name = Utf8FromPath(path);
    return "";
}

}  // namespace

std::vector<std::string> WithoutToolkitOptions(const std::vector<std::string>& args) {
    static const std::set<std::string> kWithValue = {
        "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry", "-qwindowtitle",
        "-qwindowicon", "-style", "-stylesheet", "-session", "-display", "-geometry", "-title", "-name"};
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            kept.insert(kept.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (arg.size() < 2 || arg[0] != '-' || arg[1] == '-') {
            kept.push_back(arg);
            continue;
        }
        if (kWithValue.count(arg) != 0) ++i;  // and its value
    }
    return kept;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    std::vector<std::string> sides;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options || arg == "-" || !arg.starts_with("-")) {
            sides.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options = false;
            continue;
        }
        if (arg == "--differences") {
            result.differences = true;
            continue;
        }
        std::string* target = nullptr;
        std::string option = arg;
        if (option.starts_with("--select")) target = &result.select;
        else if (option.starts_with("--screenshot")) target = &result.screenshot;
        const std::size_t equals = option.find('=');
        if (equals != std::string::npos) option.resize(equals);
        if (target == nullptr || (option != "--select" && option != "--screenshot")) {
            result.error = "unknown option " + option;
            return result;
        }
        if (equals != std::string::npos) *target = arg.substr(equals + 1);
        else if (i + 1 < args.size()) *target = args[++i];
        if (target->empty()) {
            result.error = option + (target == &result.select ? " needs a key" : " needs a file");
            return result;
        }
    }
    if (sides.size() > 2) {
        result.error = "at most two sides may be given, the Master and the Slave";
        return result;
    }
    result.sides = static_cast<int>(sides.size());
    if (sides.size() >= 1) result.error = ReadSide(sides[0], result.masterKind, result.master);
    if (sides.size() == 2 && result.error.empty()) result.error = ReadSide(sides[1], result.slaveKind, result.slave);
    return result;
}

}  // namespace qv
