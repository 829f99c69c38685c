#include "dadov_ConvertPDBValue.h"

#include <cstring>

namespace DADOV {

i32 ConvertPDBValue::toVariantType(const KVariant& value, VariantType& out)
{
    switch (value.getKind()) {
    case KVariant::KIND_INT32:
        return out.setInt(value.getInt());
    case KVariant::KIND_UINT32:
        return out.setUInt(value.getUInt());
    case KVariant::KIND_FLOAT32:
        return out.setFloat(value.getFloat());
    case KVariant::KIND_STRING: {
        const char* text = value.getString();
        return out.setString(text != nullptr ? text : "");
    }
    case KVariant::KIND_BINARY:
        return out.setBinary(value.getBinary(), value.getBinarySize());
    default:
        out.clear();
        return DADOV_E_FAILED;
    }
}

i32 ConvertPDBValue::toKVariant(const VariantType& value, KVariant& out)
{
    switch (value.getType()) {
    case VariantType::TYPE_UINT:
        out.setUInt(value.getUInt());
        return DADOV_OK;
    case VariantType::TYPE_INT:
        out.setInt(value.getInt());
        return DADOV_OK;
    case VariantType::TYPE_FLOAT:
        out.setFloat(value.getFloat());
        return DADOV_OK;
    case VariantType::TYPE_STRING: {
        const u32 length = value.getStringLength();
        if (length > KVariant::MAX_STRING_LENGTH) {
            return DADOV_E_FAILED; // the variant would keep "ERROR:" instead
        }
        KVariant text;
        if (text.setString(value.getString(), length) != KVariant::RESULT_SET_OK) {
            return DADOV_E_FAILED;
        }
        out = std::move(text);
        return DADOV_OK;
    }
    case VariantType::TYPE_BINARY: {
        const u32 size = value.getBinarySize();
        KVariant bytes;
        if (size == 0 || size > value.getCapacity() ||
            bytes.setBinary(value.getBinary(), size) != KVariant::RESULT_SET_OK) {
            return DADOV_E_FAILED;
        }
        out = std::move(bytes);
        return DADOV_OK;
    }
    default:
        out.clear();
        return DADOV_E_FAILED;
    }
}

i32 ConvertPDBValue::toTextBuffer(const KVariant& value, char* buffer, u32 size)
{
    if (buffer == nullptr) {
        return DADOV_E_FAILED;
    }
    if (size == 0) {
        return DADOV_OK;
    }
    std::memset(buffer, 0, size);
    const char* text = value.getKind() == KVariant::KIND_STRING ? value.getString() : nullptr;
    if (text != nullptr) {
        std::memcpy(buffer, text, strnlen(text, size - 1));
    }
    return DADOV_OK;
}

i32 ConvertPDBValue::toByteBuffer(const KVariant& value, u8* buffer, u32 size)
{
    if (buffer == nullptr) {
        return DADOV_E_FAILED;
    }
    const void* bytes = value.getKind() == KVariant::KIND_BINARY ? value.getBinary() : nullptr;
    if (bytes != nullptr && value.getBinarySize() <= size) {
        std::memcpy(buffer, bytes, value.getBinarySize());
    }
    return DADOV_OK;
}

i32 ConvertPDBValue::toVariantType(const PDB::ParameterInfo* info, const KVariant& (PDB::ParameterInfo::*field)() const,
                                   VariantType* out)
{
    if (out == nullptr) {
        return DADOV_E_FAILED;
    }
    if (info == nullptr) {
        out->clear();
        return DADOV_E_FAILED;
    }
    return toVariantType((info->*field)(), *out);
}

u32 getParameterValueCapacity(const PDB::ParameterInfo& info)
{
    switch (info.getTypeCode()) {
    case PDB::TYPE_STRING:
        return info.getElementSize() + 1;
    case PDB::TYPE_BINARY:
        return info.getElementSize();
    default:
        return 0;
    }
}

} // namespace DADOV
