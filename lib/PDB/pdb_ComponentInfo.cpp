#include "pdb_ComponentInfo.h"

#include <cstring>
#include <new>

#include "fcache_BinaryAccessor.h"
#include "klib_Print.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterStrategy.h"
#include "pdb_Result.h"

namespace PDB {

namespace {

constexpr char MAGIC[4] = {'#', 'C', 'I', '1'};

KVariant makeUInt(u32 value)
{
    KVariant v;
    v.setUInt(value);
    return v;
}

KVariant makeInt(i32 value)
{
    KVariant v;
    v.setInt(value);
    return v;
}

KVariant makeFloat(f32 value)
{
    KVariant v;
    v.setFloat(value);
    return v;
}

const char* orEmpty(const char* text)
{
    return text != nullptr ? text : "";
}

u32 readBE(const u8* bytes, u32 width)
{
    return FILECACHE::BinaryAccessor::readUInt(bytes, width, true);
}

// The text of a fixed NUL-terminated field: up to the first NUL and at most width - 1 bytes, as the writer stores
// it, so a record read and written again reads back the same.
std::string readField(const u8* field, u32 width)
{
    const void* nul = std::memchr(field, 0, width - 1);
    const u32 length = nul != nullptr ? static_cast<u32>(static_cast<const u8*>(nul) - field) : width - 1;
    return std::string(reinterpret_cast<const char*>(field), length);
}

// Writes the text into a zeroed field, cut to width - 1 bytes so that a NUL always follows.
void writeField(u8* field, u32 width, const std::string& text)
{
    const size_t length = text.size() < width - 1 ? text.size() : width - 1;
    std::memcpy(field, text.data(), length);
}

} // namespace

ComponentInfo::ComponentInfo() : m_pParameterStrategy(getDefaultStrategy()) {}

ComponentInfo::ComponentInfo(const ComponentInfo& other)
{
    copyFrom(other);
}

ComponentInfo& ComponentInfo::operator=(const ComponentInfo& other)
{
    if (this != &other) {
        copyFrom(other);
    }
    return *this;
}

ComponentInfo::ComponentInfo(ComponentInfo&& other) noexcept
{
    assign(std::move(other));
}

ComponentInfo& ComponentInfo::operator=(ComponentInfo&& other) noexcept
{
    if (this != &other) {
        assign(std::move(other));
    }
    return *this;
}

void ComponentInfo::assign(ComponentInfo&& other) noexcept
{
    if (this == &other) {
        return;
    }
    releaseParameters();
    copyScalarFields(other);
    // The source keeps its texts; only when memory runs out are they taken over instead of copied.
    try {
        m_instanceName = other.m_instanceName;
        m_name = other.m_name;
        m_commentX = other.m_commentX;
        m_commentY = other.m_commentY;
    } catch (const std::bad_alloc&) {
        m_instanceName = std::move(other.m_instanceName);
        m_name = std::move(other.m_name);
        m_commentX = std::move(other.m_commentX);
        m_commentY = std::move(other.m_commentY);
    }
    m_parameters = std::move(other.m_parameters);
    m_addressIndex = std::move(other.m_addressIndex);
    other.m_parameters.clear();
    other.m_addressIndex.clear();
}

ComponentInfo::~ComponentInfo() = default;

i32 ComponentInfo::copyFrom(const ComponentInfo& other)
{
    if (this == &other) {
        return 0;
    }
    releaseParameters();
    const i32 result = copyFieldsAndBlocks(other);
    if (result < 0) {
        releaseParameters();
    }
    return result;
}

void ComponentInfo::copyScalarFields(const ComponentInfo& other)
{
    m_componentUID = other.m_componentUID;
    m_userValue = other.m_userValue;
    m_pParameterStrategy = other.m_pParameterStrategy;
    m_version = other.m_version;
    m_componentNumber = other.m_componentNumber;
    m_currentX = other.m_currentX;
    m_currentY = other.m_currentY;
    m_minX = other.m_minX;
    m_minY = other.m_minY;
    m_maxX = other.m_maxX;
    m_maxY = other.m_maxY;
}

i32 ComponentInfo::copyFieldsAndBlocks(const ComponentInfo& other)
{
    copyScalarFields(other);
    try {
        m_instanceName = other.m_instanceName;
        m_name = other.m_name;
        m_commentX = other.m_commentX;
        m_commentY = other.m_commentY;
        m_parameters.reserve(other.m_parameters.size());
        for (const auto& block : other.m_parameters) {
            std::unique_ptr<ParameterInfo> copy(new (std::nothrow) ParameterInfo(*block));
            if (!copy) {
                return RESULT_NO_MEMORY;
            }
            const u32 index = static_cast<u32>(m_parameters.size());
            m_parameters.push_back(std::move(copy));
            m_addressIndex.emplace(m_parameters.back()->getAddress(), index);
        }
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    }
    return 0;
}

void ComponentInfo::releaseParameters()
{
    m_parameters.clear();
    m_addressIndex.clear();
}

i32 ComponentInfo::initialize(const char* name, u32 version, u32 minX, u32 minY, u32 maxX, u32 maxY,
                              const char* commentX, const char* commentY, ParameterStrategy* strategy)
{
    clear();
    if (minX < 1 || minX > maxX || maxX > MAX_DIMENSION || minY < 1 || minY > maxY || maxY > MAX_DIMENSION) {
        return RESULT_BAD_ARGUMENT;
    }
    try {
        m_name = orEmpty(name);
        m_commentX = orEmpty(commentX);
        m_commentY = orEmpty(commentY);
    } catch (const std::bad_alloc&) {
        clear();
        return RESULT_NO_MEMORY;
    }
    m_version = version;
    m_minX = minX;
    m_minY = minY;
    m_maxX = maxX;
    m_maxY = maxY;
    m_currentX = minX;
    m_currentY = minY;
    m_pParameterStrategy = strategy;
    m_componentNumber = 0;
    return 0;
}

i32 ComponentInfo::clear()
{
    m_name.clear();
    m_version = 0;
    m_componentNumber = -1;
    m_currentX = m_currentY = 1;
    m_minX = m_minY = m_maxX = m_maxY = 1;
    m_commentX.clear();
    m_commentY.clear();
    m_componentUID = INVALID_COMPONENT_UID;
    m_instanceName.clear();
    m_userValue = 0;
    releaseParameters();
    return 0;
}

i32 ComponentInfo::setInstanceName(const char* name)
{
    try {
        m_instanceName = orEmpty(name);
    } catch (const std::bad_alloc&) {
        return RESULT_NO_MEMORY;
    }
    return 0;
}

u32 ComponentInfo::findParameterIndex(const char* address) const
{
    if (address == nullptr) {
        return NOT_FOUND;
    }
    const auto it = m_addressIndex.find(std::string_view(address));
    return it != m_addressIndex.end() ? it->second : NOT_FOUND;
}

const ParameterInfo& ComponentInfo::getParameterInfo(u32 index) const
{
    if (index < m_parameters.size()) {
        return *m_parameters[index];
    }
    static const ParameterInfo* const s_default = new ParameterInfo();
    return *s_default;
}

// ---- Adding blocks ---------------------------------------------------------------------------------------------

i32 ComponentInfo::prepareBlock(const char* address, u32& index)
{
    // An empty address is refused: its index entry would outlive a reuse of the block and later redirect
    // writes for "" to whatever block took that slot.
    if (address == nullptr || address[0] == '\0') {
        return RESULT_BAD_ARGUMENT;
    }
    index = findParameterIndex(address);
    if (index != NOT_FOUND) {
        m_parameters[index]->clear();
        return 0;
    }
    // Only non-empty addresses are ever stored, so no block is free for reuse: append.
    std::unique_ptr<ParameterInfo> block(new (std::nothrow) ParameterInfo());
    if (!block) {
        return RESULT_NO_MEMORY;
    }
    index = static_cast<u32>(m_parameters.size());
    m_parameters.push_back(std::move(block));
    return 0;
}

void ComponentInfo::setCommon(ParameterInfo& info, const char* address, u8 typeCode, u32 elementSize, u32 patternX,
                              u32 patternY, const char* commentX, const char* commentY, ParameterAttribute attribute,
                              const char* unit, const char* kind, const char* defUI)
{
    info.setAddress(address);
    info.setTypeCode(typeCode);
    info.setAttribute(attribute);
    info.setElementSize(elementSize);
    info.setPatterns(patternX, patternY);
    info.setComments(commentX, commentY);
    info.setTexts(unit, kind, defUI);
}

i32 ComponentInfo::finishBlock(u32 index, const char* address, bool numeric)
{
    ParameterInfo& info = *m_parameters[index];
    // The result is deliberately not checked: a block that cannot be resolved keeps counts 0 and is not valid.
    info.setDimensions(m_currentX, m_currentY);
    if (numeric && info.getNominal() == info.getMin()) {
        info.setNominal(KVariant());
    }
    m_addressIndex.emplace(address, index);
    return 0;
}

template <typename V>
i32 ComponentInfo::addNumeric(const char* address, u8 typeCode, u32 elementSize, u32 patternX, u32 patternY,
                              const char* commentX, const char* commentY, const V& min, const V& max, const V& def,
                              const V& nominal, const KVariant& step, u32 scaling, ParameterAttribute attribute,
                              const char* unit, const char* kind, const char* defUI)
{
    const u32 countBefore = getParameterCount();
    u32 index = 0;
    try {
        const i32 prepared = prepareBlock(address, index);
        if (prepared < 0) {
            return prepared;
        }
        ParameterInfo& info = *m_parameters[index];
        setCommon(info, address, typeCode, elementSize, patternX, patternY, commentX, commentY, attribute, unit, kind,
                  defUI);
        info.setMin(min);
        info.setMax(max);
        info.setDefault(def);
        info.setNominal(nominal);
        info.setStep(step);
        info.setScaling(scaling);
        const bool isNumber = (typeCode >> 4) >= 1 && (typeCode >> 4) <= 3;
        return finishBlock(index, address, isNumber);
    } catch (const std::bad_alloc&) {
        // A block appended by this call goes again, so the list and the index stay consistent.
        if (getParameterCount() > countBefore) {
            m_parameters.pop_back();
        }
        return RESULT_NO_MEMORY;
    }
}

i32 ComponentInfo::addParameterUInt8(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                     const char* commentY, u8 min, u8 max, u8 def, u8 nominal, u32 step, u32 scaling,
                                     ParameterAttribute attribute, const char* unit, const char* kind,
                                     const char* defUI)
{
    return addNumeric(address, TYPE_UINT8, 1, patternX, patternY, commentX, commentY, makeUInt(min), makeUInt(max),
                      makeUInt(def), makeUInt(nominal), makeUInt(step), scaling, attribute, unit, kind, defUI);
}

i32 ComponentInfo::addParameterUInt16(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                      const char* commentY, u16 min, u16 max, u16 def, u16 nominal, u32 step,
                                      u32 scaling, ParameterAttribute attribute, const char* unit, const char* kind,
                                      const char* defUI)
{
    return addNumeric(address, TYPE_UINT16, 2, patternX, patternY, commentX, commentY, makeUInt(min), makeUInt(max),
                      makeUInt(def), makeUInt(nominal), makeUInt(step), scaling, attribute, unit, kind, defUI);
}

i32 ComponentInfo::addParameterUInt32(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                      const char* commentY, u32 min, u32 max, u32 def, u32 nominal, u32 step,
                                      u32 scaling, ParameterAttribute attribute, const char* unit, const char* kind,
                                      const char* defUI)
{
    return addNumeric(address, TYPE_UINT32, 4, patternX, patternY, commentX, commentY, makeUInt(min), makeUInt(max),
                      makeUInt(def), makeUInt(nominal), makeUInt(step), scaling, attribute, unit, kind, defUI);
}

i32 ComponentInfo::addParameterSInt8(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                     const char* commentY, i8 min, i8 max, i8 def, i8 nominal, u32 step, u32 scaling,
                                     ParameterAttribute attribute, const char* unit, const char* kind,
                                     const char* defUI)
{
    return addNumeric(address, TYPE_SINT8, 1, patternX, patternY, commentX, commentY, makeInt(min), makeInt(max),
                      makeInt(def), makeInt(nominal), makeUInt(step), scaling, attribute, unit, kind, defUI);
}

i32 ComponentInfo::addParameterSInt16(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                      const char* commentY, i16 min, i16 max, i16 def, i16 nominal, u32 step,
                                      u32 scaling, ParameterAttribute attribute, const char* unit, const char* kind,
                                      const char* defUI)
{
    return addNumeric(address, TYPE_SINT16, 2, patternX, patternY, commentX, commentY, makeInt(min), makeInt(max),
                      makeInt(def), makeInt(nominal), makeUInt(step), scaling, attribute, unit, kind, defUI);
}

i32 ComponentInfo::addParameterSInt32(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                      const char* commentY, i32 min, i32 max, i32 def, i32 nominal, u32 step,
                                      u32 scaling, ParameterAttribute attribute, const char* unit, const char* kind,
                                      const char* defUI)
{
    return addNumeric(address, TYPE_SINT32, 4, patternX, patternY, commentX, commentY, makeInt(min), makeInt(max),
                      makeInt(def), makeInt(nominal), makeUInt(step), scaling, attribute, unit, kind, defUI);
}

i32 ComponentInfo::addParameterFloat(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                     const char* commentY, f32 min, f32 max, f32 def, f32 nominal, f32 step,
                                     u32 scaling, ParameterAttribute attribute, const char* unit, const char* kind,
                                     const char* defUI)
{
    return addNumeric(address, TYPE_FLOAT, 4, patternX, patternY, commentX, commentY, makeFloat(min), makeFloat(max),
                      makeFloat(def), makeFloat(nominal), makeFloat(step), scaling, attribute, unit, kind, defUI);
}

i32 ComponentInfo::addParameterBool(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                    const char* commentY, u32 min, u32 max, u32 def, ParameterAttribute attribute,
                                    const char* unit, const char* kind, const char* defUI)
{
    return addNumeric(address, TYPE_BOOL, 1, patternX, patternY, commentX, commentY, makeUInt(min != 0 ? 1 : 0),
                      makeUInt(max != 0 ? 1 : 0), makeUInt(def != 0 ? 1 : 0), KVariant(), makeUInt(1), 1, attribute,
                      unit, kind, defUI);
}

i32 ComponentInfo::addParameterString(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                      const char* commentY, u32 capacity, const char* defaultText,
                                      ParameterAttribute attribute, const char* unit, const char* kind,
                                      const char* defUI)
{
    // A value text holds at most 1023 characters; a longer default would silently become the variant's error
    // text, so the block is refused before anything changes.
    KVariant text;
    const u32 stored = text.setString(orEmpty(defaultText), 1024);
    if ((stored & 0x80000000u) != 0) {
        return stored == KVariant::RESULT_NO_MEMORY ? RESULT_NO_MEMORY : RESULT_BAD_ARGUMENT;
    }
    return addNumeric(address, TYPE_STRING, capacity, patternX, patternY, commentX, commentY, makeUInt(0), makeUInt(0),
                      text, KVariant(), makeUInt(0), 0, attribute, unit, kind, defUI);
}

i32 ComponentInfo::addParameterBinary(const char* address, u32 patternX, u32 patternY, const char* commentX,
                                      const char* commentY, u32 capacity, ParameterAttribute attribute,
                                      const char* unit, const char* kind, const char* defUI)
{
    return addNumeric(address, TYPE_BINARY, capacity, patternX, patternY, commentX, commentY, makeUInt(0), makeUInt(0),
                      makeUInt(0), KVariant(), makeUInt(0), 0, attribute, unit, kind, defUI);
}

// ---- Dimensions ------------------------------------------------------------------------------------------------

i32 ComponentInfo::setDimensions(u32 x, u32 y, i16 componentNumber)
{
    if (m_parameters.empty()) {
        return RESULT_BAD_ARGUMENT;
    }
    if (x == 0) {
        x = m_minX;
    }
    if (y == 0) {
        y = m_minY;
    }
    if (x < m_minX || x > m_maxX || y < m_minY || y > m_maxY) {
        return RESULT_BAD_ARGUMENT;
    }
    m_componentNumber = componentNumber;
    m_currentX = x;
    m_currentY = y;
    for (const auto& block : m_parameters) {
        const i32 result = block->setDimensions(x, y);
        if (result < 0) {
            return result;
        }
    }
    return 0;
}

// ---- "#CI1" ----------------------------------------------------------------------------------------------------

i32 ComponentInfo::exportBinary(void* buffer, u32 size) const
{
    if (buffer == nullptr || size < BINARY_SIZE) {
        return RESULT_BAD_ARGUMENT;
    }
    using FILECACHE::BinaryAccessor::writeUInt;
    u8* out = static_cast<u8*>(buffer);
    std::memset(out, 0, BINARY_SIZE);
    std::memcpy(out, MAGIC, sizeof(MAGIC));
    writeUInt(out + 4, 4, m_componentUID, true);
    writeField(out + 8, NAME_FIELD_SIZE, m_name);
    writeUInt(out + 32, 4, m_version, true);
    writeUInt(out + 36, 2, m_currentX & 0xFFFFu, true);
    writeUInt(out + 38, 2, m_currentY & 0xFFFFu, true);
    writeField(out + 40, INSTANCE_NAME_FIELD_SIZE, m_instanceName);
    writeUInt(out + 88, 2, getParameterCount() & 0xFFFFu, true);
    writeUInt(out + 90, 2, m_userValue & 0xFFFFu, true);
    return 0;
}

i32 ComponentInfo::importBinary(const void* buffer, u32 size, u32& parameterCount)
{
    parameterCount = 0;
    if (buffer == nullptr || size < BINARY_SIZE) {
        return RESULT_BAD_ARGUMENT;
    }
    clear();
    const u8* in = static_cast<const u8*>(buffer);
    if (std::memcmp(in, MAGIC, sizeof(MAGIC)) != 0) {
        return RESULT_MALFORMED;
    }
    i32 result = 0;
    try {
        const std::string name = readField(in + 8, NAME_FIELD_SIZE);
        const u32 version = readBE(in + 32, 4);
        const ComponentInfo& registered =
            ComponentInfoRepository::getInstance().findComponentInfo(name.c_str(), version);
        if (!registered.hasParameters()) {
            KLIB_LOG("[E] ComponentInfo::importBinary - Unknown ComponentInfo found. [name=%s, ver=%d]\n", name.c_str(),
                     static_cast<i32>(version));
            return RESULT_NOT_FOUND;
        }
        parameterCount = readBE(in + 88, 2);
        result = copyFrom(registered);
        if (result >= 0) {
            m_componentUID = readBE(in + 4, 4);
            m_instanceName = readField(in + 40, INSTANCE_NAME_FIELD_SIZE);
            m_userValue = readBE(in + 90, 2);
            u32 x = readBE(in + 36, 2);
            u32 y = readBE(in + 38, 2);
            if (x == 0) {
                x = m_minX;
            }
            if (y == 0) {
                y = m_minY;
            }
            result = setDimensions(x, y, 0);
        }
    } catch (const std::bad_alloc&) {
        result = RESULT_NO_MEMORY;
    }
    if (result < 0) {
        clear();
    }
    return result;
}

const ComponentInfo& getEmptyComponentInfo()
{
    static const ComponentInfo* const s_empty = new ComponentInfo();
    return *s_empty;
}

} // namespace PDB
