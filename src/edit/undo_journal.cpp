#include "edit/undo_journal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

#include "files/file_names.h"
#include "files/private_files.h"
#include "files/stdio_file.h"
#include "model/loader.h"
#include "model/open_key.h"
#include "model/registry_errors.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kKeptEntries = 200;
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

// "HKEY_...\a" of "HKEY_...\a\b"; the key itself for a root.
std::string ParentKey(const std::string& key) {
    const std::size_t last = key.rfind('\\');
    return last == std::string::npos ? key : key.substr(0, last);
}

// FNV-1a: enough to tell a record cut short or written over.
std::uint64_t Checksum(std::string_view bytes) {
    std::uint64_t sum = 14695981039346656037ull;
    for (const char c : bytes) sum = (sum ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return sum;
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// An entry's number from its file name: digits only, else none.
bool ParseNumber(const std::string& stem, std::int64_t& number) {
    if (stem.empty() || stem.size() > 18 || stem.find_first_not_of("0123456789") != std::string::npos) return false;
    number = std::stoll(stem);
    return true;
}

// Key paths as the registry matches them, '\' sorting before any name's
// characters so that a key's subkeys follow it.
std::string SortKey(const std::string& key) {
    std::string folded = key;
    for (char& c : folded) c = c == '\\' ? '\x01' : c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return folded;
}

// Whether `key` is `top` or (for a subtree) below it.
bool Holds(const ChangeScope& scope, const std::string& key) {
    const std::string& top = scope.key;
    if (key.size() == top.size()) return SameName(key, top);
    return scope.subtree && key.size() > top.size() && key[top.size()] == '\\' &&
           SameName(std::string_view(key).substr(0, top.size()), top);
}

// Without a scope another one holds (a subtree holds everything below its
// key; of two naming the same key the subtree, else the first, stays), so
// that each key belongs to one scope. In their order.
std::vector<ChangeScope> Separate(std::vector<ChangeScope> scopes) {
    std::vector<std::size_t> order(scopes.size());
    std::vector<std::string> sortKeys;
    for (std::size_t i = 0; i < scopes.size(); ++i) order[i] = i, sortKeys.push_back(SortKey(scopes[i].key));
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (sortKeys[a] != sortKeys[b]) return sortKeys[a] < sortKeys[b];
        return scopes[a].subtree != scopes[b].subtree ? scopes[a].subtree : a < b;
    });
    std::vector<bool> kept(scopes.size(), false);
    std::string cover, last;  // the last subtree kept, the last key kept
    bool any = false;
    for (std::size_t i : order) {
        const std::string& key = sortKeys[i];
        const bool inCover = !cover.empty() && (key == cover || key.rfind(cover + '\x01', 0) == 0);
        if (inCover || (any && key == last)) continue;
        kept[i] = any = true;
        last = key;
        if (scopes[i].subtree) cover = key;
    }
    std::vector<ChangeScope> out;
    for (std::size_t i = 0; i < scopes.size(); ++i)
        if (kept[i]) out.push_back(std::move(scopes[i]));
    return out;
}

// The name the registry keeps for `path` below `root` (its own case), or
// `fallback` when it cannot be listed. Lists of parents already read are kept in `listed`.
std::string StoredName(IRegistry& registry, const std::string& computer, const KeyParts& parts,
                       std::unordered_map<std::string, std::vector<std::string>>& listed) {
    const std::string where = std::to_string(reinterpret_cast<std::uintptr_t>(parts.root)) + SortKey(parts.parent);
    auto found = listed.find(where);
    if (found == listed.end()) {
        found = listed.emplace(where, std::vector<std::string>()).first;
        COpenedKey parent(registry);
        if (parent.Open(computer, parts.root, parts.parent, KEY_READ) == ERROR_SUCCESS) {
            std::string name;
            for (DWORD index = 0; NextSubkeyName(registry, parent.Key(), index, name);) found->second.push_back(name);
        }
    }
    for (const std::string& name : found->second)
        if (name == parts.leaf) return name;
    for (const std::string& name : found->second)
        if (SameName(name, parts.leaf)) return name;
    return parts.leaf;
}

// The scope as the registry holds it now: null when the key is not there.
// A subtree's top is named as the registry keeps it.
LONG ReadScope(IRegistry& registry, const std::string& computer, const ChangeScope& scope,
               std::unique_ptr<KeyNode>& tree, std::unordered_map<std::string, std::vector<std::string>>& listed) {
    tree.reset();
    const KeyParts parts = Split(scope.key);
    if (parts.root == nullptr) return ERROR_INVALID_PARAMETER;
    COpenedKey key(registry);
    const LONG status = key.Open(computer, parts.root, parts.path, KEY_READ);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    if (!scope.subtree) {
        tree = std::make_unique<KeyNode>(parts.leaf);
        return ReadEachValue(registry, key.Key(), [&tree](std::string_view name, DWORD type, std::string_view data) {
            tree->AppendValue(std::make_unique<ValueEntry>(name, type, std::string(data)));
        });
    }
    tree = std::make_unique<KeyNode>(parts.path.empty() ? scope.key : StoredName(registry, computer, parts, listed));
    return ReloadSubtree(tree.get(), registry, computer, parts.root, parts.path);
}

// Where a scope's tree is in the registry: a subtree's top under the name it had.
std::string TopKey(const ChangeScope& scope, const KeyNode& tree) {
    if (!scope.subtree || scope.key.find('\\') == std::string::npos) return scope.key;
    return ParentKey(scope.key) + '\\' + tree.name;
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

// One write of a restore.
struct Step {
    enum Kind { kDeleteKey, kMakeKey, kDeleteValue, kSetValue } kind;
    std::string key;  // "HKEY_...\path"
    RegValue value;   // kSetValue; the name for kDeleteValue
    std::size_t keys = 0, values = 0;  // kDeleteKey: what goes with it
};

void PlanDelete(const KeyNode& now, const std::string& key, std::vector<Step>& plan) {
    Step& step = plan.emplace_back(Step{Step::kDeleteKey, key, {}});
    std::vector<const KeyNode*> pending{&now};
    while (!pending.empty()) {
        const KeyNode* n = pending.back();
        pending.pop_back();
        ++step.keys;
        step.values += n->values.size();
        for (const auto& sub : n->subkeys) pending.push_back(sub.get());
    }
}

void PlanMake(const KeyNode& wanted, const std::string& key, std::vector<Step>& plan) {
    std::vector<RegPatchSection> sections;
    AppendSections(wanted, key, sections);
    for (RegPatchSection& s : sections) {
        plan.push_back({Step::kMakeKey, s.key, {}});
        for (RegValue& v : s.setValues) plan.push_back({Step::kSetValue, s.key, std::move(v)});
    }
}

// Values of `now` to those of `wanted`, in their order. The registry keeps
// a value it rewrites where it is and puts a new one last, so values are
// deleted (a name in another case too) and made again from the first one out
// of place.
void PlanValues(const KeyNode& wanted, const KeyNode& now, const std::string& key, std::vector<Step>& plan) {
    std::unordered_set<std::string_view> names;
    for (const auto& v : wanted.values) names.insert(v->Name());
    std::vector<const ValueEntry*> kept;
    for (const auto& v : now.values) {
        if (names.count(v->Name()) != 0) kept.push_back(v.get());
        else plan.push_back({Step::kDeleteValue, key, {v->name, v->type, {}}});
    }
    std::size_t same = 0;
    while (same < kept.size() && same < wanted.values.size() && kept[same]->name == wanted.values[same]->name) ++same;
    for (std::size_t i = same; i < kept.size(); ++i) plan.push_back({Step::kDeleteValue, key, {kept[i]->name, kept[i]->type, {}}});
    for (std::size_t i = 0; i < wanted.values.size(); ++i) {
        const ValueEntry& w = *wanted.values[i];
        if (i >= same || kept[i]->type != w.type || kept[i]->data != w.data)
            plan.push_back({Step::kSetValue, key, {w.name, w.type, w.data}});
    }
}

// A key and its subtree from `now` to `wanted`: a subkey named in another
// case goes and is made again under its own name (deletions first).
void PlanKey(const KeyNode& wanted, const KeyNode& now, const std::string& key, std::vector<Step>& plan) {
    PlanValues(wanted, now, key, plan);
    std::unordered_map<std::string_view, const KeyNode*> nowSubkeys, wantedSubkeys;
    for (const auto& sub : now.subkeys) nowSubkeys.emplace(sub->name, sub.get());
    for (const auto& sub : wanted.subkeys) wantedSubkeys.emplace(sub->name, sub.get());
    for (const auto& sub : now.subkeys)
        if (wantedSubkeys.count(sub->name) == 0) PlanDelete(*sub, key + '\\' + sub->name, plan);
    for (const auto& sub : wanted.subkeys) {
        const auto found = nowSubkeys.find(sub->name);
        if (found != nowSubkeys.end()) PlanKey(*sub, *found->second, key + '\\' + sub->name, plan);
        else PlanMake(*sub, key + '\\' + sub->name, plan);
    }
}

// What it takes to turn `now` (null: absent) into `wanted` (null: absent)
// within the scope.
void PlanScope(const ChangeScope& scope, const KeyNode* wanted, const KeyNode* now, std::vector<Step>& plan) {
    if (!scope.subtree) {
        // The key itself is not the change's: only its values are put back.
        const KeyNode none(std::string{});
        if (wanted == nullptr && now == nullptr) return;
        if (now == nullptr) plan.push_back({Step::kMakeKey, scope.key, {}});
        PlanValues(wanted != nullptr ? *wanted : none, now != nullptr ? *now : none, scope.key, plan);
        return;
    }
    if (now != nullptr && (wanted == nullptr || now->name != wanted->name)) PlanDelete(*now, TopKey(scope, *now), plan);
    if (wanted == nullptr) return;
    if (now != nullptr && now->name == wanted->name) PlanKey(*wanted, *now, TopKey(scope, *wanted), plan);
    else PlanMake(*wanted, TopKey(scope, *wanted), plan);
}

// Whether two records of a scope are the same: names in their case, values
// in their order, types and data.
bool SameTree(const KeyNode* a, const KeyNode* b, bool subtree) {
    if (a == nullptr || b == nullptr) return a == b;
    std::vector<std::pair<const KeyNode*, const KeyNode*>> pending{{a, b}};
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        if ((subtree && x->name != y->name) || x->values.size() != y->values.size()) return false;
        for (std::size_t i = 0; i < x->values.size(); ++i) {
            const ValueEntry &v = *x->values[i], &w = *y->values[i];
            if (v.name != w.name || v.type != w.type || v.data != w.data) return false;
        }
        if (!subtree) continue;
        if (x->subkeys.size() != y->subkeys.size()) return false;
        for (std::size_t i = 0; i < x->subkeys.size(); ++i) pending.emplace_back(x->subkeys[i].get(), y->subkeys[i].get());
    }
    return true;
}

LONG Apply(IRegistry& registry, const std::string& computer, const std::vector<Step>& plan, std::string& failedAt) {
    COpenedKey key(registry);
    std::string opened;  // the key `key` holds open
    for (const Step& step : plan) {
        failedAt = step.key;
        const KeyParts parts = Split(step.key);
        if (parts.root == nullptr) return ERROR_INVALID_PARAMETER;
        if (step.kind == Step::kDeleteKey) {
            key.Close();
            opened.clear();
            COpenedKey parent(registry);
            const LONG open = parent.Open(computer, parts.root, parts.parent, KEY_READ);
            if (open == ERROR_FILE_NOT_FOUND) continue;
            const LONG status = open != ERROR_SUCCESS ? open : DeleteRegistryTree(registry, parent.Key(), parts.leaf);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
            continue;
        }
        if (opened != step.key) {  // made when missing
            opened.clear();
            if (const LONG status = key.Open(computer, parts.root, parts.path, KEY_ALL_ACCESS); status != ERROR_SUCCESS)
                return status;
            opened = step.key;
        }
        LONG status = ERROR_SUCCESS;
        if (step.kind == Step::kDeleteValue) {
            status = registry.RegDeleteValueA(key.Key(), step.value.name.c_str());
            if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
        } else if (step.kind == Step::kSetValue) {
            status = registry.RegSetValueExA(key.Key(), step.value.name.c_str(), 0, step.value.type,
                                             reinterpret_cast<const BYTE*>(step.value.data.data()),
                                             static_cast<DWORD>(step.value.data.size()));
        }
        if (status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
}

// The plan as the sections of a patch, in its order.
std::vector<RegPatchSection> PatchOf(const std::vector<Step>& plan) {
    std::vector<RegPatchSection> sections;
    for (const Step& step : plan) {
        RegPatchSection* last = sections.empty() ? nullptr : &sections.back();
        const bool joins = last != nullptr && !last->deleteKey && last->key == step.key &&
                           (step.kind != Step::kDeleteValue || last->setValues.empty());
        if (step.kind == Step::kDeleteKey || !joins) {
            last = &sections.emplace_back();
            last->key = step.key;
            last->deleteKey = step.kind == Step::kDeleteKey;
        }
        if (step.kind == Step::kDeleteValue) last->deleteValues.push_back(step.value.name);
        if (step.kind == Step::kSetValue) last->setValues.push_back(step.value);
    }
    return sections;
}

// "- delete 2 keys (with the 3 values in them): A, B", a line for each kind
// of step the plan has, the first keys named.
std::string Describe(const std::vector<Step>& plan) {
    struct Line {
        std::size_t count = 0, with = 0;
        std::vector<std::string> keys;
    } lines[4];
    for (const Step& step : plan) {
        Line& line = lines[step.kind];
        line.count += step.kind == Step::kDeleteKey ? step.keys : 1;
        line.with += step.values;
        if (std::find(line.keys.begin(), line.keys.end(), step.key) == line.keys.end()) line.keys.push_back(step.key);
    }
    const auto plural = [](std::size_t n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string text;
    for (int kind = 0; kind < 4; ++kind) {
        const Line& line = lines[kind];
        if (line.count == 0) continue;
        switch (kind) {
        case Step::kDeleteKey:
            text += "- delete " + plural(line.count, "key") + " (with the " + plural(line.with, "value") + " in them): ";
            break;
        case Step::kMakeKey: text += "- make " + plural(line.count, "key") + ": "; break;
        case Step::kDeleteValue: text += "- delete " + plural(line.count, "value") + " in " + plural(line.keys.size(), "key") + ": "; break;
        default: text += "- set " + plural(line.count, "value") + " in " + plural(line.keys.size(), "key") + ": "; break;
        }
        for (std::size_t i = 0; i < line.keys.size() && i < 3; ++i) text += (i > 0 ? ", " : "") + line.keys[i];
        if (line.keys.size() > 3) text += " and " + std::to_string(line.keys.size() - 3) + " more";
        text += "\n";
    }
    return text;
}

}  // namespace

struct CUndoJournal::Snapshot {
    std::vector<std::unique_ptr<KeyNode>> trees;  // one per scope, null where absent

    LONG Read(IRegistry& registry, const Entry& entry) {
        trees.clear();
        std::unordered_map<std::string, std::vector<std::string>> listed;
        for (const ChangeScope& scope : entry.scopes) {
            std::unique_ptr<KeyNode> tree;
            if (const LONG status = ReadScope(registry, entry.computer, scope, tree, listed); status != ERROR_SUCCESS)
                return status;
            trees.push_back(std::move(tree));
        }
        return ERROR_SUCCESS;
    }

    bool Write(const Entry& entry, std::string& bytes, std::string& error) const {
        std::vector<RegPatchSection> sections;
        for (std::size_t i = 0; i < trees.size(); ++i)
            if (trees[i]) AppendSections(*trees[i], TopKey(entry.scopes[i], *trees[i]), sections);
        return WriteRegPatch(sections, bytes, error, RegFileFormat::kRegedit4);
    }

    // What it takes to turn the registry as `now` holds it into this.
    std::vector<Step> Plan(const Entry& entry, const Snapshot& now) const {
        std::vector<Step> plan;
        for (std::size_t i = 0; i < entry.scopes.size(); ++i) PlanScope(entry.scopes[i], trees[i].get(), now.trees[i].get(), plan);
        return plan;
    }
};

std::string CUndoJournal::DefaultFolder() {
#ifdef _WIN32
    const std::string local = EnvironmentUtf8("LOCALAPPDATA");
    return local.empty() ? std::string() : local + "\\Quorvane\\journal";
#else
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
        return std::string(state) + "/quorvane/journal";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::string(home) + "/.local/state/quorvane/journal";
    return {};
#endif
}

bool CUndoJournal::Open(const std::string& folder, std::string& error) {
    std::error_code failed;
    const fs::path where = PathFromUtf8(folder);
    // Records copy keys whatever their hive's permissions: only the user
    // may read them, so a journal others can open is narrowed or refused.
    std::string reason;
    if (!MakePrivateFolders(folder, reason) || !NarrowFolder(folder, reason)) {
        error = "Cannot keep the undo journal in " + folder + ": " + reason + ".";
        return false;
    }
    m_folder = folder;
    std::vector<std::int64_t> numbers;
    std::int64_t number = 0;
    for (fs::directory_iterator it(where, failed), end; !failed && it != end; it.increment(failed))
        if (it->path().extension() == ".entry" && ParseNumber(Utf8FromPath(it->path().stem()), number)) numbers.push_back(number);
    std::sort(numbers.begin(), numbers.end());
    m_next = numbers.empty() ? 1 : numbers.back() + 1;
    for (std::size_t i = 0; i + kKeptEntries < numbers.size(); ++i)
        for (const char* suffix : {".entry", ".before.reg", ".after.reg"}) fs::remove(PathFromUtf8(Path(numbers[i], suffix)), failed);
    return true;
}

std::string CUndoJournal::Path(std::int64_t number, const char* suffix) const {
    char name[48];
    std::snprintf(name, sizeof name, "%06lld%s", static_cast<long long>(number), suffix);
    return Utf8FromPath(PathFromUtf8(m_folder) / name);
}

std::string CUndoJournal::FileNames(std::int64_t number) const {
    std::string names;
    std::error_code failed;
    for (const char* suffix : {".entry", ".before.reg", ".after.reg"})
        if (fs::exists(PathFromUtf8(Path(number, suffix)), failed)) names += (names.empty() ? "" : ", ") + Path(number, suffix);
    return names;
}

bool CUndoJournal::WriteHeader(const Entry& entry, std::string& error) const {
    std::string text = std::string(kHeader) + "\n";
    text += "description: " + entry.description + "\n";
    text += "computer: " + entry.computer + "\n";
    text += "state: " + entry.state + "\n";
    for (const ChangeScope& s : entry.scopes) text += std::string("scope: ") + (s.subtree ? "subtree " : "values ") + s.key + "\n";
    for (const auto& [name, record] : {std::pair{"before", &entry.before}, std::pair{"after", &entry.after}})
        if (record->known) text += std::string(name) + ": " + std::to_string(record->size) + " " + std::to_string(record->checksum) + "\n";
    return ReplaceFileContents(Path(entry.number, ".entry"), text, error, true);
}

bool CUndoJournal::ReadEntry(std::int64_t number, Entry& entry) const {
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
        auto record = [](const char* v, Record& r) {
            unsigned long long size = 0, sum = 0;
            r.known = std::sscanf(v, "%llu %llu", &size, &sum) == 2;
            r.size = size;
            r.checksum = sum;
        };
        if (const char* v = field("description: ")) entry.description = v;
        else if (const char* v = field("computer: ")) entry.computer = v;
        else if (const char* v = field("state: ")) entry.state = v;
        else if (const char* v = field("scope: subtree ")) entry.scopes.push_back({v, true});
        else if (const char* v = field("scope: values ")) entry.scopes.push_back({v, false});
        else if (const char* v = field("before: ")) record(v, entry.before);
        else if (const char* v = field("after: ")) record(v, entry.after);
    }
    // Older versions kept scopes inside others; their records still read.
    entry.scopes = Separate(std::move(entry.scopes));
    return !entry.scopes.empty();
}

bool CUndoJournal::LoadSnapshot(const Entry& entry, const char* suffix, Snapshot& snapshot, std::string& error) const {
    snapshot.trees.clear();
    snapshot.trees.resize(entry.scopes.size());
    const Record& record = std::string_view(suffix) == ".before.reg" ? entry.before : entry.after;
    const std::string path = Path(entry.number, suffix);
    std::string bytes;
    RegFileContent content;
    if (!record.known) {
        error = "the journal's record " + path + " has no size and checksum to check it by (an older version wrote it)";
        return false;
    }
    if (!ReadFile(path, bytes)) {
        error = "the journal's record " + path + " cannot be read";
        return false;
    }
    if (bytes.size() != record.size || Checksum(bytes) != record.checksum) {
        error = "the journal's record " + path + " is damaged (its size or checksum is not the one recorded)";
        return false;
    }
    if (!ParseRegFile(bytes, content, error)) {
        error = "the journal's record " + path + " cannot be read (" + error + ")";
        return false;
    }
    // The scopes' sections come in the scopes' order, each scope's together:
    // a section goes to the scope being read when that holds it and has not
    // had it yet, else to the next one that does.
    std::vector<std::unordered_set<std::string>> seen(entry.scopes.size());
    std::size_t scope = entry.scopes.size();
    KeyNode* current = nullptr;
    for (const RegFileOp& op : content.ops) {
        if (op.kind == RegFileOp::kSetValue) {
            if (current != nullptr) current->AppendValue(std::make_unique<ValueEntry>(op.value.name, op.value.type, op.value.data));
            continue;
        }
        current = nullptr;
        if (op.kind != RegFileOp::kKey) continue;
        const std::string key = op.key.Full();
        const auto takes = [&](std::size_t i) { return Holds(entry.scopes[i], key) && seen[i].count(SortKey(key)) == 0; };
        std::size_t i = scope < entry.scopes.size() && takes(scope) ? scope : entry.scopes.size();
        for (std::size_t j = scope < entry.scopes.size() ? scope + 1 : 0; i == entry.scopes.size() && j < entry.scopes.size(); ++j)
            if (takes(j)) i = j;
        for (std::size_t j = 0; i == entry.scopes.size() && j < entry.scopes.size(); ++j)
            if (takes(j)) i = j;
        if (i == entry.scopes.size()) continue;  // no scope's: left out
        scope = i;
        seen[i].insert(SortKey(key));
        const std::string& top = entry.scopes[i].key;
        std::unique_ptr<KeyNode>& tree = snapshot.trees[i];
        if (!tree) tree = std::make_unique<KeyNode>(Split(top).leaf);
        if (key.size() == top.size()) {
            if (entry.scopes[i].subtree && top.find('\\') != std::string::npos) tree->name = Split(key).leaf;
            current = tree.get();
            continue;
        }
        KeyNode* node = tree.get();
        for (std::size_t at = top.size() + 1; at < key.size() + 1;) {
            std::size_t end = key.find('\\', at);
            if (end == std::string::npos) end = key.size();
            const std::string name = key.substr(at, end - at);
            KeyNode* next = nullptr;
            for (auto it = node->subkeys.rbegin(); it != node->subkeys.rend() && next == nullptr; ++it)
                if ((*it)->name == name) next = it->get();
            node = next != nullptr ? next : node->AppendSubkey(std::make_unique<KeyNode>(name));
            at = end + 1;
        }
        current = node;
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
    entry->scopes = Separate(std::move(scopes));
    Snapshot before;
    std::string bytes;
    if (const LONG status = before.Read(registry, *entry); status != ERROR_SUCCESS) {
        error = "Can't record what " + description + " would change: " + RegistryErrorText(status);
        return false;
    }
    // Two subtrees naming one key in other cases are one: recorded once.
    std::unordered_set<std::string> tops;
    for (std::size_t i = entry->scopes.size(); i-- > 0;) {
        const ChangeScope& scope = entry->scopes[i];
        if (!scope.subtree || !before.trees[i] ||
            tops.insert(SortKey(ParentKey(scope.key)) + '\x01' + before.trees[i]->name).second)
            continue;
        entry->scopes.erase(entry->scopes.begin() + static_cast<std::ptrdiff_t>(i));
        before.trees.erase(before.trees.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (!before.Write(*entry, bytes, error)) {
        error = "Can't record what " + description + " would change: " + error + ".";
        return false;
    }
    entry->before = {true, bytes.size(), Checksum(bytes)};
    // The record first, then the entry that vouches for it: both flushed.
    if (!ReplaceFileContents(Path(entry->number, ".before.reg"), bytes, error, true) || !WriteHeader(*entry, error)) return false;
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
        ReplaceFileContents(Path(entry.number, ".after.reg"), bytes, error, true)) {
        entry.state = "done";
        entry.after = {true, bytes.size(), Checksum(bytes)};
    } else {
        entry.state = "unchecked";
    }
    WriteHeader(entry, error);
    m_undoable.push_back(entry);
}

bool CUndoJournal::Undo(IRegistry& registry, std::string& message) {
    if (m_undoable.empty()) {
        message = "There is nothing to undo.";
        return false;
    }
    Entry& entry = m_undoable.back();
    // Only over what the change left: anything else may be someone's work.
    Snapshot before, left, now;
    std::string reason;
    if (entry.state != "done" || !LoadSnapshot(entry, ".after.reg", left, reason)) {
        message = "Nothing was undone: what " + entry.description + " left was not recorded" +
                  (reason.empty() ? std::string() : " (" + reason + ")") +
                  ", so a change made since cannot be told from it. The journal entry " +
                  Path(entry.number, ".before.reg") + " holds the keys as they were.";
        return false;
    }
    if (!LoadSnapshot(entry, ".before.reg", before, reason)) {
        message = "Nothing was undone: " + reason + ".";
        return false;
    }
    if (const LONG status = now.Read(registry, entry); status != ERROR_SUCCESS) {
        message = "Nothing was undone: " + RegistryErrorText(status);
        return false;
    }
    for (std::size_t i = 0; i < entry.scopes.size(); ++i) {
        if (SameTree(left.trees[i].get(), now.trees[i].get(), entry.scopes[i].subtree)) continue;
        message = "Nothing was undone: " + entry.scopes[i].key + " changed since " + entry.description + " (it was " +
                  (now.trees[i] ? "changed" : "deleted") + " after it), so undoing it could lose that change.";
        return false;
    }
    std::string failedAt;
    if (const LONG status = Apply(registry, entry.computer, before.Plan(entry, now), failedAt); status != ERROR_SUCCESS) {
        message = "Undo of " + entry.description + " failed at " + failedAt + ": " + RegistryErrorText(status);
        return false;
    }
    entry.state = "undone";
    std::string ignored;
    WriteHeader(entry, ignored);
    m_undoable.pop_back();
    return true;
}

std::vector<CUndoJournal::Entry> CUndoJournal::Unfinished() const {
    std::vector<Entry> found;
    std::error_code failed;
    std::int64_t number = 0;
    for (fs::directory_iterator it(PathFromUtf8(m_folder), failed), end; !failed && it != end; it.increment(failed)) {
        Entry entry;
        if (it->path().extension() == ".entry" && ParseNumber(Utf8FromPath(it->path().stem()), number) &&
            ReadEntry(number, entry) && entry.state == "begun" && (!m_open || m_open->number != number))
            found.push_back(entry);
    }
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) { return a.number < b.number; });
    return found;
}

bool CUndoJournal::PreviewRestore(IRegistry& registry, std::int64_t number, std::string& preview, std::string& message) {
    Entry entry;
    Snapshot before, now;
    if (!ReadEntry(number, entry)) {
        message = "the journal entry " + Path(number, ".entry") + " cannot be read";
        return false;
    }
    if (!LoadSnapshot(entry, ".before.reg", before, message)) return false;
    if (const LONG status = now.Read(registry, entry); status != ERROR_SUCCESS) {
        message = "what it changed cannot be read: " + RegistryErrorText(status);
        return false;
    }
    preview = Describe(before.Plan(entry, now));
    return true;
}

bool CUndoJournal::Restore(IRegistry& registry, std::int64_t number, std::string& message) {
    Entry entry;
    Snapshot before, now;
    if (!ReadEntry(number, entry)) {
        message = "The journal entry " + Path(number, ".entry") + " cannot be read.";
        return false;
    }
    if (m_open || !LoadSnapshot(entry, ".before.reg", before, message)) {
        if (m_open) message = "Another change is being recorded.";
        return false;
    }
    // Recorded like any change, so that Undo takes it back.
    if (!Begin(registry, entry.computer, "Put back " + entry.description, entry.scopes, message)) return false;
    LONG status = now.Read(registry, entry);
    std::string failedAt = entry.scopes.front().key;
    if (status == ERROR_SUCCESS) status = Apply(registry, entry.computer, before.Plan(entry, now), failedAt);
    End(registry);
    if (status != ERROR_SUCCESS) {
        message = "Putting back what " + entry.description + " changed failed at " + failedAt + ": " +
                  RegistryErrorText(status) + " What was put back can be undone.";
        return false;
    }
    entry.state = "undone";
    return WriteHeader(entry, message);
}

void CUndoJournal::Dismiss(std::int64_t number) {
    Entry entry;
    std::string ignored;
    if (!ReadEntry(number, entry)) return;
    entry.state = "dismissed";
    WriteHeader(entry, ignored);
}

bool CUndoJournal::ExportRestore(std::int64_t number, std::string& bytes, std::string& error) const {
    Entry entry;
    if (!ReadEntry(number, entry)) {
        error = "the journal entry " + Path(number, ".entry") + " cannot be read";
        return false;
    }
    Snapshot before, after;
    if (!LoadSnapshot(entry, ".before.reg", before, error)) return false;
    std::string ignored;
    std::vector<RegPatchSection> sections;
    if (entry.state == "done" && LoadSnapshot(entry, ".after.reg", after, ignored)) {
        sections = PatchOf(before.Plan(entry, after));
        return WriteRegPatch(sections, bytes, error);
    }
    // What the change left is unknown: a subtree goes and comes back whole.
    for (std::size_t i = 0; i < entry.scopes.size(); ++i) {
        if (entry.scopes[i].subtree || !before.trees[i]) {
            RegPatchSection& gone = sections.emplace_back();
            gone.key = entry.scopes[i].key;
            gone.deleteKey = true;
        }
        if (before.trees[i]) AppendSections(*before.trees[i], TopKey(entry.scopes[i], *before.trees[i]), sections);
    }
    return WriteRegPatch(sections, bytes, error);
}

}  // namespace qv
