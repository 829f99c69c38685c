// VComAbstractSocket: the state every socket class shares, and the poll-task half of the event handling.
//
// The poll-task half (onConnectDone .. onSendDone) only records an event bit and a result under the lock
// "SEM_SOCK" and wakes the owner. The owner half (handleEvents -> handleSocketEvents) runs on the owner
// thread and performs the copies, the follow-up operations and every callback.
//
// Lock order: the slot layer's context lock, then "SEM_SMAP" (the mapper), then "SEM_SOCK". Owners never
// call the slot layer while holding "SEM_SOCK" or "SEM_SMAP".
#pragma once

#include <mutex>

#include "klib_Types.h"
#include "vcom_Interfaces.h"
#include "vcom_SocketAddress.h"
#include "vsock_Socket.h"

namespace VCOM {

// Event bits of the event record.
constexpr u32 EVENT_CONNECTED = 1;
constexpr u32 EVENT_CONNECT_FAILED = 2;
constexpr u32 EVENT_DISCONNECTED = 4;
constexpr u32 EVENT_ACCEPTED = 8;
constexpr u32 EVENT_RECEIVE_DONE = 16;
constexpr u32 EVENT_SEND_DONE = 32;
constexpr u32 EVENT_MORE_DATA = 64;
constexpr u32 EVENT_ARM_FAILED = 128; // re-arming the receive from `receive` failed

// Socket roles.
constexpr u32 ROLE_NONE = 0;
constexpr u32 ROLE_CLIENT = 1;
constexpr u32 ROLE_LISTENER_OR_UDP = 2;
constexpr u32 ROLE_CHILD = 3;

// Connection states.
constexpr u32 STATE_CLOSED = 0;
constexpr u32 STATE_CONNECTING = 1;
constexpr u32 STATE_ACCEPT_ARMED = 3;
constexpr u32 STATE_CONNECTED = 4; // TCP connected, listener listening, UDP open

constexpr u32 STREAM_SIZE = 15000;
constexpr u32 CHUNK_SIZE = 10000;
constexpr u32 DATAGRAM_SIZE = 1472;

struct VComEventRecord
{
    u32 bits;
    u32 failureKind;               // failed connect: 1 time-out, 0 other
    VsockSocketAddress acceptPeer; // accept: the peer and the child handle (-1: the accept failed)
    i32 acceptHandle;
    i32 receiveResult;
    i32 sendResult;
    i32 armFailure; // slot-layer result of a failed receive re-arm
};

class VComAbstractSocket : public IVCom
{
public:
    VComAbstractSocket();
    ~VComAbstractSocket() override;

    VComAbstractSocket(const VComAbstractSocket&) = delete;
    VComAbstractSocket& operator=(const VComAbstractSocket&) = delete;

    i32 initialize(u32 socketId, IVComWakeupFunction* wakeup) override;
    i32 release() override;
    u32 getSocketId() const override { return m_socketId; }
    u32 getConnectionCount() const override { return m_state == STATE_CONNECTED ? 1 : 0; }
    u32 getMaxConnections() const override { return 1; }
    IVCom* getSocket(u8) override { return this; }
    bool isConnected() const override { return m_state == STATE_CONNECTED; }
    i32 handleEvents(IVComCallback* callback) override;

    // Poll-task half: record an event and wake the owner. Also called on the owner thread to post a result
    // that an operation gave at once.
    virtual i32 onConnectDone(i32 result);
    virtual i32 onDisconnect();
    virtual i32 onAccept(i32 status, u32 childHandle);
    virtual i32 onReceiveDone(i32 result);
    virtual i32 onSendDone(i32 result);
    // Owner half: runs the callbacks of one taken event record.
    virtual i32 handleSocketEvents(IVComCallback* callback, u8 childIndex, const VComEventRecord* events) = 0;

    // handleEvents with the child index that the callbacks report (a server passes its children's).
    i32 handleEventsAs(IVComCallback* callback, u8 childIndex);

    i32 getHandle() const { return m_handle; }
    u32 getState() const { return m_state; }
    u32 getRole() const { return m_role; }
    const VComSocketAddress& getPeerAddress() const { return m_peerAddress; }
    u16 getPeerPort() const { return m_peerPort; }
    // The local port the socket is bound to (what binding port 0 chose); 0 while it is closed or not bound yet.
    u16 getBoundPort() const;

protected:
    friend class VComSocketMapper; // delivers deferred wake-ups

    // "SEM_SOCK": one lock shared by every socket, guarding the event records.
    static std::mutex& socketLock();

    // Opens a slot with the mapper's event callback and registers the socket; 0 or a VCOM failure.
    i32 openSlot(u32 type, const VComSocketAddress& local, u16 port);
    // Takes over an accepted child handle: registers it; 0 or a VCOM failure.
    i32 adoptHandle(i32 handle);
    // Unregisters, closes the slot, returns to closed and clears the event record.
    virtual void closeAndClear();
    // Resets the per-connection state (streams, flags) kept by derived classes.
    virtual void resetConnection() {}
    // Calls the wake-up target when the event record was empty before the event now recorded: the owner takes
    // every bit in one handleEvents, so one wake-up serves all events recorded before it runs. VCOM_E_STATE
    // without a wake-up target.
    i32 wakeOwner(bool wasEmpty);
    void takeEvents(VComEventRecord* out);

    u32 m_socketId = 0;
    IVComWakeupFunction* m_wakeup = nullptr;
    u16 m_wakeValue = 0;
    i32 m_mapperIndex = -1;
    i32 m_handle = -1;
    u32 m_role = ROLE_NONE;
    u32 m_state = STATE_CLOSED;
    VComEventRecord m_events; // guarded by socketLock()
    VComSocketAddress m_peerAddress;
    u16 m_peerPort = 0;
};

} // namespace VCOM
