#include "vdp_ExpressionAdapter.h"

#include <cstdarg>
#include <cstring>

#include "expression_Instances.h"
#include "klib_Print.h"
#include "pdb_ParameterInfo.h"
#include "vdp_Result.h"

namespace VDProtocol {

namespace {

bool codeFailed(u32 result)
{
    return (result & 0x80000000u) != 0;
}

Expression::ValueInfo makeValueInfo(const PDB::ParameterInfo& info)
{
    Expression::ValueInfo valueInfo;
    valueInfo.min = info.getMin();
    valueInfo.max = info.getMax();
    valueInfo.nominal = info.getNominal();
    valueInfo.def = info.getDefault();
    valueInfo.step = info.getStep();
    valueInfo.scaling = info.getScaling();
    const std::string& unit = info.getUnit();
    const size_t length = unit.size() < Expression::UNIT_MAX_LENGTH ? unit.size() : Expression::UNIT_MAX_LENGTH;
    std::memcpy(valueInfo.unit, unit.data(), length);
    valueInfo.unit[length] = '\0';
    valueInfo.unitLength = static_cast<u32>(length);
    return valueInfo;
}

KVariant formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

KVariant formatted(const char* format, ...)
{
    char text[ExpressionAdapter::TEXT_SIZE];
    va_list args;
    va_start(args, format);
    const u32 result = klib_vsnprintf(text, sizeof(text), nullptr, format, args);
    va_end(args);
    return codeFailed(result) ? KVariant() : KVariant(text, ExpressionAdapter::TEXT_SIZE);
}

} // namespace

ExpressionAdapter::ExpressionAdapter()
{
    m_collection.addExpression(m_collection.registerName(""), Expression::getDefaultExpression());
    m_collection.addExpression(m_collection.registerName(Expression::ONOFF_NAME), Expression::getOnOffExpression());
    m_collection.addExpression(m_collection.registerName(Expression::LEVEL_NAME), Expression::getLevelExpression());
    m_collection.addExpression(m_collection.registerName(Expression::STRING_NAME), Expression::getStringExpression());
}

const Expression::IExpression* ExpressionAdapter::findExpression(const PDB::ParameterInfo& info) const
{
    const std::string& kind = info.getKind();
    if (kind.empty()) {
        return nullptr;
    }
    return m_collection.getExpression(m_collection.findNameId(kind.c_str()));
}

KVariant ExpressionAdapter::valueToText(const PDB::ParameterInfo& info, const KVariant& value) const
{
    if (const Expression::IExpression* expression = findExpression(info)) {
        char text[TEXT_SIZE] = {};
        u32 length = 0;
        if (codeFailed(expression->valueToText(text, &length, TEXT_SIZE, value, makeValueInfo(info), 1))) {
            return KVariant();
        }
        text[TEXT_SIZE - 1] = '\0';
        return KVariant(text, TEXT_SIZE);
    }
    switch (value.getKind()) {
    case KVariant::KIND_INT32:
    case KVariant::KIND_UINT32:
        return formatted("%d", value.getInt());
    case KVariant::KIND_FLOAT32:
        return formatted("%f", static_cast<double>(value.getFloat()));
    case KVariant::KIND_STRING:
        return value;
    default:
        return KVariant();
    }
}

i32 ExpressionAdapter::textToValue(KVariant& out, const PDB::ParameterInfo& info, const KVariant& text) const
{
    const char* characters = text.getString();
    if (characters == nullptr) {
        return RESULT_NG;
    }
    const u32 length = static_cast<u32>(std::strlen(characters));
    if (const Expression::IExpression* expression = findExpression(info)) {
        return static_cast<i32>(expression->textToValue(&out, characters, length + 1, makeValueInfo(info)));
    }
    const u8 type = info.getTypeCode();
    if (type == PDB::TYPE_STRING) {
        out = text;
        return RESULT_OK;
    }
    const bool unsignedType =
        type == PDB::TYPE_UINT8 || type == PDB::TYPE_UINT16 || type == PDB::TYPE_UINT32 || type == PDB::TYPE_BOOL;
    const bool signedType = type == PDB::TYPE_SINT8 || type == PDB::TYPE_SINT16 || type == PDB::TYPE_SINT32;
    if (!unsignedType && !signedType && type != PDB::TYPE_FLOAT) {
        return RESULT_NG;
    }
    u32 bits = 0;
    u32 form = 0;
    const u32 result = klib_strToNumber(&bits, &form, characters, length);
    if (codeFailed(result)) {
        return static_cast<i32>(result);
    }
    if (type == PDB::TYPE_FLOAT) {
        f32 number = 0.0f;
        if (form == KLIB_NUMBER_FORM_FLOAT) {
            std::memcpy(&number, &bits, sizeof(number));
        } else if (form == KLIB_NUMBER_FORM_NEGATIVE) {
            number = static_cast<f32>(static_cast<i32>(bits));
        } else {
            number = static_cast<f32>(bits);
        }
        out.setFloat(number);
        return RESULT_OK;
    }
    if (form == KLIB_NUMBER_FORM_FLOAT) {
        return RESULT_NG; // a fraction is no integer value
    }
    if (unsignedType) {
        out.setUInt(bits);
    } else {
        out.setInt(static_cast<i32>(bits));
    }
    return RESULT_OK;
}

} // namespace VDProtocol
