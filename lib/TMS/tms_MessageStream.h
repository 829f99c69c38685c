// ThreadMessageStream: the bounded first-in-first-out message queue of one thread. Any thread writes, the owner
// reads; every operation holds the stream's mutex (the owner's "TMSThreadMsg") for its whole duration, including
// the copy of the message. The slots live in one headed block of heap 0 (tag "KLIB::KDataStream"), each
// constructed as an empty message; `write` copies a message into a slot and `read` moves it out.
#pragma once

#include "klib_Types.h"
#include "tms_Message.h"

namespace TMS {

class TMSMutex;

class ThreadMessageStream
{
public:
    static constexpr const char* TAG = "KLIB::KDataStream";
    static constexpr u32 STATE_NO_STORAGE = 1;
    static constexpr u32 STATE_READY = 3;
    static constexpr u32 MAX_CAPACITY = 0xFFFFFF;
    static constexpr u32 RESULT_MORE = 10; // read: further messages wait

    ThreadMessageStream() = default;
    // Destroys every slot and gives the block back (without the mutex, which may be gone already).
    virtual ~ThreadMessageStream();

    ThreadMessageStream(const ThreadMessageStream&) = delete;
    ThreadMessageStream& operator=(const ThreadMessageStream&) = delete;

    // Remembers the mutex, drops any old storage, then builds capacity empty slots from heap heapId: 0.
    // Capacity 0 or above 0xFFFFFF, a missing heap or no memory: no storage and 0x80000000.
    // Every operation answers 0x80000004 while the mutex is missing or invalid.
    u32 create(TMSMutex* mutex, u8 heapId, u32 capacity);
    // Copies message into the next slot: 0. Full (or without storage): 0x80000008, nothing changed.
    // 0x80000005 when the copy ran out of memory (nothing queued).
    u32 write(const AbstractMessage& message);
    // Moves the oldest message into out: 10 when more wait, 0 when it was the last. Empty: 0x80000007.
    u32 read(AbstractMessage& out);
    // Forgets every queued message (count and indices 0): 0.
    u32 clear();
    // Drops the storage; the stream keeps its mutex.
    void release();

    u32 getCount();
    u32 getCapacity();
    u32 getState();

private:
    bool mutexUsable() const;
    void dropStorage();

    AbstractMessage* m_elements = nullptr;
    u32 m_capacity = 0;
    u32 m_count = 0;
    u32 m_writeIndex = 0;
    u32 m_readIndex = 0;
    u32 m_state = STATE_NO_STORAGE;
    u8 m_heapId = 0;
    TMSMutex* m_mutex = nullptr;
};

} // namespace TMS
