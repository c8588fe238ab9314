// What the program's command line asks for: the sides to open, and two
// options for testing and documentation. Qt's own options are taken out
// before this sees the arguments.
#pragma once

#include <string>
#include <vector>

namespace qv {

struct CommandLine {
    // 0: no side named; 1: the Open dialog starts with the Master set;
    // 2: both sides open at once, as an accepted Open opens them.
    int sides = 0;
    // Kinds and names as the Open dialog leaves them: kSourceLocal with no
    // name, kSourceNetwork with the computer's name, kSourceFile with the
    // file's or folder's absolute path.
    int masterKind = 0;
    std::string master;
    int slaveKind = 0;
    std::string slave;
    std::string select;      // --select KEY: the key to select in both trees
    std::string screenshot;  // --screenshot FILE: save a picture of the window there and quit
    bool differences = false;  // --differences: list the differences of the selected keys
    std::string error;       // set when the arguments are not understood
};

// Reads the arguments after the program's name. A side is `local` (this
// computer), `\\computer` (another computer's registry, over the network)
// or a file or folder; `--` ends the options.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The arguments less the toolkit's own options (-platform NAME, -style=NAME,
// -reverse, ...: a single dash), so the program's can be checked before a
// display is opened.
std::vector<std::string> WithoutToolkitOptions(const std::vector<std::string>& args);

}  // namespace qv
