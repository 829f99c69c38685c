#include "vcom_UdpSocket.h"

#include <cstring>

#include "klib_HeapManager.h"
#include "vcom_Result.h"
#include "vcom_Trace.h"

namespace VCOM {

VComUdpSocket::VComUdpSocket()
{
    KLIB::IHeapManager* heap = KLIB::getHeapManager(0);
    if (heap != nullptr) {
        m_sendBuffer = static_cast<u8*>(
            heap->allocate(DATAGRAM_SIZE, KLIB::getHeapTraceFlag(0) != 0, "VComAbstractSocket::m_pSendBuff"));
    }
    m_sendCapacity = m_sendBuffer != nullptr ? DATAGRAM_SIZE : 0;
}

VComUdpSocket::~VComUdpSocket()
{
    release();
    KLIB::IHeapManager* heap = KLIB::getHeapManager(0);
    if (heap != nullptr && m_sendBuffer != nullptr) {
        heap->deallocate(m_sendBuffer, KLIB::getHeapTraceFlag(0) != 0);
    }
}

void VComUdpSocket::resetConnection()
{
    m_sourceAddress.clear();
    m_sourcePort = 0;
    m_sendLength = 0;
    m_sendBusy = 0;
    std::memset(&m_destination, 0, sizeof(m_destination));
}

u32 VComUdpSocket::getSendableSize() const
{
    return (m_sendBusy != 0 || m_sendBuffer == nullptr) ? 0 : m_sendCapacity;
}

i32 VComUdpSocket::open(const VComSocketAddress& local, u16 localPort)
{
    if (m_state != STATE_CLOSED) {
        return VCOM_E_STATE;
    }
    resetConnection();
    const i32 rc = openSlot(VSOCK_TYPE_UDP, local, localPort);
    if (rc != VCOM_OK) {
        return rc;
    }
    m_role = ROLE_LISTENER_OR_UDP;
    m_state = STATE_CONNECTED;
    return VCOM_OK;
}

i32 VComUdpSocket::setDestination(const VComSocketAddress& address, u16 port)
{
    if (m_state != STATE_CONNECTED) {
        return VCOM_E_STATE;
    }
    m_destination.port = port;
    m_destination.address = address.getVsockAddress();
    m_peerAddress = address;
    m_peerPort = port;
    return VCOM_OK;
}

void VComUdpSocket::getSourceAddress(VComSocketAddress& out, u16* port) const
{
    out = m_sourceAddress;
    if (port != nullptr) {
        *port = m_sourcePort;
    }
}

i32 VComUdpSocket::send(const u8* data, u32 length, u32* taken)
{
    if (taken != nullptr) {
        *taken = 0;
    }
    if (data == nullptr || length == 0) {
        return VCOM_E_ARG;
    }
    if (m_sendBuffer == nullptr) {
        return VCOM_E_OTHER;
    }
    if (m_state != STATE_CONNECTED || m_handle < 0) {
        return VCOM_E_STATE;
    }
    if (m_sendBusy != 0) {
        vcomTrace("VComUdpSocket::send cannot send due to socket busy.\n");
        return VCOM_E_REFUSED;
    }
    if (length > m_sendCapacity) {
        vcomTrace("VComUdpSocket::send cannot send due to length over.\n");
        return VCOM_E_REFUSED;
    }
    std::memcpy(m_sendBuffer, data, length);
    m_sendLength = length;
    if (taken != nullptr) {
        *taken = length;
    }
    if (m_destination.address.family != VSOCK_FAMILY_IPV4) {
        return VCOM_E_SLOT_STATE;
    }
    const i32 rc = vsockSendTo(m_handle, m_sendBuffer, length, &m_destination, VSOCK_NO_TIMEOUT);
    if (rc == VSOCK_E_PENDING) {
        m_sendBusy = 1;
        return VCOM_IN_PROGRESS;
    }
    onSendDone(rc);
    return mapVsockResult(rc);
}

i32 VComUdpSocket::receive(u8* buffer, u32 size, u32* got)
{
    if (got != nullptr) {
        *got = 0;
    }
    if (m_state != STATE_CONNECTED || m_handle < 0) {
        return VCOM_E_STATE;
    }
    m_sourceAddress.clear();
    m_sourcePort = 0;
    VsockSocketAddress source;
    std::memset(&source, 0, sizeof(source));
    const i32 rc = vsockRecvFrom(m_handle, buffer, size, &source);
    if (rc >= 0) {
        if (got != nullptr) {
            *got = static_cast<u32>(rc);
        }
        m_sourceAddress.setVsockAddress(source.address);
        m_sourcePort = static_cast<u16>(source.port);
        return VCOM_OK;
    }
    if (rc == VSOCK_E_EMPTY) {
        return VCOM_OK;
    }
    if (rc == VSOCK_E_RES) {
        return VCOM_E_NO_ROOM;
    }
    return mapVsockResult(rc);
}

i32 VComUdpSocket::onReceiveDone(i32 result)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        wasEmpty = m_events.bits == 0;
        // Datagram reports coalesce until the owner handles them; a failure already recorded is kept.
        const bool failureWaiting = (m_events.bits & EVENT_RECEIVE_DONE) != 0 && m_events.receiveResult < 0 &&
                                    m_events.receiveResult != VSOCK_E_PENDING;
        m_events.bits |= EVENT_RECEIVE_DONE;
        if (!failureWaiting) {
            m_events.receiveResult = result;
        }
    }
    return wakeOwner(wasEmpty);
}

i32 VComUdpSocket::onSendDone(i32 result)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        wasEmpty = m_events.bits == 0;
        m_events.bits |= EVENT_SEND_DONE;
        m_events.sendResult = result;
    }
    return wakeOwner(wasEmpty);
}

i32 VComUdpSocket::handleSocketEvents(IVComCallback* callback, u8 childIndex, const VComEventRecord* events)
{
    if (callback == nullptr || events == nullptr) {
        return VCOM_E_ARG;
    }
    const u32 id = m_socketId;
    if (events->bits & EVENT_RECEIVE_DONE) {
        const i32 r = events->receiveResult;
        if (r > 0 || r == VSOCK_E_PENDING) {
            callback->onReceived(id, childIndex);
        } else if (r == VSOCK_E_RES) {
            vcomTrace("[%d][%d]OnCommunicationFailed - [errCode = VSOCK_E_RES]\n", id, childIndex);
            callback->onCommunicationFailed(id, childIndex, IVComCallback::COMM_NO_ROOM);
            if (m_handle < 0) {
                return VCOM_OK;
            }
            callback->onReceived(id, childIndex);
        } else if (r == VSOCK_E_ARG) {
            // One oversized datagram was dropped; the socket itself is fine and keeps receiving.
            vcomTrace("[%d][%d]OnCommunicationFailed - [errCode = 0x%08X]\n", id, childIndex, static_cast<u32>(r));
            callback->onCommunicationFailed(id, childIndex, IVComCallback::COMM_RECEIVE_FAILED);
        } else if (r == 0) {
            closeAndClear();
            vcomTrace("[%d][%d]OnDisconnected\n", id, childIndex);
            callback->onDisconnected(id, childIndex);
            return VCOM_OK;
        } else {
            closeAndClear();
            vcomTrace("[%d][%d]OnConnectionFailed - [errCode = 0x%08X]\n", id, childIndex, static_cast<u32>(r));
            callback->onConnectionFailed(id, childIndex, IVComCallback::FAIL_RECEIVE);
            return VCOM_OK;
        }
        if (m_handle < 0) {
            return VCOM_OK;
        }
    }
    if (events->bits & EVENT_SEND_DONE) {
        const i32 s = events->sendResult;
        if (s >= 0) {
            m_sendLength = 0;
            m_sendBusy = 0;
            callback->onSent(id, childIndex, s);
        } else if (s == VSOCK_E_PENDING) {
            const i32 rc = vsockSendTo(m_handle, m_sendBuffer, m_sendLength, &m_destination, VSOCK_NO_TIMEOUT);
            if (rc == VSOCK_E_PENDING) {
                m_sendBusy = 1;
            } else {
                onSendDone(rc);
            }
        } else {
            m_sendBusy = 0;
            if (s == VSOCK_E_TIMEOUT) {
                vcomTrace("[%d][%d]OnCommunicationFailed - [errCode = VSOCK_E_TIMEOUT]\n", id, childIndex);
                callback->onCommunicationFailed(id, childIndex, IVComCallback::COMM_TIMEOUT);
            } else {
                vcomTrace("[%d][%d]OnCommunicationFailed - [errCode = 0x%08X]\n", id, childIndex, static_cast<u32>(s));
                callback->onCommunicationFailed(id, childIndex, IVComCallback::COMM_SEND_FAILED);
            }
        }
    }
    return VCOM_OK;
}

} // namespace VCOM
