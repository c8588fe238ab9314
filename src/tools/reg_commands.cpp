#include "tools/reg_commands.h"

#include <cctype>
#include <filesystem>
#include <map>
#include <memory>

#include "files/file_names.h"
#include "files/tree_file.h"
#include "model/loader.h"
#include "tools/reg_access.h"
#include "tools/reg_args.h"
#include "files/reg_file.h"
#include "tools/reg_format.h"
#include "tools/reg_sides.h"
#include "compare/differences.h"
#include "sources/registry_source.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kDifferent = 2;
constexpr char kDone[] = "The operation completed successfully.\n";
constexpr char kCancelled[] = "The operation was cancelled by the user.\n";

enum class Answer { kYes, kNo, kRefused };

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

class CRunner {
public:
    CRunner(ToolContext& context, std::string command) : m_io(context), m_command(std::move(command)) {}

    int Run(const ParsedArgs& args) {
        m_args = &args;
        if (m_command == "query") return Query();
        if (m_command == "add") return Add();
        if (m_command == "delete") return Delete();
        if (m_command == "import") return Import();
        if (m_command == "export") return Export();
        if (m_command == "save") return Save();
        return Compare();
    }

private:
    int Error(const std::string& text) {
        m_io.err << "ERROR: " << text << '\n';
        return kFailure;
    }

    int Syntax(const std::string& reason) {
        m_io.err << "ERROR: Invalid syntax. " << reason << "\nType \"quorvane-reg " << m_command
                 << " /?\" for usage.\n";
        return kFailure;
    }

    int StatusError(LONG status, const std::string& what = {}) {
        std::string text = what.empty() ? StatusText(status) : what + ": " + StatusText(status);
        if (const std::string damage = status == 1015 ? FileDamage() : std::string(); !damage.empty()) {
            text += " [" + damage + "]";
        } else if ((status == 14 || status == 112 || status == 1015 || status == 1016) && m_io.failureDetail) {
            const std::string detail = m_io.failureDetail();
            if (!detail.empty()) text += " [" + detail + "]";
        }
        return Error(text);
    }

    // What the registry file in hand found damaged, when the key is in one.
    std::string FileDamage() const {
        for (const auto& [name, opened] : m_sources)
            if (opened.get() == m_registry) return opened->Damage();
        return {};
    }

    // A key in a file is named with its file when an error is told.
    static std::string InFile(const RegKeyName& key) { return key.source.empty() ? std::string() : DisplayKey(key); }

    bool Registry() {
        std::string reason;
        if (m_store == nullptr && (m_store = m_io.openRegistry(reason)) == nullptr)
            return Error("This computer's registry cannot be opened: " + reason), false;
        m_registry = m_store;
        return true;
    }

    // The registry `key` lives in: a file's, opened read-only once per run,
    // or this computer's (and through it other computers'). False, with the
    // error shown, when it cannot be opened.
    bool RegistryFor(const RegKeyName& key) {
        if (key.source.empty()) return Registry();
        std::unique_ptr<CFileRegistry>& opened = m_sources[key.source];
        std::string error;
        if (!opened && (opened = OpenRegistrySource(key.source, false, error)) != nullptr)
            for (const std::string& notice : opened->Notices()) m_io.err << "WARNING: " << notice << '\n';
        if (!opened) {
            m_sources.erase(key.source);
            return Error(error), false;
        }
        m_registry = opened.get();
        return true;
    }

    // Only this computer's registry and other computers' are changed here.
    bool Writable(const RegKeyName& key) {
        if (key.source.empty()) return true;
        return Error(key.source + ": quorvane-reg reads registry files but does not change them; open a hive as "
                                  "the Slave in quorvane to change it."), false;
    }

    // Reads one key argument; false (with the error shown) when it is not one.
    bool KeyArg(const std::string& text, RegKeyName& key) {
        std::string keyText;
        if (const std::string source = SourceOf(text, keyText); !source.empty()) {
            if (!ParseKeyName(keyText, key, false)) {
                Error("Invalid key name \"" + keyText + "\" after \"" + source + "::\". A key starts with HKLM, HKCU, HKCR, HKU or HKCC.");
                return false;
            }
            key.source = source;
            return true;
        }
        if (ParseKeyName(text, key)) return true;
        const std::size_t afterComputer = text.rfind("\\\\", 0) == 0 ? text.find('\\', 2) : 0;
        if (text.find("\\\\", afterComputer == std::string::npos ? 0 : afterComputer + 1) != std::string::npos)
            Error("Invalid key name \"" + text + "\": it has an empty part (two backslashes in a row).");
        else
            Error("Invalid key name \"" + text + "\". A key starts with HKLM, HKCU, HKCR, HKU or HKCC.");
        return false;
    }

    bool Positional(std::size_t count) {
        if (m_args->positional.size() == count) return true;
        Syntax(m_args->positional.size() < count ? "An argument is missing." : "Too many arguments.");
        return false;
    }

    Answer Ask(const std::string& question, const char* forceSwitch) {
        if (!m_io.input.IsTerminal()) {
            Error("Cannot ask \"" + question + "\": standard input is not a terminal. Give " + forceSwitch +
                  " to go ahead without asking.");
            return Answer::kRefused;
        }
        std::string line;
        for (;;) {
            m_io.out << question << ' ' << std::flush;
            if (!m_io.input.ReadLine(line)) return Answer::kNo;
            const std::string answer = Lower(line.substr(0, line.find_last_not_of(" \t\r") + 1));
            if (answer == "y" || answer == "yes") return Answer::kYes;
            if (answer == "n" || answer == "no") return Answer::kNo;
        }
    }

    // -1 to go ahead, else the exit code to end with.
    int Confirm(const std::string& question, bool forced, const char* forceSwitch) {
        if (forced) return -1;
        switch (Ask(question, forceSwitch)) {
        case Answer::kYes: return -1;
        case Answer::kNo: m_io.out << kCancelled; return kSuccess;
        default: return kFailure;
        }
    }

    int Query() {
        RegKeyName key;
        if (!Positional(1) || !KeyArg(m_args->positional[0], key)) return kFailure;
        if (m_args->Has("v") && m_args->Has("ve")) return Syntax("/v and /ve exclude each other.");
        if (!RegistryFor(key)) return kFailure;
        CToolKey opened(*m_registry);
        if (const LONG status = opened.Open(key, KEY_READ); status != ERROR_SUCCESS)
            return StatusError(status, InFile(key));
        const bool recurse = m_args->Has("s");
        RegTree tree;
        if (const LONG status = ReadTree(*m_registry, opened.Key(), tree, recurse); status != ERROR_SUCCESS)
            return StatusError(status, InFile(key));
        std::string out = "\n";
        const std::string name = DisplayKey(key);
        if (m_args->Has("v") || m_args->Has("ve")) {
            const std::string valueName = m_args->Get("v");
            const std::size_t matches = FormatValueSearch(tree, name, valueName, recurse, out);
            if (recurse) {
                out += "End of search: " + std::to_string(matches) + " match(es) found.\n";
            } else if (matches == 0) {
                if (!m_args->Has("ve")) return StatusError(ERROR_FILE_NOT_FOUND);
                out += name + "\n    (Default)    REG_SZ    (value not set)\n\n";
            }
        } else {
            FormatQuery(tree, name, recurse, out);
        }
        m_io.out << out;
        return kSuccess;
    }

    int Add() {
        RegKeyName key;
        if (!Positional(1) || !KeyArg(m_args->positional[0], key)) return kFailure;
        if (m_args->Has("v") && m_args->Has("ve")) return Syntax("/v and /ve exclude each other.");
        DWORD type = REG_SZ;
        if (m_args->Has("t") && !ParseAddType(m_args->Get("t"), type))
            return Error("Unsupported type \"" + m_args->Get("t") + "\".");
        if (m_args->Has("s") && (type != REG_MULTI_SZ || m_args->Get("s").empty()))
            return Syntax("/s takes a separator and goes with /t REG_MULTI_SZ only.");
        // Without /v or /ve, /t or /d still address the default value.
        const bool setsValue =
            m_args->Has("v") || m_args->Has("ve") || m_args->Has("t") || m_args->Has("d") || m_args->Has("df");
        const std::string name = m_args->Get("v");
        // /df: the data from a file or standard input, for data longer than
        // a command line can hold.
        std::string text = m_args->Get("d");
        if (m_args->Has("df")) {
            if (m_args->Has("d")) return Syntax("/d and /df exclude each other.");
            if (!ReadDataFile(m_args->Get("df"), text)) return kFailure;
        }
        std::string data, reason;
        if (setsValue && !MakeAddData(type, text, m_args->Get("s"), data, reason)) return Error(reason);
        if (!Writable(key) || !Registry()) return kFailure;

        CToolKey target(*m_registry);
        if (setsValue && target.Open(key, KEY_READ) == ERROR_SUCCESS) {
            std::vector<RegValue> values;
            if (const LONG status = ReadValues(*m_registry, target.Key(), values); status != ERROR_SUCCESS)
                return StatusError(status);
            if (FindValue(values, name) != nullptr) {
                const std::string shown = name.empty() ? "(Default)" : name;
                if (const int end = Confirm("Value " + shown + " exists, overwrite(Yes/No)?", m_args->Has("f"), "/f");
                    end >= 0)
                    return end;
            }
        }
        if (const LONG status = target.Create(key); status != ERROR_SUCCESS) return StatusError(status);
        if (setsValue) {
            const LONG status = m_registry->RegSetValueExA(target.Key(), name.c_str(), 0, type,
                                                           reinterpret_cast<const BYTE*>(data.data()),
                                                           static_cast<DWORD>(data.size()));
            if (status != ERROR_SUCCESS) return StatusError(status);
        }
        m_io.out << kDone;
        return kSuccess;
    }

    int Delete() {
        RegKeyName key;
        if (!Positional(1) || !KeyArg(m_args->positional[0], key)) return kFailure;
        const int valueSwitches = m_args->Has("v") + m_args->Has("ve") + m_args->Has("va");
        if (valueSwitches > 1) return Syntax("/v, /ve and /va exclude each other.");
        if (valueSwitches == 0 && key.path.empty()) return Error("A root key cannot be deleted.");
        if (!Writable(key) || !Registry()) return kFailure;
        CToolKey target(*m_registry);
        if (const LONG status = target.Open(key, KEY_ALL_ACCESS); status != ERROR_SUCCESS)
            return StatusError(status);
        const bool forced = m_args->Has("f");
        CWriteBatch batch(*m_registry);

        if (valueSwitches == 0) {
            if (const int end = Confirm("Permanently delete the registry key " + DisplayKey(key) + " (Yes/No)?",
                                        forced, "/f");
                end >= 0)
                return end;
            const HKEY base = target.Base();
            if (const LONG status = batch.Begin(); status != ERROR_SUCCESS) return StatusError(status);
            if (const LONG status = DeleteRegistryTree(*m_registry, base, key.path); status != ERROR_SUCCESS)
                return StatusError(status);
        } else {
            std::vector<RegValue> values;
            if (const LONG status = ReadValues(*m_registry, target.Key(), values); status != ERROR_SUCCESS)
                return StatusError(status);
            std::vector<std::string> doomed;
            std::string question;
            if (m_args->Has("va")) {
                for (const RegValue& v : values) doomed.push_back(v.name);
                question = "Delete all values under the registry key " + DisplayKey(key) + " (Yes/No)?";
            } else {
                const RegValue* found = FindValue(values, m_args->Get("v"));
                if (found == nullptr) return StatusError(ERROR_FILE_NOT_FOUND);
                doomed.push_back(found->name);
                question = "Delete the registry value " + (found->name.empty() ? std::string("(Default)") : found->name) +
                           " (Yes/No)?";
            }
            if (const int end = Confirm(question, forced, "/f"); end >= 0) return end;
            if (const LONG status = batch.Begin(); status != ERROR_SUCCESS) return StatusError(status);
            for (const std::string& name : doomed)
                if (const LONG status = m_registry->RegDeleteValueA(target.Key(), name.c_str()); status != ERROR_SUCCESS)
                    return StatusError(status);
        }
        if (const LONG status = batch.Commit(); status != ERROR_SUCCESS) return StatusError(status);
        m_io.out << kDone;
        return kSuccess;
    }

    bool ReadWholeFile(const std::string& path, std::string& bytes) {
        std::string reason;
        if (ReadImportFile(path, bytes, reason)) return true;
        Error("Cannot read " + path + ": " + reason + ".");
        return false;
    }

    // The text of `path` ("-": standard input), without one final line end.
    bool ReadDataFile(const std::string& path, std::string& text) {
        text.clear();
        if (path == "-") {
            std::string line;
            for (bool first = true; m_io.input.ReadLine(line); first = false) {
                if (!first) text += '\n';
                text += line;
                if (text.size() > kMaxImportFileBytes) return Error("The data on standard input is over 1 GiB."), false;
            }
            return true;
        }
        if (!ReadWholeFile(path, text)) return false;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (!text.empty() && text.back() == '\r') text.pop_back();
        return true;
    }

    int Import() {
        if (!Positional(1)) return kFailure;
        const std::string& path = m_args->positional[0];
        std::string bytes, reason;
        if (!ReadRegFileBytes(path, bytes, reason))
            return Error(reason.rfind("line ", 0) == 0 ? path + ", " + reason + ". Nothing was imported."
                                                       : "Cannot read " + path + ": " + reason + ".");
        RegFileContent content;
        if (!ParseRegFile(bytes, content, reason)) return Error(path + ", " + reason + ". Nothing was imported.");
        if (!Registry()) return kFailure;

        CWriteBatch batch(*m_registry);
        if (const LONG status = batch.Begin(); status != ERROR_SUCCESS) return StatusError(status);
        std::size_t line = 0;
        if (const LONG status = ApplyRegFile(*m_registry, content, &line); status != ERROR_SUCCESS)
            return StatusError(status, path + ", line " + std::to_string(line) + " (nothing was imported)");
        if (const LONG status = batch.Commit(); status != ERROR_SUCCESS)
            return StatusError(status, path + " (nothing was imported)");
        m_io.out << kDone;
        return kSuccess;
    }

    // Opens the key of an export or save and asks before replacing the file.
    // Returns -1 to go ahead, else the exit code.
    int PrepareOutput(const RegKeyName& key, CToolKey& opened) {
        const std::string& file = m_args->positional[1];
        if (const LONG status = opened.Open(key, KEY_READ); status != ERROR_SUCCESS)
            return StatusError(status, InFile(key));
        std::error_code ignored;
        if (fs::exists(PathFromUtf8(file), ignored))
            return Confirm("File " + file + " already exists, overwrite(Yes/No)?", m_args->Has("y"), "/y");
        return -1;
    }

    int Export() {
        RegKeyName key;
        if (!Positional(2) || !KeyArg(m_args->positional[0], key) || !RegistryFor(key)) return kFailure;
        const std::string& file = m_args->positional[1];
        CToolKey opened(*m_registry);
        if (const int end = PrepareOutput(key, opened); end >= 0) return end;
        RegTree tree;
        if (const LONG status = ReadTree(*m_registry, opened.Key(), tree, true); status != ERROR_SUCCESS)
            return StatusError(status, InFile(key));
        const std::string fullName = JoinKey(key.rootName, StoredSpelling(*m_registry, opened.Base(), key.path));
        const RegFileFormat format = m_args->Has("regedit4") ? RegFileFormat::kRegedit4 : RegFileFormat::kVersion5;
        std::string bytes, reason;
        if (!WriteRegFile(tree, fullName, format, bytes, reason)) return Error("Cannot export: " + reason + ".");
        // The old file stays whole until the new one is written and flushed.
        if (!WriteOutput(file, bytes)) return kFailure;
        m_io.out << kDone;
        return kSuccess;
    }

    int Save() {
        RegKeyName key;
        if (!Positional(2) || !KeyArg(m_args->positional[0], key) || !RegistryFor(key)) return kFailure;
        const std::string& file = m_args->positional[1];
        CToolKey opened(*m_registry);
        if (const int end = PrepareOutput(key, opened); end >= 0) return end;

        // A chain of nodes from the top to KEY, with KEY's subtree loaded:
        // saved from the top, the file holds KEY at its own path, values too.
        KeyNode top(!key.source.empty() ? key.source : key.computer.empty() ? std::string("local_computer") : key.computer);
        KeyNode* node = top.AppendSubkey(std::make_unique<KeyNode>(key.rootName));
        const std::string spelled = StoredSpelling(*m_registry, opened.Base(), key.path);
        for (std::size_t start = 0; start < spelled.size();) {
            std::size_t end = spelled.find('\\', start);
            if (end == std::string::npos) end = spelled.size();
            if (end > start) node = node->AppendSubkey(std::make_unique<KeyNode>(spelled.substr(start, end - start)));
            start = end + 1;
        }
        if (const LONG status = ReloadSubtree(node, *m_registry, key.computer, key.root, key.path); status != 0)
            return StatusError(status, InFile(key));
        try {
            CStdioFile out(file, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::modeReplace | CStdioFile::typeText);
            SaveTree(&top, out);
            out.Close();
        } catch (const CFileException& e) {
            const std::string text = e.GetErrorMessage();
            return Error(text.empty() ? "Cannot write " + file + "." : text);
        }
        if (const std::size_t unfit = CountUnkeptValues(&top); unfit != 0)
            m_io.err << "WARNING: " << unfit
                     << " value(s) could not be kept whole: a tree file keeps REG_SZ data on one line and "
                        "REG_DWORD data only.\n";
        m_io.out << kDone;
        return kSuccess;
    }

    struct Side {
        bool isFile = false;
        std::string file;
        RegKeyName key;
    };

    // One side of a compare in memory: the compared key, its name as shown,
    // its path from the root key (for the ignore list) and, for the Slave,
    // the key a patch writes to.
    struct LoadedSide {
        std::unique_ptr<KeyNode> top;
        const KeyNode* node = nullptr;
        std::string name;
        std::string path;
    };

    bool ReadSide(const Side& side, const Side& other, bool recurse, LoadedSide& loaded) {
        if (!side.isFile) {
            loaded.name = DisplayKey(side.key);
            loaded.path = side.key.Full();
            if (!RegistryFor(side.key)) return false;
            const LONG status = LoadKeySide(*m_registry, side.key, recurse, loaded.top, loaded.node);
            if (status != ERROR_SUCCESS) StatusError(status, loaded.name);
            return status == ERROR_SUCCESS;
        }
        loaded.top = std::make_unique<KeyNode>(side.file);
        std::string error;
        if (!LoadTreeFileSide(side.file, *loaded.top, error)) return Error(error), false;
        // A subtree saved by the program starts with an empty "[]" key line.
        const KeyNode* node = loaded.top.get();
        if (node->subkeys.size() == 1 && node->subkeys[0]->name.empty()) node = node->subkeys[0].get();
        // Compared at the other side's key, as the file holds it.
        if (!other.isFile && (node = FindInTreeFile(node, other.key, loaded.name)) == nullptr) {
            StatusError(ERROR_FILE_NOT_FOUND, side.file + ", " + other.key.Full());
            return false;
        }
        loaded.node = node;
        loaded.path = loaded.name;
        return true;
    }

    // The ignore list of this run: /ignore FILE, none with /noignore, else
    // the one kept in the settings (when there is one).
    bool ReadIgnoreList(CIgnoreList& list) {
        if (m_args->Has("noignore")) return true;
        const std::string path = m_args->Get("ignore");
        std::error_code missing;
        if (m_args->Has("ignore") && !fs::is_regular_file(PathFromUtf8(path), missing)) return Error(path + ": no such file."), false;
        std::string error;
        if (!list.Load(path, error)) return Error(error), false;
        return true;
    }

    // Replaces `file` with `bytes`, through a temporary file beside it.
    bool WriteOutput(const std::string& file, const std::string& bytes) {
        std::string error;
        if (!ReplaceFileContents(file, bytes, error)) return Error(error), false;
        return true;
    }

    int Compare() {
        if (!Positional(2)) return kFailure;
        if (m_args->Has("v") && m_args->Has("ve")) return Syntax("/v and /ve exclude each other.");
        const int outputs = m_args->Has("oa") + m_args->Has("od") + m_args->Has("os") + m_args->Has("on");
        if (outputs > 1) return Syntax("Only one of /oa, /od, /os and /on may be given.");
        if (m_args->Has("ignore") && m_args->Has("noignore")) return Syntax("/ignore and /noignore exclude each other.");
        Side sides[2];
        // A file named alone that holds a registry is read at the other
        // side's key.
        std::string bareSource[2];
        for (int i = 0; i < 2; ++i) {
            const std::string& text = m_args->positional[static_cast<std::size_t>(i)];
            std::string keyText;
            sides[i].isFile = SourceOf(text, keyText).empty() && IsTreeFilePath(text) && !ParseKeyName(text, sides[i].key);
            if (sides[i].isFile && IsRegistrySource(DetectSource(text))) {
                sides[i].isFile = false;
                bareSource[i] = text;
            } else if (sides[i].isFile) {
                sides[i].file = text;
            } else if (!KeyArg(text, sides[i].key)) {
                return kFailure;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (bareSource[i].empty()) continue;
            if (!bareSource[1 - i].empty() || sides[1 - i].isFile)
                return Syntax("Name the key to compare in a registry file as FILE::KEY.");
            sides[i].key = sides[1 - i].key;
            sides[i].key.source = bareSource[i];
            sides[i].key.computer.clear();
        }
        CIgnoreList ignore;
        if (!ReadIgnoreList(ignore)) return kFailure;
        DiffOptions options;
        // Two tree files are compared whole: their tops are no keys of their own.
        options.recurse = m_args->Has("s") || (sides[0].isFile && sides[1].isFile);
        // Names match whatever their case, in every script where both
        // registries are kept in files, as Windows has them.
        auto inFile = [](const Side& side) { return side.isFile || !side.key.source.empty(); };
        options.names = inFile(sides[0]) && inFile(sides[1]) ? NameMatch::kAnyScript : NameMatch::kAscii;
        options.oneValue = m_args->Has("v") || m_args->Has("ve");
        options.valueName = m_args->Get("v");
        options.reportSame = m_args->Has("oa") || m_args->Has("os");
        options.ignore = &ignore;
        const bool showDifferences = !m_args->Has("os") && !m_args->Has("on");
        LoadedSide loaded[2];
        for (int i = 0; i < 2; ++i)
            if (!ReadSide(sides[i], sides[1 - i], options.recurse, loaded[i])) return kFailure;
        options.masterPath = loaded[0].path;

        std::string out, report;
        const bool wantReport = m_args->Has("report"), wantPatch = m_args->Has("patch");
        CPatchBuilder patch(loaded[1].path);
        bool identical = true;
        DiffTrees(*loaded[0].node, *loaded[1].node, options, [&](const Difference& d) {
            const bool same = d.kind == DiffKind::kSameKey || d.kind == DiffKind::kSameValue;
            if (!same) {
                // A name spelled in another case is one name to the registry.
                identical = identical && d.kind == DiffKind::kNameCase;
                if (wantReport) AppendDiffLines(d, loaded[0].name, loaded[1].name, report);
                if (wantPatch) patch.Add(d);
            }
            if (same || showDifferences) AppendDiffLines(d, loaded[0].name, loaded[1].name, out);
            return true;
        });
        if (wantReport && !WriteOutput(m_args->Get("report"), report)) return kFailure;
        if (wantPatch) {
            std::string bytes, reason;
            if (!WriteRegPatch(patch.Sections(), bytes, reason)) return Error("Cannot write the patch: " + reason + ".");
            if (!WriteOutput(m_args->Get("patch"), bytes)) return kFailure;
        }
        out += identical ? "\nResult Compared: Identical\n" : "\nResult Compared: Different\n";
        m_io.out << out << kDone;
        return identical ? kSuccess : kDifferent;
    }

    ToolContext& m_io;
    std::string m_command;
    const ParsedArgs* m_args = nullptr;
    IRegistry* m_store = nullptr;     // this computer's, opened on first use
    IRegistry* m_registry = nullptr;  // the one the key in hand lives in
    std::map<std::string, std::unique_ptr<CFileRegistry>> m_sources;
};

const SwitchDef kQuerySwitches[] = {{"v", true}, {"ve", false}, {"s", false}};
const SwitchDef kAddSwitches[] = {{"v", true}, {"ve", false}, {"t", true},  {"s", true},
                                  {"d", true}, {"df", true},  {"f", false}};
const SwitchDef kDeleteSwitches[] = {{"v", true}, {"ve", false}, {"va", false}, {"f", false}};
const SwitchDef kExportSwitches[] = {{"y", false}, {"regedit4", false}, {"reg:32", false}, {"reg:64", false}};
const SwitchDef kSaveSwitches[] = {{"y", false}, {"reg:32", false}, {"reg:64", false}};
const SwitchDef kCompareSwitches[] = {{"v", true},      {"ve", false},     {"s", false},      {"oa", false},
                                       {"od", false},     {"os", false},     {"on", false},     {"report", true},
                                       {"patch", true},   {"ignore", true},  {"noignore", false}};

}  // namespace

int RunRegTool(std::span<const std::string> args, ToolContext& context) {
    if (args.empty()) {
        context.out << UsageText("");
        return kFailure;
    }
    const std::string command = Lower(args[0]);
    if (command == "/?" || command == "-?") {
        context.out << UsageText("");
        return kSuccess;
    }
    std::span<const SwitchDef> known;
    if (command == "query") known = kQuerySwitches;
    else if (command == "add") known = kAddSwitches;
    else if (command == "delete") known = kDeleteSwitches;
    else if (command == "import") known = {};
    else if (command == "export") known = kExportSwitches;
    else if (command == "save") known = kSaveSwitches;
    else if (command == "compare") known = kCompareSwitches;
    else {
        context.err << "ERROR: Invalid operation \"" << args[0] << "\".\nType \"quorvane-reg /?\" for usage.\n";
        return kFailure;
    }
    ParsedArgs parsed;
    std::string error;
    if (!ParseArguments(args.subspan(1), known, parsed, error)) {
        context.err << "ERROR: Invalid syntax. " << error << "\nType \"quorvane-reg " << command
                    << " /?\" for usage.\n";
        return kFailure;
    }
    if (parsed.help) {
        context.out << UsageText(command);
        return kSuccess;
    }
    CRunner runner(context, command);
    return runner.Run(parsed);
}

}  // namespace qv
