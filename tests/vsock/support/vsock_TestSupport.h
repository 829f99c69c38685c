// Helpers of the slot-layer suites: layer start, an event recorder, raw loopback sockets and a CRC-32.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "vsock_Socket.h"

namespace vsocktest {

// Starts the OS layer (when needed) and the slot layer; stops the slot layer again.
void startLayer();
void stopLayer();

class VsockTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
};

VsockSocketAddress loopback(u32 port);
VsockSocketAddress anyAddress(u32 port);
VsockOpenParams openParams(u32 type, const VsockSocketAddress& local);
// Options whose callback records every event.
VsockOptions recordingOptions();

// Recorded events. waitEvent removes and returns the first event of the handle and kind.
bool waitEvent(i32 handle, u32 kind, VsockEvent* out, int timeoutMs = 30000);
size_t countEvents(i32 handle, u32 kind);
void clearEvents();

// Raw blocking sockets on 127.0.0.1.
int rawTcpListen(u16* port, int backlog = 8);
int rawTcpConnect(u16 port);
int rawAccept(int listener, int timeoutMs = 30000);
int rawUdp(u16* port);
// Waits until fd is readable; false on time-out.
bool waitReadable(int fd, int timeoutMs);
bool readExactly(int fd, u8* buffer, size_t length, int timeoutMs);
bool writeAll(int fd, const u8* data, size_t length);
// True when the peer closed (read gives 0 or a reset) within the time.
bool peerClosed(int fd, int timeoutMs);
// True once the other end's kernel has acknowledged every byte fd sent, and its end of stream when it was shut
// down, within the time: they then wait in the other end's receive queue.
bool waitAcknowledged(int fd, int timeoutMs = 60000);
void closeFd(int fd);
// Sends a datagram to 127.0.0.1:port.
bool rawSendTo(int fd, u16 port, const u8* data, size_t length);

// The listening end of a line link (an editor end, for example): listens on 127.0.0.1 at a port of the system's
// choice, takes one connection and exchanges lines ending in a line feed with it.
class LinePeer
{
public:
    // Time limits of -1 stand for waitMs.
    explicit LinePeer(int waitMs = 10000);
    ~LinePeer();
    LinePeer(const LinePeer&) = delete;
    LinePeer& operator=(const LinePeer&) = delete;

    u16 port() const { return m_port; }
    // The accepted link's socket (-1 none).
    int descriptor() const { return m_link; }
    bool accept(int timeoutMs = -1);
    // True when a connection waits to be accepted within the time.
    bool hasCaller(int timeoutMs);
    // Sends the line and a line feed.
    bool send(const std::string& line);
    // The next line without its line feed; nothing when none arrives in time or the link closed.
    std::optional<std::string> nextLine(int timeoutMs = -1);
    // The next line that does not start with the prefix (those are skipped).
    std::optional<std::string> nextLineSkipping(const std::string& prefix, int timeoutMs = -1);
    // Closes the accepted link and forgets what it left unread; accept takes the next one.
    void hangUp();
    // True when the peer closed the link within the time.
    bool linkClosed(int timeoutMs);

private:
    int limit(int timeoutMs) const { return timeoutMs < 0 ? m_waitMs : timeoutMs; }

    int m_waitMs;
    int m_listener = -1;
    int m_link = -1;
    u16 m_port = 0;
    std::string m_pending;
};

// Holds the poll task inside an event callback, with the context lock, from construction until release or
// destruction: what arrives at sockets meanwhile is seen by the poll task only afterwards, in one event per socket.
// Events are dispatched in the order they came, so a hold is also a barrier: once held, every readiness the
// kernel reported before has been dispatched. While held, the holding thread must not use the slot layer.
class PollTaskHold
{
public:
    explicit PollTaskHold(int timeoutMs = 60000);
    ~PollTaskHold();
    PollTaskHold(const PollTaskHold&) = delete;
    PollTaskHold& operator=(const PollTaskHold&) = delete;

    bool held() const { return m_held; }
    void release();

private:
    i32 m_handle = -1;
    int m_sender = -1;
    bool m_held = false;
};

// The local port of a slot (test accessor).
u16 localPort(i32 handle);
// A UDP slot opened without a port is not bound: one send-to binds it to an ephemeral port, which the
// returned value gives. The datagram goes to `sink` (a raw UDP socket) and is drained.
u16 bindBySending(i32 handle, int sink, u16 sinkPort);

// A multicast group of 239.255.0.0/16 (never a product group), distinct per process.
std::string testMulticastGroup();
// A UDP port that was free a moment ago.
u16 freeUdpPort();
// A raw UDP socket bound to source (IPv4 text, port 0) whose multicast goes out on loopback and stays on this host.
int rawGroupSender(const char* source);
// Sends one datagram from fd to group:port.
bool rawSendToGroup(int fd, const std::string& group, u16 port, const std::vector<u8>& data);

u32 crc32(const u8* data, size_t length, u32 crc = 0);
std::vector<u8> pattern(size_t length, u32 seed);

} // namespace vsocktest
