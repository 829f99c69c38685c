// VComUdpSocket: one UDP slot with a 1472-byte send buffer; one datagram in flight at a time.
#pragma once

#include "vcom_AbstractSocket.h"

namespace VCOM {

class VComUdpSocket : public VComAbstractSocket
{
public:
    VComUdpSocket();
    ~VComUdpSocket() override;

    u32 getSendableSize() const override;
    // Reads one queued datagram: 0 with *got its length (0 when none waits), or a failure.
    i32 receive(u8* buffer, u32 size, u32* got) override;
    // 1 in progress; 0x80000003 while a datagram is in flight or for more than 1472 bytes.
    i32 send(const u8* data, u32 length, u32* taken) override;
    // No effect for UDP: use release.
    i32 close() override { return 0; }

    i32 onReceiveDone(i32 result) override;
    i32 onSendDone(i32 result) override;
    i32 handleSocketEvents(IVComCallback* callback, u8 childIndex, const VComEventRecord* events) override;

    // Opens the slot on local:port (port 0: not bound until the first send); 0 or a failure.
    i32 open(const VComSocketAddress& local, u16 localPort);
    // 0, or 0x80000081 unless open.
    i32 setDestination(const VComSocketAddress& address, u16 port);
    // Source of the last datagram read (zero when none).
    void getSourceAddress(VComSocketAddress& out, u16* port) const;

protected:
    void resetConnection() override;

private:
    VComSocketAddress m_sourceAddress;
    u16 m_sourcePort = 0;
    u8* m_sendBuffer = nullptr;
    u32 m_sendCapacity = 0;
    u32 m_sendLength = 0; // the datagram being sent
    u8 m_sendBusy = 0;
    VsockSocketAddress m_destination{};
};

} // namespace VCOM
