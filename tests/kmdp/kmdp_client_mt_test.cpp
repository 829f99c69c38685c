// The meter client on loopback: group datagrams reach the accessor, the address record filters sources,
// and open, close and reopen hold up from inside the accessor too.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "kmdp_KMDPClient.h"
#include "kmdp_Result.h"
#include "vsock_TestSupport.h"

using namespace KMDP;
using namespace vsocktest;

namespace {

constexpr u32 LOOPBACK = 0x7F000001;

// The owner: woken by the socket, it serves the client on the test thread; the accessor keeps datagrams.
class Owner : public VCOM::IVComWakeupFunction, public IClientMeterDataAccessor, public IKMDPClientCallback
{
public:
    void wakeup(u16, VCOM::IVCom*) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_woken = true;
        m_signal.notify_one();
    }
    i32 setMeterData(const u8* data, u32 length) override
    {
        m_datagrams.emplace_back(data, data + length);
        if (m_onData) {
            m_onData();
        }
        return length < 6 ? KMDP_E_FAILED : KMDP_OK;
    }
    void onClientNotice(u32 notice) override { m_notices.push_back(notice); }

    bool pumpUntil(KMDPClient& client, const std::function<bool()>& done, int timeoutMs = 5000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_signal.wait_for(lock, std::chrono::milliseconds(10), [this] { return m_woken; });
                m_woken = false;
            }
            client.processSocketEvents();
        }
        return true;
    }

    std::vector<std::vector<u8>> m_datagrams;
    std::vector<u32> m_notices;
    std::function<void()> m_onData;

private:
    std::mutex m_lock;
    std::condition_variable m_signal;
    bool m_woken = false;
};

void sendToGroup(int fd, const std::string& group, u16 port, const std::vector<u8>& data)
{
    ASSERT_TRUE(rawSendToGroup(fd, group, port, data));
}

class KmdpClient : public VsockTest
{
protected:
    void SetUp() override
    {
        VsockTest::SetUp();
        m_group = testMulticastGroup();
        m_port = freeUdpPort();
        m_sender = rawGroupSender("127.0.0.1");
    }
    void TearDown() override
    {
        closeFd(m_sender);
        VsockTest::TearDown();
    }

    std::string m_group;
    u16 m_port = 0;
    int m_sender = -1;
    Owner m_owner;
};

} // namespace

TEST_F(KmdpClient, GroupDatagramsReachTheAccessorAndTheRecordFiltersSources)
{
    KMDPClient client(m_group.c_str(), m_port);
    ASSERT_EQ(client.initialize(&m_owner, &m_owner, &m_owner), KMDP_OK);
    MeterAddress any;
    ASSERT_EQ(client.open(LOOPBACK, any, "PRCS"), KMDP_OK);
    EXPECT_TRUE(client.isOpen());
    EXPECT_EQ(client.getTag(), "PRCS");
    EXPECT_EQ(client.getInterfaceNumber(), 0);

    const std::vector<std::vector<u8>> sent = {pattern(64, 1), {0x20, 1, 0}, pattern(1472, 2), pattern(2048, 3)};
    for (const auto& datagram : sent) {
        sendToGroup(m_sender, m_group, m_port, datagram);
    }
    ASSERT_TRUE(m_owner.pumpUntil(client, [&] { return m_owner.m_datagrams.size() == sent.size(); }));
    EXPECT_EQ(m_owner.m_datagrams, sent);
    ClientStatistics stats = client.getStatistics();
    EXPECT_EQ(stats.m_delivered, 3u);
    EXPECT_EQ(stats.m_refused, 1u); // the accessor's answer is counted

    // With the device in the record, other sources are dropped before the accessor.
    MeterAddress device;
    device.m_device = LOOPBACK;
    ASSERT_EQ(client.open(LOOPBACK, device, "PRCS"), KMDP_OK);
    const int stranger = rawGroupSender("127.0.0.2");
    sendToGroup(stranger, m_group, m_port, pattern(32, 4));
    sendToGroup(m_sender, m_group, m_port, pattern(32, 5));
    ASSERT_TRUE(m_owner.pumpUntil(client, [&] { return m_owner.m_datagrams.size() == sent.size() + 1; }));
    EXPECT_EQ(m_owner.m_datagrams.back(), pattern(32, 5));
    EXPECT_EQ(client.getStatistics().m_filtered, 1u);
    closeFd(stranger);

    // An empty datagram neither reaches the accessor nor ends the socket.
    const size_t before = m_owner.m_datagrams.size();
    sendToGroup(m_sender, m_group, m_port, {});
    m_owner.pumpUntil(
        client, [] { return false; }, 50);
    sendToGroup(m_sender, m_group, m_port, pattern(16, 6));
    ASSERT_TRUE(m_owner.pumpUntil(client, [&] { return m_owner.m_datagrams.size() == before + 1; }));
    EXPECT_EQ(m_owner.m_datagrams.back(), pattern(16, 6));

    EXPECT_EQ(client.close(), KMDP_OK);
    EXPECT_FALSE(client.isOpen());
    EXPECT_EQ(client.getTag(), "");
    EXPECT_EQ(client.getInterfaceNumber(), -1);
    EXPECT_EQ(client.close(), KMDP_OK);
    EXPECT_TRUE(m_owner.m_notices.empty());
}

TEST_F(KmdpClient, OpenRefusesWhatItCannotServeAndCloseWaitsForTheSocketWork)
{
    MeterAddress any;
    KMDPClient client(m_group.c_str(), m_port);
    EXPECT_EQ(client.open(LOOPBACK, any, "PRCS"), KMDP_E_NOT_READY);
    EXPECT_EQ(client.initialize(nullptr, &m_owner, nullptr), KMDP_E_FAILED);
    ASSERT_EQ(client.initialize(&m_owner, &m_owner, nullptr), KMDP_OK);
    EXPECT_EQ(client.open(0xC0000201, any, "PRCS"), KMDP_E_NOT_FOUND); // 192.0.2.1 is on no interface
    for (const char* tag : {static_cast<const char*>(nullptr), "", "TOOLONGT", "A B"}) {
        EXPECT_EQ(client.open(LOOPBACK, any, tag), KMDP_E_FAILED);
    }
    EXPECT_FALSE(client.isOpen());
    for (const char* group : {"239.255.1", "10.0.0.1", static_cast<const char*>(nullptr)}) {
        KMDPClient bad(group, m_port);
        ASSERT_EQ(bad.initialize(&m_owner, &m_owner, nullptr), KMDP_OK);
        EXPECT_EQ(bad.open(LOOPBACK, any, "PRCS"), KMDP_E_FAILED);
    }

    // Closed from inside the accessor: the datagrams of that pass stop and the socket goes afterwards.
    ASSERT_EQ(client.open(LOOPBACK, any, "PRCS"), KMDP_OK);
    EXPECT_EQ(client.initialize(&m_owner, &m_owner, nullptr), KMDP_E_FAILED); // not while open
    m_owner.m_onData = [&] { EXPECT_EQ(client.close(), KMDP_OK); };
    sendToGroup(m_sender, m_group, m_port, pattern(8, 1));
    sendToGroup(m_sender, m_group, m_port, pattern(8, 2));
    ASSERT_TRUE(m_owner.pumpUntil(client, [&] { return !client.isOpen(); }));
    EXPECT_EQ(m_owner.m_datagrams.size(), 1u);
    m_owner.m_onData = nullptr;
    ASSERT_EQ(client.open(LOOPBACK, any, "PRCS"), KMDP_OK);
    sendToGroup(m_sender, m_group, m_port, pattern(8, 3));
    ASSERT_TRUE(m_owner.pumpUntil(client, [&] { return m_owner.m_datagrams.size() == 2; }));
    EXPECT_EQ(m_owner.m_datagrams.back(), pattern(8, 3));
}

TEST(KmdpMeterType, LowFiveBitsOfTheFirstByteWhenTheyNameAKind)
{
    const std::pair<std::vector<u8>, i32> cases[] = {
        {{}, -1}, {{0x20}, 0}, {{0x25, 9}, 5}, {{0x26}, -1}, {{0x3F}, -1}, {{0xE1}, 1}, {{0x02}, 2},
    };
    for (const auto& [bytes, type] : cases) {
        EXPECT_EQ(getMeterType(bytes.data(), static_cast<u32>(bytes.size())), type);
    }
    EXPECT_EQ(getMeterType(nullptr, 4), -1);
    MeterAddress address{LOOPBACK, 7};
    clearAddress(&address);
    EXPECT_EQ(address.m_device + address.m_reserved, 0u);
}
