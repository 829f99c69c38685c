// Received lines through the client unit over loopback, against a plain socket-class receive loop that splits at
// the line feed (with and without decoding each line) and a raw recv loop, on the same kind of link in the same
// run. Argument 0: 10 000 request lines of 200 bytes; 1: one line of 4 MiB.
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "os_Tasks.h"
#include "vcom_Socket.h"
#include "vdp_ClientUnit.h"
#include "vdp_PacketConvertor.h"

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

struct Payload
{
    std::string bytes;
    size_t lines = 0;
};

const Payload& payloadOf(int which)
{
    static const Payload many = [] {
        Payload p;
        for (int i = 0; i < 10000; ++i) {
            std::string line = R"({"request":{"cmd":"set_prm_val","reqid":")" + std::to_string(i) +
                               R"(","cmdinfo":{"info":{"prmAddr":"AudioCompo/#12/ZOZ/Object/Pair:0:3","prmValue":")";
            line += std::string(200 - 6 - line.size(), 'v') + R"("}}}})"
                                                              "\n";
            p.bytes += line;
        }
        p.lines = 10000;
        return p;
    }();
    static const Payload big = [] {
        Payload p;
        const std::string head = R"({"request":{"cmd":"setData_x","reqid":"1","from":")";
        p.bytes = head + std::string((4u << 20) - head.size() - 4, 'b') +
                  R"("}})"
                  "\n";
        p.lines = 1;
        return p;
    }();
    return which == 0 ? many : big;
}

sockaddr_in loopbackAddress(u16 port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

// A raw peer that writes the payload each time it is asked to.
class Feeder
{
public:
    explicit Feeder(const std::string& payload) : m_payload(payload)
    {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa = loopbackAddress(0);
        bind(m_listener, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
        listen(m_listener, 4);
        socklen_t len = sizeof(sa);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&sa), &len);
        m_port = ntohs(sa.sin_port);
    }
    ~Feeder()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        m_signal.notify_one();
        if (m_thread.joinable()) {
            m_thread.join();
        }
        close(m_fd);
        close(m_listener);
    }
    u16 port() const { return m_port; }
    // Accepts the connection (after the client connected) and starts the writer.
    void accept()
    {
        m_fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        const int on = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        m_thread = std::thread([this] { run(); });
    }
    void go()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_requests;
        }
        m_signal.notify_one();
    }

private:
    void run()
    {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_signal.wait(lock, [this] { return m_stop || m_requests > 0; });
                if (m_stop) {
                    return;
                }
                --m_requests;
            }
            size_t done = 0;
            while (done < m_payload.size()) {
                const ssize_t n = send(m_fd, m_payload.data() + done, m_payload.size() - done, MSG_NOSIGNAL);
                if (n <= 0) {
                    return;
                }
                done += static_cast<size_t>(n);
            }
        }
    }

    const std::string& m_payload;
    int m_listener = -1;
    int m_fd = -1;
    u16 m_port = 0;
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_signal;
    int m_requests = 0;
    bool m_stop = false;
};

// Owner loop: waits for a wake-up, counting them.
class Owner : public VCOM::IVComWakeupFunction
{
public:
    void wakeup(u16, VCOM::IVCom*) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_woken = true;
            ++m_wakeups;
        }
        m_signal.notify_one();
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_signal.wait_for(lock, std::chrono::milliseconds(20), [this] { return m_woken; })) {
            ++m_passes;
        }
        m_woken = false;
    }
    // Wake-up signals of the socket, and passes of the owner loop that found one.
    u64 wakeups()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_wakeups;
    }
    u64 passes()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_passes;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_signal;
    bool m_woken = false;
    u64 m_wakeups = 0;
    u64 m_passes = 0;
};

class CountingObserver : public VDProtocol::IVDProtocolConnectObserver
{
public:
    void onConnected() override { m_connected = true; }
    void onConnectionFailed(u32, u8) override { std::abort(); }
    void onDisconnected() override {}
    void onReceivePacket(const VDProtocol::PacketContainer& packet) override
    {
        benchmark::DoNotOptimize(packet.m_reqId.data());
        ++m_packets;
    }
    bool m_connected = false;
    size_t m_packets = 0;
};

// Wake-up signals of the socket and passes of the owner loop, per MiB received.
void setCounters(benchmark::State& state, size_t bytes, u64 wakeups, u64 passes)
{
    const double mebibytes = static_cast<double>(state.iterations() * bytes) / (1024.0 * 1024.0);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["wakeups_per_MiB"] = static_cast<double>(wakeups) / mebibytes;
    state.counters["passes_per_MiB"] = static_cast<double>(passes) / mebibytes;
}

void BM_ClientUnit(benchmark::State& state)
{
    ensureLayer();
    const Payload& payload = payloadOf(static_cast<int>(state.range(0)));
    Feeder feeder(payload.bytes);
    Owner owner;
    CountingObserver observer;
    VDProtocol::VDProtocolClientUnit unit;
    if (unit.initialize("bench", VCOM::VComSocketAddress(), &owner, &observer) != 0 ||
        unit.connect(VCOM::VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), feeder.port()) != 0) {
        std::abort();
    }
    while (!observer.m_connected) {
        owner.wait();
        unit.processSocketEvents();
    }
    feeder.accept();
    const u64 before = owner.wakeups();
    const u64 passesBefore = owner.passes();
    for (auto _ : state) {
        observer.m_packets = 0;
        feeder.go();
        while (observer.m_packets < payload.lines) {
            owner.wait();
            unit.processSocketEvents();
        }
    }
    setCounters(state, payload.bytes.size(), owner.wakeups() - before, owner.passes() - passesBefore);
}

// The socket class alone: 1024-byte reads while the socket reports more, lines split at the line feed and, with
// decode set, each line decoded as the unit decodes it.
class PlainReceiver : public VCOM::IVComCallback
{
public:
    PlainReceiver(VCOM::VComTcpClientSocket& socket, bool decode) : m_socket(socket), m_decode(decode) {}
    void onConnected(u32, u8) override { m_connected = true; }
    void onConnectionFailed(u32, u8, u32) override { std::abort(); }
    void onDisconnected(u32, u8) override {}
    void onAccepted(u32, u8, u8) override {}
    void onSent(u32, u8, i32) override {}
    void onCommunicationFailed(u32, u8, u32) override {}
    void onReceived(u32, u8) override
    {
        u8 chunk[1024];
        for (;;) {
            u32 got = 0;
            const i32 result = m_socket.receive(chunk, sizeof(chunk), &got);
            if (result < 0 || got == 0) {
                return;
            }
            split(chunk, got);
            if (result != VCOM::VCOM_MORE_DATA) {
                return;
            }
        }
    }

    bool m_connected = false;
    size_t m_lines = 0;

private:
    void split(const u8* data, size_t length)
    {
        const u8* p = data;
        const u8* const end = data + length;
        while (p < end) {
            const auto* feed = static_cast<const u8*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (feed == nullptr) {
                if (m_decode) {
                    m_line.append(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
                }
                return;
            }
            if (m_decode) {
                m_line.append(reinterpret_cast<const char*>(p), static_cast<size_t>(feed - p));
                if (VDProtocol::decodePacket(m_line, m_packet) != 0) {
                    std::abort();
                }
                m_line.clear();
            }
            ++m_lines;
            p = feed + 1;
        }
    }

    VCOM::VComTcpClientSocket& m_socket;
    bool m_decode;
    std::string m_line;
    VDProtocol::PacketContainer m_packet;
};

void plainLoop(benchmark::State& state, bool decode)
{
    ensureLayer();
    const Payload& payload = payloadOf(static_cast<int>(state.range(0)));
    Feeder feeder(payload.bytes);
    Owner owner;
    VCOM::VComTcpClientSocket socket;
    PlainReceiver receiver(socket, decode);
    socket.initialize(1, &owner);
    socket.connect(VCOM::VComSocketAddress(), VCOM::VComSocketAddress(VSOCK_FAMILY_IPV4, "127.0.0.1"), feeder.port());
    while (!receiver.m_connected) {
        owner.wait();
        socket.handleEvents(&receiver);
    }
    feeder.accept();
    const u64 before = owner.wakeups();
    const u64 passesBefore = owner.passes();
    for (auto _ : state) {
        receiver.m_lines = 0;
        feeder.go();
        while (receiver.m_lines < payload.lines) {
            owner.wait();
            socket.handleEvents(&receiver);
        }
    }
    setCounters(state, payload.bytes.size(), owner.wakeups() - before, owner.passes() - passesBefore);
    socket.release();
}

void BM_SocketSplit(benchmark::State& state)
{
    plainLoop(state, false);
}
void BM_SocketSplitDecode(benchmark::State& state)
{
    plainLoop(state, true);
}

// A raw blocking recv loop into 64 KiB that counts line feeds.
void BM_RawRecv(benchmark::State& state)
{
    const Payload& payload = payloadOf(static_cast<int>(state.range(0)));
    Feeder feeder(payload.bytes);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackAddress(feeder.port());
    connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    feeder.accept();
    std::string buffer(64 * 1024, '\0');
    for (auto _ : state) {
        size_t lines = 0;
        feeder.go();
        while (lines < payload.lines) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                std::abort();
            }
            const char* p = buffer.data();
            const char* const end = p + n;
            while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr) {
                ++lines;
                ++p;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.bytes.size()));
    close(fd);
}

BENCHMARK(BM_ClientUnit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketSplit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketSplitDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawRecv)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
