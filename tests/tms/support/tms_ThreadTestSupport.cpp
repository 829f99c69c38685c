#include "tms_ThreadTestSupport.h"

#include "tms_TestSupport.h"

namespace tmstest {

void RepositoryEnvironment::SetUp()
{
    ASSERT_EQ(TMS::ThreadRepository::initialize(), 0u);
}

void RepositoryEnvironment::TearDown()
{
    TMS::ThreadRepository::finalize();
}

void Latch::open()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_open = true;
    m_changed.notify_all();
}

void Latch::wait()
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait(guard, [this] { return m_open; });
}

bool Latch::isOpen()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open;
}

u32 initializeThread(TMS::AbstractThread& thread, const char* name, u32 tickInterval, u8 stage)
{
    return thread.initialize(name, 0, stage, 20000, 20000, 100, tickInterval, TMS::AbstractMessage::emptyFields());
}

RecordingThread::~RecordingThread()
{
    if (getTaskId() != TMS::NO_ID) {
        release();
    }
}

u32 RecordingThread::onInitialize(const TMS::FieldMap& arguments)
{
    TMS::AbstractThread::onInitialize(arguments);
    m_initializeHook();
    return 0;
}

u32 RecordingThread::onChangeStatus(u32 status, const TMS::FieldMap& arguments)
{
    TMS::AbstractThread::onChangeStatus(status, arguments);
    record(std::string("status:") + getStatusName(status));
    return 0;
}

u32 RecordingThread::onChangeChildStatus()
{
    m_childHook();
    record("child");
    return 0;
}

u32 RecordingThread::onChangeSystemInfo()
{
    m_systemInfoHook();
    record("sysinfo");
    return 0;
}

u32 RecordingThread::onReceiveEvent(u32 bit)
{
    const std::string text = "event:" + std::to_string(bit) + "@" + std::to_string(getLoopCount());
    m_eventHook(bit);
    record(text);
    return 0;
}

u32 RecordingThread::onReceiveMessage(const TMS::AbstractMessage& message)
{
    const char* command = message.getValue("CommandName").getString();
    const std::string text =
        std::string("msg:") + (command != nullptr ? command : "?") + "@" + std::to_string(getLoopCount());
    m_messageHook(message);
    record(text);
    return 0;
}

u32 RecordingThread::onFinalize()
{
    TMS::AbstractThread::onFinalize();
    record("finalize");
    return 0;
}

u32 RecordingThread::onTimer(u32 timerId, u32 count)
{
    m_timerHook(timerId, count);
    record("timer:" + std::to_string(timerId) + ":" + std::to_string(count));
    return 0;
}

void RecordingThread::record(const std::string& text)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_records.push_back(text);
}

std::vector<std::string> RecordingThread::records()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records;
}

size_t RecordingThread::countOf(const std::string& prefix)
{
    std::lock_guard<std::mutex> guard(m_lock);
    size_t count = 0;
    for (const std::string& text : m_records) {
        count += text.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

bool RecordingThread::waitForCount(const std::string& prefix, size_t n, int timeoutMs)
{
    return waitUntil([&] { return countOf(prefix) >= n; }, timeoutMs);
}

HookedSystemThread::~HookedSystemThread()
{
    release();
}

u32 HookedSystemThread::onInitialize(const TMS::FieldMap& arguments)
{
    m_initializeHook();
    return TMS::SystemThread::onInitialize(arguments);
}

TMS::AbstractMessage userMessage(const char* command)
{
    TMS::AbstractMessage message;
    message.initialize(TMS::MESSAGE_KIND_USER, 0);
    message.setString("CommandName", command);
    return message;
}

} // namespace tmstest
