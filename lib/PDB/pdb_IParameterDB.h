// IParameterDB: the one interface through which every part of the system reads and writes parameters, with the
// lock interface IMutex it starts with and the two observer interfaces.
//
// A database holds a table of components (component index = position; 0xFFFFFFFF none). Components are found
// by uid (ComponentUID, 0xFFFFFFFF invalid), blocks by address text (an exact key of the component type, "@"
// suffixes included) and elements by (x, y) inside a block.
//
// Address forms take a ParameterAddress that the call completes in place when it is not yet resolved (it then
// looks the uid and the address up as resolveAddress does); the call uses the record's component and block
// index whether or not that succeeded, so an unresolvable record reaches the null component.
//
// The operations are declared in their fixed virtual-table order. Typed reads and writes forward one to one to
// the component's operation of the same role. Pure reads are const: implementations lock through their mutex
// pointer there.
//
// Result codes: 0; 0x200000 no further change; 0x80000000 invalid callback index or element; 0x80000001 bad
// argument; 0x80000004 refused (reservations, not the owner thread); 0x80010000 malformed data; 0x80040000
// memory shortage; 0x80080000 not supported; 0x80200000 unknown component type.
#pragma once

#include <vector>

#include "klib_Types.h"
#include "klib_Variant.h"
#include "pdb_ComponentInfo.h"
#include "pdb_ParameterAddress.h"
#include "pdb_ParameterInfo.h"

namespace PDB {

class IComponent;
class IParameterArray;

// A list of component uids; its own type so that the uid and index forms of an operation stay distinct
// (ComponentUID and component indices are both u32).
class ComponentUIDList : public std::vector<ComponentUID>
{
public:
    using std::vector<ComponentUID>::vector;
};

// Read-write lock of a database. Each operation returns 0.
class IMutex
{
public:
    virtual ~IMutex() = default;
    virtual i32 lockRead() = 0;
    virtual i32 unlockRead() = 0;
    virtual i32 lockWrite() = 0;
    virtual i32 unlockWrite() = 0;
};

// Observer of a database. Both notifications carry nothing: the observer asks the database what changed
// (getAddedComponents, getRemovedComponents, findNextChange). They run on the thread that made the change, inside
// the database's lock, except onParameterChanged for a writer that holds a ParameterDB DeferredChangeNotices: that
// one runs once after the writer's locks are released, and only while the observer is still registered.
class IParameterDBCallback
{
public:
    // Components were added, or their removal was requested.
    virtual i32 onParameterDBChanged() = 0;
    // A parameter value changed.
    virtual i32 onParameterChanged() = 0;
    virtual ~IParameterDBCallback() = default;
};

// Handed by a database to each of its components: called after a value of the component changed.
class IComponentCallback
{
public:
    virtual i32 onComponentChanged() = 0;
    virtual ~IComponentCallback() = default;
};

class IParameterDB : public IMutex
{
public:
    ~IParameterDB() override = default;

    // 5-9
    virtual i32 clear() = 0;
    virtual i32 removeAllComponents() = 0;
    virtual bool hasOwnerThread() const = 0;
    virtual u32 getDBId() const = 0;
    virtual const char* getName() const = 0;

    // 10-15: observers and change flags.
    virtual i32 registerCallback(u32 key, IParameterDBCallback* callback, ParameterFilter filter) = 0;
    virtual u32 getCallbackIndex(u32 key) const = 0;
    virtual i32 swapChangeFlags(u32 callbackIndex) = 0;
    virtual i32 findNextChange(u32 callbackIndex, u32& componentIndex, u32& blockIndex, u32& x, u32& y,
                               bool stayInComponent) = 0;
    virtual i32 clearChangeFlags(u32 callbackIndex) = 0;
    virtual i32 refreshAllValues(u8 writeFlag) = 0;

    // 16-27: components and reservations.
    virtual ComponentUID generateComponentUID() const = 0;
    virtual i32 addComponent(const ComponentUID& uid, const ComponentInfo& info) = 0;
    virtual i32 addComponent(const ComponentUID& uid, const char* typeName, u32 typeVersion, u32 numX, u32 numY,
                             i16 componentNumber) = 0;
    virtual i32 removeComponent(const ComponentUID& uid) = 0;
    virtual i32 reserveAllComponents() = 0;
    virtual i32 reserveComponent(const ComponentUID& uid) = 0;
    virtual i32 releaseAllOfThisThread() = 0;
    virtual i32 releaseComponent(const ComponentUID& uid) = 0;
    virtual bool hasReservedComponents() const = 0;
    virtual bool isReserved(const ComponentUID& uid) const = 0;
    virtual i32 getAddedComponents(ComponentUIDList& out) const = 0;
    virtual i32 getRemovedComponents(ComponentUIDList& out) const = 0;

    // 28-46: addresses and component getters.
    virtual ParameterAddress resolveAddress(u32 componentIndex, u32 blockIndex) const = 0;
    virtual ParameterAddress resolveAddress(const ComponentUID& uid, const char* address) const = 0;
    virtual u32 getComponentIndex(const ComponentUID& uid) const = 0;
    virtual u32 getBlockIndex(const ComponentUID& uid, const char* address) const = 0;
    virtual u32 getComponentCount() const = 0;
    virtual u32 getComponentSlotCount() const = 0;
    virtual i32 setComponentName(u32 componentIndex, const char* name) = 0;
    virtual i32 setComponentUserValue(u32 componentIndex, u32 value) = 0;
    virtual i32 setComponentDimensions(u32 componentIndex, u32 numX, u32 numY, u8 keepValues, u8 writeFlag) = 0;
    virtual const ComponentInfo* getComponentInfo(u32 componentIndex) const = 0;
    virtual const char* getComponentTypeName(u32 componentIndex) const = 0;
    virtual u32 getComponentVersion(u32 componentIndex) const = 0;
    virtual u16 getComponentNumber(u32 componentIndex) const = 0;
    virtual ComponentUID getComponentUID(u32 componentIndex) const = 0;
    virtual const char* getComponentName(u32 componentIndex) const = 0;
    virtual u32 getComponentUserValue(u32 componentIndex) const = 0;
    virtual u32 getBlockCount(u32 componentIndex) const = 0;
    virtual const ParameterInfo* getParameterInfo(ParameterAddress& address) const = 0;
    virtual const ParameterInfo* getParameterInfo(u32 componentIndex, u32 blockIndex) const = 0;

    // 47-67: typed writes (address form first).
    virtual i32 setValue(ParameterAddress& address, u32 x, u32 y, const KVariant& value, u8 writeFlag) = 0;
    virtual i32 setValue(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const KVariant& value, u8 writeFlag) = 0;
    virtual i32 setArray(ParameterAddress& address, const IParameterArray& source, u8 writeFlag) = 0;
    virtual i32 setArray(u32 componentIndex, u32 blockIndex, const IParameterArray& source, u8 writeFlag) = 0;
    virtual i32 setValueUInt(ParameterAddress& address, u32 x, u32 y, u32 value, u8 writeFlag) = 0;
    virtual i32 setValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u32 value, u8 writeFlag) = 0;
    virtual i32 setValueInt(ParameterAddress& address, u32 x, u32 y, i32 value, u8 writeFlag) = 0;
    virtual i32 setValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, i32 value, u8 writeFlag) = 0;
    virtual i32 setValueFloat(ParameterAddress& address, u32 x, u32 y, f32 value, u8 writeFlag) = 0;
    virtual i32 setValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, f32 value, u8 writeFlag) = 0;
    virtual i32 setValueBool(ParameterAddress& address, u32 x, u32 y, bool value, u8 writeFlag) = 0;
    virtual i32 setValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, bool value, u8 writeFlag) = 0;
    virtual i32 setValueString(ParameterAddress& address, u32 x, u32 y, const char* text, u8 writeFlag) = 0;
    virtual i32 setValueString(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const char* text, u8 writeFlag) = 0;
    virtual i32 setValueBinary(ParameterAddress& address, u32 x, u32 y, const void* data, u32 length, u8 writeFlag) = 0;
    virtual i32 setValueBinary(u32 componentIndex, u32 blockIndex, u32 x, u32 y, const void* data, u32 length,
                               u8 writeFlag) = 0;
    virtual i32 setBlockToDefault(ParameterAddress& address, u8 writeFlag) = 0;
    virtual i32 setToDefault(ParameterAddress& address, u32 x, u32 y, u8 writeFlag) = 0;
    virtual i32 setAllToDefault(u32 componentIndex, u8 writeFlag) = 0;
    virtual i32 setBlockToDefault(u32 componentIndex, u32 blockIndex, u8 writeFlag) = 0;
    virtual i32 setToDefault(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8 writeFlag) = 0;

    // 68-89: typed reads, status and change queries. status may be null.
    virtual i32 getValue(KVariant& value, ParameterAddress& address, u32 x, u32 y, u8* status) const = 0;
    virtual i32 getValue(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const = 0;
    virtual i32 getArray(IParameterArray& destination, ParameterAddress& address) const = 0;
    virtual i32 getArray(IParameterArray& destination, u32 componentIndex, u32 blockIndex) const = 0;
    virtual u32 getValueUInt(ParameterAddress& address, u32 x, u32 y, u8* status) const = 0;
    virtual u32 getValueUInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const = 0;
    virtual i32 getValueInt(ParameterAddress& address, u32 x, u32 y, u8* status) const = 0;
    virtual i32 getValueInt(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const = 0;
    virtual f32 getValueFloat(ParameterAddress& address, u32 x, u32 y, u8* status) const = 0;
    virtual f32 getValueFloat(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const = 0;
    virtual bool getValueBool(ParameterAddress& address, u32 x, u32 y, u8* status) const = 0;
    virtual bool getValueBool(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8* status) const = 0;
    // Forwards to the component's getValue: the value comes back in its own kind (a number stays a number).
    virtual i32 getValueString(KVariant& value, ParameterAddress& address, u32 x, u32 y) const = 0;
    virtual i32 getValueString(KVariant& value, u32 componentIndex, u32 blockIndex, u32 x, u32 y) const = 0;
    virtual i32 setElementStatus(ParameterAddress& address, u32 x, u32 y, u8 status) = 0;
    virtual i32 setElementStatus(u32 componentIndex, u32 blockIndex, u32 x, u32 y, u8 status) = 0;
    virtual bool isChanged(u32 callbackIndex, ParameterAddress& address, u32 x, u32 y) const = 0;
    virtual bool isChanged(u32 callbackIndex, u32 componentIndex, u32 blockIndex, u32 x, u32 y) const = 0;
    virtual u8 getElementStatus(ParameterAddress& address, u32 x, u32 y) const = 0;
    virtual u8 getElementStatus(u32 componentIndex, u32 blockIndex, u32 x, u32 y) const = 0;
    virtual bool isValidIndex(ParameterAddress& address, u32 x, u32 y) const = 0;
    virtual bool isValidIndex(u32 componentIndex, u32 blockIndex, u32 x, u32 y) const = 0;

    // 90-93: copies from another database (this database locked first, then the source).
    virtual i32 copyBlockFrom(ParameterAddress& address, IParameterDB& source, ParameterFilter filter,
                              u8 writeFlag) = 0;
    virtual i32 copyBlockFrom(u32 componentIndex, u32 blockIndex, IParameterDB& source, ParameterFilter filter,
                              u8 writeFlag) = 0;
    virtual i32 copyComponentFrom(u32 componentIndex, IParameterDB& source, ParameterFilter filter, u8 writeFlag) = 0;
    virtual i32 copyAllFrom(IParameterDB& source, ParameterFilter filter, u8 writeFlag) = 0;

    // 94-100: the "#CT1" component table.
    virtual i32 exportComponentTable(void* buffer, u32 size, u32 headerValue,
                                     const std::vector<u32>& componentIndices) const = 0;
    virtual i32 exportComponentTable(void* buffer, u32 size, u32 headerValue, const ComponentUIDList& uids) const = 0;
    virtual i32 exportComponentTable(void* buffer, u32 size, u32 headerValue) const = 0;
    virtual u32 getComponentTableSize(const std::vector<u32>& componentIndices) const = 0;
    virtual u32 getComponentTableSize(const ComponentUIDList& uids) const = 0;
    virtual u32 getComponentTableSize() const = 0;
    virtual i32 importComponentTable(const void* record, u32 size, ParameterFilter options, u8 writeFlag) = 0;

    // 101-106: strategy suppression (a counted pair: suppressed while more suppressions than resumptions are
    // outstanding) and recall bracket.
    virtual i32 suppressStrategy() = 0;
    virtual i32 resumeStrategy() = 0;
    virtual bool isStrategySuppressed() const = 0;
    virtual i32 beginRecall() = 0;
    virtual i32 endRecall() = 0;
    virtual bool isRecalling() const = 0;

    // 107-108: the component at an index; the null component for an index out of range or an empty position.
    virtual const IComponent& getComponent(u32 componentIndex) const = 0;
    virtual IComponent& getComponent(u32 componentIndex) = 0;
};

} // namespace PDB
