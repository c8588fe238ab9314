// Feeds arbitrary bytes to the tree-file reader, saves what it built and
// reads that again: nothing the reader accepts may crash a later step, and
// a file the program wrote must read back to a tree that saves the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/tree_file.h"

namespace {

// The tree below `top` as a tree file; empty when it cannot be written.
std::string Saved(const qv::KeyNode& top) {
    char* out = nullptr;
    std::size_t outSize = 0;
    std::FILE* mem = open_memstream(&out, &outSize);
    if (mem == nullptr) return {};
    {
        qv::CStdioFile writer;
        writer.Attach(mem, "fuzz output", true);
        qv::SaveTree(&top, writer);
        writer.Close();
    }
    std::string text(out, outSize);
    std::free(out);
    return text;
}

// A value name holding a quote and '=' is the one thing the line form
// cannot tell apart from the end of the name.
bool HasAmbiguousName(const qv::KeyNode& top) {
    std::vector<const qv::KeyNode*> pending{&top};
    while (!pending.empty()) {
        const qv::KeyNode* n = pending.back();
        pending.pop_back();
        for (const auto& v : n->values)
            if (v->name.find("\"=") != std::string::npos) return true;
        for (const auto& k : n->subkeys) pending.push_back(k.get());
    }
    return false;
}

bool Read(const std::string& text, qv::KeyNode& top) {
    std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    if (in == nullptr) return false;
    qv::CStdioFile file;
    file.Attach(in, "fuzz input");
    return qv::ReadTreeFile(&top, file) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    qv::KeyNode top("fuzz");
    if (!Read(std::string(reinterpret_cast<const char*>(data), size), top)) return 0;
    const std::string first = Saved(top);
    qv::KeyNode again("fuzz");
    if (!Read(first, again)) std::abort();  // the program cannot read its own file
    if (HasAmbiguousName(top)) return 0;
    if (Saved(again) != first) std::abort();  // what was written did not read back the same
    return 0;
}
