// Echo integrity through the socket classes: random sizes and random pieces, checked with CRC-32, so that
// any loss, reordering or duplication shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "vcom_TestSupport.h"
#include "vdtest_Support.h"

using namespace vcomtest;
using namespace vsocktest;
using namespace VCOM;

namespace {

// Sends as much of `backlog` as the socket takes; the rest waits for onSent.
void pushOut(IVCom* socket, std::vector<u8>& backlog)
{
    while (!backlog.empty()) {
        u32 taken = 0;
        socket->send(backlog.data(), static_cast<u32>(std::min<size_t>(backlog.size(), 20000)), &taken);
        if (taken == 0) {
            return;
        }
        backlog.erase(backlog.begin(), backlog.begin() + taken);
    }
}

struct Transfer
{
    u32 sentCrc = 0;
    u32 receivedCrc = 0;
    size_t received = 0;
};

} // namespace

TEST_F(VcomTest, TcpServerEchoesRandomPiecesIntact)
{
    TestOwner owner;
    RecordingCallback cb;
    VComTcpServerSocket server(4);
    ASSERT_EQ(server.initialize(1, &owner), VCOM_OK);
    ASSERT_EQ(server.listen(VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), 0), VCOM_IN_PROGRESS);
    const u16 port = localPort(server.getHandle());

    std::vector<std::vector<u8>> backlog(5);
    std::mt19937 rng(1234);
    cb.m_onReceived = [&](u32, u8 child) {
        IVCom* socket = server.getSocket(child);
        std::vector<u8> piece(1 + rng() % 9000);
        u32 n = 0;
        while (socket != nullptr && socket->receive(piece.data(), static_cast<u32>(piece.size()), &n) >= 0 && n > 0) {
            backlog[child].insert(backlog[child].end(), piece.begin(), piece.begin() + n);
        }
        if (socket != nullptr) {
            pushOut(socket, backlog[child]);
        }
    };
    cb.m_onSent = [&](u32, u8 child, i32) {
        if (IVCom* socket = server.getSocket(child)) {
            pushOut(socket, backlog[child]);
        }
    };

    constexpr int ROUNDS = 3;
    std::atomic<int> finished{0};
    std::vector<Transfer> results(ROUNDS);
    std::vector<std::thread> clients;
    for (int r = 0; r < ROUNDS; ++r) {
        clients.emplace_back([&, r] {
            std::mt19937 local(77 + r);
            const size_t total = 1 + local() % (1u << 20);
            const std::vector<u8> data = pattern(total, 900 + r);
            results[r].sentCrc = crc32(data.data(), data.size());
            const int fd = rawTcpConnect(port);
            std::thread writer([&] {
                size_t done = 0;
                std::mt19937 w(5 + r);
                while (done < total) {
                    const size_t piece = std::min<size_t>(total - done, 1 + w() % 70000);
                    if (!writeAll(fd, data.data() + done, piece)) {
                        return;
                    }
                    done += piece;
                }
            });
            std::vector<u8> buffer(65536);
            u32 crc = 0;
            size_t got = 0;
            while (got < total) {
                const size_t want = std::min<size_t>(buffer.size(), 1 + local() % 50000);
                if (!waitReadable(fd, 20000)) {
                    break;
                }
                const ssize_t n = recv(fd, buffer.data(), want, 0);
                if (n <= 0) {
                    break;
                }
                crc = crc32(buffer.data(), static_cast<size_t>(n), crc);
                got += static_cast<size_t>(n);
            }
            writer.join();
            results[r].receivedCrc = crc;
            results[r].received = got;
            ::close(fd);
            ++finished;
        });
    }
    const bool done = owner.pumpUntil(
        {&server}, &cb, [&] { return finished.load() == ROUNDS; }, 60000);
    for (auto& t : clients) {
        t.join();
    }
    ASSERT_TRUE(done);
    for (int r = 0; r < ROUNDS; ++r) {
        EXPECT_EQ(results[r].receivedCrc, results[r].sentCrc) << r;
    }
    EXPECT_EQ(cb.count(Cb::Accepted), static_cast<size_t>(ROUNDS));
    server.release();
}

TEST_F(VcomTest, TcpClientExchangesRandomPiecesWithAnEchoPeer)
{
    u16 port = 0;
    const int listener = rawTcpListen(&port);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        const int fd = rawAccept(listener, 10000);
        std::vector<u8> buffer(65536);
        while (fd >= 0 && !stop.load()) {
            if (!waitReadable(fd, 20)) {
                continue;
            }
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0 || !writeAll(fd, buffer.data(), static_cast<size_t>(n))) {
                break;
            }
        }
        if (fd >= 0) {
            ::close(fd);
        }
    });

    TestOwner owner;
    RecordingCallback cb;
    VComTcpClientSocket client;
    ASSERT_EQ(client.initialize(2, &owner), VCOM_OK);
    client.connect(VComSocketAddress(), VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), port);
    ASSERT_TRUE(owner.pumpUntil({&client}, &cb, [&] { return client.isConnected(); }));

    std::mt19937 rng(99);
    const size_t total = 300000 + rng() % (1u << 20);
    const std::vector<u8> data = pattern(total, 4242);
    size_t offered = 0;
    u32 crc = 0;
    size_t got = 0;
    auto offer = [&] {
        while (offered < total) {
            const u32 piece = static_cast<u32>(std::min<size_t>(total - offered, 1 + rng() % 30000));
            u32 taken = 0;
            client.send(data.data() + offered, piece, &taken);
            offered += taken;
            if (taken < piece) {
                return;
            }
        }
    };
    cb.m_onSent = [&](u32, u8, i32) { offer(); };
    cb.m_onReceived = [&](u32, u8) {
        std::vector<u8> buffer(1 + rng() % 20000);
        u32 n = 0;
        while (client.receive(buffer.data(), static_cast<u32>(buffer.size()), &n) >= 0 && n > 0) {
            crc = crc32(buffer.data(), n, crc);
            got += n;
        }
    };
    offer();
    const bool done = owner.pumpUntil(
        {&client}, &cb, [&] { return got >= total; }, 60000);
    stop = true;
    client.release();
    echo.join();
    ::close(listener);
    ASSERT_TRUE(done) << got << " of " << total;
    EXPECT_EQ(got, total);
    EXPECT_EQ(crc, crc32(data.data(), data.size()));
    EXPECT_EQ(cb.count(Cb::CommunicationFailed), 0u);
}

TEST_F(VcomTest, UdpEchoKeepsEveryDatagramIntact)
{
    TestOwner owner;
    RecordingCallback cb;
    VComUdpSocket udp;
    ASSERT_EQ(udp.initialize(3, &owner), VCOM_OK);
    ASSERT_EQ(udp.open(VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), 0), VCOM_OK);
    u16 rawPort = 0;
    const int raw = rawUdp(&rawPort);
    ASSERT_EQ(udp.setDestination(VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), rawPort), VCOM_OK);

    // The socket echoes to the datagram's source; one datagram in flight, the rest wait in a queue.
    std::vector<std::vector<u8>> queue;
    auto pump = [&] {
        if (!queue.empty() && udp.getSendableSize() > 0) {
            u32 taken = 0;
            if (udp.send(queue.front().data(), static_cast<u32>(queue.front().size()), &taken) == VCOM_IN_PROGRESS) {
                queue.erase(queue.begin());
            }
        }
    };
    cb.m_onReceived = [&](u32, u8) {
        std::vector<u8> buffer(1472);
        u32 n = 0;
        while (udp.receive(buffer.data(), 1472, &n) == VCOM_OK && n > 0) {
            queue.emplace_back(buffer.begin(), buffer.begin() + n);
        }
        pump();
    };
    cb.m_onSent = [&](u32, u8, i32) { pump(); };

    // The first datagram from the socket tells the raw peer its port.
    const u8 hello[1] = {0};
    u32 taken = 0;
    ASSERT_EQ(udp.send(hello, 1, &taken), VCOM_IN_PROGRESS);
    ASSERT_TRUE(owner.pumpUntil({&udp}, &cb, [&] { return cb.count(Cb::Sent) == 1; }));
    u8 scratch[4];
    ASSERT_TRUE(waitReadable(raw, 2000));
    ASSERT_EQ(recv(raw, scratch, sizeof(scratch), 0), 1);
    const u16 port = localPort(udp.getHandle());

    constexpr int COUNT = 300;
    std::atomic<bool> peerDone{false};
    u32 sentCrc = 0;
    u32 echoedCrc = 0;
    int echoed = 0;
    std::thread peer([&] {
        std::mt19937 rng(31);
        std::vector<u8> buffer(2048);
        for (int i = 0; i < COUNT; ++i) {
            const std::vector<u8> d = pattern(1 + rng() % 1472, static_cast<u32>(i));
            sentCrc = crc32(d.data(), d.size(), sentCrc);
            rawSendTo(raw, port, d.data(), d.size());
            if (!waitReadable(raw, 5000)) {
                break;
            }
            const ssize_t n = recv(raw, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                break;
            }
            echoedCrc = crc32(buffer.data(), static_cast<size_t>(n), echoedCrc);
            ++echoed;
        }
        peerDone = true;
    });
    const bool done = owner.pumpUntil(
        {&udp}, &cb, [&] { return peerDone.load(); }, 60000);
    peer.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(echoed, COUNT);
    EXPECT_EQ(echoedCrc, sentCrc);
    udp.release();
    closeFd(raw);
}

TEST_F(VcomTest, ServerAndClientClassesEchoAThousandRoundTrips)
{
    TestOwner owner;
    RecordingCallback serverCb;
    RecordingCallback clientCb;
    VComTcpServerSocket server(1);
    VComTcpClientSocket client;
    ASSERT_EQ(server.initialize(1, &owner), VCOM_OK);
    ASSERT_EQ(server.listen(VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), 0), VCOM_IN_PROGRESS);
    ASSERT_EQ(client.initialize(2, &owner), VCOM_OK);
    client.connect(VComSocketAddress(), VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"),
                   static_cast<u16>(localPort(server.getHandle())));
    // One owner loop runs both ends, as the application's threads do.
    auto pump = [&](const std::function<bool()>& pred) {
        return owner.pumpUntil(
            {&server}, &serverCb,
            [&] {
                client.handleEvents(&clientCb);
                return pred();
            },
            10000);
    };
    ASSERT_TRUE(pump([&] { return client.isConnected() && server.getConnectionCount() == 1; }));

    std::vector<u8> echoBacklog;
    serverCb.m_onReceived = [&](u32, u8 child) {
        IVCom* socket = server.getSocket(child);
        u8 piece[4096];
        u32 n = 0;
        while (socket != nullptr && socket->receive(piece, sizeof(piece), &n) >= 0 && n > 0) {
            echoBacklog.insert(echoBacklog.end(), piece, piece + n);
        }
        if (socket != nullptr) {
            pushOut(socket, echoBacklog);
        }
    };
    serverCb.m_onSent = [&](u32, u8 child, i32) {
        if (IVCom* socket = server.getSocket(child)) {
            pushOut(socket, echoBacklog);
        }
    };
    std::vector<u8> got;
    clientCb.m_onReceived = [&](u32, u8) {
        u8 piece[4096];
        u32 n = 0;
        while (client.receive(piece, sizeof(piece), &n) >= 0 && n > 0) {
            got.insert(got.end(), piece, piece + n);
        }
    };

    std::mt19937 rng(2024);
    for (int trip = 0; trip < 1000; ++trip) {
        const std::vector<u8> message = pattern(1 + rng() % 15000, static_cast<u32>(trip));
        got.clear();
        u32 taken = 0;
        ASSERT_EQ(client.send(message.data(), static_cast<u32>(message.size()), &taken), VCOM_IN_PROGRESS);
        ASSERT_EQ(taken, message.size());
        ASSERT_TRUE(pump([&] { return got.size() >= message.size(); })) << trip;
        ASSERT_EQ(got, message) << trip;
    }
    EXPECT_EQ(clientCb.count(Cb::CommunicationFailed) + serverCb.count(Cb::CommunicationFailed), 0u);
    client.release();
    server.release();
}

TEST_F(VcomTest, OneWakeUpServesEveryEventRecordedBeforeTheOwnerRuns)
{
    u16 port = 0;
    const int listener = rawTcpListen(&port);
    TestOwner owner;
    RecordingCallback cb;
    VComTcpClientSocket client;
    ASSERT_EQ(client.initialize(5, &owner), VCOM_OK);
    client.connect(VComSocketAddress(), VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), port);
    ASSERT_TRUE(owner.pumpUntil({&client}, &cb, [&] { return client.isConnected(); }));
    const int peer = rawAccept(listener);
    ASSERT_GE(peer, 0);
    const u32 before = owner.wakeups();

    // The receive completes on the poll task and wakes the owner once ...
    ASSERT_TRUE(writeAll(peer, reinterpret_cast<const u8*>("data"), 4));
    ASSERT_TRUE(vdtest::waitUntil([&] { return owner.wakeups() == before + 1; }));
    // ... and a send the OS takes at once, still answered 1, is recorded without a second wake-up.
    const std::vector<u8> message = pattern(64, 9);
    u32 taken = 0;
    EXPECT_EQ(client.send(message.data(), 64, &taken), VCOM_IN_PROGRESS);
    EXPECT_EQ(taken, 64u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(owner.wakeups(), before + 1);
    EXPECT_EQ(cb.count(Cb::Sent), 0u); // onSent comes from handleEvents only

    // One handleEvents runs both callbacks, on this thread.
    EXPECT_EQ(client.handleEvents(&cb), VCOM_OK);
    EXPECT_EQ(cb.count(Cb::Received), 1u);
    EXPECT_EQ(cb.values(Cb::Sent), (std::vector<i64>{64}));
    owner.pumpFor({&client}, &cb, 30);
    EXPECT_EQ(cb.count(Cb::Sent), 1u);
    std::vector<u8> got(64);
    ASSERT_TRUE(readExactly(peer, got.data(), 64, 3000));
    EXPECT_EQ(got, message);
    client.release();
    closeFd(peer);
    closeFd(listener);
}
