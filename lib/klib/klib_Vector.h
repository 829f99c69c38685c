// KVector<T>: a growable array whose storage comes from a KAllocator (named heap and trace tag).
// Growth: capacity + capacity / 2 (at least size + 1, at most the heap's maximum element count).
// A reserved count, fixed at construction, is the capacity that clear() restores.
#pragma once

#include <iterator>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "klib_Allocator.h"
#include "klib_Result.h"
#include "klib_Types.h"

namespace KLIB {

template <class T> class KVector
{
public:
    using value_type = T;
    using size_type = u32;
    using iterator = T*;
    using const_iterator = const T*;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = std::reverse_iterator<const_iterator>;

    // Reserves reservedCount elements; a count above the heap's maximum reserves nothing and records 0.
    explicit KVector(u32 reservedCount = 0, const KAllocator& allocator = KAllocator()) : m_allocator(allocator)
    {
        if (reservedCount > maxCount()) {
            m_reservedCount = 0;
            return;
        }
        reallocate(reservedCount);
        m_reservedCount = capacity();
    }

    KVector(const KVector& other) : m_allocator(other.m_allocator), m_reservedCount(other.m_reservedCount)
    {
        const u32 wanted = other.size() > m_reservedCount ? other.size() : m_reservedCount;
        reallocate(wanted);
        for (const T& e : other.elements()) {
            new (m_end) T(e);
            ++m_end;
        }
    }

    KVector(KVector&& other) noexcept
        : m_allocator(other.m_allocator), m_begin(other.m_begin), m_end(other.m_end), m_capEnd(other.m_capEnd),
          m_reservedCount(other.m_reservedCount)
    {
        other.m_begin = other.m_end = other.m_capEnd = nullptr;
    }

    KVector& operator=(const KVector& other)
    {
        if (this != &other) {
            KVector copy(other);
            swap(copy);
        }
        return *this;
    }

    KVector& operator=(KVector&& other) noexcept
    {
        if (this != &other) {
            destroyAll();
            m_allocator.deallocate(m_begin);
            m_allocator = other.m_allocator;
            m_begin = other.m_begin;
            m_end = other.m_end;
            m_capEnd = other.m_capEnd;
            m_reservedCount = other.m_reservedCount;
            other.m_begin = other.m_end = other.m_capEnd = nullptr;
        }
        return *this;
    }

    virtual ~KVector()
    {
        destroyAll();
        m_allocator.deallocate(m_begin);
        m_begin = m_end = m_capEnd = nullptr;
    }

    virtual iterator begin() { return m_begin; }
    virtual const_iterator begin() const { return m_begin; }
    virtual iterator end() { return m_end; }
    virtual const_iterator end() const { return m_end; }
    virtual reverse_iterator rbegin() { return reverse_iterator(m_end); }
    virtual const_reverse_iterator rbegin() const { return const_reverse_iterator(m_end); }
    virtual reverse_iterator rend() { return reverse_iterator(m_begin); }
    virtual const_reverse_iterator rend() const { return const_reverse_iterator(m_begin); }

    // Size 0, capacity kept; a capacity below the reserved count grows back to it.
    // 0, or 0x80000001 (reserved count dropped to 0) when the reserved count exceeds the heap's maximum.
    virtual u32 clear()
    {
        destroyAll();
        if (capacity() < m_reservedCount) {
            if (m_reservedCount > maxCount()) {
                m_reservedCount = 0;
                return KLIB::RESULT_BAD_ARGUMENT;
            }
            reallocate(m_reservedCount);
        }
        return 0;
    }

    u32 size() const { return static_cast<u32>(m_end - m_begin); }
    u32 capacity() const { return static_cast<u32>(m_capEnd - m_begin); }
    bool empty() const { return m_end == m_begin; }
    u32 getReservedCount() const { return m_reservedCount; }
    const KAllocator& getAllocator() const { return m_allocator; }
    u32 maxCount() const { return m_allocator.template maxCount<T>(); }

    T* data() { return m_begin; }
    const T* data() const { return m_begin; }
    T& operator[](u32 i) { return m_begin[i]; }
    const T& operator[](u32 i) const { return m_begin[i]; }
    T& front() { return *m_begin; }
    const T& front() const { return *m_begin; }
    T& back() { return *(m_end - 1); }
    const T& back() const { return *(m_end - 1); }

    // Capacity of at least n elements (n above the heap's maximum: std::length_error).
    void reserve(u32 n)
    {
        if (n > maxCount()) {
            throw std::length_error("vector too long");
        }
        if (n > capacity()) {
            reallocate(n);
        }
    }

    // Drops spare capacity.
    void shrink_to_fit()
    {
        if (capacity() > size()) {
            reallocate(size());
        }
    }

    void push_back(const T& value) { emplace_back(value); }
    void push_back(T&& value) { emplace_back(std::move(value)); }

    template <class... Args> T& emplace_back(Args&&... args)
    {
        if (m_end == m_capEnd) {
            // The argument may refer to an element of this vector: build it before the storage moves.
            T value(std::forward<Args>(args)...);
            grow();
            new (m_end) T(std::move(value));
        } else {
            new (m_end) T(std::forward<Args>(args)...);
        }
        ++m_end;
        return back();
    }

    void pop_back()
    {
        --m_end;
        m_end->~T();
    }

    iterator insert(const_iterator pos, const T& value)
    {
        const u32 index = static_cast<u32>(pos - m_begin);
        T copy(value);
        if (m_end == m_capEnd) {
            grow();
        }
        T* at = m_begin + index;
        if (at == m_end) {
            new (m_end) T(std::move(copy));
        } else {
            new (m_end) T(std::move(*(m_end - 1)));
            for (T* p = m_end - 1; p != at; --p) {
                *p = std::move(*(p - 1));
            }
            *at = std::move(copy);
        }
        ++m_end;
        return at;
    }

    iterator erase(const_iterator pos) { return erase(pos, pos + 1); }

    iterator erase(const_iterator first, const_iterator last)
    {
        T* from = m_begin + (first - m_begin);
        T* to = m_begin + (last - m_begin);
        if (from == to) {
            return from;
        }
        T* out = from;
        for (T* p = to; p != m_end; ++p, ++out) {
            *out = std::move(*p);
        }
        while (m_end != out) {
            pop_back();
        }
        return from;
    }

    void resize(u32 n)
    {
        while (size() > n) {
            pop_back();
        }
        if (n > capacity()) {
            reserve(n);
        }
        while (size() < n) {
            new (m_end) T();
            ++m_end;
        }
    }

    void swap(KVector& other) noexcept
    {
        std::swap(m_allocator, other.m_allocator);
        std::swap(m_begin, other.m_begin);
        std::swap(m_end, other.m_end);
        std::swap(m_capEnd, other.m_capEnd);
        std::swap(m_reservedCount, other.m_reservedCount);
    }

protected:
    struct Range
    {
        const T* b;
        const T* e;
        const T* begin() const { return b; }
        const T* end() const { return e; }
    };
    // Non-virtual view of the elements for internal loops.
    Range elements() const { return Range{m_begin, m_end}; }

private:
    void destroyAll()
    {
        while (m_end != m_begin) {
            --m_end;
            m_end->~T();
        }
    }

    // Full: capacity + capacity / 2, capped at the maximum, at least size + 1.
    void grow()
    {
        const u32 max = maxCount();
        const u32 count = size();
        if (count >= max) {
            throw std::length_error("vector too long");
        }
        const u32 cap = capacity();
        u32 next = (max - cap < cap / 2) ? max : cap + cap / 2;
        if (next < count + 1) {
            next = count + 1;
        }
        reallocate(next);
    }

    // Moves the elements into a block of exactly n elements (n >= size) and releases the old one.
    void reallocate(u32 n)
    {
        T* block = nullptr;
        if (n != 0) {
            block = m_allocator.template allocate<T>(n);
            if (block == nullptr) {
                throw std::bad_alloc();
            }
        }
        T* out = block;
        for (T* p = m_begin; p != m_end; ++p, ++out) {
            new (out) T(std::move_if_noexcept(*p));
        }
        destroyAll();
        m_allocator.deallocate(m_begin);
        m_begin = block;
        m_end = out;
        m_capEnd = block + n;
    }

    KAllocator m_allocator;
    T* m_begin = nullptr;
    T* m_end = nullptr;
    T* m_capEnd = nullptr;
    u32 m_reservedCount = 0;
};

} // namespace KLIB
