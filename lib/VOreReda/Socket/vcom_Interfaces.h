// The interfaces of the socket classes: the socket itself, the owner's callbacks and the owner's wake-up.
//
// A socket's completions arrive on the slot layer's poll task. There the socket only records an event and
// calls its wake-up target; the owner thread then calls handleEvents, which runs the callbacks on the owner
// thread. A socket must be used by one owner thread only.
#pragma once

#include "klib_Types.h"

namespace VCOM {

class IVCom;

// Implemented by the owner. The first two arguments are the socket id and the child index (0 for the
// socket itself, 1..max for a server's child).
class IVComCallback
{
public:
    // Connection failure reasons.
    static constexpr u32 FAIL_REFUSED = 0; // refused or other
    static constexpr u32 FAIL_TIMEOUT = 1;
    static constexpr u32 FAIL_RECEIVE = 2; // the connection broke while receiving
    // Communication failure reasons.
    static constexpr u32 COMM_SEND_FAILED = 0;
    static constexpr u32 COMM_TIMEOUT = 1;
    static constexpr u32 COMM_NO_ROOM = 2; // receive room exhausted (a datagram was dropped)
    static constexpr u32 COMM_RECEIVE_FAILED = 3;

    virtual void onConnected(u32 socketId, u8 child) = 0;
    virtual void onConnectionFailed(u32 socketId, u8 child, u32 reason) = 0;
    virtual void onDisconnected(u32 socketId, u8 child) = 0;
    virtual void onAccepted(u32 socketId, u8 child, u8 newChild) = 0;
    virtual void onReceived(u32 socketId, u8 child) = 0;
    virtual void onSent(u32 socketId, u8 child, i32 result) = 0;
    virtual void onCommunicationFailed(u32 socketId, u8 child, u32 reason) = 0;
    virtual ~IVComCallback() = default;
};

// Wakes the owner thread of a socket. Called on the slot layer's poll task with its locks held: it must only
// signal (application threads set user event 16 on themselves) and return.
class IVComWakeupFunction
{
public:
    virtual void wakeup(u16 wakeValue, IVCom* socket) = 0;
    virtual ~IVComWakeupFunction() = default;
};

class IVCom
{
public:
    // Resets the socket and stores its id and wake-up target; 0.
    virtual i32 initialize(u32 socketId, IVComWakeupFunction* wakeup) = 0;
    // Unregisters, closes the slot, resets the socket and forgets id and wake-up target; 0.
    virtual i32 release() = 0;
    virtual u32 getSocketId() const = 0;
    // 1 when connected (a server: its children in use), else 0.
    virtual u32 getConnectionCount() const = 0;
    // 1; a server: the length of its children array.
    virtual u32 getMaxConnections() const = 0;
    // The socket itself; a server: itself for 0, child index - 1 for 1..max when in use, else null.
    virtual IVCom* getSocket(u8 index) = 0;
    // Free room in the send stream; UDP: 1472, or 0 while a datagram is being sent.
    virtual u32 getSendableSize() const = 0;
    virtual bool isConnected() const = 0;
    virtual i32 receive(u8* buffer, u32 size, u32* got) = 0;
    virtual i32 send(const u8* data, u32 length, u32* taken) = 0;
    // TCP: a disconnect follows from the next handleEvents. UDP: no effect (use release).
    virtual i32 close() = 0;
    // Runs the callbacks of the events recorded since the last call.
    virtual i32 handleEvents(IVComCallback* callback) = 0;
    virtual ~IVCom() = default;
};

} // namespace VCOM
