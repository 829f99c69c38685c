#include "logic_LogicData.h"

#include <cmath>
#include <cstring>

#include "logic_LogicComponentCollection.h"
#include "logic_Result.h"
#include "tms_DebugBreak.h"

namespace LogicCtrl {

namespace {

enum class Domain { None, Float, Unsigned, Signed };

Domain domainOf(u32 kind)
{
    switch (kind) {
    case LogicData::KIND_NORMALIZED:
    case LogicData::KIND_FLOAT:
        return Domain::Float;
    case LogicData::KIND_UNSIGNED:
    case LogicData::KIND_UNSIGNED_5:
    case LogicData::KIND_UNSIGNED_6:
        return Domain::Unsigned;
    case LogicData::KIND_SIGNED:
        return Domain::Signed;
    default:
        return Domain::None;
    }
}

bool isRangedKind(u32 kind)
{
    return kind >= LogicData::KIND_NORMALIZED && kind <= LogicData::KIND_UNSIGNED_6;
}

// Truncation toward zero, saturated to the i32 range (NaN gives 0).
i32 saturateToInt(f64 value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483647.0) {
        return 0x7FFFFFFF;
    }
    if (value <= -2147483648.0) {
        return static_cast<i32>(0x80000000u);
    }
    return static_cast<i32>(value);
}

// Kind-4 values and bounds go to the integer expression in thousandths.
i32 toThousandths(f32 value)
{
    return saturateToInt(static_cast<f64>(value) * 1000.0);
}

bool expressionFailed(u32 result)
{
    return (result & 0x80000000u) != 0;
}

// One parameter block per thread: building its five values for every conversion would cost more than the
// conversion. Only min and max are set; step stays empty and scaling 1.
Expression::ValueInfo& scratchInfo()
{
    thread_local Expression::ValueInfo info;
    return info;
}

// The range as the expression reads it for positions: unsigned or signed 32-bit bounds, or thousandths (kind 4).
const Expression::ValueInfo& positionInfo(u32 kind, const KVariant& min, const KVariant& max)
{
    Expression::ValueInfo& info = scratchInfo();
    switch (domainOf(kind)) {
    case Domain::Float:
        info.min.setInt(toThousandths(min.getFloat()));
        info.max.setInt(toThousandths(max.getFloat()));
        break;
    case Domain::Unsigned:
        info.min.setUInt(min.getUInt());
        info.max.setUInt(max.getUInt());
        break;
    default:
        info.min.setInt(min.getInt());
        info.max.setInt(max.getInt());
        break;
    }
    return info;
}

// The range as signed integers for the text conversion (float bounds truncated toward zero).
const Expression::ValueInfo& textInfo(u32 kind, const KVariant& min, const KVariant& max)
{
    Expression::ValueInfo& info = scratchInfo();
    if (domainOf(kind) == Domain::Float) {
        info.min.setInt(saturateToInt(min.getFloat()));
        info.max.setInt(saturateToInt(max.getFloat()));
    } else {
        info.min.setInt(min.getInt());
        info.max.setInt(max.getInt());
    }
    return info;
}

template <typename T> T clampTo(T value, T lo, T hi)
{
    if (hi < lo) {
        const T swap = lo;
        lo = hi;
        hi = swap;
    }
    return value < lo ? lo : (hi < value ? hi : value);
}

i32 unsupported()
{
    TMS::returnZero();
    return LOGIC_E_NOT_SUPPORTED;
}

const KVariant& emptyValue()
{
    static const KVariant empty;
    return empty;
}

} // namespace

LogicData::LogicData() : m_expression(&findExpression(nullptr)) {}

LogicData::LogicData(const LogicData& other)
    : m_kind(other.m_kind), m_minValue(other.m_minValue), m_maxValue(other.m_maxValue), m_value(other.m_value),
      m_previousValue(other.m_previousValue), m_normalized(other.m_normalized), m_changed(true),
      m_expression(other.m_expression)
{
}

LogicData& LogicData::operator=(const LogicData& other)
{
    if (this != &other) {
        m_kind = other.m_kind;
        m_minValue = other.m_minValue;
        m_maxValue = other.m_maxValue;
        m_value = other.m_value;
        m_previousValue = other.m_previousValue;
        m_normalized = other.m_normalized;
        m_expression = other.m_expression;
    }
    m_changed = true;
    return *this;
}

i32 LogicData::initialize(u32 kind, const char* expressionName, const KVariant& minValue, const KVariant& maxValue)
{
    if (kind < KIND_NORMALIZED || kind > KIND_TRIGGER) {
        TMS::returnZero();
        return LOGIC_E_ARGUMENT;
    }
    m_kind = kind;
    if (kind == KIND_NORMALIZED) {
        m_minValue.setFloat(0.0f);
        m_maxValue.setFloat(1.0f);
        m_value.setFloat(0.0f);
    } else if (isRangedKind(kind)) {
        m_minValue = minValue;
        m_maxValue = maxValue;
        m_value.clear();
    } else {
        m_minValue.clear();
        m_maxValue.clear();
        m_value.clear();
    }
    m_previousValue.clear();
    m_normalized = 0.0f;
    m_changed = false;
    m_expression = &findExpression(expressionName);
    return LOGIC_OK;
}

void LogicData::storeClamped(const KVariant& value)
{
    switch (domainOf(m_kind)) {
    case Domain::Float: {
        const f32 v = value.getFloat();
        const f32 lo = m_minValue.getFloat();
        m_value.setFloat(std::isnan(v) ? lo : clampTo(v, lo, m_maxValue.getFloat()));
        break;
    }
    case Domain::Unsigned:
        m_value.setUInt(clampTo(value.getUInt(), m_minValue.getUInt(), m_maxValue.getUInt()));
        break;
    case Domain::Signed:
        m_value.setInt(clampTo(value.getInt(), m_minValue.getInt(), m_maxValue.getInt()));
        break;
    case Domain::None:
        m_value = value;
        break;
    }
}

void LogicData::storeAtPosition(f32 normalized)
{
    if (m_kind < KIND_UNSIGNED || m_kind > KIND_UNSIGNED_6) {
        return; // kinds 1, 7 and 8 keep the current value
    }
    const u32 position = static_cast<u32>(static_cast<f64>(normalized) * (POSITION_STEPS - 1));
    KVariant out;
    const u32 result =
        m_expression->positionToValue(&out, &position, POSITION_STEPS, positionInfo(m_kind, m_minValue, m_maxValue));
    const bool ok = !expressionFailed(result);
    switch (domainOf(m_kind)) {
    case Domain::Unsigned:
        m_value.setUInt(ok ? out.getUInt() : 0u);
        break;
    case Domain::Signed:
        m_value.setInt(ok ? out.getInt() : 0);
        break;
    default:
        m_value.setFloat(ok ? static_cast<f32>(out.getInt() / 1000.0) : 0.0f);
        break;
    }
}

f32 LogicData::normalizedOfValue() const
{
    if (m_kind == KIND_NORMALIZED) {
        return m_value.getKind() == KVariant::KIND_FLOAT32 ? m_value.getFloat() : 0.0f;
    }
    if (!isRangedKind(m_kind)) {
        return 0.0f;
    }
    u32 position = 0;
    const Expression::ValueInfo& info = positionInfo(m_kind, m_minValue, m_maxValue);
    u32 result = 0;
    if (m_kind == KIND_FLOAT) {
        result =
            m_expression->valueToPosition(&position, POSITION_STEPS, KVariant(toThousandths(m_value.getFloat())), info);
    } else {
        result = m_expression->valueToPosition(&position, POSITION_STEPS, m_value, info);
    }
    return expressionFailed(result) ? 0.0f : static_cast<f32>(position / static_cast<f64>(POSITION_STEPS - 1));
}

i32 LogicData::setValue(const KVariant& value)
{
    if (!isRangedKind(m_kind)) {
        return unsupported();
    }
    m_previousValue = m_value;
    storeClamped(value);
    m_normalized = normalizedOfValue();
    markChange();
    return LOGIC_OK;
}

i32 LogicData::setNormalized(f32 normalized)
{
    if (!isRangedKind(m_kind)) {
        return unsupported();
    }
    const f32 n = !(normalized >= 0.0f) ? 0.0f : (normalized > 1.0f ? 1.0f : normalized);
    m_previousValue = m_value;
    if (m_kind == KIND_NORMALIZED) {
        m_value.setFloat(n);
    } else {
        storeAtPosition(n);
    }
    m_normalized = n;
    markChange();
    return LOGIC_OK;
}

i32 LogicData::setText(const char* text)
{
    if (text == nullptr) {
        text = "";
    }
    if (m_kind == KIND_TEXT) {
        const size_t length = std::strlen(text);
        if (length > KVariant::MAX_STRING_LENGTH) {
            return LOGIC_E_ARGUMENT;
        }
        m_previousValue = m_value;
        m_value.setString(text, static_cast<u32>(length) + 1);
        m_normalized = 0.0f;
        markChange();
        return LOGIC_OK;
    }
    if (!isRangedKind(m_kind)) {
        return unsupported();
    }
    KVariant out;
    const u32 length = static_cast<u32>(strnlen(text, 0xFFFFFFFEu));
    const u32 result = m_expression->textToValue(&out, text, length, textInfo(m_kind, m_minValue, m_maxValue));
    if (expressionFailed(result)) {
        return static_cast<i32>(result);
    }
    m_previousValue = m_value;
    if (domainOf(m_kind) == Domain::Float) {
        storeClamped(KVariant(static_cast<f32>(out.getInt())));
    } else {
        storeClamped(out);
    }
    m_normalized = normalizedOfValue();
    markChange();
    return static_cast<i32>(result);
}

i32 LogicData::trigger()
{
    if (m_kind < KIND_NORMALIZED || m_kind > KIND_TRIGGER) {
        return unsupported();
    }
    if (m_kind == KIND_TRIGGER) {
        m_value.setUInt(m_value.getUInt() + 1);
    }
    m_changed = true;
    return LOGIC_OK;
}

i32 LogicData::acknowledge()
{
    if (m_kind < KIND_NORMALIZED || m_kind > KIND_TRIGGER) {
        return unsupported();
    }
    if (m_kind == KIND_TRIGGER) {
        m_previousValue = m_value;
        m_value.setUInt(0);
    }
    m_changed = false;
    return LOGIC_OK;
}

i32 LogicData::assignFrom(const LogicData& source)
{
    if (m_kind < KIND_NORMALIZED || m_kind > KIND_TRIGGER) {
        return unsupported();
    }
    m_previousValue = m_value;
    if (source.m_kind == KIND_NORMALIZED && m_kind != KIND_NORMALIZED) {
        const f32 n = source.m_normalized;
        storeAtPosition(!(n >= 0.0f) ? 0.0f : (n > 1.0f ? 1.0f : n));
        m_normalized = n;
    } else {
        storeClamped(source.m_value);
        m_normalized = normalizedOfValue();
    }
    markChange();
    return LOGIC_OK;
}

const KVariant& LogicData::getValue() const
{
    if (m_kind < KIND_NORMALIZED || m_kind > KIND_TRIGGER) {
        TMS::returnZero();
        return emptyValue();
    }
    return m_value;
}

} // namespace LogicCtrl
