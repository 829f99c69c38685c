#include "vcom_TestSupport.h"

#include <chrono>

namespace vcomtest {

void TestOwner::wakeup(u16, VCOM::IVCom*)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_woken = true;
        ++m_wakeups;
    }
    m_signal.notify_one();
}

u32 TestOwner::wakeups()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_wakeups;
}

bool TestOwner::pumpUntil(const std::vector<VCOM::IVCom*>& sockets, VCOM::IVComCallback* callback,
                          const std::function<bool()>& pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_signal.wait_for(lock, std::chrono::milliseconds(10), [this] { return m_woken; });
            m_woken = false;
        }
        for (VCOM::IVCom* socket : sockets) {
            socket->handleEvents(callback);
        }
    }
    return true;
}

void TestOwner::pumpFor(const std::vector<VCOM::IVCom*>& sockets, VCOM::IVComCallback* callback, int ms)
{
    pumpUntil(
        sockets, callback, [] { return false; }, ms);
}

void RecordingCallback::onConnected(u32 id, u8 child)
{
    m_events.push_back({Cb::Connected, id, child, 0});
}

void RecordingCallback::onConnectionFailed(u32 id, u8 child, u32 reason)
{
    m_events.push_back({Cb::ConnectionFailed, id, child, reason});
}

void RecordingCallback::onDisconnected(u32 id, u8 child)
{
    m_events.push_back({Cb::Disconnected, id, child, 0});
}

void RecordingCallback::onAccepted(u32 id, u8 child, u8 newChild)
{
    m_events.push_back({Cb::Accepted, id, child, newChild});
}

void RecordingCallback::onReceived(u32 id, u8 child)
{
    m_events.push_back({Cb::Received, id, child, 0});
    if (m_onReceived) {
        m_onReceived(id, child);
    }
}

void RecordingCallback::onSent(u32 id, u8 child, i32 result)
{
    m_events.push_back({Cb::Sent, id, child, result});
    if (m_onSent) {
        m_onSent(id, child, result);
    }
}

void RecordingCallback::onCommunicationFailed(u32 id, u8 child, u32 reason)
{
    m_events.push_back({Cb::CommunicationFailed, id, child, reason});
}

size_t RecordingCallback::count(Cb kind) const
{
    size_t n = 0;
    for (const auto& e : m_events) {
        n += e.kind == kind ? 1 : 0;
    }
    return n;
}

size_t RecordingCallback::count(Cb kind, u8 child) const
{
    size_t n = 0;
    for (const auto& e : m_events) {
        n += (e.kind == kind && e.child == child) ? 1 : 0;
    }
    return n;
}

std::vector<i64> RecordingCallback::values(Cb kind) const
{
    std::vector<i64> out;
    for (const auto& e : m_events) {
        if (e.kind == kind) {
            out.push_back(e.value);
        }
    }
    return out;
}

VCOM::VComSocketAddress ipv4(const char* text)
{
    return VCOM::VComSocketAddress(VSOCK_FAMILY_IPV4, text);
}

} // namespace vcomtest
