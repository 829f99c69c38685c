#include "dadov_PDBParameterStrategy.h"

#include "dadov_ConvertPDBValue.h"
#include "pdb_ParameterInfo.h"

namespace DADOV {

// ---------------------------------------------------------------------------------------------------------------
// PDBAccessor
// ---------------------------------------------------------------------------------------------------------------

u32 PDBAccessor::getValueUInt(u32 block, u32 x, u32 y)
{
    return m_database != nullptr ? m_database->getValueUInt(m_componentIndex, block, x, y, nullptr) : 0u;
}

i32 PDBAccessor::getValueInt(u32 block, u32 x, u32 y)
{
    return m_database != nullptr ? m_database->getValueInt(m_componentIndex, block, x, y, nullptr) : 0;
}

f32 PDBAccessor::getValueFloat(u32 block, u32 x, u32 y)
{
    return m_database != nullptr ? m_database->getValueFloat(m_componentIndex, block, x, y, nullptr) : 0.0f;
}

bool PDBAccessor::getValueBool(u32 block, u32 x, u32 y)
{
    return m_database != nullptr && m_database->getValueBool(m_componentIndex, block, x, y, nullptr);
}

i32 PDBAccessor::getValueString(u32 block, u32 x, u32 y, char* buffer, u32 size)
{
    KVariant value;
    if (m_database != nullptr && buffer != nullptr && size != 0) {
        m_database->getValueString(value, m_componentIndex, block, x, y);
    }
    return ConvertPDBValue::toTextBuffer(value, buffer, size);
}

i32 PDBAccessor::getValueBinary(u32 block, u32 x, u32 y, u8* buffer, u32 size)
{
    KVariant value;
    if (m_database != nullptr && buffer != nullptr) {
        m_database->getValue(value, m_componentIndex, block, x, y, nullptr);
    }
    return ConvertPDBValue::toByteBuffer(value, buffer, size);
}

i32 PDBAccessor::setValueUInt(u32 block, u32 x, u32 y, u32 value)
{
    return m_database != nullptr ? written(m_database->setValueUInt(m_componentIndex, block, x, y, value, ORIGIN))
                                 : DADOV_E_FAILED;
}

i32 PDBAccessor::setValueInt(u32 block, u32 x, u32 y, i32 value)
{
    return m_database != nullptr ? written(m_database->setValueInt(m_componentIndex, block, x, y, value, ORIGIN))
                                 : DADOV_E_FAILED;
}

i32 PDBAccessor::setValueFloat(u32 block, u32 x, u32 y, f32 value)
{
    return m_database != nullptr ? written(m_database->setValueFloat(m_componentIndex, block, x, y, value, ORIGIN))
                                 : DADOV_E_FAILED;
}

i32 PDBAccessor::setValueBool(u32 block, u32 x, u32 y, bool value)
{
    return m_database != nullptr ? written(m_database->setValueBool(m_componentIndex, block, x, y, value, ORIGIN))
                                 : DADOV_E_FAILED;
}

i32 PDBAccessor::setValueString(u32 block, u32 x, u32 y, const char* text)
{
    return m_database != nullptr ? written(m_database->setValueString(m_componentIndex, block, x, y, text, ORIGIN))
                                 : DADOV_E_FAILED;
}

i32 PDBAccessor::setValueBinary(u32 block, u32 x, u32 y, const void* data, u32 size)
{
    return m_database != nullptr
               ? written(m_database->setValueBinary(m_componentIndex, block, x, y, data, size, ORIGIN))
               : DADOV_E_FAILED;
}

const PDB::ParameterInfo* PDBAccessor::blockInfo(u32 block) const
{
    return m_database != nullptr ? m_database->getParameterInfo(m_componentIndex, block) : nullptr;
}

u32 PDBAccessor::getParameterInfoField1(u32 block)
{
    const PDB::ParameterInfo* info = blockInfo(block);
    return info != nullptr ? info->getCountX() : 0u;
}

u32 PDBAccessor::getParameterInfoField2(u32 block)
{
    const PDB::ParameterInfo* info = blockInfo(block);
    return info != nullptr ? info->getCountY() : 0u;
}

i32 PDBAccessor::getParameterInfoValue1(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(blockInfo(block), &PDB::ParameterInfo::getMin, out);
}

i32 PDBAccessor::getParameterInfoValue2(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(blockInfo(block), &PDB::ParameterInfo::getMax, out);
}

i32 PDBAccessor::getParameterInfoValue3(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(blockInfo(block), &PDB::ParameterInfo::getDefault, out);
}

i32 PDBAccessor::getParameterInfoValue4(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(blockInfo(block), &PDB::ParameterInfo::getNominal, out);
}

i32 PDBAccessor::getParameterInfoValue5(u32 block, VariantType* out)
{
    return ConvertPDBValue::toVariantType(blockInfo(block), &PDB::ParameterInfo::getStep, out);
}

// ---------------------------------------------------------------------------------------------------------------
// PDBParameterStrategy
// ---------------------------------------------------------------------------------------------------------------

DADOV_CALLS_PLUGINS i32 PDBParameterStrategy::setup(IParamInfo* paramInfo)
{
    // Hooks are switched off before the interface changes and on after it is in place.
    m_rangeHook.store(false, std::memory_order_release);
    m_valueHook.store(false, std::memory_order_release);
    m_changeHook.store(false, std::memory_order_release);
    m_paramInfo.store(paramInfo, std::memory_order_release);
    if (paramInfo == nullptr) {
        return DADOV_E_FAILED;
    }
    const bool rangeAndValue = paramInfo->isRangeHookEnabled();
    const bool change = paramInfo->isChangeHookEnabled();
    m_rangeHook.store(rangeAndValue, std::memory_order_release);
    m_valueHook.store(rangeAndValue, std::memory_order_release);
    m_changeHook.store(change, std::memory_order_release);
    return DADOV_OK;
}

IParamInfo* PDBParameterStrategy::hookTarget(const std::atomic<bool>& flag) const
{
    return flag.load(std::memory_order_acquire) ? m_paramInfo.load(std::memory_order_acquire) : nullptr;
}

namespace {

// A converted limit that differs from the block's own (in kind or value).
bool changedLimit(bool converted, const KVariant& limit, const KVariant& own)
{
    return converted && (limit.getKind() != own.getKind() || limit != own);
}

} // namespace

DADOV_CALLS_PLUGINS const PDB::ParameterInfo&
PDBParameterStrategy::getEffectiveInfo(PDB::IParameterDB* owner, u32 componentIndex, u32 blockIndex, u32 x, u32 y,
                                       const PDB::ParameterInfo& info, PDB::ParameterInfo& scratch)
{
    IParamInfo* paramInfo = hookTarget(m_rangeHook);
    if (paramInfo == nullptr) {
        return info;
    }
    // Without buffers: text and binary limits cannot go out and do not come back.
    VariantType first;
    VariantType second;
    ConvertPDBValue::toVariantType(info.getMin(), first);
    ConvertPDBValue::toVariantType(info.getMax(), second);
    const VariantType firstOut(first);
    const VariantType secondOut(second);
    PDBAccessor accessor(owner, componentIndex);
    paramInfo->onRangeHook(&accessor, blockIndex, x, y, &first, &second);
    if (first.isSameValue(firstOut) && second.isSameValue(secondOut)) {
        return info; // untouched: no conversion, no copy of the description
    }
    KVariant min;
    KVariant max;
    const bool minChanged = changedLimit(ConvertPDBValue::toKVariant(first, min) == DADOV_OK, min, info.getMin());
    const bool maxChanged = changedLimit(ConvertPDBValue::toKVariant(second, max) == DADOV_OK, max, info.getMax());
    if (!minChanged && !maxChanged) {
        return info; // the same limits: no copy of the description
    }
    scratch = info;
    if (minChanged) {
        scratch.setMin(min);
    }
    if (maxChanged) {
        scratch.setMax(max);
    }
    return scratch;
}

DADOV_CALLS_PLUGINS i32 PDBParameterStrategy::adjustDefault(PDB::IParameterDB* owner, u32 componentIndex,
                                                            u32 blockIndex, u32 x, u32 y,
                                                            const PDB::ParameterInfo& info, KVariant& value)
{
    IParamInfo* paramInfo = hookTarget(m_valueHook);
    if (paramInfo == nullptr) {
        return 0;
    }
    VariantType adjusted(getParameterValueCapacity(info));
    ConvertPDBValue::toVariantType(value, adjusted);
    PDBAccessor accessor(owner, componentIndex);
    paramInfo->onValueHook(&accessor, blockIndex, x, y, &adjusted);
    KVariant converted;
    if (ConvertPDBValue::toKVariant(adjusted, converted) == DADOV_OK) {
        value = std::move(converted);
    }
    return 0;
}

DADOV_CALLS_PLUGINS i32 PDBParameterStrategy::onWritten(PDB::IParameterDB* owner, u32 componentIndex, u32 blockIndex,
                                                        u32 x, u32 y, const PDB::ParameterInfo& info,
                                                        const KVariant& newValue, const KVariant& oldValue, u8)
{
    IParamInfo* paramInfo = hookTarget(m_changeHook);
    if (paramInfo == nullptr) {
        return 0;
    }
    const u32 capacity = getParameterValueCapacity(info);
    VariantType first(capacity);
    VariantType second(capacity);
    ConvertPDBValue::toVariantType(newValue, first);
    ConvertPDBValue::toVariantType(oldValue, second);
    PDBAccessor accessor(owner, componentIndex);
    paramInfo->onChangeHook(&accessor, blockIndex, x, y, &first, &second);
    return 0;
}

} // namespace DADOV
