// VSOCK: the process-wide non-blocking socket slot layer.
//
// 32 socket slots are served by one poll task named "VSOCK", which waits on one edge-triggered epoll set that
// a socket joins when its slot opens. Every operation on a handle either completes at once or answers
// VSOCK_E_PENDING; the outcome of a pending operation is delivered later, on the poll task, to the slot's event
// callback as a VsockEvent. Callbacks run with the layer's context lock held:
// they must only record the event and wake their owner, never call handle operations of this layer.
//
// Only IPv4 sockets can be opened; IPv6 is carried by the address records, the address texts and the
// interface listing.
#pragma once

#include "klib_Types.h"
#include "vsock_Result.h"

constexpr u32 VSOCK_SLOT_COUNT = 32;
constexpr u32 VSOCK_NO_TIMEOUT = 0xFFFFFFFFu;
constexpr u32 VSOCK_FAMILY_IPV4 = 4;
constexpr u32 VSOCK_FAMILY_IPV6 = 6;

// Socket types of VsockOpenParams.
constexpr u32 VSOCK_TYPE_UDP = 0;
constexpr u32 VSOCK_TYPE_TCP_LISTENER = 1;
constexpr u32 VSOCK_TYPE_TCP_CLIENT = 2;

// VsockOptions flag: deliver completions to the event callback (required).
constexpr u32 VSOCK_OPTION_EVENT_CALLBACK = 0x40;

// Event kinds.
constexpr u32 VSOCK_EVENT_ACCEPT = 0; // result: the child's handle or a failure
constexpr u32 VSOCK_EVENT_CONNECT = 1;
constexpr u32 VSOCK_EVENT_SEND = 2;     // result: bytes sent in total
constexpr u32 VSOCK_EVENT_RECV = 3;     // result: bytes received, 0 = orderly close by the peer
constexpr u32 VSOCK_EVENT_SENDTO = 4;   // result: bytes sent
constexpr u32 VSOCK_EVENT_DATAGRAM = 5; // result: length of the datagram queued, or a receive failure

struct VsockAddress
{
    u32 family;     // 4 or 6
    u8 address[16]; // network order; IPv4 uses the first 4
    u32 scopeId;    // IPv6 link-local scope, else 0
};

struct VsockSocketAddress
{
    u32 port;
    VsockAddress address;
};

struct VsockOpenParams
{
    u32 type;                 // VSOCK_TYPE_*
    VsockSocketAddress local; // port 0 = none
    u32 reserved;
};

struct VsockEvent
{
    u32 kind;
    i32 result;
};

using VsockEventCallback = void (*)(i32 handle, const VsockEvent* event);

struct VsockOptions
{
    u32 flags;
    u8 reserved[12];
    VsockEventCallback callback;
};

struct VsockInterfaceAddress
{
    VsockAddress address; // IPv6: scope id set only for fe80::/10
    u32 mask;             // IPv4: net mask in network order; IPv6: prefix length
};

static_assert(sizeof(VsockAddress) == 24);
static_assert(sizeof(VsockSocketAddress) == 28);
static_assert(sizeof(VsockOpenParams) == 36);
static_assert(sizeof(VsockEvent) == 8);
static_assert(sizeof(VsockInterfaceAddress) == 28);

// Layer life cycle. vsockInitialize starts the poll task (0 also when already running; VSOCK_E_RES when
// the task cannot be started). vsockFinalize stops it (VSOCK_E_OBJ unless running); open slots stay open.
i32 vsockInitialize();
i32 vsockFinalize();

// The poll task runs the hook after each pass that handled readiness, with no lock of this layer held. Event
// callbacks may leave work there that is better done outside the context lock, such as waking an owner thread,
// which could otherwise preempt the poll task while it holds the lock that the owner needs next. One hook per
// process; null removes it.
void vsockSetPassHook(void (*hook)());
// True on the poll task.
bool vsockOnPollTask();

// Opens a slot; returns its handle (0..31) or a failure.
i32 vsockOpen(const VsockOpenParams* params, const VsockOptions* options);
i32 vsockClose(i32 handle);
// 0 open, VSOCK_E_CLOSED not open, VSOCK_E_ARG bad handle.
i32 vsockCheckHandle(i32 handle);

// 1 when the peer of a connected TCP client or child has closed or reset the connection and no received byte
// waits in the socket, else 0; VSOCK_E_ARG bad handle, VSOCK_E_CLOSED not open, VSOCK_E_OBJ no connection.
i32 vsockPeerGone(i32 handle);

// Operations. A time-out of 0 expires at the first repeated call that finds the operation still pending,
// VSOCK_NO_TIMEOUT never; another value is a deadline in ms from the call that starts the operation.
// The caller's token is the address of its buffer or output record: a repeated call with the same token
// while pending answers VSOCK_E_TIMEOUT (and drops the operation) once the deadline has passed.
i32 vsockConnect(i32 handle, const VsockSocketAddress* remote, u32 timeoutMs);
i32 vsockAccept(i32 handle, VsockSocketAddress* peer, u32 timeoutMs);
// A send the OS takes whole answers the length at once (no record, no event); else the rest goes from the poll
// task and one event reports the total. A receive armed while bytes are waiting answers their count at once; end
// of stream and failures always come as the event.
i32 vsockSend(i32 handle, const u8* data, u32 length, u32 timeoutMs);
i32 vsockRecv(i32 handle, u8* buffer, u32 size, u32 timeoutMs);
i32 vsockSendTo(i32 handle, const u8* data, u32 length, const VsockSocketAddress* destination, u32 timeoutMs);
// Takes the oldest queued datagram: its length, VSOCK_E_EMPTY, or VSOCK_E_BUFFER (the datagram stays).
i32 vsockRecvFrom(i32 handle, u8* buffer, u32 size, VsockSocketAddress* source);

// Multicast membership of every open UDP slot bound to 0.0.0.0 or to an address of the numbered
// interface (0 = loopback, n >= 1 = n-th Ethernet interface). Both need a running layer and an IPv4 group
// (else VSOCK_E_OBJ, VSOCK_E_ARG). Join stops at the first failure and returns it; leave ignores failures (an
// unknown interface included) and returns 0.
i32 vsockJoinMulticastGroup(u32 interfaceNumber, const VsockAddress* group);
i32 vsockLeaveMulticastGroup(u32 interfaceNumber, const VsockAddress* group);

// Addresses of the numbered interface: family 0 (both, IPv4 first), 4 or 6. Returns the count written.
i32 vsockGetInterfaceAddresses(i32 interfaceNumber, u32 family, VsockInterfaceAddress* out, u32 maxCount);

// The local port of an open slot's socket (0 while a UDP slot is not bound yet): what binding port 0 chose.
// VSOCK_E_ARG bad handle or null port, VSOCK_E_CLOSED slot not open, VSOCK_E_FAIL the OS refused.
i32 vsockGetLocalPort(i32 handle, u32* port);

// Address texts. A text that does not parse gives 0x80000000; an output too small for the text and its
// terminator gives 0x80000000.
i32 vsockStringToAddress(u32 family, const char* text, VsockAddress* out);
i32 vsockAddressToString(const VsockAddress* address, char* out, u32 size);
