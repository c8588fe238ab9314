// Feeds arbitrary bytes to the .reg reader. What it accepts is applied as an
// import would to a tree of its own, each root written in both formats, and
// the written file must read back to the same tree. A Wine file accepted is
// also written back: unchanged it must come out byte for byte, and with a
// value added to every key it must read back to the changed tree.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files/reg_file.h"
#include "files/wine_reg_file.h"
#include "model/key_node.h"

namespace {

using qv::RegFileFormat;
using qv::RegTree;

// Keys nest at most 512 levels below a root in the registry; deeper chains
// would only cost the writer quadratic memory.
constexpr std::size_t kMaxParts = 513;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "reg file round trip: %s\n", what);
    std::abort();
}

RegTree* Child(RegTree& node, std::string_view name, bool create) {
    for (const auto& sub : node.subkeys)
        if (qv::SameName(sub->name, name)) return sub.get();
    if (!create) return nullptr;
    node.subkeys.push_back(std::make_unique<RegTree>());
    node.subkeys.back()->name = name;
    return node.subkeys.back().get();
}

// The root's name, then the path's names; runs of backslashes separate once.
std::vector<std::string_view> Parts(const qv::RegKeyName& key) {
    std::vector<std::string_view> parts{key.rootName};
    const std::string_view path = key.path;
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Applies the ops below `top` (whose subkeys are the roots) as an import
// does: names match without ASCII case and keep their first spelling.
bool Apply(const std::vector<qv::RegFileOp>& ops, RegTree& top) {
    RegTree* current = nullptr;
    for (const qv::RegFileOp& op : ops) {
        if (op.kind == qv::RegFileOp::kKey || op.kind == qv::RegFileOp::kDeleteKey) {
            const std::vector<std::string_view> parts = Parts(op.key);
            if (parts.size() > kMaxParts) return false;
            const bool create = op.kind == qv::RegFileOp::kKey;
            RegTree* node = &top;
            for (std::size_t i = 0; node != nullptr && i + (create ? 0 : 1) < parts.size(); ++i)
                node = Child(*node, parts[i], create);
            current = create ? node : nullptr;
            if (!create && node != nullptr)
                std::erase_if(node->subkeys, [&](const auto& s) { return qv::SameName(s->name, parts.back()); });
            continue;
        }
        if (current == nullptr) Fail("a value outside a key's section");
        auto& values = current->values;
        auto found = std::find_if(values.begin(), values.end(),
                                  [&](const qv::RegValue& v) { return qv::SameName(v.name, op.value.name); });
        if (op.kind == qv::RegFileOp::kDeleteValue) {
            if (found != values.end()) values.erase(found);
        } else if (found != values.end()) {
            found->type = op.value.type;  // the registry keeps the name as first spelled
            found->data = op.value.data;
        } else {
            values.push_back(op.value);
        }
    }
    return true;
}

// What the writer must take: names on one line, and in version 5 files
// names and text as UTF-8.
bool Fits(const RegTree& node, RegFileFormat format) {
    std::string ignored;
    const auto fits = [&](std::string_view text, bool isName) {
        if (isName && text.find_first_of("\r\n") != std::string_view::npos) return false;
        return format == RegFileFormat::kRegedit4 || qv::Utf8ToUtf16le(text, ignored);
    };
    if (!fits(node.name, true)) return false;
    for (const qv::RegValue& v : node.values)
        if (!fits(v.name, true) || (qv::IsTextType(v.type) && !fits(v.data, false))) return false;
    for (const auto& sub : node.subkeys)
        if (!Fits(*sub, format)) return false;
    return true;
}

bool Same(const RegTree& a, const RegTree& b) {
    if (a.name != b.name || a.values != b.values || a.subkeys.size() != b.subkeys.size()) return false;
    for (std::size_t i = 0; i < a.subkeys.size(); ++i)
        if (!Same(*a.subkeys[i], *b.subkeys[i])) return false;
    return true;
}

bool SameKeys(const qv::KeyNode& a, const qv::KeyNode& b) {
    std::vector<std::pair<const qv::KeyNode*, const qv::KeyNode*>> pending{{&a, &b}};
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        if (x->name != y->name || x->values.size() != y->values.size() || x->subkeys.size() != y->subkeys.size())
            return false;
        for (std::size_t i = 0; i < x->values.size(); ++i)
            if (x->values[i]->name != y->values[i]->name || x->values[i]->type != y->values[i]->type ||
                x->values[i]->data != y->values[i]->data)
                return false;
        for (std::size_t i = 0; i < x->subkeys.size(); ++i) pending.emplace_back(x->subkeys[i].get(), y->subkeys[i].get());
    }
    return true;
}

void WineRoundTrip(std::string_view input) {
    qv::WineRegText text;
    std::string error, bytes;
    if (!qv::ReadWineRegText(input, text, error)) return;
    qv::KeyNode base("");
    if (!qv::BuildWineKeys(text, base, error)) return;
    if (!qv::RenderWineRegText(text, base, 0, bytes, error)) Fail(("cannot write an unchanged file: " + error).c_str());
    if (bytes != input) Fail("an unchanged file changed");
    // Each key gets a copy of its first value under a name of its own.
    std::vector<qv::KeyNode*> pending{&base};
    while (!pending.empty()) {
        qv::KeyNode* node = pending.back();
        pending.pop_back();
        for (const auto& sub : node->subkeys) pending.push_back(sub.get());
        if (node->values.empty()) continue;
        const qv::ValueEntry& first = *node->values.front();
        const std::string name = first.name + "\xC3\xA9~";
        const bool taken = std::any_of(node->values.begin(), node->values.end(), [&](const auto& v) {
            return qv::FoldNameAnyScript(v->name) == qv::FoldNameAnyScript(name);
        });
        if (!taken) node->AppendValue(std::make_unique<qv::ValueEntry>(name, first.type, first.data));
    }
    if (!qv::RenderWineRegText(text, base, 0, bytes, error)) Fail(("cannot write a changed file: " + error).c_str());
    qv::WineRegText again;
    qv::KeyNode reread("");
    if (!qv::ReadWineRegText(bytes, again, error) || !qv::BuildWineKeys(again, reread, error))
        Fail(("cannot read its own Wine file: " + error).c_str());
    if (!SameKeys(base, reread)) Fail("the Wine file's content changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024) return 0;
    qv::RegFileContent content;
    std::string error;
    if (!qv::ParseRegFile({reinterpret_cast<const char*>(data), size}, content, error)) return 0;
    if (content.format == RegFileFormat::kWine) WineRoundTrip({reinterpret_cast<const char*>(data), size});
    RegTree top;
    if (!Apply(content.ops, top)) return 0;

    for (const auto& root : top.subkeys) {
        for (const RegFileFormat format : {RegFileFormat::kVersion5, RegFileFormat::kRegedit4}) {
            std::string bytes;
            const bool written = qv::WriteRegFile(*root, root->name, format, bytes, error);
            if (written != Fits(*root, format)) Fail(written ? "wrote what it should refuse" : "refused a writable tree");
            if (!written) continue;
            qv::RegFileContent again;
            if (!qv::ParseRegFile(bytes, again, error)) Fail(("cannot read its own file: " + error).c_str());
            if (again.format != format) Fail("the format changed");
            RegTree reread;
            if (!Apply(again.ops, reread)) Fail("its own file nests too deep");
            if (reread.subkeys.size() != 1 || !Same(*root, *reread.subkeys[0])) Fail("the content changed");
        }
    }
    return 0;
}
