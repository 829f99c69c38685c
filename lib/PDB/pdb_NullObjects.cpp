// The shared null component and null parameter array.
#include "pdb_ComponentNULL.h"
#include "pdb_ParameterArrayNULL.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

constexpr i32 RESULT_NO_FURTHER_CHANGE = 0x200000;
constexpr u8 STATUS_NONE = 0xFF;

void reportNoStatus(u8* status)
{
    if (status != nullptr) {
        *status = STATUS_NONE;
    }
}

} // namespace

// ---- ParameterArrayNULL ----------------------------------------------------------------------------------------

ParameterArrayNULL& ParameterArrayNULL::getInstance()
{
    static ParameterArrayNULL* const s_instance = new ParameterArrayNULL();
    return *s_instance;
}

IParameterArray& ParameterArrayNULL::operator=(const IParameterArray&)
{
    return *this;
}

const ParameterInfo& ParameterArrayNULL::getParameterInfo() const
{
    static const ParameterInfo* const s_default = new ParameterInfo();
    return *s_default;
}

const IRawArray& ParameterArrayNULL::getRawArray() const
{
    return *getNullRawArray();
}

ParameterStrategy* ParameterArrayNULL::getStrategy() const
{
    return getDefaultStrategy();
}

i32 ParameterArrayNULL::resize(u32, u32, u8, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ParameterArrayNULL::setElementStatus(u32, u32, u8)
{
    return RESULT_NOT_FOUND;
}

i32 ParameterArrayNULL::setToDefault(u32, u32, u8)
{
    return RESULT_NOT_FOUND;
}

i32 ParameterArrayNULL::setValue(u32, u32, const KVariant&, u8)
{
    return RESULT_NOT_FOUND;
}

i32 ParameterArrayNULL::copyFrom(const IParameterArray&, u8)
{
    return RESULT_NOT_FOUND;
}

i32 ParameterArrayNULL::getValue(KVariant& value, u32, u32, u8* status) const
{
    value.clear();
    reportNoStatus(status);
    return 0;
}

i32 ParameterArrayNULL::copyTo(IParameterArray&) const
{
    return RESULT_NOT_FOUND;
}

i32 ParameterArrayNULL::getDefaultValue(KVariant& value, u32, u32) const
{
    value.clear();
    return 0;
}

u8 ParameterArrayNULL::getElementStatus(u32, u32) const
{
    return STATUS_NONE;
}

i32 ParameterArrayNULL::assign(const IParameterArray&, u8, u8)
{
    return RESULT_NOT_FOUND;
}

i32 ParameterArrayNULL::copyFiltered(const IParameterArray&, const IFlagArray&, ParameterFilter, u8)
{
    return RESULT_NOT_FOUND;
}

i32 ParameterArrayNULL::exportBinary(void*, u32, u32& written) const
{
    written = 0;
    return RESULT_NOT_FOUND;
}

i32 ParameterArrayNULL::importBinary(const ParameterInfo&, const void*, u32, const IFlagArray&, ParameterFilter, u8)
{
    return RESULT_NOT_FOUND;
}

bool ParameterArrayNULL::isValidIndex(u32, u32) const
{
    return false;
}

u32 ParameterArrayNULL::toLinearIndex(u32, u32) const
{
    return 0;
}

i32 ParameterArrayNULL::fromLinearIndex(u32& x, u32& y, u32) const
{
    x = 0;
    y = 0;
    return RESULT_NOT_FOUND;
}

// ---- ComponentNULL ---------------------------------------------------------------------------------------------

ComponentNULL& ComponentNULL::getInstance()
{
    static ComponentNULL* const s_instance = new ComponentNULL();
    return *s_instance;
}

const ComponentInfo& ComponentNULL::getComponentInfo() const
{
    return getEmptyComponentInfo();
}

u32 ComponentNULL::getBlockIndex(const char*) const
{
    return ComponentInfo::NOT_FOUND;
}

const ParameterInfo& ComponentNULL::getParameterInfo(u32) const
{
    static const ParameterInfo* const s_default = new ParameterInfo();
    return *s_default;
}

const IParameterArray& ComponentNULL::getParameterArray(u32) const
{
    return ParameterArrayNULL::getInstance();
}

i32 ComponentNULL::setName(const char*)
{
    return 0;
}

i32 ComponentNULL::setUserValue(u32)
{
    return 0;
}

i32 ComponentNULL::setDimensions(u32, u32, u8, u8)
{
    return 0;
}

i32 ComponentNULL::setSubscriberCount(u32)
{
    return 0;
}

i32 ComponentNULL::setValue(u32, u32, u32, const KVariant&, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setArray(u32, const IParameterArray&, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setValueUInt(u32, u32, u32, u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setValueInt(u32, u32, u32, i32, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setValueFloat(u32, u32, u32, f32, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setValueBool(u32, u32, u32, bool, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setValueString(u32, u32, u32, const char*, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setValueBinary(u32, u32, u32, const void*, u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setAllToDefault(u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setBlockToDefault(u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setToDefault(u32, u32, u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setSkipMark(u32, u32, u32, bool)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setAllSkipMarks(bool)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::setElementStatus(u32, u32, u32, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::getValue(KVariant& value, u32, u32, u32, u8* status) const
{
    value.clear();
    reportNoStatus(status);
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::getArray(IParameterArray&, u32) const
{
    return RESULT_NOT_SUPPORTED;
}

u32 ComponentNULL::getValueUInt(u32, u32, u32, u8* status) const
{
    reportNoStatus(status);
    return 0;
}

i32 ComponentNULL::getValueInt(u32, u32, u32, u8* status) const
{
    reportNoStatus(status);
    return 0;
}

f32 ComponentNULL::getValueFloat(u32, u32, u32, u8* status) const
{
    reportNoStatus(status);
    return 0.0f;
}

bool ComponentNULL::getValueBool(u32, u32, u32, u8* status) const
{
    reportNoStatus(status);
    return false;
}

i32 ComponentNULL::getDefaultValue(KVariant& value, u32, u32, u32) const
{
    value.clear();
    return RESULT_NOT_SUPPORTED;
}

bool ComponentNULL::isSkipMarked(u32, u32, u32) const
{
    return false;
}

bool ComponentNULL::isChangedFor(u32, u32, u32, u32) const
{
    return false;
}

i32 ComponentNULL::clearChangesFor(u32)
{
    return RESULT_NOT_SUPPORTED;
}

u8 ComponentNULL::getElementStatus(u32, u32, u32) const
{
    return STATUS_NONE;
}

bool ComponentNULL::isValidIndex(u32, u32, u32) const
{
    return false;
}

i32 ComponentNULL::revalidateAll(u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::assignBlock(u32, const IComponent&, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::copyBlockFiltered(u32, const IComponent&, ParameterFilter, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::copyValueFrom(u32, u32, u32, const IComponent&)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::exportBinary(void*, u32) const
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::importBinary(IParameterDB*, u32, const void*, u32, ParameterFilter, u8, u8)
{
    return RESULT_NOT_SUPPORTED;
}

i32 ComponentNULL::swapChangeBank(u32)
{
    return 0;
}

i32 ComponentNULL::findNextChange(u32, u32&, u32&, u32&)
{
    return RESULT_NO_FURTHER_CHANGE;
}

} // namespace PDB
