// Slot table, TCP operations, tokens and deadlines, close cut-offs and resets, against raw loopback peers.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "vdtest_Support.h"
#include "vsock_TestSupport.h"

using namespace vsocktest;

namespace {

class VsockSlots : public VsockTest
{
};

i32 openUdp()
{
    const VsockOpenParams p = openParams(VSOCK_TYPE_UDP, loopback(0));
    const VsockOptions o = recordingOptions();
    return vsockOpen(&p, &o);
}

i32 openListener()
{
    const VsockOpenParams p = openParams(VSOCK_TYPE_TCP_LISTENER, loopback(0));
    const VsockOptions o = recordingOptions();
    return vsockOpen(&p, &o);
}

i32 openClient()
{
    const VsockOpenParams p = openParams(VSOCK_TYPE_TCP_CLIENT, anyAddress(0));
    const VsockOptions o = recordingOptions();
    return vsockOpen(&p, &o);
}

// A client slot connected to a raw listener; *peer receives the raw accepted socket.
i32 connectedClient(int* listener, int* peer)
{
    u16 port = 0;
    *listener = rawTcpListen(&port);
    const i32 h = openClient();
    EXPECT_GE(h, 0);
    const VsockSocketAddress remote = loopback(port);
    const i32 rc = vsockConnect(h, &remote, VSOCK_NO_TIMEOUT);
    if (rc == VSOCK_E_PENDING) {
        VsockEvent ev{};
        EXPECT_TRUE(waitEvent(h, VSOCK_EVENT_CONNECT, &ev));
        EXPECT_EQ(ev.result, VSOCK_OK);
    } else {
        EXPECT_EQ(rc, VSOCK_OK);
    }
    *peer = rawAccept(*listener);
    EXPECT_GE(*peer, 0);
    return h;
}

} // namespace

TEST_F(VsockSlots, OpenValidatesArgumentsAndRunsOutAtThirtyThreeSlots)
{
    VsockOpenParams p = openParams(VSOCK_TYPE_UDP, loopback(0));
    VsockOptions o = recordingOptions();
    EXPECT_EQ(vsockOpen(nullptr, &o), VSOCK_E_ARG);
    EXPECT_EQ(vsockOpen(&p, nullptr), VSOCK_E_ARG);
    p.type = 3;
    EXPECT_EQ(vsockOpen(&p, &o), VSOCK_E_ARG);
    p.type = VSOCK_TYPE_UDP;
    p.local.address.family = 5;
    EXPECT_EQ(vsockOpen(&p, &o), VSOCK_E_ARG);
    p.local.address.family = VSOCK_FAMILY_IPV6;
    EXPECT_EQ(vsockOpen(&p, &o), VSOCK_E_ARG); // UDP is IPv4 only
    p.local.address.family = VSOCK_FAMILY_IPV4;
    o.flags = 0;
    EXPECT_EQ(vsockOpen(&p, &o), VSOCK_E_ARG);
    o = recordingOptions();
    o.callback = nullptr;
    EXPECT_EQ(vsockOpen(&p, &o), VSOCK_E_ARG);

    std::vector<i32> handles;
    for (u32 i = 0; i < VSOCK_SLOT_COUNT; ++i) {
        const i32 h = openUdp();
        ASSERT_EQ(h, static_cast<i32>(i)); // the lowest free slot
        handles.push_back(h);
    }
    EXPECT_EQ(openUdp(), VSOCK_E_RES);
    EXPECT_EQ(vsockClose(7), VSOCK_OK);
    EXPECT_EQ(vsockCheckHandle(7), VSOCK_E_CLOSED);
    EXPECT_EQ(openUdp(), 7);
    EXPECT_EQ(vsockCheckHandle(32), VSOCK_E_ARG);
    EXPECT_EQ(vsockCheckHandle(-1), VSOCK_E_ARG);
    EXPECT_EQ(vsockClose(40), VSOCK_E_ARG);
}

TEST_F(VsockSlots, AcceptWithEveryOtherSlotUsedReportsNoResourcesAndClosesThePeer)
{
    const i32 listener = openListener();
    ASSERT_EQ(listener, 0);
    const u16 port = localPort(listener);
    for (u32 i = 1; i < VSOCK_SLOT_COUNT; ++i) {
        ASSERT_GE(openUdp(), 0);
    }
    VsockSocketAddress peer{};
    ASSERT_EQ(vsockAccept(listener, &peer, VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    const int client = rawTcpConnect(port);
    ASSERT_GE(client, 0);
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(listener, VSOCK_EVENT_ACCEPT, &ev));
    EXPECT_EQ(ev.result, VSOCK_E_RES);
    EXPECT_TRUE(peerClosed(client, 3000));
    closeFd(client);

    // With a slot free again, the next accept gives a child taken from the top of the table.
    ASSERT_EQ(vsockClose(31), VSOCK_OK);
    ASSERT_EQ(vsockAccept(listener, &peer, VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    const int second = rawTcpConnect(port);
    ASSERT_TRUE(waitEvent(listener, VSOCK_EVENT_ACCEPT, &ev));
    EXPECT_EQ(ev.result, 31);
    EXPECT_EQ(peer.address.family, VSOCK_FAMILY_IPV4);
    EXPECT_EQ(peer.address.address[0], 127);
    sockaddr_in local{};
    socklen_t len = sizeof(local);
    getsockname(second, reinterpret_cast<sockaddr*>(&local), &len);
    EXPECT_EQ(peer.port, ntohs(local.sin_port));
    closeFd(second);
}

TEST_F(VsockSlots, ListenerWithLiveChildRefusesToClose)
{
    const i32 listener = openListener();
    const u16 port = localPort(listener);
    VsockSocketAddress peer{};
    ASSERT_EQ(vsockAccept(listener, &peer, VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    const int client = rawTcpConnect(port);
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(listener, VSOCK_EVENT_ACCEPT, &ev));
    const i32 child = ev.result;
    ASSERT_GE(child, 0);
    EXPECT_EQ(vsockClose(listener), VSOCK_E_OBJ);
    EXPECT_EQ(vsockCheckHandle(listener), VSOCK_OK);
    EXPECT_EQ(vsockClose(child), VSOCK_OK);
    EXPECT_EQ(vsockClose(listener), VSOCK_OK);
    EXPECT_TRUE(peerClosed(client, 3000));
    closeFd(client);
}

TEST_F(VsockSlots, PendingConnectTimesOutOnlyForTheSameToken)
{
    // A raw listener that never accepts: backlog 0 holds one connection, so the next one stays pending.
    u16 port = 0;
    const int listener = rawTcpListen(&port, 0);
    const int filler = rawTcpConnect(port);
    ASSERT_GE(filler, 0);

    const i32 h = openClient();
    const VsockSocketAddress remote = loopback(port);
    const VsockSocketAddress otherToken = loopback(port);
    ASSERT_EQ(vsockConnect(h, &remote, 0), VSOCK_E_PENDING);
    EXPECT_EQ(vsockConnect(h, &otherToken, 0), VSOCK_E_PENDING); // another caller's token changes nothing
    EXPECT_EQ(vsockConnect(h, &remote, 0), VSOCK_E_TIMEOUT);

    // A deadline that has not passed keeps the operation pending.
    const i32 h2 = openClient();
    ASSERT_EQ(vsockConnect(h2, &remote, 60000), VSOCK_E_PENDING);
    EXPECT_EQ(vsockConnect(h2, &remote, 60000), VSOCK_E_PENDING);
    // The close cuts it off with an event.
    EXPECT_EQ(vsockClose(h2), VSOCK_OK);
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(h2, VSOCK_EVENT_CONNECT, &ev, 1000));
    EXPECT_EQ(ev.result, VSOCK_E_CLOSED);
    closeFd(filler);
    closeFd(listener);
}

TEST_F(VsockSlots, RefusedConnectCompletesWithWrongState)
{
    // A bound socket that does not listen refuses connections.
    const int bound = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(bound, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)), 0);
    socklen_t len = sizeof(sa);
    getsockname(bound, reinterpret_cast<sockaddr*>(&sa), &len);

    const i32 h = openClient();
    const VsockSocketAddress remote = loopback(ntohs(sa.sin_port));
    const i32 rc = vsockConnect(h, &remote, VSOCK_NO_TIMEOUT);
    if (rc == VSOCK_E_PENDING) {
        VsockEvent ev{};
        ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_CONNECT, &ev));
        EXPECT_EQ(ev.result, VSOCK_E_OBJ);
    } else {
        EXPECT_EQ(rc, VSOCK_E_OBJ);
    }
    // Not connected: no stream operations.
    u8 b[4] = {};
    EXPECT_EQ(vsockSend(h, b, 4, VSOCK_NO_TIMEOUT), VSOCK_E_OBJ);
    EXPECT_EQ(vsockRecv(h, b, 4, VSOCK_NO_TIMEOUT), VSOCK_E_OBJ);
    closeFd(bound);
}

TEST_F(VsockSlots, SendReceiveAndOrderlyClose)
{
    int listener = -1;
    int peer = -1;
    const i32 h = connectedClient(&listener, &peer);
    const std::vector<u8> data = pattern(300000, 1);
    // A total above 2^31 - 1 could not be reported as an i32 event result: refused before anything is sent.
    EXPECT_EQ(vsockSend(h, data.data(), 0x80000000u, VSOCK_NO_TIMEOUT), VSOCK_E_ARG);
    // Taken whole by the OS it answers the count at once; else the rest follows and one event reports the total.
    const i32 sent = vsockSend(h, data.data(), static_cast<u32>(data.size()), VSOCK_NO_TIMEOUT);
    std::vector<u8> got(data.size());
    ASSERT_TRUE(readExactly(peer, got.data(), got.size(), 5000));
    EXPECT_EQ(got, data);
    VsockEvent ev{};
    if (sent == VSOCK_E_PENDING) {
        ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_SEND, &ev));
        EXPECT_EQ(ev.result, static_cast<i32>(data.size()));
    } else {
        EXPECT_EQ(sent, static_cast<i32>(data.size()));
    }
    EXPECT_EQ(countEvents(h, VSOCK_EVENT_SEND), 0u);

    u8 buffer[64] = {};
    ASSERT_EQ(vsockRecv(h, buffer, sizeof(buffer), VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    ASSERT_TRUE(writeAll(peer, reinterpret_cast<const u8*>("hello"), 5));
    ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_RECV, &ev));
    EXPECT_EQ(ev.result, 5);
    EXPECT_EQ(std::memcmp(buffer, "hello", 5), 0);

    ASSERT_EQ(vsockRecv(h, buffer, sizeof(buffer), VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    closeFd(peer);
    ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_RECV, &ev));
    EXPECT_EQ(ev.result, 0); // orderly close
    EXPECT_EQ(vsockClose(h), VSOCK_OK);
    closeFd(listener);
}

TEST_F(VsockSlots, CloseCutsOffPendingOperations)
{
    int listener = -1;
    int peer = -1;
    const i32 h = connectedClient(&listener, &peer);
    // A send larger than the socket buffers stays in flight because the peer does not read.
    const std::vector<u8> data = pattern(64u << 20, 2);
    u8 buffer[16];
    ASSERT_EQ(vsockRecv(h, buffer, sizeof(buffer), VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    ASSERT_EQ(vsockSend(h, data.data(), static_cast<u32>(data.size()), VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    EXPECT_EQ(vsockClose(h), VSOCK_OK);
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_SEND, &ev, 1000));
    EXPECT_EQ(ev.result, VSOCK_E_CLOSED);
    ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_RECV, &ev, 1000));
    EXPECT_EQ(ev.result, VSOCK_E_CLOSED);
    EXPECT_EQ(vsockCheckHandle(h), VSOCK_E_CLOSED);
    EXPECT_EQ(vsockSend(h, data.data(), 1, VSOCK_NO_TIMEOUT), VSOCK_E_CLOSED);
    closeFd(peer);
    closeFd(listener);
}

TEST_F(VsockSlots, PeerResetDuringLargeSendIsReportedWithoutSigpipe)
{
    std::signal(SIGPIPE, SIG_DFL); // a send without MSG_NOSIGNAL would end the process
    int listener = -1;
    int peer = -1;
    const i32 h = connectedClient(&listener, &peer);
    const std::vector<u8> data = pattern(64u << 20, 3);
    u8 buffer[16];
    ASSERT_EQ(vsockRecv(h, buffer, sizeof(buffer), VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    ASSERT_EQ(vsockSend(h, data.data(), static_cast<u32>(data.size()), VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    // The reset comes while the send is under way: the peer has received part of it.
    ASSERT_TRUE(vdtest::waitUntil([&] {
        int queued = 0;
        return ::ioctl(peer, FIONREAD, &queued) == 0 && queued > 0;
    }));
    const linger hard{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    closeFd(peer); // reset
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_SEND, &ev));
    EXPECT_EQ(ev.result, VSOCK_E_OBJ);
    ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_RECV, &ev));
    EXPECT_LE(ev.result, 0);
    // A further send meets the broken connection at once and must not raise SIGPIPE either.
    EXPECT_EQ(vsockSend(h, data.data(), 1000, VSOCK_NO_TIMEOUT), VSOCK_E_OBJ);
    EXPECT_EQ(vsockClose(h), VSOCK_OK);
    closeFd(listener);
}

TEST_F(VsockSlots, AcceptedChildExchangesDataAndInheritsTheCallback)
{
    const i32 listener = openListener();
    const u16 port = localPort(listener);
    VsockSocketAddress peer{};
    ASSERT_EQ(vsockAccept(listener, &peer, 0), VSOCK_E_PENDING);
    EXPECT_EQ(vsockAccept(listener, &peer, 0), VSOCK_E_TIMEOUT); // same token, deadline 0
    ASSERT_EQ(vsockAccept(listener, &peer, VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    const int client = rawTcpConnect(port);
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(listener, VSOCK_EVENT_ACCEPT, &ev));
    const i32 child = ev.result;
    ASSERT_GE(child, 0);
    u8 buffer[32] = {};
    ASSERT_EQ(vsockRecv(child, buffer, sizeof(buffer), VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    ASSERT_TRUE(writeAll(client, reinterpret_cast<const u8*>("ping"), 4));
    ASSERT_TRUE(waitEvent(child, VSOCK_EVENT_RECV, &ev));
    EXPECT_EQ(ev.result, 4);
    ASSERT_EQ(vsockSend(child, reinterpret_cast<const u8*>("pong"), 4, VSOCK_NO_TIMEOUT), 4);
    u8 reply[4];
    ASSERT_TRUE(readExactly(client, reply, 4, 3000));
    EXPECT_EQ(std::memcmp(reply, "pong", 4), 0);
    // A listener cannot send and a child cannot accept.
    EXPECT_EQ(vsockSend(listener, reply, 4, VSOCK_NO_TIMEOUT), VSOCK_E_OBJ);
    EXPECT_EQ(vsockAccept(child, &peer, VSOCK_NO_TIMEOUT), VSOCK_E_OBJ);
    closeFd(client);
}

TEST_F(VsockSlots, SendTakenWholeAndBytesAlreadyWaitingCompleteAtOnce)
{
    int listener = -1;
    int peer = -1;
    const i32 h = connectedClient(&listener, &peer);
    const std::vector<u8> data = pattern(64, 5);
    EXPECT_EQ(vsockSend(h, data.data(), 64, VSOCK_NO_TIMEOUT), 64);
    std::vector<u8> got(64);
    ASSERT_TRUE(readExactly(peer, got.data(), 64, 3000));
    EXPECT_EQ(got, data);

    // Bytes that came while no receive was armed are given by the arming call, once.
    u8 buffer[32] = {};
    ASSERT_TRUE(writeAll(peer, reinterpret_cast<const u8*>("early"), 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // loopback delivers within the write; margin
    ASSERT_EQ(vsockRecv(h, buffer, sizeof(buffer), VSOCK_NO_TIMEOUT), 5);
    EXPECT_EQ(std::memcmp(buffer, "early", 5), 0);
    ASSERT_EQ(vsockRecv(h, buffer, sizeof(buffer), VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    ASSERT_TRUE(writeAll(peer, reinterpret_cast<const u8*>("late"), 4));
    VsockEvent ev{};
    ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_RECV, &ev));
    EXPECT_EQ(ev.result, 4);
    EXPECT_EQ(std::memcmp(buffer, "late", 4), 0);
    // Neither the send nor the early bytes raised an event.
    EXPECT_EQ(countEvents(h, VSOCK_EVENT_SEND), 0u);
    EXPECT_EQ(countEvents(h, VSOCK_EVENT_RECV), 0u);

    // End of stream met while arming is reported by the poll task, as ever.
    closeFd(peer);
    const i32 rc = vsockRecv(h, buffer, sizeof(buffer), VSOCK_NO_TIMEOUT);
    if (rc == VSOCK_E_PENDING) {
        ASSERT_TRUE(waitEvent(h, VSOCK_EVENT_RECV, &ev));
        EXPECT_EQ(ev.result, 0);
    } else {
        ADD_FAILURE() << "the end of stream came at once: " << rc;
    }
    EXPECT_EQ(vsockClose(h), VSOCK_OK);
    closeFd(listener);
}

TEST(VsockLayer, OperationsNeedARunningLayer)
{
    VsockOpenParams p = openParams(VSOCK_TYPE_UDP, loopback(0));
    VsockOptions o = recordingOptions();
    EXPECT_EQ(vsockFinalize(), VSOCK_E_OBJ);
    EXPECT_EQ(vsockOpen(&p, &o), VSOCK_E_OBJ);
    startLayer();
    EXPECT_EQ(vsockInitialize(), VSOCK_OK); // already running
    const i32 h = vsockOpen(&p, &o);
    EXPECT_GE(h, 0);
    EXPECT_EQ(vsockFinalize(), VSOCK_OK); // open slots are not closed by the stop
    EXPECT_EQ(vsockCheckHandle(h), VSOCK_E_OBJ);
    // Started again, the layer has a clean table.
    startLayer();
    EXPECT_EQ(vsockCheckHandle(h), VSOCK_E_CLOSED);
    stopLayer();
}
