// The System thread: the "ProductState" rule, "Close", and the stage order of its eight threads.
#include <gtest/gtest.h>

#include <algorithm>

#include <regex>
#include <string>
#include <vector>

#include "dbgc_TestSupport.h"
#include "fsw_TestSupport.h"
#include "pyrite_ClientSystemThread.h"
#include "pyrite_ProductInfo.h"
#include "tms_TestSupport.h"
#include "tms_ThreadTestSupport.h"

namespace {

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new dbgctest::Environment);

using tmstest::waitUntil;

const TMS::FieldMap& none()
{
    return TMS::AbstractMessage::emptyFields();
}

// The System thread with one stand-in child instead of its own threads: the child commits the system-information
// values that the test sends it ("Name", "Value").
class RuleSystem : public PYRITE::PyriteClientSystemThread
{
public:
    RuleSystem() : PYRITE::PyriteClientSystemThread(0)
    {
        m_reporter.m_messageHook = [this](const TMS::AbstractMessage& message) {
            m_reporter.setSystemInfo(message.getValue("Name").getString(), 0,
                                     KVariant(message.getValue("Value").getUInt()));
            m_reporter.commitSystemInfo();
        };
    }
    ~RuleSystem() override { release(); }

    u32 onInitialize(const TMS::FieldMap& arguments) override
    {
        registerSystemInfoItems(this);
        tmstest::initializeThread(m_reporter, "Reporter", 0, 1);
        addChild(&m_reporter);
        return TMS::SystemThread::onInitialize(arguments);
    }

    void report(const char* name, u32 value)
    {
        TMS::AbstractMessage message;
        message.initialize(TMS::MESSAGE_KIND_USER, 0);
        message.setString("Name", name);
        message.setUInt("Value", value);
        ASSERT_EQ(m_reporter.sendMessageWithWaiting(message), 0u);
    }
    // The value as the child sees it.
    u32 seen(const char* name)
    {
        KVariant value;
        m_reporter.getSystemInfo(value, name, 0);
        return value.getUInt();
    }
    // Returns once everything sent before has passed through the System thread's handlers: a further change
    // comes back to the child only after them.
    void settle()
    {
        m_toggle ^= 1;
        report("GUIState", m_toggle);
        ASSERT_TRUE(waitUntil([&] { return seen("GUIState") == m_toggle; }));
    }

    // Starts it and waits until its child runs.
    void run()
    {
        ASSERT_EQ(tmstest::initializeThread(*this, "System"), 0u);
        ASSERT_EQ(start(none()), 0u);
        ASSERT_TRUE(waitUntil([&] { return getChildState() == CHILDREN_STARTED; }));
    }

    tmstest::RecordingThread m_reporter;
    u32 m_toggle = 0;
};

class SystemThreadTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(PyriteProductInfo::getInstance().initialize(m_dir.path().c_str()), 0u); }
    void TearDown() override { PyriteProductInfo::getInstance().finalize(0); }

    fswtest::TempDir m_dir;
};

TEST_F(SystemThreadTest, ProductStateFollowsTheSecondReadyReportOnce)
{
    for (const auto& [first, second] : {std::pair{"PDBState", "VDPState"}, std::pair{"VDPState", "PDBState"}}) {
        RuleSystem system;
        system.run();
        system.report(first, 1);
        system.settle();
        EXPECT_EQ(system.seen("ProductState"), 0u) << first;
        system.report(second, 1);
        EXPECT_TRUE(waitUntil([&] { return system.seen("ProductState") == 1; })) << second;
        system.report(first, 0);
        system.settle();
        system.report(first, 1);
        system.settle();
        EXPECT_EQ(system.seen("ProductState"), 1u);
    }
}

TEST_F(SystemThreadTest, CloseWithCodeZeroEndsIt)
{
    RuleSystem system;
    system.run();
    for (u32 code : {1u, 0u}) {
        TMS::AbstractMessage close;
        close.initialize(TMS::MESSAGE_KIND_USER, code);
        close.setString("CommandName", "Close");
        ASSERT_EQ(system.sendMessageWithWaiting(close), 0u);
        if (code != 0) {
            system.settle();
            EXPECT_EQ(system.getChildState(), TMS::SystemThread::CHILDREN_STARTED);
        }
    }
    EXPECT_EQ(system.waitForExit(), 0u);
}

std::vector<std::string> matches(const std::string& text, const std::string& pattern)
{
    std::vector<std::string> found;
    const std::regex expression(pattern);
    for (std::sregex_iterator it(text.begin(), text.end(), expression), end; it != end; ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

TEST_F(SystemThreadTest, ThreadsStartByStageAndEndTheOtherWayRound)
{
    testing::internal::CaptureStdout();
    {
        PYRITE::PyriteClientSystemThread system(0);
        ASSERT_EQ(tmstest::initializeThread(system, "System"), 0u);
        ASSERT_EQ(system.start(none()), 0u);
        ASSERT_TRUE(waitUntil([&] { return system.getChildState() == TMS::SystemThread::CHILDREN_STARTED; }));
        EXPECT_EQ(system.getChildCount(), 8u);
        EXPECT_EQ(system.release(), 0u);
    }
    const std::string log = testing::internal::GetCapturedStdout();
    std::vector<std::string> starts =
        matches(log, R"(\[i\] SystemThread\[System\]::startChildThreads - \(stage = (\d)\)\n)");
    // One walk per stage, in order. The System thread's own start also walks the stage it has reached by then: its
    // own stage (0, no children) or the stage the children's walk has just started, whose line then comes twice
    // in a row. That one line is allowed once; any other repetition fails.
    const auto repeated = std::adjacent_find(starts.begin(), starts.end());
    const auto own = repeated != starts.end() ? repeated : std::find(starts.begin(), starts.end(), "0");
    if (own != starts.end()) {
        starts.erase(own);
    }
    EXPECT_EQ(starts, (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(matches(log, R"(\[i\] SystemThread\[System\]::releaseChildThreads - \(stage = (\d)\)\n)"),
              (std::vector<std::string>{"5", "4", "3", "2", "1"}));

    const std::vector<std::string> started = matches(log, R"(SystemThread\[System\]::startChildThreads - (\w+)\n)");
    const std::vector<std::string> released = matches(log, R"(SystemThread\[System\]::releaseChildThreads - (\w+)\n)");
    ASSERT_EQ(started.size(), 8u);
    ASSERT_EQ(released.size(), 8u);
    EXPECT_EQ(started.front(), "DebugConsole");
    EXPECT_EQ(released.back(), "DebugConsole");
    EXPECT_EQ(std::vector<std::string>(released.begin(), released.begin() + 2),
              (std::vector<std::string>{"Compiler", "HUXRemote"}));
}

} // namespace
