// The command container: pending requests, their ids, sub-request states and finders.
#include <gtest/gtest.h>

#include <vector>

#include "os_Tasks.h"
#include "vdp_CommandContainer.h"
#include "vdp_Result.h"

using namespace VDProtocol;

namespace {

// A container whose clock stands still.
class StillClockContainer : public CommandContainer
{
public:
    explicit StillClockContainer(u32 now) : m_now(now) {}
    u32 m_now;

protected:
    u32 readClock() const override { return m_now; }
};

PacketContainer request(const char* reqId, const char* cmdInfo)
{
    PacketContainer packet;
    packet.m_type = "request";
    packet.m_command = "add";
    packet.m_reqId = reqId;
    packet.m_cmdInfo = cmdInfo;
    return packet;
}

class CommandContainerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!ossupport::isInitialized()) {
            ASSERT_EQ(ossupport::initialize(), 0u);
        }
    }
};

} // namespace

TEST_F(CommandContainerTest, IdsFollowTheClockAndStepPastZeroAndIdsInUse)
{
    StillClockContainer container(1000);
    u32 id = 0;
    EXPECT_EQ(container.add(id, request("", "cpt_info")), RESULT_NG);
    EXPECT_EQ(container.add(id, request("1", "")), RESULT_NG);
    EXPECT_EQ(container.getCount(), 0u);

    for (u32 i = 0; i < CommandContainer::MAX_ITEMS; ++i) {
        ASSERT_EQ(container.add(id, request("r", "cpt_info")), 0);
        EXPECT_EQ(id, 1000 + i);
    }
    EXPECT_EQ(container.add(id, request("r", "cpt_info")), RESULT_NG);
    EXPECT_EQ(container.remove(1042), 0);
    EXPECT_EQ(container.remove(7), 0); // unknown: no failure
    ASSERT_EQ(container.add(id, request("again", "compile")), 0);
    EXPECT_EQ(id, 1042u);
    EXPECT_EQ(container.get(1042).m_reqId, "again");

    // 0 marks a post of no request: the ids step past it, also when the clock reads 0.
    StillClockContainer wrapping(0xFFFFFFFF);
    ASSERT_EQ(wrapping.add(id, request("1", "x")), 0);
    EXPECT_EQ(id, 0xFFFFFFFFu);
    ASSERT_EQ(wrapping.add(id, request("2", "x")), 0);
    EXPECT_EQ(id, 1u);
    wrapping.m_now = 0;
    ASSERT_EQ(wrapping.add(id, request("3", "x")), 0);
    EXPECT_EQ(id, 2u);

    // The real clock gives distinct ids as well.
    CommandContainer live;
    u32 first = 0;
    u32 second = 0;
    ASSERT_EQ(live.add(first, request("1", "x")), 0);
    ASSERT_EQ(live.add(second, request("2", "x")), 0);
    EXPECT_NE(first, second);
}

TEST_F(CommandContainerTest, SubRequestsAndFinders)
{
    StillClockContainer container(50);
    u32 a = 0;
    u32 b = 0;
    ASSERT_EQ(container.add(a, request("1", "cpt_info")), 0);
    ASSERT_EQ(container.add(b, request("2", "cpt_info")), 0);

    EXPECT_TRUE(container.isExecuting(a)); // no sub-requests yet
    EXPECT_FALSE(container.isExecuting(999));
    EXPECT_EQ(container.setSub(a, "12", 0), RESULT_NG); // never marked
    EXPECT_EQ(container.markSub(999, "12"), RESULT_NG);
    ASSERT_EQ(container.markSub(a, "12"), 0);
    ASSERT_EQ(container.markSub(a, "13"), 0);
    ASSERT_EQ(container.setSub(a, "12", 0), 0);
    EXPECT_TRUE(container.isExecuting(a));
    ASSERT_EQ(container.setSub(a, "13", static_cast<u32>(RESULT_NOT_FOUND)), 0);
    EXPECT_FALSE(container.isExecuting(a));
    ASSERT_EQ(container.markSub(a, "13"), 0); // marking again: executing again
    EXPECT_TRUE(container.isExecuting(a));

    u32 id = 0;
    ASSERT_EQ(container.markSub(b, "12"), 0);
    ASSERT_EQ(container.setSub(a, "12", CommandItem::STATE_IGNORED), 0);
    ASSERT_EQ(container.findBySub(id, "cpt_info", "12"), 0);
    EXPECT_EQ(id, b);
    ASSERT_EQ(container.findBySub(id, "cpt_info", "13"), 0);
    EXPECT_EQ(id, a);
    EXPECT_EQ(container.findBySub(id, "compile", "12"), RESULT_NG);
    EXPECT_EQ(container.findBySub(id, "cpt_info", "14"), RESULT_NG);

    ASSERT_EQ(container.findByCmdInfo(id, "cpt_info"), 0);
    EXPECT_EQ(id, a);
    EXPECT_EQ(container.findByCmdInfo(id, "cpt"), RESULT_NG);
    std::string cmdInfo;
    ASSERT_EQ(container.findByReqId(id, cmdInfo, "2"), 0);
    EXPECT_EQ(id, b);
    EXPECT_EQ(cmdInfo, "cpt_info");
    EXPECT_EQ(container.findByReqId(id, cmdInfo, "3"), RESULT_NG);

    const PacketContainer& unknown = container.get(999);
    EXPECT_TRUE(unknown.m_type.empty() && unknown.m_reqId.empty() && unknown.m_cmdInfo.empty());
    const PacketContainer& stored = container.get(b);
    EXPECT_EQ(stored.m_reqId, "2");
    ASSERT_EQ(container.remove(a), 0);
    EXPECT_EQ(container.get(b).m_reqId, "2"); // other items stay where they are
    EXPECT_EQ(&container.get(b), &stored);
}

TEST_F(CommandContainerTest, WithoutItsMutexEveryOperationFails)
{
    // Use up the semaphore ids the mutex would take.
    std::vector<u16> taken;
    ossupport::SemaphoreRecord record;
    record.m_initialCount = 1;
    record.m_name = "filler";
    for (;;) {
        u16 id = 0;
        if (ossupport::createSemaphore(&id, &record) != 0) {
            break;
        }
        taken.push_back(id);
    }
    ASSERT_FALSE(taken.empty());
    {
        CommandContainer container;
        u32 id = 77;
        std::string cmdInfo;
        EXPECT_EQ(container.add(id, request("1", "x")), RESULT_NG);
        EXPECT_EQ(container.markSub(id, "k"), RESULT_NG);
        EXPECT_EQ(container.setSub(id, "k", 0), RESULT_NG);
        EXPECT_EQ(container.remove(id), RESULT_NG);
        EXPECT_EQ(container.findByCmdInfo(id, "x"), RESULT_NG);
        EXPECT_EQ(container.findByReqId(id, cmdInfo, "1"), RESULT_NG);
        EXPECT_EQ(container.findBySub(id, "x", "k"), RESULT_NG);
        EXPECT_FALSE(container.isExecuting(id));
        EXPECT_TRUE(container.get(id).m_reqId.empty());
        EXPECT_EQ(id, 77u);
    }
    for (const u16 id : taken) {
        ossupport::deleteSemaphore(id);
    }
}
