#include "tools/reg_args.h"

#include <cctype>
#include <cstdint>

namespace qv {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = Lower(c);
    return out;
}

bool ParseUnsigned(std::string_view text, std::uint64_t limit, std::uint64_t& value) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    value = 0;
    for (const char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return false;
        if (value > (limit - digit) / base) return false;
        value = value * base + digit;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string ParsedArgs::Get(const std::string& name) const {
    auto it = switches.find(name);
    return it == switches.end() ? std::string() : it->second;
}

bool ParseArguments(std::span<const std::string> args, std::span<const SwitchDef> known,
                    ParsedArgs& out, std::string& error) {
    out = ParsedArgs{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const SwitchDef* def = nullptr;
        if (word.size() >= 2 && (word[0] == '/' || word[0] == '-')) {
            if (word.substr(1) == "?") {
                out.help = true;
                continue;
            }
            const std::string name = LowerCase(word.substr(1));
            for (const SwitchDef& s : known)
                if (name == s.name) def = &s;
        }
        if (def == nullptr) {
            out.positional.push_back(word);
            continue;
        }
        if (out.Has(def->name)) {
            error = "The switch " + word + " is given twice.";
            return false;
        }
        std::string argument;
        if (def->takesArgument) {
            if (i + 1 >= args.size()) {
                error = "The switch " + word + " needs an argument.";
                return false;
            }
            argument = args[++i];
        }
        out.switches.emplace(def->name, std::move(argument));
    }
    return true;
}

bool ParseAddType(std::string_view text, DWORD& type) {
    static const struct {
        const char* name;
        DWORD type;
    } kTypes[] = {
        {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},         {"REG_MULTI_SZ", REG_MULTI_SZ},
        {"REG_DWORD", REG_DWORD}, {"REG_DWORD_LITTLE_ENDIAN", REG_DWORD},   {"REG_QWORD", REG_QWORD},
        {"REG_BINARY", REG_BINARY}, {"REG_NONE", REG_NONE},
        {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    };
    for (const auto& t : kTypes) {
        if (NamesEqual(text, t.name)) {
            type = t.type;
            return true;
        }
    }
    return false;
}

bool MakeAddData(DWORD type, std::string_view text, std::string_view separator, std::string& data,
                 std::string& error) {
    data.clear();
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        data.assign(text);
        data += '\0';
        return true;
    case REG_MULTI_SZ: {
        const std::string_view sep = separator.empty() ? std::string_view("\\0") : separator;
        // "a\0b\0" ends the list with a separator; an empty item elsewhere
        // would end the list early in the registry, so it is refused.
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find(sep, start);
            if (end == std::string_view::npos) end = text.size();
            if (end == start) {
                error = "A multi-string may not contain an empty item.";
                return false;
            }
            data.append(text.substr(start, end - start));
            data += '\0';
            start = end == text.size() ? end : end + sep.size();
        }
        data += '\0';
        return true;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD: {
        const bool wide = type == REG_QWORD;
        std::uint64_t value = 0;
        if (!text.empty() && !ParseUnsigned(text, wide ? ~0ull : 0xffffffffull, value)) {
            error = "The data \"" + std::string(text) + "\" is not a valid " +
                    (wide ? "64" : "32") + "-bit number.";
            return false;
        }
        const int bytes = wide ? 8 : 4;
        for (int i = 0; i < bytes; ++i) {
            const int shift = type == REG_DWORD_BIG_ENDIAN ? 8 * (bytes - 1 - i) : 8 * i;
            data += static_cast<char>((value >> shift) & 0xff);
        }
        return true;
    }
    default:  // REG_BINARY, REG_NONE
        if (text.size() % 2 != 0) {
            error = "Binary data needs two hex digits a byte.";
            return false;
        }
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
            if (high < 0 || low < 0) {
                error = "The data \"" + std::string(text) + "\" is not hexadecimal.";
                return false;
            }
            data += static_cast<char>(high * 16 + low);
        }
        return true;
    }
}

std::string UsageText(std::string_view command) {
    const std::string c = LowerCase(command);
    if (c == "query")
        return "quorvane-reg query KEY [/v NAME | /ve] [/s]\n\n"
               "  Lists the values and subkeys of KEY.\n"
               "  /v NAME  only the value NAME; with /s, search the subtree for it\n"
               "  /ve      only the default value (shown as (Default))\n"
               "  /s       every key below KEY as well\n";
    if (c == "add")
        return "quorvane-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA | /df FILE] [/f]\n\n"
               "  Creates KEY (with missing parents) and sets a value.\n"
               "  /t TYPE   REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,\n"
               "            REG_QWORD, REG_BINARY, REG_NONE, REG_DWORD_BIG_ENDIAN\n"
               "  /d DATA   numbers decimal or 0x hex; binary as hex digits (\"0a1b\");\n"
               "            multi-strings split at \\0 or at /s SEPARATOR\n"
               "  /df FILE  the data as /d takes it, from FILE (\"-\": standard input),\n"
               "            for data longer than a command line holds; one final\n"
               "            line end is dropped\n"
               "  /f        overwrite an existing value without asking\n";
    if (c == "delete")
        return "quorvane-reg delete KEY [/v NAME | /ve | /va] [/f]\n\n"
               "  Deletes KEY with everything below it, or only values of it.\n"
               "  /v NAME  the value NAME      /ve  the default value\n"
               "  /va      every value of KEY  /f   do not ask\n";
    if (c == "import")
        return "quorvane-reg import FILE\n\n"
               "  Writes a .reg file (\"Windows Registry Editor Version 5.00\" or REGEDIT4)\n"
               "  into this computer's registry, all of it or, on any mistake, nothing.\n";
    if (c == "export")
        return "quorvane-reg export KEY FILE [/y] [/regedit4]\n\n"
               "  Writes KEY and its subtree as regedit does: version 5.00, UTF-16LE.\n"
               "  /y         overwrite FILE without asking\n"
               "  /regedit4  write a REGEDIT4 file (8-bit text) instead\n";
    if (c == "save")
        return "quorvane-reg save KEY FILE [/y]\n\n"
               "  Writes KEY and its subtree as a tree file (.qvf), the program's own\n"
               "  format. Tree files keep REG_SZ (one line) and REG_DWORD data only.\n"
               "  /y  overwrite FILE without asking\n";
    if (c == "compare")
        return "quorvane-reg compare KEY1 KEY2 [/v NAME | /ve] [/s] [/oa | /od | /os | /on]\n"
               "                    [/report FILE] [/patch FILE] [/ignore FILE | /noignore]\n\n"
               "  Compares two keys. Either side may be a tree file (.qvf) or a file\n"
               "  that holds a registry named alone, compared at the other side's key;\n"
               "  two tree files are compared whole. Names match whatever their case,\n"
               "  in every script where both sides are files (ASCII letters otherwise);\n"
               "  a name spelled in another case is listed with \"~\" and leaves the\n"
               "  result Identical, as the registry keeps one name whatever its case.\n"
               "  /v NAME, /ve  only that value     /s  the whole subtrees\n"
               "  /oa all items  /od differences (default)  /os equal items  /on none\n"
               "  /report FILE  the differences, as printed, written to FILE as well\n"
               "  /patch FILE   a .reg file that turns KEY2 into KEY1 (import it, or\n"
               "                merge it with regedit)\n"
               "  /ignore FILE  leave out what FILE lists (\"key PATTERN\" and \"value\n"
               "                PATTERN\" lines, * and ? as wildcards); by default the\n"
               "                program's own list, ~/.config/quorvane/ignore.txt\n"
               "  /noignore     leave nothing out\n"
               "  Exit code: 0 identical, 2 different, 1 error.\n";
    return "quorvane-reg OPERATION [ARGUMENTS]\n\n"
           "  OPERATION: query | add | delete | import | export | save | compare\n"
           "  KEY: [\\\\COMPUTER\\]ROOT[\\path], ROOT one of HKLM, HKCU, HKCR, HKU, HKCC\n"
           "       or their long names (HKEY_LOCAL_MACHINE, ...)\n"
           "       or FILE::ROOT[\\path], a key in a hive file, a folder holding\n"
           "       Windows, a .reg file, or a Wine prefix or registry file (query,\n"
           "       export, save and compare read them; nothing writes them)\n"
           "  COMPUTER: HOST or HOST:PORT for its quorvane-regd, or\n"
           "            smb://HOST[:PORT] for a Windows computer's Remote Registry\n"
           "            (smb://HOST\\HKLM\\... needs no backslashes before it); its logon\n"
           "            comes from QUORVANE_SMB_USER ([DOMAIN\\]USER) and\n"
           "            QUORVANE_SMB_PASSWORD_FILE (or QUORVANE_SMB_PASSWORD), else is\n"
           "            asked for on the terminal\n"
           "  Switches start with / or -. \"quorvane-reg OPERATION /?\" tells more.\n"
           "  This computer's registry is the store $QUORVANE_REGISTRY, else\n"
           "  ~/.local/share/quorvane/registry.db.\n"
           "  Exit code: 0 success, 1 failure.\n";
}

}  // namespace qv
