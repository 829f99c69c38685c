// Random bytes from a peer through the console's line editor and word splitter, with an in-memory transport and
// modules that check every word they are given. Bytes are fed in chunks whose sizes come from the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dbgc_DebugConsole.h"
#include "fuzz_MemoryTransport.h"
#include "os_Tasks.h"

namespace {

using dbgcfuzz::MemoryTransport;

// Every word is a non-empty text of the line (at most 79 characters), never a comment start, never more than 19.
i32 checkWords(DBGC::DebugConsole& console, u32 count, DBGC::StringElement words[])
{
    if (count >= DBGC::DebugConsole::MAX_WORDS) {
        std::abort();
    }
    for (u32 i = 0; i < count; ++i) {
        const char* text = words[i].text();
        if (text == nullptr) {
            std::abort();
        }
        const size_t length = std::strlen(text);
        if (length == 0 || length >= DBGC::DebugConsole::LINE_SIZE || words[i].length() != length || text[0] == '#' ||
            text[0] == ':' || text[0] == ';') {
            std::abort();
        }
        for (size_t j = 0; j < length; ++j) {
            const unsigned char c = static_cast<unsigned char>(text[j]);
            if (c < 32 || c > 126 || c == '"') {
                std::abort();
            }
        }
        u32 value = 0;
        words[i].toUInt(&value, 10);
        words[i].toStrictUInt(&value);
        i32 signedValue = 0;
        words[i].toStrictInt(&signedValue);
        u8 byte = 0;
        words[i].toHexByte(&byte);
    }
    console.printf("%u words\n", count);
    return (count & 1) != 0 ? static_cast<i32>(0x80000000u) : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = ossupport::initialize() == 0 || ossupport::isInitialized();
    (void)started;
    static const DBGC::ModuleEntry modules[] = {
        {"Top", &checkWords, "t"},
        {"Thread", &checkWords, "th"},
        {"Component", &checkWords, "c"},
    };
    MemoryTransport transport;
    DBGC::DebugConsole console;
    if (console.initialize(nullptr, &transport, modules, 3) != 0) {
        std::abort();
    }
    dbgcfuzz::feedInChunks(console, transport, data, size);
    console.finalize();
    return 0;
}
