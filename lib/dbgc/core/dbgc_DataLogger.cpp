#include "dbgc_DataLogger.h"

#include "dbgc_Result.h"
#include "os_Tasks.h"

namespace DBGC {

namespace {
}

DataLogger& DataLogger::getInstance()
{
    static DataLogger instance;
    return instance;
}

u16 DataLogger::getSemaphoreId() const
{
    std::lock_guard<std::mutex> guard(m_idLock);
    return m_semaphore;
}

u32 DataLogger::initialize(u8 heapId, u32 firstCount, u32 secondCount)
{
    std::lock_guard<std::mutex> guard(m_idLock);
    if (m_semaphore == 0) {
        ossupport::SemaphoreRecord record;
        record.m_initialCount = 1;
        record.m_name = "Logger";
        u16 id = 0;
        if (ossupport::createSemaphore(&id, &record) != ossupport::OS_OK || id == 0) {
            return RESULT_FAILED;
        }
        m_semaphore = id;
    }
    if (ossupport::waitSemaphore(m_semaphore) != ossupport::OS_OK) {
        return RESULT_FAILED;
    }
    const u32 result = m_first.create(heapId, firstCount) | m_second.create(heapId, secondCount);
    m_sequence = 0;
    ossupport::signalSemaphore(m_semaphore);
    return result;
}

u32 DataLogger::finalize()
{
    std::lock_guard<std::mutex> guard(m_idLock);
    if (m_semaphore == 0) {
        return RESULT_FAILED;
    }
    if (ossupport::waitSemaphore(m_semaphore) != ossupport::OS_OK) {
        // The OS layer already dropped it: nothing left to guard.
        m_first.release();
        m_second.release();
        m_semaphore = 0;
        return RESULT_FAILED;
    }
    const u32 result = m_first.release() | m_second.release();
    ossupport::deleteSemaphore(m_semaphore);
    m_semaphore = 0;
    return result;
}

} // namespace DBGC
