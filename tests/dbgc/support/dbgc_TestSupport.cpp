#include "dbgc_TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tms_ThreadRepository.h"
#include "vsock_Socket.h"

namespace dbgctest {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

const char* kindName(u32 kind)
{
    switch (kind) {
    case KVariant::KIND_INT32:
        return "i";
    case KVariant::KIND_UINT32:
        return "u";
    case KVariant::KIND_STRING:
        return "s";
    case KVariant::KIND_FLOAT32:
        return "f";
    case KVariant::KIND_BINARY:
        return "b";
    default:
        return "-";
    }
}

} // namespace

void Environment::SetUp()
{
    ASSERT_EQ(TMS::ThreadRepository::initialize(), 0u);
    ASSERT_GE(vsockInitialize(), 0);
}

void Environment::TearDown()
{
    vsockFinalize();
    TMS::ThreadRepository::finalize();
}

// ---------------------------------------------------------------------------------------------------------------

TestClient::~TestClient()
{
    close();
}

bool TestClient::connectTo(u16 port)
{
    close();
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_closed = false;
    m_buffer.clear();
    return ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

bool TestClient::send(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TestClient::receiveSome(int timeoutMs)
{
    if (m_fd < 0 || m_closed) {
        return false;
    }
    pollfd p{m_fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0) {
        return ready == 0;
    }
    char chunk[4096];
    const ssize_t n = ::recv(m_fd, chunk, sizeof(chunk), 0);
    if (n <= 0) {
        m_closed = true;
        return false;
    }
    m_buffer.append(chunk, static_cast<size_t>(n));
    return true;
}

bool TestClient::waitFor(const std::string& text, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_buffer.find(text) == std::string::npos) {
        const int left = remainingMs(deadline);
        if (left == 0 || !receiveSome(left > 20 ? 20 : left)) {
            return m_buffer.find(text) != std::string::npos;
        }
    }
    return true;
}

void TestClient::drainFor(int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (remainingMs(deadline) > 0 && receiveSome(remainingMs(deadline))) {
    }
}

bool TestClient::waitClosed(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_closed && remainingMs(deadline) > 0) {
        receiveSome(remainingMs(deadline) > 20 ? 20 : remainingMs(deadline));
    }
    return m_closed;
}

std::string TestClient::take()
{
    std::string out;
    out.swap(m_buffer);
    return out;
}

void TestClient::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void TestClient::reset()
{
    if (m_fd >= 0) {
        const linger abort{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    }
    close();
}

// ---------------------------------------------------------------------------------------------------------------

u32 FakeTransport::open(DBGC::IDebugConsoleLowIOCallback* callback)
{
    ++m_opens;
    if (m_failOpen) {
        return 0x80000000u;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_callback = callback;
    return 0;
}

u32 FakeTransport::close()
{
    ++m_closes;
    std::lock_guard<std::mutex> guard(m_lock);
    m_callback = nullptr;
    return 0;
}

u32 FakeTransport::read(u8* buffer, u32 size, u32* got)
{
    *got = 0;
    if (buffer == nullptr || size == 0) {
        return 0x80000000u;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    while (*got < size && !m_input.empty()) {
        buffer[(*got)++] = m_input.front();
        m_input.pop_front();
    }
    return 0;
}

u32 FakeTransport::write(const u8* data, u32 size, u32* written)
{
    ++m_writes;
    *written = 0;
    if (m_failWrite || data == nullptr || size == 0) {
        return 0x80000000u;
    }
    const u32 part = (m_writeChunk != 0 && m_writeChunk < size) ? m_writeChunk : size;
    std::lock_guard<std::mutex> guard(m_lock);
    m_output.append(reinterpret_cast<const char*>(data), part);
    *written = part;
    return 0;
}

u32 FakeTransport::poll()
{
    DBGC::IDebugConsoleLowIOCallback* callback = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        callback = m_callback;
        if (m_input.empty()) {
            callback = nullptr;
        }
    }
    if (callback != nullptr) {
        callback->onReceive(this);
    }
    return 0;
}

void FakeTransport::feed(const std::string& bytes)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_input.insert(m_input.end(), bytes.begin(), bytes.end());
}

std::string FakeTransport::takeOutput()
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::string out;
    out.swap(m_output);
    return out;
}

std::string FakeTransport::output()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_output;
}

// ---------------------------------------------------------------------------------------------------------------

StandInThread::~StandInThread()
{
    if (getTaskId() != TMS::NO_ID) {
        release();
    }
}

u32 StandInThread::onReceiveMessage(const TMS::AbstractMessage& message)
{
    std::string text =
        message.getValue("CommandName").getString() != nullptr ? message.getValue("CommandName").getString() : "?";
    for (const auto& [name, value] : message.getFields()) {
        if (name == "CommandName") {
            continue;
        }
        text += "|" + name + ":" + kindName(value.getKind()) + ":";
        if (value.getKind() == KVariant::KIND_STRING) {
            text += value.getString();
        } else if (value.getKind() == KVariant::KIND_UINT32) {
            text += std::to_string(value.getUInt());
        } else if (value.getKind() == KVariant::KIND_INT32) {
            text += std::to_string(value.getInt());
        }
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_messages.push_back(text);
    return 0;
}

u32 StandInThread::onChangeStatus(u32 status, const TMS::FieldMap&)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_statuses.push_back(status);
    return 0;
}

std::vector<std::string> StandInThread::messages()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages;
}

bool StandInThread::waitForMessages(size_t count, int timeoutMs)
{
    return waitUntil([&] { return messages().size() >= count; }, timeoutMs);
}

bool StandInThread::sawStatus(u32 status)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (u32 s : m_statuses) {
        if (s == status) {
            return true;
        }
    }
    return false;
}

u32 initializeThread(TMS::AbstractThread& thread, const char* name)
{
    const u32 result = thread.initialize(name, 0, 0, 20000, 20000, 100, 100, TMS::AbstractMessage::emptyFields());
    // The thread takes user messages only from STOP on, which its own task reaches after this returns.
    if (result == 0 && !waitUntil([&] { return thread.getStatus() >= TMS::STATUS_STOP; }, 60000)) {
        return 0x80000000u;
    }
    return result;
}

u32 startThread(TMS::AbstractThread& thread)
{
    return thread.start(TMS::AbstractMessage::emptyFields());
}

// ---------------------------------------------------------------------------------------------------------------

ConsoleRig::ConsoleRig() : m_thread(std::make_unique<DBGC::DebugConsoleThread>(0, "127.0.0.1"))
{
    if (initializeThread(*m_thread, "DebugConsole") != 0 || startThread(*m_thread) != 0) {
        return;
    }
    if (m_thread->startEtherConsole() != 0) {
        return;
    }
    m_port = m_thread->getTransport().getBoundPort();
    m_ready = m_port != 0 && m_client.connectTo(m_port) && m_client.waitFor("== [?]  Help Display\n\nTop>");
    m_client.take();
}

ConsoleRig::~ConsoleRig()
{
    m_client.close();
    m_thread.reset();
}

std::string ConsoleRig::command(const std::string& line, const std::string& prompt)
{
    m_client.send(line + "\r");
    const std::string echo = line + "\r\n";
    waitUntil(
        [&] {
            m_client.drainFor(0);
            m_client.waitFor(prompt, 20);
            const std::string& b = m_client.received();
            return b.size() >= echo.size() + prompt.size() && b.compare(0, echo.size(), echo) == 0 &&
                   b.compare(b.size() - prompt.size(), prompt.size(), prompt) == 0;
        },
        30000);
    std::string all = m_client.take();
    if (all.size() < echo.size() + prompt.size()) {
        return "<timeout:" + all + ">";
    }
    return all.substr(echo.size(), all.size() - echo.size() - prompt.size());
}

std::map<std::string, std::string> tcpListeners(const char* table, u16 port)
{
    char suffix[8];
    std::snprintf(suffix, sizeof(suffix), ":%04X", port);
    std::map<std::string, std::string> found;
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot;
        std::string local;
        std::string remote;
        std::string state;
        std::string skipped;
        std::string inode;
        fields >> slot >> local >> remote >> state >> skipped >> skipped >> skipped >> skipped >> skipped >> inode;
        if (state == "0A" && local.size() > 5 && local.ends_with(suffix)) {
            found[local] = inode;
        }
    }
    return found;
}

} // namespace dbgctest
