// KVariant: numeric kinds live in the value word; texts and binaries in headed blocks of heap 0.
#include "klib_Variant.h"

#include <cstring>

#include "klib_HeapManager.h"

namespace {

constexpr u8 kVariantHeapId = 0;
// A text of this many characters or more is refused.
constexpr u32 kTextLimit = 1024;
const char kErrorText[] = "ERROR:";

u32 readBigEndian32(const u8* p)
{
    return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) | (static_cast<u32>(p[2]) << 8) |
           static_cast<u32>(p[3]);
}

void writeBigEndian32(u8* p, u32 v)
{
    p[0] = static_cast<u8>(v >> 24);
    p[1] = static_cast<u8>(v >> 16);
    p[2] = static_cast<u8>(v >> 8);
    p[3] = static_cast<u8>(v);
}

// Headed block of heap 0 with `size` payload bytes (1..0xFFFFFF). The payload is left for the caller to fill
// completely, which saves clearing bytes that are overwritten at once.
inline u8* allocatePayload(u32 size, const char* tag)
{
    return static_cast<u8*>(KLIB::allocateBlockToFill(kVariantHeapId, tag, size));
}

} // namespace

KVariant::KVariant() : m_Kind(KIND_EMPTY)
{
    m_Value.m_Raw = 0;
}

KVariant::KVariant(short value) : KVariant(static_cast<int>(value)) {}

KVariant::KVariant(int value) : m_Kind(KIND_INT32)
{
    m_Value.m_Raw = 0;
    m_Value.m_Int = value;
}

KVariant::KVariant(unsigned int value) : m_Kind(KIND_UINT32)
{
    m_Value.m_Raw = 0;
    m_Value.m_UInt = value;
}

KVariant::KVariant(float value) : m_Kind(KIND_FLOAT32)
{
    m_Value.m_Raw = 0;
    m_Value.m_Float = value;
}

KVariant::KVariant(const char* text, u32 maxLength) : KVariant()
{
    setString(text, maxLength);
}

KVariant::KVariant(const void* data, u32 size) : KVariant()
{
    setBinary(data, size);
}

KVariant::KVariant(const KVariant& other) : KVariant()
{
    switch (other.m_Kind) {
    case KIND_INT32:
    case KIND_UINT32:
    case KIND_FLOAT32:
        m_Value.m_Raw = other.m_Value.m_Raw;
        m_Kind = other.m_Kind;
        break;
    case KIND_STRING:
    case KIND_BINARY:
        if (!copyStorage(other)) {
            // A text without storage (moved from) copies as setString(null), the empty text; when memory was
            // short, setString gives the empty value. A binary without storage stays empty.
            if (other.m_Kind == KIND_STRING) {
                setString(other.m_Value.m_pString, kTextLimit);
            }
        }
        break;
    default:
        break;
    }
}

bool KVariant::copyStorage(const KVariant& other)
{
    // The source's block holds a complete text (with its NUL) or length and bytes, and its header count is the
    // payload size: one copy of the payload gives the value that setString/setBinary of its content would.
    const u8* source = reinterpret_cast<const u8*>(other.m_Value.m_pString);
    if (source == nullptr) {
        return false;
    }
    const u32 size = KLIB::blockCount(source);
    u8* payload = allocatePayload(size, other.m_Kind == KIND_STRING ? STRING_TAG : BINARY_TAG);
    if (payload == nullptr) {
        return false;
    }
    std::memcpy(payload, source, size);
    m_Value.m_pBinary = payload;
    m_Kind = other.m_Kind;
    return true;
}

KVariant::KVariant(KVariant&& other) noexcept : KVariant()
{
    takeOver(other);
}

KVariant::~KVariant()
{
    clear();
}

void KVariant::takeOver(KVariant& other) noexcept
{
    m_Kind = other.m_Kind;
    m_Value.m_Raw = other.m_Value.m_Raw;
    if (other.m_Kind == KIND_STRING || other.m_Kind == KIND_BINARY) {
        // The source keeps its kind, without storage.
        other.m_Value.m_Raw = 0;
    }
}

KVariant& KVariant::operator=(float value)
{
    setFloat(value);
    return *this;
}

KVariant& KVariant::operator=(unsigned char value)
{
    setUInt(value);
    return *this;
}

KVariant& KVariant::operator=(unsigned short value)
{
    setUInt(value);
    return *this;
}

KVariant& KVariant::operator=(unsigned int value)
{
    setUInt(value);
    return *this;
}

KVariant& KVariant::operator=(unsigned long value)
{
    setUInt(static_cast<u32>(value & 0xFFFFFFFFUL));
    return *this;
}

KVariant& KVariant::operator=(signed char value)
{
    setInt(value);
    return *this;
}

KVariant& KVariant::operator=(short value)
{
    setInt(value);
    return *this;
}

KVariant& KVariant::operator=(int value)
{
    setInt(value);
    return *this;
}

KVariant& KVariant::operator=(long value)
{
    setInt(static_cast<i32>(static_cast<u32>(static_cast<unsigned long>(value) & 0xFFFFFFFFUL)));
    return *this;
}

KVariant& KVariant::operator=(const KVariant& other)
{
    if (this == &other) {
        return *this;
    }
    clear();
    switch (other.m_Kind) {
    case KIND_INT32:
    case KIND_UINT32:
    case KIND_FLOAT32:
        m_Value.m_Raw = other.m_Value.m_Raw;
        break;
    case KIND_STRING:
        if (!copyStorage(other)) {
            setString(other.m_Value.m_pString, other.getSize());
        }
        break;
    case KIND_BINARY:
        copyStorage(other);
        break;
    default:
        break;
    }
    // A failed text or binary copy keeps the source's kind without storage; getters then report not ok.
    m_Kind = other.m_Kind;
    return *this;
}

KVariant& KVariant::operator=(KVariant&& other) noexcept
{
    if (this != &other) {
        clear();
        takeOver(other);
    }
    return *this;
}

bool KVariant::operator==(const KVariant& other) const
{
    return isEqual(other);
}

bool KVariant::operator!=(const KVariant& other) const
{
    return !isEqual(other);
}

bool KVariant::operator<(const KVariant& other) const
{
    return isLess(other);
}

bool KVariant::operator<=(const KVariant& other) const
{
    return isLess(other) || isEqual(other);
}

bool KVariant::operator>(const KVariant& other) const
{
    return !isLess(other) && !isEqual(other);
}

bool KVariant::operator>=(const KVariant& other) const
{
    return !isLess(other);
}

KVariant KVariant::operator+(const KVariant& other) const
{
    return addScaled(other, 1);
}

KVariant KVariant::operator-(const KVariant& other) const
{
    return addScaled(other, -1);
}

u32 KVariant::setInt(i32 value)
{
    clear();
    m_Value.m_Int = value;
    m_Kind = KIND_INT32;
    return RESULT_SET_OK;
}

u32 KVariant::setUInt(u32 value)
{
    clear();
    m_Value.m_UInt = value;
    m_Kind = KIND_UINT32;
    return RESULT_SET_OK;
}

u32 KVariant::setFloat(f32 value)
{
    clear();
    m_Value.m_Float = value;
    m_Kind = KIND_FLOAT32;
    return RESULT_SET_OK;
}

u32 KVariant::setString(const char* text, u32 maxLength)
{
    if (text == nullptr) {
        text = "";
    }
    // Counting stops at the limit: anything that long is refused anyway.
    const u32 bound = maxLength < kTextLimit ? maxLength : kTextLimit;
    u32 length = static_cast<u32>(strnlen(text, bound));
    u32 result = RESULT_SET_OK;
    if (length + 1 >= kTextLimit + 1) {
        text = kErrorText;
        length = sizeof(kErrorText) - 1;
        result = RESULT_BAD_INPUT;
    }
    // The new block is filled before the old one is released: the text may be this value's own.
    auto* payload = reinterpret_cast<char*>(allocatePayload(length + 1, STRING_TAG));
    if (payload != nullptr) {
        std::memcpy(payload, text, length);
        payload[length] = '\0';
    }
    clear();
    if (payload == nullptr) {
        return RESULT_NO_MEMORY;
    }
    m_Value.m_pString = payload;
    m_Kind = KIND_STRING;
    return result;
}

u32 KVariant::setBinary(const void* data, u32 size)
{
    if (data == nullptr || size == 0 || size > 0xFFFFFFFBu) {
        clear();
        return RESULT_BAD_INPUT;
    }
    if (static_cast<u64>(size) + 3 >= 0xFFFFFF) {
        clear();
        return RESULT_NO_MEMORY;
    }
    // The new block is filled before the old one is released: the bytes may be this value's own.
    u8* payload = allocatePayload(size + 4, BINARY_TAG);
    if (payload != nullptr) {
        writeBigEndian32(payload, size);
        std::memcpy(payload + 4, data, size);
    }
    clear();
    if (payload == nullptr) {
        return RESULT_NO_MEMORY;
    }
    m_Value.m_pBinary = payload;
    m_Kind = KIND_BINARY;
    return RESULT_SET_OK;
}

u32 KVariant::clear()
{
    if ((m_Kind == KIND_STRING || m_Kind == KIND_BINARY) && m_Value.m_pString != nullptr) {
        KLIB::releaseBlock(m_Value.m_pString);
    }
    m_Value.m_Raw = 0;
    m_Kind = KIND_EMPTY;
    return 0;
}

u32 KVariant::getSize() const
{
    switch (m_Kind) {
    case KIND_INT32:
    case KIND_UINT32:
    case KIND_FLOAT32:
        return 4;
    case KIND_STRING:
        if (m_Value.m_pString == nullptr) {
            return 0;
        }
        return static_cast<u32>(strnlen(m_Value.m_pString, kTextLimit)) + 1;
    case KIND_BINARY: {
        if (m_Value.m_pBinary == nullptr) {
            return 0;
        }
        const u32 size = readBigEndian32(m_Value.m_pBinary);
        return size >= 0xFFFFFFFCu ? 0 : size;
    }
    default:
        return 0;
    }
}

u32 KVariant::getStringSize(bool* ok) const
{
    const bool isText = m_Kind == KIND_STRING;
    if (ok != nullptr) {
        *ok = isText;
    }
    return isText ? getSize() : 0;
}

u32 KVariant::getBinarySize(bool* ok) const
{
    const bool isBinary = m_Kind == KIND_BINARY;
    if (ok != nullptr) {
        *ok = isBinary;
    }
    return isBinary ? getSize() : 0;
}

i32 KVariant::getInt(bool* ok) const
{
    const bool isInteger = m_Kind == KIND_INT32 || m_Kind == KIND_UINT32;
    if (ok != nullptr) {
        *ok = isInteger;
    }
    return isInteger ? m_Value.m_Int : 0;
}

u32 KVariant::getUInt(bool* ok) const
{
    return static_cast<u32>(getInt(ok));
}

f32 KVariant::getFloat(bool* ok) const
{
    bool good = true;
    f32 value = 0.0f;
    switch (m_Kind) {
    case KIND_INT32:
        value = static_cast<f32>(m_Value.m_Int);
        break;
    case KIND_UINT32:
        value = static_cast<f32>(m_Value.m_UInt);
        break;
    case KIND_FLOAT32:
        value = m_Value.m_Float;
        break;
    default:
        good = false;
        break;
    }
    if (ok != nullptr) {
        *ok = good;
    }
    return value;
}

f64 KVariant::getDouble(bool* ok) const
{
    bool good = true;
    f64 value = 0.0;
    switch (m_Kind) {
    case KIND_INT32:
        value = static_cast<f64>(m_Value.m_Int);
        break;
    case KIND_UINT32:
        value = static_cast<f64>(m_Value.m_UInt);
        break;
    case KIND_FLOAT32:
        value = static_cast<f64>(m_Value.m_Float);
        break;
    default:
        good = false;
        break;
    }
    if (ok != nullptr) {
        *ok = good;
    }
    return value;
}

const char* KVariant::getString(bool* ok) const
{
    // A text without storage (moved from, failed copy) is reported as not ok.
    const char* text = m_Kind == KIND_STRING ? m_Value.m_pString : nullptr;
    if (ok != nullptr) {
        *ok = text != nullptr;
    }
    return text;
}

const void* KVariant::getBinary(bool* ok) const
{
    const u8* bytes = (m_Kind == KIND_BINARY && m_Value.m_pBinary != nullptr) ? m_Value.m_pBinary + 4 : nullptr;
    if (ok != nullptr) {
        *ok = bytes != nullptr;
    }
    return bytes;
}

namespace {

// The other value as a float for float comparisons and arithmetic; false for non-numeric kinds.
bool otherAsFloat(const KVariant& other, f32* out)
{
    switch (other.getKind()) {
    case KVariant::KIND_INT32:
    case KVariant::KIND_UINT32:
    case KVariant::KIND_FLOAT32:
        *out = other.getFloat();
        return true;
    default:
        *out = 0.0f;
        return false;
    }
}

bool isInteger(u32 kind)
{
    return kind == KVariant::KIND_INT32 || kind == KVariant::KIND_UINT32;
}

} // namespace

bool KVariant::isEqual(const KVariant& other) const
{
    switch (m_Kind) {
    case KIND_INT32:
    case KIND_UINT32:
        return isInteger(other.m_Kind) && m_Value.m_UInt == other.m_Value.m_UInt;
    case KIND_FLOAT32: {
        f32 o;
        return otherAsFloat(other, &o) && m_Value.m_Float == o;
    }
    case KIND_STRING:
    case KIND_BINARY: {
        if (other.m_Kind != m_Kind) {
            return false;
        }
        const u32 size = getSize();
        if (size != other.getSize()) {
            return false;
        }
        if (size == 0) {
            return true;
        }
        const void* a = m_Kind == KIND_STRING ? static_cast<const void*>(m_Value.m_pString) : getBinary();
        const void* b = m_Kind == KIND_STRING ? static_cast<const void*>(other.m_Value.m_pString) : other.getBinary();
        return std::memcmp(a, b, size) == 0;
    }
    default:
        return false;
    }
}

bool KVariant::isLess(const KVariant& other) const
{
    switch (m_Kind) {
    case KIND_INT32:
        return isInteger(other.m_Kind) && m_Value.m_Int < other.m_Value.m_Int;
    case KIND_UINT32:
        return isInteger(other.m_Kind) && m_Value.m_UInt < other.m_Value.m_UInt;
    case KIND_FLOAT32: {
        f32 o;
        return otherAsFloat(other, &o) && m_Value.m_Float < o;
    }
    case KIND_STRING:
    case KIND_BINARY:
        // Ordered by size alone: the longer value is the lesser.
        return other.m_Kind == m_Kind && other.getSize() < getSize();
    default:
        return false;
    }
}

KVariant KVariant::addScaled(const KVariant& other, i32 factor) const
{
    KVariant result;
    switch (m_Kind) {
    case KIND_INT32:
    case KIND_UINT32: {
        const u32 o = isInteger(other.m_Kind) ? other.m_Value.m_UInt : 0u;
        const u32 sum = m_Value.m_UInt + static_cast<u32>(factor) * o; // wraps
        if (m_Kind == KIND_INT32) {
            result.setInt(static_cast<i32>(sum));
        } else {
            result.setUInt(sum);
        }
        break;
    }
    case KIND_FLOAT32: {
        f32 o;
        otherAsFloat(other, &o);
        result.setFloat(m_Value.m_Float + static_cast<f32>(factor) * o);
        break;
    }
    default:
        break;
    }
    return result;
}
