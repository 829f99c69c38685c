#include "tms_ThreadTestSupport.h"

#include <algorithm>

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
    const size_t entry = begin("child");
    m_childHook();
    finish(entry);
    return 0;
}

u32 RecordingThread::onChangeSystemInfo()
{
    const size_t entry = begin("sysinfo");
    m_systemInfoHook();
    finish(entry);
    return 0;
}

u32 RecordingThread::onReceiveEvent(u32 bit)
{
    const size_t entry = begin("event:" + std::to_string(bit) + "@" + std::to_string(getLoopCount()));
    m_eventHook(bit);
    finish(entry);
    return 0;
}

u32 RecordingThread::onReceiveMessage(const TMS::AbstractMessage& message)
{
    const char* command = message.getValue("CommandName").getString();
    const size_t entry =
        begin(std::string("msg:") + (command != nullptr ? command : "?") + "@" + std::to_string(getLoopCount()));
    m_messageHook(message);
    finish(entry);
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
    const size_t entry = begin("timer:" + std::to_string(timerId) + ":" + std::to_string(count));
    m_timerHook(timerId, count);
    finish(entry);
    return 0;
}

void RecordingThread::record(const std::string& text)
{
    finish(begin(text));
}

size_t RecordingThread::begin(const std::string& text)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_records.push_back(Record{text, false});
    return m_records.size() - 1;
}

void RecordingThread::finish(size_t entry)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_records[entry].m_done = true;
}

std::vector<std::string> RecordingThread::records()
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> texts;
    for (const Record& entry : m_records) {
        texts.push_back(entry.m_text);
    }
    return texts;
}

size_t RecordingThread::count(const std::string& prefix, bool doneOnly)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<size_t>(std::count_if(m_records.begin(), m_records.end(), [&](const Record& entry) {
        return entry.m_text.rfind(prefix, 0) == 0 && (entry.m_done || !doneOnly);
    }));
}

size_t RecordingThread::countOf(const std::string& prefix)
{
    return count(prefix, false);
}

bool RecordingThread::waitForCount(const std::string& prefix, size_t n, int timeoutMs)
{
    return waitUntil([&] { return count(prefix, true) >= n; }, timeoutMs);
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
