// Socket classes against raw sockets on loopback: echo round trip, one-way TCP throughput, UDP receive rate.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "os_Tasks.h"
#include "vcom_Socket.h"

using namespace VCOM;

namespace {

void ensureLayer()
{
    static const bool started = [] {
        if (!ossupport::isInitialized()) {
            ossupport::initialize();
        }
        return vsockInitialize() == VSOCK_OK;
    }();
    if (!started) {
        std::abort();
    }
}

class Owner : public IVComWakeupFunction, public IVComCallback
{
public:
    void wakeup(u16, IVCom*) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_woken = true;
        }
        m_signal.notify_one();
    }
    // One pass of the owner loop: wait for a wake-up, then handle the socket's events.
    void pass(IVCom& socket)
    {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_signal.wait_for(lock, std::chrono::milliseconds(20), [this] { return m_woken; });
            m_woken = false;
        }
        socket.handleEvents(this);
    }
    void onConnected(u32, u8) override { m_connected = true; }
    void onConnectionFailed(u32, u8, u32) override {}
    void onDisconnected(u32, u8) override { m_connected = false; }
    void onAccepted(u32, u8, u8) override {}
    void onReceived(u32, u8) override
    {
        if (m_onReceived) {
            m_onReceived();
        }
    }
    void onSent(u32, u8, i32) override
    {
        if (m_onSent) {
            m_onSent();
        }
    }
    void onCommunicationFailed(u32, u8, u32) override {}

    bool m_connected = false;
    std::function<void()> m_onReceived;
    std::function<void()> m_onSent;

private:
    std::mutex m_lock;
    std::condition_variable m_signal;
    bool m_woken = false;
};

sockaddr_in loopbackAddress(u16 port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

int listenOn(u16* port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackAddress(0);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    listen(fd, 4);
    socklen_t len = sizeof(sa);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return fd;
}

int connectTo(u16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackAddress(port);
    connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    return fd;
}

// A raw peer thread: echoes (or only drains) one accepted connection until it closes.
class RawPeer
{
public:
    RawPeer(bool echo) : m_listener(listenOn(&m_port))
    {
        m_thread = std::thread([this, echo] {
            const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
            std::vector<char> buffer(1 << 16);
            for (;;) {
                const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
                if (n <= 0) {
                    break;
                }
                if (echo) {
                    ssize_t done = 0;
                    while (done < n) {
                        const ssize_t w = send(fd, buffer.data() + done, static_cast<size_t>(n - done), MSG_NOSIGNAL);
                        if (w <= 0) {
                            break;
                        }
                        done += w;
                    }
                }
            }
            close(fd);
        });
    }
    ~RawPeer()
    {
        m_thread.join();
        close(m_listener);
    }
    u16 port() const { return m_port; }

private:
    u16 m_port = 0; // before m_listener, which fills it
    int m_listener;
    std::thread m_thread;
};

void connectClient(VComTcpClientSocket& client, Owner& owner, u16 port)
{
    client.initialize(1, &owner);
    client.connect(VComSocketAddress(), VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), port);
    while (!owner.m_connected) {
        owner.pass(client);
    }
}

void echoRoundTripVcom(benchmark::State& state)
{
    ensureLayer();
    const u32 size = static_cast<u32>(state.range(0));
    RawPeer peer(true);
    Owner owner;
    VComTcpClientSocket client;
    connectClient(client, owner, peer.port());
    std::vector<u8> message(size, 0x5A);
    std::vector<u8> buffer(size);
    u32 received = 0;
    owner.m_onReceived = [&] {
        u32 n = 0;
        while (client.receive(buffer.data(), size, &n) >= 0 && n > 0) {
            received += n;
        }
    };
    for (auto _ : state) {
        received = 0;
        u32 taken = 0;
        client.send(message.data(), size, &taken);
        while (received < size) {
            owner.pass(client);
        }
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations()) * size);
    client.release();
}

void echoRoundTripRaw(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    RawPeer peer(true);
    const int fd = connectTo(peer.port());
    std::vector<char> message(size, 0x5A);
    std::vector<char> buffer(size);
    for (auto _ : state) {
        send(fd, message.data(), size, MSG_NOSIGNAL);
        size_t got = 0;
        while (got < size) {
            const ssize_t n = recv(fd, buffer.data() + got, size - got, 0);
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations()) * static_cast<i64>(size));
    close(fd);
}

constexpr size_t ONE_WAY_BYTES = 100u << 20;

void oneWayVcom(benchmark::State& state)
{
    ensureLayer();
    for (auto _ : state) {
        RawPeer sink(false);
        Owner owner;
        VComTcpClientSocket client;
        connectClient(client, owner, sink.port());
        std::vector<u8> block(15000, 0x33);
        size_t offered = 0;
        auto offer = [&] {
            while (offered < ONE_WAY_BYTES) {
                u32 taken = 0;
                const u32 piece = static_cast<u32>(std::min<size_t>(block.size(), ONE_WAY_BYTES - offered));
                client.send(block.data(), piece, &taken);
                offered += taken;
                if (taken < piece) {
                    return;
                }
            }
        };
        owner.m_onSent = offer;
        offer();
        while (client.getSendableSize() < 15000 || offered < ONE_WAY_BYTES) {
            owner.pass(client);
        }
        client.release(); // the sink sees the close and ends
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * ONE_WAY_BYTES));
}

void oneWayRaw(benchmark::State& state)
{
    for (auto _ : state) {
        RawPeer sink(false);
        const int fd = connectTo(sink.port());
        std::vector<char> block(15000, 0x33);
        size_t sent = 0;
        while (sent < ONE_WAY_BYTES) {
            const ssize_t n = send(fd, block.data(), std::min(block.size(), ONE_WAY_BYTES - sent), MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            sent += static_cast<size_t>(n);
        }
        close(fd);
    }
    state.SetBytesProcessed(static_cast<i64>(state.iterations() * ONE_WAY_BYTES));
}

constexpr int DATAGRAMS = 20000;
constexpr size_t DATAGRAM_BYTES = 512;

// A sender thread paced by the receiver: it keeps at most `window` datagrams outstanding, so that neither
// side loses datagrams and the rate is the receiver's.
void udpSender(u16 port, std::atomic<int>* received, int window)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackAddress(port);
    std::vector<char> d(DATAGRAM_BYTES, 0x44);
    for (int sent = 0; sent < DATAGRAMS;) {
        if (sent - received->load() >= window) {
            std::this_thread::yield();
            continue;
        }
        sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
        ++sent;
    }
    close(fd);
}

void udpReceiveVcom(benchmark::State& state)
{
    ensureLayer();
    Owner owner;
    VComUdpSocket udp;
    udp.initialize(1, &owner);
    udp.open(VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), 0);
    // Bind by a first datagram to a throw-away peer, then learn the port.
    const int sink = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackAddress(0);
    bind(sink, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    socklen_t len = sizeof(sa);
    getsockname(sink, reinterpret_cast<sockaddr*>(&sa), &len);
    udp.setDestination(VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), ntohs(sa.sin_port));
    const u8 probe = 1;
    u32 taken = 0;
    bool sent = false;
    owner.m_onSent = [&] { sent = true; };
    udp.send(&probe, 1, &taken);
    while (!sent) {
        owner.pass(udp);
    }
    const u32 port = udp.getBoundPort();

    std::vector<u8> buffer(2048);
    std::atomic<int> received{0};
    owner.m_onReceived = [&] {
        u32 n = 0;
        while (udp.receive(buffer.data(), 2048, &n) == VCOM_OK && n > 0) {
            ++received;
        }
    };
    for (auto _ : state) {
        received = 0;
        std::thread sender(udpSender, static_cast<u16>(port), &received, 24);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (received.load() < DATAGRAMS && std::chrono::steady_clock::now() < deadline) {
            owner.pass(udp);
        }
        sender.join();
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations()) * DATAGRAMS);
    udp.release();
    close(sink);
}

void udpReceiveRaw(benchmark::State& state)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackAddress(0);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    socklen_t len = sizeof(sa);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    const u16 port = ntohs(sa.sin_port);
    std::vector<char> buffer(2048);
    std::atomic<int> received{0};
    for (auto _ : state) {
        received = 0;
        std::thread sender(udpSender, port, &received, 24);
        while (received.load() < DATAGRAMS) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) != 1) {
                break;
            }
            if (recvfrom(fd, buffer.data(), buffer.size(), 0, nullptr, nullptr) > 0) {
                ++received;
            }
        }
        sender.join();
    }
    state.SetItemsProcessed(static_cast<i64>(state.iterations()) * DATAGRAMS);
    close(fd);
}

} // namespace

BENCHMARK(echoRoundTripVcom)->Arg(64)->Arg(4096)->UseRealTime();
BENCHMARK(echoRoundTripRaw)->Arg(64)->Arg(4096)->UseRealTime();
BENCHMARK(oneWayVcom)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(oneWayRaw)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(udpReceiveVcom)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(udpReceiveRaw)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
