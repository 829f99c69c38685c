// Slot operations of the slot layer and the readiness handlers that complete them on the poll task.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vsock_Internal.h"

namespace VSOCK {

namespace {

// The accept queue of a listener. A backlog of 0 gives Linux a queue of one: further peers of a burst are dropped
// (their SYN is retried after 1 s, 3 s, ...) or finish their handshake by SYN cookie and then wait unaccepted for
// ever. The queue holds a burst of peers instead, each of which the server then judges at once (a server with no
// free child closes it). 8 is not enough: of 50 peers connecting at once, about 40 still wait for a SYN retry,
// since the server takes one connection per round trip to its owner.
constexpr int LISTEN_BACKLOG = 64;

void clearRecord(OpRecord& record)
{
    record = OpRecord{};
}

bool handleInRange(i32 handle)
{
    return handle >= 0 && handle < static_cast<i32>(VSOCK_SLOT_COUNT);
}

bool running()
{
    return context().layerState.load(std::memory_order_acquire) == LAYER_RUNNING;
}

// Claims a free OS socket entry for fd; -1 when none is free.
i32 claimOsEntry(int fd, i32 slot)
{
    Context& ctx = context();
    for (u32 e = 0; e < OS_ENTRY_COUNT; ++e) {
        u32 expected = 0;
        if (ctx.entries[e].inUse.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
            ctx.entries[e].fd = fd;
            ctx.entries[e].slot = slot;
            ++ctx.entries[e].generation;
            return static_cast<i32>(e);
        }
    }
    return -1;
}

// Arms the deadline of a record that starts now.
void armDeadline(OpRecord& record, const void* token, u32 timeoutMs)
{
    record.token = token;
    record.timeoutMs = timeoutMs;
    record.deadline = ossupport::Timer{};
    if (timeoutMs != 0 && timeoutMs != VSOCK_NO_TIMEOUT) {
        ossupport::startTimer(&record.deadline, timeoutMs);
    }
}

// A repeated call on a pending record: another token changes nothing; the same token learns whether the
// deadline has passed, which drops the operation.
i32 checkPending(OpRecord& record, const void* token, u32 idleState)
{
    if (record.token != token) {
        return VSOCK_E_PENDING;
    }
    bool expired = false;
    if (record.timeoutMs == 0) {
        expired = true;
    } else if (record.timeoutMs != VSOCK_NO_TIMEOUT) {
        expired = ossupport::checkTimer(&record.deadline) == ossupport::OS_TIMER_EXPIRED;
    }
    if (!expired) {
        return VSOCK_E_PENDING;
    }
    clearRecord(record);
    record.state = idleState;
    return VSOCK_E_TIMEOUT;
}

void emit(i32 handle, const Slot& slot, u32 kind, i32 result)
{
    if (slot.options.callback != nullptr) {
        const VsockEvent event{kind, result};
        slot.options.callback(handle, &event);
    }
}

int slotFd(const Slot& slot)
{
    if (slot.entry < 0) {
        return INVALID_FD;
    }
    return context().entries[slot.entry].fd;
}

// A read that took fewer bytes than asked for emptied the queue: new bytes come with a new edge. An end of stream
// (or a failure) the poll task was told of may still wait behind those bytes, and no edge follows for it: then
// the next read is to meet it.
void clearReadAfterShortRead(Slot& slot)
{
    if ((slot.readyMaybe & READY_END) == 0) {
        slot.readyMaybe &= ~READY_READ;
    }
}

bool isStreamData(const Slot& slot)
{
    return (slot.kind == KIND_CLIENT && slot.conn.state == CONN_DONE) || slot.kind == KIND_CHILD;
}

// Creates the OS socket of a slot being opened; 0 or a failure (the socket is then closed again).
i32 createSocket(i32 handle, Slot& slot)
{
    const VsockOpenParams& params = slot.params;
    const bool ipv4 = params.local.address.family == VSOCK_FAMILY_IPV4;
    if ((params.type == VSOCK_TYPE_UDP || params.type == VSOCK_TYPE_TCP_LISTENER) && !ipv4) {
        return VSOCK_E_ARG;
    }
    const int type = params.type == VSOCK_TYPE_UDP ? SOCK_DGRAM : SOCK_STREAM;
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return mapErrno(errno);
    }
    const i32 entry = claimOsEntry(fd, handle);
    if (entry < 0) {
        ::close(fd);
        return VSOCK_E_RES;
    }
    const int on = 1;
    int rc = 0;
    if (params.type == VSOCK_TYPE_TCP_LISTENER) {
        rc = ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_storage sa;
        const unsigned len = toSockaddr(params.local, &sa);
        if (rc == 0) {
            rc = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), len);
        }
        if (rc == 0) {
            rc = ::listen(fd, LISTEN_BACKLOG);
        }
    } else if (params.type == VSOCK_TYPE_UDP) {
        if (params.local.port != 0) {
            sockaddr_storage sa;
            const unsigned len = toSockaddr(params.local, &sa);
            rc = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), len);
        }
        if (rc == 0) {
            rc = ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
        }
    } else {
        rc = ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    }
    if (rc != 0) {
        const i32 mapped = mapErrno(errno);
        closeOsEntry(entry);
        return mapped;
    }
    if (!watchEntry(entry)) {
        closeOsEntry(entry);
        return VSOCK_E_RES;
    }
    slot.entry = entry;
    slot.readyMaybe = READY_READ | READY_WRITE;
    return VSOCK_OK;
}

// The close-slot handler: closes the socket, frees the slot, then cuts off what was pending.
i32 closeSlot(i32 handle)
{
    Context& ctx = context();
    Slot& slot = ctx.slots[handle];
    if (slot.kind == KIND_LISTENER && slot.childCount > 0) {
        return VSOCK_E_OBJ;
    }

    VsockEvent cut[3];
    u32 cutCount = 0;
    if (slot.kind == KIND_UDP) {
        if (slot.tx.state == TX_SENDING || slot.tx.state == TX_SENT) {
            cut[cutCount++] = {VSOCK_EVENT_SENDTO, VSOCK_E_CLOSED};
        }
    } else if (slot.kind == KIND_CLIENT || slot.kind == KIND_CHILD) {
        if (slot.kind == KIND_CLIENT && slot.conn.state == CONN_PENDING) {
            cut[cutCount++] = {VSOCK_EVENT_CONNECT, VSOCK_E_CLOSED};
        }
        if (isStreamData(slot)) {
            if (slot.tx.state == TX_SENDING || slot.tx.state == TX_SENT) {
                cut[cutCount++] = {VSOCK_EVENT_SEND, VSOCK_E_CLOSED};
            }
            if (slot.rx.state == RX_WAITING) {
                cut[cutCount++] = {VSOCK_EVENT_RECV, VSOCK_E_CLOSED};
            }
        }
        if (slot.kind == KIND_CHILD && handleInRange(slot.listener)) {
            Slot& listener = ctx.slots[slot.listener];
            if (listener.kind == KIND_LISTENER && listener.childCount > 0) {
                --listener.childCount;
            }
        }
    }

    i32 result = VSOCK_OK;
    if (slot.entry >= 0) {
        const int fd = ctx.entries[slot.entry].fd;
        // Linux releases the descriptor even when close reports an error, so the slot is freed either way.
        if (fd != INVALID_FD && closeWatched(fd) != 0) {
            result = mapErrno(errno);
        }
        ctx.entries[slot.entry].fd = INVALID_FD;
        closeOsEntry(slot.entry);
    }
    const VsockOptions options = slot.options;
    clearSlot(slot);
    for (u32 i = 0; i < cutCount; ++i) {
        if (options.callback != nullptr) {
            options.callback(handle, &cut[i]);
        }
    }
    return result;
}

// ----- readiness handlers (poll task, context lock held) -----

void tcpReadable(i32 handle, Slot& slot)
{
    if (slot.rx.state != RX_WAITING) {
        return;
    }
    i32 result = slot.stashedError;
    slot.stashedError = 0;
    if (result == 0) {
        const ssize_t n = ::recv(slotFd(slot), slot.rx.buffer, slot.rx.length, 0);
        if (n < 0 && isTransient(errno)) {
            slot.readyMaybe &= ~READY_READ;
            return; // still waiting: completing now would read as an orderly close
        }
        if (n > 0 && static_cast<u32>(n) < slot.rx.length) {
            clearReadAfterShortRead(slot);
        }
        result = n >= 0 ? static_cast<i32>(n) : mapErrno(errno);
    }
    clearRecord(slot.rx);
    emit(handle, slot, VSOCK_EVENT_RECV, result);
}

void tcpWritable(i32 handle, Slot& slot)
{
    if (slot.tx.state == TX_SENDING) {
        const ssize_t n =
            ::send(slotFd(slot), slot.tx.buffer + slot.tx.count, slot.tx.length - slot.tx.count, MSG_NOSIGNAL);
        if (n < 0) {
            if (isTransient(errno)) {
                slot.readyMaybe &= ~READY_WRITE;
                return; // the rest stays pending; completing would make the caller send it again
            }
            const i32 result = mapErrno(errno);
            clearRecord(slot.tx);
            emit(handle, slot, VSOCK_EVENT_SEND, result);
            return;
        }
        slot.tx.count += static_cast<u32>(n);
        if (slot.tx.count < slot.tx.length) {
            slot.readyMaybe &= ~READY_WRITE; // the socket buffer is full: room comes with a new edge
            return;
        }
    } else if (slot.tx.state != TX_SENT) {
        return;
    }
    const i32 total = static_cast<i32>(slot.tx.count);
    clearRecord(slot.tx);
    emit(handle, slot, VSOCK_EVENT_SEND, total);
}

void connectCompletion(i32 handle, Slot& slot)
{
    if (slot.conn.state != CONN_PENDING) {
        return;
    }
    const int fd = slotFd(slot);
    int err = 0;
    socklen_t len = sizeof(err);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        err = errno;
    }
    if (err == 0) {
        sockaddr_storage peer;
        socklen_t peerLen = sizeof(peer);
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0 && errno == ENOTCONN) {
            return; // not connected yet
        }
        clearRecord(slot.conn);
        slot.conn.state = CONN_DONE;
        emit(handle, slot, VSOCK_EVENT_CONNECT, VSOCK_OK);
        return;
    }
    clearRecord(slot.conn);
    emit(handle, slot, VSOCK_EVENT_CONNECT, mapConnectError(err));
}

void listenerReadable(i32 handle, Slot& slot)
{
    Context& ctx = context();
    if (slot.acc.state != ACC_WAITING) {
        return;
    }
    sockaddr_storage peer;
    socklen_t peerLen = sizeof(peer);
    int fd = -1;
    // A connection that went away before it was taken is skipped; the next queued one may be taken.
    for (int tries = 0; tries < 8; ++tries) {
        peerLen = sizeof(peer);
        fd = ::accept4(slotFd(slot), reinterpret_cast<sockaddr*>(&peer), &peerLen, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0 || errno != ECONNABORTED) {
            break;
        }
    }
    if (fd < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK) {
            slot.readyMaybe &= ~READY_READ;
            return;
        }
        if (isTransient(err) || err == ECONNABORTED) {
            return; // keep waiting
        }
        // Out of descriptors or memory: the connection stays queued, and the next arm retries on the next pass
        // only, instead of poll task and owner spinning until a descriptor frees.
        slot.acceptBackoff = err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
        const i32 result = mapErrno(err);
        clearRecord(slot.acc);
        slot.acceptOut = nullptr;
        emit(handle, slot, VSOCK_EVENT_ACCEPT, result);
        return;
    }
    slot.acceptBackoff = false;

    i32 child = -1;
    const i32 entry = claimOsEntry(fd, -1);
    if (entry >= 0) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        ++slot.childCount;
        for (i32 s = static_cast<i32>(VSOCK_SLOT_COUNT) - 1; s >= 0; --s) {
            if (ctx.slots[s].state == SLOT_FREE) {
                child = s;
                break;
            }
        }
        if (child < 0 || !watchEntry(entry)) {
            child = -1;
            closeOsEntry(entry); // closes fd
            --slot.childCount;
        }
    } else {
        ::close(fd);
    }

    VsockSocketAddress peerAddress;
    fromSockaddr(peer, &peerAddress);
    VsockSocketAddress* out = slot.acceptOut;
    clearRecord(slot.acc);
    slot.acceptOut = nullptr;
    if (child < 0) {
        emit(handle, slot, VSOCK_EVENT_ACCEPT, VSOCK_E_RES);
        return;
    }
    Slot& c = ctx.slots[child];
    clearSlot(c);
    c.params = slot.params;
    c.params.local = peerAddress;
    c.options = slot.options;
    c.kind = KIND_CHILD;
    c.listener = handle;
    c.entry = entry;
    c.readyMaybe = READY_READ | READY_WRITE;
    c.state = SLOT_OPEN;
    ctx.entries[entry].slot = child;
    if (out != nullptr) {
        *out = peerAddress;
    }
    emit(handle, slot, VSOCK_EVENT_ACCEPT, child);
}

// Appends one datagram with its source to the ring; false when it does not fit.
bool ringAppend(Slot& slot, const VsockSocketAddress& source, u32 length)
{
    const u32 dataWords = (length + 3) / 4;
    const u32 read = slot.ringRead;
    const u32 write = slot.ringWrite;
    const u32 freeWords = read > write ? read - write - 1 : read - write + (RING_WORDS - 1);
    if (freeWords < dataWords + RING_HEADER_WORDS) {
        return false;
    }
    u32 header[RING_HEADER_WORDS];
    std::memcpy(header, &source, sizeof(source));
    header[7] = length;
    u32 w = write;
    for (u32 i = 0; i < RING_HEADER_WORDS; ++i) {
        slot.ring[w] = header[i];
        w = (w + 1) & RING_MASK;
    }
    for (u32 i = 0; i < dataWords; ++i) {
        u32 word = 0;
        const u32 offset = i * 4;
        std::memcpy(&word, slot.datagram + offset, length - offset >= 4 ? 4 : length - offset);
        slot.ring[w] = word;
        w = (w + 1) & RING_MASK;
    }
    slot.ringWrite = w;
    return true;
}

// Takes one datagram into the ring; false when none was waiting.
bool udpReceiveOne(i32 handle, Slot& slot)
{
    sockaddr_storage source;
    socklen_t sourceLen = sizeof(source);
    // MSG_TRUNC gives the real length of a datagram larger than the buffer.
    const ssize_t n = ::recvfrom(slotFd(slot), slot.datagram, DATAGRAM_MAX, MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&source), &sourceLen);
    if (n < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK) {
            slot.readyMaybe &= ~READY_READ;
            return false;
        }
        if (isTransient(err) || err == ECONNRESET || err == ECONNREFUSED) {
            return true; // the datagrams behind it are still to be read
        }
        emit(handle, slot, VSOCK_EVENT_DATAGRAM, mapErrno(err));
        return true;
    }
    if (n == 0) {
        return true;
    }
    if (static_cast<u64>(n) > DATAGRAM_MAX) {
        emit(handle, slot, VSOCK_EVENT_DATAGRAM, VSOCK_E_ARG);
        return true;
    }
    VsockSocketAddress from;
    fromSockaddr(source, &from);
    if (!ringAppend(slot, from, static_cast<u32>(n))) {
        emit(handle, slot, VSOCK_EVENT_DATAGRAM, VSOCK_E_RES);
        return true;
    }
    emit(handle, slot, VSOCK_EVENT_DATAGRAM, static_cast<i32>(n));
    return true;
}

// An edge reports new datagrams once: read until none is left, in bounded rounds so that one busy slot does not
// hold up the others (the rest follows on the next pass).
void udpReadable(i32 handle, Slot& slot)
{
    constexpr int ROUND = 64;
    for (int i = 0; i < ROUND; ++i) {
        if (!udpReceiveOne(handle, slot) || slot.state != SLOT_OPEN) {
            return;
        }
    }
    requestRecheck(slot.entry, true);
}

void udpWritable(i32 handle, Slot& slot)
{
    if (slot.tx.state != TX_SENDING) {
        return;
    }
    sockaddr_storage sa;
    const unsigned len = toSockaddr(slot.txDestination, &sa);
    const ssize_t n =
        ::sendto(slotFd(slot), slot.tx.buffer, slot.tx.length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), len);
    if (n < 0) {
        const int err = errno;
        if (isTransient(err)) {
            slot.readyMaybe &= ~READY_WRITE;
            return; // the datagram stays pending and goes out when there is room
        }
        if (err == ECONNREFUSED) {
            requestRecheck(slot.entry, false); // an earlier datagram was refused: this one goes on the next pass
            return;
        }
        clearRecord(slot.tx);
        emit(handle, slot, VSOCK_EVENT_SENDTO, mapErrno(err));
        return;
    }
    clearRecord(slot.tx);
    emit(handle, slot, VSOCK_EVENT_SENDTO, static_cast<i32>(n));
}

// Common checks of a handle operation; fills *slot on success.
i32 openSlotFor(i32 handle, Slot** slot)
{
    if (!running()) {
        return VSOCK_E_OBJ;
    }
    if (!handleInRange(handle)) {
        return VSOCK_E_ARG;
    }
    Slot& s = context().slots[handle];
    if (s.state != SLOT_OPEN) {
        return VSOCK_E_CLOSED;
    }
    *slot = &s;
    return VSOCK_OK;
}

// openSlotFor for a connected TCP slot (client or accepted child).
i32 streamSlotFor(i32 handle, Slot** slot)
{
    const i32 rc = openSlotFor(handle, slot);
    if (rc != VSOCK_OK) {
        return rc;
    }
    return isStreamData(**slot) ? VSOCK_OK : VSOCK_E_OBJ;
}

} // namespace

void clearSlot(Slot& slot)
{
    slot.state = SLOT_FREE;
    std::memset(&slot.params, 0, sizeof(slot.params));
    std::memset(&slot.options, 0, sizeof(slot.options));
    slot.entry = -1;
    slot.userValue = 0;
    slot.kind = KIND_NONE;
    clearRecord(slot.tx);
    clearRecord(slot.rx);
    clearRecord(slot.conn);
    clearRecord(slot.acc);
    std::memset(&slot.txDestination, 0, sizeof(slot.txDestination));
    slot.acceptOut = nullptr;
    slot.childCount = 0;
    slot.listener = -1;
    slot.ringRead = 0;
    slot.ringWrite = 0;
    slot.readyMaybe = 0;
    slot.stashedError = 0;
    slot.acceptBackoff = false;
}

void closeOsEntry(i32 entry)
{
    OsEntry& e = context().entries[entry];
    if (e.fd != INVALID_FD) {
        closeWatched(e.fd);
    }
    e.fd = INVALID_FD;
    e.slot = -1;
    e.inUse.exchange(0, std::memory_order_acq_rel);
}

void dispatchReady(i32 handle, bool readable, bool writable, bool except)
{
    Slot& slot = context().slots[handle];
    if (slot.state != SLOT_OPEN) {
        return;
    }
    switch (slot.kind) {
    case KIND_UDP:
        if (readable) {
            udpReadable(handle, slot);
        }
        if (writable) {
            udpWritable(handle, slot);
        }
        break;
    case KIND_LISTENER:
        if (readable) {
            listenerReadable(handle, slot);
        }
        break;
    case KIND_CLIENT:
        if (slot.conn.state == CONN_PENDING) {
            if (writable || except) {
                connectCompletion(handle, slot);
            }
            break;
        }
        [[fallthrough]];
    case KIND_CHILD:
        // The send goes first: on a reset it learns of the failure itself, instead of the receive consuming the
        // error and the send being cut off unseen.
        if (writable) {
            tcpWritable(handle, slot);
        }
        if (readable) {
            tcpReadable(handle, slot);
        }
        break;
    default:
        break;
    }
}

} // namespace VSOCK

using namespace VSOCK;

i32 vsockOpen(const VsockOpenParams* params, const VsockOptions* options)
{
    if (!running()) {
        return VSOCK_E_OBJ;
    }
    if (params == nullptr || options == nullptr || params->type > VSOCK_TYPE_TCP_CLIENT ||
        (params->local.address.family != VSOCK_FAMILY_IPV4 && params->local.address.family != VSOCK_FAMILY_IPV6) ||
        (options->flags & VSOCK_OPTION_EVENT_CALLBACK) == 0 || options->callback == nullptr) {
        return VSOCK_E_ARG;
    }
    Context& ctx = context();
    std::lock_guard<std::mutex> guard(ctx.lock);
    i32 handle = -1;
    for (u32 s = 0; s < VSOCK_SLOT_COUNT; ++s) {
        if (ctx.slots[s].state == SLOT_FREE) {
            handle = static_cast<i32>(s);
            break;
        }
    }
    if (handle < 0) {
        return VSOCK_E_RES;
    }
    Slot& slot = ctx.slots[handle];
    clearSlot(slot);
    slot.state = SLOT_OPENING;
    slot.params = *params;
    slot.options = *options;
    const i32 rc = createSocket(handle, slot);
    if (rc != VSOCK_OK) {
        clearSlot(slot);
        return rc;
    }
    switch (params->type) {
    case VSOCK_TYPE_UDP:
        slot.kind = KIND_UDP;
        break;
    case VSOCK_TYPE_TCP_LISTENER:
        slot.kind = KIND_LISTENER;
        break;
    default:
        slot.kind = KIND_CLIENT;
        break;
    }
    slot.state = SLOT_OPEN; // a UDP slot receives from now on: its socket is watched since it was created
    return handle;
}

i32 vsockClose(i32 handle)
{
    Slot* slot = nullptr;
    std::lock_guard<std::mutex> guard(context().lock);
    const i32 rc = openSlotFor(handle, &slot);
    if (rc != VSOCK_OK) {
        return rc;
    }
    return closeSlot(handle);
}

i32 vsockCheckHandle(i32 handle)
{
    Slot* slot = nullptr;
    std::lock_guard<std::mutex> guard(context().lock);
    return openSlotFor(handle, &slot);
}

i32 vsockPeerGone(i32 handle)
{
    Slot* slot = nullptr;
    std::lock_guard<std::mutex> guard(context().lock);
    const i32 rc = streamSlotFor(handle, &slot);
    if (rc != VSOCK_OK) {
        return rc;
    }
    // Under the lock every byte the poll task has received is already reported; what the socket still holds
    // has not been read by anyone.
    pollfd probe{slotFd(*slot), POLLIN | POLLRDHUP, 0};
    if (::poll(&probe, 1, 0) <= 0) {
        return 0;
    }
    if ((probe.revents & (POLLERR | POLLHUP)) != 0) {
        return 1; // reset, or shut in both directions
    }
    int unread = 0;
    return (probe.revents & POLLRDHUP) != 0 && ::ioctl(probe.fd, FIONREAD, &unread) == 0 && unread == 0 ? 1 : 0;
}

i32 vsockConnect(i32 handle, const VsockSocketAddress* remote, u32 timeoutMs)
{
    Slot* slot = nullptr;
    std::lock_guard<std::mutex> guard(context().lock);
    i32 rc = openSlotFor(handle, &slot);
    if (rc != VSOCK_OK) {
        return rc;
    }
    if (remote == nullptr) {
        return VSOCK_E_ARG;
    }
    if (slot->kind != KIND_CLIENT || slot->conn.state == CONN_DONE) {
        return VSOCK_E_OBJ;
    }
    if (slot->conn.state == CONN_PENDING) {
        return checkPending(slot->conn, remote, CONN_IDLE);
    }
    sockaddr_storage sa;
    const unsigned len = toSockaddr(*remote, &sa);
    if (len == 0) {
        return VSOCK_E_ARG;
    }
    clearRecord(slot->conn);
    if (::connect(slotFd(*slot), reinterpret_cast<sockaddr*>(&sa), len) == 0) {
        slot->conn.state = CONN_DONE;
        return VSOCK_OK;
    }
    const int err = errno;
    if (err == EINPROGRESS || err == EAGAIN) {
        // The completion comes as an edge of the watched socket; the lock keeps it from being handled before this.
        slot->conn.state = CONN_PENDING;
        armDeadline(slot->conn, remote, timeoutMs);
        return VSOCK_E_PENDING;
    }
    rc = mapErrno(err);
    return rc == VSOCK_E_PENDING ? VSOCK_E_FAIL : rc;
}

i32 vsockAccept(i32 handle, VsockSocketAddress* peer, u32 timeoutMs)
{
    Slot* slot = nullptr;
    std::lock_guard<std::mutex> guard(context().lock);
    const i32 rc = openSlotFor(handle, &slot);
    if (rc != VSOCK_OK) {
        return rc;
    }
    if (slot->kind != KIND_LISTENER) {
        return VSOCK_E_OBJ;
    }
    if (slot->acc.state == ACC_WAITING) {
        const i32 pending = checkPending(slot->acc, peer, ACC_IDLE);
        if (pending == VSOCK_E_TIMEOUT) {
            slot->acceptOut = nullptr;
        }
        return pending;
    }
    clearRecord(slot->acc);
    slot->acc.state = ACC_WAITING;
    slot->acceptOut = peer;
    armDeadline(slot->acc, peer, timeoutMs);
    if ((slot->readyMaybe & READY_READ) != 0) {
        // A connection may have been queued while no accept was armed; its edge has passed.
        requestRecheck(slot->entry, !slot->acceptBackoff);
    }
    return VSOCK_E_PENDING;
}

i32 vsockSend(i32 handle, const u8* data, u32 length, u32 timeoutMs)
{
    Slot* slot = nullptr;
    std::lock_guard<std::mutex> guard(context().lock);
    const i32 rc = streamSlotFor(handle, &slot);
    if (rc != VSOCK_OK) {
        return rc;
    }
    // The completion reports the total sent as an i32, so a longer send could not be reported.
    if (data == nullptr || length == 0 || length > 0x7FFFFFFFu) {
        return VSOCK_E_ARG;
    }
    if (slot->tx.state == TX_SENDING || slot->tx.state == TX_SENT) {
        return checkPending(slot->tx, data, TX_IDLE);
    }
    clearRecord(slot->tx);
    const ssize_t n = ::send(slotFd(*slot), data, length, MSG_NOSIGNAL);
    if (n < 0 && !isTransient(errno)) {
        const i32 failure = mapErrno(errno);
        slot->tx.state = TX_FAILED;
        slot->tx.result = failure;
        return failure;
    }
    if (n == static_cast<ssize_t>(length)) {
        return static_cast<i32>(length); // the OS took it whole: done, no record and no event
    }
    // The rest goes when the socket has room again; a short send leaves the socket asking for that edge.
    slot->readyMaybe &= ~READY_WRITE;
    slot->tx.buffer = const_cast<u8*>(data);
    slot->tx.length = length;
    slot->tx.count = n > 0 ? static_cast<u32>(n) : 0;
    slot->tx.state = TX_SENDING;
    armDeadline(slot->tx, data, timeoutMs);
    return VSOCK_E_PENDING;
}

i32 vsockRecv(i32 handle, u8* buffer, u32 size, u32 timeoutMs)
{
    Slot* slot = nullptr;
    std::lock_guard<std::mutex> guard(context().lock);
    const i32 rc = streamSlotFor(handle, &slot);
    if (rc != VSOCK_OK) {
        return rc;
    }
    if (buffer == nullptr || size == 0) {
        return VSOCK_E_ARG;
    }
    if (slot->rx.state == RX_WAITING) {
        return checkPending(slot->rx, buffer, RX_IDLE);
    }
    clearRecord(slot->rx);
    if ((slot->readyMaybe & READY_READ) != 0) {
        // Bytes may have come while nothing was armed: take them at once.
        const ssize_t n = ::recv(slotFd(*slot), buffer, size, 0);
        const int err = n < 0 ? errno : 0;
        if (n > 0) {
            if (static_cast<u32>(n) < size) {
                clearReadAfterShortRead(*slot);
            }
            return static_cast<i32>(n);
        }
        if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
            slot->readyMaybe &= ~READY_READ;
        } else {
            // End of stream or a failure: reported by the poll task as ever, so that a reset keeps its callbacks
            // and their order. A failure read here is used up; the poll task reports it for the receive, unless a
            // send is pending, which meets the broken connection first there.
            if (n < 0 && err != EINTR && slot->tx.state != TX_SENDING) {
                slot->stashedError = mapErrno(err);
            }
            requestRecheck(slot->entry, true);
        }
    }
    slot->rx.state = RX_WAITING;
    slot->rx.buffer = buffer;
    slot->rx.length = size;
    armDeadline(slot->rx, buffer, timeoutMs);
    return VSOCK_E_PENDING;
}

i32 vsockSendTo(i32 handle, const u8* data, u32 length, const VsockSocketAddress* destination, u32 timeoutMs)
{
    Slot* slot = nullptr;
    std::lock_guard<std::mutex> guard(context().lock);
    const i32 rc = openSlotFor(handle, &slot);
    if (rc != VSOCK_OK) {
        return rc;
    }
    if (data == nullptr || destination == nullptr || destination->address.family != VSOCK_FAMILY_IPV4) {
        return VSOCK_E_ARG;
    }
    if (slot->kind != KIND_UDP || slot->tx.state == TX_SENDING || slot->tx.state == TX_SENT) {
        return VSOCK_E_OBJ;
    }
    clearRecord(slot->tx);
    slot->tx.state = TX_SENDING;
    slot->tx.buffer = const_cast<u8*>(data);
    slot->tx.length = length;
    slot->txDestination = *destination;
    armDeadline(slot->tx, data, timeoutMs);
    requestRecheck(slot->entry, true); // nothing is sent in the call: the poll task sends it
    return VSOCK_E_PENDING;
}

i32 vsockRecvFrom(i32 handle, u8* buffer, u32 size, VsockSocketAddress* source)
{
    Slot* slot = nullptr;
    std::lock_guard<std::mutex> guard(context().lock);
    const i32 rc = openSlotFor(handle, &slot);
    if (rc != VSOCK_OK) {
        return rc;
    }
    if (slot->kind != KIND_UDP) {
        return VSOCK_E_OBJ;
    }
    if (buffer == nullptr && size != 0) {
        return VSOCK_E_ARG;
    }
    u32 r = slot->ringRead;
    if (r == slot->ringWrite) {
        return VSOCK_E_EMPTY;
    }
    u32 header[RING_HEADER_WORDS];
    for (u32 i = 0; i < RING_HEADER_WORDS; ++i) {
        header[i] = slot->ring[r];
        r = (r + 1) & RING_MASK;
    }
    const u32 length = header[7];
    if (length > size) {
        return VSOCK_E_BUFFER; // the datagram stays queued
    }
    for (u32 offset = 0; offset < length; offset += 4) {
        const u32 word = slot->ring[r];
        std::memcpy(buffer + offset, &word, length - offset >= 4 ? 4 : length - offset);
        r = (r + 1) & RING_MASK;
    }
    slot->ringRead = r;
    if (source != nullptr) {
        std::memcpy(source, header, sizeof(*source));
    }
    return static_cast<i32>(length);
}

i32 vsockGetLocalPort(i32 handle, u32* port)
{
    if (port == nullptr || !handleInRange(handle)) {
        return VSOCK_E_ARG;
    }
    std::lock_guard<std::mutex> guard(context().lock);
    const Slot& slot = context().slots[handle];
    if (slot.state != SLOT_OPEN) {
        return VSOCK_E_CLOSED;
    }
    sockaddr_storage sa;
    socklen_t len = sizeof(sa);
    if (::getsockname(slotFd(slot), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return VSOCK_E_FAIL;
    }
    VsockSocketAddress local;
    fromSockaddr(sa, &local);
    *port = local.port;
    return VSOCK_OK;
}
