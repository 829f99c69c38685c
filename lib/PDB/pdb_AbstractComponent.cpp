#include "pdb_AbstractComponent.h"

#include <cstring>
#include <memory>
#include <new>

#include "klib_Print.h"
#include "pdb_ComponentTable.h"
#include "pdb_ParameterArray.h"

namespace PDB {

using namespace Record;

namespace {

// Walks over every block (size and export) chase several pointers per block: the component's entry, the array,
// its raw storage and the values. One block after the other, each chase waits for the one before. The blocks
// are therefore taken in groups: a group's arrays are looked up together and their storage (and, for an
// export, their values) is requested before any of it is read, so that the loads of a group overlap.
constexpr u32 BLOCK_GROUP = 16;

struct BlockGroup
{
    const IParameterArray* arrays[BLOCK_GROUP];
    u32 count = 0;
};

void lookUpGroup(const AbstractComponent& component, u32 first, u32 blocks, bool values, BlockGroup& group)
{
    group.count = blocks - first < BLOCK_GROUP ? blocks - first : BLOCK_GROUP;
    for (u32 i = 0; i < group.count; ++i) {
        group.arrays[i] = &component.getParameterArray(first + i);
    }
    for (u32 i = 0; i < group.count; ++i) {
        __builtin_prefetch(&group.arrays[i]->getRawArray());
    }
    if (values) {
        for (u32 i = 0; i < group.count; ++i) {
            __builtin_prefetch(group.arrays[i]->getRawArray().getElementPointer(0));
        }
    }
}

} // namespace

const ParameterInfo& AbstractComponent::getParameterInfo(u32 block) const
{
    return getParameterArray(block).getParameterInfo();
}

i32 AbstractComponent::setValue(u32 block, u32 x, u32 y, const KVariant& value, u8 status)
{
    const i32 result = getParameterArray(block).setValue(x, y, value, status);
    notifyChange();
    return result;
}

i32 AbstractComponent::setArray(u32 block, const IParameterArray& source, u8 status)
{
    const i32 result = getParameterArray(block).copyFrom(source, status);
    notifyChange();
    return result;
}

i32 AbstractComponent::setValueUInt(u32 block, u32 x, u32 y, u32 value, u8 status)
{
    return setValue(block, x, y, KVariant(value), status);
}

i32 AbstractComponent::setValueInt(u32 block, u32 x, u32 y, i32 value, u8 status)
{
    return setValue(block, x, y, KVariant(static_cast<int>(value)), status);
}

i32 AbstractComponent::setValueFloat(u32 block, u32 x, u32 y, f32 value, u8 status)
{
    return setValue(block, x, y, KVariant(value), status);
}

i32 AbstractComponent::setValueBool(u32 block, u32 x, u32 y, bool value, u8 status)
{
    return setValue(block, x, y, KVariant(value ? 1u : 0u), status);
}

i32 AbstractComponent::setValueString(u32 block, u32 x, u32 y, const char* text, u8 status)
{
    KVariant value;
    value.setString(text, text != nullptr ? static_cast<u32>(strnlen(text, 0xFFFFFFF0u)) : 0);
    return setValue(block, x, y, value, status);
}

i32 AbstractComponent::setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size, u8 status)
{
    KVariant value;
    value.setBinary(data, size);
    return setValue(block, x, y, value, status);
}

i32 AbstractComponent::blockToDefault(u32 block, u8 status)
{
    IParameterArray& array = getParameterArray(block);
    const ParameterInfo& info = array.getParameterInfo();
    i32 result = 0;
    for (u32 y = 0; y < info.getCountY(); ++y) {
        for (u32 x = 0; x < info.getCountX(); ++x) {
            result |= array.setToDefault(x, y, status);
        }
    }
    return result;
}

i32 AbstractComponent::setAllToDefault(u8 status)
{
    i32 result = 0;
    for (u32 block = 0; block < getBlockCount(); ++block) {
        result |= blockToDefault(block, status);
    }
    notifyChange();
    return result < 0 ? RESULT_BULK_FAILED : 0;
}

i32 AbstractComponent::setBlockToDefault(u32 block, u8 status)
{
    const i32 result = blockToDefault(block, status);
    notifyChange();
    return result < 0 ? RESULT_BULK_FAILED : 0;
}

i32 AbstractComponent::setToDefault(u32 block, u32 x, u32 y, u8 status)
{
    const i32 result = getParameterArray(block).setToDefault(x, y, status);
    notifyChange();
    return result;
}

i32 AbstractComponent::setElementStatus(u32 block, u32 x, u32 y, u8 status)
{
    const i32 result = getParameterArray(block).setElementStatus(x, y, status);
    notifyChange();
    return result;
}

i32 AbstractComponent::getValue(KVariant& value, u32 block, u32 x, u32 y, u8* status) const
{
    return getParameterArray(block).getValue(value, x, y, status);
}

i32 AbstractComponent::getArray(IParameterArray& destination, u32 block) const
{
    return destination.assign(getParameterArray(block), 0xFF, 0);
}

u32 AbstractComponent::getValueUInt(u32 block, u32 x, u32 y, u8* status) const
{
    KVariant value;
    if (getValue(value, block, x, y, status) < 0) {
        return 0;
    }
    bool ok = false;
    const u32 result = value.getUInt(&ok);
    return ok ? result : 0;
}

i32 AbstractComponent::getValueInt(u32 block, u32 x, u32 y, u8* status) const
{
    KVariant value;
    if (getValue(value, block, x, y, status) < 0) {
        return 0;
    }
    bool ok = false;
    const i32 result = value.getInt(&ok);
    return ok ? result : 0;
}

f32 AbstractComponent::getValueFloat(u32 block, u32 x, u32 y, u8* status) const
{
    KVariant value;
    if (getValue(value, block, x, y, status) < 0) {
        return 0.0f;
    }
    bool ok = false;
    const f32 result = value.getFloat(&ok);
    return ok ? result : 0.0f;
}

bool AbstractComponent::getValueBool(u32 block, u32 x, u32 y, u8* status) const
{
    return getValueInt(block, x, y, status) != 0;
}

i32 AbstractComponent::getDefaultValue(KVariant& value, u32 block, u32 x, u32 y) const
{
    return getParameterArray(block).getDefaultValue(value, x, y);
}

u8 AbstractComponent::getElementStatus(u32 block, u32 x, u32 y) const
{
    return getParameterArray(block).getElementStatus(x, y);
}

bool AbstractComponent::isValidIndex(u32 block, u32 x, u32 y) const
{
    return getParameterArray(block).isValidIndex(x, y);
}

i32 AbstractComponent::revalidateAll(u8 status)
{
    i32 result = 0;
    for (u32 block = 0; block < getBlockCount(); ++block) {
        IParameterArray& array = getParameterArray(block);
        LocalParameterArray temporary;
        i32 blockResult = temporary.initialize(array.getParameterInfo());
        if (blockResult >= 0) {
            blockResult = array.copyTo(temporary);
        }
        if (blockResult >= 0) {
            blockResult = array.copyFrom(temporary, status);
        }
        result |= blockResult;
    }
    notifyChange();
    return result < 0 ? RESULT_BULK_FAILED : 0;
}

i32 AbstractComponent::assignBlock(u32 block, const IComponent& source, u8 status)
{
    const i32 result = getParameterArray(block).assign(source.getParameterArray(block), status, 0);
    notifyChange();
    return result;
}

i32 AbstractComponent::copyBlockFiltered(u32 block, const IComponent& source, ParameterFilter filter, u8 status)
{
    const i32 result =
        getParameterArray(block).copyFiltered(source.getParameterArray(block), getSkipMask(block), filter, status);
    notifyChange();
    return result;
}

i32 AbstractComponent::copyValueFrom(u32 block, u32 x, u32 y, const IComponent& source)
{
    KVariant value;
    u8 status = 0xFF;
    const i32 readResult = source.getValue(value, block, x, y, &status);
    const i32 writeResult = setValue(block, x, y, value, status);
    return readResult | writeResult;
}

u32 AbstractComponent::getExportSize() const
{
    u64 total = CI1_SIZE;
    const u32 blocks = getBlockCount();
    BlockGroup group;
    for (u32 first = 0; first < blocks; first += group.count) {
        lookUpGroup(*this, first, blocks, false, group);
        for (u32 i = 0; i < group.count; ++i) {
            total += PR1_HEADER_SIZE + group.arrays[i]->getExportSize();
        }
    }
    return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(total);
}

i32 AbstractComponent::exportBinary(void* buffer, u32 size) const
{
    u32 written = 0;
    return exportCounted(buffer, size, written);
}

i32 AbstractComponent::exportCounted(void* buffer, u32 size, u32& written) const
{
    written = 0;
    const i32 result = m_info.exportBinary(buffer, size);
    if (result < 0) {
        return result;
    }
    u8* out = static_cast<u8*>(buffer);
    u32 position = CI1_SIZE;
    const u32 blocks = getBlockCount();
    BlockGroup group;
    for (u32 block = 0; block < blocks; ++block) {
        if (size - position < PR1_HEADER_SIZE) {
            return RESULT_BAD_ARGUMENT;
        }
        const u32 member = block % BLOCK_GROUP;
        if (member == 0) {
            lookUpGroup(*this, block, blocks, true, group);
        }
        prefetchBlock(block + 2);
        const IParameterArray& array = *group.arrays[member];
        const ParameterInfo& info = array.getParameterInfo();
        u8* header = out + position;
        std::memcpy(header, "#PR1", 4);
        writeU16(header + 4, block);
        header[6] = info.getTypeCode();
        header[7] = 0;
        writeU32(header + 8, info.getElementSize());
        writeU16(header + 12, info.getCountX());
        writeU16(header + 14, info.getCountY());
        position += PR1_HEADER_SIZE;
        u32 arrayWritten = 0;
        const i32 arrayResult = array.exportBinary(out + position, size - position, arrayWritten);
        if (arrayResult < 0) {
            return arrayResult;
        }
        position += arrayWritten;
    }
    written = position;
    return 0;
}

i32 AbstractComponent::importBinary(IParameterDB* owner, u32 index, const void* buffer, u32 size,
                                    ParameterFilter filter, u8 status, u8 copyByte)
{
    return importExport(owner, index, buffer, size, filter, status, copyByte, false);
}

i32 AbstractComponent::importFramedExport(IParameterDB* owner, u32 index, const void* buffer, u32 size,
                                          ParameterFilter filter, u8 status, u8 copyByte)
{
    return importExport(owner, index, buffer, size, filter, status, copyByte, true);
}

i32 AbstractComponent::importExport(IParameterDB* owner, u32 index, const void* buffer, u32 size,
                                    ParameterFilter filter, u8 status, u8 copyByte, bool framed)
{
    if (buffer == nullptr || size < CI1_SIZE) {
        return RESULT_BAD_ARGUMENT;
    }
    const u8* data = static_cast<const u8*>(buffer);
    const bool recreating = (filter.getBits() & 1) != 0;

    // Read the description: a full copy only when the component is rebuilt from it.
    ComponentRecord record;
    i32 result = 0;
    if (framed && !recreating) {
        record.blockCount = readU16(data + 88); // type and records were checked by the caller
    } else {
        result = peekComponentRecord(buffer, size, true, record);
        if (result < 0) {
            return result;
        }
    }
    std::unique_ptr<ComponentInfo> recorded;
    if (recreating) {
        recorded.reset(new (std::nothrow) ComponentInfo());
        if (!recorded) {
            return RESULT_NO_MEMORY;
        }
        u32 announced = 0;
        result = recorded->importBinary(buffer, size, announced);
        if (result < 0) {
            return result;
        }
    }

    // Another type without recreation is refused before its records are looked at.
    if (!recreating && !framed && record.name != m_info.getName()) {
        KLIB_LOG("[E] AbstractComponent::importBinary - Unknown component. [name=%s, ver=%d]\n", record.name.c_str(),
                 static_cast<int>(record.version));
        return RESULT_TYPE_MISMATCH;
    }

    // Frame every announced record before anything changes.
    if (!framed) {
        u64 used = 0;
        result = frameParameterRecords(data + CI1_SIZE, size - CI1_SIZE, record.blockCount, true, used);
        if (result < 0) {
            return result;
        }
    }

    if (recreating) {
        result = recreate(owner, index, *recorded, copyByte);
        if (result < 0) {
            return result;
        }
    }

    u64 position = CI1_SIZE;
    for (u32 i = 0; i < record.blockCount; ++i) {
        ParameterRecord parameter;
        if (readParameterRecord(data + position, size - position, i, false, parameter) < 0) {
            break; // only when a caller claimed a framing that does not hold
        }
        position += PR1_HEADER_SIZE + parameter.valueSize;
        if (i + 2 < record.blockCount) {
            prefetchBlock(parameter.blockIndex + 2); // records usually come in block order
        }

        IParameterArray& array = getParameterArray(parameter.blockIndex);
        if (!array.isAllocated()) {
            KLIB_LOG("[W] ComponentInfo::importBinary - Unknown address found. [paramBlockIndex=%d, "
                     "destAddressIndex=%d]\n",
                     static_cast<int>(i), static_cast<int>(parameter.blockIndex));
            continue;
        }
        const ParameterInfo& own = array.getParameterInfo();
        i32 arrayResult = 0;
        if (own.getTypeCode() == parameter.typeCode && own.getElementSize() == parameter.elementSize &&
            own.getCountX() == parameter.countX && own.getCountY() == parameter.countY) {
            arrayResult = array.importBinary(own, parameter.values, parameter.valueSize,
                                             getSkipMask(parameter.blockIndex), filter, status);
        } else {
            ParameterInfo recordInfo(own);
            recordInfo.setTypeCode(parameter.typeCode);
            recordInfo.setElementSize(parameter.elementSize);
            recordInfo.setCounts(parameter.countX, parameter.countY);
            arrayResult = array.importBinary(recordInfo, parameter.values, parameter.valueSize,
                                             getSkipMask(parameter.blockIndex), filter, status);
        }
        if (arrayResult < 0) {
            KLIB_LOG("[E] ComponentInfo::importBinary - Parameter importing failed. [paramBlockIndex=%d, "
                     "destAddressIndex=%d]\n",
                     static_cast<int>(i), static_cast<int>(parameter.blockIndex));
        }
    }
    notifyChange();
    return 0;
}

} // namespace PDB
