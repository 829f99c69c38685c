// DataLogger: the process-wide store of debug log records, two fixed rings of 88-byte records in memory.
// The debug console thread sets it up and releases it; the records' writer and reader come later.
#pragma once

#include <mutex>
#include <string>

#include "klib_RingBuffer.h"
#include "klib_Types.h"

namespace DBGC {

// One record; every new record holds the values below.
struct LogRecord
{
    u64 m_value = 0;
    std::string m_text;
    u32 m_param0 = 0;
    u32 m_param1 = 2000;
    u32 m_param2 = 257;
    u8 m_kind = 0;
    std::string m_detail;
};

static_assert(sizeof(LogRecord) == 88, "a log record is 88 bytes");

class DataLogger
{
public:
    static DataLogger& getInstance();

    // Creates "Logger" when it does not exist (0x80000000 when it cannot), then under it creates both rings;
    // the bitwise OR of the two ring results (a count of 0 gives 0x80000001, a count above 0xFFFFFF or no memory
    // 0x80000002).
    u32 initialize(u8 heapId, u32 firstCount, u32 secondCount);
    // 0x80000000 when "Logger" does not exist; else releases both rings and deletes the semaphore: 0.
    u32 finalize();

    KLIB::KRingBuffer<LogRecord>& getFirstRing() { return m_first; }
    KLIB::KRingBuffer<LogRecord>& getSecondRing() { return m_second; }
    u16 getSemaphoreId() const;

    DataLogger(const DataLogger&) = delete;
    DataLogger& operator=(const DataLogger&) = delete;

private:
    DataLogger() = default;
    ~DataLogger() = default;

    KLIB::KRingBuffer<LogRecord> m_first;
    KLIB::KRingBuffer<LogRecord> m_second;
    u64 m_sequence = 0;
    u16 m_semaphore = 0;
    // Guards the semaphore id itself while it is created or deleted.
    mutable std::mutex m_idLock;
};

} // namespace DBGC
