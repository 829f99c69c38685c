// Meter-datagram ingest on loopback: the client (slot layer, socket wake-up, owner loop, accessor) against a
// plain blocking recvfrom loop on a socket joined to the same group. Each iteration sends a batch of 64-byte
// datagrams to the group and waits until the receiver has taken all of them.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "kmdp_KMDPClient.h"
#include "os_Tasks.h"
#include "vsock_Socket.h"

namespace {

constexpr int BATCH = 64;
constexpr u32 PAYLOAD = 64;
constexpr const char* GROUP = "239.255.77.1";

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

u16 freePort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    socklen_t len = sizeof(sa);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    close(fd);
    return ntohs(sa.sin_port);
}

class Sender
{
public:
    explicit Sender(u16 port) : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)), m_payload(PAYLOAD, 0x21)
    {
        in_addr loop{};
        loop.s_addr = htonl(INADDR_LOOPBACK);
        setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &loop, sizeof(loop));
        const u8 ttl = 0;
        setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl));
        m_to.sin_family = AF_INET;
        m_to.sin_port = htons(port);
        inet_pton(AF_INET, GROUP, &m_to.sin_addr);
    }
    ~Sender() { close(m_fd); }
    void batch()
    {
        for (int i = 0; i < BATCH; ++i) {
            sendto(m_fd, m_payload.data(), m_payload.size(), 0, reinterpret_cast<sockaddr*>(&m_to), sizeof(m_to));
        }
    }

private:
    int m_fd;
    std::vector<u8> m_payload;
    sockaddr_in m_to{};
};

// The owner of the client: a wake-up flag, and an accessor that copies each datagram into a meter array.
class Owner : public VCOM::IVComWakeupFunction, public KMDP::IClientMeterDataAccessor
{
public:
    void wakeup(u16, VCOM::IVCom*) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_woken = true;
        }
        m_signal.notify_one();
    }
    i32 setMeterData(const u8* data, u32 length) override
    {
        if (length < 6 || length > sizeof(m_meters)) {
            return KMDP::KMDP_E_FAILED;
        }
        std::memcpy(m_meters, data, length);
        ++m_count;
        return KMDP::KMDP_OK;
    }
    void waitFor(KMDP::KMDPClient& client, u64 target)
    {
        while (m_count < target) {
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_signal.wait_for(lock, std::chrono::milliseconds(20), [this] { return m_woken; });
                m_woken = false;
            }
            client.processSocketEvents();
        }
    }

    u64 m_count = 0;
    u8 m_meters[PAYLOAD] = {};

private:
    std::mutex m_lock;
    std::condition_variable m_signal;
    bool m_woken = false;
};

void ingestClient(benchmark::State& state)
{
    ensureLayer();
    const u16 port = freePort();
    Owner owner;
    KMDP::KMDPClient client(GROUP, port);
    KMDP::MeterAddress any;
    if (client.initialize(&owner, &owner, nullptr) != 0 || client.open(0x7F000001, any, "PRCS") != 0) {
        state.SkipWithError("cannot open the client");
        return;
    }
    Sender sender(port);
    for (auto _ : state) {
        sender.batch();
        owner.waitFor(client, owner.m_count + BATCH);
    }
    benchmark::DoNotOptimize(owner.m_meters);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * BATCH);
    client.close();
}

void ingestPlain(benchmark::State& state)
{
    const u16 port = freePort();
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local));
    ip_mreqn join{};
    inet_pton(AF_INET, GROUP, &join.imr_multiaddr);
    join.imr_address.s_addr = htonl(INADDR_LOOPBACK);
    if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof(join)) != 0) {
        state.SkipWithError("cannot join the group");
        close(fd);
        return;
    }
    Sender sender(port);
    u8 buffer[2048];
    u8 meters[PAYLOAD];
    for (auto _ : state) {
        sender.batch();
        for (int i = 0; i < BATCH; ++i) {
            const ssize_t n = recvfrom(fd, buffer, sizeof(buffer), 0, nullptr, nullptr);
            if (n >= 6 && static_cast<size_t>(n) <= sizeof(meters)) {
                std::memcpy(meters, buffer, static_cast<size_t>(n));
            }
        }
    }
    benchmark::DoNotOptimize(meters);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * BATCH);
    close(fd);
}

} // namespace

BENCHMARK(ingestClient)->UseRealTime()->MinTime(0.5);
BENCHMARK(ingestPlain)->UseRealTime()->MinTime(0.5);
