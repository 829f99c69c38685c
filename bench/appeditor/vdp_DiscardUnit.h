// A client unit of the executor benchmarks whose socket takes every byte at once and only counts it.
#pragma once

#include <cstdlib>

#include "vcom_TcpSocket.h"
#include "vdp_ClientUnit.h"

namespace vdpbench {

class DiscardSocket : public VCOM::VComTcpClientSocket
{
public:
    bool isConnected() const override { return true; }
    u32 getSendableSize() const override { return VCOM::STREAM_SIZE; }
    i32 send(const u8*, u32 length, u32* taken) override
    {
        m_bytes += length;
        *taken = length;
        return 0;
    }
    u64 m_bytes = 0;
};

class DiscardUnit : public VDProtocol::VDProtocolClientUnit
{
public:
    DiscardUnit()
    {
        if (initialize("bench", VCOM::VComSocketAddress(), nullptr, nullptr) != 0) {
            std::abort();
        }
    }
    // Hands everything queued to the socket.
    void drain()
    {
        while (flushSendRing() != 0) {
        }
    }
    u64 sentBytes() const { return m_socket->m_bytes; }

protected:
    VCOM::VComTcpClientSocket* createSocket() override { return m_socket = new DiscardSocket(); }

private:
    DiscardSocket* m_socket = nullptr;
};

} // namespace vdpbench
