#include "edit/undo_journal.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "compare/diff_output.h"
#include "compare/differences.h"
#include "files/stdio_file.h"
#include "model/loader.h"
#include "model/open_key.h"
#include "model/registry_errors.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr int kKeptEntries = 200;
constexpr const char* kHeader = "Quorvane undo journal entry";

// "HKEY_...\a\b" as its root, the path below it, the parent's path and the
// last name.
struct KeyParts {
    HKEY root = nullptr;
    std::string path, parent, leaf;
};

KeyParts Split(const std::string& key) {
    KeyParts parts;
    const std::size_t slash = key.find('\\');
    parts.root = RootHandle(key.substr(0, slash));
    if (slash == std::string::npos) return parts;
    parts.path = key.substr(slash + 1);
    const std::size_t last = parts.path.rfind('\\');
    parts.parent = last == std::string::npos ? std::string() : parts.path.substr(0, last);
    parts.leaf = last == std::string::npos ? parts.path : parts.path.substr(last + 1);
    return parts;
}

bool IsValueKind(DiffKind kind) { return kind != DiffKind::kKeyOnlyInMaster && kind != DiffKind::kKeyOnlyInSlave; }

bool ReadFile(const std::string& path, std::string& bytes) {
    try {
        CStdioFile in(path, CStdioFile::modeRead | CStdioFile::typeBinary);
        std::string line;
        bytes.clear();
        while (in.ReadString(line)) {
            bytes += line;
            bytes += '\n';
        }
        return true;
    } catch (const CFileException&) {
        return false;
    }
}

// The scope as the registry holds it now: null when the key is not there.
LONG ReadScope(IRegistry& registry, const std::string& computer, const ChangeScope& scope,
               std::unique_ptr<KeyNode>& tree) {
    tree.reset();
    const KeyParts parts = Split(scope.key);
    if (parts.root == nullptr) return ERROR_INVALID_PARAMETER;
    COpenedKey key(registry);
    const LONG status = key.Open(computer, parts.root, parts.path, KEY_READ);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    tree = std::make_unique<KeyNode>(parts.leaf);
    if (scope.subtree) return ReloadSubtree(tree.get(), registry, computer, parts.root, parts.path);
    return ReadEachValue(registry, key.Key(), [&tree](std::string_view name, DWORD type, std::string_view data) {
        tree->AppendValue(std::make_unique<ValueEntry>(name, type, std::string(data)));
    });
}

// Every key of `tree` as a section holding all its values.
void AppendSections(const KeyNode& tree, const std::string& key, std::vector<RegPatchSection>& sections) {
    std::vector<std::pair<const KeyNode*, std::string>> pending{{&tree, key}};
    while (!pending.empty()) {
        auto [node, path] = std::move(pending.back());
        pending.pop_back();
        RegPatchSection& section = sections.emplace_back();
        section.key = path;
        for (const auto& v : node->values) section.setValues.push_back({std::string(v->Name()), v->type, v->data});
        for (auto it = node->subkeys.rbegin(); it != node->subkeys.rend(); ++it)
            pending.emplace_back(it->get(), path + '\\' + (*it)->name);
    }
}

// Whether the patch leaves `now`'s values in `wanted`'s order: it keeps
// those it rewrites where they are and puts the ones it adds last.
bool PatchKeepsOrder(const KeyNode& wanted, const KeyNode& now) {
    std::unordered_set<std::string_view> wantedNames, nowNames;
    for (const auto& v : wanted.values) wantedNames.insert(v->Name());
    for (const auto& v : now.values) nowNames.insert(v->Name());
    std::size_t at = 0;
    for (const auto& v : now.values)
        if (wantedNames.count(v->Name()) != 0 && wanted.values[at++]->Name() != v->Name()) return false;
    for (const auto& v : wanted.values)
        if (nowNames.count(v->Name()) == 0 && wanted.values[at++]->Name() != v->Name()) return false;
    return true;
}

// A value deleted and put back would come last: where the order would not be
// the one the change found, the key's values are written again in that order
// (the registry keeps values in the order they were made, and shows them so).
void RestoreValueOrder(const KeyNode& wanted, const KeyNode& now, const std::string& key, bool subtree,
                       std::vector<RegPatchSection>& sections) {
    if (!PatchKeepsOrder(wanted, now)) {
        RegPatchSection& section = sections.emplace_back();
        section.key = key;
        for (const auto& v : wanted.values) {
            section.deleteValues.emplace_back(v->Name());
            section.setValues.push_back({std::string(v->Name()), v->type, v->data});
        }
    }
    if (!subtree || wanted.subkeys.empty()) return;
    std::unordered_map<std::string_view, const KeyNode*> nowSubkeys;
    for (const auto& sub : now.subkeys) nowSubkeys.emplace(sub->name, sub.get());
    for (const auto& sub : wanted.subkeys)
        if (const auto found = nowSubkeys.find(sub->name); found != nowSubkeys.end())
            RestoreValueOrder(*sub, *found->second, key + '\\' + sub->name, true, sections);
}

// What it takes to turn `now` (null: absent) into `wanted` (null: absent)
// within the scope, as sections of a patch.
std::vector<RegPatchSection> RestoreSections(const ChangeScope& scope, const KeyNode* wanted, const KeyNode* now) {
    std::vector<RegPatchSection> sections;
    if (wanted == nullptr) {
        if (now != nullptr) {
            RegPatchSection& gone = sections.emplace_back();
            gone.key = scope.key;
            gone.deleteKey = true;
        }
        return sections;
    }
    sections.emplace_back().key = scope.key;  // made if missing
    const KeyNode empty(wanted->name);
    DiffOptions options;
    options.recurse = scope.subtree;
    CPatchBuilder patch(scope.key);
    DiffTrees(*wanted, now != nullptr ? *now : empty, options, [&](const Difference& d) {
        if (scope.subtree || IsValueKind(d.kind)) patch.Add(d);
        return true;
    });
    for (RegPatchSection& s : patch.Sections()) sections.push_back(std::move(s));
    if (now != nullptr) RestoreValueOrder(*wanted, *now, scope.key, scope.subtree, sections);
    return sections;
}

LONG Apply(IRegistry& registry, const std::string& computer, const std::vector<RegPatchSection>& sections) {
    for (const RegPatchSection& section : sections) {
        const KeyParts parts = Split(section.key);
        if (parts.root == nullptr) return ERROR_INVALID_PARAMETER;
        if (section.deleteKey) {
            COpenedKey parent(registry);
            if (parent.Open(computer, parts.root, parts.parent, KEY_READ) != ERROR_SUCCESS) continue;
            const LONG status = DeleteRegistryTree(registry, parent.Key(), parts.leaf);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
            continue;
        }
        COpenedKey key(registry);
        if (const LONG status = key.Open(computer, parts.root, parts.path, KEY_ALL_ACCESS); status != ERROR_SUCCESS)
            return status;
        for (const std::string& name : section.deleteValues) {
            const LONG status = registry.RegDeleteValueA(key.Key(), name.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
        }
        for (const RegValue& v : section.setValues)
            if (const LONG status = registry.RegSetValueExA(key.Key(), v.name.c_str(), 0, v.type,
                                                            reinterpret_cast<const BYTE*>(v.data.data()),
                                                            static_cast<DWORD>(v.data.size()));
                status != ERROR_SUCCESS)
                return status;
    }
    return ERROR_SUCCESS;
}

}  // namespace

struct CUndoJournal::Snapshot {
    std::vector<std::unique_ptr<KeyNode>> trees;  // one per scope, null where absent

    LONG Read(IRegistry& registry, const Entry& entry) {
        trees.clear();
        for (const ChangeScope& scope : entry.scopes) {
            std::unique_ptr<KeyNode> tree;
            if (const LONG status = ReadScope(registry, entry.computer, scope, tree); status != ERROR_SUCCESS)
                return status;
            trees.push_back(std::move(tree));
        }
        return ERROR_SUCCESS;
    }

    bool Write(const Entry& entry, std::string& bytes, std::string& error) const {
        std::vector<RegPatchSection> sections;
        for (std::size_t i = 0; i < trees.size(); ++i)
            if (trees[i]) AppendSections(*trees[i], entry.scopes[i].key, sections);
        return WriteRegPatch(sections, bytes, error, RegFileFormat::kRegedit4);
    }
};

std::string CUndoJournal::DefaultFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
        return std::string(state) + "/quorvane/journal";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::string(home) + "/.local/state/quorvane/journal";
    return {};
}

bool CUndoJournal::Open(const std::string& folder, std::string& error) {
    std::error_code failed;
    fs::create_directories(folder, failed);
    if (failed || !fs::is_directory(folder, failed)) {
        error = "Cannot keep the undo journal in " + folder + ": " + failed.message() + ".";
        return false;
    }
    m_folder = folder;
    std::vector<int> numbers;
    for (fs::directory_iterator it(folder, failed), end; !failed && it != end; it.increment(failed))
        if (it->path().extension() == ".entry") numbers.push_back(std::atoi(it->path().stem().string().c_str()));
    std::sort(numbers.begin(), numbers.end());
    m_next = numbers.empty() ? 1 : numbers.back() + 1;
    for (std::size_t i = 0; i + kKeptEntries < numbers.size(); ++i)
        for (const char* suffix : {".entry", ".before.reg", ".after.reg"}) fs::remove(Path(numbers[i], suffix), failed);
    return true;
}

std::string CUndoJournal::Path(int number, const char* suffix) const {
    char name[32];
    std::snprintf(name, sizeof name, "%06d%s", number, suffix);
    return (fs::path(m_folder) / name).string();
}

bool CUndoJournal::WriteHeader(const Entry& entry, std::string& error) const {
    std::string text = std::string(kHeader) + "\n";
    text += "description: " + entry.description + "\n";
    text += "computer: " + entry.computer + "\n";
    text += "state: " + entry.state + "\n";
    for (const ChangeScope& s : entry.scopes) text += std::string("scope: ") + (s.subtree ? "subtree " : "values ") + s.key + "\n";
    return ReplaceFileContents(Path(entry.number, ".entry"), text, error);
}

bool CUndoJournal::ReadEntry(int number, Entry& entry) const {
    std::string text;
    if (!ReadFile(Path(number, ".entry"), text) || text.rfind(kHeader, 0) != 0) return false;
    entry = Entry();
    entry.number = number;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        auto field = [&line](const char* name) -> const char* {
            const std::size_t n = std::char_traits<char>::length(name);
            return line.compare(0, n, name) == 0 ? line.c_str() + n : nullptr;
        };
        if (const char* v = field("description: ")) entry.description = v;
        else if (const char* v = field("computer: ")) entry.computer = v;
        else if (const char* v = field("state: ")) entry.state = v;
        else if (const char* v = field("scope: subtree ")) entry.scopes.push_back({v, true});
        else if (const char* v = field("scope: values ")) entry.scopes.push_back({v, false});
    }
    return !entry.scopes.empty();
}

bool CUndoJournal::LoadSnapshot(const Entry& entry, const char* suffix, Snapshot& snapshot, std::string& error) const {
    snapshot.trees.clear();
    snapshot.trees.resize(entry.scopes.size());
    std::string bytes;
    RegFileContent content;
    if (!ReadFile(Path(entry.number, suffix), bytes) || !ParseRegFile(bytes, content, error)) {
        error = "the journal's record " + Path(entry.number, suffix) + " cannot be read" +
                (error.empty() ? std::string() : " (" + error + ")");
        return false;
    }
    KeyNode* current = nullptr;
    for (const RegFileOp& op : content.ops) {
        if (op.kind == RegFileOp::kSetValue) {
            if (current != nullptr) current->AppendValue(std::make_unique<ValueEntry>(op.value.name, op.value.type, op.value.data));
            continue;
        }
        current = nullptr;
        const std::string key = op.key.Full();
        for (std::size_t i = 0; i < entry.scopes.size() && current == nullptr; ++i) {
            const std::string& top = entry.scopes[i].key;
            if (key != top && key.rfind(top + '\\', 0) != 0) continue;
            std::unique_ptr<KeyNode>& tree = snapshot.trees[i];
            if (!tree) tree = std::make_unique<KeyNode>(Split(top).leaf);
            KeyNode* node = tree.get();
            for (std::size_t at = top.size() + 1; at < key.size() + 1 && key.size() > top.size();) {
                std::size_t end = key.find('\\', at);
                if (end == std::string::npos) end = key.size();
                const std::string name = key.substr(at, end - at);
                KeyNode* next = nullptr;
                for (const auto& k : node->subkeys)
                    if (k->name == name) next = k.get();
                node = next != nullptr ? next : node->AppendSubkey(std::make_unique<KeyNode>(name));
                at = end + 1;
            }
            current = node;
        }
    }
    return true;
}

bool CUndoJournal::Begin(IRegistry& registry, const std::string& computer, const std::string& description,
                         std::vector<ChangeScope> scopes, std::string& error) {
    if (m_folder.empty()) {
        error = "The undo journal is not open.";
        return false;
    }
    auto entry = std::make_unique<Entry>();
    entry->number = m_next;
    entry->description = description;
    entry->computer = computer;
    entry->state = "begun";
    entry->scopes = std::move(scopes);
    Snapshot before;
    std::string bytes;
    if (const LONG status = before.Read(registry, *entry); status != ERROR_SUCCESS) {
        error = "Can't record what " + description + " would change: " + RegistryErrorText(status);
        return false;
    }
    if (!before.Write(*entry, bytes, error)) {
        error = "Can't record what " + description + " would change: " + error + ".";
        return false;
    }
    // The record first, then the entry that points to it: both flushed.
    if (!ReplaceFileContents(Path(entry->number, ".before.reg"), bytes, error) || !WriteHeader(*entry, error)) return false;
    ++m_next;
    m_open = std::move(entry);
    return true;
}

void CUndoJournal::End(IRegistry& registry) {
    if (!m_open) return;
    Entry entry = *m_open;
    m_open.reset();
    Snapshot after;
    std::string bytes, error;
    // Without a record of what the change left, Undo refuses rather than guess.
    if (after.Read(registry, entry) == ERROR_SUCCESS && after.Write(entry, bytes, error) &&
        ReplaceFileContents(Path(entry.number, ".after.reg"), bytes, error)) {
        entry.state = "done";
    } else {
        entry.state = "unchecked";
    }
    WriteHeader(entry, error);
    m_undoable.push_back(entry);
}

bool CUndoJournal::RestoreScopes(IRegistry& registry, const Entry& entry, std::string& message) {
    Snapshot before;
    if (!LoadSnapshot(entry, ".before.reg", before, message)) return false;
    Snapshot now;
    if (const LONG status = now.Read(registry, entry); status != ERROR_SUCCESS) {
        message = "Can't read what " + entry.description + " changed: " + RegistryErrorText(status);
        return false;
    }
    // Outer scopes first: an inner one's record was taken at the same moment.
    std::vector<std::size_t> order(entry.scopes.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&entry](std::size_t a, std::size_t b) {
        return entry.scopes[a].key.size() < entry.scopes[b].key.size();
    });
    for (std::size_t i : order) {
        const auto sections = RestoreSections(entry.scopes[i], before.trees[i].get(), now.trees[i].get());
        if (const LONG status = Apply(registry, entry.computer, sections); status != ERROR_SUCCESS) {
            message = "Undo of " + entry.description + " failed at " + entry.scopes[i].key + ": " +
                      RegistryErrorText(status);
            return false;
        }
    }
    return true;
}

bool CUndoJournal::Undo(IRegistry& registry, std::string& message) {
    if (m_undoable.empty()) {
        message = "There is nothing to undo.";
        return false;
    }
    Entry& entry = m_undoable.back();
    // Only over what the change left: anything else may be someone's work.
    Snapshot left, now;
    if (entry.state != "done" || !LoadSnapshot(entry, ".after.reg", left, message)) {
        message = "Nothing was undone: what " + entry.description + " left was not recorded, so a change made since "
                  "cannot be told from it. The journal entry " + Path(entry.number, ".before.reg") +
                  " holds the keys as they were.";
        return false;
    }
    if (const LONG status = now.Read(registry, entry); status != ERROR_SUCCESS) {
        message = "Nothing was undone: " + RegistryErrorText(status);
        return false;
    }
    for (std::size_t i = 0; i < entry.scopes.size(); ++i) {
        const auto changed = RestoreSections(entry.scopes[i], left.trees[i].get(), now.trees[i].get());
        const bool same = (left.trees[i] == nullptr) == (now.trees[i] == nullptr) &&
                          (changed.empty() || (changed.size() == 1 && !changed[0].deleteKey &&
                                               changed[0].setValues.empty() && changed[0].deleteValues.empty()));
        if (same) continue;
        message = "Nothing was undone: " + entry.scopes[i].key + " changed since " + entry.description +
                  " (it was " + (now.trees[i] ? "changed" : "deleted") + " after it), so undoing it could lose that change.";
        return false;
    }
    if (!RestoreScopes(registry, entry, message)) return false;
    entry.state = "undone";
    std::string ignored;
    WriteHeader(entry, ignored);
    m_undoable.pop_back();
    return true;
}

std::vector<CUndoJournal::Entry> CUndoJournal::Unfinished() const {
    std::vector<Entry> found;
    std::error_code failed;
    for (fs::directory_iterator it(m_folder, failed), end; !failed && it != end; it.increment(failed)) {
        if (it->path().extension() != ".entry") continue;
        Entry entry;
        if (ReadEntry(std::atoi(it->path().stem().string().c_str()), entry) && entry.state == "begun")
            found.push_back(entry);
    }
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
    return found;
}

bool CUndoJournal::Restore(IRegistry& registry, int number, std::string& message) {
    Entry entry;
    if (!ReadEntry(number, entry)) {
        message = "The journal entry " + Path(number, ".entry") + " cannot be read.";
        return false;
    }
    if (!RestoreScopes(registry, entry, message)) return false;
    entry.state = "undone";
    return WriteHeader(entry, message);
}

void CUndoJournal::Dismiss(int number) {
    Entry entry;
    std::string ignored;
    if (!ReadEntry(number, entry)) return;
    entry.state = "dismissed";
    WriteHeader(entry, ignored);
}

bool CUndoJournal::ExportRestore(int number, std::string& bytes, std::string& error) const {
    Entry entry;
    if (!ReadEntry(number, entry)) {
        error = "the journal entry " + Path(number, ".entry") + " cannot be read";
        return false;
    }
    Snapshot before, after;
    if (!LoadSnapshot(entry, ".before.reg", before, error)) return false;
    const bool known = entry.state == "done" && LoadSnapshot(entry, ".after.reg", after, error);
    std::vector<RegPatchSection> sections;
    for (std::size_t i = 0; i < entry.scopes.size(); ++i) {
        if (known) {
            for (RegPatchSection& s : RestoreSections(entry.scopes[i], before.trees[i].get(), after.trees[i].get()))
                sections.push_back(std::move(s));
            continue;
        }
        // What the change left is unknown: a subtree goes and comes back whole.
        if (entry.scopes[i].subtree || !before.trees[i]) {
            RegPatchSection& gone = sections.emplace_back();
            gone.key = entry.scopes[i].key;
            gone.deleteKey = true;
        }
        if (before.trees[i]) AppendSections(*before.trees[i], entry.scopes[i].key, sections);
    }
    return WriteRegPatch(sections, bytes, error);
}

}  // namespace qv
