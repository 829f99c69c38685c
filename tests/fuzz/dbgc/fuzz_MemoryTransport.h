// An in-memory console transport for the console fuzz targets: bytes queued in m_input are read by the console,
// writes are counted (a write of nothing is a fault).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>

#include "dbgc_DebugConsole.h"
#include "dbgc_LowIO.h"

namespace dbgcfuzz {

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

// Feeds the input to the console in chunks whose lengths come from the input (one byte gives the length of the
// chunk that follows), polling after each, then lets it read the rest. A console that leaves its module table
// is a fault.
inline void feedInChunks(DBGC::DebugConsole& console, MemoryTransport& transport, const uint8_t* data, size_t size)
{
    size_t at = 0;
    while (at < size) {
        const size_t chunk = 1 + data[at] % 64;
        ++at;
        const size_t end = at + chunk < size ? at + chunk : size;
        transport.m_input.insert(transport.m_input.end(), data + at, data + end);
        at = end;
        for (int i = 0; i < 4 && !transport.m_input.empty(); ++i) {
            console.poll();
        }
        if (console.getCurrentModule() >= console.getModuleCount()) {
            std::abort();
        }
    }
    while (!transport.m_input.empty()) {
        console.poll();
    }
}

} // namespace dbgcfuzz
