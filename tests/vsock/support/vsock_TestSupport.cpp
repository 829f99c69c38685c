#include "vsock_TestSupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <linux/sockios.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "os_Tasks.h"

namespace vsocktest {

namespace {

struct Recorded
{
    i32 handle;
    VsockEvent event;
};

std::mutex& recorderLock()
{
    static std::mutex lock;
    return lock;
}

std::condition_variable& recorderSignal()
{
    static std::condition_variable cv;
    return cv;
}

std::deque<Recorded>& recorded()
{
    static std::deque<Recorded> events;
    return events;
}

void recordEvent(i32 handle, const VsockEvent* event)
{
    {
        std::lock_guard<std::mutex> guard(recorderLock());
        recorded().push_back({handle, *event});
    }
    recorderSignal().notify_all();
}

sockaddr_in loopbackSockaddr(u16 port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

u16 boundPort(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

} // namespace

void startLayer()
{
    if (!ossupport::isInitialized()) {
        ASSERT_EQ(ossupport::initialize(), 0u);
    }
    ASSERT_EQ(vsockInitialize(), VSOCK_OK);
    clearEvents();
}

void stopLayer()
{
    for (i32 h = 0; h < static_cast<i32>(VSOCK_SLOT_COUNT); ++h) {
        if (vsockCheckHandle(h) == VSOCK_OK) {
            vsockClose(h); // a listener with live children refuses: the second pass closes it
        }
    }
    for (i32 h = 0; h < static_cast<i32>(VSOCK_SLOT_COUNT); ++h) {
        if (vsockCheckHandle(h) == VSOCK_OK) {
            vsockClose(h);
        }
    }
    EXPECT_EQ(vsockFinalize(), VSOCK_OK);
}

void VsockTest::SetUp()
{
    startLayer();
}

void VsockTest::TearDown()
{
    stopLayer();
}

VsockSocketAddress loopback(u32 port)
{
    VsockSocketAddress a{};
    a.port = port;
    a.address.family = VSOCK_FAMILY_IPV4;
    a.address.address[0] = 127;
    a.address.address[3] = 1;
    return a;
}

VsockSocketAddress anyAddress(u32 port)
{
    VsockSocketAddress a{};
    a.port = port;
    a.address.family = VSOCK_FAMILY_IPV4;
    return a;
}

VsockOpenParams openParams(u32 type, const VsockSocketAddress& local)
{
    VsockOpenParams p{};
    p.type = type;
    p.local = local;
    return p;
}

VsockOptions recordingOptions()
{
    VsockOptions o{};
    o.flags = VSOCK_OPTION_EVENT_CALLBACK;
    o.callback = &recordEvent;
    return o;
}

bool waitEvent(i32 handle, u32 kind, VsockEvent* out, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(recorderLock());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto& events = recorded();
        for (auto it = events.begin(); it != events.end(); ++it) {
            if (it->handle == handle && it->event.kind == kind) {
                if (out != nullptr) {
                    *out = it->event;
                }
                events.erase(it);
                return true;
            }
        }
        if (recorderSignal().wait_until(lock, deadline) == std::cv_status::timeout) {
            return false;
        }
    }
}

size_t countEvents(i32 handle, u32 kind)
{
    std::lock_guard<std::mutex> guard(recorderLock());
    size_t n = 0;
    for (const auto& r : recorded()) {
        if (r.handle == handle && r.event.kind == kind) {
            ++n;
        }
    }
    return n;
}

void clearEvents()
{
    std::lock_guard<std::mutex> guard(recorderLock());
    recorded().clear();
}

int rawTcpListen(u16* port, int backlog)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackSockaddr(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    *port = boundPort(fd);
    return fd;
}

int rawTcpConnect(u16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackSockaddr(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int rawAccept(int listener, int timeoutMs)
{
    if (!waitReadable(listener, timeoutMs)) {
        return -1;
    }
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

int rawUdp(u16* port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackSockaddr(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
        close(fd);
        return -1;
    }
    *port = boundPort(fd);
    return fd;
}

bool waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1;
}

bool readExactly(int fd, u8* buffer, size_t length, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t got = 0;
    while (got < length) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitReadable(fd, static_cast<int>(left.count()))) {
            return false;
        }
        const ssize_t n = recv(fd, buffer + got, length - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const u8* data, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t n = send(fd, data + done, length - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool peerClosed(int fd, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    u8 scratch[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        if (!waitReadable(fd, 50)) {
            continue;
        }
        const ssize_t n = recv(fd, scratch, sizeof(scratch), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) {
            return true;
        }
    }
    return false;
}

bool waitAcknowledged(int fd, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Bytes (and the end of stream) written but not acknowledged yet.
        int outstanding = 0;
        if (ioctl(fd, SIOCOUTQ, &outstanding) != 0) {
            return false;
        }
        if (outstanding == 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        sched_yield(); // no sleep: the caller's next step is to follow the acknowledgement closely
    }
}

void closeFd(int fd)
{
    if (fd >= 0) {
        close(fd);
    }
}

bool rawSendTo(int fd, u16 port, const u8* data, size_t length)
{
    sockaddr_in sa = loopbackSockaddr(port);
    return sendto(fd, data, length, 0, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == static_cast<ssize_t>(length);
}

LinePeer::LinePeer(int waitMs) : m_waitMs(waitMs)
{
    m_listener = rawTcpListen(&m_port);
    EXPECT_GE(m_listener, 0);
}

LinePeer::~LinePeer()
{
    closeFd(m_link);
    closeFd(m_listener);
}

bool LinePeer::accept(int timeoutMs)
{
    m_link = rawAccept(m_listener, limit(timeoutMs));
    return m_link >= 0;
}

bool LinePeer::hasCaller(int timeoutMs)
{
    return waitReadable(m_listener, timeoutMs);
}

bool LinePeer::send(const std::string& line)
{
    const std::string bytes = line + "\n";
    return writeAll(m_link, reinterpret_cast<const u8*>(bytes.data()), bytes.size());
}

std::optional<std::string> LinePeer::nextLine(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit(timeoutMs));
    for (;;) {
        const size_t feed = m_pending.find('\n');
        if (feed != std::string::npos) {
            std::string line = m_pending.substr(0, feed);
            m_pending.erase(0, feed + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || !waitReadable(m_link, static_cast<int>(left))) {
            return std::nullopt;
        }
        char chunk[65536];
        const ssize_t got = recv(m_link, chunk, sizeof(chunk), 0);
        if (got <= 0) {
            return std::nullopt;
        }
        m_pending.append(chunk, static_cast<size_t>(got));
    }
}

std::optional<std::string> LinePeer::nextLineSkipping(const std::string& prefix, int timeoutMs)
{
    for (;;) {
        std::optional<std::string> line = nextLine(timeoutMs);
        if (!line || line->rfind(prefix, 0) != 0) {
            return line;
        }
    }
}

void LinePeer::hangUp()
{
    closeFd(m_link);
    m_link = -1;
    m_pending.clear();
}

bool LinePeer::linkClosed(int timeoutMs)
{
    return peerClosed(m_link, timeoutMs);
}

namespace {

struct HoldState
{
    std::mutex lock;
    std::condition_variable signal;
    i32 handle = -1;
    bool held = false;
    bool released = false;
};

HoldState& holdState()
{
    static HoldState state;
    return state;
}

void holdingCallback(i32 handle, const VsockEvent* event)
{
    HoldState& state = holdState();
    std::unique_lock<std::mutex> guard(state.lock);
    if (handle != state.handle || event->kind != VSOCK_EVENT_DATAGRAM || state.released) {
        return;
    }
    state.held = true;
    state.signal.notify_all();
    state.signal.wait(guard, [&] { return state.released; });
}

} // namespace

PollTaskHold::PollTaskHold(int timeoutMs)
{
    HoldState& state = holdState();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.handle = -1;
        state.held = false;
        state.released = false;
    }
    // A port of its own, so that the slot receives from its opening on (another may take a free port first).
    VsockOptions options = recordingOptions();
    options.callback = &holdingCallback;
    u16 port = 0;
    for (int attempt = 0; attempt < 10 && m_handle < 0; ++attempt) {
        port = freeUdpPort();
        const VsockOpenParams params = openParams(VSOCK_TYPE_UDP, loopback(port));
        m_handle = vsockOpen(&params, &options);
    }
    u16 senderPort = 0;
    m_sender = rawUdp(&senderPort);
    if (m_handle < 0 || m_sender < 0) {
        ADD_FAILURE() << "no slot or sender for the hold: " << m_handle;
        return;
    }
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.handle = m_handle;
    }
    const u8 byte = 'h';
    EXPECT_TRUE(rawSendTo(m_sender, port, &byte, 1));
    std::unique_lock<std::mutex> guard(state.lock);
    m_held = state.signal.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return state.held; });
    EXPECT_TRUE(m_held) << "the poll task was not held within " << timeoutMs << " ms";
}

PollTaskHold::~PollTaskHold()
{
    release();
    if (m_handle >= 0) {
        vsockClose(m_handle);
    }
    closeFd(m_sender);
    std::lock_guard<std::mutex> guard(holdState().lock);
    holdState().handle = -1;
}

void PollTaskHold::release()
{
    HoldState& state = holdState();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.released = true;
    }
    state.signal.notify_all();
    m_held = false;
}

u16 localPort(i32 handle)
{
    u32 port = 0;
    EXPECT_EQ(vsockGetLocalPort(handle, &port), VSOCK_OK);
    return static_cast<u16>(port);
}

u16 bindBySending(i32 handle, int sink, u16 sinkPort)
{
    static const u8 probe[4] = {'p', 'r', 'b', 0};
    const VsockSocketAddress to = loopback(sinkPort);
    EXPECT_EQ(vsockSendTo(handle, probe, sizeof(probe), &to, VSOCK_NO_TIMEOUT), VSOCK_E_PENDING);
    VsockEvent ev{};
    EXPECT_TRUE(waitEvent(handle, VSOCK_EVENT_SENDTO, &ev));
    EXPECT_EQ(ev.result, 4);
    u8 scratch[16];
    EXPECT_TRUE(waitReadable(sink, 2000));
    recv(sink, scratch, sizeof(scratch), MSG_DONTWAIT);
    return localPort(handle);
}

std::string testMulticastGroup()
{
    const u32 pid = static_cast<u32>(getpid());
    return "239.255." + std::to_string(1 + (pid >> 8) % 250) + "." + std::to_string(1 + pid % 250);
}

u16 freeUdpPort()
{
    u16 port = 0;
    closeFd(rawUdp(&port));
    return port;
}

int rawGroupSender(const char* source)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0) << source;
    in_addr loop{};
    loop.s_addr = htonl(INADDR_LOOPBACK);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loop, sizeof(loop));
    const u8 ttl = 0;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl));
    return fd;
}

bool rawSendToGroup(int fd, const std::string& group, u16 port, const std::vector<u8>& data)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, group.c_str(), &to.sin_addr);
    return sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) ==
           static_cast<ssize_t>(data.size());
}

u32 crc32(const u8* data, size_t length, u32 crc)
{
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

std::vector<u8> pattern(size_t length, u32 seed)
{
    std::vector<u8> out(length);
    u32 x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<u8>(x);
    }
    return out;
}

} // namespace vsocktest
