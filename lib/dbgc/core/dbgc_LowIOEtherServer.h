// LowIOEtherServer: the console transport over TCP, a one-peer server on a VComTcpServerSocket.
//
// Output from any thread goes into a fixed byte ring: `write` appends each text whole (one copy, under a short
// lock) or not at all, and the console thread moves the ring into the socket in chunks, woken when the ring goes
// from empty to non-empty. Debug prints and console output share the ring, so their order, and a module's
// multi-line output under "DBGC", stay intact. Without a peer `write` fails at once on a lock-free flag.
//
// A full ring is retried WRITE_ATTEMPTS times with a yield in between; a write that still found no room marks
// the peer stalled, and later writes fail at once without retries until the console thread has moved bytes out
// again. The console thread never waits for itself: a write of its own that finds the ring full drains the ring.
//
// The mutex "LowIOEtherServer" guards the server socket and every call into it; only the console thread (poll,
// read, and its own writes) takes it. poll() runs the socket's handleEvents under the mutex but only records what
// happened there; the console is told after the mutex is released, so line editing and commands (which take
// "DBGC") never run under it. Lock order: "DBGC", then the mutex, then the ring lock. wakeup() comes from the
// socket layer's poll task with its locks held: it takes no lock and only forwards to the console, which asks its
// owner thread for service.
#pragma once

#include <atomic>

#include "dbgc_FastLock.h"
#include "dbgc_LowIO.h"
#include "klib_Types.h"
#include "tms_Mutex.h"
#include "vcom_Socket.h"

namespace DBGC {

class LowIOEtherServer : public IDebugConsoleLowIO, public VCOM::IVComWakeupFunction, public VCOM::IVComCallback
{
public:
    static constexpr u16 DEFAULT_PORT = 50002;
    static constexpr const char* DEFAULT_ADDRESS = "127.0.0.1";
    static constexpr u32 WRITE_ATTEMPTS = 10;
    static constexpr u32 RING_SIZE = 65536;

    // The address text is copied (at most 63 characters); null gives the default address.
    explicit LowIOEtherServer(u16 port = DEFAULT_PORT, const char* address = DEFAULT_ADDRESS);
    ~LowIOEtherServer() override;

    LowIOEtherServer(const LowIOEtherServer&) = delete;
    LowIOEtherServer& operator=(const LowIOEtherServer&) = delete;

    // IDebugConsoleLowIO
    u32 open(IDebugConsoleLowIOCallback* callback) override;
    u32 close() override;
    bool isSerial() const override { return false; }
    u32 read(u8* buffer, u32 size, u32* got) override;
    u32 write(const u8* data, u32 size, u32* written) override;
    u32 flush() override { return 0; }
    u32 poll() override;

    // VCOM::IVComWakeupFunction
    void wakeup(u16 wakeValue, VCOM::IVCom* socket) override;

    // VCOM::IVComCallback: record only (see above).
    void onConnected(u32 socketId, u8 child) override;
    void onConnectionFailed(u32 socketId, u8 child, u32 reason) override;
    void onDisconnected(u32 socketId, u8 child) override;
    void onAccepted(u32 socketId, u8 child, u8 newChild) override;
    void onReceived(u32 socketId, u8 child) override;
    void onSent(u32 socketId, u8 child, i32 result) override;
    void onCommunicationFailed(u32 socketId, u8 child, u32 reason) override;

    // The port the listener is bound to (the chosen one when constructed with port 0); 0 when closed.
    u16 getBoundPort();
    u16 getPort() const { return m_port; }
    const char* getAddress() const { return m_address; }
    bool isOpen();
    bool hasPeer();
    // True while a peer's writes are dropped at once because the ring stayed full through a whole write.
    bool isStalled() const { return m_stalled.load(std::memory_order_acquire); }

    // Between these, on the calling thread, a write that has to wake the console thread leaves that to the end
    // call: the debug print brackets its lock with them, so that no printer waits while a wake-up is delivered
    // (or while the woken console thread preempts the one holding the lock). They nest.
    static void beginDeferredWakeups();
    static void endDeferredWakeups();

private:
    // The connected child, or null (caller holds the mutex).
    VCOM::IVCom* peer();
    void destroyServer();
    // Takes the peer state from the socket after handleEvents; a gone peer's unsent output is dropped (caller
    // holds the mutex).
    void updatePeer();
    // Moves ring bytes into the peer's send stream while it has room (caller holds the mutex).
    void drainLocked();
    void discardRing();
    // The console thread's own write found the ring full: take in completed sends and drain.
    void drainFromWriter();
    // Asks the console thread to drain the ring (now, or at the end of the deferring scope).
    void wakeConsole();

    u16 m_port;
    char m_address[64] = {};
    std::atomic<IDebugConsoleLowIOCallback*> m_callback{nullptr};
    VCOM::VComTcpServerSocket* m_server = nullptr;
    TMS::TMSMutex m_mutex{"LowIOEtherServer"};
    // Recorded by the callbacks during handleEvents (under the mutex), handed on by the next poll after it.
    bool m_accepted = false;
    bool m_received = false;
    std::atomic<bool> m_peerConnected{false};
    // Set by the writer that woke the console thread for the ring, cleared by that thread before it drains: while
    // set, further writers need not wake it again.
    std::atomic<bool> m_drainRequested{false};
    std::atomic<bool> m_stalled{false};
    // The output ring: bytes [m_ringTail, m_ringHead) (running counts) wait for the peer. The indices change
    // under m_ringLock; the bytes between them are written only by the appending writer before it moves the head
    // and read only by the console thread before it moves the tail.
    FastLock m_ringLock;
    u32 m_ringHead = 0;
    u32 m_ringTail = 0;
    u8 m_ring[RING_SIZE];
};

} // namespace DBGC
