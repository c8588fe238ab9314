// Feeds arbitrary bytes to the tree-file reader, then saves what it built
// and reads that again: nothing the reader accepts may crash a later step.
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/tree_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (in == nullptr) return 0;
    qv::CStdioFile file;
    file.Attach(in, "fuzz input");
    qv::KeyNode top("fuzz");
    if (qv::ReadTreeFile(&top, file) != 0) return 0;

    // The reader's tree must save, and the saved file must read back.
    char* out = nullptr;
    std::size_t outSize = 0;
    std::FILE* mem = open_memstream(&out, &outSize);
    if (mem == nullptr) return 0;
    {
        qv::CStdioFile writer;
        writer.Attach(mem, "fuzz output", true);
        qv::SaveTree(&top, writer);
        writer.Close();
    }
    std::FILE* again = fmemopen(out, outSize, "rb");
    if (again != nullptr) {
        qv::CStdioFile reread;
        reread.Attach(again, "fuzz output");
        qv::KeyNode top2("fuzz");
        qv::ReadTreeFile(&top2, reread);
    }
    std::free(out);
    return 0;
}
