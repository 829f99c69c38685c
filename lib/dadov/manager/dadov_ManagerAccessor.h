// VEXADManagerAccessor: the manager accessor handed to an instance's coefficient calculation while a processing
// thread uses the instance (made and destroyed by createManagerAccessor / destroyManagerAccessor, dadov_Config.h).
//
// Reads (1-13) come from a private local component built from the component's description, so they give the
// description's values, not the component database's. Writes (24-29) go to the component in the component
// database (origin 255). Array stores (14-17) go to the instance's parameter arrays, meter reads (18-23) to the
// first three sets of its meter pool; reads of sets 2 and 3, which the sync thread writes, take the pool's lock.
//
// Element (x, y, z) of an array: x below the array's X extent, and y and z below Y and Z when the array has those
// dimensions (coordinates of dimensions it lacks are ignored). Anything else, an array index beyond the set or an
// array without storage stores nothing (the setters still answer 1) and reads the zero element. Stores convert
// the value to the array's element type: integers by C++ conversion, floats to integers truncated and saturated
// (NaN gives 0). The first store into an array marks it changed in its set (PARRAY::ArrayAccessorForServer).
//
// The array sets must keep their arrays while the accessor lives (the instance releases neither while in use);
// their elements' addresses are taken once at set-up.
#pragma once

#include <vector>

#include "dadov_MeterPool.h"
#include "dadov_PDBParameterStrategy.h"
#include "dadov_PluginInterfaces.h"
#include "pdb_LocalComponent.h"

namespace DADOV {

class VEXADManagerAccessor final : public IManagerAccessor_V1
{
public:
    static constexpr u32 VERSION = 1;
    static constexpr u32 NO_UID = 0xFFFFFFFF;
    static constexpr u8 NO_SET_BYTE = 254; // position 23 without meter set 2

    // Writes go to the component at componentIndex of database (null: every write fails).
    VEXADManagerAccessor(PDB::IParameterDB* database, u32 componentIndex);
    ~VEXADManagerAccessor();
    VEXADManagerAccessor(const VEXADManagerAccessor&) = delete;
    VEXADManagerAccessor& operator=(const VEXADManagerAccessor&) = delete;

    // Builds the local component from info and takes the arrays and the first three meter sets of meters (either
    // may be null: no such sets): 0, or the local component's failure (nothing kept then).
    [[nodiscard]] i32 setup(const PDB::ComponentInfo& info, u32 uid, u32 numX, u32 numY,
                            PARRAY::ArrayAccessorForServer* arrays, MeterPool* meters);
    // Releases the local component's arrays and forgets uid and sets.
    void teardown();

    u32 getVersion() const { return m_version; }
    u32 getUniqID() const { return m_uid; }
    u32 getComponentIndex() const { return m_componentIndex; }
    u32 getNumX() const { return m_numX; }
    u32 getNumY() const { return m_numY; }
    // The private parameter set the reads come from.
    PDB::LocalComponent& getLocalComponent() { return m_local; }

    u32 getValueUInt(u32 block, u32 x, u32 y) override;
    i32 getValueInt(u32 block, u32 x, u32 y) override;
    f32 getValueFloat(u32 block, u32 x, u32 y) override;
    bool getValueBool(u32 block, u32 x, u32 y) override;
    // Size 0 writes nothing: 0.
    i32 getValueString(u32 block, u32 x, u32 y, char* buffer, u32 size) override;
    i32 getValueBinary(u32 block, u32 x, u32 y, u8* buffer, u32 size) override;
    // countX and countY of the block's description.
    u32 getParameterInfoField1(u32 block) override;
    u32 getParameterInfoField2(u32 block) override;
    // Minimum, maximum, default, nominal and step.
    i32 getParameterInfoValue1(u32 block, VariantType* out) override;
    i32 getParameterInfoValue2(u32 block, VariantType* out) override;
    i32 getParameterInfoValue3(u32 block, VariantType* out) override;
    i32 getParameterInfoValue4(u32 block, VariantType* out) override;
    i32 getParameterInfoValue5(u32 block, VariantType* out) override;
    i32 setArrayValueUInt(u32 array, u32 x, u32 y, u32 z, u32 value) override;
    i32 setArrayValueUIntAlias(u32 array, u32 x, u32 y, u32 z, u32 value) override;
    i32 setArrayValueFloat(u32 array, u32 x, u32 y, u32 z, f32 value) override;
    i32 setArrayValueDouble(u32 array, u32 x, u32 y, u32 z, f64 value) override;
    i32 touchMeterValue(u32 meter, u32 x, u32 y, u32 z) override;
    // The element of set 1 when it is 4 bytes wide; otherwise a zero word of this accessor, zeroed again before
    // each return; null without set 1.
    u32* getMeterValuePointer(u32 meter, u32 x, u32 y, u32 z) override;
    // Set 1's element converted to float.
    f32 getMeterFloat(u32 meter, u32 x, u32 y, u32 z) override;
    // Set 2's or 3's element converted to u8 (saturated, floats truncated).
    u8 getMeterByte2(u32 meter, u32 x, u32 y, u32 z) override;
    u8 getMeterByte3(u32 meter, u32 x, u32 y, u32 z) override;
    u8 getMeterByte2OrFE(u32 meter, u32 x, u32 y, u32 z) override;
    i32 setValueUInt(u32 block, u32 x, u32 y, u32 value) override;
    i32 setValueInt(u32 block, u32 x, u32 y, i32 value) override;
    i32 setValueFloat(u32 block, u32 x, u32 y, f32 value) override;
    i32 setValueBool(u32 block, u32 x, u32 y, bool value) override;
    i32 setValueString(u32 block, u32 x, u32 y, const char* text) override;
    i32 setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size) override;

private:
    enum : u32 { SET_ARRAYS = 0, SET_METER1 = 1, SET_METER2 = 2, SET_METER3 = 3, SET_COUNT = 4 };

    // One array of a set as the accessor addresses it.
    struct Slot
    {
        u8* data = nullptr; // null: no storage
        u32 typeCode = 0;
        u32 elementSize = 0;
        u32 dimensions = 0;
        u32 x = 0;
        u32 y = 0;
        u32 z = 0;
        bool changed = false; // mirrors the set's mark (which only create and clear reset)
    };

    // The slot of array `index` of a set and the address of its element (x, y, z), or null.
    u8* locate(u32 set, u32 index, u32 x, u32 y, u32 z, const Slot*& slot) const;
    // The address of element (x, y, z) of a slot, or null.
    static u8* elementOf(const Slot& slot, u32 x, u32 y, u32 z)
    {
        if (slot.data == nullptr || x >= slot.x || (slot.dimensions >= 2 && y >= slot.y) ||
            (slot.dimensions >= 3 && z >= slot.z)) {
            return nullptr;
        }
        // Row-major, as the arrays lay their elements out.
        u64 element = x;
        if (slot.dimensions >= 2) {
            element = element * slot.y + y;
        }
        if (slot.dimensions >= 3) {
            element = element * slot.z + z;
        }
        return slot.data + element * slot.elementSize;
    }
    template <typename Value> i32 storeArray(u32 array, u32 x, u32 y, u32 z, Value value);
    // Byte read of meter set 2 or 3 under the pool's lock; missing: the answer without that set.
    u8 readMeterByte(u32 set, u32 meter, u32 x, u32 y, u32 z, u8 missing) const;

    u32 m_version = VERSION;
    PDB::LocalComponent m_local;
    u32 m_uid = NO_UID;
    u32 m_componentIndex;
    u32 m_numX = 0;
    u32 m_numY = 0;
    PARRAY::ArrayAccessorForServer* m_sets[SET_COUNT] = {};
    MeterPool* m_meters = nullptr;
    std::vector<Slot> m_slots[SET_COUNT];
    // The parameter arrays' slots, for the stores (count 0 without them).
    Slot* m_arraySlots = nullptr;
    u32 m_arraySlotCount = 0;
    PDBAccessor m_writer; // positions 24-29
    u32 m_zeroWord = 0;
};

} // namespace DADOV
