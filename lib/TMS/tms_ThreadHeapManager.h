// The heap of one thread: a KLIB heap manager over a private heap, so that a thread's allocations do not
// contend with other threads'. Blocks must be given back to the manager they came from; any thread may do so.
#pragma once

#include "klib_HeapManager.h"
#include "klib_Types.h"

namespace TMS {

class PrivateHeap;

// The prepared state of a ThreadHeapManager: the thread's name and its private heap.
class ThreadHeapManagerImpl : public KLIB::IHeapManager
{
public:
    // Copies the name (null = no name). The private heap starts with room for initialSize bytes; when it cannot
    // be created every allocation fails.
    ThreadHeapManagerImpl(const char* name, u32 initialSize);
    // Gives every region of the private heap back to the OS; blocks still held become invalid.
    ~ThreadHeapManagerImpl() override;

    ThreadHeapManagerImpl(const ThreadHeapManagerImpl&) = delete;
    ThreadHeapManagerImpl& operator=(const ThreadHeapManagerImpl&) = delete;

    // The name, or "(Unknown)" without one.
    const char* getName() const override;
    // 0xFFFFFFFF.
    u32 getMaxSize() const override;
    // A 16-byte aligned block, or null (no heap or no memory). `trace` and `tag` are not used.
    void* allocate(u32 size, bool trace, const char* tag) override;
    // 0; 0x80000000 for null, without heap, or for a pointer that is not a live block of this heap.
    u32 deallocate(void* block, bool trace) override;

    bool hasHeap() const { return m_heap != nullptr; }
    // True when block is a live block of this heap.
    bool owns(const void* block) const;
    // Bytes the private heap has mapped from the OS (0 without heap).
    u64 getMappedBytes() const;

private:
    char* m_name = nullptr;
    PrivateHeap* m_heap = nullptr;
};

class ThreadHeapManager : public KLIB::IHeapManager
{
public:
    ThreadHeapManager() = default;
    ~ThreadHeapManager() override;

    ThreadHeapManager(const ThreadHeapManager&) = delete;
    ThreadHeapManager& operator=(const ThreadHeapManager&) = delete;

    // Replaces any previous heap with a new one named `name` with an initial capacity of `size` bytes, growing on
    // demand. 0x80000000 when the manager itself cannot be allocated; otherwise 0, also when the private heap could
    // not be created (every allocation then fails).
    u32 prepare(const char* name, u32 size);
    // Destroys the heap and every region it holds.
    void release();
    bool isPrepared() const { return m_impl != nullptr; }

    // Forwarded to the implementation. Before prepare (or after release): "", 0x80000000, null, 0x80000000.
    const char* getName() const override;
    u32 getMaxSize() const override;
    void* allocate(u32 size, bool trace, const char* tag) override;
    u32 deallocate(void* block, bool trace) override;

    // The implementation (null when not prepared); for diagnostics and tests.
    const ThreadHeapManagerImpl* getImpl() const { return m_impl; }

private:
    ThreadHeapManagerImpl* m_impl = nullptr;
};

} // namespace TMS
