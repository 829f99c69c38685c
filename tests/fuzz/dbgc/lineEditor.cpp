// Random bytes from a peer through the console's line editor and word splitter, with an in-memory transport and
// modules that check every word they are given. Bytes are fed in chunks whose sizes come from the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "dbgc_DebugConsole.h"
#include "os_Tasks.h"

namespace {

class MemoryTransport : public DBGC::IDebugConsoleLowIO
{
public:
    u32 open(DBGC::IDebugConsoleLowIOCallback* callback) override
    {
        m_callback = callback;
        return 0;
    }
    u32 close() override
    {
        m_callback = nullptr;
        return 0;
    }
    bool isSerial() const override { return false; }
    u32 read(u8* buffer, u32 size, u32* got) override
    {
        *got = 0;
        while (*got < size && !m_input.empty()) {
            buffer[(*got)++] = m_input.front();
            m_input.pop_front();
        }
        return 0;
    }
    u32 write(const u8* data, u32 size, u32* written) override
    {
        if (data == nullptr || size == 0) {
            std::abort();
        }
        m_written += size;
        *written = size;
        return 0;
    }
    u32 flush() override { return 0; }
    u32 poll() override
    {
        if (m_callback != nullptr && !m_input.empty()) {
            m_callback->onReceive(this);
        }
        return 0;
    }

    std::deque<u8> m_input;
    DBGC::IDebugConsoleLowIOCallback* m_callback = nullptr;
    u64 m_written = 0;
};

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
    size_t at = 0;
    while (at < size) {
        // One byte gives the chunk length, the chunk follows.
        const size_t chunk = 1 + data[at] % 64;
        ++at;
        const size_t end = at + chunk < size ? at + chunk : size;
        transport.m_input.insert(transport.m_input.end(), data + at, data + end);
        at = end;
        for (int i = 0; i < 4 && !transport.m_input.empty(); ++i) {
            console.poll();
        }
        if (console.getCurrentModule() >= 3) {
            std::abort();
        }
    }
    while (!transport.m_input.empty()) {
        console.poll();
    }
    console.finalize();
    return 0;
}
