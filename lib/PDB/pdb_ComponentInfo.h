// Component description: the type name and version of a component type, the limits and current values of its
// X and Y dimensions, and its ordered list of parameter blocks with an address index.
//
// The 92-byte "#CI1" record identifies a description in files and towards the device (integers big-endian,
// texts NUL-terminated and zero-filled, cut to field width - 1):
//   0 "#CI1" | 4 uid u32 | 8 name[24] | 32 version u32 | 36 currentX u16 | 38 currentY u16 |
//   40 instanceName[48] | 88 block count u16 | 90 userValue low 16 bits
// The record carries no block descriptions: a reader takes them from the repository by name and version.
//
// No locking: a description is built on one thread and then read; its owner serialises access.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "klib_Types.h"
#include "pdb_ParameterInfo.h"

namespace PDB {

class ParameterStrategy;

using ComponentUID = u32;
constexpr ComponentUID INVALID_COMPONENT_UID = 0xFFFFFFFF;

class ComponentInfo
{
public:
    static constexpr u32 BINARY_SIZE = 92;
    static constexpr u32 NAME_FIELD_SIZE = 24;
    static constexpr u32 INSTANCE_NAME_FIELD_SIZE = 48;
    static constexpr u32 NOT_FOUND = 0xFFFFFFFF;
    static constexpr u32 MAX_DIMENSION = 65535;

    // Empty, with the shared default strategy.
    ComponentInfo();
    // Deep copy; when memory runs out the copy is left without blocks (hasParameters() false).
    ComponentInfo(const ComponentInfo& other);
    // Deep copy; 0, or 0x80040000 with this description left without blocks.
    i32 copyFrom(const ComponentInfo& other);
    ComponentInfo& operator=(const ComponentInfo& other);
    // Copies the fields and takes over the blocks and the address index; the source keeps no blocks.
    ComponentInfo(ComponentInfo&& other) noexcept;
    ComponentInfo& operator=(ComponentInfo&& other) noexcept;
    void assign(ComponentInfo&& other) noexcept;
    virtual ~ComponentInfo();

    // Clears, then checks 1 <= minX <= maxX <= 65535 and 1 <= minY <= maxY <= 65535 (else 0x80000001, left
    // cleared) and sets the limits, current = min, the comments, the strategy (may be null), componentNumber 0.
    i32 initialize(const char* name, u32 version, u32 minX, u32 minY, u32 maxX, u32 maxY, const char* commentX,
                   const char* commentY, ParameterStrategy* strategy);
    // Back to the empty state; keeps the strategy. Returns 0.
    i32 clear();

    // The add operations. An address already present reuses (and rewrites) its block; a new address appends
    // one. A null or empty address gives 0x80000001, an allocation failure 0x80040000. The counts are resolved
    // against the current dimensions (a failing resolution leaves the block with counts 0, not isValid). For
    // the numeric types a nominal equal to min is stored empty. Null texts count as empty.
    i32 addParameterUInt8(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                          u8 min, u8 max, u8 def, u8 nominal, u32 step, u32 scaling, ParameterAttribute attribute,
                          const char* unit, const char* kind, const char* defUI);
    i32 addParameterUInt16(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                           u16 min, u16 max, u16 def, u16 nominal, u32 step, u32 scaling, ParameterAttribute attribute,
                           const char* unit, const char* kind, const char* defUI);
    i32 addParameterUInt32(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                           u32 min, u32 max, u32 def, u32 nominal, u32 step, u32 scaling, ParameterAttribute attribute,
                           const char* unit, const char* kind, const char* defUI);
    i32 addParameterSInt8(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                          i8 min, i8 max, i8 def, i8 nominal, u32 step, u32 scaling, ParameterAttribute attribute,
                          const char* unit, const char* kind, const char* defUI);
    i32 addParameterSInt16(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                           i16 min, i16 max, i16 def, i16 nominal, u32 step, u32 scaling, ParameterAttribute attribute,
                           const char* unit, const char* kind, const char* defUI);
    i32 addParameterSInt32(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                           i32 min, i32 max, i32 def, i32 nominal, u32 step, u32 scaling, ParameterAttribute attribute,
                           const char* unit, const char* kind, const char* defUI);
    i32 addParameterFloat(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                          f32 min, f32 max, f32 def, f32 nominal, f32 step, u32 scaling, ParameterAttribute attribute,
                          const char* unit, const char* kind, const char* defUI);
    // min, max and def stored as unsigned 0/1; nominal empty, step 1, scaling 1.
    i32 addParameterBool(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                         u32 min, u32 max, u32 def, ParameterAttribute attribute, const char* unit, const char* kind,
                         const char* defUI);
    // Element size = capacity; min = max = 0, def = the text, nominal empty, step 0, scaling 0.
    i32 addParameterString(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                           u32 capacity, const char* defaultText, ParameterAttribute attribute, const char* unit,
                           const char* kind, const char* defUI);
    // Element size = capacity; min = max = def = 0, nominal empty, step 0, scaling 0.
    i32 addParameterBinary(const char* address, u32 patternX, u32 patternY, const char* commentX, const char* commentY,
                           u32 capacity, ParameterAttribute attribute, const char* unit, const char* kind,
                           const char* defUI);

    // Block index of the address; 0xFFFFFFFF when absent (or null).
    u32 findParameterIndex(const char* address) const;
    // The block; an index beyond the list gives the shared default block (address "<unknown>").
    const ParameterInfo& getParameterInfo(u32 index) const;
    bool hasParameters() const { return !m_parameters.empty(); }
    u32 getParameterCount() const { return static_cast<u32>(m_parameters.size()); }

    // x = 0 / y = 0 select minX / minY. Without blocks, or x, y outside the limits: 0x80000001, nothing
    // changed. Otherwise stores the component number and dimensions and resolves every block in order; the
    // first failing block's result is returned (later blocks keep their counts).
    i32 setDimensions(u32 x, u32 y, i16 componentNumber);

    i32 setComponentUID(ComponentUID uid)
    {
        m_componentUID = uid;
        return 0;
    }
    i32 setInstanceName(const char* name);
    i32 setUserValue(u32 value)
    {
        m_userValue = value;
        return 0;
    }
    i32 setParameterStrategy(ParameterStrategy* strategy)
    {
        m_pParameterStrategy = strategy;
        return 0;
    }

    ComponentUID getComponentUID() const { return m_componentUID; }
    const std::string& getInstanceName() const { return m_instanceName; }
    u32 getUserValue() const { return m_userValue; }
    ParameterStrategy* getParameterStrategy() const { return m_pParameterStrategy; }
    const std::string& getName() const { return m_name; }
    u32 getVersion() const { return m_version; }
    i16 getComponentNumber() const { return m_componentNumber; }
    u32 getCurrentX() const { return m_currentX; }
    u32 getCurrentY() const { return m_currentY; }
    u32 getMinX() const { return m_minX; }
    u32 getMinY() const { return m_minY; }
    u32 getMaxX() const { return m_maxX; }
    u32 getMaxY() const { return m_maxY; }
    const std::string& getCommentX() const { return m_commentX; }
    const std::string& getCommentY() const { return m_commentY; }

    // "#CI1" record: null buffer or size < 92 gives 0x80000001; otherwise the 92 bytes are written; 0.
    i32 exportBinary(void* buffer, u32 size) const;
    u32 getBinarySize() const { return BINARY_SIZE; }
    // Reads a "#CI1" record and becomes a copy of the registered description it names, with the record's uid,
    // instance name, user value and dimensions (0 = the minimum). parameterCount gets the record's block count
    // once the type is found (it is reported, never checked). Results: 0x80000001 null, short buffer or
    // dimensions outside the limits; 0x80010000 wrong magic; 0x80000002 type not registered; 0x80040000 out
    // of memory. Every failure leaves the description cleared.
    i32 importBinary(const void* buffer, u32 size, u32& parameterCount);

private:
    i32 copyFieldsAndBlocks(const ComponentInfo& other);
    // The uid, user value, strategy, version, number and dimensions of other (no texts, no blocks).
    void copyScalarFields(const ComponentInfo& other);
    void releaseParameters();
    // Index of a block for the address (reused and cleared, or appended): 0, or a failure code.
    i32 prepareBlock(const char* address, u32& index);
    // Common fields of every add operation and steps after the values are set.
    void setCommon(ParameterInfo& info, const char* address, u8 typeCode, u32 elementSize, u32 patternX, u32 patternY,
                   const char* commentX, const char* commentY, ParameterAttribute attribute, const char* unit,
                   const char* kind, const char* defUI);
    i32 finishBlock(u32 index, const char* address, bool numeric);

    template <typename V>
    i32 addNumeric(const char* address, u8 typeCode, u32 elementSize, u32 patternX, u32 patternY, const char* commentX,
                   const char* commentY, const V& min, const V& max, const V& def, const V& nominal,
                   const KVariant& step, u32 scaling, ParameterAttribute attribute, const char* unit, const char* kind,
                   const char* defUI);

    ComponentUID m_componentUID = INVALID_COMPONENT_UID;
    std::string m_instanceName;
    u32 m_userValue = 0;
    ParameterStrategy* m_pParameterStrategy = nullptr;
    std::string m_name;
    u32 m_version = 0;
    i16 m_componentNumber = -1;
    u32 m_currentX = 1;
    u32 m_currentY = 1;
    u32 m_minX = 1;
    u32 m_minY = 1;
    u32 m_maxX = 1;
    u32 m_maxY = 1;
    std::string m_commentX;
    std::string m_commentY;
    std::vector<std::unique_ptr<ParameterInfo>> m_parameters;
    std::map<std::string, u32, std::less<>> m_addressIndex;
};

// The shared empty description returned by failed look-ups; never freed by its users.
const ComponentInfo& getEmptyComponentInfo();

} // namespace PDB
