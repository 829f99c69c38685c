#include "vcom_TcpServerSocket.h"

#include <cstring>
#include <new>

#include "klib_HeapManager.h"
#include "vcom_Result.h"
#include "vcom_Trace.h"

namespace VCOM {

namespace {
constexpr const char* CHILDREN_TAG = "VComTcpServerSocket::m_pChildren";
}

VComTcpServerSocket::VComTcpServerSocket(u32 maxConnections)
{
    if (maxConnections == 0 || maxConnections > KLIB::BLOCK_MAX_COUNT) {
        return;
    }
    const u32 count = maxConnections > MAX_CHILDREN ? MAX_CHILDREN : maxConnections;
    void* block = KLIB::allocateBlockWithCount(0, CHILDREN_TAG,
                                               count * static_cast<u32>(sizeof(VComTcpServerChildSocket)), count);
    if (block == nullptr) {
        return;
    }
    m_children = static_cast<VComTcpServerChildSocket*>(block);
    for (u32 i = 0; i < count; ++i) {
        new (m_children + i) VComTcpServerChildSocket();
    }
    m_childCount = count;
}

VComTcpServerSocket::~VComTcpServerSocket()
{
    release();
    if (m_children != nullptr) {
        for (u32 i = 0; i < m_childCount; ++i) {
            m_children[i].~VComTcpServerChildSocket();
        }
        KLIB::releaseBlock(m_children);
        m_children = nullptr;
        m_childCount = 0;
    }
}

i32 VComTcpServerSocket::initialize(u32 socketId, IVComWakeupFunction* wakeup)
{
    for (u32 i = 0; i < m_childCount; ++i) {
        m_children[i].release();
    }
    return VComAbstractTcpSocket::initialize(socketId, wakeup);
}

i32 VComTcpServerSocket::release()
{
    // Children first: the listener refuses to close while it has live children.
    for (u32 i = 0; i < m_childCount; ++i) {
        m_children[i].release();
    }
    return VComAbstractTcpSocket::release();
}

void VComTcpServerSocket::closeAndClear()
{
    for (u32 i = 0; i < m_childCount; ++i) {
        if (m_children[i].inUse()) {
            m_children[i].release();
        }
    }
    // A connection accepted but not yet taken by handleEvents is a live child of the listener in the slot layer,
    // and a listener with children refuses to close: its slot, the child's slot and the port would stay taken.
    // Such a child is closed first, while the server is still registered, so that an accept completing meanwhile
    // is recorded here as well. Only one accept is armed at a time, so this ends after a second round at most.
    for (int round = 0; m_handle >= 0 && round < 4; ++round) {
        i32 untaken = -1;
        {
            std::lock_guard<std::mutex> guard(socketLock());
            if ((m_events.bits & EVENT_ACCEPTED) != 0) {
                untaken = m_events.acceptHandle;
                m_events.bits &= ~EVENT_ACCEPTED;
                m_events.acceptHandle = -1;
            }
        }
        if (untaken >= 0) {
            vsockClose(untaken);
        }
        if (vsockClose(m_handle) != VSOCK_E_OBJ) {
            m_handle = -1; // closed (or already gone)
        }
    }
    VComAbstractTcpSocket::closeAndClear();
}

u32 VComTcpServerSocket::getConnectionCount() const
{
    u32 used = 0;
    for (u32 i = 0; i < m_childCount; ++i) {
        if (m_children[i].inUse()) {
            ++used;
        }
    }
    return used;
}

IVCom* VComTcpServerSocket::getSocket(u8 index)
{
    if (index == 0) {
        return this;
    }
    if (index <= m_childCount && m_children[index - 1].inUse()) {
        return &m_children[index - 1];
    }
    return nullptr;
}

i32 VComTcpServerSocket::receive(u8*, u32, u32* got)
{
    if (got != nullptr) {
        *got = 0;
    }
    return VCOM_E_NOT_SUPPORTED;
}

i32 VComTcpServerSocket::send(const u8*, u32, u32* taken)
{
    if (taken != nullptr) {
        *taken = 0;
    }
    return VCOM_E_NOT_SUPPORTED;
}

i32 VComTcpServerSocket::close()
{
    for (u32 i = 0; i < m_childCount; ++i) {
        if (m_children[i].inUse()) {
            m_children[i].close();
        }
    }
    return VComAbstractTcpSocket::close();
}

i32 VComTcpServerSocket::listen(const VComSocketAddress& local, u16 port)
{
    if (m_state != STATE_CLOSED) {
        return VCOM_E_STATE;
    }
    if (m_children == nullptr) {
        return VCOM_E_OTHER;
    }
    const i32 open = openSlot(VSOCK_TYPE_TCP_LISTENER, local, port);
    if (open != VCOM_OK) {
        return open;
    }
    m_role = ROLE_LISTENER_OR_UDP;
    m_state = STATE_CONNECTED;
    const i32 rc = armAccept();
    if (rc < 0) {
        closeAndClear();
    }
    return rc;
}

i32 VComTcpServerSocket::armAccept()
{
    const i32 rc = vsockAccept(m_handle, &m_acceptPeer, VSOCK_NO_TIMEOUT);
    if (rc == VSOCK_E_PENDING) {
        m_state = STATE_ACCEPT_ARMED;
        return VCOM_IN_PROGRESS;
    }
    if (rc >= 0) {
        onAccept(VSOCK_OK, static_cast<u32>(rc));
        return VCOM_OK;
    }
    return mapVsockResult(rc);
}

i32 VComTcpServerSocket::onAccept(i32 status, u32 childHandle)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        wasEmpty = m_events.bits == 0;
        m_events.bits |= EVENT_ACCEPTED;
        // A failed accept (no slot left, ...) is recorded too, so that the owner arms the next one.
        m_events.acceptHandle = status < 0 ? -1 : static_cast<i32>(childHandle);
        m_events.acceptPeer = m_acceptPeer;
    }
    return wakeOwner(wasEmpty);
}

i32 VComTcpServerSocket::handleEvents(IVComCallback* callback)
{
    if (m_children == nullptr) {
        return VCOM_E_OTHER;
    }
    if (m_handle < 0) {
        return VCOM_E_STATE;
    }
    if (callback == nullptr) {
        return VCOM_E_ARG;
    }
    VComEventRecord events;
    takeEvents(&events);
    const u32 id = m_socketId;
    bool failed = false;

    if (events.bits & EVENT_ACCEPTED) {
        m_state = STATE_CONNECTED;
        const i32 handle = events.acceptHandle;
        if (handle >= 0) {
            u32 freeIndex = m_childCount;
            for (u32 i = 0; i < m_childCount; ++i) {
                if (!m_children[i].inUse()) {
                    freeIndex = i;
                    break;
                }
            }
            // A child whose peer has gone but whose close the owner has not seen yet would turn away a peer that
            // reconnects at once: it is released first, with its onDisconnected.
            for (u32 i = 0; freeIndex == m_childCount && i < m_childCount; ++i) {
                if (m_children[i].peerGone()) {
                    m_children[i].handleDisconnected(callback, static_cast<u8>(i + 1));
                    freeIndex = m_children[i].inUse() ? m_childCount : i;
                }
            }
            char text[64] = "";
            vsockAddressToString(&events.acceptPeer.address, text, sizeof(text));
            if (freeIndex < m_childCount && m_handle >= 0 &&
                m_children[freeIndex].takeConnection(id, m_wakeup, handle, events.acceptPeer) == VCOM_OK) {
                const u8 childIndex = static_cast<u8>(freeIndex + 1);
                vcomTrace("[%d][%d]OnAccepted - [%d]\tIP = %s\tPort = %d\n", id, 0, childIndex, text,
                          static_cast<int>(events.acceptPeer.port));
                callback->onAccepted(id, 0, childIndex);
            } else {
                vcomTrace("[%d][%d]OnRejected - [%d]\n", id, 0, handle);
                vsockClose(handle);
            }
        }
        if (m_handle >= 0 && m_state == STATE_CONNECTED && armAccept() < 0) {
            failed = true;
        }
    }

    for (u32 i = 0; i < m_childCount; ++i) {
        if (m_children[i].inUse() && m_children[i].handleEventsAs(callback, static_cast<u8>(i + 1)) < 0) {
            failed = true;
        }
    }
    if (m_handle >= 0 && (events.bits & ~EVENT_ACCEPTED) != 0 && handleSocketEvents(callback, 0, &events) < 0) {
        failed = true;
    }
    return failed ? VCOM_E_FAILED : VCOM_OK;
}

} // namespace VCOM
