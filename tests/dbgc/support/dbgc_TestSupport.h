// Helpers of the debug-console suites: the thread and socket environment, a loopback TCP client, an in-memory
// transport, stand-in application threads that record what they receive, and a running console thread.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbgc_DebugConsoleThread.h"
#include "dbgc_LowIO.h"
#include "tms_AbstractThread.h"
#include "vdtest_Support.h"

namespace dbgctest {

// ThreadRepository (and with it the OS layer) and the socket layer for the whole suite.
class Environment : public ::testing::Environment
{
public:
    void SetUp() override;
    void TearDown() override;
};

// A blocking loopback client with a receive buffer.
class TestClient
{
public:
    TestClient() = default;
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connectTo(u16 port);
    bool send(const std::string& bytes);
    // Receives until the buffer holds text (searching from the start); true when it does within the time.
    bool waitFor(const std::string& text, int timeoutMs = 30000);
    // Receives for ms milliseconds.
    void drainFor(int ms);
    // True when the peer closed the connection within the time.
    bool waitClosed(int timeoutMs = 30000);
    // The received bytes, and taking them (the buffer is emptied).
    const std::string& received() const { return m_buffer; }
    bool isClosed() const { return m_closed; }
    int descriptor() const { return m_fd; }
    std::string take();
    void close();
    // Closes with a reset instead of an orderly close.
    void reset();

private:
    // One receive with a time limit; false when closed or failed.
    bool receiveSome(int timeoutMs);

    int m_fd = -1;
    bool m_closed = false;
    std::string m_buffer;
};

// In-memory transport: bytes queued with feed() are read by the console; writes are collected.
class FakeTransport : public DBGC::IDebugConsoleLowIO
{
public:
    u32 open(DBGC::IDebugConsoleLowIOCallback* callback) override;
    u32 close() override;
    bool isSerial() const override { return false; }
    u32 read(u8* buffer, u32 size, u32* got) override;
    u32 write(const u8* data, u32 size, u32* written) override;
    u32 flush() override { return 0; }
    u32 poll() override;

    void feed(const std::string& bytes);
    std::string takeOutput();
    std::string output();

    // Failure switches.
    bool m_failOpen = false;
    bool m_failWrite = false;
    // Largest part taken by one write (exercises the callers' repeat loops); 0 = everything.
    u32 m_writeChunk = 0;
    std::atomic<u32> m_opens{0};
    std::atomic<u32> m_closes{0};
    std::atomic<u32> m_writes{0};

private:
    std::mutex m_lock;
    DBGC::IDebugConsoleLowIOCallback* m_callback = nullptr;
    std::deque<u8> m_input;
    std::string m_output;
};

// A stand-in application thread: records every user message ("CommandName|Field:kind:value|...", fields in
// name order) and every status it enters.
class StandInThread : public TMS::AbstractThread
{
public:
    StandInThread() : TMS::AbstractThread(20) {}
    ~StandInThread() override;

    u32 onReceiveMessage(const TMS::AbstractMessage& message) override;
    u32 onChangeStatus(u32 status, const TMS::FieldMap& arguments) override;

    std::vector<std::string> messages();
    bool waitForMessages(size_t count, int timeoutMs = 30000);
    bool sawStatus(u32 status);

private:
    std::mutex m_lock;
    std::vector<std::string> m_messages;
    std::vector<u32> m_statuses;
};

// Initialise a thread with the sizes every test thread uses, waiting until it takes messages, and (optionally)
// start it.
u32 initializeThread(TMS::AbstractThread& thread, const char* name);
u32 startThread(TMS::AbstractThread& thread);

// A running console thread ("DebugConsole") on an ephemeral loopback port with the TCP console open, and a
// connected client that has read the banner and the first prompt.
class ConsoleRig
{
public:
    ConsoleRig();
    ~ConsoleRig();

    // Sends a line ending in CR and waits for the prompt that follows its output. The output between the echo
    // and that prompt is returned.
    std::string command(const std::string& line, const std::string& prompt = "Top>");

    std::unique_ptr<DBGC::DebugConsoleThread> m_thread;
    TestClient m_client;
    u16 m_port = 0;
    bool m_ready = false;
};

// The TCP listeners on port in a table of the form of /proc/net/tcp: local address ("0100007F:C352") -> socket
// inode.
std::map<std::string, std::string> tcpListeners(const char* table, u16 port);

using vdtest::waitUntil;

} // namespace dbgctest
