// The editor-link client unit over a real loopback socket to a raw peer, driven by an owner loop on the test
// thread (the slot layer's poll task is the second thread).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vcom_TestSupport.h"
#include "vdp_ClientUnit.h"
#include "vdp_PacketConvertor.h"
#include "vdp_Result.h"
#include "vdp_TestSupport.h"
#include "vdtest_Support.h"

using namespace VDProtocol;
using namespace vsocktest;
using vcomtest::ipv4;

namespace {

class Observer : public IVDProtocolConnectObserver
{
public:
    void onConnected() override { m_events.push_back("connected"); }
    void onConnectionFailed(u32 errorCode, u8 flag) override
    {
        m_events.push_back("failed:" + std::to_string(errorCode) + ":" + std::to_string(flag));
    }
    void onDisconnected() override { m_events.push_back("disconnected"); }
    void onReceivePacket(const PacketContainer& packet) override { m_packets.push_back(packet); }

    std::vector<std::string> m_events;
    std::vector<PacketContainer> m_packets;
};

std::string requestLine(const std::string& reqId)
{
    return R"({"request":{"cmd":"get_dev_info","reqid":")" + reqId + R"("}})";
}

class ClientUnit : public vcomtest::VcomTest
{
protected:
    void TearDown() override
    {
        m_unit.reset();
        closeFd(m_peer);
        closeFd(m_listener);
        vcomtest::VcomTest::TearDown();
    }
    void initialize() { ASSERT_EQ(m_unit->initialize("VDProtocol", ipv4("0.0.0.0"), &m_owner, &m_observer), 0); }
    // Connects the unit to a raw listener whose accepted socket has a small receive buffer.
    void connectUnit()
    {
        m_listener = rawTcpListen(&m_port);
        ASSERT_GE(m_listener, 0);
        const int size = 32 * 1024;
        setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
        initialize();
        ASSERT_EQ(m_unit->connect(ipv4("127.0.0.1"), m_port), 0);
        ASSERT_TRUE(pump([&] { return m_unit->isConnected(); }));
        EXPECT_EQ(m_observer.m_events, (std::vector<std::string>{"connected"}));
        m_peer = rawAccept(m_listener);
        ASSERT_GE(m_peer, 0);
    }
    bool pump(const std::function<bool()>& pred, int timeoutMs = 20000)
    {
        return m_owner.pumpUntil(
            {}, nullptr,
            [&] {
                m_unit->processSocketEvents();
                return pred();
            },
            timeoutMs);
    }
    void pumpFor(int ms)
    {
        pump([] { return false; }, ms);
    }
    bool write(const std::string& bytes)
    {
        return writeAll(m_peer, reinterpret_cast<const u8*>(bytes.data()), bytes.size());
    }
    // Reads exactly the expected bytes on a thread while the owner loop runs.
    std::string readWhilePumping(size_t length)
    {
        std::string got(length, '\0');
        bool ok = false;
        bool done = false;
        std::mutex lock;
        std::thread reader([&] {
            const bool result = readExactly(m_peer, reinterpret_cast<u8*>(got.data()), length, 30000);
            std::lock_guard<std::mutex> guard(lock);
            ok = result;
            done = true;
        });
        pump(
            [&] {
                std::lock_guard<std::mutex> guard(lock);
                return done;
            },
            40000);
        reader.join();
        EXPECT_TRUE(ok);
        return got;
    }
    std::vector<std::string> reqIds() const
    {
        std::vector<std::string> ids;
        for (const auto& packet : m_observer.m_packets) {
            ids.push_back(packet.m_reqId);
        }
        return ids;
    }

    vcomtest::TestOwner m_owner;
    Observer m_observer;
    std::unique_ptr<VDProtocolClientUnit> m_unit = std::make_unique<VDProtocolClientUnit>();
    int m_listener = -1;
    int m_peer = -1;
    u16 m_port = 0;
};

} // namespace

TEST_F(ClientUnit, FramesLinesInOrder)
{
    connectUnit();
    // Two lines and the start of a third in one write; the third completes with the next write.
    ASSERT_TRUE(write(requestLine("1") + "\n" + requestLine("2") + "\n" + R"({"request":{"cmd":"get_x",)"));
    ASSERT_TRUE(pump([&] { return m_observer.m_packets.size() == 2; }));
    pumpFor(50);
    EXPECT_EQ(reqIds(), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(m_observer.m_packets[0].m_cmdInfo, "dev_info");
    ASSERT_TRUE(write(R"("reqid":"3"}})"
                      "\n"));
    ASSERT_TRUE(pump([&] { return m_observer.m_packets.size() == 3; }));
    EXPECT_EQ(m_observer.m_packets[2].m_cmdInfo, "x");

    // A line feed as the first byte of a read completes the line held back.
    ASSERT_TRUE(write(requestLine("4")));
    pumpFor(100);
    EXPECT_EQ(m_observer.m_packets.size(), 3u);
    ASSERT_TRUE(write("\n"));
    ASSERT_TRUE(pump([&] { return m_observer.m_packets.size() == 4; }));

    // A NUL ends the line; a lone line feed and a line that is not JSON give nothing.
    ASSERT_TRUE(
        write(requestLine("5") + std::string(1, '\0') + "trailing garbage\n\nnot json\n" + requestLine("6") + "\n"));
    ASSERT_TRUE(pump([&] { return m_observer.m_packets.size() == 6; }));
    pumpFor(50);
    EXPECT_EQ(reqIds(), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

// The editor sends part of a line and ends its stream; the unit reports the close and drops the part, which a later
// connection does not complete. The end comes with the bytes (both reach the socket layer in one event while a
// receive waits), or once the bytes were acknowledged (each in an event of its own while the owner is still busy
// with an earlier line and no receive waits).
TEST_F(ClientUnit, AnEndOfStreamBehindPartOfALineIsReported)
{
    const std::string part = R"({"request":{"cmd":"get_x",)";
    for (const bool twoSegments : {false, true}) {
        SCOPED_TRACE(twoSegments ? "end after the bytes" : "end with the bytes");
        m_observer = Observer();
        connectUnit();
        std::vector<std::string> expected;
        if (twoSegments) {
            // The owner leaves this line unhandled, so that no receive waits while the rest arrives.
            const u32 wakeups = m_owner.wakeups();
            ASSERT_TRUE(write(requestLine("1") + "\n"));
            ASSERT_TRUE(vdtest::waitUntil([&] { return m_owner.wakeups() > wakeups; }, 60000));
            expected.push_back("1");
            ASSERT_TRUE(write(part));
            ASSERT_TRUE(waitAcknowledged(m_peer));
            ASSERT_EQ(shutdown(m_peer, SHUT_WR), 0);
            ASSERT_TRUE(waitAcknowledged(m_peer));
            PollTaskHold barrier; // both have reached the socket layer
        } else {
            PollTaskHold hold;
            ASSERT_TRUE(write(part));
            ASSERT_EQ(shutdown(m_peer, SHUT_WR), 0);
            ASSERT_TRUE(waitAcknowledged(m_peer));
        }
        ASSERT_TRUE(pump([&] { return m_observer.m_events.size() == 2; }, 60000));
        EXPECT_EQ(m_observer.m_events, (std::vector<std::string>{"connected", "disconnected"}));
        EXPECT_FALSE(m_unit->isConnected());

        closeFd(m_peer);
        ASSERT_EQ(m_unit->connect(ipv4("127.0.0.1"), m_port), 0);
        ASSERT_TRUE(pump([&] { return m_unit->isConnected(); }));
        m_peer = rawAccept(m_listener);
        ASSERT_GE(m_peer, 0);
        const std::string rest = R"("reqid":"2"}})";
        ASSERT_TRUE(write(rest + "\n" + requestLine("3") + "\n"));
        ASSERT_TRUE(pump([&] { return !m_observer.m_packets.empty() && m_observer.m_packets.back().m_reqId == "3"; }));
        expected.push_back("3");
        EXPECT_EQ(reqIds(), expected);

        m_unit = std::make_unique<VDProtocolClientUnit>();
        closeFd(m_peer);
        closeFd(m_listener);
        m_peer = m_listener = -1;
    }
}

TEST_F(ClientUnit, LongestLineDecodesLongerLinesAreDropped)
{
    vdptest::PrintCapture print;
    connectUnit();
    const std::string tail = R"("}})";
    const auto head = [](const char* reqId) {
        return R"({"request":{"cmd":"a_b","reqid":")" + std::string(reqId) + R"(","from":")";
    };
    // A line of the given length (without its line feed) whose "from" fills the rest.
    const auto lineOf = [&](size_t length, const char* reqId) {
        return head(reqId) + std::string(length - head(reqId).size() - tail.size(), 'x') + tail + "\n";
    };
    const std::string bytes = lineOf(VDProtocolClientUnit::MAX_LINE_LENGTH, "longest") +
                              lineOf(VDProtocolClientUnit::MAX_LINE_LENGTH + 1, "over") +
                              std::string(6 * 1024 * 1024, 'y') + "\n" + requestLine("after") + "\n";
    std::thread writer([&] { EXPECT_TRUE(write(bytes)); });
    const bool arrived = pump([&] { return m_observer.m_packets.size() == 2; }, 60000);
    writer.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(reqIds(), (std::vector<std::string>{"longest", "after"}));
    EXPECT_EQ(m_observer.m_packets[0].m_from.size(),
              VDProtocolClientUnit::MAX_LINE_LENGTH - head("longest").size() - tail.size());
    const std::string warning = "[W] VDProtocolClientUnit::onReceived - line longer than 5242878 bytes dropped.\n";
    EXPECT_EQ(print.take(), warning + warning);
    EXPECT_TRUE(m_unit->isConnected());
}

TEST_F(ClientUnit, QueuedRepliesLeaveWholeAndInOrder)
{
    connectUnit();
    std::string expected;
    PacketContainer reply;
    ASSERT_EQ(reply.set("reply", "getData_prm_val", "vd", "editor", ""), 0);
    for (int i = 0; i < 2048; ++i) { // about 2 MiB
        reply.m_reqId = std::to_string(i);
        reply.setResult(RESULT_OK, 100, std::string(1000, static_cast<char>('a' + i % 26)));
        ASSERT_EQ(m_unit->sendPacket(reply), 0) << i;
        std::string line;
        ASSERT_EQ(encodePacket(reply, line), 0);
        expected += line + "\n";
    }
    pumpFor(200);

    // Lines that do not fit whole into the free ring are refused, and nothing of them is queued.
    reply.setResult(RESULT_OK, 100, std::string(256 * 1024, 'z'));
    i32 result = 0;
    for (int i = 0; i < 64 && result == 0; ++i) {
        reply.m_reqId = "big" + std::to_string(i);
        const u32 before = m_unit->getQueuedBytes();
        result = m_unit->sendPacket(reply);
        if (result == 0) {
            std::string line;
            ASSERT_EQ(encodePacket(reply, line), 0);
            expected += line + "\n";
        } else {
            EXPECT_EQ(m_unit->getQueuedBytes(), before);
        }
    }
    EXPECT_EQ(result, RESULT_SOCKET_ERROR);
    EXPECT_GT(m_unit->getQueuedBytes(), VDProtocolClientUnit::BUFFER_SIZE - 256 * 1024 - 200);

    const std::string got = readWhilePumping(expected.size());
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(m_unit->getQueuedBytes(), 0u);

    // The stream is still line-aligned: the next line arrives whole.
    reply.m_reqId = "last";
    reply.setResult(RESULT_OK, 100, "");
    ASSERT_EQ(m_unit->sendPacket(reply), 0);
    std::string last;
    ASSERT_EQ(encodePacket(reply, last), 0);
    EXPECT_EQ(readWhilePumping(last.size() + 1), last + "\n");
}

TEST_F(ClientUnit, ConnectFailureAndCallsBeforeInitialize)
{
    PacketContainer packet;
    packet.m_type = "notify";
    EXPECT_EQ(m_unit->sendPacket(packet), RESULT_OUT_OF_RANGE);
    EXPECT_EQ(m_unit->flushSendRing(), RESULT_OUT_OF_RANGE);
    EXPECT_EQ(m_unit->connect(ipv4("127.0.0.1"), 1), RESULT_OUT_OF_RANGE);
    EXPECT_EQ(m_unit->processSocketEvents(), RESULT_OUT_OF_RANGE);
    EXPECT_FALSE(m_unit->isConnected());
    initialize();
    EXPECT_EQ(m_unit->initialize("again", ipv4("0.0.0.0"), &m_owner, &m_observer), RESULT_OUT_OF_RANGE);

    // A port with a bound socket that does not listen refuses.
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    socklen_t length = sizeof(address);
    getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const i32 result = m_unit->connect(ipv4("127.0.0.1"), ntohs(address.sin_port));
    if (result == 0) {
        ASSERT_TRUE(pump([&] { return m_observer.m_events.size() == 2; }));
        EXPECT_EQ(m_observer.m_events, (std::vector<std::string>{"failed:0:0", "disconnected"}));
    } else {
        EXPECT_TRUE(failed(result));
        pumpFor(50);
        EXPECT_TRUE(m_observer.m_events.empty());
    }
    EXPECT_FALSE(m_unit->isConnected());
    closeFd(holder);
}

TEST_F(ClientUnit, CommunicationFailureDropsTheQueueAndLaterLinesLeaveOnConnect)
{
    initialize();
    PacketContainer first;
    first.m_type = "notify";
    first.m_from = "dropped";
    ASSERT_EQ(m_unit->sendPacket(first), 0); // not connected yet: the line waits
    EXPECT_GT(m_unit->getQueuedBytes(), 0u);
    m_unit->onCommunicationFailed(VDProtocolClientUnit::SOCKET_ID, 0, 0);
    EXPECT_EQ(m_unit->getQueuedBytes(), 0u);

    PacketContainer second;
    second.m_type = "connected";
    second.m_from = "vd";
    ASSERT_EQ(m_unit->sendPacket(second), 0);
    const std::string line = R"({"connected":{"from":"vd"}})"
                             "\n";
    EXPECT_EQ(m_unit->getQueuedBytes(), line.size());

    m_listener = rawTcpListen(&m_port);
    ASSERT_EQ(m_unit->connect(ipv4("127.0.0.1"), m_port), 0);
    ASSERT_TRUE(pump([&] { return m_unit->isConnected(); }));
    m_peer = rawAccept(m_listener);
    EXPECT_EQ(readWhilePumping(line.size()), line);
}

TEST(ClientUnitErrors, SocketResultsMapToResultCodes)
{
    const struct
    {
        u32 code;
        u32 result;
    } cases[] = {
        {0, 0},
        {1, 0},
        {6, 0},
        {0x80000000, 0x8000000F},
        {0x80000002, 0x8000000F},
        {0x80000003, 0x80000008},
        {0x80000004, 0x80000008},
        {0x80000005, 0x80000006},
        {0x80000080, 0x80000002},
        {0x80000081, 0x80000007},
        {0x80000082, 0x80000004},
        {0x80000083, 0x80000005},
        {0x80000084, 0x8000000F},
        {0xFFFFFFFF, 0x8000000F},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<u32>(VDProtocolClientUnit::mapSocketError(static_cast<i32>(c.code))), c.result)
            << std::hex << c.code;
    }
}
