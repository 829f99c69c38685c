#include "dadov_MeterPool.h"

#include <cstring>
#include <new>
#include <string_view>

namespace DADOV {

namespace {

constexpr u32 TYPE_U32 = PARRAY::ELEMENT_U32;
constexpr u32 TYPE_U8 = PARRAY::ELEMENT_U8;
constexpr u32 TYPE_F32 = PARRAY::ELEMENT_F32;

// The meter's name, over at most NAME_SIZE bytes; no terminator needed.
std::string_view meterName(const u32* descriptor)
{
    const char* name = reinterpret_cast<const char*>(descriptor) + MeterPool::NAME_OFFSET;
    return {name, strnlen(name, MeterPool::NAME_SIZE)};
}

} // namespace

MeterPool::~MeterPool()
{
    release();
}

i32 MeterPool::initialize(const u32* descriptors, u32 count, u32 uid, u32 numX, u32 numY, u8 fill, u32 period)
{
    (void)uid;
    std::lock_guard<std::mutex> guard(m_lock);
    resetLocked();
    if (descriptors == nullptr || count == 0) {
        return DADOV_OK;
    }
    if (numX == 0 || numY == 0) {
        return DADOV_E_FAILED;
    }
    const size_t words = static_cast<size_t>(count) * PARRAY::DESCRIPTOR_WORDS;
    try {
        for (std::vector<u32>& list : m_descriptors) {
            list.assign(descriptors, descriptors + words);
        }
    } catch (const std::bad_alloc&) {
        resetLocked();
        return DADOV_E_FAILED;
    }
    for (u32 i = 0; i < count; ++i) {
        const size_t at = static_cast<size_t>(i) * PARRAY::DESCRIPTOR_WORDS;
        const std::string_view name = meterName(&m_descriptors[0][at]);
        if ((name == "level" || name == "gr") && m_descriptors[1][at] == TYPE_F32) {
            m_descriptors[1][at] = TYPE_U8;
            m_descriptors[2][at] = TYPE_U8;
        }
        m_descriptors[3][at] = TYPE_U32;
    }
    for (u32 s = 0; s < SET_COUNT; ++s) {
        if (m_sets[s].create(m_descriptors[s].data(), count, numX, numY) != PARRAY::RESULT_OK) {
            resetLocked();
            return DADOV_E_FAILED;
        }
    }
    if (!planFillLocked()) {
        resetLocked();
        return DADOV_E_FAILED;
    }
    m_count = count;
    m_numX = numX;
    m_numY = numY;
    m_fill = fill;
    m_period = period;
    (void)fillLocked();
    return DADOV_OK;
}

i32 MeterPool::clearMeters()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return fillLocked() ? DADOV_OK : DADOV_E_FAILED;
}

i32 MeterPool::release()
{
    std::lock_guard<std::mutex> guard(m_lock);
    resetLocked();
    return DADOV_OK;
}

void MeterPool::resetLocked()
{
    m_count = 0;
    m_numX = 0;
    m_numY = 0;
    m_fill = UNSET_FILL;
    m_period = DEFAULT_PERIOD;
    for (u32 s = 0; s < SET_COUNT; ++s) {
        m_sets[s].clear();
        m_descriptors[s] = std::vector<u32>();
    }
    m_fills = std::vector<Fill>();
    m_fillsComplete = true;
}

bool MeterPool::planFillLocked()
{
    const u32 count = m_sets[0].getArrayCount();
    try {
        m_fills.reserve(static_cast<size_t>(count) * SET_COUNT);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (u32 i = 0; i < count; ++i) {
        const u8 set2 =
            meterName(&m_descriptors[0][static_cast<size_t>(i) * PARRAY::DESCRIPTOR_WORDS]) == "gr" ? GR_FILL : 0;
        for (u32 s = 0; s < SET_COUNT; ++s) {
            void* data = nullptr;
            u32 size = 0;
            if (m_sets[s].getArray(&data, &size, i) != PARRAY::RESULT_OK || data == nullptr || size == 0) {
                m_fillsComplete = false;
                return true;
            }
            m_fills.push_back({static_cast<u8*>(data), size, s == 1 ? set2 : u8{0}});
        }
    }
    return true;
}

bool MeterPool::fillLocked()
{
    for (const Fill& fill : m_fills) {
        std::memset(fill.data, fill.value, fill.size);
    }
    return m_fillsComplete;
}

i32 MeterPool::writeMeterBytes(u32 setNo, u32 meter, u32 offset, const void* bytes, u32 count)
{
    if (setNo != 2 && setNo != 3) {
        return DADOV_E_FAILED;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    void* data = nullptr;
    u32 size = 0;
    if (m_sets[setNo - 1].getArray(&data, &size, meter) != PARRAY::RESULT_OK || data == nullptr ||
        u64{offset} + count > size || (bytes == nullptr && count != 0)) {
        return DADOV_E_FAILED;
    }
    if (count != 0) {
        std::memcpy(static_cast<u8*>(data) + offset, bytes, count);
    }
    return DADOV_OK;
}

i32 MeterPool::copyMeterArray(u32 setNo, u32 meter, std::vector<u8>& out) const
{
    out.clear();
    if (setNo < 1 || setNo > SET_COUNT) {
        return DADOV_E_FAILED;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    void* data = nullptr;
    u32 size = 0;
    if (m_sets[setNo - 1].getArray(&data, &size, meter) != PARRAY::RESULT_OK || data == nullptr) {
        return DADOV_E_FAILED;
    }
    try {
        const u8* first = static_cast<const u8*>(data);
        out.assign(first, first + size);
    } catch (const std::bad_alloc&) {
        return DADOV_E_FAILED;
    }
    return DADOV_OK;
}

PARRAY::ArrayAccessorForServer* MeterPool::getArraySet(u32 setNo)
{
    return setNo >= 1 && setNo <= SET_COUNT ? &m_sets[setNo - 1] : nullptr;
}

u32 MeterPool::getDescriptorCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_count;
}

u32 MeterPool::getFill() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_fill;
}

u32 MeterPool::getPeriod() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_period;
}

} // namespace DADOV
