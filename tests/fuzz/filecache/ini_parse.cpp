// Fuzz target: the ini reader over untrusted bytes. The text is parsed whole and again in chunks whose sizes come
// from the first byte; both must give the same result and the same entries, and every stored entry must be one
// that setValue accepts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fcache_IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const size_t step = 1 + data[0] % 37;
    const std::vector<char> text(data + 1, data + size); // exact size: any over-read is caught
    const size_t length = text.size();

    FILECACHE::IniEntries whole;
    FILECACHE::IniParser wholeParser(whole);
    const i32 wholeResult = wholeParser.feed(text.data(), length, true);

    FILECACHE::IniEntries chunked;
    FILECACHE::IniParser chunkParser(chunked);
    i32 chunkResult = 0;
    size_t at = 0;
    do {
        const size_t n = length - at < step ? length - at : step;
        chunkResult = chunkParser.feed(text.data() + at, n, at + n == length);
        at += n;
    } while (chunkResult == 0 && at < length);

    if (wholeResult != chunkResult || whole != chunked) {
        std::abort();
    }
    if (wholeResult != 0 && wholeResult != static_cast<i32>(0x80000000u)) {
        std::abort();
    }
    // What the reader stores, the writer can write back: no entry is empty, blank-edged or holds a separator.
    // (A value may hold a NUL byte read from the file; the check looks at the whole text.)
    for (const auto& [name, value] : whole) {
        if (!FILECACHE::IniParser::isWritableSection(name.first.c_str()) ||
            name.first.find('\0') != std::string::npos || !FILECACHE::IniParser::isWritableKey(name.second.c_str()) ||
            name.second.find('\0') != std::string::npos) {
            std::abort();
        }
        if (value.empty() || value.find_first_of(std::string("\r\n#;", 4)) != std::string::npos ||
            value.front() == ' ' || value.front() == '\t' || value.back() == ' ' || value.back() == '\t') {
            std::abort();
        }
    }
    return 0;
}
