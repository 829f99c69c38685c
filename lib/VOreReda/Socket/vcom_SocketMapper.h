// VComSocketMapper: the process-wide map from slot-layer handles to socket objects (64 entries), and the
// event callback that every socket gives to vsockOpen.
#pragma once

#include <mutex>

#include "klib_Types.h"
#include "vsock_Socket.h"

namespace VCOM {

class VComAbstractSocket;

class VComSocketMapper
{
public:
    static constexpr u32 ENTRY_COUNT = 64;

    static VComSocketMapper* getInstance();

    // First free entry; *index receives it. 0x80000083 when the table is full, 0x80000080 for bad arguments.
    i32 registerSocket(VComAbstractSocket* socket, i32 handle, i32* index);
    // 0, or 0x80000080 for an index that holds no socket.
    i32 unregisterSocket(i32 index);
    // Passes one slot-layer event to the socket of the handle; 0x80000000 when no socket has it.
    i32 dispatch(i32 handle, const VsockEvent* event);

    // The callback given to vsockOpen (poll task, slot-layer lock held).
    static void eventCallback(i32 handle, const VsockEvent* event);

    // A wake-up of the socket's owner, asked for on the poll task: it is delivered once the pass is over and the
    // slot layer's lock is free, so that the woken owner does not preempt the poll task while it holds that lock
    // and then wait for it (the owner's next step re-arms a receive under it).
    void deferWakeup(VComAbstractSocket* socket);

private:
    VComSocketMapper();
    // The slot layer's pass hook: delivers the deferred wake-ups of the pass to sockets still registered.
    static void deliverWakeups();

    struct Entry
    {
        VComAbstractSocket* socket;
        i32 handle;
    };

    std::mutex m_lock; // "SEM_SMAP"
    Entry m_entries[ENTRY_COUNT] = {};
    i32 m_highest = -1;
};

} // namespace VCOM
