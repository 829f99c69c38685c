#include "vdp_LinkRig.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pyrite_CommandLineOptions.h"
#include "pyrite_ProductInfo.h"
#include "tms_TestSupport.h"
#include "tms_ThreadRepository.h"
#include "vsock_TestSupport.h"

namespace vdptest {

void setOptions(std::initializer_list<const char*> arguments)
{
    std::vector<const char*> argv{"/opt/virtualVEXA-D"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CommandLineOptions::getInstance() = CommandLineOptions();
    ASSERT_EQ(CommandLineOptions::getInstance().parse(static_cast<int>(argv.size()), argv.data()), 0u);
}

// ---- stand-ins ----------------------------------------------------------------------------------------------------

StandIn::StandIn(u32 queueCapacity) : tmstest::RecordingThread(queueCapacity) {}

bool StandIn::handlePublish(const TMS::AbstractMessage& message)
{
    const char* command = message.getValue("CommandName").getString();
    if (command == nullptr || std::strcmp(command, "Publish") != 0) {
        return false;
    }
    setSystemInfo(message.getValue("Name").getString(), 0, KVariant(message.getValue("Value").getUInt()));
    commitSystemInfo();
    return true;
}

u32 StandIn::onReceiveMessage(const TMS::AbstractMessage& message)
{
    if (handlePublish(message)) {
        return 0;
    }
    return tmstest::RecordingThread::onReceiveMessage(message);
}

void StandIn::publish(const char* name, u32 value)
{
    TMS::AbstractMessage message = tmstest::userMessage("Publish");
    message.setString("Name", name);
    message.setUInt("Value", value);
    ASSERT_EQ(sendMessageWithWaiting(message), 0u);
    ASSERT_TRUE(tmstest::waitUntil(
        [&] {
            KVariant seen;
            getSystemInfo(seen, name, 0);
            return seen.getUInt() == value;
        },
        WAIT_MS));
}

// ---- the System thread ----------------------------------------------------------------------------------------

LinkSystem::LinkSystem(bool realDeviceControl)
    : LinkSystem(realDeviceControl ? std::make_unique<PYRITE::PyriteDeviceControlThread>() : nullptr)
{
}

LinkSystem::LinkSystem(std::unique_ptr<PYRITE::PyriteDeviceControlThread> deviceControl)
    : PYRITE::PyriteClientSystemThread(0), m_realDeviceControl(std::move(deviceControl))
{
}

LinkSystem::~LinkSystem()
{
    release();
}

u32 LinkSystem::onInitialize(const TMS::FieldMap& arguments)
{
    EXPECT_EQ(registerSystemInfoItems(this), 0u);
    TMS::AbstractThread* deviceControl = &m_standInDeviceControl;
    if (m_realDeviceControl) {
        deviceControl = m_realDeviceControl.get();
    }
    const struct
    {
        TMS::AbstractThread* m_thread;
        const char* m_name;
        u8 m_stage;
    } threads[] = {{deviceControl, "DeviceControl", 2},
                   {&m_link, "VDProtocol", 3},
                   {&m_sync, "Sync", 4},
                   {&m_compiler, "Compiler", 5}};
    for (const auto& entry : threads) {
        EXPECT_EQ(entry.m_thread->initialize(entry.m_name, TASK_PRIORITY, entry.m_stage, STACK_SIZE, HEAP_SIZE,
                                             LOG_LINES, TIMER_INTERVAL_MS, TMS::AbstractMessage::emptyFields()),
                  0u)
            << entry.m_name;
        EXPECT_EQ(addChild(entry.m_thread), 0u) << entry.m_name;
    }
    return TMS::SystemThread::onInitialize(arguments);
}

u32 LinkSystem::release()
{
    if (TMS::ThreadRepository::getCurrentThread() == &m_link) {
        ++m_releasesByLink;
    }
    return PYRITE::PyriteClientSystemThread::release();
}

void LinkSystem::run()
{
    ASSERT_EQ(tmstest::initializeThread(*this, "System"), 0u);
    ASSERT_EQ(start(TMS::AbstractMessage::emptyFields()), 0u);
    ASSERT_TRUE(tmstest::waitUntil(
        [&] { return getChildState() == CHILDREN_STARTED || getChildState() == CHILDREN_RELEASED; }, WAIT_MS));
}

bool LinkSystem::ended(int timeoutMs)
{
    return tmstest::waitUntil([&] { return getChildState() == CHILDREN_RELEASED; }, timeoutMs);
}

u32 LinkSystem::seen(const char* name)
{
    KVariant value;
    m_sync.getSystemInfo(value, name, 0);
    return value.getUInt();
}

void LinkSystem::publishToLink(const char* name, u32 value)
{
    m_sync.publish(name, value);
    // The pass under way may have begun before the commit; the one after it has served it.
    const u32 passes = m_link.getLoopCount();
    ASSERT_TRUE(tmstest::waitUntil([&] { return m_link.getLoopCount() >= passes + 2; }, WAIT_MS));
}

bool logHolds(TMS::AbstractThread& thread, const std::string& text)
{
    TMS::ThreadLogger& logger = thread.getLogger();
    char line[TMS::ThreadLogger::LINE_SIZE];
    for (u32 i = 0; logger.getLine(i, line, sizeof(line)) == 0; ++i) {
        if (std::string(line).find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace vdptest
