#include "tms_ThreadHeapManager.h"

#include <cstring>
#include <new>

#include "tms_PrivateHeap.h"
#include "tms_Result.h"

namespace TMS {

namespace {
}

// ---------------------------------------------------------------------------------------------------------------
// ThreadHeapManagerImpl
// ---------------------------------------------------------------------------------------------------------------

ThreadHeapManagerImpl::ThreadHeapManagerImpl(const char* name, u32 initialSize)
{
    if (name != nullptr) {
        size_t length = std::strlen(name);
        m_name = new (std::nothrow) char[length + 1];
        if (m_name != nullptr) {
            std::memcpy(m_name, name, length + 1);
        }
    }
    m_heap = PrivateHeap::create(initialSize);
}

ThreadHeapManagerImpl::~ThreadHeapManagerImpl()
{
    delete m_heap;
    delete[] m_name;
}

const char* ThreadHeapManagerImpl::getName() const
{
    return m_name != nullptr ? m_name : "(Unknown)";
}

u32 ThreadHeapManagerImpl::getMaxSize() const
{
    return 0xFFFFFFFF;
}

void* ThreadHeapManagerImpl::allocate(u32 size, bool /*trace*/, const char* /*tag*/)
{
    return m_heap != nullptr ? m_heap->allocate(size) : nullptr;
}

u32 ThreadHeapManagerImpl::deallocate(void* block, bool /*trace*/)
{
    if (m_heap == nullptr || block == nullptr) {
        return RESULT_FAILED;
    }
    return m_heap->release(block) ? 0 : RESULT_FAILED;
}

bool ThreadHeapManagerImpl::owns(const void* block) const
{
    return m_heap != nullptr && m_heap->owns(block);
}

u64 ThreadHeapManagerImpl::getMappedBytes() const
{
    return m_heap != nullptr ? m_heap->getMappedBytes() : 0;
}

// ---------------------------------------------------------------------------------------------------------------
// ThreadHeapManager
// ---------------------------------------------------------------------------------------------------------------

ThreadHeapManager::~ThreadHeapManager()
{
    release();
}

u32 ThreadHeapManager::prepare(const char* name, u32 size)
{
    release();
    m_impl = new (std::nothrow) ThreadHeapManagerImpl(name, size);
    return m_impl != nullptr ? 0 : RESULT_FAILED;
}

void ThreadHeapManager::release()
{
    delete m_impl;
    m_impl = nullptr;
}

const char* ThreadHeapManager::getName() const
{
    return m_impl != nullptr ? m_impl->getName() : "";
}

u32 ThreadHeapManager::getMaxSize() const
{
    return m_impl != nullptr ? m_impl->getMaxSize() : RESULT_FAILED;
}

void* ThreadHeapManager::allocate(u32 size, bool trace, const char* tag)
{
    return m_impl != nullptr ? m_impl->allocate(size, trace, tag) : nullptr;
}

u32 ThreadHeapManager::deallocate(void* block, bool trace)
{
    return m_impl != nullptr ? m_impl->deallocate(block, trace) : RESULT_FAILED;
}

} // namespace TMS
