// Layer start and stop, the poll task and the error mapping of the slot layer.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
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

// One pass: build the poll set under the lock, wait at most 1 ms, dispatch the ready sockets.
void pollPass(Context& ctx, int wakeFd)
{
    pollfd fds[1 + OS_ENTRY_COUNT];
    i32 entryOf[1 + OS_ENTRY_COUNT];
    u32 generationOf[1 + OS_ENTRY_COUNT];
    u8 interestOf[1 + OS_ENTRY_COUNT];
    nfds_t count = 1;
    fds[0].fd = wakeFd;
    fds[0].events = POLLIN;
    fds[0].revents = 0;
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (u32 e = 0; e < OS_ENTRY_COUNT; ++e) {
            const OsEntry& entry = ctx.entries[e];
            if (entry.inUse.load(std::memory_order_relaxed) == 0 || entry.fd == INVALID_FD || entry.slot < 0) {
                continue;
            }
            reportFinishedSend(entry.slot);
            const Slot& slot = ctx.slots[entry.slot];
            if (slot.state != SLOT_OPEN) {
                continue;
            }
            bool read = false;
            bool write = false;
            bool except = false;
            collectInterest(slot, &read, &write, &except);
            if (!read && !write && !except) {
                continue; // an fd without interest would still report errors and hang-ups: leave it out
            }
            fds[count].fd = entry.fd;
            fds[count].events =
                static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0) | (except ? POLLPRI : 0));
            fds[count].revents = 0;
            entryOf[count] = static_cast<i32>(e);
            generationOf[count] = entry.generation;
            interestOf[count] = static_cast<u8>((read ? 1 : 0) | (write ? 2 : 0) | (except ? 4 : 0));
            ++count;
        }
    }

    // With nothing watched this is the 1 ms idle sleep, cut short when an operation is armed.
    const int ready = ::poll(fds, count, 1);
    if (ready <= 0) {
        return;
    }
    if (fds[0].revents != 0) {
        u64 drained = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd, &drained, sizeof(drained));
    }

    std::lock_guard<std::mutex> guard(ctx.lock);
    for (nfds_t i = 1; i < count; ++i) {
        const short ev = fds[i].revents;
        if (ev == 0) {
            continue;
        }
        const OsEntry& entry = ctx.entries[entryOf[i]];
        // The socket may have been closed, and its descriptor reused, while poll ran.
        if (entry.inUse.load(std::memory_order_relaxed) == 0 || entry.generation != generationOf[i] ||
            entry.fd != fds[i].fd || entry.slot < 0) {
            continue;
        }
        const u8 interest = interestOf[i];
        const bool readable = (interest & 1) != 0 && (ev & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
        const bool writable = (interest & 2) != 0 && (ev & (POLLOUT | POLLERR | POLLHUP | POLLNVAL)) != 0;
        const bool except = (interest & 4) != 0 && (ev & (POLLPRI | POLLERR | POLLHUP | POLLNVAL)) != 0;
        dispatchReady(entry.slot, readable, writable, except);
    }
}

unsigned pollTaskEntry(void* argument)
{
    Context& ctx = *static_cast<Context*>(argument);
    const int wakeFd = ctx.wakeFd.load(std::memory_order_acquire);
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
        pollPass(ctx, wakeFd);
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
                ::close(ctx.entries[e].fd);
            }
            ctx.entries[e].fd = INVALID_FD;
            ctx.entries[e].slot = -1;
            ctx.entries[e].inUse.store(0, std::memory_order_relaxed);
        }
        for (u32 s = 0; s < VSOCK_SLOT_COUNT; ++s) {
            clearSlot(ctx.slots[s]);
        }
    }

    // The wake-up descriptor stays open for the life of the process, so that a late wake-up can never write
    // into a descriptor that was closed and reused.
    if (ctx.wakeFd.load(std::memory_order_acquire) < 0) {
        const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd < 0) {
            return VSOCK_E_RES;
        }
        ctx.wakeFd.store(fd, std::memory_order_release);
    }
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
