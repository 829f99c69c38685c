// LowIOEtherServer: the console transport over TCP, a one-peer server on a VComTcpServerSocket.
//
// The mutex "LowIOEtherServer" guards the server socket and every call into it. poll() runs the socket's
// handleEvents under the mutex but only records what happened there; the console is told after the mutex is
// released, so line editing and commands (which take "DBGC") never run under it. The only lock order left is
// "DBGC", then this mutex. wakeup() comes from the socket layer's poll task with its locks held: it takes no
// lock and only forwards to the console, which asks its owner thread for service.
//
// The socket's send stream moves on only inside handleEvents. A write that finds too little room runs
// handleEvents itself (under the mutex) so that a writer never waits for the console thread, which may be the
// writer itself or wait for "DBGC"; events it takes in are handed to the console through a wake-up.
#pragma once

#include <atomic>

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

private:
    // The connected child, or null (caller holds the mutex).
    VCOM::IVCom* peer();
    void destroyServer();

    u16 m_port;
    char m_address[64] = {};
    std::atomic<IDebugConsoleLowIOCallback*> m_callback{nullptr};
    VCOM::VComTcpServerSocket* m_server = nullptr;
    TMS::TMSMutex m_mutex{"LowIOEtherServer"};
    // Recorded by the callbacks during handleEvents (under the mutex), handed on by the next poll after it.
    bool m_accepted = false;
    bool m_received = false;
};

} // namespace DBGC
