// The UDP socket class: one datagram in flight, length limit, receive and source, dropped datagrams.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <vector>

#include "vcom_TestSupport.h"

using namespace vcomtest;
using namespace vsocktest;
using namespace VCOM;

namespace {

class VcomUdp : public VcomTest
{
protected:
    void SetUp() override
    {
        VcomTest::SetUp();
        m_raw = rawUdp(&m_rawPort);
        ASSERT_GE(m_raw, 0);
        ASSERT_EQ(m_udp.initialize(5, &m_owner), VCOM_OK);
        ASSERT_EQ(m_udp.open(ipv4("127.0.0.1"), 0), VCOM_OK);
        ASSERT_EQ(m_udp.setDestination(ipv4("127.0.0.1"), m_rawPort), VCOM_OK);
        // The first datagram binds the socket to an ephemeral port.
        const u8 probe[3] = {1, 2, 3};
        u32 taken = 0;
        ASSERT_EQ(m_udp.send(probe, 3, &taken), VCOM_IN_PROGRESS);
        ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Sent) == 1; }));
        u8 scratch[8];
        ASSERT_TRUE(waitReadable(m_raw, 2000));
        ASSERT_EQ(recv(m_raw, scratch, sizeof(scratch), 0), 3);
        m_port = localPort(m_udp.getHandle());
        m_cb.clear();
    }
    void TearDown() override
    {
        m_udp.release();
        closeFd(m_raw);
        VcomTest::TearDown();
    }
    bool pump(const std::function<bool()>& pred, int timeoutMs = 5000)
    {
        return m_owner.pumpUntil({&m_udp}, &m_cb, pred, timeoutMs);
    }

    TestOwner m_owner;
    RecordingCallback m_cb;
    VComUdpSocket m_udp;
    int m_raw = -1;
    u16 m_rawPort = 0;
    u16 m_port = 0;
};

} // namespace

TEST_F(VcomUdp, OneDatagramInFlightAndTheLengthLimit)
{
    const std::vector<u8> big = pattern(1473, 1);
    u32 taken = 99;
    EXPECT_EQ(m_udp.send(big.data(), 1473, &taken), VCOM_E_REFUSED);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(m_udp.getSendableSize(), 1472u);
    ASSERT_EQ(m_udp.send(big.data(), 1472, &taken), VCOM_IN_PROGRESS);
    EXPECT_EQ(taken, 1472u);
    EXPECT_EQ(m_udp.getSendableSize(), 0u);
    EXPECT_EQ(m_udp.send(big.data(), 10, &taken), VCOM_E_REFUSED); // before onSent
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Sent) == 1; }));
    EXPECT_EQ(m_cb.values(Cb::Sent)[0], 1472);
    EXPECT_EQ(m_udp.getSendableSize(), 1472u);
    std::vector<u8> got(2000);
    ASSERT_TRUE(waitReadable(m_raw, 2000));
    ASSERT_EQ(recv(m_raw, got.data(), got.size(), 0), 1472);
    got.resize(1472);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), big.begin()));
    EXPECT_EQ(m_udp.close(), VCOM_OK); // no effect on UDP
    EXPECT_TRUE(m_udp.isConnected());
}

TEST_F(VcomUdp, ReceiveGivesDatagramsWithTheirSource)
{
    const std::vector<u8> a = pattern(100, 2);
    const std::vector<u8> b = pattern(1472, 3);
    ASSERT_TRUE(rawSendTo(m_raw, m_port, a.data(), a.size()));
    ASSERT_TRUE(rawSendTo(m_raw, m_port, b.data(), b.size()));
    std::vector<std::vector<u8>> got;
    VComSocketAddress source;
    u16 sourcePort = 0;
    m_cb.m_onReceived = [&](u32 id, u8 child) {
        EXPECT_EQ(id, 5u);
        EXPECT_EQ(child, 0);
        std::vector<u8> buffer(1500);
        u32 n = 0;
        while (m_udp.receive(buffer.data(), static_cast<u32>(buffer.size()), &n) == VCOM_OK && n > 0) {
            got.emplace_back(buffer.begin(), buffer.begin() + n);
            m_udp.getSourceAddress(source, &sourcePort);
            EXPECT_EQ(sourcePort, m_rawPort);
        }
    };
    ASSERT_TRUE(pump([&] { return got.size() == 2; }));
    EXPECT_EQ(got[0], a);
    EXPECT_EQ(got[1], b);
    char text[32];
    ASSERT_EQ(source.getAddressText(text, sizeof(text), nullptr), VSOCK_OK);
    EXPECT_STREQ(text, "127.0.0.1");

    // Nothing waiting: count 0, result 0, and the source is cleared.
    u8 buffer[16];
    u32 n = 7;
    EXPECT_EQ(m_udp.receive(buffer, sizeof(buffer), &n), VCOM_OK);
    EXPECT_EQ(n, 0u);
    m_udp.getSourceAddress(source, &sourcePort);
    EXPECT_EQ(sourcePort, 0);
}

TEST_F(VcomUdp, DroppedAndOversizedDatagramsKeepTheSocketOpen)
{
    // The owner does not read: the ring fills and the slot layer drops a datagram.
    const std::vector<u8> d = pattern(2048, 4);
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(rawSendTo(m_raw, m_port, d.data(), d.size()));
    }
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::CommunicationFailed) > 0; }));
    EXPECT_EQ(m_cb.values(Cb::CommunicationFailed)[0], IVComCallback::COMM_NO_ROOM);
    EXPECT_GT(m_cb.count(Cb::Received), 0u);
    m_owner.pumpFor({&m_udp}, &m_cb, 100); // the reports of the remaining drops

    // Reading a datagram larger than the caller's buffer fails and leaves it queued.
    u8 small[100];
    u32 n = 0;
    EXPECT_EQ(m_udp.receive(small, sizeof(small), &n), VCOM_E_OTHER);
    std::vector<u8> buffer(2048);
    int drained = 0;
    while (m_udp.receive(buffer.data(), 2048, &n) == VCOM_OK && n > 0) {
        ++drained;
    }
    EXPECT_EQ(drained, 31);

    m_cb.clear();
    const std::vector<u8> huge = pattern(3000, 5);
    ASSERT_TRUE(rawSendTo(m_raw, m_port, huge.data(), huge.size()));
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::CommunicationFailed) == 1; }));
    EXPECT_EQ(m_cb.values(Cb::CommunicationFailed)[0], IVComCallback::COMM_RECEIVE_FAILED);
    EXPECT_TRUE(m_udp.isConnected());
    ASSERT_TRUE(rawSendTo(m_raw, m_port, d.data(), 10));
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Received) == 1; }));
    EXPECT_EQ(m_udp.receive(buffer.data(), 2048, &n), VCOM_OK);
    EXPECT_EQ(n, 10u);
}
