#include "vdp_ClientUnit.h"

#include <cstring>
#include <new>

#include "dbgc_Print.h"
#include "vcom_Result.h"
#include "vcom_TcpSocket.h"
#include "vdp_PacketConvertor.h"
#include "vdp_Result.h"

namespace VDProtocol {

namespace {

constexpr i32 RESULT_NOT_READY = RESULT_OUT_OF_RANGE; // no socket yet, or initialised twice
constexpr u32 RING_MORE = 4;                          // klib_ringBufferRead: elements remain

bool ringFailed(u32 result)
{
    return (result & 0x80000000u) != 0;
}

} // namespace

VDProtocolClientUnit::VDProtocolClientUnit() = default;

VDProtocolClientUnit::~VDProtocolClientUnit()
{
    close();
}

void VDProtocolClientUnit::close()
{
    if (m_socket) {
        m_socket->close();
        m_socket->release();
        m_socket.reset();
    }
}

VCOM::VComTcpClientSocket* VDProtocolClientUnit::createSocket()
{
    return new (std::nothrow) VCOM::VComTcpClientSocket();
}

i32 VDProtocolClientUnit::initialize(const std::string& name, const VCOM::VComSocketAddress& local,
                                     VCOM::IVComWakeupFunction* wakeup, IVDProtocolConnectObserver* observer)
{
    if (m_socket || m_lineBuffer) {
        return RESULT_NOT_READY;
    }
    m_socket.reset(createSocket());
    if (!m_socket) {
        return RESULT_MEMORY_SHORTAGE;
    }
    m_socket->initialize(SOCKET_ID, wakeup);
    m_name = name;
    m_local = local;
    m_observer = observer;
    // calloc: zeroed pages that the system maps only when touched.
    m_sendStorage.reset(static_cast<u8*>(std::calloc(BUFFER_SIZE, 1)));
    if (!m_sendStorage) {
        return RESULT_MEMORY_SHORTAGE;
    }
    klib_ringBufferInit(1, BUFFER_SIZE, m_sendStorage.get(), &m_sendRing);
    m_lineBuffer.reset(static_cast<u8*>(std::calloc(BUFFER_SIZE, 1)));
    if (!m_lineBuffer) {
        return RESULT_MEMORY_SHORTAGE;
    }
    m_lineLength = 0;
    m_discarding = false;
    return RESULT_OK;
}

i32 VDProtocolClientUnit::connect(const VCOM::VComSocketAddress& peer, u16 port)
{
    if (!m_socket) {
        return RESULT_NOT_READY;
    }
    m_peer = peer;
    return mapSocketError(m_socket->connect(m_local, m_peer, port));
}

bool VDProtocolClientUnit::isConnected() const
{
    return m_socket && m_socket->isConnected();
}

i32 VDProtocolClientUnit::processSocketEvents()
{
    if (!m_socket) {
        return RESULT_NOT_READY;
    }
    return mapSocketError(m_socket->handleEvents(this));
}

i32 VDProtocolClientUnit::mapSocketError(i32 code)
{
    if (code >= 0) {
        return RESULT_OK;
    }
    switch (static_cast<u32>(code) & 0x7FFFFFFFu) {
    case 3:
    case 4:
        return RESULT_TIMEOUT;
    case 5:
        return RESULT_FILE_SYSTEM;
    case 0x80:
        return RESULT_NOT_FOUND;
    case 0x81:
        return RESULT_LIMIT_OVER;
    case 0x82:
        return RESULT_DUPLICATE;
    case 0x83:
        return RESULT_MEMORY_SHORTAGE;
    default:
        return RESULT_SOCKET_ERROR;
    }
}

u32 VDProtocolClientUnit::getQueuedBytes() const
{
    if (!m_sendStorage) {
        return 0;
    }
    const u32 count = klib_ringBufferGetCount(&m_sendRing);
    return ringFailed(count) ? 0 : count;
}

i32 VDProtocolClientUnit::sendPacket(const PacketContainer& packet)
{
    const i32 result = queuePacket(packet, 0);
    return result == RESULT_LIMIT_OVER ? mapSocketError(static_cast<i32>(0x80000002u)) : result;
}

i32 VDProtocolClientUnit::queuePacket(const PacketContainer& packet, u32 keepFree)
{
    if (!m_socket || !m_sendStorage) {
        return RESULT_NOT_READY;
    }
    if (encodePacket(packet, m_line) != RESULT_OK) {
        return mapSocketError(RESULT_NG);
    }
    m_line += '\n';
    // A line enters the ring whole or not at all, so the stream stays line-aligned.
    const u32 free = klib_ringBufferGetFree(&m_sendRing);
    if (ringFailed(free)) {
        return mapSocketError(static_cast<i32>(0x80000002u));
    }
    if (m_line.size() > free || free - m_line.size() < keepFree) {
        return RESULT_LIMIT_OVER;
    }
    u32 written = 0;
    const u32 result = klib_ringBufferWrite(static_cast<u32>(m_line.size()), m_line.data(), &written, &m_sendRing);
    if (ringFailed(result)) {
        return mapSocketError(static_cast<i32>(result));
    }
    flushSendRing();
    return RESULT_OK;
}

i32 VDProtocolClientUnit::flushSendRing()
{
    if (!m_socket || !m_sendStorage) {
        return RESULT_NOT_READY;
    }
    const u32 count = klib_ringBufferGetCount(&m_sendRing);
    if (ringFailed(count)) {
        return static_cast<i32>(count);
    }
    if (count == 0) {
        return RESULT_OK;
    }
    // Bytes are taken out of the ring only when the socket can take all of them at once.
    u32 n = m_socket->isConnected() ? m_socket->getSendableSize() : 0;
    n = n < count ? n : count;
    n = n < SEND_CHUNK ? n : SEND_CHUNK;
    if (n == 0) {
        return static_cast<i32>(RING_MORE);
    }
    u8 chunk[SEND_CHUNK];
    u32 got = 0;
    const u32 read = klib_ringBufferRead(n, chunk, &got, &m_sendRing);
    if (ringFailed(read)) {
        return static_cast<i32>(read);
    }
    u32 taken = 0;
    m_socket->send(chunk, got, &taken);
    if (taken < got) {
        return RESULT_SHORT_SEND;
    }
    return static_cast<i32>(read);
}

void VDProtocolClientUnit::deliver(const u8* line, size_t length)
{
    // The line ends at its first NUL.
    if (const void* nul = std::memchr(line, '\0', length)) {
        length = static_cast<size_t>(static_cast<const u8*>(nul) - line);
    }
    if (decodePacket(reinterpret_cast<const char*>(line), length, m_packet) == RESULT_OK && m_observer != nullptr) {
        m_observer->onReceivePacket(m_packet);
    }
}

void VDProtocolClientUnit::consume(const u8* data, size_t length)
{
    const u8* p = data;
    const u8* const end = data + length;
    while (p < end) {
        const auto* feed = static_cast<const u8*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const u8* segmentEnd = feed != nullptr ? feed : end;
        const size_t segment = static_cast<size_t>(segmentEnd - p);
        const u8* next = feed != nullptr ? feed + 1 : end;
        if (m_discarding) {
            m_discarding = feed == nullptr;
            p = next;
            continue;
        }
        if (m_lineLength + segment > MAX_LINE_LENGTH) {
            DBGC_LOG("[W] VDProtocolClientUnit::onReceived - line longer than %u bytes dropped.\n", MAX_LINE_LENGTH);
            m_lineLength = 0;
            m_discarding = feed == nullptr;
            p = next;
            continue;
        }
        if (feed == nullptr) {
            std::memcpy(m_lineBuffer.get() + m_lineLength, p, segment);
            m_lineLength += static_cast<u32>(segment);
        } else if (m_lineLength == 0) {
            deliver(p, segment); // the whole line is in the chunk
        } else {
            std::memcpy(m_lineBuffer.get() + m_lineLength, p, segment);
            const size_t lineLength = m_lineLength + segment;
            m_lineLength = 0;
            deliver(m_lineBuffer.get(), lineLength);
        }
        p = next;
    }
}

void VDProtocolClientUnit::onReceived(u32, u8)
{
    if (!m_socket || !m_lineBuffer) {
        return;
    }
    // Chunks are read while the socket reports more, so a long line takes few wake-ups.
    u8 chunk[RECEIVE_CHUNK];
    for (;;) {
        u32 got = 0;
        const i32 result = m_socket->receive(chunk, RECEIVE_CHUNK, &got);
        if (result < 0 || got == 0) {
            return; // a read error keeps the unfinished line
        }
        consume(chunk, got);
        if (result != VCOM::VCOM_MORE_DATA) {
            return;
        }
    }
}

void VDProtocolClientUnit::onConnected(u32, u8)
{
    if (m_observer != nullptr) {
        m_observer->onConnected();
    }
    flushSendRing(); // lines queued before the connection leave now
}

void VDProtocolClientUnit::onConnectionFailed(u32 socketId, u8 child, u32 reason)
{
    if (m_observer != nullptr) {
        m_observer->onConnectionFailed(reason, child);
    }
    onDisconnected(socketId, child);
}

void VDProtocolClientUnit::onDisconnected(u32, u8)
{
    // An unfinished line ends with the connection: no later connection completes it.
    m_lineLength = 0;
    m_discarding = false;
    if (m_observer != nullptr) {
        m_observer->onDisconnected();
    }
}

void VDProtocolClientUnit::onAccepted(u32, u8, u8) {}

void VDProtocolClientUnit::onSent(u32, u8, i32)
{
    flushSendRing();
}

void VDProtocolClientUnit::onCommunicationFailed(u32, u8, u32)
{
    // Every queued byte is dropped.
    if (m_sendStorage) {
        klib_ringBufferClear(&m_sendRing);
    }
}

} // namespace VDProtocol
