#include "vcom_TcpSocket.h"

#include <cstring>

#include "klib_HeapManager.h"
#include "vcom_Result.h"
#include "vcom_Trace.h"

namespace VCOM {

namespace {

constexpr const char* RECEIVE_BUFFER_TAG = "VComAbstractSocket::m_pReceiveBuff";
constexpr const char* SEND_BUFFER_TAG = "VComAbstractSocket::m_pSendBuff";

u8* allocateBuffer(u32 size, const char* tag)
{
    KLIB::IHeapManager* heap = KLIB::getHeapManager(0);
    if (heap == nullptr) {
        return nullptr;
    }
    return static_cast<u8*>(heap->allocate(size, KLIB::getHeapTraceFlag(0) != 0, tag));
}

void freeBuffer(u8* block)
{
    KLIB::IHeapManager* heap = KLIB::getHeapManager(0);
    if (heap != nullptr && block != nullptr) {
        heap->deallocate(block, KLIB::getHeapTraceFlag(0) != 0);
    }
}

} // namespace

// ----- shared TCP handling -----

VComAbstractTcpSocket::VComAbstractTcpSocket()
{
    m_receiveStream.create(0, STREAM_SIZE);
    m_sendStream.create(0, STREAM_SIZE);
    m_receiveBuffer = allocateBuffer(CHUNK_SIZE, RECEIVE_BUFFER_TAG);
    m_sendBuffer = allocateBuffer(CHUNK_SIZE, SEND_BUFFER_TAG);
}

VComAbstractTcpSocket::~VComAbstractTcpSocket()
{
    freeBuffer(m_receiveBuffer);
    freeBuffer(m_sendBuffer);
}

void VComAbstractTcpSocket::resetConnection()
{
    m_receiveStream.clear();
    m_sendStream.clear();
    m_pendingReceive = 0;
    m_pendingOffset = 0;
    m_sendBusy = 0;
    m_receiveArmed = false;
    m_chunkPointer = nullptr;
    m_chunkRemaining = 0;
}

u32 VComAbstractTcpSocket::getSendableSize() const
{
    return m_sendStream.getFree();
}

i32 VComAbstractTcpSocket::close()
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        wasEmpty = m_events.bits == 0;
        m_events.bits |= EVENT_DISCONNECTED;
    }
    return wakeOwner(wasEmpty);
}

i32 VComAbstractTcpSocket::onDisconnect()
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        wasEmpty = m_events.bits == 0;
        m_events.bits |= EVENT_DISCONNECTED;
    }
    return wakeOwner(wasEmpty);
}

i32 VComAbstractTcpSocket::onSendDone(i32 result)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        wasEmpty = m_events.bits == 0;
        if (result >= 0) {
            const u32 sent = static_cast<u32>(result) < m_chunkRemaining ? static_cast<u32>(result) : m_chunkRemaining;
            m_chunkPointer += sent;
            m_chunkRemaining -= sent;
        }
        m_events.bits |= EVENT_SEND_DONE;
        m_events.sendResult = result;
    }
    return wakeOwner(wasEmpty);
}

i32 VComAbstractTcpSocket::armReceive()
{
    if (m_receiveBuffer == nullptr) {
        return VSOCK_E_FAIL;
    }
    const i32 rc = vsockRecv(m_handle, m_receiveBuffer, CHUNK_SIZE, VSOCK_NO_TIMEOUT);
    if (rc == VSOCK_E_PENDING) {
        m_receiveArmed = true;
        return VSOCK_OK;
    }
    if (rc >= 0) {
        m_receiveArmed = true;
        onReceiveDone(rc);
        return VSOCK_OK;
    }
    return rc;
}

void VComAbstractTcpSocket::handleArmFailure(IVComCallback* callback, u8 childIndex, i32 vsockResult)
{
    const i32 mapped = mapVsockResult(vsockResult);
    if (mapped == VCOM_E_STATE || mapped == VCOM_E_SLOT_STATE || mapped == VCOM_E_OTHER) {
        closeAndClear();
        vcomTrace("[%d][%d]OnConnectionFailed - [errCode = 0x%08X]\n", m_socketId, childIndex,
                  static_cast<u32>(mapped));
        callback->onConnectionFailed(m_socketId, childIndex, IVComCallback::FAIL_RECEIVE);
    } else if (mapped == VCOM_E_NO_ROOM) {
        vcomTrace("[%d][%d]OnCommunicationFailed - [errCode = VSOCK_E_RES]\n", m_socketId, childIndex);
        callback->onCommunicationFailed(m_socketId, childIndex, IVComCallback::COMM_NO_ROOM);
    } else {
        vcomTrace("[%d][%d]OnCommunicationFailed - [errCode = 0x%08X]\n", m_socketId, childIndex,
                  static_cast<u32>(mapped));
        callback->onCommunicationFailed(m_socketId, childIndex, IVComCallback::COMM_RECEIVE_FAILED);
    }
}

i32 VComAbstractTcpSocket::resumeReceiveCopy()
{
    if (m_pendingReceive == 0) {
        return VSOCK_OK;
    }
    u32 moved = 0;
    m_receiveStream.write(m_receiveBuffer + m_pendingOffset, m_pendingReceive, &moved);
    m_pendingOffset += moved;
    m_pendingReceive -= moved;
    if (m_pendingReceive != 0 || !alive()) {
        return VSOCK_OK;
    }
    m_pendingOffset = 0;
    return armReceive();
}

i32 VComAbstractTcpSocket::flush()
{
    if (m_sendBusy != 0 || m_sendStream.isEmpty() || m_sendBuffer == nullptr || !alive()) {
        return VCOM_OK;
    }
    u32 chunk = 0;
    m_sendStream.read(m_sendBuffer, CHUNK_SIZE, &chunk);
    m_chunkPointer = m_sendBuffer;
    m_chunkRemaining = chunk;
    const i32 rc = vsockSend(m_handle, m_sendBuffer, chunk, VSOCK_NO_TIMEOUT);
    if (rc == VSOCK_E_PENDING) {
        m_sendBusy = 1;
        return VCOM_IN_PROGRESS;
    }
    onSendDone(rc);
    if (rc >= 0) {
        // Taken at once: onSent still follows from handleEvents, so the caller hears "in progress" as ever.
        m_sendBusy = 1;
        return VCOM_IN_PROGRESS;
    }
    return mapVsockResult(rc);
}

i32 VComAbstractTcpSocket::send(const u8* data, u32 length, u32* taken)
{
    if (taken != nullptr) {
        *taken = 0;
    }
    if (data == nullptr || length == 0) {
        return VCOM_E_ARG;
    }
    if (m_state != STATE_CONNECTED || !alive()) {
        return VCOM_E_STATE;
    }
    if (m_sendStream.getState() != KLIB::KDataStream<u8>::STATE_READY || m_sendBuffer == nullptr) {
        return VCOM_E_OTHER;
    }
    u32 count = 0;
    m_sendStream.write(data, length, &count);
    if (taken != nullptr) {
        *taken = count;
    }
    const i32 rc = flush();
    return count < length ? VCOM_E_REFUSED : rc;
}

i32 VComAbstractTcpSocket::receive(u8* buffer, u32 size, u32* got)
{
    if (got != nullptr) {
        *got = 0;
    }
    if (buffer == nullptr) {
        return VCOM_E_ARG;
    }
    if (m_state != STATE_CONNECTED || !alive()) {
        return VCOM_E_STATE;
    }
    if (m_receiveStream.getState() != KLIB::KDataStream<u8>::STATE_READY) {
        return VCOM_E_OTHER;
    }
    if (m_receiveStream.isEmpty() && m_pendingReceive == 0) {
        return VCOM_OK;
    }
    u32 count = 0;
    m_receiveStream.read(buffer, size, &count);
    if (got != nullptr) {
        *got = count;
    }
    // Room was freed: bytes held back in the receive buffer follow, then the next receive is armed.
    const i32 arm = resumeReceiveCopy();
    const bool more = !m_receiveStream.isEmpty();
    if (arm != VSOCK_OK || more) {
        bool wasEmpty = false;
        {
            std::lock_guard<std::mutex> guard(socketLock());
            wasEmpty = m_events.bits == 0;
            if (arm != VSOCK_OK) {
                m_events.bits |= EVENT_ARM_FAILED;
                m_events.armFailure = arm;
            }
            if (more) {
                m_events.bits |= EVENT_MORE_DATA;
            }
        }
        wakeOwner(wasEmpty);
    }
    return more ? VCOM_MORE_DATA : VCOM_OK;
}

i32 VComAbstractTcpSocket::handleSocketEvents(IVComCallback* callback, u8 childIndex, const VComEventRecord* events)
{
    if (callback == nullptr || events == nullptr) {
        return VCOM_E_ARG;
    }
    const u32 bits = events->bits;
    if ((bits & EVENT_CONNECTED) && handleConnected(callback, childIndex)) {
        return VCOM_OK;
    }
    if (bits & EVENT_CONNECT_FAILED) {
        handleConnectFailed(callback, childIndex, events->failureKind);
        return VCOM_OK;
    }
    if (bits & EVENT_DISCONNECTED) {
        handleDisconnected(callback, childIndex);
        return VCOM_OK;
    }
    if ((bits & EVENT_RECEIVE_DONE) && handleReceiveDone(callback, childIndex, events->receiveResult)) {
        return VCOM_OK;
    }
    if (bits & EVENT_ARM_FAILED) {
        handleArmFailure(callback, childIndex, events->armFailure);
        if (!alive()) {
            return VCOM_OK;
        }
    }
    if ((bits & EVENT_MORE_DATA) && !(bits & EVENT_RECEIVE_DONE)) {
        callback->onReceived(m_socketId, childIndex);
        if (!alive()) {
            return VCOM_OK;
        }
    }
    if (bits & EVENT_SEND_DONE) {
        handleSendDone(callback, childIndex, events->sendResult);
    }
    return VCOM_OK;
}

bool VComAbstractTcpSocket::handleConnected(IVComCallback* callback, u8 childIndex)
{
    m_state = STATE_CONNECTED;
    vcomTrace("[%d][%d]OnConnected\n", m_socketId, childIndex);
    callback->onConnected(m_socketId, childIndex);
    if (!alive()) {
        return true;
    }
    if (!m_receiveArmed) {
        const i32 arm = armReceive();
        if (arm != VSOCK_OK) {
            handleArmFailure(callback, childIndex, arm);
            return !alive();
        }
    }
    return false;
}

void VComAbstractTcpSocket::handleConnectFailed(IVComCallback* callback, u8 childIndex, u32 kind)
{
    const u32 id = m_socketId;
    closeAndClear();
    if (kind == IVComCallback::FAIL_TIMEOUT) {
        vcomTrace("[%d][%d]OnConnectionFailed - [errCode = %d]\n", id, childIndex, static_cast<int>(kind));
    } else {
        vcomTrace("[%d][%d]OnConnectionFailed - [errCode = VSOCK_E_OBJ]\n", id, childIndex);
    }
    callback->onConnectionFailed(id, childIndex, kind);
}

void VComAbstractTcpSocket::handleDisconnected(IVComCallback* callback, u8 childIndex)
{
    const u32 id = m_socketId;
    closeAndClear();
    vcomTrace("[%d][%d]OnDisconnected\n", id, childIndex);
    callback->onDisconnected(id, childIndex);
}

bool VComAbstractTcpSocket::handleReceiveDone(IVComCallback* callback, u8 childIndex, i32 result)
{
    const u32 id = m_socketId;
    m_receiveArmed = false;
    if (result == 0) {
        handleDisconnected(callback, childIndex);
        return true;
    }
    if (result < 0 && result != VSOCK_E_PENDING) {
        closeAndClear();
        vcomTrace("[%d][%d]OnConnectionFailed - [errCode = 0x%08X]\n", id, childIndex, static_cast<u32>(result));
        callback->onConnectionFailed(id, childIndex, IVComCallback::FAIL_RECEIVE);
        return true;
    }
    if (result < 0) {
        return false;
    }
    // Copy what fits; the rest waits in the receive buffer until `receive` frees room.
    u32 moved = 0;
    m_receiveStream.write(m_receiveBuffer, static_cast<u32>(result), &moved);
    m_pendingReceive = static_cast<u32>(result) - moved;
    m_pendingOffset = moved;
    if (m_pendingReceive != 0) {
        vcomTrace("[%d][%d]OnReceive - [errCode = Buffer OverRun]\n", id, childIndex);
    }
    callback->onReceived(id, childIndex);
    if (!alive()) {
        return true;
    }
    if (m_pendingReceive == 0 && !m_receiveArmed) {
        m_pendingOffset = 0;
        const i32 arm = armReceive();
        if (arm != VSOCK_OK) {
            handleArmFailure(callback, childIndex, arm);
            return !alive();
        }
    }
    return false;
}

bool VComAbstractTcpSocket::handleSendDone(IVComCallback* callback, u8 childIndex, i32 result)
{
    const u32 id = m_socketId;
    if (result == VCOM_E_FAILED || result == VSOCK_E_CLOSED || result == VSOCK_E_OBJ) {
        closeAndClear();
        vcomTrace("[%d][%d]OnDisconnected - [errCode = 0x%08X]\n", id, childIndex, static_cast<u32>(result));
        callback->onDisconnected(id, childIndex);
        return true;
    }
    if (result < 0 && result != VSOCK_E_PENDING) {
        // The chunk is given up; the next one may still go.
        m_sendBusy = 0;
        m_chunkRemaining = 0;
        if (result == VSOCK_E_TIMEOUT) {
            vcomTrace("[%d][%d]OnCommunicationFailed - [errCode = VSOCK_E_TIMEOUT]\n", id, childIndex);
            callback->onCommunicationFailed(id, childIndex, IVComCallback::COMM_TIMEOUT);
        } else {
            vcomTrace("[%d][%d]OnCommunicationFailed - [errCode = 0x%08X]\n", id, childIndex, static_cast<u32>(result));
            callback->onCommunicationFailed(id, childIndex, IVComCallback::COMM_SEND_FAILED);
        }
        return true;
    }
    if (m_chunkRemaining > 0) {
        const i32 rc = vsockSend(m_handle, m_chunkPointer, m_chunkRemaining, VSOCK_NO_TIMEOUT);
        if (rc == VSOCK_E_PENDING) {
            m_sendBusy = 1;
        } else {
            m_sendBusy = rc >= 0 ? 1 : 0;
            onSendDone(rc);
        }
        return false;
    }
    m_sendBusy = 0;
    callback->onSent(id, childIndex, result);
    if (!alive()) {
        return true;
    }
    flush();
    return false;
}

// ----- client -----

VComTcpClientSocket::~VComTcpClientSocket()
{
    release();
}

i32 VComTcpClientSocket::connect(const VComSocketAddress& local, const VComSocketAddress& remote, u16 remotePort)
{
    if (m_state == STATE_CONNECTING) {
        return VCOM_IN_PROGRESS;
    }
    if (m_state == STATE_CONNECTED) {
        return VCOM_ALREADY_CONNECTED;
    }
    if (m_state != STATE_CLOSED) {
        return VCOM_E_STATE;
    }
    if (m_receiveBuffer == nullptr || m_sendBuffer == nullptr ||
        m_receiveStream.getState() != KLIB::KDataStream<u8>::STATE_READY ||
        m_sendStream.getState() != KLIB::KDataStream<u8>::STATE_READY) {
        return VCOM_E_OTHER;
    }
    resetConnection();
    const i32 open = openSlot(VSOCK_TYPE_TCP_CLIENT, local, 0);
    if (open != VCOM_OK) {
        return open;
    }
    m_role = ROLE_CLIENT;
    std::memset(&m_remote, 0, sizeof(m_remote));
    m_remote.port = remotePort;
    m_remote.address = remote.getVsockAddress();
    const i32 rc = vsockConnect(m_handle, &m_remote, VSOCK_NO_TIMEOUT);
    if (rc == VSOCK_OK) {
        m_state = STATE_CONNECTING;
        onConnectDone(VSOCK_OK);
        return VCOM_OK;
    }
    if (rc == VSOCK_E_PENDING) {
        m_state = STATE_CONNECTING;
        return VCOM_IN_PROGRESS;
    }
    closeAndClear(); // a connect that failed at once leaves no slot behind
    return mapVsockResult(rc);
}

i32 VComTcpClientSocket::onConnectDone(i32 result)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        wasEmpty = m_events.bits == 0;
        if (result == VSOCK_E_TIMEOUT) {
            m_events.bits |= EVENT_CONNECT_FAILED;
            m_events.failureKind = IVComCallback::FAIL_TIMEOUT;
        } else if (result < 0) {
            m_events.bits |= EVENT_CONNECT_FAILED;
            m_events.failureKind = IVComCallback::FAIL_REFUSED;
        } else {
            m_events.bits |= EVENT_CONNECTED;
        }
    }
    return wakeOwner(wasEmpty);
}

i32 VComTcpClientSocket::handleSocketEvents(IVComCallback* callback, u8 childIndex, const VComEventRecord* events)
{
    if (events != nullptr && (events->bits & EVENT_CONNECTED) != 0) {
        m_peerAddress.setVsockAddress(m_remote.address);
        m_peerPort = static_cast<u16>(m_remote.port);
    }
    return VComAbstractTcpSocket::handleSocketEvents(callback, childIndex, events);
}

// ----- server child -----

VComTcpServerChildSocket::~VComTcpServerChildSocket()
{
    release();
}

i32 VComTcpServerChildSocket::takeConnection(u32 socketId, IVComWakeupFunction* wakeup, i32 handle,
                                             const VsockSocketAddress& peer)
{
    closeAndClear();
    m_socketId = socketId;
    m_wakeup = wakeup;
    const i32 rc = adoptHandle(handle);
    if (rc != VCOM_OK) {
        return rc;
    }
    m_role = ROLE_CHILD;
    m_state = STATE_CONNECTED;
    m_peerAddress.setVsockAddress(peer.address);
    m_peerPort = static_cast<u16>(peer.port);
    std::lock_guard<std::mutex> guard(socketLock());
    m_events.bits |= EVENT_CONNECTED;
    return VCOM_OK;
}

bool VComTcpServerChildSocket::peerGone()
{
    // The slot layer is asked first: a byte it has received by then is already recorded here.
    const i32 gone = vsockPeerGone(m_handle);
    VComEventRecord events;
    {
        std::lock_guard<std::mutex> guard(socketLock());
        events = m_events;
    }
    const bool closeRecorded = (events.bits & EVENT_DISCONNECTED) != 0 ||
                               ((events.bits & EVENT_RECEIVE_DONE) != 0 && events.receiveResult <= 0 &&
                                events.receiveResult != VSOCK_E_PENDING);
    const bool dataRecorded =
        (events.bits & EVENT_MORE_DATA) != 0 || ((events.bits & EVENT_RECEIVE_DONE) != 0 && events.receiveResult > 0);
    const bool unread = !m_receiveStream.isEmpty() || m_pendingReceive != 0 || dataRecorded;
    return (gone == 1 || closeRecorded) && !unread;
}

} // namespace VCOM
