// TCP client and server classes against raw loopback peers, driven by an owner loop on the test thread.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "vcom_TestSupport.h"

using namespace vcomtest;
using namespace vsocktest;
using namespace VCOM;

namespace {

class VcomTcp : public VcomTest
{
protected:
    // Connects m_client to a raw listener and accepts the raw peer.
    void connectClient()
    {
        m_listener = rawTcpListen(&m_port);
        ASSERT_GE(m_listener, 0);
        ASSERT_EQ(m_client.initialize(7, &m_owner), VCOM_OK);
        const i32 rc = m_client.connect(ipv4("0.0.0.0"), ipv4("127.0.0.1"), m_port);
        ASSERT_TRUE(rc == VCOM_OK || rc == VCOM_IN_PROGRESS) << rc;
        ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Connected) == 1; }));
        EXPECT_TRUE(m_client.isConnected());
        m_peer = rawAccept(m_listener);
        ASSERT_GE(m_peer, 0);
    }
    void TearDown() override
    {
        m_client.release();
        closeFd(m_peer);
        closeFd(m_listener);
        VcomTest::TearDown();
    }
    bool pump(const std::function<bool()>& pred, int timeoutMs = 5000)
    {
        return m_owner.pumpUntil({&m_client}, &m_cb, pred, timeoutMs);
    }

    TestOwner m_owner;
    RecordingCallback m_cb;
    VComTcpClientSocket m_client;
    int m_listener = -1;
    int m_peer = -1;
    u16 m_port = 0;
};

u16 refusingPort(int* holder)
{
    *holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(*holder, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    socklen_t len = sizeof(sa);
    getsockname(*holder, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

} // namespace

TEST_F(VcomTcp, RefusedConnectFailsOnceAndANewConnectSucceeds)
{
    int holder = -1;
    const u16 closedPort = refusingPort(&holder);
    ASSERT_EQ(m_client.initialize(3, &m_owner), VCOM_OK);
    const i32 rc = m_client.connect(ipv4("0.0.0.0"), ipv4("127.0.0.1"), closedPort);
    ASSERT_TRUE(rc == VCOM_IN_PROGRESS || rc < 0) << rc;
    if (rc == VCOM_IN_PROGRESS) {
        EXPECT_EQ(m_client.connect(ipv4("0.0.0.0"), ipv4("127.0.0.1"), closedPort), VCOM_IN_PROGRESS);
        ASSERT_TRUE(pump([&] { return m_cb.count(Cb::ConnectionFailed) > 0; }));
        m_owner.pumpFor({&m_client}, &m_cb, 50);
        ASSERT_EQ(m_cb.count(Cb::ConnectionFailed), 1u);
        EXPECT_EQ(m_cb.m_events[0].value, IVComCallback::FAIL_REFUSED);
        EXPECT_EQ(m_cb.m_events[0].socketId, 3u);
    }
    EXPECT_FALSE(m_client.isConnected());
    EXPECT_EQ(m_client.getHandle(), -1); // the slot was given back
    closeFd(holder);

    connectClient();
    EXPECT_EQ(m_client.connect(ipv4("0.0.0.0"), ipv4("127.0.0.1"), m_port), VCOM_ALREADY_CONNECTED);
    EXPECT_EQ(m_client.getPeerPort(), m_port);
    EXPECT_EQ(m_client.getConnectionCount(), 1u);
}

TEST_F(VcomTcp, LargeSendTakesWhatFitsAndLeavesInTwoChunks)
{
    connectClient();
    const std::vector<u8> data = pattern(16000, 1);
    u32 taken = 0;
    EXPECT_EQ(m_client.send(data.data(), 16000, &taken), VCOM_E_REFUSED);
    EXPECT_EQ(taken, 15000u);
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Sent) == 2; }));
    EXPECT_EQ(m_cb.values(Cb::Sent), (std::vector<i64>{10000, 5000}));
    std::vector<u8> got(15000);
    ASSERT_TRUE(readExactly(m_peer, got.data(), got.size(), 3000));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
    EXPECT_EQ(m_client.getSendableSize(), 15000u);

    EXPECT_EQ(m_client.send(nullptr, 4, &taken), VCOM_E_ARG);
    EXPECT_EQ(m_client.send(data.data(), 0, &taken), VCOM_E_ARG);
}

TEST_F(VcomTcp, UnreadBytesFillTheStreamAndTheRestFollowsWithoutLoss)
{
    connectClient();
    const std::vector<u8> data = pattern(20000, 2);
    ASSERT_TRUE(writeAll(m_peer, data.data(), data.size()));
    // The owner does not read: the stream fills to 15000 and further bytes wait.
    ASSERT_TRUE(pump([&] { return m_client.getPendingReceiveCount() > 0; }));
    const size_t receivedCallbacks = m_cb.count(Cb::Received);
    m_owner.pumpFor({&m_client}, &m_cb, 50);
    EXPECT_EQ(m_cb.count(Cb::Received), receivedCallbacks); // no busy repetition while the owner does not read

    std::vector<u8> got;
    std::vector<u8> buffer(20000);
    u32 n = 0;
    EXPECT_EQ(m_client.receive(buffer.data(), 20000, &n), VCOM_MORE_DATA);
    EXPECT_EQ(n, 15000u);
    got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    m_cb.m_onReceived = [&](u32, u8) {
        u32 k = 0;
        while (m_client.receive(buffer.data(), 3000, &k) >= 0 && k > 0) {
            got.insert(got.end(), buffer.begin(), buffer.begin() + k);
        }
    };
    ASSERT_TRUE(pump([&] { return got.size() == data.size(); }));
    EXPECT_EQ(got, data);
}

TEST_F(VcomTcp, ReceiveLeavingBytesAnswersTwoAndReportsAgain)
{
    connectClient();
    const std::vector<u8> data = pattern(100, 3);
    ASSERT_TRUE(writeAll(m_peer, data.data(), data.size())); // one segment on loopback
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Received) == 1; }));
    m_cb.clear();
    u8 buffer[100];
    u32 n = 0;
    EXPECT_EQ(m_client.receive(buffer, 40, &n), VCOM_MORE_DATA);
    ASSERT_EQ(n, 40u);
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Received) == 1; }));
    EXPECT_EQ(m_client.receive(buffer + 40, 60, &n), VCOM_OK);
    ASSERT_EQ(n, 60u);
    EXPECT_EQ(std::vector<u8>(buffer, buffer + 100), data);
    EXPECT_EQ(m_client.receive(buffer, 100, &n), VCOM_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(m_client.receive(nullptr, 100, &n), VCOM_E_ARG);
    m_owner.pumpFor({&m_client}, &m_cb, 30);
    EXPECT_EQ(m_cb.count(Cb::Received), 1u);
}

TEST_F(VcomTcp, CloseAndPeerCloseGiveOnDisconnected)
{
    connectClient();
    EXPECT_EQ(m_client.close(), VCOM_OK);
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Disconnected) == 1; }));
    EXPECT_FALSE(m_client.isConnected());
    EXPECT_TRUE(peerClosed(m_peer, 3000));
    u32 n = 0;
    u8 b[4];
    EXPECT_EQ(m_client.send(b, 4, &n), VCOM_E_STATE);
    EXPECT_EQ(m_client.receive(b, 4, &n), VCOM_E_STATE);
    closeFd(m_peer);
    m_peer = -1;
    closeFd(m_listener);
    m_listener = -1;

    // Reconnect, then the peer closes.
    m_cb.clear();
    connectClient();
    closeFd(m_peer);
    m_peer = -1;
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Disconnected) == 1; }));
    EXPECT_FALSE(m_client.isConnected());
}

TEST_F(VcomTcp, PeerResetDuringLargeSendGivesOnDisconnected)
{
    std::signal(SIGPIPE, SIG_DFL);
    connectClient();
    const std::vector<u8> block = pattern(15000, 4);
    // Keep the send stream full until the socket buffers are full too.
    m_cb.m_onSent = [&](u32, u8, i32) {
        u32 taken = 0;
        m_client.send(block.data(), m_client.getSendableSize() > 0 ? m_client.getSendableSize() : 1, &taken);
    };
    u32 taken = 0;
    m_client.send(block.data(), 15000, &taken);
    // Until the socket buffers are full: no chunk completes for 200 ms.
    size_t sent = 0;
    for (int round = 0; round < 100; ++round) {
        m_owner.pumpFor({&m_client}, &m_cb, 200);
        if (m_cb.count(Cb::Sent) == sent) {
            break;
        }
        sent = m_cb.count(Cb::Sent);
    }
    ASSERT_EQ(m_cb.count(Cb::Sent), sent);
    const linger hard{1, 0};
    setsockopt(m_peer, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    closeFd(m_peer);
    m_peer = -1;
    ASSERT_TRUE(pump([&] { return m_cb.count(Cb::Disconnected) + m_cb.count(Cb::ConnectionFailed) > 0; }));
    EXPECT_EQ(m_cb.count(Cb::Disconnected), 1u);
    EXPECT_EQ(m_cb.count(Cb::ConnectionFailed), 0u);
    EXPECT_FALSE(m_client.isConnected());
}

TEST_F(VcomTcp, ServerOfOneClosesFurtherPeersAndReusesTheChild)
{
    VComTcpServerSocket server(1);
    ASSERT_EQ(server.getMaxConnections(), 1u);
    ASSERT_EQ(server.initialize(9, &m_owner), VCOM_OK);
    ASSERT_EQ(server.listen(ipv4("127.0.0.1"), 0), VCOM_IN_PROGRESS);
    EXPECT_EQ(server.listen(ipv4("127.0.0.1"), 0), VCOM_E_STATE);
    const u16 port = localPort(server.getHandle());
    auto serverPump = [&](const std::function<bool()>& pred) { return m_owner.pumpUntil({&server}, &m_cb, pred); };

    const int first = rawTcpConnect(port);
    ASSERT_TRUE(serverPump([&] { return m_cb.count(Cb::Connected, 1) == 1; }));
    ASSERT_EQ(m_cb.count(Cb::Accepted), 1u);
    EXPECT_EQ(m_cb.values(Cb::Accepted)[0], 1);
    EXPECT_EQ(server.getConnectionCount(), 1u);
    ASSERT_NE(server.getSocket(1), nullptr);
    EXPECT_EQ(server.getSocket(2), nullptr);
    EXPECT_EQ(server.getSocket(0), &server);

    // The child echoes what arrives.
    m_cb.m_onReceived = [&](u32, u8 child) {
        u8 buffer[256];
        u32 n = 0;
        IVCom* socket = server.getSocket(child);
        while (socket != nullptr && socket->receive(buffer, sizeof(buffer), &n) >= 0 && n > 0) {
            u32 taken = 0;
            socket->send(buffer, n, &taken);
        }
    };
    ASSERT_TRUE(writeAll(first, reinterpret_cast<const u8*>("abc"), 3));
    u8 echo[3] = {};
    ASSERT_TRUE(serverPump([&] { return waitReadable(first, 0); }));
    ASSERT_TRUE(readExactly(first, echo, 3, 1000));
    EXPECT_EQ(std::memcmp(echo, "abc", 3), 0);

    const int second = rawTcpConnect(port);
    ASSERT_GE(second, 0);
    bool secondClosed = false;
    ASSERT_TRUE(serverPump([&] { return secondClosed = secondClosed || peerClosed(second, 5); }));
    EXPECT_EQ(m_cb.count(Cb::Accepted), 1u); // no callback for the rejected peer

    closeFd(first);
    ASSERT_TRUE(serverPump([&] { return m_cb.count(Cb::Disconnected, 1) == 1; }));
    EXPECT_EQ(server.getConnectionCount(), 0u);

    const int third = rawTcpConnect(port);
    ASSERT_TRUE(serverPump([&] { return m_cb.count(Cb::Accepted) == 2; }));
    EXPECT_EQ(m_cb.values(Cb::Accepted)[1], 1);

    // Closing the server closes its child first.
    EXPECT_EQ(server.close(), VCOM_OK);
    ASSERT_TRUE(serverPump([&] { return m_cb.count(Cb::Disconnected, 0) == 1; }));
    EXPECT_EQ(m_cb.count(Cb::Disconnected, 1), 2u);
    EXPECT_TRUE(peerClosed(third, 3000));
    EXPECT_EQ(server.getHandle(), -1);
    closeFd(second);
    closeFd(third);
}

// A burst of peers at a server of one: every peer reaches the server, the first is served and each other one is
// closed at once; none is left waiting in a full accept queue.
TEST_F(VcomTcp, ABurstOfPeersIsServedOrClosedAtOnce)
{
    VComTcpServerSocket server(1);
    ASSERT_EQ(server.initialize(9, &m_owner), VCOM_OK);
    ASSERT_EQ(server.listen(ipv4("127.0.0.1"), 0), VCOM_IN_PROGRESS);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(localPort(server.getHandle()));
    constexpr size_t kPeers = 50;
    std::vector<int> peers;
    for (size_t i = 0; i < kPeers; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        peers.push_back(fd);
        const int rc = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
        ASSERT_TRUE(rc == 0 || errno == EINPROGRESS) << errno;
    }
    std::vector<bool> ended(kPeers, false);
    size_t endedCount = 0;
    auto sweep = [&] {
        for (size_t i = 0; i < kPeers; ++i) {
            u8 byte = 0;
            const ssize_t n = ended[i] ? 1 : recv(peers[i], &byte, 1, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && (errno == ECONNRESET || errno == ECONNREFUSED))) {
                ended[i] = true;
                ++endedCount;
            }
        }
        return endedCount == kPeers - 1 && m_cb.count(Cb::Connected, 1) == 1;
    };
    EXPECT_TRUE(m_owner.pumpUntil({&server}, &m_cb, sweep, 2000)) << endedCount << " ended";
    EXPECT_EQ(m_cb.count(Cb::Accepted), 1u);
    EXPECT_EQ(server.getConnectionCount(), 1u);
    server.release();
    for (const int fd : peers) {
        closeFd(fd);
    }
}

TEST_F(VcomTcp, ServerKeepsAcceptingAfterAnAcceptFailed)
{
    VComTcpServerSocket server(2);
    ASSERT_EQ(server.initialize(4, &m_owner), VCOM_OK);
    ASSERT_EQ(server.listen(ipv4("127.0.0.1"), 0), VCOM_IN_PROGRESS);
    const u16 port = localPort(server.getHandle());
    auto serverPump = [&](const std::function<bool()>& pred) { return m_owner.pumpUntil({&server}, &m_cb, pred); };
    // Every other slot in use: the slot layer cannot take the connection and closes it.
    std::vector<i32> fillers;
    const VsockOpenParams p = openParams(VSOCK_TYPE_UDP, loopback(0));
    const VsockOptions o = recordingOptions();
    for (i32 h = vsockOpen(&p, &o); h >= 0; h = vsockOpen(&p, &o)) {
        fillers.push_back(h);
    }
    const int refused = rawTcpConnect(port);
    bool closed = false;
    ASSERT_TRUE(serverPump([&] { return closed = closed || peerClosed(refused, 5); }));
    EXPECT_EQ(m_cb.count(Cb::Accepted), 0u);

    ASSERT_EQ(vsockClose(fillers.back()), VSOCK_OK);
    const int accepted = rawTcpConnect(port);
    ASSERT_TRUE(serverPump([&] { return m_cb.count(Cb::Connected, 1) == 1; }));
    EXPECT_EQ(m_cb.count(Cb::Accepted), 1u);
    server.release();
    closeFd(refused);
    closeFd(accepted);
}

TEST_F(VcomTcp, ReleasingAServerWithAnAcceptNotYetHandledFreesEverySlot)
{
    // The owner is woken for an accepted connection but releases the server before it runs handleEvents: the
    // untaken child must not keep the listener (and its port) open.
    auto server = std::make_unique<VComTcpServerSocket>(2);
    ASSERT_EQ(server->initialize(4, &m_owner), VCOM_OK);
    ASSERT_EQ(server->listen(ipv4("127.0.0.1"), 0), VCOM_IN_PROGRESS);
    const i32 listener = server->getHandle();
    const u16 port = localPort(listener);
    const u32 before = m_owner.wakeups();
    const int peer = rawTcpConnect(port);
    ASSERT_GE(peer, 0);
    for (int i = 0; i < 5000 && m_owner.wakeups() == before; ++i) {
        usleep(1000);
    }
    ASSERT_GT(m_owner.wakeups(), before);
    server->release();
    EXPECT_EQ(vsockCheckHandle(listener), VSOCK_E_CLOSED);
    EXPECT_TRUE(peerClosed(peer, 2000));
    // Neither slot is left behind: every slot of the table can be opened again, and the port can be listened on.
    std::vector<i32> handles;
    const VsockOpenParams p = openParams(VSOCK_TYPE_UDP, loopback(0));
    const VsockOptions o = recordingOptions();
    for (i32 h = vsockOpen(&p, &o); h >= 0; h = vsockOpen(&p, &o)) {
        handles.push_back(h);
    }
    EXPECT_EQ(handles.size(), static_cast<size_t>(VSOCK_SLOT_COUNT));
    for (const i32 h : handles) {
        vsockClose(h);
    }
    server = std::make_unique<VComTcpServerSocket>(1);
    ASSERT_EQ(server->initialize(5, &m_owner), VCOM_OK);
    EXPECT_EQ(server->listen(ipv4("127.0.0.1"), port), VCOM_IN_PROGRESS);
    server->release();
    closeFd(peer);
}

TEST_F(VcomTcp, ServerMaximumIsCappedAndValidated)
{
    VComTcpServerSocket big(1000);
    EXPECT_EQ(big.getMaxConnections(), 255u);
    VComTcpServerSocket none(0);
    EXPECT_EQ(none.getMaxConnections(), 0u);
    ASSERT_EQ(none.initialize(1, &m_owner), VCOM_OK);
    EXPECT_EQ(none.listen(ipv4("127.0.0.1"), 0), VCOM_E_OTHER);
    EXPECT_EQ(none.handleEvents(&m_cb), VCOM_E_OTHER);
    VComTcpServerSocket tooMany(0x1000000);
    EXPECT_EQ(tooMany.getMaxConnections(), 0u);
}

TEST(VcomAddress, TextBytesAndFamilies)
{
    VComSocketAddress a(VSOCK_FAMILY_IPV4, "10.1.2.3");
    u8 bytes[16] = {};
    ASSERT_EQ(a.getAddressBytes(bytes, 4), VCOM_OK);
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[3], 3);
    EXPECT_EQ(a.getAddressBytes(bytes, 3), VCOM_E_FAILED);
    char text[64];
    u32 family = 0;
    ASSERT_EQ(a.getAddressText(text, sizeof(text), &family), VSOCK_OK);
    EXPECT_STREQ(text, "10.1.2.3");
    EXPECT_EQ(family, 4u);
    EXPECT_EQ(a.setAddress(VSOCK_FAMILY_IPV4, "10.1.2"), VCOM_E_FAILED);
    EXPECT_EQ(a.getFamily(), 4u); // unchanged
    ASSERT_EQ(a.setAddress(VSOCK_FAMILY_IPV6, "fe80::1"), VCOM_OK);
    EXPECT_EQ(a.getAddressBytes(bytes, 15), VCOM_E_FAILED);
    ASSERT_EQ(a.getAddressBytes(bytes, 16), VCOM_OK);
    EXPECT_EQ(bytes[0], 0xFE);
    a.clear();
    EXPECT_EQ(a.getAddressBytes(bytes, 16), VCOM_E_FAILED);
}
