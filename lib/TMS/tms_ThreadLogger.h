// ThreadLogger: the log of one thread, a ring of the last lines written, each also printed through the debug
// print. Any thread may write into another thread's ring. The logger needs its owner thread's mutex ("TMSThread")
// to be valid, but the ring itself is guarded by a lock of its own that is never held while anything else is
// taken: a writer may hold its own "TMSThread" (inside onTimer, for instance) while it writes a line into another
// thread's ring, and two threads doing so towards each other cannot block one another. A line is stored under
// that lock and printed after it is released, so a blocked standard output holds up nobody else.
#pragma once

#include <cstdarg>
#include <mutex>

#include "klib_RingBuffer.h"
#include "klib_Types.h"

namespace TMS {

class TMSMutex;

class ThreadLogger
{
public:
    static constexpr u32 LINE_SIZE = 256; // bytes per line, NUL included
    static constexpr u32 MAX_LINES = 0xFFFFFF;

    struct LogItem
    {
        char m_text[LINE_SIZE] = {};
    };

    ThreadLogger() = default;
    // Frees the ring without taking the mutex (it may be gone already when the owner is torn down).
    virtual ~ThreadLogger();

    ThreadLogger(const ThreadLogger&) = delete;
    ThreadLogger& operator=(const ThreadLogger&) = delete;

    // 1 when already prepared; 0x80000004 for a missing or invalid mutex. Drops the old ring and
    // allocates `lines` lines (1..0xFFFFFF) from heap 0; 0 lines, more, or no memory: 0x80000000 with no ring.
    // On success keeps a copy of the owner's name and returns 0.
    u32 prepare(TMSMutex* mutex, const char* ownerName, u32 lines);

    // Formats one line (klib formatter, cut to 255 characters), stores it as the newest line (dropping the oldest
    // when the ring is full) and then prints it. 0x80000004 without a valid mutex, 0x80000000 without a ring,
    // 0x80000002 for a null format; the line is then neither stored nor printed.
    u32 print(const char* format, va_list args);
    u32 printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Line `index` (0 = oldest) into out, cut to size with a NUL: 0. Beyond the stored lines: out = "" and
    // 0x80000007. Null out or size 0: 0x80000002; invalid mutex: 0x80000004; no ring: 0x80000000.
    u32 getLine(u32 index, char* out, u32 size);
    // Forgets every stored line: 0; no ring: 0x80000000; invalid mutex: 0x80000004.
    u32 clearLines();
    u32 getCount();
    u32 getCapacity();
    // Frees the ring; the logger is no longer prepared.
    void release();

    bool isPrepared() const { return m_ownerName != nullptr; }
    // The owner's name, null when not prepared.
    const char* getOwnerName() const { return m_ownerName; }

private:
    bool mutexUsable();
    void dropRing();

    char* m_ownerName = nullptr;
    TMSMutex* m_mutex = nullptr;
    std::mutex m_ringLock;             // guards the ring; a leaf lock
    KLIB::KRingBuffer<LogItem> m_ring; // lines of heap 0; the positions are driven here
};

// The logger of the calling thread, as found through a hook. The thread system binds the hook to its thread
// look-up; until a hook is bound (or when it finds no logger) the answer is null and writers drop their lines.
using CurrentThreadLoggerHook = ThreadLogger* (*)();
void setCurrentThreadLoggerHook(CurrentThreadLoggerHook hook);
ThreadLogger* getCurrentThreadLogger();

} // namespace TMS
