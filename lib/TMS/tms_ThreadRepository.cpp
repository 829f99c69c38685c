#include "tms_ThreadRepository.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "klib_HeapManager.h"
#include "klib_Print.h"
#include "os_Clock.h"
#include "os_Tasks.h"
#include "tms_Result.h"

namespace TMS {

namespace {
constexpr const char* REPOSITORY_TAG = "ThreadRepository";
constexpr const char* NULL_THREAD_TAG = "NullThread";

std::atomic<ThreadRepository*> g_repository{nullptr};
std::atomic<NullThread*> g_nullThread{nullptr};
std::mutex g_lifeLock; // initialize, finalize and the null thread's creation

thread_local AbstractThread* t_currentThread = nullptr;

ThreadRepository* repository()
{
    return g_repository.load(std::memory_order_acquire);
}
} // namespace

void detail::setCurrentThread(AbstractThread* thread)
{
    t_currentThread = thread;
}

bool ThreadRepository::NameLess::operator()(const char* a, const char* b) const
{
    return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") < 0;
}

ThreadRepository::ThreadRepository() : m_mutex("ThreadRepository") {}

ThreadRepository::~ThreadRepository() = default;

u32 ThreadRepository::initialize()
{
    std::lock_guard<std::mutex> guard(g_lifeLock);
    if (!ossupport::isInitialized()) {
        ossupport::initialize();
    }
    if (repository() != nullptr) {
        return 0;
    }
    void* block = KLIB::allocateBlock(0, REPOSITORY_TAG, sizeof(ThreadRepository));
    if (block == nullptr) {
        return RESULT_FAILED;
    }
    ThreadRepository* created = nullptr;
    try {
        created = new (block) ThreadRepository();
    } catch (const std::bad_alloc&) {
        KLIB::releaseBlock(block);
        return RESULT_FAILED;
    }
    g_repository.store(created, std::memory_order_release);
    if (OSTick::start(OSTick::DEFAULT_PERIOD_MS, created) != 0) {
        KLIB_LOG("[E] ThreadRepository::initialize - Cannot start the OS tick!\n");
    }
    return 0;
}

u32 ThreadRepository::finalize()
{
    std::lock_guard<std::mutex> guard(g_lifeLock);
    ThreadRepository* current = repository();
    if (current != nullptr) {
        // No tick may run on a repository that is being destroyed.
        OSTick::stop();
        g_repository.store(nullptr, std::memory_order_release);
        current->~ThreadRepository();
        KLIB::releaseBlock(current);
    }
    NullThread* nullThread = g_nullThread.exchange(nullptr, std::memory_order_acq_rel);
    if (nullThread != nullptr) {
        nullThread->~NullThread();
        KLIB::releaseBlock(nullThread);
    }
    if (ossupport::isInitialized()) {
        ossupport::shutdown();
    }
    return 0;
}

bool ThreadRepository::isInitialized()
{
    return repository() != nullptr;
}

u32 ThreadRepository::registerThread(AbstractThread* thread)
{
    ThreadRepository* self = repository();
    if (self == nullptr || thread == nullptr) {
        return RESULT_FAILED;
    }
    if (thread->isNull()) {
        return RESULT_RANGE;
    }
    if (!self->m_mutex.isValid()) {
        return RESULT_NO_MUTEX;
    }
    const char* name = thread->getName();
    if (name == nullptr) {
        return RESULT_FAILED;
    }
    TMSMutexLocker locker(&self->m_mutex);
    try {
        self->m_byName[name] = thread;
        self->m_byTaskId[thread->getTaskId()] = thread;
    } catch (const std::bad_alloc&) {
        return RESULT_FAILED;
    }
    return 0;
}

u32 ThreadRepository::unregisterThread(AbstractThread* thread)
{
    ThreadRepository* self = repository();
    if (self == nullptr || thread == nullptr) {
        return RESULT_FAILED;
    }
    if (thread->isNull()) {
        return RESULT_RANGE;
    }
    if (!self->m_mutex.isValid()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(&self->m_mutex);
    bool erased = false;
    // Only entries that point to this thread: a later thread of the same name stays reachable.
    const char* name = thread->getName();
    if (name != nullptr) {
        auto byName = self->m_byName.find(name);
        if (byName != self->m_byName.end() && byName->second == thread) {
            self->m_byName.erase(byName);
            erased = true;
        }
    }
    auto byId = self->m_byTaskId.find(thread->getTaskId());
    if (byId != self->m_byTaskId.end() && byId->second == thread) {
        self->m_byTaskId.erase(byId);
        erased = true;
    }
    return erased ? 0 : RESULT_RANGE;
}

AbstractThread* ThreadRepository::getThread(const char* name)
{
    ThreadRepository* self = repository();
    if (self == nullptr || name == nullptr || !self->m_mutex.isValid()) {
        return getNullThread();
    }
    TMSMutexLocker locker(&self->m_mutex);
    auto found = self->m_byName.find(name);
    return found != self->m_byName.end() ? found->second : getNullThread();
}

AbstractThread* ThreadRepository::getThreadById(u16 taskId)
{
    ThreadRepository* self = repository();
    if (self == nullptr || !self->m_mutex.isValid()) {
        return getNullThread();
    }
    TMSMutexLocker locker(&self->m_mutex);
    auto found = self->m_byTaskId.find(taskId);
    return found != self->m_byTaskId.end() ? found->second : getNullThread();
}

ThreadHandle ThreadRepository::acquireThread(const char* name)
{
    ThreadRepository* self = repository();
    if (self == nullptr || name == nullptr || !self->m_mutex.isValid()) {
        return ThreadHandle();
    }
    TMSMutexLocker locker(&self->m_mutex);
    auto found = self->m_byName.find(name);
    if (found == self->m_byName.end()) {
        return ThreadHandle();
    }
    found->second->addHolder(); // under the mutex: the thread cannot leave the repository meanwhile
    return ThreadHandle(found->second);
}

ThreadHandle ThreadRepository::acquireThreadById(u16 taskId)
{
    ThreadRepository* self = repository();
    if (self == nullptr || !self->m_mutex.isValid()) {
        return ThreadHandle();
    }
    TMSMutexLocker locker(&self->m_mutex);
    auto found = self->m_byTaskId.find(taskId);
    if (found == self->m_byTaskId.end()) {
        return ThreadHandle();
    }
    found->second->addHolder();
    return ThreadHandle(found->second);
}

ThreadHandle::ThreadHandle(const ThreadHandle& other) noexcept : m_thread(other.m_thread)
{
    if (m_thread != nullptr) {
        m_thread->addHolder(); // the other handle's reference keeps the thread meanwhile
    }
}

ThreadHandle& ThreadHandle::operator=(ThreadHandle other) noexcept
{
    std::swap(m_thread, other.m_thread);
    return *this;
}

AbstractThread* ThreadHandle::get() const
{
    return m_thread != nullptr ? m_thread : ThreadRepository::getNullThread();
}

void ThreadHandle::reset() noexcept
{
    AbstractThread* thread = m_thread;
    m_thread = nullptr;
    if (thread != nullptr) {
        thread->dropHolder();
    }
}

u32 ThreadHandle::releaseThread()
{
    if (m_thread == nullptr) {
        return ThreadRepository::getNullThread()->release();
    }
    m_thread->m_releasingHolders.fetch_add(1, std::memory_order_seq_cst);
    const u32 result = m_thread->release();
    m_thread->m_releasingHolders.fetch_sub(1, std::memory_order_seq_cst);
    reset();
    return result;
}

AbstractThread* ThreadRepository::getCurrentThread()
{
    // A thread's loop runs on its own task and nowhere else, so the task-id look-up reduces to the thread whose
    // loop runs on the calling OS thread.
    AbstractThread* current = t_currentThread;
    return current != nullptr ? current : getNullThread();
}

AbstractThread* ThreadRepository::getNullThread()
{
    NullThread* existing = g_nullThread.load(std::memory_order_acquire);
    if (existing != nullptr) {
        return existing;
    }
    std::lock_guard<std::mutex> guard(g_lifeLock);
    existing = g_nullThread.load(std::memory_order_acquire);
    if (existing != nullptr) {
        return existing;
    }
    void* block = KLIB::allocateBlock(0, NULL_THREAD_TAG, sizeof(NullThread));
    if (block == nullptr) {
        KLIB_LOG("[E] ThreadRepository::getNullThread - Cannot allocate the null thread!\n");
        std::abort();
    }
    NullThread* created = new (block) NullThread();
    g_nullThread.store(created, std::memory_order_release);
    return created;
}

std::vector<ThreadSnapshotEntry> ThreadRepository::snapshot(bool markShown)
{
    std::vector<ThreadSnapshotEntry> entries;
    ThreadRepository* self = repository();
    if (self == nullptr || !self->m_mutex.isValid()) {
        return entries;
    }
    TMSMutexLocker locker(&self->m_mutex);
    try {
        entries.reserve(self->m_byName.size());
        for (const auto& [name, thread] : self->m_byName) {
            const u32 loopCount = thread->getLoopCount();
            const u32 shown = markShown ? thread->exchangeShownLoopCount(loopCount) : 0;
            entries.push_back({name, thread, thread->getTaskId(), thread->getStage(), thread->getStatus(), loopCount,
                               thread->getLogger().getCount(), shown});
        }
    } catch (const std::bad_alloc&) {
        entries.clear();
    }
    return entries;
}

u32 ThreadRepository::onOSTimer()
{
    if (!m_mutex.isValid()) {
        return RESULT_NO_MUTEX;
    }
    TMSMutexLocker locker(&m_mutex);
    u32 now = 0;
    ossupport::getMilliseconds(&now);
    for (const auto& entry : m_byName) {
        entry.second->onTick(now);
    }
    // A thread whose name entry was taken over by a later one of the same name is still registered by task id.
    for (const auto& entry : m_byTaskId) {
        AbstractThread* thread = entry.second;
        auto byName = m_byName.find(thread->getName());
        if (byName == m_byName.end() || byName->second != thread) {
            thread->onTick(now);
        }
    }
    return 0;
}

NullThread::NullThread() : AbstractThread(1)
{
    storeName("NullThread");
}

KLIB::IHeapManager* NullThread::getHeap()
{
    return KLIB::getHeapManager(0);
}

} // namespace TMS
