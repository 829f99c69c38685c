#include "pdb_ParameterArray.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "pdb_IParameterDB.h"
#include "pdb_ParameterArrayTestHooks.h"
#include "pdb_ParameterDBNULL.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

constexpr i32 RESULT_LIMITED = 0x20;
constexpr u32 ALL_ELEMENTS = 0xFFFFFFFF;
constexpr u8 NO_STATUS = 0xFF;

constexpr u8 FILTER_ELEMENT_WISE = 0x06;
constexpr u8 FILTER_KEEP_HOOKS = 0x04;
constexpr u8 FILTER_ANY_ATTRIBUTE = 0x08;
constexpr u8 FILTER_NONVOLATILE = 0x10;

std::atomic<i32> g_statusFailCountdown{-1};

u64 roundUp4(u64 n)
{
    return (n + 3) & ~u64{3};
}

u32 kindOf(u8 typeCode)
{
    return typeCode >> 4;
}

// Whether a parameter with this attribute takes part in a filtered copy or import.
bool takesPart(ParameterFilter filter, const ParameterAttribute& attribute)
{
    const u8 bits = filter.getBits();
    if (bits == 0) {
        return true;
    }
    if ((bits & FILTER_NONVOLATILE) != 0) {
        return attribute.isNonvolatile();
    }
    if ((bits & FILTER_ANY_ATTRIBUTE) != 0) {
        return true;
    }
    return attribute.isRecallable();
}

bool isElementWise(ParameterFilter filter)
{
    return (filter.getBits() & FILTER_ELEMENT_WISE) != 0;
}

// One status byte per element, all set to status. count 0 needs no block (null, success).
u8* allocateStatusBytes(u32 count, u8 status, bool& ok)
{
    ok = true;
    if (count == 0) {
        return nullptr;
    }
    const i32 countdown = g_statusFailCountdown.load(std::memory_order_relaxed);
    if (countdown >= 0) {
        g_statusFailCountdown.store(countdown - 1, std::memory_order_relaxed);
        if (countdown == 0) {
            ok = false;
            return nullptr;
        }
    }
    u8* block = new (std::nothrow) u8[count];
    if (block == nullptr) {
        ok = false;
        return nullptr;
    }
    std::memset(block, status, count);
    return block;
}

// Whole elements that an image of size bytes holds for a record of this type; false when the record's element
// size does not fit its type (a number whose size differs from its width, a STRING/BINARY capacity of 0).
bool imageElementCount(u8 typeCode, u32 elementSize, const void* data, u32 size, u64& count)
{
    const u64 bytes = data != nullptr ? size : 0;
    switch (kindOf(typeCode)) {
    case 1:
    case 2:
    case 3: {
        const u32 width = typeCode & 0x0F;
        if (width == 0 || elementSize != width) {
            return false;
        }
        count = bytes / width;
        return true;
    }
    case 4:
        count = bytes * 8;
        return true;
    case 5:
    case 6:
        if (elementSize == 0) {
            return false;
        }
        count = bytes / roundUp4(elementSize);
        return true;
    default:
        return false;
    }
}

// n elements from source position sourceStart to target position targetStart; both arrays have the same type
// code (the element sizes of STRING and BINARY may differ: the shorter one is copied, the rest zeroed).
void copyElements(IRawArray& target, u32 targetStart, const IRawArray& source, u32 sourceStart, u32 n)
{
    if (n == 0) {
        return;
    }
    switch (kindOf(target.getTypeCode())) {
    case 4:
        for (u32 i = 0; i < n; ++i) {
            target.setBool(targetStart + i, source.getBool(sourceStart + i));
        }
        return;
    case 5:
    case 6: {
        const u32 targetSize = target.getElementSize();
        const u32 sourceSize = source.getElementSize();
        const u64 targetStride = roundUp4(targetSize);
        if (targetSize == sourceSize) {
            std::memmove(target.getElementPointer(targetStart), source.getElementPointer(sourceStart),
                         static_cast<size_t>(targetStride * n));
            return;
        }
        const u64 part = std::min(targetSize, sourceSize);
        for (u32 i = 0; i < n; ++i) {
            u8* to = target.getElementPointer(targetStart + i);
            std::memmove(to, source.getElementPointer(sourceStart + i), static_cast<size_t>(part));
            std::memset(to + part, 0, static_cast<size_t>(targetStride - part));
        }
        return;
    }
    default:
        std::memmove(target.getElementPointer(targetStart), source.getElementPointer(sourceStart),
                     static_cast<size_t>(u64{target.getElementSize()} * n));
        return;
    }
}

// The overlap of a sourceX x sourceY source (its first available elements readable) and a targetX x targetY
// target, copied as one run of elements per row x. Statuses (may be null) of written elements become status.
void copyRuns(IRawArray& target, u32 targetX, u32 targetY, const IRawArray& source, u32 sourceX, u32 sourceY,
              u64 available, u8* statuses, u8 status)
{
    const u64 targetCount = target.getCount();
    const u32 rows = std::min(targetX, sourceX);
    const u64 columns = std::min(targetY, sourceY);
    for (u32 x = 0; x < rows; ++x) {
        const u64 from = u64{x} * sourceY;
        const u64 to = u64{x} * targetY;
        if (from >= available || to >= targetCount) {
            return;
        }
        const u64 n = std::min({columns, available - from, targetCount - to});
        copyElements(target, static_cast<u32>(to), source, static_cast<u32>(from), static_cast<u32>(n));
        if (statuses != nullptr) {
            std::memset(statuses + to, status, static_cast<size_t>(n));
        }
    }
}

// As copyRuns, element by element, leaving the elements whose mask flag is set.
void copyMasked(IRawArray& target, u32 targetX, u32 targetY, const IRawArray& source, u32 sourceX, u32 sourceY,
                u64 available, const IFlagArray& mask, u8* statuses, u8 status)
{
    const u64 targetCount = target.getCount();
    const u32 rows = std::min(targetX, sourceX);
    const u32 columns = std::min(targetY, sourceY);
    for (u32 x = 0; x < rows; ++x) {
        for (u32 y = 0; y < columns; ++y) {
            const u64 to = u64{x} * targetY + y;
            const u64 from = u64{x} * sourceY + y;
            if (to >= targetCount) {
                return;
            }
            if (from >= available || mask.isSet(static_cast<u32>(to))) {
                continue;
            }
            copyElements(target, static_cast<u32>(to), source, static_cast<u32>(from), 1);
            if (statuses != nullptr) {
                statuses[to] = status;
            }
        }
    }
}

// The record's readable values as a temporary raw array (null when no element is readable).
class RecordValues
{
public:
    RecordValues() = default;
    RecordValues(const RecordValues&) = delete;
    RecordValues& operator=(const RecordValues&) = delete;
    ~RecordValues() { destroyRawArray(m_pArray); }

    // 0 (possibly with no readable element), 0x80000001 for an element size that does not fit the type, or
    // the factory's failure.
    i32 build(const ParameterInfo& record, const void* data, u32 size)
    {
        u64 readable = 0;
        if (!imageElementCount(record.getTypeCode(), record.getElementSize(), data, size, readable)) {
            return RESULT_BAD_ARGUMENT;
        }
        m_count = std::min(u64{record.getCountX()} * record.getCountY(), readable);
        if (m_count == 0) {
            return 0;
        }
        return createRawArrayWithData(m_pArray, record.getTypeCode(), record.getElementSize(),
                                      static_cast<u32>(m_count), data, size);
    }

    const IRawArray* get() const { return m_pArray; }
    u64 count() const { return m_pArray != nullptr ? m_count : 0; }

private:
    IRawArray* m_pArray = nullptr;
    u64 m_count = 0;
};

// Limits value to [min, max] of limits by the kind of the array: 0 inside, 0x20 with limit pointing at the bound
// that applies, 0x80020000 for a kind that has no comparison. An empty limit does not limit.
i32 limitValue(u32 kind, const KVariant& value, const ParameterInfo& limits, const KVariant*& limit)
{
    const KVariant& min = limits.getMin();
    const KVariant& max = limits.getMax();
    bool below = false;
    bool above = false;
    switch (kind) {
    case 1:
    case 4: {
        const u32 v = value.getUInt();
        below = min.isValid() && v < min.getUInt();
        above = max.isValid() && v > max.getUInt();
        break;
    }
    case 2: {
        const i32 v = value.getInt();
        below = min.isValid() && v < min.getInt();
        above = max.isValid() && v > max.getInt();
        break;
    }
    case 3: {
        const f32 v = value.getFloat();
        below = min.isValid() && v < min.getFloat();
        above = max.isValid() && v > max.getFloat();
        break;
    }
    case 5:
    case 6:
        return 0;
    default:
        return RESULT_TYPE_MISMATCH;
    }
    if (below) {
        limit = &min;
        return RESULT_LIMITED;
    }
    if (above) {
        limit = &max;
        return RESULT_LIMITED;
    }
    return 0;
}

bool isZeroValue(const KVariant& value)
{
    switch (value.getKind()) {
    case KVariant::KIND_EMPTY:
        return true;
    case KVariant::KIND_INT32:
    case KVariant::KIND_UINT32:
        return value.getUInt() == 0;
    case KVariant::KIND_FLOAT32: {
        const f32 f = value.getFloat();
        u32 bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        return bits == 0;
    }
    default:
        return false;
    }
}

} // namespace

namespace testhooks {

void failStatusAllocationAfter(i32 successes)
{
    g_statusFailCountdown.store(successes < 0 ? -1 : successes, std::memory_order_relaxed);
}

} // namespace testhooks

// ---------------------------------------------------------------------------------------------------------------
// ParameterArrayBase
// ---------------------------------------------------------------------------------------------------------------

ParameterArrayBase::ParameterArrayBase() : m_pRaw(getNullRawArray()) {}

ParameterArrayBase::~ParameterArrayBase()
{
    destroyRawArray(m_pRaw);
}

u32 ParameterArrayBase::getExportSize() const
{
    return static_cast<u32>(roundUp4(m_pRaw->getSize()));
}

bool ParameterArrayBase::checkedIndex(u32 x, u32 y, u32& index) const
{
    const u32 countY = m_info.getCountY();
    if (x >= m_info.getCountX() || y >= countY) {
        return false;
    }
    const u64 linear = u64{x} * countY + y;
    if (linear >= m_pRaw->getCount()) {
        return false;
    }
    index = static_cast<u32>(linear);
    return true;
}

bool ParameterArrayBase::isValidIndex(u32 x, u32 y) const
{
    u32 index = 0;
    return checkedIndex(x, y, index);
}

i32 ParameterArrayBase::fromLinearIndex(u32& x, u32& y, u32 index) const
{
    const u32 countY = m_info.getCountY();
    if (countY == 0 || index >= m_pRaw->getCount() || index / countY >= m_info.getCountX()) {
        x = 0;
        y = 0;
        return RESULT_BAD_ARGUMENT;
    }
    x = index / countY;
    y = index % countY;
    return 0;
}

void ParameterArrayBase::freeStorage()
{
    destroyRawArray(m_pRaw);
    m_pRaw = getNullRawArray();
    m_info.clear();
}

i32 ParameterArrayBase::exportBinary(void* buffer, u32 size, u32& written) const
{
    written = 0;
    const u64 used = m_pRaw->getSize();
    const u64 padded = roundUp4(used);
    if (size < padded || (buffer == nullptr && padded > 0)) {
        return RESULT_BAD_ARGUMENT;
    }
    if (padded == 0) {
        return 0;
    }
    u8* out = static_cast<u8*>(buffer);
    std::memcpy(out, m_pRaw->getElementPointer(0), static_cast<size_t>(used));
    std::memset(out + used, 0, static_cast<size_t>(padded - used));
    written = static_cast<u32>(padded);
    return 0;
}

i32 ParameterArrayBase::copyFrom(const IParameterArray& source, u8 status)
{
    const ParameterInfo& from = source.getParameterInfo();
    const u32 columns = std::min(m_info.getCountY(), from.getCountY());
    const u32 rows = std::min(m_info.getCountX(), from.getCountX());
    i32 result = 0;
    KVariant value;
    for (u32 y = 0; y < columns; ++y) {
        for (u32 x = 0; x < rows; ++x) {
            if (source.getValue(value, x, y, nullptr) < 0) {
                continue;
            }
            result |= setValue(x, y, value, status);
        }
    }
    return result;
}

i32 ParameterArrayBase::copyDirect(const IParameterArray& source, const IFlagArray& mask, u8 status, u8* statuses)
{
    const IRawArray& from = source.getRawArray();
    if (!from.isAllocated()) {
        return RESULT_BAD_ARGUMENT;
    }
    if (from.getTypeCode() != m_pRaw->getTypeCode()) {
        return RESULT_TYPE_MISMATCH;
    }
    if (!m_pRaw->isAllocated()) {
        return RESULT_NO_DATA;
    }
    const ParameterInfo& shape = source.getParameterInfo();
    const u32 countX = m_info.getCountX();
    const u32 countY = m_info.getCountY();
    if (!mask.hasAny()) {
        if (shape.getCountX() == countX && shape.getCountY() == countY) {
            const i32 result = m_pRaw->copyAll(from);
            if (result >= 0 && statuses != nullptr) {
                std::memset(statuses, status, m_pRaw->getCount());
            }
            return result;
        }
        copyRuns(*m_pRaw, countX, countY, from, shape.getCountX(), shape.getCountY(), from.getCount(), statuses,
                 status);
        return 0;
    }
    copyMasked(*m_pRaw, countX, countY, from, shape.getCountX(), shape.getCountY(), from.getCount(), mask, statuses,
               status);
    return 0;
}

i32 ParameterArrayBase::importDirect(const ParameterInfo& recordInfo, const void* data, u32 size,
                                     const IFlagArray& mask, u8 status, u8* statuses)
{
    if (!m_pRaw->isAllocated()) {
        return RESULT_NO_DATA;
    }
    const u32 countX = m_info.getCountX();
    const u32 countY = m_info.getCountY();
    if (!mask.hasAny() && recordInfo.getCountX() == countX && recordInfo.getCountY() == countY) {
        // The raw array bounds the import by size itself.
        const i32 result = m_pRaw->importAll(data, size, recordInfo.getTypeCode(), recordInfo.getElementSize());
        if (result >= 0 && statuses != nullptr) {
            std::memset(statuses, status, m_pRaw->getCount());
        }
        return result;
    }
    RecordValues values;
    const i32 built = values.build(recordInfo, data, size);
    if (built < 0) {
        return built;
    }
    if (values.count() == 0) {
        return 0;
    }
    if (!mask.hasAny()) {
        copyRuns(*m_pRaw, countX, countY, *values.get(), recordInfo.getCountX(), recordInfo.getCountY(), values.count(),
                 statuses, status);
    } else {
        copyMasked(*m_pRaw, countX, countY, *values.get(), recordInfo.getCountX(), recordInfo.getCountY(),
                   values.count(), mask, statuses, status);
    }
    return 0;
}

i32 ParameterArrayBase::buildResized(u32 x, u32 y, ParameterInfo& info, IRawArray*& raw) const
{
    if (!m_pRaw->isAllocated()) {
        return RESULT_BAD_ARGUMENT;
    }
    const i32 resolved = info.setDimensions(x, y);
    if (resolved < 0) {
        return resolved;
    }
    const u64 count = u64{info.getCountX()} * info.getCountY();
    if (!info.isValid() || count > 0xFFFFFFFFu) {
        return RESULT_BAD_ARGUMENT;
    }
    return createRawArray(raw, info.getTypeCode(), info.getElementSize(), static_cast<u32>(count));
}

void ParameterArrayBase::carryOver(IRawArray& target, u32 targetX, u32 targetY) const
{
    if (!m_pRaw->isAllocated() || target.getTypeCode() != m_pRaw->getTypeCode()) {
        return;
    }
    copyRuns(target, targetX, targetY, *m_pRaw, m_info.getCountX(), m_info.getCountY(), m_pRaw->getCount(), nullptr, 0);
}

// ---------------------------------------------------------------------------------------------------------------
// ParameterArray
// ---------------------------------------------------------------------------------------------------------------

ParameterArray::ParameterArray()
    : m_pStatus(nullptr), m_copyByte(0), m_pOwner(nullptr), m_componentIndex(0), m_blockIndex(0), m_pCallback(nullptr),
      m_pStrategy(nullptr)
{
    resetLinks();
}

ParameterArray::~ParameterArray()
{
    delete[] m_pStatus;
}

void ParameterArray::resetLinks()
{
    m_pOwner = &ParameterDBNULL::getInstance();
    m_componentIndex = 0;
    m_blockIndex = 0;
    m_pCallback = &DummyParameterArrayCallback::getInstance();
    m_pStrategy = getDefaultStrategy();
}

void ParameterArray::release()
{
    freeStorage();
    delete[] m_pStatus;
    m_pStatus = nullptr;
    m_copyByte = 0;
    resetLinks();
}

i32 ParameterArray::initialize(IParameterDB* owner, u32 componentIndex, u32 blockIndex, const ParameterInfo& info,
                               IParameterArrayCallback* callback, ParameterStrategy* strategy, u8 copyByte)
{
    ParameterInfo copy(info); // info may be this array's own
    release();
    m_info = std::move(copy);
    m_pOwner = owner != nullptr ? owner : &ParameterDBNULL::getInstance();
    m_componentIndex = componentIndex;
    m_blockIndex = blockIndex;
    m_pCallback = callback != nullptr ? callback : &DummyParameterArrayCallback::getInstance();
    m_pStrategy = strategy != nullptr ? strategy : getDefaultStrategy();

    const u64 count = u64{m_info.getCountX()} * m_info.getCountY();
    if (!m_info.isValid() || count > 0xFFFFFFFFu) {
        release();
        return RESULT_BAD_ARGUMENT;
    }
    IRawArray* raw = nullptr;
    const i32 created = createRawArray(raw, m_info.getTypeCode(), m_info.getElementSize(), static_cast<u32>(count));
    if (created < 0) {
        release();
        return created;
    }
    m_pRaw = raw;
    m_copyByte = copyByte;
    fillDefaults(*m_pRaw, m_info);
    bool ok = false;
    m_pStatus = allocateStatusBytes(m_pRaw->getCount(), NO_STATUS, ok);
    if (!ok) {
        release();
        return RESULT_NO_MEMORY;
    }
    return 0;
}

void ParameterArray::defaultFor(KVariant& value, const ParameterInfo& info, u32 x, u32 y) const
{
    value = info.getDefault();
    m_pStrategy->adjustDefault(m_pOwner, m_componentIndex, m_blockIndex, x, y, info, value);
}

void ParameterArray::fillDefaults(IRawArray& raw, const ParameterInfo& info) const
{
    const u32 countX = info.getCountX();
    const u32 countY = info.getCountY();
    const u64 count = std::min<u64>(u64{countX} * countY, raw.getCount());
    if (m_pStrategy == getDefaultStrategy()) {
        // The default strategy adjusts nothing: one value for every element, and none for a zero default
        // (new storage is zeroed).
        const KVariant& value = info.getDefault();
        if (isZeroValue(value)) {
            return;
        }
        for (u64 i = 0; i < count; ++i) {
            raw.setValue(static_cast<u32>(i), value);
        }
        return;
    }
    KVariant value;
    for (u32 y = 0; y < countY; ++y) {
        for (u32 x = 0; x < countX; ++x) {
            const u64 index = u64{x} * countY + y;
            if (index >= count) {
                continue;
            }
            defaultFor(value, info, x, y);
            raw.setValue(static_cast<u32>(index), value);
        }
    }
}

ParameterArray& ParameterArray::operator=(const ParameterArray& source)
{
    return operator=(static_cast<const IParameterArray&>(source));
}

ParameterArray& ParameterArray::operator=(const IParameterArray& source)
{
    if (&source == this) {
        return *this;
    }
    initialize(m_pOwner, m_componentIndex, m_blockIndex, source.getParameterInfo(), m_pCallback, m_pStrategy, 0);
    assign(source, NO_STATUS, 0);
    return *this;
}

i32 ParameterArray::resize(u32 x, u32 y, u8 keep, u8 status)
{
    ParameterInfo info(m_info);
    IRawArray* raw = nullptr;
    const i32 built = buildResized(x, y, info, raw);
    if (built < 0) {
        return built;
    }
    fillDefaults(*raw, info);
    bool ok = false;
    u8* statuses = allocateStatusBytes(raw->getCount(), status, ok);
    if (!ok) {
        destroyRawArray(raw);
        return RESULT_NO_MEMORY;
    }
    if (keep != 0) {
        carryOver(*raw, info.getCountX(), info.getCountY());
    }
    destroyRawArray(m_pRaw);
    delete[] m_pStatus;
    m_pRaw = raw;
    m_pStatus = statuses;
    m_info = std::move(info);
    return 0;
}

i32 ParameterArray::setElementStatus(u32 x, u32 y, u8 status)
{
    u32 index = 0;
    if (!checkedIndex(x, y, index)) {
        return RESULT_BAD_ARGUMENT;
    }
    m_pStatus[index] = status;
    return m_pCallback->onChanged(m_blockIndex, index, m_pOwner->isRecalling());
}

i32 ParameterArray::setToDefault(u32 x, u32 y, u8 status)
{
    KVariant value;
    defaultFor(value, m_info, x, y);
    return setValue(x, y, value, status);
}

i32 ParameterArray::setValue(u32 x, u32 y, const KVariant& value, u8 status)
{
    u32 index = 0;
    if (!checkedIndex(x, y, index)) {
        return RESULT_BAD_ARGUMENT;
    }
    IParameterDB* const owner = m_pOwner;
    KVariant oldValue;
    m_pRaw->getValue(oldValue, index);

    // One scratch description per thread: it is used only until the limits are applied, before any hook that
    // might write again, and building one per write would cost more than the write itself.
    thread_local ParameterInfo scratch;
    const ParameterInfo& limits =
        m_pStrategy->getEffectiveInfo(owner, m_componentIndex, m_blockIndex, x, y, m_info, scratch);
    const KVariant* limit = nullptr;
    const i32 result = limitValue(kindOf(m_info.getTypeCode()), value, limits, limit);
    if (result < 0) {
        return result;
    }
    // The limit is copied: the hooks below may change the description it belongs to.
    std::optional<KVariant> limited;
    if (limit != nullptr) {
        limited.emplace(*limit);
    }
    const KVariant& newValue = limited ? *limited : value;
    if (newValue == oldValue) {
        return result;
    }

    const u8 oldStatus = m_pStatus[index];
    if (m_pStrategy->checkWrite(owner, m_componentIndex, m_blockIndex, x, y, m_info, newValue, oldValue, status,
                                oldStatus) < 0) {
        m_pCallback->onRejected(m_blockIndex, x, y, RESULT_REFUSED);
        return result;
    }
    const i32 stored = m_pRaw->setValue(index, newValue);
    if (stored < 0) {
        return stored;
    }
    m_pStatus[index] = status;

    // Writes made by the hook run no hook of their own: the owner stays suppressed until the hook returns.
    if (!owner->isStrategySuppressed()) {
        owner->suppressStrategy();
        m_pStrategy->onWritten(owner, m_componentIndex, m_blockIndex, x, y, m_info, newValue, oldValue, status);
        owner->resumeStrategy();
    }
    m_pCallback->onChanged(m_blockIndex, index, owner->isRecalling());
    return result;
}

i32 ParameterArray::getValue(KVariant& value, u32 x, u32 y, u8* status) const
{
    u32 index = 0;
    if (!checkedIndex(x, y, index)) {
        if (status != nullptr) {
            *status = NO_STATUS;
        }
        return RESULT_BAD_ARGUMENT;
    }
    const i32 result = m_pRaw->getValue(value, index);
    if (result < 0) {
        return result;
    }
    m_pStrategy->onRead(m_pOwner, m_componentIndex, m_blockIndex, x, y, m_info, value);
    if (status != nullptr) {
        *status = m_pStatus[index];
    }
    return result;
}

i32 ParameterArray::copyTo(IParameterArray& destination) const
{
    return destination.assign(*this, NO_STATUS, 0);
}

i32 ParameterArray::getDefaultValue(KVariant& value, u32 x, u32 y) const
{
    defaultFor(value, m_info, x, y);
    return 0;
}

u8 ParameterArray::getElementStatus(u32 x, u32 y) const
{
    u32 index = 0;
    return checkedIndex(x, y, index) ? m_pStatus[index] : NO_STATUS;
}

i32 ParameterArray::assign(const IParameterArray& source, u8 status, u8 copyByte)
{
    if (&source == this) {
        if (m_pStatus != nullptr) {
            std::memset(m_pStatus, status, m_pRaw->getCount());
        }
        m_pCallback->onChanged(m_blockIndex, ALL_ELEMENTS, m_pOwner->isRecalling());
        return 0;
    }
    if (!m_pRaw->isAllocated()) {
        const i32 initialized = initialize(m_pOwner, m_componentIndex, m_blockIndex, source.getParameterInfo(),
                                           m_pCallback, m_pStrategy, 0);
        if (initialized < 0) {
            return initialized;
        }
    }
    // The status block for the new shape comes first: the raw array may change shape only when it exists.
    const IRawArray& from = source.getRawArray();
    bool ok = false;
    u8* statuses = allocateStatusBytes(from.getCount(), status, ok);
    if (!ok) {
        return RESULT_NO_MEMORY;
    }
    const i32 copied = m_pRaw->assign(from, copyByte);
    if (copied < 0) {
        delete[] statuses;
        return copied;
    }
    m_info = source.getParameterInfo();
    delete[] m_pStatus;
    m_pStatus = statuses;
    m_pCallback->onChanged(m_blockIndex, ALL_ELEMENTS, m_pOwner->isRecalling());
    return 0;
}

i32 ParameterArray::writeElementWise(const IRawArray& source, u32 sourceX, u32 sourceY, u64 count,
                                     const IFlagArray& mask, ParameterFilter filter, u8 status)
{
    const u32 countX = m_info.getCountX();
    const u32 countY = m_info.getCountY();
    const u32 rows = std::min(countX, sourceX);
    const u32 columns = std::min(countY, sourceY);
    IParameterDB* const owner = m_pOwner;
    const bool suppress = (filter.getBits() & FILTER_KEEP_HOOKS) == 0;
    if (suppress) {
        owner->suppressStrategy();
    }
    KVariant value;
    for (u32 x = 0; x < rows; ++x) {
        for (u32 y = 0; y < columns; ++y) {
            const u64 from = u64{x} * sourceY + y;
            if (from >= count || mask.isSet(static_cast<u32>(u64{x} * countY + y))) {
                continue;
            }
            if (source.getValue(value, static_cast<u32>(from)) < 0) {
                continue;
            }
            setValue(x, y, value, status);
        }
    }
    if (suppress) {
        owner->resumeStrategy();
    }
    return 0;
}

i32 ParameterArray::copyFiltered(const IParameterArray& source, const IFlagArray& mask, ParameterFilter filter,
                                 u8 status)
{
    if (!takesPart(filter, m_info.getAttribute())) {
        return 0;
    }
    if (!isElementWise(filter)) {
        return copyDirect(source, mask, status, m_pStatus);
    }
    const IRawArray& from = source.getRawArray();
    const ParameterInfo& shape = source.getParameterInfo();
    return writeElementWise(from, shape.getCountX(), shape.getCountY(), from.getCount(), mask, filter, status);
}

i32 ParameterArray::importBinary(const ParameterInfo& recordInfo, const void* data, u32 size, const IFlagArray& mask,
                                 ParameterFilter filter, u8 status)
{
    if (recordInfo.getTypeCode() != m_info.getTypeCode()) {
        return RESULT_TYPE_MISMATCH;
    }
    if (!takesPart(filter, m_info.getAttribute())) {
        return 0;
    }
    if (!isElementWise(filter)) {
        return importDirect(recordInfo, data, size, mask, status, m_pStatus);
    }
    if (!m_pRaw->isAllocated()) {
        return RESULT_NO_DATA;
    }
    RecordValues values;
    const i32 built = values.build(recordInfo, data, size);
    if (built < 0) {
        return built;
    }
    if (values.count() == 0) {
        return 0;
    }
    return writeElementWise(*values.get(), recordInfo.getCountX(), recordInfo.getCountY(), values.count(), mask, filter,
                            status);
}

// ---------------------------------------------------------------------------------------------------------------
// LocalParameterArray
// ---------------------------------------------------------------------------------------------------------------

LocalParameterArray& LocalParameterArray::operator=(const LocalParameterArray& source)
{
    return operator=(static_cast<const IParameterArray&>(source));
}

LocalParameterArray& LocalParameterArray::operator=(const IParameterArray& source)
{
    assign(source, NO_STATUS, 0);
    return *this;
}

i32 LocalParameterArray::initialize(const ParameterInfo& info)
{
    ParameterInfo copy(info); // info may be this array's own
    freeStorage();
    m_info = std::move(copy);
    const u64 count = u64{m_info.getCountX()} * m_info.getCountY();
    if (!m_info.isValid() || count > 0xFFFFFFFFu) {
        freeStorage();
        return RESULT_BAD_ARGUMENT;
    }
    IRawArray* raw = nullptr;
    const i32 created = createRawArray(raw, m_info.getTypeCode(), m_info.getElementSize(), static_cast<u32>(count));
    if (created < 0) {
        freeStorage();
        return created;
    }
    m_pRaw = raw;
    return 0;
}

void LocalParameterArray::release()
{
    freeStorage();
}

ParameterStrategy* LocalParameterArray::getStrategy() const
{
    return getDefaultStrategy();
}

i32 LocalParameterArray::resize(u32 x, u32 y, u8 keep, u8 /*status*/)
{
    ParameterInfo info(m_info);
    IRawArray* raw = nullptr;
    const i32 built = buildResized(x, y, info, raw);
    if (built < 0) {
        return built;
    }
    if (keep != 0) {
        carryOver(*raw, info.getCountX(), info.getCountY());
    }
    destroyRawArray(m_pRaw);
    m_pRaw = raw;
    m_info = std::move(info);
    return 0;
}

i32 LocalParameterArray::setElementStatus(u32, u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 LocalParameterArray::setToDefault(u32, u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 LocalParameterArray::setValue(u32 x, u32 y, const KVariant& value, u8 /*status*/)
{
    u32 index = 0;
    if (!checkedIndex(x, y, index)) {
        return RESULT_BAD_ARGUMENT;
    }
    return m_pRaw->setValue(index, value);
}

i32 LocalParameterArray::getValue(KVariant& value, u32 x, u32 y, u8* status) const
{
    if (status != nullptr) {
        *status = NO_STATUS;
    }
    u32 index = 0;
    if (!checkedIndex(x, y, index)) {
        return RESULT_BAD_ARGUMENT;
    }
    return m_pRaw->getValue(value, index);
}

i32 LocalParameterArray::copyTo(IParameterArray& destination) const
{
    return destination.assign(*this, NO_STATUS, 0);
}

i32 LocalParameterArray::getDefaultValue(KVariant& value, u32, u32) const
{
    value.clear();
    return RESULT_NOT_SUPPORTED;
}

i32 LocalParameterArray::assign(const IParameterArray& source, u8 /*status*/, u8 copyByte)
{
    if (&source == this) {
        return 0;
    }
    const i32 initialized = initialize(source.getParameterInfo());
    if (initialized < 0) {
        return initialized;
    }
    return m_pRaw->assign(source.getRawArray(), copyByte);
}

i32 LocalParameterArray::copyFiltered(const IParameterArray& source, const IFlagArray& mask, ParameterFilter filter,
                                      u8 /*status*/)
{
    if (!takesPart(filter, m_info.getAttribute())) {
        return 0;
    }
    return copyDirect(source, mask, NO_STATUS, nullptr);
}

i32 LocalParameterArray::importBinary(const ParameterInfo& recordInfo, const void* data, u32 size,
                                      const IFlagArray& mask, ParameterFilter filter, u8 /*status*/)
{
    if (recordInfo.getTypeCode() != m_info.getTypeCode()) {
        return RESULT_TYPE_MISMATCH;
    }
    if (!takesPart(filter, m_info.getAttribute())) {
        return 0;
    }
    return importDirect(recordInfo, data, size, mask, NO_STATUS, nullptr);
}

} // namespace PDB
