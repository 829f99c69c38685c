// Fuzz target: the client unit's line framing. A byte stream fed through a stand-in socket in pieces of random
// sizes must never fault and must yield exactly the packets that the same stream fed at once yields.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "vcom_Result.h"
#include "vcom_TcpSocket.h"
#include "vdp_ClientUnit.h"
#include "vdp_PacketConvertor.h"

namespace {

// Hands out the bytes given to it, reporting more data while some remain, as the TCP socket does.
class StreamSocket : public VCOM::VComTcpClientSocket
{
public:
    i32 receive(u8* buffer, u32 size, u32* got) override
    {
        u32 n = 0;
        while (n < size && !m_pending.empty()) {
            buffer[n++] = m_pending.front();
            m_pending.pop_front();
        }
        *got = n;
        return m_pending.empty() ? VCOM::VCOM_OK : VCOM::VCOM_MORE_DATA;
    }
    std::deque<u8> m_pending;
};

class StreamUnit : public VDProtocol::VDProtocolClientUnit, public VDProtocol::IVDProtocolConnectObserver
{
public:
    StreamUnit()
    {
        if (initialize("fuzz", VCOM::VComSocketAddress(), nullptr, this) != 0) {
            std::abort();
        }
    }
    void feed(const uint8_t* data, size_t size)
    {
        m_socket->m_pending.insert(m_socket->m_pending.end(), data, data + size);
        onReceived(SOCKET_ID, 0);
    }

    void onConnected() override {}
    void onConnectionFailed(u32, u8) override {}
    void onDisconnected() override {}
    void onReceivePacket(const VDProtocol::PacketContainer& packet) override
    {
        std::string line;
        if (VDProtocol::encodePacket(packet, line) != 0) {
            std::abort();
        }
        m_lines.push_back(line);
    }

    std::vector<std::string> m_lines;

protected:
    VCOM::VComTcpClientSocket* createSocket() override { return m_socket = new StreamSocket(); }

private:
    StreamSocket* m_socket = nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) {
        return 0;
    }
    u32 seed = 0;
    std::memcpy(&seed, data, 4);
    data += 4;
    size -= 4;

    // One pair of units for every input (each holds two 5 MiB buffers); a final line feed ends any line held
    // back, so no state carries over to the next input.
    static StreamUnit whole;
    static StreamUnit pieces;
    const uint8_t feed = '\n';
    whole.m_lines.clear();
    pieces.m_lines.clear();

    whole.feed(data, size);
    whole.feed(&feed, 1);
    std::mt19937 cuts(seed);
    size_t offset = 0;
    while (offset < size) {
        // Mostly small pieces, now and then more than one receive chunk.
        const size_t limit = (cuts() % 8 == 0) ? 3000 : 40;
        size_t n = 1 + cuts() % limit;
        n = n < size - offset ? n : size - offset;
        pieces.feed(data + offset, n);
        offset += n;
    }
    pieces.feed(&feed, 1);
    if (pieces.m_lines != whole.m_lines) {
        std::abort();
    }
    return 0;
}
