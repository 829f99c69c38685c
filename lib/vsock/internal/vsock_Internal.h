// Internal state of the slot layer: the slot table, the OS socket table and the layer context.
#pragma once

#include <atomic>
#include <mutex>

#include "os_Clock.h"
#include "vsock_Socket.h"

struct sockaddr_storage;

namespace VSOCK {

constexpr u32 OS_ENTRY_COUNT = 32;
constexpr u32 DATAGRAM_MAX = 2048;
constexpr u32 RING_WORDS = 16384;
constexpr u32 RING_MASK = RING_WORDS - 1;
constexpr u32 RING_HEADER_WORDS = 8; // 7 words source address, 1 word length
constexpr int INVALID_FD = -1;

// Slot states.
constexpr u32 SLOT_FREE = 0;
constexpr u32 SLOT_OPENING = 1;
constexpr u32 SLOT_OPEN = 3;

// Slot kinds.
constexpr u32 KIND_NONE = 0;
constexpr u32 KIND_UDP = 1;
constexpr u32 KIND_CLIENT = 2;
constexpr u32 KIND_LISTENER = 3;
constexpr u32 KIND_CHILD = 4;

// Transmit states (TCP send, UDP send-to).
constexpr u32 TX_IDLE = 0;
constexpr u32 TX_SENDING = 2;
constexpr u32 TX_SENT = 3;
constexpr u32 TX_FAILED = 4;
// Receive states.
constexpr u32 RX_IDLE = 0;
constexpr u32 RX_WAITING = 2;
// Connect states.
constexpr u32 CONN_IDLE = 0;
constexpr u32 CONN_PENDING = 2;
constexpr u32 CONN_DONE = 3;
constexpr u32 CONN_FAILED = 4;
// Accept states.
constexpr u32 ACC_IDLE = 0;
constexpr u32 ACC_WAITING = 1;

// Readiness the OS may hold for a slot that no handler has used up yet (Slot::readyMaybe). The poll task sets
// it for every readiness it is told of; an operation that meets "would block" clears its direction. Sockets are
// watched edge-triggered, so readiness that came while nothing was armed is only known from here.
constexpr u32 READY_READ = 1;
constexpr u32 READY_WRITE = 2;
// The peer has ended its stream, or the connection failed: set by the poll task from the event, never cleared.
// Reads no longer block from then on, so a read that empties the queue of bytes still leaves the end (or the
// failure) behind it, and no later edge will announce that: READY_READ stays set until a read meets it.
constexpr u32 READY_END = 4;

// One operation record: state, the caller's token, buffer, running count and deadline.
struct OpRecord
{
    u32 state;
    const void* token;
    u8* buffer;
    u32 length;
    u32 count;
    i32 result;
    u32 timeoutMs;
    ossupport::Timer deadline;
};

struct Slot
{
    u32 state;
    VsockOpenParams params; // an accepted child carries its peer's address in params.local
    VsockOptions options;
    i32 entry; // OS socket table entry, -1 none
    u64 userValue;
    u32 kind;
    OpRecord tx;
    OpRecord rx;
    OpRecord conn;
    OpRecord acc;
    VsockSocketAddress txDestination; // UDP send-to
    VsockSocketAddress* acceptOut;    // caller's output record of the armed accept
    u32 childCount;                   // listener: live children
    i32 listener;                     // child: its listener's handle
    u32 readyMaybe;                   // READY_* bits
    i32 stashedError;                 // a receive failure met while arming, for the poll task to report (0 none)
    bool acceptBackoff;               // the last accept failed for lack of descriptors: retry on the next pass
    // UDP: one datagram buffer and the ring of queued datagrams.
    u32 ringRead;
    u32 ringWrite;
    u8 datagram[DATAGRAM_MAX];
    u32 ring[RING_WORDS];
};

struct OsEntry
{
    std::atomic<u32> inUse;
    int fd;         // guarded by the context lock
    i32 slot;       // owning slot, -1 none
    u32 generation; // changes on every claim, so that a poll result never reaches a reused entry
};

// Layer states.
constexpr u32 LAYER_DOWN = 0;
constexpr u32 LAYER_STARTING = 1;
constexpr u32 LAYER_RUNNING = 2;

struct Context
{
    std::mutex lock;      // the context lock: every handle operation and every dispatch
    std::mutex stateLock; // guards start and stop of the layer
    std::atomic<u32> layerState{LAYER_DOWN};
    std::atomic<bool> initialised{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<u32> pollStatus{0}; // 0 not yet, 1 running, 2 failed to start, 3 stopped
    std::atomic<int> wakeFd{-1};
    std::atomic<int> epollFd{-1};
    // Entries (bit per OS socket entry) whose armed operations the poll task is to try without an OS event:
    // at once (the poll task is woken), or on its next timed pass.
    std::atomic<u32> recheckNow{0};
    std::atomic<u32> recheckNextPass{0};
    std::atomic<void (*)()> passHook{nullptr};
    u16 taskId = 0;
    Slot slots[VSOCK_SLOT_COUNT];
    OsEntry entries[OS_ENTRY_COUNT];
};

Context& context();

// errno to result code.
i32 mapErrno(int err);
// The pending error of a connect (SO_ERROR): like mapErrno, but an unknown value gives VSOCK_E_ARG.
i32 mapConnectError(int err);
// True for the errors that leave a readiness handler's operation pending.
bool isTransient(int err);

// Socket address conversions (IPv4 and IPv6 sockaddr <-> record); toSockaddr returns the length or 0.
unsigned toSockaddr(const VsockSocketAddress& in, sockaddr_storage* out);
void fromSockaddr(const sockaddr_storage& in, VsockSocketAddress* out);

// Wakes the poll task from its wait.
void wakePollTask();
// Has the poll task try the armed operations of the entry: at once (waking it) or on its next timed pass.
void requestRecheck(i32 entry, bool now);
// Adds the socket of an OS entry to the poll task's edge-triggered set; false when the OS refuses.
bool watchEntry(i32 entry);
// Closes a descriptor that may be watched (it leaves the set first).
int closeWatched(int fd);

// Poll-task side, called with the context lock held.
void clearSlot(Slot& slot);
void dispatchReady(i32 handle, bool readable, bool writable, bool except);
void closeOsEntry(i32 entry);

// Interface listing: the OS interface index of the numbered interface and its IPv4 addresses (at most
// `maxV4`). 0, VSOCK_E_CLOSED when the number names no interface, 0x80000000 when the list cannot be read
// or no interface qualifies.
i32 findInterface(i32 number, unsigned* ifIndex, u32 ipv4[], u32 maxV4, u32* v4Count);

} // namespace VSOCK
