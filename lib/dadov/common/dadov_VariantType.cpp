#include "dadov_VariantType.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace DADOV {

namespace {

const u8 EMPTY_BLOCK[4] = {};

u64 bitsOf(const u8* pointer)
{
    return static_cast<u64>(reinterpret_cast<std::uintptr_t>(pointer));
}

} // namespace

VariantType::VariantType(const VariantType& other)
    : m_value(other.m_value), m_type(other.m_type), m_byteCount(other.m_byteCount)
{
    if (other.m_buffer == nullptr || other.m_capacity == 0) {
        return;
    }
    m_buffer = static_cast<u8*>(std::malloc(other.m_capacity));
    if (m_buffer == nullptr) {
        m_value = 0;
        m_type = TYPE_EMPTY;
        m_byteCount = 0;
        return;
    }
    m_capacity = other.m_capacity;
    std::memcpy(m_buffer, other.m_buffer, m_capacity);
    // A value that points into the source's buffer points to the same place in the copy's.
    const u8* pointed = other.pointedBytes();
    if (pointed >= other.m_buffer && pointed < other.m_buffer + other.m_capacity) {
        m_value = bitsOf(m_buffer + (pointed - other.m_buffer));
    }
}

VariantType::VariantType(VariantType&& other) noexcept
    : m_value(other.m_value), m_buffer(other.m_buffer), m_type(other.m_type), m_capacity(other.m_capacity),
      m_byteCount(other.m_byteCount)
{
    other.m_value = 0;
    other.m_buffer = nullptr;
    other.m_type = TYPE_EMPTY;
    other.m_capacity = 0;
    other.m_byteCount = 0;
}

VariantType& VariantType::operator=(const VariantType& other)
{
    if (this != &other) {
        *this = VariantType(other);
    }
    return *this;
}

VariantType& VariantType::operator=(VariantType&& other) noexcept
{
    if (this != &other) {
        std::free(m_buffer);
        m_value = other.m_value;
        m_buffer = other.m_buffer;
        m_type = other.m_type;
        m_capacity = other.m_capacity;
        m_byteCount = other.m_byteCount;
        other.m_value = 0;
        other.m_buffer = nullptr;
        other.m_type = TYPE_EMPTY;
        other.m_capacity = 0;
        other.m_byteCount = 0;
    }
    return *this;
}

i32 VariantType::initialize(u32 capacity)
{
    release();
    if (capacity == 0) {
        return DADOV_OK;
    }
    m_buffer = static_cast<u8*>(std::calloc(capacity, 1));
    if (m_buffer == nullptr) {
        return DADOV_E_FAILED;
    }
    m_capacity = capacity;
    return DADOV_OK;
}

void VariantType::release()
{
    std::free(m_buffer);
    m_value = 0;
    m_buffer = nullptr;
    m_type = TYPE_EMPTY;
    m_capacity = 0;
    m_byteCount = 0;
}

i32 VariantType::setString(const char* text)
{
    if (text == nullptr || m_buffer == nullptr || m_capacity == 0) {
        return DADOV_E_FAILED;
    }
    std::memset(m_buffer, 0, m_capacity);
    const size_t length = strnlen(text, m_capacity);
    const size_t kept = length < m_capacity ? length : m_capacity - 1;
    std::memcpy(m_buffer, text, kept);
    m_value = bitsOf(m_buffer);
    m_type = TYPE_STRING;
    return length < m_capacity ? DADOV_OK : DADOV_E_FAILED;
}

i32 VariantType::setBinary(const void* data, u32 size)
{
    if (data == nullptr || size > m_capacity) {
        return DADOV_E_FAILED;
    }
    if (size > 0) {
        std::memcpy(m_buffer, data, size);
    }
    m_value = bitsOf(m_buffer);
    m_byteCount = size;
    m_type = TYPE_BINARY;
    return DADOV_OK;
}

const u8* VariantType::pointedBytes() const
{
    return reinterpret_cast<const u8*>(static_cast<std::uintptr_t>(m_value));
}

const char* VariantType::getString() const
{
    const u8* text = pointedBytes();
    return m_type == TYPE_STRING && text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

u32 VariantType::getStringLength() const
{
    const u8* text = pointedBytes();
    if (m_type != TYPE_STRING || text == nullptr) {
        return 0;
    }
    // Within the buffer the text may run to its end; elsewhere it is read no further than the capacity.
    const bool inBuffer = m_buffer != nullptr && text >= m_buffer && text < m_buffer + m_capacity;
    const size_t limit = inBuffer ? static_cast<size_t>(m_buffer + m_capacity - text) : m_capacity;
    return static_cast<u32>(strnlen(reinterpret_cast<const char*>(text), limit));
}

const u8* VariantType::getBinary() const
{
    const u8* bytes = pointedBytes();
    return m_type == TYPE_BINARY && bytes != nullptr ? bytes : EMPTY_BLOCK;
}

u32 VariantType::getBinarySize() const
{
    return m_type == TYPE_BINARY ? m_byteCount : 0u;
}

} // namespace DADOV
