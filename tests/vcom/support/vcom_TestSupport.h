// Helpers of the socket-class suites: an owner loop woken through IVComWakeupFunction, and a callback
// recorder. The owner loop runs on the test's own thread, as an application thread runs on user event 16.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "vcom_Socket.h"
#include "vsock_TestSupport.h"

namespace vcomtest {

class TestOwner : public VCOM::IVComWakeupFunction
{
public:
    void wakeup(u16 wakeValue, VCOM::IVCom* socket) override;

    // Owner loop: wait for a wake-up (at most 10 ms), then run handleEvents of every socket, until pred()
    // holds or the time runs out. Returns pred().
    bool pumpUntil(const std::vector<VCOM::IVCom*>& sockets, VCOM::IVComCallback* callback,
                   const std::function<bool()>& pred, int timeoutMs = 30000);
    // Runs the loop for a fixed time.
    void pumpFor(const std::vector<VCOM::IVCom*>& sockets, VCOM::IVComCallback* callback, int ms);

    u32 wakeups();

private:
    std::mutex m_lock;
    std::condition_variable m_signal;
    bool m_woken = false;
    u32 m_wakeups = 0;
};

enum class Cb { Connected, ConnectionFailed, Disconnected, Accepted, Received, Sent, CommunicationFailed };

struct CbEvent
{
    Cb kind;
    u32 socketId;
    u8 child;
    i64 value; // reason, new child index or send result
};

class RecordingCallback : public VCOM::IVComCallback
{
public:
    void onConnected(u32 socketId, u8 child) override;
    void onConnectionFailed(u32 socketId, u8 child, u32 reason) override;
    void onDisconnected(u32 socketId, u8 child) override;
    void onAccepted(u32 socketId, u8 child, u8 newChild) override;
    void onReceived(u32 socketId, u8 child) override;
    void onSent(u32 socketId, u8 child, i32 result) override;
    void onCommunicationFailed(u32 socketId, u8 child, u32 reason) override;

    size_t count(Cb kind) const;
    size_t count(Cb kind, u8 child) const;
    std::vector<i64> values(Cb kind) const;
    void clear() { m_events.clear(); }

    std::vector<CbEvent> m_events;
    // Optional reaction, run inside onReceived.
    std::function<void(u32, u8)> m_onReceived;
    std::function<void(u32, u8, i32)> m_onSent;
};

class VcomTest : public vsocktest::VsockTest
{
};

VCOM::VComSocketAddress ipv4(const char* text);

} // namespace vcomtest
