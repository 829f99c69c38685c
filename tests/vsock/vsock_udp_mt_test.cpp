// The UDP datagram ring: capacity, order, short buffers, oversized datagrams and send-to.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <vector>

#include "vsock_TestSupport.h"

using namespace vsocktest;

namespace {

class VsockUdp : public VsockTest
{
protected:
    void SetUp() override
    {
        VsockTest::SetUp();
        m_raw = rawUdp(&m_rawPort);
        ASSERT_GE(m_raw, 0);
        const VsockOpenParams p = openParams(VSOCK_TYPE_UDP, anyAddress(0));
        const VsockOptions o = recordingOptions();
        m_slot = vsockOpen(&p, &o);
        ASSERT_GE(m_slot, 0);
        m_slotPort = bindBySending(m_slot, m_raw, m_rawPort);
        ASSERT_NE(m_slotPort, 0);
    }
    void TearDown() override
    {
        closeFd(m_raw);
        VsockTest::TearDown();
    }

    void sendDatagram(const std::vector<u8>& d) { ASSERT_TRUE(rawSendTo(m_raw, m_slotPort, d.data(), d.size())); }

    int m_raw = -1;
    u16 m_rawPort = 0;
    i32 m_slot = -1;
    u16 m_slotPort = 0;
};

} // namespace

TEST_F(VsockUdp, RingHoldsThirtyOneLargeDatagramsAndDropsTheNext)
{
    for (u32 i = 0; i < 32; ++i) {
        sendDatagram(pattern(2048, i));
        VsockEvent ev{};
        ASSERT_TRUE(waitEvent(m_slot, VSOCK_EVENT_DATAGRAM, &ev)) << i;
        EXPECT_EQ(ev.result, i < 31 ? 2048 : VSOCK_E_RES) << i;
    }
    std::vector<u8> buffer(4096);
    for (u32 i = 0; i < 31; ++i) {
        VsockSocketAddress source{};
        ASSERT_EQ(vsockRecvFrom(m_slot, buffer.data(), static_cast<u32>(buffer.size()), &source), 2048) << i;
        EXPECT_EQ(std::vector<u8>(buffer.begin(), buffer.begin() + 2048), pattern(2048, i)) << i;
        EXPECT_EQ(source.port, m_rawPort);
        EXPECT_EQ(source.address.address[0], 127);
    }
    EXPECT_EQ(vsockRecvFrom(m_slot, buffer.data(), static_cast<u32>(buffer.size()), nullptr), VSOCK_E_EMPTY);

    // Records wrap around the end of the ring word by word and still read back intact.
    for (u32 round = 0; round < 3; ++round) {
        for (u32 i = 0; i < 20; ++i) {
            sendDatagram(pattern(1001 + i, 100 * round + i));
            ASSERT_TRUE(waitEvent(m_slot, VSOCK_EVENT_DATAGRAM, nullptr));
        }
        for (u32 i = 0; i < 20; ++i) {
            const i32 n = vsockRecvFrom(m_slot, buffer.data(), static_cast<u32>(buffer.size()), nullptr);
            ASSERT_EQ(n, static_cast<i32>(1001 + i));
            EXPECT_EQ(std::vector<u8>(buffer.begin(), buffer.begin() + n), pattern(1001 + i, 100 * round + i));
        }
    }
}

TEST_F(VsockUdp, ShortBufferKeepsTheDatagramQueued)
{
    u8 buffer[600];
    EXPECT_EQ(vsockRecvFrom(m_slot, buffer, sizeof(buffer), nullptr), VSOCK_E_EMPTY);
    sendDatagram(pattern(500, 7));
    ASSERT_TRUE(waitEvent(m_slot, VSOCK_EVENT_DATAGRAM, nullptr));
    EXPECT_EQ(vsockRecvFrom(m_slot, buffer, 499, nullptr), VSOCK_E_BUFFER);
    EXPECT_EQ(vsockRecvFrom(m_slot, buffer, sizeof(buffer), nullptr), 500);
    EXPECT_EQ(std::vector<u8>(buffer, buffer + 500), pattern(500, 7));
    EXPECT_EQ(vsockRecvFrom(m_slot, buffer, sizeof(buffer), nullptr), VSOCK_E_EMPTY);
}

TEST_F(VsockUdp, OversizedDatagramFailsAndTheNextStillArrives)
{
    sendDatagram(pattern(2049, 1));
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(m_slot, VSOCK_EVENT_DATAGRAM, &ev));
    EXPECT_EQ(ev.result, VSOCK_E_ARG);
    sendDatagram(pattern(2048, 2));
    ASSERT_TRUE(waitEvent(m_slot, VSOCK_EVENT_DATAGRAM, &ev));
    EXPECT_EQ(ev.result, 2048);
    std::vector<u8> buffer(4096);
    ASSERT_EQ(vsockRecvFrom(m_slot, buffer.data(), static_cast<u32>(buffer.size()), nullptr), 2048);
    EXPECT_EQ(std::vector<u8>(buffer.begin(), buffer.begin() + 2048), pattern(2048, 2));
    EXPECT_EQ(vsockRecvFrom(m_slot, buffer.data(), static_cast<u32>(buffer.size()), nullptr), VSOCK_E_EMPTY);
}

TEST_F(VsockUdp, SendToReachesThePeerOneDatagramAtATime)
{
    const std::vector<u8> d = pattern(1400, 9);
    const VsockSocketAddress to = loopback(m_rawPort);
    ASSERT_EQ(vsockSendTo(m_slot, d.data(), static_cast<u32>(d.size()), &to, VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    // The pending datagram is not replaced by a second one.
    const i32 second = vsockSendTo(m_slot, d.data(), 10, &to, VSOCK_NO_TIMEOUT);
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(m_slot, VSOCK_EVENT_SENDTO, &ev));
    EXPECT_EQ(ev.result, 1400);
    std::vector<u8> got(2000);
    ASSERT_TRUE(waitReadable(m_raw, 2000));
    EXPECT_EQ(recv(m_raw, got.data(), got.size(), 0), 1400);
    got.resize(1400);
    EXPECT_EQ(got, d);
    if (second == VSOCK_E_PENDING) {
        ASSERT_TRUE(waitEvent(m_slot, VSOCK_EVENT_SENDTO, &ev)); // it went after the first completed
    } else {
        EXPECT_EQ(second, VSOCK_E_OBJ);
    }

    VsockAddress v6{};
    v6.family = VSOCK_FAMILY_IPV6;
    VsockSocketAddress to6{};
    to6.address = v6;
    EXPECT_EQ(vsockSendTo(m_slot, d.data(), 10, &to6, VSOCK_NO_TIMEOUT), VSOCK_E_ARG);
    EXPECT_EQ(vsockSendTo(m_slot, nullptr, 10, &to, VSOCK_NO_TIMEOUT), VSOCK_E_ARG);
    u8 b[4];
    EXPECT_EQ(vsockSend(m_slot, b, 4, VSOCK_NO_TIMEOUT), VSOCK_E_OBJ); // not a stream
}
