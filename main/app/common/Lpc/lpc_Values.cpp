#include "lpc_Values.h"

#include <cstdio>
#include <string>

#include "fsw_api.h"
#include "lpc_Log.h"
#include "lpc_PDBLink.h"
#include "lpc_Parameter.h"
#include "pdb_IComponent.h"
#include "pdb_IParameterArray.h"
#include "pdb_ParamRawArray.h"
#include "pdb_ParameterDBCollection.h"
#include "pyrite_Result.h"

namespace LPC {

namespace {

// Larger than one write of the file API takes.
constexpr size_t MAX_DUMP_SIZE = 0x7FFFFFFF;

void appendValue(std::string& out, const KVariant& value)
{
    char number[48];
    switch (value.getKind()) {
    case KVariant::KIND_INT32:
        std::snprintf(number, sizeof(number), "%d", value.getInt());
        out += number;
        break;
    case KVariant::KIND_UINT32:
        std::snprintf(number, sizeof(number), "%u", value.getUInt());
        out += number;
        break;
    case KVariant::KIND_FLOAT32:
        std::snprintf(number, sizeof(number), "%f", static_cast<double>(value.getFloat()));
        out += number;
        break;
    case KVariant::KIND_STRING: {
        const char* text = value.getString();
        out += text != nullptr ? text : "";
        break;
    }
    case KVariant::KIND_BINARY: {
        const u8* bytes = static_cast<const u8*>(value.getBinary());
        for (u32 i = 0; bytes != nullptr && i < value.getBinarySize(); ++i) {
            std::snprintf(number, sizeof(number), "%02X ", static_cast<u32>(bytes[i]));
            out += number;
        }
        break;
    }
    default:
        break;
    }
}

void appendDatabase(std::string& out, PDB::IParameterDB& database)
{
    database.lockRead();
    const std::string name = database.getName() != nullptr ? database.getName() : "";
    const u32 slots = database.getComponentSlotCount();
    for (u32 index = 0; index < slots; ++index) {
        const PDB::IComponent& component = database.getComponent(index);
        if (!component.isValid()) {
            continue;
        }
        const std::string prefix = name + "/#" + std::to_string(database.getComponentUID(index));
        for (u32 block = 0; block < component.getBlockCount(); ++block) {
            const PDB::IParameterArray& array = component.getParameterArray(block);
            const std::string& address = array.getParameterInfo().getAddress();
            const u32 count = array.getRawArray().getCount();
            for (u32 element = 0; element < count; ++element) {
                u32 x = 0;
                u32 y = 0;
                KVariant value;
                if (array.fromLinearIndex(x, y, element) < 0 || array.getValue(value, x, y, nullptr) < 0) {
                    continue;
                }
                out += prefix + address + ":" + std::to_string(x) + ":" + std::to_string(y) + "=";
                appendValue(out, value);
                out += "\n";
            }
        }
    }
    database.unlockRead();
}

bool isNumberType(u8 type)
{
    return type != PDB::TYPE_STRING && type != PDB::TYPE_BINARY;
}

u32 setAllValues(bool maximum, u32 factor)
{
    PDB::IParameterDB& database = getComponentDB();
    PDBLink* link = getPDBLink();
    u32 result = PYRITE::PYRITE_OK;
    database.lockWrite();
    const u32 slots = database.getComponentSlotCount();
    for (u32 index = 0; index < slots; ++index) {
        const PDB::IComponent& component = database.getComponent(index);
        if (!component.isValid()) {
            continue;
        }
        for (u32 block = 0; block < component.getBlockCount(); ++block) {
            const PDB::IParameterArray& array = component.getParameterArray(block);
            const PDB::ParameterInfo& info = array.getParameterInfo();
            const KVariant& value = maximum ? info.getMax() : info.getMin();
            if (!isNumberType(info.getTypeCode()) || !value.isValid()) {
                continue;
            }
            PDB::ParameterAddress address = database.resolveAddress(index, block);
            const u32 count = array.getRawArray().getCount();
            for (u32 element = 0; element < count; ++element) {
                u32 x = 0;
                u32 y = 0;
                if (array.fromLinearIndex(x, y, element) < 0) {
                    continue;
                }
                const i32 written = database.setValue(address, x, y, value, static_cast<u8>(factor));
                if (written < 0) {
                    result |= static_cast<u32>(written);
                } else if (link != nullptr) {
                    result |= link->onParameterWritten(address, x, y);
                }
            }
        }
    }
    database.unlockWrite();
    return result;
}

} // namespace

u32 showAllValues(const char* path)
{
    if (path == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    std::string text;
    for (u32 id = 0; id < PDB::ParameterDBCollection::CAPACITY; ++id) {
        appendDatabase(text, PDB::ParameterDBCollection::getInstance(id));
    }
    FswReplace* replace = nullptr;
    if (fsw_replaceBegin(&replace, path) != FSW_OK) {
        logNq("[NQ] LPC::showAllValues - cannot write [%s]\n", path);
        return PYRITE::PYRITE_E_FAILED;
    }
    u32 put = 0;
    const u32 size = static_cast<u32>(text.size());
    if (text.size() > MAX_DUMP_SIZE ||
        (size > 0 && (fsw_write(text.data(), &put, size, fsw_replaceHandle(replace)) != FSW_OK || put != size))) {
        fsw_replaceAbort(replace);
        logNq("[NQ] LPC::showAllValues - cannot write [%s]\n", path);
        return PYRITE::PYRITE_E_FAILED;
    }
    if (fsw_replaceCommit(replace) != FSW_OK) {
        logNq("[NQ] LPC::showAllValues - cannot write [%s]\n", path);
        return PYRITE::PYRITE_E_FAILED;
    }
    return PYRITE::PYRITE_OK;
}

u32 setMinValues(u32 factor)
{
    return setAllValues(false, factor);
}

u32 setMaxValues(u32 factor)
{
    return setAllValues(true, factor);
}

u32 LpcSpeakerData::importFromFile(const char* path)
{
    (void)path;
    return notSupported("LpcSpeakerData::importFromFile");
}

u32 LpcSpeakerData::exportToFile(const char* path)
{
    (void)path;
    return notSupported("LpcSpeakerData::exportToFile");
}

} // namespace LPC
