#include "dadov_ManagerAccessor.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "dadov_ConvertPDBValue.h"
#include "parray_ArrayAccessorForServer.h"

namespace DADOV {

namespace {

template <typename T> void put(u8* at, T value)
{
    std::memcpy(at, &value, sizeof(value));
}

template <typename T> T get(const u8* at)
{
    T value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

// Truncated towards zero and saturated to T's range; NaN gives 0.
template <typename T> T truncateSaturated(f64 value)
{
    constexpr f64 lowest = static_cast<f64>(std::numeric_limits<T>::lowest());
    constexpr f64 highest = static_cast<f64>(std::numeric_limits<T>::max());
    if (std::isnan(value)) {
        return T{0};
    }
    if (value <= lowest) {
        return std::numeric_limits<T>::lowest();
    }
    if (value >= highest) {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(value);
}

// Beyond the float range a finite double becomes the infinity of its sign, as the hardware conversion gives it.
f32 narrowToFloat(f64 value)
{
    if (std::isfinite(value) && std::fabs(value) > static_cast<f64>(FLT_MAX)) {
        return value > 0 ? std::numeric_limits<f32>::infinity() : -std::numeric_limits<f32>::infinity();
    }
    return static_cast<f32>(value);
}

// Calls visit with a value of the element type of typeCode (nothing for an unknown code).
template <typename Visit> void withElementType(u32 typeCode, Visit&& visit)
{
    switch (typeCode) {
    case PARRAY::ELEMENT_U32:
        visit(u32{});
        break;
    case PARRAY::ELEMENT_U16:
        visit(u16{});
        break;
    case PARRAY::ELEMENT_U8:
        visit(u8{});
        break;
    case PARRAY::ELEMENT_I32:
        visit(i32{});
        break;
    case PARRAY::ELEMENT_I16:
        visit(std::int16_t{});
        break;
    case PARRAY::ELEMENT_I8:
        visit(std::int8_t{});
        break;
    case PARRAY::ELEMENT_F32:
        visit(f32{});
        break;
    case PARRAY::ELEMENT_F64:
        visit(f64{});
        break;
    default:
        break;
    }
}

// Integers convert as C++ converts them.
void storeInteger(u8* at, u32 typeCode, u32 value)
{
    withElementType(typeCode, [&](auto element) { put(at, static_cast<decltype(element)>(value)); });
}

// Floats truncate and saturate into integers.
void storeFloating(u8* at, u32 typeCode, f64 value)
{
    withElementType(typeCode, [&](auto element) {
        using T = decltype(element);
        if constexpr (std::is_integral_v<T>) {
            put(at, truncateSaturated<T>(value));
        } else if constexpr (std::is_same_v<T, f32>) {
            put(at, narrowToFloat(value));
        } else {
            put(at, value);
        }
    });
}

// Every element type's value is exact as a double.
f64 readElement(const u8* at, u32 typeCode)
{
    f64 value = 0.0;
    withElementType(typeCode, [&](auto element) { value = static_cast<f64>(get<decltype(element)>(at)); });
    return value;
}

} // namespace

VEXADManagerAccessor::VEXADManagerAccessor(PDB::IParameterDB* database, u32 componentIndex)
    : m_componentIndex(componentIndex), m_writer(database, componentIndex)
{
}

VEXADManagerAccessor::~VEXADManagerAccessor()
{
    teardown();
}

i32 VEXADManagerAccessor::setup(const PDB::ComponentInfo& info, u32 uid, u32 numX, u32 numY,
                                PARRAY::ArrayAccessorForServer* arrays, MeterPool* meters)
{
    teardown();
    const i32 result = m_local.create(info);
    if (result < 0) {
        return result;
    }
    // Local arrays start zeroed: every element takes its block's default.
    for (u32 block = 0; block < m_local.getBlockCount(); ++block) {
        const PDB::ParameterInfo& blockInfo = m_local.getParameterInfo(block);
        const KVariant& value = blockInfo.getDefault();
        if (!value.isValid()) {
            continue;
        }
        for (u32 y = 0; y < blockInfo.getCountY(); ++y) {
            for (u32 x = 0; x < blockInfo.getCountX(); ++x) {
                m_local.setValue(block, x, y, value, PDBAccessor::ORIGIN);
            }
        }
    }
    m_sets[SET_ARRAYS] = arrays;
    for (u32 set = SET_METER1; set <= SET_METER3; ++set) {
        m_sets[set] = meters != nullptr ? meters->getArraySet(set) : nullptr;
    }
    try {
        for (u32 set = 0; set < SET_COUNT; ++set) {
            const u32 count = m_sets[set] != nullptr ? m_sets[set]->getArrayCount() : 0;
            m_slots[set].assign(count, Slot{});
            for (u32 i = 0; i < count; ++i) {
                const PARRAY::ArrayAccessorForServer::ArrayRecord* record = m_sets[set]->getRecord(i);
                const PARRAY::IArray* array = record != nullptr ? record->array : nullptr;
                if (array == nullptr || !array->isValid()) {
                    continue;
                }
                Slot& slot = m_slots[set][i];
                slot.typeCode = record->typeCode;
                slot.elementSize = PARRAY::getElementSize(record->typeCode);
                slot.dimensions = array->getDimensionCount();
                slot.x = array->getSize(0);
                slot.y = slot.dimensions >= 2 ? array->getSize(1) : 1;
                slot.z = slot.dimensions >= 3 ? array->getSize(2) : 1;
                const u64 bytes = u64{slot.x} * slot.y * slot.z * slot.elementSize;
                // Addressing covers exactly the storage the array reports, never more.
                slot.data = bytes != 0 && bytes <= array->getByteSize()
                                ? static_cast<u8*>(const_cast<PARRAY::IArray*>(array)->getData())
                                : nullptr;
            }
        }
    } catch (const std::bad_alloc&) {
        teardown();
        return DADOV_E_FAILED;
    }
    m_arraySlots = m_slots[SET_ARRAYS].data();
    m_arraySlotCount = static_cast<u32>(m_slots[SET_ARRAYS].size());
    m_meters = meters;
    m_uid = uid;
    m_numX = numX;
    m_numY = numY;
    return DADOV_OK;
}

void VEXADManagerAccessor::teardown()
{
    m_local.releaseArrays();
    m_uid = NO_UID;
    m_numX = 0;
    m_numY = 0;
    m_meters = nullptr;
    m_arraySlots = nullptr;
    m_arraySlotCount = 0;
    for (u32 set = 0; set < SET_COUNT; ++set) {
        m_sets[set] = nullptr;
        m_slots[set] = std::vector<Slot>();
    }
}

// ---------------------------------------------------------------------------------------------------------------
// 1-13: the local component
// ---------------------------------------------------------------------------------------------------------------

u32 VEXADManagerAccessor::getValueUInt(u32 block, u32 x, u32 y)
{
    return m_local.getValueUInt(block, x, y, nullptr);
}

i32 VEXADManagerAccessor::getValueInt(u32 block, u32 x, u32 y)
{
    return m_local.getValueInt(block, x, y, nullptr);
}

f32 VEXADManagerAccessor::getValueFloat(u32 block, u32 x, u32 y)
{
    return m_local.getValueFloat(block, x, y, nullptr);
}

bool VEXADManagerAccessor::getValueBool(u32 block, u32 x, u32 y)
{
    return m_local.getValueBool(block, x, y, nullptr);
}

i32 VEXADManagerAccessor::getValueString(u32 block, u32 x, u32 y, char* buffer, u32 size)
{
    KVariant value;
    if (buffer != nullptr && size != 0) {
        m_local.getValue(value, block, x, y, nullptr);
    }
    return ConvertPDBValue::toTextBuffer(value, buffer, size);
}

i32 VEXADManagerAccessor::getValueBinary(u32 block, u32 x, u32 y, u8* buffer, u32 size)
{
    KVariant value;
    if (buffer != nullptr) {
        m_local.getValue(value, block, x, y, nullptr);
    }
    return ConvertPDBValue::toByteBuffer(value, buffer, size);
}

u32 VEXADManagerAccessor::getParameterInfoField1(u32 block)
{
    return m_local.getParameterInfo(block).getCountX();
}

u32 VEXADManagerAccessor::getParameterInfoField2(u32 block)
{
    return m_local.getParameterInfo(block).getCountY();
}

i32 VEXADManagerAccessor::getParameterInfoValue1(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(&m_local.getParameterInfo(block), &PDB::ParameterInfo::getMin, out);
}

i32 VEXADManagerAccessor::getParameterInfoValue2(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(&m_local.getParameterInfo(block), &PDB::ParameterInfo::getMax, out);
}

i32 VEXADManagerAccessor::getParameterInfoValue3(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(&m_local.getParameterInfo(block), &PDB::ParameterInfo::getDefault, out);
}

i32 VEXADManagerAccessor::getParameterInfoValue4(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(&m_local.getParameterInfo(block), &PDB::ParameterInfo::getNominal, out);
}

i32 VEXADManagerAccessor::getParameterInfoValue5(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(&m_local.getParameterInfo(block), &PDB::ParameterInfo::getStep, out);
}

// ---------------------------------------------------------------------------------------------------------------
// 14-23: arrays and meters
// ---------------------------------------------------------------------------------------------------------------

u8* VEXADManagerAccessor::locate(u32 set, u32 index, u32 x, u32 y, u32 z, const Slot*& slot) const
{
    const std::vector<Slot>& slots = m_slots[set];
    if (index >= slots.size()) {
        return nullptr;
    }
    u8* at = elementOf(slots[index], x, y, z);
    if (at != nullptr) {
        slot = &slots[index];
    }
    return at;
}

template <typename Value> i32 VEXADManagerAccessor::storeArray(u32 array, u32 x, u32 y, u32 z, Value value)
{
    constexpr i32 STORED = 1; // also when nothing was stored
    if (array >= m_arraySlotCount) {
        return STORED;
    }
    Slot& slot = m_arraySlots[array];
    u8* at = elementOf(slot, x, y, z);
    if (at == nullptr) {
        return STORED;
    }
    if constexpr (std::is_integral_v<Value>) {
        storeInteger(at, slot.typeCode, value);
    } else if (slot.typeCode == (sizeof(Value) == sizeof(f32) ? PARRAY::ELEMENT_F32 : PARRAY::ELEMENT_F64)) {
        put(at, value); // the array's own type
    } else {
        storeFloating(at, slot.typeCode, static_cast<f64>(value));
    }
    if (!slot.changed) {
        slot.changed = true;
        m_sets[SET_ARRAYS]->markChanged(array);
    }
    return STORED;
}

i32 VEXADManagerAccessor::setArrayValueUInt(u32 array, u32 x, u32 y, u32 z, u32 value)
{
    return storeArray(array, x, y, z, value);
}

i32 VEXADManagerAccessor::setArrayValueUIntAlias(u32 array, u32 x, u32 y, u32 z, u32 value)
{
    return storeArray(array, x, y, z, value);
}

i32 VEXADManagerAccessor::setArrayValueFloat(u32 array, u32 x, u32 y, u32 z, f32 value)
{
    return storeArray(array, x, y, z, value);
}

i32 VEXADManagerAccessor::setArrayValueDouble(u32 array, u32 x, u32 y, u32 z, f64 value)
{
    return storeArray(array, x, y, z, value);
}

i32 VEXADManagerAccessor::touchMeterValue(u32 meter, u32 x, u32 y, u32 z)
{
    const Slot* slot = nullptr;
    (void)locate(SET_METER1, meter, x, y, z, slot);
    return DADOV_OK;
}

u32* VEXADManagerAccessor::getMeterValuePointer(u32 meter, u32 x, u32 y, u32 z)
{
    if (m_sets[SET_METER1] == nullptr) {
        return nullptr;
    }
    const Slot* slot = nullptr;
    u8* at = locate(SET_METER1, meter, x, y, z, slot);
    if (at != nullptr && slot->elementSize == sizeof(u32)) {
        return reinterpret_cast<u32*>(at);
    }
    m_zeroWord = 0;
    return &m_zeroWord;
}

f32 VEXADManagerAccessor::getMeterFloat(u32 meter, u32 x, u32 y, u32 z)
{
    const Slot* slot = nullptr;
    const u8* at = locate(SET_METER1, meter, x, y, z, slot);
    return at != nullptr ? narrowToFloat(readElement(at, slot->typeCode)) : 0.0f;
}

u8 VEXADManagerAccessor::readMeterByte(u32 set, u32 meter, u32 x, u32 y, u32 z, u8 missing) const
{
    if (m_meters == nullptr || m_sets[set] == nullptr) {
        return missing;
    }
    const Slot* slot = nullptr;
    const u8* at = locate(set, meter, x, y, z, slot);
    if (at == nullptr) {
        return 0;
    }
    u8 value = 0;
    // The sync thread writes these sets under the pool's lock.
    m_meters->visitSet(set, [&](const PARRAY::ArrayAccessorForServer&) {
        value = truncateSaturated<u8>(readElement(at, slot->typeCode));
        return DADOV_OK;
    });
    return value;
}

u8 VEXADManagerAccessor::getMeterByte2(u32 meter, u32 x, u32 y, u32 z)
{
    return readMeterByte(SET_METER2, meter, x, y, z, 0);
}

u8 VEXADManagerAccessor::getMeterByte3(u32 meter, u32 x, u32 y, u32 z)
{
    return readMeterByte(SET_METER3, meter, x, y, z, 0);
}

u8 VEXADManagerAccessor::getMeterByte2OrFE(u32 meter, u32 x, u32 y, u32 z)
{
    return readMeterByte(SET_METER2, meter, x, y, z, NO_SET_BYTE);
}

// ---------------------------------------------------------------------------------------------------------------
// 24-29: the component database
// ---------------------------------------------------------------------------------------------------------------

i32 VEXADManagerAccessor::setValueUInt(u32 block, u32 x, u32 y, u32 value)
{
    return m_writer.setValueUInt(block, x, y, value);
}

i32 VEXADManagerAccessor::setValueInt(u32 block, u32 x, u32 y, i32 value)
{
    return m_writer.setValueInt(block, x, y, value);
}

i32 VEXADManagerAccessor::setValueFloat(u32 block, u32 x, u32 y, f32 value)
{
    return m_writer.setValueFloat(block, x, y, value);
}

i32 VEXADManagerAccessor::setValueBool(u32 block, u32 x, u32 y, bool value)
{
    return m_writer.setValueBool(block, x, y, value);
}

i32 VEXADManagerAccessor::setValueString(u32 block, u32 x, u32 y, const char* text)
{
    return m_writer.setValueString(block, x, y, text);
}

i32 VEXADManagerAccessor::setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size)
{
    return m_writer.setValueBinary(block, x, y, data, size);
}

} // namespace DADOV
