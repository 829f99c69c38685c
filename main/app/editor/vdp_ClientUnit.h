// VDProtocolClientUnit: the TCP client end of the editor link.
//
// Received bytes are framed into lines at the line feed; each line (up to its first NUL) is decoded into a packet
// and handed to the observer, in order. A line longer than MAX_LINE_LENGTH is dropped up to its line feed with
// one warning, and the link stays up; an unfinished line is dropped when the connection ends. Outgoing packets
// are encoded, terminated with a line feed and queued whole (or not at all) in a 5 MiB send ring, which is
// flushed as the socket takes data; a line may also be queued only while it leaves a given part of the ring free
// (queuePacket), so that lines of less weight leave room for others.
//
// One thread owns the unit: the socket calls the callback slots from processSocketEvents on that thread, after
// the wake-up function has signalled it. The unit takes no lock.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "klib_RingBuffer.h"
#include "klib_Types.h"
#include "vcom_Interfaces.h"
#include "vcom_SocketAddress.h"
#include "vdp_PacketContainer.h"

namespace VCOM {
class VComTcpClientSocket;
}

namespace VDProtocol {

class IVDProtocolConnectObserver
{
public:
    virtual void onConnected() = 0;
    // errorCode: the socket's reason (0 refused, 1 time-out, 2 receive); flag: the socket's child index.
    virtual void onConnectionFailed(u32 errorCode, u8 flag) = 0;
    virtual void onDisconnected() = 0;
    virtual void onReceivePacket(const PacketContainer& packet) = 0;
    virtual ~IVDProtocolConnectObserver() = default;
};

class VDProtocolClientUnit : public VCOM::IVComCallback
{
public:
    static constexpr u32 BUFFER_SIZE = 0x500000;            // send ring and line buffer
    static constexpr u32 MAX_LINE_LENGTH = BUFFER_SIZE - 2; // a line, its line feed and a NUL fill the buffer
    static constexpr u32 RECEIVE_CHUNK = 1024;
    static constexpr u32 SEND_CHUNK = 15000;
    static constexpr u32 SOCKET_ID = 1;

    VDProtocolClientUnit();
    ~VDProtocolClientUnit() override;
    VDProtocolClientUnit(const VDProtocolClientUnit&) = delete;
    VDProtocolClientUnit& operator=(const VDProtocolClientUnit&) = delete;

    // Creates the socket and both buffers once: 0; 0x80000003 when called again; 0x80000005 when the socket or a
    // buffer cannot be had (what was created stays).
    [[nodiscard]] i32 initialize(const std::string& name, const VCOM::VComSocketAddress& local,
                                 VCOM::IVComWakeupFunction* wakeup, IVDProtocolConnectObserver* observer);
    // Starts the connect: 0 when connected or in progress (the outcome follows through the observer), else the
    // mapped failure. 0x80000003 before initialize.
    [[nodiscard]] i32 connect(const VCOM::VComSocketAddress& peer, u16 port);
    bool isConnected() const;
    // Closes and releases the socket on the calling (owner) thread: no callback or wake-up follows, and the unit
    // sends and connects no more (0x80000003). Also done by the destructor.
    void close();
    // Runs the socket's pending events (and with them the callbacks) on the calling thread.
    i32 processSocketEvents();
    // Queues the packet's line and flushes: 0; 0x80000003 before initialize; 0x8000000F when it cannot be
    // encoded or does not fit whole into the free ring (nothing is queued then).
    [[nodiscard]] i32 sendPacket(const PacketContainer& packet);
    // The same, but the line is queued only when at least keepFree bytes of the ring stay free behind it; a line
    // that does not fit so gives 0x80000007 (nothing is queued), one that cannot be encoded 0x8000000F.
    [[nodiscard]] i32 queuePacket(const PacketContainer& packet, u32 keepFree);
    // Hands the socket what its send stream takes (at most SEND_CHUNK bytes): 0 when the ring is empty, 4 when
    // bytes remain (also while not connected: they wait), 0x80000004 when the socket took fewer bytes than were
    // taken out of the ring, 0x80000003 before initialize.
    i32 flushSendRing();
    // Socket result -> result code of the editor link.
    static i32 mapSocketError(i32 code);

    const std::string& getName() const { return m_name; }
    // Bytes waiting in the send ring.
    u32 getQueuedBytes() const;

    // VCOM::IVComCallback
    void onConnected(u32 socketId, u8 child) override;
    void onConnectionFailed(u32 socketId, u8 child, u32 reason) override;
    void onDisconnected(u32 socketId, u8 child) override;
    void onAccepted(u32 socketId, u8 child, u8 newChild) override;
    void onReceived(u32 socketId, u8 child) override;
    void onSent(u32 socketId, u8 child, i32 result) override;
    void onCommunicationFailed(u32 socketId, u8 child, u32 reason) override;

protected:
    // Creates the socket the unit owns (null when none can be had).
    virtual VCOM::VComTcpClientSocket* createSocket();

private:
    struct FreeDeleter
    {
        void operator()(u8* block) const { std::free(block); }
    };
    using Buffer = std::unique_ptr<u8, FreeDeleter>;

    // Frames received bytes into lines.
    void consume(const u8* data, size_t length);
    // Decodes one line (without its line feed) up to its first NUL and hands the packet over.
    void deliver(const u8* line, size_t length);

    std::string m_name;
    Buffer m_sendStorage;
    klib_RingBufferRecord m_sendRing;
    Buffer m_lineBuffer;
    u32 m_lineLength = 0;
    bool m_discarding = false; // inside a line that was too long, up to its line feed
    VCOM::VComSocketAddress m_local;
    VCOM::VComSocketAddress m_peer;
    std::unique_ptr<VCOM::VComTcpClientSocket> m_socket;
    IVDProtocolConnectObserver* m_observer = nullptr;
    PacketContainer m_packet; // reused for every received line
    std::string m_line;       // reused for every sent line
};

} // namespace VDProtocol
