// Layer start and stop, the poll task and the error mapping of the slot layer.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "os_Tasks.h"
#include "vsock_Internal.h"

namespace VSOCK {

Context& context()
{
    static Context* instance = new Context(); // lives for the whole process: the poll task may outlive statics
    return *instance;
}

i32 mapErrno(int err)
{
    switch (err) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return VSOCK_E_PENDING;
    case ETIMEDOUT:
        return VSOCK_E_TIMEOUT;
    case ENOBUFS:
    case EMFILE:
    case ENFILE:
        return VSOCK_E_RES;
    case EFAULT:
    case ENOTSOCK:
    case EMSGSIZE:
    case EDESTADDRREQ:
    case EAFNOSUPPORT:
    case EADDRNOTAVAIL:
        return VSOCK_E_ARG;
    case EINTR:
    case EACCES:
    case EINVAL:
    case EALREADY:
    case EOPNOTSUPP:
    case EADDRINUSE:
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
    case ECONNABORTED:
    case ECONNRESET:
    case EISCONN:
    case ENOTCONN:
    case ESHUTDOWN:
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case EPIPE:
        return VSOCK_E_OBJ;
    default:
        return VSOCK_E_FAIL;
    }
}

i32 mapConnectError(int err)
{
    const i32 mapped = mapErrno(err);
    return mapped == VSOCK_E_FAIL ? VSOCK_E_ARG : mapped;
}

bool isTransient(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

unsigned toSockaddr(const VsockSocketAddress& in, sockaddr_storage* out)
{
    std::memset(out, 0, sizeof(*out));
    if (in.address.family == VSOCK_FAMILY_IPV4) {
        auto* sa = reinterpret_cast<sockaddr_in*>(out);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(static_cast<u16>(in.port));
        std::memcpy(&sa->sin_addr, in.address.address, 4);
        return sizeof(sockaddr_in);
    }
    if (in.address.family == VSOCK_FAMILY_IPV6) {
        auto* sa = reinterpret_cast<sockaddr_in6*>(out);
        sa->sin6_family = AF_INET6;
        sa->sin6_port = htons(static_cast<u16>(in.port));
        std::memcpy(&sa->sin6_addr, in.address.address, 16);
        sa->sin6_scope_id = in.address.scopeId;
        return sizeof(sockaddr_in6);
    }
    return 0;
}

void fromSockaddr(const sockaddr_storage& in, VsockSocketAddress* out)
{
    std::memset(out, 0, sizeof(*out));
    if (in.ss_family == AF_INET) {
        const auto* sa = reinterpret_cast<const sockaddr_in*>(&in);
        out->port = ntohs(sa->sin_port);
        out->address.family = VSOCK_FAMILY_IPV4;
        std::memcpy(out->address.address, &sa->sin_addr, 4);
    } else if (in.ss_family == AF_INET6) {
        const auto* sa = reinterpret_cast<const sockaddr_in6*>(&in);
        out->port = ntohs(sa->sin6_port);
        out->address.family = VSOCK_FAMILY_IPV6;
        std::memcpy(out->address.address, &sa->sin6_addr, 16);
        out->address.scopeId = sa->sin6_scope_id;
    }
}

void wakePollTask()
{
    const int fd = context().wakeFd.load(std::memory_order_acquire);
    if (fd >= 0) {
        const u64 one = 1;
        // A full counter already guarantees a wake-up, so a failed write needs no handling.
        [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof(one));
    }
}

namespace {
thread_local bool t_onPollTask = false;
} // namespace

void requestRecheck(i32 entry, bool now)
{
    if (entry < 0 || entry >= static_cast<i32>(OS_ENTRY_COUNT)) {
        return;
    }
    Context& ctx = context();
    const u32 bit = 1u << entry;
    if (!now) {
        ctx.recheckNextPass.fetch_or(bit, std::memory_order_acq_rel);
        return;
    }
    // A bit already set has its wake-up on the way; the poll task itself looks at the mask before it waits.
    if ((ctx.recheckNow.fetch_or(bit, std::memory_order_acq_rel) & bit) == 0 && !t_onPollTask) {
        wakePollTask();
    }
}

bool watchEntry(i32 entry)
{
    Context& ctx = context();
    const OsEntry& e = ctx.entries[entry];
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = (static_cast<u64>(e.generation) << 32) | static_cast<u32>(entry);
    return ::epoll_ctl(ctx.epollFd.load(std::memory_order_acquire), EPOLL_CTL_ADD, e.fd, &ev) == 0;
}

int closeWatched(int fd)
{
    // Leaving explicitly: a descriptor duplicated into a child process would otherwise stay in the set.
    ::epoll_ctl(context().epollFd.load(std::memory_order_acquire), EPOLL_CTL_DEL, fd, nullptr);
    return ::close(fd);
}

namespace {

constexpr u64 WAKE_TOKEN = ~0ull;
constexpr int EVENT_BATCH = static_cast<int>(OS_ENTRY_COUNT) + 1;
constexpr u64 SPIN_MICROSECONDS = 50;

// The entries of a recheck mask, each with readiness assumed in every direction (the handlers take "would
// block" as still pending).
void recheckEntries(Context& ctx, u32 mask)
{
    while (mask != 0) {
        const u32 e = static_cast<u32>(__builtin_ctz(mask));
        mask &= mask - 1;
        const OsEntry& entry = ctx.entries[e];
        if (entry.inUse.load(std::memory_order_relaxed) != 0 && entry.fd != INVALID_FD && entry.slot >= 0) {
            dispatchReady(entry.slot, true, true, true);
        }
    }
}

// The readiness of one wait and the rechecks, under the context lock.
void dispatchPass(Context& ctx, const epoll_event* events, int ready, int wakeFd, u32 later)
{
    std::lock_guard<std::mutex> guard(ctx.lock);
    for (int i = 0; i < ready; ++i) {
        const u64 token = events[i].data.u64;
        if (token == WAKE_TOKEN) {
            u64 drained = 0;
            [[maybe_unused]] const ssize_t got = ::read(wakeFd, &drained, sizeof(drained));
            continue;
        }
        const u32 e = static_cast<u32>(token);
        if (e >= OS_ENTRY_COUNT) {
            continue;
        }
        const OsEntry& entry = ctx.entries[e];
        // The socket may have been closed, and its entry reused, since the kernel reported it.
        if (entry.inUse.load(std::memory_order_relaxed) == 0 || entry.generation != static_cast<u32>(token >> 32) ||
            entry.fd == INVALID_FD || entry.slot < 0) {
            continue;
        }
        const u32 ev = events[i].events;
        const bool readable = (ev & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) != 0;
        const bool writable = (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)) != 0;
        Slot& slot = ctx.slots[entry.slot];
        slot.readyMaybe |= (readable ? READY_READ : 0) | (writable ? READY_WRITE : 0) |
                           ((ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0 ? READY_END : 0);
        dispatchReady(entry.slot, readable, writable, (ev & (EPOLLERR | EPOLLHUP)) != 0);
    }
    recheckEntries(ctx, ctx.recheckNow.exchange(0, std::memory_order_acq_rel) | later);
}

// One pass: wait at most 1 ms for readiness (the set is kept by the kernel, filled when a slot opens), or only
// look when `spinning`, then dispatch it, the rechecks asked for, and once per millisecond the rechecks left for
// the next pass. True when anything was dispatched.
bool pollPass(Context& ctx, int epollFd, int wakeFd, ossupport::Timer* nextPass, bool spinning)
{
    epoll_event events[EVENT_BATCH];
    const int timeout = spinning || ctx.recheckNow.load(std::memory_order_acquire) != 0 ? 0 : 1;
    const int ready = ::epoll_wait(epollFd, events, EVENT_BATCH, timeout);
    u32 later = 0;
    if (ossupport::checkTimer(nextPass) == ossupport::OS_TIMER_EXPIRED) {
        later = ctx.recheckNextPass.exchange(0, std::memory_order_acq_rel);
        ossupport::startTimer(nextPass, 1);
    }
    if (ready <= 0 && later == 0 && ctx.recheckNow.load(std::memory_order_acquire) == 0) {
        return false;
    }
    dispatchPass(ctx, events, ready, wakeFd, later);
    if (void (*hook)() = ctx.passHook.load(std::memory_order_acquire)) {
        hook();
    }
    return true;
}

u64 monotonicMicroseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<u64>(now.tv_sec) * 1000000u + static_cast<u64>(now.tv_nsec) / 1000u;
}

unsigned pollTaskEntry(void* argument)
{
    t_onPollTask = true;
    Context& ctx = *static_cast<Context*>(argument);
    const int wakeFd = ctx.wakeFd.load(std::memory_order_acquire);
    const int epollFd = ctx.epollFd.load(std::memory_order_acquire);
    ossupport::Timer nextPass{};
    ossupport::startTimer(&nextPass, 1);
    bool spinning = false;
    u64 spinUntil = 0;
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (u32 e = 0; e < OS_ENTRY_COUNT; ++e) {
            ctx.entries[e].fd = INVALID_FD;
            ctx.entries[e].slot = -1;
            ctx.entries[e].inUse.store(0, std::memory_order_relaxed);
        }
    }
    ctx.pollStatus.store(1, std::memory_order_release);

    while (!ctx.stopRequested.load(std::memory_order_acquire)) {
        u32 bits = 0;
        // The OS layer's shutdown asks every task to end through its event word.
        if (ossupport::waitTaskEvent(&bits, 0, 0) == ossupport::OS_E_END_REQUESTED) {
            break;
        }
        // After readiness the task keeps looking, yielding the processor, for a short while before it sleeps again:
        // in an exchange the answer usually comes within that time, and it is taken without a wake-up.
        const bool active = pollPass(ctx, epollFd, wakeFd, &nextPass, spinning);
        const u64 now = monotonicMicroseconds();
        if (active) {
            spinUntil = now + SPIN_MICROSECONDS;
        }
        spinning = now < spinUntil;
        if (spinning && !active) {
            ::sched_yield();
        }
    }

    ctx.pollStatus.store(3, std::memory_order_release);
    return 0;
}

} // namespace

} // namespace VSOCK

using namespace VSOCK;

i32 vsockInitialize()
{
    Context& ctx = context();
    std::lock_guard<std::mutex> stateGuard(ctx.stateLock);
    if (ctx.layerState.load(std::memory_order_acquire) != LAYER_DOWN) {
        return VSOCK_OK;
    }

    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        // A layer started again after a stop drops what the previous run left open.
        for (u32 e = 0; e < OS_ENTRY_COUNT; ++e) {
            if (ctx.entries[e].inUse.load(std::memory_order_relaxed) != 0 && ctx.entries[e].fd != INVALID_FD) {
                closeWatched(ctx.entries[e].fd);
            }
            ctx.entries[e].fd = INVALID_FD;
            ctx.entries[e].slot = -1;
            ctx.entries[e].inUse.store(0, std::memory_order_relaxed);
        }
        for (u32 s = 0; s < VSOCK_SLOT_COUNT; ++s) {
            clearSlot(ctx.slots[s]);
        }
    }

    // The wake-up descriptor and the poll set stay open for the life of the process, so that a late wake-up
    // can never write into a descriptor that was closed and reused.
    if (ctx.wakeFd.load(std::memory_order_acquire) < 0) {
        const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
        if (epollFd < 0) {
            return VSOCK_E_RES;
        }
        const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLET;
        ev.data.u64 = WAKE_TOKEN;
        if (fd < 0 || ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) {
            if (fd >= 0) {
                ::close(fd);
            }
            ::close(epollFd);
            return VSOCK_E_RES;
        }
        ctx.epollFd.store(epollFd, std::memory_order_release);
        ctx.wakeFd.store(fd, std::memory_order_release);
    }
    ctx.recheckNow.store(0, std::memory_order_release);
    ctx.recheckNextPass.store(0, std::memory_order_release);
    ctx.stopRequested.store(false, std::memory_order_release);
    ctx.pollStatus.store(0, std::memory_order_release);
    ossupport::TaskRecord record;
    record.m_entry = pollTaskEntry;
    record.m_priority = 14;
    record.m_stackSize = 4096;
    record.m_name = "VSOCK";
    u16 taskId = 0;
    if (ossupport::osFailed(ossupport::createTask(&taskId, &record))) {
        return VSOCK_E_RES;
    }
    if (ossupport::osFailed(ossupport::startTask(taskId, &ctx))) {
        ossupport::deleteTask(taskId);
        return VSOCK_E_RES;
    }
    ctx.taskId = taskId;
    ctx.layerState.store(LAYER_STARTING, std::memory_order_release);
    ctx.initialised.store(true, std::memory_order_release);

    u32 status = 0;
    while ((status = ctx.pollStatus.load(std::memory_order_acquire)) == 0) {
        ossupport::sleepMilliseconds(1);
    }
    if (status != 1) {
        ossupport::deleteTask(taskId);
        ctx.taskId = 0;
        ctx.layerState.store(LAYER_DOWN, std::memory_order_release);
        return VSOCK_E_RES;
    }
    ctx.layerState.store(LAYER_RUNNING, std::memory_order_release);
    return VSOCK_OK;
}

void vsockSetPassHook(void (*hook)())
{
    context().passHook.store(hook, std::memory_order_release);
}

bool vsockOnPollTask()
{
    return t_onPollTask;
}

i32 vsockFinalize()
{
    Context& ctx = context();
    std::lock_guard<std::mutex> stateGuard(ctx.stateLock);
    if (ctx.layerState.load(std::memory_order_acquire) != LAYER_RUNNING) {
        return VSOCK_E_OBJ;
    }
    ctx.stopRequested.store(true, std::memory_order_release);
    wakePollTask();
    while (ctx.pollStatus.load(std::memory_order_acquire) != 3) {
        ossupport::sleepMilliseconds(1);
    }
    ossupport::deleteTask(ctx.taskId);
    ctx.taskId = 0;
    ctx.layerState.store(LAYER_DOWN, std::memory_order_release);
    return VSOCK_OK;
}
