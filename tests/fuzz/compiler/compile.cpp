// Fuzz target: a whole compile. The input is split at NUL bytes into the ComponentDB, ConnectionDB and DspSystemDB
// texts. Any input must end without a fault, and a second compile of the same texts on the same object must give
// the same code and text as a fresh object does.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "compiler_CompilerForNativeCPU.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string texts[3];
    size_t part = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            if (++part == 3) {
                break;
            }
        } else {
            texts[part].push_back(static_cast<char>(data[i]));
        }
    }
    static Compiler::CompilerForNativeCPU reused;
    Compiler::CompilerForNativeCPU fresh;
    std::string first;
    std::string second;
    const i32 a = reused.compile(texts[0], texts[1], texts[2], nullptr, first);
    const i32 b = fresh.compile(texts[0], texts[1], texts[2], nullptr, second);
    if (a != b || first != second || (a == Compiler::COMPILER_OK && first.empty())) {
        std::abort();
    }
    return 0;
}
