#include "dbgc_LowIOEtherServer.h"

#include <cstring>
#include <new>

#include "dbgc_Result.h"
#include "klib_Print.h"
#include "os_Clock.h"

namespace DBGC {

namespace {
constexpr u32 SOCKET_ID = 0;
} // namespace

LowIOEtherServer::LowIOEtherServer(u16 port, const char* address) : m_port(port)
{
    klib_strlcpy(m_address, sizeof(m_address), address != nullptr ? address : DEFAULT_ADDRESS);
}

LowIOEtherServer::~LowIOEtherServer()
{
    close();
}

void LowIOEtherServer::destroyServer()
{
    if (m_server != nullptr) {
        m_server->release();
        delete m_server;
        m_server = nullptr;
    }
    m_accepted = false;
    m_received = false;
    m_peerConnected.store(false, std::memory_order_release);
    discardRing();
}

u32 LowIOEtherServer::open(IDebugConsoleLowIOCallback* callback)
{
    TMS::TMSMutexLocker guard(&m_mutex);
    destroyServer();
    m_callback.store(callback, std::memory_order_release);
    VCOM::VComTcpServerSocket* server = new (std::nothrow) VCOM::VComTcpServerSocket(1);
    if (server == nullptr) {
        return RESULT_FAILED;
    }
    m_server = server;
    if (server->initialize(SOCKET_ID, this) < 0) {
        destroyServer();
        return RESULT_FAILED;
    }
    const VCOM::VComSocketAddress local(VSOCK_FAMILY_IPV4, m_address);
    if (server->listen(local, m_port) < 0) {
        destroyServer();
        return RESULT_FAILED;
    }
    return 0;
}

u32 LowIOEtherServer::close()
{
    TMS::TMSMutexLocker guard(&m_mutex);
    destroyServer();
    return 0;
}

VCOM::IVCom* LowIOEtherServer::peer()
{
    if (m_server == nullptr) {
        return nullptr;
    }
    VCOM::IVCom* child = m_server->getSocket(1);
    return (child != nullptr && child->isConnected()) ? child : nullptr;
}

u32 LowIOEtherServer::read(u8* buffer, u32 size, u32* got)
{
    if (got != nullptr) {
        *got = 0;
    }
    if (buffer == nullptr || size == 0) {
        return RESULT_FAILED;
    }
    TMS::TMSMutexLocker guard(&m_mutex);
    VCOM::IVCom* child = peer();
    if (child == nullptr) {
        return RESULT_FAILED;
    }
    u32 count = 0;
    if (child->receive(buffer, size, &count) < 0) {
        return RESULT_FAILED;
    }
    if (got != nullptr) {
        *got = count;
    }
    return 0;
}

namespace {
// The transport whose poll() runs on this thread: the console thread, which drains the ring itself.
thread_local const LowIOEtherServer* t_polling = nullptr;
// Wake-ups held back on this thread (see beginDeferredWakeups); one per registered transport at most.
constexpr u32 DEFERRED_MAX = 4;
thread_local u32 t_deferDepth = 0;
thread_local LowIOEtherServer* t_deferred[DEFERRED_MAX] = {};
thread_local u32 t_deferredCount = 0;

class PollingScope
{
public:
    explicit PollingScope(const LowIOEtherServer* transport) : m_previous(t_polling) { t_polling = transport; }
    ~PollingScope() { t_polling = m_previous; }
    PollingScope(const PollingScope&) = delete;
    PollingScope& operator=(const PollingScope&) = delete;

private:
    const LowIOEtherServer* m_previous;
};
} // namespace

u32 LowIOEtherServer::write(const u8* data, u32 size, u32* written)
{
    if (written != nullptr) {
        *written = 0;
    }
    if (data == nullptr || size == 0) {
        return RESULT_FAILED;
    }
    if (!m_peerConnected.load(std::memory_order_acquire)) {
        return RESULT_FAILED;
    }
    // A text goes whole; only one longer than the ring goes in ring-sized parts (the caller writes the rest).
    const u32 part = size < RING_SIZE ? size : RING_SIZE;
    const bool consoleThread = t_polling == this;
    for (u32 attempt = 0; attempt < WRITE_ATTEMPTS; ++attempt) {
        if (!consoleThread && m_stalled.load(std::memory_order_acquire)) {
            return RESULT_FAILED; // the peer does not take its output: drop at once, no retries
        }
        bool taken = false;
        bool wasEmpty = false;
        {
            FastLockGuard guard(m_ringLock);
            if (!m_peerConnected.load(std::memory_order_relaxed)) {
                return RESULT_FAILED;
            }
            if (RING_SIZE - (m_ringHead - m_ringTail) >= part) {
                const u32 at = m_ringHead % RING_SIZE;
                const u32 first = part < RING_SIZE - at ? part : RING_SIZE - at;
                std::memcpy(m_ring + at, data, first);
                std::memcpy(m_ring, data + first, part - first);
                wasEmpty = m_ringHead == m_ringTail;
                m_ringHead += part;
                taken = true;
            } else if (attempt + 1 == WRITE_ATTEMPTS && !consoleThread) {
                // Set under the ring lock while the ring is full, so that the drain that makes room clears it.
                m_stalled.store(true, std::memory_order_release);
            }
        }
        if (taken) {
            if (written != nullptr) {
                *written = part;
            }
            // The console thread drains at the end of its poll; another writer wakes it on the first bytes.
            if (wasEmpty && !consoleThread && !m_drainRequested.exchange(true, std::memory_order_acq_rel)) {
                wakeConsole();
            }
            return 0;
        }
        if (consoleThread) {
            drainFromWriter();
        } else if (attempt + 1 < WRITE_ATTEMPTS) {
            ossupport::sleepMilliseconds(0);
        }
    }
    return RESULT_FAILED;
}

void LowIOEtherServer::beginDeferredWakeups()
{
    ++t_deferDepth;
}

void LowIOEtherServer::endDeferredWakeups()
{
    if (t_deferDepth == 0 || --t_deferDepth != 0) {
        return;
    }
    const u32 count = t_deferredCount;
    t_deferredCount = 0;
    for (u32 i = 0; i < count; ++i) {
        IDebugConsoleLowIOCallback* callback = t_deferred[i]->m_callback.load(std::memory_order_acquire);
        if (callback != nullptr) {
            callback->onWakeup(t_deferred[i]);
        }
    }
}

void LowIOEtherServer::wakeConsole()
{
    if (t_deferDepth > 0) {
        for (u32 i = 0; i < t_deferredCount; ++i) {
            if (t_deferred[i] == this) {
                return;
            }
        }
        if (t_deferredCount < DEFERRED_MAX) {
            t_deferred[t_deferredCount++] = this;
            return;
        }
    }
    IDebugConsoleLowIOCallback* callback = m_callback.load(std::memory_order_acquire);
    if (callback != nullptr) {
        callback->onWakeup(this);
    }
}

void LowIOEtherServer::drainFromWriter()
{
    bool recorded = false;
    {
        TMS::TMSMutexLocker guard(&m_mutex);
        if (m_server == nullptr) {
            return;
        }
        // Completed sends come in only through handleEvents; what else it takes in is for the next poll.
        m_server->handleEvents(this);
        recorded = m_accepted || m_received;
        updatePeer();
        drainLocked();
    }
    IDebugConsoleLowIOCallback* callback = m_callback.load(std::memory_order_acquire);
    if (recorded && callback != nullptr) {
        callback->onWakeup(this);
    }
}

void LowIOEtherServer::discardRing()
{
    FastLockGuard guard(m_ringLock);
    m_ringTail = m_ringHead;
    m_stalled.store(false, std::memory_order_release);
}

void LowIOEtherServer::updatePeer()
{
    const bool connected = peer() != nullptr;
    if (!connected) {
        // Set first, so that no writer appends after the ring was emptied.
        m_peerConnected.store(false, std::memory_order_release);
        discardRing();
        return;
    }
    m_peerConnected.store(true, std::memory_order_release);
}

void LowIOEtherServer::drainLocked()
{
    VCOM::IVCom* child = peer();
    if (child == nullptr) {
        return;
    }
    for (;;) {
        const u32 room = child->getSendableSize();
        u32 tail = 0;
        u32 count = 0;
        {
            FastLockGuard guard(m_ringLock);
            tail = m_ringTail;
            count = m_ringHead - m_ringTail;
        }
        const u32 at = tail % RING_SIZE;
        u32 chunk = count < RING_SIZE - at ? count : RING_SIZE - at;
        chunk = chunk < room ? chunk : room;
        if (chunk == 0) {
            return;
        }
        u32 taken = 0;
        const i32 rc = child->send(m_ring + at, chunk, &taken);
        if (taken > 0) {
            FastLockGuard guard(m_ringLock);
            m_ringTail += taken;
            m_stalled.store(false, std::memory_order_release); // room again: writers try once more
        }
        if (rc < 0 && rc != RESULT_SEND_REFUSED) {
            return;
        }
        if (taken < chunk) {
            return;
        }
    }
}

u32 LowIOEtherServer::poll()
{
    const PollingScope scope(this);
    bool accepted = false;
    bool received = false;
    IDebugConsoleLowIOCallback* callback = nullptr;
    {
        TMS::TMSMutexLocker guard(&m_mutex);
        if (m_server == nullptr) {
            return RESULT_FAILED;
        }
        // Completed sends come in here and make room for the ring's next bytes.
        m_drainRequested.store(false, std::memory_order_release);
        const i32 rc = m_server->handleEvents(this);
        updatePeer();
        drainLocked();
        accepted = m_accepted;
        received = m_received;
        m_accepted = false;
        m_received = false;
        callback = m_callback.load(std::memory_order_acquire);
        if (rc < 0 && !accepted && !received) {
            return RESULT_FAILED;
        }
    }
    if (callback != nullptr && (accepted || received)) {
        if (accepted) {
            callback->onConnected(this);
        }
        if (received) {
            callback->onReceive(this);
        }
        // What the console wrote meanwhile (banner, echo, command output) goes out now.
        TMS::TMSMutexLocker guard(&m_mutex);
        drainLocked();
    }
    return 0;
}

void LowIOEtherServer::wakeup(u16, VCOM::IVCom*)
{
    IDebugConsoleLowIOCallback* callback = m_callback.load(std::memory_order_acquire);
    if (callback != nullptr) {
        callback->onWakeup(this);
    }
}

void LowIOEtherServer::onAccepted(u32, u8, u8)
{
    m_accepted = true;
}

void LowIOEtherServer::onReceived(u32, u8)
{
    m_received = true;
}

void LowIOEtherServer::onConnected(u32, u8) {}
void LowIOEtherServer::onConnectionFailed(u32, u8, u32) {}
void LowIOEtherServer::onDisconnected(u32, u8) {}
void LowIOEtherServer::onSent(u32, u8, i32) {}
void LowIOEtherServer::onCommunicationFailed(u32, u8, u32) {}

u16 LowIOEtherServer::getBoundPort()
{
    TMS::TMSMutexLocker guard(&m_mutex);
    return m_server != nullptr ? m_server->getBoundPort() : 0;
}

bool LowIOEtherServer::isOpen()
{
    TMS::TMSMutexLocker guard(&m_mutex);
    return m_server != nullptr;
}

bool LowIOEtherServer::hasPeer()
{
    TMS::TMSMutexLocker guard(&m_mutex);
    return peer() != nullptr;
}

} // namespace DBGC
